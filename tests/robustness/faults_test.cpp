// Faults around the programs, each with its expected end: standard streams
// closed or gone, the window closed or its server lost, signals, working
// directories that cannot hold the results or stop existing, names already
// taken, a disk that fills.
#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "harness.h"

namespace {

using namespace robust;

void pause_s(double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); }

// Waits until the file at path has at least n frame blocks (or the time is up).
bool wait_for_file_frames(const std::string& path, int n, double timeout) {
    const double end = driver::now() + timeout;
    do {
        int frames = 0;
        for (auto& l : read_lines(path)) frames += l == "window: 1";
        if (frames >= n) return true;
        pause_s(0.2);
    } while (driver::now() < end);
    return false;
}

// Whether the last byte of the file is a line feed (no line cut in two).
bool ends_whole(const std::string& path) {
    const std::string t = read_text(path);
    return t.empty() || t.back() == '\n';
}

// The file's blocks begin with the console's, figure for figure.
void expect_same_blocks(const std::vector<std::vector<std::string>>& file,
                        const std::vector<std::vector<std::string>>& console, std::size_t n) {
    ASSERT_GE(file.size(), n);
    ASSERT_GE(console.size(), n);
    for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(file[i], console[i]) << "frame " << i + 1;
}

void report(const std::string& what) { std::cout << what << std::endl; }

// ---- Standard streams -------------------------------------------------------

using Console = Case;

// No standard input at all (descriptor 0 closed, so the first file the
// program opens could take its number): the wait for Enter ends at once.
TEST_F(Console, ClosedInputEndsTheWaitAtOnce) {
    driver::launch how;
    how.stdin_closed = true;
    ASSERT_NO_FATAL_FAILURE(start(screens(), how));
    window->resize(48, 48);
    window->key("c");
    ASSERT_TRUE(program->wait_for_count(screens().marker, 1, frame_timeout));
    window->key("Escape");
    EXPECT_EQ(program->wait_exit(frame_timeout), std::optional<int>(0)) << program->error_text();
    const auto con = program->lines();
    ASSERT_FALSE(con.empty());
    EXPECT_EQ(con.back(), prompt);
    const std::string file = results_file(screens());
    const auto res = parse_results(screens(), read_text(file), false);
    EXPECT_EQ(res.problem, "");
    EXPECT_EQ(res.blocks, console_blocks(screens(), con));
    EXPECT_NE(std::find(con.begin(), con.end(), saved_line + file), con.end());
    report("closed stdin: exit 0 without Enter, " + std::to_string(res.frames) + " frames kept");
}

// The input pipe closed while the program runs: end of file at the prompt.
TEST_F(Console, InputEndingDuringTheRunEndsTheWait) {
    ASSERT_NO_FATAL_FAILURE(start(triangles()));
    window->resize(48, 48);
    window->key("c");
    ASSERT_TRUE(program->wait_for_count(triangles().marker, 1, frame_timeout));
    program->close_input();
    window->key("Escape");
    EXPECT_EQ(program->wait_exit(frame_timeout), std::optional<int>(0)) << program->error_text();
    const auto res = parse_results(triangles(), read_text(results_file(triangles())), false);
    EXPECT_EQ(res.problem, "");
    EXPECT_EQ(res.frames, 1);
}

// Standard input at its end from the start: the wait for Enter ends at once.
// Esc before any step averages over no frame, and says so in its figures.
TEST_F(Console, InputAtItsEndAndEscBeforeAnyStep) {
    driver::launch how;
    how.stdin_at_end = true;
    ASSERT_NO_FATAL_FAILURE(start(triangles(), how));
    window->key("Escape");
    EXPECT_EQ(program->wait_exit(frame_timeout), std::optional<int>(0)) << program->error_text();
    const auto con = program->lines();
    ASSERT_GE(con.size(), 7u);
    EXPECT_EQ(con.back(), prompt);
    const auto total = std::find(con.begin(), con.end(), "Total running time:  0 Secs. ");
    ASSERT_NE(total, con.end());
    for (const std::string unit : {" Angles/Sec.", " Triangles/Sec."}) {
        const auto line = std::find_if(total, con.end(), [&](const std::string& l) {
            return l.rfind("Average: ", 0) == 0 && l.find(unit) != std::string::npos;
        });
        ASSERT_NE(line, con.end()) << unit;
        EXPECT_TRUE(*line == "Average: -nan" + unit || *line == "Average: nan" + unit) << *line;
    }
    const auto file = read_lines(results_file(triangles()));
    EXPECT_NE(std::find(file.begin(), file.end(), *total), file.end());
    EXPECT_EQ(std::count(file.begin(), file.end(), "window: 1"), 0);
}

// No standard output at all: the console report goes nowhere, and above all
// not into the results file that might take descriptor 1.
TEST_F(Console, ClosedOutputLeavesTheResultsFileAlone) {
    driver::launch how;
    how.stdout_closed = true;
    how.executable = screens().executable;
    how.directory = directory;
    how.display = server->display();
    program = std::make_unique<driver::Program>(how);
    window = driver::Window::find(server->display(), screens().title, startup_timeout);
    ASSERT_TRUE(window) << program->error_text();
    const auto names = files_starting(directory, screens().prefix);
    ASSERT_EQ(names.size(), 1u);
    const std::string file = directory + "/" + names[0];
    ASSERT_TRUE(wait_for_file_frames(file, 1, frame_timeout));
    window->resize(48, 48);
    window->key("c");
    ASSERT_TRUE(wait_for_file_frames(file, 2, frame_timeout));
    window->key("Escape");
    // The prompt cannot be seen; the summary in the file shows it was reached.
    const double end = driver::now() + frame_timeout;
    while (read_text(file).find("Total machine time") == std::string::npos && driver::now() < end)
        pause_s(0.2);
    program->type("\n");
    EXPECT_EQ(program->wait_exit(30), std::optional<int>(0)) << program->error_text();
    const auto res = parse_results(screens(), read_text(file), false);
    EXPECT_EQ(res.problem, "") << file;
    EXPECT_EQ(res.end, ending::summary);
    report("closed stdout: results file " + std::string(res.problem.empty() ? "clean" : "spoilt") +
           ", " + std::to_string(res.frames) + " frames");
}

// `program | head -1`: the reader goes at the first line. The program ends
// (by SIGPIPE, as from a shell) and what it wrote to the file is whole. The
// console's banner comes before the file's, so when the reader is quick the
// program dies before the file holds anything: empty is whole too.
TEST_F(Console, ReaderGoneAtTheFirstLine) {
    driver::launch how;
    how.executable = "/bin/bash";
    how.args = {"-c", "\"$0\" | head -1; echo \"status ${PIPESTATUS[0]}\" >&2",
                triangles().executable};
    how.directory = directory;
    how.display = server->display();
    program = std::make_unique<driver::Program>(how);
    ASSERT_EQ(program->wait_exit(startup_timeout), std::optional<int>(0));
    EXPECT_EQ(program->lines(), std::vector<std::string>{""});
    EXPECT_NE(program->error_text().find("status 141"), std::string::npos)
        << "not ended by SIGPIPE: " << program->error_text();
    const std::string file = results_file(triangles());
    const std::string text = read_text(file);
    if (!text.empty()) {
        EXPECT_EQ(parse_results(triangles(), text, true).problem, "") << file;
    }
    EXPECT_TRUE(ends_whole(file));
}

// The reader goes after some frames: the program ends at its next console
// line, and the file holds every frame the console had shown.
TEST_F(Console, ReaderGoneDuringTheRun) {
    driver::launch how;
    how.executable = "/bin/bash";
    how.args = {"-c", "\"$0\" | head -n 40; echo \"status ${PIPESTATUS[0]}\" >&2",
                screens().executable};
    how.directory = directory;
    how.display = server->display();
    program = std::make_unique<driver::Program>(how);
    window = driver::Window::find(server->display(), screens().title, startup_timeout);
    ASSERT_TRUE(window) << program->error_text();
    window->resize(48, 48);
    window->key("r");
    ASSERT_EQ(program->wait_exit(frame_timeout), std::optional<int>(0));
    window.reset();
    const auto con = program->lines();
    EXPECT_EQ(con.size(), 40u);
    EXPECT_NE(program->error_text().find("status 141"), std::string::npos)
        << "not ended by SIGPIPE: " << program->error_text();
    const std::string file = results_file(screens());
    const auto res = parse_results(screens(), read_text(file), true);
    EXPECT_EQ(res.problem, "");
    EXPECT_TRUE(ends_whole(file));
    const auto shown = console_blocks(screens(), con);
    EXPECT_GE(shown.size(), 1u);
    expect_same_blocks(res.blocks, shown, shown.size());
    report("stdout reader gone: " + std::to_string(shown.size()) + " frames on the console, " +
           std::to_string(res.frames) + " in the file");
}

// ---- The window system ------------------------------------------------------

using WindowSystem = Case;

// Closed as a window manager closes it: the process ends, every line kept.
TEST_F(WindowSystem, CloseRequestEndsTheRunWithItsLinesKept) {
    ASSERT_NO_FATAL_FAILURE(start(triangles()));
    window->resize(48, 48);
    for (int n = 1; n <= 3; ++n) {
        window->key("c");
        ASSERT_TRUE(program->wait_for_count(triangles().marker, n, frame_timeout));
    }
    window->close();
    const auto status = program->wait_exit(frame_timeout);
    ASSERT_TRUE(status) << "still running after the window was closed";
    EXPECT_EQ(*status, 0) << "the results were saved";
    window.reset();
    const std::string file = results_file(triangles());
    const auto res = parse_results(triangles(), read_text(file), true);
    EXPECT_EQ(res.problem, "");
    EXPECT_FALSE(res.partial_block);
    EXPECT_EQ(res.blocks, console_blocks(triangles(), program->lines()));
    report("window closed: exit status " + std::to_string(*status) + ", " +
           std::to_string(res.frames) + " frames kept");
}

// The X server dies under a running animation: the process ends, and the
// file holds every frame the console showed.
TEST_F(WindowSystem, LostServerEndsTheRunWithItsLinesKept) {
    ASSERT_NO_FATAL_FAILURE(start(screens()));
    window->resize(48, 48);
    window->key("r");
    const int shown = program->count(screens().marker);
    ASSERT_TRUE(program->wait_for_count(screens().marker, shown + 10, frame_timeout));
    window.reset();  // the driver's own connection goes first
    server.reset();
    const auto status = program->wait_exit(frame_timeout);
    ASSERT_TRUE(status) << "still running without its X server";
    const std::string file = results_file(screens());
    const auto res = parse_results(screens(), read_text(file), true);
    EXPECT_EQ(res.problem, "");
    EXPECT_TRUE(ends_whole(file));
    const auto con = console_blocks(screens(), program->lines());
    EXPECT_EQ(res.blocks, con);
    report("X server lost: exit status " + std::to_string(*status) + ", " +
           std::to_string(res.frames) + " frames kept of " + std::to_string(con.size()));
}

// ---- Signals ----------------------------------------------------------------

using Signals = Case;

// SIGINT while paused between steps: every reported frame is in the file.
TEST_F(Signals, InterruptKeepsEveryReportedLine) {
    ASSERT_NO_FATAL_FAILURE(start(cube()));
    window->resize(48, 48);
    for (std::size_t n = 1; n <= 2; ++n) {
        window->key("c");
        ASSERT_TRUE(wait_for_blocks(cube(), n, frame_timeout));
    }
    program->kill_now(SIGINT);
    EXPECT_EQ(program->wait_exit(30), std::optional<int>(-SIGINT));
    const std::string file = results_file(cube());
    const auto res = parse_results(cube(), read_text(file), true);
    EXPECT_EQ(res.problem, "");
    EXPECT_TRUE(ends_whole(file));
    EXPECT_EQ(res.blocks, console_blocks(cube(), program->lines()));
    EXPECT_EQ(res.frames, 2);
}

// SIGTERM in the middle of a continuous run: the one frame being written at
// that instant may be missing from the file, no other.
TEST_F(Signals, TerminationKeepsEveryReportedLine) {
    ASSERT_NO_FATAL_FAILURE(start(screens()));
    window->resize(48, 48);
    window->key("r");
    const int shown = program->count(screens().marker);
    ASSERT_TRUE(program->wait_for_count(screens().marker, shown + 20, frame_timeout));
    program->kill_now(SIGTERM);
    EXPECT_EQ(program->wait_exit(30), std::optional<int>(-SIGTERM));
    const std::string file = results_file(screens());
    const auto res = parse_results(screens(), read_text(file), true);
    EXPECT_EQ(res.problem, "");
    EXPECT_TRUE(ends_whole(file));
    const auto con = console_blocks(screens(), program->lines());
    EXPECT_GE(res.blocks.size() + 1, con.size());
    expect_same_blocks(res.blocks, con, std::min(res.blocks.size(), con.size()));
    report("SIGTERM: " + std::to_string(con.size()) + " frames on the console, " +
           std::to_string(res.frames) + " in the file");
}

// ---- Working directory ------------------------------------------------------

class WorkingDirectory : public Case {
protected:
    // triangles in a new folder `dir`, with one frame measured.
    void start_one_frame_in(const std::string& dir) {
        ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
        driver::launch how;
        how.directory = dir;
        ASSERT_NO_FATAL_FAILURE(start(triangles(), how));
        window->resize(48, 48);
        window->key("c");
        ASSERT_TRUE(program->wait_for_count(triangles().marker, 1, frame_timeout));
    }
};

// A directory the program may not write to (as a user other than root).
TEST_F(WorkingDirectory, ReadOnlyIsToldAndNotClaimedSaved) {
    const std::string exe = private_copy(screens());
    const std::string locked = directory + "/locked";
    ASSERT_EQ(mkdir(locked.c_str(), 0555), 0);
    ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
    driver::launch how;
    how.executable = exe;
    how.directory = locked;
    how.unprivileged = true;
    ASSERT_NO_FATAL_FAILURE(start(screens(), how));
    window->resize(48, 48);
    EXPECT_EQ(finish(), std::optional<int>(1));
    const auto con = program->lines();
    ASSERT_GE(con.size(), 3u);
    const std::string path_line = con[con.size() - 3];
    EXPECT_EQ(path_line.rfind(lost_line + locked + "/" + screens().prefix, 0), 0u) << path_line;
    const auto summary = std::find_if(con.begin(), con.end(), [](const std::string& l) {
        return number_after(l, "Total machine time:  ", " Secs. ").has_value();
    });
    ASSERT_LT(summary, con.end() - 3) << "no summary before the path line";
    EXPECT_TRUE(number_after(*(summary + 1), "Average: ", " Characters/Sec.")) << *(summary + 1);
    const std::string err = program->error_text();
    EXPECT_NE(err.find(screens().prefix), std::string::npos) << err;
    EXPECT_NE(err.find("Permission denied"), std::string::npos) << err;
    EXPECT_TRUE(files_starting(locked, "results_").empty());
}

// The directory removed under a running program takes the file with it:
// the end must not claim the results were saved.
TEST_F(WorkingDirectory, RemovedDuringTheRunIsNotClaimedSaved) {
    const std::string inner = directory + "/run";
    ASSERT_NO_FATAL_FAILURE(start_one_frame_in(inner));
    const std::string name = files_starting(inner, triangles().prefix).at(0);
    ASSERT_EQ(std::system(("rm -rf '" + inner + "'").c_str()), 0);
    const auto status = finish();
    EXPECT_EQ(status, std::optional<int>(1));
    const auto con = program->lines();
    ASSERT_GE(con.size(), 4u);
    EXPECT_EQ(con[con.size() - 4], lost_line + inner + "/" + name);
    EXPECT_NE(access(inner.c_str(), F_OK), 0) << "the directory came back";
    report("directory removed: exit status " + (status ? std::to_string(*status) : "none") +
           ", end line: " + con[con.size() - 4].substr(0, 40));
}

// The same loss, then the window closed: no report is due, but the exit
// status must not say that all went well.
TEST_F(WorkingDirectory, RemovedThenWindowClosedIsAFailure) {
    const std::string inner = directory + "/run";
    ASSERT_NO_FATAL_FAILURE(start_one_frame_in(inner));
    ASSERT_EQ(std::system(("rm -rf '" + inner + "'").c_str()), 0);
    window->close();
    EXPECT_EQ(program->wait_exit(frame_timeout), std::optional<int>(1));
    window.reset();
    EXPECT_NE(program->error_text().find("no longer in the working directory"), std::string::npos)
        << program->error_text();
}

// A working directory whose path is longer than PATH_MAX: the path line
// shows all of it and the file is where it says.
TEST_F(WorkingDirectory, LongerThanPathMaxIsShownWhole) {
    const std::string component(200, 'd');
    std::string deep = directory;
    int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    while (deep.size() <= 4200) {
        ASSERT_EQ(mkdirat(fd, component.c_str(), 0755), 0) << std::strerror(errno);
        const int next = openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(next, 0);
        close(fd);
        fd = next;
        deep += "/" + component;
    }
    driver::launch how;
    how.directory = deep;
    ASSERT_NO_FATAL_FAILURE(start(triangles(), how));
    window->resize(48, 48);
    window->key("c");
    ASSERT_TRUE(program->wait_for_count(triangles().marker, 1, frame_timeout));
    EXPECT_EQ(finish(), std::optional<int>(0)) << program->error_text();

    // The file, found and read relative to the deepest directory.
    std::string name;
    if (DIR* d = fdopendir(dup(fd))) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name).rfind(triangles().prefix, 0) == 0) name = e->d_name;
        closedir(d);
    }
    ASSERT_FALSE(name.empty());
    const int file = openat(fd, name.c_str(), O_RDONLY);
    close(fd);
    ASSERT_GE(file, 0);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(file, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    close(file);
    const auto res = parse_results(triangles(), text, false);
    EXPECT_EQ(res.problem, "");
    EXPECT_EQ(res.frames, 1);
    const auto con = program->lines();
    ASSERT_GE(con.size(), 4u);
    EXPECT_EQ(con[con.size() - 4], saved_line + deep + "/" + name);
    report("path of " + std::to_string(deep.size()) + " characters: exit 0, shown whole");
}

// ---- What stands under the results name -------------------------------------

using ResultsName = Case;

// For every name the next two minutes could give: a directory (with a file
// in it), a link to an outside file, a dangling link and an earlier run's
// file. The run takes the fifth name; nothing else is touched.
TEST_F(ResultsName, DirectoryAndLinksAreLeftAlone) {
    const std::string outside = directory + "/outside.txt";
    const std::string nowhere = directory + "/nowhere.txt";
    const std::string kept = "an outside file\n";
    const std::string earlier = "an earlier run's results\n";
    std::ofstream(outside) << kept;
    const std::time_t t0 = std::time(nullptr);
    for (std::time_t t = t0; t < t0 + 120; ++t) {
        char name[200];
        std::strftime(name, sizeof name, "%Y.%m.%d time %H.%M.%S", std::localtime(&t));
        const std::string base = directory + "/" + screens().prefix + name;
        ASSERT_EQ(mkdir((base + ".txt").c_str(), 0755), 0);
        std::ofstream(base + ".txt/inside.txt") << kept;
        ASSERT_EQ(symlink(outside.c_str(), (base + " (2).txt").c_str()), 0);
        ASSERT_EQ(symlink(nowhere.c_str(), (base + " (3).txt").c_str()), 0);
        std::ofstream(base + " (4).txt") << earlier;
    }
    ASSERT_NO_FATAL_FAILURE(start(screens()));
    window->resize(48, 48);
    EXPECT_EQ(finish(), std::optional<int>(0));

    EXPECT_EQ(read_text(outside), kept);
    EXPECT_NE(access(nowhere.c_str(), F_OK), 0) << "the dangling link was followed";
    std::string mine;
    for (auto& n : files_starting(directory, screens().prefix)) {
        const std::string path = directory + "/" + n;
        struct stat st;
        ASSERT_EQ(lstat(path.c_str(), &st), 0);
        if (n.find(" (5).txt") != std::string::npos) {
            mine = path;
            EXPECT_TRUE(S_ISREG(st.st_mode));
        } else if (n.find(" (4).txt") != std::string::npos) {
            EXPECT_TRUE(S_ISREG(st.st_mode)) << n;
            EXPECT_EQ(read_text(path), earlier) << n;
        } else if (n.find(" (2).txt") != std::string::npos ||
                   n.find(" (3).txt") != std::string::npos) {
            EXPECT_TRUE(S_ISLNK(st.st_mode)) << n;
        } else {
            EXPECT_TRUE(S_ISDIR(st.st_mode)) << n;
            EXPECT_EQ(read_text(path + "/inside.txt"), kept) << n;
        }
    }
    ASSERT_FALSE(mine.empty()) << "no results file with the suffix (5)";
    const auto res = parse_results(screens(), read_text(mine), false);
    EXPECT_EQ(res.problem, "");
    const auto con = program->lines();
    EXPECT_NE(std::find(con.begin(), con.end(), saved_line + mine), con.end());
}

// ---- A disk that fills ------------------------------------------------------

class FullDisk : public Case {
protected:
    void TearDown() override {
        end_program();  // nothing may hold the file system any more
        if (!mounted.empty()) umount(mounted.c_str());
        Case::TearDown();
    }

    // Runs screens in dir until the console has shown 30 frames more than
    // the file took, then checks the end and what stderr gave as the reason.
    void run_until_full(const std::string& dir, driver::launch how, const std::string& reason) {
        how.directory = dir;
        ASSERT_NO_FATAL_FAILURE(start(screens(), how));
        window->resize(48, 48);
        window->key("r");
        const std::string file = results_file(screens(), dir);
        ASSERT_FALSE(file.empty());
        // The file stops growing while the console goes on.
        int file_frames = 0;
        const double end = driver::now() + 2 * frame_timeout;
        for (;;) {
            file_frames = 0;
            for (auto& l : read_lines(file)) file_frames += l == "window: 1";
            if (program->count(screens().marker) >= file_frames + 30 + 1) break;
            ASSERT_LT(driver::now(), end) << "the disk did not fill";
            pause_s(0.2);
        }
        window->key("p");
        const auto status = finish();
        EXPECT_EQ(status, std::optional<int>(1));
        const auto con = program->lines();
        ASSERT_GE(con.size(), 3u);
        EXPECT_EQ(con[con.size() - 3].rfind(lost_line, 0), 0u) << con[con.size() - 3];
        const std::string err = program->error_text();
        EXPECT_NE(err.find(screens().prefix), std::string::npos)
            << "nothing said on stderr: " << err;
        EXPECT_NE(err.find(reason), std::string::npos) << err;

        // What reached the file is what the console showed, up to the line
        // the disk cut (the last, maybe partial, line is left out).
        std::string text = read_text(file);
        text.erase(text.rfind('\n') + 1);
        const auto res = parse_results(screens(), text, true);
        EXPECT_EQ(res.problem, "");
        const auto shown = console_blocks(screens(), con);
        EXPECT_GT(shown.size(), res.blocks.size() + 30);
        expect_same_blocks(res.blocks, shown, res.blocks.size());
        report("disk full: " + std::to_string(res.frames) + " frames in the file, " +
               std::to_string(shown.size()) + " on the console, exit status " +
               (status ? std::to_string(*status) : "none"));
    }

    std::string mounted;
};

// A small file system of its own (where this user may mount one).
TEST_F(FullDisk, SmallFileSystemFillsDuringTheRun) {
    const std::string dir = directory + "/small";
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    if (mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=8k,mode=0755") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno)
                     << "); FileSizeLimit covers the same end";
    mounted = dir;
    run_until_full(dir, {}, "No space left on device");
}

// A file-size limit (`ulimit -f`), possible everywhere.
TEST_F(FullDisk, FileSizeLimitReachedDuringTheRun) {
    driver::launch how;
    how.file_size_limit = 6000;
    run_until_full(directory, how, "File too large");
}

}  // namespace

#include "drive.h"

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <iostream>

#include "driver.h"

namespace suite_run {

namespace {
std::string seconds_text(double s) { return std::to_string(static_cast<int>(s)) + " s"; }

// The program names its file from the time it started; it is the only file
// of that form in its folder.
std::string results_name(const std::string& dir) {
    std::string found;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name).rfind("results_", 0) == 0) found = e->d_name;
        closedir(d);
    }
    return found;
}
}  // namespace

nlohmann::json run_unattended(const program_entry& p, const std::string& exe,
                              const std::string& dir, const std::string& display,
                              const drive_options& o) {
    driver::launch how;
    how.executable = exe;
    how.directory = dir;
    how.display = display;
    driver::Process program(how);
    const double started = driver::now();
    std::string problem;
    std::pair<int, int> window_size{0, 0};

    // Looked for in short slices, so a program that dies first is told at once.
    std::optional<driver::Window> window;
    while (!window && program.running() && driver::now() - started < o.window_timeout)
        window = driver::Window::find(display, p.title, 1);
    const auto ended = [&] { return program.wait_for_line("Press Enter to Exit.", 0) >= 0; };
    int seen = 0;
    if (!window) {
        problem = program.running() ? "its window did not open within " +
                                          seconds_text(o.window_timeout)
                                    : "it ended before its window opened";
    } else if (program.wait_for_line("Secs to Initialize.", o.init_timeout) < 0) {
        problem = program.running() ? "it did not finish its initialisation within " +
                                          seconds_text(o.init_timeout)
                                    : "it ended during its initialisation";
    } else {
        if (o.width > 0)
            window->resize(o.width, o.height);
        else if (p.width > 0)
            window->resize(p.width, p.height);
        window_size = window->size();
        window->key("r");
        const int frames = o.frames >= 0 ? o.frames : p.frames;
        const double start = driver::now();
        seen = program.count(p.frame_marker);
        double deadline = driver::now() + o.hang_after;
        while (!ended() && (frames == 0 || seen < frames)) {
            if (program.wait_for_count(p.frame_marker, seen + 1, 1)) {
                seen = program.count(p.frame_marker);
                deadline = driver::now() + o.hang_after;
                std::cout << "  " << p.name << ": " << seen << " frame(s), "
                          << seconds_text(driver::now() - start) << std::endl;
            } else if (!program.running()) {
                problem = "it ended without its final report";
                break;
            } else if (driver::now() > deadline) {
                problem = "no new frame within " + seconds_text(o.hang_after);
                break;
            }
        }
        if (problem.empty() && !ended()) {
            window->key("Escape");
            if (program.wait_for_line("Press Enter to Exit.", o.hang_after) < 0)
                problem = "no final report after Esc";
        }
        program.type("\n");
    }
    auto status = program.wait_exit(problem.empty() ? 60 : 1);
    if (!status) {
        program.kill_now(SIGKILL);
        status = program.wait_exit(10);
        if (problem.empty()) problem = "it did not exit after Enter";
    }
    if (problem.empty() && status && *status != 0)
        problem = *status < 0 ? "it was killed by signal " + std::to_string(-*status)
                              : "it exited with status " + std::to_string(*status);

    std::ofstream console(dir + "/console.txt");
    for (auto& l : program.lines()) console << l << '\n';
    std::ofstream errors(dir + "/stderr.txt");
    errors << program.error_text();
    std::ofstream exit_status(dir + "/exit-status.txt");
    exit_status << (status ? *status : -1) << '\n';
    if (problem.empty() && !(console.flush() && errors.flush() && exit_status.flush()))
        problem = "its console could not be kept in " + dir;
    return {
        {"program", p.name},
        {"executable", exe},
        {"exit_status", status ? *status : -1},
        {"frames_measured", program.count(p.frame_marker)},
        {"window_size", std::to_string(window_size.first) + "x" +
                            std::to_string(window_size.second)},
        {"results_file", results_name(dir)},
        {"console", "console.txt"},
        {"stderr", "stderr.txt"},
        {"seconds", driver::now() - started},
        {"problem", problem},
    };
}

int run_attended(const std::string& exe, const std::string& dir) {
    const pid_t pid = fork();
    if (pid < 0) return 126;
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return 126;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace suite_run

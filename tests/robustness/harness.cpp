#include "harness.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "report/analysis/analysis.h"
#include "report/reading/parser.h"

namespace robust {

namespace {
const std::string vendor = "Vantix :: Lumenfold Benchmark Graphics ";
const std::string system_part = " for Windows on Mac Mx system 2023.03.06.";
const std::string prefix_tail = "_windows_mac_mx @ local date ";

bench make_bench(const char* name, const char* executable, const std::string& banner_name) {
    const texts::program_texts& t = *texts::find_program(name);
    return {name,
            executable,
            std::string(t.window_title),
            vendor + banner_name + system_part,
            std::string(texts::results_prefix) + name + prefix_tail,
            std::string(t.frame_marker)};
}
}  // namespace

const bench& cube() {
    static const bench b = make_bench("cube", CUBE_EXE, "Cube");
    return b;
}
const bench& screens() {
    static const bench b = make_bench("screens", SCREENS_EXE, "Screens");
    return b;
}
const bench& triangles() {
    static const bench b = make_bench("triangles", TRIANGLES_EXE, "Triangles");
    return b;
}

namespace {

// Lines of a frame block between its window line and its closing blank.
std::size_t figure_lines(const bench& b) {
    return b.name == "cube" ? 3 : b.name == "screens" ? 2 : 4;
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

// The clock's resolution is a fact of the run, not a fault of the file: the
// notes on it are about the whole file (line 0) or the plain pass's coarse time.
bool about_the_clock(const report::Diagnostic& d) {
    return d.line == 0 || d.message.find("at the clock's 1 ms resolution") != std::string::npos;
}

}  // namespace

results parse_results(const bench& b, const std::string& text, bool cut_short) {
    results r;
    const report::Run run = report::parse_results(text, b.prefix + ".txt");
    auto fail = [&](const std::string& why) {
        r.problem = why;
        return r;
    };
    for (const auto& d : run.diagnostics)
        if (d.level == report::Diagnostic::Level::error || !cut_short)
            return fail(report::to_string(d));
    const auto lines = split_lines(text);
    if (report::program_name(run.program) != b.name || (lines.size() > 1 && run.banner != b.banner))
        return fail("banner \"" + run.banner + "\"");

    const std::size_t figures = figure_lines(b);
    for (const auto& f : run.frames) {
        if (f.window != 1) return fail("window " + std::to_string(f.window));
        const auto first = lines.begin() + f.line;
        r.blocks.emplace_back(first, first + static_cast<long>(figures));
        r.seconds += f.seconds;
        r.triangles += f.triangles;
    }
    r.frames = static_cast<int>(run.frames.size());
    if (run.complete)
        r.end = run.summary.ending == report::Ending::size_limit ? ending::limit : ending::summary;
    // Where the next block would open: after the last one, or after the
    // initialisation line and its two blanks.
    std::size_t next = 0;
    if (!run.frames.empty())
        next = static_cast<std::size_t>(run.frames.back().line) + figures + 1;
    else if (run.init_seconds)
        next = static_cast<std::size_t>(run.init_seconds->line) + 2;
    r.partial_block = !run.complete && next > 0 && next < lines.size() &&
                      lines[next].rfind("window: ", 0) == 0;

    if (!run.frames.empty())
        for (const auto& d : report::analyse(run).checks)
            if (!about_the_clock(d)) return fail(report::to_string(d));
    return r;
}

std::vector<std::vector<std::string>> console_blocks(const bench& b,
                                                     const std::vector<std::string>& lines) {
    // The console's blocks are the file's, but screens leaves out the window
    // line there: each opens with its first figure instead.
    const std::string opener = b.name == "screens" ? "The system spent: " : "window: ";
    const std::size_t first_figure = b.name == "screens" ? 0 : 1;
    const std::size_t size = figure_lines(b) + first_figure + 1;
    std::vector<std::vector<std::string>> blocks;
    std::size_t at = 0;
    while (at < lines.size() && lines[at].find("Secs to Initialize.") == std::string::npos) ++at;
    for (at += 3; at + size <= lines.size() && lines[at].rfind(opener, 0) == 0 &&
                  lines[at + size - 1].empty();
         at += size)
        blocks.emplace_back(lines.begin() + static_cast<long>(at + first_figure),
                            lines.begin() + static_cast<long>(at + size - 1));
    return blocks;
}

void Case::SetUp() {
    server = std::make_unique<driver::XServer>();
    char name[] = "/tmp/bench-robust-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    directory = name;
    chmod(name, 0755);
}

void Case::end_program() {
    window.reset();
    // In a sanitised build the programs report there; whatever the case
    // expected of them, such a report fails it.
    if (program) {
        const std::string err = program->error_text();
        for (const char* mark :
             {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"})
            EXPECT_EQ(err.find(mark), std::string::npos) << err;
    }
    program.reset();
}

void Case::TearDown() {
    end_program();
    server.reset();
    if (directory.empty()) return;
    if (!HasFailure()) {
        std::system(
            ("chmod -R u+rwx '" + directory + "' 2>/dev/null; rm -rf '" + directory + "'").c_str());
    } else {
        std::cerr << "kept for inspection: " << directory << '\n';
    }
}

void Case::start(const bench& b, driver::launch how) {
    if (how.executable.empty()) how.executable = b.executable;
    if (how.directory.empty()) how.directory = directory;
    how.display = server->display();
    program = std::make_unique<driver::Program>(how);
    window = driver::Window::find(server->display(), b.title, startup_timeout);
    ASSERT_TRUE(window) << "no window \"" << b.title << "\"; stderr: " << program->error_text();
    ASSERT_GE(program->wait_for_line("Secs to Initialize.", startup_timeout), 0)
        << program->error_text();
}

std::string Case::results_file(const bench& b, const std::string& dir) const {
    const std::string where = dir.empty() ? directory : dir;
    auto names = files_starting(where, b.prefix);
    EXPECT_EQ(names.size(), 1u) << "results files in " << where;
    return names.empty() ? std::string() : where + "/" + names.front();
}

std::optional<int> Case::finish(double report_timeout) {
    window->key("Escape");
    if (program->wait_for_line(prompt, report_timeout) < 0) return std::nullopt;
    program->type("\n");
    return program->wait_exit(30);
}

bool Case::wait_for_blocks(const bench& b, std::size_t n, double timeout) const {
    const double end = driver::now() + timeout;
    for (;;) {
        if (console_blocks(b, program->lines()).size() >= n) return true;
        if (driver::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

std::string Case::private_copy(const bench& b) {
    const std::string exe = directory + "/" + b.name;
    const std::string command = "cp '" + b.executable + "' '" + exe + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return exe;
}

}  // namespace robust

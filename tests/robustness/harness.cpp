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

namespace robust {

namespace {
const std::string vendor = "Vantix :: Lumenfold Benchmark Graphics ";
const std::string system_part = " for Windows on Mac Mx system 2023.03.06.";
const std::string prefix_tail = "_windows_mac_mx @ local date ";
}  // namespace

const bench& cube() {
    static const bench b{"cube", CUBE_EXE, "OPENGL Cube", vendor + "Cube" + system_part,
                         "results_cube" + prefix_tail};
    return b;
}
const bench& screens() {
    static const bench b{"screens", SCREENS_EXE, "OPENGL Screens", vendor + "Screens" + system_part,
                         "results_screens" + prefix_tail};
    return b;
}
const bench& triangles() {
    static const bench b{"triangles", TRIANGLES_EXE, "OPENGL Triangles",
                         vendor + "Triangles" + system_part, "results_triangles" + prefix_tail};
    return b;
}

bool agrees(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    if (std::isinf(a) || std::isinf(b)) return a == b;
    // Six printed digits are within 5e-6 of the value; a sum of printed
    // terms is within as much of the printed sum.
    return std::fabs(a - b) <= 2e-5 * std::max(std::fabs(a), std::fabs(b));
}

namespace {

// One line of a fixed form: literal text, or a number between two texts.
struct form {
    std::string prefix, suffix;
    bool number;
};
form text(const std::string& t) { return {t, "", false}; }
form figure(const std::string& p, const std::string& s) { return {p, s, true}; }

// Matches lines[at...] against forms; the numbers read go to values. Returns
// how many lines matched before the first that did not.
std::size_t match(const std::vector<std::string>& lines, std::size_t at,
                  const std::vector<form>& forms, std::vector<double>& values) {
    values.clear();
    std::size_t n = 0;
    for (; n < forms.size() && at + n < lines.size(); ++n) {
        const form& f = forms[n];
        const std::string& l = lines[at + n];
        if (!f.number) {
            if (l != f.prefix) break;
        } else {
            auto v = number_after(l, f.prefix, f.suffix);
            if (!v) break;
            values.push_back(*v);
        }
    }
    return n;
}

const double cube_points = 16777216;  // 8 bits a channel: the servers here are 24 deep
const double page_characters = 6450;

std::vector<form> head_forms(const bench& b) {
    std::vector<form> h{text(b.banner), text(""), text("")};
    if (b.name == "screens") {
        for (auto& f : {text("Plain Output"), text(""), figure("The system spent: ", " Secs. "),
                        figure("Conventionally, it was: ", " Characters/sec."), text(""), text(""),
                        text("Graphical Output"), text("")})
            h.push_back(f);
    }
    for (auto& f : {figure("It spent: ", " Secs to Initialize."), text(""), text("")})
        h.push_back(f);
    return h;
}

// The frame block of the file; the console's lacks the window line in screens.
std::vector<form> block_forms(const bench& b, bool console) {
    std::vector<form> f;
    if (!(console && b.name == "screens")) f.push_back(text("window: 1"));
    if (b.name == "cube") {
        f.push_back(figure("The system spent: ", " Secs. "));
        f.push_back(figure("It was: ", " Angles/sec."));
        f.push_back(figure("It was: ", " Vertex/sec."));
    } else if (b.name == "screens") {
        f.push_back(figure("The system spent: ", " Secs. "));
        f.push_back(figure("It was: ", " Charaters/sec."));
    } else {
        f.push_back(figure("It drew ", " Triangles."));
        f.push_back(figure("It spent: ", " Secs. "));
        f.push_back(figure("It was: ", " Angles/sec."));
        f.push_back(figure("It was: ", " Triangles/sec."));
    }
    f.push_back(text(""));
    return f;
}

// A block's figures agree with one another; returns what does not.
std::string check_block(const bench& b, const std::vector<double>& v, double& seconds,
                        double& drawn) {
    std::ostringstream why;
    if (b.name == "cube") {
        seconds = v[0];
        if (!agrees(v[1], 1 / v[0])) why << "angles " << v[1] << " for " << v[0] << " s";
        if (!agrees(v[2], cube_points / v[0])) why << "vertices " << v[2] << " for " << v[0];
    } else if (b.name == "screens") {
        seconds = v[0];
        if (!agrees(v[1], page_characters / v[0])) why << "characters " << v[1] << " for " << v[0];
    } else {
        drawn = v[0];
        seconds = v[1];
        if (!agrees(v[2], 1 / v[1])) why << "angles " << v[2] << " for " << v[1] << " s";
        if (!agrees(v[3], v[0] / v[1])) why << "triangles/s " << v[3] << " for " << v[0];
    }
    return why.str();
}

}  // namespace

results parse_results(const bench& b, const std::vector<std::string>& lines, bool cut_short) {
    results r;
    std::vector<double> v;
    auto fail = [&](std::size_t at, const std::string& what) {
        std::ostringstream s;
        s << what << " at line " << at + 1 << ": \""
          << (at < lines.size() ? lines[at].substr(0, 200) : std::string("<end of file>")) << "\"";
        r.problem = s.str();
        return r;
    };

    const auto head = head_forms(b);
    std::size_t at = match(lines, 0, head, v);
    if (at < head.size()) {
        if (cut_short && at == lines.size()) return r;  // ended within the head
        return fail(at, "head");
    }

    const auto block = block_forms(b, false);
    for (;;) {
        const std::size_t n = match(lines, at, block, v);
        if (n == block.size()) {
            double seconds = 0, drawn = 0;
            const std::string why = check_block(b, v, seconds, drawn);
            if (!why.empty())
                return fail(at, "frame block " + std::to_string(r.frames + 1) + ": " + why);
            std::vector<std::string> figures;
            for (std::size_t k = 1; k + 1 < block.size(); ++k) figures.push_back(lines[at + k]);
            r.blocks.push_back(figures);
            r.frames += 1;
            r.seconds += seconds;
            r.triangles += drawn;
            at += n;
            continue;
        }
        if (n > 0 && at + n == lines.size() && cut_short) {
            r.partial_block = true;
            return r;
        }
        break;
    }

    // The summary: each program's, or the limit report of triangles.
    std::vector<form> summary;
    std::vector<form> limit;
    if (b.name == "cube") {
        summary = {figure("Total machine time:  ", " Secs. "), figure("Average: ", " Angles/Sec."),
                   figure("Average: ", " Vertex/Sec."), text("")};
    } else if (b.name == "screens") {
        summary = {figure("Total machine time:  ", " Secs. "),
                   figure("Average: ", " Characters/Sec."), text("")};
    } else {
        summary = {figure("Total running time:  ", " Secs. "), figure("Average: ", " Angles/Sec."),
                   figure("Average: ", " Triangles/Sec."), text("")};
        limit = {text(""), figure("Total running time:  ", " Secs. "),
                 figure("Average Angles/Sec: ", " Angles/Sec."),
                 figure("Average Triangles/Sec: ", " Triangles/Sec."), text("")};
    }
    std::size_t n = match(lines, at, summary, v);
    if (n == summary.size()) {
        r.end = ending::summary;
    } else if (!limit.empty() && match(lines, at, limit, v) == limit.size()) {
        r.end = ending::limit;
        n = limit.size();
    } else {
        // A run cut short may end anywhere in its summary, too.
        if (cut_short && at + n == lines.size()) return r;
        return fail(at + n, r.frames == 0 ? "neither a frame block nor the summary"
                                          : "after frame block " + std::to_string(r.frames));
    }
    for (std::size_t k = 0; k < n; ++k) r.summary.push_back(lines[at + k]);
    if (at + n != lines.size()) return fail(at + n, "after the summary");

    // The summary agrees with the blocks.
    const double frames = r.frames;
    std::ostringstream why;
    if (!agrees(v[0], r.seconds))
        why << "total " << v[0] << " s, blocks sum to " << r.seconds << "; ";
    if (b.name == "screens") {
        if (!agrees(v[1], page_characters * frames / v[0]))
            why << "average " << v[1] << " for " << r.frames << " frames";
    } else {
        if (!agrees(v[1], frames / v[0]))
            why << "average " << v[1] << " for " << r.frames << " frames; ";
        const double per_frame = b.name == "cube" ? cube_points * frames : r.triangles;
        if (!agrees(v[2], per_frame / v[0])) why << "second average " << v[2];
    }
    if (!why.str().empty()) return fail(at, "summary: " + why.str());
    return r;
}

std::vector<std::vector<std::string>> console_blocks(const bench& b,
                                                     const std::vector<std::string>& lines) {
    std::vector<std::vector<std::string>> blocks;
    std::size_t at = 0;
    while (at < lines.size() && lines[at].find("Secs to Initialize.") == std::string::npos) ++at;
    at += 3;
    const auto block = block_forms(b, true);
    const std::size_t first_figure = b.name == "screens" ? 0 : 1;
    std::vector<double> v;
    while (at < lines.size() && match(lines, at, block, v) == block.size()) {
        blocks.emplace_back(lines.begin() + static_cast<long>(at + first_figure),
                            lines.begin() + static_cast<long>(at + block.size() - 1));
        at += block.size();
    }
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
    program = std::make_unique<driver::Process>(how);
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
    if (program->wait_for_line("Press Enter to Exit.", report_timeout) < 0) return std::nullopt;
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

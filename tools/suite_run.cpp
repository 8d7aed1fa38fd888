// suite-run: runs the benchmarks one after another, each in a folder of its
// own. With no display (or --unattended) it starts a private X server and
// drives each program as a person would: start, some frames, Esc, Enter.
// On a desktop it opens each window for the user to drive.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "driver.h"

namespace {

struct program_entry {
    const char* name;
    const char* path;          // where the build put it
    const char* title;         // window title
    const char* frame_marker;  // start of a console line written once per measured frame
    int frames;                // measured frames before Esc; 0: until the program ends itself
};

const program_entry programs[] = {
    {"cube", CUBE_EXE, "OPENGL Cube", "window: ", 3},
    {"screens", SCREENS_EXE, "OPENGL Screens", "It was: ", 10},
    {"triangles", TRIANGLES_EXE, "OPENGL Triangles", "It drew ", 0},
};

struct options {
    std::vector<std::string> names;
    std::string out;
    int frames = -1;            // -1: each program's own default
    int width = 0, height = 0;  // 0: the program's own size
    double hang_after = 300;    // seconds without a new frame
    bool unattended = false;
};

void usage() {
    std::cout << "usage: suite-run [--unattended] [--frames N] [--size WxH] [--out DIR]\n"
                 "                 [--hang-after SECONDS] [program ...]\n"
                 "Unattended, each program animates until N frames are measured (default:\n"
                 "cube 3, screens 10, triangles until it ends itself at its limit), then\n"
                 "gets Esc and Enter.\n"
                 "programs:";
    for (auto& p : programs) std::cout << ' ' << p.name;
    std::cout << "\n";
}

std::string timestamp() {
    char text[32];
    std::time_t t = std::time(nullptr);
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", std::localtime(&t));
    return text;
}

std::string executable_for(const program_entry& p, const char* argv0) {
    if (access(p.path, X_OK) == 0) return p.path;
    // Installed: the programs stand beside the runner.
    std::string self = argv0;
    return self.substr(0, self.find_last_of('/') + 1) + p.name;
}

// Lets the user drive the program in its window; its console is this one.
int run_attended(const std::string& exe, const std::string& dir) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Drives one program unattended; returns an empty string or what went wrong.
std::string run_unattended(const program_entry& p, const std::string& exe,
                           const std::string& dir, const std::string& display,
                           const options& o) {
    driver::launch how;
    how.executable = exe;
    how.directory = dir;
    how.display = display;
    driver::Process program(how);
    std::string problem;
    auto window = driver::Window::find(display, p.title, 300);
    if (!window) {
        problem = "its window never opened";
    } else if (program.wait_for_line("Secs to Initialize.", 600) < 0) {
        problem = "it did not finish its initialisation";
    } else {
        if (o.width > 0) window->resize(o.width, o.height);
        window->key("r");
        const int frames = o.frames >= 0 ? o.frames : p.frames;
        const double start = driver::now();
        int seen = program.count(p.frame_marker);
        const auto ended = [&] { return program.wait_for_line("Press Enter to Exit.", 0) >= 0; };
        double deadline = driver::now() + o.hang_after;
        while (!ended() && (frames == 0 || seen < frames)) {
            if (program.wait_for_count(p.frame_marker, seen + 1, 1)) {
                seen = program.count(p.frame_marker);
                deadline = driver::now() + o.hang_after;
                std::cout << "  " << p.name << ": " << seen << " frame(s), "
                          << int(driver::now() - start) << " s" << std::endl;
            } else if (!program.running()) {
                problem = "it ended without its final report";
                break;
            } else if (driver::now() > deadline) {
                problem = "no new frame within " + std::to_string(int(o.hang_after)) + " s";
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
    std::ofstream console(dir + "/console.txt");
    for (auto& l : program.lines()) console << l << '\n';
    std::ofstream(dir + "/stderr.txt") << program.error_text();
    std::ofstream(dir + "/exit-status.txt") << (status ? *status : -1) << '\n';
    if (problem.empty() && status && *status != 0)
        problem = *status < 0 ? "it was killed by signal " + std::to_string(-*status)
                              : "it exited with status " + std::to_string(*status);
    return problem;
}

}  // namespace

int main(int argc, char** argv) {
    options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                usage();
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--unattended") o.unattended = true;
        else if (a == "--frames") o.frames = std::atoi(value().c_str());
        else if (a == "--out") o.out = value();
        else if (a == "--hang-after") o.hang_after = std::atof(value().c_str());
        else if (a == "--size") {
            if (std::sscanf(value().c_str(), "%dx%d", &o.width, &o.height) != 2) {
                usage();
                return 2;
            }
        } else if (a == "-h" || a == "--help") {
            usage();
            return 0;
        } else
            o.names.push_back(a);
    }
    std::vector<const program_entry*> chosen;
    for (auto& p : programs)
        if (o.names.empty()) chosen.push_back(&p);
    for (auto& n : o.names) {
        bool known = false;
        for (auto& p : programs)
            if (n == p.name) chosen.push_back(&p), known = true;
        if (!known) {
            std::cerr << "suite-run: no program named " << n << "\n";
            usage();
            return 2;
        }
    }

    const char* env_display = std::getenv("DISPLAY");
    const bool attended = !o.unattended && env_display && *env_display && isatty(0);
    if (o.out.empty()) o.out = "results/run-" + timestamp();
    std::system(("mkdir -p '" + o.out + "'").c_str());

    std::unique_ptr<driver::XServer> server;
    std::string display;
    if (!attended) {
        if (o.unattended || !env_display || !*env_display) {
            server = std::make_unique<driver::XServer>();
            display = server->display();
        } else {
            display = env_display;
        }
        std::cout << "Running unattended on display " << display << "\n";
    }

    int failures = 0;
    for (const program_entry* p : chosen) {
        const std::string dir = o.out + "/" + p->name;
        mkdir(dir.c_str(), 0755);
        const std::string exe = executable_for(*p, argv[0]);
        std::cout << "== " << p->name << " (results in " << dir << ")\n";
        if (attended) {
            const int status = run_attended(exe, dir);
            if (status != 0) ++failures;
            continue;
        }
        const std::string problem = run_unattended(*p, exe, dir, display, o);
        if (!problem.empty()) {
            ++failures;
            std::cout << "  FAILED: " << p->name << ": " << problem
                      << " (partial results kept in " << dir << ")\n";
        } else {
            std::cout << "  done\n";
        }
    }
    std::cout << "Results are in: " << o.out << "\n";
    return failures ? 1 : 0;
}

// suite-run: runs the benchmarks one after another, each in a folder of its
// own, and writes beside their results what is needed to understand them.
// With no display (or --unattended) it starts a private X server and drives
// each program as a person would: start, some frames, Esc, Enter. On a
// desktop it opens each window for the user to drive.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "drive.h"
#include "driver.h"
#include "facts.h"
#include "store.h"

namespace fs = std::filesystem;

namespace {

using suite_run::program_entry;

// triangles runs to its limit in a small window: at full size its last
// frames take hours in software, in 64 by 64 the whole run a few minutes.
const program_entry programs[] = {
    {"cube", "OPENGL Cube", "window: ", 3, 0, 0},
    {"screens", "OPENGL Screens", "It was: ", 10, 0, 0},
    {"triangles", "OPENGL Triangles", "It drew ", 0, 64, 64},
};

struct options {
    std::vector<std::string> names;
    std::string out, bin_dir, db, tag;
    int repeat = 1;
    bool unattended = false;
    suite_run::drive_options drive;
};

void usage(std::ostream& s) {
    s << "usage: suite-run [options] [program ...]\n"
         "  --unattended        drive the programs even when a display is set\n"
         "  --frames N          measured frames before Esc (default: cube 3, screens 10,\n"
         "                      triangles until it ends itself at its limit)\n"
         "  --size WxH          resize each window before it starts animating (default:\n"
         "                      the programs' own 1440x1440, triangles 64x64)\n"
         "  --repeat N          run the whole set N times\n"
         "  --out DIR           run folder (default: results/run-DATE-TIME)\n"
         "  --hang-after S      seconds without a new frame before a program counts as\n"
         "                      hung (default 300: a software-rendered frame can take a minute)\n"
         "  --window-timeout S  seconds to wait for a window (default 300)\n"
         "  --init-timeout S    seconds to wait for the workload to be built (default 600)\n"
         "  --bin-dir DIR       where the programs are (default: beside this runner's build)\n"
         "  --db URL            the results store: an SQLite file or postgresql://...\n"
         "                      (default: $SUITE_DB, else suite.db beside the run folder)\n"
         "  --tag NAME          tag the runs in the store (a baseline for suite-report check)\n"
         "programs:";
    for (auto& p : programs) s << ' ' << p.name;
    s << "\n";
}

std::string timestamp() {
    char text[32];
    std::time_t t = std::time(nullptr);
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", std::localtime(&t));
    return text;
}

// The runner's own folder, where an install puts the programs beside it.
fs::path own_folder() {
    std::error_code e;
    return fs::read_symlink("/proc/self/exe", e).parent_path();
}

// The build puts each program in a folder of its name; an install puts them
// all beside the runner. Absolute, since each program starts in its own folder.
std::string executable_for(const std::string& name, const options& o) {
    if (!o.bin_dir.empty()) return fs::absolute(fs::path(o.bin_dir) / name).string();
    const std::string built = std::string(BUILD_DIR) + "/" + name + "/" + name;
    if (access(built.c_str(), X_OK) == 0) return built;
    return (own_folder() / name).string();
}

options parse(int argc, char** argv) {
    options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                usage(std::cerr);
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--unattended") o.unattended = true;
        else if (a == "--frames") o.drive.frames = std::atoi(value().c_str());
        else if (a == "--repeat") o.repeat = std::max(1, std::atoi(value().c_str()));
        else if (a == "--out") o.out = value();
        else if (a == "--bin-dir") o.bin_dir = value();
        else if (a == "--db") o.db = value();
        else if (a == "--tag") o.tag = value();
        else if (a == "--hang-after") o.drive.hang_after = std::atof(value().c_str());
        else if (a == "--window-timeout") o.drive.window_timeout = std::atof(value().c_str());
        else if (a == "--init-timeout") o.drive.init_timeout = std::atof(value().c_str());
        else if (a == "--size") {
            if (std::sscanf(value().c_str(), "%dx%d", &o.drive.width, &o.drive.height) != 2 ||
                o.drive.width < 1 || o.drive.height < 1) {
                usage(std::cerr);
                std::exit(2);
            }
        } else if (a == "-h" || a == "--help") {
            usage(std::cout);
            std::exit(0);
        } else {
            o.names.push_back(a);
        }
    }
    return o;
}

// The summary table of the report tool, when it has been built.
void show_summary(const std::string& folder) {
    std::string report = std::string(BUILD_DIR) + "/tools/report/suite-report";
    if (access(report.c_str(), X_OK) != 0) report = (own_folder() / "suite-report").string();
    if (access(report.c_str(), X_OK) != 0) return;
    std::cout << "\n" << std::flush;
    const pid_t pid = fork();
    if (pid == 0) {
        execl(report.c_str(), report.c_str(), folder.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid > 0) waitpid(pid, nullptr, 0);
}

bool make_folder(const std::string& path) {
    std::error_code e;
    fs::create_directories(path, e);
    if (e) std::cerr << "suite-run: cannot create " << path << ": " << e.message() << "\n";
    return !e;
}

}  // namespace

int run_suite(int argc, char** argv) {
    options o = parse(argc, argv);
    std::vector<const program_entry*> chosen;
    for (auto& p : programs)
        if (o.names.empty()) chosen.push_back(&p);
    for (auto& n : o.names) {
        const program_entry* found = nullptr;
        for (auto& p : programs)
            if (n == p.name) found = &p;
        if (!found) {
            std::cerr << "suite-run: no program named " << n << "\n";
            usage(std::cerr);
            return 2;
        }
        chosen.push_back(found);
    }

    const char* env_display = std::getenv("DISPLAY");
    const bool have_display = env_display && *env_display;
    const bool attended = !o.unattended && have_display && isatty(0);
    if (o.out.empty()) o.out = "results/run-" + timestamp();
    if (!make_folder(o.out)) return 2;
    if (o.db.empty()) o.db = store::default_url((fs::path(o.out).parent_path() / "suite.db").string());

    std::unique_ptr<driver::XServer> server;
    // Unattended runs always get a server of their own: no window manager to
    // reparent the windows, and nothing of the user's to type into.
    std::string display = have_display ? env_display : "";
    if (!attended) {
        server = std::make_unique<driver::XServer>();
        display = server->display();
    }
    nlohmann::json run = {{"command_line", suite_run::command_line(argc, argv)},
                          {"machine", suite_run::machine_facts()},
                          {"gl", suite_run::gl_facts(display)},
                          {"private_x_server", server != nullptr},
                          {"repeat", o.repeat},
                          {"programs", nlohmann::json::array()}};
    std::cout << (attended ? "Running on your display " : "Running unattended on display ")
              << display << " (" << run["gl"].value("renderer", "unknown renderer") << ")\n";

    int failures = 0, unrecorded = 0;
    for (int r = 1; r <= o.repeat; ++r) {
        const std::string base = o.repeat > 1 ? o.out + "/rep-" + std::to_string(r) : o.out;
        if (!make_folder(base)) return 2;
        for (const program_entry* p : chosen) {
            const std::string dir = base + "/" + p->name;
            if (!make_folder(dir)) return 2;
            const std::string exe = executable_for(p->name, o);
            std::cout << "== " << p->name << (o.repeat > 1 ? " #" + std::to_string(r) : "")
                      << " (in " << dir << ")" << std::endl;
            nlohmann::json facts;
            if (attended) {
                const int status = suite_run::run_attended(exe, dir);
                facts = {{"program", p->name}, {"exit_status", status},
                         {"problem", status ? "it exited with status " + std::to_string(status)
                                            : ""}};
            } else {
                facts = suite_run::run_unattended(*p, exe, dir, display, o.drive);
            }
            facts["repeat"] = r;
            nlohmann::json meta = run;
            meta.erase("programs");
            meta["run"] = facts;
            if (!(std::ofstream(dir + "/metadata.json") << meta.dump(2) << '\n')) {
                facts["problem"] = "its metadata could not be written in " + dir;
            }
            run["programs"].push_back(facts);
            const std::string problem = facts.value("problem", "");
            if (!problem.empty()) {
                ++failures;
                std::cout << "  FAILED: " << p->name << ": " << problem
                          << " (what it wrote is kept in " << dir << ")" << std::endl;
            } else {
                std::cout << "  done: " << facts.value("results_file", "") << std::endl;
            }
            // The folder is the record that counts; the store's copy may go missing.
            if (const auto why = store::record_folder(o.db, dir, o.tag); !why.empty()) {
                ++unrecorded;
                std::cout << "  WARNING: not recorded in the store " << store::display_url(o.db)
                          << ": " << why << " (the run folder " << dir << " is complete)" << std::endl;
            }
        }
    }
    if (!(std::ofstream(o.out + "/run.json") << run.dump(2) << '\n')) {
        std::cerr << "suite-run: cannot write " << o.out << "/run.json\n";
        ++failures;
    }
    show_summary(o.out);
    std::cout << "Results are in: " << o.out << "\n";
    if (failures) std::cout << failures << " program run(s) failed.\n";
    if (unrecorded)
        std::cout << unrecorded << " run(s) missing from the store " << store::display_url(o.db)
                  << "; import them later with: suite-report import " << o.out << "\n";
    return failures || unrecorded ? 1 : 0;
}

int main(int argc, char** argv) {
    try {
        return run_suite(argc, argv);
    } catch (const std::exception& e) {
        // Destructors have run: no benchmark or X server is left behind.
        std::cerr << "suite-run: " << e.what() << "\n";
        return 2;
    }
}

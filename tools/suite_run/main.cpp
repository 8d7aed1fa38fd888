// suite-run: runs the benchmarks one after another, each in a folder of its
// own, and writes beside their results what is needed to understand them.
// With no display (or --unattended) it starts a private X server and drives
// each program as a person would: start, some frames, Esc, Enter. On a
// desktop it opens each window for the user to drive.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "drive.h"
#include "driver.h"
#include "facts.h"
#include "inputs.h"
#include "options.h"
#include "records.h"
#include "spawn.h"
#include "index_count.h"
#include "stability.h"
#include "mesh.h"
#include "store.h"
#include "text.h"

namespace fs = std::filesystem;

namespace {

using suite_run::options;
using suite_run::program_entry;

// triangles ends itself once a frame's index count passes its mesh: the
// frames before that, by the program's own formula (the k-th measured frame
// is drawn at tick k, after k - 1 measured ones).
int triangles_last_frame() {
    for (std::int64_t k = 1; k < 1000000; ++k)
        if (triangles::index_count_for(k, k - 1) > triangles::mesh_value_count)
            return static_cast<int>(k);
    return 0;
}

// triangles runs to its limit in a small window: at full size its last
// frames take hours in software, in 64 by 64 the whole run a few minutes.
const program_entry programs[] = {
    {texts::find_program("cube"), 3, 0, 0},
    {texts::find_program("screens"), 10, 0, 0},
    {texts::find_program("triangles"), 0, 64, 64, triangles_last_frame()},
};

std::string timestamp() {
    char text[32] = "unknown-time";
    std::time_t t = std::time(nullptr);
    if (const std::tm* local = std::localtime(&t))
        std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", local);
    return text;
}

// The runner's own folder, where an install puts the programs beside it;
// empty when it cannot be read (never the working directory).
fs::path own_folder() {
    std::error_code e;
    const fs::path self = fs::read_symlink("/proc/self/exe", e);
    return e ? fs::path() : self.parent_path();
}

// An install puts the programs beside the runner, and those are the ones an
// installed runner must use, even when the folder it was built in still
// exists; the build puts each in a folder of its name. Absolute, since each
// program starts in its own folder.
// The tool so named installed beside the runner, or else its place in the build.
std::string installed_or_built(const std::string& name, const std::string& built) {
    const fs::path folder = own_folder();
    if (!folder.empty()) {
        const fs::path beside = folder / name;
        std::error_code e;
        if (fs::is_regular_file(beside, e) && access(beside.c_str(), X_OK) == 0)
            return beside.string();
    }
    return std::string(BUILD_DIR) + "/" + built;
}

std::string executable_for(const std::string& name, const options& o) {
    if (!o.bin_dir.empty()) return fs::absolute(fs::path(o.bin_dir) / name).string();
    return installed_or_built(name, name + "/" + name);
}

// The summary table of the report tool, when it has been built.
void show_summary(const std::string& folder) {
    const std::string report = installed_or_built("suite-report", "tools/report/suite-report");
    if (access(report.c_str(), X_OK) != 0) return;
    std::cout << "\n" << std::flush;
    process::child_setup s;
    s.argv = {report, folder};
    s.own_group = false;  // a Ctrl-C at the terminal ends it too
    try {
        process::wait_raw(process::spawn(s));
    } catch (const std::exception&) {
    }
}

void print_failure(const std::string& name, const std::string& problem, const std::string& dir) {
    std::cout << "  FAILED: " << name << ": " << report::terminal_safe(problem);
    if (!dir.empty()) std::cout << " (what it wrote is kept in " << report::terminal_safe(dir) << ")";
    std::cout << std::endl;
}

}  // namespace

int run_suite(int argc, char** argv) {
    options o = suite_run::parse_options(argc, argv);
    std::vector<const program_entry*> chosen;
    for (auto& p : programs)
        if (o.names.empty()) chosen.push_back(&p);
    for (auto& n : o.names)
        for (auto& p : programs)
            if (n == p.texts->name) chosen.push_back(&p);

    const char* env_display = std::getenv("DISPLAY");
    const bool have_display = env_display && *env_display;
    const bool attended = !o.unattended && have_display && isatty(0);
    nlohmann::json vsync_set = nlohmann::json::object();
    if (!o.vsync) {
        // The programs inherit them; the probe's context reports what they get.
        for (const auto& [name, value] : texts::no_vsync) {
            setenv(name, value, 1);
            vsync_set[name] = value;
        }
    }
    std::string error;
    const auto out = o.out.empty()
                         ? suite_run::make_new_folder("results/run-" + timestamp(), true, error)
                         : suite_run::make_new_folder(o.out, false, error);
    if (!out) {
        std::cerr << "suite-run: " << error << "\n";
        return 2;
    }
    suite_run::catch_stop_signals();
    store::set_stop_check(suite_run::stop_signal);  // a busy store must not hold up a stop
    driver::set_stop_check(suite_run::stop_signal);  // nor a window that will not resize
    if (o.db.empty()) o.db = store::default_url((fs::path(*out).parent_path() / "suite.db").string());

    std::unique_ptr<driver::XServer> server;
    // Unattended runs always get a server of their own: no window manager to
    // reparent the windows, and nothing of the user's to type into.
    std::string display = have_display ? env_display : "";
    if (!attended) {
        server = std::make_unique<driver::XServer>();
        display = server->display();
    }
    // Mesa announces each switch taken from the environment; the runner's own
    // probe stays quiet (the programs' messages are kept in their stderr.txt).
    const bool quieted = !o.vsync && !std::getenv("MESA_DEBUG");
    if (quieted) setenv("MESA_DEBUG", "silent", 1);
    nlohmann::json swap_interval;
    const nlohmann::json gl = suite_run::gl_facts(display, swap_interval);
    if (quieted) unsetenv("MESA_DEBUG");
    nlohmann::json run = {{"command_line", suite_run::command_line(argc, argv)},
                          {"machine", suite_run::machine_facts()},
                          {"gl", gl},
                          {"vsync", {{"kept", o.vsync}, {"set", vsync_set},
                                     {"swap_interval", swap_interval}}},
                          {"private_x_server", server != nullptr},
                          {"repeat", o.repeat},
                          // kept with the folder: a later import tags the run as suite-run would
                          {"tag", o.tag},
                          {"interrupted", false},
                          {"programs", nlohmann::json::array()}};
    std::cout << (attended ? "Running on your display " : "Running unattended on display ")
              << display << " (" << report::terminal_safe(gl.value("renderer", "unknown renderer")) << ")\n";
    const auto server_alive = [&] { return !server || server->running(); };

    int failures = 0, unrecorded = 0;
    const bool stabilising = o.until_stable > 0;
    const int rounds = stabilising ? o.max_repeat : o.repeat;
    suite_run::Stability stability(o.until_stable, o.max_repeat, o.max_time);
    const double began = driver::now();
    const auto all_settled = [&] {
        for (const program_entry* p : chosen)
            if (!stability.settled(std::string(p->texts->name))) return false;
        return true;
    };
    for (int r = 1; r <= rounds && !suite_run::stop_signal(); ++r) {
        if (stabilising && (all_settled() || stability.out_of_time(driver::now() - began))) break;
        std::string base = *out;
        if (rounds > 1) {
            const auto made = suite_run::make_new_folder(base + "/rep-" + std::to_string(r),
                                                         true, error);
            if (!made) {
                ++failures;
                print_failure("repeat " + std::to_string(r), error, "");
                continue;
            }
            base = *made;
        }
        for (const program_entry* p : chosen) {
            if (suite_run::stop_signal()) break;
            const std::string name(p->texts->name);
            if (stabilising && stability.settled(name)) continue;
            nlohmann::json facts = {{"program", name}, {"repeat", r}};
            const auto dir = suite_run::make_new_folder(base + "/" + name, true, error);
            if (!dir) {
                facts["problem"] = error;
                run["programs"].push_back(facts);
                ++failures;
                print_failure(name, error, "");
                continue;
            }
            const std::string exe = executable_for(name, o);
            std::cout << "== " << name << (rounds > 1 ? " #" + std::to_string(r) : "")
                      << " (in " << report::terminal_safe(*dir) << ")" << std::endl;
            const std::string started = suite_run::local_time_stamp();
            if (attended) {
                const int status = suite_run::run_attended(exe, *dir);
                facts = {{"program", name}, {"exit_status", status},
                         {"problem", status ? "it exited with status " + std::to_string(status)
                                            : ""}};
            } else {
                o.drive.x_server_pid = server ? server->pid() : 0;
                facts = suite_run::run_unattended(*p, exe, *dir, display, o.drive, server_alive);
            }
            facts["repeat"] = r;
            facts["date"] = started;  // each repeat's own, beside the set's in "machine"
            if (suite_run::stop_signal()) facts["interrupted"] = true;
            nlohmann::json meta = run;
            meta.erase("programs");
            meta["run"] = facts;
            if (!suite_run::write_new_file(
                    *dir + "/metadata.json",
                    suite_run::bounded_json_text(meta, report::metadata_cap), error))
                facts["problem"] = facts.value("problem", "").empty()
                                       ? error
                                       : facts.value("problem", "") + "; " + error;
            run["programs"].push_back(facts);
            const std::string problem = facts.value("problem", "");
            if (!problem.empty()) {
                ++failures;
                print_failure(name, problem, *dir);
            } else {
                std::cout << "  done: " << report::terminal_safe(facts.value("results_file", "")) << std::endl;
                if (stabilising && !facts.value("results_file", "").empty()) {
                    stability.add(name, suite_run::results_headline(
                                            *dir + "/" + facts.value("results_file", "")));
                    std::cout << "  " << name << ": " << stability.progress(name) << std::endl;
                }
            }
            if (server && !server->running() && !suite_run::stop_signal()) {
                // The next program gets a new server: one lost server costs one run.
                std::cout << "  the X server was lost; starting a new one" << std::endl;
                server.reset();
                server = std::make_unique<driver::XServer>();
                display = server->display();
            }
            // The folder is the record that counts; the store's copy may go missing.
            if (const auto why = store::record_folder(o.db, *dir, o.tag); !why.empty()) {
                ++unrecorded;
                std::cout << "  WARNING: not recorded in the store "
                          << report::terminal_safe(store::display_url(o.db)) << ": "
                          << report::terminal_safe(why) << " (the run folder "
                          << report::terminal_safe(*dir) << " is complete)" << std::endl;
            }
        }
    }
    const int stopped_by = suite_run::stop_signal();
    run["interrupted"] = stopped_by != 0;
    if (stabilising) {
        std::vector<std::string> names;
        for (const program_entry* p : chosen) names.emplace_back(p->texts->name);
        run["until_stable"] = stability.record(names, stopped_by != 0, driver::now() - began);
    }
    if (!suite_run::write_new_file(*out + "/run.json", suite_run::json_text(run), error)) {
        std::cerr << "suite-run: " << report::terminal_safe(error) << "\n";
        ++failures;
    }
    server.reset();
    if (stopped_by) {
        std::cout << "Interrupted by " << process::signal_name(stopped_by)
                  << "; what ran is kept in: " << report::terminal_safe(*out) << std::endl;
        return 128 + stopped_by;
    }
    show_summary(*out);
    std::cout << "Results are in: " << report::terminal_safe(*out) << "\n";
    if (failures) std::cout << failures << " program run(s) failed.\n";
    if (unrecorded)
        std::cout << unrecorded << " run(s) missing from the store "
                  << report::terminal_safe(store::display_url(o.db))
                  << "; import them later with: suite-report import "
                  << report::terminal_safe(*out) << "\n";
    return failures || unrecorded ? 1 : 0;
}

int main(int argc, char** argv) {
    // A reader of the progress that goes away must not end the run: the
    // records are what counts, and the failed write is told at the end.
    signal(SIGPIPE, SIG_IGN);
    int status = 2;
    try {
        status = run_suite(argc, argv);
    } catch (const std::exception& e) {
        // Destructors have run: no benchmark or X server is left behind.
        std::cerr << "suite-run: " << e.what() << "\n";
        if (suite_run::stop_signal()) status = 128 + suite_run::stop_signal();
    }
    if (!std::cout.flush()) {
        // Written once more to learn why: a closed pipe, a full disk.
        const int reason = ::write(1, "\n", 1) < 0 ? errno : EIO;
        std::cerr << "suite-run: cannot write to standard output: " << std::strerror(reason)
                  << "\n";
        if (status == 0) status = 1;
    }
    return status;
}

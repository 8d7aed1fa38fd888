// suite-run: runs the benchmarks one after another, each in a folder of its
// own, and writes beside their results what is needed to understand them.
// With no display (or --unattended) it starts a private X server and drives
// each program as a person would: start, some frames, Esc, Enter. On a
// desktop it opens each window for the user to drive.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/secrets.h"
#include "common/text.h"
#include "process/descendants.h"
#include "process/spawn.h"
#include "process/stop.h"
#include "store/store.h"
#include "suite_run/display.h"
#include "suite_run/executables.h"
#include "suite_run/programs.h"
#include "suite_run/record.h"
#include "suite_run/rounds.h"
#include "suite_run/run_files.h"
#include "suite_run/session.h"

namespace fs = std::filesystem;

using suite_run::options;
using suite_run::session;

namespace {

std::string timestamp() {
    char text[32] = "unknown-time";
    std::time_t t = std::time(nullptr);
    if (const std::tm* local = std::localtime(&t))
        std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", local);
    return text;
}

// Waits for a child, ending it once the runner is asked to stop: a summary
// that hangs (a store that never answers) must not hold up a stop.
void wait_ending_at_stop(pid_t pid) {
    double asked = 0;
    for (;;) {
        const pid_t r = waitpid(pid, nullptr, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR)) return;
        if (process::stop_signal() && !asked) {
            asked = driver::now();
            kill(pid, SIGTERM);
        } else if (asked && driver::now() - asked > 5) {
            kill(pid, SIGKILL);
        }
        usleep(20000);
    }
}

// The report tool's short summary, when it has been built. The store's
// address goes in the environment: it may hold a password, which a command
// line would show to every user of the machine.
void show_summary(const std::string& folder, const std::string& db) {
    const std::string report = suite_run::installed_or_built("suite-report", "tools/suite-report");
    if (access(report.c_str(), X_OK) != 0) return;
    std::cout << "\n" << std::flush;
    process::child_setup s;
    s.argv = {report, "summary", folder};
    s.env = {"SUITE_DB=" + db};
    s.own_group = false;  // a Ctrl-C at the terminal ends it too
    try {
        wait_ending_at_stop(process::spawn(s));
    } catch (const std::exception&) {
    }
}

int interrupted(const session& s, int stopped_by) {
    std::cout << "Interrupted by " << process::signal_name(stopped_by)
              << "; what ran is kept in: " << common::terminal_safe(s.out) << std::endl;
    return 128 + stopped_by;
}

// run.json, then what the user reads last; the exit status.
int finish(session& s) {
    suite_run::write_run_json(s);
    s.server.reset();
    if (!process::stop_signal()) show_summary(s.out, s.o.db);
    // A stop during the summary or the server's ending is a stop all the same.
    if (const int stopped_by = process::stop_signal()) {
        if (!s.run.interrupted) suite_run::write_run_json(s);
        return interrupted(s, stopped_by);
    }
    std::cout << "Results are in: " << common::terminal_safe(s.out) << "\n";
    if (s.failures) std::cout << s.failures << " program run(s) failed.\n";
    if (s.unrecorded)
        std::cout << s.unrecorded << " run(s) missing from the store "
                  << common::terminal_safe(store::display_url(s.o.db))
                  << "; import them later with: suite-report import "
                  << common::terminal_safe(s.out) << "\n";
    return s.failures || s.unrecorded ? 1 : 0;
}

// A run ended by a failure the runner cannot go on from (a stop while Xvfb
// starts, a server that will not start): run.json says how far it got.
int end_early(session& s, int argc, char** argv, const std::string& why, int status = 2) {
    // Line by line: a server's log lines may come with the reason.
    std::istringstream lines(why);
    std::string line;
    for (const char* prefix = "suite-run: "; std::getline(lines, line); prefix = "")
        std::cerr << prefix << common::terminal_safe(line) << "\n";
    if (s.run.format == 0) {
        s.run = suite_run::run_header(s, argc, argv);
        s.run.gl.error = "not probed: the run ended before";
    }
    s.run.problem = why;
    suite_run::write_run_json(s);
    s.server.reset();
    const int stopped_by = process::stop_signal();
    return stopped_by ? interrupted(s, stopped_by) : status;
}

// The store's password and the variants' secrets, hidden wherever they
// would appear in what the runner prints or records.
void remember_secrets(const options& o) {
    common::remember_secrets_of(o.db);
    if (const char* password = std::getenv("PGPASSWORD"))
        common::remember_secrets_of(password, true);
    for (const auto& v : o.variants) suite_run::remember_secrets(v);
}

}  // namespace

int run_suite(int argc, char** argv) {
    session s;
    s.o = suite_run::parse_options(argc, argv);
    s.chosen = suite_run::choose_programs(s.o);
    // The programs inherit them; the probe's context reports what they get.
    if (!s.o.vsync)
        for (const auto& [name, value] : texts::no_vsync) setenv(name, value, 1);
    std::string error;
    const auto out = s.o.out.empty()
                         ? suite_run::make_new_folder("results/run-" + timestamp(), true, error)
                         : suite_run::make_new_folder(s.o.out, false, error);
    if (!out) {
        std::cerr << "suite-run: " << error << "\n";
        return 2;
    }
    s.out = *out;
    process::catch_stop_signals();
    // Daemons the programs detach come back to the runner, to be ended.
    process::adopt_orphans();
    if (s.o.db.empty())
        s.o.db = store::default_url((fs::path(s.out).parent_path() / "suite.db").string());
    remember_secrets(s.o);
    try {
        suite_run::start_display(s);
        suite_run::probe_variants(s);
        s.run = suite_run::run_record(s, argc, argv);
        if (const std::string why = suite_run::not_hardware(s); !why.empty())
            return end_early(s, argc, argv, why, 1);
        std::cout << (s.attended              ? "Running on your display "
                      : s.o.drive.on_display ? "Running unattended on your display "
                                             : "Running unattended on display ")
                  << s.display << " ("
                  << common::terminal_safe(s.gl.front().error ? "unknown renderer"
                                                              : s.gl.front().renderer)
                  << ")\n";
        suite_run::Stability stability(s.o.until_stable, s.o.max_repeat, s.o.max_time);
        if (suite_run::auto_rounds(s.o)) {
            std::vector<std::string> names;
            for (const auto& v : s.o.variants) names.push_back(v.name);
            s.ab = std::make_unique<suite_run::AbRounds>(*s.run.rounds_auto, names);
        }
        suite_run::run_rounds(s, stability);
    } catch (const std::exception& e) {
        return end_early(s, argc, argv, e.what());
    }
    return finish(s);
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
        if (process::stop_signal()) status = 128 + process::stop_signal();
    }
    process::end_children_but({});  // whatever came back to the runner at the end
    if (!std::cout.flush()) {
        // Written once more to learn why: a closed pipe, a full disk.
        const int reason = ::write(1, "\n", 1) < 0 ? errno : EIO;
        std::cerr << "suite-run: cannot write to standard output: " << std::strerror(reason)
                  << "\n";
        if (status == 0) status = 1;
    }
    return status;
}

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
#include <sstream>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/secrets.h"
#include "common/text.h"
#include "driver/desktop.h"
#include "driver/driver.h"
#include "driver/xorg_server.h"
#include "index_count.h"
#include "mesh.h"
#include "process/descendants.h"
#include "process/spawn.h"
#include "report/reading/inputs.h"
#include "report/analysis/software_note.h"
#include "store/store.h"
#include "suite_run/ab_rounds.h"
#include "suite_run/drive.h"
#include "suite_run/facts.h"
#include "suite_run/gl_environment.h"
#include "suite_run/options.h"
#include "suite_run/records.h"
#include "suite_run/stability.h"
#include "suite_run/variants.h"

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

// Waits for a child, ending it once the runner is asked to stop: a summary
// that hangs (a store that never answers) must not hold up a stop.
void wait_ending_at_stop(pid_t pid) {
    double asked = 0;
    for (;;) {
        const pid_t r = waitpid(pid, nullptr, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR)) return;
        if (suite_run::stop_signal() && !asked) {
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
    const std::string report = installed_or_built("suite-report", "tools/report/suite-report");
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

void print_failure(const std::string& name, const std::string& problem, const std::string& dir) {
    std::cout << "  FAILED: " << name << ": "
              << common::terminal_safe(common::mask_secrets(problem));
    if (!dir.empty()) std::cout << " (what it wrote is kept in " << common::terminal_safe(dir) << ")";
    std::cout << std::endl;
}

// What lasts the whole run: the options, the run folder, the X server and
// run.json as it grows.
struct session {
    options o;
    std::vector<const program_entry*> chosen;
    std::string out;
    bool attended = false;
    std::unique_ptr<driver::XServer> server;
    std::unique_ptr<driver::PrivateXorg> xorg;  // with --server xorg: its config and logs
    // On the user's display: the screen saver and power saving held off until
    // the session ends, however it ends (a caught stop signal ends it too).
    std::unique_ptr<driver::ScreenSaverHold> screen_saver;
    std::string display;
    record::DisplayRecord display_facts;  // what kind of server, and what is known of it
    record::RunSetRecord run;
    std::vector<record::GlRecord> gl;  // per variant; one entry without variants
    std::vector<record::SyncRecord> vsync;
    int failures = 0, unrecorded = 0;
    std::unique_ptr<suite_run::AbRounds> ab;  // with --rounds auto
    bool run_json_written = false;
    std::vector<record::WrittenFile> written;  // every file written into a program's folder
    bool server_alive() const { return !server || server->running(); }
};

// One program's run: a round, a variant (none without --variant), a program.
struct step {
    int round;
    const suite_run::variant* v;
    const program_entry* p;
};

std::vector<const program_entry*> choose_programs(const options& o) {
    std::vector<const program_entry*> chosen;
    for (auto& p : programs)
        if (o.names.empty()) chosen.push_back(&p);
    for (auto& n : o.names)
        for (auto& p : programs)
            if (n == p.texts->name) chosen.push_back(&p);
    return chosen;
}

// The sync switches the programs get: the runner's, unless a variant sets its own.
record::SyncRecord vsync_record(const options& o, const suite_run::variant* v,
                                const nlohmann::json& swap_interval) {
    std::map<std::string, std::string> set;
    if (!o.vsync)
        for (const auto& [name, value] : texts::no_vsync) set[name] = value;
    if (v)
        for (const auto& [name, value] : v->settings)
            for (const auto& [switch_name, _] : texts::no_vsync)
                if (name == switch_name) set[name] = value;
    return {o.vsync, set, swap_interval};
}

// The display's GL as the programs of variant v will see it.
void probe_gl(session& s, const suite_run::variant* v) {
    const suite_run::variant_environment env(v);
    const record::GlEnvironment probed = suite_run::probe_environment();
    // Mesa announces each switch taken from the environment; the runner's own
    // probe stays quiet (the programs' messages are kept in their stderr.txt).
    const bool quieted = !std::getenv("MESA_DEBUG");
    if (quieted) setenv("MESA_DEBUG", "silent", 1);
    nlohmann::json swap_interval;
    std::optional<bool> direct;
    s.gl.push_back(suite_run::gl_facts(s.display, swap_interval, direct));
    if (!v || v->index == 0) s.display_facts.direct = direct;  // the first variant's, as for gl
    s.gl.back().environment = probed;
    if (quieted) unsetenv("MESA_DEBUG");
    s.vsync.push_back(vsync_record(s.o, v, swap_interval));
}

// The run's private server, the first or one replacing a lost one.
void start_private_server(session& s) {
    s.server.reset();
    if (s.o.server == "xorg") {
        s.display_facts.kind = record::private_xorg;
        if (!s.xorg) s.xorg = std::make_unique<driver::PrivateXorg>(s.out, s.o.xorg_config);
        s.server = s.xorg->start();
    } else {
        s.display_facts.kind = record::private_xvfb;
        s.server = std::make_unique<driver::XServer>();
    }
    s.display = s.server->display();
}

// The display's facts, for every kind of server; on the user's display the
// screen saver's hold, and a size the screen can hold.
void describe_display(session& s) {
    const auto f = driver::describe_desktop(s.display);
    if (!f) throw std::runtime_error("cannot open display " + s.display);
    record::DisplayRecord& r = s.display_facts;
    r.vendor = f->vendor;
    r.release = f->release;
    r.window_manager = f->window_manager;
    r.compositor = f->compositor;
    r.xwayland = f->xwayland;
    r.refresh_hz = f->refresh_hz;
    r.screen_size = std::to_string(f->width) + "x" + std::to_string(f->height);
    if (!s.o.drive.on_display) return;
    s.o.drive.screen_width = f->width;
    s.o.drive.screen_height = f->height;
    if (s.o.drive.width > f->width || s.o.drive.height > f->height)
        throw std::runtime_error("--size " + std::to_string(s.o.drive.width) + "x" +
                                 std::to_string(s.o.drive.height) + " is larger than the screen (" +
                                 *r.screen_size + ")");
    s.screen_saver = std::make_unique<driver::ScreenSaverHold>(s.display);
    r.screen_saver = s.screen_saver->what();
    std::cout << (f->xwayland ? "XWayland: " : "") << "screen saver: " << *r.screen_saver << "\n";
}

// Unattended runs get a server of their own (no window manager to reparent
// the windows, nothing of the user's to type into) unless --on-display
// names the user's.
void start_display(session& s) {
    const char* env_display = std::getenv("DISPLAY");
    const bool have_display = env_display && *env_display;
    s.attended = !s.o.unattended && s.o.server.empty() && s.o.on_display.empty() &&
                 have_display && isatty(0);
    s.display = have_display ? env_display : "";
    s.display_facts.kind = record::existing_display;
    if (!s.o.on_display.empty()) s.display = s.o.on_display;
    else if (!s.attended) start_private_server(s);
    describe_display(s);
}

// What is known of the run before the display and its GL.
record::RunSetRecord run_header(const session& s, int argc, char** argv) {
    record::RunSetRecord run;
    run.format = record::run_record_format;
    run.command_line = suite_run::command_line(argc, argv);
    run.machine = suite_run::machine_facts();
    run.private_x_server = s.display_facts.kind != record::existing_display;
    run.display = s.display_facts;
    run.repeat = s.o.repeat;
    run.tag = s.o.tag;  // kept with the folder: a later import tags the run as suite-run would
    return run;
}

record::RunSetRecord run_record(const session& s, int argc, char** argv) {
    record::RunSetRecord run = run_header(s, argc, argv);
    run.gl = s.gl.front();
    run.vsync = s.vsync.front();
    if (!s.o.variants.empty()) {
        run.variants.emplace();
        for (const auto& v : s.o.variants)
            run.variants->push_back({suite_run::variant_record(v),
                                     s.gl[static_cast<std::size_t>(v.index)]});
        run.rounds = s.o.rounds;
        if (s.o.rounds == 0) run.rounds_auto = record::RoundsRule{s.o.max_rounds, 0.05, s.o.practical};
    }
    return run;
}

bool auto_rounds(const options& o) { return !o.variants.empty() && o.rounds == 0; }

int rounds_of(const options& o) {
    if (o.until_stable > 0) return auto_rounds(o) ? std::min(o.max_repeat, o.max_rounds) : o.max_repeat;
    if (o.variants.empty()) return o.repeat;
    return auto_rounds(o) ? o.max_rounds : o.rounds;
}

// Each program's folder: RUN/PROGRAM, RUN/rep-R/PROGRAM with repeats,
// RUN/round-R/VARIANT/PROGRAM with variants.
std::string step_folder(const session& s, const step& t) {
    const std::string name(t.p->texts->name);
    if (t.v) return s.out + "/round-" + std::to_string(t.round) + "/" + t.v->name + "/" + name;
    if (rounds_of(s.o) > 1) return s.out + "/rep-" + std::to_string(t.round) + "/" + name;
    return s.out + "/" + name;
}

std::string step_title(const session& s, const step& t) {
    std::string title(t.p->texts->name);
    if (t.v) return title + " [" + t.v->name + "] round " + std::to_string(t.round);
    return rounds_of(s.o) > 1 ? title + " #" + std::to_string(t.round) : title;
}

std::string executable(const session& s, const step& t) {
    const std::string name(t.p->texts->name);
    if (t.v && !t.v->bin_dir.empty()) return fs::absolute(fs::path(t.v->bin_dir) / name).string();
    return executable_for(name, s.o);
}

// Whether the running program had the GL variables its GL was probed with.
void verify_gl(record::ProgramRecord& facts, const record::GlRecord& gl) {
    if (!facts.gl_environment || !gl.environment) return;
    const std::string differs =
        suite_run::environment_difference(*gl.environment, *facts.gl_environment);
    facts.gl_verified = differs.empty();
    if (!differs.empty()) facts.gl_not_verified = differs;
}

// Each file written into a program's folder, by its path from the run folder,
// for the report to tell a folder changed after the run.
void note_written(session& s, const std::string& dir, const std::string& file,
                  const std::string& text) {
    const std::string path = fs::path(dir).lexically_relative(s.out) / file;
    s.written.push_back({path, common::sha256_hex(text), static_cast<long long>(text.size())});
}

// Runs the program and keeps its metadata.json; what is known of the run.
suite_run::program_run drive_step(session& s, const step& t, const std::string& dir) {
    const std::string name(t.p->texts->name);
    std::cout << "== " << step_title(s, t) << " (in " << common::terminal_safe(dir) << ")"
              << std::endl;
    const std::string started = suite_run::local_time_stamp();
    suite_run::program_run ran;
    record::ProgramRecord& facts = ran.record;
    const auto env = suite_run::environment_of(t.v);
    if (s.attended) {
        const int status = suite_run::run_attended(executable(s, t), dir, env);
        facts.program = name;
        facts.exit_status = status;
        facts.problem = status ? "it exited with status " + std::to_string(status) : "";
    } else {
        s.o.drive.x_server_pid = s.server ? s.server->pid() : 0;
        ran = suite_run::run_unattended(*t.p, executable(s, t), dir, s.display, env, s.o.drive,
                                        [&] { return s.server_alive(); });
    }
    facts.repeat = t.round;
    facts.date = started;  // each repeat's own, beside the set's in "machine"
    if (t.v) facts.round = t.round;
    if (suite_run::stop_signal()) facts.interrupted = true;
    record::RunRecord meta;
    static_cast<record::RunHeader&>(meta) = s.run;
    const std::size_t vi = t.v ? static_cast<std::size_t>(t.v->index) : 0;
    meta.gl = s.gl[vi];
    meta.vsync = s.vsync[vi];
    if (t.v) meta.variant = suite_run::variant_record(*t.v);
    verify_gl(facts, meta.gl);
    meta.run = facts;
    std::string error;
    const std::string text = suite_run::bounded_json_text(meta, report::metadata_cap);
    if (!suite_run::write_new_file(dir + "/metadata.json", text, error))
        facts.problem = facts.problem.empty() ? error : facts.problem + "; " + error;
    ran.files.emplace_back("metadata.json", text);
    for (const auto& [file, written] : ran.files) note_written(s, dir, file, written);
    if (t.v) facts.variant = t.v->name;
    return ran;
}

// The next program gets a new server: one lost server costs one run.
void replace_lost_server(session& s) {
    if (!s.server || s.server->running() || suite_run::stop_signal()) return;
    std::cout << "  the X server was lost; starting a new one" << std::endl;
    start_private_server(s);
}

// The run as the runner holds it: the program's results file with the
// texts the runner wrote beside it, none read back from the folder, where
// the program may have put its own.
report::Run held_run(const std::string& dir, const suite_run::program_run& ran) {
    report::SideTexts sides;
    for (const auto& [file, text] : ran.files) {
        if (file == "metadata.json") sides.metadata = text;
        else if (file == "exit-status.txt") sides.exit_status = text;
        else if (file == "frames.csv") sides.frames_csv = text;
        else if (file == "load.csv") sides.load_csv = text;
        else if (file == "stderr.txt") sides.stderr_text = text.substr(0, report::stderr_cap);
    }
    return report::load_run(dir + "/" + ran.record.results_file.value_or(""), sides);
}

// The folder is the record that counts; the store's copy may go missing.
void record_in_store(session& s, const std::string& dir, const suite_run::program_run& ran) {
    if (ran.record.results_file.value_or("").empty()) return;  // nothing to record
    const auto why = store::record_run(s.o.db, held_run(dir, ran), s.o.tag);
    if (why.empty()) return;
    ++s.unrecorded;
    std::cout << "  WARNING: not recorded in the store "
              << common::terminal_safe(store::display_url(s.o.db)) << ": "
              << common::terminal_safe(why) << " (the run folder " << common::terminal_safe(dir)
              << " is complete)" << std::endl;
}

std::string stability_key(const step& t) {
    const std::string name(t.p->texts->name);
    return t.v ? t.v->name + "/" + name : name;
}

void run_step(session& s, const step& t, suite_run::Stability& stability) {
    std::string error;
    const auto dir = suite_run::make_new_folder(step_folder(s, t), true, error);
    if (!dir) {
        record::ProgramRecord failed;
        failed.program = t.p->texts->name;
        failed.repeat = t.round;
        failed.problem = error;
        s.run.programs.push_back(failed);
        ++s.failures;
        print_failure(std::string(t.p->texts->name), error, "");
        return;
    }
    const suite_run::program_run ran = drive_step(s, t, *dir);
    const record::ProgramRecord& facts = ran.record;
    s.run.programs.push_back(facts);
    const std::string& problem = facts.problem;
    const std::string results = facts.results_file.value_or("");
    if (!problem.empty()) {
        ++s.failures;
        print_failure(std::string(t.p->texts->name), problem, *dir);
    } else {
        std::cout << "  done: " << common::terminal_safe(results) << std::endl;
        if (s.ab && t.v && !results.empty())
            s.ab->add(t.v->name, std::string(t.p->texts->name), *dir + "/" + results);
        if (s.o.until_stable > 0 && !results.empty()) {
            stability.add(stability_key(t), suite_run::results_headline(*dir + "/" + results));
            std::cout << "  " << common::terminal_safe(stability_key(t)) << ": "
                      << stability.progress(stability_key(t)) << std::endl;
        }
    }
    replace_lost_server(s);
    record_in_store(s, *dir, ran);
}

// Without variants the one "variant" is none at all.
std::vector<const suite_run::variant*> variants_of(const options& o) {
    std::vector<const suite_run::variant*> all;
    for (const auto& v : o.variants) all.push_back(&v);
    if (all.empty()) all.push_back(nullptr);
    return all;
}

// A program runs no more rounds once each rule given is met: every variant
// of it stable (--until-stable), its variants' answers clear (--rounds auto).
bool program_settled(const session& s, const program_entry* p,
                     const suite_run::Stability& stability) {
    const bool stabilising = s.o.until_stable > 0;
    if (!stabilising && !s.ab) return false;
    if (s.ab && !s.ab->decided(std::string(p->texts->name))) return false;
    if (stabilising)
        for (const auto* v : variants_of(s.o))
            if (!stability.settled(stability_key({0, v, p}))) return false;
    return true;
}

std::vector<std::string> chosen_names(const session& s) {
    std::vector<std::string> names;
    for (const program_entry* p : s.chosen) names.emplace_back(p->texts->name);
    return names;
}

// What each rule says of why the rounds stopped, for run.json.
void record_rounds(session& s, const suite_run::Stability& stability, int rounds_run,
                   double seconds) {
    const bool interrupted = suite_run::stop_signal() != 0;
    if (s.o.until_stable > 0) {
        std::vector<std::string> keys;
        for (const program_entry* p : s.chosen)
            for (const auto* v : variants_of(s.o)) keys.push_back(stability_key({0, v, p}));
        s.run.until_stable = stability.record(keys, interrupted, seconds);
    }
    if (s.ab) {
        s.run.rounds = rounds_run;
        s.run.rounds_stopped =
            s.ab->record(chosen_names(s), interrupted, seconds >= s.o.max_time);
    }
}

void run_rounds(session& s, suite_run::Stability& stability) {
    const auto all = variants_of(s.o);
    const double began = driver::now();
    const auto all_settled = [&] {
        for (const program_entry* p : s.chosen)
            if (!program_settled(s, p, stability)) return false;
        return true;
    };
    const bool bounded = s.o.until_stable > 0 || s.ab;
    int r = 1;
    for (; r <= rounds_of(s.o) && !suite_run::stop_signal(); ++r) {
        if (bounded && (all_settled() || driver::now() - began >= s.o.max_time)) break;
        for (const int vi : suite_run::round_order(static_cast<int>(all.size()), r)) {
            for (const program_entry* p : s.chosen) {
                if (suite_run::stop_signal()) break;
                if (program_settled(s, p, stability)) continue;
                run_step(s, {r, all[static_cast<std::size_t>(vi)], p}, stability);
            }
        }
        if (s.ab && r >= 2 && !suite_run::stop_signal()) s.ab->judge(chosen_names(s), r, std::cout);
    }
    record_rounds(s, stability, r - 1, driver::now() - began);
}

// run.json as the run stands; once written, a later change (a stop that
// came after it) replaces the runner's own earlier one.
void write_run_json(session& s) {
    s.run.interrupted = suite_run::stop_signal() != 0;
    s.run.written = s.written;
    const std::string path = s.out + "/run.json", text = suite_run::json_text(s.run);
    std::string error;
    if (s.run_json_written ? suite_run::replace_own_file(path, text, error)
                           : suite_run::write_new_file(path, text, error)) {
        s.run_json_written = true;
        return;
    }
    std::cerr << "suite-run: " << common::terminal_safe(error) << "\n";
    ++s.failures;
}

int interrupted(const session& s, int stopped_by) {
    std::cout << "Interrupted by " << process::signal_name(stopped_by)
              << "; what ran is kept in: " << common::terminal_safe(s.out) << std::endl;
    return 128 + stopped_by;
}

// run.json, then what the user reads last; the exit status.
int finish(session& s) {
    write_run_json(s);
    s.server.reset();
    if (!suite_run::stop_signal()) show_summary(s.out, s.o.db);
    // A stop during the summary or the server's ending is a stop all the same.
    if (const int stopped_by = suite_run::stop_signal()) {
        if (!s.run.interrupted) write_run_json(s);
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
        s.run = run_header(s, argc, argv);
        s.run.gl.error = "not probed: the run ended before";
    }
    s.run.problem = why;
    write_run_json(s);
    s.server.reset();
    const int stopped_by = suite_run::stop_signal();
    return stopped_by ? interrupted(s, stopped_by) : status;
}

// With --require-hardware: why a variant's GL is not the GPU's, or "".
std::string not_hardware(const session& s) {
    if (!s.o.require_hardware) return "";
    const auto all = variants_of(s.o);
    for (std::size_t i = 0; i < all.size() && i < s.gl.size(); ++i) {
        const auto software = record::rendered_in_software(s.gl[i]);
        if (software == false) continue;
        record::RunHeader h = s.run;
        h.gl = s.gl[i];
        const std::string why = software ? report::software_problem(h)
                                         : "no GL to check: " + s.gl[i].error.value_or("no renderer");
        return (all[i] ? "variant " + all[i]->name + ": " : "") + why + " (--require-hardware)";
    }
    return "";
}

// The store's password and the variants' secrets, hidden wherever they
// would appear in what the runner prints or records.
void remember_secrets(const options& o) {
    common::remember_secrets_of(o.db);
    if (const char* password = std::getenv("PGPASSWORD"))
        common::remember_secrets_of(password, true);
    for (const auto& v : o.variants) suite_run::remember_secrets(v);
}

// Each variant's GL; 64 probes take a while, so a stop ends them, and the run, at once.
void probe_variants(session& s) {
    for (const auto* v : variants_of(s.o)) {
        if (!suite_run::stop_signal()) {
            probe_gl(s, v);
            continue;
        }
        record::GlRecord skipped;
        skipped.display = s.display;
        skipped.error = "not probed: stopped";
        s.gl.push_back(skipped);
        s.vsync.push_back(vsync_record(s.o, v, nullptr));
    }
}

}  // namespace

int run_suite(int argc, char** argv) {
    session s;
    s.o = suite_run::parse_options(argc, argv);
    s.chosen = choose_programs(s.o);
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
    suite_run::catch_stop_signals();
    // Daemons the programs detach come back to the runner, to be ended.
    process::adopt_orphans();
    store::set_stop_check(suite_run::stop_signal);  // a busy store must not hold up a stop
    driver::set_stop_check(suite_run::stop_signal);  // nor a window that will not resize
    if (s.o.db.empty())
        s.o.db = store::default_url((fs::path(s.out).parent_path() / "suite.db").string());
    remember_secrets(s.o);
    try {
        start_display(s);
        probe_variants(s);
        s.run = run_record(s, argc, argv);
        if (const std::string why = not_hardware(s); !why.empty())
            return end_early(s, argc, argv, why, 1);
        std::cout << (s.attended              ? "Running on your display "
                      : s.o.drive.on_display ? "Running unattended on your display "
                                             : "Running unattended on display ")
                  << s.display << " ("
                  << common::terminal_safe(s.gl.front().error ? "unknown renderer"
                                                              : s.gl.front().renderer)
                  << ")\n";
        suite_run::Stability stability(s.o.until_stable, s.o.max_repeat, s.o.max_time);
        if (auto_rounds(s.o)) {
            std::vector<std::string> names;
            for (const auto& v : s.o.variants) names.push_back(v.name);
            s.ab = std::make_unique<suite_run::AbRounds>(*s.run.rounds_auto, names);
        }
        run_rounds(s, stability);
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
        if (suite_run::stop_signal()) status = 128 + suite_run::stop_signal();
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

#include "suite_run/drive.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>

#include "driver/driver.h"
#include "process/descendants.h"
#include "process/spawn.h"
#include "process/stop.h"
#include "suite_run/ending.h"
#include "suite_run/gl_environment.h"
#include "suite_run/load_sampler.h"
#include "suite_run/run_files.h"

namespace suite_run {

namespace {
// What is kept of a program's output: its standard error's start, its
// console up to a size no benchmark comes near (past it, it is ended).
constexpr std::size_t error_cap = 1 << 20;
constexpr std::size_t first_line_cap = 1024;

std::string seconds_text(double s) { return std::to_string(static_cast<int>(s)) + " s"; }

// The one line of the program's progress: updated in place on a terminal,
// a line per step otherwise.
void progress(const std::string& text, bool last) {
    static const bool terminal = isatty(1);
    if (terminal)
        std::cout << "\r\033[K" << text << (last ? "\n" : "") << std::flush;
    else
        std::cout << text << std::endl;
}
struct kept_files {
    std::string results;  // the results file's name, "" if none
    std::string errors;   // standard error as kept
    bool frames = false;  // frames.csv written
    bool load = false;    // load.csv written
    std::vector<std::pair<std::string, std::string>> texts;  // each file's text
};

// Writes the program's console, standard error, exit status, frames.csv and
// the machine's load beside its results: each tried, whatever came of the
// others; the first failed write's reason is added to problem.
kept_files keep_output(const driver::Program& program, const std::string& dir,
                       const std::string& name, const std::string& marker,
                       std::optional<int> status, const std::vector<load_sample>& samples,
                       std::string& problem) {
    kept_files k;
    k.results = new_results_file(dir, name);
    k.errors = program.error_text();
    k.texts = {{"console.txt", program.console_text()},
               {"stderr.txt", k.errors},
               {"exit-status.txt", std::to_string(status ? *status : -1) + "\n"}};
    const std::string csv = k.results.empty()
                                ? ""
                                : frames_csv(dir + "/" + k.results, program.lines(),
                                             program.line_stamps_us(), marker);
    if (!csv.empty()) k.texts.emplace_back("frames.csv", csv);
    k.texts.emplace_back("load.csv", load_csv(samples));
    std::string first_error;
    for (const auto& [file, text] : k.texts) {
        std::string error;
        const bool kept = write_new_file(dir + "/" + file, text, error);
        if (!kept && first_error.empty()) first_error = error;
        if (file == "frames.csv") k.frames = kept;
        if (file == "load.csv") k.load = kept;
    }
    if (!first_error.empty()) problem += (problem.empty() ? "" : "; ") + first_error;
    return k;
}
}  // namespace

namespace {

// What driving a program found, beside what it left in its files.
struct driven {
    std::string problem;  // "" when it went as planned
    bool window_found = false;
    std::pair<int, int> window_size{0, 0};
    int measured_from = -1;  // frame reports before the measured ones; -1: none measured
    std::string asked;       // on an existing display: the size asked of the window manager,
    std::string granted;     // and the size it granted where that differs; else ""
    std::string hidden;      // what hid the window while frames were measured; "" nothing
    std::optional<record::GlEnvironment> gl_environment;  // the running program's
};

// The measured frames: "r", then each frame report until the asked number,
// the program's own end, a hang or a stop. The problem, or "".
std::string measure_frames(driver::Program& program, driver::Window& window,
                           const program_entry& p, const drive_options& o, LoadSampler& load,
                           driven& d, const std::function<bool()>& go_on) {
    const std::string name(p.texts->name), marker(p.texts->frame_marker);
    const auto ended = [&] { return program.wait_for_line(std::string(texts::prompt), 0) >= 0; };
    if (o.on_display) window.watch_from_now();
    window.key("r");
    const int frames = o.frames >= 0 ? o.frames : p.frames;
    const double start = driver::now();
    int seen = program.count(marker);
    d.measured_from = seen;
    load.mark(seen);
    double deadline = driver::now() + o.hang_after;
    const int last = frames > 0 ? frames : p.last_frame;
    const std::string of = last > 0 ? " of " + std::to_string(last) : "";
    std::string problem;
    // A stop is seen even while frames keep coming.
    while (!ended() && (frames == 0 || seen < frames) && !process::stop_signal()) {
        if (o.on_display) window.keep_in_view();
        if (program.wait_for_count(marker, seen + 1, o.on_display ? 0.2 : 1)) {
            seen = program.count(marker);
            load.mark(seen);
            deadline = driver::now() + o.hang_after;
            progress("  " + name + ": frame " + std::to_string(seen) + of + ", " +
                         seconds_text(driver::now() - start),
                     false);
        } else if (!go_on()) {
            problem = "it ended without its final report";
            break;
        } else if (driver::now() > deadline) {
            problem = "no new frame within " + seconds_text(o.hang_after);
            break;
        }
    }
    if (o.on_display) d.hidden = window.hidden_since();
    if (seen > 0)
        progress("  " + name + ": " + std::to_string(seen) + " frame(s), " +
                     seconds_text(driver::now() - start),
                 true);
    return problem;
}

std::string size_text(std::pair<int, int> s) {
    return std::to_string(s.first) + "x" + std::to_string(s.second);
}

// The size asked for (none: the program's own), set as the private server
// sets it, or asked of the user's window manager, which may grant less.
void size_window(driver::Window& window, const program_entry& p, const drive_options& o,
                 driven& d) {
    std::pair<int, int> asked{0, 0};
    if (o.width > 0) asked = {o.width, o.height};
    else if (p.width > 0) asked = {p.width, p.height};
    if (!o.on_display && asked.first > 0) window.resize(asked.first, asked.second);
    if (o.on_display) {
        if (asked.first == 0) asked = window.own_size();
        // A 1440x1440 default does not fit a 1080-line screen: ask for what does.
        if (o.screen_width > 0) asked.first = std::min(asked.first, o.screen_width);
        if (o.screen_height > 0) asked.second = std::min(asked.second, o.screen_height);
        const auto granted = window.ask_size(asked.first, asked.second);
        d.asked = size_text(asked);
        if (granted != asked) d.granted = size_text(granted);
    }
    d.window_size = window.size();
}

// Drives the program as a person would: its window, its initialisation, the
// window's size, the measured frames, Esc for its final report, Enter. Every
// wait is made in short slices, so that a stop signal, a lost server or a
// program that died is seen at once.
driven drive(driver::Program& program, const program_entry& p, const std::string& display,
             const drive_options& o, LoadSampler& load, const std::function<bool()>& go_on,
             const std::vector<unsigned long>& before) {
    driven d;
    const auto wait_line = [&](std::string_view text, double timeout) {
        const double end = driver::now() + timeout;
        int at = -1;
        while (at < 0 && go_on() && driver::now() < end)
            at = program.wait_for_line(std::string(text), std::min(1.0, timeout));
        return at >= 0 ? at : program.wait_for_line(std::string(text), 0);
    };
    const double started = driver::now();
    try {
        std::optional<driver::Window> window;
        const std::string title(p.texts->window_title);
        while (!window && go_on() && driver::now() - started < o.window_timeout)
            window = o.on_display
                         ? driver::Window::find_client(display, title, program.pid(), before, 1)
                         : driver::Window::find(display, title, 1);
        d.window_found = window.has_value();
        // Its window is open: whatever wrapper started it, the program that draws now runs.
        if (window) d.gl_environment = program_environment(program.pid());
        if (!window)
            d.problem = program.running()
                            ? "its window did not open within " + seconds_text(o.window_timeout)
                            : "it ended before its window opened";
        else if (wait_line(texts::initialised, o.init_timeout) < 0)
            d.problem = program.running() ? "it did not finish its initialisation within " +
                                                seconds_text(o.init_timeout)
                                          : "it ended during its initialisation";
        if (!d.problem.empty()) return d;
        size_window(*window, p, o, d);
        d.problem = measure_frames(program, *window, p, o, load, d, go_on);
        const bool ended = program.wait_for_line(std::string(texts::prompt), 0) >= 0;
        if (d.problem.empty() && !ended) {
            window->key("Escape");
            if (wait_line(texts::prompt, o.hang_after) < 0) d.problem = "no final report after Esc";
        }
        program.type("\n");
    } catch (const driver::x_error& e) {
        d.problem = e.what();
    }
    return d;
}

// After driving: the program ended (at the console's cap) or waited for,
// killed when it does not exit; what was seen, for why_it_ended.
run_ending_seen finish(driver::Program& program, const driven& d,
                        const std::function<bool()>& server_alive) {
    run_ending_seen f;
    f.driving_problem = d.problem;
    f.window_found = d.window_found;
    f.stop_while_driving = process::stop_signal();
    f.console_full = program.console_full();
    f.server_lost = !server_alive();
    if (!f.stop_while_driving && f.console_full) program.kill_now(SIGKILL);
    const bool troubled =
        !d.problem.empty() || f.stop_while_driving || f.console_full || f.server_lost;
    for (double end = driver::now() + (troubled ? 1 : 60);
         !f.status && driver::now() < end && !(process::stop_signal() && !f.stop_while_driving);)
        f.status = program.wait_exit(0.2);
    if (!f.status) {
        program.kill_now(SIGKILL);
        f.exit_waited_out = true;
        f.status = program.wait_exit(10);
    }
    if (!f.stop_while_driving) f.stop_while_waiting = process::stop_signal();
    return f;
}

// What outlived the program: those that held its output open, and the
// orphans that came back to the runner (detached daemons), all ended.
std::vector<pid_t> strays_ended(const driver::Program& program, pid_t x_server) {
    auto strays = program.strays_ended();
    for (pid_t p : process::end_children_but({x_server, program.pid()}))
        if (std::find(strays.begin(), strays.end(), p) == strays.end()) strays.push_back(p);
    return strays;
}

// What the user's desktop did to the window, in the record and on the console.
void tell_window(record::ProgramRecord& r, const driven& d) {
    if (!d.granted.empty()) {
        r.window_granted = d.granted;
        std::cout << "  note: the window manager granted " << d.granted << " of the " << d.asked
                  << " asked for" << std::endl;
    }
    if (!d.hidden.empty()) {
        r.window_hidden = d.hidden;
        std::cout << "  note: the window was " << d.hidden
                  << " while its frames were measured (a compositor may slow a window it does "
                     "not show)"
                  << std::endl;
    }
}

driver::launch launch_of(const std::string& exe, const std::string& dir,
                         const std::string& display, const std::vector<std::string>& env) {
    driver::launch how;
    how.executable = exe;
    how.directory = dir;
    how.display = display;
    how.env = env;
    how.error_cap = error_cap;
    how.console_cap = console_cap;
    return how;
}

}  // namespace

program_run run_unattended(const program_entry& p, const std::string& exe,
                           const std::string& dir, const std::string& display,
                           const std::vector<std::string>& env, const drive_options& o,
                           const std::function<bool()>& server_alive) {
    const std::string name(p.texts->name);
    const std::string marker(p.texts->frame_marker);
    // What the machine did just before: a busy start is told apart from a busy run.
    const nlohmann::json quiet = quiet_check(o.x_server_pid, o.quiet_seconds);
    // The user's windows before the program's: a new one of its title is its own.
    const auto before = o.on_display ? driver::Window::client_windows(display)
                                     : std::vector<unsigned long>{};
    const double started = driver::now();
    driver::Program program(launch_of(exe, dir, display, env));
    LoadSampler load(program.pid(), o.x_server_pid);
    const auto go_on = [&] {
        return !process::stop_signal() && server_alive() && !program.console_full() &&
               program.running();
    };
    const driven d = drive(program, p, display, o, load, go_on, before);
    const run_ending_seen seen = finish(program, d, server_alive);
    std::string problem = why_it_ended(seen).problem;
    load.stop();
    const auto samples = load.samples();
    const kept_files kept = keep_output(program, dir, name, marker, seen.status, samples, problem);
    const auto strays = strays_ended(program, o.x_server_pid);
    if (!strays.empty())
        std::cout << "  note: " << name << " left " << strays.size()
                  << " process(es) running after it ended; they were ended" << std::endl;
    const std::string first_line = kept.errors.substr(0, kept.errors.find('\n'));
    const int stopped_by = seen.stop_while_driving ? seen.stop_while_driving
                                                   : seen.stop_while_waiting;
    record::ProgramRecord r;
    r.program = name;
    r.executable = exe;
    r.exit_status = seen.status ? *seen.status : -1;
    r.frames_measured = program.count(marker);
    r.window_size = std::to_string(d.window_size.first) + "x" + std::to_string(d.window_size.second);
    r.results_file = kept.results;
    r.console = "console.txt";
    r.stderr_file = "stderr.txt";
    r.stderr_first_line = first_line.substr(0, first_line_cap);
    r.stderr_first_line_cut = first_line.size() > first_line_cap;
    r.stderr_bytes_not_kept = program.error_bytes_not_kept();
    r.console_bytes_not_kept = program.console_bytes_not_kept();
    r.strays_ended = std::vector<long long>(strays.begin(), strays.end());
    r.frames_file = kept.frames ? "frames.csv" : "";
    r.seconds = driver::now() - started;
    r.load = {{"quiet_check", quiet},
              {"measured", load_summary(samples, d.measured_from)},
              {"samples_file", kept.load ? "load.csv" : ""}};
    r.interrupted = stopped_by != 0;
    r.problem = problem;
    r.gl_environment = d.gl_environment;
    tell_window(r, d);
    return {r, kept.texts};
}

int run_attended(const std::string& exe, const std::string& dir,
                 const std::vector<std::string>& env) {
    process::child_setup s;
    s.argv = {exe};
    s.directory = dir;
    s.env = env;
    // The terminal's own: the program reads it and gets its Ctrl-C.
    s.own_group = false;
    try {
        const int raw = process::wait_raw(process::spawn(s));
        process::end_children_but({});  // no server of the runner's: the user's display
        if (raw < 0) return 126;
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    } catch (const std::exception&) {
        return 126;
    }
}

}  // namespace suite_run

#include "suite_run/drive.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <iostream>

#include "driver/driver.h"
#include "process/spawn.h"
#include "suite_run/load_sampler.h"
#include "suite_run/records.h"

namespace suite_run {

namespace {
volatile sig_atomic_t stop_requested = 0;
void on_stop(int signal) {
    if (!stop_requested) stop_requested = signal;
}

// What is kept of a program's output: its standard error's start, its
// console up to a size no benchmark comes near (past it, it is ended).
constexpr std::size_t error_cap = 1 << 20;
constexpr std::size_t console_cap = 32 << 20;
constexpr std::size_t first_line_cap = 1024;
const std::string console_full_text = "its console output passed " +
                                      std::to_string(console_cap >> 20) +
                                      " MiB; the runner ended it";

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
};

// Writes the program's console, standard error, exit status, frames.csv and
// the machine's load beside its results; a failed write's reason is added to problem.
kept_files keep_output(const driver::Process& program, const std::string& dir,
                       const std::string& name, const std::string& marker,
                       std::optional<int> status, const std::vector<load_sample>& samples,
                       std::string& problem) {
    kept_files k;
    k.results = new_results_file(dir, name);
    k.errors = program.error_text();
    std::string error;
    bool kept = write_new_file(dir + "/console.txt", program.console_text(), error) &&
                write_new_file(dir + "/stderr.txt", k.errors, error) &&
                write_new_file(dir + "/exit-status.txt",
                               std::to_string(status ? *status : -1) + "\n", error);
    const std::string csv = k.results.empty()
                                ? ""
                                : frames_csv(dir + "/" + k.results, program.lines(),
                                             program.line_stamps_us(), marker);
    if (kept && !csv.empty()) kept = k.frames = write_new_file(dir + "/frames.csv", csv, error);
    if (kept) kept = k.load = write_new_file(dir + "/load.csv", load_csv(samples), error);
    if (!kept) problem += (problem.empty() ? "" : "; ") + error;
    return k;
}
}  // namespace

int stop_signal() { return stop_requested; }

void catch_stop_signals() {
    struct sigaction a {};
    a.sa_handler = on_stop;
    sigemptyset(&a.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &a, nullptr);
}

nlohmann::json run_unattended(const program_entry& p, const std::string& exe,
                              const std::string& dir, const std::string& display,
                              const drive_options& o, const std::function<bool()>& server_alive) {
    const std::string name(p.texts->name);
    const std::string marker(p.texts->frame_marker);
    const std::string prompt(texts::prompt);
    driver::launch how;
    how.executable = exe;
    how.directory = dir;
    how.display = display;
    how.error_cap = error_cap;
    how.console_cap = console_cap;
    // What the machine did just before: a busy start is told apart from a busy run.
    const nlohmann::json quiet = quiet_check(o.x_server_pid, o.quiet_seconds);
    driver::Process program(how);
    LoadSampler load(program.pid(), o.x_server_pid);
    int measured_from = -1;
    const double started = driver::now();
    std::string problem;
    std::pair<int, int> window_size{0, 0};
    bool killed_by_runner = false;
    bool window_found = false;
    // Every wait is made in short slices, so that a stop signal, a lost
    // server or a program that died is seen at once.
    const auto go_on = [&] {
        return !stop_signal() && server_alive() && !program.console_full() && program.running();
    };
    const auto wait_line = [&](std::string_view text, double timeout) {
        const double end = driver::now() + timeout;
        int at = -1;
        while (at < 0 && go_on() && driver::now() < end)
            at = program.wait_for_line(std::string(text), std::min(1.0, timeout));
        return at >= 0 ? at : program.wait_for_line(std::string(text), 0);
    };
    const auto ended = [&] { return program.wait_for_line(prompt, 0) >= 0; };

    try {
        std::optional<driver::Window> window;
        while (!window && go_on() && driver::now() - started < o.window_timeout)
            window = driver::Window::find(display, std::string(p.texts->window_title), 1);
        window_found = window.has_value();
        if (!window) {
            problem = program.running() ? "its window did not open within " +
                                              seconds_text(o.window_timeout)
                                        : "it ended before its window opened";
        } else if (wait_line(texts::initialised, o.init_timeout) < 0) {
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
            int seen = program.count(marker);
            measured_from = seen;
            load.mark(seen);
            double deadline = driver::now() + o.hang_after;
            const int last = frames > 0 ? frames : p.last_frame;
            const std::string of = last > 0 ? " of " + std::to_string(last) : "";
            while (!ended() && (frames == 0 || seen < frames)) {
                if (program.wait_for_count(marker, seen + 1, 1)) {
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
            if (seen > 0) progress("  " + name + ": " + std::to_string(seen) + " frame(s), " +
                                       seconds_text(driver::now() - start), true);
            if (problem.empty() && !ended()) {
                window->key("Escape");
                if (wait_line(prompt, o.hang_after) < 0) problem = "no final report after Esc";
            }
            program.type("\n");
        }
    } catch (const driver::x_error& e) {
        problem = e.what();
    }
    int stopped_by = stop_signal();
    if (stopped_by) {
        problem = "interrupted by " + process::signal_name(stopped_by);
    } else if (program.console_full()) {
        problem = console_full_text;
        program.kill_now(SIGKILL);
        killed_by_runner = true;
    } else if (!server_alive()) problem = "the X server was lost";

    std::optional<int> status;
    for (double end = driver::now() + (problem.empty() ? 60 : 1);
         !status && driver::now() < end && !(stop_signal() && !stopped_by);)
        status = program.wait_exit(0.2);
    if (!status) {
        program.kill_now(SIGKILL);
        killed_by_runner = true;
        status = program.wait_exit(10);
        if (problem.empty()) problem = "it did not exit after Enter";
    }
    if (!stopped_by && stop_signal()) {
        stopped_by = stop_signal();
        problem = "interrupted by " + process::signal_name(stopped_by);
    }
    if (status && *status < 0 && !killed_by_runner && !stopped_by)
        problem = process::signal_text(-*status);
    else if (status && !window_found && *process::setup_failure_text(*status))
        problem = process::setup_failure_text(*status);
    else if (problem.empty() && status && *status != 0)
        problem = "it exited with status " + std::to_string(*status);

    load.stop();
    const auto samples = load.samples();
    const kept_files kept = keep_output(program, dir, name, marker, status, samples, problem);
    const std::string& errors = kept.errors;
    const auto strays = program.strays_ended();
    if (!strays.empty())
        std::cout << "  note: " << name << " left " << strays.size()
                  << " process(es) holding its output open; they were ended" << std::endl;
    const std::string first_line = errors.substr(0, errors.find('\n'));
    return {
        {"program", name},
        {"executable", exe},
        {"exit_status", status ? *status : -1},
        {"frames_measured", program.count(marker)},
        {"window_size", std::to_string(window_size.first) + "x" +
                            std::to_string(window_size.second)},
        {"results_file", kept.results},
        {"console", "console.txt"},
        {"stderr", "stderr.txt"},
        {"stderr_first_line", first_line.substr(0, first_line_cap)},
        {"stderr_first_line_cut", first_line.size() > first_line_cap},
        {"stderr_bytes_not_kept", program.error_bytes_not_kept()},
        {"console_bytes_not_kept", program.console_bytes_not_kept()},
        {"strays_ended", strays},
        {"frames_file", kept.frames ? "frames.csv" : ""},
        {"seconds", driver::now() - started},
        {"load", {{"quiet_check", quiet},
                  {"measured", load_summary(samples, measured_from)},
                  {"samples_file", kept.load ? "load.csv" : ""}}},
        {"interrupted", stopped_by != 0},
        {"problem", problem},
    };
}

int run_attended(const std::string& exe, const std::string& dir) {
    process::child_setup s;
    s.argv = {exe};
    s.directory = dir;
    // The terminal's own: the program reads it and gets its Ctrl-C.
    s.own_group = false;
    try {
        const int raw = process::wait_raw(process::spawn(s));
        if (raw < 0) return 126;
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    } catch (const std::exception&) {
        return 126;
    }
}

}  // namespace suite_run

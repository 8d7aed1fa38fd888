#include "suite_run/ending.h"

#include "process/spawn.h"

namespace suite_run {

std::string console_full_text() {
    return "its console output passed " + std::to_string(console_cap >> 20) +
           " MiB; the runner ended it";
}

bool killed_by_runner(const run_ending_seen& f) {
    return (!f.stop_while_driving && f.console_full) || f.exit_waited_out;
}

run_ending why_it_ended(const run_ending_seen& f) {
    run_ending e{f.driving_problem.empty() ? ending::as_asked : ending::driving,
                 f.driving_problem};
    const auto set = [&](ending why, std::string problem) { e = {why, std::move(problem)}; };
    int stopped = f.stop_while_driving;
    // What ended the driving overrides what driving found of it.
    if (stopped)
        set(ending::interrupted, "interrupted by " + process::signal_name(stopped));
    else if (f.console_full)
        set(ending::console_full, console_full_text());
    else if (f.server_lost)
        set(ending::server_lost, "the X server was lost");
    if (f.exit_waited_out && e.problem.empty()) set(ending::no_exit, "it did not exit after Enter");
    if (!stopped && f.stop_while_waiting) {
        stopped = f.stop_while_waiting;
        set(ending::interrupted, "interrupted by " + process::signal_name(stopped));
    }
    // How it exited says more than any of those, unless the runner caused it.
    const auto& s = f.status;
    if (s && *s < 0 && !killed_by_runner(f) && !stopped)
        set(ending::signal, process::signal_text(-*s));
    else if (s && !f.window_found && *process::setup_failure_text(*s))
        set(ending::setup_failed, process::setup_failure_text(*s));
    else if (e.problem.empty() && s && *s != 0)
        set(ending::exit_status, "it exited with status " + std::to_string(*s));
    return e;
}

}  // namespace suite_run

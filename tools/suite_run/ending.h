// Why a program's unattended run ended, decided from what the runner saw:
// no process, window or clock is needed, so every case can be tried alone.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace suite_run {

// What the runner saw of a program's run once driving it was over.
struct run_ending_seen {
    std::string driving_problem;  // what driving it found; "" if it went as planned
    int stop_while_driving = 0;   // the stop signal asked for by then; 0 none
    bool console_full = false;    // its console passed the cap
    bool server_lost = false;     // the X server was gone
    bool window_found = false;
    bool exit_waited_out = false;  // it had not exited when the wait ended, and was killed
    int stop_while_waiting = 0;    // a stop signal asked for while waiting for its exit
    std::optional<int> status;     // exit status; negative: the signal that ended it
};

enum class ending {
    as_asked,      // Esc, Enter, exit status 0
    driving,       // a window, an initialisation, a frame or a report that did not come
    interrupted,   // the runner was asked to stop
    console_full,  // the runner ended it at its console's cap
    server_lost,
    no_exit,       // it did not exit after Enter
    signal,        // ended by a signal the runner did not send
    setup_failed,  // it could not be started at all
    exit_status,   // it exited with a status other than 0
};

struct run_ending {
    ending why = ending::as_asked;
    std::string problem;  // as the runner tells it; "" when it went as asked
};

run_ending why_it_ended(const run_ending_seen& f);

// Whether the runner itself ended the program, so that its signal is no crash.
bool killed_by_runner(const run_ending_seen& f);

// A program's console is kept up to a size no benchmark comes near; past
// it, the program is ended, and this is said.
inline constexpr std::size_t console_cap = 32 << 20;
std::string console_full_text();

}  // namespace suite_run

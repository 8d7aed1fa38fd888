// Why an unattended run ended, case by case, with the texts the runner
// prints (scripts read them), decided without a program.
#include <gtest/gtest.h>

#include "suite_run/ending.h"

namespace {

using suite_run::ending;
using suite_run::run_ending_seen;

struct ending_case {
    const char* what;
    run_ending_seen seen;
    ending why;
    std::string problem;
};

run_ending_seen seen(std::optional<int> status, bool window = true) {
    run_ending_seen f;
    f.status = status;
    f.window_found = window;
    return f;
}

template <class Change>
run_ending_seen with(run_ending_seen f, Change change) {
    change(f);
    return f;
}

TEST(RunEnding, EveryWayARunEndsIsToldAsTheRunnerTellsIt) {
    const std::string hang = "no new frame within 300 s";
    const std::vector<ending_case> cases = {
        {"as asked", seen(0), ending::as_asked, ""},
        {"a hang, then exit 0", with(seen(0), [&](auto& f) { f.driving_problem = hang; }),
         ending::driving, hang},
        {"a hang, then a status", with(seen(3), [&](auto& f) { f.driving_problem = hang; }),
         ending::driving, hang},
        {"a crash says more than the hang it caused",
         with(seen(-11), [&](auto& f) { f.driving_problem = hang; }), ending::signal,
         "crashed: signal 11 (SIGSEGV)"},
        {"stopped while driving, killed by the runner",
         with(seen(-9), [](auto& f) { f.stop_while_driving = 15; f.exit_waited_out = true; }),
         ending::interrupted, "interrupted by signal 15 (SIGTERM)"},
        {"stopped while waiting for the exit",
         with(seen(-2), [](auto& f) { f.stop_while_waiting = 2; }), ending::interrupted,
         "interrupted by signal 2 (SIGINT)"},
        {"the console cap: the runner's own kill is no crash",
         with(seen(-9), [](auto& f) { f.console_full = true; }), ending::console_full,
         suite_run::console_full_text()},
        {"the server lost, over what driving found",
         with(seen(1), [&](auto& f) { f.server_lost = true; f.driving_problem = hang; }),
         ending::server_lost, "the X server was lost"},
        {"no exit after Enter", with(seen(-9), [](auto& f) { f.exit_waited_out = true; }),
         ending::no_exit, "it did not exit after Enter"},
        {"not started", seen(127, false), ending::setup_failed,
         "it could not be started (not found or not executable)"},
        {"127 of its own, after its window", seen(127), ending::exit_status,
         "it exited with status 127"},
        {"a status of its own", seen(3), ending::exit_status, "it exited with status 3"},
        {"a signal of its own", seen(-6), ending::signal, "crashed: signal 6 (SIGABRT)"},
    };
    for (const auto& c : cases) {
        const auto e = suite_run::why_it_ended(c.seen);
        EXPECT_EQ(e.why, c.why) << c.what;
        EXPECT_EQ(e.problem, c.problem) << c.what;
    }
    EXPECT_EQ(suite_run::console_full_text(),
              "its console output passed 32 MiB; the runner ended it");
}

}  // namespace

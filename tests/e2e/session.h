// An end-to-end session: one benchmark binary started in a fresh directory on
// a private X server (or $DISPLAY), with helpers to read what it reported.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/driver.h"

namespace e2e {

std::vector<std::string> read_lines(const std::string& path);
std::string read_text(const std::string& path);
// Files in dir whose names start with prefix.
std::vector<std::string> files_starting(const std::string& dir, const std::string& prefix);
// The number that follows prefix at the start of line, read as the report
// reads it; nullopt if the line does not have that form or the number does
// not parse.
std::optional<double> number_after(const std::string& line, const std::string& prefix,
                                   const std::string& suffix);
// True when a and b agree within the six significant digits that are printed
// (the report's own test, with a computed value's share of 1e-5).
bool same_printed(double a, double b);

// When the program's main thread is blocked in freeglut's wait for events
// (the only pselect in it; X replies are waited for with poll), it has no
// frame to draw and no event to handle: its count of voluntary switches then,
// to tell whether it has woken since. nullopt while it is doing anything else.
std::optional<long> waiting_for_events(pid_t pid);
// The state letter of /proc/PID/stat ('R', 'S', 'T' stopped, 'Z' zombie...);
// 0 once the process is gone.
char process_state(pid_t pid);

// Generous limits: a software-rendered frame takes seconds and the machine
// may be running two tests at once.
inline constexpr double startup_timeout = 180;
inline constexpr double frame_timeout = 90;

class Session : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Starts the program and waits for its window; fails the test if none comes.
    void start(const std::string& executable, const std::string& title,
               driver::launch options = {});
    // The one results file the program created.
    std::string results_file(const std::string& prefix) const;
    // Waits until the program waits for events with nothing left to draw,
    // and returns the lines starting with `marker` that its results file
    // then holds (the console's reader may still be behind); -1 if it never
    // rests within timeout seconds.
    int settle(const std::string& prefix, const std::string& marker,
               double timeout = frame_timeout);

    std::unique_ptr<driver::XServer> server;
    std::string display;
    std::string directory;
    std::unique_ptr<driver::Program> program;
    std::optional<driver::Window> window;
};

}  // namespace e2e

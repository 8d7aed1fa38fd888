// What the robustness cases share: the three programs, a private X server and
// a fresh directory per case, and what the report's parser finds wrong with a
// results file.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "session.h"
#include "texts/texts.h"

namespace robust {

struct bench {
    std::string name;  // "cube", "screens", "triangles"
    std::string executable;
    std::string title;   // of its window
    std::string banner;  // first line of its results file
    std::string prefix;  // of its results file's name
    std::string marker;  // starts a console line once per measured frame
};
const bench& cube();
const bench& screens();
const bench& triangles();

// How a results file ended.
enum class ending { none, summary, limit };

// A results file as the report's parser reads it, with what the cases ask.
struct results {
    std::string problem;                           // empty when the file is as it must be
    int frames = 0;                                // whole frame blocks
    bool partial_block = false;                    // the file ends inside one (a run cut short)
    double seconds = 0;                            // their seconds, summed
    double triangles = 0;                          // their triangles, summed (triangles only)
    std::vector<std::vector<std::string>> blocks;  // figure lines of each block
    ending end = ending::none;
};

// Reads the text of a results file. A run that ended at Esc or at its limit
// (cut_short false) must show its head, whole frame blocks and a summary that
// agrees with them; one cut short may stop at any byte.
results parse_results(const bench& b, const std::string& text, bool cut_short);
// The figure lines of every frame block on the console, in order.
std::vector<std::vector<std::string>> console_blocks(const bench& b,
                                                     const std::vector<std::string>& lines);

using e2e::files_starting;
using e2e::number_after;
using e2e::read_lines;
using e2e::read_text;

inline const std::string prompt(texts::prompt);
inline const std::string saved_line = "Results have been saved in a file and you can find it at: ";
inline const std::string lost_line = "Results could not be saved completely in the file: ";

// Generous limits: software-rendered frames take seconds and two cases may
// run at once.
inline constexpr double startup_timeout = 180;
inline constexpr double frame_timeout = 120;

// A case: its own X server (never $DISPLAY: cases rebind keys and kill
// servers) and its own directory, kept when the case fails.
class Case : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Closes the driver's window and ends the program if it still runs;
    // a sanitiser's report on its stderr fails the case.
    void end_program();
    // Starts b and waits for its window and the end of its initialisation.
    void start(const bench& b, driver::launch how = {});
    // The one results file in dir (the case's directory by default).
    std::string results_file(const bench& b, const std::string& dir = {}) const;
    // Esc, the prompt, Enter; returns the exit status (nullopt: no exit).
    std::optional<int> finish(double report_timeout = frame_timeout);
    // Waits until the console shows n whole frame blocks of b.
    bool wait_for_blocks(const bench& b, std::size_t n, double timeout) const;
    // A copy of b's executable in the case's directory, where a user without
    // rights to the build tree can run it.
    std::string private_copy(const bench& b);

    std::unique_ptr<driver::XServer> server;
    std::string directory;
    std::unique_ptr<driver::Program> program;
    std::optional<driver::Window> window;
};

}  // namespace robust

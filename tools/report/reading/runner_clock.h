// The runner's own clock: frames.csv, written by suite-run beside a results
// file, holds for every frame the time between the arrival of its report
// line and the previous one's, in microseconds.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "report/reading/results.h"
#include "report/stats/stats.h"

namespace report {

// Beyond this the two clocks disagree: the programs' 1 ms clock plus 1 ms for
// the pipe and the scheduler between a program's line and the runner's read.
constexpr double runner_clock_tolerance = 0.002;


// Rows that do not parse are counted and left out; the header must be there.
FramesCsv parse_frames_csv(std::string_view text, const std::string& path);

// The two clocks side by side, over the frames that have both figures.
struct RunnerClock {
    std::size_t rows = 0, paired = 0;
    Distribution printed, runner;  // seconds
    double tolerance = runner_clock_tolerance;
    std::size_t beyond = 0;       // paired frames whose figures differ by more
    long long first_beyond = 0;   // frame number of the first of them
    bool mean_beyond = false, median_beyond = false, p99_beyond = false;
};

RunnerClock runner_clock(const FramesCsv& frames, double tolerance = runner_clock_tolerance);

// The first row whose printed time is not the results file's, if any.
std::optional<std::size_t> first_other_frame(const FramesCsv& frames,
                                             const std::vector<double>& seconds);
// Whether the rows are the results file's frames one for one, in order.
bool holds_these_frames(const FramesCsv& frames, const std::vector<double>& seconds);

// Warnings about frames.csv beside `results_path`: damaged rows, frames other
// than the results file's `seconds`, and the clocks' disagreements.
std::vector<Diagnostic> runner_clock_checks(const FramesCsv& frames, const RunnerClock& clock,
                                            const std::vector<double>& seconds,
                                            const std::string& results_path);

}  // namespace report

// The figures of one run, recomputed from its frame lines and checked
// against what the program printed.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "report/reading/results.h"
#include "report/reading/runner_clock.h"
#include "report/stats/stats.h"

namespace report {

// Characters one screens frame draws, and its plain-output pass writes.
constexpr double screens_characters_per_frame = 6450;
constexpr double screens_plain_characters = 2097152;

// A rate figure: Angles/sec, Vertex/sec, Characters/sec or Triangles/sec.
struct Rate {
    std::string name;
    std::vector<double> counts;     // counted per frame: 1 angle, N points, ...
    std::vector<double> per_frame;  // counts / frame seconds
    double average = 0;             // all counts over all frame time
    std::optional<Figure> printed_average;  // the summary's own figure
    bool average_agrees = true;
    double median = 0;   // of the per-frame rates
    double low_1 = 0;    // see low_rate(): slowest 1 %
    double low_01 = 0;   // slowest 0.1 %
};

// Triangles drawn per frame against the throughput at that size.
struct Throughput {
    double triangles_low = 0, triangles_high = 0;  // per frame, over the frames of the row
    std::size_t frames = 0;
    double mean_seconds = 0;
    double triangles_per_second = 0;  // their triangles over their time
};

struct Analysis {
    const Run* run = nullptr;
    std::string side;  // "A" or "B" when comparing
    std::vector<double> seconds;  // frame times, file order
    Distribution frame_time;      // seconds
    double total_seconds = 0;     // sum of frame times
    // The warm-up: the first frame's time over the median of the others, in
    // seconds; NaN with fewer than three frames. The printed averages hold it.
    double first_frame_excess = 0;
    bool total_agrees = true;     // with the summary's total, when printed
    std::vector<Rate> rates;      // main rate first
    double points_per_frame = 0;  // cube: the window's colour count
    std::size_t frames_zero_ms = 0, frames_within_1ms = 0;
    bool coarse = false;  // the millisecond clock dominates the figures
    std::vector<Throughput> throughput;  // triangles only
    std::optional<RunnerClock> runner;   // from frames.csv, where the runner left one
    // Each frame's runner interval in seconds (NaN where it had none), only
    // when frames.csv holds this run's frames, in order.
    std::vector<double> runner_intervals;
    std::vector<Diagnostic> checks;      // disagreements and clock warnings
};

// `frames`: the runner's frames.csv beside the results file, if any.
Analysis analyse(const Run& run, const FramesCsv* frames = nullptr);

// Rows of the throughput table: one per size, or per octave of sizes when
// there would be more than `max_rows`.
std::vector<Throughput> throughput_rows(const std::vector<double>& triangles,
                                        const std::vector<double>& seconds,
                                        std::size_t max_rows = 16);

}  // namespace report

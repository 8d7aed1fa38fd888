// What else the machine did while a run's frames were measured, as the
// runner recorded it, and whether that makes the run's figures a statement
// about the machine rather than about the program.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/files.h"
#include "report/reading/results.h"

namespace report {

// A run is busy when other processes used more than this many cores on
// average while its frames were measured (a quarter of a core, or a tenth of
// the machine's cores on a larger machine), or the hypervisor took more than
// this share of CPU time.
constexpr double busy_others_cores = 0.25;
constexpr double busy_others_share = 0.10;
constexpr double busy_steal_share = 0.02;

struct MachineLoad {
    int cores = 0;
    double others_cores = 0;  // mean, while frames were measured
    double steal_share = 0;
    std::optional<double> program_ms_per_frame;  // CPU, user and system
    std::optional<double> program_user_ms, program_system_ms;
    bool busy = false;
    std::string what;  // "others used 1.6 of 2 cores", with the steal when any
};

// Other processes' CPU in cores over the frames, from the runner's load.csv
// (cumulative counters, a row marked with each frame's number): (frame,
// cores) over spans of frames of at least half a second. Read a line at a
// time and only as far as the run's `frames` need: a row marked past them
// ends the reading, and so does the (frames + 2)-th marked row (the runner
// marks each frame once, and the start). At most other_load_points points,
// their frames rising; memory holds one row. Rows that do not parse are skipped.
constexpr std::size_t other_load_points = 2000;
std::vector<std::pair<double, double>> other_load_by_frame(common::LineReader& load_csv,
                                                           std::size_t frames);

// None for run folders that hold no load record (older runners, runs whose
// animation never started).
std::optional<MachineLoad> machine_load(const Run& run);
std::optional<MachineLoad> machine_load(const record::RunRecord& record);

}  // namespace report

// Two sides compared, program by program and figure by figure: the
// verdicts, and what withholds one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report/analysis/analysis.h"
#include "report/stats/compare.h"

namespace report {

// The verdict is on the headline: the average the programs print (all counts
// over all time), or the mean frame time. Medians and ranks are secondary.
// With two runs or more on a side, the runs are the independent units: the
// test and the intervals come from the runs' own headlines and medians. With
// one run a side, from batches of consecutive frames.
struct FigureComparison {
    std::string name;
    bool higher_is_better = false;
    std::size_t n_a = 0, n_b = 0;        // frames
    std::size_t runs_a = 0, runs_b = 0;  // runs with frames
    Unit unit = Unit::runs;              // what test and intervals were drawn from
    double average_a = 0, average_b = 0;
    double ratio = 0;   // average_a / average_b
    Interval interval;  // of the ratio, from the units
    Welch test;         // on the units' headlines
    double median_a = 0, median_b = 0;
    double median_ratio = 0;
    Interval median_interval;  // from the units' medians
    MannWhitney ranks;         // the units' medians of A against those of B
    Verdict verdict = Verdict::too_few;
    std::string withheld;  // why the verdict is inconclusive: "B measured on a busy machine (...)"
};

// The verdict as shown: its label, or "inconclusive: " and why.
std::string verdict_shown(const FigureComparison& f, double practical_percent);

// Which figure of a run: its frame time, or its rate number `rate` (from 0).
struct FigureOf {
    enum class Kind { frame_time, rate } kind = Kind::frame_time;
    std::size_t rate = 0;
};

struct ProgramComparison {
    Program program = Program::cube;
    std::vector<const Analysis*> a, b;
    std::vector<FigureComparison> figures;  // frame time, then each rate
    // What the runs of one side differ in (window size, renderer, variant),
    // "A pools runs of different window sizes (...)"; "" when each side is of a kind.
    std::string mixed;
    // The sides' window sizes when they differ, "A: 100x100; B: 200x200"; else "".
    std::string sizes_differ;
};

struct CompareOptions {
    int resamples = 2000;
    std::uint64_t seed = 1;
    double confidence = 0.95;
    double alpha = 0.05;
    double practical_percent = 1;  // smaller differences are "within" it
    bool allow_busy = false;       // judge runs measured on a busy machine all the same
    bool allow_mixed = false;      // pool runs of different sizes, renderers or variants in a side
};

// Side "A" against side "B", program by program, for the programs both
// sides have frames of.
std::vector<ProgramComparison> compare_sides(const std::vector<Analysis>& analyses,
                                             const CompareOptions& options);

// One run's frames for a figure: the parts of its headline and the
// per-frame values whose medians are compared.
struct FigureRun {
    RatioRun headline;
    std::vector<double> values;
};

// A verdict for one figure from two sets of runs.
FigureComparison compare_figure(const std::string& name, bool higher_is_better,
                                const std::vector<FigureRun>& a, const std::vector<FigureRun>& b,
                                const CompareOptions& options);
// The same for plain per-frame values, the headline being their mean.
FigureComparison compare_figure(const std::string& name, bool higher_is_better,
                                const std::vector<std::vector<double>>& a,
                                const std::vector<std::vector<double>>& b,
                                const CompareOptions& options);

}  // namespace report

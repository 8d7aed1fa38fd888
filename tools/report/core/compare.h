// Comparing two sets of measurements: the tests and intervals behind every
// verdict the report gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace report {

struct MannWhitney {
    double u = 0;            // U of the first sample: pairs where it is larger, ties half
    double z = 0;            // normal approximation, tie-corrected, continuity-corrected
    double p = 1;            // two-sided
};

// NaN values are left out. p is 1 when either sample is empty or every value
// is tied.
MannWhitney mann_whitney(const std::vector<double>& a, const std::vector<double>& b);

struct Interval {
    double low = 0, high = 0;
};

// Percentile bootstrap interval for median(a) / median(b). Each side is a set
// of runs, each a set of frame values: a resample draws that many runs with
// replacement and then, within each, that many of its frames with
// replacement, so the spread between runs counts as well as the spread
// within them. Deterministic for a given seed.
Interval bootstrap_median_ratio(const std::vector<std::vector<double>>& a,
                                const std::vector<std::vector<double>>& b,
                                int resamples, std::uint64_t seed, double confidence = 0.95);

// One run's frames for a figure whose headline is a ratio of sums, as the
// programs' own averages are: sum(numerator) / sum(denominator). The frame
// time's mean has the frame times over ones; a rate, the counts over the times.
struct RatioRun {
    std::vector<double> numerator, denominator;
};

// The programs' own average over all frames of the runs: sum(numerator) /
// sum(denominator), frames with a NaN part left out.
double headline(const std::vector<RatioRun>& runs);

// Percentile bootstrap interval for headline(a) / headline(b), drawing runs
// and then frames within them as bootstrap_median_ratio() does. Frames with a
// NaN part are left out.
Interval bootstrap_headline_ratio(const std::vector<RatioRun>& a, const std::vector<RatioRun>& b,
                                  int resamples, std::uint64_t seed, double confidence = 0.95);

struct Welch {
    std::size_t batches_a = 0, batches_b = 0;
    double t = 0, df = 0;
    double p = 1;  // two-sided; NaN when a side has fewer than two batches
};

// Welch's t test on batch means: each run is cut into up to `batches` runs of
// consecutive frames, each batch's headline is one value. Averaging whole
// batches tames heavy tails and clock steps and soaks up the correlation of
// neighbouring frames; Welch's form lets the sides' spreads differ.
Welch welch_batch_means(const std::vector<RatioRun>& a, const std::vector<RatioRun>& b,
                        std::size_t batches = 32);

// inconclusive: withheld, the data cannot carry a verdict about the program.
enum class Verdict { faster, slower, within, no_difference, too_few, inconclusive };
const char* verdict_text(Verdict v);
// As shown: "within 1%" names the practical threshold, in percent.
std::string verdict_label(Verdict v, double practical_percent);

// Whether a is faster than b in a figure whose ratio is a over b: both the
// test (p < alpha) and the interval (excluding 1) must agree, and a ratio
// closer to 1 than `practical` (a fraction, either way on a log scale) is
// "within" however sure the test is.
Verdict decide(double ratio, Interval interval, double p, bool higher_is_better,
               std::size_t n_a, std::size_t n_b, double alpha = 0.05, double practical = 0);

// One figure measured once per run, across repeated runs.
struct Spread {
    std::size_t n = 0;
    double mean = 0, sd = 0, cv = 0;  // cv: sd / mean, as a fraction
    double min = 0, max = 0;
};
Spread spread(const std::vector<double>& values);

}  // namespace report

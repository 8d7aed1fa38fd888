// Comparing two sets of measurements: the tests and intervals behind every
// verdict the report gives.
#pragma once

#include <cstddef>
#include <cstdint>
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

enum class Verdict { faster, slower, no_difference, too_few };
const char* verdict_text(Verdict v);

// Whether a is faster than b in a figure whose ratio is median(a) / median(b):
// both the test (p < alpha) and the interval (excluding 1) must agree.
Verdict decide(double ratio, Interval interval, double p, bool higher_is_better,
               std::size_t n_a, std::size_t n_b, double alpha = 0.05);

// One figure measured once per run, across repeated runs.
struct Spread {
    std::size_t n = 0;
    double mean = 0, sd = 0, cv = 0;  // cv: sd / mean, as a fraction
    double min = 0, max = 0;
};
Spread spread(const std::vector<double>& values);

}  // namespace report

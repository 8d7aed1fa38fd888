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

// One run's frames for a figure whose headline is a ratio of sums, as the
// programs' own averages are: sum(numerator) / sum(denominator). The frame
// time's mean has the frame times over ones; a rate, the counts over the times.
struct RatioRun {
    std::vector<double> numerator, denominator;
};

// The programs' own average over all frames of the runs: sum(numerator) /
// sum(denominator), frames with a NaN part left out.
double headline(const std::vector<RatioRun>& runs);

// The sums of a run of consecutive frames.
struct Sums {
    double numerator = 0, denominator = 0;
};

// A run's frames (those without a NaN part) cut into up to `batches` runs of
// consecutive frames, as even as the count allows.
std::vector<Sums> batch_sums(const RatioRun& run, std::size_t batches);

// How many batches one run of `frames` frames is cut into when it is a
// side's only run: about the square root, so a batch spans many neighbouring
// frames however they are correlated, and at most 32. Fewer than
// min_batches on a side give no verdict.
std::size_t batch_count(std::size_t frames);
inline constexpr std::size_t min_batches = 5;

struct Welch {
    std::size_t units_a = 0, units_b = 0;  // values each side had: runs or batches
    double t = 0, df = 0;
    double p = 1;  // two-sided; NaN when it cannot be told
};

// Welch's t test on one value per independent unit (a run's or a batch's
// headline); NaN values are left out. A side with a single value borrows the
// other side's spread (degrees of freedom from that side alone): one run
// cannot show how runs vary. p is NaN with fewer than three values in all.
Welch welch_values(const std::vector<double>& a, const std::vector<double>& b);

// The ratio of the two sides' geometric means judged on the logs of the
// units' values: Welch's t on the logs, and the exp of its interval for their
// difference. A figure that is a fixed amount over another (a rate over the
// frame time) has logs that are the other's negated plus a constant, so it
// gets the same test and exactly the reciprocal interval; and no bound can
// be zero or negative. A value that is not above zero and finite has no log:
// then p and the bounds are NaN.
struct LogRatio {
    Welch test;
    Interval interval;
};
LogRatio log_ratio(const std::vector<double>& a, const std::vector<double>& b,
                   double confidence = 0.95);

// What a comparison was judged on: the runs of each side as the independent
// units, or, with one run a side, batches of its consecutive frames.
enum class Unit { runs, batches };
const char* unit_name(Unit u);  // "runs", "batches"
// The sentence a report shows about it, for these counts of runs.
std::string judged_on(Unit u, std::size_t runs_a, std::size_t runs_b);

// inconclusive: withheld, the data cannot carry a verdict about the program.
// same: the whole interval lies within the practical threshold, an answer
// of its own; within: surely different, but by less than the threshold.
enum class Verdict { faster, slower, within, same, no_difference, too_few, inconclusive };
const char* verdict_text(Verdict v);
// As shown: "within 1%" and "the same within 1%" name the practical
// threshold, in percent.
std::string verdict_label(Verdict v, double practical_percent);

// Whether a is faster than b in a figure whose ratio is a over b: both the
// test (p < alpha) and the interval (excluding 1) must agree, and a ratio
// closer to 1 than `practical` (a fraction, either way on a log scale) is
// "within" however sure the test is. An interval wholly inside that
// threshold that is not surely different is "same". n_a and n_b count the independent units
// (runs or batches): a test needs one on each side and three in all.
struct Evidence {
    double ratio = 1;
    Interval interval;
    double p = 1;
    bool higher_is_better = false;
    std::size_t n_a = 0, n_b = 0;
    double alpha = 0.05, practical = 0;
};
Verdict decide(const Evidence& e);

// Whether the interval lies wholly beyond `practical` (a fraction, on a log
// scale) on one side of 1, or wholly inside it: an answer more data would
// not turn.
enum class Beyond { above, below, inside, neither };
Beyond against_threshold(Interval interval, double practical);

// Student's t interval for the mean of `values` (NaN bounds with fewer than two).
Interval mean_interval(const std::vector<double>& values, double confidence = 0.95);

// One figure measured once per run, across repeated runs.
struct Spread {
    std::size_t n = 0;
    double mean = 0, sd = 0, cv = 0;  // cv: sd / mean, as a fraction
    double min = 0, max = 0;
};
Spread spread(const std::vector<double>& values);

}  // namespace report

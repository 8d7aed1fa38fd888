#include "compare.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include <boost/math/distributions/students_t.hpp>

#include "number.h"
#include "stats.h"

namespace report {

namespace {
std::vector<double> without_nan(const std::vector<double>& values) {
    std::vector<double> kept;
    for (double v : values)
        if (!std::isnan(v)) kept.push_back(v);
    return kept;
}

// Index below n from splitmix64, so the same seed gives the same interval
// with any standard library. Scaling 53 random bits spares a division per
// draw; the bias is nil at these sizes.
std::size_t draw(std::uint64_t& state, std::size_t n) {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    z ^= z >> 31;
    return static_cast<std::size_t>(static_cast<double>(z >> 11) * 0x1.0p-53 *
                                    static_cast<double>(n));
}

double resampled_median(const std::vector<std::vector<double>>& runs, std::uint64_t& state,
                        std::vector<double>& scratch) {
    scratch.clear();
    for (std::size_t r = 0; r < runs.size(); ++r) {
        const auto& run = runs[draw(state, runs.size())];
        for (std::size_t i = 0; i < run.size(); ++i) scratch.push_back(run[draw(state, run.size())]);
    }
    if (scratch.empty()) return std::nan("");
    const std::size_t n = scratch.size();
    // Median by selection: the middle one, or the mean of the middle two.
    auto upper = scratch.begin() + static_cast<std::ptrdiff_t>(n / 2);
    std::nth_element(scratch.begin(), upper, scratch.end());
    if (n % 2) return *upper;
    const double lower = *std::max_element(scratch.begin(), upper);
    return lower == *upper ? lower : lower + (*upper - lower) / 2;
}

// The frames of each run whose numerator and denominator are both numbers;
// runs left empty are dropped.
std::vector<RatioRun> clean_ratio_runs(const std::vector<RatioRun>& runs) {
    std::vector<RatioRun> kept;
    for (const auto& run : runs) {
        RatioRun r;
        for (std::size_t i = 0; i < run.numerator.size() && i < run.denominator.size(); ++i) {
            if (std::isnan(run.numerator[i]) || std::isnan(run.denominator[i])) continue;
            r.numerator.push_back(run.numerator[i]);
            r.denominator.push_back(run.denominator[i]);
        }
        if (!r.numerator.empty()) kept.push_back(std::move(r));
    }
    return kept;
}

double resampled_headline(const std::vector<RatioRun>& runs, std::uint64_t& state) {
    double num = 0, den = 0;
    for (std::size_t r = 0; r < runs.size(); ++r) {
        const auto& run = runs[draw(state, runs.size())];
        const std::size_t n = run.numerator.size();
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t k = draw(state, n);
            num += run.numerator[k];
            den += run.denominator[k];
        }
    }
    return num / den;
}

// Each run's batch headlines, batches of consecutive frames as even as n allows.
std::vector<double> batch_values(const std::vector<RatioRun>& runs, std::size_t batches) {
    std::vector<double> values;
    for (const auto& run : runs) {
        const std::size_t n = run.numerator.size(), k = std::min(n, batches);
        for (std::size_t j = 0; j < k; ++j) {
            double num = 0, den = 0;
            for (std::size_t i = j * n / k; i < (j + 1) * n / k; ++i) {
                num += run.numerator[i];
                den += run.denominator[i];
            }
            values.push_back(num / den);
        }
    }
    return values;
}

Interval percentile_interval(std::vector<double>& ratios, std::size_t undefined, int resamples,
                             double confidence) {
    const double tail = (1 - confidence) / 2;
    const double nan = std::nan("");
    // Undefined ratios (0/0, inf/inf) count against the interval: past a tail's
    // worth of them it cannot be told.
    if (static_cast<double>(undefined) > tail * resamples || ratios.empty()) return {nan, nan};
    std::sort(ratios.begin(), ratios.end());
    return {percentile_sorted(ratios, 100 * tail), percentile_sorted(ratios, 100 * (1 - tail))};
}

// The percentile interval of `resamples` ratios of what `resample` draws from
// a and then from b (in that order: the draws are seeded).
template <class Runs, class Resample>
Interval bootstrap_ratio(const Runs& a, const Runs& b, int resamples, std::uint64_t seed,
                         double confidence, Resample resample) {
    const double nan = std::nan("");
    if (a.empty() || b.empty() || resamples < 1) return {nan, nan};
    std::uint64_t state = seed;
    std::vector<double> ratios;
    ratios.reserve(static_cast<std::size_t>(resamples));
    std::size_t undefined = 0;
    for (int i = 0; i < resamples; ++i) {
        const double ra = resample(a, state);
        const double ratio = ra / resample(b, state);
        if (std::isnan(ratio)) ++undefined;
        else ratios.push_back(ratio);
    }
    return percentile_interval(ratios, undefined, resamples, confidence);
}
}  // namespace

MannWhitney mann_whitney(const std::vector<double>& a_in, const std::vector<double>& b_in) {
    const auto a = without_nan(a_in), b = without_nan(b_in);
    MannWhitney r;
    if (a.empty() || b.empty()) return r;
    struct Item {
        double value;
        bool first;
    };
    std::vector<Item> all;
    for (double v : a) all.push_back({v, true});
    for (double v : b) all.push_back({v, false});
    std::sort(all.begin(), all.end(), [](const Item& x, const Item& y) { return x.value < y.value; });
    const double n1 = static_cast<double>(a.size()), n2 = static_cast<double>(b.size());
    const double n = n1 + n2;
    double rank_sum = 0, ties = 0;
    for (std::size_t i = 0; i < all.size();) {
        std::size_t j = i;
        while (j < all.size() && all[j].value == all[i].value) ++j;
        const double t = static_cast<double>(j - i);
        const double midrank = (static_cast<double>(i + 1) + static_cast<double>(j)) / 2;
        for (std::size_t k = i; k < j; ++k)
            if (all[k].first) rank_sum += midrank;
        ties += t * t * t - t;
        i = j;
    }
    r.u = rank_sum - n1 * (n1 + 1) / 2;
    const double variance = n1 * n2 / 12 * ((n + 1) - ties / (n * (n - 1)));
    if (variance <= 0) return r;
    const double deviation = std::max(0.0, std::fabs(r.u - n1 * n2 / 2) - 0.5);
    r.z = std::copysign(deviation / std::sqrt(variance), r.u - n1 * n2 / 2);
    r.p = std::erfc(std::fabs(r.z) / std::sqrt(2.0));
    return r;
}

Interval bootstrap_median_ratio(const std::vector<std::vector<double>>& a_in,
                                const std::vector<std::vector<double>>& b_in,
                                int resamples, std::uint64_t seed, double confidence) {
    auto clean = [](const std::vector<std::vector<double>>& runs) {
        std::vector<std::vector<double>> kept;
        for (const auto& run : runs)
            if (auto v = without_nan(run); !v.empty()) kept.push_back(std::move(v));
        return kept;
    };
    std::vector<double> scratch;
    return bootstrap_ratio(clean(a_in), clean(b_in), resamples, seed, confidence,
                           [&](const auto& runs, std::uint64_t& state) {
                               return resampled_median(runs, state, scratch);
                           });
}

double headline(const std::vector<RatioRun>& runs) {
    double num = 0, den = 0;
    for (const auto& r : clean_ratio_runs(runs))
        for (std::size_t i = 0; i < r.numerator.size(); ++i)
            num += r.numerator[i], den += r.denominator[i];
    return num / den;
}

Interval bootstrap_headline_ratio(const std::vector<RatioRun>& a_in,
                                  const std::vector<RatioRun>& b_in, int resamples,
                                  std::uint64_t seed, double confidence) {
    return bootstrap_ratio(clean_ratio_runs(a_in), clean_ratio_runs(b_in), resamples, seed,
                           confidence, resampled_headline);
}

Welch welch_batch_means(const std::vector<RatioRun>& a_in, const std::vector<RatioRun>& b_in,
                        std::size_t batches) {
    const auto a = batch_values(clean_ratio_runs(a_in), batches);
    const auto b = batch_values(clean_ratio_runs(b_in), batches);
    Welch w;
    w.batches_a = a.size();
    w.batches_b = b.size();
    if (a.size() < 2 || b.size() < 2) {
        w.p = std::nan("");
        return w;
    }
    const auto da = describe(a), db = describe(b);
    const double na = static_cast<double>(a.size()), nb = static_cast<double>(b.size());
    const double va = da.sd * da.sd / na, vb = db.sd * db.sd / nb;
    const double diff = da.mean - db.mean;
    if (!std::isfinite(va + vb + diff)) {
        w.p = std::nan("");
        return w;
    }
    if (va + vb == 0) {  // no spread at all: equal or surely different
        w.p = diff == 0 ? 1 : 0;
        w.t = diff == 0 ? 0 : std::copysign(HUGE_VAL, diff);
        return w;
    }
    w.t = diff / std::sqrt(va + vb);
    w.df = (va + vb) * (va + vb) / (va * va / (na - 1) + vb * vb / (nb - 1));
    const boost::math::students_t dist(w.df);
    w.p = 2 * boost::math::cdf(boost::math::complement(dist, std::fabs(w.t)));
    return w;
}

const char* verdict_text(Verdict v) {
    switch (v) {
        case Verdict::faster: return "faster";
        case Verdict::slower: return "slower";
        case Verdict::within: return "within the practical threshold";
        case Verdict::no_difference: return "no significant difference";
        case Verdict::too_few: return "too few frames to tell";
        case Verdict::inconclusive: return "inconclusive";
    }
    return "?";
}

std::string verdict_label(Verdict v, double practical_percent) {
    if (v != Verdict::within) return verdict_text(v);
    return "within " + format_printed(practical_percent) + "%";
}

Verdict decide(double ratio, Interval interval, double p, bool higher_is_better,
               std::size_t n_a, std::size_t n_b, double alpha, double practical) {
    if (n_a < 2 || n_b < 2) return Verdict::too_few;
    if (!(p < alpha) || std::isnan(ratio)) return Verdict::no_difference;
    const bool above = interval.low > 1, below = interval.high < 1;
    if (!above && !below) return Verdict::no_difference;
    if (std::fabs(std::log(ratio)) < std::log1p(practical)) return Verdict::within;
    return above == higher_is_better ? Verdict::faster : Verdict::slower;
}

Spread spread(const std::vector<double>& values) {
    const auto d = describe(values);
    Spread s;
    s.n = d.n;
    s.mean = d.mean;
    s.sd = d.sd;
    s.min = d.min;
    s.max = d.max;
    s.cv = d.mean != 0 ? d.sd / std::fabs(d.mean) : std::nan("");
    return s;
}

}  // namespace report


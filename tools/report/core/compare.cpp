#include "compare.h"

#include <algorithm>
#include <cmath>
#include <numeric>

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
// with any standard library; the modulo's bias is nil at these sizes.
std::size_t draw(std::uint64_t& state, std::size_t n) {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    z ^= z >> 31;
    return static_cast<std::size_t>(z % n);
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
    const auto a = clean(a_in), b = clean(b_in);
    const double nan = std::nan("");
    if (a.empty() || b.empty() || resamples < 1) return {nan, nan};
    std::uint64_t state = seed;
    std::vector<double> ratios, scratch;
    ratios.reserve(static_cast<std::size_t>(resamples));
    std::size_t undefined = 0;
    for (int i = 0; i < resamples; ++i) {
        const double ma = resampled_median(a, state, scratch);
        const double mb = resampled_median(b, state, scratch);
        const double ratio = ma / mb;
        if (std::isnan(ratio)) ++undefined;
        else ratios.push_back(ratio);
    }
    const double tail = (1 - confidence) / 2;
    // Undefined ratios (0/0, inf/inf) count against the interval: past a tail's
    // worth of them it cannot be told.
    if (static_cast<double>(undefined) > tail * resamples) return {nan, nan};
    std::sort(ratios.begin(), ratios.end());
    return {percentile_sorted(ratios, 100 * tail), percentile_sorted(ratios, 100 * (1 - tail))};
}

const char* verdict_text(Verdict v) {
    switch (v) {
        case Verdict::faster: return "faster";
        case Verdict::slower: return "slower";
        case Verdict::no_difference: return "no significant difference";
        case Verdict::too_few: return "too few frames to tell";
    }
    return "?";
}

Verdict decide(double ratio, Interval interval, double p, bool higher_is_better,
               std::size_t n_a, std::size_t n_b, double alpha) {
    if (n_a < 2 || n_b < 2) return Verdict::too_few;
    if (!(p < alpha) || std::isnan(ratio)) return Verdict::no_difference;
    const bool above = interval.low > 1, below = interval.high < 1;
    if (!above && !below) return Verdict::no_difference;
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


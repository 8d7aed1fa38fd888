#include "report/core/steps.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <random>

#include "report/core/stats.h"

namespace report {

namespace {

struct Split {
    double q = -1;  // energy statistic of the best split; < 0: none possible
    std::size_t at = 0;
};

// The split of v[idx[0..n)] into [0, m) and [m, n) with the largest scaled
// energy distance m(n-m)/n * (2*between - within X - within Y), each a mean
// of absolute differences. Sums are carried from one m to the next: O(n^2).
Split best_split(const std::vector<double>& v, const std::size_t* idx, std::size_t n,
                 std::size_t min_segment) {
    Split best;
    if (n < 2 * min_segment) return best;
    auto d = [&](std::size_t i, std::size_t j) { return std::fabs(v[idx[i]] - v[idx[j]]); };
    const std::size_t first = min_segment;
    double wx = 0, wy = 0, between = 0;
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j)
            (j < first ? wx : i >= first ? wy : between) += d(i, j);
    for (std::size_t m = first; m + min_segment <= n; ++m) {
        if (m > first) {  // value m - 1 moves from Y to X
            const std::size_t k = m - 1;
            double to_x = 0, to_y = 0;
            for (std::size_t i = 0; i < k; ++i) to_x += d(i, k);
            for (std::size_t j = k + 1; j < n; ++j) to_y += d(k, j);
            wx += to_x;
            wy -= to_y;
            between += to_y - to_x;
        }
        const double nx = static_cast<double>(m), ny = static_cast<double>(n - m);
        const double e = 2 * between / (nx * ny) - wx / (nx * (nx - 1) / 2) -
                         wy / (ny * (ny - 1) / 2);
        const double q = nx * ny / (nx + ny) * e;
        if (q > best.q) best = {q, m};
    }
    return best;
}

// The best split over all segments between consecutive cuts; `segment` is
// the index of the segment it falls in.
Split best_over(const std::vector<double>& v, const std::vector<std::size_t>& idx,
                const std::vector<std::size_t>& cuts, std::size_t min_segment,
                std::size_t* segment) {
    Split best;
    for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
        Split s = best_split(v, idx.data() + cuts[k], cuts[k + 1] - cuts[k], min_segment);
        if (s.q > best.q) {
            best = {s.q, cuts[k] + s.at};
            if (segment) *segment = k;
        }
    }
    return best;
}

// Share of permutations within the segments whose best split is at least as
// strong as `observed`, counting the observed order as one of them; once it
// is past alpha, a lower bound (the test has failed either way).
double permutation_p(const std::vector<double>& v, const std::vector<std::size_t>& cuts,
                     double observed, const StepOptions& o, std::mt19937_64& rng) {
    std::vector<std::size_t> idx(v.size());
    std::iota(idx.begin(), idx.end(), std::size_t{0});
    int as_strong = 0;
    for (int p = 0; p < o.permutations; ++p) {
        for (std::size_t k = 0; k + 1 < cuts.size(); ++k)
            for (std::size_t i = cuts[k + 1] - 1; i > cuts[k]; --i)
                std::swap(idx[i], idx[cuts[k] + rng() % (i - cuts[k] + 1)]);
        // A relative margin: a tie by rounding counts as a tie.
        if (best_over(v, idx, cuts, o.min_segment, nullptr).q >= observed * (1 - 1e-12))
            ++as_strong;
        // Past alpha the answer is known: the rest of the orders cannot lower p.
        if ((as_strong + 1.0) / (o.permutations + 1.0) > o.alpha) break;
    }
    return (as_strong + 1.0) / (o.permutations + 1.0);
}

double mean_of(const std::vector<double>& v, std::size_t from, std::size_t to) {
    double sum = 0;
    for (std::size_t i = from; i < to; ++i) sum += v[i];
    return sum / static_cast<double>(to - from);
}

// The ratio of the segments' means with a percentile bootstrap interval,
// each segment resampled over its own runs.
void ratio_interval(const std::vector<double>& v, Step& s, const StepOptions& o) {
    s.ratio = mean_of(v, s.at, s.to) / mean_of(v, s.from, s.at);
    std::mt19937_64 rng(o.seed + s.at);
    auto resampled_mean = [&](std::size_t from, std::size_t to) {
        double sum = 0;
        for (std::size_t i = from; i < to; ++i) sum += v[from + rng() % (to - from)];
        return sum / static_cast<double>(to - from);
    };
    std::vector<double> ratios;
    for (int r = 0; r < o.resamples; ++r) {
        const double before = resampled_mean(s.from, s.at);
        ratios.push_back(resampled_mean(s.at, s.to) / before);
    }
    const double tail = (1 - o.level) / 2 * 100;
    s.low = percentile(ratios, tail);
    s.high = percentile(ratios, 100 - tail);
}

}  // namespace

std::vector<Step> find_steps(const std::vector<double>& values, const StepOptions& o_in) {
    StepOptions o = o_in;
    o.min_segment = std::max<std::size_t>(o.min_segment, 2);  // a within-mean needs two
    std::vector<std::size_t> identity(values.size());
    std::iota(identity.begin(), identity.end(), std::size_t{0});
    std::vector<std::size_t> cuts = {0, values.size()};
    std::vector<double> p_values(values.size() + 1, 1);
    std::mt19937_64 rng(o.seed);
    for (;;) {
        std::size_t segment = 0;
        const Split best = best_over(values, identity, cuts, o.min_segment, &segment);
        if (best.q <= 0 || !std::isfinite(best.q)) break;
        const double p = permutation_p(values, cuts, best.q, o, rng);
        if (p > o.alpha) break;
        cuts.insert(cuts.begin() + static_cast<std::ptrdiff_t>(segment) + 1, best.at);
        p_values[best.at] = p;
    }
    std::vector<Step> steps;
    for (std::size_t k = 1; k + 1 < cuts.size(); ++k) {
        Step s;
        s.from = cuts[k - 1];
        s.at = cuts[k];
        s.to = cuts[k + 1];
        s.p_value = p_values[s.at];
        ratio_interval(values, s, o);
        steps.push_back(s);
    }
    return steps;
}

std::vector<FactChange> changed_facts(const Facts& before, const Facts& after) {
    auto find = [](const Facts& facts, const std::string& name) -> const std::string* {
        for (const auto& [n, v] : facts)
            if (n == name) return &v;
        return nullptr;
    };
    static const std::string none;
    std::vector<FactChange> out;
    for (const auto& [name, value] : before) {
        const std::string* then = find(after, name);
        if (!then) then = &none;
        if (*then != value) out.push_back({name, value, *then});
    }
    for (const auto& [name, value] : after)
        if (!find(before, name) && !value.empty()) out.push_back({name, none, value});
    return out;
}

std::string step_label(const std::string& figure, const Step& s, const std::string& date,
                       long long run, const std::vector<FactChange>& changes) {
    const double percent = (s.ratio - 1) * 100;
    // Two decimals of the ratio hide a step under 10%; three show it.
    const int digits = std::fabs(percent) >= 10 ? 2 : 3;
    char figures[128];
    std::snprintf(figures, sizeof figures, std::fabs(percent) >= 10 ? " %+.0f%% (%.*f .. %.*f)"
                                                                   : " %+.1f%% (%.*f .. %.*f)",
                  percent, digits, s.low, digits, s.high);
    std::string label = figure + figures + " from " + date + " (run " + std::to_string(run) + ")";
    if (changes.empty()) return label + "; nothing recorded changed";
    label += "; changed then:";
    for (std::size_t i = 0; i < changes.size(); ++i) {
        const auto& c = changes[i];
        label += (i ? ", " : " ") + c.name + " " + (c.before.empty() ? "(none)" : c.before) +
                 " -> " + (c.after.empty() ? "(none)" : c.after);
    }
    return label;
}

}  // namespace report

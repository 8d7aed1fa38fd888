#include "report/stats/steps.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <random>

#include "report/stats/stats.h"

namespace report {

namespace {

struct Split {
    double q = -1;  // energy statistic of the best split; < 0: none possible
    std::size_t at = 0;
};

// Sums of |x_i - x_k| over the values put in so far, in O(log n) a value:
// counts and sums of the values below each rank, in a Fenwick tree.
class RankSums {
public:
    explicit RankSums(std::size_t n) : count_(n + 1), sum_(n + 1) {}
    void clear() {
        std::fill(count_.begin(), count_.end(), 0);
        std::fill(sum_.begin(), sum_.end(), 0.0);
        total_count_ = 0;
        total_sum_ = 0;
    }
    // The sum of the distances from x (of rank `rank`) to every value put in.
    double distances(double x, std::size_t rank) const {
        std::size_t below = 0;
        double below_sum = 0;
        for (std::size_t i = rank; i > 0; i &= i - 1) {
            below += count_[i];
            below_sum += sum_[i];
        }
        const auto above = static_cast<double>(total_count_ - below);
        return x * static_cast<double>(below) - below_sum + (total_sum_ - below_sum) - x * above;
    }
    void put(double x, std::size_t rank) {
        for (std::size_t i = rank + 1; i < count_.size(); i += i & (~i + 1)) {
            ++count_[i];
            sum_[i] += x;
        }
        ++total_count_;
        total_sum_ += x;
    }

private:
    std::vector<std::size_t> count_;
    std::vector<double> sum_;
    std::size_t total_count_ = 0;
    double total_sum_ = 0;
};

// A segment of the series between two cuts: its values' ranks among
// themselves (fixed, whatever the order), and the best split of each of its
// permutations drawn so far, kept for every later round of the test.
struct Segment {
    std::size_t from = 0, to = 0;
    std::vector<std::size_t> rank;  // by the value's index in the series, less `from`
    Split observed;
    std::vector<double> permuted;   // best q of permutation 0, 1, ...
    std::vector<std::size_t> order; // the last permutation drawn
    std::mt19937_64 rng;
};

// The split of v[idx[0..n)] into [0, m) and [m, n) with the largest scaled
// energy distance m(n-m)/n * (2*between - within X - within Y), each a mean
// of absolute differences. The within sums of every prefix and every suffix
// come from one pass each way, the between sum from the total: O(n log n).
Split best_split(const std::vector<double>& v, const std::size_t* idx, const Segment& seg,
                 std::size_t min_segment, RankSums& sums, std::vector<double>& suffix) {
    Split best;
    const std::size_t n = seg.to - seg.from;
    if (n < 2 * min_segment) return best;
    auto rank = [&](std::size_t i) { return seg.rank[idx[i] - seg.from]; };
    suffix.assign(n + 1, 0.0);  // suffix[m]: within sum of [m, n)
    sums.clear();
    for (std::size_t m = n; m-- > 0;) {
        suffix[m] = suffix[m + 1] + sums.distances(v[idx[m]], rank(m));
        sums.put(v[idx[m]], rank(m));
    }
    const double total = suffix[0];
    sums.clear();
    double prefix = 0;  // within sum of [0, m)
    for (std::size_t m = 0; m + min_segment <= n; ++m) {
        if (m >= min_segment) {
            const double nx = static_cast<double>(m), ny = static_cast<double>(n - m);
            const double between = total - prefix - suffix[m];
            const double e = 2 * between / (nx * ny) - prefix / (nx * (nx - 1) / 2) -
                             suffix[m] / (ny * (ny - 1) / 2);
            const double q = nx * ny / (nx + ny) * e;
            if (q > best.q) best = {q, m};
        }
        prefix += sums.distances(v[idx[m]], rank(m));
        sums.put(v[idx[m]], rank(m));
    }
    return best;
}

Segment make_segment(const std::vector<double>& v, std::size_t from, std::size_t to,
                     const StepOptions& o, RankSums& sums, std::vector<double>& scratch) {
    Segment s;
    s.from = from;
    s.to = to;
    s.order.resize(to - from);
    std::iota(s.order.begin(), s.order.end(), from);
    std::vector<std::size_t> by_value = s.order;
    std::stable_sort(by_value.begin(), by_value.end(),
                     [&](std::size_t a, std::size_t b) { return v[a] < v[b]; });
    s.rank.resize(to - from);
    for (std::size_t r = 0; r < by_value.size(); ++r) s.rank[by_value[r] - from] = r;
    s.observed = best_split(v, s.order.data(), s, o.min_segment, sums, scratch);
    // Its own stream of orders: the same segment is tested the same way in
    // whichever round it arises.
    s.rng.seed(o.seed * 0x9e3779b97f4a7c15ULL + from * 1000003ULL + to);
    return s;
}

// The best split of the segment's permutation number p, drawn when first asked for.
double permuted_q(const std::vector<double>& v, Segment& s, std::size_t p, const StepOptions& o,
                  RankSums& sums, std::vector<double>& scratch) {
    while (s.permuted.size() <= p) {
        const std::size_t n = s.order.size();
        for (std::size_t i = n; i-- > 1;) std::swap(s.order[i], s.order[s.rng() % (i + 1)]);
        s.permuted.push_back(best_split(v, s.order.data(), s, o.min_segment, sums, scratch).q);
    }
    return s.permuted[p];
}

// Share of permutations within the segments whose best split is at least as
// strong as `observed`, counting the observed order as one of them; once it
// is past alpha, a lower bound (the test has failed either way). Each
// segment's permutations are independent of the others', so those of a
// segment that a round leaves whole serve again in the next.
double permutation_p(const std::vector<double>& v, std::vector<Segment>& segments,
                     double observed, const StepOptions& o, RankSums& sums,
                     std::vector<double>& scratch) {
    int as_strong = 0;
    for (int p = 0; p < o.permutations; ++p) {
        double best = -1;
        for (auto& s : segments)
            if (s.observed.q >= 0)
                best = std::max(best, permuted_q(v, s, static_cast<std::size_t>(p), o, sums, scratch));
        // A relative margin: a tie by rounding counts as a tie.
        if (best >= observed * (1 - 1e-12)) ++as_strong;
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
    RankSums sums(values.size());
    std::vector<double> scratch;
    std::vector<Segment> segments;
    segments.push_back(make_segment(values, 0, values.size(), o, sums, scratch));
    std::vector<std::size_t> cuts = {0, values.size()};
    std::vector<double> p_values(values.size() + 1, 1);
    for (;;) {
        std::size_t k = 0;
        for (std::size_t i = 1; i < segments.size(); ++i)
            if (segments[i].observed.q > segments[k].observed.q) k = i;
        const Split best = segments[k].observed;
        if (best.q <= 0 || !std::isfinite(best.q)) break;
        const double p = permutation_p(values, segments, best.q, o, sums, scratch);
        if (p > o.alpha) break;
        const std::size_t at = segments[k].from + best.at, from = segments[k].from,
                          to = segments[k].to;
        segments[k] = make_segment(values, from, at, o, sums, scratch);
        segments.insert(segments.begin() + static_cast<std::ptrdiff_t>(k) + 1,
                        make_segment(values, at, to, o, sums, scratch));
        cuts.insert(std::upper_bound(cuts.begin(), cuts.end(), at), at);
        p_values[at] = p;
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

#include "report/stats/stats.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace report {

namespace {
std::vector<double> without_nan(std::vector<double> values) {
    values.erase(std::remove_if(values.begin(), values.end(),
                                [](double v) { return std::isnan(v); }),
                 values.end());
    return values;
}
}  // namespace

double percentile_sorted(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return std::nan("");
    const double rank = (static_cast<double>(sorted.size()) - 1) * std::clamp(p, 0.0, 100.0) / 100;
    const auto below = static_cast<std::size_t>(std::floor(rank));
    const std::size_t above = std::min(below + 1, sorted.size() - 1);
    const double fraction = rank - static_cast<double>(below);
    if (fraction == 0 || sorted[below] == sorted[above]) return sorted[below];
    return sorted[below] + fraction * (sorted[above] - sorted[below]);
}

double percentile(std::vector<double> values, double p) {
    values = without_nan(std::move(values));
    std::sort(values.begin(), values.end());
    return percentile_sorted(values, p);
}

double median(std::vector<double> values) { return percentile(std::move(values), 50); }

double mean(const std::vector<double>& values) {
    double sum = 0;
    std::size_t n = 0;
    for (double v : values)
        if (!std::isnan(v)) sum += v, ++n;
    return n ? sum / static_cast<double>(n) : std::nan("");
}

Distribution describe(std::vector<double> values) {
    values = without_nan(std::move(values));
    std::sort(values.begin(), values.end());
    Distribution d;
    d.n = values.size();
    if (values.empty()) {
        d.mean = d.median = d.min = d.max = d.sd = d.p95 = d.p99 = std::nan("");
        return d;
    }
    d.mean = mean(values);
    d.median = percentile_sorted(values, 50);
    d.min = values.front();
    d.max = values.back();
    d.p95 = percentile_sorted(values, 95);
    d.p99 = percentile_sorted(values, 99);
    if (values.size() > 1) {
        double squares = 0;
        for (double v : values) squares += (v - d.mean) * (v - d.mean);
        d.sd = std::sqrt(squares / static_cast<double>(values.size() - 1));
    }
    return d;
}

double low_rate(const std::vector<double>& counts, const std::vector<double>& seconds,
                double share) {
    const std::size_t n = std::min(counts.size(), seconds.size());
    if (n == 0) return std::nan("");
    auto rate = [&](std::size_t i) { return counts[i] / seconds[i]; };
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    // NaN rates (0 counted in 0 s) sort last: they say nothing about slowness.
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const double ra = rate(a), rb = rate(b);
        if (std::isnan(rb)) return !std::isnan(ra);
        return !std::isnan(ra) && ra < rb;
    });
    const auto k = std::max<std::size_t>(
        1, static_cast<std::size_t>(std::ceil(static_cast<double>(n) * share - 1e-9)));
    double count = 0, time = 0;
    for (std::size_t i = 0; i < std::min(k, n); ++i) {
        count += counts[order[i]];
        time += seconds[order[i]];
    }
    return count / time;
}

}  // namespace report

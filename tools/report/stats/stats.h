// Descriptive statistics of a run's frames. NaN values are left out of every
// figure; infinities take part (a 0 ms frame has an infinite rate).
#pragma once

#include <cstddef>
#include <vector>

namespace report {

struct Distribution {
    std::size_t n = 0;
    double mean = 0, median = 0, min = 0, max = 0;
    double sd = 0;  // sample standard deviation (n - 1); 0 for one value
    double p95 = 0, p99 = 0;
};

// The p-th percentile (0..100) of sorted values, interpolating linearly
// between the two nearest order statistics: rank (n - 1) * p / 100 from 0.
double percentile_sorted(const std::vector<double>& sorted, double p);
double percentile(std::vector<double> values, double p);
double median(std::vector<double> values);
double mean(const std::vector<double>& values);

// Every figure is NaN for an empty set.
Distribution describe(std::vector<double> values);

// The rate sustained by the slowest `share` (0..1) of frames: the k frames
// with the lowest rate count/seconds, k = max(1, ceil(n * share)), as their
// total count over their total time. NaN without frames.
double low_rate(const std::vector<double>& counts, const std::vector<double>& seconds,
                double share);

}  // namespace report

// Descriptive statistics and the lows, on data whose answers are worked out by hand.
#include <gtest/gtest.h>

#include <cmath>

#include "report/stats/stats.h"

using namespace report;

TEST(Percentiles, InterpolateBetweenOrderStatistics) {
    // Rank (n - 1) p / 100 from 0: for 15 20 35 40 50 the 40th percentile sits
    // at rank 1.6, 20 + 0.6 * (35 - 20) = 29.
    const std::vector<double> v = {50, 15, 40, 20, 35};
    EXPECT_DOUBLE_EQ(percentile(v, 40), 29);
    EXPECT_DOUBLE_EQ(percentile(v, 0), 15);
    EXPECT_DOUBLE_EQ(percentile(v, 100), 50);
    EXPECT_DOUBLE_EQ(median(v), 35);
    // 1..5: p95 at rank 3.8 -> 4.8; p99 at rank 3.96 -> 4.96.
    EXPECT_DOUBLE_EQ(percentile({1, 2, 3, 4, 5}, 95), 4.8);
    EXPECT_DOUBLE_EQ(percentile({1, 2, 3, 4, 5}, 99), 4.96);
    EXPECT_DOUBLE_EQ(median({4, 1, 3, 2}), 2.5);
    EXPECT_DOUBLE_EQ(median({7}), 7);
    EXPECT_TRUE(std::isnan(median({})));
}

TEST(Percentiles, NanIsLeftOutAndInfinityTakesPart) {
    const double nan = std::nan(""), inf = HUGE_VAL;
    EXPECT_DOUBLE_EQ(median({3, nan, 1, 2}), 2);
    EXPECT_EQ(percentile({1, 2, inf}, 100), inf);
    EXPECT_DOUBLE_EQ(median({1, 2, inf}), 2);
}

TEST(Describe, MeanSpreadAndExtremes) {
    // 2 4 4 4 5 5 7 9: mean 5, squares about the mean sum to 32, so the
    // sample standard deviation is sqrt(32 / 7).
    const Distribution d = describe({2, 4, 4, 4, 5, 5, 7, 9});
    EXPECT_EQ(d.n, 8u);
    EXPECT_DOUBLE_EQ(d.mean, 5);
    EXPECT_DOUBLE_EQ(d.sd, std::sqrt(32.0 / 7));
    EXPECT_DOUBLE_EQ(d.median, 4.5);
    EXPECT_DOUBLE_EQ(d.min, 2);
    EXPECT_DOUBLE_EQ(d.max, 9);
    EXPECT_DOUBLE_EQ(d.p95, 7 + 0.65 * 2);  // rank 6.65
    EXPECT_EQ(describe({3}).sd, 0);
    const Distribution empty = describe({});
    EXPECT_EQ(empty.n, 0u);
    EXPECT_TRUE(std::isnan(empty.mean) && std::isnan(empty.p99));
}

TEST(Lows, SlowestShareAsTotalCountOverTotalTime) {
    // 200 frames: 197 at 10 ms, then 40, 20 and 12 ms. The 1% low takes the
    // 2 slowest (40 and 20 ms): 2 frames / 0.06 s; the 0.1% low the slowest one.
    std::vector<double> seconds(197, 0.010);
    seconds.insert(seconds.begin() + 50, 0.040);
    seconds.insert(seconds.begin() + 10, 0.020);
    seconds.push_back(0.012);
    const std::vector<double> ones(seconds.size(), 1.0);
    EXPECT_DOUBLE_EQ(low_rate(ones, seconds, 0.01), 2 / 0.06);
    EXPECT_DOUBLE_EQ(low_rate(ones, seconds, 0.001), 25);
    // 201 frames: ceil(2.01) = 3 frames.
    seconds.push_back(0.010);
    EXPECT_DOUBLE_EQ(low_rate(std::vector<double>(201, 1.0), seconds, 0.01), 3 / 0.072);
    // Few frames: never fewer than one.
    EXPECT_DOUBLE_EQ(low_rate({1, 1, 1}, {0.1, 0.3, 0.2}, 0.01), 1 / 0.3);
}

TEST(Lows, SlownessIsByRateNotByTime) {
    // A big frame can be quick for its size: 1000 triangles in 10 ms is
    // 100000/s, 10 in 1 ms only 10000/s and so the slowest.
    EXPECT_DOUBLE_EQ(low_rate({1000, 10, 500}, {0.010, 0.001, 0.004}, 0.01), 10000);
}

TEST(Lows, ZeroMillisecondFramesAndNoFrames) {
    const double inf = HUGE_VAL;
    EXPECT_DOUBLE_EQ(low_rate({1, 1, 1}, {0, 0.002, 0}, 0.01), 500);
    EXPECT_EQ(low_rate({1, 1}, {0, 0}, 0.01), inf);
    EXPECT_TRUE(std::isnan(low_rate({}, {}, 0.01)));
}

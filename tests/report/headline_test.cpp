// The test and the threshold behind the headline verdicts, against worked
// examples.
#include <gtest/gtest.h>

#include <cmath>

#include "report/stats/compare.h"
#include "report/analysis/vblank.h"

using namespace report;

namespace {
RatioRun plain(std::vector<double> values) {
    const std::size_t n = values.size();
    return {std::move(values), std::vector<double>(n, 1.0)};
}
}  // namespace

TEST(Welch, PublishedExamples) {
    // Two textbook pairs, equal and unequal spreads: t -2.46 with 25.0 degrees
    // of freedom, p 0.021; and t -1.57 with 9.9, p 0.149. One frame a batch.
    const auto w1 = welch_values(
        {27.5, 21.0, 19.0, 23.6, 17.0, 17.9, 16.9, 20.1, 21.9, 22.6, 23.1, 19.6, 19.0, 21.7, 21.4},
        {27.1, 22.0, 20.8, 23.4, 23.4, 23.5, 25.8, 22.0, 24.8, 20.2, 21.9, 22.1, 22.9, 20.5, 24.4});
    EXPECT_NEAR(w1.t, -2.46, 0.005);
    EXPECT_NEAR(w1.df, 25.0, 0.05);
    EXPECT_NEAR(w1.p, 0.021, 0.0005);
    const auto w2 = welch_values(
        {17.2, 20.9, 22.6, 18.1, 21.7, 21.4, 23.5, 24.2, 14.7, 21.8},
        {21.5, 22.8, 21.0, 23.0, 21.6, 23.6, 22.5, 20.7, 23.4, 21.8, 20.7, 21.7, 21.5,
                22.5, 23.6, 21.5, 22.5, 23.5, 21.5, 21.8});
    EXPECT_NEAR(w2.t, -1.57, 0.005);
    EXPECT_NEAR(w2.df, 9.9, 0.05);
    EXPECT_NEAR(w2.p, 0.149, 0.0005);
}

TEST(Welch, BatchesAreRatiosOfSums) {
    // Two batches a run: a's are (1+3)/(1+1) = 2 and (5+7)/(2+2) = 3, b's 2
    // and 8. Means 2.5 and 5, variances over n 0.25 and 9: t = -2.5 / sqrt(9.25),
    // df = 9.25^2 / (0.25^2 + 9^2).
    const auto headlines = [](const RatioRun& run) {
        std::vector<double> values;
        for (const Sums& s : batch_sums(run, 2)) values.push_back(s.numerator / s.denominator);
        return values;
    };
    const auto w = welch_values(headlines({{1, 3, 5, 7}, {1, 1, 2, 2}}), headlines(plain({2, 2, 8, 8})));
    EXPECT_EQ(w.units_a, 2u);
    EXPECT_NEAR(w.t, -2.5 / std::sqrt(9.25), 1e-12);
    EXPECT_NEAR(w.df, 9.25 * 9.25 / (0.0625 + 81), 1e-12);
}

TEST(Verdicts, ThePracticalThresholdIsSymmetric) {
    // 1% slower in time is 1/0.99 faster in rate: both sides of the threshold
    // alike. Half a percent is within it however small p is.
    EXPECT_EQ(decide({0.99, {0.985, 0.995}, 1e-9, false, 99, 99, 0.05, 0.01}), Verdict::faster);
    EXPECT_EQ(decide({1 / 0.99, {1.005, 1.015}, 1e-9, true, 99, 99, 0.05, 0.01}), Verdict::faster);
    EXPECT_EQ(decide({0.995, {0.993, 0.997}, 1e-9, false, 99, 99, 0.05, 0.01}), Verdict::within);
    EXPECT_EQ(decide({0.995, {0.993, 0.997}, 1e-9, false, 99, 99, 0.05, 0.001}), Verdict::faster);
    EXPECT_EQ(verdict_label(Verdict::within, 0.5), "within 0.5%");
}

TEST(Vblank, RefreshRatesAndTheirDoubles) {
    EXPECT_EQ(near_refresh(1 / 0.0167)->refresh, 60);
    EXPECT_EQ(near_refresh(287)->multiple, 2);  // 2 x 144
    EXPECT_FALSE(near_refresh(50));
    EXPECT_FALSE(near_refresh(45.4));  // half of 90: left out
    EXPECT_FALSE(near_refresh(0));
}

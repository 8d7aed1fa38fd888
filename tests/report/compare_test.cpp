// The Mann-Whitney test, the bootstrap interval and the verdicts built on them.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "across.h"
#include "compare.h"

using namespace report;

TEST(MannWhitneyTest, FullySeparatedSamplesByHand) {
    // Ranks of a are 1..5: U = 15 - 15 = 0 against a mean of 12.5 and a
    // variance of 25 * 11 / 12; z = -(12.5 - 0.5) / sqrt(22.9167) = -2.50672.
    const auto r = mann_whitney({1, 2, 3, 4, 5}, {6, 7, 8, 9, 10});
    EXPECT_DOUBLE_EQ(r.u, 0);
    EXPECT_NEAR(r.z, -2.5067182, 1e-6);
    EXPECT_NEAR(r.p, 0.0121858, 1e-6);
}

TEST(MannWhitneyTest, TiesByHand) {
    // a = 1 2 2 3, b = 2 3 4 5 6. Sorted: 1a 2a 2a 2b 3a 3b 4 5 6; the 2s share
    // rank 3, the 3s rank 5.5. Rank sum of a: 1 + 3 + 3 + 5.5 = 12.5, so
    // U = 12.5 - 10 = 2.5. Ties of 3 and 2 give sum(t^3 - t) = 30, and the
    // variance is 20 / 12 * (10 - 30 / 72) = 15.97222. z = -(7.5 - 0.5) / 3.99652.
    const auto r = mann_whitney({1, 2, 2, 3}, {2, 3, 4, 5, 6});
    EXPECT_DOUBLE_EQ(r.u, 2.5);
    EXPECT_NEAR(r.z, -1.7515211, 1e-6);
    EXPECT_NEAR(r.p, 0.0798562, 1e-6);
    // Swapping the samples mirrors U and keeps p.
    const auto s = mann_whitney({2, 3, 4, 5, 6}, {1, 2, 2, 3});
    EXPECT_DOUBLE_EQ(s.u, 20 - 2.5);
    EXPECT_NEAR(s.p, r.p, 1e-12);
}

TEST(MannWhitneyTest, PublishedExamples) {
    // Ages at diagnosis, 5 men against 4 women: U = 17; with the normal
    // approximation and continuity correction the two-sided p is 0.111347.
    const auto ages = mann_whitney({19, 22, 16, 29, 24}, {20, 11, 17, 12});
    EXPECT_DOUBLE_EQ(ages.u, 17);
    EXPECT_NEAR(ages.p, 0.111347, 1e-6);
    // With ties (three 4s, two 5s): one-sided p of 0.259011 published for
    // U = 11 of the second sample, so 0.518022 two-sided.
    const auto tied = mann_whitney({5, 1, 4, 3, 5}, {2, 4, 7, -1, 0, 4});
    EXPECT_DOUBLE_EQ(30 - tied.u, 11);
    EXPECT_NEAR(tied.p / 2, 0.259011, 1e-6);
}

TEST(MannWhitneyTest, DegenerateSamples) {
    EXPECT_EQ(mann_whitney({}, {1, 2}).p, 1);
    EXPECT_EQ(mann_whitney({3, 3, 3}, {3, 3}).p, 1);  // every value tied
    EXPECT_EQ(mann_whitney({1, std::nan("")}, {2}).u, 0);
}

TEST(Bootstrap, ConstantSamplesGiveTheExactRatio) {
    const auto i = bootstrap_median_ratio({{4, 4, 4}}, {{5, 5, 5, 5}}, 500, 7);
    EXPECT_DOUBLE_EQ(i.low, 0.8);
    EXPECT_DOUBLE_EQ(i.high, 0.8);
}

TEST(Bootstrap, SameSeedSameInterval) {
    const std::vector<std::vector<double>> a = {{1, 3, 2, 5, 4, 3}}, b = {{2, 4, 3, 6, 5, 4}};
    const auto x = bootstrap_median_ratio(a, b, 1000, 42), y = bootstrap_median_ratio(a, b, 1000, 42);
    EXPECT_EQ(x.low, y.low);
    EXPECT_EQ(x.high, y.high);
    EXPECT_LE(x.low, 0.75);  // the sample ratio, 3 / 4
    EXPECT_GE(x.high, 0.75);
}

TEST(Bootstrap, CoversTheTrueRatioAboutNineteenTimesInTwenty) {
    // Samples of 40 from uniform distributions with medians 10 and 12: how often
    // does the 95% interval hold 10 / 12?
    std::mt19937_64 rng(2024);
    std::uniform_real_distribution<double> noise(-3, 3);
    int covered = 0;
    const int trials = 200;
    for (int t = 0; t < trials; ++t) {
        std::vector<double> a, b;
        for (int i = 0; i < 40; ++i) a.push_back(10 + noise(rng)), b.push_back(12 + noise(rng));
        const auto iv = bootstrap_median_ratio({a}, {b}, 1000, static_cast<std::uint64_t>(t));
        covered += iv.low <= 10.0 / 12 && 10.0 / 12 <= iv.high;
    }
    EXPECT_GE(covered, trials * 88 / 100);
    EXPECT_LE(covered, trials * 99 / 100);
}

TEST(Bootstrap, DisagreeingRunsWidenTheInterval) {
    // The same frames as two runs that differ, or pooled as one run: drawing
    // runs as well as frames must show the extra uncertainty.
    std::vector<double> slow(20), quick(20), pooled;
    for (int i = 0; i < 20; ++i) slow[i] = 15.5 + 0.1 * i, quick[i] = 13.5 + 0.1 * i;
    pooled = slow;
    pooled.insert(pooled.end(), quick.begin(), quick.end());
    const std::vector<std::vector<double>> base = {std::vector<double>(40, 15.0)};
    const auto runs = bootstrap_median_ratio({slow, quick}, base, 2000, 1);
    const auto one = bootstrap_median_ratio({pooled}, base, 2000, 1);
    EXPECT_GT(runs.high - runs.low, 1.5 * (one.high - one.low));
}

TEST(Verdicts, NeedBothTheTestAndTheInterval) {
    const Interval below{0.80, 0.90}, above{1.10, 1.30}, across{0.95, 1.05};
    // Frame time: lower is faster.
    EXPECT_EQ(decide(0.85, below, 0.001, false, 30, 30), Verdict::faster);
    EXPECT_EQ(decide(1.20, above, 0.001, false, 30, 30), Verdict::slower);
    // Rates: higher is faster.
    EXPECT_EQ(decide(1.20, above, 0.001, true, 30, 30), Verdict::faster);
    EXPECT_EQ(decide(0.85, below, 0.001, true, 30, 30), Verdict::slower);
    EXPECT_EQ(decide(0.85, below, 0.2, false, 30, 30), Verdict::no_difference);
    EXPECT_EQ(decide(1.00, across, 0.001, false, 30, 30), Verdict::no_difference);
    EXPECT_EQ(decide(0.85, below, 0.001, false, 1, 30), Verdict::too_few);
    EXPECT_STREQ(verdict_text(Verdict::no_difference), "no significant difference");
}

TEST(Verdicts, FromMeasurementsToAVerdict) {
    std::mt19937_64 rng(5);
    std::normal_distribution<double> jitter(0, 0.001);
    std::vector<double> quick, slow;
    for (int i = 0; i < 30; ++i) {
        quick.push_back(0.020 + jitter(rng));
        slow.push_back(0.025 + jitter(rng));
    }
    const CompareOptions o;
    const auto time = compare_figure("frame time", false, {quick}, {slow}, o);
    EXPECT_EQ(time.verdict, Verdict::faster);
    EXPECT_NEAR(time.ratio, 0.8, 0.03);
    EXPECT_LT(time.interval.high, 1);
    EXPECT_EQ(compare_figure("frame time", false, {slow}, {quick}, o).verdict, Verdict::slower);
}

TEST(Verdicts, RarelyCallADifferenceWhereThereIsNone) {
    // Pairs of samples from one distribution: at the 5% level no more than
    // about one pair in twenty may get a verdict.
    std::mt19937_64 rng(11);
    std::normal_distribution<double> jitter(0, 0.001);
    CompareOptions o;
    o.resamples = 500;
    int called = 0;
    const int trials = 200;
    for (int t = 0; t < trials; ++t) {
        std::vector<double> a, b;
        for (int i = 0; i < 30; ++i) a.push_back(0.020 + jitter(rng)), b.push_back(0.020 + jitter(rng));
        o.seed = static_cast<std::uint64_t>(t);
        called += compare_figure("frame time", false, {a}, {b}, o).verdict != Verdict::no_difference;
    }
    EXPECT_LE(called, trials / 10);
}

TEST(Spread, AcrossRepeats) {
    const Spread s = spread({9, 10, 11});
    EXPECT_EQ(s.n, 3u);
    EXPECT_DOUBLE_EQ(s.mean, 10);
    EXPECT_DOUBLE_EQ(s.sd, 1);
    EXPECT_DOUBLE_EQ(s.cv, 0.1);
    EXPECT_DOUBLE_EQ(s.min, 9);
    EXPECT_DOUBLE_EQ(s.max, 11);
}

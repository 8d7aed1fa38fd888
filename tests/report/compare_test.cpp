// The Mann-Whitney test, the intervals and the verdicts built on them: runs as
// the units, or batches of one run's frames.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "report/analysis/verdicts.h"
#include "report/stats/compare.h"

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

namespace {
// Frame times in ms around `mean`, 10% noise, each leaning on the last by phi.
std::vector<double> ar_frames(std::mt19937_64& rng, double mean, std::size_t n, double phi) {
    std::normal_distribution<double> z(0, 1);
    std::vector<double> out(n);
    double e = z(rng);
    for (auto& f : out) {
        f = mean * (1 + 0.1 * e);
        e = phi * e + std::sqrt(1 - phi * phi) * z(rng);
    }
    return out;
}

}  // namespace

TEST(OneRunASide, BatchesCoverTheTrueRatioOfCorrelatedFrames) {
    // One run a side of 900 frames, each leaning on the last by 0.8: single
    // frames as units would give intervals far too narrow; batches of
    // neighbours keep coverage near 95%.
    std::mt19937_64 rng(2024);
    int covered = 0;
    const int trials = 200;
    const CompareOptions o;
    for (int t = 0; t < trials; ++t) {
        const auto c = compare_figure("frame time", false, {ar_frames(rng, 10, 900, 0.8)},
                                      {ar_frames(rng, 12, 900, 0.8)}, o);
        EXPECT_EQ(c.unit, Unit::batches);
        covered += c.interval.low <= 10.0 / 12 && 10.0 / 12 <= c.interval.high;
    }
    EXPECT_EQ(batch_count(900), 30u);
    EXPECT_EQ(batch_count(1000000), 32u);
    EXPECT_EQ(batch_count(10), 3u);
    EXPECT_GE(covered, trials * 88 / 100);
    EXPECT_LE(covered, trials * 99 / 100);
}

TEST(RunsAsUnits, OneRunBorrowsTheOtherSidesSpread) {
    // 13 against 9, 10, 11: sd 1, variance of the difference 1 + 1/3, t =
    // 3 / sqrt(4/3) on 2 degrees of freedom, where p = 1 - t / sqrt(t^2 + 2).
    const auto w = welch_values({13}, {9, 10, 11});
    const double t = 3 / std::sqrt(4.0 / 3);
    EXPECT_NEAR(w.t, t, 1e-12);
    EXPECT_DOUBLE_EQ(w.df, 2);
    EXPECT_NEAR(w.p, 1 - t / std::sqrt(t * t + 2), 1e-9);
    EXPECT_EQ(welch_values({9, 10, 11}, {13}).t, -w.t);
    EXPECT_TRUE(std::isnan(welch_values({1}, {2}).p));  // no spread to be seen
}

TEST(RunsAsUnits, TheLogIntervalAgreesWithTheTestAndInvertsExactly) {
    // Excluding 1 exactly when p < 0.05, for sides of 2 to 5 runs whose
    // means and spreads differ; covering the true ratio; and B over A giving
    // the reciprocal interval and the same p.
    std::mt19937_64 rng(9);
    std::normal_distribution<double> z(0, 1);
    int agree = 0, covered = 0;
    const int trials = 400;
    for (int t = 0; t < trials; ++t) {
        std::vector<double> a, b;
        for (int i = 0; i < 2 + t % 4; ++i) a.push_back(10 * std::exp(0.02 * z(rng)));
        for (int i = 0; i < 2 + t / 4 % 4; ++i) b.push_back(10.3 * std::exp(0.04 * z(rng)));
        const auto ab = log_ratio(a, b), ba = log_ratio(b, a);
        const bool excludes = ab.interval.low > 1 || ab.interval.high < 1;
        agree += excludes == (ab.test.p < 0.05);
        covered += ab.interval.low <= 10 / 10.3 && 10 / 10.3 <= ab.interval.high;
        EXPECT_NEAR(ab.interval.low * ba.interval.high, 1, 1e-12);
        EXPECT_NEAR(ab.test.p, ba.test.p, 1e-12);
        EXPECT_GT(ab.interval.low, 0);
    }
    EXPECT_EQ(agree, trials);
    EXPECT_GE(covered, trials * 90 / 100);
    EXPECT_LE(covered, trials * 99 / 100);
    // A value with no log bounds nothing.
    EXPECT_TRUE(std::isnan(log_ratio({1, 2, 3}, {-1, 0.1, 1}).interval.low));
    EXPECT_TRUE(std::isnan(log_ratio({1, 2, 3}, {0, 1, 1}).test.p));
}

TEST(RunsAsUnits, AFigureAndItsReciprocalGetOneVerdict) {
    // Two runs a side of a program drawing 6450 characters a frame, B nearly
    // six times faster and its runs far apart: its rate and its frame time are
    // one quantity, so one verdict, reciprocal intervals, none below zero.
    auto side = [](std::vector<std::vector<double>> runs, bool rate) {
        std::vector<FigureRun> out;
        for (auto& seconds : runs) {
            const std::vector<double> counts(seconds.size(), rate ? 6450.0 : 1.0);
            std::vector<double> per_frame;
            for (double s : seconds) per_frame.push_back(rate ? 6450 / s : s);
            out.push_back({rate ? RatioRun{counts, seconds} : RatioRun{seconds, counts}, per_frame});
        }
        return out;
    };
    const std::vector<std::vector<double>> a = {std::vector<double>(11, 0.75),
                                                std::vector<double>(11, 0.70)};
    const std::vector<std::vector<double>> b = {std::vector<double>(11, 0.124),
                                                std::vector<double>(11, 0.127)};
    const CompareOptions o;
    const auto time = compare_figure("frame time", false, side(a, false), side(b, false), o);
    const auto rate = compare_figure("Characters/sec", true, side(a, true), side(b, true), o);
    EXPECT_EQ(time.verdict, Verdict::slower);
    EXPECT_EQ(rate.verdict, Verdict::slower);
    EXPECT_GT(time.interval.low, 1);
    EXPECT_NEAR(time.interval.low * rate.interval.high, 1, 1e-9);
    EXPECT_NEAR(time.interval.high * rate.interval.low, 1, 1e-9);
    EXPECT_NEAR(time.test.p, rate.test.p, 1e-9);
}

TEST(Verdicts, AnIntervalInsideTheThresholdIsTheSame) {
    EXPECT_EQ(decide({1.001, {0.995, 1.006}, 0.5, false, 10, 10, 0.05, 0.01}), Verdict::same);
    EXPECT_EQ(verdict_label(Verdict::same, 1), "the same within 1%");
    // Reaching past the threshold on one side: not yet the same.
    EXPECT_EQ(decide({1.001, {0.985, 1.006}, 0.5, false, 10, 10, 0.05, 0.01}),
              Verdict::no_difference);
    EXPECT_EQ(against_threshold({1.02, 1.3}, 0.01), Beyond::above);
    EXPECT_EQ(against_threshold({1.005, 1.3}, 0.01), Beyond::neither);
    EXPECT_EQ(against_threshold({0.5, 0.98}, 0.01), Beyond::below);
}

TEST(RunsAsUnits, TheSpreadBetweenRunsDecides) {
    // Every frame of a run at its run's time, so the frames say nothing of how
    // runs vary: B's runs 2.5% slower on average but spread as widely as that.
    auto runs = [](std::vector<double> times) {
        std::vector<std::vector<double>> out;
        for (double t : times) out.push_back(std::vector<double>(500, t));
        return out;
    };
    const CompareOptions o;
    const auto close = compare_figure("frame time", false, runs({20.0, 20.4, 19.6}),
                                      runs({20.5, 20.9, 20.1}), o);
    EXPECT_EQ(close.unit, Unit::runs);
    EXPECT_EQ(close.runs_a, 3u);
    EXPECT_EQ(close.test.units_b, 3u);
    EXPECT_EQ(close.verdict, Verdict::no_difference);
    EXPECT_LT(close.interval.low, close.ratio);
    EXPECT_GT(close.interval.high, close.ratio);
    const auto apart = compare_figure("frame time", false, runs({20.0, 20.4, 19.6}),
                                      runs({22.0, 22.4, 21.6}), o);
    EXPECT_EQ(apart.verdict, Verdict::faster);
    // The newest run against five before it, as a gate compares them.
    const auto gate = compare_figure("frame time", false, runs({23.0}),
                                     runs({20.0, 20.4, 19.6, 20.2, 19.8}), o);
    EXPECT_EQ(gate.unit, Unit::runs);
    EXPECT_EQ(gate.verdict, Verdict::slower);
    EXPECT_NE(judged_on(gate.unit, gate.runs_a, gate.runs_b).find("1 run of A, 5 runs of B"),
              std::string::npos);
}

TEST(OneRunASide, TenCorrelatedFramesGiveNoConfidentVerdict) {
    // Ten frames a side make three batches: too few to tell, even for A/A
    // pairs whose frames drift together, and even for a 20% difference.
    std::mt19937_64 rng(31);
    const CompareOptions o;
    int confident = 0;
    for (int t = 0; t < 200; ++t) {
        const auto v = compare_figure("frame time", false, {ar_frames(rng, 20, 10, 0.8)},
                                      {ar_frames(rng, 20, 10, 0.8)}, o);
        EXPECT_EQ(v.unit, Unit::batches);
        confident += v.verdict != Verdict::too_few;
    }
    EXPECT_EQ(confident, 0);
    const auto apart = compare_figure("frame time", false, {ar_frames(rng, 20, 10, 0.8)},
                                      {ar_frames(rng, 24, 10, 0.8)}, o);
    EXPECT_EQ(apart.verdict, Verdict::too_few);
    // 25 frames are five batches: enough to judge a plain difference.
    const auto enough = compare_figure("frame time", false, {std::vector<double>(25, 20.0)},
                                       {std::vector<double>(25, 24.0)}, o);
    EXPECT_EQ(enough.verdict, Verdict::faster);
}

TEST(Verdicts, NeedBothTheTestAndTheInterval) {
    const Interval below{0.80, 0.90}, above{1.10, 1.30}, across{0.95, 1.05};
    // Frame time: lower is faster.
    EXPECT_EQ(decide({0.85, below, 0.001, false, 30, 30}), Verdict::faster);
    EXPECT_EQ(decide({1.20, above, 0.001, false, 30, 30}), Verdict::slower);
    // Rates: higher is faster.
    EXPECT_EQ(decide({1.20, above, 0.001, true, 30, 30}), Verdict::faster);
    EXPECT_EQ(decide({0.85, below, 0.001, true, 30, 30}), Verdict::slower);
    EXPECT_EQ(decide({0.85, below, 0.2, false, 30, 30}), Verdict::no_difference);
    EXPECT_EQ(decide({1.00, across, 0.001, false, 30, 30}), Verdict::no_difference);
    EXPECT_EQ(decide({0.85, below, 0.001, false, 1, 30}), Verdict::faster);  // one run, its spread borrowed
    EXPECT_EQ(decide({0.85, below, 0.001, false, 1, 1}), Verdict::too_few);
    EXPECT_EQ(decide({0.85, below, 0.001, false, 0, 30}), Verdict::too_few);
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

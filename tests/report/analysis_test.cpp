// A run's figures recomputed from its frame lines, and the checks against its summary.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "common/number.h"
#include "report/analysis/analysis.h"
#include "report/reading/parser.h"
#include "test_data.h"

using namespace report;
using namespace report_test;

namespace {
Analysis analyse_text(const std::string& text, report::Run& keep) {
    keep = parse_results(text, "f.txt");
    return analyse(keep);
}
}  // namespace

TEST(Recompute, RealCubeRunAgreesWithItsSummary) {
    for (const auto& path : {cube_a, cube_b, cube_c, cube_rep1}) {
        SCOPED_TRACE(path);
        report::Run run;
        const Analysis a = analyse_text(read_text(path), run);
        EXPECT_TRUE(a.checks.empty()) << to_string(a.checks.front());
        // 8 bits a channel in every run (the runner's metadata.json says so
        // for the repeated run).
        EXPECT_EQ(a.points_per_frame, 16777216);
        ASSERT_EQ(a.rates.size(), 2u);
        EXPECT_TRUE(a.total_agrees && a.rates[0].average_agrees && a.rates[1].average_agrees);
        double total = 0;
        for (const auto& f : run.frames) total += f.seconds;
        EXPECT_DOUBLE_EQ(a.total_seconds, total);
        EXPECT_DOUBLE_EQ(a.rates[0].average, double(run.frames.size()) / total);
        EXPECT_EQ(common::format_printed(a.rates[0].average), common::format_printed(run.summary.first_average->value));
        EXPECT_FALSE(a.coarse);
    }
}

TEST(Recompute, FrameTimeFiguresComeFromTheFrames) {
    report::Run run;
    const Analysis a = analyse_text(read_text(cube_a), run);
    std::vector<double> s;
    for (const auto& f : run.frames) s.push_back(f.seconds);
    EXPECT_EQ(a.frame_time.n, s.size());
    EXPECT_DOUBLE_EQ(a.frame_time.mean, std::accumulate(s.begin(), s.end(), 0.0) / double(s.size()));
    EXPECT_DOUBLE_EQ(a.frame_time.max, *std::max_element(s.begin(), s.end()));
    // Nine frames: the slowest 1% and 0.1% are both the slowest frame.
    EXPECT_DOUBLE_EQ(a.rates[0].low_1, 1 / a.frame_time.max);
    EXPECT_DOUBLE_EQ(a.rates[0].low_01, a.rates[0].low_1);
    EXPECT_DOUBLE_EQ(a.rates[1].low_1, 16777216 / a.frame_time.max);
}

TEST(Recompute, DisagreementsBeyondSixDigitsAreFlaggedAtTheirLine) {
    const std::string text = read_text(cube_a);
    // The last printed digit off by one: outside the rounding of six digits.
    {
        report::Run run;
        const Analysis a = analyse_text(replaced(text, "Average: 0.146339 ", "Average: 0.146338 "), run);
        ASSERT_EQ(a.checks.size(), 1u);
        EXPECT_FALSE(a.rates[0].average_agrees);
        EXPECT_TRUE(a.rates[1].average_agrees);
        EXPECT_EQ(a.checks[0].line, line_of(text, "Average: 0.146339"));
        EXPECT_NE(a.checks[0].message.find("disagrees with the frame lines, which give 0.146339"),
                  std::string::npos);
    }
    // A total that is not the frames' sum.
    {
        report::Run run;
        const Analysis a = analyse_text(replaced(text, "time:  61.501 ", "time:  61.502 "), run);
        EXPECT_FALSE(a.total_agrees);
        ASSERT_FALSE(a.checks.empty());
        EXPECT_EQ(a.checks[0].line, line_of(text, "Total machine time"));
    }
    // A frame's rate that its own time does not give.
    {
        report::Run run;
        const Analysis a = analyse_text(replaced(text, "It was: 0.134517 ", "It was: 0.134527 "), run);
        ASSERT_EQ(a.checks.size(), 1u);
        EXPECT_EQ(a.checks[0].line, line_of(text, "It was: 0.134517"));
    }
}

TEST(Recompute, ZeroFramesAveragesAreNanOnBothSides) {
    const std::string text = read_text(cube_a);
    const auto first = text.find("window: ");
    const std::string none = text.substr(0, first) +
                             "Total machine time:  0 Secs. \nAverage: -nan Angles/Sec.\n"
                             "Average: -nan Vertex/Sec.\n\n";
    report::Run run;
    const Analysis a = analyse_text(none, run);
    EXPECT_TRUE(run.complete);
    EXPECT_TRUE(a.checks.empty());
    EXPECT_TRUE(std::isnan(a.rates[0].average));
    EXPECT_EQ(a.frame_time.n, 0u);
}

TEST(Recompute, ScreensCountsItsCharactersPerFrame) {
    report::Run run;
    const Analysis a = analyse_text(read_text(screens_file), run);
    EXPECT_TRUE(a.checks.empty());
    ASSERT_EQ(a.rates.size(), 1u);
    EXPECT_EQ(a.rates[0].name, "Characters/sec");
    EXPECT_DOUBLE_EQ(a.rates[0].average, 6450 * double(run.frames.size()) / a.total_seconds);
    // The plain-output pass writes 2097152 characters: its rate must fit its time.
    const std::string text = read_text(screens_file);
    report::Run tampered;
    const Analysis b = analyse_text(replaced(text, "it was: 2.23101e+07", "it was: 2.23111e+07"), tampered);
    ASSERT_EQ(b.checks.size(), 1u);
    EXPECT_EQ(b.checks[0].line, line_of(text, "Conventionally"));
}

TEST(Clock, CoarseTimesAreWarnedAbout) {
    report::Run run;
    const Analysis a = analyse_text(read_text(triangles_coarse), run);
    EXPECT_TRUE(a.coarse);
    std::size_t zero = 0, short_ones = 0;
    for (const auto& f : run.frames) zero += f.seconds == 0, short_ones += f.seconds <= 0.001;
    EXPECT_EQ(a.frames_zero_ms, zero);
    EXPECT_EQ(a.frames_within_1ms, short_ones);
    ASSERT_EQ(a.checks.size(), 2u);
    EXPECT_NE(a.checks[0].message.find("0 or 1 ms"), std::string::npos);
    EXPECT_NE(a.checks[1].message.find("infinite"), std::string::npos);
    // Infinite per-frame rates leave the average finite: all counts over all time.
    EXPECT_TRUE(std::isfinite(a.rates[0].average));
}

TEST(Throughput, TrianglesPerSecondAgainstSize) {
    report::Run run;
    const Analysis a = analyse_text(read_text(triangles_sweep), run);
    EXPECT_TRUE(a.checks.empty());
    ASSERT_EQ(a.throughput.size(), 7u);  // seven sizes, three frames each
    double k = 0, s = 0;
    for (std::size_t i = 0; i < 3; ++i) k += run.frames[i].triangles, s += run.frames[i].seconds;
    EXPECT_EQ(a.throughput[0].frames, 3u);
    EXPECT_DOUBLE_EQ(a.throughput[0].triangles_low, run.frames[0].triangles);
    EXPECT_DOUBLE_EQ(a.throughput[0].triangles_per_second, k / s);
    EXPECT_DOUBLE_EQ(a.throughput[0].mean_seconds, s / 3);
    for (std::size_t i = 1; i < a.throughput.size(); ++i)
        EXPECT_GT(a.throughput[i].triangles_low, a.throughput[i - 1].triangles_high);
}

TEST(Throughput, ManySizesAreBinnedByOctave) {
    std::vector<double> k, s;
    for (int i = 1; i <= 64; ++i) k.push_back(100.0 * i), s.push_back(0.001 * i);
    const auto rows = throughput_rows(k, s, 16);
    // 100..6400: octaves [64,128) [128,256) ... [4096,8192): 7 rows.
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_DOUBLE_EQ(rows[0].triangles_low, 100);
    EXPECT_DOUBLE_EQ(rows[6].triangles_high, 6400);
    std::size_t frames = 0;
    for (const auto& r : rows) frames += r.frames;
    EXPECT_EQ(frames, 64u);
}

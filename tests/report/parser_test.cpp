// The parser on files the programs wrote, and on the ways a file gets damaged.
#include <gtest/gtest.h>

#include "report/reading/parser.h"
#include "test_data.h"

using namespace report;
using namespace report_test;

namespace {

bool has_error(const report::Run& r) { return r.failed(); }

std::vector<Diagnostic> warnings(const report::Run& r) {
    std::vector<Diagnostic> w;
    for (const auto& d : r.diagnostics)
        if (d.level == Diagnostic::Level::warning) w.push_back(d);
    return w;
}

struct Sample {
    std::string path;
    Program program;
    const char* frame_end;  // the last line of every frame, with its line end
};

const Sample samples[] = {
    {cube_a, Program::cube, "Vertex/sec.\n"},
    {cube_b, Program::cube, "Vertex/sec.\n"},
    {cube_c, Program::cube, "Vertex/sec.\n"},
    {cube_rep1, Program::cube, "Vertex/sec.\n"},
    {screens_real, Program::screens, "Charaters/sec.\n"},
    {triangles_real, Program::triangles, "Triangles/sec.\n"},
    {screens_file, Program::screens, "Charaters/sec.\n"},
    {triangles_sweep, Program::triangles, "Triangles/sec.\n"},
    {triangles_coarse, Program::triangles, "Triangles/sec.\n"},
};

}  // namespace

TEST(ParseWholeFiles, EverySampleIsCompleteWithAllItsFrames) {
    for (const auto& s : samples) {
        SCOPED_TRACE(s.path);
        const std::string text = read_text(s.path);
        ASSERT_FALSE(text.empty());
        const report::Run r = parse_results(text, s.path);
        EXPECT_TRUE(r.diagnostics.empty()) << to_string(r.diagnostics.front());
        EXPECT_TRUE(r.complete);
        EXPECT_EQ(r.program, s.program);
        EXPECT_EQ(r.frames.size(), count(text, "window: "));
        ASSERT_TRUE(r.summary.total_seconds && r.summary.first_average);
        EXPECT_EQ(r.summary.total_seconds->line, line_of(text, "Total "));
        ASSERT_FALSE(r.frames.empty());
        EXPECT_EQ(r.frames.front().line, line_of(text, "window: "));
        EXPECT_EQ(r.frames.back().line, line_of(text, "window: ", int(r.frames.size())));
    }
}

TEST(ParseWholeFiles, CubeFiguresAreReadAsPrinted) {
    // The first and last frames and the summary of a real run, as the file shows them.
    const report::Run r = parse_results(read_text(cube_a), cube_a);
    ASSERT_EQ(r.frames.size(), 9u);
    EXPECT_DOUBLE_EQ(r.init_seconds->value, 6.567);
    EXPECT_EQ(r.frames[0].window, 1);
    EXPECT_DOUBLE_EQ(r.frames[0].seconds, 8.431);
    EXPECT_DOUBLE_EQ(r.frames[0].first_rate, 0.11861);
    EXPECT_DOUBLE_EQ(r.frames[0].second_rate, 1.98994e+06);
    EXPECT_DOUBLE_EQ(r.frames[8].seconds, 6.847);
    EXPECT_DOUBLE_EQ(r.summary.total_seconds->value, 61.501);
    EXPECT_DOUBLE_EQ(r.summary.first_average->value, 0.146339);
    EXPECT_DOUBLE_EQ(r.summary.second_average->value, 2.45516e+06);
    EXPECT_EQ(r.summary.ending, Ending::esc);
}

TEST(ParseWholeFiles, ScreensAndTrianglesLayouts) {
    const report::Run s = parse_results(read_text(screens_file), screens_file);
    ASSERT_TRUE(s.plain_seconds && s.plain_rate);
    EXPECT_DOUBLE_EQ(s.plain_seconds->value, 0.094);
    EXPECT_DOUBLE_EQ(s.plain_rate->value, 2.23101e+07);
    EXPECT_EQ(s.plain_rate->line, 7);
    EXPECT_FALSE(s.summary.second_average);

    const report::Run sweep = parse_results(read_text(triangles_sweep), triangles_sweep);
    EXPECT_EQ(sweep.summary.ending, Ending::size_limit);
    EXPECT_DOUBLE_EQ(sweep.frames.front().triangles, 4000);
    EXPECT_DOUBLE_EQ(sweep.frames.back().triangles, 1.6384e+07);

    const report::Run esc = parse_results(read_text(triangles_coarse), triangles_coarse);
    EXPECT_EQ(esc.summary.ending, Ending::esc);
    EXPECT_TRUE(std::isinf(esc.frames[1].first_rate));  // a 0 ms frame
}

TEST(ParseWholeFiles, WindowsLineEndingsReadTheSame) {
    std::string text = read_text(cube_b), crlf;
    for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const report::Run a = parse_results(text, cube_b), b = parse_results(crlf, cube_b);
    EXPECT_TRUE(b.complete);
    ASSERT_EQ(a.frames.size(), b.frames.size());
    EXPECT_DOUBLE_EQ(a.frames[3].seconds, b.frames[3].seconds);
}

TEST(ParseKilledRuns, EveryCutKeepsTheCompleteFramesAndPointsAtTheCut) {
    // A killed run's file is a prefix of the whole; cut at every byte.
    for (const auto& s : samples) {
        SCOPED_TRACE(s.path);
        const std::string text = read_text(s.path);
        for (std::size_t cut = 1; cut < text.size(); ++cut) {
            const std::string prefix = text.substr(0, cut);
            const report::Run r = parse_results(prefix, s.path);
            SCOPED_TRACE("cut after byte " + std::to_string(cut));
            ASSERT_FALSE(has_error(r)) << to_string(r.diagnostics.front());
            EXPECT_FALSE(r.complete);
            EXPECT_EQ(r.program, s.program);
            EXPECT_EQ(r.frames.size(), count(prefix, s.frame_end));
            const auto w = warnings(r);
            ASSERT_EQ(w.size(), 1u);
            EXPECT_EQ(w[0].line, int(count(prefix, "\n")) + 1);
            EXPECT_NE(w[0].message.find("probably killed"), std::string::npos);
        }
    }
}

TEST(ParseKilledRuns, ARealKilledRun) {
    const std::string text = read_text(triangles_killed);
    const report::Run r = parse_results(text, triangles_killed);
    EXPECT_FALSE(r.complete);
    EXPECT_EQ(r.frames.size(), count(text, "window: "));
    ASSERT_EQ(r.diagnostics.size(), 1u);
    EXPECT_EQ(r.diagnostics[0].level, Diagnostic::Level::warning);
    EXPECT_EQ(r.diagnostics[0].line, int(count(text, "\n")) + 1);
    EXPECT_NE(r.diagnostics[0].message.find("without its closing summary"), std::string::npos);
}

TEST(ParseKilledRuns, MissingSummaryAndCutLinesAreNamed) {
    const std::string text = read_text(cube_a);
    const std::string no_summary = text.substr(0, text.find("Total machine time"));
    const report::Run r = parse_results(no_summary, cube_a);
    EXPECT_EQ(r.frames.size(), 9u);
    ASSERT_EQ(r.diagnostics.size(), 1u);
    EXPECT_NE(r.diagnostics[0].message.find("without its closing summary"), std::string::npos);
    EXPECT_NE(r.diagnostics[0].message.find("9 complete frames kept"), std::string::npos);

    // Cut inside the third frame's Vertex/sec line: two frames survive.
    const auto third = text.find("Vertex/sec.", text.find("Vertex/sec.", text.find("Vertex/sec.") + 1) + 1);
    const report::Run cut = parse_results(text.substr(0, third - 3), cube_a);
    EXPECT_EQ(cut.frames.size(), 2u);
    ASSERT_EQ(cut.diagnostics.size(), 1u);
    EXPECT_EQ(cut.diagnostics[0].line, line_of(text, "It was: ", 6));
    EXPECT_NE(cut.diagnostics[0].message.find("cut off mid-way; expected \"It was: <number> Vertex/sec.\""),
              std::string::npos);
}

TEST(ParseDamagedFiles, EmptyFileIsAnError) {
    const report::Run r = parse_results("", cube_a);
    ASSERT_TRUE(has_error(r));
    EXPECT_EQ(r.diagnostics[0].line, 1);
    EXPECT_NE(r.diagnostics[0].message.find("empty"), std::string::npos);
}

TEST(ParseDamagedFiles, FilesOfAnotherKindAreRefusedAtLineOne) {
    const std::string others[] = {
        read_text(data("runs/run-20261207-091012/rep-1/cube/metadata.json")),
        "\n" + read_text(cube_a),  // the console's copy starts with a blank line
        std::string("\x89PNG\r\n\x1a\n\0\0", 10),
    };
    for (const auto& text : others) {
        const report::Run r = parse_results(text, "some.txt");
        ASSERT_TRUE(has_error(r));
        EXPECT_EQ(r.diagnostics[0].line, 1);
        EXPECT_NE(r.diagnostics[0].message.find("not a results file"), std::string::npos);
    }
}

TEST(ParseDamagedFiles, TheFirstMalformedLineIsNamedWithWhatWasExpected) {
    const std::string text = read_text(cube_a);
    struct Case {
        std::string damaged;
        int line;
        std::string expected;
    };
    const Case cases[] = {
        // A rate that is not a number.
        {replaced(text, "It was: 0.134517 Angles/sec.", "It was: 0.13x517 Angles/sec."),
         line_of(text, "It was: 0.134517"), "expected \"It was: <number> Angles/sec.\""},
        // The trailing blank of a time line lost.
        {replaced(text, "The system spent: 6.383 Secs. \n", "The system spent: 6.383 Secs.\n"),
         line_of(text, "The system spent: 6.383"), "(ending in a blank)"},
        // A line dropped from a frame.
        {replaced(text, "It was: 2.62842e+06 Vertex/sec.\n", ""), line_of(text, "It was: 2.62842e+06"),
         "expected \"It was: <number> Vertex/sec.\", found a blank line"},
        // Something after the summary.
        {text + "more\n", line_of(text, "Average: 2.45516e+06") + 2, "expected the end of the file"},
        // The summary of another program.
        {replaced(text, "Total machine time:  61.501", "Total running time:  61.501"),
         line_of(text, "Total machine time"), "or \"Total machine time:  <number> Secs. \""},
        // Numbers no program writes: a negative time, window numbers that are no int.
        {replaced(text, "spent: 6.383 Secs.", "spent: -6.383 Secs."),
         line_of(text, "The system spent: 6.383"), "a time of -6.383 s"},
        {replaced(text, "window: 1\n", "window: nan\n"), line_of(text, "window: "),
         "a window number of nan"},
        {replaced(text, "window: 1\n", "window: 1e+400\n"), line_of(text, "window: "),
         "a window number of inf"},
        {replaced(text, "window: 1\n", "window: -3.5\n"), line_of(text, "window: "),
         "a window number of -3.5"},
        {replaced(text, "window: 1\n", "window: +5\n"), line_of(text, "window: "),
         "found \"window: +5\""},
    };
    for (const auto& c : cases) {
        const report::Run r = parse_results(c.damaged, "f.txt");
        ASSERT_TRUE(has_error(r));
        EXPECT_EQ(r.diagnostics[0].line, c.line);
        EXPECT_NE(r.diagnostics[0].message.find(c.expected), std::string::npos) << r.diagnostics[0].message;
        EXPECT_EQ(to_string(r.diagnostics[0]).rfind("f.txt:" + std::to_string(c.line) + ": error: ", 0), 0u);
    }
}

TEST(ParseDamagedFiles, ANameThatDisagreesWithTheBannerIsWarnedAbout) {
    const report::Run r = parse_results(read_text(triangles_sweep), "dir/results_cube_windows_mac_mx @ x.txt");
    EXPECT_EQ(r.program, Program::triangles);
    EXPECT_TRUE(r.complete);
    ASSERT_EQ(r.diagnostics.size(), 1u);
    EXPECT_NE(r.diagnostics[0].message.find("named for cube"), std::string::npos);
}

// The built suite-report on sample data: exit status, terminal report, and
// the JSON, CSV, HTML and PNG files it writes.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "command.h"
#include "synthetic_runs.h"
#include "test_data.h"

using namespace report_test;
using nlohmann::json;

namespace {

// Frame times as the file prints them, read independently of the tool.
std::vector<double> frame_seconds(const std::string& path) {
    const std::string text = read_text(path);
    static const std::regex line(
        R"(window: \d+\n(?:It drew [^\n]*\n)?(?:The system spent|It spent): ([0-9.e+-]+) Secs\. \n)");
    std::vector<double> s;
    for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it)
        s.push_back(std::stod((*it)[1]));
    return s;
}

const json* run_named(const json& report, const std::string& path) {
    for (const auto& r : report["runs"])
        if (std::filesystem::equivalent(r["path"].get<std::string>(), path)) return &r;
    return nullptr;
}

std::vector<std::vector<std::string>> csv_rows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string cell;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') cell += '"', ++i;
            else if (c == '"') quoted = false;
            else cell += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row.push_back(cell), cell.clear();
        } else if (c == '\n') {
            row.push_back(cell), cell.clear();
            rows.push_back(row), row.clear();
        } else {
            cell += c;
        }
    }
    return rows;
}

bool is_png(const std::string& path) {
    const std::string head = read_text(path).substr(0, 8);
    return head == std::string("\x89PNG\r\n\x1a\n", 8);
}

}  // namespace

TEST(SuiteReport, AllOutputsHoldTheFiguresOfTheFiles) {
    TempDir out;
    const Result r = run({exe, data(""), "--json", out.path("r.json"), "--csv", out.path("r.csv"),
                          "--html", out.path("r.html"), "--plots", out.path("plots")},
                         out);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("== cube  run-20261207-084710/cube"), std::string::npos);
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\n +gl\.renderer +llvmpipe \(LLVM 15\.0\.6, 256 bits\)\n)")));

    const json report = json::parse(read_text(out.path("r.json")));
    ASSERT_EQ(report["runs"].size(), 11u);
    std::size_t frames = 0;
    for (const std::string& path : {cube_a, screens_real, triangles_real, triangles_killed, triangles_sweep}) {
        SCOPED_TRACE(path);
        const auto seconds = frame_seconds(path);
        const json* run = run_named(report, path);
        ASSERT_TRUE(run);
        const json& a = (*run)["analysis"];
        EXPECT_EQ((*run)["frames"], seconds.size());
        double sum = 0;
        for (double s : seconds) sum += s;
        EXPECT_NEAR(a["frame_time_seconds"]["mean"].get<double>(), sum / double(seconds.size()), 1e-12);
        EXPECT_EQ(a["frame_time_seconds"]["max"].get<double>(),
                  *std::max_element(seconds.begin(), seconds.end()));
        EXPECT_NEAR(a["total_seconds"].get<double>(), sum, 1e-9);
        EXPECT_TRUE(a["rates"][0]["summary_agrees"].get<bool>());
        EXPECT_EQ(a["rates"][0]["summary"].is_null(), path == triangles_killed);
    }
    for (const auto& run : report["runs"]) frames += run["frames"].get<std::size_t>();
    EXPECT_EQ(report["repeats"].size(), 3u);  // each program has several runs

    // The CSV: a header and a row per frame, the times as the files print them.
    const auto rows = csv_rows(read_text(out.path("r.csv")));
    ASSERT_EQ(rows.size(), frames + 1);
    EXPECT_EQ(rows[0][7], "seconds");
    std::vector<double> csv_a;
    for (const auto& row : rows)
        if (row[3] == cube_a || (row[3] != "file" && std::filesystem::equivalent(row[3], cube_a)))
            csv_a.push_back(std::stod(row[7]));
    EXPECT_EQ(csv_a, frame_seconds(cube_a));

    // PNG plots: frame time and distribution for each program, throughput for triangles.
    for (const char* name : {"cube-frame-time.png", "cube-distribution.png", "screens-frame-time.png",
                             "triangles-distribution.png", "triangles-throughput.png"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(is_png(out.path(std::string("plots/") + name)));
        EXPECT_GT(std::filesystem::file_size(out.path(std::string("plots/") + name)), 5000u);
    }

    // The page: everything inside it, the plots as data: URIs.
    const std::string html = read_text(out.path("r.html"));
    EXPECT_EQ(count(html, "<img "), 7u);
    EXPECT_EQ(count(html, "src=\"data:image/png;base64,"), 7u);
    EXPECT_EQ(html.find("http:"), std::string::npos);
    EXPECT_EQ(html.find("https:"), std::string::npos);
    EXPECT_EQ(html.find("<link"), std::string::npos);
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_NE(html.find("run-20261207-084710/cube"), std::string::npos);
    EXPECT_NE(html.find("0.146339 (agrees)"), std::string::npos);  // cube_a's Angles/sec summary
}

TEST(SuiteReport, DamagedInputsFailWithTheLineAndCutOnesWarn) {
    TempDir dir;
    const std::string text = read_text(cube_a);
    const std::string damaged = dir.path("damaged/results_cube_x.txt");
    write_text(damaged, replaced(text, "It was: 0.134517 ", "It was: 0.13O517 "));
    const Result bad = run({exe, damaged, "--json", dir.path("bad.json")}, dir);
    EXPECT_EQ(bad.status, 1);
    const std::string where = damaged + ":" + std::to_string(line_of(text, "It was: 0.134517"));
    EXPECT_NE(bad.err.find(where + ": error: expected \"It was: <number> Angles/sec.\""),
              std::string::npos)
        << bad.err;
    // The other files are still reported, and the JSON says which failed.
    const Result mixed = run({exe, damaged, cube_b, "--json", dir.path("mixed.json")}, dir);
    EXPECT_EQ(mixed.status, 1);
    const json report = json::parse(read_text(dir.path("mixed.json")));
    EXPECT_FALSE(report["runs"][0]["readable"].get<bool>());
    EXPECT_TRUE(report["runs"][1]["readable"].get<bool>());

    const std::string cut = dir.path("cut/results_cube_y.txt");
    write_text(cut, text.substr(0, text.find("Vertex/sec.", text.find("window: ", 400)) - 4));
    const Result killed = run({exe, cut}, dir);
    EXPECT_EQ(killed.status, 0) << killed.err;
    EXPECT_NE(killed.out.find("cut off before its end"), std::string::npos);
    EXPECT_NE(killed.out.find("the line is cut off mid-way"), std::string::npos);

    write_text(dir.path("empty/results_cube_z.txt"), "");
    EXPECT_EQ(run({exe, dir.path("empty")}, dir).status, 1);
    EXPECT_EQ(run({exe, dir.path("no-such-folder")}, dir).status, 1);
}

// A run folder as the runner leaves it after a crash: the report names the
// signal, and Mesa's own notice of the runner's sync switch hides no line.
TEST(SuiteReport, CrashesAreNamedAndTheRunnersSyncNoticeSkipped) {
    TempDir dir;
    const std::string folder = dir.path("run-1/screens");
    write_text(folder + "/results_screens_x.txt", read_text(screens_real));
    write_text(folder + "/metadata.json", R"j({"run": {"problem": "crashed: signal 11 (SIGSEGV)"}})j");
    write_text(folder + "/exit-status.txt", "-11\n");
    write_text(folder + "/stderr.txt",
               "ATTENTION: default value of option vblank_mode overridden by environment.\n"
               "free(): invalid pointer\n");
    const Result r = run({exe, dir.path("run-1")}, dir);
    EXPECT_NE(r.out.find("warning: the runner reports: crashed: signal 11 (SIGSEGV)"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("ended by signal 11 (SIGSEGV)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("it wrote to standard error: free(): invalid pointer"), std::string::npos)
        << r.out;
}

TEST(SuiteReport, CompareGivesVerdicts) {
    TempDir dir;
    // Two screens runs made for the purpose: 20 ms frames against 30 ms ones.
    auto screens_run = [&](const std::string& name, double base) {
        std::ostringstream s;
        s << "Vantix :: Lumenfold Benchmark Graphics Screens for Windows on Mac Mx system "
             "2023.03.06.\n\n\nPlain Output\n\nThe system spent: 0.01 Secs. \n"
             "Conventionally, it was: 2.09715e+08 Characters/sec.\n\n\nGraphical Output\n\n"
             "It spent: 0.3 Secs to Initialize.\n\n\n";
        double total = 0;
        for (int i = 0; i < 25; ++i) {
            const double t = base + 0.001 * (i % 5);
            total += t;
            s << "window: 1\nThe system spent: " << t << " Secs. \nIt was: " << 6450 / t
              << " Charaters/sec.\n\n";
        }
        s << "Total machine time:  " << total << " Secs. \nAverage: " << 6450 * 25 / total
          << " Characters/Sec.\n\n";
        write_text(dir.path(name + "/results_screens_" + name + ".txt"), s.str());
        return dir.path(name);
    };
    const std::string quick = screens_run("quick", 0.020), slow = screens_run("slow", 0.030);
    const Result r = run({exe, "compare", quick, "--against", slow, "--json", "-"}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const json c = json::parse(r.out)["comparison"]["programs"][0];
    EXPECT_EQ(c["program"], "screens");
    EXPECT_EQ(c["figures"][0]["name"], "frame time");
    EXPECT_EQ(c["figures"][0]["verdict"], "faster");
    EXPECT_EQ(c["figures"][1]["verdict"], "faster");  // Characters/sec, higher is better
    EXPECT_LT(c["figures"][0]["interval"][1].get<double>(), 1);

    // A real cube run has 9 frames: three batches, too few to tell anything.
    const Result same = run({exe, "compare", cube_a, "--against", cube_a}, dir);
    ASSERT_EQ(same.status, 0) << same.err;
    EXPECT_NE(same.out.find("too few frames to tell"), std::string::npos);
    EXPECT_EQ(same.out.find("faster"), std::string::npos);
    EXPECT_EQ(same.out.find("slower"), std::string::npos);
}

// A screens run of these frame times (ms), with the window size and renderer
// the runner records beside it.
std::string screens_with(const TempDir& dir, const std::string& name, const std::vector<double>& ms,
                         const std::string& size, const std::string& renderer) {
    write_screens_run(dir.path(name), ms);
    write_text(dir.path(name + "/metadata.json"),
               json{{"run", {{"window_size", size}}}, {"gl", {{"renderer", renderer}}}}.dump());
    return dir.path(name);
}

TEST(SuiteReport, CompareRefusesUnlikeRunsInASideAndJudgesRatesAsTimes) {
    TempDir dir;
    const auto quick = stutter_frames(1, 25, 0.2, 20, 24), slow = stutter_frames(2, 25, 0.2, 30, 34);
    const auto a1 = screens_with(dir, "a1", quick, "100x100", "llvmpipe"),
               a2 = screens_with(dir, "a2", quick, "200x200", "softpipe"),
               b = screens_with(dir, "b", slow, "100x100", "llvmpipe");
    const Result mixed = run({exe, "compare", a1, a2, "--against", b}, dir);
    EXPECT_EQ(mixed.status, 1) << mixed.out;
    const std::string first = "A: screens 2026.12.07 12.00.00", second = first + " #2";
    EXPECT_NE(mixed.err.find("screens: not judged: A pools runs of different window sizes (100x100 in " +
                             first + ", 200x200 in " + second + "); renderers (llvmpipe in " + first +
                             ", softpipe in " + second + ")"),
              std::string::npos) << mixed.err;
    EXPECT_EQ(mixed.out.find(" faster"), std::string::npos) << mixed.out;
    const Result allowed = run({exe, "compare", a1, a2, "--against", b, "--allow-mixed"}, dir);
    EXPECT_EQ(allowed.status, 0) << allowed.err;
    EXPECT_NE(allowed.out.find("faster"), std::string::npos) << allowed.out;
    const Result sizes = run({exe, "compare", a2, "--against", b}, dir);  // one size a side
    EXPECT_EQ(sizes.status, 0) << sizes.err;
    EXPECT_NE(sizes.out.find("warning: screens: the sides differ in window size (A: 200x200; B: 100x100)"),
              std::string::npos) << sizes.out;
    // Whole batches of 0 ms frames: a time of 0 and an infinite rate, neither of
    // which has a log; the rate's verdict is the frame time's, and neither claims more.
    auto zero = stutter_frames(3, 30, 0.3, 0, 1);
    std::fill_n(zero.begin(), 10, 0.0);
    const Result r = run({exe, "compare", screens_with(dir, "z", zero, "100x100", "llvmpipe"),
                          "--against", b, "--json", "-"}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const json figures = json::parse(r.out)["comparison"]["programs"][0]["figures"];
    EXPECT_EQ(figures[0]["verdict"], figures[1]["verdict"]);
    EXPECT_EQ(figures[1]["verdict"], "no significant difference");
}

TEST(SuiteReport, UsageErrors) {
    TempDir dir;
    EXPECT_EQ(run({exe}, dir).status, 2);
    EXPECT_EQ(run({exe, cube_a, "--plot-format", "gif", "--plots", dir.path("p")}, dir).status, 2);
    EXPECT_EQ(run({exe, "compare", cube_a}, dir).status, 2);
    const Result help = run({exe, "--help"}, dir);
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("compare"), std::string::npos);
}

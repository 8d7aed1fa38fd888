// The results store against both backends: a real SQLite file and a real
// PostgreSQL server, through the built suite-report and suite-run.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>

#include <map>
#include <memory>
#include <set>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "common/number.h"
#include "pg_server.h"
#include "record/run_record.h"
#include "store/store.h"
#include "synthetic_runs.h"

namespace fs = std::filesystem;
using namespace report_test;

namespace {

using store_test::pg;

// The figures of each frame block ("window: N" up to the blank line) as the
// file prints them: the word after "drew " or after the last ": ".
std::vector<std::vector<std::string>> printed_frames(const std::string& text) {
    std::vector<std::vector<std::string>> frames;
    std::istringstream in(text);
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("window: ", 0) == 0) {
            frames.emplace_back();
            inside = true;
        } else if (line.empty() || line.rfind("Total", 0) == 0) {
            inside = false;
        } else if (inside) {
            const auto drew = line.find("drew ");
            const auto at = drew != std::string::npos ? drew + 5 : line.rfind(": ") + 2;
            frames.back().push_back(line.substr(at, line.find(' ', at) - at));
        }
    }
    return frames;
}

// A run folder holding one screens run (frames of `ms` milliseconds, on the
// programs' whole-millisecond clock) with its metadata.
// `date` is the program's own start; "" leaves it out, as older runners did.
void write_screens(const std::string& folder, const std::vector<double>& ms, const std::string& host,
                   const std::string& date, const std::string& renderer = "llvmpipe",
                   const std::string& machine_date = "", const std::string& gl_version = "") {
    std::vector<double> whole;
    for (double m : ms) whole.push_back(std::round(m));
    write_screens_run(folder + "/screens", whole);
    record::RunRecord meta;
    meta.format = record::run_record_format;
    meta.machine.host = host;
    meta.machine.date = machine_date.empty() ? date : machine_date;
    meta.gl.renderer = renderer;
    meta.gl.version = gl_version;
    meta.run.program = "screens";
    meta.run.window_size = "1440x1440";
    if (!date.empty()) meta.run.date = date;
    write_text(folder + "/screens/metadata.json", nlohmann::json(meta).dump());
}

std::vector<double> series(double base_ms, double factor, unsigned seed, int n = 30) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> noise(0.98, 1.02);
    std::vector<double> ms;
    for (int i = 0; i < n; ++i) ms.push_back(base_ms * factor * noise(random));
    return ms;
}

class StoreTest : public ::testing::TestWithParam<std::string> {
protected:
    std::string fresh_store() {
        return GetParam() == "sqlite" ? scratch.path("suite.db") : pg()->fresh();
    }
    Result report(std::vector<std::string> args) {
        args.insert(args.begin(), SUITE_REPORT);
        return run(args, scratch);
    }
    static long long stored(const std::string& url, const std::string& sql) {
        return std::stoll(*store::open_store(url, false)->query(sql)[0][0]);
    }
    TempDir scratch;
};

TEST_P(StoreTest, RecordsRealRunsWithFiguresAsPrinted) {
    fs::copy(data("runs"), scratch.path("runs"), fs::copy_options::recursive);
    // Hand-made files with inf among the figures, and a -nan whose sign must survive.
    fs::copy(data("synthetic"), scratch.path("runs/synthetic"), fs::copy_options::recursive);
    write_text(scratch.path("runs/nan/results_triangles.txt"),
               replaced(read_text(triangles_coarse), "It was: inf Angles/sec.", "It was: -nan Angles/sec."));
    // The runner's extras: a host name in metadata.json and its own frame intervals.
    const std::string rep1 = scratch.path("runs/run-20261207-091012/rep-1/cube");
    auto meta = nlohmann::json::parse(read_text(rep1 + "/metadata.json"));
    meta["machine"]["host"] = "lab-7";
    write_text(rep1 + "/metadata.json", meta.dump());
    write_text(rep1 + "/frames.csv", "frame,printed_ms,runner_interval_us\n1,7306,\n2,7441,7512034\n");
    const std::string url = fresh_store();
    const auto r = report({"import", scratch.path("runs"), "--db", url});
    ASSERT_EQ(r.status, 0) << r.err;

    auto db = store::open_store(url, false);
    const auto runs = store::find_runs(*db, {});
    ASSERT_EQ(runs.size(), 12u);
    for (const auto& row : runs) {
        const std::string file = row.folder + "/" + row.results_name;
        const auto printed = printed_frames(read_text(file));
        const auto stored = store::frames_of(*db, row.id);
        ASSERT_FALSE(stored.empty()) << file;
        // A killed run's last block may be cut short: every complete one is kept.
        ASSERT_GE(stored.size() + 1, printed.size()) << file;
        for (std::size_t i = 0; i < stored.size(); ++i) {
            const auto& f = stored[i];
            std::vector<std::string> back;
            if (f.triangles) back.push_back(*f.triangles);
            back.insert(back.end(), {f.seconds, f.first_rate});
            if (f.second_rate) back.push_back(*f.second_rate);
            EXPECT_EQ(back, printed[i]) << file << " frame " << i + 1;
        }
        if (row.folder == fs::path(rep1).lexically_normal().string()) {
            EXPECT_EQ(row.host, "lab-7");
            EXPECT_FALSE(stored[0].interval_us);
            EXPECT_EQ(stored[1].interval_us, 7512034);
        }
    }
}

TEST_P(StoreTest, ImportTwiceAddsNothingAndDamagedFilesAreRefused) {
    const std::string url = fresh_store();
    ASSERT_EQ(report({"import", data("runs/run-20261207-090214"), "--db", url}).status, 0);
    const auto again = report({"import", data("runs/run-20261207-090214"), "--db", url});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("recorded 0 run(s)"), std::string::npos) << again.out;
    EXPECT_EQ(stored(url, "SELECT count(*) FROM runs"), 2);

    const std::string text = read_text(cube_a);
    const std::string bad = scratch.path("bad/results_cube_windows_mac_mx.txt");
    write_text(bad, replaced(text, "The system spent: 7.434 Secs.", "The system spent: 7,434 Secs."));
    const auto refused = report({"import", bad, "--db", url});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find(bad + ":" + std::to_string(line_of(text, "The system spent: 7.434"))),
              std::string::npos) << refused.err;
    EXPECT_EQ(stored(url, "SELECT count(*) FROM runs"), 2);
}

TEST_P(StoreTest, HistoryOrdersAndFilters) {
    write_screens(scratch.path("h/1"), series(40, 1, 1), "alpha", "2026-03-02T10:00:00+0000");
    write_screens(scratch.path("h/2"), series(40, 1, 2), "beta", "2026-03-01T10:00:00+0000");
    write_screens(scratch.path("h/3"), series(40, 1, 3), "alpha", "2026-01-15T10:00:00+0000");
    // 23:30 at UTC-3 is the next day in UTC: runs sort by the UTC time.
    write_screens(scratch.path("h/4"), series(40, 1, 4), "alpha", "2026-02-28T23:30:00-0300");
    write_screens(scratch.path("h/5"), series(40, 1, 5), "alpha", "2026-02-05T10:00:00+0000", "other");
    const std::string url = fresh_store();
    ASSERT_EQ(report({"import", scratch.path("h"), "--db", url}).status, 0);

    auto dates = [&](std::vector<std::string> filter) {
        filter.insert(filter.begin(), {"history", "--db", url, "--json", "-"});
        const auto r = report(filter);
        EXPECT_EQ(r.status, 0) << r.err;
        std::vector<std::string> out;
        for (const auto& g : nlohmann::json::parse(r.out))
            for (const auto& run : g["runs"])
                out.push_back(run["machine"].get<std::string>() + " " + run["renderer"].get<std::string>() +
                              " " + run["date"].get<std::string>());
        return out;
    };
    EXPECT_EQ(dates({"--machine", "alpha", "--renderer", "llvmpipe"}),
              (std::vector<std::string>{"alpha llvmpipe 2026-01-15 10:00:00",
                                        "alpha llvmpipe 2026-03-01 02:30:00",
                                        "alpha llvmpipe 2026-03-02 10:00:00"}));
    EXPECT_EQ(dates({"--program", "screens", "--since", "2026-03-01"}),
              (std::vector<std::string>{"alpha llvmpipe 2026-03-01 02:30:00",
                                        "alpha llvmpipe 2026-03-02 10:00:00",
                                        "beta llvmpipe 2026-03-01 10:00:00"}));
    EXPECT_TRUE(dates({"--program", "cube"}).empty());

    const auto csv = report({"history", "--db", url, "--machine", "beta", "--csv", "-"});
    EXPECT_EQ(count(csv.out, "\n"), 2u) << csv.out;
    if (GetParam() == "sqlite") {  // the store file is an input: never replaced by an output
        EXPECT_EQ(report({"history", "--db", url, "--csv", url}).status, 2);
    }
    const auto drawn = report({"history", "--db", url, "--plots", scratch.path("plots"), "--html",
                               scratch.path("h.html")});
    EXPECT_EQ(drawn.status, 0) << drawn.err;
    EXPECT_GT(fs::file_size(scratch.path("plots/screens-trend.png")), 1000u);
    EXPECT_NE(read_text(scratch.path("h.html")).find("data:image/svg+xml;base64,"), std::string::npos);
}

TEST_P(StoreTest, CheckFailsOnAFivePercentSlowdownOnly) {
    // Per machine: five runs at one speed, then the newest at `factor` of their frame time.
    auto series_for = [&](const std::string& host, double factor, unsigned seed) {
        for (int i = 0; i < 6; ++i)
            write_screens(scratch.path("c/" + host + std::to_string(i)),
                          series(400, i == 5 ? factor : 1, seed + i), host,
                          "2026-05-0" + std::to_string(i + 1) + "T12:00:00+0000");
    };
    series_for("steady", 1, 10);
    series_for("slight", 1.005, 20);
    const std::string url = fresh_store();
    ASSERT_EQ(report({"import", scratch.path("c"), "--db", url}).status, 0);
    const auto pass = report({"check", "--db", url});
    EXPECT_EQ(pass.status, 0) << pass.out;
    EXPECT_EQ(pass.out.find("FAIL"), std::string::npos) << pass.out;

    fs::remove_all(scratch.path("c"));
    series_for("slower", 1.05, 30);
    ASSERT_EQ(report({"import", scratch.path("c"), "--db", url}).status, 0);
    const auto fail = report({"check", "--db", url});
    EXPECT_EQ(fail.status, 1) << fail.out;
    std::istringstream lines(fail.out);
    int failed = 0;
    for (std::string line; std::getline(lines, line);)
        if (line.find("FAIL") != std::string::npos) {
            EXPECT_NE(line.find(" slower "), std::string::npos) << line;
            ++failed;
        }
    EXPECT_EQ(failed, 2) << fail.out;  // frame time and Characters/sec

    // The same verdicts for a CI system: JUnit checked against the schema,
    // the Markdown table read back cell by cell.
    const std::string xml = scratch.path("check.xml"), md = scratch.path("check.md");
    EXPECT_EQ(report({"check", "--db", url, "--junit", xml, "--markdown", md}).status, 1);
    const auto valid = sh("xmllint --noout --schema " + shell_quote(REPORT_DATA "/junit.xsd") + " " +
                          shell_quote(xml), scratch);
    EXPECT_EQ(valid.status, 0) << valid.out << valid.err;
    const std::string junit = read_text(xml);
    EXPECT_EQ(count(junit, "<failure type=\"regression\" message=\"before "), 2u) << junit;
    EXPECT_EQ(count(junit, "<testcase "), 6u) << junit;  // three machines, two figures
    std::istringstream table(read_text(md));
    int rows = 0, fails = 0;
    for (std::string line; std::getline(table, line);) {
        if (line.rfind("| screens on ", 0) != 0) continue;
        std::vector<std::string> cells;
        for (std::size_t at = 1, bar; (bar = line.find(" |", at)) != std::string::npos; at = bar + 2)
            cells.push_back(line.substr(at + 1, bar - at - 1));
        ASSERT_EQ(cells.size(), 8u) << line;
        ++rows;
        fails += cells[7] == "FAIL";
        if (cells[7] == "FAIL") {
            EXPECT_EQ(cells[6], "slower") << line;
        }
    }
    EXPECT_EQ(rows, 6);
    EXPECT_EQ(fails, 2);
}

// A quote in the new version: the plot's label must stay one gnuplot string.
const std::string quoted_old_gl = "4.5 Mesa 22.3.6", quoted_new_gl = "4.5 Mesa '23.1.0'";

// `n` daily runs with 2% noise between runs; from run 31 frames take 10%
// longer and the GL version is another.
void write_stepped_history(const std::string& folder, int n) {
    std::mt19937 random(5);
    std::normal_distribution<double> level(1, 0.02);
    for (int i = 0; i < n; ++i) {
        char date[32];
        std::snprintf(date, sizeof date, "2026-%02d-%02dT12:00:00+0000", 10 + i / 30, 1 + i % 30);
        write_screens(folder + "/" + std::to_string(i),
                      series(400 * (i >= 30 ? 1.10 : 1) * level(random), 1, 50 + i), "lab",
                      date, "llvmpipe", "", i >= 30 ? quoted_new_gl : quoted_old_gl);
    }
}

TEST_P(StoreTest, HistoryFindsAStepAtItsRunAndNamesWhatChanged) {
    write_stepped_history(scratch.path("s"), 60);
    const std::string url = fresh_store();
    ASSERT_EQ(report({"import", scratch.path("s"), "--db", url}).status, 0);
    const auto runs = store::find_runs(*store::open_store(url, false), {});
    ASSERT_EQ(runs.size(), 60u);
    const std::string changed =
        "changed then: gl.version " + quoted_old_gl + " -> " + quoted_new_gl;

    const auto text = report({"history", "--db", url});
    ASSERT_EQ(text.status, 0) << text.err;
    const std::string at = " from " + runs[30].date.substr(0, 10) + " (run " +
                           std::to_string(runs[30].id) + "); " + changed;
    EXPECT_NE(text.out.find("step: frame time +"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find(at), std::string::npos) << text.out;

    const auto json = report({"history", "--db", url, "--json", "-"});
    ASSERT_EQ(json.status, 0) << json.err;
    const auto groups = nlohmann::json::parse(json.out);
    ASSERT_EQ(groups.size(), 1u);
    bool frame_time = false;
    for (const auto& step : groups[0]["steps"]) {
        // Every figure steps there, and nowhere else.
        EXPECT_EQ(step["after"]["run"], runs[30].id) << step.dump();
        EXPECT_EQ(step["before"]["run"], runs[29].id) << step.dump();
        EXPECT_EQ(step["changed"],
                  nlohmann::json::parse(R"([{"name":"gl.version","before":")" + quoted_old_gl +
                                        R"(","after":")" + quoted_new_gl + "\"}]"));
        if (step["figure"] != "frame time") continue;
        frame_time = true;
        EXPECT_LT(step["interval"][0].get<double>(), step["ratio"].get<double>());
        EXPECT_GT(step["interval"][1].get<double>(), step["ratio"].get<double>());
        EXPECT_GT(step["interval"][0].get<double>(), 1);
    }
    EXPECT_TRUE(frame_time) << json.out;

    const auto csv = report({"history", "--db", url, "--csv", "-"});
    EXPECT_EQ(count(csv.out, changed), groups[0]["steps"].size()) << csv.out;
    const auto page = report({"history", "--db", url, "--html", scratch.path("h.html")});
    EXPECT_EQ(page.status, 0) << page.err;
    const std::string html = read_text(scratch.path("h.html"));
    EXPECT_NE(html.find(replaced(at, "->", "-&gt;")), std::string::npos);
    // The trend plot with its marks was drawn.
    EXPECT_NE(html.find("data:image/svg+xml;base64,"), std::string::npos) << page.err;
}

TEST_P(StoreTest, CheckTakesTheRunsSinceTheLastStepAsBaseline) {
    // The newest of 45 runs is at the level since run 31: no slowdown against
    // the runs since that step, a slowdown against the last 20, which straddle it.
    write_stepped_history(scratch.path("s"), 45);
    const std::string url = fresh_store();
    ASSERT_EQ(report({"import", scratch.path("s"), "--db", url}).status, 0);
    const auto runs = store::find_runs(*store::open_store(url, false), {});
    ASSERT_EQ(runs.size(), 45u);
    const auto current = report({"check", "--db", url});
    EXPECT_EQ(current.status, 0) << current.out;
    EXPECT_NE(current.out.find("baseline of screens on lab, llvmpipe, 1440x1440: 14 run(s), since "
                               "the step of " + runs[30].date.substr(0, 10) + ": run " +
                               std::to_string(runs[30].id) + " ("),
              std::string::npos) << current.out;
    // Runs from both levels in one baseline: the newest looks slower than it
    // (with the runs as units, their spread then hides it from the test).
    const auto straddling = report({"check", "--db", url, "--last", "20"});
    std::smatch ratio;
    ASSERT_TRUE(std::regex_search(straddling.out, ratio, std::regex(R"(frame time +20 runs +([0-9.]+))")))
        << straddling.out;
    EXPECT_GT(std::stod(ratio[1]), 1.02) << straddling.out;
    EXPECT_NE(straddling.out.find("20 run(s), the last 20 asked for: run " +
                                  std::to_string(runs[24].id) + " ("),
              std::string::npos) << straddling.out;
}

TEST_P(StoreTest, CheckGivesCompareFigures) {
    // Fast and slow frames in turn: the mean of per-frame rates is far above
    // the base's, the programs' own average (counts over time) below it.
    std::vector<double> uneven;
    for (double ms : series(30, 1, 41, 64)) uneven.push_back(uneven.size() % 2 ? 10 * ms : ms / 3);
    write_screens(scratch.path("c/base"), series(50, 1, 40, 64), "m", "2026-07-01T10:00:00+0000");
    write_screens(scratch.path("c/new"), uneven, "m", "2026-07-02T10:00:00+0000");
    const std::string url = fresh_store();
    ASSERT_EQ(report({"import", scratch.path("c"), "--db", url}).status, 0);
    const auto check = report({"check", "--db", url});
    const auto compare =
        report({"compare", scratch.path("c/new"), "--against", scratch.path("c/base"), "--json", "-"});
    const auto figures = nlohmann::json::parse(compare.out)["comparison"]["programs"][0]["figures"];
    ASSERT_EQ(figures.size(), 2u);
    std::istringstream lines(check.out);
    for (const auto& f : figures) {
        std::string line;
        while (std::getline(lines, line) && line.find(f["name"].get<std::string>()) == std::string::npos) {}
        const std::string fixed = common::format_fixed(f["ratio"], 4) + "  " +
                                  common::format_fixed(f["interval"][0], 4) + " .. " +
                                  common::format_fixed(f["interval"][1], 4);
        EXPECT_NE(line.find(" " + fixed + " "), std::string::npos) << fixed << "\n" << check.out;
        EXPECT_NE(line.find(" " + f["verdict"].get<std::string>() + " "), std::string::npos) << line;
        EXPECT_EQ(f["ratio"].get<double>() > 1, !f["higher_is_better"].get<bool>());  // both worse
    }
    EXPECT_EQ(check.status, check.out.find("FAIL") != std::string::npos ? 1 : 0) << check.out;
}

TEST_P(StoreTest, CheckNeverPassesWhatItDidNotJudge) {
    const std::string url = fresh_store();
    store::open_store(url, true);
    // Each run in turn the newest: its frames, exit status, whether it has its summary.
    int day = 0;
    auto newest = [&](const std::vector<double>& ms, const std::string& exit_status, bool summary,
                      const std::string& why, const std::vector<std::string>& options = {},
                      bool busy = false) {
        const std::string folder = scratch.path("j/" + std::to_string(++day));
        if (day > 1) {
            write_screens(folder, ms, "m", "2026-08-0" + std::to_string(day) + "T10:00:00+0000");
            const std::string file = folder + "/screens/results_screens_windows_mac_mx @ local date "
                                              "2026.12.07 time 12.00.00.txt";
            const std::string text = read_text(file);
            if (!summary) write_text(file, text.substr(0, text.find("Total machine time")));
            if (!exit_status.empty()) write_text(folder + "/screens/exit-status.txt", exit_status);
            if (busy) {
                auto meta = nlohmann::json::parse(read_text(folder + "/screens/metadata.json"));
                meta["run"]["load"]["measured"] = {{"cores", 2}, {"others_cores", 1.6}};
                write_text(folder + "/screens/metadata.json", meta.dump());
            }
            ASSERT_EQ(report({"import", folder, "--db", url}).status, 0) << why;
        }
        std::vector<std::string> args = {"check", "--db", url};
        args.insert(args.end(), options.begin(), options.end());
        const auto r = report(args);
        EXPECT_EQ(r.status, why.empty() ? 0 : 3) << why << "\n" << r.out;
        EXPECT_EQ(r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1, 5), why.empty() ? "pass:" : "not j");
        EXPECT_NE(r.out.find(why), std::string::npos) << why << "\n" << r.out;
    };
    newest({}, "", true, "no runs in");
    newest(series(40, 1, 50), "", true, "no earlier run");
    newest(series(40, 1, 51), "", true, "");
    newest(series(40, 1, 52), "0", true, "no other run tagged x", {"--baseline", "x"});
    newest({}, "-11", false, "the newest run has no frames");
    newest(series(40, 1, 53), "-11", false, "ended by signal 11");
    newest(series(40, 1, 55), "", false, "ended before its summary");
    newest({40}, "", true, "too few frames to tell");
    // A newest run measured beside other load is no verdict on the program,
    // unless asked; later, it is no baseline either.
    newest(series(40, 1, 56), "", true,
           "inconclusive, the newest run was measured on a busy machine (others used 1.60 of 2 cores)",
           {}, true);
    EXPECT_EQ(report({"check", "--db", url, "--allow-busy"}).out.find("busy machine"),
              std::string::npos);
    newest(series(40, 1, 57), "", true, "1 busy run(s) left out", {"--last", "1"});
    // A tag on busy runs only: not "no run tagged".
    ASSERT_EQ(report({"import", scratch.path("j/9"), "--tag", "x", "--db", url}).status, 0);
    const auto busy_tag = report({"check", "--db", url, "--baseline", "x"});
    EXPECT_EQ(busy_tag.status, 3);
    EXPECT_NE(busy_tag.out.find("every other run tagged x was measured on a busy machine"),
              std::string::npos) << busy_tag.out;
}

TEST_P(StoreTest, EightConcurrentWritersLoseAndMixNothing) {
    const std::string url = fresh_store();
    std::vector<std::thread> writers;
    std::vector<Result> results(8);
    std::vector<std::unique_ptr<TempDir>> outputs;
    for (int w = 0; w < 8; ++w) {
        for (int k = 0; k < 3; ++k)
            write_screens(scratch.path("w" + std::to_string(w) + "/" + std::to_string(k)),
                          series(40, 1, static_cast<unsigned>(100 + 10 * w + k), 200 + 10 * k),
                          "w" + std::to_string(w), "2026-06-01T00:00:00+0000");
        outputs.push_back(std::make_unique<TempDir>());
        // Each writer also records the same real run: one copy must win.
        writers.emplace_back([&, w] {
            results[w] = run({SUITE_REPORT, "import", scratch.path("w" + std::to_string(w)),
                              cube_a, "--db", url}, *outputs[w]);
        });
    }
    for (auto& t : writers) t.join();
    for (const auto& r : results) EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(stored(url, "SELECT count(*) FROM runs"), 25);
    // Every run has exactly its own frames.
    EXPECT_EQ(stored(url, "SELECT count(*) FROM runs r WHERE frames <> "
                         "(SELECT count(*) FROM frames f WHERE f.run_id = r.id)"), 0);
    EXPECT_EQ(stored(url, "SELECT sum(frames) FROM runs"), 8 * (200 + 210 + 220) + 9);
}

TEST_P(StoreTest, UnreachableStoreWarnsAndKeepsTheRunFolder) {
    write_text(scratch.path("not-a-folder"), "");
    const std::string url = GetParam() == "sqlite" ? scratch.path("not-a-folder/suite.db")
                                                   : "postgresql:///suite?host=" + scratch.path() +
                                                         "&user=suite&connect_timeout=5";
    const auto r = report({"import", cube_a, "--db", url});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("warning: 1 of 1 run(s) were not recorded"), std::string::npos) << r.err;

    // A tiny real run: recorded where the store works, warned about where not.
    const std::string good = fresh_store();
    const auto runner = [&](const std::string& db, const std::string& out) {
        return run({SUITE_RUN, "--unattended", "--frames", "2", "--size", "64x64", "--db", db,
                    "--tag", "nightly", "--out", scratch.path(out), "screens"}, scratch);
    };
    const auto recorded = runner(good, "run-good");
    EXPECT_EQ(recorded.status, 0) << recorded.out;
    const auto rows = store::find_runs(*store::open_store(good, false), {});
    ASSERT_EQ(rows.size(), 1u);
    char host[256] = "";
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(rows[0].host, host);
    const auto missing = runner(url, "run-bad");
    EXPECT_EQ(missing.status, 1) << missing.out;
    EXPECT_NE(missing.out.find("WARNING: not recorded in the store"), std::string::npos) << missing.out;
    EXPECT_NE(missing.out.find("1 run(s) missing from the store"), std::string::npos);
    // The folder is whole: the report reads it without an error.
    EXPECT_TRUE(fs::exists(scratch.path("run-bad/screens/metadata.json")));
    EXPECT_EQ(report({scratch.path("run-bad"), "--quiet"}).status, 0);
    // Imported later, the run keeps the tag it was run with; one named on import wins.
    ASSERT_EQ(report({"import", scratch.path("run-bad"), cube_a, "--db", good}).status, 0);
    ASSERT_EQ(report({"import", cube_b, "--tag", "base", "--db", good}).status, 0);
    std::multiset<std::string> tags;
    for (const auto& row : store::find_runs(*store::open_store(good, false), {}))
        tags.insert(row.tag);
    EXPECT_EQ(tags, (std::multiset<std::string>{"", "base", "nightly", "nightly"}));
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST_P(StoreTest, ALockedStoreIsWaitedForBoundedAndNotPastAStop) {
    const std::string url = fresh_store();
    ASSERT_EQ(report({"import", cube_a, "--db", url}).status, 0);
    // Another connection holds the runs table until it is done.
    auto locker = store::open_db(url, false);
    const bool sqlite = GetParam() == "sqlite";
    locker->query(sqlite ? "BEGIN EXCLUSIVE" : "BEGIN");
    if (!sqlite) locker->query("LOCK TABLE runs IN ACCESS EXCLUSIVE MODE");
    const auto start = std::chrono::steady_clock::now();
    const auto r = report({"import", cube_b, "--db", url});
    EXPECT_LT(seconds_since(start), 12);
    EXPECT_NE(r.err.find("1 of 1 run(s) were not recorded"), std::string::npos) << r.err;
    {  // the runner, stopped while it waits for the store, ends at once
        const std::string out = scratch.path("run"), pid = scratch.path("pid");
        Result stopped;
        std::thread runner([&] {
            stopped = sh(shell_quote(SUITE_RUN) + " --unattended --frames 2 --size 64x64 --db " + shell_quote(url) +
                             " --out " + shell_quote(out) + " screens & echo $! >" + shell_quote(pid) + "; wait $!",
                         scratch);
        });
        for (int i = 0; i < 1200 && !fs::exists(out + "/screens/metadata.json"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::this_thread::sleep_for(std::chrono::seconds(1));
        kill(std::stoi(read_text(pid)), SIGTERM);
        const auto signalled = std::chrono::steady_clock::now();
        runner.join();
        EXPECT_LT(seconds_since(signalled), 2);
        EXPECT_NE(stopped.out.find("WARNING: not recorded in the store"), std::string::npos) << stopped.out;
    }
}

TEST_P(StoreTest, ARunIsItsFileWithItsMachineDateAndTag) {
    const auto ms = series(40, 1, 7);
    for (const char* machine : {"lab-1", "lab-2"})
        write_screens(scratch.path(std::string("m/") + machine), ms, machine, "2026-04-01T10:00:00+0000");
    const std::string url = fresh_store();
    ASSERT_EQ(report({"import", scratch.path("m"), "--db", url}).status, 0);
    EXPECT_EQ(stored(url, "SELECT count(DISTINCT hash) FROM runs"), 1);
    for (const char* machine : {"lab-1", "lab-2"})
        EXPECT_EQ(count(report({"history", "--db", url, "--machine", machine, "--csv", "-"}).out, "\n"), 2u);
    // Imported again with a tag: nothing new, the stored run tagged.
    const auto tagged = report({"import", scratch.path("m/lab-1"), "--tag", "base", "--db", url});
    EXPECT_NE(tagged.out.find("recorded 0 run(s)"), std::string::npos) << tagged.out;
    EXPECT_EQ(stored(url, "SELECT count(*) FROM runs WHERE tag = 'base' AND host = 'lab-1'"), 1);

    // A store of the first schema, holding cube_a known by its file alone, is upgraded in place.
    const std::string old = GetParam() == "sqlite" ? scratch.path("old.db") : pg()->fresh();
    const auto hash = sh("sha256sum " + shell_quote(cube_a), scratch).out.substr(0, 64);
    auto db = store::open_db(old, true);
    const bool pg = GetParam() != "sqlite";
    for (const std::string& sql : std::vector<std::string>{
             "CREATE TABLE store_meta (name TEXT PRIMARY KEY, value TEXT NOT NULL)",
             "INSERT INTO store_meta VALUES ('schema_version', '1')",
             "CREATE TABLE runs (id " + std::string(pg ? "BIGINT GENERATED BY DEFAULT AS IDENTITY" : "INTEGER") +
                 " PRIMARY KEY, hash TEXT NOT NULL UNIQUE, program TEXT NOT NULL, folder TEXT NOT NULL,"
                 " results_name TEXT NOT NULL, recorded_at TEXT NOT NULL, run_date TEXT NOT NULL, host TEXT NOT NULL,"
                 " cpu TEXT, kernel TEXT, gl_vendor TEXT, renderer TEXT NOT NULL, gl_version TEXT, bits TEXT,"
                 " window_size TEXT NOT NULL, suite_version TEXT NOT NULL, command_line TEXT, tag TEXT NOT NULL,"
                 " banner TEXT, init_seconds TEXT, plain_seconds TEXT, plain_rate TEXT, complete INTEGER NOT NULL,"
                 " ending TEXT NOT NULL, total_seconds TEXT, average TEXT, average2 TEXT, exit_status INTEGER,"
                 " problem TEXT, stderr TEXT, metadata TEXT, frames BIGINT NOT NULL, median_ms DOUBLE PRECISION,"
                 " rate1_name TEXT, rate1_avg DOUBLE PRECISION, rate2_name TEXT, rate2_avg DOUBLE PRECISION)",
             "CREATE TABLE frames (run_id BIGINT NOT NULL REFERENCES runs (id) ON DELETE CASCADE, n INTEGER NOT NULL,"
             " win INTEGER NOT NULL, seconds TEXT NOT NULL, rate TEXT NOT NULL, rate2 TEXT, triangles TEXT,"
             " interval_us BIGINT, PRIMARY KEY (run_id, n))" + std::string(pg ? "" : " WITHOUT ROWID")})
        db->query(sql);
    const auto id = db->query("INSERT INTO runs (hash, program, folder, results_name, recorded_at, run_date, host,"
                              " renderer, window_size, suite_version, tag, complete, ending, frames) VALUES (?, 'cube',"
                              " ?, ?, '', '', '', '', '', '', '', 1, 'none', 1) RETURNING id",
                              {hash, fs::path(cube_a).parent_path().string(), fs::path(cube_a).filename().string()});
    db->query("INSERT INTO frames (run_id, n, win, seconds, rate) VALUES (?, 1, 1, '7.3', '1')", {id[0][0]});
    db.reset();
    const auto as_it_is = report({"history", "--db", old});  // read, not upgraded
    EXPECT_EQ(as_it_is.status, 0) << as_it_is.err;
    EXPECT_NE(report({"import", cube_a, "--db", old}).out.find("recorded 0 run(s)"), std::string::npos);
    fs::create_directories(scratch.path("lab-9"));
    fs::copy(cube_a, scratch.path("lab-9"));
    write_text(scratch.path("lab-9/metadata.json"), R"({"machine": {"host": "lab-9"}})");
    ASSERT_EQ(report({"import", scratch.path("lab-9"), "--db", old}).status, 0);
    EXPECT_EQ(stored(old, "SELECT count(*) FROM runs WHERE hash = '" + hash + "'"), 2);
    EXPECT_EQ(stored(old, "SELECT count(*) FROM frames f JOIN runs r ON r.id = f.run_id WHERE r.host = ''"), 1);
    // Its columns renamed, their values kept.
    EXPECT_EQ(stored(old, "SELECT count(*) FROM frames WHERE first_rate = '1'"), 1);
    EXPECT_EQ(stored(old, "SELECT count(*) FROM runs WHERE first_rate_name = 'Angles/sec'"), 1);
}

TEST_P(StoreTest, HistoryAndCheckReadAStoreTheyMayNotWrite) {
    for (int i = 1; i <= 2; ++i)
        write_screens(scratch.path("r/" + std::to_string(i)), series(40, 1, i), "ro", "2026-02-0" + std::to_string(i) + "T10:00:00+0000");
    const std::string url = fresh_store();
    ASSERT_EQ(report({"import", scratch.path("r"), "--db", url}).status, 0);
    if (GetParam() == "sqlite") {
        // A file only readable, in a folder only root may write; nobody, unlike root, is held to it.
        using p = fs::perms;
        fs::permissions(scratch.path(), p::owner_all | p::group_read | p::group_exec | p::others_read | p::others_exec);
        fs::permissions(url, p::owner_read | p::group_read | p::others_read);
        for (const char* command : {"history", "check"}) {
            const auto r = run({"runuser", "-u", "nobody", "--", SUITE_REPORT, command, "--db", url}, scratch);
            EXPECT_NE(r.status, 2) << r.err;
            EXPECT_GE(count(r.out, " ro "), std::string(command) == "history" ? 2u : 1u) << r.out << r.err;
        }
    }
    EXPECT_THROW(store::open_store_read_only(url)->query("DELETE FROM runs"), store::StoreError);
}

TEST_P(StoreTest, HistoryAndCheckNeverWriteOverTheStoreAndShareStandardOutput) {
    write_screens(scratch.path("r/1"), series(40, 1, 1), "one", "2026-02-01T10:00:00+0000");
    const std::string url = fresh_store();
    ASSERT_EQ(report({"import", scratch.path("r"), "--db", url}).status, 0);
    if (GetParam() == "sqlite") {
        fs::create_symlink(url, scratch.path("link.xml"));
        const std::string before = read_text(url);
        for (const auto& args : {std::vector<std::string>{"history", "--json", url},
                                 {"history", "--html", scratch.path("link.xml")},
                                 {"check", "--junit", scratch.path("link.xml")},
                                 {"check", "--markdown", url}}) {
            const auto r = report({args[0], "--db", url, args[1], args[2]});
            EXPECT_EQ(r.status, 2) << args[1];
            EXPECT_NE(r.err.find("refusing to write over an input: " + args[2] + " is the input " +
                                 url + " (the store)"),
                      std::string::npos) << r.err;
        }
        EXPECT_EQ(read_text(url), before);
    }
    // A file on standard output keeps the terminal report off it.
    const auto junit = report({"check", "--db", url, "--junit", "-"});
    EXPECT_EQ(junit.out.rfind("<?xml", 0), 0u) << junit.out;
    EXPECT_EQ(junit.out.find("baseline of"), std::string::npos) << junit.out;
}

TEST_P(StoreTest, AStoreFailingPartWayTellsWhichFoldersWereRecorded) {
    if (GetParam() != "sqlite") GTEST_SKIP() << "a file size limit stands for a full disk";
    for (const auto& [folder, frames] : {std::pair{"a", 5}, {"b", 20000}, {"c", 5}})
        write_screens(scratch.path(std::string("d/") + folder), series(40, 1, 1, frames), folder, "2026-02-01T10:00:00+0000");
    const std::string url = fresh_store();
    ASSERT_EQ(report({"import", cube_a, "--db", url}).status, 0);
    // Files may grow to 200 KiB: the first small run fits, the large one does not.
    const auto r = sh("trap '' XFSZ; ulimit -f 200; " + shell_quote(SUITE_REPORT) + " import " +
                          shell_quote(scratch.path("d")) + " --db " + shell_quote(url), scratch);
    EXPECT_NE(r.err.find("2 of 3 run(s) were not recorded"), std::string::npos) << r.err;
    for (const char* line : {"\nrecorded: d/a", "\nnot recorded: d/b", "\nnot recorded: d/c"})
        EXPECT_NE(("\n" + r.out).find(replaced(line, "d/", scratch.path("d/")) + "/screens\n"), std::string::npos) << r.out;
    EXPECT_EQ(stored(url, "SELECT count(*) FROM runs"), 2);
}

TEST_P(StoreTest, RunsKeepTheirOwnTimeAndRepeatsTheirOrder) {
    const auto name_time = [&](const std::string& folder, const std::string& time) {
        fs::rename(folder + "/results_screens_windows_mac_mx @ local date 2026.12.07 time 12.00.00.txt",
                   folder + "/results_screens_windows_mac_mx @ local date " + time + ".txt");
    };
    // No metadata: the name's local time is in the importer's zone.
    write_screens_run(scratch.path("tz/screens"), std::vector<double>(30, 40));
    name_time(scratch.path("tz/screens"), "2026.12.08 time 08.08.00");
    for (int r = 1; r <= 11; ++r) {
        const std::string rep = "/rep-" + std::to_string(r), two = (r < 10 ? "0" : "") + std::to_string(r);
        // An older runner's repeats: the set's date only (UTC+9), each file's name its local time.
        write_screens(scratch.path("old" + rep), series(40, 1, 40 + r), "older", "", "llvmpipe",
                      "2026-12-07T12:00:00+0900");
        name_time(scratch.path("old" + rep + "/screens"), "2026.12.07 time 12.00." + two);
        // Repeats started within one second keep the order they ran in.
        write_screens(scratch.path("new" + rep), series(40, 1, 60 + r), "newer", "2026-12-07T12:00:00+0900");
    }
    const std::string url = fresh_store();
    ASSERT_EQ(sh("TZ=Asia/Tokyo " + shell_quote(SUITE_REPORT) + " import " + shell_quote(scratch.path()) + " --db " +
                     shell_quote(url), scratch).status, 0);
    std::map<std::string, std::vector<std::string>> seen;  // host: "folder date" in the store's order
    for (const auto& row : store::find_runs(*store::open_store_read_only(url), {}))
        seen[row.host].push_back(fs::path(row.folder).parent_path().filename().string() + " " + row.date);
    EXPECT_EQ(seen[""], std::vector<std::string>{"tz 2026-12-07 23:08:00"});
    ASSERT_EQ(seen["older"].size(), 11u);
    ASSERT_EQ(seen["newer"].size(), 11u);
    for (int r = 1; r <= 11; ++r) {  // in the order check takes the newest by
        const std::string rep = "rep-" + std::to_string(r) + " 2026-12-07 03:00:";
        EXPECT_EQ(seen["older"][r - 1], rep + (r < 10 ? "0" : "") + std::to_string(r));
        EXPECT_EQ(seen["newer"][r - 1], rep + "00");
    }
}

// The closing summary holds a run against one of another folder dated before
// it: never itself (whatever form its folder was stored in), never a later one.
TEST_P(StoreTest, SummaryComparesOnlyWithAnEarlierRunOfAnotherFolder) {
    for (int day = 1; day <= 4; ++day)  // days 1 and 3 not in the store
        write_screens(scratch.path((day % 2 ? "o/" : "s/") + std::to_string(day)), series(40, 1, day), "m",
                      "2026-05-0" + std::to_string(day) + "T10:00:00+0000");
    const std::string url = fresh_store();
    ASSERT_EQ(report({"import", scratch.path("s"), "--db", url}).status, 0);
    const auto runs = store::find_runs(*store::open_store_read_only(url), {});
    ASSERT_EQ(runs.size(), 2u);
    const std::string second = "run " + std::to_string(runs[0].id) + " of 2026-05-02";
    EXPECT_NE(report({"summary", scratch.path("o/1"), "--db", url}).out.find("no earlier comparable run"),
              std::string::npos);
    EXPECT_NE(report({"summary", scratch.path("o/3"), "--db", url}).out.find(second), std::string::npos);
    // A row as older versions stored it: absolute but not canonical.
    store::open_store(url, false)->query("UPDATE runs SET folder = ? WHERE id = ?",
                                         {scratch.path("s/./4/screens"), std::to_string(runs[1].id)});
    const auto itself = report({"summary", scratch.path("s/4"), "--db", url});
    EXPECT_NE(itself.out.find(second), std::string::npos) << itself.out;
}

// Real runs of the runner, the store named relatively and then through a link.
TEST_P(StoreTest, RunnerNeverComparesARunWithItself) {
    if (GetParam() != "sqlite") GTEST_SKIP() << "the store's own path is the point";
    const auto runner = [&](const std::string& out, const std::string& db) {
        return sh("cd " + shell_quote(scratch.path()) + " && " + shell_quote(SUITE_RUN) +
                      " --unattended --frames 2 --size 64x64 --out " + out + " --db " + db + " screens",
                  scratch);
    };
    const auto once = runner("./t/x", "t/s.db");
    EXPECT_NE(once.out.find("no earlier comparable run in the store for screens"), std::string::npos)
        << once.out;
    EXPECT_EQ(once.out.find("run 1 of"), std::string::npos) << once.out;
    fs::create_directory_symlink(scratch.path("t"), scratch.path("link"));
    const auto again = runner("link/y", "link/s.db");
    EXPECT_NE(again.out.find("run 1 of"), std::string::npos) << again.out;
    EXPECT_EQ(again.out.find("run 2 of"), std::string::npos) << again.out;
}

// Runs a writer left in the write-ahead log, read by a user who may not write
// the store's folder: read with them, or refused, never left out.
TEST_P(StoreTest, ReadersNeverAnswerFromAStaleFile) {
    if (GetParam() != "sqlite") GTEST_SKIP() << "the write-ahead log is SQLite's";
    for (int i = 10; i < 30; ++i)  // the newest slower
        write_screens(scratch.path((i < 27 ? "a/" : "b/") + std::to_string(i)), series(40, i == 29 ? 1.2 : 1, i),
                      "wal", "2026-02-" + std::to_string(i) + "T10:00:00+0000");
    const std::string url = fresh_store(), ro = scratch.path("ro");
    ASSERT_EQ(report({"import", scratch.path("a"), "--db", url}).status, 0);
    {  // while one connection stays open no other checkpoints at its close
        const auto holder = store::open_db(url, false);
        ASSERT_EQ(report({"import", scratch.path("b"), "--db", url}).status, 0);
        const std::string q = shell_quote(ro);
        ASSERT_EQ(sh("mkdir " + q + " && cp " + shell_quote(url) + " " + shell_quote(url + "-wal") + " " + q +
                     " && chmod 755 " + shell_quote(scratch.path()) + " " + q + " && chmod 444 " + q + "/suite.db",
                     scratch).status, 0);
    }
    for (const char* log_mode : {"444", "400"}) {
        ASSERT_EQ(sh(std::string("chmod ") + log_mode + " " + shell_quote(ro + "/suite.db-wal"), scratch).status, 0);
        const bool readable = log_mode[1] == '4';
        auto as_nobody = [&](const std::string& args) {
            return sh("runuser -u nobody -- " + shell_quote(SUITE_REPORT) + " " + args + " --db " +
                          shell_quote(ro + "/suite.db"), scratch);
        };
        const auto history = as_nobody("history --csv -"), check = as_nobody("check");
        EXPECT_EQ(history.status, readable ? 0 : 3) << history.err;
        EXPECT_EQ(count(history.out, "\n"), readable ? 21u : 0u) << history.out;
        EXPECT_EQ(check.status, readable ? 1 : 3) << check.out << check.err;
        EXPECT_EQ(count(history.err + check.err, "write-ahead log"), readable ? 0u : 2u) << history.err << check.err;
    }
}

// A FIFO where the store or its log should be: every reader, the importer and
// the runner refuse it at once instead of waiting for a writer.
TEST_P(StoreTest, AStoreThatIsNoRegularFileIsRefused) {
    if (GetParam() != "sqlite") GTEST_SKIP() << "a file store only";
    const std::string url = fresh_store(), fifo = scratch.path("f.db");
    ASSERT_EQ(report({"import", cube_a, "--db", url}).status, 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600) | mkfifo((url + "-wal").c_str(), 0600), 0);
    for (const auto& db : {fifo, url})
        for (const std::string& args : {std::string("history"), std::string("check"), "import " + shell_quote(cube_b)}) {
            const auto r = sh("timeout 20 " + shell_quote(SUITE_REPORT) + " " + args + " --db " + shell_quote(db), scratch);
            EXPECT_NE(r.status, 124) << args << ": not refused in time";
            EXPECT_NE(r.status, 0) << args;
            EXPECT_NE((r.out + r.err).find("it is a FIFO, not a regular file"), std::string::npos) << r.out << r.err;
        }
    const auto runner = sh("timeout 120 " + shell_quote(SUITE_RUN) + " --unattended --frames 2 --size 64x64 --out " +
                               shell_quote(scratch.path("run")) + " --db " + shell_quote(fifo) + " screens", scratch);
    EXPECT_EQ(runner.status, 1) << runner.out;
    EXPECT_EQ(count(runner.out, "it is a FIFO, not a regular file"), 2u) << runner.out;  // record, summary
}

// Stored figures that no program prints are never read as numbers: the newest
// run is not judged, an earlier one left out of the baseline, each named.
TEST_P(StoreTest, CheckJudgesNoRunFromUnreadableFigures) {
    for (int i = 1; i <= 6; ++i)
        write_screens(scratch.path("u/" + std::to_string(i)), series(40, 1, 70 + i), "u",
                      "2026-06-0" + std::to_string(i) + "T10:00:00+0000");
    const std::string url = fresh_store();
    ASSERT_EQ(report({"import", scratch.path("u"), "--db", url}).status, 0);
    const auto runs = store::find_runs(*store::open_store_read_only(url), {});
    const std::string newest = std::to_string(runs.at(5).id), first = std::to_string(runs[0].id);
    std::vector<std::pair<std::string, std::string>> damages = {{"'abc'", "'abc'"}, {"''", "''"}};
    if (GetParam() == "sqlite") damages.push_back({"x'00ff'", "'"});
    for (const auto& [value, shown] : damages) {
        auto db = store::open_store(url, false);
        db->query("UPDATE frames SET seconds = " + value + " WHERE run_id = " + newest + " AND n = 3");
        db->query("UPDATE frames SET first_rate = 'zz' WHERE run_id = " + first + " AND n = 1");
        db.reset();
        const auto r = report({"check", "--db", url});
        EXPECT_EQ(r.status, 3) << r.out;
        EXPECT_NE(r.out.find("not judged: the stored frames of run " + newest + " ("), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("frames.seconds is " + shown), std::string::npos) << value << "\n" << r.out;
        EXPECT_NE(r.out.find("left out of the baseline, run " + first + " ("), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("frames.first_rate is 'zz', not a finite number (frame 1)"), std::string::npos) << r.out;
    }
}

// A run dated in the future is named as such and not held up as the newest.
TEST_P(StoreTest, ARunDatedInTheFutureIsNotTheNewest) {
    char future[32];
    const std::time_t later = std::time(nullptr) + 3 * 24 * 3600;
    std::strftime(future, sizeof future, "%Y-%m-%dT%H:%M:%S+0000", std::gmtime(&later));
    for (int i = 1; i <= 5; ++i)
        write_screens(scratch.path("f/" + std::to_string(i)), series(400, 1, 80 + i), "f",
                      "2026-06-0" + std::to_string(i) + "T10:00:00+0000");
    write_screens(scratch.path("f/6"), series(400, 1.3, 86), "f", future);
    const std::string url = fresh_store();
    ASSERT_EQ(report({"import", scratch.path("f"), "--db", url}).status, 0);
    const auto r = report({"check", "--db", url});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("is dated in the future"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" 2026-06-05 10:00:00 "), std::string::npos) << r.out;  // the newest judged
    EXPECT_NE(report({"history", "--db", url}).out.find("dated in the future: run "), std::string::npos);
}

// A store of the schema before the display kind and the software flag were
// kept: its runs read as on a private Xvfb and in software by their renderer,
// so their series go on across the upgrade; a run on another display, or
// rendered in software under a hardware renderer's name, starts its own.
TEST_P(StoreTest, DisplayKindAndSoftwareSplitSeriesButNotAtTheUpgrade) {
    const std::string intel = "Mesa Intel(R) UHD Graphics 630";
    const auto screens = [&](const std::string& name, int day, const std::string& renderer,
                             const nlohmann::json& patch = nlohmann::json::object()) {
        const std::string folder = scratch.path(name);
        write_screens(folder, series(40, 1, day), "lab", "2026-03-0" + std::to_string(day) + "T10:00:00+0000",
                      renderer);
        auto meta = nlohmann::json::parse(read_text(folder + "/screens/metadata.json"));
        meta.merge_patch(patch);
        write_text(folder + "/screens/metadata.json", meta.dump());
        return folder;
    };
    for (int day = 1; day <= 4; ++day) screens("old/" + std::to_string(day), day, "llvmpipe (LLVM 15)");
    for (int day = 8; day <= 9; ++day) screens("old/hw" + std::to_string(day), day, intel);
    const std::string url = fresh_store();
    ASSERT_EQ(report({"import", scratch.path("old"), "--db", url}).status, 0);
    {  // taken back to the schema before
        auto db = store::open_store(url, false);
        for (const char* sql : {"ALTER TABLE runs DROP COLUMN software", "ALTER TABLE runs DROP COLUMN display_kind",
                                "UPDATE store_meta SET value = '5' WHERE name = 'schema_version'"})
            db->query(sql);
    }
    const auto groups = [&] { return nlohmann::json::parse(report({"history", "--db", url, "--json", "-"}).out); };
    const auto before = groups();  // read as it is
    ASSERT_EQ(before.size(), 2u) << before;

    // A run folder of a runner from before the display was kept joins them.
    ASSERT_EQ(report({"import", screens("new/5", 5, "llvmpipe (LLVM 15)"), "--db", url}).status, 0);
    EXPECT_EQ(stored(url, "SELECT count(*) FROM runs WHERE display_kind = 'private Xvfb'"), 7);
    EXPECT_EQ(stored(url, "SELECT count(*) FROM runs WHERE software = 1"), 5);
    EXPECT_EQ(stored(url, "SELECT count(*) FROM runs WHERE software = 0"), 2);
    const auto after = groups();
    ASSERT_EQ(after.size(), 2u) << after;
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(after[i]["display"], "private Xvfb");
        EXPECT_EQ(after[i]["software"], after[i]["renderer"] != intel) << after[i]["renderer"];
        EXPECT_EQ(after[i]["runs"].size(), before[i]["runs"].size() + (after[i]["renderer"] != intel));
    }

    screens("split/6", 6, "llvmpipe (LLVM 15)", {{"display", {{"kind", "existing"}}}});
    screens("split/7", 7, intel, {{"gl", {{"software", true}, {"software_from", "accelerated flag"}}}});
    ASSERT_EQ(report({"import", scratch.path("split"), "--db", url}).status, 0);
    EXPECT_EQ(groups().size(), 4u);
    const auto check = report({"check", "--db", url});
    EXPECT_NE(check.out.find("llvmpipe (LLVM 15) (display existing)"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find(intel + " (software)"), std::string::npos) << check.out;
}

INSTANTIATE_TEST_SUITE_P(Backends, StoreTest, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

}  // namespace

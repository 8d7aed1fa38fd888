// The results store against both backends: a real SQLite file and a real
// PostgreSQL server, through the built suite-report and suite-run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <set>
#include <random>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "pg_server.h"
#include "number.h"
#include "store.h"
#include "synthetic_runs.h"

namespace fs = std::filesystem;
using namespace report_test;

namespace {

std::unique_ptr<store_test::PgServer>& pg() {
    static std::unique_ptr<store_test::PgServer> server;
    if (!server) server = std::make_unique<store_test::PgServer>();
    return server;
}
struct StopServer : ::testing::Environment {
    void TearDown() override { pg().reset(); }
};
const auto* const stop_server = ::testing::AddGlobalTestEnvironment(new StopServer);

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
void write_screens(const std::string& folder, const std::vector<double>& ms, const std::string& host,
                   const std::string& date, const std::string& renderer = "llvmpipe") {
    std::vector<double> whole;
    for (double m : ms) whole.push_back(std::round(m));
    write_screens_run(folder + "/screens", whole);
    const nlohmann::json meta = {{"machine", {{"host", host}, {"date", date}}},
                                 {"gl", {{"renderer", renderer}}},
                                 {"run", {{"window_size", "1440x1440"}}}};
    write_text(folder + "/screens/metadata.json", meta.dump());
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
            back.insert(back.end(), {f.seconds, f.rate});
            if (f.rate2) back.push_back(*f.rate2);
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
        const std::string fixed = report::format_fixed(f["ratio"], 4) + "  " +
                                  report::format_fixed(f["interval"][0], 4) + " .. " +
                                  report::format_fixed(f["interval"][1], 4);
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
                      const std::string& why, const std::vector<std::string>& options = {}) {
        const std::string folder = scratch.path("j/" + std::to_string(++day));
        if (day > 1) {
            write_screens(folder, ms, "m", "2026-08-0" + std::to_string(day) + "T10:00:00+0000");
            const std::string file = folder + "/screens/results_screens_windows_mac_mx @ local date "
                                              "2026.12.07 time 12.00.00.txt";
            const std::string text = read_text(file);
            if (!summary) write_text(file, text.substr(0, text.find("Total machine time")));
            if (!exit_status.empty()) write_text(folder + "/screens/exit-status.txt", exit_status);
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
    EXPECT_NE(r.err.find("warning: the runs were not recorded"), std::string::npos) << r.err;

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

INSTANTIATE_TEST_SUITE_P(Backends, StoreTest, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

}  // namespace

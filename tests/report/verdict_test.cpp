// Verdicts of the built suite-report on screens runs made to order: the
// headline averages decide, a difference inside the practical threshold is
// not called faster or slower, and the runner's files beside a run are read.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <nlohmann/json.hpp>

#include "command.h"
#include "record/run_record.h"
#include "synthetic_runs.h"

using namespace report_test;
using nlohmann::json;

namespace {

json compare(const TempDir& dir, const std::string& a, const std::string& b,
             std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {exe, "compare", a, "--against", b, "--json", "-"};
    args.insert(args.end(), extra.begin(), extra.end());
    const Result r = run(args, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    return json::parse(r.out)["comparison"]["programs"][0]["figures"];
}

std::vector<std::string> warnings(const json& report) {
    std::vector<std::string> out;
    for (const auto& d : report["diagnostics"]) out.push_back(d["message"]);
    return out;
}

bool any_holds(const std::vector<std::string>& texts, const std::string& what) {
    for (const auto& t : texts)
        if (t.find(what) != std::string::npos) return true;
    return false;
}

}  // namespace

TEST(Verdicts, StutterSharesDecideByTheAverages) {
    // Both runs take 20 ms on most frames, so their medians are equal; A
    // stutters to 40 ms on 5% of frames, B on 10%.
    TempDir dir;
    const auto ms_a = stutter_frames(101, 50000, 0.05), ms_b = stutter_frames(202, 50000, 0.10);
    const auto a = write_screens_run(dir.path("a"), ms_a), b = write_screens_run(dir.path("b"), ms_b);
    const double true_ratio = mean_of(ms_a) / mean_of(ms_b);

    const json f = compare(dir, a, b);
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[0]["verdict"], "faster");  // frame time
    EXPECT_EQ(f[1]["verdict"], "faster");  // Characters/sec
    EXPECT_NEAR(f[0]["ratio"].get<double>(), true_ratio, 1e-9);
    EXPECT_LE(f[0]["interval"][0].get<double>(), true_ratio);
    EXPECT_GE(f[0]["interval"][1].get<double>(), true_ratio);
    EXPECT_LE(f[1]["interval"][0].get<double>(), 1 / true_ratio);
    EXPECT_GE(f[1]["interval"][1].get<double>(), 1 / true_ratio);
    EXPECT_EQ(f[0]["median_ratio"], 1);  // still shown beside

    const json back = compare(dir, b, a);
    EXPECT_EQ(back[0]["verdict"], "slower");
    EXPECT_EQ(back[1]["verdict"], "slower");

    // The terminal table, kept for the record when asked.
    if (const char* keep = std::getenv("REPORT_EVIDENCE")) {
        const Result r = run({exe, "compare", a, "--against", b}, dir);
        std::ofstream(keep, std::ios::app) << "$ suite-report compare A --against B"
                                           << "  (5% against 10% of frames at 40 ms)\n" << r.out;
    }
}

TEST(Verdicts, NoDifferenceOrOneInsideThePracticalThreshold) {
    TempDir dir;
    const auto base = write_screens_run(dir.path("base"), stutter_frames(7, 50000, 0.05));
    const auto same = write_screens_run(dir.path("same"), stutter_frames(8, 50000, 0.05));
    // 50,000 frames a side pin the ratio down to well inside 1%: the same.
    for (const auto& f : compare(dir, base, same))
        EXPECT_EQ(f["verdict"], "the same within 1%") << f.dump();

    // 5.525% stutter makes the average 0.5% longer: a real difference, but
    // inside 1%; a threshold of 0.25% lets it through.
    const auto ms = stutter_frames(9, 50000, 0.05525);
    const auto longer = write_screens_run(dir.path("longer"), ms);
    for (const auto& f : compare(dir, base, longer)) {
        EXPECT_EQ(f["verdict"], "within 1%") << f.dump();
        EXPECT_LT(f["p"].get<double>(), 0.05);
    }
    const json strict = compare(dir, base, longer, {"--practical", "0.25"});
    EXPECT_EQ(strict[0]["verdict"], "faster");
    EXPECT_EQ(strict[1]["verdict"], "faster");
}

TEST(Verdicts, WhatTheyWereJudgedOn) {
    // Three runs a side, every frame of a run at its run's time: B 2.5% slower
    // on average, but its runs spread as widely as that. The runs decide.
    TempDir dir;
    std::vector<std::string> args = {exe, "compare"};
    const double a_ms[] = {20.0, 20.4, 19.6}, b_ms[] = {20.5, 20.9, 20.1};
    for (int i = 0; i < 3; ++i)
        args.push_back(write_screens_run(dir.path("a" + std::to_string(i)),
                                         std::vector<double>(400, a_ms[i])));
    args.push_back("--against");
    for (int i = 0; i < 3; ++i)
        args.push_back(write_screens_run(dir.path("b" + std::to_string(i)),
                                         std::vector<double>(400, b_ms[i])));
    const Result text = run(args, dir);
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("judged on the spread between runs: 3 runs of A, 3 runs of B"),
              std::string::npos) << text.out;
    args.insert(args.end(), {"--json", "-"});
    const json program = json::parse(run(args, dir).out)["comparison"]["programs"][0];
    for (const auto& f : program["figures"]) {
        EXPECT_EQ(f["judged_on"], "runs");
        EXPECT_EQ(f["runs_a"], 3);
        EXPECT_EQ(f["runs_b"], 3);
        EXPECT_EQ(f["verdict"], "no significant difference") << f.dump();
    }

    // One run a side: judged on batches of its frames, and said to be so.
    const std::string one_a = args[2], one_b = args[6];
    const Result single = run({exe, "compare", one_a, "--against", one_b}, dir);
    EXPECT_NE(single.out.find("one run a side: run-to-run variation was not measured"),
              std::string::npos) << single.out;
    EXPECT_NE(single.out.find("suite-run --repeat N"), std::string::npos);
    EXPECT_EQ(single.out.find("judged on the spread between runs"), std::string::npos);
    for (const auto& f : compare(dir, one_a, one_b)) {
        EXPECT_EQ(f["judged_on"], "batches");
        EXPECT_EQ(f["runs_a"], 1);
        EXPECT_EQ(f["units_a"], 20);  // the square root of 400
        EXPECT_EQ(f["verdict"], "faster");  // 20 ms against 20.5, without noise
    }
}

TEST(RunFolder, RefreshRatesWarnUnlessTheSyncIsShownOff) {
    TempDir dir;
    const auto folder = write_screens_run(dir.path("run"), std::vector<double>(100, 16.7));
    auto report = [&] {
        const Result r = run({exe, folder, "--json", "-"}, dir);
        EXPECT_EQ(r.status, 0) << r.err;
        return warnings(json::parse(r.out));
    };
    EXPECT_TRUE(any_holds(report(), "within 1% of 60 Hz"));
    record::RunRecord meta;
    meta.vsync = record::SyncRecord{false, {{{"vblank_mode", "0"}, {"__GL_SYNC_TO_VBLANK", "0"}}}, 0};
    write_text(folder + "/metadata.json", json(meta).dump());
    EXPECT_FALSE(any_holds(report(), "Hz"));
    meta.vsync->kept = true;  // --vsync: the display may set the pace
    write_text(folder + "/metadata.json", json(meta).dump());
    EXPECT_TRUE(any_holds(report(), "within 1% of 60 Hz"));
}

TEST(RunFolder, TheRunnersIntervalsReachTheReport) {
    // 1 ms frames (a coarse clock) whose report lines the runner saw 1.2 ms
    // apart, but every tenth 4 ms apart; one row is damaged.
    TempDir dir;
    const std::vector<double> ms(50, 1);
    const auto folder = write_screens_run(dir.path("run"), ms);
    std::ostringstream csv;
    csv << "frame,printed_ms,runner_interval_us\n1,1,\n";
    std::vector<double> intervals;
    for (int i = 2; i <= 50; ++i) {
        const int us = i % 10 == 0 ? 4000 : 1200;
        intervals.push_back(us / 1e6);
        csv << i << ",1," << us << "\n";
    }
    csv << "51,one,1000\n";
    write_text(folder + "/frames.csv", csv.str());

    const Result r = run({exe, folder, "--json", "-"}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const json report = json::parse(r.out);
    const json& c = report["runs"][0]["analysis"]["runner_clock"];
    EXPECT_EQ(c["rows"], 50);
    EXPECT_EQ(c["paired"], 49);
    EXPECT_NEAR(c["interval_seconds"]["mean"].get<double>(), mean_of(intervals), 1e-12);
    EXPECT_DOUBLE_EQ(c["interval_seconds"]["median"].get<double>(), 0.0012);
    EXPECT_EQ(c["frames_beyond_tolerance"], 5);  // 4 ms against 1 ms, at frames 10 to 50
    EXPECT_EQ(c["first_frame_beyond"], 10);
    EXPECT_FALSE(c["median_beyond"].get<bool>());
    const auto w = warnings(report);
    EXPECT_TRUE(any_holds(w, "not a frames.csv row")) << report["diagnostics"].dump(1);
    EXPECT_TRUE(any_holds(w, "5 of 49 frames, the first frame 10"));
    EXPECT_TRUE(any_holds(w, "coarse; the runner's clock in frames.csv is finer"));
    EXPECT_FALSE(any_holds(w, "in the results file"));  // its printed times match
    // Frame by frame in the CSV: the last column, empty where the runner had none.
    auto last_column = [&] {
        std::istringstream rows(run({exe, folder, "--csv", "-"}, dir).out);
        std::vector<std::string> column;
        for (std::string row; std::getline(rows, row);)
            column.push_back(row.substr(row.rfind(',') + 1));
        return column;
    };
    const auto intervals_us = last_column();
    ASSERT_EQ(intervals_us.size(), 51u);
    EXPECT_EQ(intervals_us[0], "runner_interval_us");
    EXPECT_EQ(intervals_us[1], "");
    EXPECT_EQ(intervals_us[10], "4000");
    EXPECT_EQ(intervals_us[11], "1200");

    // A frames.csv of another run is told apart by its printed times.
    write_text(folder + "/frames.csv", "frame,printed_ms,runner_interval_us\n1,1,\n2,3,3000\n");
    const auto other = warnings(json::parse(run({exe, folder, "--json", "-"}, dir).out));
    EXPECT_TRUE(any_holds(other, "frame 2 has 3.000 ms here but 1.000 ms in the results file"));
    EXPECT_EQ(last_column().at(2), "");  // not paired with another run's frames
}

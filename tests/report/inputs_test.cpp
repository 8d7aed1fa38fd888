// Finding results files in run folders and reading what stands beside them.
#include <gtest/gtest.h>

#include <filesystem>

#include "report/reading/inputs.h"
#include "report/reading/machine_load.h"
#include "report/analysis/model.h"
#include "synthetic_runs.h"
#include "test_data.h"

using namespace report;
using namespace report_test;

TEST(Inputs, FoldersAreSearchedAndRunFoldersRead) {
    const Inputs in = load_inputs({data("")});
    EXPECT_TRUE(in.problems.empty());
    ASSERT_EQ(in.runs.size(), 11u);
    EXPECT_EQ(in.runs[0].label, "run-20261207-084710/cube");
    EXPECT_EQ(in.runs[4].label, "run-20261207-090214/triangles");
    EXPECT_EQ(in.runs[7].label, "run-20261207-091012/rep-2/cube");
    EXPECT_EQ(in.runs[8].label, "screens 2026.12.07 10.00.00");
    EXPECT_TRUE(in.runs[0].metadata.is_null());
    EXPECT_EQ(in.runs[6].metadata["gl"]["renderer"], "llvmpipe (LLVM 15.0.6, 256 bits)");
    EXPECT_EQ(in.runs[0].exit_status.value_or(-1), 0);
    EXPECT_EQ(in.runs[5].exit_status.value_or(0), -15);
}

TEST(Inputs, MissingPathsAndEmptyFoldersAreProblems) {
    TempDir dir;
    write_text(dir.path("notes/readme.txt"), "nothing here\n");
    const Inputs in = load_inputs({dir.path("nope"), dir.path("notes")});
    ASSERT_EQ(in.problems.size(), 2u);
    EXPECT_NE(in.problems[0].message.find("no such"), std::string::npos);
    EXPECT_NE(in.problems[1].message.find("no results"), std::string::npos);
    EXPECT_TRUE(build_model({dir.path("nope")}).has_errors());
}

TEST(Inputs, AFileGivenTwiceIsReadOnce) {
    const Inputs in = load_inputs({cube_a, data("runs/run-20261207-084710")});
    EXPECT_EQ(in.runs.size(), 1u);
}

TEST(Inputs, RunFolderExtras) {
    TempDir dir;
    const std::string file = dir.path("run-20260101-120000/rep-2/cube/results_cube_x.txt");
    write_text(file, read_text(cube_b));
    write_text(dir.path("run-20260101-120000/rep-2/cube/metadata.json"), "{ broken");
    write_text(dir.path("run-20260101-120000/rep-2/cube/exit-status.txt"), "1\n");
    write_text(dir.path("run-20260101-120000/rep-2/cube/stderr.txt"), "Warning: disk full\nmore\n");
    const report::Run r = load_run(file);
    EXPECT_FALSE(r.failed());
    EXPECT_TRUE(r.metadata.is_null());
    EXPECT_EQ(r.exit_status.value_or(-1), 1);
    std::string all;
    for (const auto& d : r.diagnostics) all += d.message + "\n";
    EXPECT_NE(all.find("not valid JSON"), std::string::npos);
    EXPECT_NE(all.find("exit status was 1"), std::string::npos);
    EXPECT_NE(all.find("standard error: Warning: disk full\n"), std::string::npos);
}

// A hostile load.csv: marks past the run's frames, the same frames marked
// again and again, a long run marked at every frame. Each line is kept to
// the run's frames, its frames rising, at most other_load_points of them.
TEST(Inputs, LoadCsvIsReadOnlyAsFarAsTheFramesNeed) {
    TempDir dir;
    const auto load_row = [](double at, double frame) {
        return std::to_string(at) + "," + std::to_string(frame) + ",1,1,,1," +
               std::to_string(at) + ",0,0,9,1,,,\n";
    };
    const auto check = [](const report::Run& r, const std::string& what) {
        ASSERT_FALSE(r.other_load.empty()) << what;
        EXPECT_LE(r.other_load.size(), std::min(r.frames.size(), other_load_points)) << what;
        for (std::size_t i = 0; i < r.other_load.size(); ++i) {
            EXPECT_LE(r.other_load[i].first, static_cast<double>(r.frames.size())) << what;
            if (i) {
                EXPECT_GT(r.other_load[i].first, r.other_load[i - 1].first) << what;
            }
        }
    };
    const std::size_t few = 4, many = 3 * other_load_points;
    std::string past = "seconds,frame\n", again = past, long_run = past;
    for (std::size_t i = 0; i < 200000; ++i) past += load_row(double(i), double(i));
    for (std::size_t i = 0; i < 200000; ++i) again += load_row(double(i), double(i % (few + 1)));
    for (std::size_t i = 0; i <= many; ++i) long_run += load_row(double(i), double(i));
    for (const auto& [name, frames, csv] :
         {std::tuple{"past", few, past}, {"again", few, again}, {"long", many, long_run}}) {
        const std::string folder =
            write_screens_run(dir.path(name), std::vector<double>(frames, 20));
        write_text(folder + "/load.csv", csv);
        const Inputs in = load_inputs({folder});
        ASSERT_EQ(in.runs.size(), 1u) << name;
        ASSERT_EQ(in.runs[0].frames.size(), frames) << name;
        check(in.runs[0], name);
    }
}

// A program may rewrite or remove the runner's files in its folder: the
// report names them from run.json's hashes; the runner's own copy, handed
// over in memory, is read instead of the folder's.
TEST(Inputs, AFolderChangedAfterTheRunIsToldAndTheRunnersCopyRead) {
    TempDir dir;
    const std::string run = dir.path("run-x"), honest = R"({"machine":{"host":"lab-7"}})";
    std::vector<record::WrittenFile> written;
    for (const std::string variant : {"a", "b"}) {
        const std::string folder = "round-1/" + variant + "/cube/";
        write_text(run + "/" + folder + "results_cube_x.txt", read_text(cube_b));
        for (const auto& [name, text] : {std::pair<std::string, std::string>{"metadata.json", honest},
                                         {"stderr.txt", "fine\n"}, {"load.csv", "t\n"}}) {
            write_text(run + "/" + folder + name, text);
            written.push_back({folder + name, common::sha256_hex(text), static_cast<long long>(text.size())});
        }
    }
    record::RunSetRecord set;
    set.written = written;
    write_text(run + "/run.json", nlohmann::json(set).dump());
    const std::string forged = R"({"machine":{"host":"forged"}})";
    write_text(run + "/round-1/a/cube/metadata.json", forged);
    std::filesystem::remove(run + "/round-1/a/cube/load.csv");
    const auto notes = [](const report::Run& r) {
        std::string all;
        for (const auto& d : r.diagnostics) all += d.message + "\n";
        return all;
    };
    const report::Run a = load_run(run + "/round-1/a/cube/results_cube_x.txt");
    EXPECT_EQ(a.record.machine.host, "forged");
    EXPECT_NE(notes(a).find("changed after the run: metadata.json, load.csv not as the runner "
                            "wrote"), std::string::npos) << notes(a);
    EXPECT_EQ(notes(load_run(run + "/round-1/b/cube/results_cube_x.txt")).find("changed"),
              std::string::npos);
    SideTexts held;
    held.metadata = honest;
    const report::Run mine = load_run(run + "/round-1/a/cube/results_cube_x.txt", held);
    EXPECT_EQ(mine.record.machine.host, "lab-7");
    EXPECT_EQ(notes(mine).find("changed"), std::string::npos);
}

TEST(Labels, RunFoldersFileTimesAndRepeats) {
    EXPECT_EQ(run_label("/x/results/run-20260101-120000/rep-2/cube/results_cube_a.txt"),
              "run-20260101-120000/rep-2/cube");
    EXPECT_EQ(run_label("/tmp/results_triangles_windows_mac_mx @ local date 2026.12.07 time "
                        "08.47.10 (2).txt"),
              "triangles 2026.12.07 08.47.10 (2)");
    EXPECT_EQ(run_label("odd name.txt"), "odd name");
    std::vector<report::Run> runs(3);
    runs[0].path = runs[1].path = "a/run-1/cube/results_cube_1.txt";
    runs[2].path = "b/run-1/cube/results_cube_1.txt";
    label_runs(runs);
    EXPECT_EQ(runs[0].label, "run-1/cube");
    EXPECT_EQ(runs[1].label, "run-1/cube #2");
    EXPECT_EQ(runs[2].label, "run-1/cube #3");
}

TEST(Groups, RunsOfAProgramAreRepeatsWithTheirSpread) {
    const Model m = build_model({data("runs")});
    ASSERT_EQ(m.groups.size(), 2u);  // cube and triangles; one screens run is no group
    EXPECT_EQ(m.groups[1].program, Program::triangles);
    const auto& g = m.groups[0];
    ASSERT_EQ(g.runs.size(), 5u);
    ASSERT_EQ(g.figures[1].name, "frame time mean (ms)");
    double sum = 0;
    for (const Analysis* a : g.runs) sum += 1000 * a->frame_time.mean;
    EXPECT_DOUBLE_EQ(g.figures[1].spread.mean, sum / 5);
}

// What the runner writes reads back whole: a field missing from a record's
// field list, or put under another name, is lost here.
TEST(RunRecord, WhatTheRunnerWritesReadsBackWhole) {
    record::RunRecord r;
    r.format = record::run_record_format;
    r.command_line = "suite-run screens";
    r.tag = "nightly";
    r.machine = {"0.1", "lab-7", "2026-12-07T09:10:12+0100", "cpu", "24 kB", "Linux", 2,
                 std::vector<record::GpuRecord>{{"card0", "0x10de", "0x2204", "nvidia", "RTX"}}};
    r.gl = {":5", "Mesa", "llvmpipe", "4.5", record::GlBits{8, 8, 8, 8, 24, 8}, std::nullopt,
            record::GlEnvironment{{"vblank_mode", "0"}}, true, "renderer name"};
    r.display = record::DisplayRecord{record::existing_display, "X.Org", "Openbox", "1920x1080",
                                      12101007, true, false, true, 60.0, "suspended"};
    r.vsync = record::SyncRecord{false, {{{"vblank_mode", "0"}}}, 0};
    r.private_x_server = r.interrupted = true;
    r.repeat = 3;
    r.variant = record::VariantRecord{"b", 1, {{"bin", "/opt/b"}}};
    auto& p = r.run;
    p = {"screens", "crashed", "2026-12-07", "/bin/screens", "64x64", "results.txt", "console.txt",
         "stderr.txt", "oops", "frames.csv", std::nullopt, -11, 2, 2, 10, 5, 6, true, false,
         std::vector<long long>{42}, 1.5, nlohmann::json{{"measured", {{"cores", 2}}}},
         record::GlEnvironment{{"GALLIUM_DRIVER", "softpipe"}}, false, "GALLIUM_DRIVER differs", "640x480", "covered", false};
    const nlohmann::json written = r;
    EXPECT_EQ(nlohmann::json(record::read_run_record(written)), written);
    // Every field set is written: one left out of a field list is missed here.
    EXPECT_EQ(written.size(), 12u);
    EXPECT_EQ(written["machine"].size(), 8u);
    EXPECT_EQ(written["gl"].size(), 8u);
    EXPECT_EQ(written["display"].size(), 10u);
    EXPECT_EQ(written["run"].size(), 26u);  // all but the run.json-only variant name
    EXPECT_EQ(written["run"]["stderr"], "stderr.txt");

    record::RunSetRecord set;
    static_cast<record::RunHeader&>(set) = r;
    set.programs = {p, p};
    set.variants = {{{"a", 0, {}}, r.gl}};
    set.rounds = 2;
    set.until_stable = nlohmann::json{{"programs", nlohmann::json::object()}};
    set.written = {{"rep-1/screens/load.csv", "ab12", 7}};
    const nlohmann::json all = set;
    record::RunSetRecord back;
    ASSERT_TRUE(take_value(all, back));
    EXPECT_EQ(nlohmann::json(back), all);
    // Without a context only the display and the error are written.
    EXPECT_EQ(nlohmann::json(record::GlRecord{":5", "", "", "", std::nullopt, "no context", {}, {}, {}}),
              (nlohmann::json{{"display", ":5"}, {"error", "no context"}}));
}

// suite-run, headless, on the real programs and on stand-ins that crash or
// never open a window.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <nlohmann/json.hpp>

#include "runner_tools.h"
#include "session.h"

namespace {

using e2e::read_json;
using e2e::run;
using e2e::write_script;

class Runner : public e2e::RunnerSession {};

TEST_F(Runner, RepeatedRunLeavesResultsAndWhatExplainsThem) {
    const std::string out = directory + "/run";
    const auto r = run(runner("--frames 1 --size 100x100 --repeat 2 --out '" + out + "' screens"));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("screens: "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(" frame(s)"), std::string::npos) << r.output;
    for (const std::string rep : {"rep-1", "rep-2"}) {
        const std::string dir = out + "/" + rep + "/screens";
        const auto names = e2e::files_starting(dir, "results_screens_windows_mac_mx @ local date ");
        ASSERT_EQ(names.size(), 1u) << dir;
        const auto lines = e2e::read_lines(dir + "/" + names[0]);
        ASSERT_GE(lines.size(), 21u);
        EXPECT_EQ(lines[14], "window: 1");
        EXPECT_EQ(lines.back(), "");
        const auto meta = read_json(dir + "/metadata.json");
        ASSERT_TRUE(meta.is_object()) << dir;
        EXPECT_NE(meta["gl"].value("renderer", "").find("llvmpipe"), std::string::npos);
        EXPECT_EQ(meta["gl"]["bits"].value("red", 0), 8);
        EXPECT_FALSE(meta["machine"].value("cpu", "").empty());
        EXPECT_FALSE(meta["machine"].value("kernel", "").empty());
        EXPECT_NE(meta.value("command_line", "").find("--repeat 2"), std::string::npos);
        EXPECT_EQ(meta["run"].value("exit_status", -1), 0);
        EXPECT_EQ(meta["run"].value("window_size", ""), "100x100");
        EXPECT_EQ(meta["run"].value("results_file", ""), names[0]);
        EXPECT_EQ(e2e::read_lines(dir + "/console.txt").at(1), lines[0]);
    }
    const auto all = read_json(out + "/run.json");
    ASSERT_TRUE(all.is_object());
    EXPECT_EQ(all["programs"].size(), 2u);

    // The report of the run: JSON, plots and one page that holds them.
    const auto rep = run("'" SUITE_REPORT_EXE "' '" + out + "' --quiet --json '" + directory +
                         "/report.json' --plots '" + directory + "/plots' --html '" + directory +
                         "/report.html'");
    ASSERT_EQ(rep.status, 0) << rep.output;
    const auto report = read_json(directory + "/report.json");
    ASSERT_EQ(report["runs"].size(), 2u) << report.dump().substr(0, 500);
    for (const auto& one : report["runs"]) {
        EXPECT_EQ(one.value("program", ""), "screens");
        EXPECT_EQ(one.value("ending", ""), "esc");
        EXPECT_GE(one.value("frames", 0), 1);
        for (const auto& rate : one["analysis"]["rates"])
            EXPECT_TRUE(rate.value("summary_agrees", false)) << rate.dump();
    }
    EXPECT_EQ(report["repeats"].size(), 1u) << "two runs of screens, summarised together";
    EXPECT_FALSE(e2e::files_starting(directory + "/plots", "screens-frame-time").empty());
    const std::string page = e2e::read_text(directory + "/report.html");
    EXPECT_NE(page.find("llvmpipe"), std::string::npos);
    EXPECT_NE(page.find("src=\"data:image/png;base64,"), std::string::npos);
    EXPECT_EQ(page.find("src=\"http"), std::string::npos) << "the page must stand alone";
}

// A program that hangs (a stand-in whose window never shows a frame), one
// that crashes and one that never opens its window: each is told, what it
// wrote is kept, the others still run.
TEST_F(Runner, HungCrashedAndWindowlessProgramsAreReported) {
    const std::string bin = directory + "/bin";
    ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
    write_script(bin + "/cube", "echo 'started'; exec '" HANG_STUB_EXE "' 'OPENGL Cube'");
    write_script(bin + "/screens",
                 "echo 'about to crash'; tr '\\0' '\\n' </proc/$$/environ | grep SYNC; "
                 "tr '\\0' '\\n' </proc/$$/environ | grep vblank_mode; kill -SEGV $$");
    write_script(bin + "/triangles", "echo 'no window today'; exec sleep 600");
    const std::string out = directory + "/run";
    const auto r = run(runner("--size 100x100 --hang-after 2 --window-timeout 10 --bin-dir '" +
                              bin + "' --out '" + out + "'"));
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("FAILED: cube: no new frame within 2 s"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("FAILED: screens: crashed: signal 11 (SIGSEGV)"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("FAILED: triangles: its window did not open within 10 s"),
              std::string::npos)
        << r.output;

    // What the hung program wrote is kept, and it was stopped.
    const auto hung = e2e::read_lines(out + "/cube/console.txt");
    ASSERT_EQ(hung.size(), 2u);
    EXPECT_EQ(hung[1], "It spent: 0 Secs to Initialize.");
    EXPECT_EQ(read_json(out + "/cube/metadata.json")["run"].value("exit_status", 0), -9);
    // The crash is named, and the sync to the refresh was turned off for it.
    EXPECT_EQ(e2e::read_lines(out + "/screens/console.txt"),
              (std::vector<std::string>{"about to crash", "__GL_SYNC_TO_VBLANK=0",
                                        "vblank_mode=0"}));
    const auto crashed = read_json(out + "/screens/metadata.json");
    EXPECT_EQ(crashed["run"].value("exit_status", 0), -11);
    EXPECT_EQ(crashed["run"].value("problem", ""), "crashed: signal 11 (SIGSEGV)");
    EXPECT_EQ(crashed["vsync"]["set"].value("vblank_mode", ""), "0");
    EXPECT_FALSE(crashed["vsync"].value("kept", true));
    EXPECT_EQ(read_json(out + "/run.json")["programs"][1].value("problem", ""),
              "crashed: signal 11 (SIGSEGV)");
    EXPECT_EQ(e2e::read_lines(out + "/triangles/console.txt").at(0), "no window today");
}

// One program twice in a run gets two folders, each naming the results file
// its own program made, with the runner's clock beside the printed frame
// times; a second runner into the same folder is refused and changes nothing.
TEST_F(Runner, SameProgramTwiceRunnerClockAndNoOverwrite) {
    const std::string out = directory + "/run";
    const auto r = run(runner("--frames 5 --out '" + out + "' screens screens"));
    ASSERT_EQ(r.status, 0) << r.output;
    const auto all = read_json(out + "/run.json");
    ASSERT_EQ(all["programs"].size(), 2u);
    for (const std::string name : {"screens", "screens-2"}) {
        const std::string dir = out + "/" + name;
        const auto results = e2e::files_starting(dir, "results_screens_");
        ASSERT_EQ(results.size(), 1u) << dir;
        EXPECT_EQ(read_json(dir + "/metadata.json")["run"].value("results_file", ""), results[0]);
        // Printed frame times, in the order of the results file.
        std::vector<double> printed;
        for (const auto& line : e2e::read_lines(dir + "/" + results[0]))
            if (auto s = e2e::number_after(line, "The system spent: ", " Secs. "))
                printed.push_back(*s * 1000);
        printed.erase(printed.begin());  // the plain-output pass is no frame
        const auto rows = e2e::read_lines(dir + "/frames.csv");
        ASSERT_EQ(rows.size(), printed.size() + 1) << dir;
        EXPECT_EQ(rows[0], "frame,printed_ms,runner_interval_us");
        double sum_printed = 0, sum_runner = 0;
        for (std::size_t i = 1; i < rows.size(); ++i) {
            std::istringstream row(rows[i]);
            std::string frame, ms, us;
            std::getline(row, frame, ',');
            std::getline(row, ms, ',');
            std::getline(row, us);
            EXPECT_EQ(frame, std::to_string(i));
            EXPECT_TRUE(e2e::same_printed(std::stod(ms), printed[i - 1])) << rows[i];
            EXPECT_EQ(us.empty(), i == 1) << rows[i];
            if (i == 1) continue;
            EXPECT_EQ(us.find_first_not_of("0123456789"), std::string::npos) << rows[i];
            sum_printed += printed[i - 1];
            sum_runner += std::stod(us) / 1000;
        }
        // Two clocks on the same frames: the runner's periods hold the
        // printed times plus what passes between frames, and a busy machine
        // may delay a line by a scheduler's slice or more. The bounds catch a
        // unit mixed up or rows paired wrongly (off by a thousand), not jitter.
        EXPECT_GT(sum_runner, 0.1 * sum_printed) << dir;
        EXPECT_LT(sum_runner, 10 * sum_printed + 2000) << dir;
    }
    const std::string before = e2e::read_text(out + "/run.json");
    const auto again = run(runner("--frames 1 --out '" + out + "' screens"));
    EXPECT_EQ(again.status, 2) << again.output;
    EXPECT_NE(again.output.find("exists already"), std::string::npos) << again.output;
    EXPECT_EQ(e2e::read_text(out + "/run.json"), before);
    EXPECT_FALSE(e2e::files_starting(out, "screens-3").size());
}

}  // namespace

// Busy loops beside a real run: the runner's figures agree with what the
// kernel can have counted, the run is marked busy, and a comparison with it
// withholds its verdict unless asked for.
TEST_F(Runner, BusyMachineIsRecordedAndWithholdsTheVerdict) {
    std::vector<pid_t> loops;
    for (int i = 0; i < 2; ++i)
        if (const pid_t pid = fork(); pid == 0) {
            for (volatile unsigned long n = 0;; n = n + 1) {}
        } else {
            loops.push_back(pid);
        }
    const std::string busy = directory + "/busy", other = directory + "/other";
    const auto r = run(runner("--frames 20 --size 200x200 --out '" + busy + "' screens"));
    for (pid_t pid : loops) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("complete, busy"), std::string::npos) << r.output;
    ASSERT_EQ(run(runner("--frames 20 --size 200x200 --out '" + other + "' screens")).status, 0);

    const auto load = read_json(busy + "/screens/metadata.json")["run"]["load"];
    const auto& m = load["measured"];
    ASSERT_TRUE(m.is_object()) << load.dump();
    const double cores = m.value("cores", 0.0);
    EXPECT_GT(m.value("others_cores", 0.0), 0.25) << "two busy loops ran beside it";
    EXPECT_LE(m.value("others_cores", 99.0), cores + 0.05);
    // CPU time over the measured frames cannot exceed every core for their whole time.
    const double cpu_ms = m["program_cpu_ms_per_frame"].value("user", 0.0) +
                          m["program_cpu_ms_per_frame"].value("system", 0.0);
    EXPECT_GT(cpu_ms, 0);
    EXPECT_LE(cpu_ms * m.value("frames", 0), cores * m.value("seconds", 0.0) * 1000 + 20);
    EXPECT_GE(load["quiet_check"].value("seconds", 0.0), 0.9);
    EXPECT_GT(e2e::read_lines(busy + "/screens/load.csv").size(), 3u);

    const std::string compare = "'" SUITE_REPORT_EXE "' compare '" + busy + "' --against '" +
                                other + "' --json -";
    const auto withheld = run(compare);
    ASSERT_EQ(withheld.status, 0) << withheld.output;
    EXPECT_NE(withheld.output.find("inconclusive: A measured on a busy machine (others used"),
              std::string::npos) << withheld.output;
    const auto judged = run(compare + " --allow-busy");
    ASSERT_EQ(judged.status, 0) << judged.output;
    EXPECT_EQ(judged.output.find("inconclusive"), std::string::npos) << judged.output;
}

// --until-stable repeats a program until its average is known to the asked
// percent, from three runs up to --max-repeat, and run.json says why it stopped.
TEST_F(Runner, UntilStableStopsByItsRule) {
    const auto stopped = [&](const std::string& percent, int at_most) {
        const std::string out = directory + "/stable-" + percent;
        const auto r = run(runner("--frames 10 --size 200x200 --until-stable " + percent +
                                  " --max-repeat " + std::to_string(at_most) + " --out '" + out +
                                  "' screens"));
        EXPECT_EQ(r.status, 0) << r.output;
        const auto s = read_json(out + "/run.json")["until_stable"]["programs"]["screens"];
        const int runs = s.value("good_runs", 0);
        EXPECT_GE(runs, 3) << s.dump();
        EXPECT_LE(runs, at_most) << s.dump();
        EXPECT_TRUE(e2e::files_starting(out, "rep-").size() == static_cast<std::size_t>(runs))
            << "no round after the rule was met";
        if (s.value("stopped", "") == "stable")
            EXPECT_LE(s.value("half_width_percent", 100.0), std::stod(percent)) << s.dump();
        else
            EXPECT_EQ(runs, at_most) << s.dump();
        return s.value("stopped", "");
    };
    // Frame rates of a busy shared machine are never known to a hundredth of a percent.
    EXPECT_EQ(stopped("0.01", 3), "max-repeat reached");
    // Nor do they vary between runs by the 40% it takes to miss +-100% with three.
    EXPECT_EQ(stopped("100", 5), "stable");
}

// Two variants of one build, alternately on one X server: llvmpipe and the
// far slower softpipe. Each run is named with its variant and the GL it was
// given, the order is A B B A, and the comparison of the variants, with the
// runs as its units, finds softpipe slower.
TEST_F(Runner, InterleavedVariantsAreComparedRunByRun) {
    const std::string out = directory + "/ab";
    const auto r = run(runner("--frames 20 --size 400x400 --variant llvmpipe --variant "
                              "soft:GALLIUM_DRIVER=softpipe --rounds 4 --out '" + out +
                              "' --db '" + directory + "/s.db' screens"));
    // softpipe now and then fails an X request of its own after the window is
    // resized and the program dies of it: told, kept, and left out.
    ASSERT_TRUE(r.status == 0 || r.output.find("FAILED: screens: crashed") != std::string::npos)
        << r.output;
    std::vector<std::string> order;
    for (std::size_t at = 0; (at = r.output.find("== screens [", at)) != std::string::npos; ++at)
        order.push_back(r.output.substr(at + 12, r.output.find(']', at) - at - 12));
    EXPECT_EQ(order, (std::vector<std::string>{"llvmpipe", "soft", "soft", "llvmpipe",
                                                "llvmpipe", "soft", "soft", "llvmpipe"}));
    const auto soft = read_json(out + "/round-3/soft/screens/metadata.json");
    EXPECT_EQ(soft["variant"].value("name", ""), "soft");
    EXPECT_EQ(soft["variant"]["settings"].value("GALLIUM_DRIVER", ""), "softpipe");
    EXPECT_NE(soft["gl"].value("renderer", "").find("softpipe"), std::string::npos);
    EXPECT_EQ(soft["run"].value("round", 0), 3);
    EXPECT_NE(read_json(out + "/round-2/llvmpipe/screens/metadata.json")["gl"]
                  .value("renderer", "").find("llvmpipe"), std::string::npos);
    EXPECT_EQ(read_json(out + "/run.json")["variants"].size(), 2u);

    // Judged on the runs alone, whatever else the machine ran meanwhile.
    const auto c = run("'" SUITE_REPORT_EXE "' compare '" + out + "' --allow-busy -q --json '" +
                       directory + "/c.json'");
    ASSERT_EQ(c.status, 0) << c.output;
    const auto j = read_json(directory + "/c.json");
    ASSERT_TRUE(j.is_object()) << c.output.substr(0, 2000);
    EXPECT_EQ(j["comparison"]["sides"]["A"].value("name", ""), "soft");
    const auto& screens = j["comparison"]["programs"].at(0);
    EXPECT_GE(screens["a"].size(), 3u);
    EXPECT_NE(screens.value("unit_note", "").find("judged on the spread between runs: "),
              std::string::npos) << screens.dump();
    // Far slower in every figure: said so where the runs carry it, never the other way.
    int slower = 0;
    for (const auto& f : screens["figures"]) {
        EXPECT_NE(f.value("verdict", ""), "faster") << f.dump();
        slower += f.value("verdict", "") == "slower";
    }
    // One quantity, one verdict: the rate is a fixed amount over the frame time.
    EXPECT_EQ(slower, static_cast<int>(screens["figures"].size())) << screens.dump();
    // The store keeps the variants' series apart.
    const auto h = run("'" SUITE_REPORT_EXE "' history --db '" + directory + "/s.db' --json '" +
                       directory + "/h.json'");
    const auto series = read_json(directory + "/h.json");
    ASSERT_EQ(series.size(), 2u) << h.output.substr(0, 2000);
    EXPECT_EQ(series[0].value("variant", "") + series[1].value("variant", ""), "llvmpipesoft");
    EXPECT_EQ(run(runner("--variant a --variant a --out '" + directory + "/x' screens")).status, 2);
    EXPECT_EQ(run(runner("--variant ../a --out '" + directory + "/x' screens")).status, 2);
    EXPECT_NE(access((directory + "/x").c_str(), F_OK), 0) << "no folder before the options are checked";
}

// The end of a run reads at a glance: the runs, each program against its
// last comparable run (from the second run on), the page in the run folder,
// and the command for the rest. A page planted as a link is not written through.
TEST_F(Runner, RunEndsWithAShortSummaryAndAPage) {
    const std::string db = directory + "/s.db";
    const auto twice = [&](const std::string& out) {
        return run(runner("--frames 3 --size 100x100 --out '" + out + "' --db '" + db +
                          "' screens"));
    };
    ASSERT_EQ(twice(directory + "/first").status, 0);
    const auto r = twice(directory + "/second");
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string summary = r.output.substr(r.output.find("== summary"));
    EXPECT_LE(std::count(summary.begin(), summary.end(), '\n'), 25) << summary;
    EXPECT_NE(summary.find("complete"), std::string::npos) << summary;
    EXPECT_NE(summary.find("Characters/sec"), std::string::npos) << summary;
    EXPECT_NE(summary.find("screens  run 1 of "), std::string::npos) << summary;
    EXPECT_NE(summary.find(" UTC "), std::string::npos) << "the store's date, its zone named";
    EXPECT_NE(summary.find("page with plots: " + directory + "/second/report.html"),
              std::string::npos) << summary;
    EXPECT_NE(summary.find("full report: suite-report " + directory + "/second"),
              std::string::npos) << summary;
    EXPECT_NE(e2e::read_text(directory + "/second/report.html").find("data:image/svg+xml"),
              std::string::npos);

    // A folder whose name holds a control character: the command stays one
    // that can be pasted, the character spelled out.
    const std::string odd = directory + "/sec\x01ond";
    ASSERT_EQ(rename((directory + "/second").c_str(), odd.c_str()), 0);
    const auto pasted = run("SUITE_DB='" + db + "' '" SUITE_REPORT_EXE "' summary '" + odd + "'");
    EXPECT_NE(pasted.output.find("full report: suite-report $'" + directory + "/sec\\x01ond'"),
              std::string::npos) << pasted.output;
    ASSERT_EQ(rename(odd.c_str(), (directory + "/second").c_str()), 0);

    ASSERT_EQ(unlink((directory + "/second/report.html").c_str()), 0);
    std::ofstream(directory + "/kept.txt") << "mine\n";
    ASSERT_EQ(symlink((directory + "/kept.txt").c_str(),
                      (directory + "/second/report.html").c_str()), 0);
    const auto planted = run("SUITE_DB='" + db + "' '" SUITE_REPORT_EXE "' summary '" +
                             directory + "/second'");
    EXPECT_EQ(planted.status, 1) << planted.output;
    EXPECT_EQ(e2e::read_text(directory + "/kept.txt"), "mine\n");
}

// On a software renderer --require-hardware ends the run before any program
// starts. A run that rendered in software says so, with what reaches the GPU,
// in every output, but only where the machine has a GPU.
TEST_F(Runner, SoftwareRenderingIsToldAndCanBeRefused) {
    const auto npos = std::string::npos;
    const std::string refused = directory + "/refused";
    const auto r = run(runner("--require-hardware --out '" + refused + "' screens"));
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("rendered in software (llvmpipe"), npos) << r.output;
    EXPECT_EQ(r.output.find("== screens"), npos) << "no program may start: " << r.output;
    const auto record = read_json(refused + "/run.json");
    EXPECT_NE(record.value("problem", "").find("rendered in software (llvmpipe"), npos) << record;
    EXPECT_TRUE(record["programs"].empty()) << record;
    EXPECT_NE(access((refused + "/screens").c_str(), F_OK), 0);

    const std::string plain = directory + "/plain", gpu = directory + "/gpu";
    ASSERT_EQ(run(runner("--frames 1 --size 100x100 --out '" + plain + "' screens")).status, 0);
    auto meta = read_json(plain + "/screens/metadata.json");
    EXPECT_EQ(meta["gl"]["software"], true) << meta["gl"];
    EXPECT_TRUE(meta["display"]["direct"].is_boolean()) << meta["display"];
    ASSERT_EQ(run("cp -r '" + plain + "' '" + gpu + "'").status, 0);
    meta["machine"]["gpus"] = {{{"card", "card0"}, {"vendor_id", "0x8086"},
                                {"device_id", "0x3e92"}, {"driver", "i915"}}};
    std::ofstream(gpu + "/screens/metadata.json") << meta.dump();
    const std::string line = "on a machine with a GPU (0x8086:0x3e92 (driver i915)); Xvfb has no "
                             "GPU: use --on-display or --server xorg";
    const std::string report = "SUITE_DB='" + directory + "/s.db' '" SUITE_REPORT_EXE "' ";
    for (const std::string& folder : {plain, gpu}) {
        const bool told = folder == gpu;
        for (const std::string& how : {"summary '" + folder + "'", "'" + folder + "'",
                                       "compare '" + folder + "' --against '" + plain + "'"}) {
            const auto shown = run(report + how);
            EXPECT_EQ(shown.output.find(line) != npos, told) << how << "\n" << shown.output;
        }
        run(report + "'" + folder + "' -q --json '" + directory + "/r.json'");
        const auto json = read_json(directory + "/r.json");
        EXPECT_EQ(json["software_rendering"].size(), told ? 1u : 0u) << json["software_rendering"];
        EXPECT_EQ(json["runs"][0]["rendered_in_software"], true);
    }
}

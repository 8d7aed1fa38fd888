// suite-run, headless, on the real programs and on stand-ins that crash or
// never open a window.
#include <sys/stat.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "session.h"

namespace {

struct command_result {
    int status;
    std::string output;
};

command_result run(const std::string& command) {
    std::string output;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    char buffer[4096];
    while (p && fgets(buffer, sizeof buffer, p)) output += buffer;
    const int raw = p ? pclose(p) : -1;
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, output};
}

nlohmann::json read_json(const std::string& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(in, nullptr, false);
}

void write_script(const std::string& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    chmod(path.c_str(), 0755);
}

class Runner : public e2e::Session {
protected:
    std::string runner(const std::string& args) const {
        return "DISPLAY= '" SUITE_RUN_EXE "' --unattended " + args + " </dev/null";
    }
};

TEST_F(Runner, RepeatedRunLeavesResultsAndWhatExplainsThem) {
    const std::string out = directory + "/run";
    const auto r = run(runner("--frames 1 --size 100x100 --repeat 2 --out '" + out + "' cube"));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("cube: 1 frame(s)"), std::string::npos) << r.output;
    for (const std::string rep : {"rep-1", "rep-2"}) {
        const std::string dir = out + "/" + rep + "/cube";
        const auto names = e2e::files_starting(dir, "results_cube_windows_mac_mx @ local date ");
        ASSERT_EQ(names.size(), 1u) << dir;
        const auto lines = e2e::read_lines(dir + "/" + names[0]);
        ASSERT_GE(lines.size(), 15u);
        EXPECT_EQ(lines[6], "window: 1");
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
    for (const auto& r : report["runs"]) {
        EXPECT_EQ(r.value("program", ""), "cube");
        EXPECT_EQ(r.value("ending", ""), "esc");
        EXPECT_GE(r.value("frames", 0), 1);
        for (const auto& rate : r["analysis"]["rates"])
            EXPECT_TRUE(rate.value("summary_agrees", false)) << rate.dump();
    }
    EXPECT_EQ(report["repeats"].size(), 1u) << "two runs of cube, summarised together";
    EXPECT_FALSE(e2e::files_starting(directory + "/plots", "cube-frame-time").empty());
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
    write_script(bin + "/screens", "echo 'about to crash'; kill -SEGV $$");
    write_script(bin + "/triangles", "echo 'no window today'; exec sleep 600");
    const std::string out = directory + "/run";
    const auto r = run(runner("--size 100x100 --hang-after 2 --window-timeout 4 --bin-dir '" +
                              bin + "' --out '" + out + "'"));
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("FAILED: cube: no new frame within 2 s"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("FAILED: screens: it ended before its window opened"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("FAILED: triangles: its window did not open within 4 s"),
              std::string::npos)
        << r.output;

    // What the hung program wrote is kept, and it was stopped.
    const auto hung = e2e::read_lines(out + "/cube/console.txt");
    ASSERT_EQ(hung.size(), 2u);
    EXPECT_EQ(hung[1], "It spent: 0 Secs to Initialize.");
    EXPECT_EQ(read_json(out + "/cube/metadata.json")["run"].value("exit_status", 0), -9);
    EXPECT_EQ(e2e::read_lines(out + "/screens/console.txt").at(0), "about to crash");
    EXPECT_EQ(read_json(out + "/screens/metadata.json")["run"].value("exit_status", 0), -11);
    EXPECT_EQ(e2e::read_lines(out + "/triangles/console.txt").at(0), "no window today");
}

}  // namespace

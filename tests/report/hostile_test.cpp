// suite-report against inputs prepared by an attacker or a careless user:
// each case runs the built tool on real files and asserts the sound outcome.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "command.h"
#include "synthetic_runs.h"
#include "test_data.h"

using namespace report_test;
namespace fs = std::filesystem;

namespace {

bool valid_utf8(const std::string& text) {
    try {
        (void)nlohmann::json(text).dump();  // throws on invalid UTF-8
        return true;
    } catch (const nlohmann::json::exception&) {
        return false;
    }
}

}  // namespace

TEST(Hostile, NamesNeverReachGnuplotAsCode) {
    TempDir dir;
    // A newline ends a gnuplot command; backquotes run a shell in double quotes.
    // The canary's path is absolute: gnuplot may run in a folder of its own.
    const std::string canary = dir.path("pwned");
    const std::string run = dir.path("x/run-1\nsystem \"touch " + canary + "\"\n#`touch " +
                                     canary + "`'@x/screens");
    write_text(run + "/results_screens_1.txt", read_text(screens_real));
    const std::string plots = dir.path("p\nsystem \"touch " + canary + "\"\n");
    const Result r = sh("cd " + shell_quote(dir.path()) + " && " + shell_quote(exe) +
                            " x --html r.html --plots " + shell_quote(plots) + " -q",
                        dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(fs::exists(canary));
    EXPECT_EQ(count(read_text(dir.path("r.html")), "<img "), 2u);
    EXPECT_TRUE(fs::exists(fs::path(plots) / "screens-frame-time.png"));
}

TEST(Hostile, Latin1AndControlCharactersComeOutValidAndInert) {
    TempDir dir;
    const std::string folder = dir.path("run-1/screens\xe9");
    const std::string text = replaced(read_text(screens_real), "2023.03.06.", "\xe9\x1b]0;x\a");
    write_text(folder + "/results_screens_\xe9.txt", text);
    write_text(folder + "/stderr.txt", "caf\xe9 \x1b[2J\n");
    write_text(folder + "/metadata.json", "{\"gl\":{\"renderer\":\"\xe9\\u001b[31m\"}}");
    const Result r = run({exe, dir.path(), "--json", dir.path("r.json"), "--csv",
                          dir.path("r.csv"), "--html", dir.path("r.html")},
                         dir);
    EXPECT_EQ(r.status, 0) << r.err;
    for (const auto& out : {r.out, read_text(dir.path("r.json")), read_text(dir.path("r.csv")),
                            read_text(dir.path("r.html"))})
        EXPECT_TRUE(valid_utf8(out));
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(count(r.out, "\\x1b"), 3u) << r.out;  // banner, metadata, stderr
    const auto report = nlohmann::json::parse(read_text(dir.path("r.json")));
    EXPECT_EQ(report["runs"][0]["metadata"]["gl"]["renderer"], "\xEF\xBF\xBD\x1b[31m");
}

TEST(Hostile, OutputsNeverReplaceAnInput) {
    TempDir dir;
    const std::string input = dir.path("results_screens_1.txt"), original = read_text(screens_real);
    write_text(input, original);
    fs::create_symlink(input, dir.path("link.json"));
    fs::create_hard_link(input, dir.path("hard.csv"));
    fs::create_directory(dir.path("p"));
    fs::create_hard_link(input, dir.path("p/screens-frame-time.png"));
    const std::string frames = "frame,printed_ms,runner_interval_us\n1,21,\n";
    write_text(dir.path("frames.csv"), frames);  // the runner's, beside it
    for (const auto& option : {std::vector<std::string>{"--json", input},
                               {"--json", dir.path("link.json")},
                               {"--csv", dir.path("hard.csv")},
                               {"--csv", dir.path("frames.csv")},
                               {"--plots", dir.path("p")}}) {
        const Result r = run({exe, input, option[0], option[1]}, dir);
        EXPECT_EQ(r.status, 2) << option[1];
        EXPECT_NE(r.err.find("refusing to write over an input"), std::string::npos) << r.err;
    }
    EXPECT_EQ(read_text(input), original);
    EXPECT_EQ(read_text(dir.path("frames.csv")), frames);

    // A write that fails part-way (the file size limit) leaves the earlier output.
    ASSERT_EQ(run({exe, input, "--json", dir.path("r.json")}, dir).status, 0);
    const std::string earlier = read_text(dir.path("r.json"));
    const Result r = sh("trap '' XFSZ; ulimit -f 1; " + shell_quote(exe) + " " +
                            shell_quote(input) + " --json " + shell_quote(dir.path("r.json")) +
                            " -q",
                        dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot write " + dir.path("r.json") + ": File too large"),
              std::string::npos) << r.err;
    EXPECT_EQ(read_text(dir.path("r.json")), earlier);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 8);
}

TEST(Hostile, RunFolderSideFilesAreBounded) {
    TempDir dir;
    const std::string folder = dir.path("run-1/screens/");
    write_text(folder + "results_screens_1.txt", read_text(screens_real));
    ASSERT_EQ(mkfifo((folder + "metadata.json").c_str(), 0644), 0);
    fs::create_symlink("/dev/zero", folder + "stderr.txt");
    const std::string nested = dir.path("run-2/screens/");
    write_text(nested + "results_screens_2.txt", read_text(screens_real));
    write_text(nested + "metadata.json", std::string(30000, '[') + std::string(30000, ']'));
    const std::string wide = dir.path("run-3/screens/");
    write_text(wide + "results_screens_3.txt", read_text(screens_real));
    std::string keys = "{\"" + std::string(20000, 'k') + "\":{";
    for (int i = 0; i < 4000; ++i) keys += (i ? ",\"" : "\"") + std::to_string(i) + "\":1";
    write_text(wide + "metadata.json", keys + "}}");
    const std::string large = dir.path("run-4/screens/");
    write_text(large + "results_screens_4.txt", read_text(screens_real));
    write_text(large + "metadata.json", "{\"a\":\"" + std::string(70000, 'a') + "\"}");
    // A link in a folder could lead to any file of the user who runs the report.
    fs::create_symlink(screens_real, dir.path("run-1/results_screens_4.txt"));
    const Result r = sh("timeout 60 " + shell_quote(exe) + " " + shell_quote(dir.path()), dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("metadata.json beside it is not read: is not a regular file"),
              std::string::npos);
    EXPECT_NE(r.out.find("stderr.txt beside it is not read: is a symbolic link"),
              std::string::npos);
    EXPECT_NE(r.out.find("nests deeper than"), std::string::npos);
    EXPECT_NE(r.out.find("3800 more entries not shown"), std::string::npos);
    EXPECT_LT(r.out.size(), 200000u);  // 200 entries of at most 300 bytes a key
    EXPECT_NE(r.out.find("larger than 64 KiB"), std::string::npos);
    EXPECT_EQ(count(r.out, "== screens"), 4u);
}

TEST(Hostile, FailuresAreErrorsWithTheSystemsReason) {
    TempDir dir;
    const Result full = sh(shell_quote(exe) + " " + shell_quote(screens_real) + " >/dev/full", dir);
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("cannot write standard output: No space left on device"),
              std::string::npos) << full.err;

    // Permissions bind only other users: the tool runs as nobody.
    if (geteuid() != 0) GTEST_SKIP() << "runuser needs root";
    write_text(dir.path("u/a/results_screens_1.txt"), read_text(screens_real));
    write_text(dir.path("u/b/results_screens_2.txt"), read_text(screens_real));
    write_text(dir.path("results_screens_3.txt"), read_text(screens_real));
    chmod(dir.path().c_str(), 0755);
    chmod(dir.path("u/b").c_str(), 0);
    chmod(dir.path("results_screens_3.txt").c_str(), 0);
    const Result r = sh("cd " + shell_quote(dir.path()) + " && runuser -u nobody -- " +
                            shell_quote(exe) + " u results_screens_3.txt -q",
                        dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("u/b: error: cannot read the folder: Permission denied"),
              std::string::npos) << r.err;
    EXPECT_NE(r.err.find("results_screens_3.txt: error: cannot be read: Permission denied"),
              std::string::npos) << r.err;
}

TEST(Hostile, CsvCellsAreNeverFormulasAndNumbersStayNumbers) {
    TempDir dir;
    const std::vector<std::string> formulas = {"=HYPERLINK(\"evil.example\",\"y\")", "@SUM(1+1)",
                                               "+1+1", "-2", "\xff"};
    // Relative names: the run's label and its file's cell start with the formula; tags too.
    std::string command = "cd " + shell_quote(dir.path()) + " && " + shell_quote(exe) + " -q --csv r.csv --";
    for (std::size_t i = 0; i < formulas.size(); ++i) {
        const auto folder = write_screens_run(dir.path(std::to_string(i)), {20.0 + double(i), 20});
        fs::rename(fs::directory_iterator(folder)->path(), dir.path(formulas[i] + ".txt"));
        command += " " + shell_quote(formulas[i] + ".txt");
        ASSERT_EQ(run({exe, "import", "--db", dir.path("s.db"), "--tag=" + formulas[i],
                       dir.path(formulas[i] + ".txt")}, dir).status, 0);
    }
    ASSERT_EQ(sh(command, dir).status, 0);
    const Result h = run({exe, "history", "--db", dir.path("s.db"), "--csv", "-"}, dir);
    // A label is followed by an empty side, a tag by the frame count, a plain number.
    for (const auto& [csv, after] : {std::pair{read_text(dir.path("r.csv")), ","}, {h.out, "2,"}}) {
        EXPECT_TRUE(valid_utf8(csv));
        for (const std::string cell : {"\"'=HYPERLINK(\"\"evil.example\"\",\"\"y\"\")\"",
                                       "'@SUM(1+1)", "'+1+1", "'-2", "\xEF\xBF\xBD"})
            EXPECT_NE(csv.find("," + cell + "," + after), std::string::npos) << cell << "\n" << csv;
        for (const std::string raw : {",=", ",\"=", ",@", ",+", ",-2,"})
            EXPECT_EQ(csv.find(raw), std::string::npos) << raw;
    }
}

TEST(Hostile, BadTmpdirAndTwoStandardOutputs) {
    TempDir dir;
    const std::string db = dir.path("s.db"), page = dir.path("p.html"), file = dir.path("a-file");
    ASSERT_EQ(run({exe, "import", "--db", db, screens_real}, dir).status, 0);
    write_text(file, "");
    for (const auto& tmpdir : {dir.path("missing"), file})
        for (const auto& args : {std::vector<std::string>{screens_real, "-q"}, {"history", "--db", db}}) {
            fs::remove(page);
            std::string command = "TMPDIR=" + shell_quote(tmpdir) + " " + shell_quote(exe);
            for (const auto& a : args) command += " " + shell_quote(a);
            const Result r = sh(command + " --html " + shell_quote(page), dir);
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_NE(r.err.find("TMPDIR " + tmpdir + " is not a folder; using /tmp"),
                      std::string::npos) << r.err;
            EXPECT_NE(read_text(page).find("</html>"), std::string::npos) << args[0];
        }
    for (const auto& args : {std::vector<std::string>{exe, screens_real, "--json", "-", "--csv", "-"},
                             {exe, "history", "--db", db, "--csv", "-", "--html", "-"}}) {
        const Result r = run(args, dir);
        EXPECT_EQ(r.status, 2) << args[1];
        EXPECT_EQ(r.out, "");
    }
}

TEST(Hostile, RunnerIntervalPastADoublesReachIsLeftOut) {
    TempDir dir;
    write_screens_run(dir.path("run-1/screens"), {20, 21, 22});
    write_text(dir.path("run-1/screens/frames.csv"),
               "frame,printed_ms,runner_interval_us\n1,20,9007199254740993\n2,21,21007\n3,22,22003\n");
    const Result r = run({exe, dir.path("run-1"), "--csv", dir.path("r.csv")}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string csv = read_text(dir.path("r.csv"));
    EXPECT_EQ(csv.find("90071992547409"), std::string::npos) << csv;
    EXPECT_NE(csv.find(",21007\n"), std::string::npos) << csv;
    EXPECT_EQ(count(r.out, "frames.csv:2: warning: a runner interval too large to hold to the "
                           "microsecond is left out"), 1u) << r.out;
}

// Metadata of every wrong shape, section by section, and an interleaved run
// whose variants are damaged: read as far as it goes, never a crash, and
// compare of the run refuses it as a usage error.
TEST(Hostile, MetadataOfTheWrongShapeReadsAsFarAsItGoes) {
    TempDir dir;
    const std::string folder = dir.path("run/round-1/a/screens");
    write_text(folder + "/results_screens_x.txt", read_text(screens_real));
    write_text(folder + "/metadata.json",
               R"({"format": "one", "machine": 5, "gl": {"renderer": 7, "version": null},
                   "vsync": {"kept": "no", "set": [1], "swap_interval": {}},
                   "variant": {"name": ["a"], "index": "0", "settings": 3},
                   "run": {"load": 3, "problem": 9, "window_size": {"w": 1}}, "tag": false})");
    const Result r = run({exe, dir.path("run"), "--json", dir.path("r.json")}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("the runner reports: 9"), std::string::npos) << r.out;
    const auto c = run({exe, "compare", dir.path("run")}, dir);
    EXPECT_EQ(c.status, 2) << c.out << c.err;
    EXPECT_NE(c.err.find("not an interleaved run"), std::string::npos) << c.err;
}

// What a desktop did to the window is said, and a record's text stays inert.
TEST(Hostile, AWindowGrantedAnotherSizeOrHiddenIsToldInertly) {
    TempDir dir;
    const std::string folder = dir.path("run-1/screens");
    write_text(folder + "/results_screens_1.txt", read_text(screens_real));
    write_text(folder + "/metadata.json",
               R"({"run":{"program":"screens","problem":"","window_granted":"800x600\u001b[2J",)"
               R"("window_hidden":"covered"}})");
    const Result r = run({exe, dir.path()}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("the window manager granted 800x600"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("its window was covered while frames were measured"), std::string::npos);
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
}

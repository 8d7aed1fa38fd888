// The real triangles binary: the growing draw, the limit that ends the run,
// Esc, and what happens when its memory cannot be had.
#include <unistd.h>

#include <csignal>
#include <cstdint>

#include "session.h"
#include "texts/texts.h"

namespace {

using e2e::number_after;
using e2e::same_printed;

const texts::program_texts& texts_of = *texts::find_program("triangles");
const std::string title(texts_of.window_title);
const std::string prompt(texts::prompt);
const std::string banner =
    "Vantix :: Lumenfold Benchmark Graphics Triangles for Windows on Mac Mx system 2023.03.06.";
const std::string frame_marker(texts_of.frame_marker);
const std::string prefix = "results_triangles_windows_mac_mx @ local date ";
const std::string saved = "Results have been saved in a file and you can find it at: ";
// A frame of tens of millions of indices takes about a minute in software.
const double slow_frame = 400;
// Frames stepped by hand, then the step the jump lands on. After nine
// measured frames a jump to step 44 passes the limit by a few per cent, so
// its frame costs little more than the least a frame past the limit can (a
// jump of 40 from step 0 passes it by half).
constexpr int steps = 9, jump_to = 44;

// Triangles of frame n after m measured frames: the n-th Fibonacci number
// over m + 1, plus 6n indices, six indices a triangle.
std::int64_t triangles_at(int n, int m) {
    std::int64_t a = 0, b = 1;
    for (int i = 0; i < n; ++i) {
        const std::int64_t next = a + b;
        a = b;
        b = next;
    }
    return (a / (m + 1) + 6 * n) / 6;
}

class Triangles : public e2e::Session {
protected:
    void start_small() {
        start(TRIANGLES_EXE, title);
        ASSERT_GE(program->wait_for_line("Secs to Initialize.", e2e::startup_timeout), 0);
        window->resize(64, 64);  // at step 0: not measured
    }
    // Sums the frame blocks of the results file from line `at` on; returns
    // the line after them.
    std::size_t check_blocks(const std::vector<std::string>& res, std::size_t at, int& frames,
                             double& seconds, std::int64_t& triangles) {
        while (at < res.size() && res[at] == "window: 1") {
            auto drew = number_after(res.at(at + 1), "It drew ", " Triangles.");
            auto s = number_after(res.at(at + 2), "It spent: ", " Secs. ");
            auto a = number_after(res.at(at + 3), "It was: ", " Angles/sec.");
            auto r = number_after(res.at(at + 4), "It was: ", " Triangles/sec.");
            EXPECT_TRUE(drew && s && a && r) << "block at line " << at;
            if (!(drew && s && a && r)) break;
            EXPECT_TRUE(same_printed(*a, 1 / *s));
            EXPECT_TRUE(same_printed(*r, *drew / *s));
            EXPECT_EQ(res.at(at + 5), "");
            ++frames;
            seconds += *s;
            triangles += static_cast<std::int64_t>(*drew);
            at += 6;
        }
        return at;
    }
    // The results file of a run that ended at its limit after `measured`
    // frames, and the console's report from its line `at` on.
    void check_limit_report(const std::vector<std::string>& con, std::size_t at, int measured) {
        const auto res = e2e::read_lines(results_file(prefix));
        ASSERT_GE(res.size(), 6u);
        EXPECT_EQ(res[0], banner);
        EXPECT_TRUE(number_after(res[3], "It spent: ", " Secs to Initialize."));
        int frames = 0;
        double seconds = 0;
        std::int64_t triangles = 0;
        const std::size_t end = check_blocks(res, 6, frames, seconds, triangles);
        EXPECT_EQ(frames, measured);
        ASSERT_EQ(res.size(), end + 5);
        EXPECT_EQ(res[end], "");
        auto t = number_after(res[end + 1], "Total running time:  ", " Secs. ");
        auto f = number_after(res[end + 2], "Average Angles/Sec: ", " Angles/Sec.");
        auto r = number_after(res[end + 3], "Average Triangles/Sec: ", " Triangles/Sec.");
        ASSERT_TRUE(t && f && r) << res[end + 1] << " | " << res[end + 2] << " | " << res[end + 3];
        EXPECT_TRUE(same_printed(*t, seconds));
        EXPECT_TRUE(same_printed(*f, measured / seconds));
        EXPECT_TRUE(same_printed(*r, static_cast<double>(triangles) / seconds));
        EXPECT_EQ(res[end + 4], "");

        // The console's limit report: " Secs." without the file's trailing blank.
        const std::vector<std::string> tail{"It reaches limits, the program terminates.",
                                            "",
                                            "",
                                            res[end + 1].substr(0, res[end + 1].size() - 1),
                                            res[end + 2],
                                            res[end + 3],
                                            "",
                                            saved + results_file(prefix),
                                            "",
                                            "",
                                            prompt};
        ASSERT_EQ(con.size(), at + tail.size());
        for (std::size_t i = 0; i < tail.size(); ++i) EXPECT_EQ(con[at + i], tail[i]) << i;
    }
};

// Steps by C, then many presses of C before the next frame: they are read
// as one jump, and that frame passes the limit, so the run ends in its
// report. The jump lands just past the limit: a frame there draws tens of
// millions of indices, about a minute in software (a jump past the array's
// end is left to the unit tests). The program is stopped while the keys go
// in, so that it reads them all before it draws, however busy the machine.
TEST_F(Triangles, StepsThenAJumpEndInTheLimitReport) {
    start_small();
    for (int n = 1; n <= steps; ++n) {
        window->key("c");
        ASSERT_TRUE(program->wait_for_count(frame_marker, n, e2e::frame_timeout));
    }
    program->kill_now(SIGSTOP);
    const auto stopped = [&] { return e2e::process_state(program->pid()) == 'T'; };
    for (double end = driver::now() + 30; !stopped() && driver::now() < end;) usleep(10000);
    ASSERT_TRUE(stopped());
    for (int i = steps; i < jump_to; ++i) window->key("c");
    program->kill_now(SIGCONT);
    int tries = 0, at = -1;
    while ((at = program->wait_for_line("It reaches limits", slow_frame)) < 0 && ++tries < 6) {
        ASSERT_TRUE(program->running()) << "ended without its limit report";
        window->key("c");
    }
    ASSERT_GE(at, 0) << "no limit report";
    ASSERT_GE(program->wait_for_line(prompt, 60), 0);
    EXPECT_FALSE(program->wait_exit(1)) << "did not wait for Enter";
    program->type("\n");
    EXPECT_EQ(program->wait_exit(30), 0);

    const auto con = program->lines();
    EXPECT_EQ(program->count("window: "), program->count(frame_marker));
    std::vector<std::string> drew;
    for (auto& l : con)
        if (l.rfind(frame_marker, 0) == 0) drew.push_back(l);
    ASSERT_EQ(drew.size(), static_cast<std::size_t>(steps + 1))
        << "the presses were not read as one jump";
    for (int n = 1; n <= steps; ++n)
        EXPECT_EQ(drew[n - 1], "It drew " + std::to_string(triangles_at(n, n - 1)) + " Triangles.")
            << "frame " << n;
    EXPECT_EQ(drew[steps],
              "It drew " + std::to_string(triangles_at(jump_to, steps)) + " Triangles.");
    check_limit_report(con, static_cast<std::size_t>(at), steps + 1);
}

TEST_F(Triangles, EscAfterAFewStepsUsesTheSummaryWording) {
    start_small();
    for (int n = 1; n <= 3; ++n) {
        window->key("c");
        ASSERT_TRUE(program->wait_for_count(frame_marker, n, e2e::frame_timeout));
    }
    window->key("Escape");
    const int at = program->wait_for_line(prompt, e2e::frame_timeout);
    ASSERT_GE(at, 0);
    program->type("\n");
    EXPECT_EQ(program->wait_exit(30), 0);

    const auto res = e2e::read_lines(results_file(prefix));
    int frames = 0;
    double seconds = 0;
    std::int64_t triangles = 0;
    const std::size_t end = check_blocks(res, 6, frames, seconds, triangles);
    EXPECT_EQ(frames, 3);
    EXPECT_EQ(triangles, 1 + 2 + 3);
    ASSERT_EQ(res.size(), end + 4);
    auto t = number_after(res[end], "Total running time:  ", " Secs. ");
    auto f = number_after(res[end + 1], "Average: ", " Angles/Sec.");
    auto r = number_after(res[end + 2], "Average: ", " Triangles/Sec.");
    ASSERT_TRUE(t && f && r) << res[end] << " | " << res[end + 1] << " | " << res[end + 2];
    EXPECT_TRUE(same_printed(*t, seconds));
    EXPECT_TRUE(same_printed(*r, 6 / seconds));
    EXPECT_EQ(res[end + 3], "");

    const auto con = program->lines();
    const std::vector<std::string> tail{res[end], res[end + 1], res[end + 2], "", "",
                                        saved + results_file(prefix), "", "",
                                        prompt};
    ASSERT_GE(at, 8);
    for (std::size_t i = 0; i < tail.size(); ++i) EXPECT_EQ(con.at(at - 8 + i), tail[i]) << i;
}

TEST_F(Triangles, MemoryThatCannotBeHadIsOneClearLineAndStatusOne) {
    driver::launch how;
    how.args = {"-c", "ulimit -v 400000 && exec \"$0\"", TRIANGLES_EXE};
    how.directory = directory;
    how.display = display;
    how.executable = "/bin/sh";
    driver::Program p(how);
    EXPECT_EQ(p.wait_exit(60), 1);
    const std::string err = p.error_text();
    EXPECT_NE(err.find("triangles: cannot allocate the 512 MiB"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_TRUE(p.lines().empty()) << "wrote before it could run";
    EXPECT_TRUE(e2e::files_starting(directory, std::string(texts::results_prefix)).empty());
}

}  // namespace

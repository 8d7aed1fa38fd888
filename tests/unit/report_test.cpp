// The report sink and the cube's report lines, without a window.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>

#include "cube_frame.h"
#include "finish.h"
#include "report.h"
#include "texts/texts.h"

namespace {

std::string lines_of(void (*write)(std::ostream&)) {
    std::ostringstream s;
    write(s);
    return s.str();
}

// The edges the end-to-end runs do not reach: a 0 ms frame, and Esc before
// any measured frame (they check the lines of measured ones).
TEST(ReportLines, ZeroMillisecondFrameGivesInfiniteRates) {
    volatile double zero = 0;  // a 0 ms frame, as the millisecond clock gives it
    cube::frame_seconds = 1.0 / 60;
    cube::angles_per_second = 1.0 / zero;
    cube::vertices_per_second = 16777216 / zero;
    std::ostringstream t;
    cube::write_frame_report(t, 7);
    EXPECT_EQ(t.str(),
              "window: 7\nThe system spent: 0.0166667 Secs. \nIt was: inf Angles/sec.\n"
              "It was: inf Vertex/sec.\n");
}

TEST(ReportLines, SummaryOfNoFrameIsNotANumber) {
    // Esc before any measured frame divides 0 by 0.
    cube::total_seconds = cube::frames_measured = cube::vertices_measured = 0;
    const std::string none = lines_of(cube::write_summary);
    EXPECT_TRUE(none == "Total machine time:  0 Secs. \nAverage: -nan Angles/Sec.\n"
                        "Average: -nan Vertex/Sec.\n" ||
                none == "Total machine time:  0 Secs. \nAverage: nan Angles/Sec.\n"
                        "Average: nan Vertex/Sec.\n")
        << none;
}

TEST(ResultsName, FromTheLocalTimeAndNumberedWhenTaken) {
    std::tm t{};
    t.tm_year = 2023 - 1900;
    t.tm_mon = 2;
    t.tm_mday = 6;
    t.tm_hour = 13;
    t.tm_min = 40;
    t.tm_sec = 29;
    const std::string name = frame::format_results_name(
        "results_cube_windows_mac_mx @ local date %Y.%m.%d time %H.%M.%S.txt", t);
    EXPECT_EQ(name, "results_cube_windows_mac_mx @ local date 2023.03.06 time 13.40.29.txt");
    EXPECT_EQ(frame::numbered_name(name, 1), name);
    EXPECT_EQ(frame::numbered_name(name, 2),
              "results_cube_windows_mac_mx @ local date 2023.03.06 time 13.40.29 (2).txt");
    EXPECT_EQ(frame::numbered_name("plain", 12), "plain (12)");
}

// Opening the results file changes process-wide state, so each case runs in
// a child process of its own, in a fresh directory.
class ResultsFile : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/results-file-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
    std::string path(const std::string& name) const { return dir + "/" + name; }
    static void open_in(const std::string& where) {
        if (chdir(where.c_str()) != 0) std::exit(9);
        frame::open_results("r %Y.txt", 0);
    }
    std::string dir;
};

const char* const year0 = "r 1970.txt";
const char* const year0_2 = "r 1970 (2).txt";

TEST_F(ResultsFile, CreatedAndEveryLineOnDiskAtOnce) {
    setenv("TZ", "UTC", 1);
    EXPECT_EXIT(
        {
            open_in(dir);
            frame::line(frame::results, "first ", 1.5);
            // No close: the line must already be in the file.
            std::ifstream in(year0);
            std::string l;
            std::getline(in, l);
            std::_Exit(l == "first 1.5" && frame::results_saved() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(ResultsFile, EarlierFileAndPlantedLinkAreLeftAlone) {
    setenv("TZ", "UTC", 1);
    std::ofstream(path(year0)) << "earlier\n";
    ASSERT_EQ(symlink((dir + "/target").c_str(), path(year0_2).c_str()), 0);
    EXPECT_EXIT(
        {
            open_in(dir);
            frame::line(frame::results, "new");
            std::_Exit(std::string(frame::results_file_name) == "r 1970 (3).txt" ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    std::ifstream earlier(path(year0));
    std::string l;
    std::getline(earlier, l);
    EXPECT_EQ(l, "earlier");
    EXPECT_NE(access(path("target").c_str(), F_OK), 0);
    std::ifstream mine(path("r 1970 (3).txt"));
    std::getline(mine, l);
    EXPECT_EQ(l, "new");
}

TEST_F(ResultsFile, FailureToCreateIsWarnedAndNeverCountsAsSaved) {
    setenv("TZ", "UTC", 1);
    const std::string gone = path("gone");
    ASSERT_EQ(mkdir(gone.c_str(), 0755), 0);
    EXPECT_EXIT(
        {
            if (chdir(gone.c_str()) != 0 || rmdir(gone.c_str()) != 0) std::_Exit(9);
            frame::open_results("r %Y.txt", 0);
            frame::line(frame::results, "discarded");
            std::_Exit(frame::results_saved() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "cannot create the results file \"r 1970.txt\": No such");
}

TEST_F(ResultsFile, ATimeBeyondTheCalendarStillNamesAFile) {
    EXPECT_EXIT(
        {
            if (chdir(dir.c_str()) != 0) std::_Exit(9);
            frame::open_results("r %Y.txt", std::numeric_limits<std::time_t>::max());
            std::_Exit(std::string(frame::results_file_name) == "r 1900.txt" ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(ResultsFile, AWriteThatFailsLaterIsNotSaved) {
    setenv("TZ", "UTC", 1);
    EXPECT_EXIT(
        {
            open_in(dir);
            rlimit small;
            small.rlim_cur = small.rlim_max = 200;
            setrlimit(RLIMIT_FSIZE, &small);
            frame::line(frame::results, "fits");
            const bool before = frame::results_saved();
            for (int i = 0; i < 20; ++i) frame::line(frame::results, std::string(40, 'x'));
            std::_Exit(before && !frame::results_saved() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// The wait for Enter on a terminal: what was typed before the prompt does
// not count, and the key pressed after it ends the wait. The child's exit
// status is the character it read.
TEST(WaitForEnter, TerminalInputTypedEarlyIsDiscarded) {
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(write(master, "early\n", 6), 6);
    const std::string prompt(texts::prompt);
    const pid_t child = fork();
    if (child == 0) {
        dup2(slave, 0);
        dup2(slave, 1);
        std::_Exit(frame::wait_for_enter(prompt.c_str()) & 0xff);
    }
    // The prompt comes after the flush: once it is read, Enter is kept.
    std::string seen;
    while (seen.find(prompt) == std::string::npos) {
        pollfd p{master, POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 60000), 1) << "no prompt; read: " << seen;
        char buffer[256];
        const ssize_t n = read(master, buffer, sizeof buffer);
        ASSERT_GT(n, 0);
        seen.append(buffer, static_cast<std::size_t>(n));
    }
    ASSERT_EQ(write(master, "\n", 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), '\n') << "read '" << char(WEXITSTATUS(status)) << "'";
    close(master);
    close(slave);
}

// One byte ends the wait, as a key in a raw terminal sends it, with the input
// still open; so does the end of input.
TEST(WaitForEnter, OneCharacterOrTheEndOfInput) {
    for (const bool send_byte : {true, false}) {
        EXPECT_EXIT(
            {
                int fds[2];
                if (pipe(fds) != 0) std::_Exit(9);
                if (send_byte) {
                    if (write(fds[1], "x", 1) != 1) std::_Exit(9);
                } else {
                    close(fds[1]);
                }
                dup2(fds[0], 0);
                const int c = frame::wait_for_enter("prompt");
                std::_Exit(c == (send_byte ? 'x' : EOF) ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "")
            << (send_byte ? "one byte, input open" : "input closed");
    }
}

}  // namespace

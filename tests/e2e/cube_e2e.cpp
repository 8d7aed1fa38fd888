// The real cube binary, driven through its window and console.
#include <cmath>

#include "session.h"
#include "texts/texts.h"

namespace {

using e2e::frame_timeout;
using e2e::number_after;
using e2e::same_printed;
using e2e::startup_timeout;

const texts::program_texts& texts_of = *texts::find_program("cube");
const std::string title(texts_of.window_title);
const std::string prompt(texts::prompt);
const std::string banner =
    "Vantix :: Lumenfold Benchmark Graphics Cube for Windows on Mac Mx system 2023.03.06.";
const std::string frame_marker(texts_of.frame_marker);
const std::string prefix = "results_cube_windows_mac_mx @ local date ";
const std::string saved = "Results have been saved in a file and you can find it at: ";
const double points = 16777216;  // the 8-8-8 frame buffer of the test server

class Cube : public e2e::Session {
protected:
    // A rest may wait for a few redraws of seconds each (many more on a
    // loaded machine).
    static constexpr double rest_timeout = 4 * frame_timeout;
    int frames() const { return program->count(frame_marker); }
    // Waits until the program rests, then checks that at most `extra` frames
    // came after the call: the one being drawn and, when the run was
    // animating, the one its last idle step had already asked for.
    void expect_settled(const char* what, int extra) {
        const int before = frames();
        const int settled = settle(prefix, "window: ", rest_timeout);
        EXPECT_TRUE(program->wait_for_count(frame_marker, settled, frame_timeout)) << what;
        EXPECT_LE(settled, before + extra) << what << ": frames went on while paused";
    }
};

struct frame_figures {
    double seconds, angles, vertices;
};

// Checks one four-line frame block and returns its figures.
frame_figures check_block(const std::vector<std::string>& l, std::size_t at) {
    EXPECT_EQ(l.at(at), "window: 1");
    auto s = number_after(l.at(at + 1), "The system spent: ", " Secs. ");
    auto a = number_after(l.at(at + 2), "It was: ", " Angles/sec.");
    auto v = number_after(l.at(at + 3), "It was: ", " Vertex/sec.");
    EXPECT_TRUE(s && a && v) << l.at(at + 1) << " | " << l.at(at + 2) << " | " << l.at(at + 3);
    if (!s || !a || !v) return {};
    EXPECT_TRUE(same_printed(*a, 1.0 / *s)) << l.at(at + 2);
    EXPECT_TRUE(same_printed(*v, points / *s)) << l.at(at + 3);
    EXPECT_EQ(l.at(at + 4), "");
    return {*s, *a, *v};
}

// A whole run as a person makes it: keys, both mouse buttons and resizes,
// checked line by line in the console and in the results file.
TEST_F(Cube, ControlsMeasureAndReportEveryStep) {
    start(CUBE_EXE, title);
    EXPECT_EQ(window->size(), std::make_pair(1440, 1440));
    EXPECT_EQ(window->position(), std::make_pair(100, 100));
    ASSERT_GE(program->wait_for_line("Secs to Initialize.", startup_timeout), 0);

    // Drawn at step 0 however often: nothing is measured.
    window->resize(160, 160);
    window->key("q");
    window->key("P");
    window->click(2);
    window->click(3);
    window->click(4);
    // Resting (not animating), with no frame in the file or on the console.
    const char* early = "a frame was reported before the first step";
    EXPECT_EQ(settle(prefix, "window: ", rest_timeout), 0) << early;
    window->resize(150, 170);
    EXPECT_EQ(settle(prefix, "window: ", rest_timeout), 0) << early;
    EXPECT_EQ(frames(), 0) << early;

    window->key("c");
    ASSERT_TRUE(program->wait_for_count(frame_marker, 1, frame_timeout));
    window->key("C");
    ASSERT_TRUE(program->wait_for_count(frame_marker, 2, frame_timeout));
    expect_settled("after two presses of C", 0);
    EXPECT_EQ(frames(), 2) << "each C gives exactly one frame";

    window->click(1);  // left button animates
    ASSERT_TRUE(program->wait_for_count(frame_marker, 4, 2 * frame_timeout));
    window->click(3);  // right button pauses
    expect_settled("after the right button", 2);

    const int before_r = frames();
    window->key("r");
    ASSERT_TRUE(program->wait_for_count(frame_marker, before_r + 2, 2 * frame_timeout));
    window->key("p");
    expect_settled("after P", 2);

    // A redisplay caused by the window is measured once the run has started.
    const int before_resize = frames();
    window->resize(120, 140);
    EXPECT_TRUE(program->wait_for_count(frame_marker, before_resize + 1, frame_timeout));
    expect_settled("after a resize", 1);  // the resize and the exposure that follows it
    const int measured = frames();

    window->key("Escape");
    ASSERT_GE(program->wait_for_line(prompt, frame_timeout), 0);
    EXPECT_FALSE(program->wait_exit(1)) << "did not wait for Enter";
    program->type("\n");
    EXPECT_EQ(program->wait_exit(30), 0);

    // The console, line by line.
    const auto con = program->lines();
    ASSERT_GE(con.size(), 26u);
    const std::vector<std::string> head{
        "", banner, con[2], con[3], "", "", "", "",
        "Press Key R or Press Mouse Left button to Animate.",
        "Press Key C to Animate Manually.",
        "Press Key P or Press Mouse Right button for Pause.",
        "Press Key Esc for exit.", "", "", "Initializing . . .", ""};
    for (std::size_t i = 0; i < head.size(); ++i) EXPECT_EQ(con[i], head[i]) << "line " << i;
    EXPECT_EQ(con[3].rfind("For Support: ", 0), 0u);
    EXPECT_TRUE(number_after(con[16], "It spent: ", " Secs to Initialize."));
    EXPECT_EQ(con[17], "");
    EXPECT_EQ(con[18], "");

    // The results file: banner, initialisation, one block per frame, summary.
    const std::string file = results_file(prefix);
    const auto res = e2e::read_lines(file);
    ASSERT_EQ(res.size(), 6 + 5 * static_cast<std::size_t>(measured) + 4);
    EXPECT_EQ(res[0], banner);
    EXPECT_EQ(res[1], "");
    EXPECT_EQ(res[2], "");
    EXPECT_EQ(res[3], con[16]);
    EXPECT_EQ(res[4], "");
    EXPECT_EQ(res[5], "");
    double total = 0;
    for (int f = 0; f < measured; ++f) {
        const std::size_t at = 6 + 5 * static_cast<std::size_t>(f);
        total += check_block(res, at).seconds;
        for (std::size_t k = 0; k < 5; ++k) EXPECT_EQ(con[19 + 5 * f + k], res[at + k]);
    }
    const std::size_t sum_at = 6 + 5 * static_cast<std::size_t>(measured);
    auto t = number_after(res[sum_at], "Total machine time:  ", " Secs. ");
    auto fps = number_after(res[sum_at + 1], "Average: ", " Angles/Sec.");
    auto vps = number_after(res[sum_at + 2], "Average: ", " Vertex/Sec.");
    ASSERT_TRUE(t && fps && vps) << res[sum_at] << res[sum_at + 1] << res[sum_at + 2];
    EXPECT_TRUE(same_printed(*t, total));
    EXPECT_TRUE(same_printed(*fps, measured / total));
    EXPECT_TRUE(same_printed(*vps, points * measured / total));
    EXPECT_EQ(res[sum_at + 3], "");

    // The console's end: the same summary, then where the file lies.
    const std::size_t end = 19 + 5 * static_cast<std::size_t>(measured);
    ASSERT_EQ(con.size(), end + 7);
    for (std::size_t k = 0; k < 4; ++k) EXPECT_EQ(con[end + k], res[sum_at + k]);
    EXPECT_EQ(con[end + 4], saved + file);
    EXPECT_EQ(con[end + 5], "");
    EXPECT_EQ(con[end + 6], prompt);
    EXPECT_EQ(program->error_text().find("Warning"), std::string::npos);
}

}  // namespace

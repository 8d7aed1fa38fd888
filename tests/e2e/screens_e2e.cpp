// The real screens binary: the plain-output pass on its console and the page
// drawn and measured in every frame.
#include <cctype>
#include <chrono>
#include <thread>

#include "session.h"
#include "texts/texts.h"

namespace {

using e2e::number_after;
using e2e::same_printed;

const texts::program_texts& texts_of = *texts::find_program("screens");
const std::string title(texts_of.window_title);
const std::string prompt(texts::prompt);
const std::string banner =
    "Vantix :: Lumenfold Benchmark Graphics Screens for Windows on Mac Mx system 2023.03.06.";
const std::string prefix = "results_screens_windows_mac_mx @ local date ";
const std::string frame_marker(texts_of.frame_marker);  // console blocks have no window line

class Screens : public e2e::Session {
protected:
    int frames() const { return program->count(frame_marker); }
    int settle() { return Session::settle(prefix, frame_marker); }
};

TEST_F(Screens, PlainPassThenEveryFrameMeasuredFromTheFirstShowing) {
    start(SCREENS_EXE, title);
    ASSERT_GE(program->wait_for_line("Secs to Initialize.", e2e::startup_timeout), 0);
    // Frames drawn before any key are measured.
    ASSERT_TRUE(program->wait_for_count(frame_marker, 1, e2e::frame_timeout));
    const int shown = settle();
    window->key("c");
    ASSERT_TRUE(program->wait_for_count(frame_marker, shown + 1, e2e::frame_timeout));
    EXPECT_EQ(settle(), shown + 1) << "C gives one frame";
    const int measured = frames();
    window->key("Escape");
    ASSERT_GE(program->wait_for_line(prompt, e2e::frame_timeout), 0);
    program->type("\n");
    EXPECT_EQ(program->wait_exit(30), 0);

    // Console: 2,097,152 digits on one line, one item over and over.
    const auto con = program->lines();
    const std::vector<std::string> head{"", banner, con.at(2), con.at(3), "", "", "", "",
                                        "Plain Output"};
    for (std::size_t i = 0; i < head.size(); ++i) EXPECT_EQ(con.at(i), head[i]) << i;
    const std::string& digits = con.at(9);
    ASSERT_EQ(digits.size(), 2097152u);
    const std::string item = digits.substr(0, 16);
    for (char c : item) EXPECT_TRUE(std::isdigit(c) || (c >= 'A' && c <= 'F')) << item;
    for (std::size_t i = 0; i < digits.size(); i += 16)
        ASSERT_EQ(digits.compare(i, 16, item), 0) << "item at " << i;
    EXPECT_EQ(con.at(10), "");
    auto plain = number_after(con.at(11), "The system spent: ", " Secs. ");
    auto rate = number_after(con.at(12), "Conventionally, it was: ", " Characters/sec.");
    ASSERT_TRUE(plain && rate) << con.at(11) << " | " << con.at(12);
    EXPECT_TRUE(same_printed(*rate, 2097152 / *plain));
    const std::vector<std::string> after{"", "", "Graphical Output", "",
                                         "Press Key R or Press Mouse Left button to Animate."};
    for (std::size_t i = 0; i < after.size(); ++i) EXPECT_EQ(con.at(13 + i), after[i]);

    // Results file: no digits, the blocks in their order, three lines a frame.
    const auto res = e2e::read_lines(results_file(prefix));
    const std::vector<std::string> file_head{
        banner, "", "", "Plain Output", "", con.at(11), con.at(12), "", "", "Graphical Output",
        ""};
    ASSERT_GE(res.size(), file_head.size() + 3);
    for (std::size_t i = 0; i < file_head.size(); ++i) EXPECT_EQ(res[i], file_head[i]) << i;
    EXPECT_TRUE(number_after(res[11], "It spent: ", " Secs to Initialize."));
    EXPECT_EQ(res[12], "");
    EXPECT_EQ(res[13], "");
    ASSERT_EQ(res.size(), 14 + 4 * static_cast<std::size_t>(measured) + 3);
    double total = 0;
    for (int f = 0; f < measured; ++f) {
        const std::size_t at = 14 + 4 * static_cast<std::size_t>(f);
        EXPECT_EQ(res[at], "window: 1");
        auto s = number_after(res[at + 1], "The system spent: ", " Secs. ");
        auto c = number_after(res[at + 2], "It was: ", " Charaters/sec.");
        ASSERT_TRUE(s && c) << res[at + 1] << " | " << res[at + 2];
        EXPECT_TRUE(same_printed(*c, 6450 / *s));
        EXPECT_EQ(res[at + 3], "");
        total += *s;
    }
    const std::size_t sum_at = res.size() - 3;
    auto t = number_after(res[sum_at], "Total machine time:  ", " Secs. ");
    auto avg = number_after(res[sum_at + 1], "Average: ", " Characters/Sec.");
    ASSERT_TRUE(t && avg) << res[sum_at] << " | " << res[sum_at + 1];
    EXPECT_TRUE(same_printed(*t, total));
    EXPECT_TRUE(same_printed(*avg, 6450.0 * measured / total));
    EXPECT_EQ(res[sum_at + 2], "");
    for (auto& l : res) EXPECT_EQ(l.find(item), std::string::npos) << "digits in the file";

    // The console's frame blocks carry the same figures, without window lines.
    EXPECT_EQ(program->count("window: "), 0);
    const std::string path_line = con.at(con.size() - 3);
    EXPECT_EQ(path_line, "Results have been saved in a file and you can find it at: " +
                             results_file(prefix));
}

}  // namespace

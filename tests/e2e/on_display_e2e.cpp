// suite-run --on-display on a desktop of its own: a private Xvfb with a real
// window manager (and compositor), and a window of the user's that logs
// every key it gets and keeps taking the focus.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "driver/desktop.h"
#include "runner_tools.h"
#include "session.h"

// Last: Xlib's macros (None, Bool) clash with the test library's names.
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

namespace {

constexpr double desktop_timeout = 60, run_timeout = 300;

// Whether the server's screen saver is on (blanking) now.
bool saver_on(const std::string& display) {
    Display* d = XOpenDisplay(display.c_str());
    if (!d) return false;
    XScreenSaverInfo* info = XScreenSaverAllocInfo();
    const bool on =
        XScreenSaverQueryInfo(d, DefaultRootWindow(d), info) && info->state == ScreenSaverOn;
    XFree(info);
    XCloseDisplay(d);
    return on;
}

class OnDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<driver::XServer>(800, 600);
        char name[] = "/tmp/bench-ondisplay-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        directory = name;
    }
    void TearDown() override {
        for (auto it = started.rbegin(); it != started.rend(); ++it) it->reset();
        if (!HasFailure()) std::filesystem::remove_all(directory);
        else std::cerr << "kept for inspection: " << directory << '\n';
    }

    driver::Program& start(std::vector<std::string> argv) {
        driver::launch how;
        how.executable = argv.front();
        how.args.assign(argv.begin() + 1, argv.end());
        how.directory = directory;
        how.display = server->display();
        how.stdin_at_end = true;
        started.push_back(std::make_unique<driver::Program>(how));
        return *started.back();
    }
    // Runs a command to its end; its console.
    std::string output_of(std::vector<std::string> argv) {
        auto& p = start(std::move(argv));
        EXPECT_EQ(p.wait_exit(desktop_timeout), 0) << p.error_text();
        return p.console_text();
    }
    // A window manager, a compositor when named, each waited for until the
    // display says it runs; then the user's window, taking the focus.
    void start_desktop(std::vector<std::string> manager, std::vector<std::string> compositor) {
        start(std::move(manager));
        wait_for_desktop([](const driver::desktop_facts& f) { return f.window_manager.has_value(); });
        if (!compositor.empty()) {
            start(std::move(compositor));
            wait_for_desktop([](const driver::desktop_facts& f) { return f.compositor; });
        }
        logger = &start({KEY_LOGGER_EXE, "user's window", "800", "600", "steal"});
        ASSERT_GE(logger->wait_for_line("focused", desktop_timeout), 0) << logger->error_text();
    }
    template <class Ready> void wait_for_desktop(Ready ready) {
        const double end = driver::now() + desktop_timeout;
        for (auto f = driver::describe_desktop(server->display()); !f || !ready(*f);
             f = driver::describe_desktop(server->display())) {
            ASSERT_LT(driver::now(), end) << "the desktop did not come up";
            usleep(100000);
        }
    }
    // Without a size, the program's own: larger than this screen.
    driver::Program& runner(const std::string& frames, const std::string& size = "100x100") {
        std::vector<std::string> args{SUITE_RUN_EXE, "--on-display", server->display(),
                                      "--frames", frames, "--out", directory + "/run", "screens"};
        if (!size.empty()) args.insert(args.end() - 1, {"--size", size});
        return start(args);
    }
    // The run went through, with its frames, and the user's window got no key.
    nlohmann::json completed(driver::Program& run) {
        EXPECT_EQ(run.wait_exit(run_timeout), 0) << run.console_text() << run.error_text();
        EXPECT_TRUE(std::filesystem::exists(directory + "/run/screens/frames.csv"))
            << run.console_text();
        EXPECT_EQ(logger->count("key"), 0) << logger->console_text();
        return e2e::read_json(directory + "/run/run.json");
    }

    std::unique_ptr<driver::XServer> server;
    std::string directory;
    std::vector<std::unique_ptr<driver::Program>> started;
    driver::Program* logger = nullptr;
};

// Under a reparenting window manager and a compositor, with the user's
// window taking the focus throughout: the keys reach the program alone, the
// desktop is recorded, and the settings are as they were.
TEST_F(OnDisplay, OpenboxUnderCompositorKeysReachOnlyTheProgram) {
    start_desktop({"/usr/bin/openbox"}, {"/usr/bin/picom", "--backend", "xrender"});
    output_of({"/usr/bin/xset", "s", "300", "60"});
    const std::string before = output_of({"/usr/bin/xset", "q"});
    const auto record = completed(runner("3"));
    const auto& display = record["display"];
    EXPECT_EQ(display.value("kind", ""), "existing");
    EXPECT_EQ(display.value("window_manager", ""), "Openbox");
    EXPECT_TRUE(display.value("compositor", false));
    EXPECT_FALSE(display.value("xwayland", true));
    EXPECT_EQ(display.value("screen_size", ""), "800x600");
    // Xvfb has no display power saving to turn off.
    EXPECT_EQ(display.value("screen_saver", ""),
              "suspended; the server has no display power saving");
    EXPECT_EQ(record["programs"][0].value("window_size", ""), "100x100");
    EXPECT_EQ(output_of({"/usr/bin/xset", "q"}), before);
}

// The screen saver, due after 2 idle seconds, stays off while the run lasts
// and comes on once a stop mid-run ended it; the settings are as they were.
TEST_F(OnDisplay, StopMidRunLetsTheScreenSaverBack) {
    start_desktop({"/usr/bin/openbox"}, {});
    output_of({"/usr/bin/xset", "s", "2", "0"});
    const std::string before = output_of({"/usr/bin/xset", "q"});
    auto& run = runner("1000000", "");
    ASSERT_TRUE(run.wait_for_count("  screens: frame ", 1, run_timeout)) << run.console_text();
    for (const double end = driver::now() + 4; driver::now() < end; usleep(100000))
        ASSERT_FALSE(saver_on(server->display()));
    run.kill_now(SIGTERM);
    EXPECT_EQ(run.wait_exit(run_timeout), 128 + SIGTERM) << run.console_text();
    const double end = driver::now() + desktop_timeout;
    while (!saver_on(server->display()) && driver::now() < end) usleep(100000);
    EXPECT_TRUE(saver_on(server->display()));
    EXPECT_EQ(output_of({"/usr/bin/xset", "q"}), before);
    EXPECT_EQ(logger->count("key"), 0) << logger->console_text();
    // screens' own 1440x1440 was asked as the 800x600 screen holds it.
    const auto record = e2e::read_json(directory + "/run/run.json");
    EXPECT_EQ(record["programs"][0].value("window_size", ""), "800x600");
}

}  // namespace

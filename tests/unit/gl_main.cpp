// Runs the GL tests inside a real window and context: the frame's own
// start-up opens it on $DISPLAY or on a private X server.
#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "control.h"
#include "driver/driver.h"
#include "startup.h"

namespace {
void no_summary(std::ostream&) {}
const frame::benchmark gl_test_program{
    "banner", "gl-test-%Y.txt", "GL tests", "\n", frame::look_at_step, no_summary, 0, 1, true,
    nullptr};
}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
    std::unique_ptr<driver::XServer> server;
    setenv("DISPLAY", driver::display_or_private(server).c_str(), 1);
    frame::program = &gl_test_program;
    glutInit(&argc, argv);
    frame::create_window();
    frame::set_render_state(gl_test_program);
    const int failed = RUN_ALL_TESTS();
    // Closed before the private server goes, which would otherwise end the
    // process through freeglut's lost-connection handler.
    glutDestroyWindow(frame::window_id);
    glutExit();
    return failed;
}

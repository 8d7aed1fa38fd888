// screens: characters to the console once, then a page of them per frame.
#include "screen_text.h"
#include "screens_frame.h"
#include "startup.h"

namespace {
const frame::benchmark screens_benchmark{
    "Vantix :: Lumenfold Benchmark Graphics Screens for Windows on Mac Mx system 2023.03.06.",
    "results_screens_windows_mac_mx @ local date %Y.%m.%d time %H.%M.%S.txt",
    "OPENGL Screens",
    "\nPress Key R or Press Mouse Left button to Animate.\nPress Key C to Animate Manually.\n"
    "Press Key P or Press Mouse Right button to Pause.\nPress Key Esc to exit.\n",
    nullptr,
    screens::write_summary,
    0,
    1,
};
}  // namespace

int main(int argc, char** argv) {
    frame::open_report(screens_benchmark);
    // The plain-output pass reads freeglut's clock, so freeglut comes first.
    frame::init_glut(&argc, argv);
    screens::plain_output_pass();
    screens::write_graphical_heading();
    frame::announce_start();
    frame::create_window();
    frame::set_render_state(true, nullptr);
    screens::build_screen_text();
    frame::finish_startup(screens::display_callback);
}

// cube: every colour of the frame buffer as a point, turned and lit.
#include "control.h"
#include "cube_frame.h"
#include "point_cloud.h"
#include "startup.h"

namespace {
const frame::benchmark cube_benchmark{
    "Vantix :: Lumenfold Benchmark Graphics Cube for Windows on Mac Mx system 2023.03.06.",
    "results_cube_windows_mac_mx @ local date %Y.%m.%d time %H.%M.%S.txt",
    "OPENGL Cube",
    "\nPress Key R or Press Mouse Left button to Animate.\nPress Key C to Animate Manually.\n"
    "Press Key P or Press Mouse Right button to Pause.\nPress Key Esc to exit.\n",
    frame::look_at_step,
    cube::write_summary,
    0,
    1,
};
}  // namespace

int main(int argc, char** argv) {
    frame::open_report(cube_benchmark);
    frame::announce_start();
    frame::init_glut(&argc, argv);
    frame::create_window();
    frame::set_render_state(true, nullptr);
    cube::build_point_cloud();
    frame::finish_startup(cube::display_callback);
}

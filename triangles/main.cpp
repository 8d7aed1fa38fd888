// triangles: a growing draw of indexed triangles until the array runs out.
#include "control.h"
#include "mesh.h"
#include "startup.h"
#include "triangles_frame.h"

namespace {
const frame::benchmark triangles_benchmark{
    "Vantix :: Lumenfold Benchmark Graphics Triangles for Windows on Mac Mx system 2023.03.06.",
    "results_triangles_windows_mac_mx @ local date %Y.%m.%d time %H.%M.%S.txt",
    "OPENGL Triangles",
    "\nPress Key R or Press Mouse Left button to Animate.\nPress Key C to Animate Manually.\n"
    "Press Key P or Press Mouse Right button to Pause.\nPress Key Esc to Exit.\n",
    frame::look_at_step,
    triangles::write_summary,
    1,
    2,
};
}  // namespace

int main(int argc, char** argv) {
    frame::open_report(triangles_benchmark);
    frame::announce_start();
    frame::init_glut(&argc, argv);
    frame::create_window();
    triangles::build_triangle_mesh();
    frame::finish_startup(triangles::display_callback);
}

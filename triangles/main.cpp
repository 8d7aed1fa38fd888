// triangles: a growing draw of indexed triangles until the array runs out.
#include "mesh.h"
#include "startup.h"
#include "triangles_frame.h"

int main(int argc, char** argv) {
    frame::open_report(triangles::benchmark);
    frame::announce_start();
    frame::init_glut(&argc, argv);
    frame::create_window();
    frame::set_render_state(triangles::benchmark);
    triangles::build_triangle_mesh();
    frame::finish_startup(triangles::display_callback);
}

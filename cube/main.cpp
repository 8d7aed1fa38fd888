// cube: every colour of the frame buffer as a point, turned and lit.
#include "cube_frame.h"
#include "point_cloud.h"
#include "startup.h"

int main(int argc, char** argv) {
    frame::open_report(cube::benchmark);
    frame::announce_start();
    frame::init_glut(&argc, argv);
    frame::create_window();
    frame::set_render_state(cube::benchmark);
    cube::build_point_cloud();
    frame::finish_startup(cube::display_callback);
}

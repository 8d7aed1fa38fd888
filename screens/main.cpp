// screens: characters to the console once, then a page of them per frame.
#include "screen_text.h"
#include "screens_frame.h"
#include "startup.h"

int main(int argc, char** argv) {
    frame::open_report(screens::benchmark);
    // The plain-output pass reads freeglut's clock, so freeglut comes first.
    frame::init_glut(&argc, argv);
    screens::plain_output_pass();
    screens::write_graphical_heading();
    frame::announce_start();
    frame::create_window();
    frame::set_render_state(screens::benchmark);
    screens::build_screen_text();
    frame::finish_startup(screens::display_callback);
}

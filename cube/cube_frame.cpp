#include "cube_frame.h"

#include <GL/freeglut.h>

#include "control.h"
#include "lighting.h"
#include "overlay.h"
#include "point_cloud.h"
#include "report.h"
#include "scene.h"
#include "startup.h"

namespace cube {

const frame::benchmark benchmark{
    "Vantix :: Lumenfold Benchmark Graphics Cube for Windows on Mac Mx system 2023.03.06.",
    "results_cube_windows_mac_mx @ local date %Y.%m.%d time %H.%M.%S.txt",
    "OPENGL Cube",
    "\nPress Key R or Press Mouse Left button to Animate.\nPress Key C to Animate Manually.\n"
    "Press Key P or Press Mouse Right button to Pause.\nPress Key Esc to exit.\n",
    frame::look_at_step,
    write_summary,
    0,
    1,
    true,
    nullptr,
};

double frame_seconds, angles_per_second, vertices_per_second;
double total_seconds, frames_measured, vertices_measured;

namespace {
double window_point_count() {
    return point_count(frame::red_bits, frame::green_bits, frame::blue_bits);
}
}  // namespace

void write_frame_report(std::ostream& s, int window) {
    using frame::line;
    line(s, "window: ", window);
    line(s, "The system spent: ", frame_seconds, " Secs. ");
    line(s, "It was: ", angles_per_second, " Angles/sec.");
    line(s, "It was: ", vertices_per_second, " Vertex/sec.");
}

void write_summary(std::ostream& s) {
    using frame::line;
    line(s, "Total machine time:  ", total_seconds, " Secs. ");
    line(s, "Average: ", frames_measured / total_seconds, " Angles/Sec.");
    line(s, "Average: ", vertices_measured / total_seconds, " Vertex/Sec.");
}

void display_callback() {
    const double frame_start_ms = frame::elapsed_ms();
    frame::clear_frame();
    glPushMatrix();
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    frame::turn_scene();
    frame::apply_frame_lighting(true);
    glPushMatrix();
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    glCallList(cube_list);
    frame::draw_overlay_text(frame::overlay_text, 0, 100);
    glPopClientAttrib();
    glPopMatrix();
    glPopClientAttrib();
    glPopMatrix();
    glutSwapBuffers();
    frame_seconds = (frame::elapsed_ms() - frame_start_ms) / 1000.0;
    if (frame::frame_tick == 0) return;

    angles_per_second = 1.0 / frame_seconds;
    vertices_per_second = window_point_count() / frame_seconds;
    write_frame_report(frame::console, glutGetWindow());
    write_frame_report(frame::results, glutGetWindow());
    frame::blank(frame::console);
    frame::blank(frame::results);
    total_seconds += frame_seconds;
    frames_measured += 1;
    vertices_measured = window_point_count() * frames_measured;
}

}  // namespace cube

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

constexpr const texts::program_texts& texts_of = *texts::find_program("cube");

const frame::benchmark benchmark{
    texts_of.banner.data(),
    texts_of.results_name.data(),
    texts_of.window_title.data(),
    texts_of.overlay.data(),
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
    using frame::figure_line;
    figure_line(s, texts::window_line, window);
    figure_line(s, texts::system_spent, frame_seconds);
    figure_line(s, texts::angles_rate, angles_per_second);
    figure_line(s, texts::vertex_rate, vertices_per_second);
}

void write_summary(std::ostream& s) {
    using frame::figure_line;
    figure_line(s, texts::machine_total, total_seconds);
    figure_line(s, texts::average_angles, frames_measured / total_seconds);
    figure_line(s, texts::average_vertices, vertices_measured / total_seconds);
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

#include "triangles_frame.h"

#include <GL/freeglut.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "control.h"
#include "finish.h"
#include "lighting.h"
#include "mesh.h"
#include "overlay.h"
#include "report.h"
#include "scene.h"
#include "startup.h"

namespace triangles {

constexpr const texts::program_texts& texts_of = *texts::find_program("triangles");

const frame::benchmark benchmark{
    texts_of.banner.data(),
    texts_of.results_name.data(),
    texts_of.window_title.data(),
    texts_of.overlay.data(),
    frame::look_at_step,
    write_summary,
    1,
    2,
    false,
    bind_mesh_arrays,
};

double frame_seconds, angles_per_second, triangles_per_second;
std::int64_t index_count, triangles_drawn, frames_measured, total_triangles;
double total_seconds;

std::int64_t indices_to_draw(std::int64_t count) {
    return std::clamp<std::int64_t>(count, 0, mesh_bytes);
}

void write_frame_report(std::ostream& s, int window) {
    using frame::figure_line;
    figure_line(s, texts::window_line, window);
    figure_line(s, texts::triangles_drawn, triangles_drawn);
    figure_line(s, texts::it_spent, frame_seconds);
    figure_line(s, texts::angles_rate, angles_per_second);
    figure_line(s, texts::triangle_rate, triangles_per_second);
}

void write_summary(std::ostream& s) {
    using frame::figure_line;
    figure_line(s, texts::running_total, total_seconds);
    figure_line(s, texts::average_angles, static_cast<double>(frames_measured) / total_seconds);
    figure_line(s, texts::average_triangles, static_cast<double>(total_triangles) / total_seconds);
}

namespace {
// The limit's summary; the console's first line ends " Secs.", the file's
// " Secs. ".
void write_limit_summary(std::ostream& s, std::string_view total_line) {
    using frame::figure_line;
    figure_line(s, total_line, total_seconds);
    figure_line(s, texts::limit_average_angles,
                static_cast<double>(frames_measured) / total_seconds);
    figure_line(s, texts::limit_average_triangles,
                static_cast<double>(total_triangles) / total_seconds);
}
}  // namespace

void limit_report() {
    using frame::console;
    using frame::results;
    frame::line(console, texts::limit_reached);
    frame::blank(console);
    frame::blank(console);
    write_limit_summary(console, texts::limit_console_total);
    frame::blank(console);
    frame::blank(results);
    write_limit_summary(results, texts::running_total);
    frame::blank(results);
    frame::close_run();
}

void display_callback() {
    const double frame_start_ms = frame::elapsed_ms();
    frame::clear_frame();
    glPushMatrix();
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    frame::turn_scene();
    frame::apply_frame_lighting(false);
    index_count = index_count_for(frame::frame_tick, frames_measured);
    glCallList(mesh_list);
    glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(indices_to_draw(index_count)),
                   GL_UNSIGNED_BYTE, mesh_values);
    frame::draw_overlay_text(frame::overlay_text, 10, 100);
    glPopClientAttrib();
    glPopMatrix();
    glutSwapBuffers();
    triangles_drawn = index_count / 6;
    frame_seconds = (frame::elapsed_ms() - frame_start_ms) / 1000.0;
    if (frame::frame_tick == 0) return;

    angles_per_second = 1.0 / frame_seconds;
    triangles_per_second = static_cast<double>(triangles_drawn) / frame_seconds;
    write_frame_report(frame::console, glutGetWindow());
    write_frame_report(frame::results, glutGetWindow());
    frame::blank(frame::console);
    frame::blank(frame::results);
    frames_measured += 1;
    total_triangles += triangles_drawn;
    total_seconds += frame_seconds;
    if (index_count > mesh_value_count) limit_report();
}

}  // namespace triangles

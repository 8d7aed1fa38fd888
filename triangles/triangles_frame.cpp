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

const frame::benchmark benchmark{
    "Vantix :: Lumenfold Benchmark Graphics Triangles for Windows on Mac Mx system 2023.03.06.",
    "results_triangles_windows_mac_mx @ local date %Y.%m.%d time %H.%M.%S.txt",
    "OPENGL Triangles",
    "\nPress Key R or Press Mouse Left button to Animate.\nPress Key C to Animate Manually.\n"
    "Press Key P or Press Mouse Right button to Pause.\nPress Key Esc to Exit.\n",
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
    frame::line(s, "window: ", window);
    frame::line(s, "It drew ", triangles_drawn, " Triangles.");
    frame::line(s, "It spent: ", frame_seconds, " Secs. ");
    frame::line(s, "It was: ", angles_per_second, " Angles/sec.");
    frame::line(s, "It was: ", triangles_per_second, " Triangles/sec.");
}

void write_summary(std::ostream& s) {
    frame::line(s, "Total running time:  ", total_seconds, " Secs. ");
    frame::line(s, "Average: ", static_cast<double>(frames_measured) / total_seconds,
                " Angles/Sec.");
    frame::line(s, "Average: ", static_cast<double>(total_triangles) / total_seconds,
                " Triangles/Sec.");
}

namespace {
// The limit's summary; the console's first line ends " Secs.", the file's
// " Secs. ".
void write_limit_summary(std::ostream& s, const char* seconds_unit) {
    frame::line(s, "Total running time:  ", total_seconds, seconds_unit);
    frame::line(s, "Average Angles/Sec: ", static_cast<double>(frames_measured) / total_seconds,
                " Angles/Sec.");
    frame::line(s, "Average Triangles/Sec: ",
                static_cast<double>(total_triangles) / total_seconds, " Triangles/Sec.");
}
}  // namespace

void limit_report() {
    using frame::console;
    using frame::results;
    frame::line(console, "It reaches limits, the program terminates.");
    frame::blank(console);
    frame::blank(console);
    write_limit_summary(console, " Secs.");
    frame::blank(console);
    frame::blank(results);
    write_limit_summary(results, " Secs. ");
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

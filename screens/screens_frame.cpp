#include "screens_frame.h"

#include <GL/freeglut.h>

#include "lighting.h"
#include "overlay.h"
#include "report.h"
#include "scene.h"
#include "screen_text.h"
#include "startup.h"

namespace screens {

constexpr const texts::program_texts& texts_of = *texts::find_program("screens");

const frame::benchmark benchmark{
    texts_of.banner.data(),
    texts_of.results_name.data(),
    texts_of.window_title.data(),
    texts_of.overlay.data(),
    nullptr,
    write_summary,
    0,
    1,
    true,
    nullptr,
};

double frame_seconds, characters_per_frame, characters_per_second;
double total_seconds, characters_measured;

void write_frame_report(std::ostream& s) {
    frame::figure_line(s, texts::system_spent, frame_seconds);
    frame::figure_line(s, texts::character_rate, characters_per_second);
}

void write_summary(std::ostream& s) {
    frame::figure_line(s, texts::machine_total, total_seconds);
    frame::figure_line(s, texts::average_characters, characters_measured / total_seconds);
}

// Every call is measured, the first showing of the window included.
void display_callback() {
    const double frame_start_ms = frame::elapsed_ms();
    frame::clear_frame();
    glPushMatrix();
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    frame::apply_frame_lighting(false);
    frame::draw_overlay_text(screen_text, 0.0, 990.0);
    frame::draw_overlay_text(frame::overlay_text, 0.0, 80.0);
    glPopClientAttrib();
    glPopMatrix();
    glutSwapBuffers();
    const double end = frame::elapsed_ms();
    characters_per_frame = characters_per_page;
    frame_seconds = (end - frame_start_ms) / 1000.0;
    characters_per_second = characters_per_page / frame_seconds;

    write_frame_report(frame::console);
    frame::figure_line(frame::results, texts::window_line, glutGetWindow());
    write_frame_report(frame::results);
    frame::blank(frame::console);
    frame::blank(frame::results);
    total_seconds += frame_seconds;
    characters_measured += characters_per_frame;
}

}  // namespace screens

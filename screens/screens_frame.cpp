#include "screens_frame.h"

#include <GL/freeglut.h>

#include "lighting.h"
#include "overlay.h"
#include "report.h"
#include "scene.h"
#include "screen_text.h"
#include "startup.h"

namespace screens {

const frame::benchmark benchmark{
    "Vantix :: Lumenfold Benchmark Graphics Screens for Windows on Mac Mx system 2023.03.06.",
    "results_screens_windows_mac_mx @ local date %Y.%m.%d time %H.%M.%S.txt",
    "OPENGL Screens",
    "\nPress Key R or Press Mouse Left button to Animate.\nPress Key C to Animate Manually.\n"
    "Press Key P or Press Mouse Right button to Pause.\nPress Key Esc to exit.\n",
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
    frame::line(s, "The system spent: ", frame_seconds, " Secs. ");
    // The misspelling is the program's own and what readers of its output match.
    frame::line(s, "It was: ", characters_per_second, " Charaters/sec.");
}

void write_summary(std::ostream& s) {
    frame::line(s, "Total machine time:  ", total_seconds, " Secs. ");
    frame::line(s, "Average: ", characters_measured / total_seconds, " Characters/Sec.");
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
    frame::line(frame::results, "window: ", glutGetWindow());
    write_frame_report(frame::results);
    frame::blank(frame::console);
    frame::blank(frame::results);
    total_seconds += frame_seconds;
    characters_measured += characters_per_frame;
}

}  // namespace screens

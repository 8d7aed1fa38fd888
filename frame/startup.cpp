#include "startup.h"

#include <GL/freeglut.h>

#include <cstdio>
#include <cstdlib>

#include "control.h"
#include "gl_state.h"
#include "report.h"

namespace frame {

const benchmark* program;
int window_id;
char overlay_text[1000];
int red_bits, green_bits, blue_bits, alpha_bits;

namespace {
double init_start_ms;
}

double elapsed_ms() { return static_cast<double>(glutGet(GLUT_ELAPSED_TIME)); }

void open_report(const benchmark& b) {
    program = &b;
    open_results(b.results_name_format, std::time(nullptr));

    blank(console);
    line(console, b.banner);
    line(console, texts::copyright);
    line(console, texts::support);
    for (int i = 0; i < 4; ++i) blank(console);

    line(results, b.banner);
    blank(results);
    blank(results);
}

void announce_start() {
    for (const std::string_view hint : texts::console_hints) line(console, hint);
    blank(console);
    blank(console);
    line(console, texts::initializing);
    blank(console);
    std::snprintf(overlay_text, sizeof overlay_text, "%s", program->overlay);
}

void init_glut(int* argc, char** argv) { glutInit(argc, argv); }

void create_window() {
    init_start_ms = elapsed_ms();
    window_id = open_gl_window(program->window_title);
    glGetIntegerv(GL_RED_BITS, &red_bits);
    glGetIntegerv(GL_GREEN_BITS, &green_bits);
    glGetIntegerv(GL_BLUE_BITS, &blue_bits);
    glGetIntegerv(GL_ALPHA_BITS, &alpha_bits);
}

void set_render_state(const benchmark& b) { set_fixed_state(b.front_face_cw, b.bind_arrays); }

void finish_startup(void (*display)()) {
    const double init_seconds = (elapsed_ms() - init_start_ms) / 1000.0;
    for (std::ostream* s : {&console, &results}) {
        figure_line(*s, texts::init_time, init_seconds);
        blank(*s);
        blank(*s);
    }
    glutDisplayFunc(display);
    glutReshapeFunc(reshape_callback);
    glutMouseFunc(mouse_callback);
    glutKeyboardFunc(keyboard_callback);
    // Closing the window ends the run without a report, as with freeglut's
    // own exit, but a results file that was lost is still told by the status.
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_GLUTMAINLOOP_RETURNS);
    glutMainLoop();
    std::exit(results_saved() ? EXIT_SUCCESS : EXIT_FAILURE);
}

}  // namespace frame

#include "startup.h"

#include <GL/freeglut.h>

#include <cstdio>
#include <cstdlib>

#include "control.h"
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
    line(console, "Copyright (C) 2023 Vantix :: Lumenfold. All rights reserved.");
    line(console, "For Support: support@vantix.example");
    for (int i = 0; i < 4; ++i) blank(console);

    line(results, b.banner);
    blank(results);
    blank(results);
}

void announce_start() {
    line(console, "Press Key R or Press Mouse Left button to Animate.");
    line(console, "Press Key C to Animate Manually.");
    line(console, "Press Key P or Press Mouse Right button for Pause.");
    line(console, "Press Key Esc for exit.");
    blank(console);
    blank(console);
    line(console, "Initializing . . .");
    blank(console);
    std::snprintf(overlay_text, sizeof overlay_text, "%s", program->overlay);
}

void init_glut(int* argc, char** argv) { glutInit(argc, argv); }

void create_window() {
    init_start_ms = elapsed_ms();
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_ACCUM | GLUT_ALPHA | GLUT_DEPTH |
                        GLUT_STENCIL | GLUT_MULTISAMPLE);
    glutInitWindowSize(1440, 1440);
    glutInitWindowPosition(100, 100);
    window_id = glutCreateWindow(program->window_title);
    glGetIntegerv(GL_RED_BITS, &red_bits);
    glGetIntegerv(GL_GREEN_BITS, &green_bits);
    glGetIntegerv(GL_BLUE_BITS, &blue_bits);
    glGetIntegerv(GL_ALPHA_BITS, &alpha_bits);
}

void set_render_state(const benchmark& b) {
    glShadeModel(GL_SMOOTH);
    glEnable(GL_POINT_SMOOTH);
    glEnable(GL_FOG);
    glEnable(GL_LIGHT0);
    glEnable(GL_LIGHTING);
    glHint(GL_POINT_SMOOTH_HINT, GL_NICEST);
    glHint(GL_FOG_HINT, GL_NICEST);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glEnable(GL_BLEND);
    glEnable(GL_ALPHA_TEST);
    glEnable(GL_AUTO_NORMAL);
    glEnable(GL_COLOR_MATERIAL);
    glEnable(GL_DITHER);
    glEnable(GL_SCISSOR_TEST);
    glEnable(GL_STENCIL_TEST);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_NORMALIZE);
    glEnable(GL_LINE_STIPPLE);
    glPolygonMode(GL_FRONT, GL_FILL);
    glPolygonMode(GL_BACK, GL_LINE);
    if (b.front_face_cw) glFrontFace(GL_CW);
    glEnable(GL_CULL_FACE);
    glEnable(GL_POLYGON_STIPPLE);
    glEnableClientState(GL_COLOR_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glEnableClientState(GL_VERTEX_ARRAY);
    if (b.bind_arrays) b.bind_arrays();
    glDrawBuffer(GL_FRONT_AND_BACK);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

void finish_startup(void (*display)()) {
    const double init_seconds = (elapsed_ms() - init_start_ms) / 1000.0;
    for (std::ostream* s : {&console, &results}) {
        line(*s, "It spent: ", init_seconds, " Secs to Initialize.");
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

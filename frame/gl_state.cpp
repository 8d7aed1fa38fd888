#include "gl_state.h"

#include <GL/freeglut.h>

namespace frame {

int open_gl_window(const char* title) {
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_ACCUM | GLUT_ALPHA | GLUT_DEPTH |
                        GLUT_STENCIL | GLUT_MULTISAMPLE);
    glutInitWindowSize(1440, 1440);
    glutInitWindowPosition(100, 100);
    return glutCreateWindow(title);
}

void set_fixed_state(bool front_face_cw, void (*bind_arrays)()) {
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
    if (front_face_cw) glFrontFace(GL_CW);
    glEnable(GL_CULL_FACE);
    glEnable(GL_POLYGON_STIPPLE);
    glEnableClientState(GL_COLOR_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glEnableClientState(GL_VERTEX_ARRAY);
    if (bind_arrays) bind_arrays();
    glDrawBuffer(GL_FRONT_AND_BACK);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

}  // namespace frame

#include "overlay.h"

#include <GL/freeglut.h>

namespace frame {

void draw_overlay_text(const char* text, double x, double y) {
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    const int height = glutGet(GLUT_WINDOW_HEIGHT);
    const int width = glutGet(GLUT_WINDOW_WIDTH);
    glOrtho(0, width, 0, height, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glColor3f(1, 1, 1);
    glRasterPos2d(x, y);
    int lines = 0;
    for (const char* c = text; *c; ++c) {
        if (*c == '\n') {
            lines += 1;
            glRasterPos2d(x, y - overlay_line_advance * lines);
        }
        glutBitmapCharacter(GLUT_BITMAP_HELVETICA_18, static_cast<signed char>(*c));
    }
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glColor4f(1, 1, 1, 1);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LIGHTING);
}

}  // namespace frame

// The start-up of cube as bare GL calls: window, state, the list of one
// point per colour with its normal, colour and position.
#include <cmath>

#include "bare.h"

int main(int argc, char** argv) {
    glutInit(&argc, argv);
    const int start = glutGet(GLUT_ELAPSED_TIME);
    frame::open_gl_window("bare");
    GLint r_bits = 0, g_bits = 0, b_bits = 0, a_bits = 0;
    glGetIntegerv(GL_RED_BITS, &r_bits);
    glGetIntegerv(GL_GREEN_BITS, &g_bits);
    glGetIntegerv(GL_BLUE_BITS, &b_bits);
    glGetIntegerv(GL_ALPHA_BITS, &a_bits);
    frame::set_fixed_state(true, nullptr);

    const int rn = 1 << r_bits, gn = 1 << g_bits, bn = 1 << b_bits;
    const double rs = 1.0 / rn, gs = 1.0 / gn, bs = 1.0 / bn;
    bare::list = glGenLists(1);
    glNewList(bare::list, GL_COMPILE);
    glPushMatrix();
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    glBegin(GL_POINTS);
    for (int r = 0; r < rn; ++r)
        for (int g = 0; g < gn; ++g)
            for (int b = 0; b < bn; ++b) {
                const double x = b * bs, y = g * gs, z = r * rs;
                const double n = std::sqrt(x * x + y * y + z * z);
                if (n > 0)
                    glNormal3d(x / n, y / n, z / n);
                else
                    glNormal3d(1 / std::sqrt(3.0), 1 / std::sqrt(3.0), 1 / std::sqrt(3.0));
                glColor3d(b * rs, y, r * bs);
                glVertex3d(z, y, x);
            }
    glEnd();
    glPopClientAttrib();
    glPopMatrix();
    glEndList();
    (void)glGetError();
    bare::report_ready(start);

    glutDisplayFunc(bare::display);
    glutMainLoop();
}

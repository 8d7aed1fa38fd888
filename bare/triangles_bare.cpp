// The start-up of triangles as bare GL calls: the 512 MiB array bound as
// colours, positions and normals, filled inside an otherwise empty list.
#include <cmath>
#include <cstdint>

#include "bare.h"

namespace {
constexpr std::int64_t count = std::int64_t{1} << 26;
double* const values = new double[count];

void bind() {
    glColorPointer(3, GL_DOUBLE, 0, values);
    glVertexPointer(3, GL_DOUBLE, 0, values);
    glNormalPointer(GL_DOUBLE, 0, values);
}
}  // namespace

int main(int argc, char** argv) {
    glutInit(&argc, argv);
    const int start = glutGet(GLUT_ELAPSED_TIME);
    frame::open_gl_window("bare");
    GLint bits = 0;
    glGetIntegerv(GL_RED_BITS, &bits);
    glGetIntegerv(GL_GREEN_BITS, &bits);
    glGetIntegerv(GL_BLUE_BITS, &bits);
    glGetIntegerv(GL_ALPHA_BITS, &bits);
    frame::set_fixed_state(false, bind);
    bare::list = glGenLists(1);
    glNewList(bare::list, GL_COMPILE);
    glPushMatrix();
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    for (std::int64_t i = 0; i < count; ++i) {
        const double x = static_cast<double>(i);
        values[i] = (std::cos(x) + std::sin(x)) * std::tan(x);
    }
    glPopClientAttrib();
    glPopMatrix();
    glEndList();
    bare::report_ready(start);

    glutDisplayFunc(bare::display);
    glutMainLoop();
}

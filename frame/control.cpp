#include "control.h"

#include <GL/freeglut.h>

#include "finish.h"
#include "startup.h"

namespace frame {

std::int64_t frame_tick;

void idle_callback() {
    frame_tick += 1;
    glutPostWindowRedisplay(window_id);
}

void keyboard_callback(unsigned char key, int, int) {
    switch (key) {
        case 'R':
        case 'r':
            glutIdleFunc(idle_callback);
            break;
        case 'C':
        case 'c':
            frame_tick += 1;
            glutPostWindowRedisplay(window_id);
            break;
        case 'P':
        case 'p':
            glutIdleFunc(nullptr);
            break;
        case 27:
            final_report();
        default:
            break;
    }
}

void mouse_callback(int button, int state, int, int) {
    if (state != GLUT_DOWN) return;
    if (button == GLUT_LEFT_BUTTON) glutIdleFunc(idle_callback);
    if (button == GLUT_RIGHT_BUTTON) glutIdleFunc(nullptr);
}

void reshape_callback(int width, int height) {
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    // A minimised window reports a side of 0; it counts as 1 so that the
    // ratio stays finite.
    const double w = width > 0 ? width : 1;
    const double h = height > 0 ? height : 1;
    if (w > h)
        glOrtho(-w / h, w / h, -1, 1, -1, 1);
    else
        glOrtho(-1, 1, -h / w, h / w, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    if (program->camera) program->camera();
}

}  // namespace frame

// A window that only tells, one line each, what freeglut hands its callbacks:
// the check that the driver's keys arrive as the character codes meant, the
// way they arrive in the benchmarks' keyboard callback.
#include <GL/freeglut.h>

#include <cstdio>

namespace {
void say(const char* what, int a, int b) {
    std::printf("%s %d %d\n", what, a, b);
    std::fflush(stdout);
}
}  // namespace

int main(int argc, char** argv) {
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE);
    glutInitWindowSize(64, 64);
    glutCreateWindow("key echo");
    glutDisplayFunc([] {
        glClear(GL_COLOR_BUFFER_BIT);
        glutSwapBuffers();
    });
    glutKeyboardFunc([](unsigned char key, int, int) { say("key", key, 0); });
    glutSpecialFunc([](int key, int, int) { say("special", key, 0); });
    glutMouseFunc([](int button, int state, int, int) { say("mouse", button, state); });
    glutReshapeFunc([](int w, int h) { say("reshape", w, h); });
    say("ready", 0, 0);
    glutMainLoop();
}

// Stands in for a benchmark that hangs: it opens the window it is named
// after, reports its initialisation, and never reports a frame.
#include <GL/freeglut.h>

#include <cstdio>

int main(int argc, char** argv) {
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE);
    glutCreateWindow(argc > 1 ? argv[1] : "stub");
    glutDisplayFunc([] {
        glClear(GL_COLOR_BUFFER_BIT);
        glutSwapBuffers();
    });
    std::printf("It spent: 0 Secs to Initialize.\n");
    std::fflush(stdout);
    glutMainLoop();
}

// What both bare references share: the one line that says how long the
// start-up took, and the frame. The window and fixed state are the
// benchmarks' own (frame/gl_state.h), called alone.
#pragma once

#include <GL/freeglut.h>

#include <cstdio>

#include "gl_state.h"

namespace bare {

// The same clock and the same span as the programs' "Secs to Initialize".
inline void report_ready(int start_ms) {
    std::printf("ready: %g s\n", (glutGet(GLUT_ELAPSED_TIME) - start_ms) / 1000.0);
    std::fflush(stdout);
}

// The part of a frame that takes memory: all four buffers cleared (the
// accumulation buffer is made at its first clear), the list played.
inline GLuint list;
inline void display() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT |
            GL_ACCUM_BUFFER_BIT);
    glCallList(list);
    glutSwapBuffers();
}

}  // namespace bare

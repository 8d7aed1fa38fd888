#include "scene.h"

#include <GL/gl.h>

#include "control.h"

namespace frame {

void clear_frame() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT |
            GL_ACCUM_BUFFER_BIT);
    glClearColor(0, 0, 0, 0);
    glClearDepth(1.0);
    glClearStencil(0);
    glClearAccum(0, 0, 0, 0);
}

void turn_scene() {
    // A no-op kept on purpose: the workload's call sequence includes it.
    glScaled(1, 1, 1);
    glRotated(static_cast<double>(frame_tick) + 45.0, 1, 1, 1);
    glTranslated(-0.5, -0.5, -0.5);
}

}  // namespace frame

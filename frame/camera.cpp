#include <GL/glu.h>

#include <cmath>

#include "control.h"

namespace frame {

void look_at_step() {
    gluLookAt(0.5, -0.5, 0.5, 0, std::sin(static_cast<double>(frame_tick)), 0, 0.5, 0.5, 0.5);
}

}  // namespace frame

#include "lighting.h"

#include <GL/gl.h>

#include <cmath>

#include "control.h"

namespace frame {

lighting_values frame_lighting_values(std::int64_t tick) {
    const double t = static_cast<double>(tick);
    const double a = std::atan(t);
    const double s = std::sin(t);
    const double c = std::cos(t);
    auto f = [](double v) { return static_cast<float>(v); };
    auto half = [](double v) { return static_cast<float>(v * 0.5); };
    return lighting_values{
        {f(a), f(s), f(c), 1.0f},
        {half(c), half(s), half(a), 1.0f},
        {half(a), half(s), half(c), 1.0f},
        {half(s), half(a), half(c), 1.0f},
        static_cast<float>(tick % 64),
        f(c),
        f(s),
        f(c),
    };
}

void apply_frame_lighting(bool two_sided) {
    const lighting_values v = frame_lighting_values(frame_tick);
    glLightfv(GL_LIGHT0, GL_POSITION, v.light_vector);
    glLightfv(GL_LIGHT0, GL_SPOT_DIRECTION, v.light_vector);
    glLightfv(GL_LIGHT0, GL_AMBIENT, v.ambient_colour);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, v.diffuse_colour);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, v.diffuse_colour);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SHININESS, &v.shininess);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, v.ambient_colour);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, v.diffuse_colour);
    glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, v.emission_colour);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, v.ambient_colour);
    glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, 1);
    if (two_sided) glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, 1);
    // Sets the mode only; GL_COLOR_LOGIC_OP stays disabled, as the workload
    // has always had it, so the call costs a state change and draws nothing.
    glLogicOp(GL_XOR);
    // GL refuses negative attenuations and keeps the previous ones.
    glLightf(GL_LIGHT0, GL_CONSTANT_ATTENUATION, v.constant_attenuation);
    glLightf(GL_LIGHT0, GL_LINEAR_ATTENUATION, v.linear_attenuation);
    glLightf(GL_LIGHT0, GL_QUADRATIC_ATTENUATION, v.quadratic_attenuation);
}

}  // namespace frame

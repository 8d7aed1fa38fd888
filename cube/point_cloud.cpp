#include "point_cloud.h"

#include <GL/glu.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "startup.h"

namespace cube {

GLuint cube_list;
int red_index, green_index, blue_index;

std::string list_failure(GLenum error, double points) {
    if (error == GL_NO_ERROR) return {};
    const auto* name = reinterpret_cast<const char*>(gluErrorString(error));
    char code[16];
    std::snprintf(code, sizeof code, "0x%04X", error);
    return "cube: cannot build the list of its " +
           std::to_string(static_cast<long long>(points)) + " points (GL: " +
           (name ? name : code) + "); the machine or its memory limit does not allow it.";
}

double point_count(int red_bits, int green_bits, int blue_bits) {
    return std::pow(2.0, green_bits) * std::pow(2.0, red_bits) * std::pow(2.0, blue_bits);
}

namespace {
// k / 2^n as k * (1 / 2^n): exact, since 2^n is a power of two. One scale per
// channel, worked out once per cloud rather than once per coordinate.
struct channel_scales {
    double red, green, blue;
};
channel_scales scales_for(int red_bits, int green_bits, int blue_bits) {
    return {1.0 / std::pow(2.0, red_bits), 1.0 / std::pow(2.0, green_bits),
            1.0 / std::pow(2.0, blue_bits)};
}

cloud_point point_at(int r, int g, int b, const channel_scales& s) {
    const double x = b * s.blue, y = g * s.green, z = r * s.red;
    const double length = std::sqrt(x * x + y * y + z * z);
    cloud_point p{};
    if (length > 0) {
        p.normal[0] = x / length;
        p.normal[1] = y / length;
        p.normal[2] = z / length;
    } else {
        // The origin has no direction of its own: it takes the cube's diagonal.
        p.normal[0] = p.normal[1] = p.normal[2] = 1.0 / std::sqrt(3.0);
    }
    // Crossed on purpose, as the workload has always had it: red shows the
    // blue index over red's depth, blue the red index over blue's depth.
    // With equal depths these are the position's own values.
    p.colour[0] = b * s.red;
    p.colour[1] = y;
    p.colour[2] = r * s.blue;
    p.position[0] = z;
    p.position[1] = y;
    p.position[2] = x;
    return p;
}
}  // namespace

cloud_point make_cloud_point(int r, int g, int b, int red_bits, int green_bits, int blue_bits) {
    return point_at(r, g, b, scales_for(red_bits, green_bits, blue_bits));
}

void generate_point_cloud(int red_bits, int green_bits, int blue_bits,
                          void (*emit)(const cloud_point&)) {
    const channel_scales s = scales_for(red_bits, green_bits, blue_bits);
    // The bounds are pow's, compared as doubles as they always were, but
    // worked out once: inside the tests they cost a call per point.
    const double reds = std::pow(2.0, red_bits), greens = std::pow(2.0, green_bits),
                 blues = std::pow(2.0, blue_bits);
    for (red_index = 0; red_index < reds; ++red_index)
        for (green_index = 0; green_index < greens; ++green_index)
            for (blue_index = 0; blue_index < blues; ++blue_index)
                emit(point_at(red_index, green_index, blue_index, s));
}

namespace {
void emit_point(const cloud_point& p) {
    glNormal3d(p.normal[0], p.normal[1], p.normal[2]);
    glColor3d(p.colour[0], p.colour[1], p.colour[2]);
    glVertex3d(p.position[0], p.position[1], p.position[2]);
}
}  // namespace

void build_point_cloud() {
    cube_list = glGenLists(1);
    glNewList(cube_list, GL_COMPILE);
    glPushMatrix();
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    glBegin(GL_POINTS);
    generate_point_cloud(frame::red_bits, frame::green_bits, frame::blue_bits, emit_point);
    glEnd();
    glPopClientAttrib();
    glPopMatrix();
    glEndList();
    // A list GL could not hold would be reported as drawn: stop instead.
    const std::string failure = list_failure(
        glGetError(), point_count(frame::red_bits, frame::green_bits, frame::blue_bits));
    if (!failure.empty()) {
        std::cerr << failure << std::endl;
        std::exit(EXIT_FAILURE);
    }
}

}  // namespace cube

#include "point_cloud.h"

#include <cmath>

#include "startup.h"

namespace cube {

GLuint cube_list;
int red_index, green_index, blue_index;

double point_count(int red_bits, int green_bits, int blue_bits) {
    return std::pow(2.0, green_bits) * std::pow(2.0, red_bits) * std::pow(2.0, blue_bits);
}

cloud_point make_cloud_point(int r, int g, int b, int red_bits, int green_bits, int blue_bits) {
    // k / 2^n as k * (1 / 2^n): exact, since 2^n is a power of two.
    auto part = [](int k, int bits) { return k * (1.0 / std::pow(2.0, bits)); };
    const double nx = part(b, blue_bits), ny = part(g, green_bits), nz = part(r, red_bits);
    const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
    cloud_point p{};
    if (length > 0) {
        p.normal[0] = nx / length;
        p.normal[1] = ny / length;
        p.normal[2] = nz / length;
    } else {
        // The origin has no direction of its own: it takes the cube's diagonal.
        p.normal[0] = p.normal[1] = p.normal[2] = 1.0 / std::sqrt(3.0);
    }
    p.colour[0] = part(b, red_bits);
    p.colour[1] = part(g, green_bits);
    p.colour[2] = part(r, blue_bits);
    p.position[0] = part(r, red_bits);
    p.position[1] = part(g, green_bits);
    p.position[2] = part(b, blue_bits);
    return p;
}

void generate_point_cloud(int red_bits, int green_bits, int blue_bits,
                          void (*emit)(const cloud_point&)) {
    for (red_index = 0; red_index < std::pow(2.0, red_bits); ++red_index)
        for (green_index = 0; green_index < std::pow(2.0, green_bits); ++green_index)
            for (blue_index = 0; blue_index < std::pow(2.0, blue_bits); ++blue_index)
                emit(make_cloud_point(red_index, green_index, blue_index, red_bits, green_bits,
                                      blue_bits));
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
}

}  // namespace cube

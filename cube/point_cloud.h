// The cube workload: one point for every colour the frame buffer holds.
#pragma once

#include <GL/gl.h>

#include <string>

namespace cube {

struct cloud_point {
    double normal[3];
    double colour[3];
    double position[3];
};

extern GLuint cube_list;
extern int red_index, green_index, blue_index;

// 2^G x 2^R x 2^B for the given channel depths.
double point_count(int red_bits, int green_bits, int blue_bits);
// The point of indices r, g, b (red slowest, blue fastest) in a buffer of the
// given depths.
cloud_point make_cloud_point(int r, int g, int b, int red_bits, int green_bits, int blue_bits);
// Hands every point to emit in drawing order.
void generate_point_cloud(int red_bits, int green_bits, int blue_bits,
                          void (*emit)(const cloud_point&));
// The one line cube writes on standard error when GL reported error after
// building the list of that many points; empty for GL_NO_ERROR.
std::string list_failure(GLenum error, double points);
// Compiles the cloud for the window's depths into cube_list; exits with
// status 1 and list_failure's line if GL could not build it.
void build_point_cloud();

}  // namespace cube

// The triangles workload: one array of doubles that serves as positions,
// colours, normals and, read byte by byte, as the index list.
#pragma once

#include <GL/gl.h>

#include <cstdint>

#include "index_count.h"

namespace triangles {

extern double* const mesh_values;
extern GLuint mesh_list;

// Element i of the array: (cos x + sin x) * tan x with x = i radians.
double mesh_value(std::int64_t i);
// Binds the array as colours, positions and normals.
void bind_mesh_arrays();
// Fills the array inside the (otherwise empty) list.
void build_triangle_mesh();

}  // namespace triangles

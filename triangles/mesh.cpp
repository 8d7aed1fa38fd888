#include "mesh.h"

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <new>


namespace triangles {

namespace {
double* allocate_mesh() {
    double* values = new (std::nothrow) double[mesh_value_count];
    if (!values) {
        // Before main: nothing has been written yet, so one clear line is all.
        std::cerr << "triangles: cannot allocate the 512 MiB of its workload; "
                     "the machine or its memory limit does not allow it.\n";
        std::exit(EXIT_FAILURE);
    }
    return values;
}
}  // namespace

double* const mesh_values = allocate_mesh();
GLuint mesh_list;

void bind_mesh_arrays() {
    glColorPointer(3, GL_DOUBLE, 0, mesh_values);
    glVertexPointer(3, GL_DOUBLE, 0, mesh_values);
    glNormalPointer(GL_DOUBLE, 0, mesh_values);
}

double mesh_value(std::int64_t i) {
    const double x = static_cast<double>(i);
    return (std::cos(x) + std::sin(x)) * std::tan(x);
}

void build_triangle_mesh() {
    mesh_list = glGenLists(1);
    glNewList(mesh_list, GL_COMPILE);
    glPushMatrix();
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    for (std::int64_t i = 0; i < mesh_value_count; ++i) mesh_values[i] = mesh_value(i);
    glPopClientAttrib();
    glPopMatrix();
    glEndList();
}

}  // namespace triangles

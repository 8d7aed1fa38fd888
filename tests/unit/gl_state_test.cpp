// The fixed rendering state each program leaves after its start-up, read
// back from GL.
#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include "cube_frame.h"
#include "mesh.h"
#include "screens_frame.h"
#include "startup.h"
#include "triangles_frame.h"

namespace {

constexpr GLenum enabled_by_all[] = {
    GL_POINT_SMOOTH,    GL_FOG,          GL_LIGHT0,       GL_LIGHTING,       GL_BLEND,
    GL_ALPHA_TEST,      GL_AUTO_NORMAL,  GL_COLOR_MATERIAL, GL_DITHER,       GL_SCISSOR_TEST,
    GL_STENCIL_TEST,    GL_DEPTH_TEST,   GL_NORMALIZE,    GL_LINE_STIPPLE,   GL_CULL_FACE,
    GL_POLYGON_STIPPLE, GL_COLOR_ARRAY,  GL_NORMAL_ARRAY, GL_VERTEX_ARRAY};

GLint integer(GLenum what) {
    GLint v[2] = {-1, -1};
    glGetIntegerv(what, v);
    return v[0];
}
void* pointer(GLenum what) {
    void* p = nullptr;
    glGetPointerv(what, &p);
    return p;
}

// GL's defaults for what the start-up sets, so that each program's state is
// its own and not left over from the one before.
void reset_state() {
    for (GLenum e : enabled_by_all) glDisable(e);
    for (GLenum a : {GL_COLOR_ARRAY, GL_NORMAL_ARRAY, GL_VERTEX_ARRAY}) glDisableClientState(a);
    glColorPointer(4, GL_FLOAT, 0, nullptr);
    glVertexPointer(4, GL_FLOAT, 0, nullptr);
    glNormalPointer(GL_FLOAT, 0, nullptr);
    glFrontFace(GL_CCW);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glShadeModel(GL_FLAT);
    for (GLenum h : {GL_POINT_SMOOTH_HINT, GL_FOG_HINT, GL_PERSPECTIVE_CORRECTION_HINT})
        glHint(h, GL_DONT_CARE);
    glDrawBuffer(GL_BACK);
    glBlendFunc(GL_ONE, GL_ZERO);
}

TEST(StartupState, EachProgramsFixedStateReadBack) {
    struct expected {
        const char* name;
        const frame::benchmark& program;
        GLenum front_face;
        const void* arrays;  // where all three client arrays point
    };
    const expected programs[] = {{"cube", cube::benchmark, GL_CW, nullptr},
                                 {"screens", screens::benchmark, GL_CW, nullptr},
                                 {"triangles", triangles::benchmark, GL_CCW,
                                  triangles::mesh_values}};
    while (glGetError() != GL_NO_ERROR) {
    }
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    for (const expected& e : programs) {
        SCOPED_TRACE(e.name);
        reset_state();
        frame::set_render_state(e.program);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << "a call GL refuses";
        for (GLenum cap : enabled_by_all) EXPECT_TRUE(glIsEnabled(cap)) << "0x" << std::hex << cap;
        EXPECT_FALSE(glIsEnabled(GL_COLOR_LOGIC_OP));
        EXPECT_EQ(integer(GL_FRONT_FACE), static_cast<GLint>(e.front_face));
        EXPECT_EQ(integer(GL_CULL_FACE_MODE), GL_BACK);
        GLint modes[2] = {};
        glGetIntegerv(GL_POLYGON_MODE, modes);
        EXPECT_EQ(modes[0], GL_FILL) << "front";
        EXPECT_EQ(modes[1], GL_LINE) << "back";
        EXPECT_EQ(integer(GL_SHADE_MODEL), GL_SMOOTH);
        for (GLenum h : {GL_POINT_SMOOTH_HINT, GL_FOG_HINT, GL_PERSPECTIVE_CORRECTION_HINT})
            EXPECT_EQ(integer(h), GL_NICEST) << "hint 0x" << std::hex << h;
        EXPECT_EQ(integer(GL_BLEND_SRC), GL_SRC_ALPHA);
        EXPECT_EQ(integer(GL_BLEND_DST), GL_ONE_MINUS_SRC_ALPHA);
        EXPECT_EQ(integer(GL_DRAW_BUFFER), GL_FRONT_AND_BACK);
        EXPECT_EQ(pointer(GL_COLOR_ARRAY_POINTER), e.arrays);
        EXPECT_EQ(pointer(GL_VERTEX_ARRAY_POINTER), e.arrays);
        EXPECT_EQ(pointer(GL_NORMAL_ARRAY_POINTER), e.arrays);
        if (e.arrays) {
            for (GLenum type : {GL_COLOR_ARRAY_TYPE, GL_VERTEX_ARRAY_TYPE, GL_NORMAL_ARRAY_TYPE})
                EXPECT_EQ(integer(type), GL_DOUBLE);
            EXPECT_EQ(integer(GL_COLOR_ARRAY_SIZE), 3);
            EXPECT_EQ(integer(GL_VERTEX_ARRAY_SIZE), 3);
        }
    }
    glPopClientAttrib();
    glPopAttrib();
}

}  // namespace

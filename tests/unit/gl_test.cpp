// The GL layer in a real context: what GL holds after the frame's calls.
#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "control.h"
#include "lighting.h"
#include "overlay.h"
#include "point_cloud.h"
#include "startup.h"

namespace {

std::array<float, 4> light(GLenum p) {
    std::array<float, 4> v{};
    glGetLightfv(GL_LIGHT0, p, v.data());
    return v;
}
std::array<float, 4> material(GLenum p) {
    std::array<float, 4> v{};
    glGetMaterialfv(GL_FRONT, p, v.data());
    return v;
}
void expect4(std::array<float, 4> v, float a, float b, float c, float d) {
    EXPECT_NEAR(v[0], a, 1e-6);
    EXPECT_NEAR(v[1], b, 1e-6);
    EXPECT_NEAR(v[2], c, 1e-6);
    EXPECT_NEAR(v[3], d, 1e-6);
}

void apply_at(std::int64_t t, bool two_sided) {
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    frame::frame_tick = t;
    frame::apply_frame_lighting(two_sided);
}

TEST(FrameLighting, GlHoldsTheValuesOfTheStep) {
    while (glGetError() != GL_NO_ERROR) {
    }
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, 0);
    apply_at(0, false);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << "a call GL refuses";
    expect4(light(GL_POSITION), 0, 0, 1, 1);
    expect4(light(GL_AMBIENT), 0.5f, 0, 0, 1);
    expect4(light(GL_DIFFUSE), 0, 0, 0.5f, 1);
    expect4(light(GL_SPECULAR), 1, 1, 1, 1);  // never set
    expect4(material(GL_SPECULAR), 0, 0, 0.5f, 1);
    expect4(material(GL_EMISSION), 0, 0, 0.5f, 1);
    float v[4];
    glGetLightfv(GL_LIGHT0, GL_SPOT_DIRECTION, v);
    EXPECT_NEAR(v[2], 1, 1e-6);
    glGetMaterialfv(GL_FRONT, GL_SHININESS, v);
    EXPECT_EQ(v[0], 0);
    glGetFloatv(GL_LIGHT_MODEL_AMBIENT, v);
    EXPECT_NEAR(v[0], 0.5, 1e-6);
    GLint i = -1;
    glGetIntegerv(GL_LIGHT_MODEL_TWO_SIDE, &i);
    EXPECT_EQ(i, 0) << "one-sided unless asked";
    glGetIntegerv(GL_LIGHT_MODEL_LOCAL_VIEWER, &i);
    EXPECT_EQ(i, 1);
    glGetIntegerv(GL_LOGIC_OP_MODE, &i);
    EXPECT_EQ(i, GL_XOR);
    EXPECT_FALSE(glIsEnabled(GL_COLOR_LOGIC_OP));
    glGetLightfv(GL_LIGHT0, GL_CONSTANT_ATTENUATION, v);
    EXPECT_EQ(v[0], 1);
    glGetLightfv(GL_LIGHT0, GL_LINEAR_ATTENUATION, v);
    EXPECT_EQ(v[0], 0);

    apply_at(1, true);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    glGetIntegerv(GL_LIGHT_MODEL_TWO_SIDE, &i);
    EXPECT_EQ(i, 1);
    glGetMaterialfv(GL_FRONT, GL_SHININESS, v);
    EXPECT_EQ(v[0], 1);
    const float c1 = static_cast<float>(std::cos(1.0));

    // cos 2 < 0: GL refuses the constant and quadratic attenuations and keeps
    // those of step 1, while the positive linear one is taken.
    apply_at(2, true);
    glGetLightfv(GL_LIGHT0, GL_CONSTANT_ATTENUATION, v);
    EXPECT_FLOAT_EQ(v[0], c1);
    glGetLightfv(GL_LIGHT0, GL_QUADRATIC_ATTENUATION, v);
    EXPECT_FLOAT_EQ(v[0], c1);
    glGetLightfv(GL_LIGHT0, GL_LINEAR_ATTENUATION, v);
    EXPECT_FLOAT_EQ(v[0], static_cast<float>(std::sin(2.0)));
    // Negative colour components are taken as they are.
    expect4(light(GL_AMBIENT), static_cast<float>(std::cos(2.0) * 0.5),
            static_cast<float>(std::sin(2.0) * 0.5), static_cast<float>(std::atan(2.0) * 0.5),
            1);

    apply_at(64, true);
    glGetMaterialfv(GL_FRONT, GL_SHININESS, v);
    EXPECT_EQ(v[0], 0);
    while (glGetError() != GL_NO_ERROR) {
    }
}

std::array<double, 16> matrix(GLenum which) {
    std::array<double, 16> m{};
    glGetDoublev(which, m.data());
    return m;
}

// glOrtho(l, r, b, t, -1, 1) leaves 2/(r-l) and 2/(t-b) on the diagonal.
void expect_ortho(int w, int h, double half_width, double half_height) {
    frame::reshape_callback(w, h);
    const auto p = matrix(GL_PROJECTION_MATRIX);
    for (double x : p) ASSERT_TRUE(std::isfinite(x)) << w << "x" << h;
    // GL keeps its matrices in single precision.
    EXPECT_FLOAT_EQ(static_cast<float>(p[0]), static_cast<float>(1 / half_width)) << w << "x" << h;
    EXPECT_FLOAT_EQ(static_cast<float>(p[5]), static_cast<float>(1 / half_height)) << w << "x" << h;
    EXPECT_DOUBLE_EQ(p[10], -1);
    EXPECT_DOUBLE_EQ(p[12], 0);
    EXPECT_DOUBLE_EQ(p[13], 0);
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
}

TEST(Reshape, ShorterSideSpansMinusOneToOne) {
    frame::frame_tick = 0;
    expect_ortho(1440, 720, 2, 1);
    GLint vp[4];
    glGetIntegerv(GL_VIEWPORT, vp);
    EXPECT_EQ(vp[2], 1440);
    EXPECT_EQ(vp[3], 720);
    expect_ortho(720, 1440, 1, 2);
    expect_ortho(500, 500, 1, 1);
    expect_ortho(0, 0, 1, 1);
    expect_ortho(0, 300, 1, 300);
    expect_ortho(300, 0, 300, 1);
}

TEST(Reshape, CameraLooksAtTheCentreOfTheStep) {
    for (std::int64_t t : {0, 90}) {
        frame::frame_tick = t;
        frame::reshape_callback(300, 300);
        const auto m = matrix(GL_MODELVIEW_MATRIX);
        // The centre (0, sin t, 0) lies straight ahead of the eye (0.5, -0.5, 0.5).
        const double y = std::sin(static_cast<double>(t));
        const double ex = m[0] * 0 + m[4] * y + m[8] * 0 + m[12];
        const double ey = m[1] * 0 + m[5] * y + m[9] * 0 + m[13];
        const double ez = m[2] * 0 + m[6] * y + m[10] * 0 + m[14];
        const double distance = std::sqrt(0.25 + (y + 0.5) * (y + 0.5) + 0.25);
        EXPECT_NEAR(ex, 0, 1e-6) << t;
        EXPECT_NEAR(ey, 0, 1e-6) << t;
        EXPECT_NEAR(ez, -distance, 1e-6) << t;
    }
    frame::frame_tick = 0;
}

std::array<float, 4> raster() {
    std::array<float, 4> r{};
    glGetFloatv(GL_CURRENT_RASTER_POSITION, r.data());
    return r;
}

TEST(Overlay, LinesGoDownEighteenPixelsAndStateIsPutBack) {
    frame::reshape_callback(glutGet(GLUT_WINDOW_WIDTH), glutGet(GLUT_WINDOW_HEIGHT));
    glPushMatrix();
    glRotated(30, 1, 0, 0);
    const auto projection = matrix(GL_PROJECTION_MATRIX);
    const auto modelview = matrix(GL_MODELVIEW_MATRIX);
    void* font = GLUT_BITMAP_HELVETICA_18;

    frame::draw_overlay_text("", 10, 100);
    EXPECT_FLOAT_EQ(raster()[0], 10);
    EXPECT_FLOAT_EQ(raster()[1], 100);

    frame::draw_overlay_text("ab", 10, 100);
    EXPECT_FLOAT_EQ(raster()[0], static_cast<float>(10 + glutBitmapWidth(font, 'a') +
                                                    glutBitmapWidth(font, 'b')));
    EXPECT_FLOAT_EQ(raster()[1], 100);

    frame::draw_overlay_text("ab\n\ncd", 10, 100);
    EXPECT_FLOAT_EQ(raster()[0],
                    static_cast<float>(10 + glutBitmapWidth(font, '\n') +
                                       glutBitmapWidth(font, 'c') + glutBitmapWidth(font, 'd')));
    EXPECT_FLOAT_EQ(raster()[1], 64) << "two line feeds: 36 pixels down";

    EXPECT_EQ(matrix(GL_PROJECTION_MATRIX), projection);
    EXPECT_EQ(matrix(GL_MODELVIEW_MATRIX), modelview);
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    float colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_EQ(std::vector<float>(colour, colour + 4), std::vector<float>({1, 1, 1, 1}));
    glPopMatrix();
}

// The compiled list, played back through GL's feedback mode: every point in
// order, with the colour it was given.
TEST(PointCloudList, HoldsEveryPointInOrder) {
    frame::red_bits = 1;
    frame::green_bits = 2;
    frame::blue_bits = 1;
    cube::build_point_cloud();
    ASSERT_TRUE(glIsList(cube::cube_list));

    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_FOG);
    glViewport(0, 0, 64, 64);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 1, 0, 1, -2, 2);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    std::vector<float> buffer(4096);
    glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_3D_COLOR, buffer.data());
    glRenderMode(GL_FEEDBACK);
    glCallList(cube::cube_list);
    const GLint used = glRenderMode(GL_RENDER);
    glPopAttrib();

    // Each point: token, x, y, z, r, g, b, a.
    ASSERT_EQ(used, 16 * 8);
    for (int i = 0; i < 16; ++i) {
        const float* p = &buffer[static_cast<std::size_t>(i) * 8];
        const int r = i / 8, g = (i / 2) % 4, b = i % 2;
        EXPECT_EQ(p[0], GL_POINT_TOKEN);
        EXPECT_NEAR(p[1], 64 * r / 2.0, 1e-3) << i;
        EXPECT_NEAR(p[2], 64 * g / 4.0, 1e-3) << i;
        EXPECT_NEAR(p[4], b / 2.0, 1e-3) << i;  // red from the blue index
        EXPECT_NEAR(p[5], g / 4.0, 1e-3) << i;
        EXPECT_NEAR(p[6], r / 2.0, 1e-3) << i;
    }
}

}  // namespace

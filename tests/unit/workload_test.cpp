// Values computed without GL: the lighting of a step and the cube's points.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "lighting.h"
#include "point_cloud.h"

namespace {

using cube::cloud_point;

void expect4(const float* v, double a, double b, double c, double d) {
    EXPECT_FLOAT_EQ(v[0], static_cast<float>(a));
    EXPECT_FLOAT_EQ(v[1], static_cast<float>(b));
    EXPECT_FLOAT_EQ(v[2], static_cast<float>(c));
    EXPECT_FLOAT_EQ(v[3], static_cast<float>(d));
}

TEST(LightingValues, AtTheStepsThatShowEachRule) {
    auto v = frame::frame_lighting_values(0);
    expect4(v.light_vector, 0, 0, 1, 1);
    expect4(v.ambient_colour, 0.5, 0, 0, 1);
    expect4(v.diffuse_colour, 0, 0, 0.5, 1);
    expect4(v.emission_colour, 0, 0, 0.5, 1);
    EXPECT_EQ(v.shininess, 0.0f);
    EXPECT_EQ(v.constant_attenuation, 1.0f);
    EXPECT_EQ(v.linear_attenuation, 0.0f);
    EXPECT_EQ(v.quadratic_attenuation, 1.0f);

    v = frame::frame_lighting_values(1);
    const double a = 0.7853981633974483, s = 0.8414709848078965, c = 0.5403023058681398;
    expect4(v.light_vector, a, s, c, 1);
    expect4(v.ambient_colour, c / 2, s / 2, a / 2, 1);
    expect4(v.diffuse_colour, a / 2, s / 2, c / 2, 1);
    expect4(v.emission_colour, s / 2, a / 2, c / 2, 1);
    EXPECT_EQ(v.shininess, 1.0f);

    v = frame::frame_lighting_values(2);
    EXPECT_FLOAT_EQ(v.constant_attenuation, -0.41614684f);  // GL will refuse it
    EXPECT_EQ(v.shininess, 2.0f);

    // The shininess repeats every 64 steps, the angles do not.
    v = frame::frame_lighting_values(64);
    EXPECT_EQ(v.shininess, 0.0f);
    EXPECT_FLOAT_EQ(v.light_vector[1], static_cast<float>(std::sin(64.0)));
    EXPECT_EQ(frame::frame_lighting_values(64 * 1000000007LL + 5).shininess, 5.0f);
}

std::vector<cloud_point> collected;
void collect(const cloud_point& p) { collected.push_back(p); }
long counted = 0;
void count_point(const cloud_point&) { ++counted; }

std::vector<cloud_point> cloud(int r, int g, int b) {
    collected.clear();
    cube::generate_point_cloud(r, g, b, collect);
    return collected;
}

void expect3(const double* v, double a, double b, double c) {
    EXPECT_DOUBLE_EQ(v[0], a);
    EXPECT_DOUBLE_EQ(v[1], b);
    EXPECT_DOUBLE_EQ(v[2], c);
}

TEST(PointCloud, EightBitsPerChannelGiveEveryColour) {
    counted = 0;
    cube::generate_point_cloud(8, 8, 8, count_point);
    EXPECT_EQ(counted, 16777216);
    EXPECT_EQ(cube::point_count(8, 8, 8), 16777216.0);
    EXPECT_EQ(cube::red_index, 256);

    const cloud_point first = cube::make_cloud_point(0, 0, 0, 8, 8, 8);
    expect3(first.position, 0, 0, 0);
    expect3(first.colour, 0, 0, 0);
    const double d = 1 / std::sqrt(3.0);
    expect3(first.normal, d, d, d);  // the origin takes the cube's diagonal

    const cloud_point last = cube::make_cloud_point(255, 255, 255, 8, 8, 8);
    expect3(last.position, 255 / 256.0, 255 / 256.0, 255 / 256.0);
    expect3(last.colour, 255 / 256.0, 255 / 256.0, 255 / 256.0);
}

TEST(PointCloud, FiveSixFiveInLoopOrderWithSwappedColour) {
    const auto p = cloud(5, 6, 5);
    ASSERT_EQ(p.size(), 65536u);
    EXPECT_EQ(cube::point_count(5, 6, 5), 65536.0);
    // Blue changes fastest, red slowest.
    expect3(p[1].position, 0, 0, 1 / 32.0);
    expect3(p[32].position, 0, 1 / 64.0, 0);
    expect3(p[32 * 64].position, 1 / 32.0, 0, 0);
    // Indices (r, g, b) = (3, 5, 7): colour (b/32, g/64, r/32).
    const cloud_point& q = p[3 * 64 * 32 + 5 * 32 + 7];
    expect3(q.position, 3 / 32.0, 5 / 64.0, 7 / 32.0);
    expect3(q.colour, 7 / 32.0, 5 / 64.0, 3 / 32.0);
    const double len = std::sqrt(7 / 32.0 * 7 / 32.0 + 5 / 64.0 * 5 / 64.0 + 3 / 32.0 * 3 / 32.0);
    expect3(q.normal, 7 / 32.0 / len, 5 / 64.0 / len, 3 / 32.0 / len);
    expect3(p.back().position, 31 / 32.0, 63 / 64.0, 31 / 32.0);
    for (const auto& pt : p)
        ASSERT_NEAR(std::hypot(pt.normal[0], pt.normal[1], pt.normal[2]), 1.0, 1e-12);
}

TEST(PointCloud, UnequalAndZeroDepths) {
    // Each colour component is divided by its own channel's depth.
    const cloud_point q = cube::make_cloud_point(7, 0, 3, 3, 1, 2);
    expect3(q.colour, 3 / 8.0, 0, 7 / 4.0);
    expect3(q.position, 7 / 8.0, 0, 3 / 4.0);

    // A channel of 0 bits collapses its axis to coordinate 0.
    const auto plane = cloud(0, 2, 2);
    ASSERT_EQ(plane.size(), 16u);
    for (const auto& pt : plane) EXPECT_EQ(pt.position[0], 0.0);
    const auto point = cloud(0, 0, 0);
    ASSERT_EQ(point.size(), 1u);
    EXPECT_TRUE(std::isfinite(point[0].normal[0]));
}

// A deep frame buffer's list that GL cannot hold ends cube with one line.
TEST(PointCloud, AListGlRefusedIsOneLineNamingTheError) {
    EXPECT_EQ(cube::list_failure(GL_NO_ERROR, 1073741824.0), "");
    const std::string line = cube::list_failure(GL_OUT_OF_MEMORY, 1073741824.0);
    EXPECT_NE(line.find("1073741824 points"), std::string::npos) << line;
    EXPECT_NE(line.find("out of memory"), std::string::npos) << line;
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    EXPECT_NE(cube::list_failure(0x9999, 1).find("0x9999"), std::string::npos);
}

}  // namespace

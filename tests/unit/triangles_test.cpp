// The triangles workload without a window: the array and the index count.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "mesh.h"
#include "triangles_frame.h"

namespace {

using triangles::index_count_for;
constexpr std::int64_t most = std::numeric_limits<std::int64_t>::max();

TEST(IndexCount, ContinuousRunEndsAfterItsFortyEighthFrame) {
    // n, index_count for a run in which every frame is one step (m = n - 1).
    const std::pair<int, std::int64_t> table[] = {
        {1, 7},         {2, 12},        {3, 18},         {5, 31},
        {10, 65},       {11, 74},       {20, 458},       {30, 27914},
        {40, 2558593},  {45, 25220340}, {46, 39920099},  {47, 63217623},
        {48, 100157100}};
    for (auto [n, count] : table) {
        EXPECT_EQ(index_count_for(n, n - 1), count) << "n = " << n;
        EXPECT_EQ(index_count_for(n, n - 1) / 6, count / 6);
    }
    EXPECT_EQ(index_count_for(48, 47) / 6, 16692850);
    for (int n = 1; n <= 48; ++n) {
        const bool ends = index_count_for(n, n - 1) > triangles::mesh_value_count;
        EXPECT_EQ(ends, n == 48) << "n = " << n;
    }
}

TEST(IndexCount, RedisplaysAndJumps) {
    // A redisplay without a step lowers the Fibonacci share.
    EXPECT_EQ(index_count_for(20, 19), 458);
    EXPECT_EQ(index_count_for(20, 20), 120 + 6765 / 21);
    // Many steps between two frames.
    EXPECT_EQ(index_count_for(40, 3), static_cast<std::int64_t>(102334155 / 4.0 + 240));
    EXPECT_GT(index_count_for(100, 5), triangles::mesh_bytes);
    // Past 2^63 the count saturates, from n = 1475 on with an infinite term.
    EXPECT_GT(index_count_for(92, 0), 7540113804746346000);
    EXPECT_LT(index_count_for(92, 0), most);
    EXPECT_EQ(index_count_for(93, 0), most);
    EXPECT_EQ(index_count_for(1474, 0), most);
    EXPECT_EQ(index_count_for(1475, 0), most);
    EXPECT_EQ(index_count_for(2000, 7), most);
    EXPECT_EQ(index_count_for(most, 0), most);
    EXPECT_EQ(index_count_for(0, 0), 0);
}

TEST(IndexCount, NoDrawGoesPastTheArrayOrBelowZero) {
    for (std::int64_t n : {1, 47, 48, 60, 100, 1474, 1475, 2000}) {
        const std::int64_t drawn = triangles::indices_to_draw(index_count_for(n, 0));
        EXPECT_GE(drawn, 0);
        EXPECT_LE(drawn, triangles::mesh_bytes) << n;
        EXPECT_LE(drawn, std::numeric_limits<std::int32_t>::max());
    }
    EXPECT_EQ(triangles::indices_to_draw(100157100), 100157100) << "within the array: all of it";
    EXPECT_EQ(triangles::indices_to_draw(-5), 0);
}

TEST(MeshValues, FirstValuesAndTheirBytes) {
    EXPECT_EQ(triangles::mesh_value(0), 0.0);
    EXPECT_NEAR(triangles::mesh_value(1), 2.15198, 1e-5);
    EXPECT_NEAR(triangles::mesh_value(2), -1.07755, 1e-5);
    EXPECT_NEAR(triangles::mesh_value(11), 224.949, 1e-3);
    const double one = triangles::mesh_value(1);
    unsigned char bytes[8];
    std::memcpy(bytes, &one, 8);
    EXPECT_EQ(bytes[7], 64) << "the top byte of a double in [2, 4)";
    // The array lies allocated before main, the size the draws rely on (the
    // write lets a sanitised build check the last element too).
    ASSERT_NE(triangles::mesh_values, nullptr);
    EXPECT_GE(malloc_usable_size(triangles::mesh_values),
              static_cast<std::size_t>(triangles::mesh_bytes));
    triangles::mesh_values[triangles::mesh_value_count - 1] = 1.0;
}

}  // namespace

#include "tests/app/terrain_test_util.h"

class GridTest : public TerrainGridTest {};

// Cells outside 1..513 on one axis or both.
static const int32_t outside[][2] = {{0, 1},   {1, 0},         {514, 1},  {1, 514},
                                     {-1, -1}, {0, 5},         {5, 0},    {514, 5},
                                     {5, 514}, {INT32_MIN, 5}, {5, 1000}, {INT32_MAX, INT32_MAX}};

// A fresh grid is zero in every usable cell; reads outside the usable cells give 0 whatever
// their elements hold.
TEST_F(GridTest, FreshGridIsZeroAndReadsOutsideTheUsableCellsGiveZero) {
    EXPECT_EQ(grid.entries[0], 514);
    EXPECT_EQ(grid.entries[1], 514);
    EXPECT_EQ(array_dim_size(grid.data, 1), 513);
    EXPECT_EQ(array_dim_size(grid.data, 2), 513);
    for (int y = 1; y <= 513; y++)
        for (int x = 1; x <= 513; x++)
            ASSERT_EQ(grid_get(grid, x, y), 0);
    for (int y = 0; y <= 513; y++)
        for (int x = 0; x <= 513; x++)
            grid.data[x * 514 + y] = 77; // also the index-0 elements
    for (const int32_t *c : outside)
        EXPECT_EQ(grid_get(grid, c[0], c[1]), 0) << c[0] << "," << c[1];
    EXPECT_EQ(grid_get(grid, 513, 513), 77);
    EXPECT_EQ(grid_get(grid, 1, 1), 77);
}

TEST_F(GridTest, WritesAreClampedAndBounded) {
    const int32_t values[][2] = {{300, 255}, {-5, 0}, {255, 255}, {INT32_MAX, 255}, {INT32_MIN, 0}};
    for (const int32_t *v : values) {
        grid_set(grid, 5, 6, v[0]);
        EXPECT_EQ(grid_get(grid, 5, 6), v[1]) << v[0];
    }
    grid_set(grid, 513, 513, 9);
    EXPECT_EQ(grid.data[513 * 514 + 513], 9);
    for (const int32_t *c : outside)
        EXPECT_EQ(grid_set(grid, c[0], c[1], 10), 0);
    for (int i = 0; i < 514; i++) {
        ASSERT_EQ(grid.data[0 * 514 + i], 0); // x = 0
        ASSERT_EQ(grid.data[i * 514 + 0], 0); // y = 0
    }
    EXPECT_EQ(grid.data[514 * 514], 0); // the spare element after the last
    grid_set(grid, 10, 20, 123);        // the indices are not interchangeable
    EXPECT_EQ(grid_get(grid, 10, 20), 123);
    EXPECT_EQ(grid_get(grid, 20, 10), 0);
    EXPECT_EQ(grid.data[10 * 514 + 20], 123); // the second index varies fastest
}

TEST(GridAlloc, FailureLeavesNoData) {
    HeightGrid grid = {};
    heap_fail_allocations(app_heap(), 0, 1);
    EXPECT_FALSE(grid_alloc(grid));
    EXPECT_EQ(grid.data, nullptr);
    heap_fail_reset();
    EXPECT_TRUE(grid_alloc(grid));
    array_free(grid.data);
}

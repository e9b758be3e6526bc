#include "tests/app/terrain_test_util.h"

class GridTest : public TerrainGridTest {};

TEST_F(GridTest, FreshGridIsZeroAndReportsItsExtent) {
    EXPECT_EQ(grid.entries[0], 514);
    EXPECT_EQ(grid.entries[1], 514);
    EXPECT_EQ(array_dim_size(grid.data, 1), 513);
    EXPECT_EQ(array_dim_size(grid.data, 2), 513);
    for (int y = 1; y <= 513; y++)
        for (int x = 1; x <= 513; x++)
            ASSERT_EQ(grid_get(grid, x, y), 0);
}

TEST_F(GridTest, ReadsOutsideTheUsableCellsGiveZero) {
    for (int y = 0; y <= 513; y++)
        for (int x = 0; x <= 513; x++)
            grid.data[x * 514 + y] = 77; // also the index-0 elements
    EXPECT_EQ(grid_get(grid, 0, 1), 0);
    EXPECT_EQ(grid_get(grid, 1, 0), 0);
    EXPECT_EQ(grid_get(grid, 514, 1), 0);
    EXPECT_EQ(grid_get(grid, 1, 514), 0);
    EXPECT_EQ(grid_get(grid, -1, -1), 0);
    EXPECT_EQ(grid_get(grid, 513, 513), 77);
    EXPECT_EQ(grid_get(grid, 1, 1), 77);
}

TEST_F(GridTest, WritesAreClampedAndBounded) {
    grid_set(grid, 5, 6, 300);
    EXPECT_EQ(grid_get(grid, 5, 6), 255);
    grid_set(grid, 5, 6, -5);
    EXPECT_EQ(grid_get(grid, 5, 6), 0);
    grid_set(grid, 5, 6, 255);
    EXPECT_EQ(grid_get(grid, 5, 6), 255);
    grid_set(grid, 513, 513, 9);
    EXPECT_EQ(grid.data[513 * 514 + 513], 9);

    EXPECT_EQ(grid_set(grid, 0, 5, 10), 0);
    EXPECT_EQ(grid_set(grid, 514, 5, 10), 0);
    EXPECT_EQ(grid_set(grid, 5, 0, 10), 0);
    EXPECT_EQ(grid_set(grid, 5, 514, 10), 0);
    for (int i = 0; i < 514; i++) {
        ASSERT_EQ(grid.data[0 * 514 + i], 0); // x = 0
        ASSERT_EQ(grid.data[i * 514 + 0], 0); // y = 0
    }
    EXPECT_EQ(grid.data[514 * 514], 0); // the spare element after the last
}

TEST_F(GridTest, IndicesAreNotInterchangeable) {
    grid_set(grid, 10, 20, 123);
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

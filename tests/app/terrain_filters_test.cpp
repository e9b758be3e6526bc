#include "app/terrain.h"
#include "tests/app/terrain_test_util.h"
#include <algorithm>
#include <set>

class TerrainFilters : public TerrainGridTest {};

TEST_F(TerrainFilters, PullToLevelTableInEveryMode) {
    const int32_t from[] = {0, 100, 150, 159, 160, 161, 170, 180, 200, 255};
    const int32_t to[] = {8, 103, 151, 159, 160, 161, 169, 179, 198, 250};
    under_every_rounding_mode([&] {
        for (int32_t k = 0; k < 10; k++)
            grid_set(grid, 513, k + 1, from[k]);
        EXPECT_EQ(terrain_pull_to_level(grid, 160, 0.05f), 0);
        for (int32_t k = 0; k < 10; k++)
            EXPECT_EQ(grid_get(grid, 513, k + 1), to[k]) << from[k];
    });
}

// Every height, those outside 0..255 too, moves as the formula says, with the level held to
// 0..255 and the fraction to 0..1 (NaN pulls nothing); no element outside the cells changes.
TEST_F(TerrainFilters, PullToLevelMatchesDirectComputation) {
    for (int32_t level : {0, 37, 160, 255, 300, -20}) {
        for (float fraction : {0.001f, 0.05f, 0.3f, 0.5f, 0.999f, 1.0f, 1.5f, 0.0f, -1.0f, NAN}) {
            SCOPED_TRACE(testing::Message() << level << " " << fraction);
            fill_random(uint32_t(level + 100), true);
            std::vector<int32_t> before = snapshot();
            terrain_pull_to_level(grid, level, fraction);
            std::vector<int32_t> after = snapshot();
            double f = fraction > 1.0f ? 1.0 : fraction > 0.0f ? fraction : 0.0;
            double to = held_height(level);
            for (int32_t y = 0; y <= 513; y++) {
                for (int32_t x = 0; x <= 513; x++) {
                    double v = cell(before, x, y);
                    int32_t expected = x && y ? held_height(nearbyint(v + (to - v) * f)) : 0;
                    ASSERT_EQ(cell(after, x, y), expected) << x << "," << y;
                }
            }
        }
    }
}

// Every cell (random grids hold heights outside 0..255 too, which skip the table of small
// raises) takes what one draw, and a second for a chosen cell, give with chance and amount held
// to 0..255. About chance / 256 of the cells are chosen; only chance 0 leaves the grid alone.
// Grids of one height give the outcomes worked out by hand, in every rounding mode.
TEST_F(TerrainFilters, JitterMatchesDirectComputation) {
    const struct {
        int32_t chance, amount, height; // height -1: a random grid
        std::set<int32_t> outcomes;
    } cases[] = {{128, 2, -1, {}},          {128, 7, -1, {}},
                 {128, 16, -1, {}},         {128, 17, -1, {}},
                 {128, 255, -1, {}},        {0, 2, -1, {}},
                 {-7, 2, -1, {}},           {1000, 2, -1, {}},
                 {128, 300, -1, {}},        {128, -3, -1, {}},
                 {128, 0, -1, {}},          {255, 2, 0, {0, 1, 2}},
                 {255, 2, 128, {128, 129}}, {255, 2, 200, {199, 200, 201}},
                 {255, 2, 255, {254}}};
    for (const auto &c : cases) {
        int32_t chance = held_height(c.chance), amount = held_height(c.amount);
        SCOPED_TRACE(testing::Message() << c.chance << " " << c.amount << " " << c.height);
        auto check = [&] {
            c.height >= 0 ? fill(c.height) : fill_random(uint32_t(20 + amount), true);
            std::vector<int32_t> before = snapshot();
            random_seed(30);
            RanrotState start = ranrot_state;
            EXPECT_EQ(terrain_jitter(grid, c.chance, c.amount), 0);
            std::vector<int32_t> after = snapshot();
            RanrotState end = ranrot_state;
            ranrot_state = start;
            int32_t chosen = 0;
            std::set<int32_t> outcomes;
            for (int32_t y = 1; y <= 513; y++) {
                for (int32_t x = 1; x <= 513; x++) {
                    int32_t v = cell(before, x, y), expected = v;
                    if (random_upto(255) < chance) {
                        int32_t t = held_height(v + amount - random_upto(amount));
                        expected =
                            held_height(round_even((v * amount + t * (255.0 - amount)) / 256));
                        outcomes.insert(expected);
                        chosen++;
                    }
                    ASSERT_EQ(cell(after, x, y), expected) << x << "," << y;
                }
            }
            EXPECT_EQ(memcmp(&ranrot_state, &end, sizeof end), 0);
            double p = chance / 256.0;
            EXPECT_NEAR(chosen, 263169 * p, 5 * sqrt(263169 * p * (1 - p)) + 1);
            EXPECT_EQ(after == before, chance == 0); // amount 0 still blends with weight 255/256
            if (c.height < 0) return;
            EXPECT_EQ(outcomes, c.outcomes);
        };
        if (c.height >= 0)
            under_every_rounding_mode(check);
        else
            check();
    }
}

// Smoothing as written: 25 reads per cell, in place, the mean held to 0..255.
static void reference_smooth(std::vector<int32_t> &cells) {
    for (int32_t y = 3; y <= 509; y++) {
        for (int32_t x = 3; x <= 509; x++) {
            int32_t sum = 0;
            for (int32_t j = y - 2; j <= y + 2; j++)
                for (int32_t i = x - 2; i <= x + 2; i++)
                    sum += cell(cells, i, j);
            cells[size_t(x) * GRID_SIZE + y] = held_height(sum / 25);
        }
    }
}

TEST_F(TerrainFilters, SmoothSpreadsASinglePeakForwardInScanOrder) {
    grid_set(grid, 256, 256, 250);
    terrain_smooth(grid);
    EXPECT_EQ(grid_get(grid, 256, 256), 15);
    EXPECT_EQ(grid_get(grid, 254, 254), 10);
    EXPECT_EQ(grid_get(grid, 255, 256), 14);
    EXPECT_EQ(grid_get(grid, 257, 256), 4);
    int32_t min_x = 999, max_x = 0, min_y = 999, max_y = 0; // the cells that are not 0
    for (int32_t y = 1; y <= 513; y++) {
        for (int32_t x = 1; x <= 513; x++) {
            if (!grid_get(grid, x, y)) continue;
            min_x = std::min(min_x, x), max_x = std::max(max_x, x);
            min_y = std::min(min_y, y), max_y = std::max(max_y, y);
        }
    }
    EXPECT_EQ((std::vector<int32_t>{min_x, max_x, min_y, max_y}),
              (std::vector<int32_t>{253, 260, 254, 258}));
}

// Random grids (one with heights outside 0..255) change nearly everywhere inside the border, a
// grid of 100 nowhere.
TEST_F(TerrainFilters, SmoothMatchesTheInPlaceBoxMeanAndSparesTheBorder) {
    for (uint32_t seed : {7u, 8u, 0u}) {
        SCOPED_TRACE(seed);
        seed ? fill_random(seed, seed == 8) : fill(100);
        std::vector<int32_t> expected = snapshot();
        reference_smooth(expected);
        std::vector<int32_t> before = snapshot();
        EXPECT_EQ(terrain_smooth(grid), 0);
        std::vector<int32_t> after = snapshot();
        EXPECT_EQ(after, expected);
        auto border = [](int32_t i) { return i <= 2 || i >= 510; };
        int32_t changed = 0;
        for (int32_t y = 1; y <= 513; y++) {
            for (int32_t x = 1; x <= 513; x++) {
                if (border(x) || border(y))
                    ASSERT_EQ(cell(after, x, y), cell(before, x, y));
                else
                    changed += cell(after, x, y) != cell(before, x, y);
            }
        }
        EXPECT_TRUE(seed ? changed > 200000 : changed == 0) << changed;
    }
}

// Heights outside 0..255 are held to that range as they are written back.
TEST_F(TerrainFilters, InvertMirrorsEveryUsableCell) {
    grid.data[5 * GRID_SIZE + 5] = -40;
    grid.data[6 * GRID_SIZE + 6] = 1000;
    EXPECT_EQ(terrain_invert(grid), 0);
    for (int32_t y = 0; y <= 513; y++)
        for (int32_t x = 0; x <= 513; x++)
            ASSERT_EQ(grid.data[x * GRID_SIZE + y], x && y && !(x == 6 && y == 6) ? 255 : 0)
                << x << "," << y;

    fill_random(5);
    std::vector<int32_t> before = snapshot();
    terrain_invert(grid);
    for (int32_t y = 1; y <= 513; y++)
        for (int32_t x = 1; x <= 513; x++)
            ASSERT_EQ(grid_get(grid, x, y), 255 - cell(before, x, y));
    terrain_invert(grid);
    EXPECT_EQ(snapshot(), before);
}

// Every operation leaves a grid that was never allocated alone, and draws nothing.
TEST(TerrainFiltersUnallocated, DoNothing) {
    HeightGrid unallocated = {};
    random_seed(1);
    RanrotState start = ranrot_state;
    EXPECT_EQ(terrain_generate(unallocated), 0);
    EXPECT_EQ(terrain_subdivide(unallocated, 1.0f, 1.0f, 4.0f, 4.0f, 0, 0, 0, 0), 0);
    EXPECT_EQ(terrain_pull_to_level(unallocated, 160, 0.05f), 0);
    EXPECT_EQ(terrain_jitter(unallocated, 128, 2), 0);
    EXPECT_EQ(terrain_smooth(unallocated), 0);
    EXPECT_EQ(terrain_invert(unallocated), 0);
    EXPECT_TRUE(advanced_by(start, ranrot_state, 0));
}

#include "app/terrain.h"
#include "runtime/core/random.h"
#include "tests/app/terrain_test_util.h"
#include <math.h>
#include <set>

class TerrainFilters : public TerrainGridTest {
  protected:
    // Jitters from a fixed seed and returns, in scan order, which cells the first draw chose,
    // by replaying the draws.
    std::vector<bool> jitter_choices(int32_t chance, int32_t amount, uint32_t seed) {
        random_seed(seed);
        RanrotState before = ranrot_state;
        terrain_jitter(grid, chance, amount);
        RanrotState after = ranrot_state;
        ranrot_state = before;
        std::vector<bool> chosen;
        for (int32_t k = 0; k < 513 * 513; k++) {
            chosen.push_back(random_upto(255) < chance);
            if (chosen.back()) random_upto(amount);
        }
        EXPECT_EQ(memcmp(&ranrot_state, &after, sizeof after), 0);
        return chosen;
    }
};

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

TEST_F(TerrainFilters, PullToLevelMatchesDirectComputation) {
    for (int32_t level : {0, 37, 160, 255}) {
        for (float fraction : {0.001f, 0.05f, 0.3f, 0.5f, 0.999f}) {
            SCOPED_TRACE(testing::Message() << level << " " << fraction);
            for (int32_t y = 1; y <= 513; y++)
                for (int32_t x = 1; x <= 513; x++)
                    grid_set(grid, x, y, (x + 3 * y) % 256);
            terrain_pull_to_level(grid, level, fraction);
            for (int32_t y = 1; y <= 513; y++) {
                for (int32_t x = 1; x <= 513; x++) {
                    double v = (x + 3 * y) % 256;
                    double expected = nearbyint(v + (level - v) * double(fraction));
                    ASSERT_EQ(grid_get(grid, x, y), int32_t(expected)) << x << "," << y;
                }
            }
        }
    }
}

TEST_F(TerrainFilters, PullToLevelClampsItsArguments) {
    fill_random(3);
    std::vector<int32_t> before = snapshot();
    for (float fraction : {-1.0f, 0.0f, NAN}) {
        terrain_pull_to_level(grid, 160, fraction);
        EXPECT_EQ(snapshot(), before) << fraction;
    }
    terrain_pull_to_level(grid, 300, 1.5f);
    for (int32_t y = 1; y <= 513; y++)
        for (int32_t x = 1; x <= 513; x++)
            ASSERT_EQ(grid_get(grid, x, y), 255);
    terrain_pull_to_level(grid, -20, 1.0f);
    for (int32_t y = 1; y <= 513; y++)
        for (int32_t x = 1; x <= 513; x++)
            ASSERT_EQ(grid_get(grid, x, y), 0);
    EXPECT_EQ(cell(snapshot(), 0, 5), 0); // elements outside the usable cells are left alone
    EXPECT_EQ(cell(snapshot(), 5, 0), 0);
}

TEST_F(TerrainFilters, JitterWithChanceZeroStillDrawsOncePerCell) {
    fill_random(4);
    std::vector<int32_t> before = snapshot();
    random_seed(9);
    RanrotState start = ranrot_state;
    EXPECT_EQ(terrain_jitter(grid, 0, 2), 0);
    EXPECT_TRUE(advanced_by(start, ranrot_state, 263169));
    EXPECT_EQ(snapshot(), before);
    random_seed(9);
    terrain_jitter(grid, -7, 2); // below 0 acts as 0
    EXPECT_TRUE(advanced_by(start, ranrot_state, 263169));
    EXPECT_EQ(snapshot(), before);
}

TEST_F(TerrainFilters, JitterOutcomesWithAmountTwo) {
    const std::set<int32_t> outcomes[] = {{0, 1, 2}, {128, 129}, {199, 200, 201}, {254}};
    const int32_t heights[] = {0, 128, 200, 255};
    under_every_rounding_mode([&] {
        for (int32_t k = 0; k < 4; k++) {
            SCOPED_TRACE(heights[k]);
            fill(heights[k]);
            std::vector<bool> chosen = jitter_choices(255, 2, 11 + k);
            std::set<int32_t> seen;
            int32_t index = 0, chosen_count = 0;
            for (int32_t y = 1; y <= 513; y++) {
                for (int32_t x = 1; x <= 513; x++, index++) {
                    int32_t v = grid_get(grid, x, y);
                    if (chosen[index])
                        seen.insert(v), chosen_count++;
                    else
                        ASSERT_EQ(v, heights[k]) << x << "," << y;
                }
            }
            EXPECT_EQ(seen, outcomes[k]);
            EXPECT_GT(chosen_count, 262000); // all but about 1 in 256
        }
    });
}

TEST_F(TerrainFilters, JitterMatchesDirectComputation) {
    // Small amounts take a table of raised heights, larger ones work each cell out; heights
    // outside 0..255 always take the second way.
    for (int32_t amount : {2, 7, 16, 17, 255}) {
        SCOPED_TRACE(amount);
        fill_random(20 + amount);
        for (int32_t k = 0; k < 2000; k++)
            grid_set(grid, 1 + k * 37 % 513, 1 + k * 101 % 513, k % 2 ? -40 - k : 256 + k);
        std::vector<int32_t> before = snapshot();
        random_seed(30);
        RanrotState start = ranrot_state;
        terrain_jitter(grid, 128, amount);
        std::vector<int32_t> after = snapshot();
        ranrot_state = start;
        int32_t changed = 0;
        for (int32_t y = 1; y <= 513; y++) {
            for (int32_t x = 1; x <= 513; x++) {
                int32_t v = cell(before, x, y);
                int32_t expected = v;
                if (random_upto(255) < 128) {
                    int32_t t = v + amount - random_upto(amount);
                    t = t < 0 ? 0 : t > 255 ? 255 : t;
                    double blended = (v * double(amount) + t * (255.0 - amount)) / 256.0;
                    expected = int32_t(nearbyint(blended));
                    expected = expected < 0 ? 0 : expected > 255 ? 255 : expected;
                    changed++;
                }
                ASSERT_EQ(cell(after, x, y), expected) << x << "," << y;
            }
        }
        EXPECT_NEAR(changed, 263169 / 2, 2000);
    }
}

TEST_F(TerrainFilters, JitterClampsChanceAndAmount) {
    fill_random(6);
    std::vector<int32_t> start = snapshot();
    auto jittered = [&](int32_t chance, int32_t amount) {
        memcpy(grid.data, start.data(), start.size() * sizeof(int32_t));
        random_seed(12);
        terrain_jitter(grid, chance, amount);
        return snapshot();
    };
    EXPECT_EQ(jittered(1000, 2), jittered(255, 2));
    EXPECT_EQ(jittered(128, 300), jittered(128, 255));
    EXPECT_EQ(jittered(128, -3), jittered(128, 0));
    EXPECT_NE(jittered(128, 0), start); // amount 0 still blends with weight 255/256
}

// Smoothing as written: 25 reads per cell, in place.
static void reference_smooth(std::vector<int32_t> &cells) {
    for (int32_t y = 3; y <= 509; y++) {
        for (int32_t x = 3; x <= 509; x++) {
            int32_t sum = 0;
            for (int32_t j = y - 2; j <= y + 2; j++)
                for (int32_t i = x - 2; i <= x + 2; i++)
                    sum += cell(cells, i, j);
            cells[size_t(x) * GRID_SIZE + y] = sum / 25;
        }
    }
}

TEST_F(TerrainFilters, SmoothKeepsAConstantGrid) {
    fill(100);
    std::vector<int32_t> before = snapshot();
    EXPECT_EQ(terrain_smooth(grid), 0);
    EXPECT_EQ(snapshot(), before);
}

TEST_F(TerrainFilters, SmoothSpreadsASinglePeakForwardInScanOrder) {
    grid_set(grid, 256, 256, 250);
    terrain_smooth(grid);
    EXPECT_EQ(grid_get(grid, 256, 256), 15);
    EXPECT_EQ(grid_get(grid, 254, 254), 10);
    EXPECT_EQ(grid_get(grid, 255, 256), 14);
    EXPECT_EQ(grid_get(grid, 257, 256), 4);
    int32_t min_x = 999, max_x = 0, min_y = 999, max_y = 0;
    for (int32_t y = 1; y <= 513; y++) {
        for (int32_t x = 1; x <= 513; x++) {
            if (!grid_get(grid, x, y)) continue;
            min_x = x < min_x ? x : min_x, max_x = x > max_x ? x : max_x;
            min_y = y < min_y ? y : min_y, max_y = y > max_y ? y : max_y;
        }
    }
    EXPECT_EQ(min_x, 253);
    EXPECT_EQ(max_x, 260);
    EXPECT_EQ(min_y, 254);
    EXPECT_EQ(max_y, 258);
}

TEST_F(TerrainFilters, SmoothMatchesTheInPlaceBoxMeanAndSparesTheBorder) {
    for (uint32_t seed : {7u, 8u}) {
        fill_random(seed);
        std::vector<int32_t> expected = snapshot();
        reference_smooth(expected);
        std::vector<int32_t> before = snapshot();
        terrain_smooth(grid);
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
        EXPECT_GT(changed, 200000);
    }
}

TEST_F(TerrainFilters, InvertMirrorsEveryUsableCell) {
    EXPECT_EQ(terrain_invert(grid), 0);
    for (int32_t y = 0; y <= 513; y++)
        for (int32_t x = 0; x <= 513; x++)
            ASSERT_EQ(grid.data[x * GRID_SIZE + y], x && y ? 255 : 0) << x << "," << y;

    fill_random(5);
    std::vector<int32_t> before = snapshot();
    terrain_invert(grid);
    for (int32_t y = 1; y <= 513; y++)
        for (int32_t x = 1; x <= 513; x++)
            ASSERT_EQ(grid_get(grid, x, y), 255 - cell(before, x, y));
    terrain_invert(grid);
    EXPECT_EQ(snapshot(), before);
}

TEST(TerrainFiltersUnallocated, DoNothing) {
    HeightGrid unallocated = {};
    random_seed(1);
    RanrotState start = ranrot_state;
    EXPECT_EQ(terrain_pull_to_level(unallocated, 160, 0.05f), 0);
    EXPECT_EQ(terrain_jitter(unallocated, 128, 2), 0);
    EXPECT_EQ(terrain_smooth(unallocated), 0);
    EXPECT_EQ(terrain_invert(unallocated), 0);
    EXPECT_TRUE(advanced_by(start, ranrot_state, 0));
}

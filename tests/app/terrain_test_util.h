#pragma once
// Shared by the terrain tests: a fresh grid per test, its copies, draw counts, rounding modes.
#include "app/grid.h"
#include "runtime/core/array.h"
#include "runtime/core/random.h"
#include "tests/support/test_support.h"
#include <fenv.h>
#include <math.h>
#include <string.h>
#include <vector>

class TerrainGridTest : public testing::Test {
  protected:
    HeightGrid grid = {};
    void SetUp() override { ASSERT_TRUE(grid_alloc(grid)); }
    void TearDown() override {
        array_free(grid.data);
        EXPECT_TRUE(runtime_heaps_valid());
    }

    // Every element, index 0 and the spare one included, so stray writes show.
    std::vector<int32_t> snapshot() const {
        return std::vector<int32_t>(grid.data, grid.data + GRID_SIZE * GRID_SIZE);
    }

    void fill(int32_t value) {
        for (int32_t y = 1; y <= GRID_LAST; y++)
            for (int32_t x = 1; x <= GRID_LAST; x++)
                grid_set(grid, x, y, value);
    }

    // Random heights from the seed; with `out_of_range`, heights outside 0..255 in 2000 cells,
    // written past grid_set as no operation writes them.
    void fill_random(uint32_t seed, bool out_of_range = false) {
        random_seed(seed);
        for (int32_t y = 1; y <= GRID_LAST; y++)
            for (int32_t x = 1; x <= GRID_LAST; x++)
                grid_set(grid, x, y, random_upto(255));
        for (int32_t k = 0; out_of_range && k < 2000; k++)
            grid.data[(1 + k * 37 % 513) * GRID_SIZE + 1 + k * 101 % 513] =
                k % 2 ? -40 - k : 256 + k;
    }
};

// The integer nearest to v, ties to even, in any rounding mode.
inline double round_even(double v) {
    double below = floor(v), rest = v - below;
    return rest > 0.5 || (rest == 0.5 && fmod(below, 2.0) != 0.0) ? below + 1 : below;
}

// A height held to 0..255, as grid_set stores it; NaN as 0, as the code's rounding gives it.
inline int32_t held_height(double v) {
    return !(v > 0) ? 0 : v > 255 ? 255 : int32_t(v);
}

inline int32_t cell(const std::vector<int32_t> &cells, int32_t x, int32_t y) {
    return cells[size_t(x) * GRID_SIZE + y];
}

// True when the generator, started from `before`, stands exactly where `steps` draws take it.
inline bool advanced_by(RanrotState before, RanrotState after, int32_t steps) {
    RanrotState saved = ranrot_state;
    ranrot_state = before;
    for (int32_t k = 0; k < steps; k++)
        random_upto(-1);
    bool same = memcmp(&ranrot_state, &after, sizeof after) == 0;
    ranrot_state = saved;
    return same;
}

// Runs body once under each rounding mode, after checking that the mode reaches the
// double arithmetic the code uses; restores round-to-nearest afterwards.
template <typename Body> void under_every_rounding_mode(Body body) {
    volatile double one = 1.0, three = 3.0;
    fesetround(FE_UPWARD);
    double up = one / three;
    fesetround(FE_DOWNWARD);
    double down = one / three;
    fesetround(FE_TONEAREST);
    ASSERT_NE(up, down) << "rounding modes do not reach double arithmetic";
    for (int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
        SCOPED_TRACE(mode);
        fesetround(mode);
        body();
        fesetround(FE_TONEAREST);
    }
}

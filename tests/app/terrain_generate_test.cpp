#include "app/terrain.h"
#include "app/terrain_draw.h"
#include "runtime/core/random.h"
#include "tests/app/terrain_test_util.h"
#include <math.h>

namespace {

// Dictates every draw of the generator: always `value`. Counts the draws.
struct ConstantDraws {
    static int32_t value;
    static int32_t count;
    static int32_t other_max; // a bound other than 1, if the generator ever asks for one
    static int32_t draw(int32_t max) {
        count++;
        if (max != 1) other_max = max;
        return value;
    }
    explicit ConstantDraws(int32_t v) {
        value = v;
        count = 0;
        other_max = 1;
        terrain_draw = draw;
    }
    ~ConstantDraws() { terrain_draw = random_upto; }
};
int32_t ConstantDraws::value, ConstantDraws::count, ConstantDraws::other_max;

// A second, plain version of the subdivision, written from the algorithm's description:
// floats for every stored value, the C library's rounding in the default mode, direct
// writes into a copy of the grid.
struct ReferenceTerrain {
    std::vector<int32_t> cells;

    explicit ReferenceTerrain(std::vector<int32_t> start) : cells(std::move(start)) {}

    void generate() {
        float c[4];
        for (float &corner : c)
            corner = float(random_upto(1));
        rect(1.0f, 1.0f, 513.0f, 513.0f, c[0], c[1], c[2], c[3]);
    }

    void rect(float x, float y, float w, float h, float c1, float c2, float c3, float c4) {
        double sum = double(c1) + double(c2) + double(c3) + double(c4);
        if (w <= 2.0f && h <= 2.0f) {
            float a = float(sum / 4.0);
            double v = nearbyint(double(a) * 255.0);
            cells[size_t(int(x)) * GRID_SIZE + size_t(int(y))] = int32_t(v); // a lies in 0..1
            return;
        }
        float hw = float(double(w) / 2.0), hh = float(double(h) / 2.0);
        double r = random_upto(1);
        float d = float((r - 0.5) * ((double(hw) + double(hh)) / 1026.0 * 3.0));
        float m = float(sum / 4.0 + double(d));
        m = m < 0.0f ? 0.0f : m > 1.0f ? 1.0f : m;
        float top = float((double(c1) + double(c2)) / 2.0);
        float right = float((double(c2) + double(c3)) / 2.0);
        float bottom = float((double(c3) + double(c4)) / 2.0);
        float left = float((double(c4) + double(c1)) / 2.0);
        float x2 = float(double(x) + double(hw)), y2 = float(double(y) + double(hh));
        rect(x, y, hw, hh, c1, top, m, left);
        rect(x2, y, hw, hh, top, c2, right, m);
        rect(x2, y2, hw, hh, m, right, c3, bottom);
        rect(x, y2, hw, hh, left, m, bottom, c4);
    }
};

// Cells whose value differs between two copies of the grid, as (x, y, new value).
struct Change {
    int32_t x, y, value;
    bool operator==(const Change &o) const { return x == o.x && y == o.y && value == o.value; }
    friend std::ostream &operator<<(std::ostream &out, const Change &c) {
        return out << "(" << c.x << "," << c.y << ")=" << c.value;
    }
};

std::vector<Change> changes(const std::vector<int32_t> &before, const std::vector<int32_t> &after) {
    std::vector<Change> result;
    for (int32_t y = 0; y < GRID_SIZE; y++)
        for (int32_t x = 0; x < GRID_SIZE; x++)
            if (cell(before, x, y) != cell(after, x, y))
                result.push_back({x, y, cell(after, x, y)});
    return result;
}

} // namespace

class TerrainGenerate : public TerrainGridTest {};

TEST_F(TerrainGenerate, FourByFourSplitsOnceIntoFourLeaves) {
    fill(7);
    std::vector<int32_t> before = snapshot();
    ConstantDraws ones(1);
    EXPECT_EQ(terrain_subdivide(grid, 1.0f, 1.0f, 4.0f, 4.0f, 1.0f, 0.0f, 0.0f, 0.0f), 0);
    EXPECT_EQ(ConstantDraws::count, 1);
    std::vector<Change> expected = {{1, 1, 144}, {3, 1, 48}, {1, 3, 48}, {3, 3, 16}};
    EXPECT_EQ(changes(before, snapshot()), expected);
}

TEST_F(TerrainGenerate, OnlySizesAboveTwoSplit) {
    fill(7);
    std::vector<int32_t> before = snapshot();
    ConstantDraws ones(1);
    terrain_subdivide(grid, 5.0f, 9.0f, 2.0f, 2.0f, 0.5f, 0.5f, 0.5f, 0.5f);
    EXPECT_EQ(ConstantDraws::count, 0);
    EXPECT_EQ(changes(before, snapshot()), (std::vector<Change>{{5, 9, 128}}));

    // Just above 2.0 in either direction splits: one draw, four leaves.
    terrain_subdivide(grid, 20.0f, 20.0f, nextafterf(2.0f, 3.0f), 2.0f, 0, 0, 0, 0);
    EXPECT_EQ(ConstantDraws::count, 1);
    terrain_subdivide(grid, 30.0f, 30.0f, 1.0f, 2.5f, 0, 0, 0, 0);
    EXPECT_EQ(ConstantDraws::count, 2);
    EXPECT_EQ(ConstantDraws::other_max, 1);
}

TEST_F(TerrainGenerate, LeafPositionIsTruncatedAndValueRoundedToEvenInEveryMode) {
    under_every_rounding_mode([&] {
        // 0.5 * 255 = 127.5 goes to the even 128; 63.75 to 64; 191.25 to 191.
        terrain_subdivide(grid, 10.9f, 11.99f, 1.5f, 1.5f, 0.5f, 0.5f, 0.5f, 0.5f);
        EXPECT_EQ(grid_get(grid, 10, 11), 128);
        terrain_subdivide(grid, 12.0f, 11.0f, 2.0f, 2.0f, 1.0f, 0.0f, 0.0f, 0.0f);
        EXPECT_EQ(grid_get(grid, 12, 11), 64);
        terrain_subdivide(grid, 14.0f, 11.0f, 2.0f, 2.0f, 1.0f, 1.0f, 1.0f, 0.0f);
        EXPECT_EQ(grid_get(grid, 14, 11), 191);
        // 1.5 / 4 * 255 = 95.625 is no tie: truncation would give 95.
        terrain_subdivide(grid, 16.0f, 11.0f, 2.0f, 2.0f, 1.0f, 0.5f, 0.0f, 0.0f);
        EXPECT_EQ(grid_get(grid, 16, 11), 96);
    });
}

TEST_F(TerrainGenerate, OnlyTheCentreIsClamped) {
    ConstantDraws ones(1);
    // Centre 2 + d clamps to 1: the bottom-right leaf is 1/4, not about 1/2.
    terrain_subdivide(grid, 1.0f, 1.0f, 4.0f, 4.0f, 8.0f, 0.0f, 0.0f, 0.0f);
    EXPECT_EQ(grid_get(grid, 3, 3), 64);
    // Top edge 1.5 stays 1.5: the top-right leaf is (1.5 + 1 + 0.5 + 0.7558) / 4.
    terrain_subdivide(grid, 11.0f, 1.0f, 4.0f, 4.0f, 2.0f, 1.0f, 0.0f, 0.0f);
    EXPECT_EQ(grid_get(grid, 13, 1), 239);
    ConstantDraws zeros(0);
    // Centre -1.75 - d clamps to 0: the bottom-right leaf is (0 + 0.5 + 1 + 0.5) / 4.
    terrain_subdivide(grid, 21.0f, 1.0f, 4.0f, 4.0f, -8.0f, 0.0f, 1.0f, 0.0f);
    EXPECT_EQ(grid_get(grid, 23, 3), 128);
}

TEST_F(TerrainGenerate, StoredValuesAreRoundedToFloat) {
    // The mean 0.5 - 2^-27 is stored as the float 0.5, which gives 128; kept in double it
    // would give 127.
    terrain_subdivide(grid, 1.0f, 1.0f, 2.0f, 2.0f, 0.5f, 0.5f, 0.5f, 0x1.fffffep-2f);
    EXPECT_EQ(grid_get(grid, 1, 1), 128);
    // Corners found by search where a displacement kept in double would move the top-right
    // leaf from 22 to 21.
    ConstantDraws ones(1);
    terrain_subdivide(grid, 1.0f, 1.0f, 4.0f, 4.0f, 0x1.b305cp-6f, 0x1.28fa8p-5f, 0x1.741478p-3f,
                      0x1.7fa7c8p-2f);
    EXPECT_EQ(grid_get(grid, 3, 1), 22);
}

TEST_F(TerrainGenerate, ConstantDrawsGiveAFlatTerrain) {
    for (int32_t draw : {0, 1}) {
        SCOPED_TRACE(draw);
        fill(7);
        ConstantDraws constant(draw);
        EXPECT_EQ(terrain_generate(grid), 0);
        EXPECT_EQ(ConstantDraws::count, 87385);
        int32_t expected = draw ? 255 : 0;
        for (int32_t y = 1; y <= 513; y++)
            for (int32_t x = 1; x <= 513; x++)
                ASSERT_EQ(grid_get(grid, x, y), x == 513 || y == 513 ? 7 : expected)
                    << x << "," << y;
    }
}

TEST_F(TerrainGenerate, FullGenerationCounts) {
    // A mark no height can take, so every written cell shows.
    for (int32_t y = 1; y <= 513; y++)
        for (int32_t x = 1; x <= 513; x++)
            grid.data[x * GRID_SIZE + y] = -1;
    random_seed(5);
    RanrotState before = ranrot_state;
    terrain_generate(grid);
    int32_t draws = 87385;
    EXPECT_TRUE(advanced_by(before, ranrot_state, draws));
    EXPECT_FALSE(advanced_by(before, ranrot_state, draws - 1));

    int32_t written = 0;
    for (int32_t y = 1; y <= 513; y++) {
        for (int32_t x = 1; x <= 513; x++) {
            int32_t v = grid.data[x * GRID_SIZE + y];
            bool inside = x <= 512 && y <= 512;
            ASSERT_EQ(v != -1, inside) << x << "," << y;
            if (inside) {
                ASSERT_TRUE(v >= 0 && v <= 255);
            }
            written += v != -1;
        }
    }
    EXPECT_EQ(written, 262144);
    // Each call either splits (one draw, four calls below it) or is a leaf (one cell).
    int32_t splits = draws - 4;
    int32_t calls = 1 + 4 * splits;
    EXPECT_EQ(calls - splits, written);
    EXPECT_EQ(calls, 349525);
}

TEST_F(TerrainGenerate, SameSeedSameTerrain) {
    random_seed(42);
    terrain_generate(grid);
    std::vector<int32_t> first = snapshot();
    fill(200);
    random_seed(42);
    terrain_generate(grid);
    std::vector<int32_t> second = snapshot();
    random_seed(43);
    terrain_generate(grid);
    std::vector<int32_t> third = snapshot();
    int32_t differing = 0;
    for (int32_t y = 1; y <= 512; y++) {
        for (int32_t x = 1; x <= 512; x++) {
            ASSERT_EQ(cell(first, x, y), cell(second, x, y));
            differing += cell(first, x, y) != cell(third, x, y);
        }
    }
    EXPECT_GT(differing, 10000);
}

TEST_F(TerrainGenerate, MatchesIndependentComputation) {
    for (uint32_t seed : {1u, 2u, 0xC0FFEEu}) {
        SCOPED_TRACE(seed);
        fill_random(seed);
        ReferenceTerrain reference(snapshot());
        RanrotState before = ranrot_state;
        terrain_generate(grid);
        RanrotState after = ranrot_state;
        ranrot_state = before;
        reference.generate();
        EXPECT_EQ(memcmp(&ranrot_state, &after, sizeof after), 0);
        std::vector<int32_t> actual = snapshot();
        int32_t mismatches = 0;
        for (size_t k = 0; k < actual.size(); k++)
            mismatches += actual[k] != reference.cells[k];
        EXPECT_EQ(mismatches, 0);
    }
}

TEST_F(TerrainGenerate, UnusableInputsWriteAndDrawNothing) {
    fill(7);
    std::vector<int32_t> before = snapshot();
    ConstantDraws ones(1);
    terrain_subdivide(grid, 1.0f, 1.0f, INFINITY, 4.0f, 0, 0, 0, 0);
    terrain_subdivide(grid, 1.0f, 1.0f, 4.0f, INFINITY, 0, 0, 0, 0);
    EXPECT_EQ(ConstantDraws::count, 0);
    EXPECT_EQ(snapshot(), before);

    HeightGrid unallocated = {};
    EXPECT_EQ(terrain_generate(unallocated), 0);
    EXPECT_EQ(terrain_subdivide(unallocated, 1.0f, 1.0f, 4.0f, 4.0f, 0, 0, 0, 0), 0);
    EXPECT_EQ(ConstantDraws::count, 0);
}

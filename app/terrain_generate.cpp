#include "app/terrain.h"
#include "app/terrain_draw.h"
#include "app/terrain_math.h"
#include "runtime/core/array.h"
#include "runtime/core/numeric.h"
#include "runtime/core/random.h"
#include <math.h>

int32_t (*terrain_draw)(int32_t max) = random_upto;

// Every expression is worked out in double and rounded to float where it is stored, so the
// terrain is the same whatever precision the compiler would otherwise keep in registers.
static float mean4(float c1, float c2, float c3, float c4) {
    return float((double(c1) + c2 + c3 + c4) / 4.0);
}

static float mean2(float a, float b) {
    return float((double(a) + b) / 2.0);
}

static void write_leaf(HeightGrid &grid, int32_t x, int32_t y, float c1, float c2, float c3,
                       float c4) {
    float a = mean4(c1, c2, c3, c4);
    grid_set(grid, x, y, round_height(double(a) * 255.0));
}

static float displaced_centre(float hw, float hh, float c1, float c2, float c3, float c4) {
    int32_t r = terrain_draw(1);
    float d = float((r - 0.5) * ((double(hw) + hh) / 1026.0 * 3.0));
    float m = float((double(c1) + c2 + c3 + c4) / 4.0 + d);
    if (m < 0.0f) m = 0.0f;
    if (m > 1.0f) m = 1.0f;
    return m;
}

static void split(HeightGrid &grid, float x, float y, float w, float h, float c1, float c2,
                  float c3, float c4);

// Quadrants that are leaves are written here rather than in calls of their own: three in four
// rectangles are leaves, and the four leaves of a split share their positions.
static void split_quadrants(HeightGrid &grid, float x, float y, float hw, float hh, float xm,
                            float ym, float c1, float c2, float c3, float c4, float m) {
    float e12 = mean2(c1, c2);
    float e23 = mean2(c2, c3);
    float e34 = mean2(c3, c4);
    float e41 = mean2(c4, c1);
    if (hw > 2.0f || hh > 2.0f) {
        split(grid, x, y, hw, hh, c1, e12, m, e41);
        split(grid, xm, y, hw, hh, e12, c2, e23, m);
        split(grid, xm, ym, hw, hh, m, e23, c3, e34);
        split(grid, x, ym, hw, hh, e41, m, e34, c4);
        return;
    }
    int32_t x0 = float_to_int(x), x1 = float_to_int(xm);
    int32_t y0 = float_to_int(y), y1 = float_to_int(ym);
    write_leaf(grid, x0, y0, c1, e12, m, e41);
    write_leaf(grid, x1, y0, e12, c2, e23, m);
    write_leaf(grid, x1, y1, m, e23, c3, e34);
    write_leaf(grid, x0, y1, e41, m, e34, c4);
}

// Splits a rectangle that is wider or taller than 2.
static void split(HeightGrid &grid, float x, float y, float w, float h, float c1, float c2,
                  float c3, float c4) {
    // Halving an infinite size never reaches a leaf; such a rectangle is left alone.
    if (isinf(w) || isinf(h)) return;
    float hw = float(double(w) / 2.0);
    float hh = float(double(h) / 2.0);
    float m = displaced_centre(hw, hh, c1, c2, c3, c4);
    float xm = float(double(x) + hw);
    float ym = float(double(y) + hh);
    split_quadrants(grid, x, y, hw, hh, xm, ym, c1, c2, c3, c4, m);
}

static void subdivide(HeightGrid &grid, float x, float y, float w, float h, float c1, float c2,
                      float c3, float c4) {
    if (w > 2.0f || h > 2.0f)
        split(grid, x, y, w, h, c1, c2, c3, c4);
    else
        write_leaf(grid, float_to_int(x), float_to_int(y), c1, c2, c3, c4);
}

int32_t terrain_subdivide(HeightGrid &grid, float x, float y, float w, float h, float c1, float c2,
                          float c3, float c4) {
    if (grid.data) subdivide(grid, x, y, w, h, c1, c2, c3, c4);
    return 0;
}

int32_t terrain_generate(HeightGrid &grid) {
    if (!grid.data) return 0; // a grid that was never allocated has nothing to fill
    int32_t width = array_dim_size(grid.data, 1);
    int32_t height = array_dim_size(grid.data, 2);
    float c1 = float(terrain_draw(1));
    float c2 = float(terrain_draw(1));
    float c3 = float(terrain_draw(1));
    float c4 = float(terrain_draw(1));
    subdivide(grid, 1.0f, 1.0f, float(width), float(height), c1, c2, c3, c4);
    return 0;
}

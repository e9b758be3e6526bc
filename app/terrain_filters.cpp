#include "app/terrain.h"
#include "app/terrain_math.h"
#include "runtime/core/random.h"

static int32_t clamp_int(int32_t v, int32_t low, int32_t high) {
    return v < low ? low : v > high ? high : v;
}

// A height times the float fraction is exact in double, so the final rounding alone decides.
static int32_t pulled_height(int32_t v, int32_t level, double fraction) {
    double dv = v;
    if (v > level) return round_height(dv - (dv - level) * fraction);
    if (v < level) return round_height(dv + (level - dv) * fraction);
    return clamp_int(v, 0, 255);
}

int32_t terrain_pull_to_level(HeightGrid &grid, int32_t level, float fraction) {
    if (!grid.data) return 0;
    if (!(fraction > 0.0f)) fraction = 0.0f; // NaN as well: it pulls nothing
    if (fraction > 1.0f) fraction = 1.0f;
    level = clamp_int(level, 0, 255);
    // The result depends on the height alone, so each of the 256 is worked out once.
    int32_t pulled[256];
    for (int32_t v = 0; v < 256; v++)
        pulled[v] = pulled_height(v, level, fraction);
    for (int32_t y = 1; y <= GRID_LAST; y++) {
        for (int32_t x = 1; x <= GRID_LAST; x++) {
            int32_t v = grid_get(grid, x, y);
            int32_t n = uint32_t(v) < 256u ? pulled[v] : pulled_height(v, level, fraction);
            grid_set(grid, x, y, n);
        }
    }
    return 0;
}

int32_t terrain_jitter(HeightGrid &grid, int32_t chance, int32_t amount) {
    if (!grid.data) return 0;
    chance = clamp_int(chance, 0, 255);
    amount = clamp_int(amount, 0, 255);
    // The weights add up to 255 while the divisor is 256, which pulls high heights down a little.
    double wa = float(amount);
    double wb = float(255.0 - wa);
    // Every cell draws once or twice: the cells still to come bound every refill of the buffer.
    RandomBuffer words = {};
    int64_t cells_left = int64_t(GRID_LAST) * GRID_LAST;
    for (int32_t y = 1; y <= GRID_LAST; y++) {
        for (int32_t x = 1; x <= GRID_LAST; x++, cells_left--) {
            if (random_scale(words.take(cells_left), 255) >= chance) continue;
            int32_t v = grid_get(grid, x, y);
            int64_t t = int64_t(v) + amount - random_scale(words.take(cells_left), amount);
            t = t < 0 ? 0 : t > 255 ? 255 : t;
            grid_set(grid, x, y, round_height((v * wa + double(t) * wb) / 256.0));
        }
    }
    return 0;
}

// Sums of five cells of each column, rows y - 2..y + 2, kept as the window moves down, with
// the cells as they are at that moment: rewritten ones with their new values.
struct ColumnSums {
    int32_t sums[GRID_SIZE];
};

static int32_t column_sum(const HeightGrid &grid, int32_t x, int32_t y) {
    return grid_get(grid, x, y - 2) + grid_get(grid, x, y - 1) + grid_get(grid, x, y) +
           grid_get(grid, x, y + 1) + grid_get(grid, x, y + 2);
}

// Moves the sums of columns 1..511 from rows y - 3..y + 1 to rows y - 2..y + 2.
static void move_down(const HeightGrid &grid, ColumnSums &c, int32_t y) {
    for (int32_t x = 1; x <= 511; x++)
        c.sums[x] += grid_get(grid, x, y + 2) - grid_get(grid, x, y - 3);
}

// One row of the in-place 5 x 5 mean. The window's sum moves right a column at a time, and a
// column's sum takes the change of its cell when the cell is rewritten, so every mean sees
// exactly the values that 25 reads would see.
static void smooth_row(HeightGrid &grid, ColumnSums &c, int32_t y) {
    int32_t window = c.sums[1] + c.sums[2] + c.sums[3] + c.sums[4] + c.sums[5];
    for (int32_t x = 3; x <= 509; x++) {
        int32_t old = grid_get(grid, x, y);
        grid_set(grid, x, y, window / 25);
        int32_t change = grid_get(grid, x, y) - old;
        c.sums[x] += change;
        if (x < 509) window += change - c.sums[x - 2] + c.sums[x + 3];
    }
}

int32_t terrain_smooth(HeightGrid &grid) {
    if (!grid.data) return 0;
    ColumnSums c;
    for (int32_t x = 1; x <= 511; x++)
        c.sums[x] = column_sum(grid, x, 3);
    for (int32_t y = 3; y <= 509; y++) {
        if (y > 3) move_down(grid, c, y);
        smooth_row(grid, c, y);
    }
    return 0;
}

int32_t terrain_invert(HeightGrid &grid) {
    if (!grid.data) return 0;
    for (int32_t y = 1; y <= GRID_LAST; y++)
        for (int32_t x = 1; x <= GRID_LAST; x++)
            grid_set(grid, x, y, 255 - grid_get(grid, x, y));
    return 0;
}

#include "app/terrain.h"
#include "app/terrain_math.h"
#include "runtime/core/random.h"
#include <emmintrin.h>
#include <string.h>

static int32_t clamp_int(int32_t v, int32_t low, int32_t high) {
    return v < low ? low : v > high ? high : v;
}

// A height times the float fraction is exact in double, so the final rounding alone decides.
static int32_t pulled_height(int32_t v, int32_t level, double fraction) {
    double dv = v;
    if (v > level) return round_height(dv - (dv - level) * fraction);
    if (v < level) return round_height(dv + (level - dv) * fraction);
    return clamp_int(v, 0, HEIGHT_MAX);
}

int32_t terrain_pull_to_level(HeightGrid &grid, int32_t level, float fraction) {
    if (!grid.data) return 0;
    if (!(fraction > 0.0f)) fraction = 0.0f; // NaN as well: it pulls nothing
    if (fraction > 1.0f) fraction = 1.0f;
    level = clamp_int(level, 0, HEIGHT_MAX);
    // The result depends on the height alone, so each height is worked out once.
    int32_t pulled[HEIGHT_LEVELS];
    for (int32_t v = 0; v < HEIGHT_LEVELS; v++)
        pulled[v] = pulled_height(v, level, fraction);
    for (int32_t y = 1; y <= GRID_LAST; y++) {
        for (int32_t x = 1; x <= GRID_LAST; x++) {
            int32_t v = grid_get(grid, x, y);
            int32_t n = uint32_t(v) < uint32_t(HEIGHT_LEVELS) ? pulled[v]
                                                              : pulled_height(v, level, fraction);
            grid_set(grid, x, y, n);
        }
    }
    return 0;
}

// round_height((v * wa + t * wb) / 256.0) in integers: the weights wa = amount and
// wb = 255 - amount are whole, so that expression is exact in double, and its rounding is
// the rounding of n / 256, ties to even.
static int32_t blended_height(int32_t v, int32_t t, int32_t amount) {
    int64_t n = int64_t(v) * amount + int64_t(t) * (255 - amount);
    if (n <= 0) return 0;
    if (n >= 255 * 256) return 255;
    int32_t whole = int32_t(n >> 8), rest = int32_t(n & 255);
    return whole + ((rest > 128) | ((rest == 128) & whole & 1));
}

// A row of the jitter takes at most two words per cell, and may read one word past its last.
const int32_t ROW_WORDS = 2 * GRID_LAST + 1;
const int32_t BUFFER_WORDS = 4 * ROW_WORDS;
const int32_t ROW_BITS = (GRID_LAST + 63) / 64; // 64-bit words of one bit per cell of a row

// The jitter's draws, fetched from the generator in runs. Every cell draws once or twice, so
// the cells still to come bound how many words may be fetched ahead: the generator's state
// moves exactly as with one random_upto per draw.
struct JitterWords {
    uint32_t words[BUFFER_WORDS + 3]; // groups of four may be read up to three past the end
    int32_t next;
    int32_t count;
};

// Makes `wanted` words available from `next` on, or as many as `certain`, the draws the cells
// still to come will make at the least, allows.
static void fetch_ahead(JitterWords &w, int32_t wanted, int64_t certain) {
    if (w.count - w.next >= wanted) return;
    int32_t kept = w.count - w.next;
    memmove(w.words, w.words + w.next, size_t(kept) * sizeof(uint32_t));
    int64_t allowed = certain < BUFFER_WORDS ? certain : BUFFER_WORDS;
    int32_t fetched = allowed > kept ? int32_t(allowed) - kept : 0;
    random_words(w.words + kept, fetched);
    w.next = 0;
    w.count = kept + fetched;
}

// Bit k tells whether word next + k, taken as the first draw of a cell, chooses the cell: for
// the words a row may take, and one 64-bit word more, all clear.
struct ChoosingBits {
    uint64_t bits[(ROW_WORDS + 63) / 64 + 1];
};

static void mark_choosing_words(const JitterWords &w, int32_t chance, ChoosingBits &c) {
    const __m128i limit = _mm_set1_epi32(chance);
    const uint32_t *words = w.words + w.next;
    for (int32_t i = 0; i < int32_t(sizeof c.bits / sizeof c.bits[0]); i++) {
        uint64_t bits = 0;
        for (int32_t g = 0; g < 16 && 64 * i + 4 * g < ROW_WORDS; g++) {
            __m128i four =
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(words + 64 * i + 4 * g));
            __m128i chooses =
                _mm_cmplt_epi32(_mm_srli_epi32(four, 24), limit); // random_scale(, 255)
            bits |= uint64_t(_mm_movemask_ps(_mm_castsi128_ps(chooses))) << (4 * g);
        }
        c.bits[i] = bits;
    }
}

// The 64 choosing bits from word `position` on.
static uint64_t choosing_from(const ChoosingBits &c, int32_t position) {
    int32_t i = position / 64, shift = position % 64;
    return c.bits[i] >> shift | (c.bits[i + 1] << 1) << (63 - shift);
}

// Which cells of a row the first draw chooses, a bit per cell. A cell's first draw is the word
// after the draws of the cells before it, one or two each, so the choices form a chain through
// the row; it is followed in a register of choosing bits, with no branch on the choices, which
// are as good as random. Answers the number of words the row takes.
static int32_t choose_in_row(const ChoosingBits &c, uint64_t *row) {
    uint64_t window = choosing_from(c, 0);
    int32_t position = 0, in_window = 64;
    for (int32_t i = 0; i < ROW_BITS; i++) {
        uint64_t cells = 0;
        int32_t width = i < ROW_BITS - 1 ? 64 : GRID_LAST - 64 * i;
        for (int32_t bit = 0; bit < width; bit++) {
            uint64_t chosen = window & 1;
            cells |= chosen << bit;
            int32_t taken = 1 + int32_t(chosen);
            window >>= taken;
            position += taken;
            in_window -= taken;
            if (in_window <= 0) {
                window = choosing_from(c, position);
                in_window = 64;
            }
        }
        row[i] = cells;
    }
    return position;
}

// The same choices one draw at a time, for the last rows, which cannot fetch a row ahead. The
// chosen cells' second draws are kept in `raises`.
static void choose_in_row_by_draw(JitterWords &w, int32_t chance, uint64_t *row, uint32_t *raises,
                                  int64_t cells_left) {
    for (int32_t i = 0; i < ROW_BITS; i++)
        row[i] = 0;
    for (int32_t x = 0; x < GRID_LAST; x++, cells_left--) {
        fetch_ahead(w, 1, cells_left);
        if (random_scale(w.words[w.next++], 255) >= chance) continue;
        fetch_ahead(w, 1, cells_left);
        row[x / 64] |= uint64_t(1) << (x % 64);
        raises[x] = w.words[w.next++];
    }
}

static int32_t raised_height(int32_t v, int32_t amount, int32_t scaled) {
    int64_t raised = int64_t(v) + amount - scaled;
    int32_t t = raised < 0 ? 0 : raised > HEIGHT_MAX ? HEIGHT_MAX : int32_t(raised);
    // The weights add up to 255 while the divisor is 256, which pulls high heights down a
    // little.
    return blended_height(v, t, amount);
}

// For a small amount, the raised heights of every height for every number a raise word can make
// (0..amount), worked out once per jitter.
const int32_t RAISE_TABLE_AMOUNT = 16;
struct RaiseTable {
    int32_t amount;
    bool filled;
    uint8_t heights[RAISE_TABLE_AMOUNT + 1][HEIGHT_LEVELS];
};

static void fill_raise_table(RaiseTable &table, int32_t amount) {
    table.amount = amount;
    table.filled = amount <= RAISE_TABLE_AMOUNT;
    if (!table.filled) return;
    for (int32_t scaled = 0; scaled <= amount; scaled++)
        for (int32_t v = 0; v < HEIGHT_LEVELS; v++)
            table.heights[scaled][v] = uint8_t(raised_height(v, amount, scaled));
}

static inline __attribute__((always_inline)) void
raise_cell(HeightGrid &grid, int32_t x, int32_t y, uint32_t word, const RaiseTable &table) {
    int32_t v = grid_get(grid, x, y);
    int32_t scaled = random_scale(word, table.amount);
    int32_t n = table.filled && uint32_t(v) < uint32_t(HEIGHT_LEVELS)
                    ? table.heights[scaled][v]
                    : raised_height(v, table.amount, scaled);
    grid_set(grid, x, y, n);
}

// Raises the chosen cells of row y. The k-th chosen cell (from 0), at x, took its first word
// at x + k, so its raise is the word after that.
static void raise_row(HeightGrid &grid, int32_t y, const uint64_t *row, const uint32_t *words,
                      const RaiseTable &table) {
    int32_t k = 0;
    for (int32_t i = 0; i < ROW_BITS; i++) {
        for (uint64_t bits = row[i]; bits; bits &= bits - 1, k++) {
            int32_t x = 64 * i + __builtin_ctzll(bits);
            raise_cell(grid, x + 1, y, words[x + k + 1], table);
        }
    }
}

int32_t terrain_jitter(HeightGrid &grid, int32_t chance, int32_t amount) {
    if (!grid.data) return 0;
    chance = clamp_int(chance, 0, 255);
    amount = clamp_int(amount, 0, 255);
    JitterWords w = {};
    ChoosingBits choosing;
    uint64_t row[ROW_BITS];
    uint32_t raises[GRID_LAST];
    RaiseTable table;
    fill_raise_table(table, amount);
    for (int32_t y = 1; y <= GRID_LAST; y++) {
        int64_t cells_left = int64_t(GRID_LAST) * (GRID_LAST + 1 - y);
        fetch_ahead(w, ROW_WORDS, cells_left);
        if (w.count - w.next >= ROW_WORDS) {
            mark_choosing_words(w, chance, choosing);
            int32_t taken = choose_in_row(choosing, row);
            raise_row(grid, y, row, w.words + w.next, table);
            w.next += taken;
            continue;
        }
        choose_in_row_by_draw(w, chance, row, raises, cells_left);
        for (int32_t i = 0; i < ROW_BITS; i++) {
            for (uint64_t bits = row[i]; bits; bits &= bits - 1) {
                int32_t x = 64 * i + __builtin_ctzll(bits);
                raise_cell(grid, x + 1, y, raises[x], table);
            }
        }
    }
    return 0;
}

const int32_t SMOOTH_CELLS = 25; // the 5 x 5 box each mean is taken over

// The five rows under the smoothing window, y - 2..y + 2, as the grid holds them at that moment
// (rewritten cells with their new values), row r in slot r % 5, and the sums of their columns.
// Each cell is read from the grid once, when its row enters the window.
struct SmoothBand {
    int32_t rows[5][GRID_SIZE];
    int32_t sums[GRID_SIZE];
};

// Takes the cell of column x in row `entering` into the slot of the row five above it, which
// leaves the window, and answers the column's new sum.
static int32_t move_down(const HeightGrid &grid, SmoothBand &band, int32_t x, int32_t entering) {
    int32_t *row = band.rows[entering % 5];
    int32_t v = grid_get(grid, x, entering);
    int32_t sum = band.sums[x] + v - row[x];
    band.sums[x] = sum;
    row[x] = v;
    return sum;
}

// What grid_set stores for sum / 25: the mean clamped to 0..HEIGHT_MAX. Clamping the sum first
// gives the same, and makes the division an unsigned one, which is shorter.
static int32_t clamped_mean(int32_t sum) {
    const int32_t largest = SMOOTH_CELLS * HEIGHT_LEVELS - 1; // the last sum whose mean is a height
    uint32_t clamped = sum < 0 ? 0u : sum > largest ? uint32_t(largest) : uint32_t(sum);
    return int32_t(clamped / uint32_t(SMOOTH_CELLS));
}

// One row of the in-place 5 x 5 mean; row y + 2 enters the band a column ahead of the window.
// The window's sum moves right a column at a time, and a column's sum takes the change of its
// cell when the cell is rewritten, so every mean sees exactly the values that 25 reads would
// see. The five column sums under the window are held in registers. Each mean waits for the
// one before it, so the next window's sum is prepared while the mean is worked out, and takes
// it last.
static void smooth_row(HeightGrid &grid, SmoothBand &band, int32_t y) {
    int32_t s1 = move_down(grid, band, 1, y + 2), s2 = move_down(grid, band, 2, y + 2);
    int32_t s3 = move_down(grid, band, 3, y + 2), s4 = move_down(grid, band, 4, y + 2);
    int32_t s5 = move_down(grid, band, 5, y + 2);
    int32_t window = s1 + s2 + s3 + s4 + s5;
    int32_t *row = band.rows[y % 5];
    for (int32_t x = 3; x <= 509; x++) {
        // s1..s5 are the sums of columns x - 2..x + 2.
        int32_t entering = x + 3 <= 511 ? move_down(grid, band, x + 3, y + 2) : 0;
        int32_t old = row[x];
        int32_t mean = clamped_mean(window);
        grid_set(grid, x, y, mean);
        row[x] = mean;
        s3 += mean - old;
        band.sums[x] = s3;
        int32_t others = window - old - s1 + entering;
        window = others + mean;
        s1 = s2, s2 = s3, s3 = s4, s4 = s5, s5 = entering;
    }
}

int32_t terrain_smooth(HeightGrid &grid) {
    if (!grid.data) return 0;
    // Rows 1..4 first; the window's first move takes in row 5 in place of an empty row 0.
    SmoothBand band;
    for (int32_t x = 1; x <= 511; x++)
        band.sums[x] = band.rows[0][x] = 0;
    for (int32_t y = 1; y <= 4; y++) {
        int32_t *row = band.rows[y % 5];
        for (int32_t x = 1; x <= 511; x++) {
            row[x] = grid_get(grid, x, y);
            band.sums[x] += row[x];
        }
    }
    for (int32_t y = 3; y <= 509; y++)
        smooth_row(grid, band, y);
    return 0;
}

int32_t terrain_invert(HeightGrid &grid) {
    if (!grid.data) return 0;
    for (int32_t y = 1; y <= GRID_LAST; y++)
        for (int32_t x = 1; x <= GRID_LAST; x++)
            grid_set(grid, x, y, HEIGHT_MAX - grid_get(grid, x, y));
    return 0;
}

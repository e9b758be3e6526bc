#include "app/terrain.h"
#include "app/terrain_math.h"
#include "runtime/core/array.h"
#include "runtime/core/numeric.h"
#include "runtime/core/random.h"
#include <emmintrin.h>
#include <math.h>

#ifdef HM_TEST_SEAMS
#include "app/terrain_draw.h"

int32_t (*terrain_draw)(int32_t max) = random_upto;

static int32_t corner_draw() {
    return terrain_draw(1);
}
#else
static int32_t corner_draw() {
    return random_upto(1);
}
#endif

// Every expression is worked out in double and rounded to float where it is stored, so the
// terrain is the same whatever precision the compiler would otherwise keep in registers.
//
// One generation visits 349,525 rectangles, so the work per rectangle is kept small: what
// depends on the size alone is worked out once per depth, and the splits just above the
// leaves write the leaves themselves, two at a time.

namespace {

struct Corners {
    float c1, c2, c3, c4; // clockwise from the top-left
};

// What a split depends on besides its position and corners. All rectangles at one depth
// have the same size, so each depth has one Level.
struct Level {
    float hw, hh;  // size of the quadrants
    double spread; // (hw + hh) / 1026 * 3: the displacement is half of it either way
    // The displacements for the draws 0 and 1, the only ones that random_upto(1) makes.
    float displacement[2];
    bool quadrants_split; // false when the quadrants are leaves
};

// A finite float is below 2^128, so halving it 127 times brings it to 2 or less.
const int32_t MAX_LEVELS = 128;

// A rectangle this large or smaller in both directions is a leaf: one cell.
const float LEAF_EXTENT = 2.0f;
// The spread of a displacement is (hw + hh) / SPREAD_DIVISOR * SPREAD_SCALE.
const double SPREAD_DIVISOR = 1026.0;
const double SPREAD_SCALE = 3.0;

// The four quadrants of a split, clockwise from the top-left.
struct Quadrants {
    float xm, ym; // where the right and the bottom quadrants start
    Corners q[4];
};

// Draws from the random generator a buffer at a time. A generation makes a known number of
// draws, one per split, which bounds every refill. In test builds a test may dictate them.
struct RandomDraws {
    RandomBuffer buffer;
    int64_t remaining;
    int32_t draw(int32_t max) {
#ifdef HM_TEST_SEAMS
        if (terrain_draw != random_upto) return terrain_draw(max);
#endif
        return random_scale(buffer.take(remaining--), max);
    }
};

struct Generation {
    HeightGrid &grid;
    RandomDraws &draws;
    const Level *leaf_level; // the depth of every split into leaves
};

float mean2(float a, float b) {
    return float((double(a) + b) / 2.0);
}

float mean4(const Corners &c) {
    return float((double(c.c1) + c.c2 + c.c3 + c.c4) / 4.0);
}

// float_to_int without a call for the positions of leaves, which are small and positive.
inline int32_t cell_index(float position) {
    if (fabsf(position) < 2147483648.0f) return int32_t(position);
    return float_to_int(position);
}

void write_leaf(HeightGrid &grid, float x, float y, const Corners &c) {
    float a = mean4(c);
    grid_set(grid, cell_index(x), cell_index(y), round_height(double(a) * HEIGHT_MAX));
}

// The heights of two leaves at once (SSE2, which both targets have) from the sums of their
// corners: the operations of write_leaf and round_height, so the same results.
inline __m128i leaf_height_pair(__m128d corner_sums) {
    const __m128d half = _mm_set1_pd(0.5);
    __m128d mean = _mm_cvtps_pd(_mm_cvtpd_ps(_mm_mul_pd(corner_sums, _mm_set1_pd(1.0 / 4.0))));
    __m128d v = _mm_mul_pd(mean, _mm_set1_pd(HEIGHT_MAX));
    // max answers its second operand for NaN, so NaN gives 0 as in round_height.
    v = _mm_min_pd(_mm_max_pd(v, _mm_setzero_pd()), _mm_set1_pd(HEIGHT_MAX));
    __m128i n = _mm_cvttpd_epi32(v);
    __m128d rest = _mm_sub_pd(v, _mm_cvtepi32_pd(n));
    // The comparisons give 64-bit masks; their low halves are moved next to the two integers.
    __m128i above = _mm_shuffle_epi32(_mm_castpd_si128(_mm_cmpgt_pd(rest, half)), 0x08);
    __m128i tie = _mm_shuffle_epi32(_mm_castpd_si128(_mm_cmpeq_pd(rest, half)), 0x08);
    __m128i up = _mm_and_si128(_mm_or_si128(above, _mm_and_si128(tie, n)), _mm_set1_epi32(1));
    return _mm_add_epi32(n, up);
}

// Two doubles, low lane first.
inline __m128d lanes(float low, float high) {
    return _mm_set_pd(double(high), double(low));
}

inline __m128d sum4(__m128d a, __m128d b, __m128d c, __m128d d) {
    return _mm_add_pd(_mm_add_pd(_mm_add_pd(a, b), c), d);
}

// The draws 0 and 1 take their level's displacement; any other, which only a test dictates,
// is worked out.
inline float displaced_centre(const Level &level, const Corners &c, int32_t r) {
    float d = uint32_t(r) <= 1u ? level.displacement[r] : float((r - 0.5) * level.spread);
    float m = float((double(c.c1) + c.c2 + c.c3 + c.c4) / 4.0 + d);
    m = m < 0.0f ? 0.0f : m; // without branches: the clamps are hard to predict
    return m > 1.0f ? 1.0f : m;
}

// A split's centre, edge midpoints and quadrants, once its draw r is known.
inline Quadrants quadrants(const Level &level, float x, float y, const Corners &c, int32_t r) {
    float m = displaced_centre(level, c, r);
    float e12 = mean2(c.c1, c.c2);
    float e23 = mean2(c.c2, c.c3);
    float e34 = mean2(c.c3, c.c4);
    float e41 = mean2(c.c4, c.c1);
    return {float(double(x) + level.hw),
            float(double(y) + level.hh),
            {{c.c1, e12, m, e41}, {e12, c.c2, e23, m}, {m, e23, c.c3, e34}, {e41, m, e34, c.c4}}};
}

// Writes the four leaves of a split with draw r: top-left, top-right, bottom-right,
// bottom-left. Always inlined into the split above: a call per split cost a tenth of the
// generation.
inline __attribute__((always_inline)) void
write_leaves(HeightGrid &grid, const Level &level, float x, float y, const Corners &c, int32_t r) {
    Quadrants q = quadrants(level, x, y, c, r);
    // The nine points by rows: (c1, e12, c2), (e41, m, e23), (c4, e34, c3). Each leaf sums
    // its corners clockwise from its top-left one, as write_leaf does.
    float e12 = q.q[0].c2, e41 = q.q[0].c4, m = q.q[0].c3, e23 = q.q[2].c2, e34 = q.q[2].c4;
    __m128d top_left = lanes(c.c1, e12), top_right = lanes(e12, c.c2);
    __m128d middle_left = lanes(e41, m), middle_right = lanes(m, e23);
    __m128d bottom_left = lanes(c.c4, e34), bottom_right = lanes(e34, c.c3);
    __m128i upper = leaf_height_pair(sum4(top_left, top_right, middle_right, middle_left));
    __m128i lower = leaf_height_pair(sum4(middle_left, middle_right, bottom_right, bottom_left));
    int32_t x0 = cell_index(x), x1 = cell_index(q.xm);
    int32_t y0 = cell_index(y), y1 = cell_index(q.ym);
    int32_t top_left_height = _mm_cvtsi128_si32(upper);
    int32_t top_right_height = _mm_cvtsi128_si32(_mm_srli_si128(upper, 4));
    int32_t bottom_right_height = _mm_cvtsi128_si32(_mm_srli_si128(lower, 4));
    int32_t bottom_left_height = _mm_cvtsi128_si32(lower);
    // What grid_set does, with one bounds test for the four cells; the heights lie in the
    // height range already, so its clamp has nothing to do.
    if (grid_is_cell(x0) & grid_is_cell(x1) & grid_is_cell(y0) & grid_is_cell(y1)) {
        int32_t *left = grid.data + x0 * grid.entries[0];
        int32_t *right = grid.data + x1 * grid.entries[0];
        left[y0] = top_left_height;
        right[y0] = top_right_height;
        right[y1] = bottom_right_height;
        left[y1] = bottom_left_height;
        return;
    }
    grid_set(grid, x0, y0, top_left_height);
    grid_set(grid, x1, y0, top_right_height);
    grid_set(grid, x1, y1, bottom_right_height);
    grid_set(grid, x0, y1, bottom_left_height);
}

// A split whose quadrants are leaves: three in four of all splits, so it is inlined.
inline __attribute__((always_inline)) void split_into_leaves(Generation &g, float x, float y,
                                                             const Corners &c) {
    write_leaves(g.grid, *g.leaf_level, x, y, c, g.draws.draw(1));
}

// A split whose quadrants split again; the draws follow in pre-order.
void split(Generation &g, const Level *level, float x, float y, const Corners &c) {
    Quadrants q = quadrants(*level, x, y, c, g.draws.draw(1));
    const Level *next = level + 1;
    if (next->quadrants_split) {
        split(g, next, x, y, q.q[0]);
        split(g, next, q.xm, y, q.q[1]);
        split(g, next, q.xm, q.ym, q.q[2]);
        split(g, next, x, q.ym, q.q[3]);
        return;
    }
    split_into_leaves(g, x, y, q.q[0]);
    split_into_leaves(g, q.xm, y, q.q[1]);
    split_into_leaves(g, q.xm, q.ym, q.q[2]);
    split_into_leaves(g, x, q.ym, q.q[3]);
}

void generate_from(HeightGrid &grid, RandomDraws &draws, const Level *levels, const Level *last,
                   float x, float y, const Corners &c) {
    Generation g = {grid, draws, last};
    if (levels[0].quadrants_split)
        split(g, levels, x, y, c);
    else
        split_into_leaves(g, x, y, c);
}

// The levels of a rectangle that splits, from its own down to the last one before the
// leaves, which is answered.
const Level *make_levels(float w, float h, Level *levels) {
    for (Level *level = levels;; level++) {
        level->hw = float(double(w) / 2.0);
        level->hh = float(double(h) / 2.0);
        level->spread = (double(level->hw) + level->hh) / SPREAD_DIVISOR * SPREAD_SCALE;
        level->displacement[0] = float((0 - 0.5) * level->spread);
        level->displacement[1] = float((1 - 0.5) * level->spread);
        w = level->hw;
        h = level->hh;
        level->quadrants_split = w > LEAF_EXTENT || h > LEAF_EXTENT;
        if (!level->quadrants_split) return level;
    }
}

// The splits of a generation with `depths` levels of splits: 4^k at depth k. Past 30 levels
// (a generation that would never end) 2^60, fewer than there are.
int64_t split_count(int32_t depths) {
    if (depths > 30) return INT64_C(1) << 60;
    int64_t count = 0;
    for (int32_t k = 0; k < depths; k++)
        count = count * 4 + 1;
    return count;
}

void subdivide(HeightGrid &grid, float x, float y, float w, float h, const Corners &c) {
    if (!(w > LEAF_EXTENT || h > LEAF_EXTENT)) {
        write_leaf(grid, x, y, c);
        return;
    }
    // Halving an infinite size never reaches a leaf; such a rectangle is left alone.
    if (isinf(w) || isinf(h)) return;
    Level levels[MAX_LEVELS];
    const Level *last = make_levels(w, h, levels);
    RandomDraws draws = {{}, split_count(int32_t(last - levels) + 1)};
    generate_from(grid, draws, levels, last, x, y, c);
}

} // namespace

int32_t terrain_subdivide(HeightGrid &grid, float x, float y, float w, float h, float c1, float c2,
                          float c3, float c4) {
    if (grid.data) subdivide(grid, x, y, w, h, {c1, c2, c3, c4});
    return 0;
}

int32_t terrain_generate(HeightGrid &grid) {
    if (!grid.data) return 0; // a grid that was never allocated has nothing to fill
    int32_t width = array_dim_size(grid.data, 1);
    int32_t height = array_dim_size(grid.data, 2);
    float c1 = float(corner_draw());
    float c2 = float(corner_draw());
    float c3 = float(corner_draw());
    float c4 = float(corner_draw());
    subdivide(grid, 1.0f, 1.0f, float(width), float(height), {c1, c2, c3, c4});
    return 0;
}

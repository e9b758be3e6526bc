#include "runtime/core/random.h"
#include <windows.h>
#include <emmintrin.h>

RanrotState ranrot_state;

void random_auto_seed() {
    ranrot_state.seeded = 1;
    random_seed(GetCurrentThreadId() ^ GetTickCount());
}

void random_seed(uint32_t seed) {
    if (!ranrot_state.seeded) random_auto_seed();
    uint32_t s = seed;
    for (int k = 0; k < 17; k++) {
        s = s * 2891336453u + 1u;
        ranrot_state.words_b[k] = s;
        s = s * 2891336453u + 1u;
        ranrot_state.words_a[k] = s;
    }
    ranrot_state.cursor1 = 0;
    ranrot_state.cursor2 = 10;
    for (int k = 0; k < 31; k++)
        random_step(ranrot_state);
}

// A step overwrites the entry that the step 17 before it wrote, and reads the lagged entry,
// which the step 10 before it wrote (the cursors stay 10 apart). So the words of a step depend
// only on the steps 17 and 10 before it, and four steps in a row only on earlier steps:
// SSE2 (which both targets have) works out four at a time. The four steps 17 back and the four
// 10 back are taken from the last five groups of four, held in registers: reading them back
// from memory right after storing them would stall, since such a read spans two stores.
static const int32_t LAG = 17;
static const int32_t SHORT_LAG = 10;

// Seeding and stepping keep both cursors in 0..16, so only their distance is in question.
static bool cursors_usual(const RanrotState &s) {
    return s.cursor2 == (s.cursor1 + SHORT_LAG) % LAG;
}

static int32_t previous_entry(int32_t entry) {
    return entry == 0 ? LAG - 1 : entry - 1;
}

static __m128i rotl4(__m128i x, int r) {
    return _mm_or_si128(_mm_slli_epi32(x, r), _mm_srli_epi32(x, 32 - r));
}

static __m128i load4(const uint32_t *p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

static void store4(uint32_t *p, __m128i x) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p), x);
}

// The steps 17 back of a group: the last of the group five back and three of the next.
static __m128i lag17(__m128i five_back, __m128i four_back) {
    return _mm_or_si128(_mm_srli_si128(five_back, 12), _mm_slli_si128(four_back, 4));
}

// The steps 10 back of a group: the last two of the group three back and two of the next.
static __m128i lag10(__m128i three_back, __m128i two_back) {
    return _mm_or_si128(_mm_srli_si128(three_back, 8), _mm_slli_si128(two_back, 8));
}

// The group after the window whose oldest groups are (a0, b0) .. (a3, b3): it takes the place
// of the oldest, and its words_a go to `words`.
static inline void next_group(__m128i &a0, __m128i &b0, __m128i a1, __m128i b1, __m128i a2,
                              __m128i b2, __m128i a3, __m128i b3, uint32_t *words) {
    __m128i new_a = _mm_add_epi32(rotl4(lag17(b0, b1), 19), lag10(b2, b3));
    __m128i new_b = _mm_add_epi32(rotl4(lag17(a0, a1), 27), lag10(a2, a3));
    a0 = new_a;
    b0 = new_b;
    store4(words, new_a);
}

// The window of the last 20 positions: the five groups of four steps of words_a (a) and of
// words_b (b), oldest first.
struct RanrotWindow {
    uint32_t a[20], b[20];
};

// `run` steps (one or more) from the state into `words`. Position 20 + n stands for step n, so
// positions 3..19 hold the state before the run, from the entry that step 0 overwrites
// (entry cursor1) down; the window of the last 20 positions always holds the 17 that make
// the state after the run.
static void random_run(RanrotState &s, uint32_t *words, int32_t run) {
    RanrotWindow w;
    for (int32_t p = 0; p < 3; p++)
        w.a[p] = w.b[p] = 0; // before the oldest entry: read into the first group, never used
    int32_t entry = s.cursor1;
    for (int32_t p = 3; p < 20; p++, entry = previous_entry(entry)) {
        w.a[p] = s.words_a[entry];
        w.b[p] = s.words_b[entry];
    }
    __m128i a0 = load4(w.a), a1 = load4(w.a + 4), a2 = load4(w.a + 8), a3 = load4(w.a + 12);
    __m128i a4 = load4(w.a + 16);
    __m128i b0 = load4(w.b), b1 = load4(w.b + 4), b2 = load4(w.b + 8), b3 = load4(w.b + 12);
    __m128i b4 = load4(w.b + 16);
    int32_t n = 0;
    // Five groups at a time, each overwriting the oldest group of the window, so the window
    // is back in order after the five without moving its registers about.
    for (; n + 20 <= run; n += 20) {
        next_group(a0, b0, a1, b1, a2, b2, a3, b3, words + n);
        next_group(a1, b1, a2, b2, a3, b3, a4, b4, words + n + 4);
        next_group(a2, b2, a3, b3, a4, b4, a0, b0, words + n + 8);
        next_group(a3, b3, a4, b4, a0, b0, a1, b1, words + n + 12);
        next_group(a4, b4, a0, b0, a1, b1, a2, b2, words + n + 16);
    }
    for (; n < run; n += 4) {
        __m128i new_a = _mm_add_epi32(rotl4(lag17(b0, b1), 19), lag10(b2, b3));
        __m128i new_b = _mm_add_epi32(rotl4(lag17(a0, a1), 27), lag10(a2, a3));
        a0 = a1, a1 = a2, a2 = a3, a3 = a4, a4 = new_a;
        b0 = b1, b1 = b2, b2 = b3, b3 = b4, b4 = new_b;
        if (n + 4 <= run) store4(words + n, new_a);
    }
    // The window now holds positions n..n + 19; the last group may run past the run's end.
    store4(w.a, a0), store4(w.a + 4, a1), store4(w.a + 8, a2), store4(w.a + 12, a3);
    store4(w.a + 16, a4);
    store4(w.b, b0), store4(w.b + 4, b1), store4(w.b + 8, b2), store4(w.b + 12, b3);
    store4(w.b + 16, b4);
    for (int32_t k = run - run % 4; k < run; k++)
        words[k] = w.a[20 + k - n];
    int32_t cursor = ((s.cursor1 - run) % LAG + LAG) % LAG;
    entry = cursor;
    for (int32_t p = run + 3; p < run + 20; p++, entry = previous_entry(entry)) {
        s.words_a[entry] = w.a[p - n];
        s.words_b[entry] = w.b[p - n];
    }
    s.cursor1 = cursor;
    s.cursor2 = (cursor + SHORT_LAG) % LAG;
}

void random_words(uint32_t *words, int32_t count) {
    if (!ranrot_state.seeded) random_auto_seed();
    // Cursors that are not 10 apart are never made by seeding; such a state steps one by one.
    if (!cursors_usual(ranrot_state)) {
        for (int32_t k = 0; k < count; k++)
            words[k] = random_step(ranrot_state);
        return;
    }
    if (count > 0) random_run(ranrot_state, words, count);
}

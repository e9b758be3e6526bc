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
// which the step 10 before it wrote (the cursors stay 10 apart). Laid out as a history in
// which the words of step n are at position n + 17, a run of steps needs no cursors, and
// four steps at a time depend only on earlier ones, so SSE2 (which both targets have) does
// four at once.
static const int32_t LAG = 17;
static const int32_t SHORT_LAG = 10;
static const int32_t RUN = 256; // steps per history

static bool cursors_usual(const RanrotState &s) {
    return s.cursor1 >= 0 && s.cursor1 < LAG && s.cursor2 == (s.cursor1 + SHORT_LAG) % LAG;
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

// `run` steps (1..RUN) from the state into `words`.
static void random_run(RanrotState &s, uint32_t *words, int32_t run) {
    // Whole groups of four; the steps past `run` are worked out but not kept.
    uint32_t a[LAG + RUN + 3], b[LAG + RUN + 3];
    int32_t entry = s.cursor1;
    for (int32_t p = 0; p < LAG; p++, entry = previous_entry(entry)) {
        a[p] = s.words_a[entry];
        b[p] = s.words_b[entry];
    }
    for (int32_t n = 0; n < run; n += 4) {
        __m128i new_a = _mm_add_epi32(rotl4(load4(b + n), 19), load4(b + n + LAG - SHORT_LAG));
        __m128i new_b = _mm_add_epi32(rotl4(load4(a + n), 27), load4(a + n + LAG - SHORT_LAG));
        store4(a + LAG + n, new_a);
        store4(b + LAG + n, new_b);
        if (n + 4 <= run) store4(words + n, new_a);
    }
    for (int32_t n = run - run % 4; n < run; n++)
        words[n] = a[LAG + n];
    // Position p stands for entry cursor1 - p (mod 17); the last 17 positions hold the state.
    int32_t cursor = ((s.cursor1 - run) % LAG + LAG) % LAG;
    entry = cursor;
    for (int32_t p = run; p < run + LAG; p++, entry = previous_entry(entry)) {
        s.words_a[entry] = a[p];
        s.words_b[entry] = b[p];
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
    for (int32_t done = 0; done < count; done += RUN) {
        int32_t run = count - done < RUN ? count - done : RUN;
        random_run(ranrot_state, words + done, run);
    }
}

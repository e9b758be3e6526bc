#include "runtime/core/random.h"
#include <windows.h>

RanrotState ranrot_state;

static uint32_t rotl(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

static uint32_t random_step() {
    RanrotState &s = ranrot_state;
    int32_t i = s.cursor1, j = s.cursor2;
    uint32_t a = rotl(s.words_b[i], 19) + s.words_b[j];
    uint32_t b = rotl(s.words_a[i], 27) + s.words_a[j];
    s.words_a[i] = a;
    s.words_b[i] = b;
    s.cursor1 = i == 0 ? 16 : i - 1;
    s.cursor2 = j == 0 ? 16 : j - 1;
    return a; // b is the companion word; nothing uses it
}

static void random_auto_seed() {
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
    for (int k = 0; k < 31; k++) random_step();
}

int32_t random_upto(int32_t max) {
    if (!ranrot_state.seeded) random_auto_seed();
    uint32_t m = uint32_t(max) + 1u;
    uint32_t a = random_step();
    uint32_t result = m == 0 ? a : uint32_t((uint64_t(a) * m) >> 32);
    return int32_t(result);
}

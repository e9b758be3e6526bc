#pragma once
// The process-wide RanROT-W generator.
#include <stdint.h>

struct RanrotState {
    int32_t cursor1;
    int32_t cursor2;
    uint32_t words_a[17];
    uint32_t words_b[17];
    int32_t seeded;
};

extern RanrotState ranrot_state;

// max = -1 gives the raw 32-bit word; otherwise the high word of word * (max + 1).
int32_t random_upto(int32_t max);
void random_seed(uint32_t seed);

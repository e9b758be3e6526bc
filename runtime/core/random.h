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

// Seeds the generator: the same seed gives the same numbers.
void random_seed(uint32_t seed);
// Seeds the generator from the thread and the clock; random_upto does so on first use.
void random_auto_seed();

// x rotated left by r bits, 0 < r < 32.
inline uint32_t random_rotl(uint32_t x, int r) {
    return (x << r) | (x >> (32 - r));
}

// Advances `state` by one step and answers its output word. Loops that draw many numbers
// may step a local copy of a seeded ranrot_state and store it back afterwards.
inline uint32_t random_step(RanrotState &state) {
    int32_t i = state.cursor1, j = state.cursor2;
    uint32_t a = random_rotl(state.words_b[i], 19) + state.words_b[j];
    uint32_t b = random_rotl(state.words_a[i], 27) + state.words_a[j];
    state.words_a[i] = a;
    state.words_b[i] = b; // the companion word; only the state keeps it
    state.cursor1 = i == 0 ? 16 : i - 1;
    state.cursor2 = j == 0 ? 16 : j - 1;
    return a;
}

// The number that random_upto(max) makes of an output word: the word itself for max = -1,
// otherwise the high word of word * (max + 1).
inline int32_t random_scale(uint32_t word, int32_t max) {
    uint32_t m = uint32_t(max) + 1u;
    return int32_t(m == 0 ? word : uint32_t((uint64_t(word) * m) >> 32));
}

// A random number 0..max (max = -1: a whole random word), seeding first if need be.
inline int32_t random_upto(int32_t max) {
    if (!ranrot_state.seeded) random_auto_seed();
    return random_scale(random_step(ranrot_state), max);
}

// Stores the output words of the next `count` steps, seeding first if need be: the same
// words and the same state afterwards as `count` calls of random_upto(-1), made faster.
void random_words(uint32_t *words, int32_t count);

const int32_t RANDOM_BUFFER_WORDS = 256;

// Output words fetched with random_words a buffer at a time, for loops that draw hundreds of
// thousands of numbers. The buffer is never filled beyond the words the loop is certain to
// draw, so the generator's state moves exactly as with one random_upto per draw.
struct RandomBuffer {
    uint32_t words[RANDOM_BUFFER_WORDS];
    int32_t next;
    int32_t count;

    // The next word. `certain` is a number of words, this one included, that the loop will
    // draw from now on at the least.
    uint32_t take(int64_t certain) {
        if (next == count) {
            count = int32_t(certain < RANDOM_BUFFER_WORDS ? certain : RANDOM_BUFFER_WORDS);
            random_words(words, count);
            next = 0;
        }
        return words[next++];
    }
};

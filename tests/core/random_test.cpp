#include "runtime/core/random.h"
#include <windows.h>
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>
#include <vector>

// A second, plain RanROT-W written from the algorithm's description.
struct ReferenceRanrot {
    uint32_t a[17], b[17];
    int p1 = 0, p2 = 10;
    explicit ReferenceRanrot(uint32_t seed) {
        uint32_t s = seed;
        for (int k = 0; k < 17; k++) {
            s = 1u - s * 1403630843u; // the same recurrence written the other way
            b[k] = s;
            s = 1u - s * 1403630843u;
            a[k] = s;
        }
        for (int k = 0; k < 31; k++)
            next();
    }
    static uint32_t rot(uint32_t x, unsigned r) { return (x << r) | (x >> (32 - r)); }
    uint32_t next() {
        uint32_t na = rot(b[p1], 19) + b[p2];
        uint32_t nb = rot(a[p1], 27) + a[p2];
        a[p1] = na;
        b[p1] = nb;
        p1 = (p1 + 16) % 17;
        p2 = (p2 + 16) % 17;
        return na;
    }
};

TEST(Random, PublishedVectorsForSeedZero) {
    random_seed(0);
    EXPECT_EQ(ranrot_state.cursor1, 3);
    EXPECT_EQ(ranrot_state.cursor2, 13);
    EXPECT_EQ(ranrot_state.words_a[0], 0x12CEB592u);
    EXPECT_EQ(ranrot_state.words_b[0], 0xBEB7F232u);
    EXPECT_EQ(ranrot_state.seeded, 1);
    EXPECT_EQ(uint32_t(random_upto(-1)), 0x8B910D61u);
    EXPECT_EQ(uint32_t(random_upto(-1)), 0xC8AFE081u);
    EXPECT_EQ(uint32_t(random_upto(-1)), 0xA90E502Fu);

    random_seed(0);
    const int expected[] = {139, 200, 169, 96, 60};
    for (int value : expected)
        EXPECT_EQ(random_upto(255), value);
}

TEST(Random, PublishedVectorsForSeedOne) {
    random_seed(1);
    EXPECT_EQ(uint32_t(random_upto(-1)), 0xB8C1309Fu);
    EXPECT_EQ(uint32_t(random_upto(-1)), 0x2E59857Au);
    EXPECT_EQ(uint32_t(random_upto(-1)), 0x9B9E595Fu);
}

TEST(Random, LongSequenceMatchesIndependentComputation) {
    for (uint32_t seed : {0u, 1u, 12345u, 0xFFFFFFFFu}) {
        random_seed(seed);
        ReferenceRanrot ref(seed);
        for (int k = 0; k < 20000; k++) {
            uint32_t w = ref.next();
            int32_t max = (k % 4 == 0) ? -1 : (k % 4 == 1) ? 255 : (k % 4 == 2) ? 1 : 99999;
            uint32_t m = uint32_t(max) + 1;
            uint32_t want = m ? uint32_t((uint64_t(w) * m) >> 32) : w;
            ASSERT_EQ(uint32_t(random_upto(max)), want) << "seed " << seed << " draw " << k;
        }
    }
}

TEST(Random, BoundedDraws) {
    random_seed(7);
    ReferenceRanrot ref(7);
    for (int k = 0; k < 1000; k++) {
        uint32_t w = ref.next();
        ASSERT_EQ(random_upto(0), 0); // still one step per call
        w = ref.next();
        ASSERT_EQ(random_upto(1), int32_t(w >> 31));
        w = ref.next();
        ASSERT_EQ(random_upto(255), int32_t(w >> 24));
        w = ref.next();
        // max below -1: m = 2^32 + max + 1, the result an unsigned value below m
        ASSERT_EQ(uint32_t(random_upto(-3)), uint32_t((uint64_t(w) * 0xFFFFFFFEu) >> 32));
    }
}

TEST(Random, ReseedingRestartsTheSequence) {
    random_seed(99);
    int32_t first[8];
    for (int32_t &v : first)
        v = random_upto(-1);
    for (int k = 0; k < 5; k++)
        random_upto(-1);
    random_seed(99);
    for (int32_t v : first)
        EXPECT_EQ(random_upto(-1), v);
}

// The state after the first draw is that of a seed made of the thread and a tick count
// read during the draw.
TEST(Random, FirstDrawSeedsFromTheThreadAndTheClock) {
    ranrot_state = RanrotState{};
    DWORD first_tick = GetTickCount();
    int32_t v = random_upto(255);
    DWORD last_tick = GetTickCount();
    RanrotState drawn = ranrot_state;
    EXPECT_EQ(drawn.seeded, 1);
    // 31 warm-up steps and one draw after seeding: the cursors moved 32 places down
    EXPECT_EQ(drawn.cursor1, 2);
    EXPECT_EQ(drawn.cursor2, 12);
    bool found = false;
    for (DWORD tick = first_tick; !found && tick - first_tick <= last_tick - first_tick; tick++) {
        random_seed(GetCurrentThreadId() ^ tick);
        found = random_upto(255) == v && memcmp(&ranrot_state, &drawn, sizeof drawn) == 0;
    }
    EXPECT_TRUE(found) << "no seed from the thread and a tick of the draw gives its state";
}

// random_words must give the words and the state that one random_upto(-1) per word gives,
// for runs that end anywhere in a group of four or a history, and starting anywhere.
TEST(Random, WordsInBulkMatchSingleDraws) {
    for (int32_t count : {0, 1, 3, 4, 5, 16, 17, 18, 255, 256, 257, 1000}) {
        for (int32_t skip : {0, 1, 9, 16}) {
            random_seed(uint32_t(count * 31 + skip));
            for (int k = 0; k < skip; k++)
                random_upto(-1);
            RanrotState before = ranrot_state;
            std::vector<uint32_t> bulk(size_t(count) + 1, 0xDEADBEEFu);
            random_words(bulk.data(), count);
            RanrotState after = ranrot_state;
            ranrot_state = before;
            for (int32_t k = 0; k < count; k++)
                ASSERT_EQ(bulk[size_t(k)], uint32_t(random_upto(-1))) << count << " " << k;
            EXPECT_EQ(bulk[size_t(count)], 0xDEADBEEFu) << "wrote past the end";
            EXPECT_EQ(memcmp(&ranrot_state, &after, sizeof after), 0) << count << " " << skip;
        }
    }
}

TEST(Random, WordsInBulkSeedFirstAndStepUnusualCursorsOneByOne) {
    ranrot_state = RanrotState{};
    uint32_t word;
    random_words(&word, 1);
    EXPECT_EQ(ranrot_state.seeded, 1);
    EXPECT_EQ(ranrot_state.cursor1, 2); // seeding, 31 warm-up steps, one step

    random_seed(5);
    ranrot_state.cursor2 = ranrot_state.cursor1; // no state that seeding makes
    RanrotState before = ranrot_state;
    uint32_t bulk[40];
    random_words(bulk, 40);
    RanrotState after = ranrot_state;
    ranrot_state = before;
    for (uint32_t w : bulk)
        ASSERT_EQ(w, uint32_t(random_upto(-1)));
    EXPECT_EQ(memcmp(&ranrot_state, &after, sizeof after), 0);
}

TEST(Random, BufferNeverDrawsBeyondWhatIsCertain) {
    random_seed(8);
    RanrotState before = ranrot_state;
    RandomBuffer buffer = {};
    std::vector<uint32_t> taken;
    for (int64_t certain = 300; certain > 0; certain--)
        taken.push_back(buffer.take(certain));
    RanrotState after = ranrot_state;
    ranrot_state = before;
    for (uint32_t w : taken)
        ASSERT_EQ(w, uint32_t(random_upto(-1)));
    EXPECT_EQ(memcmp(&ranrot_state, &after, sizeof after), 0);
}

#include "runtime/core/random.h"
#include <windows.h>
#include <gtest/gtest.h>
#include <string.h>
#include <vector>

// A second, plain RanROT-W written from the algorithm's description; the seeding recurrence
// is written the other way.
struct ReferenceRanrot {
    uint32_t a[17], b[17];
    int p1 = 0, p2 = 10;
    explicit ReferenceRanrot(uint32_t s) {
        for (int k = 0; k < 17; k++) {
            b[k] = s = 1u - s * 1403630843u;
            a[k] = s = 1u - s * 1403630843u;
        }
        for (int k = 0; k < 31; k++)
            next();
    }
    static uint32_t rot(uint32_t x, unsigned r) { return (x << r) | (x >> (32 - r)); }
    uint32_t next() {
        uint32_t na = rot(b[p1], 19) + b[p2], nb = rot(a[p1], 27) + a[p2];
        a[p1] = na, b[p1] = nb;
        p1 = (p1 + 16) % 17, p2 = (p2 + 16) % 17;
        return na;
    }
};

// Seeds 0 and 1 give the published words; seed 0 again, after use, gives them again, and its
// draws 0..255 are their top bytes.
TEST(Random, PublishedVectorsAndReseeding) {
    random_seed(0);
    const RanrotState &s = ranrot_state;
    EXPECT_EQ((std::vector<uint32_t>{uint32_t(s.cursor1), uint32_t(s.cursor2), s.words_a[0],
                                     s.words_b[0], uint32_t(s.seeded)}),
              (std::vector<uint32_t>{3, 13, 0x12CEB592u, 0xBEB7F232u, 1}));
    const uint32_t words[][3] = {{0x8B910D61u, 0xC8AFE081u, 0xA90E502Fu},
                                 {0xB8C1309Fu, 0x2E59857Au, 0x9B9E595Fu}};
    for (uint32_t seed : {0u, 1u, 0u}) {
        random_seed(seed);
        for (uint32_t word : words[seed])
            EXPECT_EQ(uint32_t(random_upto(-1)), word) << seed;
    }
    random_seed(0);
    for (int value : {139, 200, 169, 96, 60})
        EXPECT_EQ(random_upto(255), value);
}

// Every bound takes the high word of the output word times bound + 1, one step per draw: 0 for
// bound 0, the top bit for 1, the top byte for 255, the word itself for -1, and for a bound
// below -1 an unsigned value below 2^32 + bound + 1.
TEST(Random, LongSequenceMatchesIndependentComputation) {
    for (uint32_t seed : {0u, 1u, 7u, 12345u, 0xFFFFFFFFu}) {
        random_seed(seed);
        ReferenceRanrot ref(seed);
        for (int k = 0; k < 24000; k++) {
            uint32_t w = ref.next();
            const int32_t maxes[] = {-1, 255, 1, 99999, 0, -3};
            int32_t max = maxes[k % 6];
            uint32_t m = uint32_t(max) + 1;
            uint32_t want = m ? uint32_t((uint64_t(w) * m) >> 32) : w;
            ASSERT_EQ(uint32_t(random_upto(max)), want) << "seed " << seed << " draw " << k;
        }
    }
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
    EXPECT_EQ(std::make_pair(drawn.cursor1, drawn.cursor2), std::make_pair(2, 12));
    bool found = false;
    for (DWORD tick = first_tick; !found && tick - first_tick <= last_tick - first_tick; tick++) {
        random_seed(GetCurrentThreadId() ^ tick);
        found = random_upto(255) == v && memcmp(&ranrot_state, &drawn, sizeof drawn) == 0;
    }
    EXPECT_TRUE(found) << "no seed from the thread and a tick of the draw gives its state";
}

// Whether `words` are what single draws from the state `before` give, ending in the state the
// generator has now.
static testing::AssertionResult single_draws_give(RanrotState before, const uint32_t *words,
                                                  int32_t count) {
    RanrotState after = ranrot_state;
    ranrot_state = before;
    for (int32_t k = 0; k < count; k++)
        if (words[k] != uint32_t(random_upto(-1)))
            return testing::AssertionFailure() << "word " << k;
    if (memcmp(&ranrot_state, &after, sizeof after) != 0)
        return testing::AssertionFailure() << "another state";
    return testing::AssertionSuccess();
}

// random_words must give the words and the state that one random_upto(-1) per word gives, for
// runs that end anywhere in a group of four or a history, starting anywhere, also from cursors
// not 10 apart, which no seeding makes and which step one by one.
TEST(Random, WordsInBulkMatchSingleDraws) {
    for (bool usual : {true, false}) {
        for (int32_t count : {0, 1, 3, 4, 5, 16, 17, 18, 40, 255, 256, 257, 1000}) {
            for (int32_t skip : {0, 1, 9, 16}) {
                SCOPED_TRACE(testing::Message() << usual << " " << count << " " << skip);
                random_seed(uint32_t(count * 31 + skip));
                for (int k = 0; k < skip; k++)
                    random_upto(-1);
                if (!usual) ranrot_state.cursor2 = ranrot_state.cursor1;
                RanrotState before = ranrot_state;
                std::vector<uint32_t> bulk(size_t(count) + 1, 0xDEADBEEFu);
                random_words(bulk.data(), count);
                EXPECT_TRUE(single_draws_give(before, bulk.data(), count));
                EXPECT_EQ(bulk[size_t(count)], 0xDEADBEEFu) << "wrote past the end";
            }
        }
    }
    ranrot_state = RanrotState{};
    uint32_t word;
    random_words(&word, 1);
    EXPECT_EQ(ranrot_state.seeded, 1);
    EXPECT_EQ(ranrot_state.cursor1, 2); // seeding, 31 warm-up steps, one step
}

TEST(Random, BufferNeverDrawsBeyondWhatIsCertain) {
    random_seed(8);
    RanrotState before = ranrot_state;
    RandomBuffer buffer = {};
    std::vector<uint32_t> taken;
    for (int64_t certain = 300; certain > 0; certain--)
        taken.push_back(buffer.take(certain));
    EXPECT_TRUE(single_draws_give(before, taken.data(), int32_t(taken.size())));
}

#include "runtime/core/core_private.h"
#include "tests/support/test_support.h"
#include <gtest/gtest.h>
#include <vector>

struct TestRecord {
    uintptr_t alive;
    int32_t payload;
};

static std::vector<ObjectNumber> freed;
static ObjectTable *callback_table;

// Behaves like a library's free operation: destroys a live occupant, records the call.
static void record_free(ObjectNumber number) {
    freed.push_back(number);
    if (object_table_get(callback_table, number)) object_table_free(callback_table, number);
}

class ObjectTableTest : public testing::Test {
  protected:
    ObjectTable *table = nullptr;
    void SetUp() override {
        freed.clear();
        table = object_table_create(sizeof(TestRecord), 16, record_free);
        callback_table = table;
        ASSERT_NE(table, nullptr);
    }
    void TearDown() override {
        heap_fail_reset();
        EXPECT_TRUE(runtime_heaps_valid());
    }
    TestRecord *make(ObjectNumber number, int32_t payload) {
        auto *r = static_cast<TestRecord *>(object_table_alloc(table, number));
        if (r) {
            r->alive = 1;
            r->payload = payload;
        }
        return r;
    }
    // Walks the dynamic list both ways and checks that the links agree.
    std::vector<ObjectNumber> dynamic_numbers() {
        std::vector<ObjectNumber> numbers;
        DynamicNode *last = nullptr;
        for (DynamicNode *n = table->dynamic_head; n; n = n->next) {
            EXPECT_EQ(n->prev, last);
            numbers.push_back(reinterpret_cast<ObjectNumber>(n + 1));
            last = n;
        }
        return numbers;
    }
};

TEST_F(ObjectTableTest, FreshTableAndNumberedAllocation) {
    EXPECT_EQ(table->capacity, 16);
    EXPECT_EQ(table->grow_step, 16);
    EXPECT_EQ(table->element_size, int32_t(sizeof(TestRecord)));
    auto *r = static_cast<TestRecord *>(object_table_alloc(table, 0));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(table->capacity, 16);
    EXPECT_EQ(freed, std::vector<ObjectNumber>{0});
    EXPECT_EQ(r->alive, 0u);
    EXPECT_EQ(r->payload, 0);
    EXPECT_EQ(object_table_get(table, 0), nullptr); // not alive until the first word is set
    EXPECT_EQ(object_table_slot(table, 0), r);      // the slot all the same
    r->alive = 1;
    EXPECT_EQ(object_table_get(table, 0), r);
    EXPECT_TRUE(object_table_ready(table));
    EXPECT_EQ(object_table_slot(table, 16), nullptr);
    EXPECT_EQ(object_table_slot(table, ANY_ID), nullptr);
    EXPECT_EQ(object_table_slot(nullptr, 0), nullptr);
}

TEST_F(ObjectTableTest, LinearGrowthKeepsOldSlots) {
    for (int i = 0; i < 16; i++)
        make(i, 100 + i);
    ASSERT_NE(make(40, 40), nullptr);
    EXPECT_EQ(table->capacity, 56);
    for (int i = 0; i < 16; i++) {
        auto *r = static_cast<TestRecord *>(object_table_get(table, i));
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->payload, 100 + i);
    }
    for (int i = 16; i < 56; i++) {
        if (i == 40) continue;
        EXPECT_EQ(object_table_get(table, i), nullptr) << i;
    }
    auto *bytes = table->slots + 16 * sizeof(TestRecord);
    for (size_t k = 0; k < 24 * sizeof(TestRecord); k++)
        ASSERT_EQ(bytes[k], 0);
}

TEST_F(ObjectTableTest, ReallocatingALiveNumberFreesTheOldObjectFirst) {
    make(3, 33);
    freed.clear();
    auto *r = static_cast<TestRecord *>(object_table_alloc(table, 3));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(freed, std::vector<ObjectNumber>{3});
    EXPECT_EQ(r->alive, 0u);
    EXPECT_EQ(r->payload, 0);
}

TEST_F(ObjectTableTest, AnyIdObjectsAreNumberedByAddressAndSkipTheCallback) {
    TestRecord *a = make(ANY_ID, 1);
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(freed.empty());
    ObjectNumber na = reinterpret_cast<ObjectNumber>(a);
    EXPECT_EQ(object_table_get(table, na), a);
    object_table_free(table, na);
    EXPECT_EQ(object_table_get(table, na), nullptr); // freed: not read through any more
    EXPECT_EQ(table->dynamic_head, nullptr);
}

TEST_F(ObjectTableTest, IterationOrderAndFreeingDuringIteration) {
    make(5, 5);
    make(1, 1);
    make(9, 9);
    TestRecord *a = make(ANY_ID, 100);
    TestRecord *b = make(ANY_ID, 200);
    std::vector<ObjectNumber> seen;
    object_table_iter_reset(table);
    ObjectNumber number;
    while (object_table_iter_next(table, &number)) {
        seen.push_back(number);
        object_table_free(table, number);
    }
    std::vector<ObjectNumber> want = {1, 5, 9, reinterpret_cast<ObjectNumber>(a),
                                      reinterpret_cast<ObjectNumber>(b)};
    EXPECT_EQ(seen, want);
    EXPECT_EQ(table->dynamic_head, nullptr);
    object_table_iter_reset(table);
    EXPECT_EQ(object_table_iter_next(table, &number), nullptr);
}

TEST_F(ObjectTableTest, FreeingHeadMiddleAndTailKeepsLinksConsistent) {
    TestRecord *r[5];
    ObjectNumber n[5];
    for (int i = 0; i < 5; i++) {
        r[i] = make(ANY_ID, i);
        n[i] = reinterpret_cast<ObjectNumber>(r[i]);
    }
    EXPECT_EQ(dynamic_numbers(), (std::vector<ObjectNumber>{n[4], n[3], n[2], n[1], n[0]}));
    object_table_free(table, n[4]); // head
    EXPECT_EQ(dynamic_numbers(), (std::vector<ObjectNumber>{n[3], n[2], n[1], n[0]}));
    object_table_free(table, n[2]); // middle
    EXPECT_EQ(dynamic_numbers(), (std::vector<ObjectNumber>{n[3], n[1], n[0]}));
    object_table_free(table, n[0]); // tail
    EXPECT_EQ(dynamic_numbers(), (std::vector<ObjectNumber>{n[3], n[1]}));
    EXPECT_EQ(object_table_get(table, n[1]), r[1]);
    EXPECT_EQ(object_table_get(table, n[3]), r[3]);
}

TEST_F(ObjectTableTest, IteratorSurvivesFreeingAnotherDynamicObject) {
    TestRecord *a = make(ANY_ID, 1);
    TestRecord *b = make(ANY_ID, 2);
    TestRecord *c = make(ANY_ID, 3);
    object_table_iter_reset(table);
    ObjectNumber number;
    ASSERT_EQ(object_table_iter_next(table, &number), a);
    // The iterator now points at b; freeing b must move it on to c.
    object_table_free(table, reinterpret_cast<ObjectNumber>(b));
    EXPECT_EQ(object_table_iter_next(table, &number), c);
    EXPECT_EQ(number, reinterpret_cast<ObjectNumber>(c));
    EXPECT_EQ(object_table_iter_next(table, &number), nullptr);
}

TEST_F(ObjectTableTest, ForeignValuesAreRejectedWithoutReadingThroughThem) {
    make(2, 2);
    TestRecord *a = make(ANY_ID, 1);
    TestRecord foreign = {1, 7}; // alive-looking record the table never handed out
    const ObjectNumber hostile[] = {-2,
                                    16,
                                    17,
                                    INTPTR_MAX,
                                    INTPTR_MIN,
                                    reinterpret_cast<ObjectNumber>(&foreign),
                                    reinterpret_cast<ObjectNumber>(a) + 4,
                                    0x10};
    for (ObjectNumber n : hostile) {
        EXPECT_EQ(object_table_get(table, n), nullptr) << n;
        object_table_free(table, n); // no effect
    }
    EXPECT_EQ(object_table_alloc(table, -2), nullptr);
    EXPECT_EQ(object_table_alloc(table, INTPTR_MIN), nullptr);
    EXPECT_EQ(object_table_get(table, reinterpret_cast<ObjectNumber>(a)), a);
    EXPECT_NE(object_table_get(table, 2), nullptr);
    EXPECT_EQ(table->capacity, 16);
}

TEST_F(ObjectTableTest, FreeingASlotKeepsCapacity) {
    make(4, 4);
    object_table_free(table, 4);
    EXPECT_EQ(table->capacity, 16);
    EXPECT_EQ(object_table_get(table, 4), nullptr);
}

TEST_F(ObjectTableTest, FailedGrowthKeepsTheOldStorage) {
    for (int i = 0; i < 16; i++)
        make(i, i);
    uint8_t *before = table->slots;
    heap_fail_allocations(app_heap(), 0, 1);
    EXPECT_EQ(object_table_alloc(table, 20), nullptr);
    EXPECT_EQ(table->capacity, 16);
    EXPECT_EQ(table->slots, before);
    EXPECT_TRUE(freed.size() == 16); // no callback for the failed number
    for (int i = 0; i < 16; i++)
        EXPECT_EQ(static_cast<TestRecord *>(object_table_get(table, i))->payload, i);
    // A number too large for the slot array is refused the same way.
    EXPECT_EQ(object_table_alloc(table, INTPTR_MAX), nullptr);
    EXPECT_EQ(object_table_alloc(table, INT32_MAX), nullptr);
    EXPECT_EQ(table->capacity, 16);
}

TEST_F(ObjectTableTest, FailedDynamicAllocationLinksNothing) {
    make(ANY_ID, 1);
    DynamicNode *head = table->dynamic_head;
    heap_fail_allocations(object_heap(), 0, 1);
    EXPECT_EQ(object_table_alloc(table, ANY_ID), nullptr);
    EXPECT_EQ(table->dynamic_head, head);
    EXPECT_EQ(dynamic_numbers().size(), 1u);
}

TEST(ObjectTableCreate, FailuresGiveNull) {
    heap_fail_allocations(app_heap(), 0, 1);
    EXPECT_EQ(object_table_create(8, 16, nullptr), nullptr);
    EXPECT_EQ(heap_failures(FAILURE_HARD), 1);
    EXPECT_FALSE(object_table_ready(nullptr));
    // Slot storage failing leaves a table of capacity 0, not ready, that still grows on
    // demand: the table goes on without that part.
    heap_fail_allocations(app_heap(), 1, 1);
    ObjectTable *t = object_table_create(8, 16, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(heap_failures(FAILURE_WITHOUT_PART), 1);
    EXPECT_FALSE(object_table_ready(t));
    EXPECT_EQ(t->capacity, 0);
    EXPECT_EQ(object_table_get(t, 0), nullptr);
    EXPECT_NE(object_table_alloc(t, 0), nullptr);
    EXPECT_EQ(t->capacity, 16);
    heap_fail_reset();
    EXPECT_TRUE(runtime_heaps_valid());
}

static int init_calls;
static void count_init(void *block) {
    init_calls++;
    static_cast<int32_t *>(block)[0] = 42;
}

TEST(StateBlock, ZeroFilledAndInitialised) {
    auto *plain = static_cast<uint8_t *>(state_block_alloc(64, nullptr, nullptr));
    ASSERT_NE(plain, nullptr);
    for (int i = 0; i < 64; i++)
        EXPECT_EQ(plain[i], 0);
    EXPECT_EQ(state_block_get(plain), plain);
    init_calls = 0;
    auto *inited = static_cast<int32_t *>(state_block_alloc(16, count_init, nullptr));
    ASSERT_NE(inited, nullptr);
    EXPECT_EQ(init_calls, 1);
    EXPECT_EQ(inited[0], 42);
    EXPECT_EQ(inited[1], 0);
    heap_fail_allocations(app_heap(), 0, 1);
    EXPECT_EQ(state_block_alloc(16, count_init, nullptr), nullptr);
    EXPECT_EQ(init_calls, 1); // no block, no init
    EXPECT_TRUE(runtime_heaps_valid());
}

#include "runtime/core/core_private.h"
#include "tests/support/test_support.h"
#include <algorithm>
#include <vector>

struct TestRecord {
    uintptr_t alive;
    int32_t payload;
};

static std::vector<ObjectNumber> freed;
static ObjectTable *callback_table;

static ObjectNumber number_of(const void *record) {
    return reinterpret_cast<ObjectNumber>(record);
}

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
        if (r) *r = {1, payload};
        return r;
    }
    // Walks the dynamic list both ways and checks that the links agree.
    std::vector<ObjectNumber> dynamic_numbers() {
        std::vector<ObjectNumber> numbers;
        DynamicNode *last = nullptr;
        for (DynamicNode *n = table->dynamic_head; n; n = n->next) {
            EXPECT_EQ(n->prev, last);
            numbers.push_back(number_of(n + 1));
            last = n;
        }
        return numbers;
    }
};

// A numbered record comes zeroed, after the callback for its number; it is alive once its
// first word is set. Allocating a live number again frees the old object first; freeing a slot
// keeps the capacity.
TEST_F(ObjectTableTest, NumberedRecordsComeZeroedAfterTheCallback) {
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
    r->payload = 33;
    freed.clear();
    EXPECT_EQ(object_table_alloc(table, 0), r);
    EXPECT_EQ(freed, std::vector<ObjectNumber>{0});
    EXPECT_EQ(r->alive, 0u);
    EXPECT_EQ(r->payload, 0);
    make(4, 4);
    object_table_free(table, 4);
    EXPECT_EQ(table->capacity, 16);
    EXPECT_EQ(object_table_get(table, 4), nullptr);
}

// Records made with ANY_ID are numbered by their address and linked newest first, without
// the callback; freeing the head, the middle, the tail and the rest keeps the links
// consistent, and a freed number is not read through any more.
TEST_F(ObjectTableTest, AnyIdObjectsAreLinkedNewestFirstAndUnlinkedAnywhere) {
    std::vector<ObjectNumber> n, linked;
    for (int i = 0; i < 5; i++)
        n.push_back(number_of(make(ANY_ID, i)));
    EXPECT_TRUE(freed.empty());
    linked.assign(n.rbegin(), n.rend());
    EXPECT_EQ(dynamic_numbers(), linked);
    for (int i : {4, 2, 0, 3, 1}) {
        SCOPED_TRACE(i);
        EXPECT_EQ(object_table_get(table, n[i]), reinterpret_cast<void *>(n[i]));
        object_table_free(table, n[i]);
        linked.erase(std::find(linked.begin(), linked.end(), n[i]));
        EXPECT_EQ(dynamic_numbers(), linked);
        EXPECT_EQ(object_table_get(table, n[i]), nullptr);
    }
    EXPECT_EQ(table->dynamic_head, nullptr);
}

// Iteration gives the live slots in ascending order, then the dynamic records oldest first;
// the record just given, the one after it and a later one may be freed on the way.
TEST_F(ObjectTableTest, IterationOrderAndFreeingDuringIteration) {
    make(5, 5), make(1, 1), make(9, 9);
    TestRecord *a = make(ANY_ID, 100), *b = make(ANY_ID, 200), *c = make(ANY_ID, 300);
    TestRecord *d = make(ANY_ID, 400);
    std::vector<ObjectNumber> seen;
    object_table_iter_reset(table);
    ObjectNumber number;
    while (object_table_iter_next(table, &number)) {
        seen.push_back(number);
        object_table_free(table, number);
        if (number != number_of(a)) continue;
        object_table_free(table, number_of(b));
        object_table_free(table, number_of(d));
    }
    EXPECT_EQ(seen, (std::vector<ObjectNumber>{1, 5, 9, number_of(a), number_of(c)}));
    EXPECT_EQ(table->dynamic_head, nullptr);
    object_table_iter_reset(table);
    EXPECT_EQ(object_table_iter_next(table, &number), nullptr);
}

TEST_F(ObjectTableTest, ForeignValuesAreRejectedWithoutReadingThroughThem) {
    make(2, 2);
    TestRecord *a = make(ANY_ID, 1);
    TestRecord foreign = {1, 7}; // alive-looking record the table never handed out
    for (ObjectNumber n : {ObjectNumber(-2), ObjectNumber(16), ObjectNumber(17), INTPTR_MAX,
                           INTPTR_MIN, number_of(&foreign), number_of(a) + 4, ObjectNumber(0x10)}) {
        EXPECT_EQ(object_table_get(table, n), nullptr) << n;
        object_table_free(table, n); // no effect
    }
    EXPECT_EQ(object_table_alloc(table, -2), nullptr);
    EXPECT_EQ(object_table_alloc(table, INTPTR_MIN), nullptr);
    EXPECT_EQ(object_table_get(table, number_of(a)), a);
    EXPECT_NE(object_table_get(table, 2), nullptr);
    EXPECT_EQ(table->capacity, 16);
}

// Growth that fails, for want of room or for a number too large for the slot array, keeps the
// old storage and calls back nothing; a dynamic record that cannot be made links nothing.
// Growth that succeeds adds the number and one grow step of zeroed slots, keeping the old ones.
TEST_F(ObjectTableTest, GrowthKeepsTheOldSlotsOrFailsLeavingTheTableAsItWas) {
    for (int i = 0; i < 16; i++)
        make(i, 100 + i);
    make(ANY_ID, 1);
    uint8_t *before = table->slots;
    DynamicNode *head = table->dynamic_head;
    heap_fail_allocations(app_heap(), 0, 1);
    EXPECT_EQ(object_table_alloc(table, 20), nullptr);
    EXPECT_EQ(object_table_alloc(table, INTPTR_MAX), nullptr);
    EXPECT_EQ(object_table_alloc(table, INT32_MAX), nullptr);
    EXPECT_EQ(table->capacity, 16);
    EXPECT_EQ(table->slots, before);
    EXPECT_EQ(freed.size(), 16u);
    heap_fail_allocations(object_heap(), 0, 1);
    EXPECT_EQ(object_table_alloc(table, ANY_ID), nullptr);
    EXPECT_EQ(table->dynamic_head, head);
    EXPECT_EQ(dynamic_numbers().size(), 1u);
    ASSERT_NE(make(40, 40), nullptr);
    EXPECT_EQ(table->capacity, 56);
    for (int i = 0; i < 56; i++) {
        auto *r = static_cast<TestRecord *>(object_table_get(table, i));
        EXPECT_EQ(r ? r->payload : -1, i < 16 ? 100 + i : i == 40 ? 40 : -1) << i;
    }
    auto *bytes = table->slots + 16 * sizeof(TestRecord);
    for (size_t k = 0; k < 24 * sizeof(TestRecord); k++)
        ASSERT_EQ(bytes[k], 0);
}

static int init_calls;
static void count_init(void *block) {
    init_calls++;
    static_cast<int32_t *>(block)[0] = 42;
}

// Sizes below 1 and a full heap make no table or state block; a table that was never made
// answers null and changes nothing. A state block comes zeroed, then its init callback runs.
TEST(ObjectTableCreate, FailuresGiveNull) {
    EXPECT_EQ(object_table_create(0, 16, nullptr), nullptr);
    EXPECT_EQ(object_table_create(8, 0, nullptr), nullptr);
    heap_fail_allocations(app_heap(), 0, 1);
    EXPECT_EQ(object_table_create(8, 16, nullptr), nullptr);
    EXPECT_EQ(heap_failures(FAILURE_HARD), 1);
    EXPECT_FALSE(object_table_ready(nullptr));
    ObjectNumber number = 0;
    EXPECT_EQ(object_table_alloc(nullptr, 0), nullptr);
    EXPECT_EQ(object_table_get(nullptr, 0), nullptr);
    object_table_free(nullptr, 0);
    object_table_iter_reset(nullptr);
    EXPECT_EQ(object_table_iter_next(nullptr, &number), nullptr);
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
    auto *plain = static_cast<uint8_t *>(state_block_alloc(64, nullptr, nullptr));
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(plain, plain + 64), std::vector<uint8_t>(64, 0));
    EXPECT_EQ(state_block_get(plain), plain);
    init_calls = 0;
    auto *inited = static_cast<int32_t *>(state_block_alloc(16, count_init, nullptr));
    ASSERT_NE(inited, nullptr);
    EXPECT_EQ(init_calls, 1);
    EXPECT_EQ(inited[0], 42);
    EXPECT_EQ(inited[1], 0);
    heap_fail_allocations(app_heap(), 0, 1);
    EXPECT_EQ(state_block_alloc(16, count_init, nullptr), nullptr);
    EXPECT_EQ(state_block_alloc(0, count_init, nullptr), nullptr);
    EXPECT_EQ(init_calls, 1); // no block, no init
    heap_fail_reset();
    EXPECT_TRUE(runtime_heaps_valid());
}

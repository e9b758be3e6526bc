#include "runtime/core/core_private.h"
#include "tests/support/test_support.h"

TEST(Heaps, CoreHeapsExistAndTheScratchBlockIsMade) {
    const CoreState &core = core_library();
    EXPECT_TRUE(core_ready());
    EXPECT_NE(core.object_heap, nullptr);
    EXPECT_NE(core.scratch_heap, nullptr);
    ASSERT_NE(core.scratch_block, nullptr);
    EXPECT_EQ(core.scratch_size, 16);
    EXPECT_EQ(core.scratch_position, 0);
    EXPECT_GE(HeapSize(core.scratch_heap, 0, core.scratch_block), 16u);
    core_library().runtime_flags[0] = core_library().runtime_flags[1] = 5;
    runtime_flags_reset();
    EXPECT_EQ(core.runtime_flags[0], 0);
    EXPECT_EQ(core.runtime_flags[1], 0);
}

TEST(Heaps, FaultSeamFailsExactlyTheArmedAttempts) {
    HANDLE heap = app_heap();
    heap_fail_allocations(heap, 2, 2);
    void *a = heap_alloc(heap, 0, 8);
    void *b = heap_alloc(object_heap(), 0, 8); // another heap: not counted
    void *c = heap_alloc(heap, 0, 8);
    void *d = heap_alloc(heap, 0, 8);
    void *e = heap_realloc(heap, 0, a, 16);
    void *f = heap_alloc(heap, 0, 8);
    EXPECT_NE(a, nullptr);
    EXPECT_NE(b, nullptr);
    EXPECT_NE(c, nullptr);
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(e, nullptr);
    EXPECT_NE(f, nullptr);
    EXPECT_EQ(heap_failures(FAILURE_HARD), 2);
    uint32_t before = heap_allocation_attempts();
    heap_free(heap, heap_alloc(heap, 0, 4));
    EXPECT_EQ(heap_allocation_attempts(), before + 1);
    heap_free(heap, a);
    heap_free(object_heap(), b);
    heap_free(heap, c);
    heap_free(heap, f);
    heap_free(heap, nullptr);
    EXPECT_TRUE(runtime_heaps_valid());
}

// A persistent failure fails every allocation from then on, and each failure counts as the
// kind its caller marked, the innermost mark winning until it ends.
TEST(Heaps, FailuresForeverAreCountedByTheKindTheCallerTolerates) {
    HANDLE heap = app_heap();
    heap_fail_allocations(heap, 0, HEAP_FAIL_FOREVER);
    EXPECT_EQ(heap_alloc(heap, 0, 8), nullptr);
    {
        TolerateFailure part(FAILURE_WITHOUT_PART);
        EXPECT_EQ(heap_alloc(heap, 0, 8), nullptr);
        {
            TolerateFailure event(FAILURE_LOST_EVENT);
            EXPECT_EQ(heap_alloc(heap, 0, 8), nullptr);
        }
        EXPECT_EQ(heap_alloc(heap, 0, 8), nullptr);
    }
    EXPECT_EQ(heap_realloc(heap, 0, nullptr, 8), nullptr);
    EXPECT_EQ(heap_failures(FAILURE_HARD), 2);
    EXPECT_EQ(heap_failures(FAILURE_WITHOUT_PART), 2);
    EXPECT_EQ(heap_failures(FAILURE_LOST_EVENT), 1);
    heap_fail_reset();
    void *block = heap_alloc(heap, 0, 8);
    EXPECT_NE(block, nullptr);
    heap_free(heap, block);
    heap_fail_allocations(heap, 0, 1); // arming again starts the counts afresh
    EXPECT_EQ(heap_failures(FAILURE_HARD), 0);
    heap_fail_reset();
}

#include "runtime/core/heap.h"
#include "tests/support/test_support.h"
#include <gtest/gtest.h>

TEST(Heaps, CoreHeapsExistAndTheScratchBlockIsMade) {
    EXPECT_NE(core_state.object_heap, nullptr);
    EXPECT_NE(core_state.scratch_heap, nullptr);
    ASSERT_NE(core_state.scratch_block, nullptr);
    EXPECT_EQ(core_state.scratch_size, 16);
    EXPECT_EQ(core_state.scratch_position, 0);
    EXPECT_GE(HeapSize(core_state.scratch_heap, 0, core_state.scratch_block), 16u);
    core_state.runtime_flags[0] = core_state.runtime_flags[1] = 5;
    runtime_flags_reset();
    EXPECT_EQ(core_state.runtime_flags[0], 0);
    EXPECT_EQ(core_state.runtime_flags[1], 0);
}

TEST(Heaps, FaultSeamFailsExactlyTheArmedAttempts) {
    HANDLE heap = app_heap();
    heap_fail_allocations(heap, 2, 2);
    EXPECT_TRUE(heap_fault_pending());
    void *a = heap_alloc(heap, 0, 8);
    void *b = heap_alloc(object_heap(), 0, 8); // another heap: not counted
    void *c = heap_alloc(heap, 0, 8);
    void *d = heap_alloc(heap, 0, 8);
    void *e = heap_realloc(heap, 0, a, 16);
    EXPECT_FALSE(heap_fault_pending());
    void *f = heap_alloc(heap, 0, 8);
    EXPECT_NE(a, nullptr);
    EXPECT_NE(b, nullptr);
    EXPECT_NE(c, nullptr);
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(e, nullptr);
    EXPECT_NE(f, nullptr);
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

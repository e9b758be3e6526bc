#include "runtime/core/core_private.h"
#include "tests/support/test_support.h"
#include <string.h>
#include <utility>
#include <vector>

// The core is ready once its heaps and scratch block are made, and not while the platform
// cannot make its heaps; before the host is set there is no application heap or instance.
TEST(Heaps, CoreHeapsExistAndTheScratchBlockIsMade) {
    CoreState &core = core_library();
    EXPECT_TRUE(core_ready());
    EXPECT_TRUE(core.object_heap && core.scratch_heap);
    ASSERT_NE(core.scratch_block, nullptr);
    EXPECT_EQ(core.scratch_size, 16);
    EXPECT_EQ(core.scratch_position, 0);
    EXPECT_GE(HeapSize(core.scratch_heap, 0, core.scratch_block), 16u);
    core.runtime_flags[0] = core.runtime_flags[1] = 5;
    runtime_flags_reset();
    EXPECT_EQ(core.runtime_flags[0], 0);
    EXPECT_EQ(core.runtime_flags[1], 0);
    PlatformPatch failing("kernel32.dll", "HeapCreate", zero_replacement(HeapCreate));
    ASSERT_NE(failing.original(), nullptr);
    {
        Replaced<HANDLE> no_objects(core.object_heap, nullptr);
        object_heap_init();
        EXPECT_EQ(core.object_heap, nullptr);
        EXPECT_FALSE(core_ready());
    }
    Replaced<HANDLE> no_scratch_heap(core.scratch_heap, nullptr);
    Replaced<void *> no_scratch_block(core.scratch_block, nullptr);
    memory_init();
    EXPECT_EQ(core.scratch_block, nullptr);
    EXPECT_FALSE(core_ready());
    Replaced<RuntimeHost *> no_host(runtime_host, nullptr);
    EXPECT_EQ(app_heap(), nullptr);
    EXPECT_EQ(app_instance(), nullptr);
}

// After the armed number of attempts on its heap, the seam fails the next ones, reallocations
// included, and counts them; other heaps do not count. Null heaps allocate and free nothing.
TEST(Heaps, FaultSeamFailsExactlyTheArmedAttempts) {
    HANDLE heap = app_heap();
    heap_fail_allocations(heap, 2, 2);
    void *a = heap_alloc(heap, 0, 8), *b = heap_alloc(object_heap(), 0, 8);
    void *c = heap_alloc(heap, 0, 8), *d = heap_alloc(heap, 0, 8);
    void *e = heap_realloc(heap, 0, a, 16), *f = heap_alloc(heap, 0, 8);
    EXPECT_EQ((std::vector<bool>{!a, !b, !c, !d, !e, !f}),
              (std::vector<bool>{false, false, false, true, true, false}));
    EXPECT_EQ(heap_failures(FAILURE_HARD), 2);
    uint32_t before = heap_allocation_attempts();
    heap_free(heap, heap_alloc(heap, 0, 4));
    EXPECT_EQ(heap_allocation_attempts(), before + 1);
    {
        PlatformPatch no_size("kernel32.dll", "HeapSize", zero_replacement(HeapSize));
        PlatformPatch no_block("kernel32.dll", "HeapAlloc", zero_replacement(HeapAlloc));
        PlatformPatch no_free("kernel32.dll", "HeapFree", zero_replacement(HeapFree));
        ASSERT_TRUE(no_size.original() && no_block.original() && no_free.original());
        Replaced<int32_t> calls(zero_answers, 0);
        EXPECT_EQ(heap_alloc(nullptr, 0, 8), nullptr);
        EXPECT_EQ(heap_realloc(nullptr, 0, a, 8), nullptr);
        heap_free(nullptr, a), heap_free(heap, nullptr);
        EXPECT_EQ(zero_answers, 0); // not one heap call
    }
    heap_free(heap, a), heap_free(object_heap(), b), heap_free(heap, c), heap_free(heap, f);
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

static SIZE_T WINAPI no_size(HANDLE, DWORD, LPCVOID) {
    return SIZE_T(-1);
}

// A reallocation keeps what fits, also when it shrinks; when the platform cannot tell the old
// size or give a new block, it fails and the block stays as it was.
TEST(Heaps, ReallocationKeepsWhatFitsOrLeavesTheBlockAlone) {
    HANDLE heap = app_heap();
    char *block = static_cast<char *>(heap_alloc(heap, 0, 256));
    ASSERT_NE(block, nullptr);
    memset(block, 'a', 256); // copied whole into 4 bytes, it would run over the next block
    memcpy(block, "abcd", 4);
    block = static_cast<char *>(heap_realloc(heap, 0, block, 4));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(memcmp(block, "abcd", 4), 0);
    const std::pair<const char *, const void *> failures[] = {
        {"HeapSize", reinterpret_cast<const void *>(no_size)},
        {"HeapAlloc", zero_replacement(HeapAlloc)}};
    for (const auto &[function, replacement] : failures) {
        SCOPED_TRACE(function);
        PlatformPatch failing("kernel32.dll", function, replacement);
        ASSERT_NE(failing.original(), nullptr);
        EXPECT_EQ(heap_realloc(heap, 0, block, 64), nullptr);
    }
    EXPECT_EQ(memcmp(block, "abcd", 4), 0);
    heap_free(heap, block);
    EXPECT_TRUE(runtime_heaps_valid());
}

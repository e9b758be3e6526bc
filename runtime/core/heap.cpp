#include "runtime/core/core_private.h"
#include <string.h>

RuntimeHost *runtime_host;
static CoreState core_state;

static const SIZE_T SCRATCH_HEAP_INITIAL_SIZE = 4096;
static const int32_t SCRATCH_BLOCK_SIZE = 16;
static const SIZE_T OBJECT_HEAP_INITIAL_SIZE = 1024;

CoreState &core_library() {
    return core_state;
}

// The heaps and the scratch block live as long as the process: a later start of the
// runtime takes them again instead of leaving them behind.
void memory_init() {
    if (!core_state.scratch_heap)
        core_state.scratch_heap = HeapCreate(HEAP_NO_SERIALIZE, SCRATCH_HEAP_INITIAL_SIZE, 0);
    if (core_state.scratch_heap && !core_state.scratch_block) {
        TolerateFailure without_block(FAILURE_WITHOUT_PART);
        core_state.scratch_block =
            heap_alloc(core_state.scratch_heap, HEAP_NO_SERIALIZE, SCRATCH_BLOCK_SIZE);
    }
    core_state.scratch_size = SCRATCH_BLOCK_SIZE;
    core_state.scratch_position = 0;
}

void object_heap_init() {
    if (!core_state.object_heap)
        core_state.object_heap = HeapCreate(0, OBJECT_HEAP_INITIAL_SIZE, 0);
}

void runtime_flags_reset() {
    core_state.runtime_flags[0] = 0;
    core_state.runtime_flags[1] = 0;
}

void runtime_core_end() {}

bool core_ready() {
    return core_state.object_heap && core_state.scratch_block;
}

HANDLE app_heap() {
    return runtime_host ? runtime_host->app_heap : nullptr;
}

HINSTANCE app_instance() {
    return runtime_host ? runtime_host->app_instance : nullptr;
}

HANDLE object_heap() {
    return core_state.object_heap;
}

#ifdef HM_TEST_SEAMS
struct HeapFaultPlan {
    int32_t armed;
    HANDLE heap;
    int32_t skip;
    int32_t count;
    uint32_t attempts;
    AllocationFailure tolerated; // the kind of the allocations being made now
    int32_t failures[FAILURE_KINDS];
};

static HeapFaultPlan fault_plan;

TolerateFailure::TolerateFailure(AllocationFailure kind) : outer(fault_plan.tolerated) {
    fault_plan.tolerated = kind;
}

TolerateFailure::~TolerateFailure() {
    fault_plan.tolerated = outer;
}

static bool allocation_should_fail(HANDLE heap) {
    fault_plan.attempts++;
    if (!fault_plan.armed) return false;
    if (fault_plan.heap && fault_plan.heap != heap) return false;
    if (fault_plan.skip > 0) {
        fault_plan.skip--;
        return false;
    }
    fault_plan.failures[fault_plan.tolerated]++;
    if (fault_plan.count != HEAP_FAIL_FOREVER && --fault_plan.count == 0) fault_plan.armed = 0;
    return true;
}

void heap_fail_allocations(HANDLE heap, int32_t skip, int32_t count) {
    fault_plan.heap = heap;
    fault_plan.skip = skip;
    fault_plan.count = count;
    fault_plan.armed = count > 0;
    for (int32_t &failures : fault_plan.failures)
        failures = 0;
}

void heap_fail_reset() {
    fault_plan.armed = 0;
}

int32_t heap_failures(AllocationFailure kind) {
    return fault_plan.failures[kind];
}

uint32_t heap_allocation_attempts() {
    return fault_plan.attempts;
}
#else
static inline bool allocation_should_fail(HANDLE) {
    return false;
}
#endif

void *heap_alloc(HANDLE heap, DWORD flags, SIZE_T size) {
    if (!heap || allocation_should_fail(heap)) return nullptr;
    return HeapAlloc(heap, flags, size);
}

#ifdef HM_TEST_SEAMS
// The checked builds move every reallocated block, as the platform may do on any call: a
// caller that still holds a pointer into the old block then reads freed, scrambled memory
// in every test run instead of on a rare day.
static const int STALE_BLOCK_BYTE = 0xDD;

static void *reallocate(HANDLE heap, DWORD flags, void *block, SIZE_T size) {
    SIZE_T old_size = HeapSize(heap, 0, block);
    if (old_size == SIZE_T(-1)) return nullptr;
    void *moved = HeapAlloc(heap, flags, size);
    if (!moved) return nullptr;
    memcpy(moved, block, old_size < size ? old_size : size);
    memset(block, STALE_BLOCK_BYTE, old_size);
    HeapFree(heap, 0, block);
    return moved;
}
#else
static void *reallocate(HANDLE heap, DWORD flags, void *block, SIZE_T size) {
    return HeapReAlloc(heap, flags, block, size);
}
#endif

void *heap_realloc(HANDLE heap, DWORD flags, void *block, SIZE_T size) {
    if (!heap || allocation_should_fail(heap)) return nullptr;
    return reallocate(heap, flags, block, size);
}

void heap_free(HANDLE heap, void *block) {
    if (heap && block) HeapFree(heap, 0, block);
}

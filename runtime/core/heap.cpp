#include "runtime/core/heap.h"

RuntimeHost *runtime_host;
CoreState core_state;

struct HeapFaultPlan {
    int32_t armed;
    HANDLE heap;
    int32_t skip;
    int32_t count;
    uint32_t attempts;
};

static HeapFaultPlan fault_plan;

void memory_init() {
    core_state.scratch_heap = HeapCreate(HEAP_NO_SERIALIZE, 4096, 0);
    core_state.scratch_block = nullptr;
    if (core_state.scratch_heap)
        core_state.scratch_block = heap_alloc(core_state.scratch_heap, HEAP_NO_SERIALIZE, 16);
    core_state.scratch_size = 16;
    core_state.scratch_position = 0;
}

void object_heap_init() { core_state.object_heap = HeapCreate(0, 1024, 0); }

void runtime_flags_reset() {
    core_state.runtime_flags[0] = 0;
    core_state.runtime_flags[1] = 0;
}

void runtime_core_end() {}

HANDLE app_heap() { return runtime_host ? runtime_host->app_heap : nullptr; }

HANDLE object_heap() { return core_state.object_heap; }

static bool allocation_should_fail(HANDLE heap) {
    fault_plan.attempts++;
    if (!fault_plan.armed) return false;
    if (fault_plan.heap && fault_plan.heap != heap) return false;
    if (fault_plan.skip > 0) {
        fault_plan.skip--;
        return false;
    }
    if (fault_plan.count > 0) {
        fault_plan.count--;
        if (fault_plan.count == 0) fault_plan.armed = 0;
        return true;
    }
    fault_plan.armed = 0;
    return false;
}

void *heap_alloc(HANDLE heap, DWORD flags, SIZE_T size) {
    if (!heap || allocation_should_fail(heap)) return nullptr;
    return HeapAlloc(heap, flags, size);
}

void *heap_realloc(HANDLE heap, DWORD flags, void *block, SIZE_T size) {
    if (!heap || allocation_should_fail(heap)) return nullptr;
    return HeapReAlloc(heap, flags, block, size);
}

void heap_free(HANDLE heap, void *block) {
    if (heap && block) HeapFree(heap, 0, block);
}

void heap_fail_allocations(HANDLE heap, int32_t skip, int32_t count) {
    fault_plan.heap = heap;
    fault_plan.skip = skip;
    fault_plan.count = count;
    fault_plan.armed = count > 0;
}

void heap_fail_reset() { fault_plan.armed = 0; }

bool heap_fault_pending() { return fault_plan.armed != 0; }

uint32_t heap_allocation_attempts() { return fault_plan.attempts; }

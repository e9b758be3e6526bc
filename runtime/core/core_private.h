#pragma once
// Shared by the core's own files and open to the tests; not part of its interface.
#include "runtime/core/array.h"
#include "runtime/core/heap.h"
#include "runtime/core/object_table.h"

struct CoreState {
    HANDLE object_heap;
    HANDLE scratch_heap;
    void *scratch_block;
    int32_t scratch_size;
    int32_t scratch_position;
    int32_t runtime_flags[2];
};

CoreState &core_library();
// The heap of dynamically numbered records; null before object_heap_init.
HANDLE object_heap();

#ifdef HM_TEST_SEAMS
// The allocation-failure harness, in test builds only. After `skip` more attempts on `heap` (null:
// any) succeed, the next `count` fail.
void heap_fail_allocations(HANDLE heap, int32_t skip, int32_t count);
const int32_t HEAP_FAIL_FOREVER = INT32_MAX; // a count: every attempt from then on fails
void heap_fail_reset();
// The failures of one kind since heap_fail_allocations.
int32_t heap_failures(AllocationFailure kind);
uint32_t heap_allocation_attempts();
#endif

// Header in front of the record of a dynamically numbered object (same block).
struct DynamicNode {
    DynamicNode *next; // next older node, null at the tail
    DynamicNode *prev; // next newer node, null at the head
};

struct ObjectTable {
    int32_t element_size;
    int32_t grow_step;
    int32_t capacity;
    DynamicNode *dynamic_head;
    ObjectFreeCallback free_callback;
    int32_t iter_index;
    DynamicNode *iter_node;
    uint8_t *slots;
};

// Held in the caller's storage: the data pointer, then one int32 entry per dimension.
// Before allocation each entry holds its dimension's element count; allocation turns
// all but the last into index multipliers.
struct ArrayDescriptor {
    void *data;
    // int32_t entries[dimension count] follow
};

inline int32_t *array_descriptor_entries(void *descriptor) {
    return reinterpret_cast<int32_t *>(static_cast<char *>(descriptor) + sizeof(void *));
}

struct ArrayHeader {
    int32_t dim_count;
    int32_t element_size;
    int32_t aux_word;
    void *descriptor;
    int32_t element_count;
    int32_t type_code;
};

// A one-dimensional array of element_count + 1 elements; null for a size it cannot make.
void *array_alloc_block(int32_t element_count, int32_t element_size, int32_t aux_word,
                        void *descriptor, int32_t type_code);

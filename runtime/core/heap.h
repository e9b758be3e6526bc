#pragma once
// Private heaps of the runtime and the one seam through which all of its heap calls pass.
#include <windows.h>
#include <stdint.h>

// The first two fields of the application's globals. The entry creates and owns them;
// every runtime library reads them through runtime_host.
struct RuntimeHost {
    HANDLE app_heap;
    HINSTANCE app_instance;
};

// Points at the application's globals; set by the entry before any runtime call.
extern RuntimeHost *runtime_host;

struct CoreState {
    HANDLE object_heap;
    HANDLE scratch_heap;
    void *scratch_block;
    int32_t scratch_size;
    int32_t scratch_position;
    int32_t runtime_flags[2];
};

extern CoreState core_state;

void memory_init();
void object_heap_init();
void runtime_flags_reset();
// The last step of the runtime's end sequence; the heaps go with the process.
void runtime_core_end();

HANDLE app_heap();
HANDLE object_heap();

void *heap_alloc(HANDLE heap, DWORD flags, SIZE_T size);
void *heap_realloc(HANDLE heap, DWORD flags, void *block, SIZE_T size);
void heap_free(HANDLE heap, void *block);

// Test seam: after `skip` more allocation attempts on `heap` succeed, the next `count`
// fail (HeapAlloc and HeapReAlloc both count). A null heap matches every heap.
// Unarmed it costs one compare per allocation.
void heap_fail_allocations(HANDLE heap, int32_t skip, int32_t count);
void heap_fail_reset();
// True while an armed failure has not happened yet.
bool heap_fault_pending();
// Allocation attempts made through the seam since the process started.
uint32_t heap_allocation_attempts();

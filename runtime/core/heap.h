#pragma once
// Private heaps of the runtime and the one wrapper through which all of its heap calls pass.
#include <windows.h>
#include <stdint.h>

// The first two fields of the application's globals, which the entry creates and owns.
struct RuntimeHost {
    HANDLE app_heap;
    HINSTANCE app_instance;
};

// Points at the application's globals; set by the entry before any runtime call.
extern RuntimeHost *runtime_host;

// Creates the scratch heap and its first block; on failure the core is not ready.
void memory_init();
// Creates the object heap; on failure the core is not ready.
void object_heap_init();
// Clears the runtime flags; cannot fail.
void runtime_flags_reset();
// The last step of the runtime's end sequence; the heaps go with the process.
void runtime_core_end();
// True when memory_init and object_heap_init made everything they make.
bool core_ready();

// The host's application heap, or null before the entry has set the host.
HANDLE app_heap();
// The host's module instance, or null before the entry has set the host.
HINSTANCE app_instance();

// HeapAlloc on `heap`; null for a null heap or when the heap has no room.
void *heap_alloc(HANDLE heap, DWORD flags, SIZE_T size);
// HeapReAlloc on `heap`; null (the block unchanged) for a null heap or no room.
void *heap_realloc(HANDLE heap, DWORD flags, void *block, SIZE_T size);
// HeapFree; a null heap or block does nothing.
void heap_free(HANDLE heap, void *block);

// An allocation's failure makes its operation fail and change nothing, except where it is
// marked as tolerated: the operation then loses one event, or goes on without a part.
enum AllocationFailure { FAILURE_HARD, FAILURE_LOST_EVENT, FAILURE_WITHOUT_PART, FAILURE_KINDS };

#ifdef HM_TEST_SEAMS
// Marks the allocations made while it lives as of one tolerated kind, for the
// allocation-failure harness of the test builds.
class TolerateFailure {
  public:
    explicit TolerateFailure(AllocationFailure kind);
    ~TolerateFailure();

  private:
    AllocationFailure outer;
};
#else
class TolerateFailure {
  public:
    explicit TolerateFailure(AllocationFailure) {}
};
#endif

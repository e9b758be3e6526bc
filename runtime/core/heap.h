#pragma once
// Private heaps of the runtime and the one wrapper through which all of its heap calls pass.
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

// What an operation does when one of its allocations fails. By default it fails and changes
// nothing; the design tolerates two kinds of failure, in which the operation carries on.
enum AllocationFailure {
    FAILURE_HARD,
    FAILURE_LOST_EVENT,   // a posted event's queue node: that one event is lost
    FAILURE_WITHOUT_PART, // a part the operation goes on without (a window's Tab entries)
    FAILURE_KIND_COUNT
};

#ifdef HM_TEST_SEAMS
// Marks the allocations made while it lives as of one tolerated kind, for the harness below.
class TolerateFailure {
  public:
    explicit TolerateFailure(AllocationFailure kind);
    ~TolerateFailure();

  private:
    AllocationFailure outer;
};

// Allocation-failure harness, in test builds only. After `skip` more allocation attempts on
// `heap` succeed (a null heap matches every heap), the next `count` fail; HeapAlloc and
// HeapReAlloc both count. Arming clears the counts of failures.
void heap_fail_allocations(HANDLE heap, int32_t skip, int32_t count);
// A count for heap_fail_allocations: every allocation from the first failing one on fails.
const int32_t HEAP_FAIL_FOREVER = INT32_MAX;
void heap_fail_reset();
// True while an armed failure has not struck yet.
bool heap_fault_pending();
// The failures since the last arming, of one kind.
int32_t heap_failures(AllocationFailure kind);
// Allocation attempts made through the wrapper since the process started.
uint32_t heap_allocation_attempts();
#else
// Without the harness the marking is nothing at all.
class TolerateFailure {
  public:
    explicit TolerateFailure(AllocationFailure) {}
};
#endif

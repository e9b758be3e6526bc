#include "tests/support/test_support.h"
#include "tests/support/build_target.h"
#include "runtime/core/core_private.h"
#include "runtime/runtime.h"
#include <stdio.h>

RuntimeHost test_host;

static const SIZE_T TEST_HEAP_INITIAL_SIZE = 4096;

static bool heap_valid(HANDLE heap) {
    return !heap || HeapValidate(heap, 0, nullptr);
}

bool runtime_heaps_valid() {
    return heap_valid(app_heap()) && heap_valid(object_heap()) &&
           heap_valid(core_library().scratch_heap) && heap_valid(GetProcessHeap());
}

int main(int argc, char **argv) {
    // A crash ends the test program at once instead of waiting in a debugger.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    report_build_target();
    test_host.app_instance = GetModuleHandleA(nullptr);
    test_host.app_heap = HeapCreate(0, TEST_HEAP_INITIAL_SIZE, 0);
    runtime_host = &test_host;
    if (!runtime_start()) {
        fprintf(stderr, "the runtime did not start\n");
        return 1;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

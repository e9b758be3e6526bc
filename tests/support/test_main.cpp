#include "tests/support/test_support.h"
#include "tests/support/build_target.h"
#include <gtest/gtest.h>

RuntimeHost test_host;

bool runtime_heaps_valid() {
    return HeapValidate(test_host.app_heap, 0, nullptr) &&
           HeapValidate(core_state.object_heap, 0, nullptr) &&
           HeapValidate(core_state.scratch_heap, 0, nullptr);
}

int main(int argc, char **argv) {
    // A crash ends the test program at once instead of waiting in a debugger.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    report_build_target();
    test_host.app_instance = GetModuleHandleA(nullptr);
    test_host.app_heap = HeapCreate(0, 4096, 0);
    runtime_host = &test_host;
    memory_init();
    object_heap_init();
    runtime_flags_reset();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

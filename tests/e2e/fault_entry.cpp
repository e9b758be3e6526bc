// A test build of the program's entry: the shipped program's own app_main, with one
// allocation of its start-up made to fail first, after as many as the command line says.
// Given "count" instead, it only starts and ends the program and exits with the number of
// allocations that its start-up made.
#include "app/app.h"
#include "runtime/core/core_private.h"
#include <stdlib.h>
#include <string.h>

#ifdef HM_COVERAGE
// ExitProcess runs none of the C runtime's exit handlers, which write the coverage counts;
// a fiber-local value's callback still runs.
extern "C" void __gcov_dump();
static void WINAPI write_coverage(void *) {
    __gcov_dump();
}
#endif

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int) {
#ifdef HM_COVERAGE
    FlsSetValue(FlsAlloc(write_coverage), command_line);
#endif
    if (strncmp(command_line, "count", 5) == 0) {
        uint32_t before = heap_allocation_attempts();
        bool started = app_start();
        uint32_t made = heap_allocation_attempts() - before;
        if (started) app_end();
        ExitProcess(started ? made : 0xFFFFu);
    }
    heap_fail_allocations(nullptr, atoi(command_line), 1);
    app_main();
}

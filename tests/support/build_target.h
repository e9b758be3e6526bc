#pragma once
// The first thing every test program says: the target it was built for and the kind of
// process it runs as. scripts/test collects these lines, so that a run of the 32-bit
// target can never quietly have been a run of another build.
#include <windows.h>
#include <stdio.h>
#include <string.h>

static_assert(sizeof(void *) == HM_TARGET_POINTER_SIZE,
              "a test program's pointer size must be that of the target its test is named for");

inline void report_build_target() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    const char *name = strrchr(path, '\\');
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    printf("test program %s (%s): ran as a %d-bit process, pointer size %d%s\n",
           name ? name + 1 : path, HM_TARGET_NAME, int(sizeof(void *) * 8), int(sizeof(void *)),
           wow64 ? ", under WoW64" : "");
    fflush(stdout);
}

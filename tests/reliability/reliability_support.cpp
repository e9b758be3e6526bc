#include "tests/reliability/reliability_support.h"
#include "runtime/core/core_private.h"
#include <psapi.h>
#include <stdlib.h>

// The system's shared cursors and icons, by resource number.
static const int FIRST_SYSTEM_CURSOR = 32512;
static const int LAST_SYSTEM_CURSOR = 32700;

HeapUse runtime_heap_use() {
    HeapUse a = heap_use(app_heap());
    HeapUse b = heap_use(object_heap());
    return {a.blocks + b.blocks, a.bytes + b.bytes};
}

int64_t private_bytes() {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(),
                              reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&counters),
                              sizeof counters))
        return 0;
    // Wine reports committed private memory as PagefileUsage and leaves PrivateUsage 0.
    SIZE_T bytes = counters.PrivateUsage > counters.PagefileUsage ? counters.PrivateUsage
                                                                  : counters.PagefileUsage;
    return int64_t(bytes);
}

// Makes objects until the system refuses one more, then frees them all again.
template <typename Make, typename Free> static int64_t headroom(Make make, Free free_object) {
    static std::vector<HANDLE> made;
    made.clear();
    made.reserve(70000);
    for (;;) {
        HANDLE object = make();
        if (!object) break;
        made.push_back(object);
        if (made.size() >= 200000) break; // no table is this large; stop all the same
    }
    for (HANDLE object : made)
        free_object(object);
    return int64_t(made.size());
}

// Table sizes the counts are taken from; only differences of counts matter.
static const int64_t GDI_TABLE_SIZE = 65536;
static const int64_t USER_TABLE_SIZE = 65536;

int64_t gdi_objects() {
    DWORD counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (counted) return counted;
    return GDI_TABLE_SIZE -
           headroom([] { return HANDLE(CreateSolidBrush(0)); }, [](HANDLE h) { DeleteObject(h); });
}

int64_t user_objects() {
    DWORD counted = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    if (counted) return counted;
    static const ACCEL entry = {FVIRTKEY, 'Q', 1};
    ACCEL copy = entry;
    // USER objects come from one table for every process: two test programs that counted at
    // the same time would each see the other's count as objects of their own. They take turns.
    HANDLE turn = CreateMutexA(nullptr, FALSE, "heightmap-tests-user-count");
    if (turn) WaitForSingleObject(turn, INFINITE);
    int64_t count =
        USER_TABLE_SIZE - headroom([&copy] { return HANDLE(CreateAcceleratorTableA(&copy, 1)); },
                                   [](HANDLE h) { DestroyAcceleratorTable(HACCEL(h)); });
    if (turn) {
        ReleaseMutex(turn);
        CloseHandle(turn);
    }
    return count;
}

void load_shared_cursors_and_icons() {
    for (int id = FIRST_SYSTEM_CURSOR; id <= LAST_SYSTEM_CURSOR; id++) {
        LoadCursorA(nullptr, MAKEINTRESOURCEA(id));
        LoadIconA(nullptr, MAKEINTRESOURCEA(id));
    }
}

void *no_access_page() {
    static void *page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS);
    return page;
}

void *live_looking_page() {
    static void *page = [] {
        void *p = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (p) memset(p, 0xFF, 4096);
        return p;
    }();
    return page;
}

int32_t run_parameter(const char *name, int32_t otherwise) {
    char text[16] = {};
    DWORD length = GetEnvironmentVariableA(name, text, sizeof text);
    if (length == 0 || length >= sizeof text) return otherwise;
    char *end = nullptr;
    long value = strtol(text, &end, 10);
    return *end == 0 && value > 0 && value <= INT32_MAX ? int32_t(value) : otherwise;
}

bool running_emulated() {
    return GetEnvironmentVariableA("HM_EMULATION", nullptr, 0) != 0;
}

#include "tests/reliability/reliability_support.h"
#include "app/app.h"
#include "runtime/core/heap.h"
#include "runtime/gadget/gadget.h"
#include "runtime/window/window.h"
#include "tests/support/test_support.h"
#include <psapi.h>
#include <stdlib.h>

const WORD COMMAND_KEYS[7] = {VK_RETURN, '1', '2', 'N', 'Z', 'B', 'I'};

HeapUse heap_use(HANDLE heap) {
    HeapUse use = {0, 0};
    if (!heap) return use;
    PROCESS_HEAP_ENTRY entry = {};
    HeapLock(heap);
    while (HeapWalk(heap, &entry))
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
            use.blocks++;
            use.bytes += int64_t(entry.cbData);
        }
    HeapUnlock(heap);
    return use;
}

HeapUse runtime_heap_use() {
    HeapUse a = heap_use(app_heap());
    HeapUse b = heap_use(object_heap());
    return {a.blocks + b.blocks, a.bytes + b.bytes};
}

static bool heap_valid(HANDLE heap) {
    return !heap || HeapValidate(heap, 0, nullptr);
}

bool program_heaps_valid() {
    return heap_valid(app_heap()) && heap_valid(core_state.object_heap) &&
           heap_valid(core_state.scratch_heap) && heap_valid(GetProcessHeap());
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
    for (int id = 32512; id <= 32700; id++) {
        LoadCursorA(nullptr, MAKEINTRESOURCEA(id));
        LoadIconA(nullptr, MAKEINTRESOURCEA(id));
    }
}

static BOOL CALLBACK count_window(HWND, LPARAM count) {
    ++*reinterpret_cast<int32_t *>(count);
    return TRUE;
}

int32_t thread_window_count() {
    int32_t count = 0;
    EnumThreadWindows(GetCurrentThreadId(), count_window, reinterpret_cast<LPARAM>(&count));
    return count;
}

int32_t child_window_count(HWND window) {
    int32_t count = 0;
    EnumChildWindows(window, count_window, reinterpret_cast<LPARAM>(&count));
    return count;
}

int32_t run_waiting_events() {
    int32_t menus = 0;
    for (;;) {
        app.last_event = event_wait_timeout(0);
        if (!app.last_event) return menus;
        if (app.last_event == EVENT_MENU) {
            app_menu_event(event_menu());
            menus++;
        }
    }
}

intptr_t run_command_key(WORD key) {
    HWND window = program_window();
    PostMessageA(window, WM_KEYDOWN, key, 1);
    PostMessageA(window, WM_KEYUP, key, LPARAM(0xC0000001u));
    for (;;) {
        app.last_event = event_wait_timeout(0);
        if (!app.last_event) return -1;
        if (app.last_event == EVENT_MENU) {
            intptr_t menu = event_menu();
            app_menu_event(menu);
            run_waiting_events();
            return menu;
        }
    }
}

void activate_program_window() {
    HWND window = program_window();
    if (GetActiveWindow() == window) return;
    SetForegroundWindow(window);
    SetActiveWindow(window);
    run_waiting_events();
}

HWND program_window() {
    auto *record = static_cast<WindowRecord *>(object_table_get(window_lib.window_table, 0));
    return record ? record->window : nullptr;
}

HWND program_gadget_control() {
    auto *record = static_cast<GadgetRecord *>(object_table_get(gadget_lib.gadget_table, 0));
    return record ? record->window : nullptr;
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

void ProgramTest::SetUp() {
    ASSERT_TRUE(app_start());
    run_waiting_events();
}

void ProgramTest::TearDown() {
    heap_fail_reset();
    if (runtime_host != &app.host) return; // the start-up failed and cleaned up itself
    EXPECT_TRUE(program_heaps_valid());
    app_end();
    // The test program's own host again, for whatever runs next.
    runtime_host = &test_host;
}

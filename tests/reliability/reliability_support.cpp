#include "tests/reliability/reliability_support.h"
#include "runtime/core/core_private.h"
#include <psapi.h>
#include <algorithm>
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
    GetProcessMemoryInfo(GetCurrentProcess(),
                         reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&counters), sizeof counters);
    // Wine reports committed private memory as PagefileUsage and leaves PrivateUsage 0.
    return int64_t(std::max(counters.PrivateUsage, counters.PagefileUsage));
}

// Under Wine, which counts no GUI objects, a handle's low word is its index in the process's
// own table, and the calls that look a handle up take the index alone; two name a USER index.
static const uintptr_t HANDLE_INDEXES = 0x10000;
static const uintptr_t USER_INDEX_STEP = 2;
// GDI object types are numbered from OBJ_PEN (1) to OBJ_COLORSPACE (14).
static const DWORD GDI_OBJECT_TYPES = OBJ_COLORSPACE + 1;

static uintptr_t handle_index(const void *handle) {
    return uintptr_t(handle) & (HANDLE_INDEXES - 1);
}

static DWORD gdi_type(uintptr_t index) {
    return GetObjectType(reinterpret_cast<HGDIOBJ>(index));
}

// An accelerator table, a menu, an icon or a cursor of this process at the index.
static bool user_object_at(uintptr_t index) {
    HANDLE handle = reinterpret_cast<HANDLE>(index);
    if (CopyAcceleratorTableA(HACCEL(handle), nullptr, 0) > 0 || IsMenu(HMENU(handle))) return true;
    ICONINFO icon;
    if (!GetIconInfo(HICON(handle), &icon)) return false;
    DeleteObject(icon.hbmColor);
    DeleteObject(icon.hbmMask);
    return true;
}

// Whether the walks find a new brush and accelerator table, and neither once it is gone.
static bool walks_count() {
    static const bool work = [] {
        ACCEL entry = {FVIRTKEY, 'Q', 1};
        HBRUSH brush = CreateSolidBrush(0);
        HACCEL table = CreateAcceleratorTableA(&entry, 1);
        bool found =
            gdi_type(handle_index(brush)) == OBJ_BRUSH && user_object_at(handle_index(table));
        DeleteObject(brush);
        DestroyAcceleratorTable(table);
        return found && !gdi_type(handle_index(brush)) && !user_object_at(handle_index(table));
    }();
    if (!work) ADD_FAILURE() << "this system neither counts GUI objects nor lets them be walked";
    return work;
}

int64_t gdi_objects(std::string *by_type) {
    if (DWORD counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)) return counted;
    int64_t counts[GDI_OBJECT_TYPES] = {}, all = 0;
    for (uintptr_t index = 0; index < HANDLE_INDEXES && walks_count(); index++) {
        DWORD type = gdi_type(index);
        all += type != 0;
        if (type < GDI_OBJECT_TYPES) counts[type]++;
    }
    for (DWORD type = 1; by_type && type < GDI_OBJECT_TYPES; type++)
        if (counts[type])
            *by_type += " type " + std::to_string(type) + ": " + std::to_string(counts[type]);
    return all;
}

static BOOL CALLBACK count_window(HWND, LPARAM count) {
    ++*reinterpret_cast<int64_t *>(count);
    return TRUE;
}

static BOOL CALLBACK count_window_and_children(HWND window, LPARAM count) {
    EnumChildWindows(window, count_window, count);
    return count_window(window, count);
}

int64_t user_objects() {
    if (DWORD counted = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS)) return counted;
    int64_t count = 0;
    EnumThreadWindows(GetCurrentThreadId(), count_window_and_children, LPARAM(&count));
    if (!walks_count()) return count;
    for (uintptr_t index = 0; index < HANDLE_INDEXES; index += USER_INDEX_STEP)
        count += user_object_at(index);
    return count;
}

void load_shared_cursors_and_icons() {
    for (int id = FIRST_SYSTEM_CURSOR; id <= LAST_SYSTEM_CURSOR; id++) {
        LoadCursorA(nullptr, MAKEINTRESOURCEA(id));
        LoadIconA(nullptr, MAKEINTRESOURCEA(id));
    }
}

// Presses of one key that may find the window inactive before the command counts as lost.
static const int32_t COMMAND_TRIES = 10;

intptr_t run_command(int32_t menu) {
    for (int32_t tries = 0; tries < COMMAND_TRIES; tries++) {
        activate_program_window();
        intptr_t answer = run_command_key(command_key(menu));
        if (answer >= 0 || GetActiveWindow() == program_window()) return answer;
    }
    return -1;
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
    const char *text = getenv(name);
    int value = text ? atoi(text) : 0;
    return value > 0 ? int32_t(value) : otherwise;
}

bool running_emulated() {
    return GetEnvironmentVariableA("HM_EMULATION", nullptr, 0) != 0;
}

#include "tests/support/test_support.h"
#include <stdio.h>
#include <string.h>

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

bool class_registered(const std::string &name) {
    WNDCLASSA info;
    return GetClassInfoA(GetModuleHandleA(nullptr), name.c_str(), &info) != 0;
}

std::string class_name_of(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

RECT window_rect(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect;
}

COLORREF window_pixel(HWND window, int32_t x, int32_t y) {
    HDC dc = GetDC(window);
    COLORREF pixel = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return pixel;
}

static BOOL CALLBACK count_window(HWND, LPARAM count) {
    ++*reinterpret_cast<int32_t *>(count);
    return TRUE;
}

int32_t child_count(HWND window) {
    int32_t count = 0;
    EnumChildWindows(window, count_window, reinterpret_cast<LPARAM>(&count));
    return count;
}

int32_t thread_window_count() {
    int32_t count = 0;
    EnumThreadWindows(GetCurrentThreadId(), count_window, reinterpret_cast<LPARAM>(&count));
    return count;
}

std::string number_text(intptr_t number) {
    char text[32];
    snprintf(text, sizeof text, "%lld", static_cast<long long>(number));
    return text;
}

void register_test_class(const char *name, WNDPROC procedure) {
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    window_class.lpszClassName = name;
    RegisterClassA(&window_class);
}

// The import address slot of dll!function in this program's import table, or null.
static void **import_slot(const char *dll, const char *function) {
    auto *base = reinterpret_cast<uint8_t *>(GetModuleHandleA(nullptr));
    auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
    auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto *module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress);
    for (; module->Name; module++) {
        if (_stricmp(reinterpret_cast<char *>(base + module->Name), dll) != 0) continue;
        auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + module->OriginalFirstThunk);
        auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + module->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto *name = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<char *>(name->Name), function) == 0)
                return reinterpret_cast<void **>(&slots->u1.Function);
        }
    }
    return nullptr;
}

static void write_slot(void **slot, const void *value) {
    DWORD protection = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection);
    *slot = const_cast<void *>(value);
    VirtualProtect(slot, sizeof *slot, protection, &protection);
}

PlatformPatch::PlatformPatch(const char *dll, const char *function, const void *replacement)
    : slot(import_slot(dll, function)), saved(slot ? *slot : nullptr) {
    if (slot) write_slot(slot, replacement);
}

PlatformPatch::~PlatformPatch() {
    if (slot) write_slot(slot, saved);
}

bool operator==(const RECT &a, const RECT &b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::ostream &operator<<(std::ostream &out, const RECT &r) {
    return out << "(" << r.left << "," << r.top << ")-(" << r.right << "," << r.bottom << ")";
}

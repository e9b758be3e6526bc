#include "tests/gadget/gadget_test_support.h"
#include <ole2.h>

std::vector<SeenGadgetEvent> seen_events;
std::vector<SeenCommand> seen_commands;

static const char TEST_WINDOW_CLASS[] = "GadgetTestWindow";

namespace {
// Drop targets need OLE, which no other test program starts.
class OleEnvironment : public testing::Environment {
  public:
    void SetUp() override { OleInitialize(nullptr); }
};
testing::Environment *const ole_environment = testing::AddGlobalTestEnvironment(new OleEnvironment);
} // namespace

static LRESULT CALLBACK test_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_COMMAND) {
        HWND control = reinterpret_cast<HWND>(lparam);
        LRESULT result = gadget_notify_dispatch(control, window, message, wparam, lparam);
        seen_commands.push_back({control, wparam, result});
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

static const char *test_class() {
    static ATOM atom;
    if (!atom) {
        WNDCLASSA wc = {};
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = test_window_proc;
        wc.hInstance = test_host.app_instance;
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.hbrBackground = CreateSolidBrush(TEST_BACKGROUND);
        wc.lpszClassName = TEST_WINDOW_CLASS;
        atom = RegisterClassA(&wc);
    }
    return TEST_WINDOW_CLASS;
}

HWND test_window_create(int x, int y, int width, int height, bool runtime_window) {
    HWND window = CreateWindowExA(0, test_class(), "gadget test", WS_OVERLAPPEDWINDOW, x, y, width,
                                  height, nullptr, nullptr, test_host.app_instance, nullptr);
    if (!window) return nullptr;
    if (runtime_window) SetPropA(window, WINDOW_ID_PROPERTY, reinterpret_cast<HANDLE>(1));
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    UpdateWindow(window);
    return window;
}

HWND test_child_create(HWND parent, int x, int y, int width, int height) {
    return CreateWindowExA(0, test_class(), nullptr, WS_CHILD | WS_VISIBLE, x, y, width, height,
                           parent, nullptr, test_host.app_instance, nullptr);
}

// Gadget events are kept aside rather than dispatched: no runtime window would take them.
static bool gadget_step(MSG *taken) {
    if (!PeekMessageA(taken, nullptr, 0, 0, PM_REMOVE)) return false;
    if (taken->message == MSG_GADGET_EVENT) {
        seen_events.push_back({taken->hwnd, taken->wParam, taken->lParam});
        return true;
    }
    TranslateMessage(taken);
    DispatchMessageA(taken);
    return true;
}

struct PropSearch {
    const char *name;
    bool found;
};

static BOOL CALLBACK find_prop(HWND, LPSTR name, HANDLE, ULONG_PTR data) {
    auto *search = reinterpret_cast<PropSearch *>(data);
    if (HIWORD(reinterpret_cast<uintptr_t>(name)) == 0) return TRUE; // an integer atom
    if (lstrcmpA(name, search->name) == 0) search->found = true;
    return !search->found;
}

bool has_prop(HWND window, const char *name) {
    PropSearch search = {name, false};
    EnumPropsExA(window, find_prop, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HICON test_icon(int width, int height, COLORREF colour) {
    HBITMAP colour_bitmap = test_bitmap(width, height, colour, nullptr);
    HBITMAP mask = CreateBitmap(width, height, 1, 1, nullptr);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, mask);
    PatBlt(dc, 0, 0, width, height, BLACKNESS); // black mask: every pixel opaque
    SelectObject(dc, old);
    DeleteDC(dc);
    ICONINFO info = {TRUE, 0, 0, mask, colour_bitmap};
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(mask);
    DeleteObject(colour_bitmap);
    return icon;
}

COLORREF screen_pixel(HWND window, int x, int y) {
    pump_for(20); // the window's drawing reaches the screen once its thread looks for messages
    POINT point = {x, y};
    ClientToScreen(window, &point);
    HDC screen = GetDC(nullptr);
    COLORREF pixel = GetPixel(screen, point.x, point.y);
    ReleaseDC(nullptr, screen);
    return pixel;
}

int live_gadget_count() {
    ObjectTable *table = gadget_library().gadget_table;
    int count = 0;
    ObjectNumber number;
    object_table_iter_reset(table);
    while (object_table_iter_next(table, &number))
        count++;
    return count;
}

void GadgetTest::SetUp() {
    set_message_step(gadget_step);
    parent = test_window_create(60, 40, 800, 700, true);
    ASSERT_NE(parent, nullptr);
    gadget_list_state()->parent = parent;
    pump_for(30);
    seen_events.clear();
    seen_commands.clear();
}

void GadgetTest::TearDown() {
    if (IsWindow(parent)) DestroyWindow(parent);
    gadget_list_state()->parent = nullptr;
    pump_for(10);
    set_message_step(nullptr);
    EXPECT_EQ(live_gadget_count(), 0);
    heap_fail_reset();
    EXPECT_TRUE(runtime_heaps_valid());
}

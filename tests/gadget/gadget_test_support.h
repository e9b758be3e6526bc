#pragma once
// Shared set-up of the gadget tests: stand-ins for runtime windows and a message step that
// keeps gadget events aside.
#include "runtime/gadget/gadget_private.h"
#include "runtime/window/window.h"
#include "tests/support/pixels.h"
#include "tests/support/test_support.h"
#include <vector>

struct SeenGadgetEvent {
    HWND window;   // where the event was posted
    WPARAM number; // gadget number
    LPARAM type;   // gadget event type
};

// A WM_COMMAND that a test window received, with what the gadget dispatch answered.
struct SeenCommand {
    HWND control;
    WPARAM wparam;
    LRESULT dispatch_result;
};

inline std::vector<SeenGadgetEvent> seen_events;
inline std::vector<SeenCommand> seen_commands;

const COLORREF TEST_BACKGROUND = RGB(0x20, 0x90, 0x40);

inline LRESULT CALLBACK test_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != WM_COMMAND) return DefWindowProcA(window, message, wparam, lparam);
    HWND control = reinterpret_cast<HWND>(lparam);
    LRESULT result = gadget_notify_dispatch(control, window, message, wparam, lparam);
    seen_commands.push_back({control, wparam, result});
    return 0;
}

// A window of the test class, whose background is TEST_BACKGROUND.
inline HWND test_class_window(DWORD style, const char *title, int x, int y, int width, int height,
                              HWND parent) {
    static const char name[] = "GadgetTestWindow";
    static ATOM atom;
    if (!atom) {
        WNDCLASSA wc = {};
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = test_window_proc;
        wc.hInstance = test_host.app_instance;
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.hbrBackground = CreateSolidBrush(TEST_BACKGROUND);
        wc.lpszClassName = name;
        atom = RegisterClassA(&wc);
    }
    return CreateWindowExA(0, name, title, style, x, y, width, height, parent, nullptr,
                           test_host.app_instance, nullptr);
}

// A shown top-level window, with `runtime_window` marked "KX_WindowID" as runtime windows are.
inline HWND test_window_create(int x, int y, int width, int height, bool runtime_window) {
    HWND window =
        test_class_window(WS_OVERLAPPEDWINDOW, "gadget test", x, y, width, height, nullptr);
    if (!window) return nullptr;
    if (runtime_window) SetPropA(window, WINDOW_ID_PROPERTY, reinterpret_cast<HANDLE>(1));
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    UpdateWindow(window);
    return window;
}

// A plain child window without "KX_WindowID".
inline HWND test_child_create(HWND parent, int x, int y, int width, int height) {
    return test_class_window(WS_CHILD | WS_VISIBLE, nullptr, x, y, width, height, parent);
}

// Gadget events are kept aside rather than dispatched: no runtime window would take them.
inline bool gadget_step(MSG *taken) {
    if (!PeekMessageA(taken, nullptr, 0, 0, PM_REMOVE)) return false;
    if (taken->message == MSG_GADGET_EVENT) {
        seen_events.push_back({taken->hwnd, taken->wParam, taken->lParam});
        return true;
    }
    TranslateMessage(taken);
    DispatchMessageA(taken);
    return true;
}

inline int live_gadget_count() {
    ObjectTable *table = gadget_library().gadget_table;
    int count = 0;
    ObjectNumber number;
    object_table_iter_reset(table);
    while (object_table_iter_next(table, &number))
        count++;
    return count;
}

// Each test runs in a fresh runtime-like window, the current list; events go to seen_events.
class GadgetTest : public testing::Test {
  protected:
    HWND parent = nullptr;
    void SetUp() override {
        set_message_step(gadget_step);
        parent = test_window_create(60, 40, 800, 700, true);
        ASSERT_NE(parent, nullptr);
        gadget_list_state()->parent = parent;
        pump_for(30);
        seen_events.clear();
        seen_commands.clear();
    }
    void TearDown() override {
        if (IsWindow(parent)) DestroyWindow(parent);
        gadget_list_state()->parent = nullptr;
        pump_for(10);
        set_message_step(nullptr);
        EXPECT_EQ(live_gadget_count(), 0);
        heap_fail_reset();
        EXPECT_TRUE(runtime_heaps_valid());
    }
};

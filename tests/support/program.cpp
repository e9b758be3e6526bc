#include "tests/support/program.h"
#include "app/app.h"
#include "runtime/gadget/gadget_private.h"
#include "runtime/window/window_private.h"
#include "tests/support/test_support.h"

// The lParam of a key's release: one repeat, the key was down, it is going up.
static const LPARAM KEY_RELEASE_LPARAM = LPARAM(0xC0000001u);

WORD command_key(intptr_t menu) {
    return WORD(app_command_key(menu));
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
    PostMessageA(window, WM_KEYUP, key, KEY_RELEASE_LPARAM);
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
    WindowRecord *record = window_record(0);
    return record ? record->window : nullptr;
}

HWND program_gadget_control() {
    GadgetRecord *record = gadget_record(0);
    return record ? record->window : nullptr;
}

void ProgramTest::SetUp() {
    ASSERT_TRUE(app_start());
    run_waiting_events();
}

void ProgramTest::TearDown() {
    heap_fail_reset();
    if (runtime_host != &app.host) return; // the start-up failed and cleaned up itself
    EXPECT_TRUE(runtime_heaps_valid());
    app_end();
    // The test program's own host again, for whatever runs next.
    runtime_host = &test_host;
}

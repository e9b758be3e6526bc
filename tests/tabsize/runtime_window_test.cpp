#include "runtime/window/window_private.h"
#include "app/app.h"
#include "tests/support/program.h"
#include "tests/support/test_support.h"
#include "tests/tabsize/drag_setting.h"
#include <windowsx.h>
#include <algorithm>
#include <vector>

namespace {

std::vector<int32_t> events_seen;
int32_t sized_during_loop; // EVENT_WINDOW_SIZED returned while a sizing loop ran

SizingState *sizing() {
    return window_sizing_state();
}

// Messages are taken by the runtime's own event wait, as in the application: what it
// answers stands in for the message.
bool event_wait_step(MSG *taken) {
    int32_t code = event_wait_timeout(0);
    if (code == 0) return false;
    events_seen.push_back(code);
    if (code == EVENT_WINDOW_SIZED && sizing()->active) sized_during_loop++;
    DWORD position = GetMessagePos();
    *taken = MSG();
    taken->message = UINT(code);
    taken->pt = {GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    return true;
}

int32_t count_of(int32_t event) {
    return int32_t(std::count(events_seen.begin(), events_seen.end(), event));
}

} // namespace

class RuntimeWindow : public testing::Test {
  protected:
    static const ObjectNumber NUMBER = 3;
    DragFullWindowsSetting drag_full;
    bool button_down = false;

    void SetUp() override {
        set_message_step(event_wait_step);
        pump_messages();
        events_seen.clear();
        sized_during_loop = 0;
        ASSERT_TRUE(drag_full.save());
    }
    void TearDown() override {
        if (button_down) pointer_button(false);
        if (sizing()->active) ReleaseCapture();
        window_close(NUMBER);
        pump_messages();
        set_message_step(nullptr);
        drag_full.restore();
    }

    HWND open(uint32_t flags) {
        HWND window = reinterpret_cast<HWND>(
            window_open(NUMBER, 200, 200, 300, 200, "runtime window", flags));
        pump_for(50);
        return window;
    }
    HWND tab_stop(HWND parent) {
        return CreateWindowExA(0, "BUTTON", "stop", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 60,
                               20, parent, nullptr, GetModuleHandleA(nullptr), nullptr);
    }
};

TEST_F(RuntimeWindow, TabKeysMoveTheFocusUntilTheShortcutIsReplaced) {
    HWND window = open(APP_WINDOW_FLAGS);
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(GetForegroundWindow(), window);
    HWND t1 = tab_stop(window), t2 = tab_stop(window), t3 = tab_stop(window);
    ASSERT_TRUE(t1 && t2 && t3);
    SetFocus(t1);
    events_seen.clear();
    const struct {
        bool shift;
        HWND focus;
    } steps[] = {{false, t2}, {false, t3}, {false, t1}, {true, t3}};
    for (const auto &step : steps) {
        press_and_settle(VK_TAB, step.shift);
        EXPECT_EQ(GetFocus(), step.focus);
    }
    EXPECT_EQ(count_of(EVENT_MENU), 0);

    // Rebinding Tab replaces its entry; Shift+Tab keeps moving the focus, without an event.
    ASSERT_NE(shortcut_add(NUMBER, VK_TAB, 5), nullptr);
    EXPECT_EQ(window_record(NUMBER)->shortcut_count, 2);
    events_seen.clear();
    press_and_settle(VK_TAB);
    EXPECT_EQ(GetFocus(), t3);
    EXPECT_EQ(count_of(EVENT_MENU), 1);
    EXPECT_EQ(event_menu(), 5);
    press_and_settle(VK_TAB, true);
    EXPECT_EQ(GetFocus(), t2);
    EXPECT_EQ(count_of(EVENT_MENU), 1);
    EXPECT_EQ(event_menu(), 5);
}

TEST_F(RuntimeWindow, TheEventWaitKeepsReturningEventsWhileTheWindowIsSized) {
    ASSERT_TRUE(drag_full.set(TRUE));
    HWND window = open(WS_CAPTION | WS_SYSMENU | WS_THICKFRAME);
    ASSERT_NE(window, nullptr);
    WindowRecord *record = window_record(NUMBER);
    ASSERT_NE(record, nullptr);
    RECT start_rect = window_rect(window);
    record->max_width = uint16_t(start_rect.right - start_rect.left + 100);
    int32_t mid_y = (start_rect.top + start_rect.bottom) / 2;

    ASSERT_TRUE(pointer_move(start_rect.right - 2, mid_y));
    button_down = true;
    pointer_button(true);
    ASSERT_EQ(sizing()->active, 1);
    EXPECT_EQ(sizing()->edge, WMSZ_RIGHT);
    EXPECT_EQ(sizing()->limits.ptMaxTrackSize.x, record->max_width);

    events_seen.clear();
    ASSERT_TRUE(pointer_move(start_rect.right + 40, mid_y));
    EXPECT_EQ(sizing()->rect.right, start_rect.right + 42);
    EXPECT_GE(sized_during_loop, 1);
    ASSERT_TRUE(pointer_move(start_rect.right + 300, mid_y));
    EXPECT_EQ(sizing()->rect.right, start_rect.right + 100); // the window's own limit
    EXPECT_GE(sized_during_loop, 2);
    EXPECT_GE(count_of(WM_MOUSEMOVE), 2);

    pointer_button(false);
    button_down = false;
    EXPECT_EQ(sizing()->active, 0);
    EXPECT_EQ(window_rect(window).right, start_rect.right + 100);
    EXPECT_EQ(window_inner_width(NUMBER), 400);
}

// A keyboard resize of a window with the application's shortcuts: the arrows size it, a
// command key still reports its command, Return (a shortcut, with the capture held) neither
// reports its command nor ends the loop, and Escape ends it.
TEST_F(RuntimeWindow, AWindowWithShortcutsIsSizedFromTheKeyboard) {
    ASSERT_TRUE(drag_full.set(TRUE));
    HWND window = open(WS_CAPTION | WS_SYSMENU | WS_THICKFRAME);
    ASSERT_NE(window, nullptr);
    for (intptr_t menu = 0; menu < APP_MENU_COUNT; menu++)
        ASSERT_NE(shortcut_add(NUMBER, command_key(menu), int32_t(menu)), nullptr);
    RECT start_rect = window_rect(window);
    PostMessageA(window, WM_SYSCOMMAND, SC_SIZE, 0);
    ASSERT_TRUE(pump_until([] { return sizing()->active == 1; }, 2000));
    EXPECT_EQ(sizing()->keyboard_mode, 1);

    press_and_settle(VK_RIGHT); // picks the right edge
    events_seen.clear();
    press_and_settle(VK_RIGHT);
    EXPECT_EQ(window_rect(window).right, start_rect.right + 10);
    press_and_settle(command_key(3));
    EXPECT_EQ(count_of(EVENT_MENU), 1);
    EXPECT_EQ(event_menu(), 3);
    press_and_settle(VK_RETURN);
    EXPECT_EQ(count_of(EVENT_MENU), 1);
    EXPECT_EQ(sizing()->active, 1);
    press_and_settle(VK_ESCAPE);
    EXPECT_EQ(sizing()->active, 0);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(window_rect(window).right, start_rect.right + 10);
}

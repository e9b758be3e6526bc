#include "tests/window/window_test_support.h"
#include "app/app.h"
#include <richedit.h>
#include <string.h>
#include <algorithm>

namespace {

class EventWait : public WindowTest {
  protected:
    HWND window = nullptr;
    void SetUp() override {
        window =
            reinterpret_cast<HWND>(window_open(0, 0, 0, 513, 513, "Heightmap", APP_WINDOW_FLAGS));
        ASSERT_NE(window, nullptr);
        wait_all();
        clear_events();
    }
};

// Holds keys down in the thread's key state, where the platform and the runtime read them,
// until it goes out of scope.
struct HeldKeys {
    BYTE saved[256];
    explicit HeldKeys(std::initializer_list<int> keys) {
        GetKeyboardState(saved);
        BYTE held[256];
        memcpy(held, saved, sizeof held);
        for (int key : keys)
            held[key] = 0x80;
        SetKeyboardState(held);
    }
    ~HeldKeys() { SetKeyboardState(saved); }
};

// Waits until the wait answers `wanted` or runs dry; returns whether it came.
bool wait_for(int32_t wanted) {
    for (int i = 0; i < 200; i++) {
        int32_t answer = event_wait_timeout(300);
        if (answer == wanted) return true;
        if (answer == 0) return false;
    }
    return false;
}

// Presses a key and returns everything the wait answers until the queue runs dry.
std::vector<int32_t> press_and_collect(WORD key, bool shift = false) {
    press_key(key, shift);
    return wait_all(150);
}

bool contains(const std::vector<int32_t> &list, int32_t value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

// Translates a key-down for the window as the wait would and returns the event it set.
int32_t translate_key(HWND window, WORD key) {
    MSG msg = {window, WM_KEYDOWN, key, 1, 0, {0, 0}};
    events()->pending_event = 0;
    HACCEL table = accelerator_for_window(window);
    if (!table || !TranslateAcceleratorA(window, table, &msg)) return 0;
    int32_t event = events()->pending_event;
    events()->pending_event = 0;
    return event;
}

testing::AssertionResult is_entry(const ACCEL &entry, BYTE flags, WORD key, WORD command) {
    if (entry.fVirt == flags && entry.key == key && entry.cmd == command)
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << "the entry is " << int(entry.fVirt) << ", " << entry.key << ", " << entry.cmd;
}

// Rebinding a key replaces its entry; the same key with modifiers is another entry, and
// 70,000 rebindings leak no accelerator tables.
TEST_F(EventWait, KeysComeBackAsTheMenuNumbersTheyAreBoundTo) {
    ASSERT_NE(shortcut_add(0, 'N', 3), nullptr);
    ASSERT_EQ(GetForegroundWindow(), window);
    press_key('N');
    ASSERT_TRUE(wait_for(EVENT_MENU));
    EXPECT_EQ(event_menu(), 3);
    EXPECT_EQ(events()->event_window, 0);
    // An unbound key comes back as its raw message.
    std::vector<int32_t> answers = press_and_collect('K');
    EXPECT_FALSE(contains(answers, EVENT_MENU));
    EXPECT_TRUE(contains(answers, WM_KEYDOWN) || contains(answers, WM_SYSKEYDOWN));

    WindowRecord *record = window_record(0);
    ASSERT_NE(shortcut_add(0, VK_RETURN, 0), nullptr);
    ASSERT_EQ(record->shortcut_count, 4);
    HACCEL table = shortcut_add(0, VK_RETURN, 9);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(record->accel_table, table);
    EXPECT_EQ(record->shortcut_count, 4);
    EXPECT_TRUE(is_entry(record->shortcuts[3], 3, VK_RETURN, 9));
    EXPECT_EQ(CopyAcceleratorTableA(table, nullptr, 0), 4);
    press_key(VK_RETURN);
    ASSERT_TRUE(wait_for(EVENT_MENU));
    EXPECT_EQ(event_menu(), 9);
    ASSERT_NE(shortcut_add(0, VK_RETURN | SHORTCUT_CONTROL, 1), nullptr);
    EXPECT_TRUE(is_entry(record->shortcuts[4], 11, VK_RETURN, 1));
    ASSERT_NE(shortcut_add(0, 'A' | SHORTCUT_SHIFT | SHORTCUT_CONTROL | SHORTCUT_ALT, 2), nullptr);
    EXPECT_TRUE(is_entry(record->shortcuts[5], 31, 'A', 2));
    ASSERT_NE(shortcut_add(0, 'B' | 0x00100000, 70000), nullptr); // unknown bits are ignored
    EXPECT_TRUE(is_entry(record->shortcuts[6], 3, 'B', 4464));
    EXPECT_EQ(translate_key(window, 'B'), EVENT_MENU);
    EXPECT_EQ(event_menu(), 4464);
    EXPECT_EQ(record->shortcut_count, 7);
    int32_t failures = 0;
    for (int32_t i = 0; i < 70000; i++)
        failures += shortcut_add(0, 'Q', i) == nullptr;
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(record->shortcut_count, 8);
    EXPECT_EQ(translate_key(window, 'Q'), EVENT_MENU);
    EXPECT_EQ(event_menu(), 69999 & 0xFFFF);
    EXPECT_EQ(shortcut_add(1, 'N', 3), nullptr);
    EXPECT_EQ(shortcut_add(ANY_ID, 'N', 3), nullptr);
}

// Takes the window's number away while the platform translates a shortcut.
LRESULT forget_number(HWND window, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITMENU) RemovePropA(window, WINDOW_ID_PROPERTY);
    return CALLBACK_CONTINUE;
}

TEST_F(EventWait, AShortcutBoundToMenuNumberZeroIsReportedOnce) {
    // Pressed through the system's queue, or posted with a modifier held (keys that no entry
    // without that modifier binds); the menu number, the modifier and the message.
    const int32_t cases[][4] = {{VK_RETURN, 0, 0, 0},
                                {'M', 0x10000, 0, 0}, // low 16 bits 0 as well
                                {VK_F5 | SHORTCUT_SHIFT, 0, VK_SHIFT, WM_KEYDOWN},
                                {VK_F6 | SHORTCUT_CONTROL, 0, VK_CONTROL, WM_KEYDOWN},
                                {VK_F7 | SHORTCUT_ALT, 0, VK_MENU, WM_SYSKEYDOWN}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c[0]);
        ASSERT_NE(shortcut_add(0, c[0], c[1]), nullptr);
        events()->event_number = 77;
        std::vector<int32_t> answers;
        if (c[2]) {
            HeldKeys held({c[2]});
            PostMessageA(window, UINT(c[3]), WORD(c[0]), 1);
            answers = wait_all(150);
        } else {
            answers = press_and_collect(WORD(c[0]));
        }
        EXPECT_EQ(std::count(answers.begin(), answers.end(), EVENT_MENU), 1);
        EXPECT_EQ(event_menu(), 0);
    }
    // Where the platform sends no command for a menu item (the mouse captured, the window
    // disabled), the wait sends none either; nor for a shortcut of a system command, which
    // the platform sends as that, or for a window that lost its number meanwhile.
    SetCapture(window);
    EXPECT_FALSE(contains(press_and_collect(VK_RETURN), EVENT_MENU)) << "captured";
    ReleaseCapture();
    EnableWindow(window, FALSE);
    PostMessageA(window, WM_KEYDOWN, VK_RETURN, 1);
    EXPECT_FALSE(contains(wait_all(150), EVENT_MENU)) << "disabled";
    EnableWindow(window, TRUE);
    ASSERT_NE(shortcut_add(0, VK_F8, SC_CLOSE), nullptr);
    PostMessageA(window, WM_KEYDOWN, VK_F8, 1);
    std::vector<int32_t> answers = wait_all(150);
    EXPECT_FALSE(contains(answers, EVENT_MENU)) << "system command";
    EXPECT_TRUE(contains(answers, EVENT_WINDOW_CLOSE));
    Replaced<WindowCallback> forget(events()->global_callback, forget_number);
    PostMessageA(window, WM_KEYDOWN, VK_RETURN, 1);
    EXPECT_FALSE(contains(wait_all(150), EVENT_MENU)) << "no number";
}

int32_t commands_taken;

LRESULT take_commands(HWND, UINT message, WPARAM, LPARAM) {
    if (message != WM_COMMAND) return CALLBACK_CONTINUE;
    commands_taken++;
    return 0;
}

// Without a system menu the platform sends the command of a menu-0 shortcut itself; a
// callback that takes it gets it once, not once more from the wait.
TEST_F(EventWait, AMenuZeroCommandThatACallbackTookIsNotSentAgain) {
    HWND plain = open_window(1, WS_CAPTION, nullptr, 200);
    ASSERT_NE(plain, nullptr);
    wait_all();
    ASSERT_EQ(GetForegroundWindow(), plain);
    ASSERT_NE(shortcut_add(1, VK_RETURN, 0), nullptr);
    Replaced<WindowCallback> callback(window_record(1)->event_callback, take_commands);
    commands_taken = 0;
    press_and_collect(VK_RETURN);
    EXPECT_EQ(commands_taken, 1);
}

TEST_F(EventWait, TabReachesAnEditableRichEditInsteadOfTheShortcuts) {
    ASSERT_NE(LoadLibraryA("riched20.dll"), nullptr);
    HWND rich = CreateWindowExA(0, "RichEdit20A", "", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 10, 10,
                                200, 100, window, nullptr, nullptr, nullptr);
    ASSERT_NE(rich, nullptr);
    shortcut_add(0, VK_TAB, 5);
    shortcut_add(0, VK_TAB | SHORTCUT_SHIFT, 6);
    SetFocus(rich);
    ASSERT_EQ(GetFocus(), rich);
    wait_all();
    EXPECT_FALSE(contains(press_and_collect(VK_TAB), EVENT_MENU));
    char text[16] = {};
    GetWindowTextA(rich, text, sizeof text);
    EXPECT_STREQ(text, "\t");
    EXPECT_TRUE(contains(press_and_collect(VK_TAB, true), EVENT_MENU));
    EXPECT_EQ(event_menu(), 6);
    // Tab alone goes to the control; with any modifier held the shortcuts translate it.
    for (int modifier : {0, VK_SHIFT, VK_CONTROL, VK_MENU}) {
        HeldKeys held({VK_TAB, modifier});
        HACCEL expected = modifier ? window_record(0)->accel_table : nullptr;
        EXPECT_EQ(accelerator_for_window(window), expected) << modifier;
    }
    SendMessageA(rich, EM_SETOPTIONS, ECOOP_OR, ECO_READONLY);
    EXPECT_TRUE(contains(press_and_collect(VK_TAB), EVENT_MENU));
    EXPECT_EQ(event_menu(), 5);
    DestroyWindow(rich);
}

// Without memory to grow the array, or without a new accelerator table, the shortcuts keep
// working as they were; rebinding needs no memory, and a later growth succeeds.
TEST_F(EventWait, AShortcutArrayThatCannotGrowKeepsWorking) {
    ASSERT_NE(shortcut_add(0, 'N', 3), nullptr);
    WindowRecord *record = window_record(0);
    HACCEL table = record->accel_table;
    ACCEL *shortcuts = record->shortcuts;
    heap_fail_allocations(app_heap(), 0, 1);
    EXPECT_EQ(shortcut_add(0, 'X', 4), nullptr);
    heap_fail_reset();
    EXPECT_EQ(record->shortcut_count, 3);
    EXPECT_EQ(record->shortcuts, shortcuts);
    EXPECT_EQ(record->accel_table, table);
    EXPECT_EQ(translate_key(window, 'N'), EVENT_MENU);
    EXPECT_EQ(event_menu(), 3);
    EXPECT_EQ(translate_key(window, 'X'), 0);
    heap_fail_allocations(app_heap(), 0, 1);
    EXPECT_NE(shortcut_add(0, 'N', 8), nullptr);
    heap_fail_reset();
    EXPECT_NE(shortcut_add(0, 'X', 4), nullptr);
    EXPECT_EQ(record->shortcut_count, 4);
    EXPECT_EQ(translate_key(window, 'N'), EVENT_MENU);
    EXPECT_EQ(event_menu(), 8);
    EXPECT_EQ(translate_key(window, 'X'), EVENT_MENU);
    EXPECT_EQ(event_menu(), 4);
    table = record->accel_table;
    {
        PlatformPatch no_table("user32.dll", "CreateAcceleratorTableA",
                               reinterpret_cast<const void *>(no_accelerator_table));
        ASSERT_NE(no_table.original(), nullptr);
        EXPECT_EQ(shortcut_add(0, 'N', 9), nullptr);
        EXPECT_EQ(shortcut_add(0, 'Y', 5), nullptr);
    }
    EXPECT_EQ(record->shortcut_count, 4);
    EXPECT_EQ(record->accel_table, table);
    EXPECT_EQ(record->shortcuts[2].cmd, 8); // the array as the table has it
    EXPECT_EQ(translate_key(window, 'N'), EVENT_MENU);
    EXPECT_EQ(event_menu(), 8);
}

TEST_F(EventWait, AcceleratorsBelongOnlyToLiveRuntimeWindows) {
    EXPECT_EQ(accelerator_for_window(window), window_record(0)->accel_table);
    EXPECT_EQ(accelerator_for_window(nullptr), nullptr);
    HWND foreign = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                   nullptr, nullptr);
    EXPECT_EQ(accelerator_for_window(foreign), nullptr);
    SetPropA(foreign, "KX_WindowID", reinterpret_cast<HANDLE>(6)); // number 5: not open
    EXPECT_EQ(accelerator_for_window(foreign), nullptr);
    DestroyWindow(foreign);
}

// A closing message comes back as itself and then as the close event; queued events come
// first, one by one, and clear a pending event.
TEST_F(EventWait, QueuedEventsComeFirstOneByOneAfterTheMessageThatQueuedThem) {
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(event_wait(), 16);
    EXPECT_EQ(event_wait(), EVENT_WINDOW_CLOSE);
    EXPECT_EQ(events()->event_window, 0);
    EXPECT_TRUE(IsWindow(window));
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(event_wait(), int32_t(WM_SYSCOMMAND));
    EXPECT_EQ(event_wait(), EVENT_WINDOW_CLOSE);

    SendMessageA(window, WM_MOVE, 0, 0);
    SetLastError(ERROR_INVALID_PARAMETER);
    SendMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(GetLastError(), 0u) << "the window procedure leaves no error behind";
    PostMessageA(window, WM_USER, 0, 0);
    events()->pending_event = EVENT_MENU;
    EXPECT_EQ(event_wait_timeout(0), EVENT_WINDOW_MOVED);
    EXPECT_EQ(events()->pending_event, 0);
    EXPECT_EQ(event_wait_timeout(0), EVENT_WINDOW_CLOSE);
    EXPECT_EQ(events()->queue_tail, nullptr);
    EXPECT_EQ(event_wait_timeout(0), int32_t(WM_USER));
}

// A library whose event state could not be made answers 0 instead of reading through null,
// and leaves the window's messages to the default procedure.
TEST_F(EventWait, WithoutAnEventStateTheWaitAndTheMenuNumberAnswerZero) {
    Replaced<EventState *> none(window_library().event_state, nullptr);
    EXPECT_EQ(event_wait_timeout(0), 0);
    EXPECT_EQ(event_menu(), 0);
    EXPECT_EQ(SendMessageA(window, WM_MOVE, 0, 0), 0);
}

BOOL WINAPI no_message(MSG *, HWND, UINT, UINT) {
    return -1;
}

TEST_F(EventWait, RawMessagesCarryTheirParametersAndQuitIsReturnedToo) {
    PostMessageA(window, WM_USER + 5, 11, 22);
    EXPECT_EQ(event_wait(), int32_t(WM_USER + 5));
    EXPECT_EQ(events()->last_wparam, 11u);
    EXPECT_EQ(events()->last_lparam, 22);
    EXPECT_EQ(events()->event_type, -1);
    PostQuitMessage(3);
    EXPECT_EQ(event_wait(), int32_t(WM_QUIT));
    EXPECT_EQ(events()->last_wparam, 3u);

    // A failed GetMessageA hands on no message: the wait waits for the next one that comes.
    PlatformPatch failing("user32.dll", "GetMessageA", reinterpret_cast<const void *>(no_message));
    ASSERT_NE(failing.original(), nullptr);
    SetTimer(window, 1, 30, nullptr);
    int32_t answer = 0;
    for (int i = 0; i < 10 && answer != int32_t(WM_TIMER); i++)
        answer = event_wait();
    EXPECT_EQ(answer, int32_t(WM_TIMER));
    KillTimer(window, 1);
}

TEST_F(EventWait, WaitsWithATimeLimitAnswerZeroWhenNothingCame) {
    // Away from every window, so that no window change makes a mouse message.
    SetCursorPos(1279, 1023);
    Sleep(20);
    wait_all();
    events()->event_type = 4;
    events()->last_wparam = 11;
    DWORD start = GetTickCount();
    EXPECT_EQ(event_wait_timeout(0), 0);
    EXPECT_LT(GetTickCount() - start, 50u);
    EXPECT_EQ(events()->event_type, -1);
    EXPECT_EQ(events()->last_wparam, 11u); // no message came, so none was handed on
    // A wake that brings no message (the display driver's own traffic) may end a wait
    // early with 0, so one of a few tries must last the whole time.
    DWORD longest = 0;
    for (int attempt = 0; attempt < 5 && longest < 130; attempt++) {
        start = GetTickCount();
        EXPECT_EQ(event_wait_timeout(150), 0);
        DWORD waited = GetTickCount() - start;
        EXPECT_LT(waited, 1000u);
        longest = std::max(longest, waited);
    }
    EXPECT_GE(longest, 130u);
    // A message that arrives during the wait ends it early.
    SetTimer(window, 1, 40, nullptr);
    start = GetTickCount();
    EXPECT_EQ(event_wait_timeout(2000), int32_t(WM_TIMER));
    EXPECT_LT(GetTickCount() - start, 1000u);
    KillTimer(window, 1);
}

} // namespace

#include "tests/window/window_test_support.h"
#include "app/app.h"
#include <richedit.h>

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

// Waits until the wait answers `wanted` or runs dry; returns whether it came.
bool wait_for(int32_t wanted, std::vector<int32_t> *seen = nullptr) {
    for (int i = 0; i < 200; i++) {
        int32_t answer = event_wait_timeout(300);
        if (seen) seen->push_back(answer);
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
    for (int32_t item : list)
        if (item == value) return true;
    return false;
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

TEST_F(EventWait, ABoundKeyPressedOnTheKeyboardComesBackAsItsMenuNumber) {
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
}

TEST_F(EventWait, AShortcutBoundToMenuNumberZeroIsReportedOnce) {
    ASSERT_NE(shortcut_add(0, VK_RETURN, 0), nullptr);
    ASSERT_NE(shortcut_add(0, 'M', 0x10000), nullptr); // low 16 bits 0 as well
    for (WORD key : {WORD(VK_RETURN), WORD('M')}) {
        events()->event_number = 77;
        std::vector<int32_t> answers = press_and_collect(key);
        int menus = 0;
        for (int32_t a : answers)
            menus += a == EVENT_MENU;
        EXPECT_EQ(menus, 1) << key;
        EXPECT_EQ(event_menu(), 0) << key;
    }
    // Where the platform sends no command for a menu item (the mouse captured, the window
    // disabled), the wait sends none either.
    SetCapture(window);
    EXPECT_FALSE(contains(press_and_collect(VK_RETURN), EVENT_MENU)) << "captured";
    ReleaseCapture();
    EnableWindow(window, FALSE);
    PostMessageA(window, WM_KEYDOWN, VK_RETURN, 1);
    EXPECT_FALSE(contains(wait_all(150), EVENT_MENU)) << "disabled";
    EnableWindow(window, TRUE);
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
    HWND plain = reinterpret_cast<HWND>(window_open(1, 0, 0, 200, 100, "plain", WS_CAPTION));
    ASSERT_NE(plain, nullptr);
    wait_all();
    ASSERT_EQ(GetForegroundWindow(), plain);
    ASSERT_NE(shortcut_add(1, VK_RETURN, 0), nullptr);
    Replaced<WindowCallback> callback(window_record(1)->event_callback, take_commands);
    commands_taken = 0;
    press_and_collect(VK_RETURN);
    EXPECT_EQ(commands_taken, 1);
}

TEST_F(EventWait, RebindingAKeyReplacesItsEntryAndModifiersMakeNewOnes) {
    WindowRecord *record = window_record(0);
    ASSERT_NE(shortcut_add(0, VK_RETURN, 0), nullptr);
    ASSERT_EQ(record->shortcut_count, 3);
    HACCEL table = shortcut_add(0, VK_RETURN, 9);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(record->accel_table, table);
    EXPECT_EQ(record->shortcut_count, 3);
    EXPECT_EQ(record->shortcuts[2].cmd, 9);
    EXPECT_EQ(CopyAcceleratorTableA(table, nullptr, 0), 3);
    press_key(VK_RETURN);
    ASSERT_TRUE(wait_for(EVENT_MENU));
    EXPECT_EQ(event_menu(), 9);

    ASSERT_NE(shortcut_add(0, VK_RETURN | SHORTCUT_CONTROL, 1), nullptr);
    ASSERT_EQ(record->shortcut_count, 4);
    EXPECT_EQ(record->shortcuts[3].fVirt, 11);
    EXPECT_EQ(record->shortcuts[3].key, VK_RETURN);
    ASSERT_NE(shortcut_add(0, 'A' | SHORTCUT_SHIFT | SHORTCUT_CONTROL | SHORTCUT_ALT, 2), nullptr);
    EXPECT_EQ(record->shortcuts[4].fVirt, 31);
    ASSERT_NE(shortcut_add(0, 'B' | 0x00100000, 70000), nullptr); // unknown bits are ignored
    EXPECT_EQ(record->shortcuts[5].fVirt, 3);
    EXPECT_EQ(record->shortcuts[5].key, 'B');
    EXPECT_EQ(record->shortcuts[5].cmd, 4464);
    EXPECT_EQ(translate_key(window, 'B'), EVENT_MENU);
    EXPECT_EQ(event_menu(), 4464);
    EXPECT_EQ(record->shortcut_count, 6);

    EXPECT_EQ(shortcut_add(1, 'N', 3), nullptr);
    EXPECT_EQ(shortcut_add(ANY_ID, 'N', 3), nullptr);
}

TEST_F(EventWait, RebindingTabReplacesFocusMovementWhileShiftTabStays) {
    ASSERT_NE(shortcut_add(0, VK_TAB, 5), nullptr);
    EXPECT_EQ(window_record(0)->shortcut_count, 2);
    std::vector<int32_t> answers = press_and_collect(VK_TAB);
    EXPECT_TRUE(contains(answers, EVENT_MENU));
    EXPECT_EQ(event_menu(), 5);
    events()->event_number = 0;
    answers = press_and_collect(VK_TAB, true);
    EXPECT_FALSE(contains(answers, EVENT_MENU));
    EXPECT_EQ(event_menu(), 0);
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

    std::vector<int32_t> answers = press_and_collect(VK_TAB);
    EXPECT_FALSE(contains(answers, EVENT_MENU));
    char text[16] = {};
    GetWindowTextA(rich, text, sizeof text);
    EXPECT_STREQ(text, "\t");
    answers = press_and_collect(VK_TAB, true);
    EXPECT_TRUE(contains(answers, EVENT_MENU));
    EXPECT_EQ(event_menu(), 6);

    SendMessageA(rich, EM_SETOPTIONS, ECOOP_OR, ECO_READONLY);
    answers = press_and_collect(VK_TAB);
    EXPECT_TRUE(contains(answers, EVENT_MENU));
    EXPECT_EQ(event_menu(), 5);
    DestroyWindow(rich);
}

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
    // Rebinding needs no memory and still works; a later growth succeeds.
    heap_fail_allocations(app_heap(), 0, 1);
    EXPECT_NE(shortcut_add(0, 'N', 8), nullptr);
    heap_fail_reset();
    EXPECT_NE(shortcut_add(0, 'X', 4), nullptr);
    EXPECT_EQ(record->shortcut_count, 4);
    EXPECT_EQ(translate_key(window, 'N'), EVENT_MENU);
    EXPECT_EQ(event_menu(), 8);
    EXPECT_EQ(translate_key(window, 'X'), EVENT_MENU);
    EXPECT_EQ(event_menu(), 4);
}

TEST_F(EventWait, SeventyThousandRebindingsLeakNoAcceleratorTables) {
    int32_t failures = 0;
    for (int32_t i = 0; i < 70000; i++)
        if (!shortcut_add(0, 'Q', i)) failures++;
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(window_record(0)->shortcut_count, 3);
    EXPECT_EQ(translate_key(window, 'Q'), EVENT_MENU);
    EXPECT_EQ(event_menu(), 69999 & 0xFFFF);
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

TEST_F(EventWait, AClosingMessageComesBackAsItselfAndThenAsTheCloseEvent) {
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(event_wait(), 16);
    EXPECT_EQ(event_wait(), EVENT_WINDOW_CLOSE);
    EXPECT_EQ(events()->event_window, 0);
    EXPECT_TRUE(IsWindow(window));

    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(event_wait(), int32_t(WM_SYSCOMMAND));
    EXPECT_EQ(event_wait(), EVENT_WINDOW_CLOSE);
}

// A library whose event state could not be made answers 0 instead of reading through null.
TEST_F(EventWait, WithoutAnEventStateTheWaitAndTheMenuNumberAnswerZero) {
    Replaced<EventState *> none(window_library().event_state, nullptr);
    EXPECT_EQ(event_wait_timeout(0), 0);
    EXPECT_EQ(event_menu(), 0);
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

    // A failed GetMessageA hands on no message: the wait takes the next one that comes.
    PlatformPatch failing("user32.dll", "GetMessageA", reinterpret_cast<const void *>(no_message));
    PostMessageA(window, WM_USER + 6, 0, 0);
    EXPECT_EQ(event_wait(), int32_t(WM_USER + 6));
}

TEST_F(EventWait, QueuedEventsComeFirstOneByOneAndClearAPendingEvent) {
    SendMessageA(window, WM_MOVE, 0, 0);
    SendMessageA(window, WM_CLOSE, 0, 0);
    PostMessageA(window, WM_USER, 0, 0);
    events()->pending_event = EVENT_MENU;
    EXPECT_EQ(event_wait_timeout(0), EVENT_WINDOW_MOVED);
    EXPECT_EQ(events()->pending_event, 0);
    EXPECT_EQ(event_wait_timeout(0), EVENT_WINDOW_CLOSE);
    EXPECT_EQ(events()->queue_tail, nullptr);
    EXPECT_EQ(event_wait_timeout(0), int32_t(WM_USER));
}

TEST_F(EventWait, WaitsWithATimeLimitAnswerZeroWhenNothingCame) {
    // Away from every window, so that no window change makes a mouse message.
    SetCursorPos(1279, 1023);
    Sleep(20);
    wait_all();
    events()->event_type = 4;
    DWORD start = GetTickCount();
    EXPECT_EQ(event_wait_timeout(0), 0);
    EXPECT_LT(GetTickCount() - start, 50u);
    EXPECT_EQ(events()->event_type, -1);
    // A wake that brings no message (the display driver's own traffic) may end a wait
    // early with 0, so one of a few tries must last the whole time.
    DWORD longest = 0;
    for (int attempt = 0; attempt < 5 && longest < 130; attempt++) {
        start = GetTickCount();
        EXPECT_EQ(event_wait_timeout(150), 0);
        DWORD waited = GetTickCount() - start;
        EXPECT_LT(waited, 1000u);
        if (waited > longest) longest = waited;
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

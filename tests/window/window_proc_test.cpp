#include "tests/window/window_test_support.h"

namespace {

class WindowEvents : public WindowTest {
  protected:
    HWND window = nullptr;
    void SetUp() override {
        window = reinterpret_cast<HWND>(
            window_open(0, 100, 100, 300, 200, "events", WS_OVERLAPPEDWINDOW));
        ASSERT_NE(window, nullptr);
        pump_messages();
        clear_events();
    }
    // A window of the runtime window's class that window_open did not make.
    HWND of_class(DWORD style, HWND parent) {
        return CreateWindowExA(0, "WindowClass_0", "", style, 0, 0, 50, 50, parent, nullptr,
                               test_host.app_instance, nullptr);
    }
};

TEST_F(WindowEvents, TheCloseBoxQueuesOneCloseEventAndKeepsTheWindow) {
    EXPECT_EQ(SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0), 0);
    EXPECT_EQ(queued_events(), (Events{{EVENT_WINDOW_CLOSE, 0}}));
    EXPECT_TRUE(IsWindow(window));
    events()->event_window = 99;
    EXPECT_EQ(event_wait_timeout(0), EVENT_WINDOW_CLOSE);
    EXPECT_EQ(events()->event_window, 0);
    EXPECT_EQ(events()->event_type, -1);
}

// A plain resize (-1) gives only EVENT_WINDOW_SIZED.
TEST_F(WindowEvents, MinimiseRestoreAndMaximiseGiveTheirEventsInOrder) {
    const struct {
        int show;
        Codes codes;
    } cases[] = {{SW_MINIMIZE, {EVENT_WINDOW_MINIMISED}},
                 {SW_RESTORE, {EVENT_WINDOW_RESTORED, EVENT_WINDOW_SIZED}},
                 {SW_MAXIMIZE, {EVENT_WINDOW_MAXIMISED, EVENT_WINDOW_SIZED}},
                 {SW_RESTORE, {EVENT_WINDOW_RESTORED, EVENT_WINDOW_SIZED}},
                 {-1, {EVENT_WINDOW_SIZED}}};
    for (const auto &c : cases) {
        clear_events();
        if (c.show < 0)
            SetWindowPos(window, nullptr, 0, 0, 350, 260, SWP_NOMOVE | SWP_NOZORDER);
        else
            ShowWindow(window, c.show);
        EXPECT_EQ(queued_codes({EVENT_WINDOW_SIZED, EVENT_WINDOW_MINIMISED, EVENT_WINDOW_MAXIMISED,
                                EVENT_WINDOW_RESTORED}),
                  c.codes)
            << c.show;
        EXPECT_EQ(window_record(0)->min_or_max,
                  c.show == SW_MINIMIZE || c.show == SW_MAXIMIZE ? 1 : 0);
        for (const QueuedEvent &queued : queued_events())
            EXPECT_EQ(queued.window, 0);
    }
}

TEST_F(WindowEvents, OnlyTheNewestQueuedEventIsMergedWithARepeat) {
    SendMessageA(window, WM_MOVE, 0, MAKELPARAM(10, 10));
    SendMessageA(window, WM_MOVE, 0, MAKELPARAM(20, 10));
    EXPECT_EQ(queued_codes(), Codes{EVENT_WINDOW_MOVED});
    clear_events();
    SendMessageA(window, WM_MOVE, 0, 0);
    SendMessageA(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(300, 200));
    SendMessageA(window, WM_MOVE, 0, 0);
    EXPECT_EQ(queued_codes(), (Codes{EVENT_WINDOW_MOVED, EVENT_WINDOW_SIZED, EVENT_WINDOW_MOVED}));
    // The same code from another window is another event.
    HWND other = open_window(1);
    clear_events();
    SendMessageA(window, WM_MOVE, 0, 0);
    SendMessageA(other, WM_MOVE, 0, 0);
    EXPECT_EQ(queued_events(), (Events{{EVENT_WINDOW_MOVED, 0}, {EVENT_WINDOW_MOVED, 1}}));
}

TEST_F(WindowEvents, AQueueNodeThatCannotBeAllocatedLosesOnlyThatEvent) {
    SendMessageA(window, WM_MOVE, 0, 0);
    heap_fail_allocations(app_heap(), 0, 1);
    SendMessageA(window, WM_CLOSE, 0, 0);
    heap_fail_reset();
    EXPECT_EQ(heap_failures(FAILURE_LOST_EVENT), 1);
    SendMessageA(window, WM_SIZE, SIZE_RESTORED, 0);
    EXPECT_EQ(queued_codes(), (Codes{EVENT_WINDOW_MOVED, EVENT_WINDOW_SIZED}));
    EXPECT_EQ(event_queue_post(events(), EVENT_WINDOW_SIZED, 0), events()->queue_tail);
}

TEST_F(WindowEvents, MessagesOfAChildGoToTheNearestNumberedAncestor) {
    // A child of the window's own class, without a number of its own.
    HWND child = of_class(WS_CHILD | WS_VISIBLE, window);
    ASSERT_NE(child, nullptr);
    pump_messages();
    clear_events();
    EXPECT_EQ(SendMessageA(child, WM_SIZE, SIZE_RESTORED, 0), 1);
    EXPECT_TRUE(queued_events().empty());
    SendMessageA(child, WM_MOVE, 0, 0);
    EXPECT_EQ(queued_events(), (Events{{EVENT_WINDOW_MOVED, 0}}));
    EXPECT_EQ(events()->event_window, 0);
    DestroyWindow(child);

    // A window of the class with no numbered ancestor: no move, no size, no limits; its
    // activation and erasing are still reported, for window -1.
    HWND stray = of_class(WS_POPUP, nullptr);
    clear_events();
    SendMessageA(stray, WM_MOVE, 0, 0);
    EXPECT_EQ(SendMessageA(stray, WM_SIZE, SIZE_RESTORED, 0), 1);
    EXPECT_EQ(events()->event_window, -1);
    EXPECT_TRUE(queued_events().empty());
    EXPECT_EQ(SendMessageA(stray, WM_ACTIVATE, WA_ACTIVE, 0), 1);
    SendMessageA(stray, WM_ERASEBKGND, 0, 0);
    EXPECT_EQ(queued_events(), (Events{{EVENT_WINDOW_ACTIVATED, -1}, {EVENT_WINDOW_REPAINT, -1}}));
    // Numbered, but no window is open under the number: the events come, no record changes.
    SetPropA(stray, "KX_WindowID", reinterpret_cast<HANDLE>(6));
    clear_events();
    for (WPARAM kind : {SIZE_RESTORED, SIZE_MINIMIZED, SIZE_MAXIMIZED})
        EXPECT_EQ(SendMessageA(stray, WM_SIZE, kind, 0), 0);
    EXPECT_EQ(queued_codes(), (Codes{EVENT_WINDOW_SIZED, EVENT_WINDOW_MINIMISED,
                                     EVENT_WINDOW_MAXIMISED, EVENT_WINDOW_SIZED}));
    // Numbered as another window: destroying it leaves that window's record alone.
    SetPropA(stray, "KX_WindowID", reinterpret_cast<HANDLE>(1));
    DestroyWindow(stray);
    ASSERT_NE(window_record(0), nullptr);
    EXPECT_EQ(window_record(0)->window, window);
}

TEST_F(WindowEvents, ActivationIsQueuedOnlyWhenTheWindowBecomesActive) {
    EXPECT_EQ(SendMessageA(window, WM_ACTIVATE, WA_INACTIVE, 0), 1);
    EXPECT_TRUE(queued_events().empty());
    EXPECT_EQ(SendMessageA(window, WM_ACTIVATE, WA_CLICKACTIVE, 0), 1);
    EXPECT_EQ(queued_codes(), Codes{EVENT_WINDOW_ACTIVATED});
}

TEST_F(WindowEvents, CommandsFromMenusShortcutsAndControlsBecomePendingEvents) {
    HWND button = CreateWindowExA(0, "BUTTON", "b", WS_CHILD, 0, 0, 20, 20, window,
                                  reinterpret_cast<HMENU>(42), nullptr, nullptr);
    HWND menu_control =
        CreateWindowExA(0, "BUTTON", "m", WS_CHILD, 0, 0, 20, 20, window,
                        reinterpret_cast<HMENU>(intptr_t(-10000)), nullptr, nullptr);
    ASSERT_TRUE(button && menu_control);
    pump_messages();
    clear_events();
    const struct {
        WPARAM wparam;
        HWND control;
        int32_t answer, number, type;
    } cases[] = {
        {MAKEWPARAM(64001, 0), nullptr, EVENT_MENU, 64001, -1}, // a menu item
        {MAKEWPARAM(7, 1), nullptr, EVENT_MENU, 7, -1},         // a shortcut
        {MAKEWPARAM(64001, 1), nullptr, WM_COMMAND, 7, -1},     // Tab shortcuts make no event
        {MAKEWPARAM(64002, 1), nullptr, WM_COMMAND, 7, -1},
        {MAKEWPARAM(42, 5), button, EVENT_GADGET, 42, 5},
        {MAKEWPARAM(7, 3), menu_control, EVENT_MENU, 7, 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.wparam);
        PostMessageA(window, WM_COMMAND, c.wparam, reinterpret_cast<LPARAM>(c.control));
        EXPECT_EQ(event_wait_timeout(0), c.answer);
        EXPECT_EQ(event_menu(), c.number);
        EXPECT_EQ(events()->event_type, c.type);
    }
    EXPECT_EQ(events()->last_wparam, MAKEWPARAM(64002, 1));
    EXPECT_EQ(SendMessageA(window, WM_COMMAND, MAKEWPARAM(65535, 0), 0), 0);
    EXPECT_EQ(events()->pending_event, EVENT_MENU);
    EXPECT_EQ(events()->event_number, 65535);
}

// Another mouse message (WM_MOUSEMOVE) makes no event, but leaves the item number.
TEST_F(WindowEvents, ItemMouseMessagesAreDeferredThroughTheQueue) {
    const int32_t cases[][3] = {{WM_LBUTTONDOWN, 0, EVENT_ITEM_MOUSE},
                                {WM_RBUTTONDOWN, 1, EVENT_ITEM_MOUSE},
                                {WM_LBUTTONDBLCLK, 2, EVENT_ITEM_MOUSE},
                                {WM_RBUTTONDBLCLK, 3, EVENT_ITEM_MOUSE},
                                {WM_MOUSEMOVE, -1, MSG_ITEM_MOUSE_DEFERRED}};
    for (const auto &c : cases) {
        PostMessageA(window, MSG_ITEM_MOUSE, 77 + c[0], c[0]);
        EXPECT_EQ(event_wait_timeout(0), int32_t(MSG_ITEM_MOUSE));
        EXPECT_EQ(event_wait_timeout(0), c[2]);
        EXPECT_EQ(event_menu(), 77 + c[0]);
        EXPECT_EQ(events()->event_type, c[1]);
    }
}

SIZE_T WINAPI no_heap_size(HANDLE, DWORD, const void *) {
    return SIZE_T(-1);
}

EventAuxData *new_record(SIZE_T buffer_size) {
    auto *data = static_cast<EventAuxData *>(heap_alloc(app_heap(), 0, sizeof(EventAuxData)));
    data->buffer = buffer_size ? heap_alloc(app_heap(), 0, buffer_size) : nullptr;
    return data;
}

TEST_F(WindowEvents, GadgetEventsAndDataRecordsArePending) {
    PostMessageA(window, MSG_GADGET_EVENT, 9, EVENT_TYPE_DRAG_START);
    EXPECT_EQ(event_wait_timeout(0), EVENT_GADGET);
    EXPECT_EQ(event_menu(), 9);
    EXPECT_EQ(events()->event_type, EVENT_TYPE_DRAG_START);

    EventAuxData *first = new_record(64), *second = new_record(0);
    int32_t blocks = heap_use(app_heap()).blocks;
    // Two records in one dispatch: the first is released when the second replaces it.
    SendMessageA(window, MSG_DATA, 0, reinterpret_cast<LPARAM>(first));
    SendMessageA(window, MSG_ITEM_DATA, 12, reinterpret_cast<LPARAM>(second));
    EXPECT_EQ(events()->aux_data, second);
    EXPECT_EQ(events()->pending_event, EVENT_ITEM_DATA);
    EXPECT_EQ(events()->event_number, 12);
    EXPECT_EQ(heap_use(app_heap()).blocks, blocks - 2);
    events()->pending_event = 0;
    event_wait_timeout(0); // the next wait releases the current record
    EXPECT_EQ(events()->aux_data, nullptr);
    EXPECT_EQ(heap_use(app_heap()).blocks, blocks - 3);
    EventAuxData *third = new_record(0);
    PostMessageA(window, MSG_DATA, 0, reinterpret_cast<LPARAM>(third));
    EXPECT_EQ(event_wait_timeout(0), EVENT_DATA);
    EXPECT_EQ(events()->aux_data, third);
    SendMessageA(window, MSG_DATA, 0, reinterpret_cast<LPARAM>(third)); // the same once more
    EXPECT_EQ(events()->aux_data, third);
    EXPECT_EQ(heap_use(app_heap()).blocks, blocks - 2);

    // A record whose size cannot be read, or without an application heap, is not taken.
    EventAuxData *fourth = new_record(0);
    {
        PlatformPatch no_size("kernel32.dll", "HeapSize",
                              reinterpret_cast<const void *>(no_heap_size));
        ASSERT_NE(no_size.original(), nullptr);
        SendMessageA(window, MSG_DATA, 0, reinterpret_cast<LPARAM>(fourth));
        EXPECT_EQ(events()->aux_data, nullptr);
        Replaced<HANDLE> no_heap(test_host.app_heap, nullptr);
        SendMessageA(window, MSG_DATA, 0, reinterpret_cast<LPARAM>(fourth));
        EXPECT_EQ(events()->aux_data, nullptr);
    }
    heap_free(app_heap(), fourth);
    EXPECT_TRUE(runtime_heaps_valid());
}

TEST_F(WindowEvents, SizeLimitsReplaceOnlyWhatTheRecordSets) {
    // The record's minimum width and height, maximum width and height; 0 sets nothing.
    const uint16_t cases[][4] = {{0, 0, 0, 0}, {0, 30, 900, 0}, {200, 0, 0, 400}};
    const LONG system[4] = {11, 12, 1300, 1100};
    WindowRecord *record = window_record(0);
    for (const auto &c : cases) {
        MINMAXINFO limits = {};
        limits.ptMinTrackSize = {system[0], system[1]};
        limits.ptMaxTrackSize = {system[2], system[3]};
        record->min_width = c[0];
        record->min_height = c[1];
        record->max_width = c[2];
        record->max_height = c[3];
        EXPECT_EQ(SendMessageA(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits)), 0);
        const LONG seen[4] = {limits.ptMinTrackSize.x, limits.ptMinTrackSize.y,
                              limits.ptMaxTrackSize.x, limits.ptMaxTrackSize.y};
        for (int i = 0; i < 4; i++)
            EXPECT_EQ(seen[i], c[i] ? c[i] : system[i]) << i;
    }
    // The system applies them: a maximised window is no taller than the limit.
    ShowWindow(window, SW_MAXIMIZE);
    EXPECT_LE(window_rect(window).bottom - window_rect(window).top, 400);
}

HDC erased_dc;
HWND erased_window;
LRESULT remember_erase(HDC dc, HWND window) {
    erased_dc = dc;
    erased_window = window;
    return 77;
}

// Not the callback for a child, whose background is not the window's own.
TEST_F(WindowEvents, ErasingUsesTheBrushOrTheCallbackAndQueuesARepaint) {
    WindowRecord *record = window_record(0);
    record->erase_callback = remember_erase;
    HDC dc = GetDC(window);
    EXPECT_EQ(SendMessageA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 77);
    EXPECT_EQ(erased_dc, dc);
    EXPECT_EQ(erased_window, window);
    EXPECT_EQ(queued_codes(), Codes{EVENT_WINDOW_REPAINT});
    HWND child = of_class(WS_CHILD, window);
    erased_window = nullptr;
    SendMessageA(child, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    EXPECT_EQ(erased_window, nullptr);
    DestroyWindow(child);
    ReleaseDC(window, dc);

    record->background_brush = CreateSolidBrush(RGB(200, 10, 30));
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    EXPECT_EQ(window_pixel(window, 150, 100), RGB(200, 10, 30));
    EXPECT_EQ(erased_window, nullptr);
    DeleteObject(record->background_brush);
    record->background_brush = nullptr;
    record->erase_callback = nullptr;
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    EXPECT_EQ(window_pixel(window, 150, 100), GetSysColor(COLOR_BTNFACE));
}

LRESULT swallow_close(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_CLOSE ? 5 : CALLBACK_CONTINUE;
}
LRESULT refuse_everything(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_MOVE ? NOT_HANDLED : CALLBACK_CONTINUE;
}

TEST_F(WindowEvents, CallbacksComeFirstAndContinueOnlyWhenTheyAsk) {
    Replaced<WindowCallback> global(events()->global_callback, refuse_everything);
    events()->event_window = 55;
    EXPECT_EQ(SendMessageA(window, WM_MOVE, 0, 0), 0); // the default procedure's answer
    EXPECT_TRUE(queued_events().empty());
    EXPECT_EQ(events()->event_window, 55);
    SendMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(queued_codes(), Codes{EVENT_WINDOW_CLOSE});
    clear_events();
    // A window's own callback takes precedence over the global one.
    Replaced<WindowCallback> own(window_record(0)->event_callback, swallow_close);
    EXPECT_EQ(SendMessageA(window, WM_CLOSE, 0, 0), 5);
    SendMessageA(window, WM_MOVE, 0, 0);
    EXPECT_EQ(queued_codes(), Codes{EVENT_WINDOW_MOVED});
}

int syscolor_changes;
LRESULT CALLBACK count_syscolor(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_SYSCOLORCHANGE) syscolor_changes++;
    return DefWindowProcA(window, message, wparam, lparam);
}

// Not for an MDI child, which leaves the broadcast to its frame, nor for a window without a
// record.
TEST_F(WindowEvents, ColourChangesReachEveryDescendant) {
    register_test_class("CountSysColor", count_syscolor);
    HWND child = CreateWindowExA(0, "CountSysColor", "", WS_CHILD, 0, 0, 10, 10, window, nullptr,
                                 test_host.app_instance, nullptr);
    CreateWindowExA(0, "CountSysColor", "", WS_CHILD, 0, 0, 5, 5, child, nullptr,
                    test_host.app_instance, nullptr);
    for (int row = 0; row < 3; row++) { // ordinary, MDI child, without a number
        Replaced<HWND> mdi(window_record(0)->mdi_client, row == 1 ? child : nullptr);
        if (row == 2) RemovePropA(window, "KX_WindowID");
        syscolor_changes = 0;
        SendMessageA(window, WM_SYSCOLORCHANGE, 0, 0);
        EXPECT_EQ(syscolor_changes, row == 0 ? 2 : 0) << row;
    }
    SetPropA(window, "KX_WindowID", reinterpret_cast<HANDLE>(1));
    DestroyWindow(child);
    UnregisterClassA("CountSysColor", test_host.app_instance);
}

UINT answered_message;
LRESULT answer_seven(HWND, UINT message, WPARAM, LPARAM) {
    return message == answered_message ? 7 : CALLBACK_CONTINUE;
}

TEST_F(WindowEvents, AFrameWithAnMdiClientPassesItsMessagesToTheFrameProcedure) {
    CLIENTCREATESTRUCT client_info = {nullptr, 50000};
    HWND client = CreateWindowExA(0, "MDICLIENT", "", WS_CHILD | WS_VISIBLE, 0, 0, 100, 100, window,
                                  nullptr, test_host.app_instance, &client_info);
    ASSERT_NE(client, nullptr);
    SetForegroundWindow(window);
    SetFocus(window);
    SendMessageA(window, WM_SETFOCUS, 0, 0);
    EXPECT_EQ(GetFocus(), window); // an ordinary window: the default procedure does nothing
    SetPropA(window, "KX_MDI_Gadget", client);
    SendMessageA(window, WM_SETFOCUS, 0, 0);
    EXPECT_EQ(GetFocus(), client); // the frame procedure hands the focus to the client
    // WM_SIZE stays with the window: the frame procedure would stretch the client.
    SendMessageA(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(300, 200));
    EXPECT_EQ(window_rect(client).right - window_rect(client).left, 100);
    // Answered by the window, only the focus, menu characters and commands without a control
    // go to the frame procedure too (its answer, not 7, comes back).
    Replaced<WindowCallback> answer(events()->global_callback, answer_seven);
    const LPARAM control = reinterpret_cast<LPARAM>(client);
    const struct {
        UINT message;
        LPARAM lparam;
    } cases[] = {
        {WM_SETFOCUS, 0}, {WM_MENUCHAR, 0}, {WM_COMMAND, 0}, {WM_COMMAND, control}, {WM_USER, 0}};
    for (const auto &c : cases) {
        answered_message = c.message;
        bool to_frame = c.message != WM_USER && c.lparam == 0;
        LRESULT frame = DefFrameProcA(window, client, c.message, 0, c.lparam);
        EXPECT_EQ(SendMessageA(window, c.message, 0, c.lparam), to_frame ? frame : 7)
            << c.message << " " << c.lparam;
    }
    RemovePropA(window, "KX_MDI_Gadget");
}

} // namespace

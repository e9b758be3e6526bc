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
};

std::vector<int32_t> codes_of(const std::vector<QueuedEvent> &list) {
    std::vector<int32_t> codes;
    for (const QueuedEvent &queued : list)
        codes.push_back(queued.event);
    return codes;
}

typedef std::vector<int32_t> Codes;

TEST_F(WindowEvents, TheCloseBoxQueuesOneCloseEventAndKeepsTheWindow) {
    EXPECT_EQ(SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0), 0);
    std::vector<QueuedEvent> queued = queued_events();
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued[0].event, EVENT_WINDOW_CLOSE);
    EXPECT_EQ(queued[0].window, 0);
    EXPECT_TRUE(IsWindow(window));
    events()->event_window = 99;
    EXPECT_EQ(event_wait_timeout(0), EVENT_WINDOW_CLOSE);
    EXPECT_EQ(events()->event_window, 0);
    EXPECT_EQ(events()->event_type, -1);
}

TEST_F(WindowEvents, MinimiseRestoreAndMaximiseGiveTheirEventsInOrder) {
    std::initializer_list<int32_t> size_codes = {EVENT_WINDOW_SIZED, EVENT_WINDOW_MINIMISED,
                                                 EVENT_WINDOW_MAXIMISED, EVENT_WINDOW_RESTORED};
    ShowWindow(window, SW_MINIMIZE);
    EXPECT_EQ(queued_codes(size_codes), Codes{EVENT_WINDOW_MINIMISED});
    EXPECT_EQ(window_record(0)->min_or_max, 1);
    clear_events();
    ShowWindow(window, SW_RESTORE);
    EXPECT_EQ(queued_codes(size_codes), (Codes{EVENT_WINDOW_RESTORED, EVENT_WINDOW_SIZED}));
    EXPECT_EQ(window_record(0)->min_or_max, 0);
    clear_events();
    ShowWindow(window, SW_MAXIMIZE);
    EXPECT_EQ(queued_codes(size_codes), (Codes{EVENT_WINDOW_MAXIMISED, EVENT_WINDOW_SIZED}));
    clear_events();
    ShowWindow(window, SW_RESTORE);
    EXPECT_EQ(queued_codes(size_codes), (Codes{EVENT_WINDOW_RESTORED, EVENT_WINDOW_SIZED}));
    clear_events();
    SetWindowPos(window, nullptr, 0, 0, 350, 260, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(queued_codes(size_codes), Codes{EVENT_WINDOW_SIZED});
    for (const QueuedEvent &queued : queued_events())
        EXPECT_EQ(queued.window, 0);
}

TEST_F(WindowEvents, OnlyTheNewestQueuedEventIsMergedWithARepeat) {
    SendMessageA(window, WM_MOVE, 0, MAKELPARAM(10, 10));
    SendMessageA(window, WM_MOVE, 0, MAKELPARAM(20, 10));
    EXPECT_EQ(codes_of(queued_events()), Codes{EVENT_WINDOW_MOVED});
    clear_events();
    SendMessageA(window, WM_MOVE, 0, 0);
    SendMessageA(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(300, 200));
    SendMessageA(window, WM_MOVE, 0, 0);
    EXPECT_EQ(codes_of(queued_events()),
              (Codes{EVENT_WINDOW_MOVED, EVENT_WINDOW_SIZED, EVENT_WINDOW_MOVED}));
    // The same code from another window is another event.
    HWND other = reinterpret_cast<HWND>(window_open(1, 0, 0, 200, 100, "", OPEN_HIDDEN));
    clear_events();
    SendMessageA(window, WM_MOVE, 0, 0);
    SendMessageA(other, WM_MOVE, 0, 0);
    std::vector<QueuedEvent> queued = queued_events();
    ASSERT_EQ(queued.size(), 2u);
    EXPECT_EQ(queued[0].window, 0);
    EXPECT_EQ(queued[1].window, 1);
}

TEST_F(WindowEvents, AQueueNodeThatCannotBeAllocatedLosesOnlyThatEvent) {
    SendMessageA(window, WM_MOVE, 0, 0);
    heap_fail_allocations(app_heap(), 0, 1);
    SendMessageA(window, WM_CLOSE, 0, 0);
    heap_fail_reset();
    EXPECT_EQ(heap_failures(FAILURE_LOST_EVENT), 1);
    SendMessageA(window, WM_SIZE, SIZE_RESTORED, 0);
    EXPECT_EQ(codes_of(queued_events()), (Codes{EVENT_WINDOW_MOVED, EVENT_WINDOW_SIZED}));
    EXPECT_EQ(event_queue_post(events(), EVENT_WINDOW_SIZED, 0), events()->queue_tail);
}

TEST_F(WindowEvents, MessagesOfAChildGoToTheNearestNumberedAncestor) {
    // A child of the window's own class, without a number of its own.
    HWND child = CreateWindowExA(0, "WindowClass_0", "", WS_CHILD | WS_VISIBLE, 0, 0, 50, 50,
                                 window, nullptr, test_host.app_instance, nullptr);
    ASSERT_NE(child, nullptr);
    pump_messages();
    clear_events();
    EXPECT_EQ(SendMessageA(child, WM_SIZE, SIZE_RESTORED, 0), 1);
    EXPECT_TRUE(queued_events().empty());
    SendMessageA(child, WM_MOVE, 0, 0);
    std::vector<QueuedEvent> queued = queued_events();
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued[0].window, 0);
    EXPECT_EQ(events()->event_window, 0);
    DestroyWindow(child);

    // A window of the class with no numbered ancestor: no move, no size, no limits.
    HWND stray = CreateWindowExA(0, "WindowClass_0", "", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr,
                                 test_host.app_instance, nullptr);
    clear_events();
    SendMessageA(stray, WM_MOVE, 0, 0);
    EXPECT_EQ(SendMessageA(stray, WM_SIZE, SIZE_RESTORED, 0), 1);
    EXPECT_EQ(events()->event_window, -1);
    EXPECT_TRUE(queued_events().empty());
    EXPECT_EQ(SendMessageA(stray, WM_ACTIVATE, WA_ACTIVE, 0), 1);
    queued = queued_events();
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued[0].event, EVENT_WINDOW_ACTIVATED);
    EXPECT_EQ(queued[0].window, -1);
    DestroyWindow(stray);
}

TEST_F(WindowEvents, ActivationIsQueuedOnlyWhenTheWindowBecomesActive) {
    EXPECT_EQ(SendMessageA(window, WM_ACTIVATE, WA_INACTIVE, 0), 1);
    EXPECT_TRUE(queued_events().empty());
    EXPECT_EQ(SendMessageA(window, WM_ACTIVATE, WA_CLICKACTIVE, 0), 1);
    EXPECT_EQ(codes_of(queued_events()), Codes{EVENT_WINDOW_ACTIVATED});
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

    PostMessageA(window, WM_COMMAND, MAKEWPARAM(64001, 0), 0); // a menu item
    EXPECT_EQ(event_wait_timeout(0), EVENT_MENU);
    EXPECT_EQ(event_menu(), 64001);
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(7, 1), 0); // a shortcut
    EXPECT_EQ(event_wait_timeout(0), EVENT_MENU);
    EXPECT_EQ(event_menu(), 7);
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(64001, 1), 0); // Tab shortcuts make no event
    EXPECT_EQ(event_wait_timeout(0), int32_t(WM_COMMAND));
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(64002, 1), 0);
    EXPECT_EQ(event_wait_timeout(0), int32_t(WM_COMMAND));
    EXPECT_EQ(events()->last_wparam, MAKEWPARAM(64002, 1));
    EXPECT_EQ(event_menu(), 7);

    PostMessageA(window, WM_COMMAND, MAKEWPARAM(42, 5), reinterpret_cast<LPARAM>(button));
    EXPECT_EQ(event_wait_timeout(0), EVENT_GADGET);
    EXPECT_EQ(event_menu(), 42);
    EXPECT_EQ(events()->event_type, 5);
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(7, 3), reinterpret_cast<LPARAM>(menu_control));
    EXPECT_EQ(event_wait_timeout(0), EVENT_MENU);
    EXPECT_EQ(event_menu(), 7);
    EXPECT_EQ(events()->event_type, 3);
    EXPECT_EQ(SendMessageA(window, WM_COMMAND, MAKEWPARAM(65535, 0), 0), 0);
    EXPECT_EQ(events()->pending_event, EVENT_MENU);
    EXPECT_EQ(events()->event_number, 65535);
}

TEST_F(WindowEvents, ItemMouseMessagesAreDeferredThroughTheQueue) {
    const struct {
        LPARAM mouse;
        int32_t type;
    } cases[] = {
        {WM_LBUTTONDOWN, 0}, {WM_RBUTTONDOWN, 1}, {WM_LBUTTONDBLCLK, 2}, {WM_RBUTTONDBLCLK, 3}};
    for (const auto &c : cases) {
        PostMessageA(window, MSG_ITEM_MOUSE, 77, c.mouse);
        EXPECT_EQ(event_wait_timeout(0), int32_t(MSG_ITEM_MOUSE));
        EXPECT_EQ(event_wait_timeout(0), EVENT_ITEM_MOUSE);
        EXPECT_EQ(event_menu(), 77);
        EXPECT_EQ(events()->event_type, c.type);
    }
    PostMessageA(window, MSG_ITEM_MOUSE, 78, WM_MOUSEMOVE);
    EXPECT_EQ(event_wait_timeout(0), int32_t(MSG_ITEM_MOUSE));
    EXPECT_EQ(event_wait_timeout(0), int32_t(MSG_ITEM_MOUSE_DEFERRED));
    EXPECT_EQ(event_menu(), 78);
    EXPECT_EQ(events()->event_type, -1);
}

TEST_F(WindowEvents, GadgetEventsAndDataRecordsArePending) {
    PostMessageA(window, MSG_GADGET_EVENT, 9, EVENT_TYPE_DRAG_START);
    EXPECT_EQ(event_wait_timeout(0), EVENT_GADGET);
    EXPECT_EQ(event_menu(), 9);
    EXPECT_EQ(events()->event_type, EVENT_TYPE_DRAG_START);

    EventAuxData *first =
        static_cast<EventAuxData *>(heap_alloc(app_heap(), 0, sizeof(EventAuxData)));
    first->buffer = heap_alloc(app_heap(), 0, 64);
    EventAuxData *second =
        static_cast<EventAuxData *>(heap_alloc(app_heap(), 0, sizeof(EventAuxData)));
    second->buffer = nullptr;
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

    EventAuxData *third =
        static_cast<EventAuxData *>(heap_alloc(app_heap(), 0, sizeof(EventAuxData)));
    third->buffer = nullptr;
    PostMessageA(window, MSG_DATA, 0, reinterpret_cast<LPARAM>(third));
    EXPECT_EQ(event_wait_timeout(0), EVENT_DATA);
    EXPECT_EQ(events()->aux_data, third);
    EXPECT_TRUE(runtime_heaps_valid());
}

TEST_F(WindowEvents, SizeLimitsReplaceOnlyWhatTheRecordSets) {
    MINMAXINFO limits = {};
    limits.ptMinTrackSize = {11, 12};
    limits.ptMaxTrackSize = {1300, 1100};
    EXPECT_EQ(SendMessageA(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits)), 0);
    EXPECT_EQ(limits.ptMinTrackSize.x, 11);
    EXPECT_EQ(limits.ptMaxTrackSize.y, 1100);
    WindowRecord *record = window_record(0);
    record->min_width = 200;
    record->max_height = 400;
    EXPECT_EQ(SendMessageA(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits)), 0);
    EXPECT_EQ(limits.ptMinTrackSize.x, 200);
    EXPECT_EQ(limits.ptMinTrackSize.y, 12);
    EXPECT_EQ(limits.ptMaxTrackSize.x, 1300);
    EXPECT_EQ(limits.ptMaxTrackSize.y, 400);
    // The system applies them: a maximised window is no taller than the limit.
    ShowWindow(window, SW_MAXIMIZE);
    EXPECT_LE(window_rect(window).bottom - window_rect(window).top, 400);
}

LRESULT erase_answer(HDC, HWND) {
    return 77;
}
HDC erased_dc;
HWND erased_window;
LRESULT remember_erase(HDC dc, HWND window) {
    erased_dc = dc;
    erased_window = window;
    return 77;
}

TEST_F(WindowEvents, ErasingUsesTheBrushOrTheCallbackAndQueuesARepaint) {
    WindowRecord *record = window_record(0);
    record->erase_callback = remember_erase;
    HDC dc = GetDC(window);
    EXPECT_EQ(SendMessageA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 77);
    EXPECT_EQ(erased_dc, dc);
    EXPECT_EQ(erased_window, window);
    EXPECT_EQ(codes_of(queued_events()), Codes{EVENT_WINDOW_REPAINT});
    ReleaseDC(window, dc);

    record->erase_callback = erase_answer;
    record->background_brush = CreateSolidBrush(RGB(200, 10, 30));
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    EXPECT_EQ(window_pixel(window, 150, 100), RGB(200, 10, 30));

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
    EXPECT_EQ(codes_of(queued_events()), Codes{EVENT_WINDOW_CLOSE});
    clear_events();

    // A window's own callback takes precedence over the global one.
    Replaced<WindowCallback> own(window_record(0)->event_callback, swallow_close);
    EXPECT_EQ(SendMessageA(window, WM_CLOSE, 0, 0), 5);
    SendMessageA(window, WM_MOVE, 0, 0);
    EXPECT_EQ(codes_of(queued_events()), Codes{EVENT_WINDOW_MOVED});
}

int syscolor_changes;
LRESULT CALLBACK count_syscolor(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_SYSCOLORCHANGE) syscolor_changes++;
    return DefWindowProcA(window, message, wparam, lparam);
}

TEST_F(WindowEvents, ColourChangesReachEveryDescendant) {
    register_test_class("CountSysColor", count_syscolor);
    HWND child = CreateWindowExA(0, "CountSysColor", "", WS_CHILD, 0, 0, 10, 10, window, nullptr,
                                 test_host.app_instance, nullptr);
    CreateWindowExA(0, "CountSysColor", "", WS_CHILD, 0, 0, 5, 5, child, nullptr,
                    test_host.app_instance, nullptr);
    syscolor_changes = 0;
    SendMessageA(window, WM_SYSCOLORCHANGE, 0, 0);
    EXPECT_EQ(syscolor_changes, 2);
    window_record(0)->mdi_client = child; // an MDI child leaves the broadcast to its frame
    syscolor_changes = 0;
    SendMessageA(window, WM_SYSCOLORCHANGE, 0, 0);
    EXPECT_EQ(syscolor_changes, 0);
    window_record(0)->mdi_client = nullptr;
    DestroyWindow(child);
    UnregisterClassA("CountSysColor", test_host.app_instance);
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
    RemovePropA(window, "KX_MDI_Gadget");
}

} // namespace

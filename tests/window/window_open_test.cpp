#include "tests/window/window_test_support.h"
#include "app/app.h"
#include "runtime/core/core_private.h"
#include <ole2.h>

namespace {

class WindowObjects : public WindowTest {};

LONG style_of(HWND window) {
    return GetWindowLongA(window, GWL_STYLE);
}

// Tab and Shift+Tab, the two entries every window starts with.
void expect_default_shortcuts(const WindowRecord *record) {
    const ACCEL expected[] = {{3, VK_TAB, 64001}, {7, VK_TAB, 64002}};
    ASSERT_EQ(record->shortcut_count, 2);
    for (int i = 0; i < 2; i++) {
        const ACCEL &entry = record->shortcuts[i];
        EXPECT_EQ(entry.fVirt, expected[i].fVirt) << i;
        EXPECT_EQ(entry.key, expected[i].key) << i;
        EXPECT_EQ(entry.cmd, expected[i].cmd) << i;
    }
    EXPECT_EQ(CopyAcceleratorTableA(record->accel_table, nullptr, 0), 2);
}

TEST_F(WindowObjects, TheProgramsWindowIsCentredCaptionedAndShown) {
    HWND window =
        reinterpret_cast<HWND>(window_open(0, 0, 0, 513, 513, "Heightmap", APP_WINDOW_FLAGS));
    ASSERT_TRUE(IsWindow(window));
    EXPECT_TRUE(IsWindowVisible(window) && !IsIconic(window) && !IsZoomed(window));
    EXPECT_EQ(style_of(window) & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU);
    EXPECT_EQ(style_of(window) & (WS_THICKFRAME | WS_MINIMIZEBOX), 0);
    EXPECT_EQ(style_of(window) & 3, 0); // the centring bits are no styles
    char title[32] = {};
    GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ(title, "Heightmap");
    EXPECT_EQ(class_name_of(window), "WindowClass_0");
    WNDCLASSA info = {};
    ASSERT_TRUE(GetClassInfoA(test_host.app_instance, "WindowClass_0", &info));
    EXPECT_EQ(info.style, UINT(CS_DBLCLKS));
    EXPECT_EQ(info.hbrBackground, reinterpret_cast<HBRUSH>(intptr_t(16)));
    EXPECT_EQ(info.hCursor, LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(info.hIcon, nullptr); // the program carries no icon
    EXPECT_EQ(GetPropA(window, "KX_WindowID"), reinterpret_cast<HANDLE>(1));
    // The number property exists before the window is shown, so its activation is
    // already reported with the window's number.
    for (const QueuedEvent &event : queued_events())
        EXPECT_EQ(event.window, 0) << event.event;
    EXPECT_EQ(queued_codes({EVENT_WINDOW_ACTIVATED}).size(), 1u);

    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client, (RECT{0, 0, 513, 513}));
    EXPECT_EQ(window_inner_width(0), 513);
    EXPECT_EQ(window_inner_height(0), 513);
    RECT outer = window_rect(window);
    EXPECT_EQ(outer.left, (1280 - (outer.right - outer.left)) / 2);
    EXPECT_EQ(outer.top, (1024 - (outer.bottom - outer.top)) / 2);

    WindowRecord *record = window_record(0);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->window, window);
    EXPECT_EQ(record->min_or_max, 0);
    EXPECT_EQ(record->mdi_client, nullptr);
    expect_default_shortcuts(record);

    EXPECT_NE(window_close(0), 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(class_registered("WindowClass_0"));
    EXPECT_EQ(window_record(0), nullptr);
    EXPECT_EQ(window_inner_width(0), 0);
    EXPECT_EQ(window_inner_height(0), 0);
    EXPECT_EQ(window_close(0), 0);
}

// A caption is added only when no style is given; the show flags show the window so.
TEST_F(WindowObjects, FlagsGiveTheCaptionTheVisibilityAndTheShowState) {
    // The flags; then the caption, visible, maximised, minimised.
    const uint32_t cases[][5] = {{0, WS_CAPTION, 1, 0, 0},
                                 {0x10000000, WS_CAPTION, 0, 0, 0},
                                 {WS_POPUP, 0, 1, 0, 0},
                                 {WS_OVERLAPPEDWINDOW | OPEN_MAXIMISED, WS_CAPTION, 1, 1, 0},
                                 {WS_OVERLAPPEDWINDOW | OPEN_MINIMISED, WS_CAPTION, 1, 0, 1},
                                 {WS_OVERLAPPEDWINDOW | OPEN_MAXIMISED | OPEN_HIDDEN, WS_CAPTION,
                                  0, 1, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c[0]);
        HWND window = reinterpret_cast<HWND>(window_open(1, 10, 20, 200, 100, nullptr, c[0]));
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(uint32_t(style_of(window) & WS_CAPTION), c[1]);
        EXPECT_EQ(uint32_t(IsWindowVisible(window) != 0), c[2]);
        EXPECT_EQ(uint32_t(IsZoomed(window) != 0), c[3]);
        EXPECT_EQ(uint32_t(IsIconic(window) != 0), c[4]);
        EXPECT_EQ(uint32_t(window_record(1)->min_or_max), c[3] | c[4]);
        char title[8] = "x";
        GetWindowTextA(window, title, sizeof title);
        EXPECT_STREQ(title, "");
        if (c[3] || c[4]) continue;
        EXPECT_EQ(window_rect(window).left, 10);
        EXPECT_EQ(window_rect(window).top, 20);
        EXPECT_EQ(window_inner_width(1), 200);
        EXPECT_EQ(window_inner_height(1), 100);
    }
}

TEST_F(WindowObjects, DefaultPositionLetsTheSystemPlaceTheWindowUnlessCentred) {
    const int32_t D = DEFAULT_POSITION, cases[][3] = {{D, 50, 0}, {50, D, 0}, {D, D, OPEN_CENTRED}};
    for (const auto &c : cases) {
        HWND window = reinterpret_cast<HWND>(window_open(1, c[0], c[1], 300, 80, "", c[2]));
        ASSERT_NE(window, nullptr);
        RECT rect = window_rect(window);
        if (c[2]) {
            EXPECT_EQ(rect.left, (1280 - (rect.right - rect.left)) / 2);
            EXPECT_EQ(rect.top, (1024 - (rect.bottom - rect.top)) / 2);
            continue;
        }
        // Both coordinates were replaced, and the system placed the window on the screen.
        EXPECT_TRUE(rect.left >= 0 && rect.left < 1280 && rect.left != 50) << rect;
        EXPECT_TRUE(rect.top >= 0 && rect.top < 1024 && rect.top != 50) << rect;
    }
}

TEST_F(WindowObjects, AWindowLargerThanTheScreenIsShrunkAndPlacedAtTheOrigin) {
    HWND window = open_window(1, OPEN_CENTRED | OPEN_HIDDEN, nullptr, 3000, 2000);
    EXPECT_EQ(window_rect(window), (RECT{0, 0, 1280, 1024}));
    // Sizes no screen holds are placed without overflowing.
    EXPECT_NE(open_window(2, OPEN_CENTRED | OPEN_HIDDEN, nullptr, INT32_MIN, INT32_MAX), nullptr);
    EXPECT_NE(open_window(3, OPEN_CENTRED_ON_PARENT | OPEN_HIDDEN, window, INT32_MAX, INT32_MIN),
              nullptr);
}

RECT adjusted_rect;
BOOL WINAPI adjust_to(RECT *rect, DWORD, BOOL) {
    *rect = adjusted_rect;
    return TRUE;
}
HWND WINAPI no_window() {
    return nullptr;
}

// Whatever the platform answers, the window is placed without overflowing: a frame wider than
// any 32-bit size or turned inside out, a reference window whose rectangle cannot be read, or
// no reference window at all.
TEST_F(WindowObjects, PlacementTakesWhatThePlatformAnswers) {
    HWND parent = open_window(2, WS_POPUP, nullptr, 400, 300);
    const void *adjust = reinterpret_cast<const void *>(adjust_to);
    const void *unread = reinterpret_cast<const void *>(no_rect);
    const void *inactive = reinterpret_cast<const void *>(no_window);
    const uint32_t centred = WS_POPUP | OPEN_CENTRED_ON_PARENT;
    const RECT huge = {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
    const RECT inverted = {INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    const RECT given = {10, 20, 110, 100};
    const struct {
        const char *function;
        const void *replacement;
        RECT adjusted;
        uint32_t flags;
        HWND parent;
        RECT expected;
    } cases[] = {{"AdjustWindowRect", adjust, huge, OPEN_CENTRED, nullptr, {0, 0, 1280, 1024}},
                 {"AdjustWindowRect", adjust, inverted, WS_POPUP, nullptr, {10, 20, 10, 20}},
                 {"GetWindowRect", unread, {}, centred, parent, given},
                 {"GetActiveWindow", inactive, {}, centred, nullptr, given}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.function);
        adjusted_rect = c.adjusted;
        HWND window;
        {
            PlatformPatch patch("user32.dll", c.function, c.replacement);
            ASSERT_NE(patch.original(), nullptr);
            window = reinterpret_cast<HWND>(
                window_open(1, 10, 20, 100, 80, "", c.flags | OPEN_HIDDEN, c.parent));
        }
        EXPECT_EQ(window_rect(window), c.expected);
    }
}

TEST_F(WindowObjects, CentringOnTheParentOrTheActiveWindowStaysOnTheScreen) {
    HWND corner = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 10, 5, 100, 60, nullptr,
                                  nullptr, nullptr, nullptr);
    HWND middle = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 300, 200, 400, 300,
                                  nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(corner && middle);
    // Centred on the corner window it would start one pixel past the screen's corner.
    HWND near_corner = reinterpret_cast<HWND>(
        window_open(1, 700, 700, 122, 72, "", WS_POPUP | OPEN_CENTRED_ON_PARENT, corner));
    RECT rect = window_rect(near_corner);
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, 0);
    EXPECT_EQ(GetWindow(near_corner, GW_OWNER), corner);
    rect = window_rect(open_window(2, WS_POPUP | OPEN_CENTRED_ON_PARENT, middle, 200, 101));
    EXPECT_EQ(rect.left, 300 + (400 - 200) / 2);
    EXPECT_EQ(rect.top, 200 + (300 - 101) / 2); // 99 / 2 truncates to 49

    // Without a parent the active window is the reference.
    HWND active = reinterpret_cast<HWND>(window_open(3, 100, 100, 300, 300, "", 0));
    ASSERT_EQ(GetActiveWindow(), active);
    RECT reference = window_rect(active);
    rect = window_rect(open_window(4, WS_POPUP | OPEN_CENTRED_ON_PARENT | OPEN_HIDDEN));
    EXPECT_EQ(rect.left, reference.left + (reference.right - reference.left - 100) / 2);
    EXPECT_EQ(rect.top, reference.top + (reference.bottom - reference.top - 100) / 2);
    window_close(1);
    window_close(2);
    DestroyWindow(corner);
    DestroyWindow(middle);
}

TEST_F(WindowObjects, ClosingAnOwnedWindowActivatesItsOwner) {
    HWND owner = open_window(1, 0, nullptr, 200, 200), owned = open_window(2, 0, owner);
    ASSERT_EQ(GetActiveWindow(), owned);
    window_close(2);
    EXPECT_EQ(GetActiveWindow(), owner);
}

TEST_F(WindowObjects, ReopeningANumberClosesTheOldWindowFirst) {
    HWND first = open_window(3);
    ASSERT_NE(shortcut_add(3, 'Q', 1), nullptr);
    int32_t blocks = heap_use(app_heap()).blocks;
    HWND second = open_window(3, OPEN_HIDDEN, nullptr, 120);
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(IsWindow(first));
    EXPECT_NE(first, second);
    EXPECT_EQ(class_name_of(second), "WindowClass_3");
    EXPECT_EQ(GetPropA(second, "KX_WindowID"), reinterpret_cast<HANDLE>(4));
    EXPECT_EQ(window_record(3)->shortcut_count, 2);
    EXPECT_EQ(window_inner_width(3), 120);
    // The old shortcut array and save record went; the new window has its own.
    EXPECT_EQ(heap_use(app_heap()).blocks, blocks);
}

TEST_F(WindowObjects, AnAnyIdWindowIsNumberedByItsRecord) {
    intptr_t number = window_open(ANY_ID, 0, 0, 300, 100, "", OPEN_HIDDEN);
    ASSERT_NE(number, 0);
    WindowRecord *record = window_record(number);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(reinterpret_cast<intptr_t>(record), number);
    EXPECT_EQ(class_name_of(record->window), "WindowClass_" + number_text(number));
    EXPECT_EQ(reinterpret_cast<intptr_t>(GetPropA(record->window, "KX_WindowID")), number + 1);
    EXPECT_EQ(window_inner_width(number), 300);
    HWND window = record->window;
    EXPECT_NE(window_close(number), 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(window_record(number), nullptr);
}

TEST_F(WindowObjects, AFailedCreationLeavesNoClassAndNoRecord) {
    HWND bogus_parent = reinterpret_cast<HWND>(intptr_t(0x7654321));
    EXPECT_EQ(open_window(5, OPEN_HIDDEN, bogus_parent), nullptr);
    EXPECT_EQ(window_record(5), nullptr);
    EXPECT_FALSE(class_registered("WindowClass_5"));
    EXPECT_EQ(window_open(ANY_ID, 0, 0, 100, 100, "", OPEN_HIDDEN, bogus_parent), 0);
    EXPECT_EQ(window_library().window_table->dynamic_head, nullptr);
}

// Without memory for the shortcuts, or without an accelerator table, the window opens all
// the same, and a later shortcut_add gives it a table.
TEST_F(WindowObjects, WithoutMemoryForShortcutsTheWindowOpensWithoutThem) {
    // Hidden and without a gadget list, the shortcut array is the only runtime allocation.
    const uint32_t flags = OPEN_HIDDEN | OPEN_NO_GADGET_LIST;
    heap_fail_allocations(app_heap(), 0, 2);
    HWND window = open_window(1, flags);
    EXPECT_NE(open_window(2, flags), nullptr);
    heap_fail_reset();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(heap_failures(FAILURE_WITHOUT_PART), 2);
    EXPECT_NE(window_close(2), 0);
    {
        PlatformPatch no_table("user32.dll", "CreateAcceleratorTableA",
                               reinterpret_cast<const void *>(no_accelerator_table));
        ASSERT_NE(no_table.original(), nullptr);
        EXPECT_NE(open_window(2, flags), nullptr);
    }
    EXPECT_EQ(window_record(2)->shortcut_count, 2);
    EXPECT_EQ(window_record(2)->accel_table, nullptr);
    ASSERT_NE(shortcut_add(2, 'N', 3), nullptr);
    EXPECT_EQ(CopyAcceleratorTableA(window_record(2)->accel_table, nullptr, 0), 3);
    EXPECT_NE(window_close(2), 0);
    WindowRecord *record = window_record(1);
    EXPECT_EQ(record->shortcut_count, 0);
    EXPECT_EQ(record->shortcuts, nullptr);
    EXPECT_EQ(record->accel_table, nullptr);
    EXPECT_EQ(accelerator_for_window(window), nullptr);
    HACCEL table = shortcut_add(1, 'N', 3);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(record->shortcut_count, 1);
    EXPECT_EQ(accelerator_for_window(window), table);
    EXPECT_NE(window_close(1), 0);
}

TEST_F(WindowObjects, TheInnerHeightCountsAMenuBarExceptForMdiChildren) {
    HWND window = open_window(1, OPEN_HIDDEN, nullptr, 300, 200);
    HMENU menu = CreateMenu();
    AppendMenuA(menu, MF_STRING, 1, "File");
    SetMenu(window, menu);
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(window_inner_height(1), client.bottom + GetSystemMetrics(SM_CYMENU));
    EXPECT_EQ(window_inner_width(1), client.right);
    Replaced<HWND> mdi(window_record(1)->mdi_client, window); // only its being set matters here
    EXPECT_EQ(window_inner_height(1), client.bottom);
}

// The platform destroys an owned window with its owner, and any code may call DestroyWindow:
// the record goes with the window, and the class once the window is gone.
TEST_F(WindowObjects, AWindowDestroyedWithoutCloseLeavesNoRecordOrClass) {
    clear_events();
    int64_t blocks = heap_use(app_heap()).blocks;
    HWND owner = open_window(1);
    HWND owned = open_window(2, OPEN_HIDDEN, owner);
    intptr_t other = window_open(ANY_ID, 0, 0, 100, 100, "", OPEN_HIDDEN);
    ASSERT_TRUE(owner && owned && other);
    ASSERT_NE(shortcut_add(2, 'Q', 1), nullptr);
    EXPECT_NE(window_close(1), 0);
    EXPECT_FALSE(IsWindow(owned));
    EXPECT_EQ(window_record(2), nullptr);
    EXPECT_FALSE(class_registered("WindowClass_2"));
    EXPECT_EQ(window_close(2), 0);

    DestroyWindow(window_record(other)->window);
    EXPECT_EQ(window_record(other), nullptr);
    wait_all(); // the next wait finds the window gone and its class free to go
    EXPECT_FALSE(class_registered("WindowClass_" + number_text(other)));
    clear_events();
    EXPECT_EQ(heap_use(app_heap()).blocks, blocks);
}

// Window procedures run inside creating, showing and destroying a window and may open
// further windows there, beyond the table's capacity: the slots move under the record.
ObjectNumber next_inner_window;

LRESULT open_another_inside(HWND, UINT message, WPARAM, LPARAM) {
    static bool busy = false;
    if (busy || (message != WM_CREATE && message != WM_SHOWWINDOW && message != WM_DESTROY))
        return CALLBACK_CONTINUE;
    busy = true;
    next_inner_window += window_library().window_table->grow_step;
    open_window(next_inner_window);
    busy = false;
    return CALLBACK_CONTINUE;
}

TEST_F(WindowObjects, WindowsOpenedInsideItsOwnMessagesLeaveTheRecordIntact) {
    const ObjectTable *table = window_library().window_table;
    const int32_t capacity = table->capacity;
    next_inner_window = capacity;
    Replaced<WindowCallback> callback(events()->global_callback, open_another_inside);
    HWND window = open_window(1, 0);
    ASSERT_NE(window, nullptr);
    WindowRecord *record = window_record(1);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->window, window);
    expect_default_shortcuts(record);
    EXPECT_GE(table->capacity, capacity + 2 * table->grow_step); // opened while made and shown
    EXPECT_NE(window_close(1), 0);
    EXPECT_EQ(window_record(1), nullptr);
    EXPECT_FALSE(class_registered("WindowClass_1"));
    EXPECT_TRUE(runtime_heaps_valid());
}

// A window procedure may close the window, or open another one under its number, while the
// window is being shown or destroyed; the call that was running then leaves the record alone.
UINT inner_message;
bool inner_reopens;
HWND inner_window;

LRESULT close_or_reopen_inside(HWND window, UINT message, WPARAM, LPARAM) {
    WindowRecord *record = window_record(1);
    if (message != inner_message || !record || record->window != window) return CALLBACK_CONTINUE;
    inner_message = 0;
    if (inner_reopens)
        inner_window = open_window(1);
    else
        window_close(1);
    return CALLBACK_CONTINUE;
}

TEST_F(WindowObjects, AWindowClosedOrReplacedInsideItsOwnMessagesIsNotTouchedAgain) {
    Replaced<WindowCallback> callback(events()->global_callback, close_or_reopen_inside);
    for (bool reopens : {false, true}) {
        SCOPED_TRACE(reopens);
        inner_reopens = reopens;
        inner_window = nullptr;
        inner_message = WM_SHOWWINDOW;
        EXPECT_EQ(open_window(1, 0), nullptr);
        EXPECT_EQ(window_record(1) ? window_record(1)->window : nullptr, inner_window);
        HWND outer = open_window(1);
        inner_window = nullptr;
        inner_message = WM_DESTROY;
        EXPECT_NE(window_close(1), 0);
        EXPECT_FALSE(IsWindow(outer));
        EXPECT_EQ(window_record(1) ? window_record(1)->window : nullptr, inner_window);
        EXPECT_EQ(IsWindow(inner_window) != 0, reopens);
    }
    EXPECT_TRUE(runtime_heaps_valid());
}

UINT mdi_message;
WPARAM mdi_wparam;
LRESULT CALLBACK fake_mdi_client(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != WM_MDIDESTROY) return DefWindowProcA(window, message, wparam, lparam);
    mdi_message = message;
    mdi_wparam = wparam;
    DestroyWindow(reinterpret_cast<HWND>(wparam));
    return 0;
}

// Closed by window_close or destroyed from outside, an MDI child keeps its class, and its
// owner is not activated: the MDI client decides.
TEST_F(WindowObjects, AnMdiChildIsClosedByItsClientAndKeepsItsClass) {
    register_test_class("FakeMdiClient", fake_mdi_client);
    HWND client = CreateWindowExA(0, "FakeMdiClient", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  test_host.app_instance, nullptr);
    HWND owner = open_window(1, 0);
    HWND active = reinterpret_cast<HWND>(window_open(2, 200, 0, 100, 100, "", 0));
    ASSERT_EQ(GetActiveWindow(), active);
    for (bool closed : {true, false}) {
        HWND window = open_window(4, OPEN_HIDDEN, owner);
        window_record(4)->mdi_client = client;
        mdi_message = 0;
        if (closed) {
            EXPECT_NE(window_close(4), 0);
            EXPECT_EQ(mdi_message, UINT(WM_MDIDESTROY));
            EXPECT_EQ(mdi_wparam, reinterpret_cast<WPARAM>(window));
        } else {
            DestroyWindow(window);
        }
        EXPECT_FALSE(IsWindow(window));
        EXPECT_EQ(window_record(4), nullptr);
        EXPECT_EQ(GetActiveWindow(), active);
        unregister_pending_classes();
        EXPECT_TRUE(class_registered("WindowClass_4")) << closed;
        UnregisterClassA("WindowClass_4", test_host.app_instance);
    }
    DestroyWindow(client);
    UnregisterClassA("FakeMdiClient", test_host.app_instance);
}

// A drop target that counts the references the platform holds on it.
struct CountedDropTarget : IDropTarget {
    LONG references = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void **out) override {
        *out = id == __uuidof(IUnknown) || id == __uuidof(IDropTarget) ? this : nullptr;
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return ULONG(--references); }
    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject *, DWORD, POINTL, DWORD *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL, DWORD *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DragLeave() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Drop(IDataObject *, DWORD, POINTL, DWORD *) override {
        return E_NOTIMPL;
    }
};

// Closed by its number or destroyed from outside.
TEST_F(WindowObjects, CloseRevokesADropTargetAndFreesTheBrush) {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    for (bool from_outside : {false, true}) {
        SCOPED_TRACE(from_outside);
        HWND window = open_window(1);
        CountedDropTarget target;
        ASSERT_EQ(RegisterDragDrop(window, &target), S_OK);
        EXPECT_GT(target.references, 1);
        SetPropA(window, "KX_DropAccept", reinterpret_cast<HANDLE>(1));
        HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
        window_record(1)->background_brush = brush;
        if (from_outside)
            DestroyWindow(window);
        else
            EXPECT_NE(window_close(1), 0);
        EXPECT_EQ(target.references, 1) << "the platform still holds the drop target";
        LOGBRUSH info;
        EXPECT_EQ(GetObjectA(brush, sizeof info, &info), 0); // deleted
    }
    OleUninitialize();
}

TEST_F(WindowObjects, LibraryEndClosesNumberedAndAnyIdWindowsAndReleasesData) {
    HWND a = open_window(0), b = open_window(7);
    intptr_t c = window_open(ANY_ID, 0, 0, 50, 50, "", OPEN_HIDDEN);
    intptr_t d = window_open(ANY_ID, 0, 0, 50, 50, "", OPEN_HIDDEN);
    HWND c_window = window_record(c)->window;
    HWND d_window = window_record(d)->window;
    EventAuxData *data =
        static_cast<EventAuxData *>(heap_alloc(app_heap(), HEAP_ZERO_MEMORY, sizeof(EventAuxData)));
    data->buffer = heap_alloc(app_heap(), 0, 100);
    events()->aux_data = data;
    window_lib_end();
    EXPECT_FALSE(IsWindow(a) || IsWindow(b) || IsWindow(c_window) || IsWindow(d_window));
    EXPECT_EQ(window_library().window_table->dynamic_head, nullptr);
    EXPECT_EQ(events()->aux_data, nullptr);
    EXPECT_FALSE(class_registered("WindowClass_7"));
}

} // namespace

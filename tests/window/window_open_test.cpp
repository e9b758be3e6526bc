#include "tests/window/window_test_support.h"
#include "app/app.h"
#include "runtime/core/core_private.h"
#include <ole2.h>

namespace {

class WindowObjects : public WindowTest {};

LONG style_of(HWND window) {
    return GetWindowLongA(window, GWL_STYLE);
}

void expect_window_class(HWND window, const char *name) {
    EXPECT_EQ(class_name_of(window), name);
    WNDCLASSA info = {};
    ASSERT_TRUE(GetClassInfoA(test_host.app_instance, name, &info));
    EXPECT_EQ(info.style, UINT(CS_DBLCLKS));
    EXPECT_EQ(info.hbrBackground, reinterpret_cast<HBRUSH>(intptr_t(16)));
    EXPECT_EQ(info.hCursor, LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(info.hIcon, nullptr); // the program carries no icon
}

// Tab and Shift+Tab, the two entries every window starts with.
void expect_default_shortcuts(const WindowRecord *record) {
    ASSERT_EQ(record->shortcut_count, 2);
    EXPECT_EQ(record->shortcuts[0].fVirt, 3);
    EXPECT_EQ(record->shortcuts[0].key, VK_TAB);
    EXPECT_EQ(record->shortcuts[0].cmd, 64001);
    EXPECT_EQ(record->shortcuts[1].fVirt, 7);
    EXPECT_EQ(record->shortcuts[1].key, VK_TAB);
    EXPECT_EQ(record->shortcuts[1].cmd, 64002);
    EXPECT_EQ(CopyAcceleratorTableA(record->accel_table, nullptr, 0), 2);
}

TEST_F(WindowObjects, TheProgramsWindowIsCentredCaptionedAndShown) {
    HWND window =
        reinterpret_cast<HWND>(window_open(0, 0, 0, 513, 513, "Heightmap", APP_WINDOW_FLAGS));
    ASSERT_TRUE(IsWindow(window));
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_FALSE(IsIconic(window));
    EXPECT_FALSE(IsZoomed(window));
    EXPECT_EQ(style_of(window) & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU);
    EXPECT_EQ(style_of(window) & (WS_THICKFRAME | WS_MINIMIZEBOX), 0);
    char title[32] = {};
    GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ(title, "Heightmap");
    EXPECT_EQ(style_of(window) & 3, 0); // the centring bits are no styles
    expect_window_class(window, "WindowClass_0");
    EXPECT_EQ(GetPropA(window, "KX_WindowID"), reinterpret_cast<HANDLE>(1));
    // The number property exists before the window is shown, so its activation is
    // already reported with the window's number.
    std::vector<QueuedEvent> queued = queued_events();
    int32_t activations = 0;
    for (const QueuedEvent &event : queued) {
        EXPECT_EQ(event.window, 0) << event.event;
        if (event.event == EVENT_WINDOW_ACTIVATED) activations++;
    }
    EXPECT_EQ(activations, 1);

    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 513);
    EXPECT_EQ(client.bottom, 513);
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

TEST_F(WindowObjects, CaptionIsAddedOnlyWhenNoStyleIsGiven) {
    HWND plain = reinterpret_cast<HWND>(window_open(1, 10, 20, 100, 80, nullptr, 0));
    HWND hidden = reinterpret_cast<HWND>(window_open(2, 10, 20, 100, 80, "h", 0x10000000));
    HWND popup = reinterpret_cast<HWND>(window_open(3, 10, 20, 100, 80, "p", WS_POPUP));
    ASSERT_TRUE(plain && hidden && popup);
    EXPECT_EQ(style_of(plain) & WS_CAPTION, WS_CAPTION);
    EXPECT_TRUE(IsWindowVisible(plain));
    EXPECT_EQ(window_rect(plain).left, 10);
    EXPECT_EQ(window_rect(plain).top, 20);
    EXPECT_EQ(style_of(hidden) & WS_CAPTION, WS_CAPTION);
    EXPECT_FALSE(IsWindowVisible(hidden));
    EXPECT_EQ(style_of(popup) & WS_CAPTION, 0);
    EXPECT_TRUE(IsWindowVisible(popup));
    EXPECT_EQ(window_inner_width(3), 100);
    EXPECT_EQ(window_inner_height(3), 80);
    char title[8] = "x";
    GetWindowTextA(plain, title, sizeof title);
    EXPECT_STREQ(title, "");
}

TEST_F(WindowObjects, MaximisedAndMinimisedFlagsShowTheWindowSo) {
    HWND big = reinterpret_cast<HWND>(
        window_open(1, 0, 0, 200, 100, "", WS_OVERLAPPEDWINDOW | OPEN_MAXIMISED));
    HWND small = reinterpret_cast<HWND>(
        window_open(2, 0, 0, 200, 100, "", WS_OVERLAPPEDWINDOW | OPEN_MINIMISED));
    ASSERT_TRUE(big && small);
    EXPECT_TRUE(IsZoomed(big));
    EXPECT_TRUE(IsIconic(small));
    EXPECT_EQ(window_record(1)->min_or_max, 1);
    EXPECT_EQ(window_record(2)->min_or_max, 1);
}

TEST_F(WindowObjects, DefaultPositionLetsTheSystemPlaceTheWindowUnlessCentred) {
    HWND placed = reinterpret_cast<HWND>(window_open(1, DEFAULT_POSITION, 50, 100, 80, "", 0));
    ASSERT_NE(placed, nullptr);
    RECT rect = window_rect(placed);
    EXPECT_GE(rect.left, 0);
    EXPECT_LT(rect.left, 1280);
    EXPECT_GE(rect.top, 0);
    EXPECT_NE(rect.top, 50); // y was replaced too

    HWND centred = reinterpret_cast<HWND>(
        window_open(2, DEFAULT_POSITION, DEFAULT_POSITION, 300, 80, "", OPEN_CENTRED));
    rect = window_rect(centred);
    EXPECT_EQ(rect.left, (1280 - (rect.right - rect.left)) / 2);
    EXPECT_EQ(rect.top, (1024 - (rect.bottom - rect.top)) / 2);
}

TEST_F(WindowObjects, AWindowLargerThanTheScreenIsShrunkAndPlacedAtTheOrigin) {
    HWND window =
        reinterpret_cast<HWND>(window_open(1, 0, 0, 3000, 2000, "", OPEN_CENTRED | OPEN_HIDDEN));
    ASSERT_NE(window, nullptr);
    RECT rect = window_rect(window);
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, 0);
    EXPECT_EQ(rect.right, 1280);
    EXPECT_EQ(rect.bottom, 1024);
    // Sizes no screen holds are placed without overflowing.
    EXPECT_NE(window_open(2, 0, 0, INT32_MIN, INT32_MAX, "", OPEN_CENTRED | OPEN_HIDDEN), 0);
    EXPECT_NE(window_open(3, 0, 0, INT32_MAX, INT32_MIN, "", OPEN_CENTRED_ON_PARENT | OPEN_HIDDEN,
                          window),
              0);
}

TEST_F(WindowObjects, CentringOnTheParentOrTheActiveWindowStaysOnTheScreen) {
    HWND corner = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 10, 5, 100, 60, nullptr,
                                  nullptr, nullptr, nullptr);
    HWND middle = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 300, 200, 400, 300,
                                  nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(corner && middle);

    HWND near_corner = reinterpret_cast<HWND>(
        window_open(1, 700, 700, 300, 200, "", WS_POPUP | OPEN_CENTRED_ON_PARENT, corner));
    RECT rect = window_rect(near_corner);
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, 0);
    EXPECT_EQ(GetWindow(near_corner, GW_OWNER), corner);

    HWND inside = reinterpret_cast<HWND>(
        window_open(2, 0, 0, 200, 101, "", WS_POPUP | OPEN_CENTRED_ON_PARENT, middle));
    rect = window_rect(inside);
    EXPECT_EQ(rect.left, 300 + (400 - 200) / 2);
    EXPECT_EQ(rect.top, 200 + (300 - 101) / 2); // 99 / 2 truncates to 49

    // Without a parent the active window is the reference.
    HWND active = reinterpret_cast<HWND>(window_open(3, 100, 100, 300, 300, "", 0));
    ASSERT_EQ(GetActiveWindow(), active);
    RECT reference = window_rect(active);
    HWND follower = reinterpret_cast<HWND>(
        window_open(4, 0, 0, 100, 100, "", WS_POPUP | OPEN_CENTRED_ON_PARENT | OPEN_HIDDEN));
    rect = window_rect(follower);
    EXPECT_EQ(rect.left, reference.left + (reference.right - reference.left - 100) / 2);
    EXPECT_EQ(rect.top, reference.top + (reference.bottom - reference.top - 100) / 2);

    window_close(1);
    window_close(2);
    DestroyWindow(corner);
    DestroyWindow(middle);
}

TEST_F(WindowObjects, ClosingAnOwnedWindowActivatesItsOwner) {
    HWND owner = reinterpret_cast<HWND>(window_open(1, 0, 0, 200, 200, "", 0));
    HWND owned = reinterpret_cast<HWND>(window_open(2, 50, 50, 100, 100, "", 0, owner));
    ASSERT_EQ(GetActiveWindow(), owned);
    window_close(2);
    EXPECT_EQ(GetActiveWindow(), owner);
}

TEST_F(WindowObjects, ReopeningANumberClosesTheOldWindowFirst) {
    HWND first = reinterpret_cast<HWND>(window_open(3, 0, 0, 100, 100, "", OPEN_HIDDEN));
    ASSERT_NE(shortcut_add(3, 'Q', 1), nullptr);
    int32_t blocks = heap_use(app_heap()).blocks;
    HWND second = reinterpret_cast<HWND>(window_open(3, 0, 0, 120, 100, "", OPEN_HIDDEN));
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
    EXPECT_EQ(window_open(5, 0, 0, 100, 100, "", OPEN_HIDDEN, bogus_parent), 0);
    EXPECT_EQ(window_record(5), nullptr);
    EXPECT_FALSE(class_registered("WindowClass_5"));
    EXPECT_EQ(window_open(ANY_ID, 0, 0, 100, 100, "", OPEN_HIDDEN, bogus_parent), 0);
    EXPECT_EQ(window_library().window_table->dynamic_head, nullptr);
}

TEST_F(WindowObjects, WithoutMemoryForShortcutsTheWindowOpensWithoutThem) {
    // Hidden and without a gadget list, the shortcut array is the only runtime allocation.
    heap_fail_allocations(app_heap(), 0, 1);
    HWND window = reinterpret_cast<HWND>(
        window_open(1, 0, 0, 100, 100, "", OPEN_HIDDEN | OPEN_NO_GADGET_LIST));
    heap_fail_reset();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(heap_failures(FAILURE_WITHOUT_PART), 1);
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
    HWND window = reinterpret_cast<HWND>(window_open(1, 0, 0, 300, 200, "", OPEN_HIDDEN));
    HMENU menu = CreateMenu();
    AppendMenuA(menu, MF_STRING, 1, "File");
    SetMenu(window, menu);
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(window_inner_height(1), client.bottom + GetSystemMetrics(SM_CYMENU));
    EXPECT_EQ(window_inner_width(1), client.right);
    window_record(1)->mdi_client = window; // only its being set matters here
    EXPECT_EQ(window_inner_height(1), client.bottom);
    window_record(1)->mdi_client = nullptr;
}

UINT mdi_message;
WPARAM mdi_wparam;
LRESULT CALLBACK fake_mdi_client(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_MDIDESTROY) {
        mdi_message = message;
        mdi_wparam = wparam;
        DestroyWindow(reinterpret_cast<HWND>(wparam));
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

// The platform destroys an owned window with its owner, and any code may call DestroyWindow:
// the record goes with the window, and the class once the window is gone.
TEST_F(WindowObjects, AWindowDestroyedWithoutCloseLeavesNoRecordOrClass) {
    clear_events();
    int64_t blocks = heap_use(app_heap()).blocks;
    HWND owner = reinterpret_cast<HWND>(window_open(1, 0, 0, 200, 200, "", OPEN_HIDDEN));
    HWND owned = reinterpret_cast<HWND>(window_open(2, 0, 0, 100, 100, "", OPEN_HIDDEN, owner));
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
    window_open(next_inner_window, 0, 0, 50, 50, "", OPEN_HIDDEN);
    busy = false;
    return CALLBACK_CONTINUE;
}

TEST_F(WindowObjects, WindowsOpenedInsideItsOwnMessagesLeaveTheRecordIntact) {
    const ObjectTable *table = window_library().window_table;
    const int32_t capacity = table->capacity;
    next_inner_window = capacity;
    Replaced<WindowCallback> callback(events()->global_callback, open_another_inside);
    HWND window = reinterpret_cast<HWND>(window_open(1, 0, 0, 100, 100, "inner", 0));
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

TEST_F(WindowObjects, AnMdiChildIsClosedByItsClientAndKeepsItsClass) {
    register_test_class("FakeMdiClient", fake_mdi_client);
    HWND client = CreateWindowExA(0, "FakeMdiClient", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  test_host.app_instance, nullptr);
    HWND window = reinterpret_cast<HWND>(window_open(4, 0, 0, 300, 200, "", OPEN_HIDDEN));
    window_record(4)->mdi_client = client;
    mdi_message = 0;
    EXPECT_NE(window_close(4), 0);
    EXPECT_EQ(mdi_message, UINT(WM_MDIDESTROY));
    EXPECT_EQ(mdi_wparam, reinterpret_cast<WPARAM>(window));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(window_record(4), nullptr);
    EXPECT_TRUE(class_registered("WindowClass_4"));
    UnregisterClassA("WindowClass_4", test_host.app_instance);
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

TEST_F(WindowObjects, CloseRevokesADropTargetAndFreesTheBrush) {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    HWND window = reinterpret_cast<HWND>(window_open(1, 0, 0, 100, 100, "", OPEN_HIDDEN));
    CountedDropTarget target;
    ASSERT_EQ(RegisterDragDrop(window, &target), S_OK);
    EXPECT_GT(target.references, 1);
    SetPropA(window, "KX_DropAccept", reinterpret_cast<HANDLE>(1));
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    window_record(1)->background_brush = brush;
    EXPECT_NE(window_close(1), 0);
    EXPECT_EQ(target.references, 1) << "the platform still holds the drop target";
    LOGBRUSH info;
    EXPECT_EQ(GetObjectA(brush, sizeof info, &info), 0); // deleted
    OleUninitialize();
}

TEST_F(WindowObjects, LibraryEndClosesNumberedAndAnyIdWindowsAndReleasesData) {
    HWND a = reinterpret_cast<HWND>(window_open(0, 0, 0, 50, 50, "", OPEN_HIDDEN));
    HWND b = reinterpret_cast<HWND>(window_open(7, 0, 0, 50, 50, "", OPEN_HIDDEN));
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

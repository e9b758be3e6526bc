#include "tests/gadget/gadget_test_support.h"
#include "runtime/core/core_private.h"
#include "runtime/window/window_private.h"
#include <commctrl.h>
#include <ole2.h>
#include <stdio.h>
#include <string>

// A gadget kind of the tests: a plain static control with a kind procedure of its own,
// a notify operation and an on_free operation that log what they see.
static WNDPROC static_class_proc;
static std::vector<std::string> cleanup_log;

struct NotifyCall {
    GadgetRecord *record;
    HWND parent;
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
};
static std::vector<NotifyCall> notify_calls;
static const LRESULT NOTIFY_ANSWER = 77;

static void log_line(const char *format, ...) {
    char line[160];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    cleanup_log.push_back(line);
}

static LRESULT CALLBACK test_kind_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCDESTROY) log_line("kind proc");
    return CallWindowProcA(static_class_proc, window, message, wparam, lparam);
}

static LRESULT test_notify(GadgetRecord *record, HWND parent, UINT message, WPARAM wparam,
                           LPARAM lparam) {
    notify_calls.push_back({record, parent, message, wparam, lparam});
    return NOTIFY_ANSWER;
}

static void test_on_free(GadgetRecord *record) {
    HWND control = record->window;
    ObjectNumber id = GetWindowLongPtrA(control, GWLP_ID);
    std::string shown = id == ObjectNumber(record) ? "record" : std::to_string(id);
    log_line("on_free id=%s kx_id=%d alive=%d", shown.c_str(), int(has_prop(control, "KX_ID")),
             int(gadget_record(id) == record));
}

static GadgetTypeOps full_ops() {
    GadgetTypeOps ops = {};
    ops.kind = 100;
    ops.size = sizeof ops;
    ops.notify = test_notify;
    ops.on_free = test_on_free;
    return ops;
}
static const GadgetTypeOps test_ops = full_ops();
static const GadgetTypeOps empty_ops = {};

// Creates a control and registers it the way a kind's create operation does.
static intptr_t test_gadget_create(HWND parent, ObjectNumber number, const GadgetTypeOps *ops) {
    HWND control =
        CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, 20, 20, parent,
                        reinterpret_cast<HMENU>(NO_GADGET_ID), test_host.app_instance, nullptr);
    if (!control) return 0;
    static_class_proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(test_kind_proc)));
    auto *record =
        static_cast<GadgetRecord *>(object_table_alloc(gadget_library().gadget_table, number));
    if (!record) return 0;
    return gadget_register(number, record, control, ops);
}

// Installed above the common procedure: what it logs after WM_NCDESTROY is what the
// gadget's cleanup left behind.
static LRESULT CALLBACK observer_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    ObjectNumber id = GetWindowLongPtrA(window, GWLP_ID);
    LRESULT result = CallWindowProcA(gadget_window_proc, window, message, wparam, lparam);
    if (message == WM_NCDESTROY) {
        HRESULT revoke = RevokeDragDrop(window);
        log_line("after id=%d kx_id=%d drop=%d alive=%d still_registered=%d",
                 int(GetWindowLongPtrA(window, GWLP_ID)), int(has_prop(window, "KX_ID")),
                 int(has_prop(window, "KX_DropAccept")), int(gadget_record(id) != nullptr),
                 int(revoke == S_OK));
    }
    return result;
}

static void observe(HWND control) {
    SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(observer_proc));
}

struct NullDropTarget : IDropTarget {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override {
        if (IsEqualIID(riid, __uuidof(IUnknown)) || IsEqualIID(riid, __uuidof(IDropTarget))) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject *, DWORD, POINTL, DWORD *) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL, DWORD *) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DragLeave() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Drop(IDataObject *, DWORD, POINTL, DWORD *) override { return S_OK; }
};

class RegistryTest : public GadgetTest {
  protected:
    void SetUp() override {
        GadgetTest::SetUp();
        cleanup_log.clear();
        notify_calls.clear();
    }
};

TEST(GadgetLibrary, StartUpMakesTableListStateAndCommonControls) {
    EXPECT_TRUE(gadget_lib_ready());
    EXPECT_EQ(gadget_library().default_font, GetStockObject(DEFAULT_GUI_FONT));
    ObjectTable *table = gadget_library().gadget_table;
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->element_size, int32_t(sizeof(GadgetRecord)));
    EXPECT_EQ(table->grow_step, 50);
    EXPECT_GE(table->capacity, 50);
    EXPECT_EQ(table->free_callback, gadget_destroy_existing);
    ASSERT_NE(gadget_library().list_state, nullptr);
    EXPECT_EQ(gadget_list_state()->font, gadget_library().default_font);
    EXPECT_EQ(gadget_list_state()->nest_capacity, 10);
    // The classes asked for exist once InitCommonControlsEx has run.
    WNDCLASSA info;
    EXPECT_TRUE(GetClassInfoA(nullptr, WC_TABCONTROLA, &info));
    EXPECT_TRUE(GetClassInfoA(nullptr, DATETIMEPICK_CLASSA, &info));
}

TEST_F(RegistryTest, EndDestroysOnlyTheAuxiliaryWindow) {
    HWND aux = test_window_create(0, 0, 50, 50, false);
    ASSERT_TRUE(gadget_image_create(0, 0, 0, 10, 10, nullptr));
    gadget_list_state()->aux_window = aux;
    gadget_lib_end();
    EXPECT_FALSE(IsWindow(aux));
    EXPECT_EQ(gadget_list_state()->aux_window, nullptr);
    EXPECT_NE(gadget_record(0), nullptr) << "gadgets go with their windows, not here";
    gadget_lib_end(); // nothing left to destroy
    EXPECT_NE(gadget_record(0), nullptr);
}

TEST_F(RegistryTest, NumberedAndDynamicGadgetsCarryTheirNumber) {
    intptr_t handle = gadget_image_create(4, 0, 0, 10, 10, nullptr);
    GadgetRecord *numbered = gadget_record(4);
    ASSERT_NE(numbered, nullptr);
    EXPECT_EQ(handle, reinterpret_cast<intptr_t>(numbered->window));
    EXPECT_EQ(GetParent(numbered->window), parent);
    EXPECT_EQ(GetWindowLongPtrA(numbered->window, GWLP_ID), 4);
    EXPECT_EQ(GetPropA(numbered->window, "KX_ID"), reinterpret_cast<HANDLE>(4));
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(numbered->window, WM_GETFONT, 0, 0)),
              gadget_list_state()->font);

    intptr_t number = gadget_image_create(ANY_ID, 0, 0, 10, 10, nullptr);
    ASSERT_NE(number, 0);
    auto *dynamic = gadget_record(number);
    ASSERT_NE(dynamic, nullptr);
    EXPECT_EQ(number, reinterpret_cast<intptr_t>(dynamic)) << "the number is the record";
    EXPECT_EQ(GetWindowLongPtrA(dynamic->window, GWLP_ID), number);
    EXPECT_EQ(GetPropA(dynamic->window, "KX_ID"), reinterpret_cast<HANDLE>(number));
    EXPECT_EQ(live_gadget_count(), 2);
}

TEST_F(RegistryTest, CreatingANumberAgainReplacesTheGadget) {
    auto first = reinterpret_cast<HWND>(gadget_image_create(0, 0, 0, 10, 10, nullptr));
    ASSERT_TRUE(IsWindow(first));
    auto second = reinterpret_cast<HWND>(gadget_image_create(0, 30, 0, 10, 10, nullptr));
    ASSERT_TRUE(IsWindow(second));
    EXPECT_FALSE(IsWindow(first));
    EXPECT_NE(first, second);
    ASSERT_NE(gadget_record(0), nullptr);
    EXPECT_EQ(gadget_record(0)->window, second);
    EXPECT_EQ(GetWindowLongPtrA(second, GWLP_ID), 0);
    EXPECT_TRUE(has_prop(second, "KX_ID"));
    EXPECT_EQ(GetPropA(second, "KX_ID"), nullptr);
    EXPECT_EQ(live_gadget_count(), 1);
    EXPECT_EQ(GetWindow(parent, GW_CHILD), second);
    EXPECT_EQ(GetWindow(second, GW_HWNDNEXT), nullptr) << "only the second control is left";
}

TEST_F(RegistryTest, CleanupRunsInItsOrderWhenTheControlGoes) {
    intptr_t handle = test_gadget_create(parent, 6, &test_ops);
    auto control = reinterpret_cast<HWND>(handle);
    ASSERT_TRUE(IsWindow(control));
    NullDropTarget target;
    ASSERT_EQ(RegisterDragDrop(control, &target), S_OK);
    SetPropA(control, "KX_DropAccept", reinterpret_cast<HANDLE>(1));
    observe(control);

    intptr_t number = test_gadget_create(parent, ANY_ID, &test_ops);
    auto *record = gadget_record(number);
    ASSERT_NE(record, nullptr);
    HWND plain = record->window;
    ASSERT_EQ(RegisterDragDrop(plain, &target), S_OK); // no KX_DropAccept: left registered
    observe(plain);

    DestroyWindow(control);
    DestroyWindow(plain);
    std::vector<std::string> expected = {
        "kind proc",
        "on_free id=6 kx_id=1 alive=1",
        "after id=-1 kx_id=0 drop=0 alive=0 still_registered=0",
        "kind proc",
        "on_free id=record kx_id=1 alive=1",
        "after id=-1 kx_id=0 drop=0 alive=0 still_registered=1",
    };
    EXPECT_EQ(cleanup_log, expected);
    EXPECT_EQ(live_gadget_count(), 0);
}

TEST_F(RegistryTest, DestroyingTheParentReleasesEveryGadget) {
    uint32_t *bits;
    HBITMAP bitmap = test_bitmap(16, 16, RGB(1, 2, 3), &bits);
    auto numbered = reinterpret_cast<HWND>(gadget_image_create(0, 0, 0, 0, 0, bitmap));
    intptr_t number = gadget_image_create(ANY_ID, 40, 0, 0, 0, bitmap);
    ASSERT_NE(gadget_record(number), nullptr);
    HWND dynamic = gadget_record(number)->window;
    observe(numbered);
    observe(dynamic);
    DestroyWindow(parent);
    std::vector<std::string> expected(2, "after id=-1 kx_id=0 drop=0 alive=0 still_registered=0");
    EXPECT_EQ(cleanup_log, expected);
    EXPECT_EQ(gadget_record(0), nullptr);
    EXPECT_EQ(gadget_record(number), nullptr);
    EXPECT_EQ(GetObjectType(bitmap), DWORD(OBJ_BITMAP)) << "the gadget never frees its image";
    DeleteObject(bitmap);
}

TEST_F(RegistryTest, SetStateNeedsALiveGadgetWithTheOperation) {
    const int32_t capacity = gadget_library().gadget_table->capacity;
    EXPECT_EQ(gadget_set_state(7, 1234), 0);
    EXPECT_EQ(gadget_set_state(5000, 1234), 0);
    EXPECT_EQ(gadget_library().gadget_table->capacity, capacity);
    EXPECT_EQ(gadget_set_state(ANY_ID, 1234), 0);

    ASSERT_NE(test_gadget_create(parent, 7, &empty_ops), 0);
    EXPECT_EQ(gadget_set_state(7, 1234), 0) << "a kind without set_state does nothing";

    uint32_t *bits;
    HBITMAP bitmap = test_bitmap(8, 8, RGB(1, 2, 3), &bits);
    auto control = reinterpret_cast<HWND>(gadget_image_create(8, 0, 0, 0, 0, nullptr));
    EXPECT_EQ(gadget_set_state(8, reinterpret_cast<intptr_t>(bitmap)),
              reinterpret_cast<intptr_t>(bitmap));
    DestroyWindow(control);
    EXPECT_EQ(gadget_set_state(8, reinterpret_cast<intptr_t>(bitmap)), 0);
    DeleteObject(bitmap);
}

TEST_F(RegistryTest, EventsGoToTheNearestRuntimeWindow) {
    HWND inner = test_child_create(parent, 10, 10, 300, 300);
    HWND innermost = test_child_create(inner, 10, 10, 200, 200);
    gadget_list_state()->parent = innermost;
    auto control = reinterpret_cast<HWND>(gadget_image_create(3, 5, 5, 10, 10, nullptr));
    ASSERT_TRUE(IsWindow(control));
    EXPECT_EQ(gadget_top_window(control), parent);
    EXPECT_EQ(gadget_top_window(parent), parent);
    gadget_post_event(control, 42);
    SendMessageA(control, WM_RBUTTONUP, 0, 0); // a right click on the gadget itself
    pump_for(20);
    ASSERT_EQ(seen_events.size(), 2u);
    EXPECT_EQ(seen_events[0].window, parent);
    EXPECT_EQ(seen_events[0].number, WPARAM(3));
    EXPECT_EQ(seen_events[0].type, 42);
    EXPECT_EQ(seen_events[1].window, parent);
    EXPECT_EQ(seen_events[1].type, EVENT_TYPE_RIGHT_CLICK);
}

TEST_F(RegistryTest, WithoutARuntimeWindowEventsGoToTheRoot) {
    HWND root = test_window_create(100, 100, 300, 300, false);
    HWND inner = test_child_create(root, 10, 10, 200, 200);
    gadget_list_state()->parent = inner;
    intptr_t number = gadget_image_create(ANY_ID, 5, 5, 10, 10, nullptr);
    ASSERT_NE(gadget_record(number), nullptr);
    HWND control = gadget_record(number)->window;
    EXPECT_EQ(gadget_top_window(control), root);
    gadget_post_event(control, EVENT_TYPE_DRAG_START);
    pump_for(20);
    ASSERT_EQ(seen_events.size(), 1u);
    EXPECT_EQ(seen_events[0].window, root);
    EXPECT_EQ(seen_events[0].number, WPARAM(number));
    EXPECT_EQ(seen_events[0].type, EVENT_TYPE_DRAG_START);
    DestroyWindow(root);
}

TEST_F(RegistryTest, NotificationsReachOnlyTheirOwnGadgetKind) {
    auto control = reinterpret_cast<HWND>(test_gadget_create(parent, 0, &test_ops));
    ASSERT_TRUE(IsWindow(control));
    // A foreign button whose identifier 0 matches its missing KX_ID and gadget 0's number.
    HWND button = CreateWindowExA(0, "BUTTON", "foreign", WS_CHILD | WS_VISIBLE, 100, 100, 80, 24,
                                  parent, nullptr, test_host.app_instance, nullptr);
    ASSERT_EQ(GetWindowLongPtrA(button, GWLP_ID), 0);
    SendMessageA(button, BM_CLICK, 0, 0);
    pump_for(20);
    ASSERT_EQ(seen_commands.size(), 1u);
    EXPECT_EQ(seen_commands[0].control, button);
    EXPECT_EQ(seen_commands[0].dispatch_result, NOT_HANDLED);
    SetWindowLongPtrA(button, GWLP_ID, 5);
    EXPECT_EQ(gadget_notify_dispatch(button, parent, WM_COMMAND, 5, LPARAM(button)), NOT_HANDLED);
    EXPECT_TRUE(notify_calls.empty());

    LPARAM lparam = reinterpret_cast<LPARAM>(control);
    EXPECT_EQ(gadget_notify_dispatch(control, parent, WM_CTLCOLORSTATIC, 9, lparam), NOTIFY_ANSWER);
    ASSERT_EQ(notify_calls.size(), 1u);
    EXPECT_EQ(notify_calls[0].record, gadget_record(0));
    EXPECT_EQ(notify_calls[0].parent, parent);
    EXPECT_EQ(notify_calls[0].message, UINT(WM_CTLCOLORSTATIC));
    EXPECT_EQ(notify_calls[0].wparam, WPARAM(9));
    EXPECT_EQ(notify_calls[0].lparam, lparam);

    EXPECT_EQ(gadget_notify_dispatch(nullptr, parent, WM_COMMAND, 0, 0), NOT_HANDLED);
    SetPropA(control, "KX_ID", reinterpret_cast<HANDLE>(3)); // disagrees with its identifier
    EXPECT_EQ(gadget_notify_dispatch(control, parent, WM_COMMAND, 0, lparam), NOT_HANDLED);
    auto image = reinterpret_cast<HWND>(gadget_image_create(1, 0, 50, 10, 10, nullptr));
    EXPECT_EQ(gadget_notify_dispatch(image, parent, WM_COMMAND, 0, LPARAM(image)), NOT_HANDLED)
        << "the image kind has no notify operation";
    EXPECT_EQ(notify_calls.size(), 1u);
}

// A runtime window hands its controls' messages to their gadget: WM_NOTIFY by the sender
// its header names, the scroll, colour and forwarded messages and WM_COMMAND by lParam.
// What the gadget takes raises no event; a notification without a header reaches nobody.
TEST_F(RegistryTest, ARuntimeWindowHandsItsControlsMessagesToTheirGadget) {
    HWND window = reinterpret_cast<HWND>(window_open(9, 0, 0, 200, 200, "", OPEN_HIDDEN));
    ASSERT_NE(window, nullptr);
    auto control = reinterpret_cast<HWND>(test_gadget_create(window, 0, &test_ops));
    ASSERT_TRUE(IsWindow(control));
    LPARAM from = reinterpret_cast<LPARAM>(control);
    NMHDR header = {control, 0, NM_CLICK};
    const struct {
        UINT message;
        LPARAM lparam;
        LRESULT answer;
    } handed[] = {
        {WM_NOTIFY, reinterpret_cast<LPARAM>(&header), NOTIFY_ANSWER},
        {WM_HSCROLL, from, NOTIFY_ANSWER},
        {WM_VSCROLL, from, NOTIFY_ANSWER},
        {WM_CTLCOLOREDIT, from, NOTIFY_ANSWER},
        {WM_CTLCOLORLISTBOX, from, NOTIFY_ANSWER},
        {WM_CTLCOLORBTN, from, NOTIFY_ANSWER},
        {WM_CTLCOLORSTATIC, from, NOTIFY_ANSWER},
        {MSG_GADGET_FORWARD, from, NOTIFY_ANSWER},
        {WM_COMMAND, from, 0},
    };
    EventState *events = window_event_state();
    for (const auto &h : handed) {
        notify_calls.clear();
        events->pending_event = 0;
        EXPECT_EQ(SendMessageA(window, h.message, 5, h.lparam), h.answer) << h.message;
        ASSERT_EQ(notify_calls.size(), 1u) << h.message;
        EXPECT_EQ(notify_calls[0].record, gadget_record(0));
        EXPECT_EQ(notify_calls[0].parent, window);
        EXPECT_EQ(notify_calls[0].message, h.message);
        EXPECT_EQ(notify_calls[0].lparam, h.lparam);
        EXPECT_EQ(events->pending_event, 0) << h.message;
    }
    notify_calls.clear();
    SendMessageA(window, WM_NOTIFY, 5, 0);
    SendMessageA(window, WM_GETMINMAXINFO, 0, 0);
    EXPECT_TRUE(notify_calls.empty());
    window_close(9);
}

TEST_F(RegistryTest, ASlotWhoseControlIsGoneIsClearedBeforeReuse) {
    auto *record =
        static_cast<GadgetRecord *>(object_table_alloc(gadget_library().gadget_table, 9));
    HWND gone = test_child_create(parent, 0, 0, 5, 5);
    DestroyWindow(gone);
    record->window = gone;
    record->kind_data[0] = 55;
    auto *again = static_cast<GadgetRecord *>(object_table_alloc(gadget_library().gadget_table, 9));
    ASSERT_EQ(again, record);
    EXPECT_EQ(record->window, nullptr);
    EXPECT_EQ(record->kind_data[0], 0);
    object_table_free(gadget_library().gadget_table, 9);
}

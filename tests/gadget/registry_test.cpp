#include "tests/gadget/gadget_test_support.h"
#include "runtime/core/core_private.h"
#include "runtime/window/window_private.h"
#include <commctrl.h>
#include <string>
#include <tuple>

// A gadget kind of the tests: a plain static control with a kind procedure of its own,
// a notify operation and an on_free operation that log what they see.
static WNDPROC static_class_proc;
static std::vector<std::string> cleanup_log;
// What the kind procedure does at WM_NCDESTROY, before the common cleanup runs.
static std::function<void()> at_destroy;

using NotifyCall = std::tuple<GadgetRecord *, HWND, UINT, WPARAM, LPARAM>;
static std::vector<NotifyCall> notify_calls;
static const LRESULT NOTIFY_ANSWER = 77;

// Integer atoms have no name to compare.
static BOOL CALLBACK other_prop(HWND, LPSTR name, HANDLE, ULONG_PTR wanted) {
    return !HIWORD(reinterpret_cast<uintptr_t>(name)) ||
           lstrcmpA(name, reinterpret_cast<const char *>(wanted)) != 0;
}

// True when the window has a property of that name (whatever its value, 0 included).
static bool has_prop(HWND window, const char *name) {
    return EnumPropsExA(window, other_prop, reinterpret_cast<LPARAM>(name)) == FALSE;
}

static LRESULT CALLBACK test_kind_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCDESTROY) cleanup_log.push_back("kind proc");
    if (message == WM_NCDESTROY && at_destroy) at_destroy();
    return CallWindowProcA(static_class_proc, window, message, wparam, lparam);
}

static LRESULT test_notify(GadgetRecord *record, HWND parent, UINT message, WPARAM wparam,
                           LPARAM lparam) {
    notify_calls.emplace_back(record, parent, message, wparam, lparam);
    return NOTIFY_ANSWER;
}

static void test_on_free(GadgetRecord *record) {
    HWND control = record->window;
    ObjectNumber id = GetWindowLongPtrA(control, GWLP_ID);
    cleanup_log.push_back(
        "on_free id=" + (id == ObjectNumber(record) ? "record" : number_text(id)) +
        " kx_id=" + number_text(has_prop(control, "KX_ID")) +
        " alive=" + number_text(gadget_record(id) == record));
}

static const GadgetTypeOps test_ops = {
    100, sizeof(GadgetTypeOps), test_notify, test_on_free, nullptr, nullptr, {}};
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

// Installed above the common procedure: it logs what the cleanup left behind.
static LRESULT CALLBACK observer_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    ObjectNumber id = GetWindowLongPtrA(window, GWLP_ID);
    LRESULT result = CallWindowProcA(gadget_window_proc, window, message, wparam, lparam);
    if (message == WM_NCDESTROY)
        cleanup_log.push_back("after id=" + number_text(GetWindowLongPtrA(window, GWLP_ID)) +
                              " kx_id=" + number_text(has_prop(window, "KX_ID")) +
                              " drop=" + number_text(has_prop(window, "KX_DropAccept")) +
                              " alive=" + number_text(gadget_record(id) != nullptr));
    return result;
}

static void observe(HWND control) {
    SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(observer_proc));
}

// Stands in for RevokeDragDrop: the log shows where the cleanup revokes a drop target.
static HRESULT WINAPI log_revoke(HWND) {
    cleanup_log.push_back("revoke");
    return S_OK;
}

class RegistryTest : public GadgetTest {
  protected:
    void SetUp() override {
        GadgetTest::SetUp();
        cleanup_log.clear();
        notify_calls.clear();
    }
};

// The end destroys the auxiliary window alone: the gadgets go with their windows.
TEST_F(RegistryTest, StartUpMakesTableListStateAndControlsAndEndOnlyTheAuxiliaryWindow) {
    EXPECT_TRUE(gadget_lib_ready());
    EXPECT_EQ(gadget_library().default_font, GetStockObject(DEFAULT_GUI_FONT));
    ObjectTable *table = gadget_library().gadget_table;
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(std::make_tuple(table->element_size, table->grow_step, table->free_callback),
              std::make_tuple(int32_t(sizeof(GadgetRecord)), 50, &gadget_destroy_existing));
    EXPECT_GE(table->capacity, 50);
    ASSERT_NE(gadget_library().list_state, nullptr);
    EXPECT_EQ(gadget_list_state()->font, gadget_library().default_font);
    EXPECT_EQ(gadget_list_state()->nest_capacity, 10);
    // The classes asked for exist once InitCommonControlsEx has run.
    WNDCLASSA info;
    EXPECT_TRUE(GetClassInfoA(nullptr, WC_TABCONTROLA, &info));
    EXPECT_TRUE(GetClassInfoA(nullptr, DATETIMEPICK_CLASSA, &info));

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

// Without the list state a registration sends no font.
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
    {
        Replaced<GadgetListState *> no_lists(gadget_library().list_state, nullptr);
        auto plain = reinterpret_cast<HWND>(test_gadget_create(parent, 5, &test_ops));
        ASSERT_TRUE(IsWindow(plain));
        EXPECT_EQ(SendMessageA(plain, WM_GETFONT, 0, 0), 0);
    }
    EXPECT_EQ(live_gadget_count(), 3);
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

    // A slot whose control is gone already is cleared before it is handed out again.
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

// A drop target is revoked only where KX_DropAccept says the runtime registered it.
TEST_F(RegistryTest, CleanupRunsInItsOrderWhenTheControlGoesAndLeavesASlotGivenAway) {
    PlatformPatch revoke("ole32.dll", "RevokeDragDrop", reinterpret_cast<const void *>(log_revoke));
    ASSERT_NE(revoke.original(), nullptr);
    for (ObjectNumber number : {ObjectNumber(6), ANY_ID}) {
        intptr_t made = test_gadget_create(parent, number, &test_ops);
        ASSERT_NE(gadget_record(number == ANY_ID ? made : number), nullptr);
        HWND control = gadget_record(number == ANY_ID ? made : number)->window;
        if (number != ANY_ID) SetPropA(control, "KX_DropAccept", reinterpret_cast<HANDLE>(1));
        observe(control);
        DestroyWindow(control);
    }
    std::vector<std::string> expected = {
        "kind proc",
        "on_free id=6 kx_id=1 alive=1",
        "revoke",
        "after id=-1 kx_id=0 drop=0 alive=0",
        "kind proc",
        "on_free id=record kx_id=1 alive=1",
        "after id=-1 kx_id=0 drop=0 alive=0",
    };
    EXPECT_EQ(cleanup_log, expected);
    EXPECT_EQ(live_gadget_count(), 0);

    // A slot the kind gave up, or handed on, while its control went gets no on_free and stays.
    for (bool hand_on : {false, true}) {
        SCOPED_TRACE(hand_on);
        cleanup_log.clear();
        auto control = reinterpret_cast<HWND>(test_gadget_create(parent, 6, &test_ops));
        ASSERT_TRUE(IsWindow(control));
        HWND successor = nullptr;
        Replaced<std::function<void()>> step(at_destroy, [&] {
            object_table_free(gadget_library().gadget_table, 6);
            if (hand_on)
                successor = reinterpret_cast<HWND>(test_gadget_create(parent, 6, &test_ops));
        });
        DestroyWindow(control);
        EXPECT_EQ(cleanup_log, std::vector<std::string>{"kind proc"});
        EXPECT_EQ(gadget_record(6) ? gadget_record(6)->window : nullptr, successor);
        EXPECT_EQ(IsWindow(successor) != FALSE, hand_on);
    }
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
    std::vector<std::string> expected(2, "after id=-1 kx_id=0 drop=0 alive=0");
    EXPECT_EQ(cleanup_log, expected);
    EXPECT_EQ(gadget_record(0), nullptr);
    EXPECT_EQ(gadget_record(number), nullptr);
    EXPECT_EQ(GetObjectType(bitmap), DWORD(OBJ_BITMAP)) << "the gadget never frees its image";
    DeleteObject(bitmap);
}

// State needs a live gadget whose kind has the operation; a kind without any is safe.
TEST_F(RegistryTest, StateNeedsALiveGadgetWithTheOperation) {
    const int32_t capacity = gadget_library().gadget_table->capacity;
    for (ObjectNumber missing : {ObjectNumber(7), ObjectNumber(5000), ANY_ID}) {
        EXPECT_EQ(gadget_set_state(missing, 1234), 0) << missing;
        EXPECT_EQ(gadget_get_state(missing), 0) << missing;
    }
    EXPECT_EQ(gadget_library().gadget_table->capacity, capacity);

    ASSERT_NE(test_gadget_create(parent, 7, &empty_ops), 0);
    auto bare = reinterpret_cast<HWND>(test_gadget_create(parent, 9, nullptr));
    ASSERT_TRUE(IsWindow(bare));
    for (ObjectNumber number : {7, 9}) {
        EXPECT_EQ(gadget_set_state(number, 1234), 0) << "a kind without set_state does nothing";
        EXPECT_EQ(gadget_get_state(number), 0) << number;
    }
    EXPECT_EQ(gadget_notify_dispatch(bare, parent, WM_COMMAND, 0, LPARAM(bare)), NOT_HANDLED);
    DestroyWindow(bare);
    EXPECT_EQ(gadget_record(9), nullptr);

    uint32_t *bits;
    HBITMAP bitmap = test_bitmap(8, 8, RGB(1, 2, 3), &bits);
    auto control = reinterpret_cast<HWND>(gadget_image_create(8, 0, 0, 0, 0, nullptr));
    EXPECT_EQ(gadget_set_state(8, reinterpret_cast<intptr_t>(bitmap)),
              reinterpret_cast<intptr_t>(bitmap));
    DestroyWindow(control);
    EXPECT_EQ(gadget_set_state(8, reinterpret_cast<intptr_t>(bitmap)), 0);
    DeleteObject(bitmap);
}

// Events go to the nearest runtime window, else the chain's root; no control, no event.
TEST_F(RegistryTest, EventsGoToTheNearestRuntimeWindowOrTheRoot) {
    HWND root = test_window_create(100, 100, 300, 300, false);
    for (HWND top : {parent, root}) {
        SCOPED_TRACE(top == parent ? "runtime window" : "root");
        seen_events.clear();
        HWND inner = test_child_create(top, 10, 10, 300, 300);
        gadget_list_state()->parent = test_child_create(inner, 10, 10, 200, 200);
        intptr_t made = gadget_image_create(top == parent ? 3 : ANY_ID, 5, 5, 10, 10, nullptr);
        ObjectNumber number = top == parent ? 3 : made;
        ASSERT_NE(gadget_record(number), nullptr);
        HWND control = gadget_record(number)->window;
        EXPECT_EQ(gadget_top_window(control), top);
        gadget_post_event(control, 42);
        SendMessageA(control, WM_RBUTTONUP, 0, 0); // a right click on the gadget itself
        pump_for(20);
        ASSERT_EQ(seen_events.size(), 2u);
        for (const SeenGadgetEvent &event : seen_events) {
            EXPECT_EQ(event.window, top);
            EXPECT_EQ(event.number, WPARAM(number));
        }
        EXPECT_EQ(seen_events[0].type, 42);
        EXPECT_EQ(seen_events[1].type, EVENT_TYPE_RIGHT_CLICK);
    }
    EXPECT_EQ(gadget_top_window(parent), parent);
    EXPECT_EQ(gadget_top_window(nullptr), nullptr);
    gadget_post_event(nullptr, 42);
    pump_for(20);
    EXPECT_EQ(seen_events.size(), 2u);
    DestroyWindow(root);
}

// The dispatch and the gadget procedure take a control's record only for that very control.
TEST_F(RegistryTest, NotificationsReachOnlyTheirOwnGadgetKind) {
    auto control = reinterpret_cast<HWND>(test_gadget_create(parent, 0, &test_ops));
    ASSERT_TRUE(IsWindow(control));
    // A foreign button whose identifier 0 matches its missing KX_ID and gadget 0's number.
    HWND button = CreateWindowExA(0, "BUTTON", "foreign", WS_CHILD | WS_VISIBLE, 100, 100, 80, 24,
                                  parent, nullptr, test_host.app_instance, nullptr);
    ASSERT_EQ(GetWindowLongPtrA(button, GWLP_ID), 0);
    EXPECT_EQ(CallWindowProcA(gadget_window_proc, button, WM_GETTEXTLENGTH, 0, 0), 7);
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
    EXPECT_EQ(notify_calls, std::vector<NotifyCall>{NotifyCall(gadget_record(0), parent,
                                                               WM_CTLCOLORSTATIC, 9, lparam)});

    EXPECT_EQ(gadget_notify_dispatch(nullptr, parent, WM_COMMAND, 0, 0), NOT_HANDLED);
    SetPropA(control, "KX_ID", reinterpret_cast<HANDLE>(3)); // disagrees with its identifier
    EXPECT_EQ(gadget_notify_dispatch(control, parent, WM_COMMAND, 0, lparam), NOT_HANDLED);
    auto image = reinterpret_cast<HWND>(gadget_image_create(1, 0, 50, 10, 10, nullptr));
    EXPECT_EQ(gadget_notify_dispatch(image, parent, WM_COMMAND, 0, LPARAM(image)), NOT_HANDLED)
        << "the image kind has no notify operation";
    EXPECT_EQ(notify_calls.size(), 1u);
}

// WM_NOTIFY goes by its header's sender, the scroll, colour, forwarded and command messages
// by lParam; what the gadget takes raises no event, and no header reaches nobody.
TEST_F(RegistryTest, ARuntimeWindowHandsItsControlsMessagesToTheirGadget) {
    HWND window = reinterpret_cast<HWND>(window_open(9, 0, 0, 200, 200, "", OPEN_HIDDEN));
    ASSERT_NE(window, nullptr);
    auto control = reinterpret_cast<HWND>(test_gadget_create(window, 0, &test_ops));
    ASSERT_TRUE(IsWindow(control));
    LPARAM from = reinterpret_cast<LPARAM>(control);
    NMHDR header = {control, 0, NM_CLICK};
    LPARAM notice = reinterpret_cast<LPARAM>(&header);
    const std::pair<UINT, LPARAM> handed[] = {
        {WM_NOTIFY, notice},       {WM_HSCROLL, from},         {WM_VSCROLL, from},
        {WM_CTLCOLOREDIT, from},   {WM_CTLCOLORLISTBOX, from}, {WM_CTLCOLORBTN, from},
        {WM_CTLCOLORSTATIC, from}, {MSG_GADGET_FORWARD, from}, {WM_COMMAND, from}};
    EventState *events = window_event_state();
    for (auto [message, lparam] : handed) {
        SCOPED_TRACE(message);
        notify_calls.clear();
        events->pending_event = 0;
        // What the gadget answers is the window's answer; a taken WM_COMMAND answers 0.
        EXPECT_EQ(SendMessageA(window, message, 5, lparam),
                  message == WM_COMMAND ? 0 : NOTIFY_ANSWER);
        EXPECT_EQ(notify_calls, std::vector<NotifyCall>{
                                    NotifyCall(gadget_record(0), window, message, 5, lparam)});
        EXPECT_EQ(events->pending_event, 0);
    }
    notify_calls.clear();
    SendMessageA(window, WM_NOTIFY, 5, 0);
    SendMessageA(window, WM_GETMINMAXINFO, 0, 0);
    EXPECT_TRUE(notify_calls.empty());
    window_close(9);
}

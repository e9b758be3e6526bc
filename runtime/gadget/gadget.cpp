#include "runtime/gadget/gadget_private.h"
#include "runtime/window/window.h"
#include <commctrl.h>
#include <ole2.h>

static GadgetLibState gadget_lib;

static const char GADGET_ID_PROPERTY[] = "KX_ID";
static const int32_t GADGET_GROW_STEP = 50;
static const DWORD COMMON_CONTROL_CLASSES =
    ICC_TAB_CLASSES | ICC_DATE_CLASSES | ICC_USEREX_CLASSES | ICC_INTERNET_CLASSES;

GadgetLibState &gadget_library() {
    return gadget_lib;
}

GadgetListState *gadget_list_state() {
    return static_cast<GadgetListState *>(state_block_get(gadget_lib.list_state));
}

GadgetRecord *gadget_record(ObjectNumber number) {
    return static_cast<GadgetRecord *>(object_table_get(gadget_lib.gadget_table, number));
}

// A record that belongs to another control (a foreign control whose identifier happens to
// equal a gadget number) does not count.
GadgetRecord *gadget_record_of_control(HWND control, ObjectNumber *number) {
    ObjectNumber id = GetWindowLongPtrA(control, GWLP_ID);
    if (id == NO_GADGET_ID) return nullptr;
    GadgetRecord *record = gadget_record(id);
    if (!record || record->window != control) return nullptr;
    if (number) *number = id;
    return record;
}

BOOL gadget_lib_init() {
    gadget_lib.default_font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    gadget_lib.gadget_table =
        object_table_create(sizeof(GadgetRecord), GADGET_GROW_STEP, gadget_destroy_existing);
    gadget_lib.list_state = static_cast<GadgetListState *>(
        state_block_alloc(sizeof(GadgetListState), gadget_list_state_init, gadget_list_state_free));
    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof controls;
    controls.dwICC = COMMON_CONTROL_CLASSES;
    return InitCommonControlsEx(&controls);
}

bool gadget_lib_ready() {
    const GadgetListState *lists = gadget_list_state();
    return object_table_ready(gadget_lib.gadget_table) && lists && lists->nest_stack;
}

void gadget_lib_end() {
    GadgetListState *state = gadget_list_state();
    if (!state || !state->aux_window) return;
    DestroyWindow(state->aux_window);
    state->aux_window = nullptr;
}

intptr_t gadget_register(ObjectNumber number, GadgetRecord *record, HWND control,
                         const GadgetTypeOps *ops) {
    bool dynamic = number == ANY_ID;
    if (dynamic) number = reinterpret_cast<ObjectNumber>(record);
    record->window = control;
    record->ops = ops;
    record->prev_proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(gadget_window_proc)));
    SetWindowLongPtrA(control, GWLP_ID, number);
    SetPropA(control, GADGET_ID_PROPERTY, reinterpret_cast<HANDLE>(number));
    GadgetListState *state = gadget_list_state();
    if (state) SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(state->font), 1);
    return dynamic ? number : reinterpret_cast<intptr_t>(control);
}

// Runs after the kind's and the platform's procedures have seen WM_NCDESTROY. The record
// is looked up again: those procedures may have grown the table and moved its slots.
static void gadget_cleanup(HWND window, ObjectNumber number) {
    GadgetRecord *record = gadget_record(number);
    if (record && record->window == window && record->ops && record->ops->on_free)
        record->ops->on_free(record);
    RemovePropA(window, GADGET_ID_PROPERTY);
    if (RemovePropA(window, DROP_ACCEPT_PROPERTY)) RevokeDragDrop(window);
    SetWindowLongPtrA(window, GWLP_ID, NO_GADGET_ID);
    record = gadget_record(number);
    if (record && record->window == window) object_table_free(gadget_lib.gadget_table, number);
}

LRESULT CALLBACK gadget_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    ObjectNumber number = 0;
    GadgetRecord *record = gadget_record_of_control(window, &number);
    if (!record) return DefWindowProcA(window, message, wparam, lparam);
    LRESULT result = CallWindowProcA(record->prev_proc, window, message, wparam, lparam);
    if (message == WM_NCDESTROY) gadget_cleanup(window, number);
    return result;
}

void gadget_destroy_existing(ObjectNumber number) {
    GadgetRecord *record = gadget_record(number);
    if (!record) return;
    DestroyWindow(record->window);
    // A control that could not be destroyed (or whose cleanup never ran) must not leave
    // its words behind in the slot about to be handed out.
    if (gadget_record(number)) object_table_free(gadget_lib.gadget_table, number);
}

intptr_t gadget_set_state(ObjectNumber number, intptr_t value) {
    GadgetRecord *record = gadget_record(number);
    if (!record || !record->ops || !record->ops->set_state) return 0;
    return record->ops->set_state(record, value);
}

intptr_t gadget_get_state(ObjectNumber number) {
    GadgetRecord *record = gadget_record(number);
    if (!record || !record->ops || !record->ops->get_state) return 0;
    return record->ops->get_state(record);
}

HWND gadget_top_window(HWND window) {
    HWND current = window;
    while (current && !GetPropA(current, WINDOW_ID_PROPERTY)) {
        HWND parent = GetParent(current);
        if (!parent) break;
        current = parent;
    }
    return current;
}

void gadget_post_event(HWND control, int32_t event_type) {
    if (!control) return;
    PostMessageA(gadget_top_window(control), MSG_GADGET_EVENT,
                 WPARAM(GetWindowLongPtrA(control, GWLP_ID)), LPARAM(event_type));
}

LRESULT gadget_notify_dispatch(HWND control, HWND parent, UINT message, WPARAM wparam,
                               LPARAM lparam) {
    if (!control) return NOT_HANDLED;
    auto id = reinterpret_cast<ObjectNumber>(GetPropA(control, GADGET_ID_PROPERTY));
    if (id != GetWindowLongPtrA(control, GWLP_ID)) return NOT_HANDLED;
    GadgetRecord *record = gadget_record_of_control(control, nullptr);
    if (!record || !record->ops || !record->ops->notify) return NOT_HANDLED;
    return record->ops->notify(record, parent, message, wparam, lparam);
}

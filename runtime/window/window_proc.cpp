#include "runtime/window/window_private.h"
#include "runtime/core/heap.h"
#include "runtime/gadget/gadget.h"

static const char MDI_GADGET_PROPERTY[] = "KX_MDI_Gadget";
static const LONG_PTR MENU_CONTROL_ID = -10000;

static BOOL CALLBACK syscolor_broadcast_proc(HWND child, LPARAM) {
    SendMessageA(child, WM_SYSCOLORCHANGE, 0, 0);
    return TRUE;
}

// The runtime window that a message belongs to: the window itself or its nearest
// ancestor that carries a window number; none for a null window.
struct MessageTarget {
    ObjectNumber number;
    HWND numbered_window;
    WindowRecord *record;
};

static MessageTarget find_target(HWND window) {
    MessageTarget target = {ANY_ID, nullptr, nullptr};
    for (HWND candidate = window; candidate; candidate = GetParent(candidate)) {
        HANDLE value = GetPropA(candidate, WINDOW_ID_PROPERTY);
        if (value) {
            target.number = window_number_from_property(value);
            target.numbered_window = candidate;
            target.record = window_record(target.number);
            break;
        }
    }
    return target;
}

PostedEvent *event_queue_post(EventState *state, int32_t event, intptr_t window) {
    PostedEvent *tail = state->queue_tail;
    if (tail && tail->event == event && tail->window == window) return tail;
    TolerateFailure lost_event(FAILURE_LOST_EVENT);
    PostedEvent *node = static_cast<PostedEvent *>(heap_alloc(app_heap(), 0, sizeof(PostedEvent)));
    if (!node) return nullptr;
    node->next = nullptr;
    node->event = event;
    node->window = window;
    if (tail)
        tail->next = node;
    else
        state->queue_head = node;
    state->queue_tail = node;
    return node;
}

static void set_pending(EventState *state, int32_t event, intptr_t number) {
    state->pending_event = event;
    state->event_number = number;
}

static LRESULT handle_size(EventState *state, const MessageTarget &target, HWND window,
                           WPARAM kind) {
    if (target.numbered_window != window) return 1;
    WindowRecord *record = target.record;
    switch (kind) {
    case SIZE_RESTORED:
        if (record && record->min_or_max == 1) {
            record->min_or_max = 0;
            event_queue_post(state, EVENT_WINDOW_RESTORED, target.number);
        }
        event_queue_post(state, EVENT_WINDOW_SIZED, target.number);
        break;
    case SIZE_MINIMIZED:
        if (record) record->min_or_max = 1;
        event_queue_post(state, EVENT_WINDOW_MINIMISED, target.number);
        break;
    case SIZE_MAXIMIZED:
        if (record) record->min_or_max = 1;
        event_queue_post(state, EVENT_WINDOW_MAXIMISED, target.number);
        event_queue_post(state, EVENT_WINDOW_SIZED, target.number);
        break;
    default:
        event_queue_post(state, EVENT_WINDOW_SIZED, target.number);
        break;
    }
    return 0;
}

static LRESULT handle_erase(EventState *state, const MessageTarget &target, HWND window, HDC dc) {
    LRESULT result = NOT_HANDLED;
    WindowRecord *record = target.record;
    if (record && record->background_brush) {
        RECT client;
        GetClientRect(window, &client);
        FillRect(dc, &client, record->background_brush);
        result = 1;
    } else if (record && record->window == window && record->erase_callback) {
        result = record->erase_callback(dc, window);
    }
    event_queue_post(state, EVENT_WINDOW_REPAINT, target.number);
    return result;
}

static LRESULT apply_size_limits(const WindowRecord *record, MINMAXINFO *limits) {
    if (!record || !limits) return NOT_HANDLED;
    if (record->min_width) limits->ptMinTrackSize.x = record->min_width;
    if (record->min_height) limits->ptMinTrackSize.y = record->min_height;
    if (record->max_width) limits->ptMaxTrackSize.x = record->max_width;
    if (record->max_height) limits->ptMaxTrackSize.y = record->max_height;
    return 0;
}

static void handle_shortcut_command(EventState *state, uint16_t command) {
    if (command == CMD_TAB_NEXT)
        tab_navigate(0);
    else if (command == CMD_TAB_PREVIOUS)
        tab_navigate(1);
    else
        set_pending(state, EVENT_MENU, command);
}

static uint32_t commands_received;

uint32_t window_commands_received() {
    return commands_received;
}

static LRESULT handle_command(EventState *state, HWND window, WPARAM wparam, LPARAM lparam) {
    HWND control = reinterpret_cast<HWND>(lparam);
    if (gadget_notify_dispatch(control, window, WM_COMMAND, wparam, lparam) != NOT_HANDLED)
        return 0;
    uint16_t low = LOWORD(wparam);
    uint16_t high = HIWORD(wparam);
    if (control) {
        LONG_PTR id = GetWindowLongPtrA(control, GWLP_ID);
        state->event_type = high;
        if (id == MENU_CONTROL_ID)
            set_pending(state, EVENT_MENU, low);
        else
            set_pending(state, EVENT_GADGET, id);
    } else if (high == 0) {
        set_pending(state, EVENT_MENU, low);
    } else {
        handle_shortcut_command(state, low);
    }
    return 0;
}

// The item event type of each mouse message that MSG_ITEM_MOUSE may carry.
struct ItemMouseType {
    LPARAM mouse_message;
    int32_t event_type;
};

static const ItemMouseType ITEM_MOUSE_TYPES[] = {
    {WM_LBUTTONDOWN, 0}, {WM_RBUTTONDOWN, 1}, {WM_LBUTTONDBLCLK, 2}, {WM_RBUTTONDBLCLK, 3}};

static void handle_item_mouse_deferred(EventState *state, WPARAM item, LPARAM mouse_message) {
    set_pending(state, EVENT_ITEM_MOUSE, intptr_t(item));
    for (const ItemMouseType &type : ITEM_MOUSE_TYPES) {
        if (type.mouse_message != mouse_message) continue;
        state->event_type = type.event_type;
        return;
    }
    state->pending_event = 0; // another mouse message: no event, the number stays
}

// A second data record in one dispatch replaces the first, which nobody could read any
// more: it is released at once. An lParam that is no record of the application heap
// (a stray number, a freed record) gives the event without data.
static void take_aux_data(EventState *state, LPARAM lparam) {
    EventAuxData *data = reinterpret_cast<EventAuxData *>(lparam);
    if (!event_aux_block(data, sizeof(EventAuxData))) data = nullptr;
    if (state->aux_data && state->aux_data != data) event_state_release(state);
    state->aux_data = data;
}

static LRESULT translate_message(EventState *state, const MessageTarget &target, HWND window,
                                 UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_MOVE:
    case WM_CLOSE:
        if (target.number != ANY_ID) event_queue_post(state, int32_t(message), target.number);
        return 0;
    case WM_SIZE:
        return handle_size(state, target, window, wparam);
    case WM_ACTIVATE:
        if (LOWORD(wparam) != WA_INACTIVE)
            event_queue_post(state, EVENT_WINDOW_ACTIVATED, target.number);
        return 1;
    case WM_ERASEBKGND:
        return handle_erase(state, target, window, reinterpret_cast<HDC>(wparam));
    case WM_SYSCOLORCHANGE:
        if (target.record && !target.record->mdi_client)
            EnumChildWindows(window, syscolor_broadcast_proc, 0);
        return NOT_HANDLED;
    case WM_GETMINMAXINFO:
        return apply_size_limits(target.record, reinterpret_cast<MINMAXINFO *>(lparam));
    case WM_NOTIFY: {
        const NMHDR *header = reinterpret_cast<const NMHDR *>(lparam);
        return gadget_notify_dispatch(header ? header->hwndFrom : nullptr, window, message, wparam,
                                      lparam);
    }
    case WM_COMMAND:
        return handle_command(state, window, wparam, lparam);
    case WM_HSCROLL:
    case WM_VSCROLL:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
    case MSG_GADGET_FORWARD:
        return gadget_notify_dispatch(reinterpret_cast<HWND>(lparam), window, message, wparam,
                                      lparam);
    case MSG_ITEM_MOUSE: // the event comes when the re-posted message passes the queue
        PostMessageA(window, MSG_ITEM_MOUSE_DEFERRED, wparam, lparam);
        return 0;
    case MSG_ITEM_MOUSE_DEFERRED:
        handle_item_mouse_deferred(state, wparam, lparam);
        return 0;
    case MSG_GADGET_EVENT:
        set_pending(state, EVENT_GADGET, intptr_t(wparam));
        state->event_type = int32_t(lparam);
        return 0;
    case MSG_DATA:
        state->pending_event = EVENT_DATA;
        take_aux_data(state, lparam);
        return 0;
    case MSG_ITEM_DATA:
        set_pending(state, EVENT_ITEM_DATA, intptr_t(wparam));
        take_aux_data(state, lparam);
        return 0;
    default:
        return NOT_HANDLED;
    }
}

LRESULT window_event_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    // Counted before any hook or callback can take the message.
    if (message == WM_COMMAND) commands_received++;
    LRESULT sizing = sizing_handle_message(window, message, wparam, lparam);
    if (sizing != NOT_HANDLED) return sizing;

    EventState *state = window_event_state();
    MessageTarget target = find_target(window);
    WindowCallback callback = target.record && target.record->event_callback
                                  ? target.record->event_callback
                                  : (state ? state->global_callback : nullptr);
    if (callback) {
        LRESULT result = callback(window, message, wparam, lparam);
        if (result != CALLBACK_CONTINUE) return result;
    }
    if (!state) return NOT_HANDLED;
    state->event_window = target.number;
    return translate_message(state, target, window, message, wparam, lparam);
}

static bool frame_takes_message(LRESULT result, UINT message, LPARAM lparam) {
    return result == NOT_HANDLED || message == WM_SETFOCUS || message == WM_MENUCHAR ||
           (message == WM_COMMAND && lparam == 0);
}

static LRESULT pass_on(HWND window, UINT message, WPARAM wparam, LPARAM lparam, LRESULT result) {
    if (message != WM_SIZE) {
        HWND mdi_client = static_cast<HWND>(GetPropA(window, MDI_GADGET_PROPERTY));
        if (mdi_client) {
            if (frame_takes_message(result, message, lparam))
                return DefFrameProcA(window, mdi_client, message, wparam, lparam);
            return result;
        }
    }
    SetLastError(0);
    return result == NOT_HANDLED ? DefWindowProcA(window, message, wparam, lparam) : result;
}

LRESULT CALLBACK window_class_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    LRESULT result = window_event_proc(window, message, wparam, lparam);
    result = pass_on(window, message, wparam, lparam, result);
    // A window can be destroyed without window_close; its record must not outlive it.
    if (message == WM_NCDESTROY) window_destroyed(window);
    return result;
}

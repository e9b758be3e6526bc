#include "runtime/window/window_private.h"
#include "runtime/core/heap.h"
#include <richedit.h>
#include <string.h>

// Every wake reason of the wait: keys, mouse, posted and sent messages, timers, paint,
// hot keys.
static const DWORD WAKE_MASK = QS_KEY | QS_MOUSEMOVE | QS_MOUSEBUTTON | QS_POSTMESSAGE | QS_TIMER |
                               QS_PAINT | QS_SENDMESSAGE | QS_HOTKEY | QS_ALLPOSTMESSAGE;
// Rich-edit classes ("RichEdit20A" and its kin) begin so.
static const char RICH_EDIT_PREFIX[] = "Rich";
// The wait without a time limit.
static const int32_t WAIT_FOREVER = -1;

static int32_t take_queued_event(EventState *state) {
    PostedEvent *node = state->queue_head;
    state->event_window = node->window;
    state->pending_event = 0;
    state->queue_head = node->next;
    if (!state->queue_head) state->queue_tail = nullptr;
    int32_t event = node->event;
    heap_free(app_heap(), node);
    return event;
}

static bool peek_message(MSG *msg) {
    return PeekMessageA(msg, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD) != 0;
}

// GetMessageA answers -1 when it took no message; the wait then goes on as a timed wait
// without a limit, so that no message that never came is handed on, and nothing spins.
static bool take_message(MSG *msg, int32_t milliseconds) {
    if (milliseconds == WAIT_FOREVER && GetMessageA(msg, nullptr, 0, 0) != -1) return true;
    if (peek_message(msg)) return true;
    if (milliseconds == 0) return false;
    DWORD timeout = milliseconds == WAIT_FOREVER ? INFINITE : DWORD(milliseconds);
    if (MsgWaitForMultipleObjects(0, nullptr, FALSE, timeout, WAKE_MASK) == WAIT_TIMEOUT)
        return false;
    return peek_message(msg);
}

static bool key_down(int key) {
    return GetKeyState(key) < 0;
}

static ACCEL *find_shortcut(WindowRecord *record, BYTE flags, WORD key);

// The shortcut of the active window that a translated key message stands for, or null. Every
// entry is a virtual-key entry, which the platform translates from key-down messages alone,
// so the message's wParam is the key.
static ACCEL *shortcut_of_key(HWND active, const MSG *msg) {
    WindowRecord *record =
        window_record(window_number_from_property(GetPropA(active, WINDOW_ID_PROPERTY)));
    if (!record) return nullptr;
    BYTE flags = FVIRTKEY | FNOINVERT;
    if (key_down(VK_SHIFT)) flags |= FSHIFT;
    if (key_down(VK_CONTROL)) flags |= FCONTROL;
    if (key_down(VK_MENU)) flags |= FALT;
    return find_shortcut(record, flags, WORD(msg->wParam));
}

// Some platforms take a shortcut whose command is 0 for the separator of the system menu,
// and send no WM_COMMAND for it. Such a shortcut gets its WM_COMMAND here where the platform
// sends one for a menu item: not while the mouse is captured or the window is disabled,
// and not when the platform did send one (even one that a callback took).
static void send_missing_command(HWND active, const MSG *msg, uint32_t commands_before) {
    if (window_commands_received() != commands_before) return;
    if (GetCapture() || !IsWindowEnabled(active)) return;
    ACCEL *shortcut = shortcut_of_key(active, msg);
    if (shortcut && shortcut->cmd == 0) SendMessageA(active, WM_COMMAND, MAKEWPARAM(0, 1), 0);
}

static void translate_and_dispatch(MSG *msg) {
    HWND active = GetActiveWindow();
    HACCEL table = accelerator_for_window(active);
    uint32_t commands = window_commands_received();
    if (table && TranslateAcceleratorA(active, table, msg)) {
        send_missing_command(active, msg, commands);
        return;
    }
    TranslateMessage(msg);
    DispatchMessageA(msg);
}

int32_t event_wait() {
    return event_wait_timeout(WAIT_FOREVER);
}

int32_t event_wait_timeout(int32_t milliseconds) {
    EventState *state = window_event_state();
    if (!state) return 0; // the library never started
    // Windows that went by themselves since the last wait leave their classes behind.
    unregister_pending_classes();
    event_state_release(state);
    state->event_type = -1;
    if (state->queue_head) return take_queued_event(state);

    MSG msg = {};
    if (!take_message(&msg, milliseconds)) return 0;
    translate_and_dispatch(&msg);
    if (state->pending_event) {
        int32_t event = state->pending_event;
        state->pending_event = 0;
        return event;
    }
    state->last_wparam = msg.wParam;
    state->last_lparam = msg.lParam;
    return int32_t(msg.message);
}

intptr_t event_menu() {
    EventState *state = window_event_state();
    return state ? state->event_number : 0;
}

// A plain Tab meant for an editable rich-edit control must reach it as a character.
static bool tab_belongs_to_rich_edit() {
    if (!key_down(VK_TAB) || key_down(VK_CONTROL) || key_down(VK_SHIFT) || key_down(VK_MENU))
        return false;
    HWND focus = GetFocus();
    char class_name[sizeof RICH_EDIT_PREFIX] = {};
    GetClassNameA(focus, class_name, sizeof class_name);
    if (strncmp(class_name, RICH_EDIT_PREFIX, sizeof RICH_EDIT_PREFIX - 1) != 0) return false;
    LRESULT options = SendMessageA(focus, EM_GETOPTIONS, 0, 0);
    return (options & ECO_READONLY) == 0;
}

HACCEL accelerator_for_window(HWND window) {
    if (tab_belongs_to_rich_edit()) return nullptr;
    HANDLE value = GetPropA(window, WINDOW_ID_PROPERTY);
    if (!value) return nullptr;
    WindowRecord *record = window_record(window_number_from_property(value));
    return record ? record->accel_table : nullptr;
}

static BYTE shortcut_flags(int32_t key) {
    BYTE flags = FVIRTKEY | FNOINVERT;
    if (key & SHORTCUT_SHIFT) flags |= FSHIFT;
    if (key & SHORTCUT_CONTROL) flags |= FCONTROL;
    if (key & SHORTCUT_ALT) flags |= FALT;
    return flags;
}

static ACCEL *find_shortcut(WindowRecord *record, BYTE flags, WORD key) {
    for (int32_t i = 0; i < record->shortcut_count; i++)
        if (record->shortcuts[i].key == key && record->shortcuts[i].fVirt == flags)
            return &record->shortcuts[i];
    return nullptr;
}

// Makes room for one more entry; on failure the old array stays as it was. Entries differ in
// key or modifiers, so there are never more than 2^19 of them and the count cannot overflow.
static ACCEL *append_shortcut(WindowRecord *record) {
    SIZE_T bytes = (SIZE_T(record->shortcut_count) + 1) * sizeof(ACCEL);
    void *grown = record->shortcuts ? heap_realloc(app_heap(), 0, record->shortcuts, bytes)
                                    : heap_alloc(app_heap(), 0, bytes);
    if (!grown) return nullptr;
    record->shortcuts = static_cast<ACCEL *>(grown);
    return &record->shortcuts[record->shortcut_count++];
}

// The old table is destroyed only once its replacement exists, so a failure leaves the
// window's shortcuts working as they were.
static HACCEL rebuild_table(WindowRecord *record) {
    HACCEL table = CreateAcceleratorTableA(record->shortcuts, record->shortcut_count);
    if (!table) return nullptr;
    if (record->accel_table) DestroyAcceleratorTable(record->accel_table);
    record->accel_table = table;
    return table;
}

HACCEL shortcut_add(ObjectNumber window, int32_t key, int32_t menu_number) {
    WindowRecord *record = window_record(window);
    if (!record) return nullptr;
    BYTE flags = shortcut_flags(key);
    WORD key_code = LOWORD(uint32_t(key));
    WORD command = LOWORD(uint32_t(menu_number));

    ACCEL *entry = find_shortcut(record, flags, key_code);
    if (entry) {
        WORD old_command = entry->cmd;
        entry->cmd = command;
        HACCEL table = rebuild_table(record);
        if (!table) entry->cmd = old_command;
        return table;
    }
    entry = append_shortcut(record);
    if (!entry) return nullptr;
    entry->fVirt = flags;
    entry->key = key_code;
    entry->cmd = command;
    HACCEL table = rebuild_table(record);
    if (!table) record->shortcut_count--;
    return table;
}

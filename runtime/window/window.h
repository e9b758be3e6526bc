#pragma once
// Windows and events: window objects, the window procedure and its events, the event
// wait with keyboard shortcuts, Tab focus navigation and the sizing loop.
#include <windows.h>
#include <stdint.h>
#include "runtime/core/object_table.h"

// Results of window procedures and hooks. NOT_HANDLED: pass the message on.
// CALLBACK_CONTINUE: a message callback asks for the runtime's own translation.
const LRESULT NOT_HANDLED = LRESULT(0xD0D0D0D1u);
const LRESULT CALLBACK_CONTINUE = LRESULT(0xE0E0E0E1u);

typedef LRESULT (*WindowCallback)(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
typedef LRESULT (*EraseCallback)(HDC dc, HWND window);

struct WindowRecord {
    HWND window; // non-zero while the window is open
    ACCEL *shortcuts;
    HACCEL accel_table;
    WindowCallback event_callback;
    int32_t shortcut_count;
    HBRUSH background_brush;
    HWND mdi_client;
    EraseCallback erase_callback;
    uint16_t min_width, min_height, max_width, max_height;
    int32_t min_or_max;
};

// window_open flags; every other bit is a window style.
const uint32_t OPEN_CENTRED = 0x00000001;
const uint32_t OPEN_CENTRED_ON_PARENT = 0x00000002;
const uint32_t OPEN_NO_GADGET_LIST = 0x00000008;
const uint32_t OPEN_HIDDEN = 0x10000000;
const uint32_t OPEN_MAXIMISED = 0x01000000;
const uint32_t OPEN_MINIMISED = 0x20000000;
const int32_t DEFAULT_POSITION = -65535;

// Event codes.
const int32_t EVENT_WINDOW_MOVED = 3;
const int32_t EVENT_WINDOW_SIZED = 5;
const int32_t EVENT_WINDOW_REPAINT = 15;
const int32_t EVENT_WINDOW_CLOSE = 16;
const int32_t EVENT_GADGET = 13100;
const int32_t EVENT_MENU = 13101;
const int32_t EVENT_ITEM_MOUSE = 13102;
const int32_t EVENT_WINDOW_ACTIVATED = 13104;
const int32_t EVENT_DATA = 13105;
const int32_t EVENT_ITEM_DATA = 13106;
const int32_t EVENT_WINDOW_MINIMISED = 13107;
const int32_t EVENT_WINDOW_MAXIMISED = 13108;
const int32_t EVENT_WINDOW_RESTORED = 13109;

// Private window messages.
const UINT MSG_ITEM_MOUSE = 12501;
const UINT MSG_ITEM_MOUSE_DEFERRED = 12502;
const UINT MSG_GADGET_EVENT = 13103;
const UINT MSG_DATA = 13105;
const UINT MSG_ITEM_DATA = 13106;
const UINT MSG_GADGET_FORWARD = 13120;

// Commands of the default Tab shortcuts.
const uint16_t CMD_TAB_NEXT = 64001;
const uint16_t CMD_TAB_PREVIOUS = 64002;

// shortcut_add key modifiers, above the virtual-key code.
const int32_t SHORTCUT_SHIFT = 0x10000;
const int32_t SHORTCUT_CONTROL = 0x20000;
const int32_t SHORTCUT_ALT = 0x40000;

struct PostedEvent {
    PostedEvent *next;
    int32_t event;
    intptr_t window;
};

// Auxiliary data record of EVENT_DATA / EVENT_ITEM_DATA: a block on the application heap
// whose first field is the one further heap buffer it may own.
struct EventAuxData {
    void *buffer;
};

struct EventState {
    intptr_t event_number;
    intptr_t event_window;
    int32_t event_type;
    int32_t pending_event;
    WPARAM last_wparam;
    LPARAM last_lparam;
    PostedEvent *queue_head;
    PostedEvent *queue_tail;
    WindowCallback global_callback;
    EventAuxData *aux_data;
};

struct SizingState {
    int32_t active;
    int32_t keyboard_mode;
    POINT saved_cursor;
    RECT rect;
    int32_t edge;
    MINMAXINFO limits;
};

struct TabWalk {
    HWND current;
    HWND previous;
    int32_t take_next;
    int32_t moved;
};

struct WindowLibState {
    ObjectTable *window_table;
    EventState *event_state; // reached through state_block_get
    HICON class_icon;
    HCURSOR class_cursor;
    SizingState *sizing_state;
};

extern WindowLibState window_lib;

// Window objects.
void window_lib_init();
void window_lib_end();
// Returns the window handle for a numbered window, the new number for ANY_ID, 0 on failure.
intptr_t window_open(ObjectNumber number, int32_t x, int32_t y, int32_t inner_width,
                     int32_t inner_height, const char *title, uint32_t flags,
                     HWND parent = nullptr);
int32_t window_close(ObjectNumber number);
int32_t window_inner_width(ObjectNumber number);
int32_t window_inner_height(ObjectNumber number);
void event_state_release(void *block);

// Window procedure and event translation.
LRESULT CALLBACK window_class_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT window_event_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
PostedEvent *event_queue_post(EventState *state, int32_t event, intptr_t window);
BOOL CALLBACK syscolor_broadcast_proc(HWND child, LPARAM lparam);

// Event wait and keyboard shortcuts.
int32_t event_wait();
int32_t event_wait_timeout(int32_t milliseconds);
intptr_t event_menu();
HACCEL shortcut_add(ObjectNumber window, int32_t key, int32_t menu_number);
HACCEL accelerator_for_window(HWND window);

// Tab focus navigation.
int32_t tab_navigate(int32_t backward);
BOOL CALLBACK tab_forward_proc(HWND child, LPARAM walk);
BOOL CALLBACK tab_backward_proc(HWND child, LPARAM walk);

// Sizing loop.
LRESULT sizing_handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
void sizing_apply_point(SizingState *state, int32_t x, int32_t y);
void sizing_move_window(HWND window, const RECT *rect);
void sizing_key_step(SizingState *state, HWND window, int32_t x, int32_t y);
void sizing_set_cursor(int32_t cursor_id, int32_t x, int32_t y);

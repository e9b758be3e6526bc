#pragma once
// Shared by the window library's own files and open to the tests; not part of its interface.
#include "runtime/window/window.h"

// A message callback's answer that asks for the runtime's own translation.
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

// Commands of the default Tab shortcuts.
const uint16_t CMD_TAB_NEXT = 64001;
const uint16_t CMD_TAB_PREVIOUS = 64002;

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

// The class of a window that the platform destroyed by itself, waiting to be unregistered:
// a class cannot go while its window exists, and a window's last message comes before that.
struct PendingClass {
    PendingClass *next;
    ObjectNumber number;
};

struct WindowLibState {
    ObjectTable *window_table;
    EventState *event_state; // reached through state_block_get
    HICON class_icon;
    HCURSOR class_cursor;
    SizingState *sizing_state; // reached through state_block_get
    PendingClass *pending_classes;
};

WindowLibState &window_library();
// The state blocks; null when the library never started.
EventState *window_event_state();
SizingState *window_sizing_state();
// The live record of a window number, or null.
WindowRecord *window_record(ObjectNumber number);
// The window number that a WINDOW_ID_PROPERTY value stands for; ANY_ID (-1) for no value.
ObjectNumber window_number_from_property(HANDLE value);

// Closes one window; 0 when the number names no window.
int32_t window_close(ObjectNumber number);
// Releases the record of a runtime window that is being destroyed without window_close
// (with its owner, or by DestroyWindow from outside); its class goes at the next
// unregister_pending_classes. The class procedure calls it on WM_NCDESTROY.
void window_destroyed(HWND window);
// Unregisters the classes of the windows destroyed since the last call.
void unregister_pending_classes();

LRESULT CALLBACK window_class_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// The runtime's own part of the class procedure: hooks, callbacks and event translation.
LRESULT window_event_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Queues an event in the live event state, merged with an equal newest one; null (the event
// lost) without room.
PostedEvent *event_queue_post(EventState *state, int32_t event, intptr_t window);
void event_state_release(void *block);
// True when `block` is a live block of the application heap of at least `least` bytes.
// A data record arrives as a bare lParam from whoever sent the message: only such a
// block is taken, and only such a buffer is freed.
bool event_aux_block(const void *block, SIZE_T least);
// How many WM_COMMAND messages the window procedure has received so far.
uint32_t window_commands_received();

// event_wait that gives up after `milliseconds` (-1: never) and then answers 0.
int32_t event_wait_timeout(int32_t milliseconds);
// A runtime window's accelerator table; null for other windows or a Tab for a rich edit.
HACCEL accelerator_for_window(HWND window);

// Moves the focus to the next (or previous) tab stop of the active window; 1 when it moved.
int32_t tab_navigate(int32_t backward);

// The sizing loop's hook in the class procedure; NOT_HANDLED passes the message on.
LRESULT sizing_handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Moves the edges being sized toward a pointer position, within the tracking limits.
void sizing_apply_point(SizingState *state, int32_t x, int32_t y);

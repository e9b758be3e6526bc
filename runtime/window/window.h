#pragma once
// Windows and events: window objects, the window procedure and its events, the event
// wait with keyboard shortcuts, Tab focus navigation and the sizing loop.
#include <windows.h>
#include <stdint.h>
#include "runtime/core/object_table.h"

// A window procedure's or hook's answer that passes the message on.
const LRESULT NOT_HANDLED = LRESULT(0xD0D0D0D1u);

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

// Private window messages, which the runtime's libraries send to its windows.
const UINT MSG_ITEM_MOUSE = 12501;
const UINT MSG_ITEM_MOUSE_DEFERRED = 12502;
const UINT MSG_GADGET_EVENT = 13103;
const UINT MSG_DATA = 13105;
const UINT MSG_ITEM_DATA = 13106;
const UINT MSG_GADGET_FORWARD = 13120;

// Window properties that tie system windows to runtime objects.
extern const char WINDOW_ID_PROPERTY[];   // on a runtime window: its number + 1
extern const char DROP_ACCEPT_PROPERTY[]; // on a window registered as a drop target

// shortcut_add key modifiers, above the virtual-key code.
const int32_t SHORTCUT_SHIFT = 0x10000;
const int32_t SHORTCUT_CONTROL = 0x20000;
const int32_t SHORTCUT_ALT = 0x40000;
// The shortcuts every window starts with: Tab and Shift+Tab, which move the focus.
const int32_t DEFAULT_SHORTCUT_COUNT = 2;

// Creates the window table and the event and sizing state.
void window_lib_init();
// True when window_lib_init made its table and both state blocks.
bool window_lib_ready();
// Closes every window still open and releases the event state's data record.
void window_lib_end();
// Returns the window handle for a numbered window, the new number for ANY_ID, 0 on failure.
intptr_t window_open(ObjectNumber number, int32_t x, int32_t y, int32_t inner_width,
                     int32_t inner_height, const char *title, uint32_t flags,
                     HWND parent = nullptr);
// The client area's size; 0 when the number names no window.
int32_t window_inner_width(ObjectNumber number);
int32_t window_inner_height(ObjectNumber number);

// Waits for the next event or message; its code, or 0 when the library never started.
int32_t event_wait();
// The current event's number (EVENT_MENU: the menu number); 0 when the library never started.
intptr_t event_menu();
// Binds a window's key to a menu number; the new accelerator table, or null (nothing changed).
HACCEL shortcut_add(ObjectNumber window, int32_t key, int32_t menu_number);

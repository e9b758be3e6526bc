#pragma once
// Gadgets: the registry of child controls with their per-kind operation tables, the
// image gadget, and gadget lists (the window new gadgets are created in).
#include <windows.h>
#include <stdint.h>
#include "runtime/core/object_table.h"

// Creates the gadget table and the gadget-list state and registers the common control
// classes; answers what InitCommonControlsEx answered. gadget_lib_ready tells the rest.
BOOL gadget_lib_init();
// True when gadget_lib_init made its table and a list state with its buffer.
bool gadget_lib_ready();
// Destroys the auxiliary window; the gadgets go with their windows.
void gadget_lib_end();
// Hands a value to the gadget's kind (for an image gadget: the image to show) and answers
// the kind's answer; 0 when the number names no gadget or the kind takes no state.
intptr_t gadget_set_state(ObjectNumber number, intptr_t value);
// The gadget's state as its kind answers it; 0 when the number names no gadget or the kind
// has none.
intptr_t gadget_get_state(ObjectNumber number);
// Hands a message about `control` to its gadget's kind; NOT_HANDLED when the control is no
// gadget or its kind takes no notifications.
LRESULT gadget_notify_dispatch(HWND control, HWND parent, UINT message, WPARAM wparam,
                               LPARAM lparam);
// Makes `window` the current gadget list and answers the window that was; null, nothing
// changed, when it cannot (no state, no room, a window that cannot be subclassed). A null
// window only answers the current one.
HWND gadget_list_switch(HWND window);
// An image gadget in the current gadget list showing `image`; width and height 0 take the
// image's size. The control's handle for a numbered gadget, the new number for ANY_ID;
// 0 when there is no current list or the number is refused.
intptr_t gadget_image_create(ObjectNumber number, int32_t x, int32_t y, int32_t width,
                             int32_t height, HANDLE image);

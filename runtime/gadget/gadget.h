#pragma once
// Gadgets: the registry of child controls with their per-kind operation tables, the
// image gadget, and gadget lists (the window new gadgets are created in).
#include <windows.h>
#include <stdint.h>
#include "runtime/core/object_table.h"

// Creates the gadget table and list state; what InitCommonControlsEx answered.
BOOL gadget_lib_init();
// True when gadget_lib_init made its table and a list state with its buffer.
bool gadget_lib_ready();
// Destroys the auxiliary window; the gadgets go with their windows.
void gadget_lib_end();
// Hands a value (an image gadget: the image to show) to the kind; its answer, else 0.
intptr_t gadget_set_state(ObjectNumber number, intptr_t value);
// The gadget's state as its kind answers it; 0 for no gadget or a kind without state.
intptr_t gadget_get_state(ObjectNumber number);
// Hands a message about `control` to its gadget's kind; NOT_HANDLED when no kind takes it.
LRESULT gadget_notify_dispatch(HWND control, HWND parent, UINT message, WPARAM wparam,
                               LPARAM lparam);
// Makes `window` the current list; the previous one, or null when it cannot (nothing changed).
HWND gadget_list_switch(HWND window);
// An image gadget in the current list (size 0: the image's); its handle, ANY_ID's number, or 0.
intptr_t gadget_image_create(ObjectNumber number, int32_t x, int32_t y, int32_t width,
                             int32_t height, HANDLE image);

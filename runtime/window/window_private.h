#pragma once
// Shared by the window library's own files; not part of its interface.
#include "runtime/window/window.h"

// Property that leads from a system window to its window number (stored as number + 1).
extern const char WINDOW_ID_PROPERTY[];

EventState *window_event_state();
// The live record of a window number, or null.
WindowRecord *window_record(ObjectNumber number);
// The window number that a "KX_WindowID" value stands for; ANY_ID (-1) for no value.
ObjectNumber window_number_from_property(HANDLE value);

// True when `block` is a live block of the application heap of at least `least` bytes.
// A data record arrives as a bare lParam from whoever sent the message: only such a
// block is taken, and only such a buffer is freed.
bool event_aux_block(const void *block, SIZE_T least);

// How many WM_COMMAND messages the window procedure has received so far.
uint32_t window_commands_received();

#pragma once
// Real input and message pumping for the Tab and sizing tests.
#include <windows.h>
#include <stdint.h>

// Dispatches every message waiting in the thread's queue.
void pump_messages();
// Pumps for `milliseconds`, so that input sent with SendInput has arrived and been handled.
void pump_for(DWORD milliseconds);
// Presses and releases a key through the system's input queue, then pumps.
void press_key(WORD key);
// Same, with Shift held.
void press_shift_key(WORD key);
// Moves the pointer through the input queue to (x, y) in screen coordinates, then pumps.
void pointer_move(int32_t x, int32_t y);
void pointer_button(bool down);

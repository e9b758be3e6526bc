#pragma once
// Real input and message pumping for the Tab and sizing tests.
#include <windows.h>
#include <stdint.h>

// Dispatches every message waiting in the thread's queue.
void pump_messages();
// Pumps for `milliseconds`, so that input sent with SendInput has arrived and been handled.
void pump_for(DWORD milliseconds);
// Pumps until no pointer message has come for a while. Wine's virtual desktop replays
// the X pointer's position some time after the pointer or a window under it moved.
void settle_pointer();
// Presses and releases a key through the system's input queue, then settles.
void press_key(WORD key);
// Same, with Shift held.
void press_shift_key(WORD key);
// Moves the pointer through the input queue to (x, y) in screen coordinates and pumps
// until the last pointer message dispatched was at that position. False if it never was.
bool pointer_move(int32_t x, int32_t y);
// Presses or releases the left button where the pointer is, then settles.
void pointer_button(bool down);

#pragma once
// Real input and message pumping for the Tab and sizing tests.
#include <windows.h>
#include <gtest/gtest.h>
#include <stdint.h>

// Takes and handles one waiting message; false when none was waiting. Sets `pointer`
// and `at` (screen coordinates) when it was a pointer message.
typedef bool (*MessageStep)(bool *pointer, POINT *at);

// Handles messages with `step` from now on; null returns to plain dispatching.
void set_message_step(MessageStep step);
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
// Puts the pointer at `at` without input messages and settles; false if the pointer's
// position never read back as `at`.
bool place_pointer(POINT at);
// Whether the pointer's position reads `expected`. Right after the pointer was moved,
// Wine can report an older position for a while, so a differing reading is retried,
// pumping messages, for up to two seconds before the last one counts.
testing::AssertionResult pointer_at(POINT expected);

// The user's "show window contents while dragging" setting, switched for a test and put
// back afterwards (from a fixture's TearDown, so also after a failed assertion).
class DragFullWindowsSetting {
  public:
    bool save() { return saved = SystemParametersInfoA(SPI_GETDRAGFULLWINDOWS, 0, &previous, 0); }
    bool set(BOOL on) { return SystemParametersInfoA(SPI_SETDRAGFULLWINDOWS, on, nullptr, 0); }
    void restore() {
        if (saved) set(previous);
        saved = false;
    }

  private:
    BOOL previous = FALSE;
    bool saved = false;
};

#pragma once
// The helpers every test area shares: the runtime's host and heaps, window and class
// queries, and message pumping with the pointer and keys through the system's queue.
#include <windows.h>
#include <gtest/gtest.h>
#include <stdint.h>
#include <functional>
#include <initializer_list>
#include <string>
#include "runtime/core/core_private.h"
#include "tests/support/input.h"

// The host of every test program, on which main starts the runtime once.
extern RuntimeHost test_host;

// True when every heap of the runtime and the process heap pass HeapValidate.
bool runtime_heaps_valid();

// Busy blocks and their bytes in one heap.
struct HeapUse {
    int64_t blocks;
    int64_t bytes;
};
HeapUse heap_use(HANDLE heap);

// Windows and classes of this program.
bool class_registered(const std::string &name);
std::string class_name_of(HWND window);
RECT window_rect(HWND window);
// The pixel at a client point as the window's own DC holds it, without pumping: what the
// window has painted so far.
COLORREF window_pixel(HWND window, int32_t x, int32_t y);
int32_t child_count(HWND window);
// The top-level windows of this thread.
int32_t thread_window_count();
std::string number_text(intptr_t number);
// Registers a class of this module once (a second registration fails harmlessly).
void register_test_class(const char *name, WNDPROC procedure);

// Gives `place` a value until it goes out of scope, then puts the old one back: a test that
// fails half-way leaves no callback, hook or missing state behind for the tests after it.
template <typename T> class Replaced {
  public:
    Replaced(T &place, T value) : place(place), saved(place) { place = value; }
    ~Replaced() { place = saved; }
    Replaced(const Replaced &) = delete;
    Replaced &operator=(const Replaced &) = delete;

  private:
    T &place;
    T saved;
};

// Replaces one platform function for the calls this program makes through its import table,
// until it goes out of scope: a test makes the platform answer what Wine never answers.
// `replacement` must have the function's own signature and calling convention.
class PlatformPatch {
  public:
    PlatformPatch(const char *dll, const char *function, const void *replacement);
    ~PlatformPatch();
    PlatformPatch(const PlatformPatch &) = delete;
    PlatformPatch &operator=(const PlatformPatch &) = delete;
    // The function the program called before the patch; null when it imports none such.
    const void *original() const { return saved; }

  private:
    void **slot;
    const void *saved;
};

// A replacement for a PlatformPatch that answers 0 (null, FALSE) to every call, of the type of
// the platform function named: zero_replacement(HeapCreate). The calls are counted.
inline int32_t zero_answers = 0;
template <typename R, typename... A> R WINAPI answer_zero(A...) {
    zero_answers++;
    return R();
}
template <typename R, typename... A> const void *zero_replacement(R(WINAPI *)(A...)) {
    return reinterpret_cast<const void *>(&answer_zero<R, A...>);
}

bool operator==(const RECT &a, const RECT &b);
std::ostream &operator<<(std::ostream &out, const RECT &r);

// Takes and handles one waiting message, storing it in `taken`; false when none was
// waiting. A step may take messages its own way (through the event wait, say).
typedef bool (*MessageStep)(MSG *taken);
// Handles messages with `step` from now on; null returns to plain dispatching.
void set_message_step(MessageStep step);
// Dispatches every message waiting in the thread's queue.
void pump_messages();
// Pumps for `milliseconds`, so that input sent with SendInput has arrived and been handled.
void pump_for(DWORD milliseconds);
// Pumps until `done` holds or `milliseconds` have passed; whether it came to hold.
bool pump_until(const std::function<bool()> &done, DWORD milliseconds);
// Pumps until no pointer message has come for a while. Wine's virtual desktop replays
// the X pointer's position some time after the pointer or a window under it moved.
void settle_pointer();
// Presses a key (with Shift when asked) through the system's queue, then settles.
void press_and_settle(WORD key, bool shift = false);
// Moves the pointer through the input queue to (x, y) in screen coordinates and pumps
// until the last pointer message dispatched was at that position. False if it never was.
bool pointer_move(int32_t x, int32_t y);
// Presses or releases the left button where the pointer is, then settles.
void pointer_button(bool down);
// Sends the button changes at once; true when the pump has dispatched a button message
// for each of them.
bool mouse_buttons(std::initializer_list<DWORD> presses);
// Puts the pointer at `at` without input messages and settles; false if the pointer's
// position never read back as `at`.
bool place_pointer(POINT at);
// Whether the pointer's position reads `expected`. Right after the pointer was moved,
// Wine can report an older position for a while, so a differing reading is retried,
// pumping messages, for up to two seconds before the last one counts.
testing::AssertionResult pointer_at(POINT expected);

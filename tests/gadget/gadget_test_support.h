#pragma once
// Shared set-up of the gadget tests: stand-ins for runtime windows, a message pump that
// keeps gadget events aside, bitmaps with known pixels and mouse input through the queue.
#include "runtime/gadget/gadget.h"
#include "runtime/window/window.h"
#include <gtest/gtest.h>
#include <functional>
#include <initializer_list>
#include <vector>

struct SeenGadgetEvent {
    HWND window;   // where the event was posted
    WPARAM number; // gadget number
    LPARAM type;   // gadget event type
};

// A WM_COMMAND that a test window received, with what the gadget dispatch answered.
struct SeenCommand {
    HWND control;
    WPARAM wparam;
    LRESULT dispatch_result;
};

extern BOOL gadget_lib_init_result;
extern std::vector<SeenGadgetEvent> seen_events;
extern std::vector<SeenCommand> seen_commands;

const COLORREF TEST_BACKGROUND = RGB(0x20, 0x90, 0x40);

// A top-level captioned window whose background is TEST_BACKGROUND; with `runtime_window`
// it carries "KX_WindowID" as every runtime window does.
HWND test_window_create(int x, int y, int width, int height, bool runtime_window);
// A plain child window without "KX_WindowID".
HWND test_child_create(HWND parent, int x, int y, int width, int height);

// Dispatches waiting messages for `ms` milliseconds; gadget events go to seen_events.
void pump_for(DWORD ms);
// Dispatches messages until `done` holds or `ms` milliseconds have passed.
bool pump_until(const std::function<bool()> &done, DWORD ms);

// True when the window has a property of that name (whatever its value, 0 included).
bool has_prop(HWND window, const char *name);

// A top-down 32-bit DIB section filled with `colour`; `bits` receives its pixels.
HBITMAP test_bitmap(int width, int height, COLORREF colour, uint32_t **bits);
// A colour icon of the given size, opaque, filled with `colour`.
HICON test_icon(int width, int height, COLORREF colour);

// The pixel at a client point of `window`, read back from the screen after a short pump.
COLORREF screen_pixel(HWND window, int x, int y);
// The pixel at a client point as the window's own DC holds it, without pumping: what the
// window has painted so far.
COLORREF window_pixel(HWND window, int x, int y);

GadgetRecord *gadget_record(ObjectNumber number);
int live_gadget_count();

// Moves the pointer through the system queue to a client point of `window`; true once
// the window under it (or holding the capture) has seen the move as the last one.
bool mouse_move_to(HWND window, int x, int y);
// Sends the button changes at once; true when the pump has dispatched a button message
// for each of them.
bool mouse_buttons(std::initializer_list<DWORD> presses);

// Every gadget test runs in a fresh runtime-like window that is the current gadget list.
class GadgetTest : public testing::Test {
  protected:
    HWND parent = nullptr;
    void SetUp() override;
    void TearDown() override;
};

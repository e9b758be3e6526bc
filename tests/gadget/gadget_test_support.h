#pragma once
// Shared set-up of the gadget tests: stand-ins for runtime windows, a message step that
// keeps gadget events aside, and icons with known pixels.
#include "runtime/gadget/gadget_private.h"
#include "runtime/window/window.h"
#include "tests/support/pixels.h"
#include "tests/support/test_support.h"
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

extern std::vector<SeenGadgetEvent> seen_events;
extern std::vector<SeenCommand> seen_commands;

const COLORREF TEST_BACKGROUND = RGB(0x20, 0x90, 0x40);

// A top-level captioned window whose background is TEST_BACKGROUND; with `runtime_window`
// it carries "KX_WindowID" as every runtime window does.
HWND test_window_create(int x, int y, int width, int height, bool runtime_window);
// A plain child window without "KX_WindowID".
HWND test_child_create(HWND parent, int x, int y, int width, int height);

// True when the window has a property of that name (whatever its value, 0 included).
bool has_prop(HWND window, const char *name);

// A colour icon of the given size, opaque, filled with `colour`.
HICON test_icon(int width, int height, COLORREF colour);

// The pixel at a client point of `window`, read back from the screen after a short pump.
COLORREF screen_pixel(HWND window, int x, int y);

int live_gadget_count();

// Every gadget test runs in a fresh runtime-like window that is the current gadget list,
// with the gadget events that reach the thread's queue kept in seen_events.
class GadgetTest : public testing::Test {
  protected:
    HWND parent = nullptr;
    void SetUp() override;
    void TearDown() override;
};

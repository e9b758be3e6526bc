#pragma once
// Shared by the window tests: the event queue as the window procedure left it.
#include "runtime/gadget/gadget_private.h"
#include "runtime/window/window_private.h"
#include "tests/support/test_support.h"
#include <vector>

struct QueuedEvent {
    int32_t event;
    intptr_t window;
};
bool operator==(const QueuedEvent &a, const QueuedEvent &b);
std::ostream &operator<<(std::ostream &out, const QueuedEvent &queued);
typedef std::vector<QueuedEvent> Events;
typedef std::vector<int32_t> Codes;

EventState *events();
Events queued_events();
// The codes of the queued events, in order; only those in `codes` when it names any.
Codes queued_codes(std::initializer_list<int32_t> codes = {});
// Takes every queued event and clears the pending one, without touching the thread queue.
void clear_events();
// Opens a window at (0, 0) without a title; its handle, or null.
HWND open_window(ObjectNumber number, uint32_t flags = OPEN_HIDDEN, HWND parent = nullptr,
                 int32_t width = 100, int32_t height = 100);
// Runs event_wait_timeout until it answers 0; returns every answer.
std::vector<int32_t> wait_all(int32_t milliseconds = 0);
// Stand-ins for platform functions (PlatformPatch) that fail.
HACCEL WINAPI no_accelerator_table(ACCEL *, int);
BOOL WINAPI no_rect(HWND, RECT *);

// Closes every runtime window and empties the event queue after each test.
class WindowTest : public testing::Test {
  protected:
    void TearDown() override;
};

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

EventState *events();
std::vector<QueuedEvent> queued_events();
// Only the queued events whose code is in `codes`, in order.
std::vector<int32_t> queued_codes(std::initializer_list<int32_t> codes);
// Takes every queued event and clears the pending one, without touching the thread queue.
void clear_events();
// Runs event_wait_timeout until it answers 0; returns every answer.
std::vector<int32_t> wait_all(int32_t milliseconds = 0);

// Closes every runtime window and empties the event queue after each test.
class WindowTest : public testing::Test {
  protected:
    void TearDown() override;
};

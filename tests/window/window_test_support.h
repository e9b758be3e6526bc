#pragma once
// Shared set-up and helpers of the window tests.
#include "runtime/gadget/gadget.h"
#include "runtime/window/window.h"
#include <gtest/gtest.h>
#include <vector>

struct QueuedEvent {
    int32_t event;
    intptr_t window;
};

EventState *events();
WindowRecord *record_of(ObjectNumber number);
std::vector<QueuedEvent> queued_events();
// Only the queued events whose code is in `codes`, in order.
std::vector<int32_t> queued_codes(std::initializer_list<int32_t> codes);
// Takes every queued event and clears the pending one, without touching the thread queue.
void clear_events();
// Runs event_wait_timeout(0) until it answers 0; returns every answer.
std::vector<int32_t> wait_all();
// Dispatches every message in the thread queue without the event wait.
void pump_messages();
void press_key(WORD key, bool shift = false);
void key_event(WORD key, bool up);
// Busy blocks of a heap, to see that nothing leaked.
int32_t busy_blocks(HANDLE heap);
std::string class_name_of(HWND window);
std::string number_text(intptr_t number);

// Closes every runtime window and empties the event queue after each test.
class WindowTest : public testing::Test {
  protected:
    void TearDown() override;
};

#include "tests/window/window_test_support.h"

EventState *events() {
    return window_event_state();
}

std::vector<QueuedEvent> queued_events() {
    std::vector<QueuedEvent> list;
    for (PostedEvent *node = events()->queue_head; node; node = node->next)
        list.push_back({node->event, node->window});
    return list;
}

std::vector<int32_t> queued_codes(std::initializer_list<int32_t> codes) {
    std::vector<int32_t> list;
    for (const QueuedEvent &queued : queued_events())
        for (int32_t code : codes)
            if (queued.event == code) list.push_back(code);
    return list;
}

void clear_events() {
    while (events()->queue_head)
        event_wait_timeout(0);
    events()->pending_event = 0;
}

std::vector<int32_t> wait_all(int32_t milliseconds) {
    std::vector<int32_t> answers;
    for (int i = 0; i < 10000; i++) {
        int32_t answer = event_wait_timeout(milliseconds);
        if (!answer) break;
        answers.push_back(answer);
    }
    return answers;
}

void WindowTest::TearDown() {
    window_lib_end();
    heap_fail_reset();
    pump_messages();
    clear_events();
    EXPECT_TRUE(runtime_heaps_valid());
}

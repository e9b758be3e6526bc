#include "tests/window/window_test_support.h"
#include <algorithm>

EventState *events() {
    return window_event_state();
}

bool operator==(const QueuedEvent &a, const QueuedEvent &b) {
    return a.event == b.event && a.window == b.window;
}

std::ostream &operator<<(std::ostream &out, const QueuedEvent &queued) {
    return out << queued.event << " for " << queued.window;
}

Events queued_events() {
    Events list;
    for (PostedEvent *node = events()->queue_head; node; node = node->next)
        list.push_back({node->event, node->window});
    return list;
}

Codes queued_codes(std::initializer_list<int32_t> codes) {
    Codes list;
    for (const QueuedEvent &queued : queued_events())
        if (!codes.size() || std::find(codes.begin(), codes.end(), queued.event) != codes.end())
            list.push_back(queued.event);
    return list;
}

void clear_events() {
    while (events()->queue_head)
        event_wait_timeout(0);
    events()->pending_event = 0;
}

HWND open_window(ObjectNumber number, uint32_t flags, HWND parent, int32_t width, int32_t height) {
    return reinterpret_cast<HWND>(window_open(number, 0, 0, width, height, "", flags, parent));
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

HACCEL WINAPI no_accelerator_table(ACCEL *, int) {
    return nullptr;
}

BOOL WINAPI no_rect(HWND, RECT *) {
    return FALSE;
}

void WindowTest::TearDown() {
    window_lib_end();
    heap_fail_reset();
    pump_messages();
    clear_events();
    EXPECT_TRUE(runtime_heaps_valid());
}

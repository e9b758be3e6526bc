#include "tests/window/window_test_support.h"
#include "runtime/core/heap.h"
#include "tests/support/test_support.h"
#include <stdio.h>

namespace {

class WindowEnvironment : public testing::Environment {
  public:
    void SetUp() override {
        window_lib_init();
        gadget_lib.default_font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
        gadget_lib.list_state = static_cast<GadgetListState *>(state_block_alloc(
            sizeof(GadgetListState), gadget_list_state_init, gadget_list_state_free));
    }
};

testing::Environment *const environment = testing::AddGlobalTestEnvironment(new WindowEnvironment);

} // namespace

EventState *events() {
    return window_lib.event_state;
}

WindowRecord *record_of(ObjectNumber number) {
    return static_cast<WindowRecord *>(object_table_get(window_lib.window_table, number));
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

std::vector<int32_t> wait_all() {
    std::vector<int32_t> answers;
    for (int i = 0; i < 10000; i++) {
        int32_t answer = event_wait_timeout(0);
        if (!answer) break;
        answers.push_back(answer);
    }
    return answers;
}

void pump_messages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void key_event(WORD key, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}

void press_key(WORD key, bool shift) {
    if (shift) key_event(VK_SHIFT, false);
    key_event(key, false);
    key_event(key, true);
    if (shift) key_event(VK_SHIFT, true);
}

int32_t busy_blocks(HANDLE heap) {
    PROCESS_HEAP_ENTRY entry = {};
    int32_t count = 0;
    HeapLock(heap);
    while (HeapWalk(heap, &entry))
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) count++;
    HeapUnlock(heap);
    return count;
}

std::string class_name_of(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string number_text(intptr_t number) {
    char text[32];
    snprintf(text, sizeof text, "%lld", static_cast<long long>(number));
    return text;
}

void WindowTest::TearDown() {
    window_lib_end();
    heap_fail_reset();
    pump_messages();
    clear_events();
    EXPECT_TRUE(runtime_heaps_valid());
}

#include "tests/window/window_test_support.h"
#include <stdio.h>
#include <tuple>

namespace {

class GadgetLists : public WindowTest {
  protected:
    GadgetListState *state = nullptr;
    void SetUp() override {
        state = gadget_list_state();
        ASSERT_NE(state, nullptr);
    }
    using List = std::pair<HWND, HWND *>;
    // The current list's window and the buffer the state block holds.
    List current() const { return {state->parent, state->nest_stack}; }
    HWND open_hidden(ObjectNumber number, uint32_t flags = 0) {
        return reinterpret_cast<HWND>(window_open(number, 0, 0, 200, 100, "", OPEN_HIDDEN | flags));
    }
};

// The save record, found through the property name that the lists use.
GadgetListSave *save_of(HWND window) {
    char name[64];
    snprintf(name, sizeof name, "KX_GadgetStack_%lld",
             static_cast<long long>(reinterpret_cast<intptr_t>(test_host.app_instance)));
    auto *record = static_cast<GadgetListSave *>(GetPropA(window, name));
    EXPECT_EQ(record, gadget_list_save(window));
    return record;
}

TEST_F(GadgetLists, StartUpGivesTheStateATenEntryBufferAndTheDefaultFont) {
    GadgetListState fresh = {};
    gadget_list_state_init(&fresh);
    ASSERT_NE(fresh.nest_stack, nullptr);
    EXPECT_EQ(std::make_tuple(fresh.nest_capacity, fresh.nest_depth, fresh.parent, fresh.font),
              std::make_tuple(10, 0, HWND(), gadget_library().default_font));
    EXPECT_GE(HeapSize(app_heap(), 0, fresh.nest_stack), 10 * sizeof(HWND));
    gadget_list_state_free(&fresh);
    EXPECT_EQ(fresh.nest_stack, nullptr);

    // Without memory for the buffer the state starts without one: the first list makes it.
    heap_fail_allocations(app_heap(), 0, 1);
    gadget_list_state_init(&fresh);
    heap_fail_reset();
    EXPECT_EQ(std::make_tuple(fresh.nest_stack, fresh.nest_capacity), std::make_tuple(nullptr, 0));
    Replaced<GadgetListState> bare(*state, fresh);
    HWND a = open_hidden(1);
    EXPECT_EQ(state->parent, a);
    EXPECT_NE(state->nest_stack, nullptr);
    EXPECT_EQ(state->nest_capacity, 10);
    window_close(1);
    gadget_list_state_free(state);
}

// The owner of the current list is the first window on the nesting stack while it holds any.
TEST_F(GadgetLists, TheFirstNestedWindowOwnsTheList) {
    HWND a = open_hidden(1);
    HWND b = open_hidden(2, OPEN_NO_GADGET_LIST);
    Replaced<HWND> first(state->nest_stack[0], b);
    Replaced<int32_t> depth(state->nest_depth, 1);
    EXPECT_EQ(gadget_list_switch(nullptr), b);
    Replaced<HWND *> no_stack(state->nest_stack, nullptr);
    EXPECT_EQ(gadget_list_switch(nullptr), a);
}

TEST_F(GadgetLists, OpeningWindowsMovesTheCurrentListAndItsBuffer) {
    HWND a = open_hidden(1);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(state->parent, a);
    EXPECT_EQ(gadget_list_switch(nullptr), a);
    GadgetListSave *a_save = save_of(a);
    ASSERT_NE(a_save, nullptr);
    EXPECT_EQ(a_save->window, a);
    EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrA(a, GWLP_WNDPROC)), gadget_list_proc);
    EXPECT_EQ(a_save->prev_proc, window_class_proc);
    HWND *a_buffer = state->nest_stack;
    ASSERT_NE(a_buffer, nullptr);

    HWND b = open_hidden(2);
    EXPECT_EQ(state->parent, b);
    EXPECT_EQ(std::make_tuple(a_save->saved_parent, a_save->saved_stack, a_save->saved_capacity),
              std::make_tuple(a, a_buffer, 10));
    ASSERT_NE(state->nest_stack, nullptr);
    EXPECT_NE(state->nest_stack, a_buffer);
    HWND *b_buffer = state->nest_stack;

    EXPECT_EQ(gadget_list_switch(a), b);
    EXPECT_EQ(current(), List(a, a_buffer));
    EXPECT_EQ(a_save->saved_stack, nullptr);
    EXPECT_EQ(std::make_pair(save_of(b)->saved_stack, save_of(b)->saved_parent),
              std::make_pair(b_buffer, b));

    // Switching to the current list changes nothing.
    EXPECT_EQ(gadget_list_switch(a), a);
    EXPECT_EQ(current(), List(a, a_buffer));
    EXPECT_EQ(save_of(b)->saved_stack, b_buffer);
    EXPECT_TRUE(runtime_heaps_valid());
}

// Destroying another window frees its record and saved buffer alone; destroying the current
// one leaves no list, and the state keeps its buffer for the next window's list.
TEST_F(GadgetLists, DestroyingAWindowFreesItsRecordAndTheCurrentOneLeavesNoList) {
    open_hidden(1);
    HWND a = open_hidden(2);
    HWND b = open_hidden(3);
    HWND *b_buffer = state->nest_stack;
    ASSERT_NE(save_of(a)->saved_stack, nullptr);
    int32_t blocks = heap_use(app_heap()).blocks;
    window_close(1);
    EXPECT_EQ(heap_use(app_heap()).blocks, blocks - 3); // shortcuts, save record, saved buffer
    EXPECT_EQ(current(), List(b, b_buffer));
    EXPECT_EQ(gadget_list_switch(nullptr), b);
    window_close(3);
    EXPECT_EQ(gadget_list_switch(nullptr), nullptr);
    EXPECT_EQ(current(), List(nullptr, b_buffer));
    EXPECT_EQ(heap_use(app_heap()).blocks, blocks - 5); // shortcuts and save record alone
    EXPECT_NE(save_of(a), nullptr);
    HWND c = open_hidden(4);
    EXPECT_EQ(current(), List(c, b_buffer)); // the state's buffer is reused
    EXPECT_EQ(state->nest_depth, 0);
    EXPECT_NE(save_of(a)->saved_stack, b_buffer);
}

// Option 8, or a switch without memory for the buffer or the record, keeps the list current.
TEST_F(GadgetLists, OptionEightOrAFailedSwitchKeepsThePreviousListCurrent) {
    HWND a = open_hidden(1);
    HWND b = open_hidden(2, OPEN_NO_GADGET_LIST);
    ASSERT_NE(b, nullptr);
    HWND *a_buffer = state->nest_stack;
    int32_t blocks = heap_use(app_heap()).blocks;
    for (int32_t skip = -1; skip < 2; skip++) {
        SCOPED_TRACE(skip);
        if (skip >= 0) {
            heap_fail_allocations(app_heap(), skip, 1);
            EXPECT_EQ(gadget_list_switch(b), nullptr);
            heap_fail_reset();
        }
        EXPECT_EQ(gadget_list_switch(nullptr), a);
        EXPECT_EQ(current(), List(a, a_buffer));
        EXPECT_EQ(save_of(a)->saved_stack, nullptr);
        EXPECT_EQ(save_of(b), nullptr);
        EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrA(b, GWLP_WNDPROC)), window_class_proc);
        EXPECT_EQ(heap_use(app_heap()).blocks, blocks);
    }
    EXPECT_EQ(gadget_list_switch(b), a);
    EXPECT_EQ(state->parent, b);
}

TEST_F(GadgetLists, AFirstListWithNoCurrentListNeedsOnlyTheRecord) {
    open_hidden(1);
    window_close(1);
    HWND b = open_hidden(2, OPEN_NO_GADGET_LIST);
    HWND *buffer = state->nest_stack;
    heap_fail_allocations(app_heap(), 0, 1);
    EXPECT_EQ(gadget_list_switch(b), nullptr);
    heap_fail_reset();
    EXPECT_EQ(current(), List(nullptr, buffer));
    EXPECT_EQ(save_of(b), nullptr);
    uint32_t attempts = heap_allocation_attempts();
    EXPECT_EQ(gadget_list_switch(b), nullptr); // there was no list before
    EXPECT_EQ(heap_allocation_attempts(), attempts + 1);
    EXPECT_EQ(current(), List(b, buffer));
}

// The desktop (another process's) cannot be subclassed, nor can no window; without a state
// block no switch is made, and a window that goes frees its record all the same.
TEST_F(GadgetLists, ASwitchThatCannotBeMadeAnswersNull) {
    HWND a = open_hidden(1);
    HWND b = open_hidden(2);
    HWND *buffer = state->nest_stack;
    HWND desktop = GetDesktopWindow();
    EXPECT_EQ(gadget_list_switch(desktop), nullptr);
    EXPECT_EQ(save_of(desktop), nullptr);
    EXPECT_EQ(current(), List(b, buffer));
    EXPECT_EQ(gadget_list_switch(reinterpret_cast<HWND>(intptr_t(0x7654320))), nullptr);
    EXPECT_EQ(state->parent, b);
    {
        Replaced<GadgetListState *> none(gadget_library().list_state, nullptr);
        EXPECT_EQ(gadget_list_switch(nullptr), nullptr);
        EXPECT_EQ(gadget_list_switch(a), nullptr);
        window_close(1);
    }
    EXPECT_EQ(gadget_list_switch(nullptr), b);
}

TEST_F(GadgetLists, TheListProcedurePassesMessagesOnAndFallsBackToTheDefault) {
    HWND a = open_hidden(1);
    SendMessageA(a, WM_CLOSE, 0, 0); // reaches the window procedure behind it
    EXPECT_EQ(queued_codes({EVENT_WINDOW_CLOSE}).size(), 1u);
    {
        Replaced<WNDPROC> none(save_of(a)->prev_proc, nullptr);
        EXPECT_TRUE(SendMessageA(a, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("list")));
    }
    char title[8] = {};
    GetWindowTextA(a, title, sizeof title);
    EXPECT_STREQ(title, "list");
    HWND plain = CreateWindowExA(0, "STATIC", "text", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
    char text[8] = {};
    CallWindowProcA(gadget_list_proc, plain, WM_GETTEXT, sizeof text,
                    reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, "text");
    DestroyWindow(plain);
}

} // namespace

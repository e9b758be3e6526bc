#include "tests/window/window_test_support.h"
#include <stdio.h>

namespace {

class GadgetLists : public WindowTest {
  protected:
    GadgetListState *state = nullptr;
    void SetUp() override {
        state = gadget_list_state();
        ASSERT_NE(state, nullptr);
    }
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
    EXPECT_EQ(fresh.nest_capacity, 10);
    EXPECT_EQ(fresh.nest_depth, 0);
    EXPECT_EQ(fresh.parent, nullptr);
    EXPECT_EQ(fresh.font, gadget_library().default_font);
    EXPECT_GE(HeapSize(app_heap(), 0, fresh.nest_stack), 10 * sizeof(HWND));
    gadget_list_state_free(&fresh);
    EXPECT_EQ(fresh.nest_stack, nullptr);
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
    EXPECT_EQ(a_save->saved_parent, a);
    EXPECT_EQ(a_save->saved_stack, a_buffer);
    EXPECT_EQ(a_save->saved_capacity, 10);
    ASSERT_NE(state->nest_stack, nullptr);
    EXPECT_NE(state->nest_stack, a_buffer);
    HWND *b_buffer = state->nest_stack;

    EXPECT_EQ(gadget_list_switch(a), b);
    EXPECT_EQ(state->parent, a);
    EXPECT_EQ(state->nest_stack, a_buffer);
    EXPECT_EQ(a_save->saved_stack, nullptr);
    EXPECT_EQ(save_of(b)->saved_stack, b_buffer);
    EXPECT_EQ(save_of(b)->saved_parent, b);

    // Switching to the current list changes nothing.
    EXPECT_EQ(gadget_list_switch(a), a);
    EXPECT_EQ(state->parent, a);
    EXPECT_EQ(state->nest_stack, a_buffer);
    EXPECT_EQ(save_of(b)->saved_stack, b_buffer);
    EXPECT_TRUE(runtime_heaps_valid());
}

TEST_F(GadgetLists, DestroyingTheCurrentWindowLeavesNoListAndKeepsTheBuffer) {
    HWND a = open_hidden(1);
    HWND b = open_hidden(2);
    HWND *b_buffer = state->nest_stack;
    int32_t blocks = heap_use(app_heap()).blocks;
    window_close(2);
    EXPECT_EQ(gadget_list_switch(nullptr), nullptr);
    EXPECT_EQ(state->parent, nullptr);
    EXPECT_EQ(state->nest_stack, b_buffer);
    EXPECT_EQ(heap_use(app_heap()).blocks,
              blocks - 2); // shortcuts and save record; no saved buffer
    EXPECT_NE(save_of(a), nullptr);
    (void)b;

    HWND c = open_hidden(3);
    EXPECT_EQ(state->parent, c);
    EXPECT_EQ(state->nest_stack, b_buffer); // the state's buffer is reused
    EXPECT_EQ(state->nest_depth, 0);
    EXPECT_NE(save_of(a)->saved_stack, b_buffer);
}

TEST_F(GadgetLists, DestroyingAnotherWindowFreesItsSavedBufferOnly) {
    HWND a = open_hidden(1);
    HWND b = open_hidden(2);
    HWND *b_buffer = state->nest_stack;
    ASSERT_NE(save_of(a)->saved_stack, nullptr);
    int32_t blocks = heap_use(app_heap()).blocks;
    window_close(1);
    EXPECT_EQ(heap_use(app_heap()).blocks, blocks - 3); // shortcuts, save record, saved buffer
    EXPECT_EQ(state->parent, b);
    EXPECT_EQ(state->nest_stack, b_buffer);
    EXPECT_EQ(gadget_list_switch(nullptr), b);
    (void)a;
}

TEST_F(GadgetLists, OptionEightKeepsThePreviousListCurrent) {
    HWND a = open_hidden(1);
    HWND b = open_hidden(2, OPEN_NO_GADGET_LIST);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(gadget_list_switch(nullptr), a);
    EXPECT_EQ(save_of(b), nullptr);
    EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrA(b, GWLP_WNDPROC)), window_class_proc);
}

TEST_F(GadgetLists, WithoutMemoryTheSwitchChangesNothing) {
    HWND a = open_hidden(1);
    HWND b = open_hidden(2, OPEN_NO_GADGET_LIST);
    HWND *a_buffer = state->nest_stack;
    int32_t blocks = heap_use(app_heap()).blocks;
    // The first attempt fails the fresh buffer, the second the save record.
    for (int32_t skip = 0; skip < 2; skip++) {
        heap_fail_allocations(app_heap(), skip, 1);
        EXPECT_EQ(gadget_list_switch(b), nullptr);
        heap_fail_reset();
        EXPECT_EQ(state->parent, a);
        EXPECT_EQ(state->nest_stack, a_buffer);
        EXPECT_EQ(save_of(a)->saved_stack, nullptr);
        EXPECT_EQ(save_of(b), nullptr);
        EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrA(b, GWLP_WNDPROC)), window_class_proc);
        EXPECT_EQ(heap_use(app_heap()).blocks, blocks);
    }
    EXPECT_EQ(gadget_list_switch(b), a);
    EXPECT_EQ(state->parent, b);
}

TEST_F(GadgetLists, AFirstListWithNoCurrentListNeedsOnlyTheRecord) {
    HWND a = open_hidden(1);
    window_close(1);
    (void)a;
    HWND b = open_hidden(2, OPEN_NO_GADGET_LIST);
    HWND *buffer = state->nest_stack;
    heap_fail_allocations(app_heap(), 0, 1);
    EXPECT_EQ(gadget_list_switch(b), nullptr);
    heap_fail_reset();
    EXPECT_EQ(state->parent, nullptr);
    EXPECT_EQ(state->nest_stack, buffer);
    EXPECT_EQ(save_of(b), nullptr);
    uint32_t attempts = heap_allocation_attempts();
    EXPECT_EQ(gadget_list_switch(b), nullptr); // there was no list before
    EXPECT_EQ(heap_allocation_attempts(), attempts + 1);
    EXPECT_EQ(state->parent, b);
    EXPECT_EQ(state->nest_stack, buffer);
}

TEST_F(GadgetLists, ASwitchThatCannotSubclassTheWindowLeavesNoRecord) {
    HWND a = open_hidden(1);
    HWND *buffer = state->nest_stack;
    // The desktop belongs to another process: its procedure cannot be replaced.
    HWND desktop = GetDesktopWindow();
    EXPECT_EQ(gadget_list_switch(desktop), nullptr);
    EXPECT_EQ(save_of(desktop), nullptr);
    EXPECT_EQ(state->parent, a);
    EXPECT_EQ(state->nest_stack, buffer);
    EXPECT_EQ(gadget_list_switch(reinterpret_cast<HWND>(intptr_t(0x7654320))), nullptr);
    EXPECT_EQ(state->parent, a);
}

TEST_F(GadgetLists, WithoutAStateBlockTheSwitchAnswersNull) {
    HWND a = open_hidden(1);
    {
        Replaced<GadgetListState *> none(gadget_library().list_state, nullptr);
        EXPECT_EQ(gadget_list_switch(nullptr), nullptr);
        EXPECT_EQ(gadget_list_switch(a), nullptr);
    }
    EXPECT_EQ(gadget_list_switch(nullptr), a);
}

TEST_F(GadgetLists, TheListProcedurePassesMessagesOnAndFallsBackToTheDefault) {
    HWND a = open_hidden(1);
    SendMessageA(a, WM_CLOSE, 0, 0); // reaches the window procedure behind it
    EXPECT_EQ(queued_codes({EVENT_WINDOW_CLOSE}).size(), 1u);
    HWND plain = CreateWindowExA(0, "STATIC", "text", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
    char text[8] = {};
    CallWindowProcA(gadget_list_proc, plain, WM_GETTEXT, sizeof text,
                    reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, "text");
    DestroyWindow(plain);
}

} // namespace

#include "runtime/gadget/gadget.h"
#include "runtime/core/heap.h"

// Stand-in for the gadget-list operations so that this program links while they are
// written elsewhere; it goes away when they land in the runtime.
static const int32_t NEST_CAPACITY = 10;

void gadget_list_state_init(void *block) {
    auto *state = static_cast<GadgetListState *>(block);
    state->nest_capacity = NEST_CAPACITY;
    state->nest_stack =
        static_cast<HWND *>(heap_alloc(app_heap(), HEAP_ZERO_MEMORY, sizeof(HWND) * NEST_CAPACITY));
    state->font = gadget_lib.default_font;
}

void gadget_list_state_free(void *block) {
    auto *state = static_cast<GadgetListState *>(block);
    if (state->nest_stack) heap_free(app_heap(), state->nest_stack);
    state->nest_stack = nullptr;
}

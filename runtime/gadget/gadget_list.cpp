#include "runtime/gadget/gadget_private.h"
#include "runtime/core/heap.h"
#include <stdio.h>

static const int32_t NEST_CAPACITY = 10;
static const int32_t LIST_PROPERTY_NAME_SIZE = 64;

struct ListPropertyName {
    char text[LIST_PROPERTY_NAME_SIZE];
};

// One name for every window of the module. The instance handle is printed at pointer
// width, so that 64-bit builds keep its high bits.
static ListPropertyName list_property_name() {
    ListPropertyName name;
    snprintf(name.text, sizeof name.text, "KX_GadgetStack_%lld",
             static_cast<long long>(reinterpret_cast<intptr_t>(app_instance())));
    return name;
}

static HWND list_owner(const GadgetListState *state) {
    if (state->nest_depth > 0 && state->nest_stack) return state->nest_stack[0];
    return state->parent;
}

static HWND *alloc_nest_stack() {
    return static_cast<HWND *>(
        heap_alloc(app_heap(), HEAP_ZERO_MEMORY, sizeof(HWND) * SIZE_T(NEST_CAPACITY)));
}

// Without a buffer the first switch allocates one.
void gadget_list_state_init(void *block) {
    GadgetListState *state = static_cast<GadgetListState *>(block);
    TolerateFailure without_buffer(FAILURE_WITHOUT_PART);
    state->nest_stack = alloc_nest_stack();
    state->nest_capacity = state->nest_stack ? NEST_CAPACITY : 0;
    state->font = gadget_library().default_font;
}

void gadget_list_state_free(void *block) {
    GadgetListState *state = static_cast<GadgetListState *>(block);
    heap_free(app_heap(), state->nest_stack);
    state->nest_stack = nullptr;
}

static GadgetListSave *save_record(HWND window, const ListPropertyName &name) {
    return static_cast<GadgetListSave *>(GetPropA(window, name.text));
}

GadgetListSave *gadget_list_save(HWND window) {
    return save_record(window, list_property_name());
}

// The buffer passes to the record of the list being left.
static void save_list(GadgetListState *state, GadgetListSave *record) {
    record->saved_parent = state->parent;
    record->saved_stack = state->nest_stack;
    record->saved_depth = state->nest_depth;
    record->saved_capacity = state->nest_capacity;
    state->nest_stack = nullptr;
}

// The buffer passes from the record back to the state block.
static void load_list(GadgetListState *state, GadgetListSave *record) {
    heap_free(app_heap(), state->nest_stack);
    state->parent = record->saved_parent;
    state->nest_stack = record->saved_stack;
    state->nest_depth = record->saved_depth;
    state->nest_capacity = record->saved_capacity;
    record->saved_stack = nullptr;
}

// Attaches a fresh record to the window and subclasses it. Nothing is left behind when a
// step fails.
static GadgetListSave *attach_record(HWND window, const ListPropertyName &name) {
    GadgetListSave *record = static_cast<GadgetListSave *>(
        heap_alloc(app_heap(), HEAP_ZERO_MEMORY, sizeof(GadgetListSave)));
    if (!record) return nullptr;
    record->window = window;
    if (!SetPropA(window, name.text, record)) {
        heap_free(app_heap(), record);
        return nullptr;
    }
    // Every window has a procedure, so no previous one means the platform refused.
    LONG_PTR previous =
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(gadget_list_proc));
    if (!previous) {
        RemovePropA(window, name.text);
        heap_free(app_heap(), record);
        return nullptr;
    }
    record->prev_proc = reinterpret_cast<WNDPROC>(previous);
    return record;
}

// A window's first list. Returns false, with nothing changed, when memory runs out.
static bool start_list(GadgetListState *state, HWND window, GadgetListSave *previous_record,
                       const ListPropertyName &name) {
    bool buffer_leaves = previous_record != nullptr;
    HWND *fresh_stack = nullptr;
    if (!state->nest_stack || buffer_leaves) {
        fresh_stack = alloc_nest_stack();
        if (!fresh_stack) return false;
    }
    if (!attach_record(window, name)) {
        heap_free(app_heap(), fresh_stack);
        return false;
    }
    if (previous_record) save_list(state, previous_record);
    if (fresh_stack) {
        state->nest_stack = fresh_stack;
        state->nest_capacity = NEST_CAPACITY;
    }
    state->nest_depth = 0;
    state->parent = window;
    return true;
}

HWND gadget_list_switch(HWND window) {
    GadgetListState *state = gadget_list_state();
    if (!state) return nullptr;
    HWND previous = list_owner(state);
    if (!window) return previous;

    ListPropertyName name = list_property_name();
    GadgetListSave *previous_record = previous ? save_record(previous, name) : nullptr;
    GadgetListSave *record = save_record(window, name);
    if (record) {
        if (previous_record) save_list(state, previous_record);
        load_list(state, record);
        return previous;
    }
    if (!start_list(state, window, previous_record, name)) return nullptr;
    return previous;
}

static void release_record(HWND window, GadgetListSave *record, const ListPropertyName &name) {
    GadgetListState *state = gadget_list_state();
    if (state && record->window == list_owner(state)) {
        state->parent = nullptr;
        state->nest_depth = 0;
    }
    heap_free(app_heap(), record->saved_stack);
    heap_free(app_heap(), record);
    RemovePropA(window, name.text);
}

LRESULT CALLBACK gadget_list_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    ListPropertyName name = list_property_name();
    GadgetListSave *record = save_record(window, name);
    if (!record) return DefWindowProcA(window, message, wparam, lparam);
    WNDPROC previous_proc = record->prev_proc;
    if (message == WM_NCDESTROY) release_record(window, record, name);
    if (previous_proc) return CallWindowProcA(previous_proc, window, message, wparam, lparam);
    return DefWindowProcA(window, message, wparam, lparam);
}

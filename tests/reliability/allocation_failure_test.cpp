// Every allocation of the runtime fails in turn, inside the running program: each
// operation answers its null or 0 (or loses just the one event), what existed stays
// valid, nothing leaks, the heaps stay sound and the program's commands still work.
#include "tests/reliability/reliability_support.h"
#include "app/app.h"
#include "runtime/core/array.h"
#include "runtime/core/heap.h"
#include "runtime/gadget/gadget.h"
#include "runtime/image/image.h"
#include "runtime/window/window.h"
#include "tests/support/test_support.h"
#include <set>
#include <string>

namespace {

bool heap_valid_or_gone(HANDLE heap) {
    return !heap || HeapValidate(heap, 0, nullptr);
}

bool class_registered(const std::string &name) {
    WNDCLASSA wc;
    return GetClassInfoA(GetModuleHandleA(nullptr), name.c_str(), &wc) != 0;
}

std::string class_name(ObjectNumber number) {
    return "WindowClass_" + std::to_string(static_cast<long long>(number));
}

ACCEL *program_shortcuts(int32_t *count) {
    auto *record = static_cast<WindowRecord *>(object_table_get(window_lib.window_table, 0));
    *count = record ? record->shortcut_count : 0;
    return record ? record->shortcuts : nullptr;
}

// The invert command through the real event path, with its effect on grid and gadget.
void expect_invert_works(const char *when) {
    activate_program_window();
    int32_t before = grid_get(app.grid, 100, 100);
    EXPECT_EQ(run_command_key('I'), 6) << when;
    EXPECT_EQ(grid_get(app.grid, 100, 100), 255 - before) << when;
    auto *gadget = static_cast<GadgetRecord *>(object_table_get(gadget_lib.gadget_table, 0));
    ASSERT_NE(gadget, nullptr) << when;
    EXPECT_EQ(gadget_image_get_state(gadget), reinterpret_cast<intptr_t>(image_handle(0))) << when;
}

class AllocationFailure : public ProgramTest {};

// A step of the scenario below: what it did, and whether the armed failure struck in it.
struct Step {
    const char *name;
    bool struck;
};

// Runs `action` and reports whether the pending failure struck during it.
template <typename Action> bool strikes(Action action) {
    bool pending = heap_fault_pending();
    action();
    return pending && !heap_fault_pending();
}

// Touches every allocation site of the runtime once: dynamic records and slot growth of
// all three tables, a shown window (its events, its shortcuts, its gadget list), gadgets,
// shortcut growth, switching lists, queued events, a data record, an array, a table and a
// state block. Each result is checked against the failure it may have met.
// Returns whether the armed failure was still pending when the scenario ended.
bool run_every_site(std::vector<Step> &steps) {
    HWND program = program_window();

    intptr_t image = 0;
    bool struck = strikes([&] { image = image_create(ANY_ID, 8, 8); });
    steps.push_back({"image ANY_ID", struck});
    if (struck) {
        EXPECT_EQ(image, 0);
    }

    ObjectTable *images = image_lib.image_table;
    int32_t image_capacity = images->capacity;
    uint8_t *image_slots = images->slots;
    ObjectNumber grown_image = image_capacity + 3;
    intptr_t image_bitmap = 0;
    struck = strikes([&] { image_bitmap = image_create(grown_image, 8, 8); });
    steps.push_back({"image beyond capacity", struck});
    if (struck) {
        EXPECT_EQ(image_bitmap, 0);
        EXPECT_EQ(images->capacity, image_capacity);
        EXPECT_EQ(images->slots, image_slots);
        EXPECT_EQ(image_width(0), 513); // the old storage is still the storage
    }

    intptr_t second = 0;
    int32_t windows = thread_window_count();
    struck = strikes([&] { second = window_open(ANY_ID, 20, 20, 120, 90, "second", 0); });
    steps.push_back({"window ANY_ID, shown", struck});
    if (second == 0) {
        EXPECT_TRUE(struck);
        EXPECT_EQ(thread_window_count(), windows);
    } else {
        // What may be missing after a failure there: its Tab entries, its gadget list,
        // or a queued event of its showing. The window itself is whole.
        auto *record =
            static_cast<WindowRecord *>(object_table_get(window_lib.window_table, second));
        EXPECT_NE(record, nullptr);
        if (!record) return false;
        EXPECT_TRUE(record->shortcut_count == 2 || (struck && record->shortcut_count == 0));
        EXPECT_TRUE(class_registered(class_name(second)));
    }

    ObjectTable *windows_table = window_lib.window_table;
    ObjectNumber grown_window = windows_table->capacity + 2;
    int32_t window_capacity = windows_table->capacity;
    intptr_t third = 0;
    struck = strikes([&] {
        third = window_open(grown_window, 0, 0, 50, 50, "third", OPEN_HIDDEN | OPEN_NO_GADGET_LIST);
    });
    steps.push_back({"window beyond capacity", struck});
    if (third == 0) {
        EXPECT_TRUE(struck);
        EXPECT_EQ(windows_table->capacity, window_capacity);
        EXPECT_FALSE(class_registered(class_name(grown_window)));
        EXPECT_EQ(program_window(), program);
    }

    // Gadgets go into the current list: the second window's, or the program's when the
    // second window could not take the list over.
    HWND list = gadget_lib.list_state->parent;
    int32_t children = child_window_count(list);
    intptr_t gadget = 0;
    struck = strikes([&] { gadget = gadget_image_create(ANY_ID, 0, 0, 0, 0, image_handle(0)); });
    steps.push_back({"gadget ANY_ID", struck});
    if (gadget == 0) {
        EXPECT_TRUE(struck);
        EXPECT_EQ(child_window_count(list), children) << "a control was left behind";
    }

    ObjectTable *gadgets = gadget_lib.gadget_table;
    ObjectNumber grown_gadget = gadgets->capacity + 4;
    int32_t gadget_capacity = gadgets->capacity;
    uint8_t *gadget_slots = gadgets->slots;
    children = child_window_count(list);
    intptr_t numbered_gadget = 0;
    struck = strikes(
        [&] { numbered_gadget = gadget_image_create(grown_gadget, 0, 0, 0, 0, image_handle(0)); });
    steps.push_back({"gadget beyond capacity", struck});
    if (numbered_gadget == 0) {
        EXPECT_TRUE(struck);
        EXPECT_EQ(gadgets->capacity, gadget_capacity);
        EXPECT_EQ(child_window_count(list), children) << "a control was left behind";
        EXPECT_EQ(gadgets->slots, gadget_slots);
    }

    int32_t count = 0;
    ACCEL *shortcuts = program_shortcuts(&count);
    std::vector<ACCEL> before(shortcuts, shortcuts + count);
    HACCEL table = nullptr;
    // A key no keyboard has, new on every run, so the array grows every time.
    static int32_t extra_key = 0x100;
    int32_t key = SHORTCUT_CONTROL | SHORTCUT_ALT | extra_key++;
    struck = strikes([&] { table = shortcut_add(0, key, 40); });
    steps.push_back({"shortcut beyond the array", struck});
    if (struck) {
        EXPECT_EQ(table, nullptr);
        int32_t now = 0;
        ACCEL *after = program_shortcuts(&now);
        EXPECT_EQ(now, count);
        if (now == count) {
            EXPECT_EQ(0, memcmp(after, before.data(), sizeof(ACCEL) * size_t(count)));
        }
    }

    if (third) {
        // The third window has never been a list: making it one takes a fresh buffer and
        // a save record. Whatever failed, the program's list can be made current again.
        HWND hidden = reinterpret_cast<HWND>(third);
        struck = strikes([&] { gadget_list_switch(hidden); });
        steps.push_back({"a window's first list", struck});
        gadget_list_switch(program);
        EXPECT_EQ(gadget_lib.list_state->parent, program);
        EXPECT_NE(gadget_lib.list_state->nest_stack, nullptr);
        if (struck) {
            EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hidden, GWLP_WNDPROC)),
                      window_class_proc)
                << "a failed switch left the window subclassed";
        }
    }

    EventState *events = window_lib.event_state;
    PostedEvent *tail = events->queue_tail;
    struck = strikes([&] { SendMessageA(program, WM_MOVE, 0, MAKELPARAM(1, 2)); });
    steps.push_back({"a queued event", struck});
    if (struck) {
        EXPECT_EQ(events->queue_tail, tail) << "a lost event left a node";
    }

    auto *record = static_cast<EventAuxData *>(heap_alloc(app_heap(), 0, sizeof(EventAuxData)));
    if (record) {
        record->buffer = heap_alloc(app_heap(), 0, 32);
        SendMessageA(program, MSG_DATA, 0, reinterpret_cast<LPARAM>(record));
        EXPECT_EQ(events->aux_data, record);
    }

    HeightGrid scratch = {nullptr, {0, 0}};
    bool allocated = false;
    struck = strikes([&] { allocated = grid_alloc(scratch); });
    steps.push_back({"an array", struck});
    if (struck) {
        EXPECT_FALSE(allocated);
        EXPECT_EQ(scratch.data, nullptr);
    }
    array_free(scratch.data);

    ObjectTable *made = nullptr;
    struck = strikes([&] { made = object_table_create(16, 4, nullptr); });
    steps.push_back({"a table", struck});
    if (struck) {
        EXPECT_TRUE(made == nullptr || made->capacity == 0);
    }
    if (made) {
        heap_free(app_heap(), made->slots);
        heap_free(app_heap(), made);
    }
    void *block = nullptr;
    struck = strikes([&] { block = state_block_alloc(40, nullptr, nullptr); });
    steps.push_back({"a state block", struck});
    if (struck) {
        EXPECT_EQ(block, nullptr);
    }
    heap_free(app_heap(), block);

    // Back to the program as it was.
    bool pending = heap_fault_pending();
    heap_fail_reset();
    if (gadget) gadget_destroy_existing(gadget);
    if (numbered_gadget) gadget_destroy_existing(grown_gadget);
    if (image) image_free(image);
    if (image_bitmap) image_free(grown_image);
    if (second) window_close(second);
    if (third) window_close(grown_window);
    if (gadget_lib.list_state->parent != program) gadget_list_switch(program);
    run_waiting_events();
    return pending;
}

TEST_F(AllocationFailure, EverySiteFailsInTurnAndTheProgramCarriesOn) {
    load_shared_cursors_and_icons();
    std::vector<Step> warm;
    run_every_site(warm); // tables grow and platform caches fill once, outside the count
    HeapUse heap = heap_use(app_heap());
    HeapUse objects = heap_use(object_heap());
    int64_t gdi = gdi_objects();
    int32_t windows = thread_window_count();
    std::set<std::string> struck_steps;
    int32_t runs = 0;
    for (int32_t skip = 0; skip < 500; skip++) {
        SCOPED_TRACE("allocation " + std::to_string(skip));
        heap_fail_allocations(nullptr, skip, 1);
        std::vector<Step> steps;
        bool hit = !run_every_site(steps);
        runs++;
        for (const Step &step : steps)
            if (step.struck) struck_steps.insert(step.name);
        ASSERT_TRUE(program_heaps_valid());
        // Slot storage only ever grows; no block may stay behind.
        EXPECT_EQ(heap_use(app_heap()).blocks, heap.blocks);
        EXPECT_EQ(heap_use(object_heap()).blocks, objects.blocks);
        EXPECT_EQ(heap_use(object_heap()).bytes, objects.bytes);
        EXPECT_EQ(gdi_objects(), gdi);
        EXPECT_EQ(thread_window_count(), windows);
        expect_invert_works("after the failure");
        if (!hit) break; // past the last allocation of the scenario
    }
    // Every step met a failure in some run.
    for (const Step &step : warm)
        EXPECT_EQ(struck_steps.count(step.name), 1u) << step.name << " never failed";
    printf("every site: %d runs, %zu steps met a failure\n", runs, struck_steps.size());
}

// The program's window, gadget, shortcuts and libraries are all there.
void expect_complete_program() {
    ASSERT_NE(program_window(), nullptr);
    ASSERT_NE(program_gadget_control(), nullptr);
    EXPECT_NE(window_lib.event_state, nullptr);
    EXPECT_NE(window_lib.sizing_state, nullptr);
    EXPECT_NE(image_lib.output_block, nullptr);
    EXPECT_EQ(gadget_lib.list_state->parent, program_window());
    int32_t count = 0;
    program_shortcuts(&count);
    EXPECT_EQ(count, 9);
    EXPECT_EQ(CopyAcceleratorTableA(accelerator_for_window(program_window()), nullptr, 0), 9);
    EXPECT_EQ(GetParent(program_gadget_control()), program_window());
    expect_invert_works("after the start-up");
}

// The start-up with each of its allocations failing in turn either stops, leaving
// nothing behind (no window, no class, no bitmap, sound heaps), or, where the failure
// only lost one of the window's queued events, starts the complete program.
TEST(StartUpAllocationFailure, StopsCleanlyOrStartsTheWholeProgram) {
    load_shared_cursors_and_icons();
    ASSERT_TRUE(app_start()); // once-only objects of the libraries are made here
    app_end();
    int64_t gdi = gdi_objects();
    int32_t windows = thread_window_count();
    int32_t stopped = 0, started = 0;
    for (int32_t skip = 0; skip < 500; skip++) {
        SCOPED_TRACE("allocation " + std::to_string(skip));
        heap_fail_allocations(nullptr, skip, 1);
        bool running = app_start();
        bool hit = !heap_fault_pending();
        heap_fail_reset();
        EXPECT_TRUE(heap_valid_or_gone(core_state.object_heap));
        EXPECT_TRUE(heap_valid_or_gone(core_state.scratch_heap));
        if (running) {
            started += hit;
            EXPECT_TRUE(program_heaps_valid());
            expect_complete_program();
            app_end();
        } else {
            stopped++;
            EXPECT_TRUE(hit);
            EXPECT_EQ(runtime_host, nullptr);
        }
        EXPECT_FALSE(class_registered("WindowClass_0"));
        EXPECT_EQ(thread_window_count(), windows);
        EXPECT_EQ(gdi_objects(), gdi);
        if (!hit) break;
    }
    runtime_host = &test_host;
    // The start-up makes some twenty allocations of its own; only lost events let it on.
    EXPECT_GT(stopped, 15);
    EXPECT_LT(started, stopped);
    printf("start-up: %d failures stopped it, %d lost only an event\n", stopped, started);
}

} // namespace

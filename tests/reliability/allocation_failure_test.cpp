// Every allocation of the runtime fails in turn, inside the running program, once
// transiently and once for good: an operation whose allocation failed hard answers its null
// or 0 and changes nothing; one whose failure the design tolerates carries on with less (an
// event lost, a part missing); nothing leaks, the heaps stay sound and the program's
// commands still work afterwards.
#include "tests/reliability/reliability_support.h"
#include "app/app.h"
#include "runtime/core/core_private.h"
#include "runtime/image/image_private.h"
#include <set>
#include <string>

namespace {

// The failures that struck during one step, by kind.
struct Struck {
    int32_t hard, lost_events, without_part;
    bool any() const { return hard || lost_events || without_part; }
};

Struck failures_so_far() {
    return {heap_failures(FAILURE_HARD), heap_failures(FAILURE_LOST_EVENT),
            heap_failures(FAILURE_WITHOUT_PART)};
}

// What the steps made, so that the checks can look at it and the end can free it.
struct Scenario {
    intptr_t image = 0;
    ObjectNumber grown_image = 0;
    intptr_t image_bitmap = 0;
    intptr_t second = 0, third = 0, fourth = 0;
    bool class_note_failed = false;
    ObjectNumber grown_window = 0;
    int32_t windows = 0;
    HWND list = nullptr;
    int32_t children = 0;
    intptr_t gadget = 0;
    ObjectNumber grown_gadget = 0;
    intptr_t numbered_gadget = 0;
    std::vector<ACCEL> shortcuts;
    HACCEL shortcut_table = nullptr;
    HWND switched_from = nullptr;
    PostedEvent *queue_tail = nullptr;
    EventAuxData *data = nullptr;
    HeightGrid grid = {nullptr, {0, 0}};
    bool grid_made = false;
    ObjectTable *table = nullptr;
    void *block = nullptr;
    ObjectTable before; // a table as it stood before a step that may grow it
};

std::vector<ACCEL> program_shortcuts() {
    WindowRecord *record = window_record(0);
    if (!record) return {};
    return std::vector<ACCEL>(record->shortcuts, record->shortcuts + record->shortcut_count);
}

bool same_storage(const ObjectTable *table, const ObjectTable &before) {
    return table->capacity == before.capacity && table->slots == before.slots;
}

std::string window_class_of(intptr_t number) {
    return "WindowClass_" + number_text(number);
}

void make_any_id_image(Scenario &s) {
    s.image = image_create(ANY_ID, 8, 8);
}
void check_any_id_image(const Scenario &s, const Struck &struck) {
    EXPECT_EQ(s.image != 0, struck.hard == 0);
}

void make_grown_image(Scenario &s) {
    s.before = *image_library().image_table;
    s.grown_image = s.before.capacity + 3;
    s.image_bitmap = image_create(s.grown_image, 8, 8);
}
void check_grown_image(const Scenario &s, const Struck &struck) {
    EXPECT_EQ(s.image_bitmap != 0, struck.hard == 0);
    if (struck.hard) {
        EXPECT_TRUE(same_storage(image_library().image_table, s.before));
    }
    EXPECT_EQ(image_width(0), 513); // the old storage, or a copy of it, is still the storage
}

void open_shown_window(Scenario &s) {
    s.windows = thread_window_count();
    s.second = window_open(ANY_ID, 20, 20, 120, 90, "second", 0);
}
// Its Tab entries and its being the current list are the parts it may go without.
void check_shown_window(const Scenario &s, const Struck &struck) {
    EXPECT_EQ(s.second != 0, struck.hard == 0);
    if (!s.second) {
        EXPECT_EQ(thread_window_count(), s.windows);
        return;
    }
    WindowRecord *record = window_record(s.second);
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(class_registered(window_class_of(s.second)));
    bool whole = record->shortcut_count == 2 && gadget_list_switch(nullptr) == record->window;
    EXPECT_EQ(whole, struck.without_part == 0);
}

void open_grown_window(Scenario &s) {
    s.before = *window_library().window_table;
    s.grown_window = s.before.capacity + 2;
    s.third = window_open(s.grown_window, 0, 0, 50, 50, "third", OPEN_HIDDEN | OPEN_NO_GADGET_LIST);
}
void check_grown_window(const Scenario &s, const Struck &struck) {
    EXPECT_EQ(s.third != 0, struck.hard == 0);
    EXPECT_EQ(struck.lost_events, 0);
    if (s.third) {
        EXPECT_EQ(window_record(s.grown_window)->shortcut_count == 2, struck.without_part == 0);
        return;
    }
    EXPECT_TRUE(same_storage(window_library().window_table, s.before));
    EXPECT_FALSE(class_registered(window_class_of(s.grown_window)));
    EXPECT_NE(program_window(), nullptr);
}

// A window destroyed without window_close: a note keeps its class until the window is gone;
// without the note the class stays registered, and the record goes all the same.
void destroy_window_from_outside(Scenario &s) {
    s.fourth = window_open(ANY_ID, 0, 0, 50, 50, "fourth", OPEN_HIDDEN | OPEN_NO_GADGET_LIST);
    if (!s.fourth) return;
    int32_t notes_failed = heap_failures(FAILURE_WITHOUT_PART);
    DestroyWindow(window_record(s.fourth)->window);
    s.class_note_failed = heap_failures(FAILURE_WITHOUT_PART) > notes_failed;
    unregister_pending_classes();
}
void check_destroyed_window(const Scenario &s, const Struck &struck) {
    EXPECT_EQ(s.fourth != 0, struck.hard == 0);
    if (!s.fourth) return;
    EXPECT_EQ(window_record(s.fourth), nullptr);
    EXPECT_EQ(class_registered(window_class_of(s.fourth)), s.class_note_failed);
}

// Gadgets go into the current list: the second window's, or the program's when the
// second window could not take the list over.
void make_any_id_gadget(Scenario &s) {
    s.list = gadget_list_state()->parent;
    s.children = child_count(s.list);
    s.gadget = gadget_image_create(ANY_ID, 0, 0, 0, 0, image_handle(0));
}
void check_any_id_gadget(const Scenario &s, const Struck &struck) {
    EXPECT_EQ(s.gadget != 0, struck.hard == 0);
    if (!s.gadget) {
        EXPECT_EQ(child_count(s.list), s.children) << "a control was left behind";
    }
}

void make_grown_gadget(Scenario &s) {
    s.before = *gadget_library().gadget_table;
    s.grown_gadget = s.before.capacity + 4;
    s.children = child_count(s.list);
    s.numbered_gadget = gadget_image_create(s.grown_gadget, 0, 0, 0, 0, image_handle(0));
}
void check_grown_gadget(const Scenario &s, const Struck &struck) {
    EXPECT_EQ(s.numbered_gadget != 0, struck.hard == 0);
    if (s.numbered_gadget) return;
    EXPECT_TRUE(same_storage(gadget_library().gadget_table, s.before));
    EXPECT_EQ(child_count(s.list), s.children) << "a control was left behind";
}

// A key no keyboard has, new on every run, so the array grows every time.
void add_shortcut(Scenario &s) {
    static int32_t extra_key = 0x100;
    s.shortcuts = program_shortcuts();
    s.shortcut_table = shortcut_add(0, SHORTCUT_CONTROL | SHORTCUT_ALT | extra_key++, 40);
}
void check_shortcut(const Scenario &s, const Struck &struck) {
    EXPECT_EQ(s.shortcut_table != nullptr, struck.hard == 0);
    if (!struck.hard) return;
    std::vector<ACCEL> after = program_shortcuts();
    ASSERT_EQ(after.size(), s.shortcuts.size());
    EXPECT_EQ(0, memcmp(after.data(), s.shortcuts.data(), after.size() * sizeof(ACCEL)));
}

// The third window has never been a list: making it one takes a fresh buffer and a save
// record. Whatever failed, the program's list can be made current again.
void switch_to_first_list(Scenario &s) {
    if (s.third) s.switched_from = gadget_list_switch(reinterpret_cast<HWND>(s.third));
}
void check_first_list(const Scenario &s, const Struck &struck) {
    if (!s.third) return;
    HWND hidden = reinterpret_cast<HWND>(s.third);
    EXPECT_EQ(s.switched_from != nullptr, struck.hard == 0);
    if (struck.hard) {
        EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hidden, GWLP_WNDPROC)),
                  window_class_proc)
            << "a failed switch left the window subclassed";
    }
    gadget_list_switch(program_window());
    EXPECT_EQ(gadget_list_state()->parent, program_window());
    EXPECT_NE(gadget_list_state()->nest_stack, nullptr);
}

// An event equal to the newest one would merge with it instead of taking a node.
void post_event(Scenario &s) {
    s.queue_tail = window_event_state()->queue_tail;
    bool merges =
        s.queue_tail && s.queue_tail->event == EVENT_WINDOW_MOVED && s.queue_tail->window == 0;
    SendMessageA(program_window(), merges ? WM_CLOSE : WM_MOVE, 0, 0);
}
void check_event(const Scenario &s, const Struck &struck) {
    EXPECT_EQ(struck.hard + struck.without_part, 0);
    EXPECT_EQ(window_event_state()->queue_tail == s.queue_tail, struck.lost_events > 0)
        << "a lost event left a node, or a kept one none";
}

// A data record as a sender hands it over; the next wait releases it with its buffer.
void hand_over_data(Scenario &s) {
    s.data = static_cast<EventAuxData *>(heap_alloc(app_heap(), 0, sizeof(EventAuxData)));
    if (!s.data) return;
    s.data->buffer = heap_alloc(app_heap(), 0, 32);
    SendMessageA(program_window(), MSG_DATA, 0, reinterpret_cast<LPARAM>(s.data));
}
void check_data(const Scenario &s, const Struck &) {
    if (s.data) {
        EXPECT_EQ(window_event_state()->aux_data, s.data);
    }
}

void make_array(Scenario &s) {
    s.grid_made = grid_alloc(s.grid);
}
void check_array(const Scenario &s, const Struck &struck) {
    EXPECT_EQ(s.grid_made, struck.hard == 0);
    EXPECT_EQ(s.grid.data != nullptr, s.grid_made);
}

void make_table(Scenario &s) {
    s.table = object_table_create(16, 4, nullptr);
}
// Without its first slots a table still exists, not ready, and grows on demand.
void check_table(const Scenario &s, const Struck &struck) {
    EXPECT_EQ(s.table != nullptr, struck.hard == 0);
    if (s.table) {
        EXPECT_EQ(object_table_ready(s.table), struck.without_part == 0);
    }
}

void make_state_block(Scenario &s) {
    s.block = state_block_alloc(40, nullptr, nullptr);
}
void check_state_block(const Scenario &s, const Struck &struck) {
    EXPECT_EQ(s.block != nullptr, struck.hard == 0);
}

struct Step {
    const char *name;
    void (*act)(Scenario &s);
    void (*check)(const Scenario &s, const Struck &struck);
};

// Every allocation site of the runtime: dynamic records and slot growth of all three
// tables, a shown window (its events, its shortcuts, its gadget list), a window destroyed
// from outside, gadgets, shortcut growth, a window's first list, a queued event, a data
// record, an array, a table and a state block.
const Step STEPS[] = {
    {"image ANY_ID", make_any_id_image, check_any_id_image},
    {"image beyond capacity", make_grown_image, check_grown_image},
    {"window ANY_ID, shown", open_shown_window, check_shown_window},
    {"window beyond capacity", open_grown_window, check_grown_window},
    {"window destroyed from outside", destroy_window_from_outside, check_destroyed_window},
    {"gadget ANY_ID", make_any_id_gadget, check_any_id_gadget},
    {"gadget beyond capacity", make_grown_gadget, check_grown_gadget},
    {"shortcut beyond the array", add_shortcut, check_shortcut},
    {"a window's first list", switch_to_first_list, check_first_list},
    {"a queued event", post_event, check_event},
    {"a data record", hand_over_data, check_data},
    {"an array", make_array, check_array},
    {"a table", make_table, check_table},
    {"a state block", make_state_block, check_state_block},
};

// Back to the program as it was, with nothing failing any more.
void free_scenario(Scenario &s) {
    heap_fail_reset();
    if (s.gadget) gadget_destroy_existing(s.gadget);
    if (s.numbered_gadget) gadget_destroy_existing(s.grown_gadget);
    if (s.image) image_free(s.image);
    if (s.image_bitmap) image_free(s.grown_image);
    if (s.second) window_close(s.second);
    if (s.third) window_close(s.grown_window);
    if (s.class_note_failed) UnregisterClassA(window_class_of(s.fourth).c_str(), app_instance());
    if (gadget_list_state()->parent != program_window()) gadget_list_switch(program_window());
    array_free(s.grid.data);
    if (s.table) heap_free(app_heap(), s.table->slots);
    heap_free(app_heap(), s.table);
    heap_free(app_heap(), s.block);
    run_waiting_events();
}

// Runs every step and answers the names of those in which a failure struck.
std::set<std::string> run_scenario() {
    Scenario s;
    std::set<std::string> struck_steps;
    for (const Step &step : STEPS) {
        SCOPED_TRACE(step.name);
        Struck before = failures_so_far();
        step.act(s);
        Struck after = failures_so_far();
        Struck struck = {after.hard - before.hard, after.lost_events - before.lost_events,
                         after.without_part - before.without_part};
        step.check(s, struck);
        if (struck.any()) struck_steps.insert(step.name);
    }
    free_scenario(s);
    return struck_steps;
}

// The invert command through the real event path, with its effect on grid and gadget.
void expect_invert_works(const char *when) {
    activate_program_window();
    int32_t before = grid_get(app.grid, 100, 100);
    EXPECT_EQ(run_command_key(command_key(6)), 6) << when;
    EXPECT_EQ(grid_get(app.grid, 100, 100), 255 - before) << when;
    EXPECT_EQ(gadget_get_state(0), reinterpret_cast<intptr_t>(image_handle(0))) << when;
}

// What a run that failed must leave as it was. Slot storage only ever grows, so the
// application heap's bytes may grow; no block may stay behind.
struct ProgramState {
    int64_t app_blocks;
    HeapUse objects;
    int64_t gdi;
    int32_t windows;
};

ProgramState program_state() {
    return {heap_use(app_heap()).blocks, heap_use(object_heap()), gdi_objects(),
            thread_window_count()};
}

void expect_program_as(const ProgramState &before) {
    ProgramState now = program_state();
    EXPECT_EQ(now.app_blocks, before.app_blocks);
    EXPECT_EQ(now.objects.blocks, before.objects.blocks);
    EXPECT_EQ(now.objects.bytes, before.objects.bytes);
    EXPECT_EQ(now.gdi, before.gdi);
    EXPECT_EQ(now.windows, before.windows);
    expect_invert_works("after the failure");
}

// Runs the scenario with its allocations failing in turn, `count` at a time from the one
// failing first; answers the steps that met a failure in some run.
std::set<std::string> fail_every_allocation(int32_t count, const ProgramState &before) {
    std::set<std::string> struck;
    for (int32_t skip = 0; skip < 500; skip++) {
        SCOPED_TRACE("allocation " + std::to_string(skip));
        heap_fail_allocations(nullptr, skip, count);
        std::set<std::string> steps = run_scenario();
        struck.insert(steps.begin(), steps.end());
        EXPECT_TRUE(runtime_heaps_valid());
        expect_program_as(before);
        if (steps.empty() || testing::Test::HasFatalFailure()) break; // past the last allocation
    }
    return struck;
}

class AllocationFailure : public ProgramTest {};

TEST_F(AllocationFailure, EverySiteFailsOnceAndForGoodAndTheProgramCarriesOn) {
    load_shared_cursors_and_icons();
    run_scenario(); // tables grow and platform caches fill once, outside the count
    ProgramState before = program_state();
    for (int32_t count : {1, HEAP_FAIL_FOREVER}) {
        SCOPED_TRACE(count == 1 ? "failing once" : "failing for good");
        std::set<std::string> struck = fail_every_allocation(count, before);
        for (const Step &step : STEPS)
            EXPECT_EQ(struck.count(step.name), 1u) << step.name << " never failed";
    }
}

// The program's window, gadget, shortcuts and libraries are all there.
void expect_complete_program() {
    ASSERT_NE(program_window(), nullptr);
    ASSERT_NE(program_gadget_control(), nullptr);
    EXPECT_NE(window_event_state(), nullptr);
    EXPECT_NE(window_sizing_state(), nullptr);
    EXPECT_NE(image_library().output_block, nullptr);
    EXPECT_EQ(gadget_list_state()->parent, program_window());
    EXPECT_EQ(program_shortcuts().size(), 9u);
    EXPECT_EQ(CopyAcceleratorTableA(accelerator_for_window(program_window()), nullptr, 0), 9);
    EXPECT_EQ(GetParent(program_gadget_control()), program_window());
    expect_invert_works("after the start-up");
}

// Starts the program with its allocations failing in turn, `count` at a time; answers how
// many starts stopped.
int32_t start_failing_every_allocation(int32_t count) {
    int64_t gdi = gdi_objects();
    int32_t windows = thread_window_count();
    int32_t stopped = 0, started = 0;
    for (int32_t skip = 0; skip < 500; skip++) {
        SCOPED_TRACE("allocation " + std::to_string(skip));
        heap_fail_allocations(nullptr, skip, count);
        bool running = app_start();
        Struck struck = failures_so_far();
        heap_fail_reset();
        EXPECT_EQ(running, struck.hard == 0 && struck.without_part == 0);
        EXPECT_TRUE(runtime_heaps_valid());
        if (running) {
            started += struck.any();
            expect_complete_program();
            app_end();
        } else {
            stopped++;
            EXPECT_EQ(runtime_host, nullptr);
        }
        EXPECT_FALSE(class_registered("WindowClass_0"));
        EXPECT_EQ(thread_window_count(), windows);
        EXPECT_EQ(gdi_objects(), gdi);
        if (!struck.any()) break;
    }
    printf("start-up: %d failures stopped it, %d lost only events\n", stopped, started);
    EXPECT_LT(started, stopped);
    return stopped;
}

// The start-up with each of its allocations failing, once and for good: it starts the
// complete program exactly when the failures only lost queued events of the window, and
// otherwise stops, leaving nothing behind (no window, no class, no bitmap, sound heaps).
TEST(StartUpAllocationFailure, StartsExactlyWhenOnlyEventsWereLost) {
    load_shared_cursors_and_icons();
    ASSERT_TRUE(app_start()); // once-only objects of the libraries are made here
    app_end();
    for (int32_t count : {1, HEAP_FAIL_FOREVER}) {
        SCOPED_TRACE(count == 1 ? "failing once" : "failing for good");
        // The start-up makes some twenty allocations of its own.
        EXPECT_GT(start_failing_every_allocation(count), 15);
    }
    runtime_host = &test_host;
}

} // namespace

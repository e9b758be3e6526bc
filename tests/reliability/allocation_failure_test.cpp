// Every allocation of the runtime fails in turn, inside the running program, transiently and for
// good: an operation whose allocation failed hard answers null or 0 and changes nothing; one
// whose failure the design tolerates carries on with less (an event lost, a part missing);
// nothing leaks, the heaps stay sound and the program's commands still work afterwards.
#include "tests/reliability/reliability_support.h"
#include "app/app.h"
#include "runtime/core/core_private.h"
#include "runtime/image/image_private.h"
#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <utility>

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
    intptr_t image = 0, image_bitmap = 0, second = 0, third = 0, fourth = 0;
    intptr_t gadget = 0, numbered_gadget = 0;
    ObjectNumber grown_image = 0, grown_window = 0, grown_gadget = 0;
    bool class_note_failed = false, grid_made = false;
    int32_t windows = 0, children = 0;
    HWND list = nullptr, switched_from = nullptr;
    std::vector<ACCEL> shortcuts;
    PostedEvent *queue_tail = nullptr;
    EventAuxData *data = nullptr;
    HeightGrid grid = {nullptr, {0, 0}};
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

// What a step answers: whether its operation made what it set out to make, which it must
// exactly when no hard failure struck, or NO_VERDICT for a step that makes nothing so.
const int NO_VERDICT = -1;

int make_grown_image(Scenario &s) {
    s.before = *image_library().image_table;
    s.grown_image = s.before.capacity + 3;
    s.image_bitmap = image_create(s.grown_image, 8, 8);
    return s.image_bitmap != 0;
}
void check_grown_image(const Scenario &s, const Struck &struck) {
    if (struck.hard) {
        EXPECT_TRUE(same_storage(image_library().image_table, s.before));
    }
    EXPECT_EQ(image_width(0), 513); // the old storage, or a copy of it, is still the storage
}

int open_shown_window(Scenario &s) {
    s.windows = thread_window_count();
    s.second = window_open(ANY_ID, 20, 20, 120, 90, "second", 0);
    return s.second != 0;
}
// Its Tab entries and its being the current list are the parts it may go without.
void check_shown_window(const Scenario &s, const Struck &struck) {
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

int open_grown_window(Scenario &s) {
    s.before = *window_library().window_table;
    s.grown_window = s.before.capacity + 2;
    s.third = window_open(s.grown_window, 0, 0, 50, 50, "third", OPEN_HIDDEN | OPEN_NO_GADGET_LIST);
    return s.third != 0;
}
void check_grown_window(const Scenario &s, const Struck &struck) {
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
int destroy_window_from_outside(Scenario &s) {
    s.fourth = window_open(ANY_ID, 0, 0, 50, 50, "fourth", OPEN_HIDDEN | OPEN_NO_GADGET_LIST);
    if (!s.fourth) return false;
    int32_t notes_failed = heap_failures(FAILURE_WITHOUT_PART);
    DestroyWindow(window_record(s.fourth)->window);
    s.class_note_failed = heap_failures(FAILURE_WITHOUT_PART) > notes_failed;
    unregister_pending_classes();
    return true;
}
void check_destroyed_window(const Scenario &s, const Struck &) {
    if (!s.fourth) return;
    EXPECT_EQ(window_record(s.fourth), nullptr);
    EXPECT_EQ(class_registered(window_class_of(s.fourth)), s.class_note_failed);
}

// Gadgets go into the current list: the second window's, or the program's when the
// second window could not take the list over.
int make_any_id_gadget(Scenario &s) {
    s.list = gadget_list_state()->parent;
    s.children = child_count(s.list);
    s.gadget = gadget_image_create(ANY_ID, 0, 0, 0, 0, image_handle(0));
    return s.gadget != 0;
}
void check_any_id_gadget(const Scenario &s, const Struck &) {
    EXPECT_TRUE(s.gadget || child_count(s.list) == s.children) << "a control was left behind";
}

int make_grown_gadget(Scenario &s) {
    s.before = *gadget_library().gadget_table;
    s.grown_gadget = s.before.capacity + 4;
    s.children = child_count(s.list);
    s.numbered_gadget = gadget_image_create(s.grown_gadget, 0, 0, 0, 0, image_handle(0));
    return s.numbered_gadget != 0;
}
void check_grown_gadget(const Scenario &s, const Struck &) {
    if (s.numbered_gadget) return;
    EXPECT_TRUE(same_storage(gadget_library().gadget_table, s.before));
    EXPECT_EQ(child_count(s.list), s.children) << "a control was left behind";
}

// A key no keyboard has, new on every run, so the array grows every time.
int add_shortcut(Scenario &s) {
    static int32_t extra_key = 0x100;
    s.shortcuts = program_shortcuts();
    return shortcut_add(0, SHORTCUT_CONTROL | SHORTCUT_ALT | extra_key++, 40) != nullptr;
}
void check_shortcut(const Scenario &s, const Struck &struck) {
    if (!struck.hard) return;
    std::vector<ACCEL> after = program_shortcuts();
    ASSERT_EQ(after.size(), s.shortcuts.size());
    EXPECT_EQ(0, memcmp(after.data(), s.shortcuts.data(), after.size() * sizeof(ACCEL)));
}

// The third window has never been a list: making it one takes a fresh buffer and a save
// record. Whatever failed, the program's list can be made current again.
int switch_to_first_list(Scenario &s) {
    if (!s.third) return NO_VERDICT;
    s.switched_from = gadget_list_switch(reinterpret_cast<HWND>(s.third));
    return s.switched_from != nullptr;
}
void check_first_list(const Scenario &s, const Struck &struck) {
    if (!s.third) return;
    HWND hidden = reinterpret_cast<HWND>(s.third);
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
int post_event(Scenario &s) {
    s.queue_tail = window_event_state()->queue_tail;
    bool merges =
        s.queue_tail && s.queue_tail->event == EVENT_WINDOW_MOVED && s.queue_tail->window == 0;
    SendMessageA(program_window(), merges ? WM_CLOSE : WM_MOVE, 0, 0);
    return NO_VERDICT;
}
void check_event(const Scenario &s, const Struck &struck) {
    EXPECT_EQ(struck.hard + struck.without_part, 0);
    EXPECT_EQ(window_event_state()->queue_tail == s.queue_tail, struck.lost_events > 0)
        << "a lost event left a node, or a kept one none";
}

// A data record as a sender hands it over; the next wait releases it with its buffer.
int hand_over_data(Scenario &s) {
    s.data = static_cast<EventAuxData *>(heap_alloc(app_heap(), 0, sizeof(EventAuxData)));
    if (!s.data) return NO_VERDICT;
    s.data->buffer = heap_alloc(app_heap(), 0, 32);
    SendMessageA(program_window(), MSG_DATA, 0, reinterpret_cast<LPARAM>(s.data));
    return NO_VERDICT;
}
void check_data(const Scenario &s, const Struck &) {
    EXPECT_TRUE(!s.data || window_event_state()->aux_data == s.data);
}

// Without its first slots a table still exists, not ready, and grows on demand.
void check_table(const Scenario &s, const Struck &struck) {
    EXPECT_TRUE(!s.table || object_table_ready(s.table) == (struck.without_part == 0));
}

struct Step {
    const char *name;
    int (*act)(Scenario &s);
    void (*check)(const Scenario &s, const Struck &struck); // null where the verdict is all
};

// Every allocation site of the runtime: dynamic records and slot growth of all three
// tables, a shown window (its events, its shortcuts, its gadget list), a window destroyed
// from outside, gadgets, shortcut growth, a window's first list, a queued event, a data
// record, an array, a table and a state block.
const Step STEPS[] = {
    {"image ANY_ID", [](Scenario &s) { return int((s.image = image_create(ANY_ID, 8, 8)) != 0); },
     nullptr},
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
    {"an array", [](Scenario &s) { return int(s.grid_made = grid_alloc(s.grid)); },
     [](const Scenario &s, const Struck &) { EXPECT_EQ(s.grid.data != nullptr, s.grid_made); }},
    {"a table",
     [](Scenario &s) { return int((s.table = object_table_create(16, 4, nullptr)) != nullptr); },
     check_table},
    {"a state block",
     [](Scenario &s) {
         return int((s.block = state_block_alloc(40, nullptr, nullptr)) != nullptr);
     },
     nullptr}};

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
        int made = step.act(s);
        Struck after = failures_so_far();
        Struck struck = {after.hard - before.hard, after.lost_events - before.lost_events,
                         after.without_part - before.without_part};
        EXPECT_TRUE(made == NO_VERDICT || made == int(struck.hard == 0)) << "made: " << made;
        if (step.check) step.check(s, struck);
        if (struck.any()) struck_steps.insert(step.name);
    }
    free_scenario(s);
    return struck_steps;
}

// The invert command through the real event path, with its effect on grid and gadget.
void expect_invert_works(const char *when) {
    int32_t before = grid_get(app.grid, 100, 100);
    EXPECT_EQ(run_command(6), 6) << when;
    EXPECT_EQ(grid_get(app.grid, 100, 100), 255 - before) << when;
    EXPECT_EQ(gadget_get_state(0), reinterpret_cast<intptr_t>(image_handle(0))) << when;
}

typedef std::pair<int64_t, int64_t> Objects; // GDI and USER objects of the process

// Expects no GDI or USER object left behind by a run, counted from `base`. The platform makes
// some objects of its own once, when it chooses, so counts that moved are taken again after the
// same run once more: a leak moves them again, the platform's own objects do not.
void expect_no_objects_left(Objects &base, const std::function<void()> &run_again) {
    Objects after = {gdi_objects(), user_objects()};
    if (after == base) return;
    run_again();
    std::string types;
    Objects again = {gdi_objects(&types), user_objects()};
    EXPECT_EQ(again, after) << "GDI and USER objects " << testing::PrintToString(base)
                            << " before the run;" << types;
    printf("GDI and USER objects %s, then %s for good;%s\n", testing::PrintToString(base).c_str(),
           testing::PrintToString(again).c_str(), types.c_str());
    base = again;
}

// What a run that failed must leave as it was: the blocks of both heaps, the bytes of the
// object heap, the windows. Slot storage only ever grows, so the application heap's bytes may.
auto program_state() {
    HeapUse objects = heap_use(object_heap());
    return std::make_tuple(heap_use(app_heap()).blocks, objects.blocks, objects.bytes,
                           thread_window_count());
}

// Runs `run` with the allocations failing in turn, `count` at a time after `skip` let through,
// until a run meets no failure any more (`run` answers whether it met one).
void for_each_failing_allocation(int32_t count, const std::function<bool(int32_t skip)> &run) {
    for (int32_t skip = 0; skip < 500; skip++) {
        SCOPED_TRACE("allocation " + std::to_string(skip));
        heap_fail_allocations(nullptr, skip, count);
        if (!run(skip) || testing::Test::HasFatalFailure()) return;
    }
    ADD_FAILURE() << "more than 500 allocations";
}

class AllocationFailure : public ProgramTest {};

TEST_F(AllocationFailure, EverySiteFailsOnceAndForGoodAndTheProgramCarriesOn) {
    load_shared_cursors_and_icons();
    run_scenario(); // tables grow and platform caches fill once, outside the count
    auto before = program_state();
    Objects objects = {gdi_objects(), user_objects()};
    for (int32_t count : {1, HEAP_FAIL_FOREVER}) {
        SCOPED_TRACE(count == 1 ? "failing once" : "failing for good");
        std::set<std::string> struck;
        for_each_failing_allocation(count, [&](int32_t skip) {
            std::set<std::string> steps = run_scenario();
            struck.insert(steps.begin(), steps.end());
            EXPECT_TRUE(runtime_heaps_valid());
            EXPECT_EQ(program_state(), before);
            expect_no_objects_left(objects, [&] {
                heap_fail_allocations(nullptr, skip, count);
                run_scenario();
            });
            expect_invert_works("after the failure");
            return !steps.empty();
        });
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
    Objects objects = {gdi_objects(), user_objects()};
    int32_t windows = thread_window_count();
    int32_t stopped = 0, started = 0;
    for_each_failing_allocation(count, [&](int32_t skip) {
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
        expect_no_objects_left(objects, [&] {
            heap_fail_allocations(nullptr, skip, count);
            if (app_start()) app_end();
            heap_fail_reset();
        });
        return struck.any();
    });
    printf("start-up: %d failures stopped it, %d lost only events\n", stopped, started);
    EXPECT_LT(started, stopped);
    return stopped;
}

// Puts the test program's own host back and lets no failure go on, however the test ends.
class StartUpAllocationFailure : public testing::Test {
  protected:
    void TearDown() override {
        heap_fail_reset();
        if (runtime_host == &app.host) app_end();
        runtime_host = &test_host;
    }
};

// The start-up with each of its allocations failing, once and for good: it starts the
// complete program exactly when the failures only lost queued events of the window, and
// otherwise stops, leaving nothing behind (no window, no class, no bitmap, sound heaps).
TEST_F(StartUpAllocationFailure, StartsExactlyWhenOnlyEventsWereLost) {
    load_shared_cursors_and_icons();
    ASSERT_TRUE(app_start()); // once-only objects of the libraries are made here
    app_end();
    for (int32_t count : {1, HEAP_FAIL_FOREVER}) {
        SCOPED_TRACE(count == 1 ? "failing once" : "failing for good");
        EXPECT_GT(start_failing_every_allocation(count), 15); // of some twenty allocations
    }
}

} // namespace

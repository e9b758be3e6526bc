// Object numbers that name nothing: every operation answers 0 or null, changes nothing
// and reads through nothing (a number that is a no-access page would fault if it did).
#include "tests/reliability/reliability_support.h"
#include "app/app.h"
#include "runtime/core/core_private.h"
#include "runtime/image/image_private.h"
#include <limits.h>
#include <functional>
#include <string>
#include <tuple>

namespace {

// A table as it stands: its capacity, its storage and every byte of it, its dynamic list.
auto table_state(const ObjectTable *table) {
    std::vector<DynamicNode *> nodes;
    for (DynamicNode *node = table->dynamic_head; node; node = node->next)
        nodes.push_back(node);
    return std::make_tuple(
        table->capacity, table->slots,
        std::vector<uint8_t>(table->slots, table->slots + table->capacity * table->element_size),
        nodes);
}

// Everything an operation on a number could have touched.
auto world() {
    run_waiting_events();
    HeapUse heap = runtime_heap_use();
    EventState *events = window_event_state();
    return std::make_tuple(table_state(image_library().image_table),
                           table_state(window_library().window_table),
                           table_state(gadget_library().gadget_table), heap.blocks, heap.bytes,
                           thread_window_count(), events->queue_head, events->pending_event);
}

struct Hostile {
    std::string name;
    ObjectNumber number;
};

// An operation on an object number, with what it answers as a number (0 for nothing).
struct Operation {
    const char *name;
    std::function<intptr_t(ObjectNumber)> call;
};

intptr_t picture() {
    return reinterpret_cast<intptr_t>(image_handle(0));
}

class HostileNumbers : public ProgramTest {
  protected:
    // Numbers of objects that lived and were freed again, one per library.
    ObjectNumber freed_image = 0, freed_window = 0, freed_gadget = 0;

    void SetUp() override {
        ProgramTest::SetUp();
        freed_image = image_create(ANY_ID, 8, 8);
        ASSERT_NE(freed_image, 0);
        image_free(freed_image);
        freed_window = window_open(ANY_ID, 0, 0, 50, 50, "gone", OPEN_HIDDEN | OPEN_NO_GADGET_LIST);
        ASSERT_NE(freed_window, 0);
        ASSERT_NE(window_close(freed_window), 0);
        freed_gadget = gadget_image_create(ANY_ID, 0, 0, 0, 0, image_handle(0));
        ASSERT_NE(freed_gadget, 0);
        GadgetRecord *record = gadget_record(freed_gadget);
        ASSERT_NE(record, nullptr);
        DestroyWindow(record->window);
        ASSERT_EQ(gadget_record(freed_gadget), nullptr);
        run_waiting_events();
    }

    // The numbers no operation may act on: for a creation those that can never name an object,
    // for the others also the numbers of nothing alive and addresses that look like records.
    std::vector<Hostile> hostile(const ObjectTable *table, ObjectNumber freed, bool creation) {
        auto address = [](void *page) {
            return reinterpret_cast<ObjectNumber>(static_cast<uint8_t *>(page) +
                                                  sizeof(DynamicNode));
        };
        std::vector<Hostile> numbers = {{"-2", -2},
                                        {"INT_MIN", INT_MIN},
                                        {"INT_MAX", INT_MAX},
                                        {"INTPTR_MIN", INTPTR_MIN},
                                        {"INTPTR_MAX", INTPTR_MAX}};
        if (creation) return numbers;
        numbers.insert(
            numbers.end(),
            {{"-1", ANY_ID},
             {"capacity", table->capacity},
             {"capacity + 1", table->capacity + 1},
             {"a freed ANY_ID number", freed},
             {"a no-access page", address(no_access_page())},
             {"a page that looks alive", address(live_looking_page())},
             {"the page itself", reinterpret_cast<ObjectNumber>(live_looking_page())},
             {"the address of a live record", reinterpret_cast<ObjectNumber>(object_table_get(
                                                  const_cast<ObjectTable *>(table), 0))}});
        return numbers;
    }

    // Runs every operation on every number fitting it; each must answer 0 and change nothing.
    void expect_refused(const ObjectTable *table, ObjectNumber freed,
                        const std::vector<Operation> &operations,
                        const std::vector<Operation> &creations) {
        for (bool creating : {false, true})
            for (const Operation &operation : creating ? creations : operations)
                for (const Hostile &h : hostile(table, freed, creating)) {
                    auto before = world();
                    intptr_t answer = operation.call(h.number);
                    EXPECT_EQ(answer, 0) << operation.name << " with " << h.name;
                    EXPECT_TRUE(before == world())
                        << operation.name << " with " << h.name << " changed something";
                    EXPECT_TRUE(runtime_heaps_valid()) << operation.name << " with " << h.name;
                }
    }
};

TEST_F(HostileNumbers, ImageOperationsAnswerZeroAndChangeNothing) {
    expect_refused(image_library().image_table, freed_image,
                   {{"image_handle", [](ObjectNumber n) { return intptr_t(image_handle(n)); }},
                    {"image_width", [](ObjectNumber n) { return intptr_t(image_width(n)); }},
                    {"image_height", [](ObjectNumber n) { return intptr_t(image_height(n)); }},
                    {"image_output", [](ObjectNumber n) { return intptr_t(image_output(n)); }},
                    {"image_free", [](ObjectNumber n) { return image_free(n), intptr_t(0); }}},
                   {{"image_create", [](ObjectNumber n) { return image_create(n, 16, 16); }},
                    {"image_create_with_depth",
                     [](ObjectNumber n) { return image_create_with_depth(n, 16, 16, 24); }}});
    // Image 0 is untouched.
    EXPECT_EQ(image_width(0), 513);
    EXPECT_NE(image_handle(0), nullptr);
}

TEST_F(HostileNumbers, WindowOperationsAnswerZeroAndChangeNothing) {
    expect_refused(
        window_library().window_table, freed_window,
        {{"window_close", [](ObjectNumber n) { return intptr_t(window_close(n)); }},
         {"window_inner_width", [](ObjectNumber n) { return intptr_t(window_inner_width(n)); }},
         {"window_inner_height", [](ObjectNumber n) { return intptr_t(window_inner_height(n)); }},
         {"shortcut_add", [](ObjectNumber n) { return intptr_t(shortcut_add(n, 'Q', 9)); }}},
        {{"window_open", [](ObjectNumber n) {
              return window_open(n, 0, 0, 40, 40, "hostile", OPEN_NO_GADGET_LIST);
          }}});
    EXPECT_EQ(window_inner_width(0), 513);
}

TEST_F(HostileNumbers, GadgetOperationsAnswerZeroAndChangeNothing) {
    expect_refused(
        gadget_library().gadget_table, freed_gadget,
        {{"gadget_set_state", [](ObjectNumber n) { return gadget_set_state(n, picture()); }},
         {"gadget_destroy_existing",
          [](ObjectNumber n) { return gadget_destroy_existing(n), intptr_t(0); }}},
        {{"gadget_image_create",
          [](ObjectNumber n) { return gadget_image_create(n, 0, 0, 0, 0, HANDLE(picture())); }},
         {"gadget_image_create_ex", [](ObjectNumber n) {
              return gadget_image_create_ex(n, 0, 0, 0, 0, HANDLE(picture()), WS_EX_CLIENTEDGE);
          }}});
    // No control was left behind in the window by the refused creations.
    EXPECT_EQ(child_count(program_window()), 1);
}

TEST_F(HostileNumbers, TableOperationsAnswerNullAndChangeNothing) {
    ObjectTable *tables[] = {image_library().image_table, window_library().window_table,
                             gadget_library().gadget_table};
    ObjectNumber freed[] = {freed_image, freed_window, freed_gadget};
    for (int t = 0; t < 3; t++) {
        ObjectTable *table = tables[t];
        expect_refused(
            table, freed[t],
            {{"object_table_get",
              [table](ObjectNumber n) { return intptr_t(object_table_get(table, n)); }},
             {"object_table_free",
              [table](ObjectNumber n) { return object_table_free(table, n), intptr_t(0); }}},
            {{"object_table_alloc",
              [table](ObjectNumber n) { return intptr_t(object_table_alloc(table, n)); }}});
    }
}

// Numbers also arrive through the platform: a window property or a control identifier
// that some other code set. Neither may lead the runtime to read through them.
TEST_F(HostileNumbers, ForgedPropertiesAndIdentifiersFindNoRecord) {
    HWND window = program_window();
    HWND foreign = CreateWindowExA(0, "STATIC", "foreign", WS_CHILD | WS_VISIBLE, 600, 0, 10, 10,
                                   window, nullptr, GetModuleHandleA(nullptr), nullptr);
    HWND top = CreateWindowExA(0, "STATIC", "foreign top", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(foreign, nullptr);
    ASSERT_NE(top, nullptr);
    for (const Hostile &h : hostile(gadget_library().gadget_table, freed_gadget, false)) {
        if (h.number == 0 || h.number == ANY_ID) continue; // identifier -1 means "no gadget"
        SetWindowLongPtrA(foreign, GWLP_ID, h.number);
        SetPropA(foreign, "KX_ID", reinterpret_cast<HANDLE>(h.number));
        SetPropA(top, "KX_WindowID", reinterpret_cast<HANDLE>(uintptr_t(h.number) + 1u));
        auto before = world();
        EXPECT_EQ(gadget_notify_dispatch(foreign, window, WM_CTLCOLORSTATIC, 0,
                                         reinterpret_cast<LPARAM>(foreign)),
                  NOT_HANDLED)
            << h.name;
        SendMessageA(window, WM_CTLCOLORSTATIC, 0, reinterpret_cast<LPARAM>(foreign));
        // A click notification from it is the window's own gadget event, with the forged
        // number, and nothing more.
        SendMessageA(window, WM_COMMAND, MAKEWPARAM(0, STN_CLICKED),
                     reinterpret_cast<LPARAM>(foreign));
        EXPECT_EQ(window_event_state()->pending_event, EVENT_GADGET) << h.name;
        EXPECT_EQ(window_event_state()->event_number, h.number) << h.name;
        window_event_state()->pending_event = 0;
        EXPECT_EQ(accelerator_for_window(top), nullptr) << h.name;
        MINMAXINFO limits = {};
        EXPECT_EQ(window_event_proc(top, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits)),
                  NOT_HANDLED)
            << h.name;
        EXPECT_EQ(limits.ptMaxTrackSize.x, 0) << h.name;
        EXPECT_TRUE(world() == before) << h.name;
        EXPECT_TRUE(runtime_heaps_valid()) << h.name;
    }
    DestroyWindow(foreign);
    DestroyWindow(top);
    run_waiting_events();
}

// A data record arrives as a bare lParam. Anything that is no live record of the
// application heap is not taken: the event comes without data and the next wait frees
// nothing. A real record is still taken and freed with its buffer.
TEST_F(HostileNumbers, DataMessagesTakeOnlyRecordsOfTheApplicationHeap) {
    HWND window = program_window();
    EventState *events = window_event_state();
    auto *freed = static_cast<EventAuxData *>(heap_alloc(app_heap(), 0, sizeof(EventAuxData)));
    heap_free(app_heap(), freed);
    auto *tiny = heap_alloc(app_heap(), 0, 1); // a block too small to be a record
    HANDLE other_heap = HeapCreate(0, 4096, 0);
    void *foreign = HeapAlloc(other_heap, 0, sizeof(EventAuxData));
    // A record of the heap whose buffer is a stray number: the record goes, the number stays.
    auto *stray_buffer =
        static_cast<EventAuxData *>(heap_alloc(app_heap(), 0, sizeof(EventAuxData)));
    stray_buffer->buffer = live_looking_page();
    const LPARAM strays[] = {
        // numbers, pages, a freed block, a small one, another heap's, the program's own globals
        1,
        -1,
        0x12345678,
        LPARAM(no_access_page()),
        LPARAM(live_looking_page()),
        LPARAM(freed),
        LPARAM(tiny),
        LPARAM(foreign),
        LPARAM(&app)};
    HeapUse before = heap_use(app_heap());
    for (LPARAM stray : strays) {
        for (UINT message : {MSG_DATA, MSG_ITEM_DATA}) {
            SendMessageA(window, message, 5, stray);
            EXPECT_EQ(events->aux_data, nullptr) << message << " with " << stray;
            EXPECT_EQ(events->pending_event, int32_t(message)) << "the event still comes";
            PostMessageA(window, message, 5, stray);
            EXPECT_EQ(event_wait_timeout(0), int32_t(message));
            EXPECT_EQ(events->aux_data, nullptr);
            run_waiting_events();
        }
    }
    HeapUse after = heap_use(app_heap());
    EXPECT_EQ(std::tie(after.blocks, after.bytes), std::tie(before.blocks, before.bytes));
    EXPECT_TRUE(HeapValidate(other_heap, 0, foreign));
    SendMessageA(window, MSG_DATA, 0, reinterpret_cast<LPARAM>(stray_buffer));
    EXPECT_EQ(events->aux_data, stray_buffer);
    run_waiting_events();
    EXPECT_EQ(heap_use(app_heap()).blocks, before.blocks - 1) << "the record went, nothing more";
    EXPECT_EQ(*static_cast<uint8_t *>(live_looking_page()), 0xFF);

    auto *real = static_cast<EventAuxData *>(heap_alloc(app_heap(), 0, sizeof(EventAuxData)));
    real->buffer = heap_alloc(app_heap(), 0, 100);
    SendMessageA(window, MSG_ITEM_DATA, 3, reinterpret_cast<LPARAM>(real));
    EXPECT_EQ(events->aux_data, real);
    EXPECT_EQ(event_menu(), 3);
    run_waiting_events();
    EXPECT_EQ(events->aux_data, nullptr);
    EXPECT_EQ(heap_use(app_heap()).blocks, before.blocks - 1) << "record and buffer went";
    EXPECT_TRUE(runtime_heaps_valid());
    heap_free(app_heap(), tiny);
    HeapDestroy(other_heap);
}

} // namespace

// Object numbers that name nothing: every operation answers 0 or null, changes nothing
// and reads through nothing (a number that is a no-access page would fault if it did).
#include "tests/reliability/reliability_support.h"
#include "app/app.h"
#include "runtime/core/core_private.h"
#include "runtime/image/image_private.h"
#include <limits.h>
#include <string>

namespace {

// A table as it stands: its capacity, its storage and every byte of it, its dynamic list.
struct TableState {
    int32_t capacity;
    uint8_t *slots;
    std::vector<uint8_t> bytes;
    std::vector<DynamicNode *> nodes;

    bool operator==(const TableState &o) const {
        return capacity == o.capacity && slots == o.slots && bytes == o.bytes && nodes == o.nodes;
    }
};

TableState table_state(const ObjectTable *table) {
    TableState state = {table->capacity, table->slots, {}, {}};
    state.bytes.assign(table->slots, table->slots + table->capacity * table->element_size);
    for (DynamicNode *node = table->dynamic_head; node; node = node->next)
        state.nodes.push_back(node);
    return state;
}

// Everything an operation on a number could have touched.
struct World {
    TableState images, windows, gadgets;
    HeapUse heap;
    int32_t windows_open;
    PostedEvent *queue_head;
    int32_t pending_event;

    bool operator==(const World &o) const {
        return images == o.images && windows == o.windows && gadgets == o.gadgets &&
               heap.blocks == o.heap.blocks && heap.bytes == o.heap.bytes &&
               windows_open == o.windows_open && queue_head == o.queue_head &&
               pending_event == o.pending_event;
    }
};

World world() {
    run_waiting_events();
    EventState *events = window_event_state();
    return {table_state(image_library().image_table),
            table_state(window_library().window_table),
            table_state(gadget_library().gadget_table),
            runtime_heap_use(),
            thread_window_count(),
            events->queue_head,
            events->pending_event};
}

struct Hostile {
    std::string name;
    ObjectNumber number;
};

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

    // The numbers that no operation may act on, for a table and that library's freed number.
    std::vector<Hostile> hostile(const ObjectTable *table, ObjectNumber freed, bool creation) {
        auto address = [](void *page) {
            return reinterpret_cast<ObjectNumber>(static_cast<uint8_t *>(page) +
                                                  sizeof(DynamicNode));
        };
        std::vector<Hostile> numbers = {
            {"-2", -2},
            {"INT_MIN", INT_MIN},
            {"INT_MAX", INT_MAX},
            {"INTPTR_MIN", INTPTR_MIN},
            {"INTPTR_MAX", INTPTR_MAX},
        };
        if (creation) return numbers;
        numbers.push_back({"-1", ANY_ID});
        numbers.push_back({"capacity", table->capacity});
        numbers.push_back({"capacity + 1", table->capacity + 1});
        numbers.push_back({"a freed ANY_ID number", freed});
        numbers.push_back({"a no-access page", address(no_access_page())});
        numbers.push_back({"a page that looks alive", address(live_looking_page())});
        numbers.push_back({"the page itself", reinterpret_cast<ObjectNumber>(live_looking_page())});
        numbers.push_back({"the address of a live record",
                           reinterpret_cast<ObjectNumber>(
                               object_table_get(const_cast<ObjectTable *>(table), 0))});
        return numbers;
    }

    // Runs `call` on every hostile number; each must answer 0 and change nothing.
    template <typename Call>
    void expect_refused(const char *operation, const std::vector<Hostile> &numbers, Call call) {
        for (const Hostile &h : numbers) {
            World before = world();
            intptr_t answer = call(h.number);
            World after = world();
            EXPECT_EQ(answer, 0) << operation << " with " << h.name;
            EXPECT_TRUE(before == after) << operation << " with " << h.name << " changed something";
            EXPECT_TRUE(runtime_heaps_valid()) << operation << " with " << h.name;
        }
    }
};

TEST_F(HostileNumbers, ImageOperationsAnswerZeroAndChangeNothing) {
    auto numbers = hostile(image_library().image_table, freed_image, false);
    expect_refused("image_handle", numbers,
                   [](ObjectNumber n) { return reinterpret_cast<intptr_t>(image_handle(n)); });
    expect_refused("image_width", numbers, [](ObjectNumber n) { return intptr_t(image_width(n)); });
    expect_refused("image_height", numbers,
                   [](ObjectNumber n) { return intptr_t(image_height(n)); });
    expect_refused("image_output", numbers,
                   [](ObjectNumber n) { return reinterpret_cast<intptr_t>(image_output(n)); });
    expect_refused("image_free", numbers, [](ObjectNumber n) {
        image_free(n);
        return intptr_t(0);
    });
    auto creations = hostile(image_library().image_table, freed_image, true);
    expect_refused("image_create", creations,
                   [](ObjectNumber n) { return image_create(n, 16, 16); });
    expect_refused("image_create_with_depth", creations,
                   [](ObjectNumber n) { return image_create_with_depth(n, 16, 16, 24); });
    // Image 0 is untouched.
    EXPECT_EQ(image_width(0), 513);
    EXPECT_NE(image_handle(0), nullptr);
}

TEST_F(HostileNumbers, WindowOperationsAnswerZeroAndChangeNothing) {
    auto numbers = hostile(window_library().window_table, freed_window, false);
    expect_refused("window_close", numbers,
                   [](ObjectNumber n) { return intptr_t(window_close(n)); });
    expect_refused("window_inner_width", numbers,
                   [](ObjectNumber n) { return intptr_t(window_inner_width(n)); });
    expect_refused("window_inner_height", numbers,
                   [](ObjectNumber n) { return intptr_t(window_inner_height(n)); });
    expect_refused("shortcut_add", numbers, [](ObjectNumber n) {
        return reinterpret_cast<intptr_t>(shortcut_add(n, 'Q', 9));
    });
    auto creations = hostile(window_library().window_table, freed_window, true);
    expect_refused("window_open", creations, [](ObjectNumber n) {
        return window_open(n, 0, 0, 40, 40, "hostile", OPEN_NO_GADGET_LIST);
    });
    EXPECT_EQ(window_inner_width(0), 513);
}

TEST_F(HostileNumbers, GadgetOperationsAnswerZeroAndChangeNothing) {
    auto numbers = hostile(gadget_library().gadget_table, freed_gadget, false);
    HANDLE picture = image_handle(0);
    expect_refused("gadget_set_state", numbers, [picture](ObjectNumber n) {
        return gadget_set_state(n, reinterpret_cast<intptr_t>(picture));
    });
    expect_refused("gadget_destroy_existing", numbers, [](ObjectNumber n) {
        gadget_destroy_existing(n);
        return intptr_t(0);
    });
    auto creations = hostile(gadget_library().gadget_table, freed_gadget, true);
    expect_refused("gadget_image_create", creations, [picture](ObjectNumber n) {
        return gadget_image_create(n, 0, 0, 0, 0, picture);
    });
    expect_refused("gadget_image_create_ex", creations, [picture](ObjectNumber n) {
        return gadget_image_create_ex(n, 0, 0, 0, 0, picture, WS_EX_CLIENTEDGE);
    });
    // No control was left behind in the window by the refused creations.
    EXPECT_EQ(child_count(program_window()), 1);
}

TEST_F(HostileNumbers, TableOperationsAnswerNullAndChangeNothing) {
    ObjectTable *tables[] = {image_library().image_table, window_library().window_table,
                             gadget_library().gadget_table};
    ObjectNumber freed[] = {freed_image, freed_window, freed_gadget};
    for (int t = 0; t < 3; t++) {
        ObjectTable *table = tables[t];
        auto numbers = hostile(table, freed[t], false);
        expect_refused("object_table_get", numbers, [table](ObjectNumber n) {
            return reinterpret_cast<intptr_t>(object_table_get(table, n));
        });
        expect_refused("object_table_free", numbers, [table](ObjectNumber n) {
            object_table_free(table, n);
            return intptr_t(0);
        });
        expect_refused("object_table_alloc", hostile(table, freed[t], true),
                       [table](ObjectNumber n) {
                           return reinterpret_cast<intptr_t>(object_table_alloc(table, n));
                       });
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
        World before = world();
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
        1,
        -1,
        LPARAM(0x12345678),
        reinterpret_cast<LPARAM>(no_access_page()),
        reinterpret_cast<LPARAM>(live_looking_page()),
        reinterpret_cast<LPARAM>(freed),
        reinterpret_cast<LPARAM>(tiny),
        reinterpret_cast<LPARAM>(foreign),
        reinterpret_cast<LPARAM>(&app), // the program's own globals
    };
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
    EXPECT_EQ(after.blocks, before.blocks);
    EXPECT_EQ(after.bytes, before.bytes);
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

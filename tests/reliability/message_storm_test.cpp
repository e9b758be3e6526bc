// A storm of messages with random numbers and parameters, sent to the program's window
// and to its image gadget: afterwards both, and the event state, are as they were, and
// every command still works.
#include "tests/reliability/reliability_support.h"
#include "app/app.h"
#include "runtime/image/image.h"
#include "tests/support/pixels.h"
#include <algorithm>
#include <atomic>
#include <iterator>
#include <random>
#include <thread>
#include <tuple>

namespace {

// Two messages these headers do not name: the one that asks for a window's size at another
// resolution, and the one that pops up the system menu directly.
const UINT GET_DPI_SCALED_SIZE = 0x02E4;
const UINT POPUP_SYSTEM_MENU = 0x0313;

// Messages whose lParam the platform defines as a pointer get a zeroed block large enough for
// their structure; the counted ones carry its size in characters in wParam.
const UINT POINTER_MESSAGES[] = {
    // text, settings, owner-drawn items, placement, data and notifications
    WM_SETTEXT, WM_GETTEXT, WM_WININICHANGE, WM_DEVMODECHANGE, WM_GETMINMAXINFO, WM_DRAWITEM,
    WM_MEASUREITEM, WM_DELETEITEM, WM_COMPAREITEM, WM_WINDOWPOSCHANGING, WM_WINDOWPOSCHANGED,
    WM_COPYDATA, WM_NOTIFY, WM_HELP, WM_STYLECHANGING, WM_STYLECHANGED, WM_NCCALCSIZE,
    WM_GETDLGCODE, WM_GESTURENOTIFY, WM_MENUGETOBJECT, WM_NEXTMENU, WM_SIZING, WM_MOVING,
    // system, child window, input method and resolution requests
    WM_POWERBROADCAST, WM_DEVICECHANGE, WM_MDICREATE, WM_MDIGETACTIVE, WM_IME_CONTROL,
    WM_IME_REQUEST, WM_DPICHANGED, GET_DPI_SCALED_SIZE, WM_ASKCBFORMATNAME, WM_GETTITLEBARINFOEX};
const UINT COUNTED_MESSAGES[] = {WM_GETTEXT, WM_ASKCBFORMATNAME};

// Left out: the life-cycle messages only the system sends (a window told it is being destroyed
// lets go of its runtime records), and those whose default handling runs a modal loop that
// waits for a person (system menu, menu tracking, moving and sizing, context help). WM_CLOSE
// is left out for the gadget only: a control asked to close destroys itself.
const UINT LEFT_OUT[] = {
    // creation and destruction
    WM_CREATE, WM_NCCREATE, WM_DESTROY, WM_NCDESTROY,
    // modal loops
    WM_SYSCOMMAND, WM_CONTEXTMENU, WM_NCLBUTTONDOWN, WM_NCLBUTTONDBLCLK, WM_NCRBUTTONDOWN,
    WM_NCRBUTTONUP, WM_SYSKEYDOWN, WM_SYSKEYUP, WM_SYSCHAR, POPUP_SYSTEM_MENU};

// The platform's menu keys reach the modal menu loop through plain key messages too.
const UINT MENU_KEYS[] = {VK_F10, VK_MENU, VK_LMENU, VK_RMENU};

// The messages the runtime and the image gadget handle themselves, to meet them often.
const UINT HANDLED_MESSAGES[] = {
    // the window's
    WM_MOVE, WM_SIZE, WM_ACTIVATE, WM_CLOSE, WM_ERASEBKGND, WM_SYSCOLORCHANGE, WM_GETMINMAXINFO,
    // from and to controls
    WM_NOTIFY, WM_COMMAND, WM_HSCROLL, WM_VSCROLL, WM_CTLCOLOREDIT, WM_CTLCOLORLISTBOX,
    WM_CTLCOLORBTN, WM_CTLCOLORSTATIC, WM_ENABLE, WM_PAINT, WM_PRINT, STM_SETICON, STM_SETIMAGE,
    STM_GETICON, STM_GETIMAGE, WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK,
    WM_RBUTTONUP, WM_RBUTTONDBLCLK, WM_KEYDOWN, WM_KEYUP, WM_TIMER,
    // the runtime's own
    MSG_ITEM_MOUSE, MSG_ITEM_MOUSE_DEFERRED, MSG_GADGET_EVENT, MSG_DATA, MSG_ITEM_DATA,
    MSG_GADGET_FORWARD};

template <size_t N> bool listed(const UINT (&list)[N], UINT value) {
    return std::find(list, list + N, value) != list + N;
}

bool left_out(UINT message, bool to_gadget) {
    return listed(LEFT_OUT, message) || (message == WM_CLOSE && to_gadget);
}

WPARAM tame_key(UINT message, WPARAM key) {
    bool menu_key = (message == WM_KEYDOWN || message == WM_KEYUP) && listed(MENU_KEYS, key & 0xFF);
    return menu_key ? key & ~WPARAM(0xFF) : key;
}

struct Storm {
    std::mt19937 random;
    HWND window, gadget;
    bool faulting_pages; // a no-access page among the pointer-like parameters
    std::atomic<uint32_t> sent{0};
    std::atomic<UINT> current{0};
    int32_t menus = 0, data_records = 0;

    // One message to one target: sent, or posted through the thread's queue.
    void one(HWND target) {
        bool to_gadget = target == gadget;
        UINT message = message_number(to_gadget);
        WPARAM wparam = tame_key(message, WPARAM(parameter()));
        LPARAM lparam = LPARAM(parameter());
        bool pointer = listed(POINTER_MESSAGES, message);
        if (pointer) {
            memset(block, 0, sizeof block);
            lparam = reinterpret_cast<LPARAM>(block);
            if (listed(COUNTED_MESSAGES, message)) wparam = sizeof block;
        } else if ((message == MSG_DATA || message == MSG_ITEM_DATA) && !to_gadget &&
                   random() % 4 == 0) {
            // Only a runtime window takes a record over; the gadget would leave it lying.
            lparam = reinterpret_cast<LPARAM>(data_record());
        }
        current = message;
        if (!pointer && random() % 5 == 0) {
            // A posted timer message names its callback in lParam: none.
            if (message == WM_TIMER) lparam = 0;
            PostMessageA(target, message, wparam, lparam);
        } else {
            SendMessageA(target, message, wparam, lparam);
        }
        sent++;
    }

    // Takes everything waiting through the program's own loop body.
    void drain() { menus += run_waiting_events(); }

    alignas(16) uint8_t block[8192] = {}; // stands in for the structures of POINTER_MESSAGES

    // Of the system's range (twice as often), handled by the runtime, of the private range, or
    // any at all; never one left out.
    UINT message_number(bool to_gadget) {
        for (;;) {
            uint32_t kind = random() % 5;
            UINT message = kind < 2    ? random() % WM_USER
                           : kind == 2 ? HANDLED_MESSAGES[random() % std::size(HANDLED_MESSAGES)]
                           : kind == 3 ? WM_USER + random() % (0x8000 - WM_USER)
                                       : random() % 0x10000;
            if (!left_out(message, to_gadget)) return message;
        }
    }

    // Small numbers, words, whole numbers, handles of the program's own objects, addresses of
    // pages that fault or look alive, and points.
    intptr_t parameter() {
        const intptr_t small[] = {0, 1, -1};
        uint32_t kind = random() % 10;
        if (kind < 3) return small[kind];
        if (kind == 3) return intptr_t(random() % 16);
        if (kind == 4) return intptr_t(random() & 0xFFFF);
        if (kind == 5) return intptr_t(int32_t(random()));
        if (kind == 6) return intptr_t((uint64_t(random()) << 32) | random());
        if (kind == 7) {
            HANDLE handles[] = {window, gadget, image_handle(0), GetStockObject(DEFAULT_GUI_FONT)};
            return reinterpret_cast<intptr_t>(handles[random() % 4]);
        }
        if (kind == 8)
            return reinterpret_cast<intptr_t>(random() % 2 && faulting_pages ? no_access_page()
                                                                             : live_looking_page());
        return MAKELPARAM(random() % 600, random() % 600);
    }

    // A data record as a sender would hand it over: the runtime owns it from then on.
    EventAuxData *data_record() {
        auto *record = static_cast<EventAuxData *>(heap_alloc(app_heap(), 0, sizeof(EventAuxData)));
        if (!record) return nullptr;
        record->buffer = random() % 2 ? heap_alloc(app_heap(), 0, 1 + random() % 200) : nullptr;
        data_records++;
        return record;
    }
};

// Notes in `stuck` a storm that stopped moving (a modal loop nobody ends) instead of
// hanging, and frees it with the keys that end such loops, until it goes.
struct Watchdog {
    Storm &storm;
    std::vector<UINT> &stuck; // read only once the watchdog is gone
    DWORD thread = GetCurrentThreadId();
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread watching{[this] { watch(); }};

    ~Watchdog() {
        SetEvent(stop);
        watching.join();
        CloseHandle(stop);
    }
    void watch() {
        for (uint32_t last = ~0u; WaitForSingleObject(stop, 5000) == WAIT_TIMEOUT;) {
            uint32_t now = storm.sent;
            if (now == last) {
                stuck.push_back(storm.current);
                PostThreadMessageA(thread, WM_CANCELMODE, 0, 0);
                PostThreadMessageA(thread, WM_KEYDOWN, VK_ESCAPE, 0);
                PostThreadMessageA(thread, WM_KEYUP, VK_ESCAPE, 0);
                ReleaseCapture();
            }
            last = now;
        }
    }
};

// What the storm must leave as it found it.
struct ProgramShape {
    HWND window = nullptr, control = nullptr, list_parent = nullptr;
    WNDPROC window_proc = nullptr, control_proc = nullptr, gadget_prev_proc = nullptr;
    const GadgetTypeOps *gadget_ops = nullptr;
    std::vector<ACCEL> shortcuts;
    HACCEL accel_table = nullptr;
    void *list_record = nullptr;
};

ProgramShape program_shape() {
    WindowRecord *window = window_record(0);
    GadgetRecord *gadget = gadget_record(0);
    if (!window || !gadget) return {};
    return {window->window,
            gadget->window,
            gadget_list_state()->parent,
            reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window->window, GWLP_WNDPROC)),
            reinterpret_cast<WNDPROC>(GetWindowLongPtrA(gadget->window, GWLP_WNDPROC)),
            gadget->prev_proc,
            gadget->ops,
            std::vector<ACCEL>(window->shortcuts, window->shortcuts + window->shortcut_count),
            window->accel_table,
            gadget_list_save(window->window)};
}

void expect_same_shape(const ProgramShape &a, const ProgramShape &b) {
    ASSERT_NE(b.window, nullptr) << "window 0 is gone";
    ASSERT_NE(b.control, nullptr) << "gadget 0 is gone";
    EXPECT_EQ(std::tie(b.window, b.control, b.list_parent, b.list_record, b.accel_table),
              std::tie(a.window, a.control, a.list_parent, a.list_record, a.accel_table));
    EXPECT_EQ(std::tie(b.window_proc, b.control_proc, b.gadget_prev_proc, b.gadget_ops),
              std::tie(a.window_proc, a.control_proc, a.gadget_prev_proc, a.gadget_ops));
    EXPECT_TRUE(IsWindow(b.window));
    EXPECT_TRUE(IsWindow(b.control));
    EXPECT_EQ(GetParent(b.control), b.window);
    EXPECT_EQ(b.shortcuts.size(), a.shortcuts.size());
    EXPECT_EQ(0, memcmp(b.shortcuts.data(), a.shortcuts.data(),
                        std::min(a.shortcuts.size(), b.shortcuts.size()) * sizeof(ACCEL)));
    EXPECT_EQ(CopyAcceleratorTableA(b.accel_table, nullptr, 0), int(a.shortcuts.size()));
    EXPECT_EQ(GetWindowLongPtrA(b.control, GWLP_ID), 0);
    EXPECT_EQ(GetPropA(b.window, "KX_WindowID"), reinterpret_cast<HANDLE>(1));
    EXPECT_NE(b.list_record, nullptr);
}

// What the gadget paints at (x, y), asked through WM_PRINT.
COLORREF gadget_painted_pixel(HWND control, int x, int y) {
    HBITMAP bitmap = test_bitmap(513, 513, 0, nullptr);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    SendMessageA(control, WM_PRINT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    COLORREF c = GetPixel(dc, x, y);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return c;
}

// The seven commands, each through the real event path, each with its effect on the
// grid, the view and the picture the gadget shows.
void expect_commands_work() {
    for (int32_t menu = 0; menu < APP_MENU_COUNT; menu++) {
        int32_t before = grid_get(app.grid, 200, 300);
        EXPECT_EQ(run_command(menu), menu) << "menu " << menu;
        int32_t after = grid_get(app.grid, 200, 300);
        if (menu == 1 || menu == 2) {
            EXPECT_EQ(app.color_view, menu - 1);
            EXPECT_EQ(after, before);
        }
        if (menu == 6) {
            EXPECT_EQ(after, 255 - before);
        }
        HANDLE picture = image_handle(0);
        GadgetRecord *gadget = gadget_record(0);
        ASSERT_NE(gadget, nullptr);
        EXPECT_EQ(gadget_get_state(0), reinterpret_cast<intptr_t>(picture));
        COLORREF shown = bitmap_pixel(picture, 200, 300);
        if (app.color_view == 0) {
            EXPECT_EQ(shown, RGB(after, after, after)) << "menu " << menu;
        }
        EXPECT_EQ(gadget_painted_pixel(gadget->window, 200, 300), shown) << "menu " << menu;
    }
}

// Message pairs (to the window, to the gadget) sent within HM_STORM_SECONDS, at the least.
const int32_t STORM_LEAST = 2000;

class MessageStorm : public ProgramTest {};

TEST_F(MessageStorm, WindowGadgetAndEventsSurviveAStormOfMessages) {
    ProgramShape before = program_shape();
    HWND window = before.window, control = before.control;
    ASSERT_NE(control, nullptr);
    auto held = [] {
        HeapUse heap = runtime_heap_use();
        return std::make_tuple(heap.blocks, heap.bytes, thread_window_count());
    };
    auto held_before = held();
    load_shared_cursors_and_icons();
    int64_t gdi_before = gdi_objects();

    int32_t most = run_parameter("HM_STORM_MESSAGES", 100000);
    DWORD budget = DWORD(run_parameter("HM_STORM_SECONDS", 20)) * 1000;
    DWORD start = GetTickCount();
    // qemu-i386 7.2 cannot hand a 32-bit program a page fault as an exception (its signal frame
    // carries no page-fault trap number, and the watchdog's thread moves the faulting thread's
    // exception chain): under emulation no parameter is a no-access page.
    Storm storm{std::mt19937(7), window, control, !running_emulated()};
    std::vector<UINT> stuck;
    {
        Watchdog watchdog{storm, stuck};
        for (int32_t i = 0; i < most && (i < STORM_LEAST || GetTickCount() - start < budget); i++) {
            storm.one(window);
            storm.one(control);
            if (i % 64 == 63) storm.drain();
        }
        storm.drain();
    }
    ReleaseCapture();
    storm.drain();
    printf("storm: %u messages in %lu ms, %d menu events run, %d data records\n", storm.sent.load(),
           GetTickCount() - start, storm.menus, storm.data_records);
    for (UINT m : stuck)
        ADD_FAILURE() << "the storm stood still at message " << m;

    // The storm's own posted messages are through; the event state is empty again.
    EventState *events = window_event_state();
    EXPECT_EQ(event_wait_timeout(0), 0);
    EXPECT_EQ(events->queue_head, nullptr);
    EXPECT_EQ(events->queue_tail, nullptr);
    EXPECT_EQ(events->pending_event, 0);
    EXPECT_EQ(events->aux_data, nullptr);
    expect_same_shape(before, program_shape());
    EXPECT_TRUE(runtime_heaps_valid());
    EXPECT_EQ(held(), held_before) << "heap blocks and bytes, and windows";
    EXPECT_LE(gdi_objects(), gdi_before + 4);

    // What the storm did to the window as the platform's own state (its title, its
    // visibility, its place) is the platform's business; the program puts it right
    // and then runs every command.
    SetWindowTextA(window, "Heightmap");
    ShowWindow(window, SW_SHOWNORMAL);
    ShowWindow(control, SW_SHOW);
    expect_commands_work();
}

} // namespace

// A storm of messages with random numbers and parameters, sent to the program's window
// and to its image gadget: afterwards both, and the event state, are as they were, and
// every command still works.
#include "tests/reliability/reliability_support.h"
#include "app/app.h"
#include "runtime/image/image.h"
#include "tests/support/pixels.h"
#include <algorithm>
#include <atomic>
#include <imm.h>
#include <random>
#include <string>

namespace {

// Messages whose parameters the platform defines as pointers: they get a pointer to a
// zeroed block large enough for their structure. `counted` messages carry the block's
// size in characters in wParam.
struct PointerMessage {
    UINT message;
    bool counted;
};

const PointerMessage POINTER_MESSAGES[] = {
    {WM_SETTEXT, false},
    {WM_GETTEXT, true},
    {WM_WININICHANGE, false},
    {WM_DEVMODECHANGE, false},
    {WM_GETMINMAXINFO, false},
    {WM_DRAWITEM, false},
    {WM_MEASUREITEM, false},
    {WM_DELETEITEM, false},
    {WM_COMPAREITEM, false},
    {WM_WINDOWPOSCHANGING, false},
    {WM_WINDOWPOSCHANGED, false},
    {WM_COPYDATA, false},
    {WM_NOTIFY, false},
    {WM_HELP, false},
    {WM_STYLECHANGING, false},
    {WM_STYLECHANGED, false},
    {WM_NCCALCSIZE, false},
    {WM_GETDLGCODE, false},
    {0x011A /* WM_GESTURENOTIFY */, false},
    {WM_MENUGETOBJECT, false},
    {WM_NEXTMENU, false},
    {WM_SIZING, false},
    {WM_MOVING, false},
    {WM_POWERBROADCAST, false},
    {WM_DEVICECHANGE, false},
    {WM_MDICREATE, false},
    {WM_MDIGETACTIVE, false},
    {WM_IME_CONTROL, false},
    {WM_IME_REQUEST, false},
    {0x02E0 /* WM_DPICHANGED */, false},
    {0x02E4 /* WM_GETDPISCALEDSIZE */, false},
    {WM_ASKCBFORMATNAME, true},
    {0x033F /* WM_GETTITLEBARINFOEX */, false},
};

// Left out of the storm, with the reason:
// - the life-cycle messages that only the system sends while it creates or destroys a
//   window (a window told it is being destroyed lets go of its runtime records);
// - the messages whose default handling runs a modal loop that waits for a person: the
//   system menu (0x313 pops it up directly), menu tracking, moving and sizing, context
//   help.
// WM_CLOSE is left out for the gadget only: a control asked to close destroys itself.
bool left_out(UINT message, bool to_gadget) {
    switch (message) {
    case WM_CREATE:
    case WM_NCCREATE:
    case WM_DESTROY:
    case WM_NCDESTROY:
    case WM_SYSCOMMAND:
    case WM_CONTEXTMENU:
    case WM_NCLBUTTONDOWN:
    case WM_NCLBUTTONDBLCLK:
    case WM_NCRBUTTONDOWN:
    case WM_NCRBUTTONUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_SYSCHAR:
    case 0x0313: // WM_POPUPSYSTEMMENU
        return true;
    case WM_CLOSE:
        return to_gadget;
    default:
        return false;
    }
}

// The platform's menu keys reach the modal menu loop through plain key messages too.
WPARAM tame_key(UINT message, WPARAM key) {
    if (message != WM_KEYDOWN && message != WM_KEYUP) return key;
    switch (key & 0xFF) {
    case VK_F10:
    case VK_MENU:
    case VK_LMENU:
    case VK_RMENU:
        return key & ~WPARAM(0xFF);
    default:
        return key;
    }
}

// The messages the runtime and the image gadget handle themselves, to meet them often.
const UINT HANDLED_MESSAGES[] = {
    WM_MOVE,
    WM_SIZE,
    WM_ACTIVATE,
    WM_CLOSE,
    WM_ERASEBKGND,
    WM_SYSCOLORCHANGE,
    WM_GETMINMAXINFO,
    WM_NOTIFY,
    WM_COMMAND,
    WM_HSCROLL,
    WM_VSCROLL,
    WM_CTLCOLOREDIT,
    WM_CTLCOLORLISTBOX,
    WM_CTLCOLORBTN,
    WM_CTLCOLORSTATIC,
    WM_ENABLE,
    WM_PAINT,
    WM_PRINT,
    STM_SETICON,
    STM_SETIMAGE,
    STM_GETICON,
    STM_GETIMAGE,
    WM_MOUSEMOVE,
    WM_LBUTTONDOWN,
    WM_LBUTTONUP,
    WM_LBUTTONDBLCLK,
    WM_RBUTTONUP,
    WM_RBUTTONDBLCLK,
    WM_KEYDOWN,
    WM_KEYUP,
    WM_TIMER,
    MSG_ITEM_MOUSE,
    MSG_ITEM_MOUSE_DEFERRED,
    MSG_GADGET_EVENT,
    MSG_DATA,
    MSG_ITEM_DATA,
    MSG_GADGET_FORWARD,
};

const PointerMessage *pointer_message(UINT message) {
    for (const PointerMessage &p : POINTER_MESSAGES)
        if (p.message == message) return &p;
    return nullptr;
}

class Storm {
  public:
    Storm(uint32_t seed, HWND window, HWND gadget, bool faulting_pages)
        : random(seed), window(window), gadget(gadget), faulting_pages(faulting_pages) {}

    std::atomic<uint32_t> sent{0};
    std::atomic<UINT> current{0};
    int32_t menus = 0;
    int32_t data_records = 0;

    // One message to one target: sent, or posted through the thread's queue.
    void one(HWND target) {
        bool to_gadget = target == gadget;
        UINT message = message_number(to_gadget);
        WPARAM wparam = tame_key(message, WPARAM(parameter()));
        LPARAM lparam = LPARAM(parameter());
        const PointerMessage *pointer = pointer_message(message);
        if (pointer) {
            memset(block, 0, sizeof block);
            lparam = reinterpret_cast<LPARAM>(block);
            if (pointer->counted) wparam = sizeof block;
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

  private:
    std::mt19937 random;
    HWND window, gadget;
    bool faulting_pages;             // a no-access page among the pointer-like parameters
    alignas(16) uint8_t block[8192]; // stands in for the structures of POINTER_MESSAGES

    UINT message_number(bool to_gadget) {
        for (;;) {
            UINT message;
            switch (random() % 5) {
            case 0:
            case 1:
                message = random() % WM_USER;
                break;
            case 2:
                message = HANDLED_MESSAGES[random() %
                                           (sizeof HANDLED_MESSAGES / sizeof HANDLED_MESSAGES[0])];
                break;
            case 3:
                message = WM_USER + random() % (0x8000 - WM_USER);
                break;
            default:
                message = random() % 0x10000;
                break;
            }
            if (!left_out(message, to_gadget)) return message;
        }
    }

    intptr_t parameter() {
        switch (random() % 10) {
        case 0:
            return 0;
        case 1:
            return 1;
        case 2:
            return -1;
        case 3:
            return intptr_t(random() % 16);
        case 4:
            return intptr_t(random() & 0xFFFF);
        case 5:
            return intptr_t(int32_t(random()));
        case 6:
            return intptr_t((uint64_t(random()) << 32) | random());
        case 7: {
            HANDLE handles[] = {window, gadget, image_handle(0), GetStockObject(DEFAULT_GUI_FONT)};
            return reinterpret_cast<intptr_t>(handles[random() % 4]);
        }
        case 8:
            return reinterpret_cast<intptr_t>(random() % 2 && faulting_pages ? no_access_page()
                                                                             : live_looking_page());
        default:
            return MAKELPARAM(random() % 600, random() % 600);
        }
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

// Reports a storm that stopped moving (a modal loop nobody ends) instead of hanging, and
// frees it with the keys that end such loops.
class Watchdog {
  public:
    Watchdog(Storm &storm) : storm(storm), thread(GetCurrentThreadId()) {
        stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        handle = CreateThread(nullptr, 0, run, this, 0, nullptr);
    }
    ~Watchdog() {
        SetEvent(stop);
        WaitForSingleObject(handle, INFINITE);
        CloseHandle(handle);
        CloseHandle(stop);
    }
    std::vector<UINT> stuck;

  private:
    Storm &storm;
    DWORD thread;
    HANDLE stop, handle;

    static DWORD WINAPI run(void *self) {
        auto *dog = static_cast<Watchdog *>(self);
        uint32_t last = ~0u;
        while (WaitForSingleObject(dog->stop, 5000) == WAIT_TIMEOUT) {
            uint32_t now = dog->storm.sent;
            if (now == last) {
                dog->stuck.push_back(dog->storm.current);
                PostThreadMessageA(dog->thread, WM_CANCELMODE, 0, 0);
                PostThreadMessageA(dog->thread, WM_KEYDOWN, VK_ESCAPE, 0);
                PostThreadMessageA(dog->thread, WM_KEYUP, VK_ESCAPE, 0);
                ReleaseCapture();
            }
            last = now;
        }
        return 0;
    }
};

// What the storm must leave as it found it.
struct ProgramShape {
    HWND window, control;
    WNDPROC window_proc, control_proc;
    std::vector<ACCEL> shortcuts;
    HACCEL accel_table;
    GadgetRecord gadget;
    HWND list_parent;
    void *list_record;
};

ProgramShape program_shape() {
    ProgramShape shape = {};
    WindowRecord *window = window_record(0);
    GadgetRecord *gadget = gadget_record(0);
    if (!window || !gadget) return shape;
    shape.window = window->window;
    shape.control = gadget->window;
    shape.window_proc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(shape.window, GWLP_WNDPROC));
    shape.control_proc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(shape.control, GWLP_WNDPROC));
    shape.shortcuts.assign(window->shortcuts, window->shortcuts + window->shortcut_count);
    shape.accel_table = window->accel_table;
    shape.gadget = *gadget;
    // The drag and right double click state may differ.
    shape.gadget.kind_data[1] = shape.gadget.kind_data[2] = shape.gadget.kind_data[3] = 0;
    shape.list_parent = gadget_list_state()->parent;
    shape.list_record = gadget_list_save(shape.window);
    return shape;
}

void expect_same_shape(const ProgramShape &a, const ProgramShape &b) {
    ASSERT_NE(b.window, nullptr) << "window 0 is gone";
    ASSERT_NE(b.control, nullptr) << "gadget 0 is gone";
    EXPECT_EQ(b.window, a.window);
    EXPECT_EQ(b.control, a.control);
    EXPECT_TRUE(IsWindow(b.window));
    EXPECT_TRUE(IsWindow(b.control));
    EXPECT_EQ(GetParent(b.control), b.window);
    EXPECT_EQ(b.window_proc, a.window_proc);
    EXPECT_EQ(b.control_proc, a.control_proc);
    EXPECT_EQ(b.shortcuts.size(), a.shortcuts.size());
    EXPECT_EQ(0, memcmp(b.shortcuts.data(), a.shortcuts.data(),
                        std::min(a.shortcuts.size(), b.shortcuts.size()) * sizeof(ACCEL)));
    EXPECT_EQ(b.accel_table, a.accel_table);
    EXPECT_EQ(CopyAcceleratorTableA(b.accel_table, nullptr, 0), int(a.shortcuts.size()));
    EXPECT_EQ(b.gadget.ops, a.gadget.ops);
    EXPECT_EQ(b.gadget.prev_proc, a.gadget.prev_proc);
    EXPECT_EQ(GetWindowLongPtrA(b.control, GWLP_ID), 0);
    EXPECT_EQ(GetPropA(b.window, "KX_WindowID"), reinterpret_cast<HANDLE>(1));
    EXPECT_EQ(b.list_parent, a.list_parent);
    EXPECT_EQ(b.list_record, a.list_record);
    EXPECT_NE(b.list_record, nullptr);
}

// What the gadget paints at (x, y), asked through WM_PRINT.
COLORREF gadget_painted_pixel(HWND control, int x, int y) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 513, 513);
    ReleaseDC(nullptr, screen);
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
    activate_program_window();
    ASSERT_EQ(GetActiveWindow(), program_window());
    for (int32_t menu = 0; menu < APP_MENU_COUNT; menu++) {
        int32_t before = grid_get(app.grid, 200, 300);
        EXPECT_EQ(run_command_key(command_key(menu)), menu) << "menu " << menu;
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

// qemu-i386 7.2 cannot hand a 32-bit program a page fault as an exception: its signal frame
// carries no page-fault trap number, and all threads share one TLS descriptor table, so the
// watchdog's thread moves the faulting thread's exception chain. A read of a no-access page
// would end the process inside the system's own probe.
bool page_faults_are_exceptions() {
    if (!running_emulated()) return true;
    printf("storm: emulated, so no no-access page among the parameters\n");
    return false;
}

class MessageStorm : public ProgramTest {};

TEST_F(MessageStorm, WindowGadgetAndEventsSurviveAStormOfMessages) {
    HWND window = program_window();
    HWND control = program_gadget_control();
    ASSERT_NE(window, nullptr);
    ASSERT_NE(control, nullptr);
    ProgramShape before = program_shape();
    int32_t windows_before = thread_window_count();
    HeapUse heap_before = runtime_heap_use();
    load_shared_cursors_and_icons();
    gdi_objects(); // counting commits memory of its own once; not part of the storm
    int64_t gdi_before = gdi_objects();

    int32_t messages = run_parameter("HM_STORM_MESSAGES", 100000);
    DWORD start = GetTickCount();
    Storm storm(7, window, control, page_faults_are_exceptions());
    std::vector<UINT> stuck;
    {
        Watchdog watchdog(storm);
        for (int32_t i = 0; i < messages; i++) {
            storm.one(window);
            storm.one(control);
            if (i % 64 == 63) storm.drain();
        }
        storm.drain();
        stuck = watchdog.stuck;
    }
    ReleaseCapture();
    storm.drain();
    DWORD elapsed = GetTickCount() - start;
    printf("storm: %u messages in %lu ms, %d menu events run, %d data records\n", storm.sent.load(),
           elapsed, storm.menus, storm.data_records);
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
    HeapUse heap_after = runtime_heap_use();
    EXPECT_EQ(heap_after.blocks, heap_before.blocks);
    EXPECT_EQ(heap_after.bytes, heap_before.bytes);
    EXPECT_EQ(thread_window_count(), windows_before);
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

#include "tests/gadget/gadget_test_support.h"
#include "tests/support/test_support.h"
#include <ole2.h>

BOOL gadget_lib_init_result;
std::vector<SeenGadgetEvent> seen_events;
std::vector<SeenCommand> seen_commands;

static HWND last_move_window;
static LPARAM last_move_lparam = -1;
static int button_messages;
static int move_messages;

namespace {
class GadgetEnvironment : public testing::Environment {
  public:
    void SetUp() override {
        gadget_lib_init_result = gadget_lib_init();
        OleInitialize(nullptr);
    }
};
testing::Environment *const gadget_environment =
    testing::AddGlobalTestEnvironment(new GadgetEnvironment);
} // namespace

static LRESULT CALLBACK test_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_COMMAND) {
        HWND control = reinterpret_cast<HWND>(lparam);
        LRESULT result = gadget_notify_dispatch(control, window, message, wparam, lparam);
        seen_commands.push_back({control, wparam, result});
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

static const char *test_class() {
    static ATOM atom;
    if (!atom) {
        WNDCLASSA wc = {};
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = test_window_proc;
        wc.hInstance = test_host.app_instance;
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.hbrBackground = CreateSolidBrush(TEST_BACKGROUND);
        wc.lpszClassName = "GadgetTestWindow";
        atom = RegisterClassA(&wc);
    }
    return "GadgetTestWindow";
}

HWND test_window_create(int x, int y, int width, int height, bool runtime_window) {
    HWND window = CreateWindowExA(0, test_class(), "gadget test", WS_OVERLAPPEDWINDOW, x, y, width,
                                  height, nullptr, nullptr, test_host.app_instance, nullptr);
    if (!window) return nullptr;
    if (runtime_window) SetPropA(window, "KX_WindowID", reinterpret_cast<HANDLE>(1));
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    UpdateWindow(window);
    return window;
}

HWND test_child_create(HWND parent, int x, int y, int width, int height) {
    return CreateWindowExA(0, test_class(), nullptr, WS_CHILD | WS_VISIBLE, x, y, width, height,
                           parent, nullptr, test_host.app_instance, nullptr);
}

static void pump_once() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == MSG_GADGET_EVENT) {
            seen_events.push_back({msg.hwnd, msg.wParam, msg.lParam});
            continue;
        }
        if (msg.message >= WM_LBUTTONDOWN && msg.message <= WM_MBUTTONDBLCLK) button_messages++;
        if (msg.message == WM_MOUSEMOVE) {
            move_messages++;
            last_move_window = msg.hwnd;
            last_move_lparam = msg.lParam;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void pump_for(DWORD ms) {
    DWORD start = GetTickCount();
    do {
        pump_once();
        Sleep(5);
    } while (GetTickCount() - start < ms);
    pump_once();
}

bool pump_until(const std::function<bool()> &done, DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        pump_once();
        if (done()) return true;
        if (GetTickCount() - start >= ms) return false;
        Sleep(5);
    }
}

struct PropSearch {
    const char *name;
    bool found;
};

static BOOL CALLBACK find_prop(HWND, LPSTR name, HANDLE, ULONG_PTR data) {
    auto *search = reinterpret_cast<PropSearch *>(data);
    if (HIWORD(reinterpret_cast<uintptr_t>(name)) == 0) return TRUE; // an integer atom
    if (lstrcmpA(name, search->name) == 0) search->found = true;
    return !search->found;
}

bool has_prop(HWND window, const char *name) {
    PropSearch search = {name, false};
    EnumPropsExA(window, find_prop, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HBITMAP test_bitmap(int width, int height, COLORREF colour, uint32_t **bits) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *pixels = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (!bitmap) return nullptr;
    auto *words = static_cast<uint32_t *>(pixels);
    uint32_t bgr = (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
    for (int i = 0; i < width * height; i++)
        words[i] = bgr;
    if (bits) *bits = words;
    return bitmap;
}

HICON test_icon(int width, int height, COLORREF colour) {
    HBITMAP colour_bitmap = test_bitmap(width, height, colour, nullptr);
    HBITMAP mask = CreateBitmap(width, height, 1, 1, nullptr);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, mask);
    PatBlt(dc, 0, 0, width, height, BLACKNESS); // black mask: every pixel opaque
    SelectObject(dc, old);
    DeleteDC(dc);
    ICONINFO info = {TRUE, 0, 0, mask, colour_bitmap};
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(mask);
    DeleteObject(colour_bitmap);
    return icon;
}

COLORREF window_pixel(HWND window, int x, int y) {
    HDC dc = GetDC(window);
    COLORREF pixel = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return pixel;
}

COLORREF screen_pixel(HWND window, int x, int y) {
    pump_for(20); // the window's drawing reaches the screen once its thread looks for messages
    POINT point = {x, y};
    ClientToScreen(window, &point);
    HDC screen = GetDC(nullptr);
    COLORREF pixel = GetPixel(screen, point.x, point.y);
    ReleaseDC(nullptr, screen);
    return pixel;
}

GadgetRecord *gadget_record(ObjectNumber number) {
    return static_cast<GadgetRecord *>(object_table_get(gadget_lib.gadget_table, number));
}

int live_gadget_count() {
    int count = 0;
    ObjectNumber number;
    object_table_iter_reset(gadget_lib.gadget_table);
    while (object_table_iter_next(gadget_lib.gadget_table, &number))
        count++;
    return count;
}

static LONG absolute(int pixel, int extent) {
    // The smallest normalised value that maps back onto this pixel.
    return LONG((int64_t(pixel) * 65536 + extent - 1) / extent);
}

static void send_move(POINT screen) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = absolute(screen.x, GetSystemMetrics(SM_CXSCREEN));
    input.mi.dy = absolute(screen.y, GetSystemMetrics(SM_CYSCREEN));
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &input, sizeof input);
}

// Waits until no mouse move has come for a while: the X server echoes pointer warps late,
// and an echo that arrives after the next step would report an older position.
static void settle_moves() {
    DWORD start = GetTickCount();
    for (;;) {
        int before = move_messages;
        pump_for(60);
        if (move_messages == before || GetTickCount() - start > 1000) return;
    }
}

bool mouse_move_to(HWND window, int x, int y) {
    POINT screen = {x, y};
    ClientToScreen(window, &screen);
    for (int attempt = 0; attempt < 5; attempt++) {
        HWND receiver = GetCapture() ? GetCapture() : WindowFromPoint(screen);
        POINT client = screen;
        ScreenToClient(receiver, &client);
        LPARAM expected = MAKELPARAM(client.x, client.y);
        send_move(screen);
        pump_until([&] { return last_move_window == receiver && last_move_lparam == expected; },
                   500);
        settle_moves();
        if (last_move_window == receiver && last_move_lparam == expected) return true;
    }
    return false;
}

bool mouse_buttons(std::initializer_list<DWORD> presses) {
    std::vector<INPUT> inputs(presses.size());
    size_t i = 0;
    for (DWORD flags : presses) {
        inputs[i] = INPUT();
        inputs[i].type = INPUT_MOUSE;
        inputs[i].mi.dwFlags = flags;
        i++;
    }
    int wanted = button_messages + int(presses.size());
    SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT));
    return pump_until([wanted] { return button_messages >= wanted; }, 2000);
}

void GadgetTest::SetUp() {
    parent = test_window_create(60, 40, 800, 700, true);
    ASSERT_NE(parent, nullptr);
    gadget_lib.list_state->parent = parent;
    pump_for(30);
    seen_events.clear();
    seen_commands.clear();
    last_move_window = nullptr;
    last_move_lparam = -1;
}

void GadgetTest::TearDown() {
    if (IsWindow(parent)) DestroyWindow(parent);
    gadget_lib.list_state->parent = nullptr;
    pump_for(10);
    EXPECT_EQ(live_gadget_count(), 0);
    heap_fail_reset();
    EXPECT_TRUE(runtime_heaps_valid());
}

#include "tests/tabsize/input_support.h"

static POINT last_pointer_message = {-1, -1};

static bool plain_step(bool *pointer, POINT *at) {
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
    *pointer = msg.message == WM_MOUSEMOVE || msg.message == WM_NCMOUSEMOVE;
    *at = msg.pt;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    return true;
}

static MessageStep message_step = plain_step;

void set_message_step(MessageStep step) {
    message_step = step ? step : plain_step;
}

// Handles what is waiting; true when a pointer message was among it.
static bool dispatch_waiting() {
    bool pointer_seen = false;
    bool pointer = false;
    POINT at = {};
    while (message_step(&pointer, &at)) {
        if (!pointer) continue;
        pointer_seen = true;
        last_pointer_message = at;
    }
    return pointer_seen;
}

void pump_messages() {
    dispatch_waiting();
}

static void wait_for_messages(DWORD milliseconds) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds, QS_ALLINPUT);
}

void pump_for(DWORD milliseconds) {
    DWORD start = GetTickCount();
    for (;;) {
        dispatch_waiting();
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds) break;
        wait_for_messages(milliseconds - elapsed);
    }
}

// The desktop's process turns X pointer events into input only when it wakes up; a
// message wakes it, so that the events of the last pointer change arrive now.
static void wake_desktop() {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(GetDesktopWindow(), WM_NULL, 0, 0, SMTO_NORMAL, 500, &result);
}

void settle_pointer() {
    const DWORD quiet = 120, limit = 2000;
    wake_desktop();
    DWORD start = GetTickCount(), last_pointer = start;
    for (;;) {
        DWORD now = GetTickCount();
        if (dispatch_waiting()) last_pointer = now;
        if (now - last_pointer >= quiet || now - start >= limit) break;
        wait_for_messages(10);
    }
}

static void send_key(WORD key, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}

void press_key(WORD key) {
    send_key(key, false);
    send_key(key, true);
    settle_pointer();
}

void press_shift_key(WORD key) {
    send_key(VK_SHIFT, false);
    send_key(key, false);
    send_key(key, true);
    send_key(VK_SHIFT, true);
    settle_pointer();
}

// Absolute coordinates span the primary screen as 0..65535; rounding up makes the
// platform's truncating conversion land on the intended pixel.
static LONG absolute_coordinate(int32_t value, int32_t extent) {
    return LONG((int64_t(value) * 65536 + extent - 1) / extent);
}

static void send_pointer_move(int32_t x, int32_t y) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = absolute_coordinate(x, GetSystemMetrics(SM_CXSCREEN));
    input.mi.dy = absolute_coordinate(y, GetSystemMetrics(SM_CYSCREEN));
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &input, sizeof input);
}

bool pointer_move(int32_t x, int32_t y) {
    for (int attempt = 0; attempt < 10; attempt++) {
        send_pointer_move(x, y);
        // Takes the X pointer along, so that Wine's replays report the new position.
        SetCursorPos(x, y);
        settle_pointer();
        if (last_pointer_message.x == x && last_pointer_message.y == y) return true;
    }
    return false;
}

void pointer_button(bool down) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
    SendInput(1, &input, sizeof input);
    settle_pointer();
}

static bool same_point(POINT a, POINT b) {
    return a.x == b.x && a.y == b.y;
}

// Reads the pointer until it is at `expected` or two seconds have passed; the last reading.
static POINT read_pointer_until(POINT expected) {
    const DWORD limit = 2000;
    POINT at = {};
    GetCursorPos(&at);
    // Nothing is pumped when the first reading is right, so that a caller in the middle
    // of a sizing loop sees no pointer message it did not ask for.
    DWORD start = GetTickCount();
    while (!same_point(at, expected) && GetTickCount() - start < limit) {
        pump_messages();
        wait_for_messages(5);
        GetCursorPos(&at);
    }
    return at;
}

bool place_pointer(POINT at) {
    SetCursorPos(at.x, at.y);
    settle_pointer();
    return same_point(read_pointer_until(at), at);
}

testing::AssertionResult pointer_at(POINT expected) {
    POINT at = read_pointer_until(expected);
    if (same_point(at, expected)) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "the pointer is at (" << at.x << "," << at.y
                                       << "), not at (" << expected.x << "," << expected.y << ")";
}

#include "tests/support/test_support.h"

// What the pump has seen of the pointer and the buttons.
struct PumpRecord {
    POINT last_pointer_at; // screen position of the last pointer message
    int32_t button_messages;
};

static PumpRecord seen = {{-1, -1}, 0};

static bool plain_step(MSG *taken) {
    if (!PeekMessageA(taken, nullptr, 0, 0, PM_REMOVE)) return false;
    TranslateMessage(taken);
    DispatchMessageA(taken);
    return true;
}

static MessageStep message_step = plain_step;

void set_message_step(MessageStep step) {
    message_step = step ? step : plain_step;
}

static bool is_pointer_message(UINT message) {
    return message == WM_MOUSEMOVE || message == WM_NCMOUSEMOVE;
}

static bool is_button_message(UINT message) {
    return (message >= WM_LBUTTONDOWN && message <= WM_MBUTTONDBLCLK) ||
           (message >= WM_NCLBUTTONDOWN && message <= WM_NCMBUTTONDBLCLK);
}

// Handles what is waiting; true when a pointer message was among it.
static bool dispatch_waiting() {
    bool pointer_seen = false;
    MSG msg = {};
    while (message_step(&msg)) {
        if (is_button_message(msg.message)) seen.button_messages++;
        if (!is_pointer_message(msg.message)) continue;
        pointer_seen = true;
        seen.last_pointer_at = msg.pt;
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

static const DWORD PUMP_STEP_MS = 5;

bool pump_until(const std::function<bool()> &done, DWORD milliseconds) {
    DWORD start = GetTickCount();
    for (;;) {
        dispatch_waiting();
        if (done()) return true;
        if (GetTickCount() - start >= milliseconds) return false;
        wait_for_messages(PUMP_STEP_MS);
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

void press_and_settle(WORD key, bool shift) {
    press_key(key, shift);
    settle_pointer();
}

bool pointer_move(int32_t x, int32_t y) {
    for (int attempt = 0; attempt < 10; attempt++) {
        send_pointer(x, y, 0);
        // Takes the X pointer along, so that Wine's replays report the new position.
        SetCursorPos(x, y);
        settle_pointer();
        if (seen.last_pointer_at.x == x && seen.last_pointer_at.y == y) return true;
    }
    return false;
}

void pointer_button(bool down) {
    send_buttons({DWORD(down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP)});
    settle_pointer();
}

bool mouse_buttons(std::initializer_list<DWORD> presses) {
    int32_t wanted = seen.button_messages + int32_t(presses.size());
    send_buttons(presses);
    return pump_until([wanted] { return seen.button_messages >= wanted; }, 2000);
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
        wait_for_messages(PUMP_STEP_MS);
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

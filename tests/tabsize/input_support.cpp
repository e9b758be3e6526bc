#include "tests/tabsize/input_support.h"

void pump_messages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void pump_for(DWORD milliseconds) {
    DWORD start = GetTickCount();
    for (;;) {
        pump_messages();
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_ALLINPUT);
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
    pump_for(50);
}

void press_shift_key(WORD key) {
    send_key(VK_SHIFT, false);
    send_key(key, false);
    send_key(key, true);
    send_key(VK_SHIFT, true);
    pump_for(50);
}

// Absolute coordinates span the primary screen as 0..65535; rounding up makes the
// platform's truncating conversion land on the intended pixel.
static LONG absolute_coordinate(int32_t value, int32_t extent) {
    return LONG((int64_t(value) * 65536 + extent - 1) / extent);
}

void pointer_move(int32_t x, int32_t y) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = absolute_coordinate(x, GetSystemMetrics(SM_CXSCREEN));
    input.mi.dy = absolute_coordinate(y, GetSystemMetrics(SM_CYSCREEN));
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &input, sizeof input);
    pump_for(50);
}

void pointer_button(bool down) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
    SendInput(1, &input, sizeof input);
    pump_for(50);
}

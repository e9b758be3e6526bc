#pragma once
// Input through the system's queue, as a person gives it: keys and the pointer. Header-only,
// so that the end-to-end programs, which link no test library, share it too.
#include <windows.h>
#include <stdint.h>
#include <initializer_list>
#include <vector>

inline void send_key(WORD key, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}

// Presses and releases a key, with Shift held around it when asked.
inline void press_key(WORD key, bool shift = false) {
    if (shift) send_key(VK_SHIFT, false);
    send_key(key, false);
    send_key(key, true);
    if (shift) send_key(VK_SHIFT, true);
}

// Absolute coordinates span the primary screen as 0..65535; rounding up makes the
// platform's truncating conversion land on the intended pixel.
inline LONG absolute_coordinate(int32_t value, int32_t extent) {
    return LONG((int64_t(value) * 65536 + extent - 1) / extent);
}

// A pointer event at a screen position: a move there, with `flags` (button changes) added.
inline INPUT pointer_input(int32_t x, int32_t y, DWORD flags) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = absolute_coordinate(x, GetSystemMetrics(SM_CXSCREEN));
    input.mi.dy = absolute_coordinate(y, GetSystemMetrics(SM_CYSCREEN));
    input.mi.dwFlags = flags | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    return input;
}

inline void send_pointer(int32_t x, int32_t y, DWORD flags) {
    INPUT input = pointer_input(x, y, flags);
    SendInput(1, &input, sizeof input);
}

// Button changes where the pointer is, all in one call.
inline void send_buttons(std::initializer_list<DWORD> presses) {
    std::vector<INPUT> inputs;
    for (DWORD flags : presses) {
        INPUT input = {};
        input.type = INPUT_MOUSE;
        input.mi.dwFlags = flags;
        inputs.push_back(input);
    }
    SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT));
}

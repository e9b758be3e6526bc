#include "runtime/window/window.h"

// Placeholder until the sizing loop lands: sizing is left to the platform.
LRESULT sizing_handle_message(HWND, UINT, WPARAM, LPARAM) { return NOT_HANDLED; }

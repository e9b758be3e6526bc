#include "runtime/window/window_private.h"
#include <windowsx.h>

// How far inside the right and bottom edges, and the top-left corner, the pointer sits.
static const int32_t EDGE_INSET = 2;

// Where the pointer goes on one axis: an edge of the rectangle moved by `inset`, or, without
// an edge, where the pointer already is.
struct SizingAnchor {
    LONG RECT::*edge;
    int32_t inset;
};

static constexpr SizingAnchor ANCHOR_STAY = {nullptr, 0};
static constexpr SizingAnchor ANCHOR_LEFT = {&RECT::left, 0};
static constexpr SizingAnchor ANCHOR_LEFT_IN = {&RECT::left, EDGE_INSET};
static constexpr SizingAnchor ANCHOR_RIGHT_IN = {&RECT::right, -EDGE_INSET};
static constexpr SizingAnchor ANCHOR_TOP = {&RECT::top, 0};
static constexpr SizingAnchor ANCHOR_TOP_IN = {&RECT::top, EDGE_INSET};
static constexpr SizingAnchor ANCHOR_BOTTOM_IN = {&RECT::bottom, -EDGE_INSET};

// System cursors, by resource number.
static const int32_t CURSOR_SIZENWSE = 32642;
static const int32_t CURSOR_SIZENESW = 32643;
static const int32_t CURSOR_SIZEWE = 32644;
static const int32_t CURSOR_SIZENS = 32645;
static const int32_t CURSOR_SIZEALL = 32646;

struct SizingEdgeChange {
    WPARAM key;
    int32_t from_edge;
    int32_t to_edge;
    int32_t cursor_id;
    SizingAnchor x_anchor;
    SizingAnchor y_anchor;
};

// An arrow key turns "no edge yet" into a side and a side into a corner.
static const SizingEdgeChange SIZING_EDGE_CHANGES[] = {
    {VK_LEFT, 0, WMSZ_LEFT, CURSOR_SIZEWE, ANCHOR_LEFT, ANCHOR_STAY},
    {VK_LEFT, WMSZ_TOP, WMSZ_TOPLEFT, CURSOR_SIZENWSE, ANCHOR_LEFT_IN, ANCHOR_TOP_IN},
    {VK_LEFT, WMSZ_BOTTOM, WMSZ_BOTTOMLEFT, CURSOR_SIZENESW, ANCHOR_LEFT, ANCHOR_BOTTOM_IN},
    {VK_UP, 0, WMSZ_TOP, CURSOR_SIZENS, ANCHOR_STAY, ANCHOR_TOP},
    {VK_UP, WMSZ_LEFT, WMSZ_TOPLEFT, CURSOR_SIZENWSE, ANCHOR_LEFT_IN, ANCHOR_TOP_IN},
    {VK_UP, WMSZ_RIGHT, WMSZ_TOPRIGHT, CURSOR_SIZENESW, ANCHOR_RIGHT_IN, ANCHOR_TOP},
    {VK_RIGHT, 0, WMSZ_RIGHT, CURSOR_SIZEWE, ANCHOR_RIGHT_IN, ANCHOR_STAY},
    {VK_RIGHT, WMSZ_TOP, WMSZ_TOPRIGHT, CURSOR_SIZENESW, ANCHOR_RIGHT_IN, ANCHOR_TOP},
    {VK_RIGHT, WMSZ_BOTTOM, WMSZ_BOTTOMRIGHT, CURSOR_SIZENWSE, ANCHOR_RIGHT_IN, ANCHOR_BOTTOM_IN},
    {VK_DOWN, 0, WMSZ_BOTTOM, CURSOR_SIZENS, ANCHOR_STAY, ANCHOR_BOTTOM_IN},
    {VK_DOWN, WMSZ_LEFT, WMSZ_BOTTOMLEFT, CURSOR_SIZENESW, ANCHOR_LEFT, ANCHOR_BOTTOM_IN},
    {VK_DOWN, WMSZ_RIGHT, WMSZ_BOTTOMRIGHT, CURSOR_SIZENWSE, ANCHOR_RIGHT_IN, ANCHOR_BOTTOM_IN},
};

static const int32_t SIZING_KEY_STEP = 10;

// WM_SYSCOMMAND's wParam: the command in the high bits, for SC_SIZE the edge in the low four.
static const WPARAM SYSCOMMAND_MASK = 0xFFF0;
static const WPARAM SIZE_EDGE_MASK = 0x000F;

// Rectangles and pointer positions may come from a window's own WM_SIZING or
// WM_GETMINMAXINFO handling, so every sum saturates instead of overflowing.
static int32_t saturate(int64_t value) {
    if (value < INT32_MIN) return INT32_MIN;
    if (value > INT32_MAX) return INT32_MAX;
    return int32_t(value);
}

static int32_t add_sat(int32_t a, int64_t b) {
    return saturate(int64_t(a) + b);
}

static bool edge_in(int32_t edge, int32_t a, int32_t b, int32_t c) {
    return edge == a || edge == b || edge == c;
}

// Moves `moving` to `target`, then keeps the distance to `fixed` within [minimum, maximum];
// `sign` is +1 when `moving` lies after `fixed` (right, bottom), -1 before it.
static int32_t sizing_place_edge(int32_t target, int32_t fixed, int32_t sign, LONG minimum,
                                 LONG maximum) {
    int64_t extent = (int64_t(target) - fixed) * sign;
    if (extent < minimum) return add_sat(fixed, int64_t(minimum) * sign);
    if (extent > maximum) return add_sat(fixed, int64_t(maximum) * sign);
    return target;
}

void sizing_apply_point(SizingState *state, int32_t x, int32_t y) {
    RECT *rect = &state->rect;
    const POINT min = state->limits.ptMinTrackSize;
    const POINT max = state->limits.ptMaxTrackSize;
    int32_t edge = state->edge;
    if (edge_in(edge, WMSZ_LEFT, WMSZ_TOPLEFT, WMSZ_BOTTOMLEFT)) {
        int32_t left = edge == WMSZ_TOPLEFT ? add_sat(x, -EDGE_INSET) : x;
        rect->left = sizing_place_edge(left, rect->right, -1, min.x, max.x);
    }
    if (edge_in(edge, WMSZ_RIGHT, WMSZ_TOPRIGHT, WMSZ_BOTTOMRIGHT))
        rect->right = sizing_place_edge(add_sat(x, EDGE_INSET), rect->left, 1, min.x, max.x);
    if (edge_in(edge, WMSZ_TOP, WMSZ_TOPLEFT, WMSZ_TOPRIGHT)) {
        int32_t top = edge == WMSZ_TOPLEFT ? add_sat(y, -EDGE_INSET) : y;
        rect->top = sizing_place_edge(top, rect->bottom, -1, min.y, max.y);
    }
    if (edge_in(edge, WMSZ_BOTTOM, WMSZ_BOTTOMLEFT, WMSZ_BOTTOMRIGHT))
        rect->bottom = sizing_place_edge(add_sat(y, EDGE_INSET), rect->top, 1, min.y, max.y);
}

static void sizing_move_window(HWND window, const RECT *rect) {
    POINT corners[2] = {{rect->left, rect->top}, {rect->right, rect->bottom}};
    if (GetWindowLongA(window, GWL_STYLE) & WS_CHILD)
        MapWindowPoints(nullptr, GetParent(window), corners, 2);
    int32_t width = add_sat(corners[1].x, -int64_t(corners[0].x));
    int32_t height = add_sat(corners[1].y, -int64_t(corners[0].y));
    MoveWindow(window, corners[0].x, corners[0].y, width, height, TRUE);
}

static void sizing_show_cursor(int32_t cursor_id) {
    HANDLE cursor = LoadImageA(nullptr, MAKEINTRESOURCEA(cursor_id), IMAGE_CURSOR, 0, 0,
                               LR_SHARED | LR_DEFAULTSIZE);
    // A shape that cannot be loaded leaves the current one rather than hiding the pointer.
    if (cursor) SetCursor(static_cast<HCURSOR>(cursor));
}

static void sizing_set_cursor(int32_t cursor_id, int32_t x, int32_t y) {
    SetCursorPos(x, y);
    sizing_show_cursor(cursor_id);
}

static void sizing_send_sizing(SizingState *state, HWND window) {
    SendMessageA(window, WM_SIZING, WPARAM(state->edge), reinterpret_cast<LPARAM>(&state->rect));
}

static void sizing_key_step(SizingState *state, HWND window, int32_t x, int32_t y) {
    SetCursorPos(x, y);
    sizing_apply_point(state, x, y);
    sizing_send_sizing(state, window);
    sizing_move_window(window, &state->rect);
}

static void sizing_fill_limits(HWND window, MINMAXINFO *limits) {
    limits->ptReserved = {0, 0};
    limits->ptMaxSize = {GetSystemMetrics(SM_CXMAXIMIZED), GetSystemMetrics(SM_CYMAXIMIZED)};
    if (GetWindowLongA(window, GWL_STYLE) & WS_BORDER)
        limits->ptMaxPosition = {GetSystemMetrics(SM_CXBORDER), GetSystemMetrics(SM_CYBORDER)};
    else if (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_WINDOWEDGE)
        limits->ptMaxPosition = {GetSystemMetrics(SM_CXEDGE), GetSystemMetrics(SM_CYEDGE)};
    else
        limits->ptMaxPosition = {0, 0};
    limits->ptMinTrackSize = {GetSystemMetrics(SM_CXMINTRACK), GetSystemMetrics(SM_CYMINTRACK)};
    limits->ptMaxTrackSize = {GetSystemMetrics(SM_CXMAXTRACK), GetSystemMetrics(SM_CYMAXTRACK)};
}

static bool sizing_drag_full_windows() {
    BOOL full = FALSE;
    if (!SystemParametersInfoA(SPI_GETDRAGFULLWINDOWS, 0, &full, 0)) return false;
    return full != FALSE;
}

static LRESULT sizing_start(SizingState *state, HWND window, WPARAM wparam) {
    // Without full-window dragging the platform's own outline sizing is the right one.
    if (!sizing_drag_full_windows()) return NOT_HANDLED;
    RECT rect;
    if (!GetWindowRect(window, &rect)) return NOT_HANDLED;
    // The capture comes first: the window that held it hears that it lost it, and that
    // must not end a loop that has already begun. Without the capture no loop starts.
    SetCapture(window);
    if (GetCapture() != window) return NOT_HANDLED;
    state->edge = int32_t(wparam & SIZE_EDGE_MASK);
    state->active = 1;
    state->rect = rect;
    sizing_fill_limits(window, &state->limits);
    SendMessageA(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&state->limits));
    if (GetKeyState(VK_LBUTTON) == 0) SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    PostMessageA(window, WM_ENTERSIZEMOVE, 0, 0);
    state->keyboard_mode = state->edge == 0 ? 1 : 0;
    if (state->keyboard_mode) {
        // Where the pointer cannot be read, it goes back to the window's centre.
        if (!GetCursorPos(&state->saved_cursor))
            state->saved_cursor = {add_sat(rect.left, (int64_t(rect.right) - rect.left) / 2),
                                   add_sat(rect.top, (int64_t(rect.bottom) - rect.top) / 2)};
        sizing_show_cursor(CURSOR_SIZEALL);
    }
    return 0;
}

static POINT sizing_pointer_on_screen(HWND window, LPARAM lparam) {
    POINT point = {GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
    MapWindowPoints(window, nullptr, &point, 1);
    return point;
}

static void sizing_pointer_step(SizingState *state, HWND window, LPARAM lparam) {
    state->keyboard_mode = 0;
    POINT point = sizing_pointer_on_screen(window, lparam);
    sizing_apply_point(state, point.x, point.y);
    // The window may adjust the rectangle in place; the move uses it as adjusted.
    sizing_send_sizing(state, window);
    sizing_move_window(window, &state->rect);
}

static int32_t sizing_anchor_value(const SizingAnchor &anchor, const RECT *rect, int32_t stay) {
    return anchor.edge ? add_sat(rect->*anchor.edge, anchor.inset) : stay;
}

static const SizingEdgeChange *sizing_find_edge_change(WPARAM key, int32_t edge) {
    for (const SizingEdgeChange &change : SIZING_EDGE_CHANGES)
        if (change.key == key && change.from_edge == edge) return &change;
    return nullptr;
}

static void sizing_keyboard_step(SizingState *state, HWND window, WPARAM key) {
    POINT pointer = {0, 0};
    if (!GetCursorPos(&pointer)) return; // no pointer to move: the key changes nothing
    const SizingEdgeChange *change = sizing_find_edge_change(key, state->edge);
    if (change) {
        state->edge = change->to_edge;
        // The rectangle follows with the pointer move that this placement causes.
        sizing_set_cursor(change->cursor_id,
                          sizing_anchor_value(change->x_anchor, &state->rect, pointer.x),
                          sizing_anchor_value(change->y_anchor, &state->rect, pointer.y));
        return;
    }
    int32_t dx = key == VK_LEFT ? -SIZING_KEY_STEP : key == VK_RIGHT ? SIZING_KEY_STEP : 0;
    int32_t dy = key == VK_UP ? -SIZING_KEY_STEP : key == VK_DOWN ? SIZING_KEY_STEP : 0;
    sizing_key_step(state, window, add_sat(pointer.x, dx), add_sat(pointer.y, dy));
}

static void sizing_end(SizingState *state, HWND window) {
    PostMessageA(window, WM_EXITSIZEMOVE, 0, 0);
    state->active = 0;
    if (state->keyboard_mode) SetCursorPos(state->saved_cursor.x, state->saved_cursor.y);
}

static LRESULT sizing_key_down(SizingState *state, HWND window, WPARAM key) {
    if (key == VK_RETURN || key == VK_ESCAPE) {
        ReleaseCapture();
        return 0;
    }
    if (key >= VK_LEFT && key <= VK_DOWN) sizing_keyboard_step(state, window, key);
    // Arrow keys still reach the window's own key handling.
    return NOT_HANDLED;
}

LRESULT sizing_handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    SizingState *state = window_sizing_state();
    if (!state) return NOT_HANDLED;
    if (!state->active) {
        if (message == WM_SYSCOMMAND && (wparam & SYSCOMMAND_MASK) == SC_SIZE)
            return sizing_start(state, window, wparam);
        return NOT_HANDLED;
    }
    if (message == WM_CAPTURECHANGED) {
        sizing_end(state, window);
        return 0;
    }
    // A window destroyed while it holds the capture loses it without WM_CAPTURECHANGED on
    // some platforms; the loop ends here then, or it would stay active for good.
    if (message == WM_DESTROY) {
        if (GetCapture() == window) sizing_end(state, window);
        return NOT_HANDLED;
    }
    // The loop follows the input of the window that holds the capture only, so that
    // another runtime window never takes over the rectangle being built.
    if (GetCapture() != window) return NOT_HANDLED;
    switch (message) {
    case WM_MOUSEMOVE:
        sizing_pointer_step(state, window, lparam);
        return 0;
    case WM_KEYDOWN:
        return sizing_key_down(state, window, wparam);
    case WM_LBUTTONUP:
        ReleaseCapture();
        return 0;
    default:
        return NOT_HANDLED;
    }
}

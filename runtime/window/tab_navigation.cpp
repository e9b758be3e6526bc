#include "runtime/window/window_private.h"
#include <string.h>

static const char MDI_CHILD_CLASS[] = "MDI_ChildClass";

// A walk over the tab stops in enumeration order.
struct TabWalk {
    HWND current;
    HWND previous;
    int32_t take_next;
    int32_t moved;
};

static bool tab_is_stop(HWND window) {
    return IsWindowEnabled(window) && IsWindowVisible(window) &&
           (GetWindowLongA(window, GWL_STYLE) & WS_TABSTOP) != 0;
}

// A name that cannot be read stays empty, and so names no MDI child.
static bool tab_is_mdi_child(HWND window) {
    char name[sizeof MDI_CHILD_CLASS + 1] = {};
    GetClassNameA(window, name, sizeof name);
    return strcmp(name, MDI_CHILD_CLASS) == 0;
}

// Inside an MDI child the walk stays within that child; the outermost one on the chain
// from the focus upward is the root.
static HWND tab_walk_root(HWND root, HWND focus, TabWalk *walk) {
    walk->current = focus;
    for (HWND window = focus; window; window = GetParent(window)) {
        if (!tab_is_mdi_child(window)) continue;
        root = window;
        if (window == focus) walk->current = nullptr;
    }
    return root;
}

static BOOL CALLBACK tab_forward_proc(HWND child, LPARAM lparam) {
    TabWalk *walk = reinterpret_cast<TabWalk *>(lparam);
    if (!tab_is_stop(child)) return TRUE;
    if (walk->take_next) {
        SetFocus(child);
        walk->take_next = 0;
        return FALSE;
    }
    if (!walk->current) {
        SetFocus(child);
        return FALSE;
    }
    if (child == walk->current) walk->take_next = 1;
    return TRUE;
}

static BOOL CALLBACK tab_backward_proc(HWND child, LPARAM lparam) {
    TabWalk *walk = reinterpret_cast<TabWalk *>(lparam);
    if (!tab_is_stop(child)) return TRUE;
    if (child == walk->current && walk->previous) {
        SetFocus(walk->previous);
        walk->moved = 1;
        walk->previous = child;
        return FALSE;
    }
    walk->previous = child;
    return TRUE;
}

// Returns 1 when the focus ended on another window than before, else 0.
int32_t tab_navigate(int32_t backward) {
    HWND root = GetActiveWindow();
    HWND focus = GetFocus();
    TabWalk walk = {nullptr, nullptr, 0, 0};
    // Without an active window, enumerating from null would walk every top-level
    // window of the desktop.
    if (!root) return 0;
    if (focus && IsChild(root, focus)) root = tab_walk_root(root, focus, &walk);
    LPARAM walk_param = reinterpret_cast<LPARAM>(&walk);
    if (!backward) {
        EnumChildWindows(root, tab_forward_proc, walk_param);
        // The focus was on the last tab stop: wrap around to the first.
        if (walk.take_next) EnumChildWindows(root, tab_forward_proc, walk_param);
    } else {
        EnumChildWindows(root, tab_backward_proc, walk_param);
        // The focus was on the first tab stop or on none: wrap around to the last.
        if (!walk.moved && walk.previous) SetFocus(walk.previous);
    }
    return GetFocus() != focus ? 1 : 0;
}

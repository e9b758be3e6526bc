#include "runtime/gadget/gadget_private.h"
#include "runtime/core/heap.h"
#include <windowsx.h>

// The words of GadgetRecord::kind_data that the image kind uses. The last one is set from a
// right double click until the next right-button press or release on the same gadget.
enum ImageWord {
    IMAGE_HANDLE = 0,
    IMAGE_DRAG_ARMED = 1,
    IMAGE_DRAG_START = 2,
    IMAGE_RIGHT_DOUBLE_CLICK_SEEN = 3
};

static const DWORD IMAGE_CONTROL_STYLE = WS_CHILD | WS_VISIBLE | SS_NOTIFY;
static const int32_t CLIENT_EDGE_EXTRA = 4;

// Library-wide values of the image kind, filled by the first creation.
struct ImageKindState {
    GadgetTypeOps ops;
    int32_t drag_cx;
    int32_t drag_cy;
    WNDPROC static_proc;
    int32_t ready;
};

static ImageKindState image_kind;

static intptr_t gadget_image_get_state(GadgetRecord *record);
static intptr_t gadget_image_set_state(GadgetRecord *record, intptr_t value);
static LRESULT CALLBACK gadget_image_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

static void image_kind_prepare() {
    if (image_kind.ready) return;
    image_kind.ops = GadgetTypeOps();
    image_kind.ops.size = sizeof(GadgetTypeOps);
    image_kind.ops.kind = GADGET_KIND_IMAGE;
    image_kind.ops.get_state = gadget_image_get_state;
    image_kind.ops.set_state = gadget_image_set_state;
    image_kind.drag_cx = GetSystemMetrics(SM_CXDRAG);
    image_kind.drag_cy = GetSystemMetrics(SM_CYDRAG);
    image_kind.ready = 1;
}

intptr_t gadget_image_create(ObjectNumber number, int32_t x, int32_t y, int32_t width,
                             int32_t height, HANDLE image) {
    return gadget_image_create_ex(number, x, y, width, height, image, 0);
}

intptr_t gadget_image_create_ex(ObjectNumber number, int32_t x, int32_t y, int32_t width,
                                int32_t height, HANDLE image, DWORD ex_style) {
    image_kind_prepare();
    GadgetListState *list = gadget_list_state();
    if (!list || !list->parent) return 0;
    HWND control = CreateWindowExA(ex_style, "STATIC", nullptr, IMAGE_CONTROL_STYLE, x, y, width,
                                   height, list->parent, reinterpret_cast<HMENU>(NO_GADGET_ID),
                                   app_instance(), nullptr);
    if (!control) return 0;
    image_kind.static_proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(gadget_image_proc)));
    auto *record =
        static_cast<GadgetRecord *>(object_table_alloc(gadget_library().gadget_table, number));
    if (!record) {
        // No slot (a bad number, or no memory for a dynamic record): no orphan control stays.
        DestroyWindow(control);
        return 0;
    }
    intptr_t result = gadget_register(number, record, control, &image_kind.ops);
    SendMessageA(control, STM_SETIMAGE, 0, reinterpret_cast<LPARAM>(image));
    return result;
}

static intptr_t gadget_image_get_state(GadgetRecord *record) {
    return SendMessageA(record->window, STM_GETIMAGE, 0, 0);
}

static intptr_t gadget_image_set_state(GadgetRecord *record, intptr_t value) {
    return SendMessageA(record->window, STM_SETIMAGE, 0, LPARAM(value));
}

static HANDLE record_image(const GadgetRecord *record) {
    return reinterpret_cast<HANDLE>(record->kind_data[IMAGE_HANDLE]);
}

static bool is_bitmap(HANDLE image) {
    return GetObjectType(image) == OBJ_BITMAP;
}

static void image_draw(const GadgetRecord *record, HDC dc) {
    HANDLE image = record_image(record);
    if (!image) return;
    UINT flags = is_bitmap(image) ? DST_BITMAP : DST_ICON;
    DrawStateA(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(image), 0, 0, 0, 0, 0, flags);
}

static void image_paint(HWND window, const GadgetRecord *record) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (!dc) return;
    image_draw(record, dc);
    EndPaint(window, &paint);
}

static bool bitmap_size(HBITMAP bitmap, SIZE *size) {
    BITMAP info;
    if (!GetObjectA(bitmap, sizeof info, &info)) return false;
    size->cx = info.bmWidth;
    size->cy = info.bmHeight < 0 ? -info.bmHeight : info.bmHeight;
    return true;
}

// The size of an icon's colour bitmap. A monochrome icon has none, and a handle that is
// no icon has no icon information at all: both give no size.
static bool icon_size(HICON icon, SIZE *size) {
    ICONINFO info;
    if (!GetIconInfo(icon, &info)) return false;
    bool known = info.hbmColor && bitmap_size(info.hbmColor, size);
    // Both are the caller's to delete; deleting a null handle is harmless.
    DeleteObject(info.hbmMask);
    DeleteObject(info.hbmColor);
    return known;
}

// Lets the owning window paint what lies under the control, for images that may not
// cover it (icons with transparent parts, or no image at all).
static void redraw_under(HWND window) {
    HWND top = gadget_top_window(window);
    RECT area;
    if (!GetWindowRect(window, &area)) return;
    POINT corners[2] = {{area.left, area.top}, {area.right, area.bottom}};
    ScreenToClient(top, &corners[0]);
    ScreenToClient(top, &corners[1]);
    RECT under = {corners[0].x, corners[0].y, corners[1].x, corners[1].y};
    RedrawWindow(top, &under, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

static bool has_size(HWND window, SIZE size) {
    RECT area;
    return GetWindowRect(window, &area) && area.right - area.left == size.cx &&
           area.bottom - area.top == size.cy;
}

// A handle whose size cannot be read leaves the control at its current size; it is still
// repainted, which draws nothing for such a handle.
static void image_set(HWND window, GadgetRecord *record, HANDLE image) {
    record->kind_data[IMAGE_HANDLE] = reinterpret_cast<intptr_t>(image);
    bool bitmap = image && is_bitmap(image);
    if (!bitmap) redraw_under(window);
    if (!image) return;
    SIZE size;
    bool known = bitmap ? bitmap_size(static_cast<HBITMAP>(image), &size)
                        : icon_size(static_cast<HICON>(image), &size);
    if (known) {
        if (GetWindowLongPtrA(window, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) {
            size.cx += CLIENT_EDGE_EXTRA;
            size.cy += CLIENT_EDGE_EXTRA;
        }
        // The command loop hands over the same bitmap after every command: a control that has
        // its size already is not sized again, which spares a round of window-position work.
        if (!has_size(window, size))
            SetWindowPos(window, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
    }
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
}

static void drag_track(HWND window, GadgetRecord *record, LPARAM lparam) {
    if (!record->kind_data[IMAGE_DRAG_ARMED]) return;
    intptr_t start = record->kind_data[IMAGE_DRAG_START];
    int32_t dx = GET_X_LPARAM(lparam) - GET_X_LPARAM(start);
    int32_t dy = GET_Y_LPARAM(lparam) - GET_Y_LPARAM(start);
    if (dx >= -image_kind.drag_cx && dx <= image_kind.drag_cx && dy >= -image_kind.drag_cy &&
        dy <= image_kind.drag_cy)
        return;
    record->kind_data[IMAGE_DRAG_ARMED] = 0;
    ReleaseCapture();
    gadget_post_event(window, EVENT_TYPE_DRAG_START);
}

static void drag_arm(HWND window, GadgetRecord *record, LPARAM lparam) {
    record->kind_data[IMAGE_DRAG_ARMED] = 1;
    record->kind_data[IMAGE_DRAG_START] = intptr_t(uint32_t(lparam));
    SetCapture(window);
}

static void drag_disarm(GadgetRecord *record) {
    if (!record->kind_data[IMAGE_DRAG_ARMED]) return;
    record->kind_data[IMAGE_DRAG_ARMED] = 0;
    ReleaseCapture();
}

static void right_button_up(HWND window, GadgetRecord *record) {
    if (record->kind_data[IMAGE_RIGHT_DOUBLE_CLICK_SEEN]) {
        record->kind_data[IMAGE_RIGHT_DOUBLE_CLICK_SEEN] = 0;
        return;
    }
    gadget_post_event(window, EVENT_TYPE_RIGHT_CLICK);
}

static void right_double_click(HWND window, GadgetRecord *record) {
    gadget_post_event(window, EVENT_TYPE_RIGHT_DOUBLE_CLICK);
    record->kind_data[IMAGE_RIGHT_DOUBLE_CLICK_SEEN] = 1;
}

static LRESULT CALLBACK gadget_image_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    GadgetRecord *record = gadget_record_of_control(window, nullptr);
    if (!record) return CallWindowProcA(image_kind.static_proc, window, message, wparam, lparam);
    switch (message) {
    case WM_ENABLE:
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        return 0;
    case WM_PAINT:
        image_paint(window, record);
        return 0;
    case WM_PRINT:
        if (wparam) image_draw(record, reinterpret_cast<HDC>(wparam));
        return 0;
    case STM_SETICON:
    case STM_SETIMAGE:
        image_set(window, record, reinterpret_cast<HANDLE>(lparam));
        return lparam;
    case STM_GETICON:
    case STM_GETIMAGE:
        return record->kind_data[IMAGE_HANDLE];
    case WM_MOUSEMOVE:
        drag_track(window, record, lparam);
        break;
    case WM_LBUTTONDOWN:
        drag_arm(window, record, lparam);
        break;
    case WM_LBUTTONUP:
        drag_disarm(record);
        break;
    case WM_CAPTURECHANGED:
        // Deactivation, another window's capture or WM_CANCELMODE: the press is over.
        if (reinterpret_cast<HWND>(lparam) != window) record->kind_data[IMAGE_DRAG_ARMED] = 0;
        break;
    case WM_LBUTTONDBLCLK:
        gadget_post_event(window, EVENT_TYPE_LEFT_DOUBLE_CLICK);
        return 0;
    case WM_RBUTTONDOWN:
        // A new right gesture: a double click whose last release landed elsewhere is over.
        record->kind_data[IMAGE_RIGHT_DOUBLE_CLICK_SEEN] = 0;
        break;
    case WM_RBUTTONUP:
        right_button_up(window, record);
        return 0;
    case WM_RBUTTONDBLCLK:
        right_double_click(window, record);
        return 0;
    default:
        break;
    }
    return CallWindowProcA(image_kind.static_proc, window, message, wparam, lparam);
}

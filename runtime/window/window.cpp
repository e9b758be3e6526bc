#include "runtime/window/window_private.h"
#include "runtime/core/heap.h"
#include "runtime/gadget/gadget.h"
#include <ole2.h>
#include <stdio.h>

static WindowLibState window_lib;

const char WINDOW_ID_PROPERTY[] = "KX_WindowID";
const char DROP_ACCEPT_PROPERTY[] = "KX_DropAccept";

static const int32_t WINDOW_GROW_STEP = 16;
// The module's icon resource; this program carries none, so classes get no icon.
static const WORD CLASS_ICON_ID = 1;
static const HBRUSH CLASS_BACKGROUND = reinterpret_cast<HBRUSH>(intptr_t(COLOR_BTNFACE + 1));
// The flags that are no window style: without any other bit the window gets a caption.
static const uint32_t NON_STYLE_FLAGS = OPEN_CENTRED | OPEN_CENTRED_ON_PARENT | OPEN_HIDDEN;
static const int32_t CLASS_NAME_SIZE = 256;

static const ACCEL DEFAULT_SHORTCUTS[DEFAULT_SHORTCUT_COUNT] = {
    {FVIRTKEY | FNOINVERT, VK_TAB, CMD_TAB_NEXT},
    {FVIRTKEY | FNOINVERT | FSHIFT, VK_TAB, CMD_TAB_PREVIOUS},
};

WindowLibState &window_library() {
    return window_lib;
}

EventState *window_event_state() {
    return static_cast<EventState *>(state_block_get(window_lib.event_state));
}

SizingState *window_sizing_state() {
    return static_cast<SizingState *>(state_block_get(window_lib.sizing_state));
}

WindowRecord *window_record(ObjectNumber number) {
    return static_cast<WindowRecord *>(object_table_get(window_lib.window_table, number));
}

ObjectNumber window_number_from_property(HANDLE value) {
    if (!value) return ANY_ID;
    // Unsigned, so that an address near the top of the range wraps instead of overflowing.
    return ObjectNumber(uintptr_t(value) - 1u);
}

static HANDLE window_number_property(ObjectNumber number) {
    return reinterpret_cast<HANDLE>(uintptr_t(number) + 1u);
}

// The number is printed at pointer width, so that two ANY_ID windows never share a name.
static void window_class_name(char (&name)[CLASS_NAME_SIZE], ObjectNumber number) {
    snprintf(name, sizeof name, "WindowClass_%lld", static_cast<long long>(number));
}

static void register_window_class(const char *name) {
    WNDCLASSA window_class = {};
    window_class.style = CS_DBLCLKS;
    window_class.lpfnWndProc = window_class_proc;
    window_class.hInstance = app_instance();
    window_class.hIcon = window_lib.class_icon;
    window_class.hCursor = window_lib.class_cursor;
    window_class.hbrBackground = CLASS_BACKGROUND;
    window_class.lpszClassName = name;
    RegisterClassA(&window_class);
}

static void close_for_table(ObjectNumber number) {
    window_close(number);
}

void window_lib_init() {
    window_lib.window_table =
        object_table_create(sizeof(WindowRecord), WINDOW_GROW_STEP, close_for_table);
    window_lib.event_state = static_cast<EventState *>(
        state_block_alloc(sizeof(EventState), nullptr, event_state_release));
    window_lib.class_icon = LoadIconA(app_instance(), MAKEINTRESOURCEA(CLASS_ICON_ID));
    window_lib.class_cursor = LoadCursorA(nullptr, IDC_ARROW);
    window_lib.sizing_state =
        static_cast<SizingState *>(state_block_alloc(sizeof(SizingState), nullptr, nullptr));
}

bool window_lib_ready() {
    return object_table_ready(window_lib.window_table) && window_lib.event_state &&
           window_lib.sizing_state;
}

void window_lib_end() {
    ObjectTable *table = window_lib.window_table;
    object_table_iter_reset(table);
    ObjectNumber number;
    while (object_table_iter_next(table, &number))
        window_close(number);
    unregister_pending_classes();
    event_state_release(window_lib.event_state);
}

bool event_aux_block(const void *block, SIZE_T least) {
    HANDLE heap = app_heap();
    if (!block || !heap || !HeapValidate(heap, 0, block)) return false;
    SIZE_T size = HeapSize(heap, 0, block);
    return size != SIZE_T(-1) && size >= least;
}

void event_state_release(void *block) {
    EventState *state = static_cast<EventState *>(block);
    if (!state || !state->aux_data) return;
    void *buffer = state->aux_data->buffer;
    if (event_aux_block(buffer, 0)) heap_free(app_heap(), buffer);
    heap_free(app_heap(), state->aux_data);
    state->aux_data = nullptr;
}

static int32_t clamp_to_int32(int64_t value) {
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return int32_t(value);
}

struct WindowPlacement {
    int32_t x, y, width, height;
};

static void place_on_screen(WindowPlacement *place) {
    int32_t screen_width = GetSystemMetrics(SM_CXSCREEN);
    int32_t screen_height = GetSystemMetrics(SM_CYSCREEN);
    if (place->width > screen_width) place->width = screen_width;
    if (place->height > screen_height) place->height = screen_height;
    place->x = clamp_to_int32((int64_t(screen_width) - place->width) / 2);
    place->y = clamp_to_int32((int64_t(screen_height) - place->height) / 2);
}

static void place_on_reference(WindowPlacement *place, HWND parent) {
    HWND reference = parent ? parent : GetActiveWindow();
    RECT rect;
    if (!reference || !GetWindowRect(reference, &rect)) return;
    int64_t reference_width = int64_t(rect.right) - rect.left;
    int64_t reference_height = int64_t(rect.bottom) - rect.top;
    int64_t x = rect.left + (reference_width - place->width) / 2;
    int64_t y = rect.top + (reference_height - place->height) / 2;
    place->x = x < 0 ? 0 : clamp_to_int32(x);
    place->y = y < 0 ? 0 : clamp_to_int32(y);
}

static void outer_size(WindowPlacement *place, DWORD style, int32_t inner_width,
                       int32_t inner_height) {
    RECT rect = {0, 0, inner_width, inner_height};
    AdjustWindowRect(&rect, style, FALSE);
    place->width = clamp_to_int32(int64_t(rect.right) - rect.left);
    place->height = clamp_to_int32(int64_t(rect.bottom) - rect.top);
}

static int show_command(DWORD style) {
    if (style & OPEN_MAXIMISED) return SW_SHOWMAXIMIZED;
    if (style & OPEN_MINIMISED) return SW_SHOWMINIMIZED;
    return SW_SHOWNORMAL;
}

// Without memory for the two Tab entries the window still opens, only without shortcuts;
// shortcut_add can give it some later.
static void give_default_shortcuts(WindowRecord *record) {
    TolerateFailure without_shortcuts(FAILURE_WITHOUT_PART);
    record->shortcuts = static_cast<ACCEL *>(heap_alloc(app_heap(), 0, sizeof DEFAULT_SHORTCUTS));
    if (!record->shortcuts) {
        record->shortcut_count = 0;
        record->accel_table = nullptr;
        return;
    }
    for (int32_t i = 0; i < DEFAULT_SHORTCUT_COUNT; i++)
        record->shortcuts[i] = DEFAULT_SHORTCUTS[i];
    record->shortcut_count = DEFAULT_SHORTCUT_COUNT;
    record->accel_table = CreateAcceleratorTableA(record->shortcuts, DEFAULT_SHORTCUT_COUNT);
}

// Creation runs window procedures, which may open further windows and so move the slot
// storage; a numbered record is found again by its number, a dynamic record never moves.
// The record is not live yet, so object_table_get would not find it.
static WindowRecord *slot_record(ObjectNumber number, WindowRecord *dynamic_record) {
    void *slot = object_table_slot(window_lib.window_table, number);
    return slot ? static_cast<WindowRecord *>(slot) : dynamic_record;
}

intptr_t window_open(ObjectNumber number, int32_t x, int32_t y, int32_t inner_width,
                     int32_t inner_height, const char *title, uint32_t flags, HWND parent) {
    WindowRecord *record =
        static_cast<WindowRecord *>(object_table_alloc(window_lib.window_table, number));
    if (!record) return 0;
    bool any_id = number == ANY_ID;
    if (any_id) number = reinterpret_cast<ObjectNumber>(record);

    char class_name[CLASS_NAME_SIZE];
    window_class_name(class_name, number);
    register_window_class(class_name);

    bool keep_gadget_list = (flags & OPEN_NO_GADGET_LIST) != 0;
    flags &= ~OPEN_NO_GADGET_LIST;
    if ((flags & ~NON_STYLE_FLAGS) == 0) flags |= WS_CAPTION;
    bool show = (flags & OPEN_HIDDEN) == 0;
    flags &= ~OPEN_HIDDEN;
    DWORD style = flags & ~(OPEN_CENTRED | OPEN_CENTRED_ON_PARENT);

    WindowPlacement place = {x, y, 0, 0};
    outer_size(&place, style, inner_width, inner_height);
    bool centred = (flags & (OPEN_CENTRED | OPEN_CENTRED_ON_PARENT)) != 0;
    if ((x == DEFAULT_POSITION || y == DEFAULT_POSITION) && !centred)
        place.x = place.y = CW_USEDEFAULT;
    if (flags & OPEN_CENTRED)
        place_on_screen(&place);
    else if (flags & OPEN_CENTRED_ON_PARENT)
        place_on_reference(&place, parent);

    HWND window =
        CreateWindowExA(0, class_name, title ? title : "", style, place.x, place.y, place.width,
                        place.height, parent, nullptr, app_instance(), nullptr);
    if (!window) {
        UnregisterClassA(class_name, app_instance());
        object_table_free(window_lib.window_table, number);
        return 0;
    }
    record = slot_record(number, record);
    record->window = window;
    SetPropA(window, WINDOW_ID_PROPERTY, window_number_property(number));
    if (show) {
        ShowWindow(window, show_command(style));
        record = window_record(number); // showing runs window procedures too
        if (!record || record->window != window) return 0;
    }
    record->min_or_max = (style & (OPEN_MAXIMISED | OPEN_MINIMISED)) ? 1 : 0;
    give_default_shortcuts(record);
    record->mdi_client = nullptr;
    if (!keep_gadget_list) {
        TolerateFailure without_list(FAILURE_WITHOUT_PART); // the window opens all the same
        gadget_list_switch(window);
    }
    return any_id ? number : reinterpret_cast<intptr_t>(window);
}

static void unregister_window_class(ObjectNumber number) {
    char class_name[CLASS_NAME_SIZE];
    window_class_name(class_name, number);
    UnregisterClassA(class_name, app_instance());
}

static void destroy_system_window(HWND window, ObjectNumber number) {
    DestroyWindow(window);
    unregister_window_class(number);
}

// Takes the window's properties away; the drop target goes with its mark.
static void remove_window_properties(HWND window) {
    RemovePropA(window, WINDOW_ID_PROPERTY);
    if (RemovePropA(window, DROP_ACCEPT_PROPERTY)) RevokeDragDrop(window);
}

static void release_record(ObjectNumber number, WindowRecord *record) {
    if (record->shortcuts) heap_free(app_heap(), record->shortcuts);
    if (record->accel_table) DestroyAcceleratorTable(record->accel_table);
    if (record->background_brush) DeleteObject(record->background_brush);
    object_table_free(window_lib.window_table, number);
}

// Without memory for the note the class stays registered; the window is gone all the same.
static void defer_class_unregistration(ObjectNumber number) {
    TolerateFailure tolerate(FAILURE_WITHOUT_PART);
    auto *pending = static_cast<PendingClass *>(heap_alloc(app_heap(), 0, sizeof(PendingClass)));
    if (!pending) return;
    pending->next = window_lib.pending_classes;
    pending->number = number;
    window_lib.pending_classes = pending;
}

void unregister_pending_classes() {
    while (PendingClass *pending = window_lib.pending_classes) {
        window_lib.pending_classes = pending->next;
        unregister_window_class(pending->number);
        heap_free(app_heap(), pending);
    }
}

// window_close takes the window's number property away before it destroys the window, so
// a window it closes is not found here.
void window_destroyed(HWND window) {
    ObjectNumber number = window_number_from_property(GetPropA(window, WINDOW_ID_PROPERTY));
    WindowRecord *record = window_record(number);
    if (!record || record->window != window) return;
    bool mdi_child = record->mdi_client != nullptr;
    remove_window_properties(window);
    release_record(number, record);
    // As window_close leaves an MDI child's class alone, so does this.
    if (!mdi_child) defer_class_unregistration(number);
}

int32_t window_close(ObjectNumber number) {
    WindowRecord *record = window_record(number);
    if (!record) return 0;
    HWND window = record->window;
    HWND mdi_client = record->mdi_client;
    HWND owner = GetWindow(window, GW_OWNER);
    if (owner && !mdi_client) SetActiveWindow(owner);
    remove_window_properties(window);
    if (mdi_client)
        SendMessageA(mdi_client, WM_MDIDESTROY, reinterpret_cast<WPARAM>(window), 0);
    else
        destroy_system_window(window, number);
    // Owned windows went with this one; their classes can go now.
    unregister_pending_classes();

    // The calls above run window procedures, which may have moved the slot storage or
    // closed this very window already.
    record = window_record(number);
    if (record && record->window == window) release_record(number, record);
    return 1;
}

// A live record's window exists (its record goes at WM_NCDESTROY), so its client rectangle
// can be read.
int32_t window_inner_width(ObjectNumber number) {
    WindowRecord *record = window_record(number);
    RECT rect = {};
    if (!record) return 0;
    GetClientRect(record->window, &rect);
    return rect.right - rect.left;
}

int32_t window_inner_height(ObjectNumber number) {
    WindowRecord *record = window_record(number);
    RECT rect = {};
    if (!record) return 0;
    GetClientRect(record->window, &rect);
    int32_t height = rect.bottom - rect.top;
    if (GetMenu(record->window) && !record->mdi_client) height += GetSystemMetrics(SM_CYMENU);
    return height;
}

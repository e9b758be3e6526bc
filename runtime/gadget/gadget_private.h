#pragma once
// Shared by the gadget library's own files and open to the tests; not part of its interface.
#include "runtime/gadget/gadget.h"

struct GadgetRecord;

typedef LRESULT (*GadgetNotifyOp)(GadgetRecord *record, HWND parent, UINT message, WPARAM wparam,
                                  LPARAM lparam);
typedef void (*GadgetFreeOp)(GadgetRecord *record);
typedef intptr_t (*GadgetGetStateOp)(GadgetRecord *record);
typedef intptr_t (*GadgetSetStateOp)(GadgetRecord *record, intptr_t value);
typedef void (*GadgetOp)();

// One static table per kind; every slot may be null and every caller tests it.
struct GadgetTypeOps {
    int32_t kind;
    int32_t size;
    GadgetNotifyOp notify;
    GadgetFreeOp on_free;
    GadgetGetStateOp get_state;
    GadgetSetStateOp set_state;
    GadgetOp further[31]; // never called in this program
};

struct GadgetRecord {
    HWND window; // the control; non-zero while the gadget exists
    const GadgetTypeOps *ops;
    WNDPROC prev_proc;
    intptr_t kind_data[4];
};

struct GadgetListState {
    HWND parent;
    HFONT font;
    HWND *nest_stack;
    int32_t nest_depth;
    int32_t nest_capacity;
    HWND aux_window;
};

struct GadgetListSave {
    HWND window;
    HWND saved_parent;
    HWND *saved_stack;
    int32_t saved_depth;
    int32_t saved_capacity;
    WNDPROC prev_proc;
};

struct GadgetLibState {
    ObjectTable *gadget_table;
    HFONT default_font;
    GadgetListState *list_state; // reached through state_block_get
};

const int32_t GADGET_KIND_IMAGE = 9;
// The control identifier of a control that is no gadget (yet, or any more).
const LONG_PTR NO_GADGET_ID = -1;

// Gadget event types, posted as MSG_GADGET_EVENT to the owning runtime window.
const int32_t EVENT_TYPE_RIGHT_CLICK = 1;
const int32_t EVENT_TYPE_LEFT_DOUBLE_CLICK = 2;
const int32_t EVENT_TYPE_RIGHT_DOUBLE_CLICK = 3;
const int32_t EVENT_TYPE_DRAG_START = 14002;

GadgetLibState &gadget_library();
// The gadget-list state; null when the library never started.
GadgetListState *gadget_list_state();
// The live record of a gadget number, or null.
GadgetRecord *gadget_record(ObjectNumber number);
// A registered control's record, its number stored when `number` is not null; else null.
GadgetRecord *gadget_record_of_control(HWND control, ObjectNumber *number);

// Registers a kind's control in its slot; the control's handle, or for ANY_ID the number.
intptr_t gadget_register(ObjectNumber number, GadgetRecord *record, HWND control,
                         const GadgetTypeOps *ops);
LRESULT CALLBACK gadget_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Destroys the gadget under the number before its slot is handed out again.
void gadget_destroy_existing(ObjectNumber number);
// The nearest ancestor that is a runtime window, else the root of the control's chain.
HWND gadget_top_window(HWND window);
// Posts a gadget event of the control to its runtime window.
void gadget_post_event(HWND control, int32_t event_type);

void gadget_list_state_init(void *block);
void gadget_list_state_free(void *block);
// The save record of a window that has been a gadget list, or null.
GadgetListSave *gadget_list_save(HWND window);
LRESULT CALLBACK gadget_list_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// gadget_image_create with an extended window style for the control.
intptr_t gadget_image_create_ex(ObjectNumber number, int32_t x, int32_t y, int32_t width,
                                int32_t height, HANDLE image, DWORD ex_style);

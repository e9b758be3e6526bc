#pragma once
// Gadgets: the registry of child controls with their per-kind operation tables, the
// image gadget, and gadget lists (the window new gadgets are created in).
#include <windows.h>
#include <stdint.h>
#include "runtime/core/object_table.h"

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

extern GadgetLibState gadget_lib;

const int32_t GADGET_KIND_IMAGE = 9;

// Gadget event types, posted as MSG_GADGET_EVENT to the owning runtime window.
const int32_t EVENT_TYPE_RIGHT_CLICK = 1;
const int32_t EVENT_TYPE_LEFT_DOUBLE_CLICK = 2;
const int32_t EVENT_TYPE_RIGHT_DOUBLE_CLICK = 3;
const int32_t EVENT_TYPE_DRAG_START = 14002;

// Registry and hooks.
BOOL gadget_lib_init();
void gadget_lib_end();
intptr_t gadget_register(ObjectNumber number, GadgetRecord *record, HWND control,
                         const GadgetTypeOps *ops);
LRESULT CALLBACK gadget_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
void gadget_destroy_existing(ObjectNumber number);
intptr_t gadget_set_state(ObjectNumber number, intptr_t value);
HWND gadget_top_window(HWND window);
void gadget_post_event(HWND control, int32_t event_type);
LRESULT gadget_notify_dispatch(HWND control, HWND parent, UINT message, WPARAM wparam,
                               LPARAM lparam);

// Gadget lists.
void gadget_list_state_init(void *block);
void gadget_list_state_free(void *block);
HWND gadget_list_switch(HWND window);
LRESULT CALLBACK gadget_list_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Image gadget.
intptr_t gadget_image_create(ObjectNumber number, int32_t x, int32_t y, int32_t width,
                             int32_t height, HANDLE image);
intptr_t gadget_image_create_ex(ObjectNumber number, int32_t x, int32_t y, int32_t width,
                                int32_t height, HANDLE image, DWORD ex_style);
intptr_t gadget_image_get_state(GadgetRecord *record);
intptr_t gadget_image_set_state(GadgetRecord *record, intptr_t value);
LRESULT CALLBACK gadget_image_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

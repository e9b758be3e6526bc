#include "runtime/gadget/gadget.h"
#include "runtime/window/window.h"

// Placeholder until the gadget registry lands: no gadget is ever registered, so no
// notification is taken.
GadgetLibState gadget_lib;

LRESULT gadget_notify_dispatch(HWND, HWND, UINT, WPARAM, LPARAM) { return NOT_HANDLED; }

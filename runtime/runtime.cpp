#include "runtime/runtime.h"
#include "runtime/gadget/gadget.h"
#include "runtime/image/drawing.h"
#include "runtime/image/image.h"
#include "runtime/window/window.h"

// Every library starts whatever becomes of the ones before it, as their order is fixed; each
// then answers for itself.
bool runtime_start() {
    memory_init();
    object_heap_init();
    drawing_init();
    window_lib_init();
    bool controls = gadget_lib_init() != FALSE;
    runtime_flags_reset();
    image_lib_init();
    return controls && core_ready() && drawing_ready() && window_lib_ready() &&
           gadget_lib_ready() && image_lib_ready();
}

void runtime_end() {
    image_lib_end();
    gadget_lib_end();
    window_lib_end();
    runtime_core_end();
}

#include "app/app.h"
#include "app/terrain.h"
#include "runtime/core/array.h"
#include "runtime/gadget/gadget.h"
#include "runtime/image/drawing.h"
#include "runtime/image/image.h"
#include "runtime/window/window.h"
#include <string.h>

AppGlobals app;

struct Shortcut {
    int32_t key;
    int32_t menu;
};

// Registered in this order; the menu number selects the command in app_run_command.
static const Shortcut app_shortcuts[APP_MENU_COUNT] = {
    {VK_RETURN, 0}, {'1', 1}, {'2', 2}, {'N', 3}, {'Z', 4}, {'B', 5}, {'I', 6},
};

static bool table_ready(const ObjectTable *table) {
    return table && table->slots;
}

// The libraries' start-ups report nothing; what they made is checked here instead, so
// that a start-up short of memory ends at once instead of running half-made.
static bool app_runtime_init() {
    memory_init();
    object_heap_init();
    drawing_init();
    window_lib_init();
    gadget_lib_init();
    runtime_flags_reset();
    image_lib_init();
    const GadgetListState *lists = gadget_lib.list_state;
    return core_state.object_heap && core_state.scratch_block &&
           table_ready(window_lib.window_table) && window_lib.event_state &&
           window_lib.sizing_state && table_ready(gadget_lib.gadget_table) && lists &&
           lists->nest_stack && table_ready(image_lib.image_table) && image_lib.output_block;
}

static void app_render() {
    if (app.color_view)
        terrain_render_color(app.grid, 0);
    else
        terrain_render_gray(app.grid, 0);
}

static bool app_show_picture() {
    app.color_view = 1;
    terrain_render_color(app.grid, 0);
    int32_t x = window_inner_width(0) / 2 - image_width(0) / 2;
    int32_t y = window_inner_height(0) / 2 - image_height(0) / 2;
    return gadget_image_create(0, x, y, 0, 0, image_handle(0)) != 0;
}

// Every key must be bound, and the window must still have its two Tab entries: a
// program that cannot obey its keys does not start.
static bool app_bind_keys() {
    HACCEL table = nullptr;
    for (const Shortcut &s : app_shortcuts) {
        table = shortcut_add(0, s.key, s.menu);
        if (!table) return false;
    }
    return CopyAcceleratorTableA(table, nullptr, 0) == APP_MENU_COUNT + 2;
}

bool app_start() {
    memset(&app, 0, sizeof app);
    app.host.app_instance = GetModuleHandleA(nullptr);
    app.host.app_heap = HeapCreate(0, 4096, 0);
    if (!app.host.app_heap) return false;
    runtime_host = &app.host;
    bool started = app_runtime_init() && grid_alloc(app.grid);
    if (started) {
        terrain_generate(app.grid);
        started = image_create(0, 513, 513) != 0 &&
                  window_open(0, 0, 0, 513, 513, "Heightmap", 0x00C80001) != 0 &&
                  app_show_picture() && app_bind_keys();
    }
    if (!started) {
        app_end();
        return false;
    }
    return true;
}

static void app_run_command(intptr_t menu) {
    switch (menu) {
    case 0:
        terrain_generate(app.grid);
        break;
    case 1:
        app.color_view = 0;
        break;
    case 2:
        app.color_view = 1;
        break;
    case 3:
        terrain_pull_to_level(app.grid, 160, 0.05f);
        break;
    case 4:
        terrain_jitter(app.grid, 128, 2);
        break;
    case 5:
        terrain_smooth(app.grid);
        break;
    case 6:
        terrain_invert(app.grid);
        break;
    }
}

void app_menu_event(intptr_t menu) {
    if (menu >= 0 && menu < APP_MENU_COUNT) {
        app_run_command(menu);
        app.redraw = 1;
    }
    if (app.redraw) {
        app_render();
        app.redraw = 0;
    }
    gadget_set_state(0, reinterpret_cast<intptr_t>(image_handle(0)));
}

void app_command_loop() {
    do {
        app.last_event = event_wait();
        if (app.last_event == EVENT_MENU) app_menu_event(event_menu());
    } while (app.last_event != EVENT_WINDOW_CLOSE);
}

void runtime_end() {
    image_lib_end();
    gadget_lib_end();
    window_lib_end();
    runtime_core_end();
}

void app_end() {
    runtime_end();
    HeapDestroy(app.host.app_heap);
    app.host.app_heap = nullptr;
    runtime_host = nullptr;
}

void app_main() {
    if (!app_start()) ExitProcess(APP_EXIT_STARTUP_FAILED);
    app_command_loop();
    app_end();
    ExitProcess(APP_EXIT_NORMAL);
}

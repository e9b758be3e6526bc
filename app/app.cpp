#include "app/app.h"
#include "app/terrain.h"
#include "runtime/core/array.h"
#include "runtime/gadget/gadget.h"
#include "runtime/image/drawing.h"
#include "runtime/image/image.h"
#include "runtime/runtime.h"
#include "runtime/window/window.h"
#include <string.h>

AppGlobals app;

static const char APP_TITLE[] = "Heightmap";
static const SIZE_T APP_HEAP_INITIAL_SIZE = 4096;
static const int32_t PICTURE_SIZE = GRID_LAST; // one pixel per usable cell

static const int32_t PULL_LEVEL = 160;
static const float PULL_FRACTION = 0.05f;
static const int32_t JITTER_CHANCE = 128;
static const int32_t JITTER_AMOUNT = 2;

static void regenerate() {
    terrain_generate(app.grid);
}
static void show_grey() {
    app.color_view = 0;
}
static void show_colour() {
    app.color_view = 1;
}
static void pull_to_level() {
    terrain_pull_to_level(app.grid, PULL_LEVEL, PULL_FRACTION);
}
static void jitter() {
    terrain_jitter(app.grid, JITTER_CHANCE, JITTER_AMOUNT);
}
static void smooth() {
    terrain_smooth(app.grid);
}
static void invert() {
    terrain_invert(app.grid);
}

struct AppCommand {
    int32_t key;
    intptr_t menu;
    void (*run)();
};

// Bound in this order at start-up; a menu event runs the command of its menu number.
static const AppCommand APP_COMMANDS[APP_MENU_COUNT] = {
    {VK_RETURN, 0, regenerate}, {'1', 1, show_grey}, {'2', 2, show_colour}, {'N', 3, pull_to_level},
    {'Z', 4, jitter},           {'B', 5, smooth},    {'I', 6, invert},
};

static const AppCommand *app_command(intptr_t menu) {
    for (const AppCommand &command : APP_COMMANDS)
        if (command.menu == menu) return &command;
    return nullptr;
}

int32_t app_command_key(intptr_t menu) {
    const AppCommand *command = app_command(menu);
    return command ? command->key : 0;
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
    for (const AppCommand &command : APP_COMMANDS) {
        table = shortcut_add(0, command.key, int32_t(command.menu));
        if (!table) return false;
    }
    return CopyAcceleratorTableA(table, nullptr, 0) == APP_MENU_COUNT + DEFAULT_SHORTCUT_COUNT;
}

bool app_start() {
    memset(&app, 0, sizeof app);
    app.host.app_instance = GetModuleHandleA(nullptr);
    app.host.app_heap = HeapCreate(0, APP_HEAP_INITIAL_SIZE, 0);
    if (!app.host.app_heap) return false;
    runtime_host = &app.host;
    bool started = runtime_start() && grid_alloc(app.grid);
    if (started) {
        terrain_generate(app.grid);
        started =
            image_create(0, PICTURE_SIZE, PICTURE_SIZE) != 0 &&
            window_open(0, 0, 0, PICTURE_SIZE, PICTURE_SIZE, APP_TITLE, APP_WINDOW_FLAGS) != 0 &&
            app_show_picture() && app_bind_keys();
    }
    if (!started) {
        app_end();
        return false;
    }
    return true;
}

void app_menu_event(intptr_t menu) {
    const AppCommand *command = app_command(menu);
    if (command) {
        command->run();
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

void app_end() {
    runtime_end();
    HeapDestroy(app.host.app_heap);
    app.host.app_heap = nullptr;
    runtime_host = nullptr;
}

UINT app_run() {
    if (!app_start()) return APP_EXIT_STARTUP_FAILED;
    app_command_loop();
    app_end();
    return APP_EXIT_NORMAL;
}

void app_main() {
    ExitProcess(app_run());
}

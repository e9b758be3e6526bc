#pragma once
// The terrain application: start-up, the command loop and the end sequence.
#include <windows.h>
#include <stdint.h>
#include "app/grid.h"
#include "runtime/core/heap.h"
#include "runtime/window/window.h"

struct AppGlobals {
    RuntimeHost host; // app_heap, then app_instance: read by every runtime library
    int32_t color_view;
    int32_t last_event;
    int32_t redraw;
    HeightGrid grid;
};

// The application's one state, zeroed by app_start.
extern AppGlobals app;

const int32_t APP_MENU_COUNT = 7; // menu numbers 0..6, one command each
// The program's window: centred, with a caption and a system menu (and so a close box).
const uint32_t APP_WINDOW_FLAGS = OPEN_CENTRED | WS_CAPTION | WS_SYSMENU;

// Exit codes of the process.
const UINT APP_EXIT_NORMAL = 0;
const UINT APP_EXIT_STARTUP_FAILED = 1;

// Start-up up to the first picture and the shortcuts. When any part of it cannot be made
// (every allocation of the start-up counts), everything made so far is released again,
// the application heap included, and false is returned.
bool app_start();
// Runs the command of one menu event: the command, the render when needed, and the
// picture handed to gadget 0.
void app_menu_event(intptr_t menu);
// Waits for events until the window's close event.
void app_command_loop();
// Ends the runtime and destroys the application heap.
void app_end();
// The virtual key bound to a menu number; 0 for a number that has no command.
int32_t app_command_key(intptr_t menu);
// Start-up, the command loop and the end; answers APP_EXIT_NORMAL, or APP_EXIT_STARTUP_FAILED
// when the start-up failed.
UINT app_run();
// The process entry: exits with the code of app_run.
[[noreturn]] void app_main();

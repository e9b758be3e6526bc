#include "app/app.h"
#include "app/terrain.h"
#include "runtime/image/drawing.h"
#include "runtime/image/image.h"
#include "runtime/gadget/gadget.h"
#include "runtime/window/window_private.h"
#include "tests/support/pixels.h"
#include "tests/support/program.h"
#include "tests/support/test_support.h"
#include <commctrl.h>
#include <string.h>
#include <tuple>
#include <vector>

static HWND heightmap_window() {
    return FindWindowA(nullptr, "Heightmap");
}

static COLORREF image_pixel(int x, int y) {
    return bitmap_pixel(image_handle(0), x, y);
}

static void set_image_pixel(int x, int y, COLORREF c) {
    ASSERT_TRUE(drawing_begin(image_output(0)));
    drawing_plot(x, y, int32_t(c));
    drawing_end();
}

static std::vector<int32_t> grid_copy() {
    return std::vector<int32_t>(app.grid.data, app.grid.data + GRID_SIZE * GRID_SIZE);
}

TEST_F(ProgramTest, StartsWithThePictureInTheWindowAndEndsCleanly) {
    HWND w = heightmap_window();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(IsWindowVisible(w));
    EXPECT_TRUE(class_registered("WindowClass_0"));
    EXPECT_EQ(app.color_view, 1);
    EXPECT_EQ(app.redraw, 0);
    // The gadget shows image 0 at the window's origin, at the image's size.
    HWND control = program_gadget_control();
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(GetParent(control), w);
    RECT r = window_rect(control);
    EXPECT_EQ(r.right - r.left, 513);
    EXPECT_EQ(r.bottom - r.top, 513);
    POINT origin = {r.left, r.top};
    ScreenToClient(w, &origin);
    EXPECT_EQ(origin.x, 0);
    EXPECT_EQ(origin.y, 0);
    EXPECT_EQ(gadget_get_state(0), reinterpret_cast<intptr_t>(image_handle(0)));
    WindowRecord *window = window_record(0);
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(window->shortcut_count, 9); // the two Tab entries and the seven commands
    const WORD keys[] = {VK_RETURN, '1', '2', 'N', 'Z', 'B', 'I'};
    for (int i = 0; i < APP_MENU_COUNT; i++) {
        EXPECT_EQ(window->shortcuts[2 + i].key, keys[i]);
        EXPECT_EQ(window->shortcuts[2 + i].cmd, i);
        EXPECT_EQ(window->shortcuts[2 + i].fVirt, 3);
        EXPECT_EQ(command_key(i), keys[i]);
    }
    EXPECT_EQ(command_key(APP_MENU_COUNT), 0);
    EXPECT_EQ(command_key(-1), 0);
    // The colour view of the first terrain: row 0 and column 0 stay black.
    EXPECT_EQ(image_pixel(0, 0), 0u);
    EXPECT_EQ(image_pixel(0, 300), 0u);
    EXPECT_NE(image_pixel(300, 300), 0u);
    app_end();
    EXPECT_EQ(heightmap_window(), nullptr);
    EXPECT_FALSE(class_registered("WindowClass_0"));
    runtime_host = &test_host;
}

TEST_F(ProgramTest, MenuEventsRunTheirCommandAndRender) {
    std::vector<int32_t> before = grid_copy();
    // A number outside 0..6 runs nothing and renders nothing.
    set_image_pixel(5, 5, RGB(1, 2, 3));
    app_menu_event(7);
    app_menu_event(-1);
    EXPECT_EQ(image_pixel(5, 5), RGB(1, 2, 3));
    EXPECT_EQ(grid_copy(), before);
    // The view commands render without touching the grid, also when the view is unchanged.
    app_menu_event(1);
    EXPECT_EQ(app.color_view, 0);
    int h = grid_get(app.grid, 5, 5);
    EXPECT_EQ(image_pixel(5, 5), RGB(h, h, h));
    set_image_pixel(5, 5, RGB(1, 2, 3));
    app_menu_event(1);
    EXPECT_EQ(image_pixel(5, 5), RGB(h, h, h));
    EXPECT_EQ(grid_copy(), before);
    // Invert changes the grid and keeps the grey view.
    app_menu_event(6);
    EXPECT_EQ(grid_get(app.grid, 5, 5), 255 - h);
    EXPECT_EQ(image_pixel(5, 5), RGB(255 - h, 255 - h, 255 - h));
    EXPECT_EQ(app.color_view, 0);
    EXPECT_EQ(app.redraw, 0);
    app_menu_event(2);
    EXPECT_EQ(app.color_view, 1);
}

// Once the loop waits, the timer presses 1 and I and closes the window. Should the close not end
// the loop, a raw WM_CLOSE, the close event's code, ends it after two seconds, and the test fails.
static int32_t loop_ticks;
static const int32_t LAST_LOOP_TICK = 100;
static void CALLBACK drive_command_loop(HWND, UINT, UINT_PTR, DWORD) {
    if (loop_ticks++ == 0) {
        PostMessageA(heightmap_window(), WM_KEYDOWN, '1', 1);
        PostMessageA(heightmap_window(), WM_KEYDOWN, 'I', 1);
        PostMessageA(heightmap_window(), WM_CLOSE, 0, 0);
    } else if (loop_ticks == LAST_LOOP_TICK) {
        PostThreadMessageA(GetCurrentThreadId(), WM_CLOSE, 0, 0);
    }
}

// The whole run: the loop lets the timer's own event pass, runs each key's command as its menu
// event comes (no other event runs the last one again) and ends at the close event; the end
// leaves no window, and the exit code is 0.
TEST(Program, RunsFromItsStartThroughACommandToTheCloseBox) {
    loop_ticks = 0;
    UINT_PTR timer = SetTimer(nullptr, 0, 20, drive_command_loop);
    ASSERT_NE(timer, 0u);
    UINT code = app_run();
    KillTimer(nullptr, timer);
    runtime_host = &test_host;
    EXPECT_EQ(code, APP_EXIT_NORMAL);
    EXPECT_LT(loop_ticks, LAST_LOOP_TICK);
    EXPECT_EQ(app.color_view, 0); // the grey view's command ran, though invert came after it
    EXPECT_EQ(app.last_event, EVENT_WINDOW_CLOSE);
    EXPECT_EQ(heightmap_window(), nullptr);
}

// A start-up that cannot make one of its parts stops and leaves no window or class behind; the
// run then ends with its own exit code.
TEST(Program, AStartThatCannotMakeAPartStopsAndLeavesNothing) {
    auto expect_start_stops = [] {
        int32_t windows = thread_window_count();
        bool started = app_start();
        EXPECT_FALSE(started);
        if (started) app_end();
        EXPECT_EQ(thread_window_count(), windows);
        EXPECT_FALSE(class_registered("WindowClass_0"));
        runtime_host = &test_host;
    };
    const std::tuple<const char *, const char *, const void *> failures[] = {
        {"kernel32.dll", "HeapCreate", zero_replacement(HeapCreate)},
        {"comctl32.dll", "InitCommonControlsEx", zero_replacement(InitCommonControlsEx)},
        {"gdi32.dll", "CreateCompatibleBitmap", zero_replacement(CreateCompatibleBitmap)},
        {"user32.dll", "CreateWindowExA", zero_replacement(CreateWindowExA)},
        {"user32.dll", "CopyAcceleratorTableA", zero_replacement(CopyAcceleratorTableA)}};
    for (const auto &[dll, function, replacement] : failures) {
        SCOPED_TRACE(function);
        PlatformPatch failing(dll, function, replacement);
        ASSERT_NE(failing.original(), nullptr);
        expect_start_stops();
        if (strcmp(function, "HeapCreate") != 0) continue;
        EXPECT_EQ(app_run(), APP_EXIT_STARTUP_FAILED);
    }
    // The core's scratch block and the drawing objects, made once per process, lost since.
    {
        Replaced<void *> no_scratch_block(core_library().scratch_block, nullptr);
        heap_fail_allocations(core_library().scratch_heap, 0, 1);
        expect_start_stops();
        heap_fail_reset();
    }
    Replaced<HBRUSH> no_brush(drawing_state.default_brush, nullptr);
    expect_start_stops();
}

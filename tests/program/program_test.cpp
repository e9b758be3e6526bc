#include "app/app.h"
#include "app/terrain.h"
#include "runtime/image/image.h"
#include "runtime/gadget/gadget.h"
#include "runtime/window/window_private.h"
#include "tests/support/pixels.h"
#include "tests/support/program.h"
#include "tests/support/test_support.h"
#include <vector>

static HWND heightmap_window() {
    return FindWindowA(nullptr, "Heightmap");
}

static COLORREF image_pixel(int x, int y) {
    return bitmap_pixel(image_handle(0), x, y);
}

static void set_image_pixel(int x, int y, COLORREF c) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, image_handle(0));
    SetPixelV(dc, x, y, c);
    SelectObject(dc, old);
    DeleteDC(dc);
}

static std::vector<int32_t> grid_copy() {
    std::vector<int32_t> cells;
    for (int y = 1; y <= 513; y++)
        for (int x = 1; x <= 513; x++)
            cells.push_back(grid_get(app.grid, x, y));
    return cells;
}

// The gadget shows image 0 at the window's origin, at the image's size.
static void expect_gadget_shows_the_image(HWND window) {
    HWND control = program_gadget_control();
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(GetParent(control), window);
    RECT r = window_rect(control);
    EXPECT_EQ(r.right - r.left, 513);
    EXPECT_EQ(r.bottom - r.top, 513);
    POINT origin = {r.left, r.top};
    ScreenToClient(window, &origin);
    EXPECT_EQ(origin.x, 0);
    EXPECT_EQ(origin.y, 0);
    EXPECT_EQ(gadget_get_state(0), reinterpret_cast<intptr_t>(image_handle(0)));
}

TEST(Program, StartsWithThePictureInTheWindowAndEndsCleanly) {
    ASSERT_TRUE(app_start());
    HWND w = heightmap_window();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(IsWindowVisible(w));
    EXPECT_TRUE(class_registered("WindowClass_0"));
    EXPECT_EQ(app.color_view, 1);
    EXPECT_EQ(app.redraw, 0);
    expect_gadget_shows_the_image(w);

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

TEST(Program, MenuEventsRunTheirCommandAndRender) {
    ASSERT_TRUE(app_start());
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
    app_end();
    runtime_host = &test_host;
}

#include "tests/gadget/gadget_test_support.h"
#include "runtime/core/core_private.h"
#include <tuple>
#include <utility>

static const COLORREF RED = RGB(0xE0, 0x10, 0x10);
static const COLORREF BLUE = RGB(0x10, 0x10, 0xE0);
static const COLORREF GREEN = RGB(0x10, 0xC0, 0x10);
static const COLORREF WHITE = RGB(0xFF, 0xFF, 0xFF);

using Extent = std::pair<LONG, LONG>;

static Extent extent(HWND window) {
    RECT rect = window_rect(window);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

static Extent position_in(HWND parent, HWND window) {
    POINT point = {window_rect(window).left, window_rect(window).top};
    ScreenToClient(parent, &point);
    return {point.x, point.y};
}

static HANDLE image_of(HWND control, UINT message = STM_GETIMAGE, WPARAM wparam = 0) {
    return reinterpret_cast<HANDLE>(SendMessageA(control, message, wparam, 0));
}

// wParam names an image type the gadget ignores.
static LRESULT set_image(HWND control, HANDLE image, UINT message = STM_SETIMAGE) {
    return SendMessageA(control, message, IMAGE_CURSOR, reinterpret_cast<LPARAM>(image));
}

static void fill_square(uint32_t *bits, int stride, int x, int y, int side, COLORREF colour) {
    GdiFlush();
    for (int row = y; row < y + side; row++)
        for (int column = x; column < x + side; column++)
            bits[row * stride + column] = swap_red_blue(colour);
}

// A colour icon of the given size, opaque, filled with `colour`.
static HICON test_icon(int width, int height, COLORREF colour) {
    std::vector<BYTE> opaque((width + 15) / 16 * 2 * height, 0); // a black mask
    std::vector<uint32_t> pixels(size_t(width) * size_t(height), swap_red_blue(colour));
    return CreateIcon(nullptr, width, height, 1, 32, opaque.data(),
                      reinterpret_cast<const BYTE *>(pixels.data()));
}

// The pixel at a client point of `window`, read back from the screen after a short pump.
static COLORREF screen_pixel(HWND window, int x, int y) {
    pump_for(20); // the window's drawing reaches the screen once its thread looks for messages
    POINT point = {x, y};
    ClientToScreen(window, &point);
    HDC screen = GetDC(nullptr);
    COLORREF pixel = GetPixel(screen, point.x, point.y);
    ReleaseDC(nullptr, screen);
    return pixel;
}

using PixelAt = std::tuple<int, int, COLORREF>;

// Each pixel as `read` finds it in the window.
static void expect_pixels(COLORREF (*read)(HWND window, int x, int y), HWND window,
                          std::initializer_list<PixelAt> pixels) {
    for (auto [x, y, colour] : pixels)
        EXPECT_EQ(read(window, x, y), colour) << "at " << x << "," << y;
}

// What the control draws when asked to print itself into a white square of `side` pixels.
static void expect_printed(HWND control, int side, std::initializer_list<PixelAt> pixels) {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = test_bitmap(side, side, WHITE, nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    EXPECT_EQ(SendMessageA(control, WM_PRINT, WPARAM(dc), PRF_CLIENT), 0);
    for (auto [x, y, colour] : pixels)
        EXPECT_EQ(GetPixel(dc, x, y), colour) << "at " << x << "," << y;
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bitmap);
}

// Stand-ins for platform calls, answering what Wine never answers; the last one counts.
struct Refused {
    static int WINAPI object(HANDLE, int, LPVOID) { return 0; }
    static BOOL WINAPI window_rect(HWND, LPRECT) { return FALSE; }
    static HDC WINAPI begin_paint(HWND, LPPAINTSTRUCT) { return nullptr; }
    static inline int end_paints = 0;
    static BOOL WINAPI end_paint(HWND, const PAINTSTRUCT *) { return ++end_paints > 0; }
};

class ImageGadgetTest : public GadgetTest {
  protected:
    uint32_t *bits = nullptr;
    HBITMAP picture = nullptr; // 513 x 513, red with a blue square at (100, 200)
    void SetUp() override {
        GadgetTest::SetUp();
        picture = test_bitmap(513, 513, RED, &bits);
        ASSERT_NE(picture, nullptr);
        fill_square(bits, 513, 100, 200, 10, BLUE);
    }
    void TearDown() override {
        GadgetTest::TearDown();
        DeleteObject(picture);
    }
    HWND create(ObjectNumber number, int x, int y, int width, int height, HANDLE image,
                DWORD ex_style = 0) {
        intptr_t result = gadget_image_create_ex(number, x, y, width, height, image, ex_style);
        GadgetRecord *record = gadget_record(number == ANY_ID ? result : number);
        return record ? record->window : nullptr;
    }
};

// A bitmap sizes the control (with the client edge's pixels) where it was put; nothing else does.
TEST_F(ImageGadgetTest, KindTableIsFilledAndTheBitmapSizesTheControl) {
    HWND plain = create(0, 10, 20, 0, 0, picture);
    ASSERT_TRUE(plain);
    const GadgetTypeOps *ops = gadget_record(0)->ops;
    ASSERT_NE(ops, nullptr);
    EXPECT_EQ(std::make_tuple(ops->kind, ops->size, ops->notify, ops->on_free),
              std::make_tuple(GADGET_KIND_IMAGE, int32_t(sizeof(GadgetTypeOps)), nullptr, nullptr));
    EXPECT_TRUE(ops->get_state && ops->set_state);
    for (GadgetOp op : ops->further)
        EXPECT_EQ(op, nullptr);
    EXPECT_EQ(GetWindowLongPtrA(plain, GWL_STYLE), LONG_PTR(0x50000100));
    char name[16] = {};
    GetClassNameA(plain, name, sizeof name);
    EXPECT_STREQ(name, "Static");
    EXPECT_EQ(extent(plain), Extent(513, 513));
    EXPECT_EQ(position_in(parent, plain), Extent(10, 20));

    HWND edged = create(1, 30, 40, 0, 0, picture, WS_EX_CLIENTEDGE);
    ASSERT_TRUE(edged);
    EXPECT_EQ(gadget_record(1)->ops, ops) << "one table shared by the kind";
    EXPECT_EQ(extent(edged), Extent(517, 517));
    RECT client;
    GetClientRect(edged, &client);
    EXPECT_EQ(client.right, 513);
    EXPECT_EQ(client.bottom, 513);
    EXPECT_EQ(position_in(parent, edged), Extent(30, 40));

    HWND empty = create(2, 0, 0, 100, 50, nullptr);
    EXPECT_EQ(extent(empty), Extent(100, 50)) << "without an image the creation size stays";
}

// Any handle is stored, whatever wParam says; bitmaps and colour icons size the control.
TEST_F(ImageGadgetTest, IconsEmptyAndUnreadableHandlesSizeTheControl) {
    HBITMAP small = test_bitmap(100, 80, RED, nullptr);
    HBITMAP flat = test_bitmap(100, 50, RED, nullptr), narrow = test_bitmap(60, 50, RED, nullptr);
    HICON icon = test_icon(40, 24, GREEN);
    BYTE and_bits[32 * 4] = {}, xor_bits[32 * 4] = {};
    HICON mono = CreateIcon(nullptr, 32, 32, 1, 1, and_bits, xor_bits);
    ICONINFO mono_info = {};
    ASSERT_TRUE(GetIconInfo(mono, &mono_info));
    EXPECT_EQ(mono_info.hbmColor, nullptr) << "a monochrome icon has no colour bitmap";
    DeleteObject(mono_info.hbmMask);
    HGDIOBJ brush = GetStockObject(GRAY_BRUSH);

    HWND control = create(0, 5, 5, 0, 0, small, WS_EX_CLIENTEDGE);
    ASSERT_TRUE(control);
    EXPECT_EQ(extent(control), Extent(104, 84));
    const struct {
        UINT message;
        HANDLE image;
        Extent extent;
    } steps[] = {
        {STM_SETIMAGE, icon, {44, 28}},   {STM_SETIMAGE, nullptr, {44, 28}},
        {STM_SETIMAGE, small, {104, 84}}, {STM_SETIMAGE, brush, {104, 84}},
        {STM_SETICON, mono, {104, 84}},   {STM_SETICON, icon, {44, 28}},
        {STM_SETIMAGE, small, {104, 84}}, {STM_SETIMAGE, flat, {104, 54}},
        {STM_SETIMAGE, narrow, {64, 54}},
    };
    for (size_t i = 0; i < sizeof steps / sizeof steps[0]; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(set_image(control, steps[i].image, steps[i].message),
                  reinterpret_cast<LRESULT>(steps[i].image));
        EXPECT_EQ(extent(control), steps[i].extent);
        EXPECT_EQ(image_of(control, STM_GETIMAGE, i % 2 ? IMAGE_BITMAP : 0), steps[i].image);
        EXPECT_EQ(image_of(control, STM_GETICON, i % 2 ? IMAGE_ICON : 0), steps[i].image);
        EXPECT_EQ(gadget_get_state(0), reinterpret_cast<intptr_t>(steps[i].image));
        if (steps[i].image == mono) expect_printed(control, 120, {}); // must not fail
    }
    // An unreadable size leaves the control's; an unreadable rectangle sizes it all the same.
    {
        PlatformPatch no_size("gdi32.dll", "GetObjectA",
                              reinterpret_cast<const void *>(Refused::object));
        ASSERT_NE(no_size.original(), nullptr);
        set_image(control, picture);
        set_image(control, icon);
    }
    EXPECT_EQ(extent(control), Extent(64, 54));
    {
        PlatformPatch no_rect("user32.dll", "GetWindowRect",
                              reinterpret_cast<const void *>(Refused::window_rect));
        ASSERT_NE(no_rect.original(), nullptr);
        set_image(control, nullptr);
        EXPECT_EQ(gadget_set_state(0, reinterpret_cast<intptr_t>(small)),
                  reinterpret_cast<intptr_t>(small));
    }
    EXPECT_EQ(extent(control), Extent(104, 84));
    DestroyIcon(mono);
    DestroyIcon(icon);
    DeleteObject(small);
    DeleteObject(flat);
    DeleteObject(narrow);
}

// A changed image set again shows at once, as after an enabling change; a clear shows the
// window underneath. A paint without a DC ends no paint; a print draws the image alone.
TEST_F(ImageGadgetTest, ImageIsPaintedRefreshedPrintedAndCleared) {
    HWND control = create(0, 10, 20, 0, 0, picture);
    ASSERT_TRUE(control);
    pump_for(50);
    expect_pixels(screen_pixel, control, {{5, 5, RED}, {105, 205, BLUE}, {512, 512, RED}});
    EXPECT_EQ(screen_pixel(parent, 10 + 513, 20 + 5), TEST_BACKGROUND);

    fill_square(bits, 513, 300, 400, 20, GREEN);
    EXPECT_EQ(gadget_set_state(0, reinterpret_cast<intptr_t>(picture)),
              reinterpret_cast<intptr_t>(picture));
    expect_pixels(window_pixel, control, {{310, 410, GREEN}, {105, 205, BLUE}});
    EXPECT_EQ(screen_pixel(control, 310, 410), GREEN);

    HDC dc = GetDC(control);
    RECT scribble = {0, 0, 60, 60};
    FillRect(dc, &scribble, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    ReleaseDC(control, dc);
    ASSERT_EQ(window_pixel(control, 30, 30), RGB(0, 0, 0));
    {
        PlatformPatch no_dc("user32.dll", "BeginPaint",
                            reinterpret_cast<const void *>(Refused::begin_paint));
        PlatformPatch counted("user32.dll", "EndPaint",
                              reinterpret_cast<const void *>(Refused::end_paint));
        ASSERT_TRUE(no_dc.original() && counted.original());
        EXPECT_EQ(SendMessageA(control, WM_PAINT, 0, 0), 0);
    }
    EXPECT_EQ(Refused::end_paints, 0);
    EXPECT_EQ(window_pixel(control, 30, 30), RGB(0, 0, 0));
    EnableWindow(control, FALSE);
    EXPECT_EQ(window_pixel(control, 30, 30), RED);

    expect_printed(control, 600,
                   {{5, 5, RED}, {105, 205, BLUE}, {512, 512, RED}, {513, 513, WHITE}});
    EXPECT_EQ(SendMessageA(control, WM_PRINT, 0, PRF_CLIENT), 0);

    ASSERT_EQ(screen_pixel(control, 50, 50), RED);
    gadget_set_state(0, 0);
    EXPECT_EQ(extent(control), Extent(513, 513));
    expect_pixels(window_pixel, control, {{50, 50, TEST_BACKGROUND}, {105, 205, TEST_BACKGROUND}});
    EXPECT_EQ(screen_pixel(control, 105, 205), TEST_BACKGROUND);
    expect_printed(control, 100, {{5, 5, WHITE}}); // no image, nothing drawn
    HICON icon = test_icon(40, 24, GREEN);
    set_image(control, icon);
    expect_printed(control, 100, {{5, 5, GREEN}, {39, 23, GREEN}, {45, 5, WHITE}});
    DestroyIcon(icon);

    HWND edged = create(1, 540, 20, 0, 0, test_icon(30, 30, GREEN), WS_EX_CLIENTEDGE);
    ASSERT_TRUE(edged);
    pump_for(30);
    expect_pixels(screen_pixel, edged, {{0, 0, GREEN}, {29, 29, GREEN}}); // at the client origin
    DestroyIcon(static_cast<HICON>(image_of(edged)));
}

// No list, list state, list window or slot: no gadget, no control left, the old one kept.
TEST_F(ImageGadgetTest, FailedCreationsLeaveNoGadgetOrControl) {
    heap_fail_allocations(object_heap(), 0, 1);
    EXPECT_EQ(gadget_image_create(ANY_ID, 0, 0, 0, 0, picture), 0);
    heap_fail_reset();
    EXPECT_EQ(gadget_image_create(-5, 0, 0, 0, 0, picture), 0);
    EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr);
    EXPECT_EQ(live_gadget_count(), 0);

    HWND existing = create(3, 0, 0, 0, 0, picture);
    ASSERT_TRUE(existing);
    const int32_t capacity = gadget_library().gadget_table->capacity;
    gadget_list_state()->parent = nullptr;
    for (ObjectNumber number : {ObjectNumber(3), ANY_ID, ObjectNumber(200)})
        EXPECT_EQ(gadget_image_create(number, 0, 0, 0, 0, picture), 0) << number;
    {
        Replaced<GadgetListState *> no_lists(gadget_library().list_state, nullptr);
        EXPECT_EQ(gadget_image_create(3, 0, 0, 0, 0, picture), 0);
    }
    HWND gone = test_child_create(parent, 0, 0, 5, 5);
    DestroyWindow(gone);
    gadget_list_state()->parent = gone;
    EXPECT_EQ(gadget_image_create(3, 0, 0, 0, 0, picture), 0);
    EXPECT_EQ(gadget_library().gadget_table->capacity, capacity);
    ASSERT_NE(gadget_record(3), nullptr);
    EXPECT_EQ(gadget_record(3)->window, existing) << "the old gadget 3 is untouched";
    EXPECT_EQ(live_gadget_count(), 1);
}

// Mouse input through the system queue; each step waits until the control has seen it.
class ImageGadgetMouseTest : public ImageGadgetTest {
  protected:
    HWND control = nullptr;
    void SetUp() override {
        ImageGadgetTest::SetUp();
        small = test_bitmap(200, 200, RED, nullptr);
        control = create(0, 50, 50, 0, 0, small);
        ASSERT_TRUE(control);
        pump_for(30);
    }
    void TearDown() override {
        ImageGadgetTest::TearDown();
        DeleteObject(small);
    }
    HBITMAP small = nullptr;
    void move(int x, int y) {
        POINT screen = {x, y};
        ClientToScreen(control, &screen);
        EXPECT_TRUE(pointer_move(screen.x, screen.y)) << "move to " << x << "," << y;
    }
    void buttons(std::initializer_list<DWORD> presses) {
        EXPECT_TRUE(mouse_buttons(presses)) << "button messages did not arrive";
        pump_for(20);
    }
    intptr_t armed() { return gadget_record(0)->kind_data[1]; }
    std::vector<LPARAM> event_types() {
        std::vector<LPARAM> types;
        for (const SeenGadgetEvent &event : seen_events) {
            EXPECT_EQ(event.window, parent);
            EXPECT_EQ(event.number, WPARAM(0));
            types.push_back(event.type);
        }
        return types;
    }
};

TEST_F(ImageGadgetMouseTest, DragStartsOnceBeyondTheDragRectangle) {
    const int cx = GetSystemMetrics(SM_CXDRAG), cy = GetSystemMetrics(SM_CYDRAG);
    move(100, 100);
    buttons({MOUSEEVENTF_LEFTDOWN});
    EXPECT_EQ(armed(), 1);
    EXPECT_EQ(gadget_record(0)->kind_data[2], intptr_t(MAKELPARAM(100, 100)));
    EXPECT_EQ(GetCapture(), control);
    move(100 + cx, 100);
    move(100 - cx, 100 + cy);
    move(100, 100 - cy);
    EXPECT_TRUE(event_types().empty()) << "inside the drag rectangle";
    move(100 + cx + 1, 100);
    ASSERT_TRUE(pump_until([] { return !seen_events.empty(); }, 2000));
    EXPECT_EQ(event_types(), std::vector<LPARAM>{EVENT_TYPE_DRAG_START});
    EXPECT_EQ(armed(), 0);
    EXPECT_NE(GetCapture(), control);
    move(150, 130);
    move(20, 20);
    buttons({MOUSEEVENTF_LEFTUP});
    EXPECT_EQ(event_types().size(), 1u) << "one drag start per press";

    // The next press arms again; the capture follows the pointer out of the control.
    move(190, 60);
    buttons({MOUSEEVENTF_LEFTDOWN});
    EXPECT_EQ(armed(), 1);
    move(190 + cx + 1, 60); // beyond the control's right edge
    ASSERT_TRUE(pump_until([] { return seen_events.size() == 2; }, 2000));
    buttons({MOUSEEVENTF_LEFTUP});
    EXPECT_EQ(event_types(), (std::vector<LPARAM>{EVENT_TYPE_DRAG_START, EVENT_TYPE_DRAG_START}));

    // A press and release without movement disarms and releases the capture.
    move(40, 150);
    buttons({MOUSEEVENTF_LEFTDOWN});
    EXPECT_EQ(GetCapture(), control);
    buttons({MOUSEEVENTF_LEFTUP});
    EXPECT_EQ(armed(), 0);
    EXPECT_NE(GetCapture(), control);
    move(40 + 3 * cx, 150);
    pump_for(50);
    EXPECT_EQ(event_types().size(), 2u);

    // Each press reached the static control, whose notice the dispatch leaves to the window.
    ASSERT_EQ(seen_commands.size(), 3u);
    for (const SeenCommand &command : seen_commands) {
        EXPECT_EQ(command.control, control);
        EXPECT_EQ(HIWORD(command.wparam), STN_CLICKED);
        EXPECT_EQ(command.dispatch_result, NOT_HANDLED);
    }

    // Sent straight, unpumped: in each direction the rectangle's edge holds, one pixel beyond not.
    seen_events.clear();
    for (POINT way : {POINT{1, 0}, POINT{-1, 0}, POINT{0, 1}, POINT{0, -1}}) {
        SCOPED_TRACE(testing::Message() << way.x << "," << way.y);
        SendMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 100));
        for (int beyond : {0, 1}) {
            LPARAM at = MAKELPARAM(100 + way.x * (cx + beyond), 100 + way.y * (cy + beyond));
            SendMessageA(control, WM_MOUSEMOVE, MK_LBUTTON, at);
            EXPECT_EQ(armed(), 1 - beyond);
        }
        SendMessageA(control, WM_LBUTTONUP, 0, 0);
    }
    pump_for(20);
    EXPECT_EQ(event_types(), std::vector<LPARAM>(4, EVENT_TYPE_DRAG_START));
}

TEST_F(ImageGadgetMouseTest, RightClicksAndDoubleClicks) {
    auto right_click_at = [this](int x, int y) {
        move(x, y);
        buttons({MOUSEEVENTF_RIGHTDOWN});
        buttons({MOUSEEVENTF_RIGHTUP});
    };
    right_click_at(20, 20);
    EXPECT_EQ(event_types(), std::vector<LPARAM>{EVENT_TYPE_RIGHT_CLICK});

    seen_events.clear();
    move(120, 120);
    buttons(
        {MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP, MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP});
    pump_for(50);
    EXPECT_EQ(event_types(),
              (std::vector<LPARAM>{EVENT_TYPE_RIGHT_CLICK, EVENT_TYPE_RIGHT_DOUBLE_CLICK}));

    seen_events.clear();
    right_click_at(60, 170);
    EXPECT_EQ(event_types(), std::vector<LPARAM>{EVENT_TYPE_RIGHT_CLICK})
        << "the double-click's last release cleared the flag";

    // A double click whose last release lands off the gadget: the next right click counts.
    seen_events.clear();
    move(120, 120);
    buttons({MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP, MOUSEEVENTF_RIGHTDOWN});
    move(-30, -30); // over the parent window
    buttons({MOUSEEVENTF_RIGHTUP});
    right_click_at(60, 170);
    EXPECT_EQ(event_types(),
              (std::vector<LPARAM>{EVENT_TYPE_RIGHT_CLICK, EVENT_TYPE_RIGHT_DOUBLE_CLICK,
                                   EVENT_TYPE_RIGHT_CLICK}));

    // The mark is the double-clicked gadget's own: a release over another one is its click.
    HWND other = create(1, 300, 50, 0, 0, small);
    seen_events.clear();
    SendMessageA(control, WM_RBUTTONDBLCLK, MK_RBUTTON, MAKELPARAM(120, 120));
    SendMessageA(other, WM_RBUTTONUP, 0, MAKELPARAM(5, 5));
    pump_for(20);
    ASSERT_EQ(seen_events.size(), 2u);
    EXPECT_EQ(seen_events[1].number, WPARAM(1));
    EXPECT_EQ(seen_events[1].type, EVENT_TYPE_RIGHT_CLICK);
}

// A press that loses the capture (to another window, WM_CANCELMODE or someone's release)
// is over: a later move with the button still down starts no drag.
TEST_F(ImageGadgetMouseTest, LosingTheCaptureDisarmsTheDrag) {
    const int cx = GetSystemMetrics(SM_CXDRAG);
    for (int way = 0; way < 3; way++) {
        const int x = 40 + 50 * way; // presses apart, so that none makes a double click
        move(x, 100);
        buttons({MOUSEEVENTF_LEFTDOWN});
        ASSERT_EQ(armed(), 1) << "way " << way;
        if (way == 0) SetCapture(parent);
        if (way == 1) SendMessageA(control, WM_CANCELMODE, 0, 0);
        ReleaseCapture();
        EXPECT_EQ(armed(), 0) << "way " << way;
        move(x + 3 * cx, 100);
        pump_for(30);
        buttons({MOUSEEVENTF_LEFTUP});
    }
    EXPECT_TRUE(event_types().empty());
}

TEST_F(ImageGadgetMouseTest, LeftDoubleClickPostsOneEventAndDoesNotArm) {
    const int cx = GetSystemMetrics(SM_CXDRAG);
    move(40, 40);
    buttons({MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP});
    pump_for(50);
    EXPECT_EQ(event_types(), std::vector<LPARAM>{EVENT_TYPE_LEFT_DOUBLE_CLICK});
    ASSERT_EQ(seen_commands.size(), 1u) << "the double-click is not passed on to the control";
    EXPECT_EQ(HIWORD(seen_commands[0].wparam), STN_CLICKED);
    EXPECT_EQ(armed(), 0);
    EXPECT_NE(GetCapture(), control);
    move(40 + 4 * cx, 40);
    pump_for(50);
    EXPECT_EQ(event_types().size(), 1u);
}

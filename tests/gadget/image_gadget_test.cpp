#include "tests/gadget/gadget_test_support.h"
#include "runtime/core/core_private.h"
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

static POINT position_in(HWND parent, HWND window) {
    POINT point = {window_rect(window).left, window_rect(window).top};
    ScreenToClient(parent, &point);
    return point;
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

// A memory DC over a white bitmap, as WM_PRINT receives it.
struct PrintTarget {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
    explicit PrintTarget(int side) {
        dc = CreateCompatibleDC(nullptr);
        bitmap = test_bitmap(side, side, WHITE, nullptr);
        old = SelectObject(dc, bitmap);
    }
    ~PrintTarget() {
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
};

struct PixelAt {
    int x, y;
    COLORREF colour;
};

// Each pixel as `read` finds it in the window.
static void expect_pixels(COLORREF (*read)(HWND window, int x, int y), HWND window,
                          std::initializer_list<PixelAt> pixels) {
    for (const PixelAt &p : pixels)
        EXPECT_EQ(read(window, p.x, p.y), p.colour) << "at " << p.x << "," << p.y;
}

// What the control draws when asked to print itself into a white square of `side` pixels.
static void expect_printed(HWND control, int side, std::initializer_list<PixelAt> pixels) {
    PrintTarget target(side);
    EXPECT_EQ(SendMessageA(control, WM_PRINT, WPARAM(target.dc), PRF_CLIENT), 0);
    for (const PixelAt &p : pixels)
        EXPECT_EQ(GetPixel(target.dc, p.x, p.y), p.colour) << "at " << p.x << "," << p.y;
}

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

TEST_F(ImageGadgetTest, KindTableIsFilledByTheFirstCreation) {
    ASSERT_TRUE(create(0, 0, 0, 0, 0, nullptr));
    const GadgetTypeOps *ops = gadget_record(0)->ops;
    ASSERT_NE(ops, nullptr);
    EXPECT_EQ(ops->kind, GADGET_KIND_IMAGE);
    EXPECT_EQ(ops->size, int32_t(sizeof(GadgetTypeOps)));
    EXPECT_NE(ops->get_state, nullptr);
    EXPECT_NE(ops->set_state, nullptr);
    EXPECT_EQ(ops->notify, nullptr);
    EXPECT_EQ(ops->on_free, nullptr);
    for (GadgetOp op : ops->further)
        EXPECT_EQ(op, nullptr);
    ASSERT_TRUE(create(1, 0, 0, 0, 0, nullptr));
    EXPECT_EQ(gadget_record(1)->ops, ops) << "one table shared by the kind";
    HWND control = gadget_record(0)->window;
    EXPECT_EQ(GetWindowLongPtrA(control, GWL_STYLE), LONG_PTR(0x50000100));
    char name[16] = {};
    GetClassNameA(control, name, sizeof name);
    EXPECT_STREQ(name, "Static");
}

TEST_F(ImageGadgetTest, ControlTakesTheSizeOfItsBitmap) {
    HWND plain = create(0, 10, 20, 0, 0, picture);
    ASSERT_TRUE(plain);
    EXPECT_EQ(extent(plain), Extent(513, 513));
    EXPECT_EQ(position_in(parent, plain).x, 10);
    EXPECT_EQ(position_in(parent, plain).y, 20);

    HWND edged = create(1, 30, 40, 0, 0, picture, WS_EX_CLIENTEDGE);
    ASSERT_TRUE(edged);
    EXPECT_EQ(extent(edged), Extent(517, 517));
    RECT client;
    GetClientRect(edged, &client);
    EXPECT_EQ(client.right, 513);
    EXPECT_EQ(client.bottom, 513);
    EXPECT_EQ(position_in(parent, edged).x, 30);

    HWND empty = create(2, 0, 0, 100, 50, nullptr);
    EXPECT_EQ(extent(empty), Extent(100, 50)) << "without an image the creation size stays";
}

TEST_F(ImageGadgetTest, IconsEmptyAndUnreadableHandlesSizeTheControl) {
    uint32_t *small_bits;
    HBITMAP small = test_bitmap(100, 80, RED, &small_bits);
    HICON icon = test_icon(40, 24, GREEN);
    BYTE and_bits[32 * 4] = {}, xor_bits[32 * 4] = {};
    HICON mono = CreateIcon(nullptr, 32, 32, 1, 1, and_bits, xor_bits);
    ICONINFO mono_info = {};
    ASSERT_TRUE(GetIconInfo(mono, &mono_info));
    EXPECT_EQ(mono_info.hbmColor, nullptr) << "a monochrome icon has no colour bitmap";
    DeleteObject(mono_info.hbmMask);
    HBRUSH brush = CreateSolidBrush(RED);

    HWND control = create(0, 5, 5, 0, 0, small, WS_EX_CLIENTEDGE);
    ASSERT_TRUE(control);
    EXPECT_EQ(extent(control), Extent(104, 84));
    EXPECT_EQ(set_image(control, icon), reinterpret_cast<LRESULT>(icon));
    EXPECT_EQ(extent(control), Extent(44, 28));
    EXPECT_EQ(set_image(control, nullptr), 0);
    EXPECT_EQ(extent(control), Extent(44, 28));
    EXPECT_EQ(image_of(control), nullptr);

    set_image(control, small);
    EXPECT_EQ(set_image(control, brush), reinterpret_cast<LRESULT>(brush));
    EXPECT_EQ(extent(control), Extent(104, 84)) << "neither bitmap nor icon: size kept";
    EXPECT_EQ(image_of(control), brush);
    EXPECT_EQ(set_image(control, mono, STM_SETICON), reinterpret_cast<LRESULT>(mono));
    EXPECT_EQ(extent(control), Extent(104, 84)) << "no colour bitmap: size kept";
    EXPECT_EQ(image_of(control, STM_GETICON), mono);
    PrintTarget target(120);
    SendMessageA(control, WM_PRINT, WPARAM(target.dc), PRF_CLIENT); // must not fail

    EXPECT_EQ(set_image(control, icon, STM_SETICON), reinterpret_cast<LRESULT>(icon));
    EXPECT_EQ(extent(control), Extent(44, 28));
    EXPECT_EQ(image_of(control, STM_GETIMAGE, IMAGE_BITMAP), icon);
    EXPECT_EQ(image_of(control, STM_GETICON, IMAGE_ICON), icon);
    EXPECT_EQ(gadget_get_state(0), reinterpret_cast<intptr_t>(icon));
    EXPECT_EQ(gadget_set_state(0, reinterpret_cast<intptr_t>(small)),
              reinterpret_cast<intptr_t>(small));
    EXPECT_EQ(extent(control), Extent(104, 84));

    DestroyWindow(control);
    DeleteObject(brush);
    DestroyIcon(mono);
    DestroyIcon(icon);
    DeleteObject(small);
}

TEST_F(ImageGadgetTest, BitmapIsPaintedAndRefreshedBySetState) {
    HWND control = create(0, 10, 20, 0, 0, picture);
    ASSERT_TRUE(control);
    pump_for(50);
    expect_pixels(screen_pixel, control, {{5, 5, RED}, {105, 205, BLUE}, {512, 512, RED}});
    EXPECT_EQ(screen_pixel(parent, 10 + 513, 20 + 5), TEST_BACKGROUND);

    // The same handle again after its pixels changed: shown before the call returns.
    fill_square(bits, 513, 300, 400, 20, GREEN);
    EXPECT_EQ(gadget_set_state(0, reinterpret_cast<intptr_t>(picture)),
              reinterpret_cast<intptr_t>(picture));
    expect_pixels(window_pixel, control, {{310, 410, GREEN}, {105, 205, BLUE}});
    EXPECT_EQ(screen_pixel(control, 310, 410), GREEN);

    HWND edged = create(1, 540, 20, 0, 0, test_icon(30, 30, GREEN), WS_EX_CLIENTEDGE);
    ASSERT_TRUE(edged);
    pump_for(30);
    expect_pixels(screen_pixel, edged, {{0, 0, GREEN}, {29, 29, GREEN}}); // at the client origin
    DestroyIcon(static_cast<HICON>(image_of(edged)));
}

TEST_F(ImageGadgetTest, PrintDrawsTheImageIntoTheGivenDC) {
    HWND control = create(0, 0, 0, 0, 0, picture);
    ASSERT_TRUE(control);
    // Only the image is drawn: the square beyond it stays white.
    expect_printed(control, 600,
                   {{5, 5, RED}, {105, 205, BLUE}, {512, 512, RED}, {513, 513, WHITE}});
    EXPECT_EQ(SendMessageA(control, WM_PRINT, 0, PRF_CLIENT), 0);

    HICON icon = test_icon(40, 24, GREEN);
    set_image(control, icon);
    expect_printed(control, 100, {{5, 5, GREEN}, {39, 23, GREEN}, {45, 5, WHITE}});
    set_image(control, nullptr);
    expect_printed(control, 100, {{5, 5, WHITE}}); // no image, nothing drawn
    DestroyIcon(icon);
}

TEST_F(ImageGadgetTest, ClearingShowsTheWindowUnderneath) {
    HWND control = create(0, 10, 20, 0, 0, picture);
    ASSERT_TRUE(control);
    pump_for(50);
    ASSERT_EQ(screen_pixel(control, 50, 50), RED);
    gadget_set_state(0, 0);
    EXPECT_EQ(extent(control), Extent(513, 513));
    expect_pixels(window_pixel, control, {{50, 50, TEST_BACKGROUND}, {105, 205, TEST_BACKGROUND}});
    EXPECT_EQ(screen_pixel(control, 105, 205), TEST_BACKGROUND);
}

TEST_F(ImageGadgetTest, EnablingRepaintsAtOnce) {
    HWND control = create(0, 10, 20, 0, 0, picture);
    ASSERT_TRUE(control);
    pump_for(50);
    HDC dc = GetDC(control);
    RECT scribble = {0, 0, 60, 60};
    FillRect(dc, &scribble, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    ReleaseDC(control, dc);
    ASSERT_EQ(window_pixel(control, 30, 30), RGB(0, 0, 0));
    EnableWindow(control, FALSE);
    EXPECT_EQ(window_pixel(control, 30, 30), RED);
}

TEST_F(ImageGadgetTest, NoCurrentListMeansNoGadget) {
    HWND existing = create(3, 0, 0, 0, 0, picture);
    ASSERT_TRUE(existing);
    const int32_t capacity = gadget_library().gadget_table->capacity;
    gadget_list_state()->parent = nullptr;
    EXPECT_EQ(gadget_image_create(3, 0, 0, 0, 0, picture), 0);
    EXPECT_EQ(gadget_image_create(ANY_ID, 0, 0, 0, 0, picture), 0);
    EXPECT_EQ(gadget_image_create(200, 0, 0, 0, 0, picture), 0);
    EXPECT_EQ(gadget_library().gadget_table->capacity, capacity);
    ASSERT_NE(gadget_record(3), nullptr);
    EXPECT_EQ(gadget_record(3)->window, existing) << "the old gadget 3 is untouched";
    EXPECT_EQ(live_gadget_count(), 1);
}

TEST_F(ImageGadgetTest, NoSlotMeansNoControlLeftBehind) {
    heap_fail_allocations(object_heap(), 0, 1);
    EXPECT_EQ(gadget_image_create(ANY_ID, 0, 0, 0, 0, picture), 0);
    heap_fail_reset();
    EXPECT_EQ(gadget_image_create(-5, 0, 0, 0, 0, picture), 0);
    EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr);
    EXPECT_EQ(live_gadget_count(), 0);
}

// Mouse input through the system queue; each step waits until the control has seen it.
class ImageGadgetMouseTest : public ImageGadgetTest {
  protected:
    HWND control = nullptr;
    void SetUp() override {
        ImageGadgetTest::SetUp();
        uint32_t *small_bits;
        small = test_bitmap(200, 200, RED, &small_bits);
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

    // Each press reached the static control, which tells the parent; that is no gadget
    // notification, so the dispatch leaves it to the window.
    ASSERT_EQ(seen_commands.size(), 3u);
    for (const SeenCommand &command : seen_commands) {
        EXPECT_EQ(command.control, control);
        EXPECT_EQ(HIWORD(command.wparam), STN_CLICKED);
        EXPECT_EQ(command.dispatch_result, NOT_HANDLED);
    }
}

TEST_F(ImageGadgetMouseTest, RightClicksAndDoubleClicks) {
    move(20, 20);
    buttons({MOUSEEVENTF_RIGHTDOWN});
    buttons({MOUSEEVENTF_RIGHTUP});
    EXPECT_EQ(event_types(), std::vector<LPARAM>{EVENT_TYPE_RIGHT_CLICK});

    seen_events.clear();
    move(120, 120);
    buttons(
        {MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP, MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP});
    pump_for(50);
    EXPECT_EQ(event_types(),
              (std::vector<LPARAM>{EVENT_TYPE_RIGHT_CLICK, EVENT_TYPE_RIGHT_DOUBLE_CLICK}));

    seen_events.clear();
    move(60, 170);
    buttons({MOUSEEVENTF_RIGHTDOWN});
    buttons({MOUSEEVENTF_RIGHTUP});
    EXPECT_EQ(event_types(), std::vector<LPARAM>{EVENT_TYPE_RIGHT_CLICK})
        << "the double-click's last release cleared the flag";

    // A double click whose last release lands off the gadget: the next right click counts.
    seen_events.clear();
    move(120, 120);
    buttons({MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP, MOUSEEVENTF_RIGHTDOWN});
    move(-30, -30); // over the parent window
    buttons({MOUSEEVENTF_RIGHTUP});
    move(60, 170);
    buttons({MOUSEEVENTF_RIGHTDOWN});
    buttons({MOUSEEVENTF_RIGHTUP});
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

// A press that loses the capture (to another window, to WM_CANCELMODE, to a release by
// someone else) is over: a later move across the control with the button still down
// starts no drag.
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

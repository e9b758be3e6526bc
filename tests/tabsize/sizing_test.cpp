#include "runtime/window/window_private.h"
#include "tests/support/test_support.h"
#include "tests/tabsize/drag_setting.h"
#include <string.h>

namespace {

// What the test window saw of the sizing loop.
struct SizingProbe {
    int32_t enter_count, exit_count, sizing_count, lbutton_downs, arrow_keys;
    WPARAM lbutton_wparam;
    LPARAM lbutton_lparam;
    int32_t loop_queries; // WM_GETMINMAXINFO carrying the loop's own limits
    MINMAXINFO limits_seen;
    bool apply_limits;
    POINT min_track, max_track;
    int32_t forced_height; // WM_SIZING sets this height when non-zero
    // Right after the loop handled an arrow key: the pointer's shape and the window.
    HCURSOR key_shape;
    RECT key_window;
};

SizingProbe probe;
const char SIZING_TEST_CLASS[] = "SizingTestWindow";

SizingState *sizing() {
    return window_sizing_state();
}

void answer_minmax(MINMAXINFO *limits) {
    if (limits == &sizing()->limits) {
        probe.loop_queries++;
        probe.limits_seen = *limits;
    }
    if (!probe.apply_limits) return;
    limits->ptMinTrackSize = probe.min_track;
    limits->ptMaxTrackSize = probe.max_track;
}

void note_key(HWND window, WPARAM key) {
    if (key < VK_LEFT || key > VK_DOWN) return;
    probe.key_shape = GetCursor();
    GetWindowRect(window, &probe.key_window);
}

// Hands every message to the sizing loop first, as the runtime's window procedure does.
LRESULT CALLBACK sizing_test_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    LRESULT result = sizing_handle_message(window, message, wparam, lparam);
    if (message == WM_KEYDOWN) note_key(window, wparam);
    if (result != NOT_HANDLED) return result;
    switch (message) {
    case WM_ENTERSIZEMOVE:
        probe.enter_count++;
        return 0;
    case WM_EXITSIZEMOVE:
        probe.exit_count++;
        return 0;
    case WM_SIZING:
        probe.sizing_count++;
        if (probe.forced_height) {
            RECT *rect = reinterpret_cast<RECT *>(lparam);
            rect->bottom = rect->top + probe.forced_height;
        }
        return TRUE;
    case WM_GETMINMAXINFO:
        answer_minmax(reinterpret_cast<MINMAXINFO *>(lparam));
        return 0;
    case WM_LBUTTONDOWN:
        probe.lbutton_downs++;
        probe.lbutton_wparam = wparam;
        probe.lbutton_lparam = lparam;
        break;
    case WM_KEYDOWN:
        if (wparam >= VK_LEFT && wparam <= VK_DOWN) probe.arrow_keys++;
        break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

HCURSOR shared_cursor(int32_t id) {
    return static_cast<HCURSOR>(
        LoadImageA(nullptr, MAKEINTRESOURCEA(id), IMAGE_CURSOR, 0, 0, LR_SHARED | LR_DEFAULTSIZE));
}

LPARAM client_lparam(HWND window, POINT screen) {
    ScreenToClient(window, &screen);
    return LPARAM(uint32_t(uint16_t(int16_t(screen.x))) | uint32_t(uint16_t(int16_t(screen.y)))
                                                              << 16);
}

} // namespace

// Full-window dragging on for the test, the previous setting back afterwards, and no
// sizing loop, capture or pressed button left behind even when a test fails.
class SizingLoop : public testing::Test {
  protected:
    // Where the pointer rests when a keyboard sizing starts.
    const POINT REST = {120, 150};
    DragFullWindowsSetting drag_full;
    bool button_down = false;
    HWND window = nullptr;
    HWND other = nullptr;

    void SetUp() override {
        register_test_class(SIZING_TEST_CLASS, sizing_test_proc);
        ASSERT_TRUE(drag_full.save());
        ASSERT_TRUE(drag_full.set(TRUE));
        ASSERT_NE(sizing(), nullptr);
        ASSERT_EQ(sizing()->active, 0);
        window = make_window(WS_OVERLAPPEDWINDOW | WS_VISIBLE, 200, 200, 300, 200);
        ASSERT_NE(window, nullptr);
        pump_for(50);
        probe = SizingProbe();
    }

    void TearDown() override {
        if (button_down) pointer_button(false);
        if (sizing()->active) {
            ReleaseCapture();
            pump_messages();
        }
        EXPECT_EQ(sizing()->active, 0);
        sizing()->active = 0;
        if (other) DestroyWindow(other);
        if (window) DestroyWindow(window);
        pump_messages();
        drag_full.restore();
    }

    HWND make_window(DWORD style, int x, int y, int width, int height, HWND parent = nullptr,
                     DWORD ex_style = 0) {
        return CreateWindowExA(ex_style, SIZING_TEST_CLASS, "sizing", style, x, y, width, height,
                               parent, nullptr, GetModuleHandleA(nullptr), nullptr);
    }

    void start(HWND target, WPARAM edge) {
        ASSERT_EQ(SendMessageA(target, WM_SYSCOMMAND, SC_SIZE | edge, 0), 0);
        ASSERT_EQ(sizing()->active, 1);
        ASSERT_EQ(GetCapture(), target);
    }

    void press(POINT at) {
        ASSERT_TRUE(pointer_move(at.x, at.y));
        button_down = true;
        pointer_button(true);
    }
    void release() {
        pointer_button(false);
        button_down = false;
    }
    // An arrow key through the input queue; the pointer has come to rest afterwards.
    void arrow(WORD key) {
        probe.key_window = {};
        probe.key_shape = nullptr;
        press_and_settle(key);
    }
    // Puts the pointer at REST and starts a keyboard sizing of the window; answers the
    // window's rectangle at the start.
    RECT start_by_keyboard() {
        EXPECT_TRUE(place_pointer(REST));
        RECT start_rect = window_rect(window);
        start(window, 0);
        return start_rect;
    }
    // Ends the loop with a key; the window must stand at `expected`.
    void end_with(WORD key, const RECT &expected) {
        press_and_settle(key);
        EXPECT_EQ(sizing()->active, 0);
        EXPECT_EQ(window_rect(window), expected);
    }
    void limit_tracking(POINT min, POINT max) {
        probe.apply_limits = true;
        probe.min_track = min;
        probe.max_track = max;
    }
};

TEST_F(SizingLoop, WithoutFullWindowDraggingThePlatformSizes) {
    ASSERT_TRUE(drag_full.set(FALSE));
    SizingState before = *sizing();
    EXPECT_EQ(sizing_handle_message(window, WM_SYSCOMMAND, SC_SIZE | WMSZ_RIGHT, 0), NOT_HANDLED);
    EXPECT_EQ(sizing_handle_message(window, WM_SYSCOMMAND, SC_SIZE, 0), NOT_HANDLED);
    EXPECT_EQ(memcmp(&before, sizing(), sizeof before), 0);
    EXPECT_NE(GetCapture(), window);
    pump_for(20);
    EXPECT_EQ(probe.enter_count, 0);
    EXPECT_EQ(probe.loop_queries, 0);
}

HWND WINAPI no_capture(HWND) {
    return nullptr;
}

TEST_F(SizingLoop, IdleItTakesOnlyTheSizeCommand) {
    SizingState before = *sizing();
    EXPECT_EQ(sizing_handle_message(window, WM_SYSCOMMAND, SC_MOVE | 2, 0), NOT_HANDLED);
    EXPECT_EQ(sizing_handle_message(window, WM_SYSCOMMAND, SC_MAXIMIZE, 0), NOT_HANDLED);
    EXPECT_EQ(sizing_handle_message(window, WM_MOUSEMOVE, 0, 0), NOT_HANDLED);
    EXPECT_EQ(sizing_handle_message(window, WM_KEYDOWN, VK_RETURN, 0), NOT_HANDLED);
    EXPECT_EQ(sizing_handle_message(window, WM_CAPTURECHANGED, 0, 0), NOT_HANDLED);
    EXPECT_EQ(memcmp(&before, sizing(), sizeof before), 0);

    {
        Replaced<SizingState *> none(window_library().sizing_state, nullptr);
        EXPECT_EQ(sizing_handle_message(window, WM_SYSCOMMAND, SC_SIZE | WMSZ_RIGHT, 0),
                  NOT_HANDLED);
    }
    EXPECT_NE(GetCapture(), window);

    // A window whose rectangle cannot be read is left to the platform.
    HWND gone = make_window(WS_OVERLAPPEDWINDOW, 0, 0, 100, 100);
    DestroyWindow(gone);
    EXPECT_EQ(sizing_handle_message(gone, WM_SYSCOMMAND, SC_SIZE | WMSZ_RIGHT, 0), NOT_HANDLED);
    EXPECT_EQ(memcmp(&before, sizing(), sizeof before), 0);

    // Without the capture no loop starts.
    PlatformPatch refused("user32.dll", "SetCapture", reinterpret_cast<const void *>(no_capture));
    ASSERT_NE(refused.original(), nullptr);
    EXPECT_EQ(sizing_handle_message(window, WM_SYSCOMMAND, SC_SIZE | WMSZ_RIGHT, 0), NOT_HANDLED);
    EXPECT_EQ(memcmp(&before, sizing(), sizeof before), 0);
}

// Taking the capture tells the window that held it; the loop that took it goes on.
TEST_F(SizingLoop, ALoopStartsWhileAnotherWindowHoldsTheCapture) {
    other = make_window(WS_OVERLAPPEDWINDOW | WS_VISIBLE, 600, 500, 250, 200);
    ASSERT_NE(other, nullptr);
    SetCapture(other);
    ASSERT_EQ(GetCapture(), other);
    start(window, WMSZ_RIGHT);
    pump_for(20);
    EXPECT_EQ(probe.enter_count, 1);
    EXPECT_EQ(probe.exit_count, 0);
    ReleaseCapture();
    EXPECT_EQ(sizing()->active, 0);
    pump_for(20);
    EXPECT_EQ(probe.exit_count, 1);
}

TEST_F(SizingLoop, StartFillsTheLimitsAndTheWindowCompletesThem) {
    HWND popup = make_window(WS_POPUP | WS_THICKFRAME | WS_VISIBLE, 700, 100, 200, 150, nullptr,
                             WS_EX_WINDOWEDGE);
    HWND plain_child = make_window(WS_CHILD | WS_VISIBLE, 10, 10, 100, 80, window);
    ASSERT_TRUE(popup && plain_child);
    ASSERT_FALSE(GetWindowLongA(popup, GWL_STYLE) & WS_BORDER);
    ASSERT_TRUE(GetWindowLongA(popup, GWL_EXSTYLE) & WS_EX_WINDOWEDGE);
    ASSERT_FALSE(GetWindowLongA(plain_child, GWL_EXSTYLE) & WS_EX_WINDOWEDGE);
    struct Case {
        HWND target;
        POINT max_position;
    } cases[] = {
        {window, {GetSystemMetrics(SM_CXBORDER), GetSystemMetrics(SM_CYBORDER)}},
        {popup, {GetSystemMetrics(SM_CXEDGE), GetSystemMetrics(SM_CYEDGE)}},
        {plain_child, {0, 0}},
    };
    limit_tracking({150, 120}, {640, 480});
    for (const Case &c : cases) {
        probe.loop_queries = 0;
        memset(&sizing()->limits, 0x55, sizeof sizing()->limits);
        start(c.target, WMSZ_RIGHT);
        EXPECT_EQ(sizing()->rect, window_rect(c.target));
        EXPECT_EQ(sizing()->edge, WMSZ_RIGHT);
        EXPECT_EQ(sizing()->keyboard_mode, 0);
        ASSERT_EQ(probe.loop_queries, 1);
        const MINMAXINFO &seen = probe.limits_seen;
        EXPECT_EQ(seen.ptReserved.x, 0);
        EXPECT_EQ(seen.ptReserved.y, 0);
        EXPECT_EQ(seen.ptMaxSize.x, GetSystemMetrics(SM_CXMAXIMIZED));
        EXPECT_EQ(seen.ptMaxSize.y, GetSystemMetrics(SM_CYMAXIMIZED));
        EXPECT_EQ(seen.ptMaxPosition.x, c.max_position.x);
        EXPECT_EQ(seen.ptMaxPosition.y, c.max_position.y);
        EXPECT_EQ(seen.ptMinTrackSize.x, GetSystemMetrics(SM_CXMINTRACK));
        EXPECT_EQ(seen.ptMinTrackSize.y, GetSystemMetrics(SM_CYMINTRACK));
        EXPECT_EQ(seen.ptMaxTrackSize.x, GetSystemMetrics(SM_CXMAXTRACK));
        EXPECT_EQ(seen.ptMaxTrackSize.y, GetSystemMetrics(SM_CYMAXTRACK));
        EXPECT_EQ(sizing()->limits.ptMinTrackSize.x, 150);
        EXPECT_EQ(sizing()->limits.ptMaxTrackSize.y, 480);
        ReleaseCapture();
        EXPECT_EQ(sizing()->active, 0);
    }
    DestroyWindow(popup);
}

TEST_F(SizingLoop, ButtonDownIsSentOnlyWhenTheButtonStateReadsZero) {
    POINT inside = {350, 300};
    // Each press toggles the button's low state bit; the thread sees the current value
    // only after input has reached it, so click at least once, until the state reads 0.
    for (int i = 0; i < 2; i++) {
        press(inside);
        release();
        if (GetKeyState(VK_LBUTTON) == 0) break;
    }
    ASSERT_EQ(GetKeyState(VK_LBUTTON), 0);
    probe.lbutton_downs = 0;
    start(window, 0);
    EXPECT_EQ(probe.lbutton_downs, 1);
    EXPECT_EQ(probe.lbutton_wparam, WPARAM(MK_LBUTTON));
    EXPECT_EQ(probe.lbutton_lparam, 0);
    ReleaseCapture();

    press(inside);
    release();
    ASSERT_NE(GetKeyState(VK_LBUTTON), 0); // released, but the toggle bit is set
    probe.lbutton_downs = 0;
    start(window, 0);
    EXPECT_EQ(probe.lbutton_downs, 0);
    ReleaseCapture();
}

TEST_F(SizingLoop, DraggingTheRightBorderStaysWithinTheTrackSizes) {
    limit_tracking({250, 150}, {500, 400});
    RECT start_rect = window_rect(window);
    int32_t mid_y = (start_rect.top + start_rect.bottom) / 2;
    press({start_rect.right - 2, mid_y});
    ASSERT_EQ(sizing()->active, 1);
    EXPECT_EQ(sizing()->edge, WMSZ_RIGHT);
    EXPECT_EQ(sizing()->keyboard_mode, 0);

    ASSERT_TRUE(pointer_move(start_rect.left + 350, mid_y));
    EXPECT_EQ(sizing()->rect.right, start_rect.left + 352);
    EXPECT_EQ(window_rect(window), sizing()->rect);

    ASSERT_TRUE(pointer_move(start_rect.left + 800, mid_y));
    EXPECT_EQ(sizing()->rect.right, start_rect.left + 500);
    EXPECT_EQ(window_rect(window).right, start_rect.left + 500);

    ASSERT_TRUE(pointer_move(start_rect.left - 50, mid_y));
    RECT expected = {start_rect.left, start_rect.top, start_rect.left + 250, start_rect.bottom};
    EXPECT_EQ(sizing()->rect, expected);
    EXPECT_EQ(window_rect(window), expected);

    release();
    EXPECT_EQ(sizing()->active, 0);
    EXPECT_EQ(window_rect(window), expected);
    pump_for(20);
    EXPECT_EQ(probe.enter_count, 1);
    EXPECT_EQ(probe.exit_count, 1);
    EXPECT_GE(probe.sizing_count, 3);
}

TEST_F(SizingLoop, TheLeftEdgeDraggedPastTheRightEdgeStopsAtTheMinimum) {
    limit_tracking({250, 150}, {500, 400});
    RECT start_rect = window_rect(window);
    int32_t mid_y = (start_rect.top + start_rect.bottom) / 2;
    press({start_rect.left + 2, mid_y});
    ASSERT_EQ(sizing()->active, 1);
    EXPECT_EQ(sizing()->edge, WMSZ_LEFT);

    ASSERT_TRUE(pointer_move(start_rect.right + 100, mid_y));
    EXPECT_EQ(sizing()->rect.left, start_rect.right - 250);
    EXPECT_EQ(sizing()->rect.right, start_rect.right);
    EXPECT_EQ(window_rect(window), sizing()->rect);

    ASSERT_TRUE(pointer_move(start_rect.left - 150, mid_y));
    EXPECT_EQ(sizing()->rect.left, start_rect.left - 150);
    ASSERT_TRUE(pointer_move(0, mid_y));
    EXPECT_EQ(sizing()->rect.left, start_rect.right - 500);
    release();
    EXPECT_EQ(window_rect(window).left, start_rect.right - 500);
    EXPECT_EQ(window_rect(window).right, start_rect.right);
}

TEST_F(SizingLoop, KeyboardSizingPicksEdgesThenStepsByTen) {
    RECT start_rect = start_by_keyboard();
    EXPECT_EQ(sizing()->keyboard_mode, 1);
    EXPECT_EQ(sizing()->edge, 0);
    EXPECT_EQ(sizing()->saved_cursor.x, 120);
    EXPECT_EQ(sizing()->saved_cursor.y, 150);
    EXPECT_EQ(GetCursor(), shared_cursor(32646)); // IDC_SIZEALL

    arrow(VK_RIGHT);
    EXPECT_EQ(sizing()->edge, WMSZ_RIGHT);
    EXPECT_TRUE(pointer_at({start_rect.right - 2, 150}));
    EXPECT_EQ(probe.key_shape, shared_cursor(32644)); // IDC_SIZEWE
    EXPECT_EQ(probe.key_window, start_rect);
    EXPECT_EQ(window_rect(window), start_rect); // the pointer there changes nothing

    arrow(VK_RIGHT);
    RECT wider = start_rect;
    wider.right += 10;
    EXPECT_EQ(probe.key_window, wider);
    EXPECT_TRUE(pointer_at({start_rect.right + 8, 150}));
    EXPECT_EQ(window_rect(window), wider);

    // Down turns the side into the bottom-right corner, where every arrow steps.
    arrow(VK_DOWN);
    EXPECT_EQ(sizing()->edge, WMSZ_BOTTOMRIGHT);
    EXPECT_TRUE(pointer_at({wider.right - 2, wider.bottom - 2}));
    EXPECT_EQ(probe.key_shape, shared_cursor(32642)); // IDC_SIZENWSE
    EXPECT_EQ(window_rect(window), wider);
    arrow(VK_DOWN);
    RECT taller = wider;
    taller.bottom += 10;
    EXPECT_EQ(probe.key_window, taller);
    arrow(VK_LEFT);
    taller.right -= 10;
    EXPECT_EQ(probe.key_window, taller);

    EXPECT_EQ(probe.arrow_keys, 5); // the window's own key handling still saw them
    end_with(VK_ESCAPE, taller);
    EXPECT_EQ(probe.enter_count, 1);
    EXPECT_EQ(probe.exit_count, 1);
}

TEST_F(SizingLoop, ReturnAtOnceLeavesTheWindowAndPutsThePointerBack) {
    RECT start_rect = start_by_keyboard();
    end_with(VK_RETURN, start_rect);
    EXPECT_TRUE(pointer_at(REST));

    // The pointer moved, but no pointer message came before the end: it goes back.
    start(window, 0);
    SetCursorPos(600, 500);
    EXPECT_EQ(SendMessageA(window, WM_KEYDOWN, VK_RETURN, 0), 0);
    EXPECT_EQ(sizing()->active, 0);
    EXPECT_TRUE(pointer_at(REST));
    settle_pointer();
    EXPECT_EQ(window_rect(window), start_rect);
    EXPECT_EQ(probe.enter_count, 2);
    EXPECT_EQ(probe.exit_count, 2);
}

TEST_F(SizingLoop, UpThenLeftPicksTheTopLeftCornerWithoutAJump) {
    RECT start_rect = start_by_keyboard();
    arrow(VK_UP);
    EXPECT_EQ(sizing()->edge, WMSZ_TOP);
    EXPECT_TRUE(pointer_at({120, start_rect.top}));
    EXPECT_EQ(probe.key_shape, shared_cursor(32645)); // IDC_SIZENS
    arrow(VK_LEFT);
    EXPECT_EQ(sizing()->edge, WMSZ_TOPLEFT);
    EXPECT_TRUE(pointer_at({start_rect.left + 2, start_rect.top + 2}));
    EXPECT_EQ(probe.key_shape, shared_cursor(32642)); // IDC_SIZENWSE
    EXPECT_EQ(sizing()->rect, start_rect);
    EXPECT_EQ(window_rect(window), start_rect);

    // The next pointer update, at the pointer's place, changes nothing.
    ASSERT_TRUE(pointer_move(start_rect.left + 2, start_rect.top + 2));
    EXPECT_EQ(sizing()->keyboard_mode, 0);
    EXPECT_EQ(sizing()->rect, start_rect);
    EXPECT_EQ(window_rect(window), start_rect);
    end_with(VK_ESCAPE, start_rect);
}

TEST_F(SizingLoop, ArrowKeysTurnAnEdgeIntoASideOrACornerAndPlaceThePointer) {
    const POINT p = REST;
    const RECT r = window_rect(window);
    struct Case {
        WORD key;
        int32_t from, to, cursor;
        POINT at;
    } cases[] = {
        {VK_LEFT, 0, 1, 32644, {r.left, p.y}},
        {VK_LEFT, 3, 4, 32642, {r.left + 2, r.top + 2}},
        {VK_LEFT, 6, 7, 32643, {r.left, r.bottom - 2}},
        {VK_UP, 0, 3, 32645, {p.x, r.top}},
        {VK_UP, 1, 4, 32642, {r.left + 2, r.top + 2}},
        {VK_UP, 2, 5, 32643, {r.right - 2, r.top}},
        {VK_RIGHT, 0, 2, 32644, {r.right - 2, p.y}},
        {VK_RIGHT, 3, 5, 32643, {r.right - 2, r.top}},
        {VK_RIGHT, 6, 8, 32642, {r.right - 2, r.bottom - 2}},
        {VK_DOWN, 0, 6, 32645, {p.x, r.bottom - 2}},
        {VK_DOWN, 1, 7, 32643, {r.left, r.bottom - 2}},
        {VK_DOWN, 2, 8, 32642, {r.right - 2, r.bottom - 2}},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(place_pointer(p));
        start(window, WPARAM(c.from));
        EXPECT_EQ(SendMessageA(window, WM_KEYDOWN, c.key, 0), 0); // DefWindowProcA's answer
        EXPECT_TRUE(pointer_at(c.at)) << "key " << c.key << " from " << c.from;
        EXPECT_EQ(sizing()->edge, c.to) << "key " << c.key << " from " << c.from;
        EXPECT_EQ(GetCursor(), shared_cursor(c.cursor)) << "key " << c.key << " from " << c.from;
        EXPECT_EQ(sizing()->rect, r);
        ReleaseCapture();
        settle_pointer();
        ASSERT_EQ(window_rect(window), r) << "key " << c.key << " from " << c.from;
    }
}

TEST_F(SizingLoop, AChildWindowIsMovedInItsParentsCoordinates) {
    HWND child = make_window(WS_CHILD | WS_VISIBLE | WS_THICKFRAME, 50, 40, 200, 150, window);
    ASSERT_NE(child, nullptr);
    POINT parent_origin = {0, 0};
    ClientToScreen(window, &parent_origin);

    start(child, WMSZ_BOTTOMRIGHT);
    EXPECT_EQ(sizing()->rect, window_rect(child));
    EXPECT_EQ(SendMessageA(child, WM_MOUSEMOVE, 0, MAKELPARAM(220, 170)), 0);
    POINT corner = {220, 170};
    ClientToScreen(child, &corner);
    RECT on_screen = window_rect(child);
    EXPECT_EQ(on_screen.left, parent_origin.x + 50);
    EXPECT_EQ(on_screen.top, parent_origin.y + 40);
    EXPECT_EQ(on_screen.right, corner.x + 2);
    EXPECT_EQ(on_screen.bottom, corner.y + 2);
    EXPECT_EQ(SendMessageA(child, WM_LBUTTONUP, 0, 0), 0);
    EXPECT_EQ(sizing()->active, 0);

    // Client coordinates left of the window arrive as negative 16-bit values.
    RECT before = window_rect(child);
    POINT left_of = {-30, 10};
    ClientToScreen(child, &left_of);
    start(child, WMSZ_LEFT);
    EXPECT_EQ(SendMessageA(child, WM_MOUSEMOVE, 0, MAKELPARAM(-30, 10)), 0);
    EXPECT_EQ(window_rect(child).left, left_of.x);
    EXPECT_EQ(window_rect(child).right, before.right);
    RECT in_parent = window_rect(child);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT *>(&in_parent), 2);
    EXPECT_EQ(in_parent.left, 50 - (before.left - left_of.x));
    EXPECT_EQ(in_parent.top, 40);
    ReleaseCapture();
}

TEST_F(SizingLoop, TheWindowMayAdjustTheRectangleOnEachStep) {
    RECT start_rect = window_rect(window);
    start(window, WMSZ_RIGHT);
    probe.forced_height = 180;
    POINT target = {start_rect.right + 20, start_rect.top + 50};
    EXPECT_EQ(SendMessageA(window, WM_MOUSEMOVE, 0, client_lparam(window, target)), 0);
    EXPECT_EQ(window_rect(window).bottom - window_rect(window).top, 180);
    EXPECT_EQ(window_rect(window).right, target.x + 2);
    probe.forced_height = 0;
    target.x += 15;
    EXPECT_EQ(SendMessageA(window, WM_MOUSEMOVE, 0, client_lparam(window, target)), 0);
    EXPECT_EQ(window_rect(window).bottom - window_rect(window).top, 180); // kept
    EXPECT_EQ(window_rect(window).right, target.x + 2);
    ReleaseCapture();
}

TEST_F(SizingLoop, OnlyTheWindowHoldingTheCaptureFollowsTheInput) {
    RECT start_rect = window_rect(window);
    other = make_window(WS_OVERLAPPEDWINDOW | WS_VISIBLE, 600, 500, 250, 200);
    ASSERT_NE(other, nullptr);
    pump_for(50);
    ASSERT_EQ(GetFocus(), other);
    RECT other_rect = window_rect(other);
    start(window, 0);
    press_and_settle(VK_RIGHT); // reaches the focus window, not the one being sized
    press_and_settle(VK_DOWN);
    EXPECT_EQ(window_rect(other), other_rect);
    EXPECT_EQ(sizing()->edge, 0);
    EXPECT_EQ(sizing()->active, 1);
    EXPECT_EQ(sizing_handle_message(other, WM_MOUSEMOVE, 0, 0), NOT_HANDLED);
    EXPECT_EQ(sizing_handle_message(other, WM_LBUTTONUP, 0, 0), NOT_HANDLED);
    EXPECT_EQ(window_rect(other), other_rect);
    EXPECT_EQ(sizing_handle_message(window, WM_KEYDOWN, 'A', 0), NOT_HANDLED);
    ReleaseCapture();
    EXPECT_EQ(sizing()->active, 0);
    EXPECT_EQ(window_rect(window), start_rect);
}

struct ApplyCase {
    int32_t edge, x, y;
    RECT expected;
};

TEST(SizingApplyPoint, EachEdgeFollowsThePointerWithinTheLimits) {
    // Rectangle (100,100)-(400,300); widths 50..500, heights 40..400.
    const ApplyCase cases[] = {
        {0, 1000, 1000, {100, 100, 400, 300}},
        {WMSZ_LEFT, 150, 0, {150, 100, 400, 300}},
        {WMSZ_LEFT, 390, 0, {350, 100, 400, 300}},
        {WMSZ_LEFT, -500, 0, {-100, 100, 400, 300}},
        {WMSZ_RIGHT, 300, 0, {100, 100, 302, 300}},
        {WMSZ_RIGHT, 0, 0, {100, 100, 150, 300}},
        {WMSZ_RIGHT, 1000, 0, {100, 100, 600, 300}},
        {WMSZ_TOP, 0, 150, {100, 150, 400, 300}},
        {WMSZ_TOP, 0, 290, {100, 260, 400, 300}},
        {WMSZ_TOP, 0, -200, {100, -100, 400, 300}},
        {WMSZ_BOTTOM, 0, 250, {100, 100, 400, 252}},
        {WMSZ_BOTTOM, 0, 0, {100, 100, 400, 140}},
        {WMSZ_BOTTOM, 0, 900, {100, 100, 400, 500}},
        {WMSZ_TOPLEFT, 150, 150, {148, 148, 400, 300}},
        {WMSZ_TOPRIGHT, 200, 150, {100, 150, 202, 300}},
        {WMSZ_BOTTOMLEFT, 150, 200, {150, 100, 400, 202}},
        {WMSZ_BOTTOMRIGHT, 200, 200, {100, 100, 202, 202}},
        {WMSZ_BOTTOMRIGHT, 0, 0, {100, 100, 150, 140}},
    };
    for (const ApplyCase &c : cases) {
        SizingState state = {};
        state.rect = {100, 100, 400, 300};
        state.limits.ptMinTrackSize = {50, 40};
        state.limits.ptMaxTrackSize = {500, 400};
        state.edge = c.edge;
        sizing_apply_point(&state, c.x, c.y);
        EXPECT_EQ(state.rect, c.expected) << "edge " << c.edge << " at " << c.x << "," << c.y;
    }
}

TEST(SizingApplyPoint, ExtremeValuesSaturateInsteadOfOverflowing) {
    SizingState state = {};
    state.rect = {100, 100, 400, 300};
    state.limits.ptMinTrackSize = {0, 0};
    state.limits.ptMaxTrackSize = {INT32_MAX, INT32_MAX};
    state.edge = WMSZ_BOTTOMRIGHT;
    sizing_apply_point(&state, INT32_MAX, INT32_MAX);
    EXPECT_EQ(state.rect.right, INT32_MAX);
    EXPECT_EQ(state.rect.bottom, INT32_MAX);

    state.rect = {100, 100, 400, 300};
    state.edge = WMSZ_TOPLEFT;
    sizing_apply_point(&state, INT32_MIN, INT32_MIN);
    EXPECT_EQ(state.rect.left, 400 - INT32_MAX); // the width stops at the maximum
    EXPECT_EQ(state.rect.top, 300 - INT32_MAX);

    state.rect = {INT32_MIN + 20, 0, INT32_MIN + 30, 100};
    state.limits.ptMinTrackSize = {1000, 0};
    state.edge = WMSZ_LEFT;
    sizing_apply_point(&state, INT32_MIN + 25, 0);
    EXPECT_EQ(state.rect.left, INT32_MIN);
}
TEST_F(SizingLoop, DestroyingTheWindowBeingSizedEndsTheLoop) {
    ASSERT_TRUE(place_pointer(REST));
    HWND doomed = make_window(WS_OVERLAPPEDWINDOW | WS_VISIBLE, 600, 100, 200, 200);
    ASSERT_NE(doomed, nullptr);
    start(doomed, 0);
    ASSERT_EQ(SendMessageA(doomed, WM_KEYDOWN, VK_RIGHT, 0), 0);             // the pointer moves
    EXPECT_EQ(sizing_handle_message(window, WM_DESTROY, 0, 0), NOT_HANDLED); // not the holder
    EXPECT_EQ(sizing()->active, 1);
    DestroyWindow(doomed);
    EXPECT_EQ(sizing()->active, 0);
    EXPECT_TRUE(pointer_at(REST)); // still in keyboard mode: the pointer goes back
    settle_pointer();
    start(window, WMSZ_RIGHT); // the next loop starts as usual
    ReleaseCapture();
    EXPECT_EQ(sizing()->active, 0);
}

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
    // An arrow key through the input queue. Then the loop's edge must be `edge` and the
    // pointer at `pointer`; when the key came the pointer's shape was `cursor` (0: not
    // checked) and the window stood at `rect`, where it must stand still.
    void arrow(WORD key, int32_t edge, POINT pointer, int32_t cursor, const RECT &rect) {
        SCOPED_TRACE(key);
        probe.key_window = {};
        press_and_settle(key);
        EXPECT_EQ(sizing()->edge, edge);
        EXPECT_TRUE(pointer_at(pointer));
        EXPECT_TRUE(!cursor || probe.key_shape == shared_cursor(cursor)) << cursor;
        EXPECT_EQ(probe.key_window, rect);
        EXPECT_EQ(window_rect(window), rect);
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

HWND WINAPI no_capture(HWND) {
    return nullptr;
}
BOOL WINAPI no_setting(UINT, UINT, void *, UINT) {
    return FALSE;
}

// Idle, the loop takes nothing but the size command, and that only where it can run: with
// full-window dragging on (a setting that cannot be read counts as off), a state block, a
// window whose rectangle can be read, and the capture. Elsewhere the platform sizes.
TEST_F(SizingLoop, IdleItTakesOnlyASizeCommandThatCanRun) {
    const SizingState before = *sizing();
    auto expect_ignored = [&](HWND target, UINT message, WPARAM wparam) {
        EXPECT_EQ(sizing_handle_message(target, message, wparam, 0), NOT_HANDLED)
            << message << " " << wparam;
        EXPECT_EQ(memcmp(&before, sizing(), sizeof before), 0);
        EXPECT_NE(GetCapture(), target);
    };
    for (UINT message : {WM_MOUSEMOVE, WM_KEYDOWN, WM_CAPTURECHANGED})
        expect_ignored(window, message, VK_RETURN);
    for (WPARAM command : {SC_MOVE | 2, SC_MAXIMIZE})
        expect_ignored(window, WM_SYSCOMMAND, command);
    ASSERT_TRUE(drag_full.set(FALSE));
    for (WPARAM command : {SC_SIZE | WMSZ_RIGHT, SC_SIZE})
        expect_ignored(window, WM_SYSCOMMAND, command);
    ASSERT_TRUE(drag_full.set(TRUE));
    {
        PlatformPatch unreadable("user32.dll", "SystemParametersInfoA",
                                 reinterpret_cast<const void *>(no_setting));
        ASSERT_NE(unreadable.original(), nullptr);
        expect_ignored(window, WM_SYSCOMMAND, SC_SIZE | WMSZ_RIGHT);
    }
    {
        Replaced<SizingState *> none(window_library().sizing_state, nullptr);
        EXPECT_EQ(sizing_handle_message(window, WM_SYSCOMMAND, SC_SIZE | WMSZ_RIGHT, 0),
                  NOT_HANDLED);
    }
    EXPECT_NE(GetCapture(), window);
    HWND gone = make_window(WS_OVERLAPPEDWINDOW, 0, 0, 100, 100);
    DestroyWindow(gone);
    expect_ignored(gone, WM_SYSCOMMAND, SC_SIZE | WMSZ_RIGHT);
    PlatformPatch refused("user32.dll", "SetCapture", reinterpret_cast<const void *>(no_capture));
    ASSERT_NE(refused.original(), nullptr);
    expect_ignored(window, WM_SYSCOMMAND, SC_SIZE | WMSZ_RIGHT);
    pump_for(20);
    EXPECT_EQ(probe.enter_count, 0);
    EXPECT_EQ(probe.loop_queries, 0);
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
        const MINMAXINFO &l = probe.limits_seen;
        const POINT seen[5] = {l.ptReserved, l.ptMaxSize, l.ptMaxPosition, l.ptMinTrackSize,
                               l.ptMaxTrackSize};
        const POINT expected[5] = {
            {0, 0},
            {GetSystemMetrics(SM_CXMAXIMIZED), GetSystemMetrics(SM_CYMAXIMIZED)},
            c.max_position,
            {GetSystemMetrics(SM_CXMINTRACK), GetSystemMetrics(SM_CYMINTRACK)},
            {GetSystemMetrics(SM_CXMAXTRACK), GetSystemMetrics(SM_CYMAXTRACK)}};
        for (int i = 0; i < 5; i++)
            EXPECT_TRUE(seen[i].x == expected[i].x && seen[i].y == expected[i].y) << i;
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

// The right border stays within the track sizes; the left edge dragged past the right edge
// stops at the minimum width.
TEST_F(SizingLoop, DraggedBordersStayWithinTheTrackSizes) {
    const RECT s = window_rect(window);
    const LONG l = s.left, t = s.top, r = s.right, b = s.bottom, y = (t + b) / 2;
    // The edge; where the button goes down; then three moves of the pointer, each with the
    // rectangle's left and right edges afterwards.
    const LONG cases[][8] = {
        {WMSZ_RIGHT, r - 2, l + 350, l + 352, l + 800, l + 500, l - 50, l + 250},
        {WMSZ_LEFT, l + 2, r + 100, r - 250, l - 150, l - 150, 0, r - 500}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c[0]);
        MoveWindow(window, l, t, r - l, b - t, TRUE);
        probe = SizingProbe{};
        limit_tracking({250, 150}, {500, 400});
        press({c[1], y});
        ASSERT_EQ(sizing()->active, 1);
        EXPECT_EQ(sizing()->edge, c[0]);
        EXPECT_EQ(sizing()->keyboard_mode, 0);
        RECT expected = s;
        for (int i = 2; i < 8; i += 2) {
            ASSERT_TRUE(pointer_move(c[i], y));
            (c[0] == WMSZ_RIGHT ? expected.right : expected.left) = c[i + 1];
            EXPECT_EQ(sizing()->rect, expected) << i;
            EXPECT_EQ(window_rect(window), expected) << i;
        }
        release();
        EXPECT_EQ(sizing()->active, 0);
        EXPECT_EQ(window_rect(window), expected);
        pump_for(20);
        EXPECT_EQ(probe.enter_count, 1);
        EXPECT_EQ(probe.exit_count, 1);
        EXPECT_GE(probe.sizing_count, 3);
    }
}

// Right picks the right edge (IDC_SIZEWE), where the pointer changes nothing, and a second
// Right steps; Down turns the side into the bottom-right corner (IDC_SIZENWSE), where every
// arrow steps.
TEST_F(SizingLoop, KeyboardSizingPicksEdgesThenStepsByTen) {
    const RECT s = start_by_keyboard();
    EXPECT_EQ(sizing()->keyboard_mode, 1);
    EXPECT_EQ(sizing()->edge, 0);
    EXPECT_EQ(sizing()->saved_cursor.x, 120);
    EXPECT_EQ(sizing()->saved_cursor.y, 150);
    EXPECT_EQ(GetCursor(), shared_cursor(32646)); // IDC_SIZEALL
    const LONG l = s.left, t = s.top, r = s.right + 10, b = s.bottom;
    arrow(VK_RIGHT, WMSZ_RIGHT, {s.right - 2, 150}, 32644, s);
    arrow(VK_RIGHT, WMSZ_RIGHT, {r - 2, 150}, 0, {l, t, r, b});
    arrow(VK_DOWN, WMSZ_BOTTOMRIGHT, {r - 2, b - 2}, 32642, {l, t, r, b});
    arrow(VK_DOWN, WMSZ_BOTTOMRIGHT, {r - 2, b + 8}, 0, {l, t, r, b + 10});
    arrow(VK_DOWN, WMSZ_BOTTOMRIGHT, {r - 2, b + 18}, 0, {l, t, r, b + 20});
    arrow(VK_LEFT, WMSZ_BOTTOMRIGHT, {r - 12, b + 18}, 0, {l, t, r - 10, b + 20});
    arrow(VK_UP, WMSZ_BOTTOMRIGHT, {r - 12, b + 8}, 0, {l, t, r - 10, b + 10});
    EXPECT_EQ(probe.arrow_keys, 7); // the window's own key handling still saw them
    end_with(VK_ESCAPE, {l, t, r - 10, b + 10});
    EXPECT_EQ(probe.enter_count, 1);
    EXPECT_EQ(probe.exit_count, 1);

    // Up then Left picks the top-left corner without a jump: the next pointer update, at the
    // pointer's place, changes nothing.
    const RECT w = start_by_keyboard();
    arrow(VK_UP, WMSZ_TOP, {120, w.top}, 32645, w); // IDC_SIZENS
    arrow(VK_LEFT, WMSZ_TOPLEFT, {w.left + 2, w.top + 2}, 32642, w);
    EXPECT_EQ(sizing()->rect, w);
    ASSERT_TRUE(pointer_move(w.left + 2, w.top + 2));
    EXPECT_EQ(sizing()->keyboard_mode, 0);
    EXPECT_EQ(sizing()->rect, w);
    EXPECT_EQ(window_rect(window), w);
    end_with(VK_ESCAPE, w);
}

BOOL WINAPI no_pointer(POINT *) {
    return FALSE;
}
HANDLE WINAPI no_image(HINSTANCE, const char *, UINT, int, int, UINT) {
    return nullptr;
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

    // A pointer that cannot be read goes back to the window's centre, and an arrow then
    // changes nothing; a cursor shape that cannot be loaded leaves the one shown.
    HCURSOR shown = SetCursor(LoadCursorA(nullptr, IDC_CROSS)), cross = GetCursor();
    {
        PlatformPatch unread("user32.dll", "GetCursorPos",
                             reinterpret_cast<const void *>(no_pointer));
        PlatformPatch no_shape("user32.dll", "LoadImageA",
                               reinterpret_cast<const void *>(no_image));
        ASSERT_TRUE(unread.original() && no_shape.original());
        start(window, 0);
        EXPECT_EQ(GetCursor(), cross);
        EXPECT_EQ(SendMessageA(window, WM_KEYDOWN, VK_RIGHT, 0), 0);
        EXPECT_EQ(sizing()->edge, 0);
        EXPECT_EQ(probe.sizing_count, 0);
        EXPECT_EQ(SendMessageA(window, WM_KEYDOWN, VK_RETURN, 0), 0);
    }
    SetCursor(shown);
    EXPECT_TRUE(pointer_at(
        {(start_rect.left + start_rect.right) / 2, (start_rect.top + start_rect.bottom) / 2}));
    settle_pointer();
    EXPECT_EQ(window_rect(window), start_rect);
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
        SCOPED_TRACE(testing::Message() << "key " << c.key << " from " << c.from);
        ASSERT_TRUE(place_pointer(p));
        start(window, WPARAM(c.from));
        EXPECT_EQ(SendMessageA(window, WM_KEYDOWN, c.key, 0), 0); // DefWindowProcA's answer
        EXPECT_TRUE(pointer_at(c.at));
        EXPECT_EQ(sizing()->edge, c.to);
        EXPECT_EQ(GetCursor(), shared_cursor(c.cursor));
        EXPECT_EQ(sizing()->rect, r);
        ReleaseCapture();
        settle_pointer();
        ASSERT_EQ(window_rect(window), r);
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
    for (WPARAM key : {WPARAM('A'), WPARAM(VK_SPACE)}) // no arrows
        EXPECT_EQ(sizing_handle_message(window, WM_KEYDOWN, key, 0), NOT_HANDLED);
    EXPECT_EQ(probe.sizing_count, 0);
    ReleaseCapture();
    EXPECT_EQ(sizing()->active, 0);
    EXPECT_EQ(window_rect(window), start_rect);
}

// Unless a case says otherwise, the rectangle (100,100)-(400,300) with widths 50..500 and
// heights 40..400.
struct ApplyCase {
    int32_t edge, x, y;
    RECT expected;
    RECT rect = {100, 100, 400, 300};
    POINT min = {50, 40}, max = {500, 400};
};

// Extreme values saturate instead of overflowing.
TEST(SizingApplyPoint, EachEdgeFollowsThePointerWithinTheLimits) {
    const int32_t MAX = INT32_MAX, MIN = INT32_MIN;
    const RECT home = {100, 100, 400, 300}, low = {MIN + 20, 0, MIN + 30, 100};
    const POINT none = {0, 0}, all = {MAX, MAX};
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
        {WMSZ_BOTTOMRIGHT, MAX, MAX, {100, 100, MAX, MAX}, home, none, all},
        // The width and height stop at the maximum.
        {WMSZ_TOPLEFT, MIN, MIN, {400 - MAX, 300 - MAX, 400, 300}, home, none, all},
        {WMSZ_LEFT, MIN + 25, 0, {MIN, 0, MIN + 30, 100}, low, {1000, 0}, all},
    };
    for (const ApplyCase &c : cases) {
        SizingState state = {};
        state.rect = c.rect;
        state.limits.ptMinTrackSize = c.min;
        state.limits.ptMaxTrackSize = c.max;
        state.edge = c.edge;
        sizing_apply_point(&state, c.x, c.y);
        EXPECT_EQ(state.rect, c.expected) << "edge " << c.edge << " at " << c.x << "," << c.y;
    }
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

#include "runtime/window/window_private.h"
#include "tests/support/test_support.h"

static const char TAB_TEST_CLASS[] = "TabTestWindow";
static const int32_t FORWARD = 0, BACK = 1;

// The focus put on `from`, one step of the walk, and where the focus must end.
struct Walk {
    HWND from;
    int32_t backward;
    HWND to;
};

class TabNavigation : public testing::Test {
  protected:
    HWND root = nullptr;

    void SetUp() override {
        register_test_class(TAB_TEST_CLASS, DefWindowProcA);
        register_test_class("MDI_ChildClass", DefWindowProcA);
        root = CreateWindowExA(0, TAB_TEST_CLASS, "tab root", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100,
                               100, 400, 300, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(root, nullptr);
        pump_messages();
        ASSERT_EQ(GetActiveWindow(), root);
    }
    void TearDown() override {
        if (root) DestroyWindow(root);
        pump_messages();
    }

    HWND child(HWND parent, DWORD style, const char *class_name = TAB_TEST_CLASS) {
        HWND window = CreateWindowExA(0, class_name, "", WS_CHILD | style, 0, 0, 20, 20, parent,
                                      nullptr, GetModuleHandleA(nullptr), nullptr);
        EXPECT_NE(window, nullptr);
        return window;
    }
    HWND stop(HWND parent) { return child(parent, WS_VISIBLE | WS_TABSTOP); }

    void expect_walks(std::initializer_list<Walk> walks) {
        for (const Walk &w : walks) {
            SetFocus(w.from);
            EXPECT_EQ(GetFocus(), w.from);
            tab_navigate(w.backward);
            EXPECT_EQ(GetFocus(), w.to)
                << (w.backward ? "backward" : "forward") << " from " << w.from;
        }
    }
};

TEST_F(TabNavigation, WalksEveryDescendantInOrderAndWrapsAroundBothWays) {
    HWND t1 = stop(root);
    HWND box = child(root, WS_VISIBLE);
    HWND t2 = stop(box); // a grandchild takes its place between its parent's siblings
    HWND t3 = stop(root);
    expect_walks({{t1, FORWARD, t2},
                  {t2, FORWARD, t3},
                  {t3, FORWARD, t1},
                  {t1, BACK, t3},
                  {t3, BACK, t2},
                  {t2, BACK, t1}});

    SetFocus(t1);
    EXPECT_EQ(tab_navigate(0), 1); // reports that the focus moved
}

HWND WINAPI no_window() {
    return nullptr;
}
int32_t walks;
BOOL WINAPI count_walk(HWND, WNDENUMPROC, LPARAM) {
    walks++;
    return TRUE;
}

TEST_F(TabNavigation, ASingleTabStopKeepsTheFocus) {
    child(root, WS_VISIBLE);
    HWND only = stop(root);
    child(root, WS_VISIBLE);
    expect_walks({{only, FORWARD, only}, {only, BACK, only}});
    SetFocus(only);
    EXPECT_EQ(tab_navigate(0), 0);
    // Without an active window nothing is walked, not even the top-level windows.
    PlatformPatch no_active("user32.dll", "GetActiveWindow",
                            reinterpret_cast<const void *>(no_window));
    PlatformPatch walk("user32.dll", "EnumChildWindows",
                       reinterpret_cast<const void *>(count_walk));
    ASSERT_TRUE(no_active.original() && walk.original());
    walks = 0;
    EXPECT_EQ(tab_navigate(0), 0);
    EXPECT_EQ(tab_navigate(1), 0);
    EXPECT_EQ(walks, 0);
    EXPECT_EQ(GetFocus(), only);
}

TEST_F(TabNavigation, FocusOutsideTheDescendantsStartsAtAnEnd) {
    HWND first = stop(root);
    stop(root);
    HWND last = stop(root);
    expect_walks({{root, FORWARD, first},
                  {root, BACK, last},
                  {nullptr, FORWARD, first},
                  {nullptr, BACK, last}});
}

TEST_F(TabNavigation, FocusOnANonStopStaysForwardAndGoesToTheLastBackward) {
    stop(root);
    HWND plain = child(root, WS_VISIBLE);
    HWND last = stop(root);
    expect_walks({{plain, FORWARD, plain}, {plain, BACK, last}});
}

TEST_F(TabNavigation, DisabledAndHiddenWindowsAreNeverChosen) {
    HWND t1 = stop(root);
    child(root, WS_VISIBLE | WS_TABSTOP | WS_DISABLED);
    child(root, WS_TABSTOP);
    HWND hidden_box = child(root, 0);
    child(hidden_box, WS_VISIBLE | WS_TABSTOP); // visible style, but its parent is hidden
    HWND t2 = stop(root);
    child(root, WS_VISIBLE | WS_DISABLED | WS_TABSTOP);
    expect_walks(
        {{t1, FORWARD, t2}, {t2, FORWARD, t1}, {t1, BACK, t2}, {t2, BACK, t1}, {root, BACK, t2}});
}

TEST_F(TabNavigation, ARootWithoutTabStopsLeavesTheFocusAlone) {
    HWND plain = child(root, WS_VISIBLE);
    child(root, WS_VISIBLE | WS_TABSTOP | WS_DISABLED);
    child(root, WS_TABSTOP);
    expect_walks(
        {{plain, FORWARD, plain}, {plain, BACK, plain}, {root, FORWARD, root}, {root, BACK, root}});
}

TEST_F(TabNavigation, TheOutermostMdiChildOnTheFocusChainIsTheRoot) {
    HWND outside_first = stop(root);
    HWND outer = child(root, WS_VISIBLE, "MDI_ChildClass");
    HWND m1 = stop(outer);
    HWND inner = child(outer, WS_VISIBLE, "MDI_ChildClass");
    HWND n1 = stop(inner);
    HWND m2 = stop(outer);
    HWND outside_last = stop(root);

    // The walk stays inside the outer MDI child and wraps there.
    expect_walks({{m2, FORWARD, m1}, {m1, BACK, m2}});
    // Not the inner one: from its only stop the walk goes on in the outer child.
    expect_walks({{n1, FORWARD, m2}, {n1, BACK, m1}});
    // The focus on an MDI child itself starts at an end of the outermost one.
    expect_walks(
        {{outer, FORWARD, m1}, {outer, BACK, m2}, {inner, FORWARD, m1}, {inner, BACK, m2}});
    // Outside any MDI child the whole window is walked.
    expect_walks({{outside_first, BACK, outside_last}, {outside_last, FORWARD, outside_first}});
}

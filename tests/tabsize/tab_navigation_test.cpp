#include "runtime/window/window_private.h"
#include "tests/support/test_support.h"

static const char TAB_TEST_CLASS[] = "TabTestWindow";

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

    // Puts the focus on `from`, walks once, and reports where the focus went.
    HWND walk(HWND from, int32_t backward) {
        SetFocus(from);
        EXPECT_EQ(GetFocus(), from);
        tab_navigate(backward);
        return GetFocus();
    }
};

TEST_F(TabNavigation, WalksEveryDescendantInOrderAndWrapsAroundBothWays) {
    HWND t1 = stop(root);
    HWND box = child(root, WS_VISIBLE);
    HWND t2 = stop(box); // a grandchild takes its place between its parent's siblings
    HWND t3 = stop(root);
    EXPECT_EQ(walk(t1, 0), t2);
    EXPECT_EQ(walk(t2, 0), t3);
    EXPECT_EQ(walk(t3, 0), t1);
    EXPECT_EQ(walk(t1, 1), t3);
    EXPECT_EQ(walk(t3, 1), t2);
    EXPECT_EQ(walk(t2, 1), t1);

    SetFocus(t1);
    EXPECT_EQ(tab_navigate(0), 1); // reports that the focus moved
}

TEST_F(TabNavigation, ASingleTabStopKeepsTheFocus) {
    child(root, WS_VISIBLE);
    HWND only = stop(root);
    child(root, WS_VISIBLE);
    EXPECT_EQ(walk(only, 0), only);
    EXPECT_EQ(walk(only, 1), only);
    SetFocus(only);
    EXPECT_EQ(tab_navigate(0), 0);
}

TEST_F(TabNavigation, FocusOutsideTheDescendantsStartsAtAnEnd) {
    HWND first = stop(root);
    stop(root);
    HWND last = stop(root);
    EXPECT_EQ(walk(root, 0), first);
    EXPECT_EQ(walk(root, 1), last);
    EXPECT_EQ(walk(nullptr, 0), first);
    EXPECT_EQ(walk(nullptr, 1), last);
}

TEST_F(TabNavigation, FocusOnANonStopStaysForwardAndGoesToTheLastBackward) {
    stop(root);
    HWND plain = child(root, WS_VISIBLE);
    HWND last = stop(root);
    EXPECT_EQ(walk(plain, 0), plain);
    EXPECT_EQ(walk(plain, 1), last);
}

TEST_F(TabNavigation, DisabledAndHiddenWindowsAreNeverChosen) {
    HWND t1 = stop(root);
    child(root, WS_VISIBLE | WS_TABSTOP | WS_DISABLED);
    child(root, WS_TABSTOP);
    HWND hidden_box = child(root, 0);
    child(hidden_box, WS_VISIBLE | WS_TABSTOP); // visible style, but its parent is hidden
    HWND t2 = stop(root);
    child(root, WS_VISIBLE | WS_DISABLED | WS_TABSTOP);
    EXPECT_EQ(walk(t1, 0), t2);
    EXPECT_EQ(walk(t2, 0), t1);
    EXPECT_EQ(walk(t1, 1), t2);
    EXPECT_EQ(walk(t2, 1), t1);
    EXPECT_EQ(walk(root, 1), t2);
}

TEST_F(TabNavigation, ARootWithoutTabStopsLeavesTheFocusAlone) {
    HWND plain = child(root, WS_VISIBLE);
    child(root, WS_VISIBLE | WS_TABSTOP | WS_DISABLED);
    child(root, WS_TABSTOP);
    EXPECT_EQ(walk(plain, 0), plain);
    EXPECT_EQ(walk(plain, 1), plain);
    EXPECT_EQ(walk(root, 0), root);
    EXPECT_EQ(walk(root, 1), root);
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
    EXPECT_EQ(walk(m2, 0), m1);
    EXPECT_EQ(walk(m1, 1), m2);
    // Not the inner one: from its only stop the walk goes on in the outer child.
    EXPECT_EQ(walk(n1, 0), m2);
    EXPECT_EQ(walk(n1, 1), m1);
    // The focus on an MDI child itself starts at an end of the outermost one.
    EXPECT_EQ(walk(outer, 0), m1);
    EXPECT_EQ(walk(outer, 1), m2);
    EXPECT_EQ(walk(inner, 0), m1);
    EXPECT_EQ(walk(inner, 1), m2);
    // Outside any MDI child the whole window is walked.
    EXPECT_EQ(walk(outside_first, 1), outside_last);
    EXPECT_EQ(walk(outside_last, 0), outside_first);
}

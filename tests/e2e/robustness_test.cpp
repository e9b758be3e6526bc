// The real program seen from outside: random keys and pointer actions through the
// system's input queue, and a start-up whose allocations fail one by one.
#include "e2e_support.h"
#include "app/app.h"
#include <random>

static std::string program_path;
static std::string fault_entry_path;

// The start-up, allocation by allocation: each failure ends the process with exit code 1 (not
// a crash's exception code), or, where it only lost a queued event, the program runs and
// closes with 0.
TEST(StartUp, EachFailingAllocationEndsTheProcessWithCodeOne) {
    ProgramProcess counting;
    ASSERT_TRUE(counting.start(fault_entry_path, "count"));
    ASSERT_TRUE(counting.ended(30000));
    DWORD allocations = counting.exit_code();
    ASSERT_GT(allocations, 10u);
    ASSERT_LT(allocations, 1000u);

    int ended_with_one = 0, ran = 0;
    for (DWORD skip = 0; skip <= allocations; skip++) {
        SCOPED_TRACE("allocation " + std::to_string(skip));
        ProgramProcess p;
        ASSERT_TRUE(p.start(fault_entry_path, std::to_string(skip)));
        // The window shows before the start-up is through: a start-up that fails after it
        // ends within moments, one that succeeds keeps running.
        if (p.wait_for_window(20000) && !p.ended(1500)) {
            ran++;
            EXPECT_TRUE(p.responsive(5000));
            // A close event lost to a failure still pending is asked for again.
            for (int i = 0; i < 10 && !p.ended(0); i++) {
                PostMessageA(p.window, WM_CLOSE, 0, 0);
                p.ended(1000);
            }
            ASSERT_TRUE(p.ended(10000));
            EXPECT_EQ(p.exit_code(), 0u);
        } else {
            ASSERT_TRUE(p.ended(10000));
            EXPECT_EQ(p.exit_code(), 1u);
            ended_with_one += p.exit_code() == 1u;
        }
    }
    printf("start-up: %lu allocations, %d failures ended it with 1, %d ran\n", allocations,
           ended_with_one, ran);
    EXPECT_GT(ended_with_one, int(allocations) / 2);
}

struct Fuzzer {
    ProgramProcess &program;
    std::mt19937 random;
    int keys = 0, commands = 0, pointer_actions = 0;

    void one() {
        SetForegroundWindow(program.window);
        if (random() % 3 == 0)
            pointer();
        else
            key();
    }

    // The seven command keys, Tab both ways, and keys that are no command. Left out:
    // Alt and F10 (the system menu, where a chance Return could choose Close) and the
    // Windows and menu keys, which belong to the desktop.
    void key() {
        static const WORD other_keys[] = {'A',       'C',       'Q',      'X',       '0',
                                          '3',       '9',       VK_SPACE, VK_ESCAPE, VK_BACK,
                                          VK_DELETE, VK_INSERT, VK_HOME,  VK_END,    VK_PRIOR,
                                          VK_NEXT,   VK_LEFT,   VK_RIGHT, VK_UP,     VK_DOWN,
                                          VK_F1,     VK_F5,     VK_F9,    VK_F12,    VK_OEM_PLUS};
        uint32_t kind = random() % 4;
        if (kind < 2) {
            press_key(WORD(app_command_key(intptr_t(random() % APP_MENU_COUNT))));
            commands++;
        } else if (kind == 2) {
            press_key(other_keys[random() % (sizeof other_keys / sizeof other_keys[0])]);
        } else {
            press_key(VK_TAB, random() % 2 == 0);
        }
        keys++;
    }

    POINT client_point() {
        RECT client;
        GetClientRect(program.window, &client);
        POINT p = {LONG(random() % UINT(client.right)), LONG(random() % UINT(client.bottom))};
        ClientToScreen(program.window, &p);
        return p;
    }

    void click(POINT p, DWORD down, int times) {
        for (int i = 0; i < times; i++) {
            send_pointer(p.x, p.y, down);
            send_pointer(p.x, p.y, down << 1); // a button's release is the flag after its press
        }
    }

    void drag(POINT from, POINT to) {
        send_pointer(from.x, from.y, MOUSEEVENTF_LEFTDOWN);
        for (int i = 1; i <= 4; i++)
            send_pointer(from.x + (to.x - from.x) * i / 4, from.y + (to.y - from.y) * i / 4, 0);
        send_pointer(to.x, to.y, MOUSEEVENTF_LEFTUP);
    }

    // Moves, clicks, double clicks, right clicks (single or double) and drags in the picture.
    void pointer() {
        POINT p = client_point();
        pointer_actions++;
        uint32_t kind = random() % 5;
        if (kind == 0)
            send_pointer(p.x, p.y, 0);
        else if (kind <= 2)
            click(p, MOUSEEVENTF_LEFTDOWN, int(kind));
        else if (kind == 3)
            click(p, MOUSEEVENTF_RIGHTDOWN, 1 + int(random() % 2));
        else
            drag(p, client_point());
    }
};

// Random keys and pointer actions for a bounded time: the program answers throughout,
// still shows its window afterwards and closes with exit code 0.
TEST(Fuzz, RandomKeysAndPointerActionsKeepTheProgramResponsive) {
    ProgramProcess program;
    ASSERT_TRUE(program.start(program_path));
    ASSERT_TRUE(program.wait_for_window(20000));
    Fuzzer fuzzer{program, std::mt19937(2024)};
    const DWORD duration = 20000;
    DWORD start = GetTickCount(), slowest = 0;
    int actions = 0;
    while (GetTickCount() - start < duration) {
        fuzzer.one();
        actions++;
        Sleep(15);
        if (actions % 25 == 0) {
            DWORD asked = GetTickCount();
            ASSERT_TRUE(program.responsive(10000)) << "no answer after " << actions << " actions";
            slowest = std::max(slowest, GetTickCount() - asked);
            // Where a command is slow (an emulated program's takes most of a second), the
            // keys must not run ahead of it: the close at the end would wait behind them all.
            ASSERT_TRUE(program.idle(60000)) << "still busy after " << actions << " actions";
            ASSERT_FALSE(program.ended(0)) << "the program ended after " << actions << " actions";
            ASSERT_TRUE(IsWindow(program.window));
        }
    }
    // Let go of everything, let the program catch up, then close it as a person would.
    send_key(VK_SHIFT, true);
    POINT p = {0, 0};
    GetCursorPos(&p);
    send_pointer(p.x, p.y, MOUSEEVENTF_LEFTUP);
    ASSERT_TRUE(program.responsive(20000));
    ASSERT_TRUE(program.idle(60000));
    EXPECT_TRUE(IsWindowVisible(program.window));
    HWND picture = FindWindowExA(program.window, nullptr, "Static", nullptr);
    EXPECT_TRUE(picture && IsWindowVisible(picture)) << "the image gadget is gone";
    printf("fuzz: %d actions (%d keys, %d of them commands, %d pointer actions), slowest answer "
           "%lu ms, %llu ms of the program's processor time\n",
           actions, fuzzer.keys, fuzzer.commands, fuzzer.pointer_actions, slowest,
           (unsigned long long)(program.thread_time() / 10000));
    ASSERT_GT(program.thread_time(), 0u) << "the program's processor time cannot be read";
    ASSERT_TRUE(click_close_box(program.window));
    ASSERT_TRUE(program.ended(15000));
    EXPECT_EQ(program.exit_code(), 0u);
}

int main(int argc, char **argv) {
    return run_end_to_end(argc, argv, "test_e2e_robustness heightmap.exe heightmap_fault_entry.exe",
                          &program_path, &fault_entry_path);
}

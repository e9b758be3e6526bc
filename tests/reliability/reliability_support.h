#pragma once
// Shared by the reliability tests: the running program in-process, what the process
// holds (heap bytes, private bytes, GDI and USER objects), and the program's commands
// through its real event path.
#include <windows.h>
#include <gtest/gtest.h>
#include <stdint.h>
#include <vector>

// Busy blocks and their bytes in one heap.
struct HeapUse {
    int64_t blocks;
    int64_t bytes;
};

HeapUse heap_use(HANDLE heap);
// The application heap and the object heap together.
HeapUse runtime_heap_use();
// HeapValidate of every heap the running program uses, the process heap included.
bool program_heaps_valid();

// Committed private memory of the process.
int64_t private_bytes();
// GDI and USER objects the process holds. Where the system does not count them
// (GetGuiResources answers 0 under Wine), the count is derived from how many more can
// still be made, so it rises by one for every object held.
int64_t gdi_objects();
int64_t user_objects();

// The default window procedure loads the system's shared cursors (for every hit-test
// code of WM_SETCURSOR) and icons on first use and keeps them. Loading them all before
// anything is counted keeps them from being taken for objects a test made.
void load_shared_cursors_and_icons();

// The top-level windows of this thread.
int32_t thread_window_count();
// The child windows of a window, at every depth.
int32_t child_window_count(HWND window);

// The virtual keys of the seven commands, by menu number.
extern const WORD COMMAND_KEYS[7];

// Runs the program's own loop body on everything that is waiting: every menu event goes
// to app_menu_event. Returns how many menu events there were.
int32_t run_waiting_events();
// Posts the key of a command to window 0 and runs the loop until it has been handled.
// Returns the menu number that came back, or -1 when none did.
intptr_t run_command_key(WORD key);
// Makes window 0 the active window again, as the keys need it.
void activate_program_window();

HWND program_window();
HWND program_gadget_control();

// A page that any read through it faults on, and a page of 0xFF bytes that looks like a
// live record to anything that reads it. Both stay for the whole process.
void *no_access_page();
void *live_looking_page();

// A whole number that the run gives in the environment variable `name` (the test scripts
// shrink the long tests where the programs run emulated), or `otherwise` where it gives none.
int32_t run_parameter(const char *name, int32_t otherwise);
// True where the test scripts run this program under user-mode emulation.
bool running_emulated();

// Every test runs against the program as its start-up leaves it and ends it again.
class ProgramTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
};

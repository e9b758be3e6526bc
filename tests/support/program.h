#pragma once
// The application running inside the test program: its window and gadget, and its
// commands through its own event path.
#include <windows.h>
#include <gtest/gtest.h>
#include <stdint.h>

// The virtual key of a command, taken from the application's own table.
WORD command_key(intptr_t menu);
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

// Every test runs against the program as its start-up leaves it and ends it again.
class ProgramTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
};

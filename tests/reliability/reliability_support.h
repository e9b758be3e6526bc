#pragma once
// Shared by the reliability tests: what the process holds (heap bytes, private bytes, GDI
// and USER objects), and pages that no record may be read through.
#include <windows.h>
#include "runtime/gadget/gadget_private.h"
#include "runtime/window/window_private.h"
#include "tests/support/program.h"
#include "tests/support/test_support.h"
#include <stdint.h>
#include <string>
#include <vector>

// The application heap and the object heap together.
HeapUse runtime_heap_use();

// Committed private memory of the process.
int64_t private_bytes();
// GDI and USER objects the process holds: counted by the system, or (under Wine, which counts
// none) found by walking the handle tables, when `by_type` (if not null) gets the GDI objects
// of each type as a text for failure messages.
int64_t gdi_objects(std::string *by_type = nullptr);
int64_t user_objects();

// The default window procedure loads the system's shared cursors (for every hit-test
// code of WM_SETCURSOR) and icons on first use and keeps them. Loading them all before
// anything is counted keeps them from being taken for objects a test made.
void load_shared_cursors_and_icons();

// Runs a command's key through the program's own event path with window 0 active, as its
// shortcuts need, pressing it again where the platform took activation away late; answers the
// menu number that came back, or -1.
intptr_t run_command(int32_t menu);

// A page that any read through it faults on, and a page of 0xFF bytes that looks like a
// live record to anything that reads it. Both stay for the whole process.
void *no_access_page();
void *live_looking_page();

// A whole number that the run gives in the environment variable `name` (the test scripts
// shrink the long tests where the programs run emulated), or `otherwise` where it gives none.
int32_t run_parameter(const char *name, int32_t otherwise);
// True where the test scripts run this program under user-mode emulation.
bool running_emulated();

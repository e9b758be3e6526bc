#pragma once
// Shared set-up of the test programs: the runtime host the entry would make.
#include <windows.h>
#include "runtime/core/heap.h"

// The host of every test program: app heap and module instance, then the core heaps.
extern RuntimeHost test_host;

// True when every heap of the runtime passes HeapValidate.
bool runtime_heaps_valid();

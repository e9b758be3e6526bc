#pragma once
// The runtime's one start-up and one end, over all of its libraries.
#include "runtime/core/heap.h"

// Starts every library, in order, on the heap and instance of runtime_host (which the entry
// sets first); true when every library started.
bool runtime_start();
// Ends every library that owns objects, in order: images, gadgets, windows, then the core.
void runtime_end();

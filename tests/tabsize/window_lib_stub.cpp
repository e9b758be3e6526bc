#include "runtime/window/window.h"

// The window library's globals, until its own sources are on this branch.
WindowLibState window_lib;

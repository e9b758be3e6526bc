#include "runtime/window/window.h"

// Placeholder until Tab navigation lands: the focus stays where it is.
int32_t tab_navigate(int32_t) { return 0; }

#pragma once
// Rounding of computed heights, shared by the generator and the filters.
#include "app/grid.h"
#include <stdint.h>

// The integer nearest to v, ties to even, clamped to the height range 0..HEIGHT_MAX; NaN
// gives 0.
// Clamping first gives the same result as rounding first, because the bounds are integers.
// The rounding uses only truncation and exact comparisons, so the floating-point unit's
// rounding mode never changes the result. No branches: which way a height rounds is as
// good as random, and it is worked out for every cell of a terrain.
inline int32_t round_height(double v) {
    v = v > 0.0 ? v : 0.0; // NaN as well
    v = v < HEIGHT_MAX ? v : HEIGHT_MAX;
    int32_t n = int32_t(v); // truncates toward zero under every rounding mode
    double rest = v - n;    // exact: n and v share their leading bits
    return n + ((rest > 0.5) | ((rest == 0.5) & (n & 1)));
}

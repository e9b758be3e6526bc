#pragma once
// Colour composition and the runtime's float-to-integer conversion.
#include <stdint.h>

// red + green * 256 + blue * 65536 in 32-bit arithmetic with wrap-around.
inline int32_t color_rgb(int32_t red, int32_t green, int32_t blue) {
    return int32_t(uint32_t(red) + uint32_t(green) * 256u + uint32_t(blue) * 65536u);
}

// Truncates toward zero under any rounding mode; |x| in [2^31, 2^63) keeps the low
// 32 bits of the integer part; NaN, infinities and |x| >= 2^63 give 0.
int32_t float_to_int(double x);

#include "runtime/core/numeric.h"
#include <string.h>

// Works on the bit pattern alone, so the floating-point unit's rounding mode never matters.
int32_t float_to_int(double x) {
    uint64_t bits;
    memcpy(&bits, &x, sizeof bits);
    int exponent = int((bits >> 52) & 0x7FF) - 1023;
    if (exponent < 0) return 0;   // |x| < 1, zeros and subnormals included
    if (exponent >= 63) return 0; // |x| >= 2^63, infinities and NaN
    uint64_t mantissa = (bits & 0xFFFFFFFFFFFFFull) | (1ull << 52);
    uint64_t magnitude = exponent >= 52 ? mantissa << (exponent - 52) : mantissa >> (52 - exponent);
    uint64_t value = (bits >> 63) ? 0 - magnitude : magnitude;
    return int32_t(uint32_t(value));
}

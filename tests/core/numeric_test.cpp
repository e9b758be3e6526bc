#include "runtime/core/numeric.h"
#include <gtest/gtest.h>
#include <cfenv>
#include <cmath>
#include <limits>

TEST(ColorRgb, ComposesAndWraps) {
    EXPECT_EQ(color_rgb(0, 0, 100), 0x00640000);
    EXPECT_EQ(color_rgb(255, 255, 255), 0x00FFFFFF);
    EXPECT_EQ(color_rgb(256, 0, 0), 0x00000100);
    EXPECT_EQ(color_rgb(256, 0, 0), color_rgb(0, 1, 0));
    EXPECT_EQ(uint32_t(color_rgb(-1, 0, 0)), 0xFFFFFFFFu);
    EXPECT_EQ(uint32_t(color_rgb(0, 0, 256)), 0x01000000u);
    EXPECT_EQ(color_rgb(0, 0, 65536 * 256), 0); // carries out of the top byte and wraps
}

struct Truncation {
    double x;
    int32_t truncated;
};

TEST(FloatToInt, TruncatesUnderEveryRoundingMode) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    // 0x1.fffffffffffffp62 is 2^63 - 1024, the largest double below 2^63: it keeps its low bits;
    // 2^63 (0x1p63) and beyond give 0.
    const Truncation cases[][4] = {
        {{2.5, 2}, {-2.5, -2}, {3.5, 3}, {-3.5, -3}},
        {{2.7, 2}, {-2.7, -2}, {0.999, 0}, {-0.5, 0}},
        {{-0.0, 0}, {1e-310, 0}, {2147483647.9, 2147483647}, {-2147483648.5, INT32_MIN}},
        {{4294967301.0, 5}, {3000000000.0, -1294967296}, {-4294967301.0, -5}, {1e300, 0}},
        {{0x1.fffffffffffffp62, -1024}, {0x1p63, 0}, {-0x1p63, 0}, {-1e300, 0}},
        {{nan, 0}, {infinity, 0}, {-infinity, 0}, {1.001953125 * 7 + 1, 8}}};
    for (int mode : {FE_TONEAREST, FE_DOWNWARD, FE_UPWARD, FE_TOWARDZERO}) {
        SCOPED_TRACE(mode);
        EXPECT_EQ(fesetround(mode), 0);
        EXPECT_EQ(fegetround(), mode);
        for (const auto &row : cases)
            for (const Truncation &c : row)
                EXPECT_EQ(float_to_int(c.x), c.truncated) << c.x;
        EXPECT_EQ(float_to_int(0x1.0000000000001p63), 0); // 2^63 + 2^11: low bits, but too big
    }
    fesetround(FE_TONEAREST);
}

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

static void expect_truncation(const char *mode) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(float_to_int(2.5), 2);
    EXPECT_EQ(float_to_int(-2.5), -2);
    EXPECT_EQ(float_to_int(3.5), 3);
    EXPECT_EQ(float_to_int(-3.5), -3);
    EXPECT_EQ(float_to_int(2.7), 2);
    EXPECT_EQ(float_to_int(-2.7), -2);
    EXPECT_EQ(float_to_int(0.999), 0);
    EXPECT_EQ(float_to_int(-0.5), 0);
    EXPECT_EQ(float_to_int(-0.0), 0);
    EXPECT_EQ(float_to_int(1e-310), 0);
    EXPECT_EQ(float_to_int(2147483647.9), 2147483647);
    EXPECT_EQ(float_to_int(-2147483648.5), INT32_MIN);
    EXPECT_EQ(float_to_int(4294967301.0), 5);
    EXPECT_EQ(float_to_int(3000000000.0), -1294967296);
    EXPECT_EQ(float_to_int(-4294967301.0), -5);
    EXPECT_EQ(float_to_int(9223372036854774784.0), -1024); // 2^63 - 1024, the largest double below 2^63
    EXPECT_EQ(float_to_int(9223372036854775808.0), 0); // 2^63
    EXPECT_EQ(float_to_int(-9223372036854775808.0), 0);
    EXPECT_EQ(float_to_int(1e300), 0);
    EXPECT_EQ(float_to_int(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(float_to_int(std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(float_to_int(-std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(float_to_int(1.001953125 * 7 + 1), 8);
}

TEST(FloatToInt, TruncatesUnderEveryRoundingMode) {
    const struct {
        int mode;
        const char *name;
    } modes[] = {{FE_TONEAREST, "nearest"},
                 {FE_DOWNWARD, "downward"},
                 {FE_UPWARD, "upward"},
                 {FE_TOWARDZERO, "toward zero"}};
    for (const auto &m : modes) {
        ASSERT_EQ(fesetround(m.mode), 0);
        ASSERT_EQ(fegetround(), m.mode);
        expect_truncation(m.name);
    }
    fesetround(FE_TONEAREST);
}

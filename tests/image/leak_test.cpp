#include "runtime/image/image_private.h"
#include "tests/image/image_test_support.h"
#include "tests/support/pixels.h"
#include "tests/support/test_support.h"
#include <vector>

// The process holds about 65,500 GDI objects, so more cycles than that exhaust it as
// soon as one cycle leaks a DC or a brush. A small DIB section keeps the cycles quick.
TEST(ImageLeakTest, OutputBeginEndCyclesLeakNothing) {
    const int cycles = 70000;
    HANDLE bitmap = reinterpret_cast<HANDLE>(image_create_with_depth(0, 4, 4, 32));
    ASSERT_NE(bitmap, nullptr);
    for (int i = 0; i < cycles; i++) {
        ASSERT_NE(drawing_begin(image_output(0)), nullptr) << i;
        ASSERT_NE(drawing_state.brush, nullptr) << i;
        drawing_plot(i & 3, 1, 0x0000FF);
        drawing_end();
    }
    Pixels pixels = read_pixels(bitmap);
    ASSERT_FALSE(pixels.data.empty());
    EXPECT_EQ(pixels.at(3, 1), 0x0000FFu);
    image_lib_end();
    EXPECT_TRUE(runtime_heaps_valid());
}

// Fills the GDI object table but for `spare` entries, runs `body`, and answers how many
// of the spare entries are still free afterwards.
template <typename Body> static int gdi_room_after(int spare, Body body) {
    std::vector<HBRUSH> filler;
    for (HBRUSH brush; (brush = CreateSolidBrush(0)) != nullptr;)
        filler.push_back(brush);
    for (int i = 0; i < spare && !filler.empty(); i++) {
        DeleteObject(filler.back());
        filler.pop_back();
    }
    body();
    std::vector<HBRUSH> probe;
    for (HBRUSH brush; int(probe.size()) < spare && (brush = CreateSolidBrush(0)) != nullptr;)
        probe.push_back(brush);
    for (HBRUSH brush : probe)
        DeleteObject(brush);
    for (HBRUSH brush : filler)
        DeleteObject(brush);
    return int(probe.size());
}

TEST(ImageLeakTest, RefusedOutputsKeepNoDc) {
    ASSERT_NE(icon_image(1), nullptr);
    int refused = 0;
    int room = gdi_room_after(8, [&refused] {
        for (int i = 0; i < 20; i++)
            refused += image_output(1) == nullptr;
    });
    EXPECT_EQ(refused, 20);
    EXPECT_EQ(room, 8);
    image_lib_end();
}

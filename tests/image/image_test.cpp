#include "runtime/core/core_private.h"
#include "runtime/image/image_private.h"
#include "runtime/runtime.h"
#include "tests/support/pixels.h"
#include "tests/support/test_support.h"
#include <commctrl.h>
#include <string.h>
#include <tuple>
#include <vector>

static ObjectTable *image_table() {
    return image_library().image_table;
}

static ImageRecord *record_of(ObjectNumber number) {
    return static_cast<ImageRecord *>(object_table_get(image_table(), number));
}

// Every entry the table's iteration visits, dynamic records that never came alive included.
static int table_entries() {
    object_table_iter_reset(image_table());
    ObjectNumber number;
    int count = 0;
    while (object_table_iter_next(image_table(), &number))
        count++;
    return count;
}

// A memory DC holding the bitmap while it lives; `old` is null when another DC holds it.
struct HeldBitmap {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old;
    explicit HeldBitmap(HANDLE bitmap) : old(SelectObject(dc, bitmap)) {}
    ~HeldBitmap() {
        if (old) SelectObject(dc, old);
        DeleteDC(dc);
    }
};

// A fresh bitmap is black on this platform whatever the library does, so what its fill must
// leave is checked instead: a bitmap that no DC holds, which a DC of its own can take.
static bool selectable(HANDLE bitmap) {
    return HeldBitmap(bitmap).old != nullptr;
}

// An image whose handle is an icon, as only libraries outside this program make; or null.
static HICON icon_image(ObjectNumber number) {
    const int side = 32;
    BYTE and_mask[side * side / 8], xor_mask[side * side / 8] = {};
    memset(and_mask, 0xFF, sizeof and_mask);
    HICON icon = CreateIcon(GetModuleHandleA(nullptr), side, side, 1, 1, and_mask, xor_mask);
    auto *record = static_cast<ImageRecord *>(object_table_alloc(image_table(), number));
    if (!icon || !record) return nullptr;
    record->bitmap = icon;
    return icon;
}

// Stand-ins for platform calls, answering what Wine never answers.
struct Refused {
    static HDC WINAPI display_dc(LPCSTR, LPCSTR, LPCSTR, const DEVMODEA *) { return nullptr; }
    static HDC WINAPI memory_dc(HDC) { return nullptr; }
    static BOOL WINAPI common_controls(const INITCOMMONCONTROLSEX *) { return FALSE; }
};

class ImageTest : public testing::Test {
  protected:
    void TearDown() override {
        image_lib_end();
        EXPECT_TRUE(runtime_heaps_valid());
    }
};

// The application's picture: in the display's format, free, and drawn through its output.
TEST_F(ImageTest, DisplayImageIsInTheDisplayFormatAndDrawnThroughItsOutput) {
    HANDLE bitmap = reinterpret_cast<HANDLE>(image_create(0, 513, 513));
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(image_handle(0), bitmap);
    EXPECT_EQ(GetObjectType(bitmap), DWORD(OBJ_BITMAP));
    EXPECT_EQ(std::make_pair(image_width(0), image_height(0)), std::make_pair(513, 513));
    HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    int display_bits = GetDeviceCaps(display, BITSPIXEL);
    DeleteDC(display);
    EXPECT_EQ(display_bits, 32);
    EXPECT_EQ(record_of(0)->depth, display_bits);
    EXPECT_EQ(record_of(0)->flags, 128);
    EXPECT_EQ(read_pixels(bitmap).width, 513);
    EXPECT_TRUE(selectable(bitmap));

    const DrawingOutput *output = image_output(0);
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(std::make_tuple(output->kind, output->window, output->release, output->buffer),
              std::make_tuple(OUTPUT_DC, HWND(), &image_output_release, nullptr));
    EXPECT_EQ(output->get_dc, nullptr);
    HDC dc = output->dc;
    EXPECT_EQ(image_library().output_block->output_dc, dc);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_BITMAP), bitmap);

    ASSERT_EQ(drawing_begin(output), dc);
    drawing_plot(0, 0, 0x0000FF);
    drawing_end();
    EXPECT_EQ(GetObjectType(dc), 0u);
    EXPECT_EQ(image_library().output_block->output_dc, nullptr);
    Pixels pixels = read_pixels(bitmap);
    ASSERT_FALSE(pixels.data.empty());
    EXPECT_EQ(pixels.at(0, 0), 0x0000FFu);
    EXPECT_EQ(pixels.at(1, 0), 0u);

    // The output handed out earlier is spent: beginning it again draws nowhere.
    EXPECT_EQ(drawing_begin(output), nullptr);
}

// Each creation deletes the number's bitmap before it, even a failing one (13 bits).
TEST_F(ImageTest, DibSectionsTakeTheirBitCountAndReplaceTheImageOfTheirNumber) {
    HANDLE previous = nullptr;
    for (int32_t depth : {1, 8, 24, 32}) {
        SCOPED_TRACE(depth);
        HANDLE bitmap = reinterpret_cast<HANDLE>(image_create_with_depth(3, depth, 5, depth));
        ASSERT_NE(bitmap, nullptr);
        EXPECT_EQ(GetObjectType(previous), 0u);
        previous = bitmap;
        EXPECT_EQ(image_handle(3), bitmap);
        EXPECT_EQ(std::make_pair(record_of(3)->depth, record_of(3)->flags),
                  std::make_pair(uint8_t(depth), uint8_t(0)));
        EXPECT_EQ(std::make_pair(image_width(3), image_height(3)), std::make_pair(depth, 5));
        EXPECT_TRUE(selectable(bitmap));
        if (depth != 8) continue;
        // A paletted DIB takes its whole colour table from the creation's info: all 256
        // entries must be there, and black, or the colours would come from whatever followed.
        RGBQUAD colors[256];
        memset(colors, 0x55, sizeof colors);
        EXPECT_EQ(GetDIBColorTable(HeldBitmap(bitmap).dc, 0, 256, colors), 256u);
        for (const RGBQUAD &color : colors)
            ASSERT_EQ(color.rgbRed | color.rgbGreen | color.rgbBlue, 0);
    }
    EXPECT_EQ(image_create_with_depth(3, 10, 10, 13), 0);
    EXPECT_EQ(GetObjectType(previous), 0u);
    EXPECT_EQ(image_handle(3), nullptr);
    EXPECT_EQ(image_width(3), 0);
}

TEST_F(ImageTest, AnyIdImagesWorkAsNumbers) {
    intptr_t number = image_create_with_depth(ANY_ID, 20, 10, 24);
    ASSERT_NE(number, 0);
    ASSERT_NE(number, ANY_ID);
    HANDLE bitmap = image_handle(number);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(std::make_pair(image_width(number), image_height(number)), std::make_pair(20, 10));
    EXPECT_EQ(record_of(number)->depth, 24);

    const DrawingOutput *output = image_output(number);
    ASSERT_NE(output, nullptr);
    ASSERT_NE(drawing_begin(output), nullptr);
    drawing_plot(19, 9, 0x00FF00);
    drawing_end();
    EXPECT_EQ(read_pixels(bitmap).at(19, 9), 0x00FF00u);

    intptr_t display = image_create(ANY_ID, 4, 4);
    ASSERT_NE(display, 0);
    EXPECT_EQ(record_of(display)->flags, 128);

    image_free(number);
    EXPECT_EQ(GetObjectType(bitmap), 0u);
    EXPECT_EQ(image_handle(number), nullptr);
    EXPECT_NE(image_handle(display), nullptr);
}

// Numbers that name no image answer nothing; failed creations leave no record behind.
TEST_F(ImageTest, MissingNumbersAnswerNothingAndFailedCreationsLeaveNoRecord) {
    HANDLE kept = reinterpret_cast<HANDLE>(image_create(7, 4, 4));
    ASSERT_NE(kept, nullptr);
    // A fake record whose first word looks alive: only records the table made count.
    ImageRecord fake = {reinterpret_cast<HANDLE>(intptr_t(0x1234)), 5, 5, 32, 0};
    const ObjectNumber numbers[] = {-2,         5,          image_table()->capacity,
                                    INTPTR_MAX, INTPTR_MIN, reinterpret_cast<ObjectNumber>(&fake)};
    for (ObjectNumber number : numbers) {
        EXPECT_EQ(image_handle(number), nullptr) << number;
        EXPECT_EQ(image_width(number), 0) << number;
        EXPECT_EQ(image_height(number), 0) << number;
        EXPECT_EQ(image_output(number), nullptr) << number;
        image_free(number);
    }
    EXPECT_EQ(image_create(-2, 4, 4), 0);
    image_free(ANY_ID);
    EXPECT_EQ(image_handle(7), kept);
    EXPECT_EQ(fake.bitmap, reinterpret_cast<HANDLE>(intptr_t(0x1234)));
    int entries = table_entries();
    // A side below 1 makes nothing (the platform would hand out its one shared 1 x 1
    // bitmap), and the image of that number stays.
    for (SIZE size : {SIZE{0, 4}, SIZE{4, 0}, SIZE{0, 0}, SIZE{-3, 4}}) {
        EXPECT_EQ(image_create(ANY_ID, size.cx, size.cy), 0) << size.cx << " x " << size.cy;
        EXPECT_EQ(image_create(7, size.cx, size.cy), 0) << size.cx << " x " << size.cy;
        EXPECT_EQ(image_create_with_depth(7, size.cx, size.cy, 32), 0);
    }
    EXPECT_EQ(image_handle(7), kept);
    EXPECT_EQ(image_width(7), 4);
    EXPECT_EQ(image_create_with_depth(ANY_ID, 4, 4, 13), 0);
    EXPECT_EQ(image_create_with_depth(ANY_ID, 4, 4, 0), 0);
    EXPECT_EQ(image_create_with_depth(ANY_ID, 4, 4, 0x10020), 0); // no word-sized bit count
    EXPECT_EQ(table_entries(), entries);

    heap_fail_allocations(object_heap(), 0, 1);
    EXPECT_EQ(image_create(ANY_ID, 4, 4), 0);
    heap_fail_reset();
    int32_t capacity = image_table()->capacity;
    heap_fail_allocations(app_heap(), 0, 1);
    EXPECT_EQ(image_create(capacity + 40, 4, 4), 0);
    heap_fail_reset();
    EXPECT_EQ(image_handle(capacity + 40), nullptr);
    EXPECT_EQ(table_entries(), entries);

    // Without a display DC no bitmap is made; the numbered image is gone all the same.
    PlatformPatch no_display("gdi32.dll", "CreateDCA",
                             reinterpret_cast<const void *>(Refused::display_dc));
    ASSERT_NE(no_display.original(), nullptr);
    EXPECT_EQ(image_create(ANY_ID, 4, 4), 0);
    EXPECT_EQ(image_create(7, 4, 4), 0);
    EXPECT_EQ(GetObjectType(kept), 0u);
    EXPECT_EQ(table_entries(), entries - 1);
}

// The process holds about 65,500 GDI objects: more cycles than that exhaust them if one
// leaks. Twenty refused outputs of an icon leave the last few free entries free.
TEST_F(ImageTest, OutputCyclesAndRefusalsLeakNothing) {
    HANDLE bitmap = reinterpret_cast<HANDLE>(image_create_with_depth(0, 4, 4, 32));
    ASSERT_NE(bitmap, nullptr);
    for (int i = 0; i < 70000; i++) {
        ASSERT_NE(drawing_begin(image_output(0)), nullptr) << i;
        ASSERT_NE(drawing_state.brush, nullptr) << i;
        drawing_plot(i & 3, 1, 0x0000FF);
        drawing_end();
    }
    Pixels pixels = read_pixels(bitmap);
    ASSERT_FALSE(pixels.data.empty());
    EXPECT_EQ(pixels.at(3, 1), 0x0000FFu);

    HICON icon = icon_image(6);
    ASSERT_NE(icon, nullptr);
    std::vector<HBRUSH> filler;
    for (HBRUSH brush; (brush = CreateSolidBrush(0)) != nullptr;)
        filler.push_back(brush);
    const int spare = 8;
    for (int i = 0; i < spare && !filler.empty(); i++, filler.pop_back())
        DeleteObject(filler.back());
    int refused = 0;
    for (int i = 0; i < 20; i++)
        refused += image_output(6) == nullptr;
    std::vector<HBRUSH> probe;
    for (HBRUSH brush; int(probe.size()) < spare && (brush = CreateSolidBrush(0)) != nullptr;)
        probe.push_back(brush);
    for (const std::vector<HBRUSH> &brushes : {probe, filler})
        for (HBRUSH brush : brushes)
            DeleteObject(brush);
    EXPECT_EQ(refused, 20);
    EXPECT_EQ(int(probe.size()), spare);
    image_free(6);
    EXPECT_EQ(image_handle(6), nullptr);
    EXPECT_FALSE(DestroyIcon(icon)); // already destroyed
}

// No output without a memory DC, for a bitmap held elsewhere, or without the output block.
TEST_F(ImageTest, OutputFailsWhereItCannotBeMade) {
    HANDLE bitmap = reinterpret_cast<HANDLE>(image_create(0, 4, 4));
    ASSERT_NE(bitmap, nullptr);
    {
        PlatformPatch no_dc("gdi32.dll", "CreateCompatibleDC",
                            reinterpret_cast<const void *>(Refused::memory_dc));
        ASSERT_NE(no_dc.original(), nullptr);
        EXPECT_NE(image_create(1, 4, 4), 0) << "the fill is skipped, the image made";
        EXPECT_EQ(image_output(1), nullptr);
    }
    EXPECT_EQ(image_width(1), 4);
    {
        HeldBitmap other(bitmap);
        ASSERT_NE(other.old, nullptr);
        EXPECT_EQ(image_output(0), nullptr);
        EXPECT_EQ(image_library().output_block->output_dc, nullptr);
    }
    {
        Replaced<ImageOutputBlock *> no_block(image_library().output_block, nullptr);
        EXPECT_EQ(image_output(0), nullptr);
        image_output_release();
        image_free(0);
        EXPECT_EQ(GetObjectType(bitmap), 0u);
    }
    EXPECT_NE(image_output(1), nullptr);
    image_output_release();
}

TEST_F(ImageTest, LibraryEndFreesEveryImageAndStaysUsable) {
    HANDLE numbered = reinterpret_cast<HANDLE>(image_create(2, 4, 4));
    HANDLE far_numbered = reinterpret_cast<HANDLE>(image_create(40, 4, 4));
    intptr_t first = image_create(ANY_ID, 4, 4);
    intptr_t second = image_create_with_depth(ANY_ID, 4, 4, 32);
    ASSERT_TRUE(numbered && far_numbered && first && second);
    HANDLE first_bitmap = image_handle(first), second_bitmap = image_handle(second);
    ASSERT_NE(image_output(2), nullptr); // left open: the end takes it too

    image_lib_end();
    for (HANDLE bitmap : {numbered, far_numbered, first_bitmap, second_bitmap})
        EXPECT_EQ(GetObjectType(bitmap), 0u);
    for (ObjectNumber number : {ObjectNumber(2), ObjectNumber(40), first, second})
        EXPECT_EQ(image_handle(number), nullptr);
    EXPECT_EQ(image_library().output_block->output_dc, nullptr);
    EXPECT_EQ(table_entries(), 0);

    EXPECT_NE(image_create(2, 4, 4), 0);
    EXPECT_NE(image_handle(2), nullptr);
}

// The next output, or freeing the image, ends the drawing; freeing another image does not.
TEST_F(ImageTest, ASecondOutputOrFreeingTheImageEndsTheDrawing) {
    HANDLE first = reinterpret_cast<HANDLE>(image_create(0, 8, 8));
    HANDLE second = reinterpret_cast<HANDLE>(image_create(1, 8, 8));
    const DrawingOutput *taken = image_output(0);
    ASSERT_NE(taken, nullptr);
    HDC taken_dc = taken->dc;
    ASSERT_NE(image_create(2, 8, 8), 0);
    image_free(2);
    EXPECT_EQ(image_library().output_block->output_dc, taken_dc);
    EXPECT_EQ(image_output(5), nullptr); // no image 5, and the output taken before is over
    EXPECT_EQ(GetObjectType(taken_dc), 0u);
    ASSERT_NE(drawing_begin(image_output(0)), nullptr);
    HDC first_dc = drawing_state.dc;
    HBRUSH first_brush = drawing_state.brush;
    drawing_plot(1, 1, 0x0000FF);

    const DrawingOutput *output = image_output(1);
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(drawing_state.dc, nullptr);
    EXPECT_EQ(GetObjectType(first_dc), 0u);
    EXPECT_EQ(GetObjectType(first_brush), 0u);
    HDC second_dc = drawing_begin(output);
    ASSERT_NE(second_dc, nullptr);
    EXPECT_EQ(GetObjectType(second_dc), DWORD(OBJ_MEMDC));
    drawing_plot(2, 2, 0xFF0000);
    EXPECT_EQ(GetPixel(second_dc, 2, 2), 0xFF0000u);
    EXPECT_EQ(read_pixels(first).at(1, 1), 0x0000FFu);
    image_free(1);
    EXPECT_EQ(GetObjectType(second), 0u);
    EXPECT_EQ(GetObjectType(second_dc), 0u);
    EXPECT_EQ(drawing_state.dc, nullptr);
    drawing_plot(3, 3, 0x0000FF); // nothing is current any more
    drawing_end();
}

// A restart, as the application's tests do, makes no further heaps (a start whose common
// controls fail does not count) and no second pair of drawing objects, without either of
// which the drawing library is not ready.
TEST(ImageLibTest, StartingAgainGivesAnEmptyLibraryAndKeepsTheDrawingObjects) {
    ASSERT_NE(image_create(0, 4, 4), 0);
    runtime_end();
    HBRUSH brush = drawing_state.default_brush;
    HPEN pen = drawing_state.default_pen;
    ASSERT_TRUE(brush && pen);
    DWORD heaps = GetProcessHeaps(0, nullptr);
    {
        PlatformPatch failing("comctl32.dll", "InitCommonControlsEx",
                              reinterpret_cast<const void *>(Refused::common_controls));
        ASSERT_NE(failing.original(), nullptr);
        EXPECT_FALSE(runtime_start());
        runtime_end();
    }
    ASSERT_TRUE(runtime_start());
    EXPECT_EQ(GetProcessHeaps(0, nullptr), heaps);
    ASSERT_NE(image_table(), nullptr);
    EXPECT_EQ(image_table()->capacity, 16);
    EXPECT_EQ(image_handle(0), nullptr);
    EXPECT_NE(image_create(0, 4, 4), 0);
    image_free(0);
    EXPECT_EQ(std::make_pair(drawing_state.default_brush, drawing_state.default_pen),
              std::make_pair(brush, pen));
    EXPECT_EQ(std::make_pair(GetObjectType(brush), GetObjectType(pen)),
              std::make_pair(DWORD(OBJ_BRUSH), DWORD(OBJ_PEN)));
    {
        Replaced<HBRUSH> no_brush(drawing_state.default_brush, nullptr);
        EXPECT_FALSE(drawing_ready());
        drawing_init();
        EXPECT_EQ(drawing_state.default_brush, nullptr);
        EXPECT_EQ(drawing_state.default_pen, pen);
    }
    Replaced<HPEN> no_pen(drawing_state.default_pen, nullptr);
    EXPECT_FALSE(drawing_ready());
}

#include "runtime/core/core_private.h"
#include "runtime/image/image_private.h"
#include "runtime/runtime.h"
#include "tests/image/image_test_support.h"
#include "tests/support/pixels.h"
#include "tests/support/test_support.h"
#include <commctrl.h>

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

// A fresh bitmap is black on this platform whatever the library does, so what its fill must
// leave is checked instead: a bitmap that no DC holds, which a DC of its own can take.
static bool selectable(HANDLE bitmap) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    if (old) SelectObject(dc, old);
    DeleteDC(dc);
    return old != nullptr;
}

class ImageTest : public testing::Test {
  protected:
    void TearDown() override {
        image_lib_end();
        EXPECT_TRUE(runtime_heaps_valid());
    }
};

TEST_F(ImageTest, DisplayImageIsInTheDisplayFormatAndFree) {
    HANDLE bitmap = reinterpret_cast<HANDLE>(image_create(0, 513, 513));
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(image_handle(0), bitmap);
    EXPECT_EQ(GetObjectType(bitmap), DWORD(OBJ_BITMAP));
    EXPECT_EQ(image_width(0), 513);
    EXPECT_EQ(image_height(0), 513);
    HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    int display_bits = GetDeviceCaps(display, BITSPIXEL);
    DeleteDC(display);
    EXPECT_EQ(display_bits, 32);
    EXPECT_EQ(record_of(0)->depth, display_bits);
    EXPECT_EQ(record_of(0)->flags, 128);
    EXPECT_EQ(read_pixels(bitmap).width, 513);
    EXPECT_TRUE(selectable(bitmap));
}

TEST_F(ImageTest, DibSectionsTakeTheirBitCount) {
    for (int32_t depth : {8, 24, 32}) {
        HANDLE bitmap = reinterpret_cast<HANDLE>(image_create_with_depth(3, 7, 5, depth));
        ASSERT_NE(bitmap, nullptr) << depth;
        EXPECT_EQ(record_of(3)->depth, depth);
        EXPECT_EQ(record_of(3)->flags, 0);
        EXPECT_EQ(image_width(3), 7);
        EXPECT_EQ(image_height(3), 5);
        EXPECT_TRUE(selectable(bitmap)) << depth;
    }
}

// A paletted DIB takes the whole colour table from the creation's info: all 256 entries
// must be there, and black, or the picture's colours would come from whatever followed.
TEST_F(ImageTest, APalettedImageHasAWholeBlackColourTable) {
    HANDLE bitmap = reinterpret_cast<HANDLE>(image_create_with_depth(3, 7, 5, 8));
    ASSERT_NE(bitmap, nullptr);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RGBQUAD colors[256];
    memset(colors, 0x55, sizeof colors);
    EXPECT_EQ(GetDIBColorTable(dc, 0, 256, colors), 256u);
    SelectObject(dc, old);
    DeleteDC(dc);
    for (const RGBQUAD &color : colors)
        ASSERT_EQ(color.rgbRed | color.rgbGreen | color.rgbBlue, 0);
}

TEST_F(ImageTest, RecreatingANumberDeletesTheOldBitmap) {
    HANDLE first = reinterpret_cast<HANDLE>(image_create(0, 10, 10));
    ASSERT_NE(first, nullptr);
    HANDLE second = reinterpret_cast<HANDLE>(image_create(0, 20, 30));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetObjectType(first), 0u);
    EXPECT_EQ(image_handle(0), second);
    EXPECT_EQ(image_width(0), 20);
    EXPECT_EQ(image_height(0), 30);

    // The old image goes even when the new bitmap cannot be made (13 bits is no format).
    EXPECT_EQ(image_create_with_depth(0, 10, 10, 13), 0);
    EXPECT_EQ(GetObjectType(second), 0u);
    EXPECT_EQ(image_handle(0), nullptr);
    EXPECT_EQ(image_width(0), 0);
}

TEST_F(ImageTest, AnyIdImagesWorkAsNumbers) {
    intptr_t number = image_create_with_depth(ANY_ID, 20, 10, 24);
    ASSERT_NE(number, 0);
    ASSERT_NE(number, ANY_ID);
    HANDLE bitmap = image_handle(number);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(image_width(number), 20);
    EXPECT_EQ(image_height(number), 10);
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

TEST_F(ImageTest, MissingAndHostileNumbersAnswerNothing) {
    ASSERT_NE(image_create(0, 4, 4), 0);
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
    EXPECT_NE(image_handle(0), nullptr);
    EXPECT_EQ(fake.bitmap, reinterpret_cast<HANDLE>(intptr_t(0x1234)));
}

TEST_F(ImageTest, FailedCreationsLeaveNoRecord) {
    HANDLE kept = reinterpret_cast<HANDLE>(image_create(7, 4, 4));
    ASSERT_NE(kept, nullptr);
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
}

TEST_F(ImageTest, FreeTellsBitmapsFromIcons) {
    HICON icon = icon_image(6);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(image_output(6), nullptr); // an icon cannot be drawn into
    image_free(6);
    EXPECT_EQ(image_handle(6), nullptr);
    EXPECT_FALSE(DestroyIcon(icon)); // already destroyed
}

TEST_F(ImageTest, OutputFailsForABitmapSelectedElsewhere) {
    HANDLE bitmap = reinterpret_cast<HANDLE>(image_create(0, 4, 4));
    HDC other = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(other, bitmap);
    ASSERT_NE(previous, nullptr);
    EXPECT_EQ(image_output(0), nullptr);
    EXPECT_EQ(image_library().output_block->output_dc, nullptr);
    SelectObject(other, previous);
    DeleteDC(other);
    EXPECT_NE(image_output(0), nullptr);
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

TEST_F(ImageTest, OutputDrawsIntoTheImageAndReleasesItsDc) {
    HANDLE bitmap = reinterpret_cast<HANDLE>(image_create(0, 513, 513));
    const DrawingOutput *output = image_output(0);
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(output->kind, OUTPUT_DC);
    EXPECT_EQ(output->window, nullptr);
    EXPECT_EQ(output->release, image_output_release);
    EXPECT_EQ(output->buffer, nullptr);
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

TEST_F(ImageTest, ASecondOutputEndsTheDrawingOfTheFirst) {
    HANDLE first = reinterpret_cast<HANDLE>(image_create(0, 8, 8));
    HANDLE second = reinterpret_cast<HANDLE>(image_create(1, 8, 8));
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
    drawing_end();
    EXPECT_EQ(read_pixels(first).at(1, 1), 0x0000FFu);
    EXPECT_EQ(read_pixels(second).at(2, 2), 0xFF0000u);
}

TEST_F(ImageTest, FreeingTheImageBeingDrawnEndsTheDrawing) {
    HANDLE bitmap = reinterpret_cast<HANDLE>(image_create(0, 8, 8));
    ASSERT_NE(drawing_begin(image_output(0)), nullptr);
    HDC dc = drawing_state.dc;
    drawing_plot(1, 1, 0x0000FF);
    image_free(0);
    EXPECT_EQ(GetObjectType(bitmap), 0u);
    EXPECT_EQ(GetObjectType(dc), 0u);
    EXPECT_EQ(drawing_state.dc, nullptr);
    drawing_plot(2, 2, 0x0000FF); // nothing is current any more
    drawing_end();
}

// A program that ends its runtime and starts it again, as the tests of the application do.
BOOL WINAPI no_common_controls(const INITCOMMONCONTROLSEX *) {
    return FALSE;
}

// ... and makes no further heaps; a start whose common controls fail does not count as one.
TEST(ImageLibTest, StartingAgainGivesAnEmptyLibraryAndKeepsTheDrawingObjects) {
    ASSERT_NE(image_create(0, 4, 4), 0);
    runtime_end();
    HBRUSH brush = drawing_state.default_brush;
    HPEN pen = drawing_state.default_pen;
    ASSERT_TRUE(brush && pen);
    DWORD heaps = GetProcessHeaps(0, nullptr);
    {
        PlatformPatch failing("comctl32.dll", "InitCommonControlsEx",
                              reinterpret_cast<const void *>(no_common_controls));
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
    EXPECT_EQ(drawing_state.default_brush, brush);
    EXPECT_EQ(drawing_state.default_pen, pen);
    EXPECT_EQ(GetObjectType(brush), DWORD(OBJ_BRUSH));
    EXPECT_EQ(GetObjectType(pen), DWORD(OBJ_PEN));
}

#include "runtime/image/image_private.h"
#include "tests/support/pixels.h"
#include "tests/support/test_support.h"
#include <string.h>

// A test DC onto a small DIB section, and counters for the routines a target calls.
struct Provider {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ first_bitmap = nullptr;
    void *bits = nullptr;
    int release_calls = 0;
    int get_dc_calls = 0;
    int get_buffer_calls = 0;
    bool dc_available = true;
    // The memory handed out as the pixel buffer, with guard bytes around it.
    uint8_t memory[256];
    uint8_t *buffer = nullptr;
    int32_t pitch = 0;
};

static Provider provider;

static void count_release() {
    provider.release_calls++;
}

static HDC give_dc() {
    provider.get_dc_calls++;
    return provider.dc_available ? provider.dc : nullptr;
}

// Forgets what the DC was set to, as a provider may, so that only a restore brings it back.
static void *give_buffer(int32_t *pitch) {
    provider.get_buffer_calls++;
    GdiFlush();
    SetROP2(provider.dc, R2_COPYPEN);
    SetBkMode(provider.dc, OPAQUE);
    SetBkColor(provider.dc, 0x123456);
    SetTextColor(provider.dc, 0x654321);
    SetTextAlign(provider.dc, TA_NOUPDATECP);
    SelectObject(provider.dc, GetStockObject(WHITE_BRUSH));
    *pitch = provider.pitch;
    return provider.buffer;
}

class DrawingTest : public testing::Test {
  protected:
    void SetUp() override {
        provider = Provider();
        BITMAPINFO info = dib_info(8, 8);
        provider.bitmap =
            CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &provider.bits, nullptr, 0);
        provider.dc = CreateCompatibleDC(nullptr);
        ASSERT_NE(provider.bitmap, nullptr);
        ASSERT_NE(provider.dc, nullptr);
        provider.first_bitmap = SelectObject(provider.dc, provider.bitmap);
        memset(provider.memory, 0xAA, sizeof provider.memory);
        provider.buffer = provider.memory + 64;
    }
    void TearDown() override {
        drawing_end();
        if (GetObjectType(provider.dc)) {
            SelectObject(provider.dc, provider.first_bitmap);
            DeleteDC(provider.dc);
        }
        DeleteObject(provider.bitmap);
        EXPECT_TRUE(runtime_heaps_valid());
    }
    DrawingOutput output_of_kind(int32_t kind) {
        DrawingOutput output = {};
        output.kind = kind;
        output.dc = provider.dc;
        output.release = count_release;
        return output;
    }
    // A buffer of 4 x 3 pixels in the guarded memory, rows `pitch` bytes apart.
    DrawingOutput buffer_output(int32_t format, int32_t pitch) {
        DrawingOutput output = output_of_kind(OUTPUT_BUFFER);
        output.buffer_width = 4;
        output.buffer_height = 3;
        output.pixel_format = format;
        output.get_dc = give_dc;
        output.get_buffer = give_buffer;
        provider.pitch = pitch;
        return output;
    }
    uint32_t dib_pixel(int x, int y) const {
        GdiFlush();
        return swap_red_blue(static_cast<uint32_t *>(provider.bits)[y * 8 + x]);
    }
};

TEST_F(DrawingTest, BeginPreparesTheDcAndEndPutsItBack) {
    HGDIOBJ first_brush = GetCurrentObject(provider.dc, OBJ_BRUSH);
    HGDIOBJ first_pen = GetCurrentObject(provider.dc, OBJ_PEN);
    SetTextColor(provider.dc, 0x00FF00);
    DrawingOutput output = output_of_kind(OUTPUT_DC_ALT);
    ASSERT_EQ(drawing_begin(&output), provider.dc);
    EXPECT_EQ(GetCurrentObject(provider.dc, OBJ_BRUSH), drawing_state.default_brush);
    EXPECT_EQ(GetCurrentObject(provider.dc, OBJ_PEN), drawing_state.default_pen);
    EXPECT_EQ(GetTextAlign(provider.dc) & TA_UPDATECP, UINT(TA_UPDATECP));
    EXPECT_EQ(GetTextColor(provider.dc), 0u);
    EXPECT_EQ(drawing_state.front_color, 0);
    EXPECT_EQ(drawing_state.back_color, 0xFFFFFF);
    EXPECT_EQ(drawing_state.mode, 0);
    EXPECT_EQ(drawing_state.dc_state, DC_STATE_USABLE);
    HBRUSH brush = drawing_state.brush;
    ASSERT_EQ(GetObjectType(brush), DWORD(OBJ_BRUSH));

    drawing_plot(3, 2, 0x0000FF);
    EXPECT_EQ(dib_pixel(3, 2), 0x0000FFu);
    drawing_plot(8, 0, 0x0000FF); // clipped by the DC
    drawing_end();
    EXPECT_EQ(GetCurrentObject(provider.dc, OBJ_BRUSH), first_brush);
    EXPECT_EQ(GetCurrentObject(provider.dc, OBJ_PEN), first_pen);
    EXPECT_EQ(GetObjectType(brush), 0u);
    EXPECT_EQ(drawing_state.brush, nullptr);
    EXPECT_EQ(provider.release_calls, 1);
    EXPECT_EQ(GetObjectType(provider.dc), DWORD(OBJ_MEMDC)); // the release routine owns it

    drawing_end(); // a second end does nothing
    EXPECT_EQ(provider.release_calls, 1);
}

TEST_F(DrawingTest, OtherKindsHaveTheirDcDeleted) {
    DrawingOutput output = output_of_kind(3);
    HDC dc = CreateCompatibleDC(nullptr);
    output.dc = dc;
    ASSERT_EQ(drawing_begin(&output), dc);
    drawing_end();
    EXPECT_EQ(GetObjectType(dc), 0u);
    EXPECT_EQ(provider.release_calls, 0);
}

TEST_F(DrawingTest, BeginWithNullEndsTheDrawingInProgress) {
    DrawingOutput output = output_of_kind(OUTPUT_DC);
    ASSERT_NE(drawing_begin(&output), nullptr);
    HBRUSH brush = drawing_state.brush;
    EXPECT_EQ(drawing_begin(nullptr), nullptr);
    EXPECT_EQ(provider.release_calls, 1);
    EXPECT_EQ(GetObjectType(brush), 0u);
    EXPECT_EQ(drawing_state.dc, nullptr);
}

TEST_F(DrawingTest, ATargetWithoutDcStartsNothing) {
    DrawingOutput output = output_of_kind(OUTPUT_DC);
    output.dc = nullptr;
    EXPECT_EQ(drawing_begin(&output), nullptr);
    EXPECT_EQ(drawing_state.brush, nullptr);
    drawing_plot(1, 1, 0x0000FF);
    drawing_mode(MODE_INVERT);
    drawing_end();
    EXPECT_EQ(provider.release_calls, 0);

    DrawingOutput window_output = output_of_kind(OUTPUT_WINDOW);
    window_output.window = reinterpret_cast<HWND>(intptr_t(0x7FFF1234)); // no such window
    EXPECT_EQ(drawing_begin(&window_output), nullptr);
    drawing_end();
    EXPECT_EQ(provider.release_calls, 0);
}

TEST_F(DrawingTest, WindowTargetsUseTheWindowsDc) {
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 10, 10, 40, 40, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    DrawingOutput output = {};
    output.kind = OUTPUT_WINDOW;
    output.window = window;
    HDC dc = drawing_begin(&output);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(WindowFromDC(dc), window);
    drawing_plot(5, 6, 0x0000FF);
    EXPECT_EQ(GetPixel(dc, 5, 6), 0x0000FFu);
    drawing_end();
    EXPECT_EQ(drawing_state.dc, nullptr);
    DestroyWindow(window);
}

TEST_F(DrawingTest, ModeSetsRasterBrushAndBackground) {
    DrawingOutput output = output_of_kind(OUTPUT_DC);
    ASSERT_NE(drawing_begin(&output), nullptr);
    drawing_mode(MODE_INVERT | MODE_TRANSPARENT | MODE_OUTLINED | 64);
    EXPECT_EQ(drawing_state.mode, MODE_INVERT | MODE_TRANSPARENT | MODE_OUTLINED | 64);
    EXPECT_EQ(GetROP2(provider.dc), R2_NOT);
    EXPECT_EQ(GetBkMode(provider.dc), TRANSPARENT);
    EXPECT_EQ(GetCurrentObject(provider.dc, OBJ_BRUSH), GetStockObject(NULL_BRUSH));
    drawing_mode(0);
    EXPECT_EQ(GetROP2(provider.dc), R2_COPYPEN);
    EXPECT_EQ(GetBkMode(provider.dc), OPAQUE);
    EXPECT_EQ(GetCurrentObject(provider.dc, OBJ_BRUSH), drawing_state.brush);
    drawing_end();
    drawing_mode(MODE_INVERT); // nothing is current
    EXPECT_EQ(GetROP2(provider.dc), R2_COPYPEN);
}

TEST_F(DrawingTest, BufferFormatsStoreTheirPackedValues) {
    struct Case {
        int32_t format;
        int32_t color;
        uint32_t stored;
        int32_t size;
    };
    const Case cases[] = {{PIXEL_FORMAT_XRGB8888, 0x00336699, 0x00996633, 4},
                          {PIXEL_FORMAT_RGB565, 0x00FFFFFF, 0xFFFF, 2},
                          {PIXEL_FORMAT_RGB555, 0x00FFFFFF, 0x7FFF, 2},
                          {PIXEL_FORMAT_R8, 0x00FFFF80, 0x80, 1},
                          {PIXEL_FORMAT_RGB565, 0x00123456, 0x51A2, 2},
                          {PIXEL_FORMAT_RGB555, 0x00123456, 0x28C2, 2}};
    for (const Case &c : cases) {
        memset(provider.memory, 0xAA, sizeof provider.memory);
        DrawingOutput output = buffer_output(c.format, 16);
        ASSERT_NE(drawing_begin(&output), nullptr);
        drawing_plot(2, 1, c.color);
        drawing_end();
        uint32_t stored = 0;
        memcpy(&stored, provider.buffer + 16 + 2 * c.size, size_t(c.size));
        EXPECT_EQ(stored, c.stored) << c.format;
        EXPECT_EQ(provider.buffer[16 + 3 * c.size], 0xAA) << c.format;
    }
}

TEST_F(DrawingTest, BufferAndDcAccessSwitchOnDemand) {
    DrawingOutput output = buffer_output(PIXEL_FORMAT_R8, 4);
    ASSERT_NE(drawing_begin(&output), nullptr);
    drawing_plot(0, 0, 0x11);
    EXPECT_EQ(drawing_state.dc_state, DC_STATE_BUFFER);
    drawing_mode(MODE_INVERT | MODE_TRANSPARENT);
    EXPECT_EQ(drawing_state.dc_state, DC_STATE_USABLE);
    drawing_plot(1, 0, 0x22);
    EXPECT_EQ(provider.get_buffer_calls, 2);
    EXPECT_EQ(provider.get_dc_calls, 1);
    EXPECT_EQ(provider.buffer[0], 0x11);
    EXPECT_EQ(provider.buffer[1], 0x22);

    // The restore puts back what the provider's DC forgot while the buffer was in use.
    drawing_restore_dc();
    EXPECT_EQ(provider.get_dc_calls, 2);
    EXPECT_EQ(GetROP2(provider.dc), R2_NOT);
    EXPECT_EQ(GetBkMode(provider.dc), TRANSPARENT);
    EXPECT_EQ(GetBkColor(provider.dc), 0xFFFFFFu);
    EXPECT_EQ(GetTextColor(provider.dc), 0u);
    EXPECT_EQ(GetTextAlign(provider.dc) & TA_UPDATECP, UINT(TA_UPDATECP));
    EXPECT_EQ(GetCurrentObject(provider.dc, OBJ_BRUSH), drawing_state.brush);
    drawing_restore_dc(); // the DC is in use already
    EXPECT_EQ(provider.get_dc_calls, 2);
    drawing_end();
    EXPECT_EQ(provider.release_calls, 1);
}

TEST_F(DrawingTest, RestoreWithoutModeSelectsTheDrawingBrush) {
    DrawingOutput output = buffer_output(PIXEL_FORMAT_R8, 4);
    ASSERT_NE(drawing_begin(&output), nullptr);
    drawing_plot(0, 0, 1);
    drawing_restore_dc();
    EXPECT_EQ(GetCurrentObject(provider.dc, OBJ_BRUSH), drawing_state.brush);
    EXPECT_EQ(GetROP2(provider.dc), R2_COPYPEN);
}

TEST_F(DrawingTest, OtherBufferFormatsPlotThroughTheDc) {
    DrawingOutput output = buffer_output(9, 16);
    ASSERT_NE(drawing_begin(&output), nullptr);
    drawing_plot(4, 5, 0x0000FF);
    EXPECT_EQ(provider.get_buffer_calls, 0);
    EXPECT_EQ(provider.get_dc_calls, 0);
    EXPECT_EQ(dib_pixel(4, 5), 0x0000FFu);
    drawing_end();
    EXPECT_EQ(provider.release_calls, 1);
    EXPECT_EQ(provider.memory[64], 0xAA);
}

TEST_F(DrawingTest, BufferPlotsOutsideTheBufferWriteNothing) {
    // Rows of 5 pixels' room for a target 4 pixels wide: x = 4 fits the row, not the target.
    DrawingOutput output = buffer_output(PIXEL_FORMAT_XRGB8888, 20);
    ASSERT_NE(drawing_begin(&output), nullptr);
    const POINT outside[] = {{-1, 0},        {4, 0},         {4, 2},         {0, -1},
                             {0, 3},         {INT32_MAX, 0}, {0, INT32_MAX}, {INT32_MIN, 0},
                             {0, INT32_MIN}, {-1, -1}};
    for (POINT p : outside)
        drawing_plot(p.x, p.y, 0x00FFFFFF);
    for (uint8_t byte : provider.memory)
        ASSERT_EQ(byte, 0xAA);
    drawing_plot(3, 2, 0x00FFFFFF); // the last pixel is inside
    EXPECT_EQ(provider.buffer[2 * 20 + 12], 0xFF);
    EXPECT_EQ(provider.buffer[2 * 20 + 16], 0xAA);
    drawing_end();
}

TEST_F(DrawingTest, BufferRowsFollowThePitch) {
    // Rows shorter than the buffer's width: the pixels that do not fit are skipped.
    DrawingOutput narrow = buffer_output(PIXEL_FORMAT_XRGB8888, 8);
    ASSERT_NE(drawing_begin(&narrow), nullptr);
    drawing_plot(2, 0, 0x00FFFFFF);
    drawing_plot(1, 2, 0x00FFFFFF);
    for (int i = 0; i < 64 + 20; i++)
        ASSERT_EQ(provider.memory[i], 0xAA) << i;
    EXPECT_EQ(provider.buffer[2 * 8 + 4], 0xFF);
    drawing_end();

    // Bottom-up rows: row 0 is the highest address and rows go downward.
    memset(provider.memory, 0xAA, sizeof provider.memory);
    provider.buffer = provider.memory + 128;
    DrawingOutput upward = buffer_output(PIXEL_FORMAT_R8, -4);
    ASSERT_NE(drawing_begin(&upward), nullptr);
    drawing_plot(3, 2, 0x42);
    EXPECT_EQ(provider.memory[128 - 8 + 3], 0x42);
    drawing_end();
}

TEST_F(DrawingTest, AProviderWithoutDcKeepsTheBufferInUse) {
    DrawingOutput output = buffer_output(PIXEL_FORMAT_R8, 4);
    ASSERT_NE(drawing_begin(&output), nullptr);
    HBRUSH brush = drawing_state.brush;
    drawing_plot(0, 0, 1);
    provider.dc_available = false;
    drawing_mode(MODE_INVERT);
    EXPECT_EQ(drawing_state.dc_state, DC_STATE_BUFFER);
    EXPECT_EQ(drawing_state.mode, MODE_INVERT);
    EXPECT_EQ(drawing_state.dc, provider.dc);
    drawing_plot(1, 0, 2);
    EXPECT_EQ(provider.buffer[1], 2);
    EXPECT_EQ(provider.get_buffer_calls, 1);

    provider.dc_available = true; // the stored mode reaches the DC once one is given
    drawing_restore_dc();
    EXPECT_EQ(GetROP2(provider.dc), R2_NOT);
    drawing_end();
    EXPECT_EQ(provider.release_calls, 1);
    EXPECT_EQ(GetObjectType(brush), 0u);
}

TEST_F(DrawingTest, ABufferTargetWithoutRoutinesUsesTheGivenBuffer) {
    DrawingOutput output = buffer_output(PIXEL_FORMAT_R8, 4);
    output.get_dc = nullptr;
    output.get_buffer = nullptr;
    output.buffer = provider.buffer;
    output.pitch = 4;
    output.release = nullptr;
    ASSERT_NE(drawing_begin(&output), nullptr);
    drawing_plot(1, 1, 0x33);
    drawing_mode(MODE_OUTLINED);
    drawing_plot(2, 1, 0x44);
    EXPECT_EQ(provider.buffer[5], 0x33);
    EXPECT_EQ(provider.buffer[6], 0x44);
    drawing_end();
    EXPECT_EQ(drawing_state.dc, nullptr);

    output.buffer = nullptr; // no buffer at all: plots go nowhere
    ASSERT_NE(drawing_begin(&output), nullptr);
    drawing_plot(1, 1, 0x55);
    drawing_end();
    EXPECT_EQ(provider.buffer[5], 0x33);
}

#include "runtime/image/image_private.h"
#include "tests/support/pixels.h"
#include "tests/support/test_support.h"
#include <string.h>
#include <tuple>
#include <vector>

// A test DC onto a small DIB section, and counters for the routines a target calls.
struct Provider {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ first_bitmap = nullptr;
    uint32_t *bits = nullptr;
    int release_calls = 0, get_dc_calls = 0, get_buffer_calls = 0;
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
        provider.bitmap = test_bitmap(8, 8, 0, &provider.bits);
        provider.dc = CreateCompatibleDC(nullptr);
        ASSERT_TRUE(provider.bitmap && provider.dc);
        provider.first_bitmap = SelectObject(provider.dc, provider.bitmap);
        memset(provider.memory, 0xAA, sizeof provider.memory);
        provider.buffer = provider.memory + 64;
    }
    void TearDown() override {
        drawing_end();
        SelectObject(provider.dc, provider.first_bitmap);
        DeleteDC(provider.dc);
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
        return swap_red_blue(provider.bits[y * 8 + x]);
    }
    static std::pair<HGDIOBJ, HGDIOBJ> brush_and_pen() {
        return {GetCurrentObject(provider.dc, OBJ_BRUSH), GetCurrentObject(provider.dc, OBJ_PEN)};
    }
    // How often the target's routines ran: release, get_dc and get_buffer.
    static std::tuple<int, int, int> calls() {
        return {provider.release_calls, provider.get_dc_calls, provider.get_buffer_calls};
    }
};

TEST_F(DrawingTest, BeginPreparesTheDcAndEndPutsItBack) {
    auto first = brush_and_pen();
    SetTextColor(provider.dc, 0x00FF00);
    DrawingOutput output = output_of_kind(OUTPUT_DC_ALT);
    ASSERT_EQ(drawing_begin(&output), provider.dc);
    EXPECT_EQ(brush_and_pen(), std::make_pair(HGDIOBJ(drawing_state.default_brush),
                                              HGDIOBJ(drawing_state.default_pen)));
    EXPECT_EQ(GetTextAlign(provider.dc) & TA_UPDATECP, UINT(TA_UPDATECP));
    EXPECT_EQ(GetTextColor(provider.dc), 0u);
    EXPECT_EQ(std::make_tuple(drawing_state.front_color, drawing_state.back_color,
                              drawing_state.mode, drawing_state.dc_state),
              std::make_tuple(0, 0xFFFFFF, 0, DC_STATE_USABLE));
    HBRUSH brush = drawing_state.brush;
    ASSERT_EQ(GetObjectType(brush), DWORD(OBJ_BRUSH));
    drawing_plot(3, 2, 0x0000FF);
    EXPECT_EQ(dib_pixel(3, 2), 0x0000FFu);
    drawing_plot(8, 0, 0x0000FF); // clipped by the DC
    drawing_end();
    EXPECT_EQ(brush_and_pen(), first);
    EXPECT_EQ(GetObjectType(brush), 0u);
    EXPECT_EQ(drawing_state.brush, nullptr);
    EXPECT_EQ(provider.release_calls, 1);
    EXPECT_EQ(GetObjectType(provider.dc), DWORD(OBJ_MEMDC)); // the release routine owns it
    drawing_end();                                           // a second end does nothing
    EXPECT_EQ(provider.release_calls, 1);
}

// A null output ends the drawing in progress; a target without a DC starts nothing.
TEST_F(DrawingTest, NoOutputOrATargetWithoutDcStartsNothing) {
    DrawingOutput output = output_of_kind(OUTPUT_DC);
    ASSERT_NE(drawing_begin(&output), nullptr);
    HBRUSH brush = drawing_state.brush;
    EXPECT_EQ(drawing_begin(nullptr), nullptr);
    EXPECT_EQ(provider.release_calls, 1);
    EXPECT_EQ(GetObjectType(brush), 0u);
    EXPECT_EQ(drawing_state.dc, nullptr);

    output.dc = nullptr;
    EXPECT_EQ(drawing_begin(&output), nullptr);
    EXPECT_EQ(drawing_state.brush, nullptr);
    drawing_plot(1, 1, 0x0000FF);
    drawing_mode(MODE_INVERT);
    drawing_end();
    EXPECT_EQ(provider.release_calls, 1);

    DrawingOutput window_output = output_of_kind(OUTPUT_WINDOW);
    window_output.window = reinterpret_cast<HWND>(intptr_t(0x7FFF1234)); // no such window
    EXPECT_EQ(drawing_begin(&window_output), nullptr);
    drawing_end();
    EXPECT_EQ(provider.release_calls, 1);
}

// A window target draws on the window's own DC; a kind not listed has its DC deleted.
TEST_F(DrawingTest, WindowTargetsUseTheWindowsDcAndOtherKindsHaveTheirsDeleted) {
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

    output = output_of_kind(3);
    output.dc = CreateCompatibleDC(nullptr);
    ASSERT_EQ(drawing_begin(&output), output.dc);
    drawing_end();
    EXPECT_EQ(GetObjectType(output.dc), 0u);
    EXPECT_EQ(provider.release_calls, 0);
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

TEST_F(DrawingTest, BufferAndDcAccessSwitchOnDemand) {
    DrawingOutput output = buffer_output(PIXEL_FORMAT_R8, 4);
    ASSERT_NE(drawing_begin(&output), nullptr);
    drawing_plot(0, 0, 0x11);
    EXPECT_EQ(drawing_state.dc_state, DC_STATE_BUFFER);
    drawing_mode(MODE_INVERT | MODE_TRANSPARENT);
    EXPECT_EQ(drawing_state.dc_state, DC_STATE_USABLE);
    drawing_plot(1, 0, 0x22);
    EXPECT_EQ(calls(), std::make_tuple(0, 1, 2));
    EXPECT_EQ(provider.buffer[0], 0x11);
    EXPECT_EQ(provider.buffer[1], 0x22);

    // The restore puts back what the DC forgot, the state's objects too; the end deletes its own.
    HPEN owned = CreatePen(PS_SOLID, 3, 0);
    HFONT selected = CreateFontA(12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "Arial");
    drawing_state.owned_object = owned;
    drawing_state.selected_object = selected;
    drawing_restore_dc();
    EXPECT_EQ(calls(), std::make_tuple(0, 2, 2));
    EXPECT_EQ(GetCurrentObject(provider.dc, OBJ_PEN), owned);
    EXPECT_EQ(GetCurrentObject(provider.dc, OBJ_FONT), selected);
    EXPECT_EQ(GetROP2(provider.dc), R2_NOT);
    EXPECT_EQ(GetBkMode(provider.dc), TRANSPARENT);
    EXPECT_EQ(GetBkColor(provider.dc), 0xFFFFFFu);
    EXPECT_EQ(GetTextColor(provider.dc), 0u);
    EXPECT_EQ(GetTextAlign(provider.dc) & TA_UPDATECP, UINT(TA_UPDATECP));
    EXPECT_EQ(GetCurrentObject(provider.dc, OBJ_BRUSH), drawing_state.brush);
    drawing_restore_dc(); // the DC is in use already
    drawing_end();
    EXPECT_EQ(calls(), std::make_tuple(1, 2, 2));
    EXPECT_EQ(GetObjectType(owned), 0u);
    EXPECT_EQ(drawing_state.owned_object, nullptr);
    EXPECT_EQ(GetObjectType(selected), DWORD(OBJ_FONT));
    SelectObject(provider.dc, GetStockObject(SYSTEM_FONT));
    DeleteObject(selected);
}

// Plots into the 4 x 3 buffer whose pixel (0, 0) lies `base` bytes into the guarded memory
// change only the `size` bytes `offset` bytes from (0, 0), fetching the buffer once; format 9
// is no buffer format, so its plot goes through the DC into the 8 x 8 bitmap.
TEST_F(DrawingTest, BufferPlotsStoreTheirPackedValueAndNothingElse) {
    const int32_t white = 0x00FFFFFF;
    // Rows of 5 pixels' room for a target 4 pixels wide: of these only the last lies inside.
    const std::vector<POINT> outside_but_last = {
        {-1, 0},        {4, 0},         {4, 2},         {0, -1},  {0, 3}, {INT32_MAX, 0},
        {0, INT32_MAX}, {INT32_MIN, 0}, {0, INT32_MIN}, {-1, -1}, {3, 2}};
    const struct {
        int32_t format, pitch, base, color;
        std::vector<POINT> plots;
        int32_t offset;
        uint32_t stored;
        size_t size;
    } cases[] = {
        {PIXEL_FORMAT_XRGB8888, 16, 64, 0x00336699, {{2, 1}}, 24, 0x00996633, 4},
        {PIXEL_FORMAT_RGB565, 16, 64, white, {{2, 1}}, 20, 0xFFFF, 2},
        {PIXEL_FORMAT_RGB555, 16, 64, white, {{2, 1}}, 20, 0x7FFF, 2},
        {PIXEL_FORMAT_R8, 16, 64, 0x00FFFF80, {{2, 1}}, 18, 0x80, 1},
        {PIXEL_FORMAT_RGB565, 16, 64, 0x00123456, {{2, 1}}, 20, 0x51A2, 2},
        {PIXEL_FORMAT_RGB555, 16, 64, 0x00123456, {{2, 1}}, 20, 0x28C2, 2},
        {PIXEL_FORMAT_XRGB8888, 20, 64, white, outside_but_last, 52, 0x00FFFFFF, 4},
        // Rows shorter than the buffer's width: the pixels that do not fit are skipped.
        {PIXEL_FORMAT_XRGB8888, 8, 64, white, {{2, 0}, {1, 2}}, 20, 0x00FFFFFF, 4},
        // Bottom-up rows: row 0 is the highest address and rows go downward.
        {PIXEL_FORMAT_R8, -4, 128, 0x42, {{3, 2}}, -5, 0x42, 1},
        {9, 16, 64, 0x0000FF, {{4, 5}}, 0, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        provider.release_calls = provider.get_dc_calls = provider.get_buffer_calls = 0;
        memset(provider.memory, 0xAA, sizeof provider.memory);
        provider.buffer = provider.memory + c.base;
        DrawingOutput output = buffer_output(c.format, c.pitch);
        ASSERT_NE(drawing_begin(&output), nullptr);
        for (POINT p : c.plots)
            drawing_plot(p.x, p.y, c.color);
        drawing_end();
        uint8_t expected[sizeof provider.memory];
        memset(expected, 0xAA, sizeof expected);
        memcpy(expected + c.base + c.offset, &c.stored, c.size);
        for (size_t i = 0; i < sizeof expected; i++)
            ASSERT_EQ(provider.memory[i], expected[i]) << "byte " << i;
        EXPECT_EQ(calls(), std::make_tuple(1, 0, c.size ? 1 : 0));
        EXPECT_EQ(dib_pixel(4, 5), c.size ? 0u : 0x0000FFu);
    }
}

// A restore without a mode selects the drawing brush; a provider without a DC keeps the buffer
// in use, and the mode set meanwhile reaches the DC once one is given.
TEST_F(DrawingTest, AProviderWithoutDcKeepsTheBufferInUse) {
    DrawingOutput output = buffer_output(PIXEL_FORMAT_R8, 4);
    ASSERT_NE(drawing_begin(&output), nullptr);
    HBRUSH brush = drawing_state.brush;
    drawing_plot(0, 0, 1);
    drawing_restore_dc();
    EXPECT_EQ(GetCurrentObject(provider.dc, OBJ_BRUSH), drawing_state.brush);
    EXPECT_EQ(GetROP2(provider.dc), R2_COPYPEN);
    drawing_plot(0, 0, 1);
    provider.dc_available = false;
    drawing_mode(MODE_INVERT);
    EXPECT_EQ(drawing_state.dc_state, DC_STATE_BUFFER);
    EXPECT_EQ(drawing_state.mode, MODE_INVERT);
    EXPECT_EQ(drawing_state.dc, provider.dc);
    drawing_plot(1, 0, 2);
    EXPECT_EQ(provider.buffer[1], 2);
    EXPECT_EQ(provider.get_buffer_calls, 2);
    provider.dc_available = true;
    drawing_restore_dc();
    EXPECT_EQ(GetROP2(provider.dc), R2_NOT);
    drawing_end();
    EXPECT_EQ(provider.release_calls, 1);
    EXPECT_EQ(GetObjectType(brush), 0u);
}

TEST_F(DrawingTest, ABufferTargetWithoutRoutinesUsesTheGivenBuffer) {
    // No window, release, get_dc or get_buffer; the buffer given, 4 x 3 pixels in rows of 4.
    DrawingOutput output = {
        OUTPUT_BUFFER,   nullptr, provider.dc, nullptr, provider.buffer, 4, 4, 3, 0,
        PIXEL_FORMAT_R8, nullptr, nullptr};
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

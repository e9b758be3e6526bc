#include "app/terrain.h"
#include "runtime/image/image_private.h"
#include "tests/app/terrain_test_util.h"
#include "tests/support/pixels.h"

struct Band {
    int32_t first, last;
    uint32_t red, green, blue;
};

static const Band bands[] = {
    {0, 15, 0, 0, 100},        {16, 31, 0, 0, 120},       {32, 63, 0, 0, 140},
    {64, 70, 64, 95, 134},     {71, 95, 128, 190, 128},   {96, 127, 140, 210, 140},
    {128, 159, 160, 210, 140}, {160, 180, 180, 210, 140}, {181, 199, 190, 220, 150},
    {200, 219, 185, 185, 130}, {220, 229, 182, 177, 130}, {230, 239, 180, 170, 130},
    {240, 244, 215, 215, 215}, {245, 249, 230, 230, 230}, {250, 253, 250, 250, 250},
    {254, 255, 255, 255, 255},
};

static uint32_t rgb(uint32_t red, uint32_t green, uint32_t blue) {
    return red | green << 8 | blue << 16;
}

static uint32_t expected_color(int32_t height) {
    for (const Band &band : bands)
        if (height >= band.first && height <= band.last)
            return rgb(band.red, band.green, band.blue);
    ADD_FAILURE() << "no band holds " << height;
    return 0;
}

class TerrainRenderTest : public testing::Test {
  protected:
    HeightGrid grid = {};
    HANDLE bitmap = nullptr;
    void SetUp() override {
        ASSERT_TRUE(grid_alloc(grid));
        bitmap = reinterpret_cast<HANDLE>(image_create(0, 513, 513));
        ASSERT_NE(bitmap, nullptr);
    }
    void TearDown() override {
        image_lib_end();
        array_free(grid.data);
        EXPECT_TRUE(runtime_heaps_valid());
    }
    Pixels picture() const {
        Pixels pixels = read_pixels(bitmap);
        EXPECT_EQ(pixels.width, 513);
        EXPECT_EQ(pixels.height, 513);
        return pixels;
    }
};

static uint32_t grey(int32_t height) {
    return rgb(uint32_t(height), uint32_t(height), uint32_t(height));
}

// Height h sits in cell (h + 1, 1 + h % 2): every height and so every band edge at once. Cell
// (5, 9), not (9, 5), and the last cell shown, (512, 512), are white; heights written past
// grid_set, out of 0..255, take the colour of the nearest end; every other cell is 0. Each cell
// shows at its own pixel, pixel row and column 0 stay black, and row and column 513 never show.
TEST_F(TerrainRenderTest, EveryCellTakesItsColourAtItsPixelInBothViews) {
    for (int32_t h = 0; h < 256; h++)
        grid_set(grid, h + 1, 1 + h % 2, h);
    grid_set(grid, 5, 9, 255);
    grid_set(grid, 512, 512, 255);
    grid.data[10 * grid.entries[0] + 10] = -40;
    grid.data[11 * grid.entries[0] + 10] = 1000;
    const struct {
        int32_t (*render)(const HeightGrid &, intptr_t);
        uint32_t (*colour)(int32_t);
    } views[] = {{terrain_render_color, expected_color}, {terrain_render_gray, grey}};
    int32_t edge_height = 255;
    for (const auto &view : views) {
        EXPECT_EQ(view.render(grid, 0), 0);
        Pixels pixels = picture();
        ASSERT_FALSE(pixels.data.empty());
        for (int32_t y = 0; y <= 512; y++) {
            for (int32_t x = 0; x <= 512; x++) {
                int32_t height = held_height(grid.data[x * grid.entries[0] + y]);
                ASSERT_EQ(pixels.at(x, y), x && y ? view.colour(height) : 0u) << x << "," << y;
            }
        }
        for (int32_t i = 1; i <= 513; i++) {
            grid_set(grid, 513, i, edge_height);
            grid_set(grid, i, 513, edge_height);
        }
        view.render(grid, 0);
        EXPECT_TRUE(picture().data == pixels.data);
        edge_height = 0;
    }
}

TEST_F(TerrainRenderTest, MissingImagesAndGridsDrawNothing) {
    for (int32_t h = 0; h < 256; h++)
        grid_set(grid, h + 1, 3, h);
    terrain_render_color(grid, 0);
    Pixels before = picture();
    EXPECT_EQ(terrain_render_color(grid, 7), 0);
    EXPECT_EQ(terrain_render_gray(grid, 7), 0);
    EXPECT_EQ(drawing_state.dc, nullptr);
    HeightGrid missing = {};
    EXPECT_EQ(terrain_render_gray(missing, 0), 0);
    EXPECT_EQ(terrain_render_color(missing, 0), 0);
    EXPECT_TRUE(picture().data == before.data);
    EXPECT_EQ(image_library().output_block->output_dc, nullptr);
}

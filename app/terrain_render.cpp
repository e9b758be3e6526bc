#include "app/terrain.h"
#include "runtime/core/numeric.h"
#include "runtime/image/drawing.h"
#include "runtime/image/image.h"

struct ColorBand {
    int32_t last; // highest height of the band; the band starts after the previous one
    int32_t red, green, blue;
};

static const ColorBand color_bands[] = {
    {15, 0, 0, 100},      {31, 0, 0, 120},      {63, 0, 0, 140},      {70, 64, 95, 134},
    {95, 128, 190, 128},  {127, 140, 210, 140}, {159, 160, 210, 140}, {180, 180, 210, 140},
    {199, 190, 220, 150}, {219, 185, 185, 130}, {229, 182, 177, 130}, {239, 180, 170, 130},
    {244, 215, 215, 215}, {249, 230, 230, 230}, {253, 250, 250, 250}, {255, 255, 255, 255},
};

// The first band, in the table's order, whose range holds the height; the last band ends at
// HEIGHT_MAX, so every height has one.
static int32_t band_color(int32_t height) {
    const ColorBand *band = color_bands;
    while (height > band->last)
        band++;
    return color_rgb(band->red, band->green, band->blue);
}

struct ColorTable {
    int32_t colors[HEIGHT_LEVELS];
};

static ColorTable make_color_table() {
    ColorTable table = {};
    for (int32_t height = 0; height < HEIGHT_LEVELS; height++)
        table.colors[height] = band_color(height);
    return table;
}

// The band search runs once per height, when the program starts, instead of once per pixel.
static const ColorTable color_table = make_color_table();

// Stored heights are 0..HEIGHT_MAX; anything else is held to the nearest end of that range.
static inline int32_t height_level(int32_t height) {
    if (height < 0) return 0;
    if (height > HEIGHT_MAX) return HEIGHT_MAX;
    return height;
}

template <typename ColorOf>
static void render(const HeightGrid &grid, intptr_t image, ColorOf color_of) {
    if (!grid.data) return;
    if (!drawing_begin(image_output(image))) return;
    // A copy of the descriptor: every plot calls the platform, which the compiler must assume
    // may change the caller's, so its fields would be read again for every cell.
    const HeightGrid cells = grid;
    for (int32_t y = 1; y <= GRID_LAST; y++)
        for (int32_t x = 1; x <= GRID_LAST; x++)
            drawing_plot(x, y, color_of(height_level(grid_get(cells, x, y))));
    drawing_end();
}

int32_t terrain_render_color(const HeightGrid &grid, intptr_t image) {
    render(grid, image, [](int32_t level) { return color_table.colors[level]; });
    return 0;
}

int32_t terrain_render_gray(const HeightGrid &grid, intptr_t image) {
    render(grid, image, [](int32_t level) { return color_rgb(level, level, level); });
    return 0;
}

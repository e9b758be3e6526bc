#pragma once
// Terrain generation, filters and rendering on the height grid.
#include "app/grid.h"

int32_t terrain_generate(HeightGrid &grid);
int32_t terrain_subdivide(HeightGrid &grid, float x, float y, float w, float h, float c1, float c2,
                          float c3, float c4);

int32_t terrain_pull_to_level(HeightGrid &grid, int32_t level, float fraction);
int32_t terrain_jitter(HeightGrid &grid, int32_t chance, int32_t amount);
int32_t terrain_smooth(HeightGrid &grid);
int32_t terrain_invert(HeightGrid &grid);

// Draw cell (x, y) at pixel (x, y) of the image with that number.
int32_t terrain_render_color(const HeightGrid &grid, intptr_t image);
int32_t terrain_render_gray(const HeightGrid &grid, intptr_t image);

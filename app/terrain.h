#pragma once
// Terrain generation, filters and rendering on the height grid.
#include "app/grid.h"

// Every operation answers 0 and leaves a grid that was never allocated alone.

// Fills the whole grid with a new random terrain, from four random corners 0 or 1.
int32_t terrain_generate(HeightGrid &grid);
// Fills the rectangle at (x, y) of size w x h by midpoint subdivision from its corner heights
// c1..c4 (0..1, clockwise from the top-left), one random displacement per split.
int32_t terrain_subdivide(HeightGrid &grid, float x, float y, float w, float h, float c1, float c2,
                          float c3, float c4);

// Moves every height the fraction (held to 0..1) of its distance toward the level.
int32_t terrain_pull_to_level(HeightGrid &grid, int32_t level, float fraction);
// Raises each cell with chance / 256 by a random 0..amount, blended with its height.
int32_t terrain_jitter(HeightGrid &grid, int32_t chance, int32_t amount);
// Replaces the interior cells by the 5 x 5 mean around them, in place, in scan order.
int32_t terrain_smooth(HeightGrid &grid);
// Turns every height h into HEIGHT_MAX - h.
int32_t terrain_invert(HeightGrid &grid);

// Draw cell (x, y) at pixel (x, y) of the image with that number, in the colours of the
// height bands or in grey; nothing when the image cannot be drawn into.
int32_t terrain_render_color(const HeightGrid &grid, intptr_t image);
int32_t terrain_render_gray(const HeightGrid &grid, intptr_t image);

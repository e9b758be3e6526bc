#pragma once
// The height grid: 514 x 514 int32 heights in a runtime array, usable cells 1..513.
#include <stddef.h>
#include <stdint.h>

const int32_t GRID_SIZE = 514;                // elements per dimension, indices 0..513
const int32_t GRID_LAST = 513;                // largest usable index on each axis
const int32_t GRID_TYPE_CODE = 21;            // array type code of 32-bit integers
const int32_t HEIGHT_MAX = 255;               // heights are 0..HEIGHT_MAX
const int32_t HEIGHT_LEVELS = HEIGHT_MAX + 1; // how many heights there are

// An array descriptor of two dimensions. Element (x, y) is data[x * entries[0] + y].
struct HeightGrid {
    int32_t *data;
    int32_t entries[2];
};

// Allocates the zero-filled grid, freeing an earlier one first. Returns false when the
// heap cannot supply it (data is then null).
bool grid_alloc(HeightGrid &grid);

// x * entries[0] + y for x and y in 1..513, worked out unsigned: it cannot overflow there.
inline size_t grid_index(const HeightGrid &grid, int32_t x, int32_t y) {
    return size_t(x) * size_t(grid.entries[0]) + size_t(y);
}

// True for an index of a usable cell, 1..GRID_LAST: one unsigned comparison, in which an index
// below 1 wraps to a large number.
inline bool grid_is_cell(int32_t index) {
    return uint32_t(index) - 1u < uint32_t(GRID_LAST);
}

// The height of cell (x, y); 0 outside the usable cells.
inline int32_t grid_get(const HeightGrid &grid, int32_t x, int32_t y) {
    if (!(grid_is_cell(x) & grid_is_cell(y))) return 0;
    return grid.data[grid_index(grid, x, y)];
}

// Stores the value held to 0..HEIGHT_MAX in cell (x, y); nothing outside the usable cells.
// Answers 0.
inline int32_t grid_set(HeightGrid &grid, int32_t x, int32_t y, int32_t value) {
    if (value < 0) value = 0;
    if (value > HEIGHT_MAX) value = HEIGHT_MAX;
    if (grid_is_cell(x) & grid_is_cell(y)) grid.data[grid_index(grid, x, y)] = value;
    return 0;
}

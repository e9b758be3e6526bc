#include "app/grid.h"
#include "runtime/core/array.h"

bool grid_alloc(HeightGrid &grid) {
    grid.entries[0] = GRID_SIZE;
    grid.entries[1] = GRID_SIZE;
    array_free(grid.data);
    return array_alloc(sizeof(int32_t), 2, 0, &grid, GRID_TYPE_CODE) != nullptr;
}

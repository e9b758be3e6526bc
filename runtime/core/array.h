#pragma once
// Runtime arrays: one zero-filled heap block, a header in front of the elements.
#include <stdint.h>

// Allocates a zero-filled array of dim_count (2 or more) dimensions whose sizes the
// descriptor's entries hold, and stores its data pointer in the descriptor; null (the
// descriptor's data null too) for sizes that cannot be allocated.
void *array_alloc(int32_t element_size, int32_t dim_count, int32_t aux_word, void *descriptor,
                  int32_t type_code);
// Frees an array; null does nothing.
void array_free(void *data);
// The largest index of a dimension (1-based); 0 for null or a dimension the array lacks.
int32_t array_dim_size(const void *data, int32_t dimension);

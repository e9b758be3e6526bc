#pragma once
// Runtime arrays: one zero-filled heap block, a header in front of the elements.
#include <stdint.h>

// Held in the caller's storage: the data pointer, then one int32 entry per dimension.
// Before allocation each entry holds its dimension's element count; allocation turns
// all but the last into index multipliers.
struct ArrayDescriptor {
    void *data;
    // int32_t entries[dimension count] follow
};

inline int32_t *array_descriptor_entries(void *descriptor) {
    return reinterpret_cast<int32_t *>(static_cast<char *>(descriptor) + sizeof(void *));
}

struct ArrayHeader {
    int32_t dim_count;
    int32_t element_size;
    int32_t aux_word;
    void *descriptor;
    int32_t element_count;
    int32_t type_code;
};

void *array_alloc(int32_t element_size, int32_t dim_count, int32_t aux_word, void *descriptor,
                  int32_t type_code);
void *array_alloc_block(int32_t element_count, int32_t element_size, int32_t aux_word,
                        void *descriptor, int32_t type_code);
void array_free(void *data);
int32_t array_dim_size(const void *data, int32_t dimension);

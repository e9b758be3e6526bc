#include "runtime/core/core_private.h"
#include <string.h>

static void set_descriptor_data(void *descriptor, void *data) {
    memcpy(descriptor, &data, sizeof data);
}

static ArrayHeader *array_header(const void *data) {
    return reinterpret_cast<ArrayHeader *>(const_cast<char *>(static_cast<const char *>(data)) -
                                           sizeof(ArrayHeader));
}

void *array_alloc_block(int32_t element_count, int32_t element_size, int32_t aux_word,
                        void *descriptor, int32_t type_code) {
    if (!descriptor) return nullptr;
    // Sizes that are negative or do not fit the address space are refused like a full heap.
    uint64_t bytes =
        uint64_t(int64_t(element_count) + 1) * uint64_t(element_size) + sizeof(ArrayHeader);
    void *block = nullptr;
    if (element_count >= 0 && element_size > 0 && bytes <= uint64_t(INTPTR_MAX))
        block = heap_alloc(app_heap(), HEAP_ZERO_MEMORY, SIZE_T(bytes));
    if (!block) {
        set_descriptor_data(descriptor, nullptr);
        return nullptr;
    }
    ArrayHeader *header = static_cast<ArrayHeader *>(block);
    header->dim_count = 1;
    header->element_size = element_size;
    header->aux_word = aux_word;
    header->descriptor = descriptor;
    header->element_count = element_count;
    header->type_code = type_code;
    void *data = header + 1;
    set_descriptor_data(descriptor, data);
    return data;
}

void *array_alloc(int32_t element_size, int32_t dim_count, int32_t aux_word, void *descriptor,
                  int32_t type_code) {
    if (!descriptor) return nullptr;
    int32_t *entries = array_descriptor_entries(descriptor);
    // Sizes whose product would not fit an int32 are refused before anything is rewritten.
    bool valid = dim_count >= 2;
    int64_t total = 1;
    for (int32_t k = 0; valid && k < dim_count; k++) {
        total *= entries[k];
        valid = entries[k] > 0 && total <= INT32_MAX;
    }
    if (!valid) {
        set_descriptor_data(descriptor, nullptr);
        return nullptr;
    }
    // Entry k becomes the product of the sizes after it, the multiplier of index k.
    int32_t product = entries[dim_count - 1];
    for (int32_t k = dim_count - 2; k >= 0; k--) {
        int32_t size = entries[k];
        entries[k] = product;
        product *= size;
    }
    void *data = array_alloc_block(product, element_size, aux_word, descriptor, type_code);
    if (data) array_header(data)->dim_count = dim_count;
    return data;
}

void array_free(void *data) {
    if (data) heap_free(app_heap(), array_header(data));
}

int32_t array_dim_size(const void *data, int32_t dimension) {
    if (!data) return 0;
    const ArrayHeader *header = array_header(data);
    int32_t n = header->dim_count;
    if (n == 1) return header->element_count - 1;
    if (dimension < 1 || dimension > n) return 0;
    const int32_t *e = array_descriptor_entries(header->descriptor);
    if (dimension == 1) return header->element_count / e[0] - 1;
    if (dimension < n) return e[dimension - 2] / e[dimension - 1] - 1;
    return e[n - 1] - 1;
}

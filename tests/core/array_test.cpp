#include "runtime/core/core_private.h"
#include "tests/support/test_support.h"
#include <vector>

struct Descriptor3 {
    int32_t *data;
    int32_t entries[3];
};

static const ArrayHeader *header_of(const void *data) {
    return static_cast<const ArrayHeader *>(data) - 1;
}

int32_t *const NOT_NULL = reinterpret_cast<int32_t *>(0x1234); // a data pointer left from before

// The descriptor's sizes turn into index multipliers, the header records the array, and the
// elements, the spare one after them included, are zero; a block of one dimension the same.
TEST(Array, SizesBecomeMultipliersOfZeroFilledElements) {
    const struct {
        int32_t dims, sizes[3], aux, entries[3], elements;
    } cases[] = {{2, {514, 514}, 0, {514, 514}, 264196},
                 {2, {3, 7}, 5, {7, 7}, 21},
                 {3, {2, 3, 4}, 0, {12, 4, 4}, 24}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.elements);
        Descriptor3 d = {nullptr, {c.sizes[0], c.sizes[1], c.sizes[2]}};
        void *data = array_alloc(4, c.dims, c.aux, &d, 21);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(d.data, data);
        const ArrayHeader *h = header_of(data);
        EXPECT_EQ(h->descriptor, &d);
        EXPECT_EQ((std::vector<int32_t>{h->dim_count, h->element_size, h->aux_word,
                                        h->element_count, h->type_code}),
                  (std::vector<int32_t>{c.dims, 4, c.aux, c.elements, 21}));
        EXPECT_GE(HeapSize(app_heap(), 0, const_cast<ArrayHeader *>(h)),
                  sizeof(ArrayHeader) + size_t(c.elements + 1) * 4);
        for (int32_t i = 0; i <= c.elements; i++)
            ASSERT_EQ(d.data[i], 0) << i;
        for (int32_t k = 0; k < c.dims; k++)
            EXPECT_EQ(d.entries[k], c.entries[k]) << k;
        for (int32_t dim = 0; dim <= c.dims + 1; dim++) // the largest index, 0 for no dimension
            EXPECT_EQ(array_dim_size(data, dim),
                      dim >= 1 && dim <= c.dims ? c.sizes[dim - 1] - 1 : 0);
        array_free(data);
    }
    Descriptor3 d = {nullptr, {}};
    void *data = array_alloc_block(10, 2, 0, &d, 7); // one dimension, whichever is asked for
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(header_of(data)->dim_count, 1);
    for (int dim : {-1, 0, 1, 2, 5})
        EXPECT_EQ(array_dim_size(data, dim), 9);
    array_free(data);
    EXPECT_TRUE(runtime_heaps_valid());
}

// Sizes that cannot be allocated, a missing descriptor and a full heap give null and, where
// there is a descriptor, a null data pointer; a descriptor's sizes are refused as they are.
TEST(Array, WhatCannotBeAllocatedIsRefused) {
    array_free(nullptr);
    EXPECT_EQ(array_dim_size(nullptr, 1), 0);
    EXPECT_EQ(array_alloc(4, 2, 0, nullptr, 21), nullptr);
    EXPECT_EQ(array_alloc_block(10, 4, 0, nullptr, 21), nullptr);
    const struct {
        int32_t dims, sizes[2];
        bool heap_full;
    } arrays[] = {{2, {65536, 65536}, false}, // the product overflows int32
                  {2, {-1, 5}, false},
                  {1, {5, 5}, false}, // one dimension: array_alloc_block's job
                  {2, {514, 514}, true}};
    for (const auto &a : arrays) {
        SCOPED_TRACE(testing::Message() << a.sizes[0] << " x " << a.sizes[1]);
        Descriptor3 d = {NOT_NULL, {a.sizes[0], a.sizes[1]}};
        heap_fail_allocations(app_heap(), 0, a.heap_full ? 1 : 0);
        EXPECT_EQ(array_alloc(4, a.dims, 0, &d, 21), nullptr);
        EXPECT_EQ(d.data, nullptr);
        EXPECT_EQ(d.entries[0], a.sizes[0]); // refused before rewriting (514 rewrites to 514)
    }
    const struct {
        int32_t count, size;
        bool heap_full;
    } blocks[] = {{-2, 4, false}, {10, 0, false}, {INT32_MAX, 1 << 30, false}, {10, 4, true}};
    for (const auto &b : blocks) {
        SCOPED_TRACE(testing::Message() << b.count << " of " << b.size);
        Descriptor3 d = {NOT_NULL, {}};
        heap_fail_allocations(app_heap(), 0, b.heap_full ? 1 : 0);
        EXPECT_EQ(array_alloc_block(b.count, b.size, 0, &d, 21), nullptr);
        EXPECT_EQ(d.data, nullptr);
    }
    heap_fail_reset();
    EXPECT_TRUE(runtime_heaps_valid());
}

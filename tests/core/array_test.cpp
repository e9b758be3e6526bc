#include "runtime/core/core_private.h"
#include "tests/support/test_support.h"
#include <gtest/gtest.h>

struct Descriptor2 {
    int32_t *data;
    int32_t entries[2];
};
struct Descriptor3 {
    int32_t *data;
    int32_t entries[3];
};

static const ArrayHeader *header_of(const void *data) {
    return static_cast<const ArrayHeader *>(data) - 1;
}

TEST(Array, TwoDimensionsOfTheGridSize) {
    Descriptor2 d = {nullptr, {514, 514}};
    void *data = array_alloc(4, 2, 0, &d, 21);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(d.data, data);
    EXPECT_EQ(d.entries[0], 514);
    EXPECT_EQ(d.entries[1], 514);
    const ArrayHeader *h = header_of(data);
    EXPECT_EQ(h->dim_count, 2);
    EXPECT_EQ(h->element_size, 4);
    EXPECT_EQ(h->aux_word, 0);
    EXPECT_EQ(h->descriptor, &d);
    EXPECT_EQ(h->element_count, 264196);
    EXPECT_EQ(h->type_code, 21);
    // header, 264196 elements and the spare one, all zero
    EXPECT_GE(HeapSize(app_heap(), 0, const_cast<ArrayHeader *>(h)),
              sizeof(ArrayHeader) + 264197 * 4);
    for (int i = 0; i <= 264196; i++)
        ASSERT_EQ(d.data[i], 0) << i;
    EXPECT_EQ(array_dim_size(data, 1), 513);
    EXPECT_EQ(array_dim_size(data, 2), 513);
    EXPECT_EQ(array_dim_size(data, 0), 0);
    EXPECT_EQ(array_dim_size(data, 3), 0);
    array_free(data);
    EXPECT_TRUE(runtime_heaps_valid());
}

TEST(Array, UnequalDimensionsRewriteIntoMultipliers) {
    Descriptor2 d = {nullptr, {3, 7}};
    ASSERT_NE(array_alloc(4, 2, 5, &d, 21), nullptr);
    EXPECT_EQ(d.entries[0], 7);
    EXPECT_EQ(d.entries[1], 7);
    EXPECT_EQ(header_of(d.data)->aux_word, 5);
    EXPECT_EQ(array_dim_size(d.data, 1), 2);
    EXPECT_EQ(array_dim_size(d.data, 2), 6);
    array_free(d.data);
}

TEST(Array, ThreeDimensions) {
    Descriptor3 d = {nullptr, {2, 3, 4}};
    ASSERT_NE(array_alloc(4, 3, 0, &d, 21), nullptr);
    EXPECT_EQ(d.entries[0], 12);
    EXPECT_EQ(d.entries[1], 4);
    EXPECT_EQ(d.entries[2], 4);
    EXPECT_EQ(header_of(d.data)->element_count, 24);
    EXPECT_EQ(header_of(d.data)->dim_count, 3);
    EXPECT_EQ(array_dim_size(d.data, 1), 1);
    EXPECT_EQ(array_dim_size(d.data, 2), 2);
    EXPECT_EQ(array_dim_size(d.data, 3), 3);
    EXPECT_EQ(array_dim_size(d.data, 4), 0);
    array_free(d.data);
}

TEST(Array, OneDimensionalBlock) {
    Descriptor2 d = {nullptr, {0, 0}};
    void *data = array_alloc_block(10, 2, 0, &d, 7);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(header_of(data)->dim_count, 1);
    for (int dim : {-1, 0, 1, 2, 5})
        EXPECT_EQ(array_dim_size(data, dim), 9);
    array_free(data);
}

TEST(Array, NullAndFailure) {
    array_free(nullptr);
    EXPECT_EQ(array_dim_size(nullptr, 1), 0);
    Descriptor2 d = {reinterpret_cast<int32_t *>(0x1234), {514, 514}};
    heap_fail_allocations(app_heap(), 0, 1);
    EXPECT_EQ(array_alloc(4, 2, 0, &d, 21), nullptr);
    EXPECT_EQ(d.data, nullptr);
    d.data = reinterpret_cast<int32_t *>(0x1234);
    heap_fail_allocations(app_heap(), 0, 1);
    EXPECT_EQ(array_alloc_block(10, 4, 0, &d, 21), nullptr);
    EXPECT_EQ(d.data, nullptr);
    heap_fail_reset();
    EXPECT_TRUE(runtime_heaps_valid());
}

TEST(Array, SizesThatCannotBeAllocatedAreRefused) {
    Descriptor2 big = {nullptr, {65536, 65536}}; // product overflows int32
    EXPECT_EQ(array_alloc(4, 2, 0, &big, 21), nullptr);
    EXPECT_EQ(big.entries[0], 65536); // refused before rewriting
    Descriptor2 negative = {nullptr, {-1, 5}};
    EXPECT_EQ(array_alloc(4, 2, 0, &negative, 21), nullptr);
    Descriptor2 one = {nullptr, {5, 5}};
    EXPECT_EQ(array_alloc(4, 1, 0, &one, 21), nullptr); // one dimension: array_alloc_block's job
    EXPECT_EQ(array_alloc_block(-2, 4, 0, &one, 21), nullptr);
    EXPECT_EQ(array_alloc_block(INT32_MAX, 1 << 30, 0, &one, 21), nullptr);
    EXPECT_EQ(one.data, nullptr);
    EXPECT_TRUE(runtime_heaps_valid());
}

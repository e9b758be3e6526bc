#pragma once
// Numbered-object tables and library state blocks.
#include <stdint.h>

// An object number: a slot index chosen by the application, or, for an object created
// with ANY_ID, the address of its record.
typedef intptr_t ObjectNumber;

const ObjectNumber ANY_ID = -1;

typedef void (*ObjectFreeCallback)(ObjectNumber number);
typedef void (*StateBlockCallback)(void *block);

// Header in front of the record of a dynamically numbered object (same block).
struct DynamicNode {
    DynamicNode *next; // next older node, null at the tail
    DynamicNode *prev; // next newer node, null at the head
};

struct ObjectTable {
    int32_t element_size;
    int32_t grow_step;
    int32_t capacity;
    DynamicNode *dynamic_head;
    ObjectFreeCallback free_callback;
    int32_t iter_index;
    DynamicNode *iter_node;
    uint8_t *slots;
};

// Every object record starts with a handle-sized word that is non-zero while it lives.
inline bool object_record_alive(const void *record) {
    return *static_cast<const uintptr_t *>(record) != 0;
}

ObjectTable *object_table_create(int32_t element_size, int32_t grow_step,
                                 ObjectFreeCallback free_callback);
void *object_table_alloc(ObjectTable *table, ObjectNumber number);
void *object_table_get(ObjectTable *table, ObjectNumber number);
void object_table_free(ObjectTable *table, ObjectNumber number);
void object_table_iter_reset(ObjectTable *table);
void *object_table_iter_next(ObjectTable *table, ObjectNumber *number);

void *state_block_alloc(int32_t size, StateBlockCallback init_callback,
                        StateBlockCallback release_callback);
void *state_block_get(void *block);

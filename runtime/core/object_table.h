#pragma once
// Numbered-object tables and library state blocks.
#include <stdint.h>

// An object number: a slot index chosen by the application, or, for an object created
// with ANY_ID, the address of its record.
typedef intptr_t ObjectNumber;

const ObjectNumber ANY_ID = -1;

typedef void (*ObjectFreeCallback)(ObjectNumber number);
typedef void (*StateBlockCallback)(void *block);

struct ObjectTable;

// A table of zero-filled records; null when the heap has no room (for its slots: not ready).
ObjectTable *object_table_create(int32_t element_size, int32_t grow_step,
                                 ObjectFreeCallback free_callback);
// True for a table that has its slots.
bool object_table_ready(const ObjectTable *table);
// A zeroed record for the number or ANY_ID; null for other negative numbers or no room.
void *object_table_alloc(ObjectTable *table, ObjectNumber number);
// The live record (first word non-zero) of a number; null for any number that names none.
void *object_table_get(ObjectTable *table, ObjectNumber number);
// The slot of a number, alive or not; null for a number outside the slots.
void *object_table_slot(ObjectTable *table, ObjectNumber number);
// Zeroes a slot or frees a dynamic record; a number that names none does nothing.
void object_table_free(ObjectTable *table, ObjectNumber number);
// Starts an iteration: live slots in ascending order, then dynamic records oldest first.
void object_table_iter_reset(ObjectTable *table);
// The next record and its number, which may be freed before the next call; null at the end.
void *object_table_iter_next(ObjectTable *table, ObjectNumber *number);

// A zero-filled block, init_callback run on it; null when there is no room.
void *state_block_alloc(int32_t size, StateBlockCallback init_callback,
                        StateBlockCallback release_callback);
// The block itself; null for null.
void *state_block_get(void *block);

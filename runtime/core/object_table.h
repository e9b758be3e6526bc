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

// A table of zero-filled records of element_size bytes, slots growing by grow_step; null
// when the heap has no room. Without room for its first slots it has none, and is not ready.
ObjectTable *object_table_create(int32_t element_size, int32_t grow_step,
                                 ObjectFreeCallback free_callback);
// True for a table that has its slots.
bool object_table_ready(const ObjectTable *table);
// A zeroed record for the number (after free_callback has ended its old object); for ANY_ID
// a new dynamic record. Null for another negative number or when the heap has no room.
void *object_table_alloc(ObjectTable *table, ObjectNumber number);
// The live record of a number: every record starts with a handle-sized word that is
// non-zero while it lives. Null for any number that names none.
void *object_table_get(ObjectTable *table, ObjectNumber number);
// The slot of a numbered record, alive or not (its storage moves when the table grows);
// null for a number outside the slots.
void *object_table_slot(ObjectTable *table, ObjectNumber number);
// Zeroes a slot or frees a dynamic record; a number that names none does nothing.
void object_table_free(ObjectTable *table, ObjectNumber number);
// Starts an iteration: live slots in ascending order, then dynamic records oldest first.
void object_table_iter_reset(ObjectTable *table);
// The next record of the iteration and its number; null at the end. The record just
// answered may be freed before the next call.
void *object_table_iter_next(ObjectTable *table, ObjectNumber *number);

// A zero-filled block of `size` bytes, init_callback run on it; null when there is no room.
void *state_block_alloc(int32_t size, StateBlockCallback init_callback,
                        StateBlockCallback release_callback);
// The block itself; null for null.
void *state_block_get(void *block);

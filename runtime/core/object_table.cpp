#include "runtime/core/core_private.h"
#include <string.h>

static void *node_record(DynamicNode *node) {
    return node + 1;
}

static bool object_record_alive(const void *record) {
    return *static_cast<const uintptr_t *>(record) != 0;
}

static bool is_slot_number(const ObjectTable *table, ObjectNumber number) {
    return number >= 0 && number < table->capacity;
}

// Only nodes that the table itself linked are ever read through: any other value
// (a stale number, a foreign pointer) finds no node.
static DynamicNode *find_dynamic_node(const ObjectTable *table, ObjectNumber number) {
    for (DynamicNode *node = table->dynamic_head; node; node = node->next)
        if (reinterpret_cast<ObjectNumber>(node_record(node)) == number) return node;
    return nullptr;
}

ObjectTable *object_table_create(int32_t element_size, int32_t grow_step,
                                 ObjectFreeCallback free_callback) {
    if (element_size <= 0 || grow_step <= 0) return nullptr;
    ObjectTable *table =
        static_cast<ObjectTable *>(heap_alloc(app_heap(), HEAP_ZERO_MEMORY, sizeof(ObjectTable)));
    if (!table) return nullptr;
    table->dynamic_head = nullptr;
    table->free_callback = free_callback;
    table->element_size = element_size;
    table->grow_step = grow_step;
    table->capacity = grow_step;
    TolerateFailure without_slots(FAILURE_WITHOUT_PART);
    table->slots = static_cast<uint8_t *>(
        heap_alloc(app_heap(), HEAP_ZERO_MEMORY, SIZE_T(element_size) * SIZE_T(grow_step)));
    if (!table->slots) table->capacity = 0;
    return table;
}

bool object_table_ready(const ObjectTable *table) {
    return table && table->slots;
}

static void *alloc_dynamic(ObjectTable *table) {
    DynamicNode *node = static_cast<DynamicNode *>(heap_alloc(
        object_heap(), HEAP_ZERO_MEMORY, sizeof(DynamicNode) + SIZE_T(table->element_size)));
    if (!node) return nullptr;
    node->next = table->dynamic_head;
    node->prev = nullptr;
    if (table->dynamic_head) table->dynamic_head->prev = node;
    table->dynamic_head = node;
    return node_record(node);
}

static bool grow_slots(ObjectTable *table, ObjectNumber number) {
    if (number > INT32_MAX - table->grow_step) return false;
    int64_t capacity = int64_t(number) + table->grow_step;
    int64_t bytes = capacity * table->element_size;
    if (bytes > int64_t(INTPTR_MAX)) return false;
    void *slots = table->slots
                      ? heap_realloc(app_heap(), HEAP_ZERO_MEMORY, table->slots, SIZE_T(bytes))
                      : heap_alloc(app_heap(), HEAP_ZERO_MEMORY, SIZE_T(bytes));
    if (!slots) return false;
    table->slots = static_cast<uint8_t *>(slots);
    table->capacity = int32_t(capacity);
    return true;
}

void *object_table_alloc(ObjectTable *table, ObjectNumber number) {
    if (!table) return nullptr;
    if (number == ANY_ID) return alloc_dynamic(table);
    if (number < 0) return nullptr;
    if (number >= table->capacity && !grow_slots(table, number)) return nullptr;
    if (table->free_callback) table->free_callback(number);
    return table->slots + number * table->element_size;
}

void *object_table_slot(ObjectTable *table, ObjectNumber number) {
    if (!table || !is_slot_number(table, number)) return nullptr;
    return table->slots + number * table->element_size;
}

void *object_table_get(ObjectTable *table, ObjectNumber number) {
    if (!table) return nullptr;
    void *record;
    if (is_slot_number(table, number)) {
        record = table->slots + number * table->element_size;
    } else {
        DynamicNode *node = find_dynamic_node(table, number);
        if (!node) return nullptr;
        record = node_record(node);
    }
    return object_record_alive(record) ? record : nullptr;
}

static void unlink_node(ObjectTable *table, DynamicNode *node) {
    if (table->iter_node == node) table->iter_node = node->prev;
    if (node->prev)
        node->prev->next = node->next;
    else
        table->dynamic_head = node->next;
    if (node->next) node->next->prev = node->prev;
}

void object_table_free(ObjectTable *table, ObjectNumber number) {
    if (!table) return;
    if (is_slot_number(table, number)) {
        memset(table->slots + number * table->element_size, 0, SIZE_T(table->element_size));
        return;
    }
    DynamicNode *node = find_dynamic_node(table, number);
    if (!node) return;
    unlink_node(table, node);
    heap_free(object_heap(), node);
}

void object_table_iter_reset(ObjectTable *table) {
    if (!table) return;
    table->iter_index = 0;
    DynamicNode *tail = table->dynamic_head;
    while (tail && tail->next)
        tail = tail->next;
    table->iter_node = tail;
}

void *object_table_iter_next(ObjectTable *table, ObjectNumber *number) {
    if (!table) return nullptr;
    while (table->iter_index < table->capacity) {
        int32_t index = table->iter_index++;
        void *record = table->slots + index * table->element_size;
        if (object_record_alive(record)) {
            *number = index;
            return record;
        }
    }
    DynamicNode *node = table->iter_node;
    if (!node) return nullptr;
    table->iter_node = node->prev;
    void *record = node_record(node);
    *number = reinterpret_cast<ObjectNumber>(record);
    return record;
}

void *state_block_alloc(int32_t size, StateBlockCallback init_callback,
                        StateBlockCallback release_callback) {
    (void)release_callback; // state blocks live until the process ends
    if (size <= 0) return nullptr;
    void *block = heap_alloc(app_heap(), HEAP_ZERO_MEMORY, SIZE_T(size));
    if (block && init_callback) init_callback(block);
    return block;
}

void *state_block_get(void *block) {
    return block;
}

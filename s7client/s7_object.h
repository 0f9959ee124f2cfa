/*
 * Object layer: nodes of the controller's object tree, item addresses and
 * their wire forms.
 *
 * The controller exposes its content as objects - an identifier, a class,
 * attributes (identifier -> value), child objects, relations, and for
 * type-info objects a type-info list and a name list. This layer owns the
 * object record, its tagged wire form and the wire form of an item address.
 * Borrows the value layer for attribute values and the type-info layer for
 * the 0xAB element; allocates through the memory layer.
 *
 * Objects nest; a reader never follows more than S7_OBJECT_MAX_DEPTH levels,
 * whatever the controller sends.
 */
#ifndef S7_OBJECT_H
#define S7_OBJECT_H

#include <vemo/s7read.h>

#include "s7_cursor.h"
#include "s7_memory.h"
#include "s7_protocol.h"
#include "s7_type_info.h"
#include "s7_value.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Objects may nest this deep inside one another (the outermost is level 0);
 * deeper input gives S7_STATUS_RANGE. The same bound as the browse's type
 * nesting. */
enum { S7_OBJECT_MAX_DEPTH = 64 };

typedef struct s7_name_list {
    uint32_t count;
    char** items; /* owned array of owned NUL-terminated texts */
} s7_name_list;

typedef struct s7_relation {
    uint32_t relation_id;
    uint32_t target_id;
} s7_relation;

typedef struct s7_object s7_object;

struct s7_object {
    uint32_t object_id;
    uint32_t class_id;
    uint32_t class_flags;
    uint32_t attribute_id;
    s7_entry* attributes; /* attribute identifier -> owned value */
    uint32_t attribute_count;
    s7_object** children; /* owned, in wire order */
    uint32_t child_count;
    s7_relation* relations;
    uint32_t relation_count;
    s7_type_info_list type_info;
    s7_name_list names;
};

/* A new object with no attributes, children or lists; null when memory runs
 * out. */
s7_object* s7_object_new(uint32_t object_id, uint32_t class_id, uint32_t attribute_id);
/* Frees everything the object owns (children recursively), then the object.
 * Null is allowed. */
void s7_object_free(s7_object* object);

/* Replaces the value of attribute `id` (freeing the old one) or appends it.
 * The object takes the value on success; S7_STATUS_ARGUMENT for null
 * arguments or a full list, S7_STATUS_NO_MEMORY when memory runs out. */
s7_status s7_object_set_attribute(s7_object* object, uint32_t id, s7_value* value);
/* Appends a child; ownership passes on success. S7_STATUS_ARGUMENT for null
 * arguments or a full list, S7_STATUS_NO_MEMORY when memory runs out. */
s7_status s7_object_add_child(s7_object* object, s7_object* child);
/* The first attribute `id` (borrowed); S7_STATUS_ARGUMENT when absent. */
s7_status s7_object_find_attribute(const s7_object* object, uint32_t id, const s7_value** value);

uint32_t s7_object_id(const s7_object* object);
uint32_t s7_object_class(const s7_object* object);
uint32_t s7_object_child_count(const s7_object* object);
s7_object* const* s7_object_children(const s7_object* object);
const s7_type_info_list* s7_object_type_info(const s7_object* object);
const s7_name_list* s7_object_names(const s7_object* object);

/* Bytes s7_write_object produces; 0 when the object cannot be written. */
uint32_t s7_object_size(const s7_object* object);
/* Writes the object form: 0xA1, head, attributes, children, relations,
 * 0xA2. The codec's statuses. */
s7_status s7_write_object(s7_cursor* c, const s7_object* object);
/* Reads one object form starting at its 0xA1 tag. The codec's statuses;
 * *object is written only on success. What it allocates comes out of a
 * budget for the bytes left in the cursor, or, in the _within form, out of
 * the budget of the decode it is part of (null: no limit). */
s7_status s7_read_object(s7_cursor* c, s7_object** object);
s7_status s7_read_object_within(s7_cursor* c, s7_budget* budget, s7_object** object);

/* Reads a name list (after its 0xAC tag) into *names, written only on
 * success. The codec's statuses; budgets as for the objects. */
s7_status s7_read_name_list(s7_cursor* c, s7_name_list* names);
s7_status s7_read_name_list_within(s7_cursor* c, s7_budget* budget, s7_name_list* names);
void s7_name_list_free(s7_name_list* names);

/* Item address wire form: 0, object, path count + 1, attribute, the path;
 * all unsigned VLQs. */
uint32_t s7_item_address_size(const s7_item_address* address);
s7_status s7_write_item_address(s7_cursor* c, const s7_item_address* address);

#ifdef __cplusplus
}
#endif

#endif

/*
 * Type-info layer: the records that describe the layout of data blocks,
 * structures and memory areas.
 *
 * A type-info object of the controller's object tree carries, under the tag
 * 0xAB, a list of entries: entry i describes member i of the object's name
 * list - its identifier, its data type and whether it is an elementary
 * variable, a structure (described by another type-info object) or an array
 * with its bounds. This layer decodes that list; the object layer stores it
 * in the object and the browse walks it. Borrows the cursor layer, allocates
 * through the memory layer.
 *
 * The format mixes byte orders: block lengths and each entry's flags word
 * are big-endian, every other value inside an entry is little-endian.
 */
#ifndef S7_TYPE_INFO_H
#define S7_TYPE_INFO_H

#include "s7_cursor.h"
#include "s7_memory.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Statuses of the readers: S7_STATUS_ARGUMENT (a null argument, or a kind
 * above 15), S7_STATUS_BOUNDS (the input ends inside a field),
 * S7_STATUS_NO_MEMORY (the entry array could not grow). */

enum { S7_TYPE_INFO_DIMENSIONS = 6 };

typedef struct s7_type_info_entry {
    /* head */
    uint32_t member_id;  /* next path element of the member's item address */
    uint32_t aux_id;     /* kept, not used */
    uint16_t kind_flags; /* top four bits: kind */
    uint8_t datatype;    /* data-type identifier of the member or its elements */
    uint8_t aux_byte;    /* kept, not used */
    /* record: everything from here on is cleared before a record is read */
    uint16_t kind;
    uint16_t info_a;
    uint16_t info_b;
    uint32_t struct_words[4];
    uint32_t info_c;
    uint32_t info_d;
    uint32_t struct_ref; /* structure kinds: the type-info object of the members */
    int32_t lower_bound; /* one-dimensional arrays: index of the first element */
    uint32_t element_count;
    int32_t dim_lower[S7_TYPE_INFO_DIMENSIONS];  /* innermost dimension first */
    uint32_t dim_count[S7_TYPE_INFO_DIMENSIONS]; /* 0 marks an unused dimension */
    uint32_t aux0, aux1, aux2, aux3, aux4, aux5, aux6;
    uint8_t is_struct;
    uint8_t is_array;
    uint8_t is_multi_array;
} s7_type_info_entry;

typedef struct s7_type_info_list {
    uint32_t count;
    s7_type_info_entry* items; /* owned; grown from 16 by doubling, exactly count once read */
} s7_type_info_list;

/*
 * Reads a whole list from a cursor placed after the 0xAB tag. Clears *list
 * first; on any failure the list is left empty (count 0, no array). The
 * entry array comes out of a budget for the bytes left in the cursor, or,
 * in the _within form, out of the budget of the decode the list is part of
 * (null: no limit); S7_STATUS_NO_MEMORY when it runs out.
 */
s7_status s7_read_type_info_list(s7_cursor* c, s7_type_info_list* list);
s7_status s7_read_type_info_list_within(s7_cursor* c, s7_budget* budget, s7_type_info_list* list);

/*
 * Reads the record of one entry of the given kind (0-15) into the record part
 * of *entry (from `kind` on, cleared first); the head fields stay as they
 * are. The entry is written only on success.
 */
s7_status s7_read_type_info_record(s7_cursor* c, uint16_t kind, s7_type_info_entry* entry);

/* Bytes of the record of a kind; 0 above 15. */
uint32_t s7_type_info_record_size(uint16_t kind);

/* Frees the entry array and zeroes the list. Null is allowed. */
void s7_type_info_list_free(s7_type_info_list* list);

#ifdef __cplusplus
}
#endif

#endif

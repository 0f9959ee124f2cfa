/*
 * Memory layer: the one door through which the library allocates.
 *
 * Owns the process-wide hook table (see s7_alloc_hooks in the public header).
 * Every other layer allocates with s7_malloc/s7_realloc and releases with
 * s7_free; nothing the library allocates is released any other way.
 */
#ifndef S7_MEMORY_H
#define S7_MEMORY_H

#include <vemo/s7client.h>
#include <vemo/s7value.h>

#include "s7_status.h"

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

void* s7_malloc(size_t size);
void* s7_realloc(void* block, size_t size);
/* s7_free, the release of every block, is public (<vemo/s7value.h>). */

/* s7_malloc followed by zero-filling; null when memory runs out. */
void* s7_calloc(size_t size);

/*
 * What one decode of controller input may still allocate. The controller
 * decides by what it sends how much of our memory a decode takes, so every
 * block a decode allocates is first taken from a budget that grows with the
 * input: S7_BUDGET_PER_BYTE bytes for each input byte, plus S7_BUDGET_BASE.
 * Past it the decode fails with S7_STATUS_NO_MEMORY and frees what it built,
 * as when the allocator itself says no. Room a decode gives back while it
 * runs (a list cut down to its elements, scratch space) returns to the
 * budget, so the budget bounds the most the decode holds at once.
 *
 * The factor covers the densest forms a controller answers with, in bytes
 * held per input byte: packed array elements at most 8 (a 64-bit element
 * whose VLQ is one byte); a type-info entry 8.5 (136 bytes for at least
 * 16), 17 right after its list doubled; an object about 11 (a 96-byte
 * record for at least 9); and densest of all a lone scalar in a long list
 * - a 48-byte value and its slot in a list that may just have doubled, for
 * as few as 3 input bytes (item number or key, flag, type) - up to 27. A
 * factor of 8, enough for the arrays, would refuse long lists of scalars
 * and the type lists of a browse. What goes past 32 are forms nobody sends
 * in bulk, such as arrays of empty strings (65). The base covers the fixed
 * start of a decode: first list rooms, the outermost records.
 */
enum { S7_BUDGET_PER_BYTE = 32, S7_BUDGET_BASE = 64 * 1024 };

typedef struct s7_budget {
    uint64_t left;
} s7_budget;

/* The budget of a decode of `input_bytes`. */
s7_budget s7_budget_for(uint64_t input_bytes);

/* Takes `bytes` from the budget: S7_STATUS_OK, or S7_STATUS_NO_MEMORY (and
 * nothing taken) when fewer are left. A null budget limits nothing. */
s7_status s7_budget_take(s7_budget* budget, uint64_t bytes);
/* Gives back `bytes` taken before and released since. Null is allowed. */
void s7_budget_give(s7_budget* budget, uint64_t bytes);

/* s7_malloc that first takes the size from the budget; null when the budget
 * or the memory runs out. */
void* s7_budget_malloc(s7_budget* budget, size_t size);

/*
 * Makes room for one more element in a list that holds `count` elements of
 * `element_size` bytes in a block with room for `*capacity`: nothing happens
 * while there is room; otherwise the room doubles, starting at `initial`.
 * Lists filled from what the controller sends grow this way, each element
 * having taken input bytes, so the room stays in proportion to the input.
 * S7_STATUS_NO_MEMORY when the block cannot grow or the room would pass
 * 2^32 elements; the list is then unchanged.
 */
s7_status s7_grow(void** items, uint32_t count, uint32_t* capacity, size_t element_size, uint32_t initial);
/* The same inside a decode: the added room is taken from `budget` first. */
s7_status s7_grow_within(void** items, uint32_t count, uint32_t* capacity, size_t element_size, uint32_t initial,
                         s7_budget* budget);

/*
 * Cuts the block of a complete list grown by s7_grow down to its `count`
 * elements when more than half of its room is empty, and gives the room
 * back to `budget` (null allowed). A decode does so for the many small
 * lists it builds - the members of a structure, the attributes of an
 * object, a type-info list - so that a list of one element does not keep
 * the first room of 4 to 16; a fuller list keeps its room, at most twice
 * its elements. A block that cannot shrink stays as it is; nothing fails.
 */
void s7_trim_within(void** items, uint32_t count, uint32_t* capacity, size_t element_size, s7_budget* budget);

/*
 * Makes room for exactly one more element in a list of `count` elements
 * whose block holds exactly them, as lists built element by element through
 * the library's own operations do. S7_STATUS_ARGUMENT for a list of 2^32 - 1
 * elements, S7_STATUS_NO_MEMORY when the block cannot grow; the list is
 * then unchanged.
 */
s7_status s7_grow_one(void** items, uint32_t count, size_t element_size);

#ifdef __cplusplus
}

/* s7_grow and s7_grow_one for a typed list. */
template <typename T>
s7_status s7_grow_list(T** items, uint32_t count, uint32_t* capacity, uint32_t initial, s7_budget* budget = nullptr) {
    if (count < *capacity) {
        return S7_STATUS_OK;  // the common case, without a call
    }
    void* block = *items;
    const s7_status rc = s7_grow_within(&block, count, capacity, sizeof(T), initial, budget);
    *items = static_cast<T*>(block);
    return rc;
}

template <typename T>
void s7_trim_list(T** items, uint32_t count, uint32_t* capacity, s7_budget* budget) {
    if (count >= *capacity - count) {
        return;  // the common case, without a call
    }
    void* block = *items;
    s7_trim_within(&block, count, capacity, sizeof(T), budget);
    *items = static_cast<T*>(block);
}

template <typename T>
s7_status s7_grow_list_one(T** items, uint32_t count) {
    void* block = *items;
    const s7_status rc = s7_grow_one(&block, count, sizeof(T));
    *items = static_cast<T*>(block);
    return rc;
}
#endif

#endif

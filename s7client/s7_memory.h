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
 * Makes room for one more element in a list that holds `count` elements of
 * `element_size` bytes in a block with room for `*capacity`: nothing happens
 * while there is room; otherwise the room doubles, starting at `initial`.
 * Lists filled from what the controller sends grow this way, each element
 * having taken input bytes, so the room stays in proportion to the input.
 * S7_STATUS_NO_MEMORY when the block cannot grow or the room would pass
 * 2^32 elements; the list is then unchanged.
 */
s7_status s7_grow(void** items, uint32_t count, uint32_t* capacity, size_t element_size, uint32_t initial);

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
s7_status s7_grow_list(T** items, uint32_t count, uint32_t* capacity, uint32_t initial) {
    if (count < *capacity) {
        return S7_STATUS_OK;  // the common case, without a call
    }
    void* block = *items;
    const s7_status rc = s7_grow(&block, count, capacity, sizeof(T), initial);
    *items = static_cast<T*>(block);
    return rc;
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

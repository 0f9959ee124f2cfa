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

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

void* s7_malloc(size_t size);
void* s7_realloc(void* block, size_t size);
void s7_free(void* block);

/* s7_malloc followed by zero-filling; null when memory runs out. */
void* s7_calloc(size_t size);

#ifdef __cplusplus
}
#endif

#endif

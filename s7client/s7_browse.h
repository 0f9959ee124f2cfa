/*
 * Browse layer: the controller's object tree turned into blocks and
 * symbols (public operations in <vemo/s7browse.h>).
 *
 * Listing explores the controller's root 3 for data blocks and reads each
 * block's type-info reference (attribute 2550). Browsing walks the block's
 * type-info object recursively - members, structures, one- and
 * multi-dimensional arrays - into symbols with names and item addresses.
 * The type-info objects come from one explore of root 537 per connection and
 * are kept in the cache the client handle owns.
 *
 * Borrows the request layer for explore and read, the object and type-info
 * layers for what the walk reads, the data-type layer for what becomes a
 * symbol; allocates through the memory layer. Nothing the controller says
 * sizes the walk beyond the bounds of <vemo/s7browse.h>.
 */
#ifndef S7_BROWSE_H
#define S7_BROWSE_H

#include <vemo/s7browse.h>

#include "s7_exchange.h"
#include "s7_protocol.h"
#include "s7_request.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Structures nest at most this deep below the block (the block's own type
 * is level 0); the same bound as the object reader's. */
enum { S7_BROWSE_MAX_DEPTH = 64 };

/* One type object in the index: its identifier and its position in
 * type_objects. */
typedef struct s7_type_index_entry {
    uint32_t id;
    uint32_t position;
} s7_type_index_entry;

/* The type-info objects of one connection, fetched at the first browse. */
typedef struct s7_type_info_cache {
    uint8_t valid;                    /* 1 once filled on the current connection */
    s7_explore_result explore_result; /* owns every object below */
    s7_object* const* type_objects;   /* borrowed from explore_result */
    uint32_t type_object_count;
    /* The type objects by identifier: one entry per object, sorted by
     * identifier and then position. Null when there are no type objects.
     * Sorted rather than hashed: the controller picks the identifiers, and
     * identifiers picked to collide would make a hash table's probe runs
     * as long as the table. */
    s7_type_index_entry* type_index;
    uint32_t type_index_count;
} s7_type_info_cache;

/*
 * Fills an empty cache: takes over `explored`, whose object `parent` holds
 * the type-info objects as its children, and indexes them by identifier (of
 * several objects with one identifier the first counts). Filling takes
 * O(n log n) and every lookup of a browse O(log n) for n type objects,
 * whatever identifiers the controller gives them. S7_STATUS_NO_MEMORY
 * leaves the cache empty and `explored` with the caller.
 */
s7_status s7_type_info_cache_fill(s7_type_info_cache* cache, const s7_explore_result* explored,
                                  const s7_object* parent);

/* The type object with identifier `id`; null when the cache has none. */
const s7_object* s7_type_info_cache_find(const s7_type_info_cache* cache, uint32_t id);

/* Releases what a valid cache holds and zeroes it. Null allowed. */
void s7_type_info_cache_free(s7_type_info_cache* cache);

/* The bounds of one browse; the public operation uses the S7_BROWSE_MAX_*
 * values. */
typedef struct s7_browse_limits {
    uint32_t max_symbols;
    uint32_t max_visits;
    uint64_t max_name_bytes;
} s7_browse_limits;

/* The listing with the handle's session, limit and time-out. */
s7_status s7_list_datablocks(s7_session* session, uint32_t max_read_items, uint32_t timeout_ms, s7_block_list* blocks);

/* Fills the cache unless it is valid already (then nothing is sent). */
s7_status s7_load_type_info(s7_session* session, uint32_t timeout_ms, s7_type_info_cache* cache);

/* Walks one block's type over a valid cache, within `limits` (null: the
 * public bounds). */
s7_status s7_browse_block(const s7_block* block, const s7_type_info_cache* cache, s7_symbol_list* symbols);
s7_status s7_browse_block_limited(const s7_block* block, const s7_type_info_cache* cache,
                                  const s7_browse_limits* limits, s7_symbol_list* symbols);

#ifdef __cplusplus
}
#endif

#endif

/*
 * Browse layer: the controller's object tree turned into blocks and
 * symbols (public operations in <vemo/s7browse.h>).
 *
 * Listing explores the controller's root 3 for data blocks and reads each
 * block's type-info reference (attribute 2550). Browsing walks the block's
 * type-info object recursively - members, structures, one- and
 * multi-dimensional arrays - into symbols with names and item addresses.
 * The type-info objects come from one explore of root 537 per connection and
 * are kept in the cache the client handle owns; when they do not fit one
 * answer, each browse explores the types it needs one at a time.
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

/* In parts, S7_BROWSE_MAX_TYPE_EXPLORES and S7_BROWSE_MAX_TYPE_BYTES
 * (<vemo/s7browse.h>) bound a browse: a real block names some hundred
 * types at most, and a real program's descriptions run to tens of
 * megabytes. */

/* One type object in the index: its identifier, the order in which the
 * cache came to know it, and the object - null when the controller has
 * no type of that identifier (an answer of its own said so). `mark` is
 * the fetch that last reached the entry. */
typedef struct s7_type_index_entry {
    uint32_t id;
    uint32_t order;
    const s7_object* object;
    uint32_t mark;
} s7_type_index_entry;

/*
 * The type-info objects of one connection. The first browse explores them
 * all in one answer. When that answer is longer than one answer may be, the
 * cache is filled in parts instead: each browse explores the types its
 * block needs and the cache does not have yet, one type per request, and
 * keeps every answer until disconnect.
 */
typedef struct s7_type_info_cache {
    uint8_t valid;                    /* 1 once filled (or set to go in parts) on the current connection */
    uint8_t in_parts;                 /* 1: filled in parts, as browses need the types */
    s7_explore_result explore_result; /* one answer: owns every object below */
    s7_object* const* type_objects;   /* one answer: borrowed from explore_result */
    uint32_t type_object_count;
    /* The type objects by identifier, sorted by identifier and then order.
     * Null when there are none. Sorted rather than hashed: the controller
     * picks the identifiers, and identifiers picked to collide would make a
     * hash table's probe runs as long as the table. In parts, the types
     * known lately go into a second, short sorted run first, merged into
     * this one when it grows past the square root of this one: each type
     * then costs O(sqrt n) to add, and a lookup stays O(log n). */
    s7_type_index_entry* type_index;
    uint32_t type_index_count;
    s7_type_index_entry* recent_index;
    uint32_t recent_count;
    uint32_t recent_capacity;
    uint32_t known; /* entries of both runs, the order of the next */
    /* In parts: the answers, each owning its objects, and their lengths
     * added up (at most S7_BROWSE_MAX_TYPE_BYTES). */
    s7_explore_result* parts;
    uint32_t part_count;
    uint32_t part_capacity;
    uint64_t part_bytes;
    uint32_t fetches; /* the marks handed out so far */
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

/*
 * Adds one answer to a cache that goes in parts: takes over `explored`, the
 * answer to the explore of type `requested`, `length` bytes long, and
 * indexes its type objects - the children of its first object of class 534
 * when it has one, else its objects - except those whose identifiers the
 * cache knows already. When none of them is `requested`, the cache notes
 * that the controller has no such type. S7_STATUS_NO_MEMORY leaves the
 * cache as it was and `explored` with the caller.
 */
s7_status s7_type_info_cache_add(s7_type_info_cache* cache, const s7_explore_result* explored, uint32_t length,
                                 uint32_t requested);

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

/* Fills the cache unless it is valid already (then nothing is sent). An
 * answer too long to keep sets the cache to go in parts. */
s7_status s7_load_type_info(s7_session* session, uint32_t timeout_ms, s7_type_info_cache* cache);

/*
 * In a valid cache that goes in parts: explores, one request each, the
 * types the block's walk can reach that the cache does not know yet - the
 * block's type, the structures it names, theirs, and so on - so that the
 * walk then finds every type the controller has. At most
 * S7_BROWSE_MAX_TYPE_EXPLORES requests a call; an answer that cannot be
 * kept (too long, or past S7_BROWSE_MAX_TYPE_BYTES for the cache) fails the
 * call with S7_STATUS_ANSWER_TOO_LARGE. What was explored stays in the
 * cache, whatever the outcome. A cache that holds the one answer needs
 * nothing: S7_STATUS_OK without a request.
 */
s7_status s7_fetch_block_types(s7_session* session, uint32_t timeout_ms, const s7_block* block,
                               s7_type_info_cache* cache);

/* Walks one block's type over a valid cache, within `limits` (null: the
 * public bounds). */
s7_status s7_browse_block(const s7_block* block, const s7_type_info_cache* cache, s7_symbol_list* symbols);
s7_status s7_browse_block_limited(const s7_block* block, const s7_type_info_cache* cache,
                                  const s7_browse_limits* limits, s7_symbol_list* symbols);

#ifdef __cplusplus
}
#endif

#endif

/*
 * VEMO S7 client library: browsing data blocks and symbols.
 *
 * vemoc_s7_client_list_datablocks lists the controller's data blocks,
 * followed by the five memory areas I, Q, M, S7Timers and S7Counters.
 * vemoc_s7_client_browse_block turns one listed block into the flat list of
 * its readable variables (symbols): the full symbolic name, the data type
 * and the item address under which vemoc_s7_client_read reads it.
 *
 * The first browse on a connection fetches the controller's type
 * descriptions once and keeps them in the handle until disconnect; later
 * browses on the same connection send nothing. A program whose type
 * descriptions are longer than one answer is kept (16 MiB, some half a
 * million members) is browsed in parts: each browse explores, one request each, the types its block
 * needs that no browse before it explored, and the handle keeps them until
 * disconnect as well, at most S7_BROWSE_MAX_TYPE_BYTES of them.
 *
 * Usable from C and C++.
 */
#ifndef VEMO_S7BROWSE_H
#define VEMO_S7BROWSE_H

#include <vemo/s7api.h>
#include <vemo/s7client.h>
#include <vemo/s7read.h>

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/*
 * The most symbols one browse hands out. Far above any real program (a
 * large controller holds some hundred thousand variables), it stops a
 * corrupt or hostile type description - an array of four billion elements,
 * a structure nested into itself many times over - from exhausting memory.
 * A browse that would exceed it fails with S7_ERR_NO_MEMORY.
 */
#define S7_BROWSE_MAX_SYMBOLS 4000000u

/*
 * The most members and array elements one browse visits, whether or not
 * they become symbols. Walking a type description costs time even where it
 * yields nothing (arrays of empty structures); this bounds that time.
 * Exceeding it fails the browse with S7_ERR_NO_MEMORY, like the symbol cap.
 */
#define S7_BROWSE_MAX_VISITS 16000000u

/*
 * The most bytes of symbol names one browse hands out, together (each
 * name's terminating 0 included). Names grow with nesting; this keeps a
 * deeply nested description with long member names within memory.
 * Exceeding it fails the browse with S7_ERR_NO_MEMORY.
 */
#define S7_BROWSE_MAX_NAME_BYTES (256u * 1024u * 1024u)

/*
 * The most bytes of type descriptions a handle keeps when it fetches them
 * in parts (answers added up: four times what one answer may be, some two
 * million members), and the most types one browse explores then. A
 * controller that sends more, or names ever new types, fails the browse
 * with S7_ERR_NO_MEMORY.
 */
#define S7_BROWSE_MAX_TYPE_BYTES (64ull * 1024u * 1024u)
#define S7_BROWSE_MAX_TYPE_EXPLORES 65536u

/* One block: a data block or a memory area. */
typedef struct s7_block {
    uint32_t number;       /* data block: low 16 bits of object_id; memory area: its code 80-84 */
    uint32_t object_id;    /* first identifier of every item address of the block */
    uint32_t type_info_id; /* the type description of the block's content; 0 when unknown */
    char* name;            /* owned, NUL-terminated */
} s7_block;

typedef struct s7_block_list {
    s7_block* items; /* owned */
    uint32_t count;
} s7_block_list;

/* One readable variable. */
typedef struct s7_symbol {
    uint8_t datatype;        /* the controller's data-type identifier */
    s7_item_address address; /* owned; where the variable is read */
    char* name;              /* owned, NUL-terminated; starts with the block's name */
} s7_symbol;

typedef struct s7_symbol_list {
    uint32_t count;
    s7_symbol* items; /* owned */
} s7_symbol_list;

/*
 * Lists the data blocks (in the controller's order), then the memory areas
 * I, Q, M, S7Timers and S7Counters. Sends one explore request and, when
 * there are data blocks, as many reads as the controller's item limit
 * requires to learn each block's type description.
 *
 * On S7_OK the caller owns *blocks and releases it with s7_block_list_free.
 * Codes: S7_ERR_ARGUMENT (null arguments), S7_ERR_NOT_CONNECTED,
 * S7_ERR_EXPLORE (the controller answered the explore with an error),
 * S7_ERR_NO_MEMORY, S7_ERR_PROTOCOL, and the exchange's codes. A failure
 * hands out nothing: *blocks is then zero, or untouched when the failure
 * came before the explore was answered.
 */
S7_API uint8_t vemoc_s7_client_list_datablocks(vemoc_s7_client* client, s7_block_list* blocks);

/*
 * Lists the readable variables of one block of a list made on the same
 * connection. A block without a type description, or whose description the
 * controller does not have, gives an empty list and S7_OK.
 *
 * On S7_OK the caller owns *symbols and releases it with
 * s7_symbol_list_free. Codes: S7_ERR_ARGUMENT, S7_ERR_NOT_CONNECTED,
 * S7_ERR_EXPLORE, S7_ERR_PROTOCOL (the controller sent no type
 * descriptions, or structures nest 64 levels deep), S7_ERR_NO_MEMORY (also
 * when the block exceeds one of the S7_BROWSE_MAX_* bounds, or the
 * description of a single type is longer than an answer is kept) and the
 * exchange's codes. On any failure *symbols is left empty; types explored
 * before it stay known.
 */
S7_API uint8_t vemoc_s7_client_browse_block(vemoc_s7_client* client, const s7_block* block, s7_symbol_list* symbols);

/* Free every name, then the array, and zero the list. Null is allowed. */
S7_API void s7_block_list_free(s7_block_list* blocks);
/* Free every symbol's address and name, then the array, and zero the list.
 * Null is allowed. */
S7_API void s7_symbol_list_free(s7_symbol_list* symbols);

#ifdef __cplusplus
}
#endif

#endif /* VEMO_S7BROWSE_H */

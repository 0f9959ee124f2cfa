/*
 * Value layer: the in-memory controller value and its wire codec.
 *
 * Owns `s7_value` (public operations in <vemo/s7value.h>) and the codec that
 * reads values from a received body and writes them into a request body,
 * with the size functions the two-pass request builders allocate by.
 * Borrows the cursor and the integer forms of the cursor layer and allocates
 * through the memory layer.
 *
 * Decoders build a whole value or nothing. What the controller sends is not
 * trusted: nesting is bounded (S7_VALUE_MAX_DEPTH) and no count read from the
 * wire reserves more than the bytes left in the body can hold.
 */
#ifndef S7_VALUE_H
#define S7_VALUE_H

#include <vemo/s7value.h>

#include "s7_cursor.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Structures and arrays may nest this deep (the outermost value is level 0);
 * deeper input gives S7_STATUS_RANGE. The browse walks type nesting to the
 * same depth, and no real controller value comes anywhere near it. */
enum { S7_VALUE_MAX_DEPTH = 64 };

/* Structure identifiers in these ranges (inclusive) announce a packed
 * structure on the wire. */
#define S7_PACKED_ID_FIRST_A 0x90000001u
#define S7_PACKED_ID_LAST_A 0x9FFFFFFEu
#define S7_PACKED_ID_FIRST_B 0x02000001u
#define S7_PACKED_ID_LAST_B 0x02FFFFFEu

/* Flag bit of a packed structure that puts a second length on the wire. */
#define S7_PACKED_FLAG_LONG_LENGTH 0x400u

typedef struct s7_entry {
    uint32_t key;
    s7_value* value; /* owned */
} s7_entry;

typedef union s7_scalar {
    bool b;
    uint8_t u8;
    int8_t i8;
    uint16_t u16;
    int16_t i16;
    uint32_t u32;
    int32_t i32;
    uint64_t u64;
    int64_t i64;
    float f32;
    double f64;
} s7_scalar;

struct s7_value {
    uint8_t type;
    uint8_t flags;
    uint32_t storage;
    union {
        s7_scalar scalar;
        struct {
            uint8_t* data; /* strings: length + 1 bytes, the last 0 */
            uint32_t length;
        } bytes;
        struct {
            s7_entry* entries;
            uint32_t count;
        } array;
        struct {
            uint32_t struct_id;
            s7_entry* members;
            uint32_t member_count;
        } structure;
        struct {
            uint32_t struct_id;
            uint64_t packed_id64;
            uint32_t packed_flags;
            uint8_t* data;
            uint32_t length;
        } packed;
    } u;
};

/* Codec: S7_STATUS_OK, or S7_STATUS_ARGUMENT (a null argument; a value the
 * encoder cannot write), S7_STATUS_NO_MEMORY, S7_STATUS_BOUNDS (the body is
 * too short, or the room to write too small), S7_STATUS_RANGE (a value the
 * decoder does not accept). A decoder writes *out only on success and frees
 * everything it built on failure; the cursor is then left where the failure
 * happened. */
s7_status s7_decode_value(s7_cursor* c, s7_value** out);
s7_status s7_decode_payload(s7_cursor* c, uint8_t type, uint8_t flags, s7_value** out);
s7_status s7_decode_element(s7_cursor* c, uint8_t type, s7_value** out);

s7_status s7_encode_value(s7_cursor* c, const s7_value* value);
s7_status s7_encode_payload(s7_cursor* c, const s7_value* value);
s7_status s7_encode_element(s7_cursor* c, const s7_value* value);

/* Bytes the matching encoder writes; 0 when the value cannot be written
 * (s7_value_size) or has no payload of its own. */
uint32_t s7_value_size(const s7_value* value);
uint32_t s7_payload_size(const s7_value* value);
uint32_t s7_element_size(const s7_value* value);

/*
 * Collapses repeated keys of an entry list the way one s7_struct_set per
 * entry would: the first position of a key keeps the last value given for it,
 * later positions are dropped and the replaced values freed. Runs in
 * n log n, so a hostile list of many members cannot stall a decoder.
 * S7_STATUS_NO_MEMORY when the scratch space cannot be allocated (the list
 * is then unchanged).
 */
s7_status s7_entries_keep_last(s7_entry* entries, uint32_t* count);

/* Frees the values of an entry list and the list itself. */
void s7_entries_free(s7_entry* entries, uint32_t count);

#ifdef __cplusplus
}
#endif

#endif

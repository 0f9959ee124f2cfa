/*
 * Value codec: the wire form of controller values.
 *
 * Reads values from a received body and writes them into a request body,
 * with the size functions the two-pass request builders allocate by. Every
 * scalar value type has one wire form (a fixed number of big-endian bytes,
 * an unsigned or a signed VLQ), and a few types another one as array
 * elements; one table in s7_value_codec.cpp holds them, so decoding, sizing
 * and encoding cannot disagree. Borrows the cursor layer and the value
 * layer's storage; allocates through the memory layer.
 *
 * Decoders build a whole value or nothing. What the controller sends is not
 * trusted: nesting is bounded (S7_VALUE_MAX_DEPTH), no count read from the
 * wire reserves more than the bytes left in the body can hold, and all a
 * decode allocates comes out of a budget in proportion to its input
 * (s7_budget, s7_memory.h).
 */
#ifndef S7_VALUE_CODEC_H
#define S7_VALUE_CODEC_H

#include "s7_cursor.h"
#include "s7_status.h"
#include "s7_value.h"

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

/*
 * S7_STATUS_OK, or S7_STATUS_ARGUMENT (a null argument; a value the encoder
 * cannot write), S7_STATUS_NO_MEMORY, S7_STATUS_BOUNDS (the body is too
 * short, or the room to write too small), S7_STATUS_RANGE (a value the
 * decoder does not accept). A decoder writes *out only on success and frees
 * everything it built on failure; the cursor is then left where the failure
 * happened.
 *
 * A value is its flag byte, its type byte and its payload; an array element
 * is a payload without the two bytes.
 */
s7_status s7_decode_value(s7_cursor* c, s7_value** out);
s7_status s7_decode_payload(s7_cursor* c, uint8_t type, uint8_t flags, s7_value** out);
s7_status s7_decode_element(s7_cursor* c, uint8_t type, s7_value** out);
/* The three above take their budget from the bytes left in the cursor. A
 * decode that is part of a larger one - a value inside a whole answer -
 * takes what it allocates from that decode's budget instead (null: no
 * limit); S7_STATUS_NO_MEMORY when it runs out. */
s7_status s7_decode_value_within(s7_cursor* c, s7_budget* budget, s7_value** out);

s7_status s7_encode_value(s7_cursor* c, const s7_value* value);
s7_status s7_encode_payload(s7_cursor* c, const s7_value* value);
s7_status s7_encode_element(s7_cursor* c, const s7_value* value);

/* Bytes the matching encoder writes; 0 when the value cannot be written
 * (s7_value_size) or has no payload of its own. */
uint32_t s7_value_size(const s7_value* value);
uint32_t s7_payload_size(const s7_value* value);
uint32_t s7_element_size(const s7_value* value);

#ifdef __cplusplus
}
#endif

#endif

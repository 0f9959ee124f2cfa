/*
 * Cursor layer: the bounded byte cursor and the wire integer encodings.
 *
 * Every reader and writer of the library works on an s7_cursor over a buffer
 * it does not own. Fixed-width fields are big-endian. Variable-length
 * integers (VLQ) come in an unsigned and a signed flavour; both take 1 to 9
 * bytes, the ninth byte carrying 8 bits. Request builders size a body with the
 * size functions here, allocate exactly that much and then write, so every
 * size function must equal what its writer produces.
 *
 * Nothing here allocates. Outputs are written only on success.
 */
#ifndef S7_CURSOR_H
#define S7_CURSOR_H

#include "s7_status.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Statuses of the readers and writers: S7_STATUS_ARGUMENT (a required
 * output or source pointer is null), S7_STATUS_BOUNDS (an unusable cursor,
 * too few bytes to read, too little room to write), S7_STATUS_RANGE (a value
 * the reader does not accept). */

/* A range [cur, end) of bytes; usable when both are set and cur <= end. */
typedef struct s7_cursor {
    uint8_t* cur;
    uint8_t* end;
} s7_cursor;

/* Bytes left; 0 for a null or unusable cursor. */
uint32_t s7_remaining(const s7_cursor* c);

s7_status s7_skip(s7_cursor* c, uint32_t n);

s7_status s7_read_u8(s7_cursor* c, uint8_t* out);
s7_status s7_read_u16(s7_cursor* c, uint16_t* out);
s7_status s7_read_u32(s7_cursor* c, uint32_t* out);
/* Unsigned VLQ. The 32-bit form is the reader of every length, count, key
 * and identifier of 32 bits: a value above 2^32 - 1 is S7_STATUS_RANGE (its
 * bytes consumed), never cut down to its low bits. A byte missing midway
 * gives S7_STATUS_BOUNDS with the bytes read so far consumed. */
s7_status s7_read_vlq32(s7_cursor* c, uint32_t* out);
s7_status s7_read_vlq64(s7_cursor* c, uint64_t* out);
/* Signed VLQ: bit 6 of the first byte is the sign. */
s7_status s7_read_svlq64(s7_cursor* c, int64_t* out);

s7_status s7_write_u8(s7_cursor* c, uint8_t v);
s7_status s7_write_u16(s7_cursor* c, uint16_t v);
s7_status s7_write_u32(s7_cursor* c, uint32_t v);
/* High 32 bits, then low 32 bits. */
s7_status s7_write_u64(s7_cursor* c, uint64_t v);
/* Length 0 succeeds at once, even with a null source. */
s7_status s7_write_bytes(s7_cursor* c, const void* src, uint32_t len);
s7_status s7_write_vlq64(s7_cursor* c, uint64_t v);
s7_status s7_write_svlq64(s7_cursor* c, int64_t v);

/* Bytes the matching writer produces. */
uint32_t s7_vlq_size(uint64_t v);
uint32_t s7_svlq_size32(int32_t v);
uint32_t s7_svlq_size64(int64_t v);

#ifdef __cplusplus
}
#endif

#endif

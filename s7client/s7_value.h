/*
 * Value layer: the in-memory controller value.
 *
 * Owns `s7_value` (public operations in <vemo/s7value.h>): its storage, the
 * constructors and getters, arrays and structures of values. The wire form
 * of values lives beside it in the value codec (s7_value_codec.h).
 * Allocates through the memory layer.
 */
#ifndef S7_VALUE_H
#define S7_VALUE_H

#include <vemo/s7value.h>

#include "s7_status.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct s7_entry {
    uint32_t key;
    s7_value* value; /* owned */
} s7_entry;

struct s7_value {
    uint8_t type;
    uint8_t flags;
    uint32_t storage;
    union {
        /* A scalar's bit pattern, in the low bits of its width: integers as
         * their two's complement, reals as their IEEE 754 bits, BOOL as 0 or
         * 1. The getters cut it back to the type. */
        uint64_t bits;
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

/* A value of storage kind S7_STORE_SCALAR holding `bits`; null when memory
 * runs out. */
s7_value* s7_value_new_scalar(uint8_t type, uint64_t bits);

/* True for the flag bytes that make a value an array. */
bool s7_is_array_flag(uint8_t flags);

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

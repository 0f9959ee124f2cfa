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

#include "s7_memory.h"
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
        /* An array of scalars (element types S7_TYPE_NULL to
         * S7_TYPE_ID_VLQ) keeps its elements' bit patterns side by side in
         * `elements`, s7_scalar_width(type) bytes each, and, when its keys
         * are not simply the positions, the keys in `keys`: a read of a big
         * array tag costs its elements' own width per element, not a heap
         * value and an entry each. `capacity` is the room of both blocks.
         * Arrays of the other types hold one value per element in
         * `entries`, exactly `count` of them. */
        struct {
            s7_entry* entries;
            uint8_t* elements;
            uint32_t* keys;
            uint32_t count;
            uint32_t capacity;
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

/* True for the scalar value types, S7_TYPE_NULL to S7_TYPE_ID_VLQ: the
 * element types whose arrays keep their elements packed. */
bool s7_is_scalar_type(uint8_t type);

/* Bytes an element of a scalar type takes in a packed array (0 for
 * S7_TYPE_NULL, whose elements carry nothing); 0 for the other types. */
uint32_t s7_scalar_width(uint8_t type);

/* The bit pattern of element `index` of a packed array, and the storing of
 * one; the caller has checked the array and the index. */
uint64_t s7_array_bits_at(const s7_value* array, uint32_t index);
void s7_array_set_bits(s7_value* array, uint32_t index, uint64_t bits);

/*
 * Collapses repeated keys of an entry list the way one s7_struct_set per
 * entry would: the first position of a key keeps the last value given for it,
 * later positions are dropped and the replaced values freed. Runs in
 * n log n, so a hostile list of many members cannot stall a decoder.
 * S7_STATUS_NO_MEMORY when the scratch space cannot be allocated or taken
 * from `budget` (null: no limit); the list is then unchanged.
 */
s7_status s7_entries_keep_last(s7_entry* entries, uint32_t* count, s7_budget* budget);

/* Frees the values of an entry list and the list itself. */
void s7_entries_free(s7_entry* entries, uint32_t count);

#ifdef __cplusplus
}
#endif

#endif

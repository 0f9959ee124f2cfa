/*
 * VEMO S7 client library: controller values.
 *
 * Everything the controller sends or receives as data - a tag's value, an
 * attribute of an object, a member of a structured attribute - is an
 * `s7_value`: a value type, a flag byte and a payload held in one of five
 * storage kinds (scalar, byte run, array, structure, packed structure).
 * Values are opaque; build them with the constructors, look into them with
 * the getters and release them with s7_value_free, which frees everything
 * below them.
 *
 * The value type identifiers are the wire encoding's own numbering; they are
 * not the data types the controller shows for its variables.
 *
 * Usable from C and C++.
 */
#ifndef VEMO_S7VALUE_H
#define VEMO_S7VALUE_H

#include <vemo/s7api.h>
#include <vemo/s7client.h>

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Value type identifiers; for an array, the element type. 22 and 24 to 255
 * are not supported. */
enum {
    S7_TYPE_NULL = 0,
    S7_TYPE_BOOL = 1,
    S7_TYPE_U8 = 2,
    S7_TYPE_U16 = 3,
    S7_TYPE_U32 = 4,
    S7_TYPE_U64 = 5,
    S7_TYPE_I8 = 6,
    S7_TYPE_I16 = 7,
    S7_TYPE_I32 = 8,
    S7_TYPE_I64 = 9,
    S7_TYPE_BITS8 = 10,
    S7_TYPE_BITS16 = 11,
    S7_TYPE_BITS32 = 12,
    S7_TYPE_BITS64 = 13,
    S7_TYPE_F32 = 14,
    S7_TYPE_F64 = 15,
    S7_TYPE_U64_ALT = 16,
    S7_TYPE_I64_ALT = 17,
    S7_TYPE_ID32 = 18,
    S7_TYPE_ID_VLQ = 19,
    S7_TYPE_BLOB = 20,
    S7_TYPE_STRING = 21,
    S7_TYPE_STRUCT = 23
};

/* Flag bytes that make a value an array. */
enum {
    S7_FLAG_ARRAY = 0x10,       /* elements keyed by position */
    S7_FLAG_ARRAY_KEYED = 0x20, /* elements carry a key */
    S7_FLAG_ARRAY_OTHER = 0x40  /* can be built, is refused when read */
};

/* Storage kinds. */
enum { S7_STORE_SCALAR = 0, S7_STORE_BYTES = 1, S7_STORE_ARRAY = 2, S7_STORE_STRUCT = 3, S7_STORE_PACKED = 4 };

typedef struct s7_value s7_value;

/*
 * Constructors. Each returns a new value owned by the caller, or null when
 * memory runs out. The flag byte is 0 except for arrays.
 */
S7_API s7_value* s7_value_new_null(void);
S7_API s7_value* s7_value_new_bool(uint8_t v); /* non-zero is stored as true */
S7_API s7_value* s7_value_new_u8(uint8_t v);
S7_API s7_value* s7_value_new_u16(uint16_t v);
S7_API s7_value* s7_value_new_u32(uint32_t v);
S7_API s7_value* s7_value_new_u64(uint64_t v);
S7_API s7_value* s7_value_new_i8(int8_t v);
S7_API s7_value* s7_value_new_i16(int16_t v);
S7_API s7_value* s7_value_new_i32(int32_t v);
S7_API s7_value* s7_value_new_i64(int64_t v);
S7_API s7_value* s7_value_new_bits8(uint8_t v);
S7_API s7_value* s7_value_new_bits16(uint16_t v);
S7_API s7_value* s7_value_new_bits32(uint32_t v);
S7_API s7_value* s7_value_new_bits64(uint64_t v);
S7_API s7_value* s7_value_new_f32(float v);
S7_API s7_value* s7_value_new_f64(double v);
S7_API s7_value* s7_value_new_u64_alt(uint64_t v);
S7_API s7_value* s7_value_new_i64_alt(int64_t v);
S7_API s7_value* s7_value_new_id32(uint32_t v);
S7_API s7_value* s7_value_new_id_vlq(uint32_t v);
/* Copies `length` bytes; no block is kept for length 0. Null for a non-zero
 * length with a null source. */
S7_API s7_value* s7_value_new_blob(const void* data, uint32_t length);
/* Copies `length` bytes and adds a terminating 0. Null for a non-zero length
 * with a null source. */
S7_API s7_value* s7_value_new_string(const char* text, uint32_t length);
/* A structure with the given identifier and no members. */
S7_API s7_value* s7_value_new_struct(uint32_t struct_id);
/* A packed structure: identifier, the 64-bit word that follows it, its
 * flags and a copy of the undecoded member bytes. */
S7_API s7_value* s7_value_new_packed(uint32_t struct_id, uint64_t packed_id64, uint32_t packed_flags, const void* data,
                                     uint32_t length);
/* An empty array of `element_type`; null unless `flag` is one of the
 * S7_FLAG_ARRAY* values. */
S7_API s7_value* s7_value_new_array(uint8_t element_type, uint8_t flag);

/* Releases the value and everything it owns. Null is allowed. */
S7_API void s7_value_free(s7_value* value);

S7_API uint8_t s7_value_type(const s7_value* value);  /* 0 for null */
S7_API uint8_t s7_value_flags(const s7_value* value); /* 0 for null */
S7_API void s7_value_set_flags(s7_value* value, uint8_t flags);
S7_API bool s7_value_is_array(const s7_value* value);
S7_API bool s7_value_is_struct(const s7_value* value);
S7_API bool s7_value_is_packed(const s7_value* value);

/*
 * Typed getters: S7_OK on success, S7_ERR_ARGUMENT when the output or value
 * is null, the value's type is not the getter's, its storage is not scalar
 * or its flag byte marks an array. No conversion between types; the output is written
 * only on success.
 */
S7_API uint8_t s7_value_get_bool(const s7_value* value, bool* out);
S7_API uint8_t s7_value_get_u8(const s7_value* value, uint8_t* out);
S7_API uint8_t s7_value_get_u16(const s7_value* value, uint16_t* out);
S7_API uint8_t s7_value_get_u32(const s7_value* value, uint32_t* out);
S7_API uint8_t s7_value_get_u64(const s7_value* value, uint64_t* out);
S7_API uint8_t s7_value_get_i8(const s7_value* value, int8_t* out);
S7_API uint8_t s7_value_get_i16(const s7_value* value, int16_t* out);
S7_API uint8_t s7_value_get_i32(const s7_value* value, int32_t* out);
S7_API uint8_t s7_value_get_i64(const s7_value* value, int64_t* out);
S7_API uint8_t s7_value_get_bits8(const s7_value* value, uint8_t* out);
S7_API uint8_t s7_value_get_bits16(const s7_value* value, uint16_t* out);
S7_API uint8_t s7_value_get_bits32(const s7_value* value, uint32_t* out);
S7_API uint8_t s7_value_get_bits64(const s7_value* value, uint64_t* out);
S7_API uint8_t s7_value_get_f32(const s7_value* value, float* out);
S7_API uint8_t s7_value_get_f64(const s7_value* value, double* out);
S7_API uint8_t s7_value_get_u64_alt(const s7_value* value, uint64_t* out);
S7_API uint8_t s7_value_get_i64_alt(const s7_value* value, int64_t* out);
S7_API uint8_t s7_value_get_id32(const s7_value* value, uint32_t* out);
S7_API uint8_t s7_value_get_id_vlq(const s7_value* value, uint32_t* out);

/* The byte block of a blob or string and its length (a string's length
 * without its terminating 0). The value keeps ownership. S7_OK unless the value
 * has that type and holds a byte run (S7_ERR_ARGUMENT otherwise). */
S7_API uint8_t s7_value_get_blob(const s7_value* value, const uint8_t** data, uint32_t* length);
S7_API uint8_t s7_value_get_string(const s7_value* value, const char** text, uint32_t* length);

/*
 * Arrays.
 *
 * An array of scalars - element type S7_TYPE_NULL to S7_TYPE_ID_VLQ - keeps
 * its elements as bare numbers side by side, each at its type's width (one
 * byte for BOOL and the 8-bit types, up to eight for the 64-bit ones): a big
 * array tag costs little more memory than its data. Its elements are no
 * s7_value of their own, so they are read with the element getters below;
 * s7_array_at and s7_array_entry_at give S7_ERR_ARGUMENT for such an array.
 * Arrays of strings, blobs and structures keep one value per element,
 * borrowed from the array through s7_array_at and s7_array_entry_at.
 */
S7_API uint32_t s7_array_count(const s7_value* value); /* 0 when not an array */
/* True for an array of scalars (elements read with the element getters). */
S7_API bool s7_array_holds_scalars(const s7_value* value);
/* The key of element `index`: its position in an array of flag
 * S7_FLAG_ARRAY, the key it was put under otherwise. Any array. */
S7_API uint8_t s7_array_key_at(const s7_value* value, uint32_t index, uint32_t* key);
/* The element value of an array of strings, blobs or structures, and its
 * key. */
S7_API uint8_t s7_array_at(const s7_value* value, uint32_t index, const s7_value** out);
S7_API uint8_t s7_array_entry_at(const s7_value* value, uint32_t index, uint32_t* key, const s7_value** out);
/* These three give S7_ERR_ARGUMENT for a value that is no array, an index
 * past the end or a null output; the last two also for an array of
 * scalars. */

/*
 * Element getters of an array of scalars, by the scalar getters' names and
 * conventions: S7_OK on success, S7_ERR_ARGUMENT when the output or array
 * is null, the value is no array, its element type is not the getter's or
 * the index is past the end. The output is written only on success.
 * s7_array_get_bits gives any element type's bit pattern: integers as their
 * two's complement and reals as their IEEE 754 bits, in the low bits of
 * the type's width and zero above; BOOL as 0 or 1; NULL as 0.
 */
S7_API uint8_t s7_array_get_bits(const s7_value* array, uint32_t index, uint64_t* bits);
S7_API uint8_t s7_array_get_bool(const s7_value* array, uint32_t index, bool* out);
S7_API uint8_t s7_array_get_u8(const s7_value* array, uint32_t index, uint8_t* out);
S7_API uint8_t s7_array_get_u16(const s7_value* array, uint32_t index, uint16_t* out);
S7_API uint8_t s7_array_get_u32(const s7_value* array, uint32_t index, uint32_t* out);
S7_API uint8_t s7_array_get_u64(const s7_value* array, uint32_t index, uint64_t* out);
S7_API uint8_t s7_array_get_i8(const s7_value* array, uint32_t index, int8_t* out);
S7_API uint8_t s7_array_get_i16(const s7_value* array, uint32_t index, int16_t* out);
S7_API uint8_t s7_array_get_i32(const s7_value* array, uint32_t index, int32_t* out);
S7_API uint8_t s7_array_get_i64(const s7_value* array, uint32_t index, int64_t* out);
S7_API uint8_t s7_array_get_bits8(const s7_value* array, uint32_t index, uint8_t* out);
S7_API uint8_t s7_array_get_bits16(const s7_value* array, uint32_t index, uint16_t* out);
S7_API uint8_t s7_array_get_bits32(const s7_value* array, uint32_t index, uint32_t* out);
S7_API uint8_t s7_array_get_bits64(const s7_value* array, uint32_t index, uint64_t* out);
S7_API uint8_t s7_array_get_f32(const s7_value* array, uint32_t index, float* out);
S7_API uint8_t s7_array_get_f64(const s7_value* array, uint32_t index, double* out);
S7_API uint8_t s7_array_get_u64_alt(const s7_value* array, uint32_t index, uint64_t* out);
S7_API uint8_t s7_array_get_i64_alt(const s7_value* array, uint32_t index, int64_t* out);
S7_API uint8_t s7_array_get_id32(const s7_value* array, uint32_t index, uint32_t* out);
S7_API uint8_t s7_array_get_id_vlq(const s7_value* array, uint32_t index, uint32_t* out);

/* Adds an element to an array of flag S7_FLAG_ARRAY with key = current
 * count. The array takes the element on success (S7_OK); an array of
 * scalars keeps only the element's number and frees the element at once
 * (its flag byte is not kept). On failure the caller keeps the element:
 * S7_ERR_ARGUMENT for a null argument, a value that is no such array, an
 * element of another type, an element of an array of scalars that is no
 * plain scalar (an array, or a value marked with an array flag) or a full
 * array; S7_ERR_NO_MEMORY when memory runs out. */
S7_API uint8_t s7_array_append(s7_value* array, s7_value* element);
/* The same for the other array flags, with the given key. */
S7_API uint8_t s7_array_put(s7_value* array, uint32_t key, s7_value* element);

/* Structures. Members are borrowed from the structure. */
S7_API uint32_t s7_struct_count(const s7_value* value); /* 0 when not a structure */
S7_API uint32_t s7_struct_id(const s7_value* value);    /* structure or packed; else 0 */
/* Replaces the member with `key` (freeing the old one) or appends it. The
 * structure takes the member on success; S7_ERR_ARGUMENT when the target is
 * no structure, the member is null or the list is full, S7_ERR_NO_MEMORY
 * when memory runs out. */
S7_API uint8_t s7_struct_set(s7_value* structure, uint32_t key, s7_value* member);
S7_API uint8_t s7_struct_member_at(const s7_value* structure, uint32_t index, uint32_t* key, const s7_value** out);
S7_API uint8_t s7_struct_find(const s7_value* structure, uint32_t key, const s7_value** out);
/* Both give S7_ERR_ARGUMENT for no such member or a null output. */
/* The parts of a packed structure; the data stays the value's. Any output
 * may be null. S7_ERR_ARGUMENT unless the value is packed. */
S7_API uint8_t s7_packed_get(const s7_value* value, uint32_t* struct_id, uint64_t* packed_id64, uint32_t* packed_flags,
                             const uint8_t** data, uint32_t* length);

/*
 * The text of a controller string that arrives as an array of S7_TYPE_U8:
 * element 0 the capacity, element 1 the current length, then the
 * characters. The copy stops at the length or at the last element. On
 * success (S7_OK) *text is a NUL-terminated block the caller releases with
 * s7_free. S7_ERR_ARGUMENT for a null argument or a value that is not an
 * array of S7_TYPE_U8; S7_ERR_NO_MEMORY when memory runs out.
 */
S7_API uint8_t s7_value_string_chars(const s7_value* value, char** text);

/* Releases a block the library handed out (such as a string_chars text or
 * the value array of a read). Null is allowed. */
S7_API void s7_free(void* block);

#ifdef __cplusplus
}
#endif

#endif /* VEMO_S7VALUE_H */

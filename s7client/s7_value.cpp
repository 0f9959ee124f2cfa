#include "s7_value.h"

#include "s7_memory.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint64_t kU32Max = 0xFFFFFFFFu;

s7_value* newValue(uint8_t type, uint32_t storage) {
    auto* v = static_cast<s7_value*>(s7_calloc(sizeof(s7_value)));
    if (v != nullptr) {
        v->type = type;
        v->storage = storage;
    }
    return v;
}

s7_value* newScalar(uint8_t type, s7_scalar scalar) {
    s7_value* v = newValue(type, S7_STORE_SCALAR);
    if (v != nullptr) {
        v->u.scalar = scalar;
    }
    return v;
}

bool isArrayFlag(uint8_t flags) {
    return flags == S7_FLAG_ARRAY || flags == S7_FLAG_ARRAY_KEYED || flags == S7_FLAG_ARRAY_OTHER;
}

// The shared precondition of the typed getters.
const s7_scalar* scalarOf(const s7_value* v, uint8_t type, const void* out) {
    if (out == nullptr || v == nullptr || v->type != type || v->storage != S7_STORE_SCALAR || isArrayFlag(v->flags)) {
        return nullptr;
    }
    return &v->u.scalar;
}

bool isPackedId(uint32_t id) {
    return (id >= S7_PACKED_ID_FIRST_A && id <= S7_PACKED_ID_LAST_A) ||
           (id >= S7_PACKED_ID_FIRST_B && id <= S7_PACKED_ID_LAST_B);
}

// Copies `length` bytes into a new block of length + `extra` zero-filled
// bytes; null when memory runs out. A zero total gives null with ok set.
uint8_t* copyBlock(const void* src, uint32_t length, uint32_t extra, bool* ok) {
    const size_t total = size_t{length} + extra;
    *ok = true;
    if (total == 0) {
        return nullptr;
    }
    auto* block = static_cast<uint8_t*>(s7_calloc(total));
    if (block == nullptr) {
        *ok = false;
        return nullptr;
    }
    if (length != 0) {
        std::memcpy(block, src, length);
    }
    return block;
}

// Appends one entry, growing the list by exactly one slot.
uint8_t appendEntry(s7_entry** entries, uint32_t* count, uint32_t key, s7_value* value) {
    if (*count == kU32Max) {
        return S7_ERR_ARGUMENT;
    }
    auto* grown = static_cast<s7_entry*>(s7_realloc(*entries, (size_t{*count} + 1) * sizeof(s7_entry)));
    if (grown == nullptr) {
        return S7_ERR_NO_MEMORY;
    }
    grown[*count] = s7_entry{key, value};
    *entries = grown;
    ++*count;
    return S7_OK;
}

// ---------------------------------------------------------------- decoding

s7_status decodeValueAt(s7_cursor* c, uint32_t depth, s7_value** out);
s7_status decodePayloadAt(s7_cursor* c, uint8_t type, uint8_t flags, uint32_t depth, s7_value** out);
s7_status decodeElementAt(s7_cursor* c, uint8_t type, uint32_t depth, s7_value** out);

// Unsigned VLQ that must fit 32 bits: 2 when cut short, 3 when too large.
s7_status readVlqU32(s7_cursor* c, uint32_t* out) {
    uint64_t v = 0;
    s7_status rc = s7_read_vlq64(c, &v);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    if (v > kU32Max) {
        return S7_STATUS_RANGE;
    }
    *out = static_cast<uint32_t>(v);
    return S7_STATUS_OK;
}

// Array body after the flag and type bytes: count, then the elements.
s7_status decodeArray(s7_cursor* c, uint8_t type, uint8_t flags, uint32_t depth, s7_value** out) {
    uint32_t count = 0;
    s7_status rc = readVlqU32(c, &count);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    // Every element takes at least one byte, except those of type 0, which
    // take none: no number of them can be justified by the bytes of the
    // body, so a non-empty array of them is refused. For the other types a
    // count the body cannot hold is refused before anything is reserved for
    // it; the decode would run out of bytes anyway, so the answer is the one
    // it would have given.
    if (type == S7_TYPE_NULL && count != 0) {
        return S7_STATUS_RANGE;
    }
    if (count > s7_remaining(c)) {
        return S7_STATUS_BOUNDS;
    }
    s7_value* array = newValue(type, S7_STORE_ARRAY);
    if (array == nullptr) {
        return S7_STATUS_NO_MEMORY;
    }
    array->flags = flags;
    if (count != 0) {
        array->u.array.entries = static_cast<s7_entry*>(s7_malloc(size_t{count} * sizeof(s7_entry)));
        if (array->u.array.entries == nullptr) {
            s7_value_free(array);
            return S7_STATUS_NO_MEMORY;
        }
    }
    for (uint32_t i = 0; i < count; ++i) {
        s7_value* element = nullptr;
        rc = decodeElementAt(c, type, depth + 1, &element);
        if (rc != S7_STATUS_OK) {
            s7_value_free(array);
            return rc;
        }
        array->u.array.entries[i] = s7_entry{i, element};
        array->u.array.count = i + 1;
    }
    *out = array;
    return S7_STATUS_OK;
}

s7_status decodePacked(s7_cursor* c, uint32_t id, s7_value** out) {
    uint32_t high = 0;
    uint32_t low = 0;
    uint32_t flags = 0;
    uint32_t length = 0;
    if (s7_read_u32(c, &high) != S7_STATUS_OK || s7_read_u32(c, &low) != S7_STATUS_OK ||
        readVlqU32(c, &flags) != S7_STATUS_OK || readVlqU32(c, &length) != S7_STATUS_OK) {
        return S7_STATUS_RANGE;
    }
    if ((flags & S7_PACKED_FLAG_LONG_LENGTH) != 0 && readVlqU32(c, &length) != S7_STATUS_OK) {
        return S7_STATUS_RANGE;
    }
    if (s7_remaining(c) < length) {
        return S7_STATUS_BOUNDS;
    }
    s7_value* v = s7_value_new_packed(id, (uint64_t{high} << 32) | low, flags, c->cur, length);
    if (v == nullptr) {
        return S7_STATUS_NO_MEMORY;
    }
    c->cur += length;
    *out = v;
    return S7_STATUS_OK;
}

s7_status decodeStruct(s7_cursor* c, uint32_t depth, s7_value** out) {
    if (depth >= S7_VALUE_MAX_DEPTH) {
        return S7_STATUS_RANGE;
    }
    uint32_t id = 0;
    s7_status rc = s7_read_u32(c, &id);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    if (isPackedId(id)) {
        return decodePacked(c, id, out);
    }
    s7_value* v = s7_value_new_struct(id);
    if (v == nullptr) {
        return S7_STATUS_NO_MEMORY;
    }
    // Members are collected in wire order with room doubling, and repeated
    // keys are collapsed once at the end: a per-member search would make a
    // long hostile member list quadratic.
    uint32_t capacity = 0;
    for (;;) {
        uint32_t key = 0;
        rc = readVlqU32(c, &key);
        if (rc != S7_STATUS_OK || key == 0) {
            break;
        }
        s7_value* member = nullptr;
        rc = decodeValueAt(c, depth + 1, &member);
        if (rc != S7_STATUS_OK) {
            break;
        }
        if (v->u.structure.member_count == capacity) {
            if (capacity > kU32Max / 2) {
                s7_value_free(member);
                rc = S7_STATUS_NO_MEMORY;
                break;
            }
            const uint32_t grown = capacity == 0 ? 8 : capacity * 2;
            auto* entries = static_cast<s7_entry*>(s7_realloc(v->u.structure.members, size_t{grown} * sizeof(s7_entry)));
            if (entries == nullptr) {
                s7_value_free(member);
                rc = S7_STATUS_NO_MEMORY;
                break;
            }
            v->u.structure.members = entries;
            capacity = grown;
        }
        v->u.structure.members[v->u.structure.member_count++] = s7_entry{key, member};
    }
    if (rc == S7_STATUS_OK) {
        rc = s7_entries_keep_last(v->u.structure.members, &v->u.structure.member_count);
    }
    if (rc != S7_STATUS_OK) {
        s7_value_free(v);
        return rc;
    }
    *out = v;
    return S7_STATUS_OK;
}

s7_status decodeBlob(s7_cursor* c, s7_value** out) {
    uint64_t header = 0;
    if (s7_read_vlq64(c, &header) != S7_STATUS_OK) {
        return S7_STATUS_RANGE;
    }
    if (header != 0) {
        uint32_t word = 0;
        uint8_t kind = 0;
        if (s7_read_u32(c, &word) != S7_STATUS_OK || s7_read_u32(c, &word) != S7_STATUS_OK ||
            s7_read_u8(c, &kind) != S7_STATUS_OK || (kind != 2 && kind != 3)) {
            return S7_STATUS_RANGE;
        }
    }
    uint32_t length = 0;
    s7_status rc = readVlqU32(c, &length);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    if (s7_remaining(c) < length) {
        return S7_STATUS_BOUNDS;
    }
    s7_value* v = s7_value_new_blob(c->cur, length);
    if (v == nullptr) {
        return S7_STATUS_NO_MEMORY;
    }
    c->cur += length;
    *out = v;
    return S7_STATUS_OK;
}

s7_status decodeString(s7_cursor* c, s7_value** out) {
    uint32_t length = 0;
    if (s7_read_vlq32(c, &length) != S7_STATUS_OK) {
        return S7_STATUS_RANGE;
    }
    if (s7_remaining(c) < length) {
        return S7_STATUS_BOUNDS;
    }
    s7_value* v = s7_value_new_string(reinterpret_cast<const char*>(c->cur), length);
    if (v == nullptr) {
        return S7_STATUS_NO_MEMORY;
    }
    c->cur += length;
    *out = v;
    return S7_STATUS_OK;
}

// Reads a fixed-width or VLQ scalar of `type` into `scalar`.
s7_status readScalar(s7_cursor* c, uint8_t type, s7_scalar* scalar) {
    s7_status rc = S7_STATUS_OK;
    switch (type) {
    case S7_TYPE_NULL:
        break;
    case S7_TYPE_BOOL: {
        uint8_t b = 0;
        rc = s7_read_u8(c, &b);
        scalar->b = b != 0;
        break;
    }
    case S7_TYPE_U8:
    case S7_TYPE_BITS8:
        rc = s7_read_u8(c, &scalar->u8);
        break;
    case S7_TYPE_I8: {
        uint8_t b = 0;
        rc = s7_read_u8(c, &b);
        scalar->i8 = static_cast<int8_t>(b);
        break;
    }
    case S7_TYPE_U16:
    case S7_TYPE_BITS16:
        rc = s7_read_u16(c, &scalar->u16);
        break;
    case S7_TYPE_I16: {
        uint16_t w = 0;
        rc = s7_read_u16(c, &w);
        scalar->i16 = static_cast<int16_t>(w);
        break;
    }
    case S7_TYPE_U32:
    case S7_TYPE_ID_VLQ:
        rc = readVlqU32(c, &scalar->u32);
        break;
    case S7_TYPE_U64:
    case S7_TYPE_U64_ALT:
        rc = s7_read_vlq64(c, &scalar->u64);
        break;
    case S7_TYPE_I32: {
        int64_t v = 0;
        rc = s7_read_svlq64(c, &v);
        if (rc == S7_STATUS_OK && (v < INT32_MIN || v > INT32_MAX)) {
            rc = S7_STATUS_RANGE;
        }
        scalar->i32 = static_cast<int32_t>(v);
        break;
    }
    case S7_TYPE_I64:
    case S7_TYPE_I64_ALT:
        rc = s7_read_svlq64(c, &scalar->i64);
        break;
    case S7_TYPE_BITS32:
    case S7_TYPE_ID32:
        rc = s7_read_u32(c, &scalar->u32);
        break;
    case S7_TYPE_F32: {
        uint32_t bits = 0;
        rc = s7_read_u32(c, &bits);
        std::memcpy(&scalar->f32, &bits, sizeof bits);
        break;
    }
    case S7_TYPE_BITS64:
    case S7_TYPE_F64: {
        uint32_t high = 0;
        uint32_t low = 0;
        rc = s7_read_u32(c, &high);
        if (rc == S7_STATUS_OK) {
            rc = s7_read_u32(c, &low);
        }
        const uint64_t bits = (uint64_t{high} << 32) | low;
        if (type == S7_TYPE_F64) {
            std::memcpy(&scalar->f64, &bits, sizeof bits);
        } else {
            scalar->u64 = bits;
        }
        break;
    }
    default:
        rc = S7_STATUS_RANGE;
        break;
    }
    return rc;
}

s7_status decodePayloadAt(s7_cursor* c, uint8_t type, uint8_t flags, uint32_t depth, s7_value** out) {
    s7_value* v = nullptr;
    s7_status rc = S7_STATUS_OK;
    if (type == S7_TYPE_BLOB) {
        rc = decodeBlob(c, &v);
    } else if (type == S7_TYPE_STRING) {
        rc = decodeString(c, &v);
    } else if (type == S7_TYPE_STRUCT) {
        rc = decodeStruct(c, depth, &v);
    } else {
        s7_scalar scalar{};
        rc = readScalar(c, type, &scalar);
        if (rc == S7_STATUS_OK) {
            v = newScalar(type, scalar);
            rc = v != nullptr ? S7_STATUS_OK : S7_STATUS_NO_MEMORY;
        }
    }
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    v->flags = flags;
    *out = v;
    return S7_STATUS_OK;
}

s7_status decodeElementAt(s7_cursor* c, uint8_t type, uint32_t depth, s7_value** out) {
    if (type == S7_TYPE_BITS32 || type == S7_TYPE_ID32 || type == S7_TYPE_BITS64) {
        s7_scalar scalar{};
        s7_status rc = type == S7_TYPE_BITS64 ? s7_read_vlq64(c, &scalar.u64) : readVlqU32(c, &scalar.u32);
        if (rc != S7_STATUS_OK) {
            return rc;
        }
        s7_value* v = newScalar(type, scalar);
        if (v == nullptr) {
            return S7_STATUS_NO_MEMORY;
        }
        *out = v;
        return S7_STATUS_OK;
    }
    return decodePayloadAt(c, type, 0, depth, out);
}

s7_status decodeValueAt(s7_cursor* c, uint32_t depth, s7_value** out) {
    if (depth >= S7_VALUE_MAX_DEPTH) {
        return S7_STATUS_RANGE;
    }
    uint8_t flags = 0;
    uint8_t type = 0;
    s7_status rc = s7_read_u8(c, &flags);
    if (rc == S7_STATUS_OK) {
        rc = s7_read_u8(c, &type);
    }
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    if (flags == S7_FLAG_ARRAY || flags == S7_FLAG_ARRAY_KEYED) {
        return decodeArray(c, type, flags, depth, out);
    }
    if (flags == S7_FLAG_ARRAY_OTHER) {
        return S7_STATUS_RANGE;
    }
    return decodePayloadAt(c, type, flags, depth, out);
}

// ---------------------------------------------------------------- sizes

// Size of what encodeValueAt / encodePayloadAt / encodeElementAt write, with
// `ok` cleared when they would refuse. Sums run in 64 bits; a total that does
// not fit 32 bits cannot be written either.
uint64_t valueSizeAt(const s7_value* v, uint32_t depth, bool* ok);
uint64_t elementSizeAt(const s7_value* v, uint32_t depth, bool* ok);

uint64_t payloadSizeAt(const s7_value* v, uint32_t depth, bool* ok) {
    if (v == nullptr) {
        *ok = false;
        return 0;
    }
    if (v->type == S7_TYPE_STRUCT) {
        if (depth >= S7_VALUE_MAX_DEPTH) {
            *ok = false;
            return 0;
        }
        if (v->storage == S7_STORE_PACKED) {
            if ((v->u.packed.packed_flags & S7_PACKED_FLAG_LONG_LENGTH) != 0) {
                *ok = false;
                return 0;
            }
            return 12 + uint64_t{s7_vlq_size(v->u.packed.packed_flags)} + s7_vlq_size(v->u.packed.length) +
                   v->u.packed.length;
        }
        if (v->storage != S7_STORE_STRUCT) {
            *ok = false;
            return 0;
        }
        uint64_t size = 4 + 1;
        for (uint32_t i = 0; i < v->u.structure.member_count; ++i) {
            const s7_entry& e = v->u.structure.members[i];
            // Key 0 ends a member list on the wire; a member under it would
            // be misread by the controller.
            if (e.key == 0) {
                *ok = false;
                return 0;
            }
            size += s7_vlq_size(e.key) + valueSizeAt(e.value, depth + 1, ok);
        }
        return size;
    }
    if (v->type == S7_TYPE_BLOB || v->type == S7_TYPE_STRING) {
        if (v->storage != S7_STORE_BYTES) {
            *ok = false;
            return 0;
        }
        const uint64_t len = v->u.bytes.length;
        return (v->type == S7_TYPE_BLOB ? 1 : 0) + s7_vlq_size(len) + len;
    }
    if (v->storage != S7_STORE_SCALAR || isArrayFlag(v->flags)) {
        *ok = false;
        return 0;
    }
    const s7_scalar& s = v->u.scalar;
    switch (v->type) {
    case S7_TYPE_NULL:
        return 0;
    case S7_TYPE_BOOL:
    case S7_TYPE_U8:
    case S7_TYPE_I8:
    case S7_TYPE_BITS8:
        return 1;
    case S7_TYPE_U16:
    case S7_TYPE_I16:
    case S7_TYPE_BITS16:
        return 2;
    case S7_TYPE_U32:
    case S7_TYPE_ID_VLQ:
        return s7_vlq_size(s.u32);
    case S7_TYPE_U64:
    case S7_TYPE_U64_ALT:
        return s7_vlq_size(s.u64);
    case S7_TYPE_I32:
        return s7_svlq_size32(s.i32);
    case S7_TYPE_I64:
    case S7_TYPE_I64_ALT:
        return s7_svlq_size64(s.i64);
    case S7_TYPE_BITS32:
    case S7_TYPE_F32:
    case S7_TYPE_ID32:
        return 4;
    case S7_TYPE_BITS64:
    case S7_TYPE_F64:
        return 8;
    default:
        *ok = false;
        return 0;
    }
}

uint64_t elementSizeAt(const s7_value* v, uint32_t depth, bool* ok) {
    if (v == nullptr) {
        *ok = false;
        return 0;
    }
    if (v->type == S7_TYPE_BITS32 || v->type == S7_TYPE_ID32 || v->type == S7_TYPE_BITS64) {
        if (v->storage != S7_STORE_SCALAR || isArrayFlag(v->flags)) {
            *ok = false;
            return 0;
        }
        return v->type == S7_TYPE_BITS64 ? s7_vlq_size(v->u.scalar.u64) : s7_vlq_size(v->u.scalar.u32);
    }
    // The reader takes a blob element as a bare payload while the writer
    // would put flag and type bytes before it: such an array cannot travel
    // both ways, so it is not written at all.
    if (v->type == S7_TYPE_BLOB) {
        *ok = false;
        return 0;
    }
    return payloadSizeAt(v, depth, ok);
}

uint64_t valueSizeAt(const s7_value* v, uint32_t depth, bool* ok) {
    if (v == nullptr || depth >= S7_VALUE_MAX_DEPTH) {
        *ok = false;
        return 0;
    }
    if (v->storage == S7_STORE_ARRAY) {
        uint64_t size = 2 + uint64_t{s7_vlq_size(v->u.array.count)};
        for (uint32_t i = 0; i < v->u.array.count; ++i) {
            const s7_value* e = v->u.array.entries[i].value;
            if (e == nullptr || e->type != v->type) {
                *ok = false;
                return 0;
            }
            size += elementSizeAt(e, depth + 1, ok);
        }
        return size;
    }
    return 2 + payloadSizeAt(v, depth, ok);
}

uint32_t toSize(uint64_t size, bool ok) { return ok && size <= kU32Max ? static_cast<uint32_t>(size) : 0; }

// ---------------------------------------------------------------- encoding

s7_status encodeValueAt(s7_cursor* c, const s7_value* v, uint32_t depth);
s7_status encodeElementAt(s7_cursor* c, const s7_value* v, uint32_t depth);

s7_status encodePayloadAt(s7_cursor* c, const s7_value* v, uint32_t depth) {
    // Each refusal here matches a refusal of the size walk, so that a value
    // the builders cannot size is never half written.
    if (v == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    s7_status rc = S7_STATUS_OK;
    if (v->type == S7_TYPE_STRUCT) {
        if (depth >= S7_VALUE_MAX_DEPTH) {
            return S7_STATUS_ARGUMENT;
        }
        if (v->storage == S7_STORE_PACKED) {
            if ((v->u.packed.packed_flags & S7_PACKED_FLAG_LONG_LENGTH) != 0) {
                return S7_STATUS_ARGUMENT;
            }
            rc = s7_write_u32(c, v->u.packed.struct_id);
            if (rc == S7_STATUS_OK) rc = s7_write_u64(c, v->u.packed.packed_id64);
            if (rc == S7_STATUS_OK) rc = s7_write_vlq64(c, v->u.packed.packed_flags);
            if (rc == S7_STATUS_OK) rc = s7_write_vlq64(c, v->u.packed.length);
            if (rc == S7_STATUS_OK) rc = s7_write_bytes(c, v->u.packed.data, v->u.packed.length);
            return rc;
        }
        if (v->storage != S7_STORE_STRUCT) {
            return S7_STATUS_ARGUMENT;
        }
        rc = s7_write_u32(c, v->u.structure.struct_id);
        for (uint32_t i = 0; rc == S7_STATUS_OK && i < v->u.structure.member_count; ++i) {
            const s7_entry& e = v->u.structure.members[i];
            rc = e.key != 0 ? s7_write_vlq64(c, e.key) : S7_STATUS_ARGUMENT;
            if (rc == S7_STATUS_OK) {
                rc = encodeValueAt(c, e.value, depth + 1);
            }
        }
        if (rc == S7_STATUS_OK) rc = s7_write_u8(c, 0);
        return rc;
    }
    if (v->type == S7_TYPE_BLOB || v->type == S7_TYPE_STRING) {
        if (v->storage != S7_STORE_BYTES) {
            return S7_STATUS_ARGUMENT;
        }
        if (v->type == S7_TYPE_BLOB) rc = s7_write_vlq64(c, 0);
        if (rc == S7_STATUS_OK) rc = s7_write_vlq64(c, v->u.bytes.length);
        if (rc == S7_STATUS_OK) rc = s7_write_bytes(c, v->u.bytes.data, v->u.bytes.length);
        return rc;
    }
    if (v->storage != S7_STORE_SCALAR || isArrayFlag(v->flags)) {
        return S7_STATUS_ARGUMENT;
    }
    const s7_scalar& s = v->u.scalar;
    switch (v->type) {
    case S7_TYPE_NULL:
        return S7_STATUS_OK;
    case S7_TYPE_BOOL:
        return s7_write_u8(c, s.b ? 1 : 0);
    case S7_TYPE_U8:
    case S7_TYPE_BITS8:
        return s7_write_u8(c, s.u8);
    case S7_TYPE_I8:
        return s7_write_u8(c, static_cast<uint8_t>(s.i8));
    case S7_TYPE_U16:
    case S7_TYPE_BITS16:
        return s7_write_u16(c, s.u16);
    case S7_TYPE_I16:
        return s7_write_u16(c, static_cast<uint16_t>(s.i16));
    case S7_TYPE_U32:
    case S7_TYPE_ID_VLQ:
        return s7_write_vlq64(c, s.u32);
    case S7_TYPE_U64:
    case S7_TYPE_U64_ALT:
        return s7_write_vlq64(c, s.u64);
    case S7_TYPE_I32:
        return s7_write_svlq64(c, s.i32);
    case S7_TYPE_I64:
    case S7_TYPE_I64_ALT:
        return s7_write_svlq64(c, s.i64);
    case S7_TYPE_BITS32:
    case S7_TYPE_ID32:
        return s7_write_u32(c, s.u32);
    case S7_TYPE_F32: {
        uint32_t bits = 0;
        std::memcpy(&bits, &s.f32, sizeof bits);
        return s7_write_u32(c, bits);
    }
    case S7_TYPE_BITS64:
        return s7_write_u64(c, s.u64);
    case S7_TYPE_F64: {
        uint64_t bits = 0;
        std::memcpy(&bits, &s.f64, sizeof bits);
        return s7_write_u64(c, bits);
    }
    default:
        return S7_STATUS_ARGUMENT;
    }
}

s7_status encodeElementAt(s7_cursor* c, const s7_value* v, uint32_t depth) {
    if (v == nullptr || v->type == S7_TYPE_BLOB) {
        return S7_STATUS_ARGUMENT;
    }
    if (v->type == S7_TYPE_BITS32 || v->type == S7_TYPE_ID32 || v->type == S7_TYPE_BITS64) {
        if (v->storage != S7_STORE_SCALAR || isArrayFlag(v->flags)) {
            return S7_STATUS_ARGUMENT;
        }
        return s7_write_vlq64(c, v->type == S7_TYPE_BITS64 ? v->u.scalar.u64 : v->u.scalar.u32);
    }
    return encodePayloadAt(c, v, depth);
}

s7_status encodeValueAt(s7_cursor* c, const s7_value* v, uint32_t depth) {
    if (v == nullptr || depth >= S7_VALUE_MAX_DEPTH) {
        return S7_STATUS_ARGUMENT;
    }
    s7_status rc = s7_write_u8(c, v->flags);
    if (rc == S7_STATUS_OK) rc = s7_write_u8(c, v->type);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    if (v->storage != S7_STORE_ARRAY) {
        return encodePayloadAt(c, v, depth);
    }
    rc = s7_write_vlq64(c, v->u.array.count);
    for (uint32_t i = 0; rc == S7_STATUS_OK && i < v->u.array.count; ++i) {
        const s7_value* e = v->u.array.entries[i].value;
        rc = e != nullptr && e->type == v->type ? encodeElementAt(c, e, depth + 1) : S7_STATUS_ARGUMENT;
    }
    return rc;
}

void freeBlock(s7_value* v) {
    switch (v->storage) {
    case S7_STORE_BYTES:
        s7_free(v->u.bytes.data);
        break;
    case S7_STORE_ARRAY:
        s7_entries_free(v->u.array.entries, v->u.array.count);
        break;
    case S7_STORE_STRUCT:
        s7_entries_free(v->u.structure.members, v->u.structure.member_count);
        break;
    case S7_STORE_PACKED:
        s7_free(v->u.packed.data);
        break;
    default:
        break;
    }
}

} // namespace

extern "C" {

// ---------------------------------------------------------------- constructors

s7_value* s7_value_new_null(void) { return newValue(S7_TYPE_NULL, S7_STORE_SCALAR); }

s7_value* s7_value_new_bool(uint8_t v) {
    s7_scalar s{};
    s.b = v != 0;
    return newScalar(S7_TYPE_BOOL, s);
}

#define S7_SCALAR_CONSTRUCTOR(name, type_id, ctype, field) \
    s7_value* s7_value_new_##name(ctype v) {                 \
        s7_scalar s{};                                       \
        s.field = v;                                         \
        return newScalar(type_id, s);                        \
    }

S7_SCALAR_CONSTRUCTOR(u8, S7_TYPE_U8, uint8_t, u8)
S7_SCALAR_CONSTRUCTOR(u16, S7_TYPE_U16, uint16_t, u16)
S7_SCALAR_CONSTRUCTOR(u32, S7_TYPE_U32, uint32_t, u32)
S7_SCALAR_CONSTRUCTOR(u64, S7_TYPE_U64, uint64_t, u64)
S7_SCALAR_CONSTRUCTOR(i8, S7_TYPE_I8, int8_t, i8)
S7_SCALAR_CONSTRUCTOR(i16, S7_TYPE_I16, int16_t, i16)
S7_SCALAR_CONSTRUCTOR(i32, S7_TYPE_I32, int32_t, i32)
S7_SCALAR_CONSTRUCTOR(i64, S7_TYPE_I64, int64_t, i64)
S7_SCALAR_CONSTRUCTOR(bits8, S7_TYPE_BITS8, uint8_t, u8)
S7_SCALAR_CONSTRUCTOR(bits16, S7_TYPE_BITS16, uint16_t, u16)
S7_SCALAR_CONSTRUCTOR(bits32, S7_TYPE_BITS32, uint32_t, u32)
S7_SCALAR_CONSTRUCTOR(bits64, S7_TYPE_BITS64, uint64_t, u64)
S7_SCALAR_CONSTRUCTOR(f32, S7_TYPE_F32, float, f32)
S7_SCALAR_CONSTRUCTOR(f64, S7_TYPE_F64, double, f64)
S7_SCALAR_CONSTRUCTOR(u64_alt, S7_TYPE_U64_ALT, uint64_t, u64)
S7_SCALAR_CONSTRUCTOR(i64_alt, S7_TYPE_I64_ALT, int64_t, i64)
S7_SCALAR_CONSTRUCTOR(id32, S7_TYPE_ID32, uint32_t, u32)
S7_SCALAR_CONSTRUCTOR(id_vlq, S7_TYPE_ID_VLQ, uint32_t, u32)

#undef S7_SCALAR_CONSTRUCTOR

s7_value* s7_value_new_blob(const void* data, uint32_t length) {
    if (length != 0 && data == nullptr) {
        return nullptr;
    }
    bool ok = false;
    uint8_t* block = copyBlock(data, length, 0, &ok);
    if (!ok) {
        return nullptr;
    }
    s7_value* v = newValue(S7_TYPE_BLOB, S7_STORE_BYTES);
    if (v == nullptr) {
        s7_free(block);
        return nullptr;
    }
    v->u.bytes.data = block;
    v->u.bytes.length = length;
    return v;
}

s7_value* s7_value_new_string(const char* text, uint32_t length) {
    if (length != 0 && text == nullptr) {
        return nullptr;
    }
    bool ok = false;
    uint8_t* block = copyBlock(text, length, 1, &ok);
    if (!ok) {
        return nullptr;
    }
    s7_value* v = newValue(S7_TYPE_STRING, S7_STORE_BYTES);
    if (v == nullptr) {
        s7_free(block);
        return nullptr;
    }
    v->u.bytes.data = block;
    v->u.bytes.length = length;
    return v;
}

s7_value* s7_value_new_struct(uint32_t struct_id) {
    s7_value* v = newValue(S7_TYPE_STRUCT, S7_STORE_STRUCT);
    if (v != nullptr) {
        v->u.structure.struct_id = struct_id;
    }
    return v;
}

s7_value* s7_value_new_packed(uint32_t struct_id, uint64_t packed_id64, uint32_t packed_flags, const void* data,
                              uint32_t length) {
    if (length != 0 && data == nullptr) {
        return nullptr;
    }
    bool ok = false;
    uint8_t* block = copyBlock(data, length, 0, &ok);
    if (!ok) {
        return nullptr;
    }
    s7_value* v = newValue(S7_TYPE_STRUCT, S7_STORE_PACKED);
    if (v == nullptr) {
        s7_free(block);
        return nullptr;
    }
    v->u.packed.struct_id = struct_id;
    v->u.packed.packed_id64 = packed_id64;
    v->u.packed.packed_flags = packed_flags;
    v->u.packed.data = block;
    v->u.packed.length = length;
    return v;
}

s7_value* s7_value_new_array(uint8_t element_type, uint8_t flag) {
    if (!isArrayFlag(flag)) {
        return nullptr;
    }
    s7_value* v = newValue(element_type, S7_STORE_ARRAY);
    if (v != nullptr) {
        v->flags = flag;
    }
    return v;
}

void s7_value_free(s7_value* value) {
    if (value == nullptr) {
        return;
    }
    freeBlock(value);
    std::memset(value, 0, sizeof *value);
    s7_free(value);
}

void s7_entries_free(s7_entry* entries, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        s7_value_free(entries[i].value);
    }
    s7_free(entries);
}

s7_status s7_entries_keep_last(s7_entry* entries, uint32_t* count) {
    if (count == nullptr || *count < 2) {
        return S7_STATUS_OK;
    }
    const uint32_t n = *count;
    // Positions ordered by (key, position): each key's run starts at its
    // first position and ends at its last, whose value wins.
    auto* order = static_cast<uint32_t*>(s7_malloc(size_t{n} * sizeof(uint32_t)));
    if (order == nullptr) {
        return S7_STATUS_NO_MEMORY;
    }
    for (uint32_t i = 0; i < n; ++i) {
        order[i] = i;
    }
    std::sort(order, order + n, [entries](uint32_t a, uint32_t b) {
        return entries[a].key != entries[b].key ? entries[a].key < entries[b].key : a < b;
    });
    bool dropped = false;
    for (uint32_t i = 0; i < n;) {
        uint32_t j = i + 1;
        while (j < n && entries[order[j]].key == entries[order[i]].key) {
            ++j;
        }
        if (j - i > 1) {
            s7_entry& first = entries[order[i]];
            s7_value_free(first.value);
            first.value = entries[order[j - 1]].value;
            for (uint32_t k = i + 1; k < j; ++k) {
                if (k != j - 1) {
                    s7_value_free(entries[order[k]].value);
                }
                entries[order[k]].value = nullptr;
            }
            dropped = true;
        }
        i = j;
    }
    s7_free(order);
    if (dropped) {
        uint32_t kept = 0;
        for (uint32_t i = 0; i < n; ++i) {
            if (entries[i].value != nullptr) {
                entries[kept++] = entries[i];
            }
        }
        *count = kept;
    }
    return S7_STATUS_OK;
}

// ---------------------------------------------------------------- accessors

uint8_t s7_value_type(const s7_value* value) { return value != nullptr ? value->type : 0; }

uint8_t s7_value_flags(const s7_value* value) { return value != nullptr ? value->flags : 0; }

void s7_value_set_flags(s7_value* value, uint8_t flags) {
    if (value != nullptr) {
        value->flags = flags;
    }
}

bool s7_value_is_array(const s7_value* value) { return value != nullptr && value->storage == S7_STORE_ARRAY; }
bool s7_value_is_struct(const s7_value* value) { return value != nullptr && value->storage == S7_STORE_STRUCT; }
bool s7_value_is_packed(const s7_value* value) { return value != nullptr && value->storage == S7_STORE_PACKED; }

#define S7_SCALAR_GETTER(name, type_id, ctype, field)                   \
    uint8_t s7_value_get_##name(const s7_value* value, ctype* out) {   \
        const s7_scalar* s = scalarOf(value, type_id, out);             \
        if (s == nullptr) {                                             \
            return S7_ERR_ARGUMENT;                                                   \
        }                                                               \
        *out = s->field;                                                \
        return S7_OK;                                                       \
    }

S7_SCALAR_GETTER(bool, S7_TYPE_BOOL, bool, b)
S7_SCALAR_GETTER(u8, S7_TYPE_U8, uint8_t, u8)
S7_SCALAR_GETTER(u16, S7_TYPE_U16, uint16_t, u16)
S7_SCALAR_GETTER(u32, S7_TYPE_U32, uint32_t, u32)
S7_SCALAR_GETTER(u64, S7_TYPE_U64, uint64_t, u64)
S7_SCALAR_GETTER(i8, S7_TYPE_I8, int8_t, i8)
S7_SCALAR_GETTER(i16, S7_TYPE_I16, int16_t, i16)
S7_SCALAR_GETTER(i32, S7_TYPE_I32, int32_t, i32)
S7_SCALAR_GETTER(i64, S7_TYPE_I64, int64_t, i64)
S7_SCALAR_GETTER(bits8, S7_TYPE_BITS8, uint8_t, u8)
S7_SCALAR_GETTER(bits16, S7_TYPE_BITS16, uint16_t, u16)
S7_SCALAR_GETTER(bits32, S7_TYPE_BITS32, uint32_t, u32)
S7_SCALAR_GETTER(bits64, S7_TYPE_BITS64, uint64_t, u64)
S7_SCALAR_GETTER(f32, S7_TYPE_F32, float, f32)
S7_SCALAR_GETTER(f64, S7_TYPE_F64, double, f64)
S7_SCALAR_GETTER(u64_alt, S7_TYPE_U64_ALT, uint64_t, u64)
S7_SCALAR_GETTER(i64_alt, S7_TYPE_I64_ALT, int64_t, i64)
S7_SCALAR_GETTER(id32, S7_TYPE_ID32, uint32_t, u32)
S7_SCALAR_GETTER(id_vlq, S7_TYPE_ID_VLQ, uint32_t, u32)

#undef S7_SCALAR_GETTER

uint8_t s7_value_get_blob(const s7_value* value, const uint8_t** data, uint32_t* length) {
    if (value == nullptr || data == nullptr || length == nullptr || value->type != S7_TYPE_BLOB ||
        value->storage != S7_STORE_BYTES) {
        return S7_ERR_ARGUMENT;
    }
    *data = value->u.bytes.data;
    *length = value->u.bytes.length;
    return S7_OK;
}

uint8_t s7_value_get_string(const s7_value* value, const char** text, uint32_t* length) {
    if (value == nullptr || text == nullptr || length == nullptr || value->type != S7_TYPE_STRING ||
        value->storage != S7_STORE_BYTES) {
        return S7_ERR_ARGUMENT;
    }
    *text = reinterpret_cast<const char*>(value->u.bytes.data);
    *length = value->u.bytes.length;
    return S7_OK;
}

uint32_t s7_array_count(const s7_value* value) { return s7_value_is_array(value) ? value->u.array.count : 0; }

uint8_t s7_array_entry_at(const s7_value* value, uint32_t index, uint32_t* key, const s7_value** out) {
    if (!s7_value_is_array(value) || index >= value->u.array.count || out == nullptr) {
        return S7_ERR_ARGUMENT;
    }
    if (key != nullptr) {
        *key = value->u.array.entries[index].key;
    }
    *out = value->u.array.entries[index].value;
    return S7_OK;
}

uint8_t s7_array_at(const s7_value* value, uint32_t index, const s7_value** out) {
    return s7_array_entry_at(value, index, nullptr, out);
}

uint8_t s7_array_append(s7_value* array, s7_value* element) {
    if (!s7_value_is_array(array) || element == nullptr || array->flags != S7_FLAG_ARRAY ||
        element->type != array->type) {
        return S7_ERR_ARGUMENT;
    }
    return appendEntry(&array->u.array.entries, &array->u.array.count, array->u.array.count, element);
}

uint8_t s7_array_put(s7_value* array, uint32_t key, s7_value* element) {
    if (!s7_value_is_array(array) || element == nullptr || array->flags == S7_FLAG_ARRAY ||
        element->type != array->type) {
        return S7_ERR_ARGUMENT;
    }
    return appendEntry(&array->u.array.entries, &array->u.array.count, key, element);
}

uint32_t s7_struct_count(const s7_value* value) {
    return s7_value_is_struct(value) ? value->u.structure.member_count : 0;
}

uint32_t s7_struct_id(const s7_value* value) {
    if (s7_value_is_struct(value)) {
        return value->u.structure.struct_id;
    }
    return s7_value_is_packed(value) ? value->u.packed.struct_id : 0;
}

uint8_t s7_struct_set(s7_value* structure, uint32_t key, s7_value* member) {
    if (!s7_value_is_struct(structure) || member == nullptr) {
        return S7_ERR_ARGUMENT;
    }
    for (uint32_t i = 0; i < structure->u.structure.member_count; ++i) {
        s7_entry& e = structure->u.structure.members[i];
        if (e.key == key) {
            if (e.value != member) {
                s7_value_free(e.value);
                e.value = member;
            }
            return S7_OK;
        }
    }
    return appendEntry(&structure->u.structure.members, &structure->u.structure.member_count, key, member);
}

uint8_t s7_struct_member_at(const s7_value* structure, uint32_t index, uint32_t* key, const s7_value** out) {
    if (!s7_value_is_struct(structure) || index >= structure->u.structure.member_count || out == nullptr) {
        return S7_ERR_ARGUMENT;
    }
    if (key != nullptr) {
        *key = structure->u.structure.members[index].key;
    }
    *out = structure->u.structure.members[index].value;
    return S7_OK;
}

uint8_t s7_struct_find(const s7_value* structure, uint32_t key, const s7_value** out) {
    if (!s7_value_is_struct(structure) || out == nullptr) {
        return S7_ERR_ARGUMENT;
    }
    for (uint32_t i = 0; i < structure->u.structure.member_count; ++i) {
        if (structure->u.structure.members[i].key == key) {
            *out = structure->u.structure.members[i].value;
            return S7_OK;
        }
    }
    return S7_ERR_ARGUMENT;
}

uint8_t s7_packed_get(const s7_value* value, uint32_t* struct_id, uint64_t* packed_id64, uint32_t* packed_flags,
                      const uint8_t** data, uint32_t* length) {
    if (!s7_value_is_packed(value)) {
        return S7_ERR_ARGUMENT;
    }
    if (struct_id != nullptr) *struct_id = value->u.packed.struct_id;
    if (packed_id64 != nullptr) *packed_id64 = value->u.packed.packed_id64;
    if (packed_flags != nullptr) *packed_flags = value->u.packed.packed_flags;
    if (data != nullptr) *data = value->u.packed.data;
    if (length != nullptr) *length = value->u.packed.length;
    return S7_OK;
}

uint8_t s7_value_string_chars(const s7_value* value, char** text) {
    if (text == nullptr || !s7_value_is_array(value) || value->type != S7_TYPE_U8) {
        return S7_ERR_ARGUMENT;
    }
    const uint32_t count = value->u.array.count;
    uint8_t length = 0;
    if (count > 2) {
        // Element 1 holds the current length; element 0, the capacity, is
        // not needed to copy the characters.
        if (s7_value_get_u8(value->u.array.entries[1].value, &length) != S7_OK) {
            return S7_ERR_ENCODE;
        }
    }
    char* block = static_cast<char*>(s7_calloc(size_t{length} + 1));
    if (block == nullptr) {
        return S7_ERR_NO_MEMORY;
    }
    for (uint32_t i = 0; i < length && i + 2 < count; ++i) {
        uint8_t ch = 0;
        if (s7_value_get_u8(value->u.array.entries[i + 2].value, &ch) != S7_OK) {
            s7_free(block);
            return S7_ERR_ENCODE;
        }
        block[i] = static_cast<char>(ch);
    }
    *text = block;
    return S7_OK;
}

// ---------------------------------------------------------------- codec

s7_status s7_decode_value(s7_cursor* c, s7_value** out) {
    if (c == nullptr || out == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    return decodeValueAt(c, 0, out);
}

s7_status s7_decode_payload(s7_cursor* c, uint8_t type, uint8_t flags, s7_value** out) {
    if (c == nullptr || out == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    return decodePayloadAt(c, type, flags, 0, out);
}

s7_status s7_decode_element(s7_cursor* c, uint8_t type, s7_value** out) {
    if (c == nullptr || out == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    return decodeElementAt(c, type, 0, out);
}

s7_status s7_encode_value(s7_cursor* c, const s7_value* value) { return encodeValueAt(c, value, 0); }

s7_status s7_encode_payload(s7_cursor* c, const s7_value* value) {
    return value != nullptr ? encodePayloadAt(c, value, 0) : S7_STATUS_ARGUMENT;
}

s7_status s7_encode_element(s7_cursor* c, const s7_value* value) {
    return value != nullptr ? encodeElementAt(c, value, 0) : S7_STATUS_ARGUMENT;
}

uint32_t s7_value_size(const s7_value* value) {
    bool ok = true;
    const uint64_t size = valueSizeAt(value, 0, &ok);
    return toSize(size, ok);
}

uint32_t s7_payload_size(const s7_value* value) {
    bool ok = true;
    const uint64_t size = payloadSizeAt(value, 0, &ok);
    return toSize(size, ok);
}

uint32_t s7_element_size(const s7_value* value) {
    bool ok = true;
    const uint64_t size = elementSizeAt(value, 0, &ok);
    return toSize(size, ok);
}

} // extern "C"

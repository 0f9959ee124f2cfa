#include "s7_value_codec.h"

#include "s7_memory.h"

#include <cstring>

namespace {

constexpr uint64_t kU32Max = 0xFFFFFFFFu;

// Room for the first members of a structure; doubled whenever it fills up.
constexpr uint32_t kMembersInitialCapacity = 8;

// How a scalar travels: `width` big-endian bytes (Fixed), or an unsigned or
// signed VLQ of a value `width` bytes wide (Vlq, Svlq). NULL has no payload.
enum class Wire : uint8_t { None, Fixed, Vlq, Svlq };

struct Form {
    Wire wire;
    uint8_t width;
};

struct ScalarForms {
    Form payload;
    Form element;  // as an array element
};

// The wire forms of the scalar value types, indexed by type. BITS32, ID32
// and BITS64 travel as VLQs when they are array elements; the others as
// they do everywhere else.
constexpr ScalarForms kScalarForms[] = {
    /* NULL    */ {{Wire::None, 0}, {Wire::None, 0}},
    /* BOOL    */ {{Wire::Fixed, 1}, {Wire::Fixed, 1}},
    /* U8      */ {{Wire::Fixed, 1}, {Wire::Fixed, 1}},
    /* U16     */ {{Wire::Fixed, 2}, {Wire::Fixed, 2}},
    /* U32     */ {{Wire::Vlq, 4}, {Wire::Vlq, 4}},
    /* U64     */ {{Wire::Vlq, 8}, {Wire::Vlq, 8}},
    /* I8      */ {{Wire::Fixed, 1}, {Wire::Fixed, 1}},
    /* I16     */ {{Wire::Fixed, 2}, {Wire::Fixed, 2}},
    /* I32     */ {{Wire::Svlq, 4}, {Wire::Svlq, 4}},
    /* I64     */ {{Wire::Svlq, 8}, {Wire::Svlq, 8}},
    /* BITS8   */ {{Wire::Fixed, 1}, {Wire::Fixed, 1}},
    /* BITS16  */ {{Wire::Fixed, 2}, {Wire::Fixed, 2}},
    /* BITS32  */ {{Wire::Fixed, 4}, {Wire::Vlq, 4}},
    /* BITS64  */ {{Wire::Fixed, 8}, {Wire::Vlq, 8}},
    /* F32     */ {{Wire::Fixed, 4}, {Wire::Fixed, 4}},
    /* F64     */ {{Wire::Fixed, 8}, {Wire::Fixed, 8}},
    /* U64_ALT */ {{Wire::Vlq, 8}, {Wire::Vlq, 8}},
    /* I64_ALT */ {{Wire::Svlq, 8}, {Wire::Svlq, 8}},
    /* ID32    */ {{Wire::Fixed, 4}, {Wire::Vlq, 4}},
    /* ID_VLQ  */ {{Wire::Vlq, 4}, {Wire::Vlq, 4}},
};
static_assert(sizeof kScalarForms / sizeof kScalarForms[0] == S7_TYPE_ID_VLQ + 1, "one row per scalar type");

// The wire form of a scalar type; false for the other types.
bool scalarForm(uint8_t type, bool element, Form* form) {
    if (type > S7_TYPE_ID_VLQ) {
        return false;
    }
    *form = element ? kScalarForms[type].element : kScalarForms[type].payload;
    return true;
}

// A signed value of `width` bytes from the low bits of its pattern.
int64_t signedValue(uint64_t bits, uint8_t width) {
    return width == 4 ? int64_t{static_cast<int32_t>(static_cast<uint32_t>(bits))} : static_cast<int64_t>(bits);
}

bool isPackedId(uint32_t id) {
    return (id >= S7_PACKED_ID_FIRST_A && id <= S7_PACKED_ID_LAST_A) ||
           (id >= S7_PACKED_ID_FIRST_B && id <= S7_PACKED_ID_LAST_B);
}

// A value that can only be written as a whole scalar.
bool isPlainScalar(const s7_value* v) { return v->storage == S7_STORE_SCALAR && !s7_is_array_flag(v->flags); }

// ---------------------------------------------------------------- decoding

// Every decoder takes what it allocates from the budget of the decode (null:
// no limit) before it allocates it.
s7_status decodeValueAt(s7_cursor* c, uint32_t depth, s7_budget* b, s7_value** out);
s7_status decodePayloadAt(s7_cursor* c, uint8_t type, uint8_t flags, uint32_t depth, s7_budget* b, s7_value** out);
s7_status decodeElementAt(s7_cursor* c, uint8_t type, uint32_t depth, s7_budget* b, s7_value** out);

s7_status readScalar(s7_cursor* c, uint8_t type, Form form, uint64_t* bits) {
    s7_status rc = S7_STATUS_OK;
    switch (form.wire) {
    case Wire::None: *bits = 0; break;
    case Wire::Fixed: {
        uint32_t high = 0;
        uint32_t low = 0;
        if (form.width == 1) {
            uint8_t b = 0;
            rc = s7_read_u8(c, &b);
            low = b;
        } else if (form.width == 2) {
            uint16_t w = 0;
            rc = s7_read_u16(c, &w);
            low = w;
        } else if (form.width == 4) {
            rc = s7_read_u32(c, &low);
        } else {
            rc = s7_read_u32(c, &high);
            if (rc == S7_STATUS_OK) {
                rc = s7_read_u32(c, &low);
            }
        }
        *bits = (uint64_t{high} << 32) | low;
        if (type == S7_TYPE_BOOL) {
            *bits = *bits != 0 ? 1 : 0;
        }
        break;
    }
    case Wire::Vlq:
        rc = s7_read_vlq64(c, bits);
        if (rc == S7_STATUS_OK && form.width == 4 && *bits > kU32Max) {
            rc = S7_STATUS_RANGE;
        }
        break;
    case Wire::Svlq: {
        int64_t v = 0;
        rc = s7_read_svlq64(c, &v);
        if (rc == S7_STATUS_OK && form.width == 4 && (v < INT32_MIN || v > INT32_MAX)) {
            rc = S7_STATUS_RANGE;
        }
        *bits = form.width == 4 ? uint64_t{static_cast<uint32_t>(v)} : static_cast<uint64_t>(v);
        break;
    }
    }
    return rc;
}

s7_status decodeScalar(s7_cursor* c, uint8_t type, uint8_t flags, bool element, s7_budget* b, s7_value** out) {
    Form form{};
    if (!scalarForm(type, element, &form)) {
        return S7_STATUS_RANGE;
    }
    uint64_t bits = 0;
    const s7_status rc = readScalar(c, type, form, &bits);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    s7_value* v = s7_budget_take(b, sizeof(s7_value)) == S7_STATUS_OK ? s7_value_new_scalar(type, bits) : nullptr;
    if (v == nullptr) {
        return S7_STATUS_NO_MEMORY;
    }
    v->flags = flags;
    *out = v;
    return S7_STATUS_OK;
}

// The big-endian number in the `width` bytes at `p`.
uint64_t loadBe(const uint8_t* p, uint32_t width) {
    uint64_t v = 0;
    for (uint32_t i = 0; i < width; ++i) {
        v = (v << 8) | p[i];
    }
    return v;
}

template <typename T>
void storeElement(uint8_t* elements, uint32_t index, T v) {
    std::memcpy(elements + size_t{index} * sizeof v, &v, sizeof v);
}

// The `count` elements of an array of a scalar type into its packed block,
// in the elements' wire form: one loop per form, as a read of a big array
// tag spends its time here.
s7_status readPackedElements(s7_cursor* c, uint8_t type, Form form, uint32_t count, uint8_t* elements) {
    if (count == 0) {
        return S7_STATUS_OK;  // and there is no block to write to
    }
    switch (form.wire) {
    case Wire::None: return S7_STATUS_OK;
    case Wire::Fixed: {
        if (s7_remaining(c) / form.width < count) {
            return S7_STATUS_BOUNDS;
        }
        const uint8_t* p = c->cur;
        if (type == S7_TYPE_BOOL) {
            for (uint32_t i = 0; i < count; ++i) {
                elements[i] = p[i] != 0 ? 1 : 0;
            }
        } else if (form.width == 1) {
            std::memcpy(elements, p, count);
        } else if (form.width == 2) {
            for (uint32_t i = 0; i < count; ++i, p += 2) {
                storeElement(elements, i, static_cast<uint16_t>(loadBe(p, 2)));
            }
        } else if (form.width == 4) {
            for (uint32_t i = 0; i < count; ++i, p += 4) {
                storeElement(elements, i, static_cast<uint32_t>(loadBe(p, 4)));
            }
        } else {
            for (uint32_t i = 0; i < count; ++i, p += 8) {
                storeElement(elements, i, loadBe(p, 8));
            }
        }
        c->cur += size_t{count} * form.width;
        return S7_STATUS_OK;
    }
    case Wire::Vlq:
    case Wire::Svlq:
        for (uint32_t i = 0; i < count; ++i) {
            uint64_t bits = 0;
            const s7_status rc = readScalar(c, type, form, &bits);
            if (rc != S7_STATUS_OK) {
                return rc;
            }
            if (form.width == 4) {
                storeElement(elements, i, static_cast<uint32_t>(bits));
            } else {
                storeElement(elements, i, bits);
            }
        }
        return S7_STATUS_OK;
    }
    return S7_STATUS_RANGE;
}

// Array body after the flag and type bytes: count, then the elements.
s7_status decodeArray(s7_cursor* c, uint8_t type, uint8_t flags, uint32_t depth, s7_budget* b, s7_value** out) {
    uint32_t count = 0;
    s7_status rc = s7_read_vlq32(c, &count);
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
    const bool packed = s7_is_scalar_type(type);
    Form form{};
    if (packed) {
        scalarForm(type, true, &form);
    }
    const size_t blockSize = size_t{count} * (packed ? s7_scalar_width(type) : sizeof(s7_entry));
    if (s7_budget_take(b, sizeof(s7_value) + blockSize) != S7_STATUS_OK) {
        return S7_STATUS_NO_MEMORY;
    }
    s7_value* array = s7_value_new_array(type, flags);
    if (array == nullptr) {
        return S7_STATUS_NO_MEMORY;
    }
    void* block = nullptr;
    if (blockSize != 0) {
        block = s7_malloc(blockSize);
        if (block == nullptr) {
            s7_value_free(array);
            return S7_STATUS_NO_MEMORY;
        }
    }
    if (packed) {
        // Keyed arrays take the element positions as keys: no key block.
        array->u.array.elements = static_cast<uint8_t*>(block);
        array->u.array.capacity = count;
        rc = readPackedElements(c, type, form, count, array->u.array.elements);
        if (rc != S7_STATUS_OK) {
            s7_value_free(array);
            return rc;
        }
        array->u.array.count = count;
        *out = array;
        return S7_STATUS_OK;
    }
    array->u.array.entries = static_cast<s7_entry*>(block);
    for (uint32_t i = 0; i < count; ++i) {
        s7_value* element = nullptr;
        rc = decodeElementAt(c, type, depth + 1, b, &element);
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

s7_status decodePacked(s7_cursor* c, uint32_t id, s7_budget* b, s7_value** out) {
    uint32_t high = 0;
    uint32_t low = 0;
    uint32_t flags = 0;
    uint32_t length = 0;
    if (s7_read_u32(c, &high) != S7_STATUS_OK || s7_read_u32(c, &low) != S7_STATUS_OK ||
        s7_read_vlq32(c, &flags) != S7_STATUS_OK || s7_read_vlq32(c, &length) != S7_STATUS_OK) {
        return S7_STATUS_RANGE;
    }
    if ((flags & S7_PACKED_FLAG_LONG_LENGTH) != 0 && s7_read_vlq32(c, &length) != S7_STATUS_OK) {
        return S7_STATUS_RANGE;
    }
    if (s7_remaining(c) < length) {
        return S7_STATUS_BOUNDS;
    }
    if (s7_budget_take(b, sizeof(s7_value) + uint64_t{length}) != S7_STATUS_OK) {
        return S7_STATUS_NO_MEMORY;
    }
    s7_value* v = s7_value_new_packed(id, (uint64_t{high} << 32) | low, flags, c->cur, length);
    if (v == nullptr) {
        return S7_STATUS_NO_MEMORY;
    }
    c->cur += length;
    *out = v;
    return S7_STATUS_OK;
}

s7_status decodeStruct(s7_cursor* c, uint32_t depth, s7_budget* b, s7_value** out) {
    if (depth >= S7_VALUE_MAX_DEPTH) {
        return S7_STATUS_RANGE;
    }
    uint32_t id = 0;
    s7_status rc = s7_read_u32(c, &id);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    if (isPackedId(id)) {
        return decodePacked(c, id, b, out);
    }
    if (s7_budget_take(b, sizeof(s7_value)) != S7_STATUS_OK) {
        return S7_STATUS_NO_MEMORY;
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
        rc = s7_read_vlq32(c, &key);
        if (rc != S7_STATUS_OK || key == 0) {
            break;
        }
        s7_value* member = nullptr;
        rc = decodeValueAt(c, depth + 1, b, &member);
        if (rc != S7_STATUS_OK) {
            break;
        }
        rc = s7_grow_list(&v->u.structure.members, v->u.structure.member_count, &capacity, kMembersInitialCapacity,
                          b);
        if (rc != S7_STATUS_OK) {
            s7_value_free(member);
            break;
        }
        v->u.structure.members[v->u.structure.member_count++] = s7_entry{key, member};
    }
    if (rc == S7_STATUS_OK) {
        rc = s7_entries_keep_last(v->u.structure.members, &v->u.structure.member_count, b);
        s7_trim_list(&v->u.structure.members, v->u.structure.member_count, &capacity, b);
    }
    if (rc != S7_STATUS_OK) {
        s7_value_free(v);
        return rc;
    }
    *out = v;
    return S7_STATUS_OK;
}

s7_status decodeBlob(s7_cursor* c, s7_budget* b, s7_value** out) {
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
    const s7_status rc = s7_read_vlq32(c, &length);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    if (s7_remaining(c) < length) {
        return S7_STATUS_BOUNDS;
    }
    if (s7_budget_take(b, sizeof(s7_value) + uint64_t{length}) != S7_STATUS_OK) {
        return S7_STATUS_NO_MEMORY;
    }
    s7_value* v = s7_value_new_blob(c->cur, length);
    if (v == nullptr) {
        return S7_STATUS_NO_MEMORY;
    }
    c->cur += length;
    *out = v;
    return S7_STATUS_OK;
}

s7_status decodeString(s7_cursor* c, s7_budget* b, s7_value** out) {
    uint32_t length = 0;
    if (s7_read_vlq32(c, &length) != S7_STATUS_OK) {
        return S7_STATUS_RANGE;
    }
    if (s7_remaining(c) < length) {
        return S7_STATUS_BOUNDS;
    }
    if (s7_budget_take(b, sizeof(s7_value) + uint64_t{length} + 1) != S7_STATUS_OK) {
        return S7_STATUS_NO_MEMORY;
    }
    s7_value* v = s7_value_new_string(reinterpret_cast<const char*>(c->cur), length);
    if (v == nullptr) {
        return S7_STATUS_NO_MEMORY;
    }
    c->cur += length;
    *out = v;
    return S7_STATUS_OK;
}

// A payload of `type`; `element` selects the array elements' scalar forms.
s7_status decodeTyped(s7_cursor* c, uint8_t type, uint8_t flags, bool element, uint32_t depth, s7_budget* b,
                      s7_value** out) {
    s7_value* v = nullptr;
    s7_status rc = S7_STATUS_OK;
    if (type == S7_TYPE_BLOB) {
        rc = decodeBlob(c, b, &v);
    } else if (type == S7_TYPE_STRING) {
        rc = decodeString(c, b, &v);
    } else if (type == S7_TYPE_STRUCT) {
        rc = decodeStruct(c, depth, b, &v);
    } else {
        return decodeScalar(c, type, flags, element, b, out);
    }
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    v->flags = flags;
    *out = v;
    return S7_STATUS_OK;
}

s7_status decodePayloadAt(s7_cursor* c, uint8_t type, uint8_t flags, uint32_t depth, s7_budget* b, s7_value** out) {
    return decodeTyped(c, type, flags, false, depth, b, out);
}

s7_status decodeElementAt(s7_cursor* c, uint8_t type, uint32_t depth, s7_budget* b, s7_value** out) {
    return decodeTyped(c, type, 0, true, depth, b, out);
}

s7_status decodeValueAt(s7_cursor* c, uint32_t depth, s7_budget* b, s7_value** out) {
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
        return decodeArray(c, type, flags, depth, b, out);
    }
    if (flags == S7_FLAG_ARRAY_OTHER) {
        return S7_STATUS_RANGE;
    }
    return decodePayloadAt(c, type, flags, depth, b, out);
}

// ---------------------------------------------------------------- sizes

// Size of what encodeValueAt / encodeTyped write, with `ok` cleared when they
// would refuse. Sums run in 64 bits; a total that does not fit 32 bits
// cannot be written either.
uint64_t valueSizeAt(const s7_value* v, uint32_t depth, bool* ok);

// Bytes of one scalar's bit pattern in `form`.
uint64_t bitsSize(Form form, uint64_t bits) {
    switch (form.wire) {
    case Wire::None: return 0;
    case Wire::Fixed: return form.width;
    case Wire::Vlq: return s7_vlq_size(bits);
    case Wire::Svlq: return s7_svlq_size64(signedValue(bits, form.width));
    }
    return 0;
}

uint64_t scalarSize(const s7_value* v, bool element, bool* ok) {
    Form form{};
    if (!isPlainScalar(v) || !scalarForm(v->type, element, &form)) {
        *ok = false;
        return 0;
    }
    return bitsSize(form, v->u.bits);
}

// Bytes of the elements of a packed array.
uint64_t packedElementsSize(const s7_value* v) {
    Form form{};
    scalarForm(v->type, true, &form);
    const uint32_t count = v->u.array.count;
    if (form.wire == Wire::None || form.wire == Wire::Fixed) {
        return uint64_t{count} * form.width;
    }
    uint64_t size = 0;
    for (uint32_t i = 0; i < count; ++i) {
        size += bitsSize(form, s7_array_bits_at(v, i));
    }
    return size;
}

uint64_t typedSizeAt(const s7_value* v, bool element, uint32_t depth, bool* ok) {
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
        // The reader takes a blob element as a bare payload while the writer
        // would put flag and type bytes before it: such an array cannot
        // travel both ways, so it is not written at all.
        if (v->storage != S7_STORE_BYTES || (element && v->type == S7_TYPE_BLOB)) {
            *ok = false;
            return 0;
        }
        const uint64_t len = v->u.bytes.length;
        return (v->type == S7_TYPE_BLOB ? 1 : 0) + s7_vlq_size(len) + len;
    }
    return scalarSize(v, element, ok);
}

uint64_t valueSizeAt(const s7_value* v, uint32_t depth, bool* ok) {
    if (v == nullptr || depth >= S7_VALUE_MAX_DEPTH) {
        *ok = false;
        return 0;
    }
    if (v->storage == S7_STORE_ARRAY) {
        uint64_t size = 2 + uint64_t{s7_vlq_size(v->u.array.count)};
        if (s7_is_scalar_type(v->type)) {
            return size + packedElementsSize(v);
        }
        for (uint32_t i = 0; i < v->u.array.count; ++i) {
            const s7_value* e = v->u.array.entries[i].value;
            if (e == nullptr || e->type != v->type) {
                *ok = false;
                return 0;
            }
            size += typedSizeAt(e, true, depth + 1, ok);
        }
        return size;
    }
    return 2 + typedSizeAt(v, false, depth, ok);
}

uint32_t toSize(uint64_t size, bool ok) { return ok && size <= kU32Max ? static_cast<uint32_t>(size) : 0; }

// ---------------------------------------------------------------- encoding

s7_status encodeValueAt(s7_cursor* c, const s7_value* v, uint32_t depth);

// Writes one scalar's bit pattern in `form`.
s7_status writeBits(s7_cursor* c, Form form, uint64_t bits) {
    switch (form.wire) {
    case Wire::None: return S7_STATUS_OK;
    case Wire::Fixed:
        switch (form.width) {
        case 1: return s7_write_u8(c, static_cast<uint8_t>(bits));
        case 2: return s7_write_u16(c, static_cast<uint16_t>(bits));
        case 4: return s7_write_u32(c, static_cast<uint32_t>(bits));
        default: return s7_write_u64(c, bits);
        }
    case Wire::Vlq: return s7_write_vlq64(c, bits);
    case Wire::Svlq: return s7_write_svlq64(c, signedValue(bits, form.width));
    }
    return S7_STATUS_ARGUMENT;
}

s7_status encodeScalar(s7_cursor* c, const s7_value* v, bool element) {
    Form form{};
    if (!isPlainScalar(v) || !scalarForm(v->type, element, &form)) {
        return S7_STATUS_ARGUMENT;
    }
    return writeBits(c, form, v->u.bits);
}

s7_status encodePackedElements(s7_cursor* c, const s7_value* v) {
    Form form{};
    scalarForm(v->type, true, &form);
    s7_status rc = S7_STATUS_OK;
    for (uint32_t i = 0; rc == S7_STATUS_OK && i < v->u.array.count; ++i) {
        rc = writeBits(c, form, s7_array_bits_at(v, i));
    }
    return rc;
}

s7_status encodeTyped(s7_cursor* c, const s7_value* v, bool element, uint32_t depth) {
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
        if (v->storage != S7_STORE_BYTES || (element && v->type == S7_TYPE_BLOB)) {
            return S7_STATUS_ARGUMENT;
        }
        if (v->type == S7_TYPE_BLOB) rc = s7_write_vlq64(c, 0);
        if (rc == S7_STATUS_OK) rc = s7_write_vlq64(c, v->u.bytes.length);
        if (rc == S7_STATUS_OK) rc = s7_write_bytes(c, v->u.bytes.data, v->u.bytes.length);
        return rc;
    }
    return encodeScalar(c, v, element);
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
        return encodeTyped(c, v, false, depth);
    }
    rc = s7_write_vlq64(c, v->u.array.count);
    if (rc == S7_STATUS_OK && s7_is_scalar_type(v->type)) {
        return encodePackedElements(c, v);
    }
    for (uint32_t i = 0; rc == S7_STATUS_OK && i < v->u.array.count; ++i) {
        const s7_value* e = v->u.array.entries[i].value;
        rc = e != nullptr && e->type == v->type ? encodeTyped(c, e, true, depth + 1) : S7_STATUS_ARGUMENT;
    }
    return rc;
}

}  // namespace

extern "C" {

s7_status s7_decode_value(s7_cursor* c, s7_value** out) {
    if (c == nullptr || out == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    s7_budget budget = s7_budget_for(s7_remaining(c));
    return decodeValueAt(c, 0, &budget, out);
}

s7_status s7_decode_value_within(s7_cursor* c, s7_budget* budget, s7_value** out) {
    if (c == nullptr || out == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    return decodeValueAt(c, 0, budget, out);
}

s7_status s7_decode_payload(s7_cursor* c, uint8_t type, uint8_t flags, s7_value** out) {
    if (c == nullptr || out == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    s7_budget budget = s7_budget_for(s7_remaining(c));
    return decodePayloadAt(c, type, flags, 0, &budget, out);
}

s7_status s7_decode_element(s7_cursor* c, uint8_t type, s7_value** out) {
    if (c == nullptr || out == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    s7_budget budget = s7_budget_for(s7_remaining(c));
    return decodeElementAt(c, type, 0, &budget, out);
}

s7_status s7_encode_value(s7_cursor* c, const s7_value* value) { return encodeValueAt(c, value, 0); }

s7_status s7_encode_payload(s7_cursor* c, const s7_value* value) { return encodeTyped(c, value, false, 0); }

s7_status s7_encode_element(s7_cursor* c, const s7_value* value) { return encodeTyped(c, value, true, 0); }

uint32_t s7_value_size(const s7_value* value) {
    bool ok = true;
    const uint64_t size = valueSizeAt(value, 0, &ok);
    return toSize(size, ok);
}

uint32_t s7_payload_size(const s7_value* value) {
    bool ok = true;
    const uint64_t size = typedSizeAt(value, false, 0, &ok);
    return toSize(size, ok);
}

uint32_t s7_element_size(const s7_value* value) {
    bool ok = true;
    const uint64_t size = typedSizeAt(value, true, 0, &ok);
    return toSize(size, ok);
}

}  // extern "C"

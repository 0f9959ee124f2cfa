#include "s7_value.h"

#include "s7_memory.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace {

s7_value* newValue(uint8_t type, uint32_t storage) {
    auto* v = static_cast<s7_value*>(s7_calloc(sizeof(s7_value)));
    if (v != nullptr) {
        v->type = type;
        v->storage = storage;
    }
    return v;
}

// The bit pattern of a scalar (see s7_value.u.bits) and back.
template <typename T>
uint64_t toBits(T v) {
    if constexpr (std::is_same_v<T, bool>) {
        return v ? 1 : 0;
    } else if constexpr (std::is_floating_point_v<T>) {
        using Raw = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;
        Raw raw = 0;
        std::memcpy(&raw, &v, sizeof raw);
        return raw;
    } else {
        return static_cast<std::make_unsigned_t<T>>(v);
    }
}

template <typename T>
T fromBits(uint64_t bits) {
    if constexpr (std::is_same_v<T, bool>) {
        return bits != 0;
    } else if constexpr (std::is_floating_point_v<T>) {
        using Raw = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;
        const auto raw = static_cast<Raw>(bits);
        T v{};
        std::memcpy(&v, &raw, sizeof v);
        return v;
    } else {
        return static_cast<T>(static_cast<std::make_unsigned_t<T>>(bits));
    }
}

// Every scalar type but BOOL with its constructor's and getter's name and
// C type.
#define S7_NUMERIC_TYPES(X)               \
    X(u8, S7_TYPE_U8, uint8_t)            \
    X(u16, S7_TYPE_U16, uint16_t)         \
    X(u32, S7_TYPE_U32, uint32_t)         \
    X(u64, S7_TYPE_U64, uint64_t)         \
    X(i8, S7_TYPE_I8, int8_t)             \
    X(i16, S7_TYPE_I16, int16_t)          \
    X(i32, S7_TYPE_I32, int32_t)          \
    X(i64, S7_TYPE_I64, int64_t)          \
    X(bits8, S7_TYPE_BITS8, uint8_t)      \
    X(bits16, S7_TYPE_BITS16, uint16_t)   \
    X(bits32, S7_TYPE_BITS32, uint32_t)   \
    X(bits64, S7_TYPE_BITS64, uint64_t)   \
    X(f32, S7_TYPE_F32, float)            \
    X(f64, S7_TYPE_F64, double)           \
    X(u64_alt, S7_TYPE_U64_ALT, uint64_t) \
    X(i64_alt, S7_TYPE_I64_ALT, int64_t)  \
    X(id32, S7_TYPE_ID32, uint32_t)       \
    X(id_vlq, S7_TYPE_ID_VLQ, uint32_t)

// Bytes of an element of each scalar type in a packed array, indexed by type:
// the width its getter returns.
constexpr uint8_t kScalarWidths[] = {
    /* NULL */ 0,   /* BOOL */ 1,   /* U8 */ 1,     /* U16 */ 2,     /* U32 */ 4,    /* U64 */ 8,    /* I8 */ 1,
    /* I16 */ 2,    /* I32 */ 4,    /* I64 */ 8,    /* BITS8 */ 1,   /* BITS16 */ 2, /* BITS32 */ 4, /* BITS64 */ 8,
    /* F32 */ 4,    /* F64 */ 8,    /* U64_ALT */ 8, /* I64_ALT */ 8, /* ID32 */ 4,   /* ID_VLQ */ 4,
};
static_assert(sizeof kScalarWidths == S7_TYPE_ID_VLQ + 1, "one width per scalar type");

// Room for the first elements of a packed array built element by element;
// doubled whenever it fills up.
constexpr uint32_t kPackedInitialCapacity = 8;

// The shared precondition of the typed getters.
const uint64_t* scalarOf(const s7_value* v, uint8_t type, const void* out) {
    if (out == nullptr || v == nullptr || v->type != type || v->storage != S7_STORE_SCALAR ||
        s7_is_array_flag(v->flags)) {
        return nullptr;
    }
    return &v->u.bits;
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

// A byte-run value of `type` holding a copy of `length` bytes (and `extra`
// zero bytes after them); null for a non-zero length with a null source or
// when memory runs out.
s7_value* newBytes(uint8_t type, const void* data, uint32_t length, uint32_t extra) {
    if (length != 0 && data == nullptr) {
        return nullptr;
    }
    bool ok = false;
    uint8_t* block = copyBlock(data, length, extra, &ok);
    if (!ok) {
        return nullptr;
    }
    s7_value* v = newValue(type, S7_STORE_BYTES);
    if (v == nullptr) {
        s7_free(block);
        return nullptr;
    }
    v->u.bytes.data = block;
    v->u.bytes.length = length;
    return v;
}

// Makes room for one more element of a packed array, in both of its blocks:
// the room doubles. False when memory runs out; the array then holds what it
// held (a block that did grow keeps its larger size until the next try).
bool growPacked(s7_value* array) {
    auto& a = array->u.array;
    if (a.count < a.capacity) {
        return true;
    }
    const uint64_t doubled = a.capacity == 0 ? uint64_t{kPackedInitialCapacity} : uint64_t{a.capacity} * 2;
    const auto room = static_cast<uint32_t>(doubled < UINT32_MAX ? doubled : UINT32_MAX);
    const uint32_t width = s7_scalar_width(array->type);
    if (width != 0) {
        void* moved = s7_realloc(a.elements, size_t{room} * width);
        if (moved == nullptr) {
            return false;
        }
        a.elements = static_cast<uint8_t*>(moved);
    }
    if (a.keys != nullptr) {
        void* moved = s7_realloc(a.keys, size_t{room} * sizeof(uint32_t));
        if (moved == nullptr) {
            return false;
        }
        a.keys = static_cast<uint32_t*>(moved);
    }
    a.capacity = room;
    return true;
}

// Adds a scalar element to a packed array under `key`: its bit pattern goes
// into the array and the element is freed. S7_OK, or the public code of the
// failure with the element still the caller's.
uint8_t addPacked(s7_value* array, uint32_t key, s7_value* element) {
    // Elements travel as bare payloads: a value that is more than a number
    // has no place among them. A flag byte of a scalar is not kept.
    if (element->storage != S7_STORE_SCALAR || s7_is_array_flag(element->flags)) {
        return S7_ERR_ARGUMENT;
    }
    auto& a = array->u.array;
    if (a.count == UINT32_MAX) {
        return S7_ERR_ARGUMENT;
    }
    if (!growPacked(array)) {
        return S7_ERR_NO_MEMORY;
    }
    // The keys get a block of their own once one of them is not its
    // position; until then every key is.
    if (a.keys == nullptr && key != a.count) {
        a.keys = static_cast<uint32_t*>(s7_malloc(size_t{a.capacity} * sizeof(uint32_t)));
        if (a.keys == nullptr) {
            return S7_ERR_NO_MEMORY;
        }
        for (uint32_t i = 0; i < a.count; ++i) {
            a.keys[i] = i;
        }
    }
    if (a.keys != nullptr) {
        a.keys[a.count] = key;
    }
    s7_array_set_bits(array, a.count, element->u.bits);
    ++a.count;
    s7_value_free(element);
    return S7_OK;
}

// The bit pattern of element `index` of an array of `type`, for the
// element getters; null when there is no such element or output.
bool elementOf(const s7_value* array, uint32_t index, uint8_t type, const void* out, uint64_t* bits) {
    if (out == nullptr || !s7_array_holds_scalars(array) || array->type != type || index >= array->u.array.count) {
        return false;
    }
    *bits = s7_array_bits_at(array, index);
    return true;
}

// Appends one entry, growing the list by exactly one slot: S7_OK, or the
// public code of the failure.
uint8_t appendEntry(s7_entry** entries, uint32_t* count, uint32_t key, s7_value* value) {
    const s7_status rc = s7_grow_list_one(entries, *count);
    if (rc != S7_STATUS_OK) {
        return s7_result(rc);
    }
    (*entries)[*count] = s7_entry{key, value};
    ++*count;
    return S7_OK;
}

void freeBlock(s7_value* v) {
    switch (v->storage) {
    case S7_STORE_BYTES: s7_free(v->u.bytes.data); break;
    case S7_STORE_ARRAY:
        if (s7_is_scalar_type(v->type)) {
            s7_free(v->u.array.elements);
            s7_free(v->u.array.keys);
        } else {
            s7_entries_free(v->u.array.entries, v->u.array.count);
        }
        break;
    case S7_STORE_STRUCT: s7_entries_free(v->u.structure.members, v->u.structure.member_count); break;
    case S7_STORE_PACKED: s7_free(v->u.packed.data); break;
    default: break;
    }
}

}  // namespace

extern "C" {

s7_value* s7_value_new_scalar(uint8_t type, uint64_t bits) {
    s7_value* v = newValue(type, S7_STORE_SCALAR);
    if (v != nullptr) {
        v->u.bits = bits;
    }
    return v;
}

bool s7_is_array_flag(uint8_t flags) {
    return flags == S7_FLAG_ARRAY || flags == S7_FLAG_ARRAY_KEYED || flags == S7_FLAG_ARRAY_OTHER;
}

bool s7_is_scalar_type(uint8_t type) { return type <= S7_TYPE_ID_VLQ; }

uint32_t s7_scalar_width(uint8_t type) { return s7_is_scalar_type(type) ? kScalarWidths[type] : 0; }

uint64_t s7_array_bits_at(const s7_value* array, uint32_t index) {
    const uint8_t* at = array->u.array.elements;
    switch (kScalarWidths[array->type]) {
    case 1: return at[index];
    case 2: {
        uint16_t v = 0;
        std::memcpy(&v, at + size_t{index} * 2, sizeof v);
        return v;
    }
    case 4: {
        uint32_t v = 0;
        std::memcpy(&v, at + size_t{index} * 4, sizeof v);
        return v;
    }
    case 8: {
        uint64_t v = 0;
        std::memcpy(&v, at + size_t{index} * 8, sizeof v);
        return v;
    }
    default: return 0;
    }
}

void s7_array_set_bits(s7_value* array, uint32_t index, uint64_t bits) {
    uint8_t* at = array->u.array.elements;
    switch (kScalarWidths[array->type]) {
    case 1: at[index] = static_cast<uint8_t>(bits); break;
    case 2: {
        const auto v = static_cast<uint16_t>(bits);
        std::memcpy(at + size_t{index} * 2, &v, sizeof v);
        break;
    }
    case 4: {
        const auto v = static_cast<uint32_t>(bits);
        std::memcpy(at + size_t{index} * 4, &v, sizeof v);
        break;
    }
    case 8: std::memcpy(at + size_t{index} * 8, &bits, sizeof bits); break;
    default: break;
    }
}

// ---------------------------------------------------------------- constructors

s7_value* s7_value_new_null(void) { return newValue(S7_TYPE_NULL, S7_STORE_SCALAR); }

s7_value* s7_value_new_bool(uint8_t v) { return s7_value_new_scalar(S7_TYPE_BOOL, toBits(v != 0)); }

#define S7_SCALAR_CONSTRUCTOR(name, type_id, ctype) \
    s7_value* s7_value_new_##name(ctype v) { return s7_value_new_scalar(type_id, toBits(v)); }

S7_NUMERIC_TYPES(S7_SCALAR_CONSTRUCTOR)

#undef S7_SCALAR_CONSTRUCTOR

s7_value* s7_value_new_blob(const void* data, uint32_t length) { return newBytes(S7_TYPE_BLOB, data, length, 0); }

s7_value* s7_value_new_string(const char* text, uint32_t length) {
    // One byte more, the terminating 0.
    return newBytes(S7_TYPE_STRING, text, length, 1);
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
    if (!s7_is_array_flag(flag)) {
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

s7_status s7_entries_keep_last(s7_entry* entries, uint32_t* count, s7_budget* budget) {
    if (count == nullptr || *count < 2) {
        return S7_STATUS_OK;
    }
    const uint32_t n = *count;
    // Positions ordered by (key, position): each key's run starts at its
    // first position and ends at its last, whose value wins.
    auto* order = static_cast<uint32_t*>(s7_budget_malloc(budget, size_t{n} * sizeof(uint32_t)));
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
    s7_budget_give(budget, size_t{n} * sizeof(uint32_t));
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

#define S7_SCALAR_GETTER(name, type_id, ctype)                       \
    uint8_t s7_value_get_##name(const s7_value* value, ctype* out) { \
        const uint64_t* bits = scalarOf(value, type_id, out);        \
        if (bits == nullptr) {                                       \
            return S7_ERR_ARGUMENT;                                  \
        }                                                            \
        *out = fromBits<ctype>(*bits);                               \
        return S7_OK;                                                \
    }

S7_SCALAR_GETTER(bool, S7_TYPE_BOOL, bool)
S7_NUMERIC_TYPES(S7_SCALAR_GETTER)

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

bool s7_array_holds_scalars(const s7_value* value) { return s7_value_is_array(value) && s7_is_scalar_type(value->type); }

uint8_t s7_array_key_at(const s7_value* value, uint32_t index, uint32_t* key) {
    if (!s7_value_is_array(value) || index >= value->u.array.count || key == nullptr) {
        return S7_ERR_ARGUMENT;
    }
    if (s7_is_scalar_type(value->type)) {
        *key = value->u.array.keys != nullptr ? value->u.array.keys[index] : index;
    } else {
        *key = value->u.array.entries[index].key;
    }
    return S7_OK;
}

uint8_t s7_array_get_bits(const s7_value* value, uint32_t index, uint64_t* bits) {
    if (bits == nullptr || !s7_array_holds_scalars(value) || index >= value->u.array.count) {
        return S7_ERR_ARGUMENT;
    }
    *bits = s7_array_bits_at(value, index);
    return S7_OK;
}

#define S7_ELEMENT_GETTER(name, type_id, ctype)                                           \
    uint8_t s7_array_get_##name(const s7_value* array, uint32_t index, ctype* out) {      \
        uint64_t bits = 0;                                                                \
        if (!elementOf(array, index, type_id, out, &bits)) {                              \
            return S7_ERR_ARGUMENT;                                                       \
        }                                                                                 \
        *out = fromBits<ctype>(bits);                                                     \
        return S7_OK;                                                                     \
    }

S7_ELEMENT_GETTER(bool, S7_TYPE_BOOL, bool)
S7_NUMERIC_TYPES(S7_ELEMENT_GETTER)

#undef S7_ELEMENT_GETTER

uint8_t s7_array_entry_at(const s7_value* value, uint32_t index, uint32_t* key, const s7_value** out) {
    // The elements of a packed array are no values of their own.
    if (!s7_value_is_array(value) || s7_is_scalar_type(value->type) || index >= value->u.array.count ||
        out == nullptr) {
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
    if (s7_is_scalar_type(array->type)) {
        return addPacked(array, array->u.array.count, element);
    }
    return appendEntry(&array->u.array.entries, &array->u.array.count, array->u.array.count, element);
}

uint8_t s7_array_put(s7_value* array, uint32_t key, s7_value* element) {
    if (!s7_value_is_array(array) || element == nullptr || array->flags == S7_FLAG_ARRAY ||
        element->type != array->type) {
        return S7_ERR_ARGUMENT;
    }
    if (s7_is_scalar_type(array->type)) {
        return addPacked(array, key, element);
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
    if (text == nullptr || !s7_array_holds_scalars(value) || value->type != S7_TYPE_U8) {
        return S7_ERR_ARGUMENT;
    }
    const uint32_t count = value->u.array.count;
    const uint8_t* elements = value->u.array.elements;
    // Element 1 holds the current length; element 0, the capacity, is not
    // needed to copy the characters.
    const uint32_t length = count > 2 ? elements[1] : 0;
    char* block = static_cast<char*>(s7_calloc(size_t{length} + 1));
    if (block == nullptr) {
        return S7_ERR_NO_MEMORY;
    }
    const uint32_t present = count > 2 ? count - 2 : 0;
    if (length != 0) {
        std::memcpy(block, elements + 2, length < present ? length : present);
    }
    *text = block;
    return S7_OK;
}

}  // extern "C"

#undef S7_NUMERIC_TYPES

// Value model and codec: decoding the controller's bodies, refusing what the
// codec does not accept, sizes equal to what the encoder writes, and the
// all-or-nothing rule under hostile input and failing allocations.
#include "s7_value_codec.h"

#include "s7_memory.h"

#include "alloc_hooks.h"
#include "bytes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using vemo::test::Bytes;
using vemo::test::concat;

struct Decoded {
    uint8_t rc = 0;
    s7_value* value = nullptr;
    size_t consumed = 0;
    ~Decoded() { s7_value_free(value); }
};

void decode(Bytes bytes, Decoded& out) {
    s7_cursor c{bytes.data(), bytes.data() + bytes.size()};
    out.rc = s7_decode_value(&c, &out.value);
    out.consumed = static_cast<size_t>(c.cur - bytes.data());
}

Bytes encode(const s7_value* v) {
    Bytes out(s7_value_size(v));
    s7_cursor c{out.data(), out.data() + out.size()};
    EXPECT_EQ(s7_encode_value(&c, v), S7_STATUS_OK);
    EXPECT_EQ(c.cur, c.end) << "size and encoder disagree";
    return out;
}

TEST(ValueDecode, ScalarBodiesReadAsTheirType) {
    {
        Decoded d;
        decode({0x00, 0x01, 0x05}, d);
        ASSERT_EQ(d.rc, S7_STATUS_OK);
        bool b = false;
        EXPECT_EQ(s7_value_get_bool(d.value, &b), 0);
        EXPECT_TRUE(b);
        EXPECT_EQ(s7_value_flags(d.value), 0);
        EXPECT_EQ(d.consumed, 3u);
    }
    {
        Decoded d;
        decode({0x00, 0x08, 0x7F}, d);
        ASSERT_EQ(d.rc, S7_STATUS_OK);
        int32_t v = 0;
        EXPECT_EQ(s7_value_get_i32(d.value, &v), 0);
        EXPECT_EQ(v, -1);
    }
    {
        Decoded d;
        decode({0x00, 0x15, 0x03, 'a', 'b', 'c'}, d);
        ASSERT_EQ(d.rc, S7_STATUS_OK);
        const char* text = nullptr;
        uint32_t length = 0;
        ASSERT_EQ(s7_value_get_string(d.value, &text, &length), 0);
        EXPECT_EQ(length, 3u);
        EXPECT_EQ(std::string(text, 4), std::string("abc\0", 4));  // terminated in memory
    }
    {
        // Fixed-width forms: U16, BITS32 scalar (four bytes), F64 as two words.
        Decoded d;
        decode({0x00, 0x0F, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0}, d);
        ASSERT_EQ(d.rc, S7_STATUS_OK);
        double f = 0;
        EXPECT_EQ(s7_value_get_f64(d.value, &f), 0);
        EXPECT_EQ(f, 1.0);
    }
    {
        // A flag byte that is no array flag stays on the scalar.
        Decoded d;
        decode({0x05, 0x0C, 0x00, 0x00, 0x01, 0x00}, d);
        ASSERT_EQ(d.rc, S7_STATUS_OK);
        uint32_t v = 0;
        EXPECT_EQ(s7_value_get_bits32(d.value, &v), 0);
        EXPECT_EQ(v, 256u);
        EXPECT_EQ(s7_value_flags(d.value), 0x05);
    }
}

TEST(ValueDecode, ArrayElementsUseTheirOwnWireForms) {
    {
        Decoded d;
        decode({0x10, 0x02, 0x03, 0x01, 0x02, 0x03}, d);
        ASSERT_EQ(d.rc, S7_STATUS_OK);
        ASSERT_TRUE(s7_value_is_array(d.value));
        EXPECT_EQ(s7_value_flags(d.value), S7_FLAG_ARRAY);
        ASSERT_EQ(s7_array_count(d.value), 3u);
        for (uint32_t i = 0; i < 3; ++i) {
            uint32_t key = 99;
            ASSERT_EQ(s7_array_key_at(d.value, i, &key), 0);
            uint8_t v = 0;
            EXPECT_EQ(s7_array_get_u8(d.value, i, &v), 0);
            EXPECT_EQ(key, i);
            EXPECT_EQ(v, i + 1);
        }
        uint8_t past = 0;
        EXPECT_NE(s7_array_get_u8(d.value, 3, &past), 0);
    }
    {
        // BITS32 elements are VLQs while a BITS32 scalar takes four bytes.
        Decoded d;
        decode({0x10, 0x0C, 0x02, 0x81, 0x00, 0x05}, d);
        ASSERT_EQ(d.rc, S7_STATUS_OK);
        ASSERT_EQ(s7_array_count(d.value), 2u);
        uint32_t v = 0;
        EXPECT_EQ(s7_array_get_bits32(d.value, 0, &v), 0);
        EXPECT_EQ(v, 128u);
        EXPECT_EQ(s7_array_get_bits32(d.value, 1, &v), 0);
        EXPECT_EQ(v, 5u);
        EXPECT_EQ(d.consumed, 6u);
    }
    {
        // Keyed arrays take the element position as key.
        Decoded d;
        decode({0x20, 0x12, 0x02, 0x07, 0x08}, d);
        ASSERT_EQ(d.rc, S7_STATUS_OK);
        EXPECT_EQ(s7_value_flags(d.value), S7_FLAG_ARRAY_KEYED);
        uint32_t key = 0;
        ASSERT_EQ(s7_array_key_at(d.value, 1, &key), 0);
        uint32_t id = 0;
        EXPECT_EQ(s7_array_get_id32(d.value, 1, &id), 0);
        EXPECT_EQ(key, 1u);
        EXPECT_EQ(id, 8u);
    }
}

struct RejectRow {
    const char* name;
    Bytes bytes;
    uint8_t rc;
};

TEST(ValueDecode, RefusesWhatTheCodecDoesNotAccept) {
    const std::vector<RejectRow> rows = {
        {"flag 0x40", {0x40, 0x02, 0x01, 0x00}, S7_STATUS_RANGE},
        {"type 22", {0x00, 0x16, 0x00}, S7_STATUS_RANGE},
        {"type 24", {0x00, 0x18, 0x00}, S7_STATUS_RANGE},
        {"type 255", {0x00, 0xFF}, S7_STATUS_RANGE},
        {"I32 of 2^31", {0x00, 0x08, 0x88, 0x80, 0x80, 0x80, 0x00}, S7_STATUS_RANGE},
        {"I32 below -2^31", {0x00, 0x08, 0xF7, 0xFF, 0xFF, 0xFF, 0x7F}, S7_STATUS_RANGE},
        {"U32 of 2^32", {0x00, 0x04, 0x90, 0x80, 0x80, 0x80, 0x00}, S7_STATUS_RANGE},
        {"ID_VLQ of 2^32", {0x00, 0x13, 0x90, 0x80, 0x80, 0x80, 0x00}, S7_STATUS_RANGE},
        {"BITS32 element of 2^32", {0x10, 0x0C, 0x01, 0x90, 0x80, 0x80, 0x80, 0x00}, S7_STATUS_RANGE},
        {"array count above 32 bits", {0x10, 0x02, 0x90, 0x80, 0x80, 0x80, 0x00}, S7_STATUS_RANGE},
        {"blob header with type byte 4", {0x00, 0x14, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0x04, 0x00}, S7_STATUS_RANGE},
        {"blob header cut short", {0x00, 0x14, 0x01, 0, 0, 0}, S7_STATUS_RANGE},
        {"blob bytes missing", {0x00, 0x14, 0x00, 0x03, 0xAA}, S7_STATUS_BOUNDS},
        {"string length cut", {0x00, 0x15, 0x81}, S7_STATUS_RANGE},
        {"string bytes missing", {0x00, 0x15, 0x05, 'a'}, S7_STATUS_BOUNDS},
        {"no type byte", {0x00}, S7_STATUS_BOUNDS},
        {"empty body", {}, S7_STATUS_BOUNDS},
        {"U16 cut", {0x00, 0x03, 0x01}, S7_STATUS_BOUNDS},
        {"F64 second word missing", {0x00, 0x0F, 0, 0, 0, 0}, S7_STATUS_BOUNDS},
        {"packed length past the end",
         {0x00, 0x17, 0x90, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x04, 0xAA},
         S7_STATUS_BOUNDS},
        {"packed head cut", {0x00, 0x17, 0x90, 0, 0, 1, 0, 0}, S7_STATUS_RANGE},
        {"member with flag 0x40", {0x00, 0x17, 0, 0, 0, 1, 0x05, 0x40, 0x02, 0x00}, S7_STATUS_RANGE},
        {"member list without end", {0x00, 0x17, 0, 0, 0, 1, 0x05, 0x00, 0x02, 0x07}, S7_STATUS_BOUNDS},
        {"element of type 22", {0x10, 0x16, 0x01, 0x00}, S7_STATUS_RANGE},
    };
    for (const auto& row : rows) {
        Decoded d;
        decode(row.bytes, d);
        EXPECT_EQ(d.rc, row.rc) << row.name;
        EXPECT_EQ(d.value, nullptr) << row.name;
    }
}

TEST(ValueDecode, StructureKeepsTheLastMemberOfARepeatedKey) {
    // id 7; member 5 = U8 1; member 6 = U8 2; member 5 = U8 3; end.
    Decoded d;
    decode({0x00, 0x17, 0, 0, 0, 7, 0x05, 0x00, 0x02, 0x01, 0x06, 0x00, 0x02, 0x02, 0x05, 0x00, 0x02, 0x03, 0x00}, d);
    ASSERT_EQ(d.rc, S7_STATUS_OK);
    EXPECT_EQ(s7_struct_id(d.value), 7u);
    ASSERT_EQ(s7_struct_count(d.value), 2u);
    uint32_t key = 0;
    const s7_value* m = nullptr;
    uint8_t v = 0;
    // The key keeps its first place, with the last value.
    ASSERT_EQ(s7_struct_member_at(d.value, 0, &key, &m), 0);
    EXPECT_EQ(key, 5u);
    EXPECT_EQ(s7_value_get_u8(m, &v), 0);
    EXPECT_EQ(v, 3);
    ASSERT_EQ(s7_struct_member_at(d.value, 1, &key, &m), 0);
    EXPECT_EQ(key, 6u);
    ASSERT_EQ(s7_struct_find(d.value, 6, &m), 0);
    EXPECT_EQ(s7_value_get_u8(m, &v), 0);
    EXPECT_EQ(v, 2);
    EXPECT_NE(s7_struct_find(d.value, 8, &m), 0);
}

TEST(ValueEntries, RepeatedKeysKeepTheirFirstPlaceAndLastValue) {
    vemo::test::CountingAllocator alloc;
    // Keys 5, 6, 5, 7, 6, 5 carrying the values 0 to 5: one store per entry
    // would leave 5 -> 5, 6 -> 4, 7 -> 3, in that order.
    const uint32_t keys[] = {5, 6, 5, 7, 6, 5};
    s7_entry* entries = static_cast<s7_entry*>(s7_malloc(sizeof keys / sizeof keys[0] * sizeof(s7_entry)));
    for (uint8_t i = 0; i < 6; ++i) {
        entries[i] = s7_entry{keys[i], s7_value_new_u8(i)};
    }
    uint32_t count = 6;
    ASSERT_EQ(s7_entries_keep_last(entries, &count, nullptr), S7_STATUS_OK);
    ASSERT_EQ(count, 3u);
    const uint32_t wantKeys[] = {5, 6, 7};
    const uint8_t wantValues[] = {5, 4, 3};
    for (uint32_t i = 0; i < 3; ++i) {
        uint8_t v = 0;
        EXPECT_EQ(entries[i].key, wantKeys[i]);
        EXPECT_EQ(s7_value_get_u8(entries[i].value, &v), 0);
        EXPECT_EQ(v, wantValues[i]);
    }
    s7_entries_free(entries, count);
    EXPECT_EQ(alloc.live(), 0u) << "the replaced values are freed";
}

TEST(ValueDecode, PackedIdentifierRangesDecideTheForm) {
    struct Row {
        uint32_t id;
        bool packed;
    };
    const Row rows[] = {{0x90000000, false}, {0x90000001, true}, {0x9FFFFFFE, true}, {0x9FFFFFFF, false},
                        {0x02000000, false}, {0x02000001, true}, {0x02FFFFFE, true}, {0x02FFFFFF, false}};
    for (const Row& row : rows) {
        Bytes body = {0x00,
                      0x17,
                      static_cast<uint8_t>(row.id >> 24),
                      static_cast<uint8_t>(row.id >> 16),
                      static_cast<uint8_t>(row.id >> 8),
                      static_cast<uint8_t>(row.id)};
        if (row.packed) {
            // id64 high and low words, flags 0, length 2, two bytes.
            const Bytes rest = {0, 0, 0, 1, 0, 0, 0, 2, 0x00, 0x02, 0xAB, 0xCD};
            body.insert(body.end(), rest.begin(), rest.end());
        } else {
            body.push_back(0x00);  // empty member list
        }
        Decoded d;
        decode(body, d);
        ASSERT_EQ(d.rc, S7_STATUS_OK) << std::hex << row.id;
        EXPECT_EQ(s7_value_is_packed(d.value), row.packed) << std::hex << row.id;
        EXPECT_EQ(s7_value_is_struct(d.value), !row.packed) << std::hex << row.id;
        EXPECT_EQ(s7_struct_id(d.value), row.id);
        EXPECT_EQ(d.consumed, body.size());
        if (row.packed) {
            uint64_t id64 = 0;
            uint32_t flags = 9;
            const uint8_t* data = nullptr;
            uint32_t length = 0;
            ASSERT_EQ(s7_packed_get(d.value, nullptr, &id64, &flags, &data, &length), 0);
            EXPECT_EQ(id64, (uint64_t{1} << 32) | 2);
            EXPECT_EQ(flags, 0u);
            ASSERT_EQ(length, 2u);
            EXPECT_EQ(data[0], 0xAB);
            EXPECT_EQ(data[1], 0xCD);
        }
    }
}

TEST(ValueDecode, PackedFlagBit10PutsTheLengthInASecondVlq) {
    // flags 0x400 (VLQ 88 00), first length 9 (ignored), real length 1.
    Decoded d;
    decode({0x00, 0x17, 0x90, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0x88, 0x00, 0x09, 0x01, 0xEE}, d);
    ASSERT_EQ(d.rc, S7_STATUS_OK);
    uint32_t length = 0;
    ASSERT_EQ(s7_packed_get(d.value, nullptr, nullptr, nullptr, nullptr, &length), 0);
    EXPECT_EQ(length, 1u);
    // It is never written that way, so such a value cannot be sent back.
    EXPECT_EQ(s7_value_size(d.value), 0u);
}

TEST(ValueDecode, BlobDropsItsHeader) {
    Decoded d;
    decode({0x00, 0x14, 0x01, 1, 2, 3, 4, 5, 6, 7, 8, 0x03, 0x02, 0xAA, 0xBB}, d);
    ASSERT_EQ(d.rc, S7_STATUS_OK);
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(s7_value_get_blob(d.value, &data, &length), 0);
    ASSERT_EQ(length, 2u);
    EXPECT_EQ(data[1], 0xBB);
    EXPECT_EQ(encode(d.value), (Bytes{0x00, 0x14, 0x00, 0x02, 0xAA, 0xBB}));
}

TEST(ValueGetters, AnswerOnlyForTheirOwnTypeAndLeaveTheOutputAlone) {
    s7_value* alt = s7_value_new_u64_alt(5);
    s7_value* u32 = s7_value_new_u32(7);
    uint64_t out64 = 42;
    EXPECT_NE(s7_value_get_u64(alt, &out64), 0);
    EXPECT_EQ(out64, 42u);
    EXPECT_EQ(s7_value_get_u64_alt(alt, &out64), 0);
    EXPECT_EQ(out64, 5u);
    int32_t outI = 42;
    EXPECT_NE(s7_value_get_i32(u32, &outI), 0);
    EXPECT_EQ(outI, 42);
    uint32_t outU = 0;
    EXPECT_NE(s7_value_get_id_vlq(u32, &outU), 0);
    EXPECT_NE(s7_value_get_u32(u32, nullptr), 0);
    EXPECT_NE(s7_value_get_u32(nullptr, &outU), 0);
    // A scalar marked with an array flag is not answered either.
    s7_value_set_flags(u32, S7_FLAG_ARRAY);
    EXPECT_NE(s7_value_get_u32(u32, &outU), 0);
    const char* text = nullptr;
    uint32_t length = 0;
    EXPECT_NE(s7_value_get_string(u32, &text, &length), 0);
    s7_value_free(alt);
    s7_value_free(u32);
}

TEST(ValueArrays, AppendAndPutFollowTheArrayFlag) {
    EXPECT_EQ(s7_value_new_array(S7_TYPE_U8, 0x00), nullptr);
    EXPECT_EQ(s7_value_new_array(S7_TYPE_U8, 0x30), nullptr);
    s7_value* positional = s7_value_new_array(S7_TYPE_U8, S7_FLAG_ARRAY);
    s7_value* keyed = s7_value_new_array(S7_TYPE_U8, S7_FLAG_ARRAY_KEYED);
    s7_value* u8 = s7_value_new_u8(1);
    s7_value* u16 = s7_value_new_u16(1);
    EXPECT_EQ(s7_array_put(positional, 4, u8), 1);
    EXPECT_EQ(s7_array_append(keyed, u8), 1);
    EXPECT_EQ(s7_array_append(positional, u16), 1);  // other element type
    EXPECT_EQ(s7_array_append(positional, u8), 0);
    EXPECT_EQ(s7_array_put(keyed, 9, s7_value_new_u8(2)), 0);
    uint32_t key = 0;
    ASSERT_EQ(s7_array_key_at(keyed, 0, &key), 0);
    EXPECT_EQ(key, 9u);
    EXPECT_EQ(s7_array_count(positional), 1u);
    EXPECT_EQ(s7_array_count(u16), 0u);
    s7_value_free(u16);
    s7_value_free(positional);
    s7_value_free(keyed);
}

s7_value* u8Array(std::initializer_list<uint8_t> bytes) {
    s7_value* a = s7_value_new_array(S7_TYPE_U8, S7_FLAG_ARRAY);
    for (uint8_t b : bytes) {
        EXPECT_EQ(s7_array_append(a, s7_value_new_u8(b)), 0);
    }
    return a;
}

TEST(ValueStringChars, CopiesUpToTheLengthOrTheLastElement) {
    struct Row {
        std::initializer_list<uint8_t> elements;
        const char* text;
    };
    const Row rows[] = {
        {{254, 3, 'a', 'b'}, "ab"},       // stops at the last element
        {{254, 2, 'a', 'b', 'c'}, "ab"},  // stops at the length
        {{254, 0, 'a'}, ""},
        {{254, 5}, ""},  // two elements or fewer: empty
        {{}, ""},
    };
    for (const Row& row : rows) {
        s7_value* a = u8Array(row.elements);
        char* text = nullptr;
        ASSERT_EQ(s7_value_string_chars(a, &text), 0);
        EXPECT_STREQ(text, row.text);
        s7_free(text);
        s7_value_free(a);
    }
    char* text = nullptr;
    s7_value* u16s = s7_value_new_array(S7_TYPE_U16, S7_FLAG_ARRAY);
    EXPECT_EQ(s7_value_string_chars(u16s, &text), 1);
    s7_value_free(u16s);
    // An element that is no plain U8 cannot get into the array at all, so
    // every element the text is copied from is a character.
    s7_value* bad = s7_value_new_array(S7_TYPE_U8, S7_FLAG_ARRAY);
    ASSERT_EQ(s7_array_append(bad, s7_value_new_u8(9)), 0);
    s7_value* notScalar = s7_value_new_u8(2);
    s7_value_set_flags(notScalar, S7_FLAG_ARRAY);
    EXPECT_EQ(s7_array_append(bad, notScalar), 1);
    s7_value_free(notScalar);
    ASSERT_EQ(s7_array_append(bad, s7_value_new_u8(1)), 0);
    ASSERT_EQ(s7_array_append(bad, s7_value_new_u8('x')), 0);
    ASSERT_EQ(s7_value_string_chars(bad, &text), 0);
    EXPECT_STREQ(text, "x");
    s7_free(text);
    s7_value_free(bad);
}

// One value of every shape the constructors can build, nested ones included.
std::vector<s7_value*> everyShape() {
    std::vector<s7_value*> v = {
        s7_value_new_null(),
        s7_value_new_bool(7),
        s7_value_new_u8(200),
        s7_value_new_u16(0xBEEF),
        s7_value_new_u32(0xFFFFFFFF),
        s7_value_new_u64(~uint64_t{0}),
        s7_value_new_i8(-5),
        s7_value_new_i16(-300),
        s7_value_new_i32(INT32_MIN),
        s7_value_new_i32(-64),
        s7_value_new_i64(INT64_MIN),
        s7_value_new_bits8(0x81),
        s7_value_new_bits16(0x8001),
        s7_value_new_bits32(0xDEADBEEF),
        s7_value_new_bits64(0x0123456789ABCDEF),
        s7_value_new_f32(-1.5f),
        s7_value_new_f64(3.25),
        s7_value_new_u64_alt(uint64_t{1} << 56),
        s7_value_new_i64_alt(-(int64_t{1} << 55)),
        s7_value_new_id32(0x8A0E0001),
        s7_value_new_id_vlq(1037),
        s7_value_new_blob("\x01\x02\x03", 3),
        s7_value_new_blob(nullptr, 0),
        s7_value_new_string("hello", 5),
        s7_value_new_string(nullptr, 0),
        s7_value_new_packed(0x90010000, 0x1122334455667788, 5, "xyz", 3),
    };
    s7_value* ids = s7_value_new_array(S7_TYPE_ID32, S7_FLAG_ARRAY);
    s7_array_append(ids, s7_value_new_id32(0xFFFFFFFF));
    s7_array_append(ids, s7_value_new_id32(1));
    v.push_back(ids);
    s7_value* bits = s7_value_new_array(S7_TYPE_BITS64, S7_FLAG_ARRAY_KEYED);
    s7_array_put(bits, 0, s7_value_new_bits64(~uint64_t{0}));
    v.push_back(bits);
    s7_value* strings = s7_value_new_array(S7_TYPE_STRING, S7_FLAG_ARRAY);
    s7_array_append(strings, s7_value_new_string("a", 1));
    s7_array_append(strings, s7_value_new_string("", 0));
    v.push_back(strings);
    v.push_back(s7_value_new_array(S7_TYPE_F32, S7_FLAG_ARRAY));
    // Empty arrays of one-byte elements have no element block to copy into.
    v.push_back(s7_value_new_array(S7_TYPE_U8, S7_FLAG_ARRAY_KEYED));
    v.push_back(s7_value_new_array(S7_TYPE_BOOL, S7_FLAG_ARRAY));
    // A structure holding a scalar, an array, a packed value and a structure
    // that holds an array of structures.
    s7_value* inner = s7_value_new_struct(1246);
    s7_struct_set(inner, 1247, s7_value_new_i32(8));
    s7_value* structs = s7_value_new_array(S7_TYPE_STRUCT, S7_FLAG_ARRAY);
    s7_value* element = s7_value_new_struct(5);
    s7_struct_set(element, 300, s7_value_new_string("x", 1));
    s7_array_append(structs, element);
    s7_array_append(structs, s7_value_new_struct(6));
    s7_struct_set(inner, 1250, structs);
    s7_value* outer = s7_value_new_struct(0x12345678);
    s7_struct_set(outer, 1, s7_value_new_u16(1));
    s7_struct_set(outer, 2, u8Array({1, 2, 3}));
    s7_struct_set(outer, 3, s7_value_new_packed(0x02000001, 0, 0, nullptr, 0));
    s7_struct_set(outer, 0xFFFFFFFF, inner);
    v.push_back(outer);
    return v;
}

TEST(ValueCodec, SizeEqualsBytesWrittenAndTheRoundTripIsExact) {
    for (s7_value* v : everyShape()) {
        ASSERT_NE(v, nullptr);
        const uint32_t size = s7_value_size(v);
        ASSERT_GT(size, 0u) << "type " << int(s7_value_type(v));
        const Bytes first = encode(v);
        ASSERT_EQ(first.size(), size);
        Decoded d;
        decode(first, d);
        ASSERT_EQ(d.rc, S7_STATUS_OK) << "type " << int(s7_value_type(v));
        EXPECT_EQ(d.consumed, first.size());
        EXPECT_EQ(encode(d.value), first) << "type " << int(s7_value_type(v));
        // The element size matches the element writer too.
        if (!s7_value_is_array(v) && s7_value_type(v) != S7_TYPE_BLOB) {
            Bytes element(s7_element_size(v) + 1);
            s7_cursor c{element.data(), element.data() + element.size()};
            EXPECT_EQ(s7_encode_element(&c, v), S7_STATUS_OK);
            EXPECT_EQ(static_cast<uint32_t>(c.cur - element.data()), s7_element_size(v));
        }
        s7_value_free(v);
    }
}

TEST(ValueCodec, WorkedEncodings) {
    struct Row {
        s7_value* value;
        Bytes bytes;
    };
    const Row rows[] = {
        {s7_value_new_bool(1), {0x00, 0x01, 0x01}},
        {s7_value_new_u32(0), {0x00, 0x04, 0x00}},
        {s7_value_new_id32(0x80C3C901), {0x00, 0x12, 0x80, 0xC3, 0xC9, 0x01}},
        {s7_value_new_i32(-1), {0x00, 0x08, 0x7F}},
        {s7_value_new_f32(1.0f), {0x00, 0x0E, 0x3F, 0x80, 0x00, 0x00}},
        {s7_value_new_string("ab", 2), {0x00, 0x15, 0x02, 'a', 'b'}},
        {s7_value_new_struct(9), {0x00, 0x17, 0, 0, 0, 9, 0x00}},
        {s7_value_new_packed(0x90000001, 2, 1, "\x7F", 1),
         {0x00, 0x17, 0x90, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 2, 0x01, 0x01, 0x7F}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(encode(row.value), row.bytes);
        s7_value_free(row.value);
    }
}

TEST(ValueCodec, ValuesThatCannotTravelHaveSizeZeroAndAreNotWritten) {
    // A blob array would be read back as bare payloads, a member under key 0
    // would end the member list early, an array flag on a scalar would turn it
    // into an array on the wire.
    s7_value* blobs = s7_value_new_array(S7_TYPE_BLOB, S7_FLAG_ARRAY);
    s7_array_append(blobs, s7_value_new_blob("a", 1));
    s7_value* keyZero = s7_value_new_struct(3);
    s7_struct_set(keyZero, 0, s7_value_new_u8(1));
    s7_value* flagged = s7_value_new_u8(1);
    s7_value_set_flags(flagged, S7_FLAG_ARRAY_KEYED);
    for (s7_value* v : {blobs, keyZero, flagged}) {
        EXPECT_EQ(s7_value_size(v), 0u);
        Bytes out(64);
        s7_cursor c{out.data(), out.data() + out.size()};
        EXPECT_NE(s7_encode_value(&c, v), S7_STATUS_OK);
        s7_value_free(v);
    }
}

TEST(ValueCodec, EncoderNeverWritesPastItsRoom) {
    s7_value* v = s7_value_new_string("hello", 5);
    Bytes out(6, 0xEE);  // one byte short
    s7_cursor c{out.data(), out.data() + out.size()};
    EXPECT_EQ(s7_encode_value(&c, v), S7_STATUS_BOUNDS);
    s7_value_free(v);
}

// ------------------------------------------------------------ arrays of scalars

// Element `i` of an array read through the element getter of `type`, as its
// bit pattern again (the getters' output, widened the way the array stores
// it); false when the getter refuses.
template <typename T>
bool viaGetter(uint8_t (*getter)(const s7_value*, uint32_t, T*), const s7_value* a, uint32_t i, uint64_t* bits) {
    T v{};
    if (getter(a, i, &v) != S7_OK) {
        return false;
    }
    if constexpr (std::is_floating_point_v<T>) {
        std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t> raw = 0;
        std::memcpy(&raw, &v, sizeof raw);
        *bits = raw;
    } else if constexpr (std::is_same_v<T, bool>) {
        *bits = v ? 1 : 0;
    } else {
        *bits = static_cast<std::make_unsigned_t<T>>(v);
    }
    return true;
}

bool typedElement(const s7_value* a, uint32_t i, uint8_t type, uint64_t* bits) {
    switch (type) {
    case S7_TYPE_BOOL: return viaGetter(s7_array_get_bool, a, i, bits);
    case S7_TYPE_U8: return viaGetter(s7_array_get_u8, a, i, bits);
    case S7_TYPE_U16: return viaGetter(s7_array_get_u16, a, i, bits);
    case S7_TYPE_U32: return viaGetter(s7_array_get_u32, a, i, bits);
    case S7_TYPE_U64: return viaGetter(s7_array_get_u64, a, i, bits);
    case S7_TYPE_I8: return viaGetter(s7_array_get_i8, a, i, bits);
    case S7_TYPE_I16: return viaGetter(s7_array_get_i16, a, i, bits);
    case S7_TYPE_I32: return viaGetter(s7_array_get_i32, a, i, bits);
    case S7_TYPE_I64: return viaGetter(s7_array_get_i64, a, i, bits);
    case S7_TYPE_BITS8: return viaGetter(s7_array_get_bits8, a, i, bits);
    case S7_TYPE_BITS16: return viaGetter(s7_array_get_bits16, a, i, bits);
    case S7_TYPE_BITS32: return viaGetter(s7_array_get_bits32, a, i, bits);
    case S7_TYPE_BITS64: return viaGetter(s7_array_get_bits64, a, i, bits);
    case S7_TYPE_F32: return viaGetter(s7_array_get_f32, a, i, bits);
    case S7_TYPE_F64: return viaGetter(s7_array_get_f64, a, i, bits);
    case S7_TYPE_U64_ALT: return viaGetter(s7_array_get_u64_alt, a, i, bits);
    case S7_TYPE_I64_ALT: return viaGetter(s7_array_get_i64_alt, a, i, bits);
    case S7_TYPE_ID32: return viaGetter(s7_array_get_id32, a, i, bits);
    case S7_TYPE_ID_VLQ: return viaGetter(s7_array_get_id_vlq, a, i, bits);
    default: return false;
    }
}

// The wire form of an array as one heap value per element wrote it: flag,
// type, count and each element by the element encoder.
Bytes elementByElement(uint8_t flag, uint8_t type, const std::vector<uint64_t>& elements) {
    Bytes out = {flag, type};
    Bytes count(5);
    s7_cursor cc{count.data(), count.data() + count.size()};
    EXPECT_EQ(s7_write_vlq64(&cc, elements.size()), S7_STATUS_OK);
    out.insert(out.end(), count.data(), cc.cur);
    for (uint64_t bits : elements) {
        s7_value* e = s7_value_new_scalar(type, bits);
        Bytes one(s7_element_size(e));
        s7_cursor c{one.data(), one.data() + one.size()};
        EXPECT_EQ(s7_encode_element(&c, e), S7_STATUS_OK);
        out.insert(out.end(), one.begin(), one.end());
        s7_value_free(e);
    }
    return out;
}

TEST(ValuePackedArrays, EveryScalarTypeTravelsAndReadsBackThroughItsGetters) {
    struct Row {
        uint8_t type;
        std::vector<uint64_t> elements;  // bit patterns, extremes among them
    };
    const Row rows[] = {
        {S7_TYPE_BOOL, {1, 0, 1}},
        {S7_TYPE_U8, {0, 0xFF, 0x7F}},
        {S7_TYPE_U16, {0xFFFF, 0, 0x1234}},
        {S7_TYPE_U32, {0xFFFFFFFF, 0, 300}},
        {S7_TYPE_U64, {~uint64_t{0}, 0, uint64_t{1} << 40}},
        {S7_TYPE_I8, {0x80, 0x7F, 0xFF}},
        {S7_TYPE_I16, {0x8000, 0x7FFF, 0xFFFF}},
        {S7_TYPE_I32, {0x80000000, 0x7FFFFFFF, 0xFFFFFFFF, 63, 64, 0xFFFFFFC0}},
        {S7_TYPE_I64, {uint64_t{1} << 63, ~uint64_t{0} >> 1, ~uint64_t{0}}},
        {S7_TYPE_BITS8, {0x81, 0}},
        {S7_TYPE_BITS16, {0x8001, 0xFFFF}},
        {S7_TYPE_BITS32, {0xDEADBEEF, 0, 128}},
        {S7_TYPE_BITS64, {~uint64_t{0}, 0, 5}},
        {S7_TYPE_F32, {0xBFC00000 /* -1.5 */, 0x7F800000 /* inf */, 0x80000000 /* -0 */}},
        {S7_TYPE_F64, {0x400A000000000000 /* 3.25 */, 0x8000000000000000, 0x7FF0000000000001 /* NaN */}},
        {S7_TYPE_U64_ALT, {uint64_t{1} << 56, ~uint64_t{0}}},
        {S7_TYPE_I64_ALT, {uint64_t{1} << 63, 1}},
        {S7_TYPE_ID32, {0x8A0E0001, 0, 0xFFFFFFFF}},
        {S7_TYPE_ID_VLQ, {1037, 0xFFFFFFFF}},
    };
    for (const Row& row : rows) {
        for (uint8_t flag : {uint8_t{S7_FLAG_ARRAY}, uint8_t{S7_FLAG_ARRAY_KEYED}}) {
            SCOPED_TRACE(testing::Message() << "type " << int(row.type) << " flag " << int(flag));
            const auto n = static_cast<uint32_t>(row.elements.size());
            // Built element by element; the keyed one under keys that are
            // not the positions.
            s7_value* built = s7_value_new_array(row.type, flag);
            for (uint32_t i = 0; i < n; ++i) {
                s7_value* e = s7_value_new_scalar(row.type, row.elements[i]);
                ASSERT_EQ(flag == S7_FLAG_ARRAY ? s7_array_append(built, e) : s7_array_put(built, 100 - 7 * i, e), 0);
            }
            EXPECT_TRUE(s7_array_holds_scalars(built));
            const Bytes wire = elementByElement(flag, row.type, row.elements);
            EXPECT_EQ(encode(built), wire);

            Decoded d;
            decode(wire, d);
            ASSERT_EQ(d.rc, S7_STATUS_OK);
            ASSERT_EQ(s7_array_count(d.value), n);
            EXPECT_EQ(s7_value_flags(d.value), flag);
            for (uint32_t i = 0; i < n; ++i) {
                uint64_t typed = 0;
                uint64_t bits = 0;
                ASSERT_TRUE(typedElement(d.value, i, row.type, &typed)) << "element " << i;
                ASSERT_EQ(s7_array_get_bits(d.value, i, &bits), 0);
                EXPECT_EQ(typed, row.elements[i]) << "element " << i;
                EXPECT_EQ(bits, row.elements[i]) << "element " << i;
                uint32_t key = 0;
                ASSERT_EQ(s7_array_key_at(d.value, i, &key), 0);
                EXPECT_EQ(key, i) << "a decoded array is keyed by position";
                ASSERT_EQ(s7_array_key_at(built, i, &key), 0);
                EXPECT_EQ(key, flag == S7_FLAG_ARRAY ? i : 100 - 7 * i);
                ASSERT_TRUE(typedElement(built, i, row.type, &typed));
                EXPECT_EQ(typed, row.elements[i]);
            }
            EXPECT_EQ(encode(d.value), wire);
            s7_value_free(built);
        }
    }
}

TEST(ValuePackedArrays, ElementGettersRefuseWhatIsNotTheirsAndLeaveTheOutputAlone) {
    Decoded bytes;
    decode({0x10, 0x02, 0x02, 0x07, 0x09}, bytes);  // U8 [7, 9]
    ASSERT_EQ(bytes.rc, S7_STATUS_OK);
    Decoded alt;
    decode({0x10, 0x10, 0x01, 0x05}, alt);  // U64_ALT [5]
    ASSERT_EQ(alt.rc, S7_STATUS_OK);
    s7_value* scalar = s7_value_new_u8(7);
    s7_value* strings = s7_value_new_array(S7_TYPE_STRING, S7_FLAG_ARRAY);
    ASSERT_EQ(s7_array_append(strings, s7_value_new_string("a", 1)), 0);

    uint8_t u8 = 42;
    uint16_t u16 = 42;
    uint64_t u64 = 42;
    EXPECT_NE(s7_array_get_u16(bytes.value, 0, &u16), 0) << "another element type";
    EXPECT_NE(s7_array_get_bits8(bytes.value, 0, &u8), 0) << "another type of the same width";
    EXPECT_NE(s7_array_get_u64(alt.value, 0, &u64), 0) << "U64 is not U64_ALT";
    EXPECT_NE(s7_array_get_u8(bytes.value, 2, &u8), 0) << "index past the end";
    EXPECT_NE(s7_array_get_bits(bytes.value, 2, &u64), 0) << "index past the end";
    EXPECT_NE(s7_array_get_u8(scalar, 0, &u8), 0) << "a scalar is no array";
    EXPECT_NE(s7_array_get_bits(scalar, 0, &u64), 0) << "a scalar is no array";
    EXPECT_NE(s7_array_get_bits(strings, 0, &u64), 0) << "strings are values of their own";
    EXPECT_NE(s7_array_get_u8(nullptr, 0, &u8), 0);
    EXPECT_NE(s7_array_get_u8(bytes.value, 0, nullptr), 0);
    EXPECT_NE(s7_array_get_bits(bytes.value, 0, nullptr), 0);
    EXPECT_EQ(u8, 42);
    EXPECT_EQ(u16, 42);
    EXPECT_EQ(u64, 42u);
    EXPECT_EQ(s7_array_get_u64_alt(alt.value, 0, &u64), 0);
    EXPECT_EQ(u64, 5u);

    // The elements of an array of scalars are no values: the value accessors
    // say so; those of an array of strings still are.
    const s7_value* element = scalar;
    uint32_t key = 42;
    EXPECT_EQ(s7_array_at(bytes.value, 0, &element), S7_ERR_ARGUMENT);
    EXPECT_EQ(s7_array_entry_at(bytes.value, 0, &key, &element), S7_ERR_ARGUMENT);
    EXPECT_EQ(element, scalar);
    EXPECT_EQ(key, 42u);
    EXPECT_FALSE(s7_array_holds_scalars(strings));
    EXPECT_FALSE(s7_array_holds_scalars(scalar));
    ASSERT_EQ(s7_array_at(strings, 0, &element), 0);
    EXPECT_EQ(s7_value_type(element), S7_TYPE_STRING);
    EXPECT_EQ(s7_array_key_at(strings, 0, &key), 0);
    EXPECT_EQ(key, 0u);
    EXPECT_NE(s7_array_key_at(bytes.value, 2, &key), 0);
    EXPECT_NE(s7_array_key_at(scalar, 0, &key), 0);
    EXPECT_NE(s7_array_key_at(bytes.value, 0, nullptr), 0);
    s7_value_free(scalar);
    s7_value_free(strings);
}

TEST(ValuePackedArrays, AppendAndPutKeepTheElementsNumberAndFreeTheElement) {
    vemo::test::CountingAllocator alloc;
    s7_value* keyed = s7_value_new_array(S7_TYPE_I16, S7_FLAG_ARRAY_KEYED);
    // Keys at their positions need no key block; the first other key brings
    // one, holding the earlier positions.
    ASSERT_EQ(s7_array_put(keyed, 0, s7_value_new_i16(-1)), 0);
    ASSERT_EQ(s7_array_put(keyed, 1, s7_value_new_i16(2)), 0);
    EXPECT_EQ(alloc.live(), 2u) << "the array and its element block; the elements are freed";
    ASSERT_EQ(s7_array_put(keyed, 40000, s7_value_new_i16(3)), 0);
    EXPECT_EQ(alloc.live(), 3u) << "and now a key block";
    for (uint32_t i = 3; i < 100; ++i) {
        ASSERT_EQ(s7_array_put(keyed, i * 2, s7_value_new_i16(static_cast<int16_t>(-static_cast<int>(i)))), 0);
    }
    ASSERT_EQ(s7_array_count(keyed), 100u);
    const uint32_t keys[] = {0, 1, 40000, 6, 198};
    const int16_t values[] = {-1, 2, 3, -3, -99};
    const uint32_t at[] = {0, 1, 2, 3, 99};
    for (size_t k = 0; k < 5; ++k) {
        uint32_t key = 0;
        int16_t v = 0;
        ASSERT_EQ(s7_array_key_at(keyed, at[k], &key), 0);
        ASSERT_EQ(s7_array_get_i16(keyed, at[k], &v), 0);
        EXPECT_EQ(key, keys[k]);
        EXPECT_EQ(v, values[k]);
    }

    // Only a plain scalar of the element type gets in; the caller keeps
    // whatever is refused.
    s7_value* positional = s7_value_new_array(S7_TYPE_U8, S7_FLAG_ARRAY);
    s7_value* nested = s7_value_new_array(S7_TYPE_U8, S7_FLAG_ARRAY);
    s7_value* flagged = s7_value_new_u8(1);
    s7_value_set_flags(flagged, S7_FLAG_ARRAY_KEYED);
    s7_value* other = s7_value_new_i8(1);
    EXPECT_EQ(s7_array_append(positional, nested), S7_ERR_ARGUMENT);
    EXPECT_EQ(s7_array_append(positional, flagged), S7_ERR_ARGUMENT);
    EXPECT_EQ(s7_array_append(positional, other), S7_ERR_ARGUMENT);
    EXPECT_EQ(s7_array_count(positional), 0u);
    for (s7_value* v : {nested, flagged, other}) {
        s7_value_free(v);
    }

    // Running out of memory at either block leaves the array as it was and
    // the element with the caller.
    for (uint32_t i = 0; i < 8; ++i) {
        ASSERT_EQ(s7_array_append(positional, s7_value_new_u8(static_cast<uint8_t>(i))), 0);
    }
    s7_value* fresh = s7_value_new_array(S7_TYPE_U8, S7_FLAG_ARRAY_KEYED);
    ASSERT_EQ(s7_array_put(fresh, 0, s7_value_new_u8(1)), 0);
    s7_value* ninth = s7_value_new_u8(9);
    alloc.failFrom(1);
    EXPECT_EQ(s7_array_append(positional, ninth), S7_ERR_NO_MEMORY) << "the element block cannot grow";
    EXPECT_EQ(s7_array_put(fresh, 5, ninth), S7_ERR_NO_MEMORY) << "no key block can be made";
    alloc.failFrom(0);
    EXPECT_EQ(s7_array_count(positional), 8u);
    EXPECT_EQ(s7_array_count(fresh), 1u);
    uint8_t last = 0;
    ASSERT_EQ(s7_array_get_u8(positional, 7, &last), 0);
    EXPECT_EQ(last, 7);
    uint32_t key = 9;
    ASSERT_EQ(s7_array_key_at(fresh, 0, &key), 0);
    EXPECT_EQ(key, 0u);
    ASSERT_EQ(s7_array_append(positional, ninth), 0);
    ASSERT_EQ(s7_array_get_u8(positional, 8, &last), 0);
    EXPECT_EQ(last, 9);
    for (s7_value* v : {positional, keyed, fresh}) {
        s7_value_free(v);
    }
    EXPECT_EQ(alloc.live(), 0u);
}

TEST(ValuePackedArrays, NullElementsCarryNothing) {
    s7_value* nulls = s7_value_new_array(S7_TYPE_NULL, S7_FLAG_ARRAY);
    ASSERT_EQ(s7_array_append(nulls, s7_value_new_null()), 0);
    ASSERT_EQ(s7_array_append(nulls, s7_value_new_null()), 0);
    uint64_t bits = 42;
    ASSERT_EQ(s7_array_get_bits(nulls, 1, &bits), 0);
    EXPECT_EQ(bits, 0u);
    EXPECT_EQ(encode(nulls), (Bytes{0x10, 0x00, 0x02}));
    s7_value_free(nulls);
}

// ------------------------------------------------------------ memory budget

// A body of `head`, then `count` times `element`, then `tail`.
Bytes repeated(const Bytes& head, const Bytes& element, size_t count, const Bytes& tail) {
    Bytes b = head;
    b.reserve(head.size() + element.size() * count + tail.size());
    for (size_t i = 0; i < count; ++i) {
        b.insert(b.end(), element.begin(), element.end());
    }
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
}

TEST(ValueBudget, DenseFormsFitAndNothingEverTakesMoreThanTheBudget) {
    vemo::test::CountingAllocator alloc;
    constexpr size_t kMany = 200000;
    const Bytes count200k = {0x8C, 0x9A, 0x40};  // VLQ of 200000
    struct Row {
        const char* name;
        Bytes body;
        uint8_t rc;
        uint32_t count;  // elements or members of a success
    };
    const Row rows[] = {
        // The densest packed form: 8 bytes in memory for each byte.
        {"U64 elements of one byte", repeated(concat({{0x10, 0x05}, count200k}), {0x00}, kMany, {}),
         S7_STATUS_OK, 200000},
        {"keyed U64 elements of one byte", repeated(concat({{0x20, 0x05}, count200k}), {0x00}, kMany, {}),
         S7_STATUS_OK, 200000},
        {"F64 elements", repeated(concat({{0x10, 0x0F}, count200k}), {0x3F, 0xF0, 0, 0, 0, 0, 0, 0}, kMany, {}),
         S7_STATUS_OK, 200000},
        // A 48-byte value and its entry for every three bytes; the repeated
        // key collapses them only at the end.
        {"NULL members under one key", repeated({0x00, 0x17, 0, 0, 0, 1}, {0x01, 0x00, 0x00}, kMany, {0x00}),
         S7_STATUS_OK, 1},
        // A value, its entry and a one-byte text for every byte.
        {"empty strings", repeated(concat({{0x10, 0x15}, count200k}), {0x00}, kMany, {}), S7_STATUS_NO_MEMORY, 0},
        {"empty strings in a structure",
         repeated(concat({{0x00, 0x17, 0, 0, 0, 1, 0x05, 0x10, 0x15}, count200k}), {0x00}, kMany, {0x00}),
         S7_STATUS_NO_MEMORY, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        alloc.resetPeak();
        Decoded d;
        decode(row.body, d);
        ASSERT_EQ(d.rc, row.rc);
        if (row.rc == S7_STATUS_OK) {
            EXPECT_EQ(d.consumed, row.body.size());
            EXPECT_EQ(s7_value_is_array(d.value) ? s7_array_count(d.value) : s7_struct_count(d.value), row.count);
        } else {
            EXPECT_EQ(d.value, nullptr);
        }
        EXPECT_LE(alloc.peakBytes(), s7_budget_for(row.body.size()).left);
    }
    EXPECT_EQ(alloc.live(), 0u);
}

TEST(ValueBudget, CoversEveryBlockADecodeAllocates) {
    vemo::test::CountingAllocator alloc;
    std::vector<s7_value*> shapes = everyShape();
    std::vector<Bytes> bodies;
    for (s7_value* v : shapes) {
        bodies.push_back(encode(v));
        s7_value_free(v);
    }
    // And an array of strings, each element a value of its own.
    bodies.push_back({0x10, 0x15, 0x03, 0x02, 'a', 'b', 0x00, 0x01, 'c'});
    for (const Bytes& body : bodies) {
        SCOPED_TRACE(testing::Message() << "type " << int(body[1]) << ", " << body.size() << " bytes");
        const auto decodeWith = [&](uint64_t left) {
            s7_budget budget{left};
            Bytes copy = body;
            s7_cursor c{copy.data(), copy.data() + copy.size()};
            s7_value* v = nullptr;
            const s7_status rc = s7_decode_value_within(&c, &budget, &v);
            s7_value_free(v);
            return rc;
        };
        // The least budget the decode succeeds with: the bytes it takes.
        uint64_t low = 0;
        uint64_t high = s7_budget_for(body.size()).left;
        ASSERT_EQ(decodeWith(high), S7_STATUS_OK);
        while (low < high) {
            const uint64_t mid = low + (high - low) / 2;
            if (decodeWith(mid) == S7_STATUS_OK) {
                high = mid;
            } else {
                low = mid + 1;
            }
        }
        // No block went uncounted: the decode never held more than that.
        alloc.resetPeak();
        ASSERT_EQ(decodeWith(low), S7_STATUS_OK);
        EXPECT_LE(alloc.peakBytes(), low);
        if (low != 0) {
            EXPECT_EQ(decodeWith(low - 1), S7_STATUS_NO_MEMORY);
        }
        EXPECT_EQ(alloc.live(), 0u);
    }
}

// ------------------------------------------------------------ hostile input

Bytes nestedStructs(size_t depth) {
    Bytes b;
    for (size_t i = 0; i < depth; ++i) {
        const Bytes level = {0x00, 0x17, 0, 0, 0, 1, 0x01};  // struct 1, member key 1 follows
        b.insert(b.end(), level.begin(), level.end());
    }
    return b;
}

TEST(ValueHostile, DeepNestingFailsCleanly) {
    vemo::test::CountingAllocator alloc;
    {
        Decoded d;
        decode(nestedStructs(100000), d);
        EXPECT_EQ(d.rc, S7_STATUS_RANGE);
        EXPECT_EQ(d.value, nullptr);
    }
    {
        // Arrays of structures nest as well.
        Bytes b;
        for (int i = 0; i < 100000; ++i) {
            const Bytes level = {0x10, 0x17, 0x01, 0, 0, 0, 1, 0x01};
            b.insert(b.end(), level.begin(), level.end());
        }
        Decoded d;
        decode(b, d);
        EXPECT_EQ(d.rc, S7_STATUS_RANGE);
    }
    EXPECT_EQ(alloc.live(), 0u);
}

TEST(ValueHostile, NestingUpToTheLimitIsAccepted) {
    // 63 structures inside the outermost one: 64 levels.
    Bytes b = nestedStructs(S7_VALUE_MAX_DEPTH - 1);
    const Bytes last = {0x00, 0x17, 0, 0, 0, 1, 0x00};
    b.insert(b.end(), last.begin(), last.end());
    b.insert(b.end(), S7_VALUE_MAX_DEPTH - 1, 0x00);  // close every member list
    Decoded d;
    decode(b, d);
    ASSERT_EQ(d.rc, S7_STATUS_OK);
    EXPECT_EQ(d.consumed, b.size());
    EXPECT_EQ(encode(d.value), b);

    Bytes deeper = nestedStructs(S7_VALUE_MAX_DEPTH);
    deeper.insert(deeper.end(), last.begin(), last.end());
    deeper.insert(deeper.end(), S7_VALUE_MAX_DEPTH, 0x00);
    Decoded refused;
    decode(deeper, refused);
    EXPECT_EQ(refused.rc, S7_STATUS_RANGE);
}

TEST(ValueHostile, HugeCountsReserveNothingTheBodyCannotHold) {
    vemo::test::CountingAllocator alloc;
    struct Row {
        const char* name;
        Bytes bytes;
        uint8_t rc;
    };
    const Row rows[] = {
        {"U8 array of 0xFFFFFFFF",
         {0x10, 0x02, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
         S7_STATUS_BOUNDS},
        {"keyed array of 0xFFFFFFFF", {0x20, 0x04, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 1}, S7_STATUS_BOUNDS},
        // Null elements take no bytes at all: no count of them is justified.
        {"null array of 0xFFFFFFFF", {0x10, 0x00, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}, S7_STATUS_RANGE},
        {"string of 0xFFFFFFFF", {0x00, 0x15, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 'a'}, S7_STATUS_BOUNDS},
        {"blob of 0xFFFFFFFF", {0x00, 0x14, 0x00, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}, S7_STATUS_BOUNDS},
    };
    for (const Row& row : rows) {
        alloc.failFrom(0);
        Decoded d;
        decode(row.bytes, d);
        EXPECT_EQ(d.rc, row.rc) << row.name;
        EXPECT_LE(alloc.calls(), 1u) << row.name;
    }
    EXPECT_EQ(alloc.live(), 0u);
}

TEST(ValueHostile, OnlyEmptyArraysOfNullElementsAreRead) {
    Decoded refused;
    decode({0x10, 0x00, 0x02, 0xFF, 0xFF}, refused);  // even with bytes to spare
    EXPECT_EQ(refused.rc, S7_STATUS_RANGE);
    Decoded empty;
    decode({0x20, 0x00, 0x00}, empty);
    ASSERT_EQ(empty.rc, S7_STATUS_OK);
    EXPECT_EQ(s7_array_count(empty.value), 0u);
    EXPECT_EQ(s7_value_type(empty.value), S7_TYPE_NULL);
}

TEST(ValueMemory, DecodingBuildsAllOrNothingWhenAllocationsFail) {
    vemo::test::CountingAllocator alloc;
    std::vector<s7_value*> shapes = everyShape();
    const Bytes body = encode(shapes.back());  // the nested structure
    for (s7_value* v : shapes) {
        s7_value_free(v);
    }
    ASSERT_EQ(alloc.live(), 0u);
    size_t n = 1;
    for (;; ++n) {
        alloc.failFrom(n);
        Decoded d;
        decode(body, d);
        if (d.rc == S7_STATUS_OK) {
            break;
        }
        EXPECT_EQ(d.rc, S7_STATUS_NO_MEMORY) << "allocation " << n;
        EXPECT_EQ(d.value, nullptr);
        EXPECT_EQ(alloc.live(), 0u) << "allocation " << n;
    }
    EXPECT_GT(n, 10u);
    alloc.failFrom(0);
}

}  // namespace

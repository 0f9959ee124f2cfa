// What the inspector and the command-line tool show for each kind of value,
// what kind of JSON value the tool makes of it, and which values fit which
// data types at all.
#include "vemo/core/ValueFormat.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

using vemo::describeValue;
using vemo::formatValue;
using vemo::typeMismatch;
using Kind = vemo::ValueKind;

struct ValueDeleter {
    void operator()(s7_value* v) const { s7_value_free(v); }
};
using Value = std::unique_ptr<s7_value, ValueDeleter>;

constexpr uint8_t kDint = S7_DATATYPE_DINT;
// A data type no value is checked against: a structure's.
constexpr uint8_t kDtl = S7_DATATYPE_DTL;

// The controller's STRING: a byte array [capacity, length, characters...].
Value controllerString(uint8_t capacity, uint8_t length, const std::string& chars) {
    Value array(s7_value_new_array(S7_TYPE_U8, S7_FLAG_ARRAY));
    for (uint8_t b : std::vector<uint8_t>{capacity, length}) {
        EXPECT_EQ(s7_array_append(array.get(), s7_value_new_u8(b)), 0);
    }
    for (char c : chars) {
        EXPECT_EQ(s7_array_append(array.get(), s7_value_new_u8(static_cast<uint8_t>(c))), 0);
    }
    return array;
}

TEST(FormatValue, EachValueTypeHasItsText) {
    const float fInf = std::numeric_limits<float>::infinity();
    // Each value under a data type it fits; the types without a text form,
    // and arrays, under one nothing is claimed about.
    struct Row {
        const char* what;
        s7_value* value;
        uint8_t datatype;
        const char* text;
        Kind kind;
    };
    const Row rows[] = {
        {"bool true", s7_value_new_bool(1), S7_DATATYPE_BOOL, "true", Kind::Bool},
        {"bool false", s7_value_new_bool(0), S7_DATATYPE_BBOOL, "false", Kind::Bool},
        {"u8", s7_value_new_u8(255), S7_DATATYPE_USINT, "255", Kind::Integer},
        {"bits8", s7_value_new_bits8(0x80), S7_DATATYPE_BYTE, "128", Kind::Integer},
        {"u16", s7_value_new_u16(65535), S7_DATATYPE_UINT, "65535", Kind::Integer},
        {"bits16", s7_value_new_bits16(4660), S7_DATATYPE_WORD, "4660", Kind::Integer},
        {"u32", s7_value_new_u32(4294967295u), S7_DATATYPE_UDINT, "4294967295", Kind::Integer},
        {"bits32", s7_value_new_bits32(1u << 31), S7_DATATYPE_DWORD, "2147483648", Kind::Integer},
        {"u64", s7_value_new_u64(18446744073709551615u), S7_DATATYPE_ULINT, "18446744073709551615", Kind::Integer},
        {"bits64", s7_value_new_bits64(1), S7_DATATYPE_LWORD, "1", Kind::Integer},
        {"i8", s7_value_new_i8(-128), S7_DATATYPE_SINT, "-128", Kind::Integer},
        {"i16", s7_value_new_i16(-32768), S7_DATATYPE_INT, "-32768", Kind::Integer},
        {"i32", s7_value_new_i32(-2147483647 - 1), kDint, "-2147483648", Kind::Integer},
        {"i64", s7_value_new_i64(std::numeric_limits<int64_t>::min()), S7_DATATYPE_LINT, "-9223372036854775808",
         Kind::Integer},
        {"u64 alt is shown signed", s7_value_new_u64_alt(18446744073709551615u), S7_DATATYPE_LDT, "-1", Kind::Integer},
        {"i64 alt", s7_value_new_i64_alt(-5), S7_DATATYPE_LTIME, "-5", Kind::Integer},
        {"f32 0.1 in its shortest form", s7_value_new_f32(0.1f), S7_DATATYPE_REAL, "0.1", Kind::Real},
        {"f32 100000", s7_value_new_f32(100000.0f), S7_DATATYPE_REAL, "100000", Kind::Real},
        {"f32 1e+20", s7_value_new_f32(1e20f), S7_DATATYPE_REAL, "1e+20", Kind::Real},
        {"f32 1e-05", s7_value_new_f32(1e-05f), S7_DATATYPE_REAL, "1e-05", Kind::Real},
        {"f32 inf", s7_value_new_f32(fInf), S7_DATATYPE_REAL, "inf", Kind::Real},
        {"f32 -inf", s7_value_new_f32(-fInf), S7_DATATYPE_REAL, "-inf", Kind::Real},
        {"f32 nan", s7_value_new_f32(std::numeric_limits<float>::quiet_NaN()), S7_DATATYPE_REAL, "nan", Kind::Real},
        {"f64 0.1", s7_value_new_f64(0.1), S7_DATATYPE_LREAL, "0.1", Kind::Real},
        {"f64 1e+20", s7_value_new_f64(1e20), S7_DATATYPE_LREAL, "1e+20", Kind::Real},
        {"f64 -inf", s7_value_new_f64(-std::numeric_limits<double>::infinity()), S7_DATATYPE_LREAL, "-inf", Kind::Real},
        {"string, all its bytes", s7_value_new_string("a\0b", 3), S7_DATATYPE_WSTRING, nullptr, Kind::Text},
        {"null", s7_value_new_null(), kDtl, "", Kind::Empty},
        {"id32", s7_value_new_id32(7), kDtl, "", Kind::Empty},
        {"id vlq", s7_value_new_id_vlq(7), kDtl, "", Kind::Empty},
        {"blob", s7_value_new_blob("ab", 2), kDtl, "", Kind::Empty},
        {"struct", s7_value_new_struct(1), kDtl, "", Kind::Empty},
        {"unchecked: an array of I32 has no I32 storage, 0", s7_value_new_array(S7_TYPE_I32, S7_FLAG_ARRAY), kDtl, "0",
         Kind::Integer},
        {"unchecked: an array of BOOL, false", s7_value_new_array(S7_TYPE_BOOL, S7_FLAG_ARRAY), kDtl, "false",
         Kind::Bool},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Value value(row.value);
        ASSERT_NE(value, nullptr);
        const std::string expected = row.text != nullptr ? row.text : std::string("a\0b", 3);
        EXPECT_EQ(formatValue(value.get(), row.datatype), expected);
        EXPECT_EQ(describeValue(value.get(), row.datatype).kind, row.kind);
    }
    EXPECT_EQ(formatValue(nullptr, kDint), "");
    EXPECT_EQ(describeValue(nullptr, kDint).kind, Kind::Empty);
}

// Which wire types a data type takes, and the text of those it does not:
// never a number, always what was sent for which data type.
TEST(FormatValue, AValueThatDoesNotFitItsDataTypeIsAMismatchNotANumber) {
    const auto array = [](uint8_t elementType, uint8_t flag = S7_FLAG_ARRAY) {
        return s7_value_new_array(elementType, flag);
    };
    const auto flaggedScalar = [] {
        s7_value* v = s7_value_new_i32(5);
        s7_value_set_flags(v, S7_FLAG_ARRAY);
        return v;
    };
    struct Row {
        s7_value* value;
        uint8_t datatype;
        const char* text;  // the value's own text when it fits, else the mismatch
    };
    const Row rows[] = {
        // The reported fault.
        {array(S7_TYPE_BOOL), kDint, "type mismatch: BOOL array for DINT"},
        // Integers: any integer wire type up to the data type's width.
        {s7_value_new_u8(200), S7_DATATYPE_INT, "200"},
        {s7_value_new_i16(-2), S7_DATATYPE_INT, "-2"},
        {s7_value_new_bits16(7), S7_DATATYPE_INT, "7"},
        {s7_value_new_u32(1), S7_DATATYPE_INT, "type mismatch: U32 for INT"},
        {s7_value_new_i64(1), S7_DATATYPE_INT, "type mismatch: I64 for INT"},
        {s7_value_new_i8(-1), S7_DATATYPE_BYTE, "-1"},
        {s7_value_new_u16(1), S7_DATATYPE_BYTE, "type mismatch: U16 for BYTE"},
        {s7_value_new_u16(1), S7_DATATYPE_BCD8, "type mismatch: U16 for BCD8"},
        {s7_value_new_u8(65), S7_DATATYPE_CHAR, "65"},
        {s7_value_new_u16(1), S7_DATATYPE_WCHAR, "1"},
        {s7_value_new_u32(1), S7_DATATYPE_WCHAR, "type mismatch: U32 for WCHAR"},
        {s7_value_new_u16(3), S7_DATATYPE_DATE, "3"},
        {s7_value_new_u32(3), S7_DATATYPE_DATE, "type mismatch: U32 for DATE"},
        {s7_value_new_bits16(4), S7_DATATYPE_S5TIME, "4"},
        {s7_value_new_u16(5), S7_DATATYPE_COUNTER, "5"},
        {s7_value_new_bits16(6), S7_DATATYPE_TIMER, "6"},
        {s7_value_new_i32(7), S7_DATATYPE_TIMER, "type mismatch: I32 for TIMER"},
        {s7_value_new_u32(8), S7_DATATYPE_TIME_OF_DAY, "8"},
        {s7_value_new_i32(-9), S7_DATATYPE_TIME, "-9"},
        {s7_value_new_bits32(10), S7_DATATYPE_BCD32, "10"},
        {s7_value_new_u64_alt(1), kDint, "type mismatch: U64_ALT for DINT"},
        {s7_value_new_i64_alt(1), S7_DATATYPE_UDINT, "type mismatch: I64_ALT for UDINT"},
        {s7_value_new_u64(11), S7_DATATYPE_LTOD, "11"},
        {s7_value_new_u8(12), S7_DATATYPE_LINT, "12"},
        {s7_value_new_bits64(13), S7_DATATYPE_BCD64, "13"},
        {s7_value_new_u16(14), S7_DATATYPE_BCD16, "14"},
        // What is no integer is no integer data type's value.
        {s7_value_new_bool(1), kDint, "type mismatch: BOOL for DINT"},
        {s7_value_new_f32(1.5f), kDint, "type mismatch: F32 for DINT"},
        {s7_value_new_id32(1), kDint, "type mismatch: ID32 for DINT"},
        {s7_value_new_id_vlq(1), S7_DATATYPE_DWORD, "type mismatch: ID_VLQ for DWORD"},
        {s7_value_new_null(), kDint, "type mismatch: NULL for DINT"},
        {s7_value_new_string("5", 1), S7_DATATYPE_INT, "type mismatch: STRING for INT"},
        {s7_value_new_blob("ab", 2), S7_DATATYPE_WORD, "type mismatch: BLOB for WORD"},
        {s7_value_new_struct(1), kDint, "type mismatch: STRUCT for DINT"},
        {s7_value_new_packed(1, 2, 3, "ab", 2), S7_DATATYPE_LWORD, "type mismatch: STRUCT for LWORD"},
        {array(S7_TYPE_I32), kDint, "type mismatch: I32 array for DINT"},
        {array(S7_TYPE_U16, S7_FLAG_ARRAY_KEYED), S7_DATATYPE_UINT, "type mismatch: U16 array for UINT"},
        {flaggedScalar(), kDint, "type mismatch: I32 array for DINT"},
        {array(22), S7_DATATYPE_ULINT, "type mismatch: type 22 array for ULINT"},
        // BOOL and BBOOL.
        {s7_value_new_bool(1), S7_DATATYPE_BBOOL, "true"},
        {s7_value_new_u8(1), S7_DATATYPE_BOOL, "type mismatch: U8 for BOOL"},
        {array(S7_TYPE_BOOL), S7_DATATYPE_BOOL, "type mismatch: BOOL array for BOOL"},
        // Reals: LREAL takes a float too, which widens exactly.
        {s7_value_new_f32(0.5f), S7_DATATYPE_LREAL, "0.5"},
        {s7_value_new_f64(0.5), S7_DATATYPE_REAL, "type mismatch: F64 for REAL"},
        {s7_value_new_i32(1), S7_DATATYPE_REAL, "type mismatch: I32 for REAL"},
        {s7_value_new_u64(1), S7_DATATYPE_LREAL, "type mismatch: U64 for LREAL"},
        {array(S7_TYPE_F32), S7_DATATYPE_REAL, "type mismatch: F32 array for REAL"},
        // Texts.
        {controllerString(4, 2, "ok").release(), S7_DATATYPE_STRING, "ok"},
        {s7_value_new_string("ok", 2), S7_DATATYPE_STRING, "type mismatch: STRING for STRING"},
        {array(S7_TYPE_U16), S7_DATATYPE_STRING, "type mismatch: U16 array for STRING"},
        {s7_value_new_blob("ok", 2), S7_DATATYPE_STRING, "type mismatch: BLOB for STRING"},
        {s7_value_new_string("ok", 2), S7_DATATYPE_WSTRING, "ok"},
        {controllerString(4, 2, "ok").release(), S7_DATATYPE_WSTRING, "type mismatch: U8 array for WSTRING"},
        {array(S7_TYPE_STRING), S7_DATATYPE_WSTRING, "type mismatch: STRING array for WSTRING"},
        // Data types shown by the value alone: nothing is claimed.
        {array(S7_TYPE_BOOL), kDtl, "false"},
        {s7_value_new_i64(-3), S7_DATATYPE_DATE_AND_TIME, "-3"},
        {s7_value_new_f64(2.5), S7_DATATYPE_STRUCT, "2.5"},
        {s7_value_new_u8(4), S7_DATATYPE_VOID, "4"},
        {s7_value_new_u16(5), 42, "5"},
    };
    for (const Row& row : rows) {
        Value value(row.value);
        ASSERT_NE(value, nullptr) << row.text;
        const std::string sent = vemo::wireTypeName(value.get());
        SCOPED_TRACE(sent + " for " + s7_datatype_name(row.datatype));
        const auto mismatch = typeMismatch(value.get(), row.datatype);
        const vemo::ValueText described = describeValue(value.get(), row.datatype);
        EXPECT_EQ(described.text, row.text);
        if (std::string(row.text).starts_with("type mismatch: ")) {
            ASSERT_TRUE(mismatch.has_value());
            EXPECT_EQ(*mismatch, (vemo::TypeMismatch{sent, row.datatype}));
            EXPECT_EQ(mismatch->text(), row.text);
            EXPECT_EQ(described.kind, Kind::Mismatch);
        } else {
            EXPECT_FALSE(mismatch.has_value()) << mismatch->text();
            EXPECT_NE(described.kind, Kind::Mismatch);
        }
    }
    EXPECT_FALSE(typeMismatch(nullptr, kDint).has_value()) << "no value is no answer, not a wrong one";
}

TEST(FormatValue, StringTagsShowTheCharactersUpToTheirLength) {
    Value abc = controllerString(254, 3, "abcdef");
    EXPECT_EQ(formatValue(abc.get(), S7_DATATYPE_STRING), "abc");
    EXPECT_EQ(describeValue(abc.get(), S7_DATATYPE_STRING).kind, Kind::Text);

    Value empty = controllerString(10, 0, "");
    EXPECT_EQ(formatValue(empty.get(), S7_DATATYPE_STRING), "");
    EXPECT_EQ(describeValue(empty.get(), S7_DATATYPE_STRING).kind, Kind::Text) << "an empty text is still a text";

    // The same array under another data type is no value of it, and
    // neither is anything but the byte array under STRING.
    EXPECT_EQ(formatValue(abc.get(), kDint), "type mismatch: U8 array for DINT");
    EXPECT_EQ(describeValue(abc.get(), kDint).kind, Kind::Mismatch);
    Value notAnArray(s7_value_new_i32(5));
    EXPECT_EQ(formatValue(notAnArray.get(), S7_DATATYPE_STRING), "type mismatch: I32 for STRING");
    EXPECT_EQ(describeValue(notAnArray.get(), S7_DATATYPE_STRING).kind, Kind::Mismatch);
}

}  // namespace

// What the inspector and the command-line tool show for each kind of value,
// and what kind of JSON value the tool makes of it.
#include "vemo/core/ValueFormat.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

using vemo::describeValue;
using vemo::formatValue;
using Kind = vemo::ValueKind;

struct ValueDeleter {
    void operator()(s7_value* v) const { s7_value_free(v); }
};
using Value = std::unique_ptr<s7_value, ValueDeleter>;

constexpr uint8_t kDint = 7;

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
    struct Row {
        const char* what;
        s7_value* value;
        const char* text;
        Kind kind;
    };
    const Row rows[] = {
        {"bool true", s7_value_new_bool(1), "true", Kind::Bool},
        {"bool false", s7_value_new_bool(0), "false", Kind::Bool},
        {"u8", s7_value_new_u8(255), "255", Kind::Integer},
        {"bits8", s7_value_new_bits8(0x80), "128", Kind::Integer},
        {"u16", s7_value_new_u16(65535), "65535", Kind::Integer},
        {"bits16", s7_value_new_bits16(4660), "4660", Kind::Integer},
        {"u32", s7_value_new_u32(4294967295u), "4294967295", Kind::Integer},
        {"bits32", s7_value_new_bits32(1u << 31), "2147483648", Kind::Integer},
        {"u64", s7_value_new_u64(18446744073709551615u), "18446744073709551615", Kind::Integer},
        {"bits64", s7_value_new_bits64(1), "1", Kind::Integer},
        {"i8", s7_value_new_i8(-128), "-128", Kind::Integer},
        {"i16", s7_value_new_i16(-32768), "-32768", Kind::Integer},
        {"i32", s7_value_new_i32(-2147483647 - 1), "-2147483648", Kind::Integer},
        {"i64", s7_value_new_i64(std::numeric_limits<int64_t>::min()), "-9223372036854775808", Kind::Integer},
        {"u64 alt is shown signed", s7_value_new_u64_alt(18446744073709551615u), "-1", Kind::Integer},
        {"i64 alt", s7_value_new_i64_alt(-5), "-5", Kind::Integer},
        {"f32 0.1 in its shortest form", s7_value_new_f32(0.1f), "0.1", Kind::Real},
        {"f32 100000", s7_value_new_f32(100000.0f), "100000", Kind::Real},
        {"f32 1e+20", s7_value_new_f32(1e20f), "1e+20", Kind::Real},
        {"f32 1e-05", s7_value_new_f32(1e-05f), "1e-05", Kind::Real},
        {"f32 inf", s7_value_new_f32(fInf), "inf", Kind::Real},
        {"f32 -inf", s7_value_new_f32(-fInf), "-inf", Kind::Real},
        {"f32 nan", s7_value_new_f32(std::numeric_limits<float>::quiet_NaN()), "nan", Kind::Real},
        {"f64 0.1", s7_value_new_f64(0.1), "0.1", Kind::Real},
        {"f64 1e+20", s7_value_new_f64(1e20), "1e+20", Kind::Real},
        {"f64 -inf", s7_value_new_f64(-std::numeric_limits<double>::infinity()), "-inf", Kind::Real},
        {"string, all its bytes", s7_value_new_string("a\0b", 3), nullptr, Kind::Text},
        {"null", s7_value_new_null(), "", Kind::Empty},
        {"id32", s7_value_new_id32(7), "", Kind::Empty},
        {"id vlq", s7_value_new_id_vlq(7), "", Kind::Empty},
        {"blob", s7_value_new_blob("ab", 2), "", Kind::Empty},
        {"struct", s7_value_new_struct(1), "", Kind::Empty},
        {"an array of I32 has no I32 storage: 0", s7_value_new_array(S7_TYPE_I32, S7_FLAG_ARRAY), "0", Kind::Integer},
        {"an array of BOOL: false", s7_value_new_array(S7_TYPE_BOOL, S7_FLAG_ARRAY), "false", Kind::Bool},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Value value(row.value);
        ASSERT_NE(value, nullptr);
        const std::string expected = row.text != nullptr ? row.text : std::string("a\0b", 3);
        EXPECT_EQ(formatValue(value.get(), kDint), expected);
        EXPECT_EQ(describeValue(value.get(), kDint).kind, row.kind);
    }
    EXPECT_EQ(formatValue(nullptr, kDint), "");
    EXPECT_EQ(describeValue(nullptr, kDint).kind, Kind::Empty);
}

TEST(FormatValue, StringTagsShowTheCharactersUpToTheirLength) {
    Value abc = controllerString(254, 3, "abcdef");
    EXPECT_EQ(formatValue(abc.get(), S7_DATATYPE_STRING), "abc");
    EXPECT_EQ(describeValue(abc.get(), S7_DATATYPE_STRING).kind, Kind::Text);

    Value empty = controllerString(10, 0, "");
    EXPECT_EQ(formatValue(empty.get(), S7_DATATYPE_STRING), "");
    EXPECT_EQ(describeValue(empty.get(), S7_DATATYPE_STRING).kind, Kind::Text) << "an empty text is still a text";

    // The same array under another data type is an array of U8, which has
    // no scalar storage: it shows the 0 of a failed getter.
    EXPECT_EQ(formatValue(abc.get(), kDint), "0");
    EXPECT_EQ(describeValue(abc.get(), kDint).kind, Kind::Integer);

    // A STRING tag whose value is not the controller's byte array.
    Value notAnArray(s7_value_new_i32(5));
    EXPECT_EQ(formatValue(notAnArray.get(), S7_DATATYPE_STRING), "");
    EXPECT_EQ(describeValue(notAnArray.get(), S7_DATATYPE_STRING).kind, Kind::Text);
}

}  // namespace

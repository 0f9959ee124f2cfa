// What the inspector and the command-line tool show for each kind of value.
#include "vemo/core/ValueFormat.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

using vemo::formatValue;

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
    };
    const Row rows[] = {
        {"bool true", s7_value_new_bool(1), "true"},
        {"bool false", s7_value_new_bool(0), "false"},
        {"u8", s7_value_new_u8(255), "255"},
        {"bits8", s7_value_new_bits8(0x80), "128"},
        {"u16", s7_value_new_u16(65535), "65535"},
        {"bits16", s7_value_new_bits16(4660), "4660"},
        {"u32", s7_value_new_u32(4294967295u), "4294967295"},
        {"bits32", s7_value_new_bits32(1u << 31), "2147483648"},
        {"u64", s7_value_new_u64(18446744073709551615u), "18446744073709551615"},
        {"bits64", s7_value_new_bits64(1), "1"},
        {"i8", s7_value_new_i8(-128), "-128"},
        {"i16", s7_value_new_i16(-32768), "-32768"},
        {"i32", s7_value_new_i32(-2147483647 - 1), "-2147483648"},
        {"i64", s7_value_new_i64(std::numeric_limits<int64_t>::min()), "-9223372036854775808"},
        {"u64 alt is shown signed", s7_value_new_u64_alt(18446744073709551615u), "-1"},
        {"i64 alt", s7_value_new_i64_alt(-5), "-5"},
        {"f32 0.1 in its shortest form", s7_value_new_f32(0.1f), "0.1"},
        {"f32 100000", s7_value_new_f32(100000.0f), "100000"},
        {"f32 1e+20", s7_value_new_f32(1e20f), "1e+20"},
        {"f32 1e-05", s7_value_new_f32(1e-05f), "1e-05"},
        {"f32 inf", s7_value_new_f32(fInf), "inf"},
        {"f32 -inf", s7_value_new_f32(-fInf), "-inf"},
        {"f32 nan", s7_value_new_f32(std::numeric_limits<float>::quiet_NaN()), "nan"},
        {"f64 0.1", s7_value_new_f64(0.1), "0.1"},
        {"f64 1e+20", s7_value_new_f64(1e20), "1e+20"},
        {"f64 -inf", s7_value_new_f64(-std::numeric_limits<double>::infinity()), "-inf"},
        {"string, all its bytes", s7_value_new_string("a\0b", 3), nullptr},
        {"null", s7_value_new_null(), ""},
        {"id32", s7_value_new_id32(7), ""},
        {"id vlq", s7_value_new_id_vlq(7), ""},
        {"blob", s7_value_new_blob("ab", 2), ""},
        {"struct", s7_value_new_struct(1), ""},
        {"an array of I32 has no I32 storage: 0", s7_value_new_array(S7_TYPE_I32, S7_FLAG_ARRAY), "0"},
        {"an array of BOOL: false", s7_value_new_array(S7_TYPE_BOOL, S7_FLAG_ARRAY), "false"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Value value(row.value);
        ASSERT_NE(value, nullptr);
        const std::string expected = row.text != nullptr ? row.text : std::string("a\0b", 3);
        EXPECT_EQ(formatValue(value.get(), kDint), expected);
    }
    EXPECT_EQ(formatValue(nullptr, kDint), "");
}

TEST(FormatValue, StringTagsShowTheCharactersUpToTheirLength) {
    Value abc = controllerString(254, 3, "abcdef");
    EXPECT_EQ(formatValue(abc.get(), S7_DATATYPE_STRING), "abc");

    Value empty = controllerString(10, 0, "");
    EXPECT_EQ(formatValue(empty.get(), S7_DATATYPE_STRING), "");

    // The same array under another data type is an array of U8, which has
    // no scalar storage: it shows the 0 of a failed getter.
    EXPECT_EQ(formatValue(abc.get(), kDint), "0");

    // A STRING tag whose value is not the controller's byte array.
    Value notAnArray(s7_value_new_i32(5));
    EXPECT_EQ(formatValue(notAnArray.get(), S7_DATATYPE_STRING), "");
}

} // namespace

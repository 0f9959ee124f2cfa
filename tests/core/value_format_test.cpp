// What the inspector and the command-line tool show for each kind of value,
// what kind of JSON value the tool makes of it, and which values fit which
// data types at all.
#include "vemo/core/ValueFormat.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cstdint>
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
constexpr uint8_t kUnchecked = S7_DATATYPE_STRUCT;

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
        {"null", s7_value_new_null(), kUnchecked, "", Kind::Empty},
        {"id32", s7_value_new_id32(7), kUnchecked, "", Kind::Empty},
        {"id vlq", s7_value_new_id_vlq(7), kUnchecked, "", Kind::Empty},
        {"blob", s7_value_new_blob("ab", 2), kUnchecked, "", Kind::Empty},
        {"struct", s7_value_new_struct(1), kUnchecked, "", Kind::Empty},
        {"unchecked: an array of I32 has no I32 storage, 0", s7_value_new_array(S7_TYPE_I32, S7_FLAG_ARRAY), kUnchecked,
         "0", Kind::Integer},
        {"unchecked: an array of BOOL, false", s7_value_new_array(S7_TYPE_BOOL, S7_FLAG_ARRAY), kUnchecked, "false",
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
        // Byte blocks: a BLOB or packed structure, or an integer exactly as
        // wide (DEC shows neither as a number).
        {s7_value_new_i64(-3), S7_DATATYPE_DATE_AND_TIME, ""},
        {s7_value_new_i32(-3), S7_DATATYPE_DATE_AND_TIME, "type mismatch: I32 for DATE_AND_TIME"},
        {s7_value_new_blob("ab", 2), S7_DATATYPE_DTL, ""},
        {s7_value_new_u64(1), S7_DATATYPE_DTL, "type mismatch: U64 for DTL"},
        // Data types shown by the value alone: nothing is claimed.
        {array(S7_TYPE_BOOL), kUnchecked, "false"},
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

using vemo::DisplayFormat;
using vemo::ReadValue;

constexpr int64_t kI64Min = std::numeric_limits<int64_t>::min();
constexpr int64_t kI64Max = std::numeric_limits<int64_t>::max();

s7_value* blob(const std::vector<uint8_t>& bytes) {
    return s7_value_new_blob(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

struct FormatRow {
    const char* what;
    s7_value* value;
    uint8_t datatype;
    DisplayFormat format;
    const char* text;
};

// Formats every row's value, once straight from the library's value and
// once from the copy a row keeps, taken before the value is freed.
void expectTexts(const std::vector<FormatRow>& rows) {
    for (const FormatRow& row : rows) {
        SCOPED_TRACE(
            fmt::format("{}: {} as {}", row.what, s7_datatype_name(row.datatype), vemo::displayFormatName(row.format)));
        ReadValue kept;
        {
            Value value(row.value);
            ASSERT_NE(value, nullptr);
            EXPECT_EQ(describeValue(value.get(), row.datatype, row.format).text, row.text);
            kept = ReadValue::of(value.get());
        }
        EXPECT_EQ(formatValue(kept, row.datatype, row.format).text, row.text);
    }
}

TEST(DisplayFormats, DatesAndTimesInTheirIecForms) {
    constexpr auto I = DisplayFormat::Iec;
    expectTexts({
        // DATE: days since 1990-01-01, up to the controller's last day.
        {"date epoch", s7_value_new_u16(0), S7_DATATYPE_DATE, I, "D#1990-01-01"},
        {"date", s7_value_new_u16(13492), S7_DATATYPE_DATE, I, "D#2026-12-10"},
        {"a leap day", s7_value_new_u16(3711), S7_DATATYPE_DATE, I, "D#2000-02-29"},
        {"last day", s7_value_new_u16(65378), S7_DATATYPE_DATE, I, "D#2168-12-31"},
        {"after the last day", s7_value_new_u16(65379), S7_DATATYPE_DATE, I, "65379 (invalid)"},
        {"signed wire: its 16 bits", s7_value_new_i16(-1), S7_DATATYPE_DATE, I, "65535 (invalid)"},
        {"narrower wire", s7_value_new_u8(31), S7_DATATYPE_DATE, I, "D#1990-02-01"},
        // TIME_OF_DAY: milliseconds since midnight.
        {"midnight", s7_value_new_u32(0), S7_DATATYPE_TIME_OF_DAY, I, "TOD#00:00:00.000"},
        {"six", s7_value_new_u32(21'600'000), S7_DATATYPE_TIME_OF_DAY, I, "TOD#06:00:00.000"},
        {"last ms", s7_value_new_u32(86'399'999), S7_DATATYPE_TIME_OF_DAY, I, "TOD#23:59:59.999"},
        {"a whole day", s7_value_new_u32(86'400'000), S7_DATATYPE_TIME_OF_DAY, I, "86400000 (invalid)"},
        // TIME: signed milliseconds, zero parts left out.
        {"zero", s7_value_new_i32(0), S7_DATATYPE_TIME, I, "T#0MS"},
        {"every part", s7_value_new_i32(93'784'005), S7_DATATYPE_TIME, I, "T#1D_2H_3M_4S_5MS"},
        {"a minute", s7_value_new_i32(60'000), S7_DATATYPE_TIME, I, "T#1M"},
        {"negative", s7_value_new_i32(-2'500), S7_DATATYPE_TIME, I, "T#-2S_500MS"},
        {"max", s7_value_new_i32(std::numeric_limits<int32_t>::max()), S7_DATATYPE_TIME, I, "T#24D_20H_31M_23S_647MS"},
        {"min", s7_value_new_i32(std::numeric_limits<int32_t>::min()), S7_DATATYPE_TIME, I, "T#-24D_20H_31M_23S_648MS"},
        {"unsigned wire: its 32 bits signed", s7_value_new_u32(0xFFFFFFFF), S7_DATATYPE_TIME, I, "T#-1MS"},
        {"narrower signed wire", s7_value_new_i16(-5), S7_DATATYPE_TIME, I, "T#-5MS"},
        // LTIME: signed nanoseconds.
        {"zero", s7_value_new_i64_alt(0), S7_DATATYPE_LTIME, I, "LT#0NS"},
        {"sub-ms", s7_value_new_i64_alt(1'500), S7_DATATYPE_LTIME, I, "LT#1US_500NS"},
        {"negative", s7_value_new_i64_alt(-1'000'000'001), S7_DATATYPE_LTIME, I, "LT#-1S_1NS"},
        {"max", s7_value_new_i64_alt(kI64Max), S7_DATATYPE_LTIME, I, "LT#106751D_23H_47M_16S_854MS_775US_807NS"},
        {"min", s7_value_new_i64(kI64Min), S7_DATATYPE_LTIME, I, "LT#-106751D_23H_47M_16S_854MS_775US_808NS"},
        // S5TIME: three BCD digits in a time base of 10 ms, 100 ms, 1 s, 10 s.
        {"zero", s7_value_new_bits16(0x0000), S7_DATATYPE_S5TIME, I, "S5T#0MS"},
        {"10 ms base", s7_value_new_bits16(0x0123), S7_DATATYPE_S5TIME, I, "S5T#1S_230MS"},
        {"100 ms base", s7_value_new_bits16(0x1123), S7_DATATYPE_S5TIME, I, "S5T#12S_300MS"},
        {"1 s base", s7_value_new_bits16(0x2123), S7_DATATYPE_S5TIME, I, "S5T#2M_3S"},
        {"10 s base", s7_value_new_bits16(0x3001), S7_DATATYPE_S5TIME, I, "S5T#10S"},
        {"max 9990 s", s7_value_new_bits16(0x3999), S7_DATATYPE_S5TIME, I, "S5T#2H_46M_30S"},
        {"no BCD digit", s7_value_new_bits16(0x012A), S7_DATATYPE_S5TIME, I, "298 (invalid)"},
        {"no BCD digit at the top", s7_value_new_u16(0x0A00), S7_DATATYPE_S5TIME, I, "2560 (invalid)"},
        {"timer", s7_value_new_bits16(0x2010), S7_DATATYPE_TIMER, I, "S5T#10S"},
        {"timer, no BCD digit", s7_value_new_bits16(0x00F0), S7_DATATYPE_TIMER, I, "240 (invalid)"},
        {"counter", s7_value_new_u16(123), S7_DATATYPE_COUNTER, I, "C#123"},
        {"counter max", s7_value_new_u16(999), S7_DATATYPE_COUNTER, I, "C#999"},
        {"counter past max", s7_value_new_u16(1000), S7_DATATYPE_COUNTER, I, "1000 (invalid)"},
        // LTOD: nanoseconds since midnight.
        {"ltod", s7_value_new_u64(45'296'123'456'789), S7_DATATYPE_LTOD, I, "LTOD#12:34:56.123456789"},
        {"ltod midnight", s7_value_new_u64(0), S7_DATATYPE_LTOD, I, "LTOD#00:00:00.000000000"},
        {"ltod last ns", s7_value_new_u64(86'399'999'999'999), S7_DATATYPE_LTOD, I, "LTOD#23:59:59.999999999"},
        {"ltod a whole day", s7_value_new_u64(86'400'000'000'000), S7_DATATYPE_LTOD, I, "86400000000000 (invalid)"},
        // LDT: nanoseconds since 1970-01-01, up to where 63 bits end.
        {"ldt epoch", s7_value_new_u64_alt(0), S7_DATATYPE_LDT, I, "LDT#1970-01-01-00:00:00.000000000"},
        {"ldt", s7_value_new_u64_alt(1'796'906'096'123'456'789), S7_DATATYPE_LDT, I,
         "LDT#2026-12-10-12:34:56.123456789"},
        {"ldt last", s7_value_new_u64_alt(static_cast<uint64_t>(kI64Max)), S7_DATATYPE_LDT, I,
         "LDT#2262-04-11-23:47:16.854775807"},
        {"ldt past the last", s7_value_new_u64_alt(static_cast<uint64_t>(kI64Max) + 1), S7_DATATYPE_LDT, I,
         "9223372036854775808 (invalid)"},
    });
}

TEST(DisplayFormats, DateAndTimeAndDtlFromTheirBytes) {
    constexpr auto I = DisplayFormat::Iec;
    const std::vector<uint8_t> dtl = {0x07, 0xEA, 12, 10, 5, 12, 34, 56, 0x07, 0x5B, 0xCD, 0x15};
    std::vector<uint8_t> dtlMonth13 = dtl;
    dtlMonth13[2] = 13;
    std::vector<uint8_t> dtlWholeSecond = dtl;
    dtlWholeSecond[8] = 0x3B;  // 0x3B9ACA15 > 999 999 999
    dtlWholeSecond[9] = 0x9A;
    dtlWholeSecond[10] = 0xCA;
    expectTexts({
        {"dt", blob({0x26, 0x12, 0x10, 0x12, 0x34, 0x56, 0x78, 0x95}), S7_DATATYPE_DATE_AND_TIME, I,
         "DT#2026-12-10-12:34:56.789"},
        {"dt 1990", blob({0x90, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x02}), S7_DATATYPE_DATE_AND_TIME, I,
         "DT#1990-01-01-00:00:00.000"},
        {"dt 2089", blob({0x89, 0x12, 0x31, 0x23, 0x59, 0x59, 0x99, 0x97}), S7_DATATYPE_DATE_AND_TIME, I,
         "DT#2089-12-31-23:59:59.999"},
        {"dt no BCD digit", blob({0x26, 0x1A, 0x10, 0x12, 0x34, 0x56, 0x78, 0x95}), S7_DATATYPE_DATE_AND_TIME, I,
         "16#261A101234567895 (invalid)"},
        {"dt no BCD digit in the ms", blob({0x26, 0x12, 0x10, 0x12, 0x34, 0x56, 0x78, 0xA5}), S7_DATATYPE_DATE_AND_TIME,
         I, "16#26121012345678A5 (invalid)"},
        {"dt 30 February", blob({0x26, 0x02, 0x30, 0x00, 0x00, 0x00, 0x00, 0x01}), S7_DATATYPE_DATE_AND_TIME, I,
         "16#2602300000000001 (invalid)"},
        {"dt hour 24", blob({0x26, 0x01, 0x01, 0x24, 0x00, 0x00, 0x00, 0x01}), S7_DATATYPE_DATE_AND_TIME, I,
         "16#2601012400000001 (invalid)"},
        {"dt short", blob({0x26, 0x12}), S7_DATATYPE_DATE_AND_TIME, I, "16#2612 (invalid)"},
        {"dt bytes in hex", blob({0x26, 0x12, 0x10, 0x12, 0x34, 0x56, 0x78, 0x95}), S7_DATATYPE_DATE_AND_TIME,
         DisplayFormat::Hex, "16#2612101234567895"},
        {"dtl", blob(dtl), S7_DATATYPE_DTL, I, "DTL#2026-12-10-12:34:56.123456789"},
        {"dtl packed", s7_value_new_packed(1, 2, 3, dtl.data(), 12), S7_DATATYPE_DTL, I,
         "DTL#2026-12-10-12:34:56.123456789"},
        {"dtl epoch", blob({0x07, 0xB2, 1, 1, 5, 0, 0, 0, 0, 0, 0, 0}), S7_DATATYPE_DTL, I,
         "DTL#1970-01-01-00:00:00.000000000"},
        {"dtl month 13", blob(dtlMonth13), S7_DATATYPE_DTL, I, "16#07EA0D0A050C2238075BCD15 (invalid)"},
        {"dtl a whole second of ns", blob(dtlWholeSecond), S7_DATATYPE_DTL, I, "16#07EA0C0A050C22383B9ACA15 (invalid)"},
        {"dtl short", blob({1, 2, 3}), S7_DATATYPE_DTL, I, "16#010203 (invalid)"},
        // DTL ends on 2262-04-11, as LDT does: a later day could not be typed back.
        {"dtl last day", blob({0x08, 0xD6, 4, 11, 6, 23, 59, 59, 0x3B, 0x9A, 0xC9, 0xFF}), S7_DATATYPE_DTL, I,
         "DTL#2262-04-11-23:59:59.999999999"},
        {"dtl past its end", blob({0x08, 0xD6, 4, 12, 7, 0, 0, 0, 0, 0, 0, 0}), S7_DATATYPE_DTL, I,
         "16#08D6040C0700000000000000 (invalid)"},
        {"dtl decimal is today's", blob(dtl), S7_DATATYPE_DTL, DisplayFormat::Dec, ""},
    });
}

// A controller may send a DATE_AND_TIME as a byte block or as one 64-bit
// integer holding the same eight bytes, the first one most significant.
// Every form that carries the bytes shows the same text in every format; a
// form that cannot carry them - a narrower integer, an array, a real, no
// value - is a type mismatch. No integer is wide enough for a DTL's twelve
// bytes: it comes as a byte block or not at all.
TEST(DisplayFormats, ByteBlockTypesAsABlobAndAsAnInteger) {
    using enum DisplayFormat;
    struct Sample {
        uint8_t datatype;
        std::vector<uint8_t> bytes;
        const char* iec;
    };
    const Sample samples[] = {
        {S7_DATATYPE_DATE_AND_TIME, {0x24, 0x03, 0x15, 0x13, 0x45, 0x30, 0x12, 0x36}, "DT#2024-03-15-13:45:30.123"},
        {S7_DATATYPE_DATE_AND_TIME, {0x89, 0x12, 0x31, 0x23, 0x59, 0x59, 0x99, 0x97}, "DT#2089-12-31-23:59:59.999"},
        {S7_DATATYPE_DATE_AND_TIME, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFD}, "16#FFFFFFFFFFFFFFFD (invalid)"},
        {S7_DATATYPE_DTL,
         {0x07, 0xE8, 3, 15, 6, 13, 45, 30, 0x07, 0x54, 0xD4, 0xC0},
         "DTL#2024-03-15-13:45:30.123000000"},
    };
    for (const Sample& sample : samples) {
        uint64_t number = 0;
        for (const uint8_t b : sample.bytes) number = number << 8 | b;
        const auto i64 = static_cast<int64_t>(number);
        std::string hex = "16#";
        for (const uint8_t b : sample.bytes) hex += fmt::format("{:02X}", b);
        const bool dt = sample.datatype == S7_DATATYPE_DATE_AND_TIME;
        const std::vector<std::pair<const char*, s7_value*>> forms = {
            {"blob", blob(sample.bytes)},
            {"packed structure",
             s7_value_new_packed(0x90000001u, 0, 0, sample.bytes.data(), static_cast<uint32_t>(sample.bytes.size()))},
            {"U64", s7_value_new_u64(number)},
            {"I64", s7_value_new_i64(i64)},
            {"BITS64", s7_value_new_bits64(number)},
            {"U64_ALT", s7_value_new_u64_alt(number)},
            {"I64_ALT", s7_value_new_i64_alt(i64)},
        };
        for (const auto& [what, raw] : forms) {
            Value value(raw);
            ASSERT_NE(value, nullptr) << what;
            const bool blockForm = std::string(what) == "blob" || std::string(what) == "packed structure";
            const std::string sent = vemo::wireTypeName(value.get());
            SCOPED_TRACE(fmt::format("{} as {}", s7_datatype_name(sample.datatype), sent));
            if (!dt && !blockForm) {
                EXPECT_EQ(typeMismatch(value.get(), sample.datatype), (vemo::TypeMismatch{sent, sample.datatype}));
                for (const DisplayFormat format : {Iec, Hex, Dec}) {
                    EXPECT_EQ(describeValue(value.get(), sample.datatype, format).text,
                              fmt::format("type mismatch: {} for DTL", sent));
                }
                continue;
            }
            EXPECT_FALSE(typeMismatch(value.get(), sample.datatype).has_value());
            EXPECT_EQ(describeValue(value.get(), sample.datatype, Iec).text, sample.iec);
            EXPECT_EQ(describeValue(value.get(), sample.datatype, Hex).text, hex);
            const vemo::ValueText dec = describeValue(value.get(), sample.datatype, Dec);
            EXPECT_EQ(dec.text, "") << "as the byte block's, never the integer's number";
            EXPECT_EQ(dec.kind, Kind::Empty);
            // The copy a row keeps shows the same.
            EXPECT_EQ(formatValue(ReadValue::of(value.get()), sample.datatype, Iec).text, sample.iec);
        }
    }
    // The reported value: DT#2024-03-15-13:45:30.123 as one number.
    Value reported(s7_value_new_u64(2594940982804877878u));
    EXPECT_EQ(describeValue(reported.get(), S7_DATATYPE_DATE_AND_TIME, Iec).text, "DT#2024-03-15-13:45:30.123");

    // Forms that cannot carry the bytes.
    const auto array = [](uint8_t elementType) { return s7_value_new_array(elementType, S7_FLAG_ARRAY); };
    const std::pair<s7_value*, uint8_t> misfits[] = {
        {s7_value_new_u32(0x24031513), S7_DATATYPE_DATE_AND_TIME},
        {s7_value_new_i32(1), S7_DATATYPE_DATE_AND_TIME},
        {s7_value_new_u16(1), S7_DATATYPE_DATE_AND_TIME},
        {s7_value_new_f64(1.0), S7_DATATYPE_DATE_AND_TIME},
        {s7_value_new_bool(1), S7_DATATYPE_DATE_AND_TIME},
        {s7_value_new_string("2024", 4), S7_DATATYPE_DATE_AND_TIME},
        {s7_value_new_null(), S7_DATATYPE_DATE_AND_TIME},
        {array(S7_TYPE_U64), S7_DATATYPE_DATE_AND_TIME},
        {array(S7_TYPE_U8), S7_DATATYPE_DATE_AND_TIME},
        {s7_value_new_null(), S7_DATATYPE_DTL},
        {s7_value_new_u32(1), S7_DATATYPE_DTL},
        {array(S7_TYPE_BOOL), S7_DATATYPE_DTL},
    };
    for (const auto& [raw, datatype] : misfits) {
        Value value(raw);
        ASSERT_NE(value, nullptr);
        const std::string sent = vemo::wireTypeName(value.get());
        SCOPED_TRACE(fmt::format("{} for {}", sent, s7_datatype_name(datatype)));
        EXPECT_EQ(typeMismatch(value.get(), datatype), (vemo::TypeMismatch{sent, datatype}));
        for (const DisplayFormat format : {Iec, Hex, Dec}) {
            const vemo::ValueText text = describeValue(value.get(), datatype, format);
            EXPECT_EQ(text.text, fmt::format("type mismatch: {} for {}", sent, s7_datatype_name(datatype)));
            EXPECT_EQ(text.kind, Kind::Mismatch);
        }
    }
}

TEST(DisplayFormats, CharactersAndBitStrings) {
    constexpr auto I = DisplayFormat::Iec;
    expectTexts({
        {"char", s7_value_new_u8('A'), S7_DATATYPE_CHAR, I, "'A'"},
        {"char space", s7_value_new_u8(' '), S7_DATATYPE_CHAR, I, "' '"},
        {"char line feed", s7_value_new_u8(0x0A), S7_DATATYPE_CHAR, I, "'$0A'"},
        {"char dollar", s7_value_new_u8('$'), S7_DATATYPE_CHAR, I, "'$$'"},
        {"char quote", s7_value_new_u8('\''), S7_DATATYPE_CHAR, I, "'$''"},
        {"char delete", s7_value_new_u8(0x7F), S7_DATATYPE_CHAR, I, "'$7F'"},
        {"char beyond ASCII", s7_value_new_u8(0xE4), S7_DATATYPE_CHAR, I, "'$E4'"},
        {"char, signed wire", s7_value_new_i8(-1), S7_DATATYPE_CHAR, I, "'$FF'"},
        {"char decimal", s7_value_new_u8('A'), S7_DATATYPE_CHAR, DisplayFormat::Dec, "65"},
        {"wchar", s7_value_new_u16('A'), S7_DATATYPE_WCHAR, I, "WCHAR#'A'"},
        {"wchar euro", s7_value_new_u16(0x20AC), S7_DATATYPE_WCHAR, I, "WCHAR#'\xE2\x82\xAC'"},
        {"wchar umlaut", s7_value_new_u16(0xE4), S7_DATATYPE_WCHAR, I, "WCHAR#'\xC3\xA4'"},
        {"wchar line feed", s7_value_new_u16(0x0A), S7_DATATYPE_WCHAR, I, "WCHAR#'$000A'"},
        {"wchar C1 control", s7_value_new_u16(0x85), S7_DATATYPE_WCHAR, I, "WCHAR#'$0085'"},
        {"wchar quote", s7_value_new_u16('\''), S7_DATATYPE_WCHAR, I, "WCHAR#'$''"},
        {"wchar high surrogate", s7_value_new_u16(0xD800), S7_DATATYPE_WCHAR, I, "55296 (invalid)"},
        {"wchar low surrogate", s7_value_new_u16(0xDFFF), S7_DATATYPE_WCHAR, I, "57343 (invalid)"},
        // Bit strings: hexadecimal at their width.
        {"byte", s7_value_new_bits8(0x0A), S7_DATATYPE_BYTE, I, "16#0A"},
        {"byte, signed wire", s7_value_new_i8(-1), S7_DATATYPE_BYTE, I, "16#FF"},
        {"word", s7_value_new_bits16(0x0A1F), S7_DATATYPE_WORD, I, "16#0A1F"},
        {"word, narrower wire", s7_value_new_u8(0x80), S7_DATATYPE_WORD, I, "16#0080"},
        {"dword", s7_value_new_bits32(1), S7_DATATYPE_DWORD, I, "16#00000001"},
        {"lword", s7_value_new_bits64(0xFEDCBA9876543210), S7_DATATYPE_LWORD, I, "16#FEDCBA9876543210"},
        {"word decimal is today's", s7_value_new_bits16(0x0A1F), S7_DATATYPE_WORD, DisplayFormat::Dec, "2591"},
    });
}

TEST(DisplayFormats, NumbersInTheOtherFormatsAtTheirWidth) {
    using enum DisplayFormat;
    const float one = 1.0f;
    expectTexts({
        // 8 bits.
        {"sint", s7_value_new_i8(-1), S7_DATATYPE_SINT, Hex, "16#FF"},
        {"sint", s7_value_new_i8(-1), S7_DATATYPE_SINT, Bin, "2#1111_1111"},
        {"sint", s7_value_new_i8(-1), S7_DATATYPE_SINT, Unsigned, "255"},
        {"sint", s7_value_new_i8('A'), S7_DATATYPE_SINT, Char, "'A'"},
        {"usint", s7_value_new_u8(200), S7_DATATYPE_USINT, Signed, "-56"},
        {"usint", s7_value_new_u8(10), S7_DATATYPE_USINT, Bin, "2#0000_1010"},
        {"byte", s7_value_new_bits8(0x80), S7_DATATYPE_BYTE, Signed, "-128"},
        {"byte", s7_value_new_bits8(0x80), S7_DATATYPE_BYTE, Unsigned, "128"},
        {"byte", s7_value_new_bits8(0x24), S7_DATATYPE_BYTE, Char, "'$$'"},
        // 16 bits.
        {"int", s7_value_new_i16(-2), S7_DATATYPE_INT, Hex, "16#FFFE"},
        {"int", s7_value_new_i16(-2), S7_DATATYPE_INT, Bin, "2#1111_1111_1111_1110"},
        {"int", s7_value_new_i16(-2), S7_DATATYPE_INT, Unsigned, "65534"},
        {"int from a byte", s7_value_new_u8(200), S7_DATATYPE_INT, Hex, "16#00C8"},
        {"int", s7_value_new_i16(0x20AC), S7_DATATYPE_INT, Char, "WCHAR#'\xE2\x82\xAC'"},
        {"uint", s7_value_new_u16(40000), S7_DATATYPE_UINT, Signed, "-25536"},
        {"word", s7_value_new_bits16(0x8001), S7_DATATYPE_WORD, Bin, "2#1000_0000_0000_0001"},
        {"word", s7_value_new_bits16(0x8001), S7_DATATYPE_WORD, Signed, "-32767"},
        {"word", s7_value_new_bits16(0x8001), S7_DATATYPE_WORD, Unsigned, "32769"},
        {"date", s7_value_new_u16(0x00FF), S7_DATATYPE_DATE, Hex, "16#00FF"},
        // 32 bits.
        {"dint", s7_value_new_i32(-1), kDint, Hex, "16#FFFFFFFF"},
        {"dint", s7_value_new_i32(-1), kDint, Unsigned, "4294967295"},
        {"dint", s7_value_new_i32(5), kDint, Bin, "2#0000_0000_0000_0000_0000_0000_0000_0101"},
        {"udint", s7_value_new_u32(0x80000000), S7_DATATYPE_UDINT, Signed, "-2147483648"},
        {"dword", s7_value_new_bits32(0xFFFFFFFE), S7_DATATYPE_DWORD, Signed, "-2"},
        {"time", s7_value_new_i32(-1), S7_DATATYPE_TIME, Hex, "16#FFFFFFFF"},
        {"real", s7_value_new_f32(one), S7_DATATYPE_REAL, Hex, "16#3F800000"},
        // 64 bits.
        {"lint", s7_value_new_i64(kI64Min), S7_DATATYPE_LINT, Hex, "16#8000000000000000"},
        {"lint", s7_value_new_i64(kI64Min), S7_DATATYPE_LINT, Unsigned, "9223372036854775808"},
        {"ulint", s7_value_new_u64(std::numeric_limits<uint64_t>::max()), S7_DATATYPE_ULINT, Signed, "-1"},
        {"lword", s7_value_new_bits64(0x8000000000000001), S7_DATATYPE_LWORD, Signed, "-9223372036854775807"},
        {"lword", s7_value_new_bits64(0xF), S7_DATATYPE_LWORD, Bin,
         "2#0000_0000_0000_0000_0000_0000_0000_0000_0000_0000_0000_0000_0000_0000_0000_1111"},
        {"lreal from a float", s7_value_new_f32(one), S7_DATATYPE_LREAL, Hex, "16#3FF0000000000000"},
        {"lreal", s7_value_new_f64(-2.0), S7_DATATYPE_LREAL, Hex, "16#C000000000000000"},
        // A format the data type does not offer shows its default one; a
        // mismatch stays a mismatch in every format.
        {"int has no IEC form", s7_value_new_i16(-2), S7_DATATYPE_INT, Iec, "-2"},
        {"date has no character", s7_value_new_u16(65), S7_DATATYPE_DATE, Char, "D#1990-03-07"},
        {"bool", s7_value_new_bool(1), S7_DATATYPE_BOOL, Hex, "true"},
        {"mismatch", s7_value_new_u32(1), S7_DATATYPE_DATE, Iec, "type mismatch: U32 for DATE"},
        {"mismatch", s7_value_new_f32(one), kDint, Hex, "type mismatch: F32 for DINT"},
        {"string", controllerString(4, 2, "ok").release(), S7_DATATYPE_STRING, Iec, "ok"},
        {"wstring", s7_value_new_string("ok", 2), S7_DATATYPE_WSTRING, Iec, "ok"},
    });
}

TEST(DisplayFormats, EachDataTypeOffersItsFormatsDefaultFirst) {
    using enum DisplayFormat;
    using Formats = std::vector<DisplayFormat>;
    const struct {
        uint8_t datatype;
        Formats formats;
    } rows[] = {
        {S7_DATATYPE_BOOL, {Dec}},
        {S7_DATATYPE_SINT, {Dec, Hex, Bin, Unsigned, Char}},
        {S7_DATATYPE_UINT, {Dec, Hex, Bin, Signed, Char}},
        {S7_DATATYPE_DINT, {Dec, Hex, Bin, Unsigned}},
        {S7_DATATYPE_ULINT, {Dec, Hex, Bin, Signed}},
        {S7_DATATYPE_REAL, {Dec, Hex, Bin}},
        {S7_DATATYPE_BCD16, {Dec, Hex, Bin}},
        {S7_DATATYPE_BYTE, {Iec, Dec, Bin, Signed, Unsigned, Char}},
        {S7_DATATYPE_LWORD, {Iec, Dec, Bin, Signed, Unsigned}},
        {S7_DATATYPE_DATE, {Iec, Dec, Hex, Bin}},
        {S7_DATATYPE_S5TIME, {Iec, Dec, Hex, Bin}},
        {S7_DATATYPE_CHAR, {Iec, Dec, Hex, Bin}},
        {S7_DATATYPE_LDT, {Iec, Dec, Hex, Bin}},
        {S7_DATATYPE_DTL, {Iec, Hex}},
        {S7_DATATYPE_DATE_AND_TIME, {Iec, Hex}},
        {S7_DATATYPE_STRING, {Iec}},
        {S7_DATATYPE_STRUCT, {Dec}},
        {42, {Dec}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(s7_datatype_name(row.datatype));
        EXPECT_EQ(vemo::formatsFor(row.datatype), row.formats);
        EXPECT_EQ(vemo::defaultFormat(row.datatype), row.formats.front());
    }
}

TEST(DisplayFormats, NamesReadBackInAnyCase) {
    const std::vector<std::pair<DisplayFormat, const char*>> names = {
        {DisplayFormat::Iec, "IEC"},   {DisplayFormat::Dec, "DEC"},       {DisplayFormat::Hex, "HEX"},
        {DisplayFormat::Bin, "BIN"},   {DisplayFormat::Signed, "SIGNED"}, {DisplayFormat::Unsigned, "UNSIGNED"},
        {DisplayFormat::Char, "CHAR"},
    };
    for (const auto& [format, name] : names) {
        EXPECT_EQ(vemo::displayFormatName(format), name);
        EXPECT_EQ(vemo::displayFormatByName(name), format);
    }
    EXPECT_EQ(vemo::displayFormatByName("iec"), DisplayFormat::Iec);
    EXPECT_EQ(vemo::displayFormatByName("Hex"), DisplayFormat::Hex);
    EXPECT_FALSE(vemo::displayFormatByName("octal").has_value());
    EXPECT_FALSE(vemo::displayFormatByName("").has_value());
}

// A kept copy stands on its own: the value it came from is freed at once
// after a read, and the row shows the copy in whatever format it is set to.
TEST(DisplayFormats, AKeptValueIsACopy) {
    EXPECT_FALSE(ReadValue::of(nullptr).present);
    EXPECT_EQ(formatValue(ReadValue::of(nullptr), kDint, DisplayFormat::Hex).kind, Kind::Empty);
    EXPECT_FALSE(typeMismatch(ReadValue::of(nullptr), kDint).has_value());

    ReadValue text;
    {
        Value value = controllerString(10, 3, "abcdef");
        text = ReadValue::of(value.get());
    }
    EXPECT_EQ(text.bytes, "abc");
    EXPECT_EQ(formatValue(text, S7_DATATYPE_STRING, DisplayFormat::Dec).text, "abc");
    EXPECT_EQ(formatValue(text, kDint, DisplayFormat::Dec).text, "type mismatch: U8 array for DINT");

    Value number(s7_value_new_i16(-2));
    const ReadValue kept = ReadValue::of(number.get());
    EXPECT_EQ(kept.wireType, S7_TYPE_I16);
    EXPECT_EQ(kept.bits, 0xFFFEu);
    EXPECT_EQ(formatValue(kept, S7_DATATYPE_INT, DisplayFormat::Dec).kind, Kind::Integer);
    EXPECT_EQ(formatValue(kept, S7_DATATYPE_INT, DisplayFormat::Unsigned).kind, Kind::Integer);
    EXPECT_EQ(formatValue(kept, S7_DATATYPE_INT, DisplayFormat::Hex).kind, Kind::Text);
}

}  // namespace

// Texts an engineer types for a tag, parsed into the value its data type
// travels as: every accepted form of every writable data type, and the
// errors for what does not fit - never a value clamped or wrapped to fit.
#include "vemo/core/ValueFormat.h"
#include "vemo/core/ValueParse.h"

#include <vemo/s7datatype.h>
#include <vemo/s7value.h>

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>

namespace {

using vemo::parseValue;

// The value's bit pattern in the low bits, as wide as its type: what the
// inspector keeps of a value read.
uint64_t bitsOf(const s7_value* v) {
    const vemo::ReadValue read = vemo::ReadValue::of(v);
    EXPECT_TRUE(read.present && !read.array) << "type " << int(s7_value_type(v));
    return read.bits;
}

constexpr uint64_t kMs = 1'000'000;  // ns
constexpr uint64_t kS = 1000 * kMs;

TEST(ValueParse, EveryDataTypeTakesTheFormsEngineersType) {
    struct Case {
        const char* text;
        uint8_t datatype;
        uint8_t wireType;
        uint64_t bits;
    };
    const Case cases[] = {
        {"TRUE", S7_DATATYPE_BOOL, S7_TYPE_BOOL, 1},
        {"false", S7_DATATYPE_BOOL, S7_TYPE_BOOL, 0},
        {"1", S7_DATATYPE_BBOOL, S7_TYPE_BOOL, 1},
        {" 0 ", S7_DATATYPE_BOOL, S7_TYPE_BOOL, 0},
        {"BOOL#TRUE", S7_DATATYPE_BOOL, S7_TYPE_BOOL, 1},
        {"16#FF", S7_DATATYPE_BYTE, S7_TYPE_BITS8, 0xFF},
        {"B#16#0f", S7_DATATYPE_BYTE, S7_TYPE_BITS8, 0x0F},
        {"2#1010_1010", S7_DATATYPE_BYTE, S7_TYPE_BITS8, 0xAA},
        {"8#17", S7_DATATYPE_WORD, S7_TYPE_BITS16, 15},
        {"W#16#BEEF", S7_DATATYPE_WORD, S7_TYPE_BITS16, 0xBEEF},
        {"DW#16#DEAD_BEEF", S7_DATATYPE_DWORD, S7_TYPE_BITS32, 0xDEADBEEF},
        {"16#FFFF_FFFF_FFFF_FFFF", S7_DATATYPE_LWORD, S7_TYPE_BITS64, ~uint64_t{0}},
        {"255", S7_DATATYPE_USINT, S7_TYPE_U8, 255},
        {"65535", S7_DATATYPE_UINT, S7_TYPE_U16, 65535},
        {"4294967295", S7_DATATYPE_UDINT, S7_TYPE_U32, 0xFFFFFFFF},
        {"18446744073709551615", S7_DATATYPE_ULINT, S7_TYPE_U64, ~uint64_t{0}},
        {"-128", S7_DATATYPE_SINT, S7_TYPE_I8, 0x80},
        {"INT#-32768", S7_DATATYPE_INT, S7_TYPE_I16, 0x8000},
        {"+12_345", S7_DATATYPE_INT, S7_TYPE_I16, 12345},
        {"-2147483648", S7_DATATYPE_DINT, S7_TYPE_I32, 0x80000000},
        {"-9223372036854775808", S7_DATATYPE_LINT, S7_TYPE_I64, uint64_t{1} << 63},
        {"16#7F", S7_DATATYPE_SINT, S7_TYPE_I8, 0x7F},
        {"999", S7_DATATYPE_COUNTER, S7_TYPE_U16, 999},
        {"1.5", S7_DATATYPE_REAL, S7_TYPE_F32, std::bit_cast<uint32_t>(1.5f)},
        {"-2e3", S7_DATATYPE_REAL, S7_TYPE_F32, std::bit_cast<uint32_t>(-2000.0f)},
        {"0.1", S7_DATATYPE_LREAL, S7_TYPE_F64, std::bit_cast<uint64_t>(0.1)},
        {"7", S7_DATATYPE_LREAL, S7_TYPE_F64, std::bit_cast<uint64_t>(7.0)},
        {"-inf", S7_DATATYPE_REAL, S7_TYPE_F32, std::bit_cast<uint32_t>(-std::numeric_limits<float>::infinity())},
        // Durations: TIME in ms, LTIME in ns, either as a literal or a number.
        {"T#2s", S7_DATATYPE_TIME, S7_TYPE_I32, 2000},
        {"T#1D_2H_3M_4S_5MS", S7_DATATYPE_TIME, S7_TYPE_I32, 93784005},
        {"T#-2S_500MS", S7_DATATYPE_TIME, S7_TYPE_I32, static_cast<uint32_t>(-2500)},
        {"TIME#1.5s", S7_DATATYPE_TIME, S7_TYPE_I32, 1500},
        {"t#2h", S7_DATATYPE_TIME, S7_TYPE_I32, 7200000},
        {"250", S7_DATATYPE_TIME, S7_TYPE_I32, 250},
        {"T#24D_20H_31M_23S_647MS", S7_DATATYPE_TIME, S7_TYPE_I32, 0x7FFFFFFF},
        {"LT#1S_2MS_3US_4NS", S7_DATATYPE_LTIME, S7_TYPE_I64_ALT, kS + 2 * kMs + 3004},
        {"LT#-1.000000001S", S7_DATATYPE_LTIME, S7_TYPE_I64_ALT, static_cast<uint64_t>(-1000000001LL)},
        // S5TIME: BCD count in bits 0-11, time base in bits 12-13.
        {"S5T#2s", S7_DATATYPE_S5TIME, S7_TYPE_BITS16, 0x0200},
        {"S5T#9s_990ms", S7_DATATYPE_S5TIME, S7_TYPE_BITS16, 0x0999},
        {"S5T#1M_30S", S7_DATATYPE_S5TIME, S7_TYPE_BITS16, 0x1900},
        {"S5T#2H_46M_30S", S7_DATATYPE_S5TIME, S7_TYPE_BITS16, 0x3999},
        {"S5T#0MS", S7_DATATYPE_TIMER, S7_TYPE_BITS16, 0x0000},
        {"16#2127", S7_DATATYPE_S5TIME, S7_TYPE_BITS16, 0x2127},
        // Dates and times of day.
        {"D#1990-01-01", S7_DATATYPE_DATE, S7_TYPE_U16, 0},
        {"D#2026-12-10", S7_DATATYPE_DATE, S7_TYPE_U16, 13492},
        {"DATE#2024-02-29", S7_DATATYPE_DATE, S7_TYPE_U16, 12477},
        {"D#2168-12-31", S7_DATATYPE_DATE, S7_TYPE_U16, 65378},
        {"TOD#06:00:00.000", S7_DATATYPE_TIME_OF_DAY, S7_TYPE_U32, 21600000},
        {"TIME_OF_DAY#23:59:59.999", S7_DATATYPE_TIME_OF_DAY, S7_TYPE_U32, 86399999},
        {"TOD#12:00:00.5", S7_DATATYPE_TIME_OF_DAY, S7_TYPE_U32, 43200500},
        {"LTOD#00:00:01.000000002", S7_DATATYPE_LTOD, S7_TYPE_U64, kS + 2},
        {"LDT#1970-01-01-00:00:00", S7_DATATYPE_LDT, S7_TYPE_U64_ALT, 0},
        {"LDT#2026-12-10-12:34:56.123456789", S7_DATATYPE_LDT, S7_TYPE_U64_ALT,
         (20797ull * 86400 + 12 * 3600 + 34 * 60 + 56) * kS + 123456789},
        // Characters: quoted with $ escapes, or a code.
        {"'A'", S7_DATATYPE_CHAR, S7_TYPE_U8, 'A'},
        {"CHAR#'$''", S7_DATATYPE_CHAR, S7_TYPE_U8, '\''},
        {"'$$'", S7_DATATYPE_CHAR, S7_TYPE_U8, '$'},
        {"'$L'", S7_DATATYPE_CHAR, S7_TYPE_U8, '\n'},
        {"'$41'", S7_DATATYPE_CHAR, S7_TYPE_U8, 'A'},
        {"65", S7_DATATYPE_CHAR, S7_TYPE_U8, 65},
        {"WCHAR#'€'", S7_DATATYPE_WCHAR, S7_TYPE_U16, 0x20AC},
        {"'$20AC'", S7_DATATYPE_WCHAR, S7_TYPE_U16, 0x20AC},
        {"'z'", S7_DATATYPE_WCHAR, S7_TYPE_U16, 'z'},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " as " + s7_datatype_name(c.datatype));
        const vemo::ParsedValue parsed = parseValue(c.text, c.datatype);
        ASSERT_TRUE(parsed) << parsed.error;
        EXPECT_EQ(parsed.error, "");
        EXPECT_EQ(s7_value_type(parsed.value.get()), c.wireType);
        EXPECT_FALSE(s7_value_is_array(parsed.value.get()));
        EXPECT_EQ(bitsOf(parsed.value.get()), c.bits);
    }
}

// The controller's STRING: [capacity, length, characters]; WSTRING: text.
TEST(ValueParse, TextsKeepTheirCharactersAndFitTheirCapacity) {
    struct Case {
        const char* text;
        uint8_t datatype;
        uint32_t capacity;
        std::string expected;  // STRING: the bytes of the array; WSTRING: the text
    };
    const Case cases[] = {
        {"'Still water'", S7_DATATYPE_STRING, 20, std::string("\x14\x0B") + "Still water"},
        {"Still water", S7_DATATYPE_STRING, 11, std::string("\x0B\x0B") + "Still water"},
        {"'It$'s $24 5'", S7_DATATYPE_STRING, 0, std::string("\x08\x08") + "It's $ 5"},
        {"''", S7_DATATYPE_STRING, 4, std::string("\x04\x00", 2)},
        {"", S7_DATATYPE_STRING, 4, std::string("\x04\x00", 2)},
        {"STRING#'ok'", S7_DATATYPE_STRING, 2, std::string("\x02\x02") + "ok"},
        {"'Grüße €'", S7_DATATYPE_WSTRING, 7, "Grüße €"},
        {"'$20AC$$'", S7_DATATYPE_WSTRING, 0, "€$"},
        {"x#1", S7_DATATYPE_WSTRING, 0, "x#1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const vemo::ParsedValue parsed = parseValue(c.text, c.datatype, c.capacity);
        ASSERT_TRUE(parsed) << parsed.error;
        std::string got;
        if (c.datatype == S7_DATATYPE_STRING) {
            ASSERT_TRUE(s7_value_is_array(parsed.value.get()));
            ASSERT_EQ(s7_value_type(parsed.value.get()), S7_TYPE_U8);
            for (uint32_t i = 0; i < s7_array_count(parsed.value.get()); ++i) {
                uint8_t b = 0;
                ASSERT_EQ(s7_array_get_u8(parsed.value.get(), i, &b), S7_OK);
                got += static_cast<char>(b);
            }
        } else {
            const char* text = nullptr;
            uint32_t n = 0;
            ASSERT_EQ(s7_value_get_string(parsed.value.get(), &text, &n), S7_OK);
            got.assign(text, n);
        }
        EXPECT_EQ(got, c.expected);
    }
}

TEST(ValueParse, DatesAndTimesInTheirByteLayouts) {
    const std::pair<const char*, std::vector<std::uint8_t>> cases[] = {
        // BCD, then the milliseconds' last digit beside the weekday (5: Thursday).
        {"DT#2026-12-10-12:34:56.789", {0x26, 0x12, 0x10, 0x12, 0x34, 0x56, 0x78, 0x95}},
        {"DT#1990-01-01-00:00:00", {0x90, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x02}},
        {"DTL#2026-12-10-12:34:56.123456789", {0x07, 0xEA, 12, 10, 5, 12, 34, 56, 0x07, 0x5B, 0xCD, 0x15}},
        {"DTL#1970-01-01-00:00:00", {0x07, 0xB2, 1, 1, 5, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& [text, bytes] : cases) {
        const bool dt = std::string_view(text).starts_with("DT#");
        const vemo::ParsedValue parsed = parseValue(text, dt ? S7_DATATYPE_DATE_AND_TIME : S7_DATATYPE_DTL);
        ASSERT_TRUE(parsed) << text << ": " << parsed.error;
        const std::uint8_t* data = nullptr;
        std::uint32_t length = 0;
        ASSERT_EQ(s7_value_get_blob(parsed.value.get(), &data, &length), S7_OK) << text;
        EXPECT_EQ(std::vector<std::uint8_t>(data, data + length), bytes) << text;
    }
}

// A DATE_AND_TIME goes back in the form it was read in: a byte block as the
// BLOB parseValue makes, a 64-bit integer as that integer of the same bytes.
// Nothing else changes form.
TEST(ValueParse, AValueGoesBackInTheFormItsVariableWasReadIn) {
    constexpr std::uint8_t kDt = S7_DATATYPE_DATE_AND_TIME;
    constexpr std::uint64_t kBytes = 0x2612101234567895u;  // DT#2026-12-10-12:34:56.789
    const auto readAs = [](s7_value* raw) {
        const vemo::OwnedValue owned(raw);
        return vemo::ReadValue::of(owned.get());
    };
    const std::uint8_t block[] = {0x24, 0x03, 0x15, 0x13, 0x45, 0x30, 0x12, 0x36};
    const char* const dt = "DT#2026-12-10-12:34:56.789";
    const struct {
        const char* what;
        std::uint8_t datatype;
        const char* text;
        vemo::ReadValue read;
        std::uint8_t wireType;  // of the value to write
    } cases[] = {
        {"DT read as U64", kDt, dt, readAs(s7_value_new_u64(1)), S7_TYPE_U64},
        {"DT read as I64", kDt, dt, readAs(s7_value_new_i64(-1)), S7_TYPE_I64},
        {"DT read as BITS64", kDt, dt, readAs(s7_value_new_bits64(1)), S7_TYPE_BITS64},
        {"DT read as U64_ALT", kDt, dt, readAs(s7_value_new_u64_alt(1)), S7_TYPE_U64_ALT},
        {"DT read as I64_ALT", kDt, dt, readAs(s7_value_new_i64_alt(1)), S7_TYPE_I64_ALT},
        {"DT read as a BLOB", kDt, dt, readAs(s7_value_new_blob(block, 8)), S7_TYPE_BLOB},
        {"DT not read yet", kDt, dt, vemo::ReadValue{}, S7_TYPE_BLOB},
        {"DT read as a mismatch", kDt, dt, readAs(s7_value_new_i32(1)), S7_TYPE_BLOB},
        {"DTL read as a BLOB", S7_DATATYPE_DTL, "DTL#2026-12-10-12:34:56", readAs(s7_value_new_blob(block, 8)),
         S7_TYPE_BLOB},
        {"LINT read as U64", S7_DATATYPE_LINT, "5", readAs(s7_value_new_u64(1)), S7_TYPE_I64},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        vemo::ParsedValue parsed = parseValue(c.text, c.datatype);
        ASSERT_TRUE(parsed) << parsed.error;
        const vemo::DisplayFormat format = vemo::defaultFormat(c.datatype);
        const std::string typed = vemo::describeValue(parsed.value.get(), c.datatype, format).text;
        const vemo::OwnedValue sent = vemo::inFormOf(std::move(parsed.value), c.datatype, c.read);
        ASSERT_NE(sent, nullptr);
        EXPECT_EQ(s7_value_type(sent.get()), c.wireType);
        EXPECT_EQ(vemo::describeValue(sent.get(), c.datatype, format).text, typed) << "the same value in either form";
        if (c.datatype == kDt && c.wireType != S7_TYPE_BLOB) {
            EXPECT_EQ(vemo::ReadValue::of(sent.get()).bits, kBytes);
        }
    }
}

TEST(ValueParse, WhatDoesNotFitIsRefusedWithItsReason) {
    struct Case {
        const char* text;
        uint8_t datatype;
        uint32_t capacity;
        const char* error;
    };
    const Case cases[] = {
        {"300", S7_DATATYPE_USINT, 0, "300 is out of range for USINT (0..255)"},
        {"-1", S7_DATATYPE_UINT, 0, "-1 is out of range for UINT (0..65535)"},
        {"16#1FF", S7_DATATYPE_BYTE, 0, "16#1FF is out of range for BYTE (0..255)"},
        {"32768", S7_DATATYPE_INT, 0, "32768 is out of range for INT (-32768..32767)"},
        {"16#FFFF", S7_DATATYPE_INT, 0, "16#FFFF is out of range for INT (-32768..32767)"},
        {"-129", S7_DATATYPE_SINT, 0, "-129 is out of range for SINT (-128..127)"},
        {"9223372036854775808", S7_DATATYPE_LINT, 0,
         "9223372036854775808 is out of range for LINT (-9223372036854775808..9223372036854775807)"},
        {"18446744073709551616", S7_DATATYPE_ULINT, 0, "18446744073709551616 does not fit in 64 bits"},
        {"2", S7_DATATYPE_BOOL, 0, "2 is not a BOOL (TRUE, FALSE, 1 or 0)"},
        {"yes", S7_DATATYPE_BBOOL, 0, "yes is not a BBOOL (TRUE, FALSE, 1 or 0)"},
        {"1.5", S7_DATATYPE_INT, 0, "1.5 is not a INT number"},
        {"12abc", S7_DATATYPE_DINT, 0, "12abc is not a DINT number"},
        {"1__0", S7_DATATYPE_DINT, 0, "1__0 is not a DINT number"},
        {"-16#10", S7_DATATYPE_DINT, 0, "-16#10 is not a DINT number"},
        {"2#102", S7_DATATYPE_BYTE, 0, "2#102 is not a BYTE number"},
        {"", S7_DATATYPE_INT, 0, "no value given"},
        {"T#2s", S7_DATATYPE_DINT, 0, "T#2s is not a DINT value"},
        {"W#16#1", S7_DATATYPE_INT, 0, "W#16#1 is not a INT value"},
        {"1e39", S7_DATATYPE_REAL, 0, "1e39 is out of range for REAL (0, or 1e-45 to 3.4028235e+38 either side of it)"},
        {"1e400", S7_DATATYPE_LREAL, 0,
         "1e400 is out of range for LREAL (0, or 5e-324 to 1.7976931348623157e+308 either side of it)"},
        {"1e-50", S7_DATATYPE_REAL, 0,
         "1e-50 is out of range for REAL (0, or 1e-45 to 3.4028235e+38 either side of it)"},
        {"infinity", S7_DATATYPE_REAL, 0, "infinity is not a REAL number"},
        {"C#1000", S7_DATATYPE_COUNTER, 0, "C#1000 is out of range for COUNTER (0..999)"},
        {"55296", S7_DATATYPE_WCHAR, 0, "55296 is half of a UTF-16 surrogate pair, no character by itself"},
        {"16#0A0A", S7_DATATYPE_S5TIME, 0, "16#0A0A is not an S5TIME word: its count is three BCD digits"},
        {"1,5", S7_DATATYPE_REAL, 0, "1,5 is not a REAL number"},
        {"T#24D_20H_31M_23S_648MS", S7_DATATYPE_TIME, 0,
         "T#24D_20H_31M_23S_648MS is out of range for TIME (T#-24D_20H_31M_23S_648MS..T#24D_20H_31M_23S_647MS)"},
        {"T#1.0005s", S7_DATATYPE_TIME, 0, "T#1.0005s is finer than TIME's 1 ms"},
        {"T#2S_1H", S7_DATATYPE_TIME, 0, "T#2S_1H is not a duration (like T#1D_2H_3M_4S_5MS)"},
        {"T#2X", S7_DATATYPE_TIME, 0, "T#2X is not a duration (like T#1D_2H_3M_4S_5MS)"},
        {"T#", S7_DATATYPE_TIME, 0, "T# is not a duration (like T#1D_2H_3M_4S_5MS)"},
        {"LT#1.0000000001S", S7_DATATYPE_LTIME, 0, "LT#1.0000000001S is finer than a nanosecond"},
        {"S5T#2H_46M_40S", S7_DATATYPE_S5TIME, 0, "S5T#2H_46M_40S is out of range for S5TIME (S5T#0MS..S5T#2H_46M_30S)"},
        {"S5T#10s_5ms", S7_DATATYPE_S5TIME, 0,
         "S5T#10s_5ms is not a whole number of S5TIME's time base (100 ms at this length)"},
        {"S5T#-1s", S7_DATATYPE_S5TIME, 0, "S5T#-1s is negative; S5TIME holds 0 to 2H_46M_30S"},
        {"D#2026-02-29", S7_DATATYPE_DATE, 0, "D#2026-02-29 is not a DATE (like D#2026-12-10)"},
        {"D#1989-12-31", S7_DATATYPE_DATE, 0, "D#1989-12-31 is out of range for DATE (D#1990-01-01..D#2168-12-31)"},
        {"D#2169-01-01", S7_DATATYPE_DATE, 0, "D#2169-01-01 is out of range for DATE (D#1990-01-01..D#2168-12-31)"},
        {"65379", S7_DATATYPE_DATE, 0, "65379 is out of range for DATE (0..65378)"},
        {"D#2026-13-01", S7_DATATYPE_DATE, 0, "D#2026-13-01 is not a DATE (like D#2026-12-10)"},
        {"TOD#24:00:00", S7_DATATYPE_TIME_OF_DAY, 0, "TOD#24:00:00 is not a TIME_OF_DAY (like TOD#06:00:00.000)"},
        {"TOD#06:00:00.0001", S7_DATATYPE_TIME_OF_DAY, 0,
         "TOD#06:00:00.0001 is not a TIME_OF_DAY (like TOD#06:00:00.000)"},
        {"86400000", S7_DATATYPE_TIME_OF_DAY, 0, "86400000 is out of range for TIME_OF_DAY (0..86399999)"},
        {"LDT#1969-12-31-23:59:59", S7_DATATYPE_LDT, 0,
         "LDT#1969-12-31-23:59:59 is out of range for LDT (LDT#1970-01-01-00:00:00..LDT#2262-04-11-23:47:16.854775807)"},
        {"LDT#2026-12-10 12:00:00", S7_DATATYPE_LDT, 0,
         "LDT#2026-12-10 12:00:00 is not a LDT (like LDT#2026-12-10-12:34:56.123456789)"},
        {"'AB'", S7_DATATYPE_CHAR, 0, "'AB' is not one character of one byte"},
        {"'€'", S7_DATATYPE_CHAR, 0, "'€' is not one character of one byte"},
        {"A", S7_DATATYPE_CHAR, 0, "A is not a character: quote it ('A') or give its code"},
        {"256", S7_DATATYPE_CHAR, 0, "256 is out of range for CHAR (0..255)"},
        {"'😀'", S7_DATATYPE_WCHAR, 0, "'😀' is not one character of the basic plane"},
        {"'$G'", S7_DATATYPE_CHAR, 0, "'$G' is not a quoted text (a quote inside is $', a dollar $$)"},
        {"'toolong'", S7_DATATYPE_STRING, 4, "'toolong' has 7 characters; the STRING holds 4"},
        {"'a$00b'", S7_DATATYPE_STRING, 10, "'a$00b' holds $00, which ends a STRING's text where it is read"},
        {"'It's'", S7_DATATYPE_STRING, 0, "'It's' is not a quoted text (a quote inside is $', a dollar $$)"},
        {"'€€'", S7_DATATYPE_WSTRING, 1, "'€€' has 2 characters; the WSTRING holds 1"},
        {"'\xFF'", S7_DATATYPE_WSTRING, 0, "'\xFF' is not valid UTF-8"},
        {"1", S7_DATATYPE_DTL, 0, "1 is not a DTL (like DTL#2026-12-10-12:34:56.123456789)"},
        {"DT#1989-12-31-23:59:59", S7_DATATYPE_DATE_AND_TIME, 0,
         "DT#1989-12-31-23:59:59 is out of range for DATE_AND_TIME (DT#1990-01-01-00:00:00..DT#2089-12-31-23:59:59.999)"},
        {"DT#2026-12-10-12:34:56.7891", S7_DATATYPE_DATE_AND_TIME, 0,
         "DT#2026-12-10-12:34:56.7891 is not a DATE_AND_TIME (like DT#2026-12-10-12:34:56.789)"},
        {"DTL#2262-04-12-00:00:00", S7_DATATYPE_DTL, 0,
         "DTL#2262-04-12-00:00:00 is out of range for DTL (DTL#1970-01-01-00:00:00..DTL#2262-04-11-23:59:59.999999999)"},
        {"1", S7_DATATYPE_S5COUNT, 0, "values of S5COUNT cannot be written"},
        {"1", S7_DATATYPE_STRUCT, 0, "values of STRUCT cannot be written"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " as " + s7_datatype_name(c.datatype));
        const vemo::ParsedValue parsed = parseValue(c.text, c.datatype, c.capacity);
        EXPECT_FALSE(parsed);
        EXPECT_EQ(parsed.value, nullptr);
        EXPECT_EQ(parsed.error, c.error);
    }
}

}  // namespace

namespace {

// The parser and the formatter agree at every data type's edges: a text the
// parser takes reads back as itself (in the data type's own format), and
// what it refuses is what the formatter would show as invalid, or what
// would not be written as typed (a REAL that rounds to 0 or to infinity, a
// text longer than its variable).
TEST(ValueParse, WhatItTakesReadsBackAsItselfAndTheRestItRefuses) {
    struct Case {
        const char* text;
        uint8_t datatype;
        bool taken;
        uint32_t capacity = 0;
    };
    const std::string emoji = "\xF0\x9F\x98\x80";  // two UTF-16 units
    auto times = [](const std::string& s, int n) {
        std::string out;
        for (int i = 0; i < n; ++i) out += s;
        return out;
    };
    // A text shows as it is, and is typed so too.
    const std::string wide64 = times("a", 64);
    const std::string wide65 = times("a", 65);
    const std::string emoji32 = times(emoji, 32);
    const std::string emoji33 = times(emoji, 33);
    const std::string longest = times("a", 16382);
    const std::string tooLong = times("a", 16383);
    const Case cases[] = {
        {"true", S7_DATATYPE_BOOL, true},
        {"false", S7_DATATYPE_BBOOL, true},
        {"16#FF", S7_DATATYPE_BYTE, true},
        {"16#FFFF", S7_DATATYPE_WORD, true},
        {"16#FFFFFFFF", S7_DATATYPE_DWORD, true},
        {"16#FFFFFFFFFFFFFFFF", S7_DATATYPE_LWORD, true},
        {"-128", S7_DATATYPE_SINT, true},
        {"127", S7_DATATYPE_SINT, true},
        {"-32768", S7_DATATYPE_INT, true},
        {"-2147483648", S7_DATATYPE_DINT, true},
        {"-9223372036854775808", S7_DATATYPE_LINT, true},
        {"9223372036854775807", S7_DATATYPE_LINT, true},
        {"255", S7_DATATYPE_USINT, true},
        {"65535", S7_DATATYPE_UINT, true},
        {"4294967295", S7_DATATYPE_UDINT, true},
        {"18446744073709551615", S7_DATATYPE_ULINT, true},
        {"C#0", S7_DATATYPE_COUNTER, true},
        {"C#999", S7_DATATYPE_COUNTER, true},
        {"C#1000", S7_DATATYPE_COUNTER, false},
        {"1000", S7_DATATYPE_COUNTER, false},
        {"3.4028235e+38", S7_DATATYPE_REAL, true},
        {"-3.4028235e+38", S7_DATATYPE_REAL, true},
        {"1.1754944e-38", S7_DATATYPE_REAL, true},
        {"1e-45", S7_DATATYPE_REAL, true},
        {"3.4028236e+38", S7_DATATYPE_REAL, false},
        {"1e-50", S7_DATATYPE_REAL, false},
        {"-1e-46", S7_DATATYPE_REAL, false},
        {"1.7976931348623157e+308", S7_DATATYPE_LREAL, true},
        {"5e-324", S7_DATATYPE_LREAL, true},
        {"1.7976931348623159e+308", S7_DATATYPE_LREAL, false},
        {"1e-400", S7_DATATYPE_LREAL, false},
        {"T#-24D_20H_31M_23S_648MS", S7_DATATYPE_TIME, true},
        {"T#24D_20H_31M_23S_647MS", S7_DATATYPE_TIME, true},
        {"T#24D_20H_31M_23S_648MS", S7_DATATYPE_TIME, false},
        {"LT#-106751D_23H_47M_16S_854MS_775US_808NS", S7_DATATYPE_LTIME, true},
        {"LT#106751D_23H_47M_16S_854MS_775US_807NS", S7_DATATYPE_LTIME, true},
        {"S5T#0MS", S7_DATATYPE_S5TIME, true},
        {"S5T#2H_46M_30S", S7_DATATYPE_S5TIME, true},
        {"S5T#2H_46M_31S", S7_DATATYPE_S5TIME, false},
        {"16#00FA", S7_DATATYPE_S5TIME, false},
        {"D#1990-01-01", S7_DATATYPE_DATE, true},
        {"D#2168-12-31", S7_DATATYPE_DATE, true},
        {"D#2169-01-01", S7_DATATYPE_DATE, false},
        {"65379", S7_DATATYPE_DATE, false},
        {"TOD#00:00:00.000", S7_DATATYPE_TIME_OF_DAY, true},
        {"TOD#23:59:59.999", S7_DATATYPE_TIME_OF_DAY, true},
        {"LTOD#23:59:59.999999999", S7_DATATYPE_LTOD, true},
        {"LDT#1970-01-01-00:00:00.000000000", S7_DATATYPE_LDT, true},
        {"LDT#2262-04-11-23:47:16.854775807", S7_DATATYPE_LDT, true},
        {"LDT#2262-04-11-23:47:16.854775808", S7_DATATYPE_LDT, false},
        {"9223372036854775808", S7_DATATYPE_LDT, false},
        {"DT#1990-01-01-00:00:00.000", S7_DATATYPE_DATE_AND_TIME, true},
        {"DT#2089-12-31-23:59:59.999", S7_DATATYPE_DATE_AND_TIME, true},
        {"DT#2090-01-01-00:00:00.000", S7_DATATYPE_DATE_AND_TIME, false},
        {"DTL#1970-01-01-00:00:00.000000000", S7_DATATYPE_DTL, true},
        {"DTL#2262-04-11-23:59:59.999999999", S7_DATATYPE_DTL, true},
        {"DTL#2262-04-12-00:00:00.000000000", S7_DATATYPE_DTL, false},
        {"'$00'", S7_DATATYPE_CHAR, true},
        {"'$FF'", S7_DATATYPE_CHAR, true},
        {"WCHAR#'A'", S7_DATATYPE_WCHAR, true},
        {"WCHAR#'\xED\x9F\xBF'", S7_DATATYPE_WCHAR, true},  // U+D7FF, the last before the surrogates
        {"WCHAR#'\xEE\x80\x80'", S7_DATATYPE_WCHAR, true},  // U+E000, the first after them
        {"55296", S7_DATATYPE_WCHAR, false},                 // 0xD800
        {"16#DFFF", S7_DATATYPE_WCHAR, false},
        {"WCHAR#'$D800'", S7_DATATYPE_WCHAR, false},
        {"'\xED\xA0\x80'", S7_DATATYPE_WCHAR, false},  // a surrogate written in UTF-8
        {"abc", S7_DATATYPE_STRING, true, 3},
        {"abcd", S7_DATATYPE_STRING, false, 3},
        {wide64.c_str(), S7_DATATYPE_WSTRING, true, 64},
        {wide65.c_str(), S7_DATATYPE_WSTRING, false, 64},
        {emoji32.c_str(), S7_DATATYPE_WSTRING, true, 64},
        {emoji33.c_str(), S7_DATATYPE_WSTRING, false, 64},
        {longest.c_str(), S7_DATATYPE_WSTRING, true},
        {tooLong.c_str(), S7_DATATYPE_WSTRING, false},
        {"\xED\xA0\x80", S7_DATATYPE_WSTRING, false},
        {"\xC0\x80", S7_DATATYPE_WSTRING, false},  // an overlong NUL
    };
    for (const Case& c : cases) {
        const std::string text = c.text;
        SCOPED_TRACE(text.size() > 80 ? text.substr(0, 40) + "... (" + std::to_string(text.size()) + " bytes)" : text);
        const vemo::ParsedValue parsed = parseValue(text, c.datatype, c.capacity);
        EXPECT_EQ(bool(parsed), c.taken) << parsed.error;
        if (parsed) {
            const vemo::ReadValue read = vemo::ReadValue::of(parsed.value.get());
            const std::string back = vemo::formatValue(read, c.datatype, vemo::defaultFormat(c.datatype)).text;
            EXPECT_TRUE(back == text) << "reads back as " << (back.size() > 80 ? back.substr(0, 40) + "..." : back);
        } else {
            EXPECT_FALSE(parsed.error.empty());
        }
    }
}

}  // namespace

// The text of a value read from the controller, as the inspector and the
// command-line tool show it, and what kind of value that text stands for.
//
// The value's own wire type decides the format, but only once the value is
// known to fit the tag's data type: a controller that answers a DINT tag
// with a BOOL array, or an INT tag with 64 bits, has not sent a DINT or an
// INT, and showing whatever the wrong type reads as (or the 0 a failed
// getter leaves) would present a number nobody sent. Such a value is a type
// mismatch instead. STRING is the one data type whose value arrives in
// another form than its own: the controller's [capacity, length,
// characters...] byte array.
#pragma once

#include <vemo/s7datatype.h>
#include <vemo/s7value.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vemo {

// What a value's text stands for, so that a JSON writer can turn it back
// into a number, a boolean or a string.
enum class ValueKind : std::uint8_t {
    Empty,     // a type without a text form; the text is ""
    Bool,      // "true" or "false"
    Integer,   // a decimal integer of at most 64 bits, signed or not
    Real,      // the shortest text of a float or double; "inf", "-inf", "nan" included
    Text,      // a STRING or WSTRING; any bytes
    Mismatch,  // no value: the text says what was sent for which data type (TypeMismatch::text)
};

struct ValueText {
    std::string text;
    ValueKind kind = ValueKind::Empty;
};

// A value that does not fit its tag's data type.
struct TypeMismatch {
    std::string sent;           // wireTypeName of the value: "BOOL array", "I64"
    std::uint8_t datatype = 0;  // the tag's data type

    // "type mismatch: BOOL array for DINT"
    std::string text() const;
    bool operator==(const TypeMismatch&) const = default;
};

// The short name of a value's wire type, with " array" for an array: "BOOL",
// "U32", "F64", "STRING", "BLOB", "STRUCT", "NULL", "BOOL array"; "type N"
// for a number without a name.
std::string wireTypeName(const s7_value* value);

// Why `value` cannot be shown as a value of `datatype`, or nullopt when it
// can. Strict where the wire form is clear: BOOL and BBOOL take a BOOL;
// the integer data types (BYTE ... LDT, BCD8 ... BCD64) any integer wire
// type no wider than themselves, as controllers differ in signedness and in
// plain versus bit-string forms; REAL an F32, LREAL an F64 or F32; STRING a
// U8 array, WSTRING a STRING. Any array for these scalar data types is a
// mismatch, as is anything but the array for STRING. Data types outside
// these (structures, DTL, DATE_AND_TIME, unknown identifiers) are formatted
// by the value alone, so nothing is claimed for them; nor for a null value
// pointer, which is no answer at all.
std::optional<TypeMismatch> typeMismatch(const s7_value* value, uint8_t datatype);

// A read value's own copy, kept so that a row can be shown in another
// format without reading it again: the value's wire type, flag byte and
// storage, and what the text of any format is made of.
struct ReadValue {
    bool present = false;  // false: no value at all (a null pointer was captured)
    std::uint8_t wireType = S7_TYPE_NULL;
    std::uint8_t flags = 0;
    bool array = false;      // held as an array
    // A scalar's bit pattern in the low bits of its width (0 when its getter
    // refused); for the controller's STRING (a U8 array), its capacity.
    std::uint64_t bits = 0;
    // A BLOB's or STRING's bytes, a packed structure's member bytes, or the
    // characters of the controller's STRING (a U8 array) up to its length.
    std::string bytes;

    static ReadValue of(const s7_value* value);
    bool operator==(const ReadValue&) const = default;
};

// How a row shows its value. IEC is the controller's literal form
// (D#2026-12-10, T#1S_500MS, 16#0A1F, 'A'); DEC the plain decimal text of
// describeValue; HEX and BIN the bits at the data type's width; SIGNED and
// UNSIGNED the same bits read the other way; CHAR an integer's bits as a
// character.
enum class DisplayFormat : std::uint8_t { Iec, Dec, Hex, Bin, Signed, Unsigned, Char };

// "IEC", "DEC", "HEX", "BIN", "SIGNED", "UNSIGNED", "CHAR".
std::string_view displayFormatName(DisplayFormat format);
// The format of that name, in any letter case; nullopt for no such name.
std::optional<DisplayFormat> displayFormatByName(std::string_view name);

// The formats a value of `datatype` can be shown in, its default first:
// DEC for numbers, BOOL and the data types without a form of their own,
// IEC for times, dates, characters, bit strings, timers, counters and
// strings.
std::vector<DisplayFormat> formatsFor(uint8_t datatype);
DisplayFormat defaultFormat(uint8_t datatype);

// The captured value counterparts of the functions below.
std::string wireTypeName(const ReadValue& value);
std::optional<TypeMismatch> typeMismatch(const ReadValue& value, uint8_t datatype);

// The text of `value` in `format`. DEC is describeValue's text and kind,
// whatever the data type; another format not among formatsFor(datatype)
// gives the default format's text; a
// mismatch is its text in every format. A date, time, BCD digit or
// character the data type cannot hold shows the raw number (a byte block
// in hexadecimal) followed by " (invalid)", never a made-up value. Texts
// other than DEC, SIGNED and UNSIGNED are of kind Text.
ValueText formatValue(const ReadValue& value, uint8_t datatype, DisplayFormat format);
ValueText describeValue(const s7_value* value, uint8_t datatype, DisplayFormat format);

// Never fails: a value that does not fit `datatype` gives its mismatch text
// (Mismatch); values of types without a text form give "" (Empty); where no
// claim is made about the data type, values whose storage does not match
// their type give 0 ("false" for a bool).
ValueText describeValue(const s7_value* value, uint8_t datatype);

// describeValue's text alone.
std::string formatValue(const s7_value* value, uint8_t datatype);

}  // namespace vemo

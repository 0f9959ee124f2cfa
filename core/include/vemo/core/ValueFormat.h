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

// Never fails: a value that does not fit `datatype` gives its mismatch text
// (Mismatch); values of types without a text form give "" (Empty); where no
// claim is made about the data type, values whose storage does not match
// their type give 0 ("false" for a bool).
ValueText describeValue(const s7_value* value, uint8_t datatype);

// describeValue's text alone.
std::string formatValue(const s7_value* value, uint8_t datatype);

}  // namespace vemo

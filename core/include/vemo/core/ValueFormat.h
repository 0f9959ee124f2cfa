// The text of a value read from the controller, as the inspector and the
// command-line tool show it, and what kind of value that text stands for.
// Only the value's own type decides the format; the tag's data type matters
// for STRING alone, whose value arrives as the controller's [capacity,
// length, characters...] byte array.
#pragma once

#include <vemo/s7datatype.h>
#include <vemo/s7value.h>

#include <cstdint>
#include <string>

namespace vemo {

// What a value's text stands for, so that a JSON writer can turn it back
// into a number, a boolean or a string.
enum class ValueKind : std::uint8_t {
    Empty,    // a type without a text form; the text is ""
    Bool,     // "true" or "false"
    Integer,  // a decimal integer of at most 64 bits, signed or not
    Real,     // the shortest text of a float or double; "inf", "-inf", "nan" included
    Text,     // a STRING or WSTRING; any bytes
};

struct ValueText {
    std::string text;
    ValueKind kind = ValueKind::Empty;
};

// Never fails: values of types without a text form give "" (Empty), values
// whose storage does not match their type give 0 ("false" for a bool).
ValueText describeValue(const s7_value* value, uint8_t datatype);

// describeValue's text alone.
std::string formatValue(const s7_value* value, uint8_t datatype);

}  // namespace vemo

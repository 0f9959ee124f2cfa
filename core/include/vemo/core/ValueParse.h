// A value typed by an engineer, turned into the value a variable of a given
// data type travels as, ready to be written. Parsing is strict: a text that
// does not fit the data type is an error that says why, never a value
// clamped, rounded or wrapped to fit.
//
// Accepted forms, with an optional prefix naming the type (INT#5, W#16#FF,
// BOOL#TRUE) and underscores between digits:
//   integers     42, -7, 16#FF, 2#1010_1010, 8#17 (TIME, LTIME, DATE, TOD,
//                LTOD and LDT take a plain number in their own unit too)
//   BOOL, BBOOL  TRUE, FALSE, 1, 0 (any case)
//   REAL, LREAL  1.5, -2e3, inf, -inf, nan
//   TIME         T#2s, T#1D_2H_3M_4S_5MS, T#-2S_500MS, T#1.5s (ms)
//   LTIME        LT#1S_2MS_3US_4NS (ns)
//   S5TIME       S5T#2s (TIMER too): the smallest time base that holds it
//   DATE         D#2026-12-10
//   TIME_OF_DAY  TOD#06:00:00.000;  LTOD  LTOD#06:00:00.123456789
//   LDT          LDT#2026-12-10-12:34:56.123456789
//   CHAR         'A', '$'' ($$ $' $L $N $P $R $T $hh escapes), or a code: 65
//   WCHAR        WCHAR#'€' or '€' ($hhhh escapes), or a code
//   STRING       'text' with escapes, or the text as typed
//   WSTRING      the same, any Unicode
#pragma once

#include <vemo/s7value.h>

#include "vemo/core/OwnedLists.h"
#include "vemo/core/ValueFormat.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vemo {

// Either a value or an error text, never both.
struct ParsedValue {
    OwnedValue value;
    std::string error;  // e.g. "300 is out of range for USINT (0..255)"

    explicit operator bool() const { return value != nullptr; }
};

// Parses `text` as a value of `datatype` (S7_DATATYPE_*). `capacity` is the
// characters a STRING or WSTRING variable holds (a WSTRING's in UTF-16
// units, as the controller counts them: a character beyond the basic plane
// takes two); 0 when unknown, then a STRING's capacity is the text's length
// and a WSTRING holds up to 16382. Data types that cannot be written from a
// text are an error.
//
// What is taken reads back as itself: a value the formatter would show as
// invalid is refused (a DATE past 2168-12-31, an LDT past
// 2262-04-11-23:47:16.854775807, a COUNTER above 999, a WCHAR that is half
// of a surrogate pair, an S5TIME word whose count is no BCD number), and so
// is a REAL or LREAL that rounds to infinity or, not being 0, to 0. A REAL
// is rounded once, straight from the text, so that 3.4028235e+38 (how the
// largest REAL shows) is the largest REAL; subnormal values are taken.
ParsedValue parseValue(std::string_view text, uint8_t datatype, uint32_t capacity = 0);

// `value` (as parseValue made it) in the form the controller sent the
// variable in, where a data type has more than one: a DATE_AND_TIME last
// read as one 64-bit integer goes back as that wire type, holding the
// eight bytes, the first most significant. Anything else, and a variable
// not read yet (`read` holds nothing), keeps its form. Null only when the
// new value cannot be allocated.
OwnedValue inFormOf(OwnedValue value, uint8_t datatype, const ReadValue& read);

}  // namespace vemo

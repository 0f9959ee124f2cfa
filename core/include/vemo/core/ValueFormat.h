// The text of a value read from the controller, as the inspector and the
// command-line tool show it. Only the value's own type decides the format;
// the tag's data type matters for STRING alone, whose value arrives as the
// controller's [capacity, length, characters...] byte array.
#pragma once

#include <vemo/s7datatype.h>
#include <vemo/s7value.h>

#include <cstdint>
#include <string>

namespace vemo {

// Never fails: values of types without a text form give "", values whose
// storage does not match their type give 0 ("false" for a bool).
std::string formatValue(const s7_value* value, uint8_t datatype);

} // namespace vemo

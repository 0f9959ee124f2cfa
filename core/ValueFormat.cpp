#include "vemo/core/ValueFormat.h"

#include <fmt/format.h>

#include <memory>

namespace vemo {

namespace {

// Reads the value with the getter of its type; a value whose storage does
// not fit the type shows the zero the getter leaves in place.
template <typename T, typename Getter>
std::string number(const s7_value* value, Getter getter) {
    T v{};
    (void)getter(value, &v);
    return fmt::format("{}", v);
}

template <typename T, typename Getter>
ValueText integer(const s7_value* value, Getter getter) {
    return {number<T>(value, getter), ValueKind::Integer};
}

template <typename T, typename Getter>
ValueText real(const s7_value* value, Getter getter) {
    return {number<T>(value, getter), ValueKind::Real};
}

}  // namespace

ValueText describeValue(const s7_value* value, uint8_t datatype) {
    if (datatype == S7_DATATYPE_STRING) {
        char* chars = nullptr;
        if (s7_value_string_chars(value, &chars) != 0) {
            return {{}, ValueKind::Text};
        }
        const std::unique_ptr<char, decltype(&s7_free)> owned(chars, &s7_free);
        return {std::string(chars), ValueKind::Text};
    }

    switch (s7_value_type(value)) {
    case S7_TYPE_BOOL: {
        bool flag = false;
        (void)s7_value_get_bool(value, &flag);
        return {flag ? "true" : "false", ValueKind::Bool};
    }
    case S7_TYPE_U8: return integer<uint8_t>(value, s7_value_get_u8);
    case S7_TYPE_BITS8: return integer<uint8_t>(value, s7_value_get_bits8);
    case S7_TYPE_U16: return integer<uint16_t>(value, s7_value_get_u16);
    case S7_TYPE_BITS16: return integer<uint16_t>(value, s7_value_get_bits16);
    case S7_TYPE_U32: return integer<uint32_t>(value, s7_value_get_u32);
    case S7_TYPE_BITS32: return integer<uint32_t>(value, s7_value_get_bits32);
    case S7_TYPE_U64: return integer<uint64_t>(value, s7_value_get_u64);
    case S7_TYPE_BITS64: return integer<uint64_t>(value, s7_value_get_bits64);
    case S7_TYPE_I8: return integer<int8_t>(value, s7_value_get_i8);
    case S7_TYPE_I16: return integer<int16_t>(value, s7_value_get_i16);
    case S7_TYPE_I32: return integer<int32_t>(value, s7_value_get_i32);
    case S7_TYPE_I64: return integer<int64_t>(value, s7_value_get_i64);
    case S7_TYPE_U64_ALT: {
        // Shown as the signed reading of the stored 64 bits, like I64.
        uint64_t bits = 0;
        (void)s7_value_get_u64_alt(value, &bits);
        return {fmt::format("{}", static_cast<int64_t>(bits)), ValueKind::Integer};
    }
    case S7_TYPE_I64_ALT: return integer<int64_t>(value, s7_value_get_i64_alt);
    case S7_TYPE_F32: return real<float>(value, s7_value_get_f32);
    case S7_TYPE_F64: return real<double>(value, s7_value_get_f64);
    case S7_TYPE_STRING: {
        const char* text = nullptr;
        uint32_t length = 0;
        if (s7_value_get_string(value, &text, &length) != 0 || text == nullptr) {
            return {{}, ValueKind::Text};
        }
        return {std::string(text, length), ValueKind::Text};
    }
    default: return {};
    }
}

std::string formatValue(const s7_value* value, uint8_t datatype) { return describeValue(value, datatype).text; }

}  // namespace vemo

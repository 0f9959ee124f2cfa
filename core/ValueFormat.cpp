#include "vemo/core/ValueFormat.h"

#include <fmt/format.h>

#include <array>
#include <memory>
#include <string_view>

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

// The wire form a data type's value has to arrive in.
enum class Form : std::uint8_t {
    Unclaimed,  // not formatted by its data type: no check
    Bool,
    Integer,   // up to `width` bytes
    Real,      // F32
    LongReal,  // F64, or F32, which widens exactly
    String,    // the controller's U8 array
    WString,   // a STRING
};

struct Expected {
    Form form = Form::Unclaimed;
    unsigned width = 0;
};

Expected expectedFor(uint8_t datatype) {
    switch (datatype) {
    case S7_DATATYPE_BOOL:
    case S7_DATATYPE_BBOOL: return {Form::Bool};
    case S7_DATATYPE_BYTE:
    case S7_DATATYPE_CHAR:
    case S7_DATATYPE_USINT:
    case S7_DATATYPE_SINT:
    case S7_DATATYPE_BCD8: return {Form::Integer, 1};
    case S7_DATATYPE_WORD:
    case S7_DATATYPE_INT:
    case S7_DATATYPE_UINT:
    case S7_DATATYPE_DATE:
    case S7_DATATYPE_S5TIME:
    case S7_DATATYPE_COUNTER:
    case S7_DATATYPE_TIMER:
    case S7_DATATYPE_WCHAR:
    case S7_DATATYPE_BCD16: return {Form::Integer, 2};
    case S7_DATATYPE_DWORD:
    case S7_DATATYPE_DINT:
    case S7_DATATYPE_UDINT:
    case S7_DATATYPE_TIME_OF_DAY:
    case S7_DATATYPE_TIME:
    case S7_DATATYPE_BCD32: return {Form::Integer, 4};
    case S7_DATATYPE_ULINT:
    case S7_DATATYPE_LINT:
    case S7_DATATYPE_LWORD:
    case S7_DATATYPE_LTIME:
    case S7_DATATYPE_LTOD:
    case S7_DATATYPE_LDT:
    case S7_DATATYPE_BCD64: return {Form::Integer, 8};
    case S7_DATATYPE_REAL: return {Form::Real};
    case S7_DATATYPE_LREAL: return {Form::LongReal};
    case S7_DATATYPE_STRING: return {Form::String};
    case S7_DATATYPE_WSTRING: return {Form::WString};
    default: return {};
    }
}

// The bytes of an integer wire type; 0 for any other type.
unsigned integerWidth(uint8_t type) {
    switch (type) {
    case S7_TYPE_U8:
    case S7_TYPE_I8:
    case S7_TYPE_BITS8: return 1;
    case S7_TYPE_U16:
    case S7_TYPE_I16:
    case S7_TYPE_BITS16: return 2;
    case S7_TYPE_U32:
    case S7_TYPE_I32:
    case S7_TYPE_BITS32: return 4;
    case S7_TYPE_U64:
    case S7_TYPE_I64:
    case S7_TYPE_BITS64:
    case S7_TYPE_U64_ALT:
    case S7_TYPE_I64_ALT: return 8;
    default: return 0;
    }
}

// An array by its storage or by its flag byte: the getters refuse either.
bool isArray(const s7_value* value) {
    const uint8_t flags = s7_value_flags(value);
    return s7_value_is_array(value) || flags == S7_FLAG_ARRAY || flags == S7_FLAG_ARRAY_KEYED ||
           flags == S7_FLAG_ARRAY_OTHER;
}

bool fits(const s7_value* value, Expected expected) {
    const uint8_t type = s7_value_type(value);
    if (expected.form == Form::String) return type == S7_TYPE_U8 && s7_value_is_array(value);
    if (isArray(value)) return false;
    switch (expected.form) {
    case Form::Bool: return type == S7_TYPE_BOOL;
    case Form::Integer: {
        const unsigned width = integerWidth(type);
        return width != 0 && width <= expected.width;
    }
    case Form::Real: return type == S7_TYPE_F32;
    case Form::LongReal: return type == S7_TYPE_F64 || type == S7_TYPE_F32;
    case Form::WString: return type == S7_TYPE_STRING;
    case Form::Unclaimed:
    case Form::String: break;
    }
    return true;
}

}  // namespace

std::string TypeMismatch::text() const {
    return fmt::format("type mismatch: {} for {}", sent, s7_datatype_name(datatype));
}

std::string wireTypeName(const s7_value* value) {
    static constexpr std::array<std::string_view, 24> kNames = {
        "NULL",   "BOOL",   "U8",  "U16", "U32",     "U64",     "I8",   "I16",    "I32",  "I64",    "BITS8", "BITS16",
        "BITS32", "BITS64", "F32", "F64", "U64_ALT", "I64_ALT", "ID32", "ID_VLQ", "BLOB", "STRING", "",      "STRUCT",
    };
    const uint8_t type = s7_value_type(value);
    const std::string name =
        type < kNames.size() && !kNames[type].empty() ? std::string(kNames[type]) : fmt::format("type {}", type);
    return isArray(value) ? name + " array" : name;
}

std::optional<TypeMismatch> typeMismatch(const s7_value* value, uint8_t datatype) {
    const Expected expected = expectedFor(datatype);
    if (value == nullptr || expected.form == Form::Unclaimed || fits(value, expected)) return std::nullopt;
    return TypeMismatch{wireTypeName(value), datatype};
}

ValueText describeValue(const s7_value* value, uint8_t datatype) {
    if (const auto mismatch = typeMismatch(value, datatype)) {
        return {mismatch->text(), ValueKind::Mismatch};
    }
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

#include "vemo/core/ValueFormat.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>
#include <type_traits>

namespace vemo {

namespace {

// The wire form a data type's value has to arrive in.
enum class Form : std::uint8_t {
    Unclaimed,  // not formatted by its data type: no check
    Bool,
    Integer,   // up to `width` bytes
    Real,      // F32
    LongReal,  // F64, or F32, which widens exactly
    String,    // the controller's U8 array
    WString,   // a STRING
    Bytes,     // a byte block (BLOB or packed structure), or an integer of exactly `width` bytes that carries them
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
    // No integer is twelve bytes wide: a DTL comes as a byte block only.
    case S7_DATATYPE_DATE_AND_TIME: return {Form::Bytes, 8};
    case S7_DATATYPE_DTL: return {Form::Bytes, 12};
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
bool isArray(const ReadValue& value) {
    return value.array || value.flags == S7_FLAG_ARRAY || value.flags == S7_FLAG_ARRAY_KEYED ||
           value.flags == S7_FLAG_ARRAY_OTHER;
}

// DATE_AND_TIME and DTL arrive as byte blocks: a BLOB or a packed structure.
bool holdsBytes(const ReadValue& value) {
    return !isArray(value) && (value.wireType == S7_TYPE_BLOB || value.wireType == S7_TYPE_STRUCT);
}

bool fits(const ReadValue& value, Expected expected) {
    const uint8_t type = value.wireType;
    if (expected.form == Form::String) return type == S7_TYPE_U8 && value.array;
    if (isArray(value)) return false;
    switch (expected.form) {
    case Form::Bytes: return holdsBytes(value) || integerWidth(type) == expected.width;
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

bool isSignedWire(uint8_t type) {
    return type == S7_TYPE_I8 || type == S7_TYPE_I16 || type == S7_TYPE_I32 || type == S7_TYPE_I64 ||
           type == S7_TYPE_I64_ALT;
}

// The low `bytes` bytes of `bits`.
uint64_t lowBits(uint64_t bits, unsigned bytes) {
    return bytes >= 8 ? bits : bits & ((uint64_t{1} << (8 * bytes)) - 1);
}

// The low `bytes` bytes of `bits` read as a two's complement number.
int64_t signedBits(uint64_t bits, unsigned bytes) {
    if (bytes >= 8) return static_cast<int64_t>(bits);
    const unsigned shift = 64 - 8 * bytes;
    return static_cast<int64_t>(bits << shift) >> shift;
}

// The integer wire value as 64 bits: a signed wire type's value sign-extended,
// an unsigned one's zero-extended. Decoding takes the data type's width of
// these, so a controller that sends a TIME as I16 or a DATE as U8 still
// gives the right number.
uint64_t wideBits(const ReadValue& value) {
    const unsigned width = integerWidth(value.wireType);
    if (width == 0) return 0;
    return isSignedWire(value.wireType) ? static_cast<uint64_t>(signedBits(value.bits, width))
                                        : lowBits(value.bits, width);
}

// A scalar's bits from its getter; left alone (0) when the getter refuses
// the storage, as an array or a flagged scalar.
template <typename T, typename Getter>
void scalarBits(const s7_value* value, Getter getter, uint64_t& bits) {
    T v{};
    if (getter(value, &v) != S7_OK) return;
    if constexpr (std::is_same_v<T, bool>) {
        bits = v ? 1 : 0;
    } else if constexpr (std::is_same_v<T, float>) {
        bits = std::bit_cast<uint32_t>(v);
    } else if constexpr (std::is_same_v<T, double>) {
        bits = std::bit_cast<uint64_t>(v);
    } else {
        bits = lowBits(static_cast<uint64_t>(v), sizeof(T));
    }
}

// DEC: describeValue's text of a value known to fit (or not checked).
ValueText decimal(const ReadValue& value, uint8_t datatype) {
    if (datatype == S7_DATATYPE_STRING) return {value.bytes, ValueKind::Text};
    const uint8_t type = value.wireType;
    switch (type) {
    case S7_TYPE_BOOL: return {value.bits != 0 ? "true" : "false", ValueKind::Bool};
    case S7_TYPE_U8:
    case S7_TYPE_BITS8:
    case S7_TYPE_U16:
    case S7_TYPE_BITS16:
    case S7_TYPE_U32:
    case S7_TYPE_BITS32:
    case S7_TYPE_U64:
    case S7_TYPE_BITS64:
    case S7_TYPE_I8:
    case S7_TYPE_I16:
    case S7_TYPE_I32:
    case S7_TYPE_I64:
    case S7_TYPE_I64_ALT: {
        const uint64_t wide = wideBits(value);
        return {isSignedWire(type) ? fmt::format("{}", static_cast<int64_t>(wide)) : fmt::format("{}", wide),
                ValueKind::Integer};
    }
    // Shown as the signed reading of the stored 64 bits, like I64.
    case S7_TYPE_U64_ALT: return {fmt::format("{}", static_cast<int64_t>(value.bits)), ValueKind::Integer};
    case S7_TYPE_F32:
        return {fmt::format("{}", std::bit_cast<float>(static_cast<uint32_t>(value.bits))), ValueKind::Real};
    case S7_TYPE_F64: return {fmt::format("{}", std::bit_cast<double>(value.bits)), ValueKind::Real};
    case S7_TYPE_STRING: return {value.bytes, ValueKind::Text};
    default: return {};
    }
}

// The controller's literal forms, each decoded from the bits at its data
// type's width.
namespace iec {

struct Civil {
    int64_t year;
    unsigned month;
    unsigned day;
};

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
constexpr int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

constexpr Civil civilFromDays(int64_t z) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0), m, d};
}

constexpr bool leap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

constexpr unsigned daysInMonth(int64_t y, unsigned m) {
    constexpr std::array<unsigned, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : kDays[m - 1];
}

constexpr bool validDate(int64_t y, unsigned m, unsigned d) {
    return m >= 1 && m <= 12 && d >= 1 && d <= daysInMonth(y, m);
}

// DATE counts days from 1990-01-01; the controller's calendar ends with
// 2168-12-31 although a UINT would count further.
constexpr int64_t kDateEpoch = daysFromCivil(1990, 1, 1);
constexpr uint64_t kLastDate = static_cast<uint64_t>(daysFromCivil(2168, 12, 31) - kDateEpoch);

constexpr uint64_t kMsPerDay = 86'400'000;
constexpr uint64_t kNsPerDay = kMsPerDay * 1'000'000;

std::string invalid(uint64_t raw) { return fmt::format("{} (invalid)", raw); }

std::string hexBytes(const std::string& bytes) {
    std::string text = "16#";
    for (const char c : bytes) text += fmt::format("{:02X}", static_cast<uint8_t>(c));
    return text;
}

std::string invalidBytes(const std::string& bytes) { return hexBytes(bytes) + " (invalid)"; }

std::string date(const Civil& c) { return fmt::format("{:04}-{:02}-{:02}", c.year, c.month, c.day); }

// "06:00:00" and the fraction of the second at `digits` decimals.
std::string clock(uint64_t hour, uint64_t minute, uint64_t second, uint64_t fraction, int digits) {
    return fmt::format("{:02}:{:02}:{:02}.{:0{}}", hour, minute, second, fraction, digits);
}

// A time of day from units since midnight, `perSecond` units a second.
std::string timeOfDay(uint64_t units, uint64_t perSecond, int digits) {
    const uint64_t seconds = units / perSecond;
    return clock(seconds / 3600, seconds / 60 % 60, seconds % 60, units % perSecond, digits);
}

// "1D_2H_3M_4S_5MS": the non-zero parts of a duration in nanoseconds, down to
// the smallest unit the type has; "0MS" (or "0NS") for zero.
std::string duration(uint64_t ns, bool toNs) {
    struct Unit {
        uint64_t ns;
        const char* name;
    };
    static constexpr std::array<Unit, 7> kUnits = {{{86'400'000'000'000, "D"},
                                                    {3'600'000'000'000, "H"},
                                                    {60'000'000'000, "M"},
                                                    {1'000'000'000, "S"},
                                                    {1'000'000, "MS"},
                                                    {1'000, "US"},
                                                    {1, "NS"}}};
    const std::size_t units = toNs ? kUnits.size() : 5;
    std::string text;
    for (std::size_t i = 0; i < units; ++i) {
        const uint64_t count = ns / kUnits[i].ns;
        ns %= kUnits[i].ns;
        if (count == 0) continue;
        text += fmt::format("{}{}{}", text.empty() ? "" : "_", count, kUnits[i].name);
    }
    return text.empty() ? (toNs ? "0NS" : "0MS") : text;
}

// A signed duration: the minus sign comes after the prefix, "T#-2S_500MS".
std::string signedDuration(std::string_view prefix, int64_t value, uint64_t nsPerUnit, bool toNs) {
    const uint64_t magnitude = value < 0 ? uint64_t{0} - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    return fmt::format("{}{}{}", prefix, value < 0 ? "-" : "", duration(magnitude * nsPerUnit, toNs));
}

// A BCD byte's two digits, or nullopt when either is no digit.
std::optional<unsigned> bcd(uint8_t byte) {
    const unsigned hi = byte >> 4;
    const unsigned lo = byte & 0x0F;
    if (hi > 9 || lo > 9) return std::nullopt;
    return hi * 10 + lo;
}

// S5TIME: three BCD digits (bits 0-11) counting in the time base of bits
// 12-13: 10 ms, 100 ms, 1 s or 10 s. The top two bits carry nothing.
std::string s5time(uint64_t bits, std::string_view prefix) {
    static constexpr std::array<uint64_t, 4> kBaseMs = {10, 100, 1000, 10000};
    const auto count = [&]() -> std::optional<uint64_t> {
        uint64_t n = 0;
        for (int shift = 8; shift >= 0; shift -= 4) {
            const uint64_t digit = (bits >> shift) & 0x0F;
            if (digit > 9) return std::nullopt;
            n = n * 10 + digit;
        }
        return n;
    }();
    if (!count) return invalid(bits);
    return fmt::format("{}{}", prefix, duration(*count * kBaseMs[(bits >> 12) & 3] * 1'000'000, false));
}

// A character in single quotes: printable ASCII as itself, '$' and the
// quote escaped with a dollar, everything else as its code in hexadecimal.
std::string quoted(uint32_t code, int hexDigits) {
    if (code == '$') return "'$$'";
    if (code == '\'') return "'$''";
    if (code >= 0x20 && code < 0x7F) return fmt::format("'{}'", static_cast<char>(code));
    if (hexDigits == 2 || code < 0xA0) return fmt::format("'${:0{}X}'", code, hexDigits);
    // A printable character beyond ASCII, written as UTF-8.
    std::string utf8;
    if (code < 0x800) {
        utf8 += static_cast<char>(0xC0 | (code >> 6));
    } else {
        utf8 += static_cast<char>(0xE0 | (code >> 12));
        utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    }
    utf8 += static_cast<char>(0x80 | (code & 0x3F));
    return "'" + utf8 + "'";
}

std::string character(uint64_t bits) { return quoted(static_cast<uint32_t>(bits & 0xFF), 2); }

// A WCHAR is one UTF-16 unit: a surrogate half is no character by itself.
std::string wideCharacter(uint64_t bits) {
    const auto code = static_cast<uint32_t>(bits & 0xFFFF);
    if (code >= 0xD800 && code <= 0xDFFF) return invalid(code);
    return "WCHAR#" + quoted(code, 4);
}

// DATE_AND_TIME: eight BCD bytes, year (90-99 the 1990s, 00-89 2000-2089),
// month, day, hour, minute, second, then three digits of milliseconds and
// the weekday in the last nibble.
std::string dateAndTime(const std::string& bytes) {
    if (bytes.size() != 8) return invalidBytes(bytes);
    std::array<unsigned, 6> parts{};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const auto v = bcd(static_cast<uint8_t>(bytes[i]));
        if (!v) return invalidBytes(bytes);
        parts[i] = *v;
    }
    const auto msHigh = bcd(static_cast<uint8_t>(bytes[6]));
    const unsigned msLow = static_cast<uint8_t>(bytes[7]) >> 4;
    if (!msHigh || msLow > 9) return invalidBytes(bytes);
    const int64_t year = parts[0] >= 90 ? 1900 + parts[0] : 2000 + parts[0];
    if (!validDate(year, parts[1], parts[2]) || parts[3] > 23 || parts[4] > 59 || parts[5] > 59) {
        return invalidBytes(bytes);
    }
    return fmt::format("DT#{}-{}", date({year, parts[1], parts[2]}),
                       clock(parts[3], parts[4], parts[5], *msHigh * 10 + msLow, 3));
}

// DTL: year (big-endian 16 bits), month, day, weekday, hour, minute, second,
// nanoseconds (big-endian 32 bits). The controller's DTL spans 1970 to
// 2262-04-11, where its LDT ends too; a value past it could not be typed
// back.
std::string dtl(const std::string& bytes) {
    if (bytes.size() != 12) return invalidBytes(bytes);
    const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(bytes[i]); };
    const int64_t year = (byte(0) << 8) | byte(1);
    const unsigned month = byte(2);
    const unsigned day = byte(3);
    const uint32_t ns = (static_cast<uint32_t>(byte(8)) << 24) | (byte(9) << 16) | (byte(10) << 8) | byte(11);
    const bool pastEnd = year == 2262 && (month > 4 || (month == 4 && day > 11));
    if (year < 1970 || year > 2262 || pastEnd || !validDate(year, month, day) || byte(5) > 23 || byte(6) > 59 ||
        byte(7) > 59 || ns >= 1'000'000'000) {
        return invalidBytes(bytes);
    }
    return fmt::format("DTL#{}-{}", date({year, month, day}), clock(byte(5), byte(6), byte(7), ns, 9));
}

}  // namespace iec

// The data types whose values are bit patterns rather than numbers.
bool isBitString(uint8_t datatype) {
    return datatype == S7_DATATYPE_BYTE || datatype == S7_DATATYPE_WORD || datatype == S7_DATATYPE_DWORD ||
           datatype == S7_DATATYPE_LWORD;
}

bool isSignedDatatype(uint8_t datatype) {
    switch (datatype) {
    case S7_DATATYPE_SINT:
    case S7_DATATYPE_INT:
    case S7_DATATYPE_DINT:
    case S7_DATATYPE_LINT: return true;
    default: return false;
    }
}

bool isUnsignedDatatype(uint8_t datatype) {
    switch (datatype) {
    case S7_DATATYPE_USINT:
    case S7_DATATYPE_UINT:
    case S7_DATATYPE_UDINT:
    case S7_DATATYPE_ULINT: return true;
    default: return false;
    }
}

bool hasIecForm(uint8_t datatype) {
    switch (datatype) {
    case S7_DATATYPE_DATE:
    case S7_DATATYPE_TIME_OF_DAY:
    case S7_DATATYPE_TIME:
    case S7_DATATYPE_LTIME:
    case S7_DATATYPE_S5TIME:
    case S7_DATATYPE_DATE_AND_TIME:
    case S7_DATATYPE_LDT:
    case S7_DATATYPE_LTOD:
    case S7_DATATYPE_DTL:
    case S7_DATATYPE_CHAR:
    case S7_DATATYPE_WCHAR:
    case S7_DATATYPE_TIMER:
    case S7_DATATYPE_COUNTER:
    case S7_DATATYPE_STRING:
    case S7_DATATYPE_WSTRING: return true;
    default: return isBitString(datatype);
    }
}

// The bit pattern of a scalar at its data type's width: integers as
// wideBits, an F32 sent for an LREAL widened to the double it stands for.
uint64_t patternFor(const ReadValue& value, uint8_t datatype) {
    if (value.wireType == S7_TYPE_F32 && datatype == S7_DATATYPE_LREAL) {
        return std::bit_cast<uint64_t>(static_cast<double>(std::bit_cast<float>(static_cast<uint32_t>(value.bits))));
    }
    if (value.wireType == S7_TYPE_F32 || value.wireType == S7_TYPE_F64 || value.wireType == S7_TYPE_U64_ALT) {
        return value.bits;
    }
    return wideBits(value);
}

unsigned widthOf(uint8_t datatype) {
    if (datatype == S7_DATATYPE_REAL) return 4;
    if (datatype == S7_DATATYPE_LREAL) return 8;
    return expectedFor(datatype).width;
}

std::string binary(uint64_t bits, unsigned bytes) {
    std::string text = "2#";
    for (int bit = static_cast<int>(8 * bytes) - 1; bit >= 0; --bit) {
        text += ((bits >> bit) & 1) != 0 ? '1' : '0';
        if (bit != 0 && bit % 4 == 0) text += '_';
    }
    return text;
}

std::string iecText(const ReadValue& value, uint8_t datatype) {
    const uint64_t wide = patternFor(value, datatype);
    switch (datatype) {
    case S7_DATATYPE_DATE: {
        const uint64_t days = lowBits(wide, 2);
        if (days > iec::kLastDate) return iec::invalid(days);
        return "D#" + iec::date(iec::civilFromDays(iec::kDateEpoch + static_cast<int64_t>(days)));
    }
    case S7_DATATYPE_TIME_OF_DAY: {
        const uint64_t ms = lowBits(wide, 4);
        if (ms >= iec::kMsPerDay) return iec::invalid(ms);
        return "TOD#" + iec::timeOfDay(ms, 1000, 3);
    }
    case S7_DATATYPE_LTOD: {
        if (wide >= iec::kNsPerDay) return iec::invalid(wide);
        return "LTOD#" + iec::timeOfDay(wide, 1'000'000'000, 9);
    }
    case S7_DATATYPE_TIME: return iec::signedDuration("T#", signedBits(wide, 4), 1'000'000, false);
    case S7_DATATYPE_LTIME: return iec::signedDuration("LT#", static_cast<int64_t>(wide), 1, true);
    case S7_DATATYPE_S5TIME:
    case S7_DATATYPE_TIMER: return iec::s5time(lowBits(wide, 2), "S5T#");
    case S7_DATATYPE_COUNTER: {
        // A counter counts from 0 to 999.
        const uint64_t count = lowBits(wide, 2);
        return count > 999 ? iec::invalid(count) : fmt::format("C#{}", count);
    }
    case S7_DATATYPE_LDT: {
        // Nanoseconds since 1970-01-01; the controller's LDT ends where a
        // signed 64-bit count does, on 2262-04-11.
        if (wide > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return iec::invalid(wide);
        const uint64_t days = wide / iec::kNsPerDay;
        return fmt::format("LDT#{}-{}", iec::date(iec::civilFromDays(static_cast<int64_t>(days))),
                           iec::timeOfDay(wide % iec::kNsPerDay, 1'000'000'000, 9));
    }
    case S7_DATATYPE_CHAR: return iec::character(wide);
    case S7_DATATYPE_WCHAR: return iec::wideCharacter(wide);
    default: return fmt::format("16#{:0{}X}", lowBits(wide, widthOf(datatype)), 2 * widthOf(datatype));
    }
}

// A controller may send a DATE_AND_TIME's eight bytes as one 64-bit integer,
// the first byte its most significant: the same value as the BLOB of those
// bytes, and shown as that.
ReadValue asByteBlock(const ReadValue& value) {
    if (holdsBytes(value) || integerWidth(value.wireType) == 0) return value;
    const unsigned width = integerWidth(value.wireType);
    ReadValue block;
    block.present = true;
    block.wireType = S7_TYPE_BLOB;
    for (unsigned i = 0; i < width; ++i) {
        block.bytes += static_cast<char>(static_cast<uint8_t>(value.bits >> (8 * (width - 1 - i))));
    }
    return block;
}

}  // namespace

std::string_view displayFormatName(DisplayFormat format) {
    switch (format) {
    case DisplayFormat::Iec: return "IEC";
    case DisplayFormat::Dec: return "DEC";
    case DisplayFormat::Hex: return "HEX";
    case DisplayFormat::Bin: return "BIN";
    case DisplayFormat::Signed: return "SIGNED";
    case DisplayFormat::Unsigned: return "UNSIGNED";
    case DisplayFormat::Char: return "CHAR";
    }
    return "DEC";
}

std::optional<DisplayFormat> displayFormatByName(std::string_view name) {
    std::string upper(name);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    for (const DisplayFormat format : {DisplayFormat::Iec, DisplayFormat::Dec, DisplayFormat::Hex, DisplayFormat::Bin,
                                       DisplayFormat::Signed, DisplayFormat::Unsigned, DisplayFormat::Char}) {
        if (displayFormatName(format) == upper) return format;
    }
    return std::nullopt;
}

std::vector<DisplayFormat> formatsFor(uint8_t datatype) {
    using enum DisplayFormat;
    switch (datatype) {
    case S7_DATATYPE_STRING:
    case S7_DATATYPE_WSTRING: return {Iec};
    case S7_DATATYPE_DATE_AND_TIME:
    case S7_DATATYPE_DTL: return {Iec, Hex};
    case S7_DATATYPE_REAL:
    case S7_DATATYPE_LREAL: return {Dec, Hex, Bin};
    case S7_DATATYPE_BCD8:
    case S7_DATATYPE_BCD16:
    case S7_DATATYPE_BCD32:
    case S7_DATATYPE_BCD64: return {Dec, Hex, Bin};
    default: break;
    }
    const unsigned width = expectedFor(datatype).width;
    if (width == 0) return {Dec};
    // Both readings of a bit string; the other reading of a number.
    std::vector<DisplayFormat> formats;
    if (isBitString(datatype)) {
        // A bit string's IEC form is its hexadecimal one.
        formats = {Iec, Dec, Bin, Signed, Unsigned};
    } else if (hasIecForm(datatype)) {
        formats = {Iec, Dec, Hex, Bin};
    } else {
        formats = {Dec, Hex, Bin};
        if (isSignedDatatype(datatype)) formats.push_back(Unsigned);
        if (isUnsignedDatatype(datatype)) formats.push_back(Signed);
    }
    // A character only where the bits are a plain number or bit string.
    if (width <= 2 && (isBitString(datatype) || !hasIecForm(datatype))) formats.push_back(Char);
    return formats;
}

DisplayFormat defaultFormat(uint8_t datatype) { return formatsFor(datatype).front(); }

std::string TypeMismatch::text() const {
    return fmt::format("type mismatch: {} for {}", sent, s7_datatype_name(datatype));
}

ReadValue ReadValue::of(const s7_value* value) {
    ReadValue read;
    if (value == nullptr) return read;
    read.present = true;
    read.wireType = s7_value_type(value);
    read.flags = s7_value_flags(value);
    read.array = s7_value_is_array(value);
    uint64_t& bits = read.bits;
    switch (read.wireType) {
    case S7_TYPE_BOOL: scalarBits<bool>(value, s7_value_get_bool, bits); break;
    case S7_TYPE_U8: scalarBits<uint8_t>(value, s7_value_get_u8, bits); break;
    case S7_TYPE_BITS8: scalarBits<uint8_t>(value, s7_value_get_bits8, bits); break;
    case S7_TYPE_U16: scalarBits<uint16_t>(value, s7_value_get_u16, bits); break;
    case S7_TYPE_BITS16: scalarBits<uint16_t>(value, s7_value_get_bits16, bits); break;
    case S7_TYPE_U32: scalarBits<uint32_t>(value, s7_value_get_u32, bits); break;
    case S7_TYPE_BITS32: scalarBits<uint32_t>(value, s7_value_get_bits32, bits); break;
    case S7_TYPE_U64: scalarBits<uint64_t>(value, s7_value_get_u64, bits); break;
    case S7_TYPE_BITS64: scalarBits<uint64_t>(value, s7_value_get_bits64, bits); break;
    case S7_TYPE_I8: scalarBits<int8_t>(value, s7_value_get_i8, bits); break;
    case S7_TYPE_I16: scalarBits<int16_t>(value, s7_value_get_i16, bits); break;
    case S7_TYPE_I32: scalarBits<int32_t>(value, s7_value_get_i32, bits); break;
    case S7_TYPE_I64: scalarBits<int64_t>(value, s7_value_get_i64, bits); break;
    case S7_TYPE_U64_ALT: scalarBits<uint64_t>(value, s7_value_get_u64_alt, bits); break;
    case S7_TYPE_I64_ALT: scalarBits<int64_t>(value, s7_value_get_i64_alt, bits); break;
    case S7_TYPE_F32: scalarBits<float>(value, s7_value_get_f32, bits); break;
    case S7_TYPE_F64: scalarBits<double>(value, s7_value_get_f64, bits); break;
    default: break;
    }
    if (read.wireType == S7_TYPE_U8 && read.array) {
        // The controller's STRING: its characters, as far as its length says,
        // and its capacity (the first element), which a write must repeat.
        uint8_t capacity = 0;
        if (s7_array_get_u8(value, 0, &capacity) == S7_OK) bits = capacity;
        char* chars = nullptr;
        if (s7_value_string_chars(value, &chars) == S7_OK) {
            const std::unique_ptr<char, decltype(&s7_free)> owned(chars, &s7_free);
            read.bytes = chars;
        }
    } else if (read.wireType == S7_TYPE_STRING) {
        const char* text = nullptr;
        uint32_t length = 0;
        if (s7_value_get_string(value, &text, &length) == S7_OK && text != nullptr) read.bytes.assign(text, length);
    } else if (read.wireType == S7_TYPE_BLOB) {
        const uint8_t* data = nullptr;
        uint32_t length = 0;
        if (s7_value_get_blob(value, &data, &length) == S7_OK && data != nullptr) {
            read.bytes.assign(reinterpret_cast<const char*>(data), length);
        }
    } else if (s7_value_is_packed(value)) {
        const uint8_t* data = nullptr;
        uint32_t length = 0;
        if (s7_packed_get(value, nullptr, nullptr, nullptr, &data, &length) == S7_OK && data != nullptr) {
            read.bytes.assign(reinterpret_cast<const char*>(data), length);
        }
    }
    return read;
}

std::string wireTypeName(const ReadValue& value) {
    static constexpr std::array<std::string_view, 24> kNames = {
        "NULL",   "BOOL",   "U8",  "U16", "U32",     "U64",     "I8",   "I16",    "I32",  "I64",    "BITS8", "BITS16",
        "BITS32", "BITS64", "F32", "F64", "U64_ALT", "I64_ALT", "ID32", "ID_VLQ", "BLOB", "STRING", "",      "STRUCT",
    };
    const uint8_t type = value.wireType;
    const std::string name =
        type < kNames.size() && !kNames[type].empty() ? std::string(kNames[type]) : fmt::format("type {}", type);
    return isArray(value) ? name + " array" : name;
}

std::string wireTypeName(const s7_value* value) { return wireTypeName(ReadValue::of(value)); }

std::optional<TypeMismatch> typeMismatch(const ReadValue& value, uint8_t datatype) {
    const Expected expected = expectedFor(datatype);
    if (!value.present || expected.form == Form::Unclaimed || fits(value, expected)) return std::nullopt;
    return TypeMismatch{wireTypeName(value), datatype};
}

std::optional<TypeMismatch> typeMismatch(const s7_value* value, uint8_t datatype) {
    return typeMismatch(ReadValue::of(value), datatype);
}

ValueText formatValue(const ReadValue& value, uint8_t datatype, DisplayFormat format) {
    if (const auto mismatch = typeMismatch(value, datatype)) {
        return {mismatch->text(), ValueKind::Mismatch};
    }
    if (expectedFor(datatype).form == Form::Bytes && !holdsBytes(value)) {
        return formatValue(asByteBlock(value), datatype, format);
    }
    // DEC is describeValue's text for every data type, offered or not:
    // scripts parse it, and the inspector keeps it beside the value.
    const ValueText dec = decimal(value, datatype);
    if (format == DisplayFormat::Dec || !value.present) return dec;
    const std::vector<DisplayFormat> formats = formatsFor(datatype);
    if (std::find(formats.begin(), formats.end(), format) == formats.end()) format = formats.front();
    if (format == DisplayFormat::Dec) return dec;
    if (datatype == S7_DATATYPE_STRING || datatype == S7_DATATYPE_WSTRING) return dec;

    if (datatype == S7_DATATYPE_DATE_AND_TIME || datatype == S7_DATATYPE_DTL) {
        if (format == DisplayFormat::Hex) return {iec::hexBytes(value.bytes), ValueKind::Text};
        return {datatype == S7_DATATYPE_DTL ? iec::dtl(value.bytes) : iec::dateAndTime(value.bytes), ValueKind::Text};
    }

    const unsigned width = widthOf(datatype);
    const uint64_t bits = lowBits(patternFor(value, datatype), width);
    switch (format) {
    case DisplayFormat::Iec: return {iecText(value, datatype), ValueKind::Text};
    case DisplayFormat::Hex: return {fmt::format("16#{:0{}X}", bits, 2 * width), ValueKind::Text};
    case DisplayFormat::Bin: return {binary(bits, width), ValueKind::Text};
    case DisplayFormat::Signed: return {fmt::format("{}", signedBits(bits, width)), ValueKind::Integer};
    case DisplayFormat::Unsigned: return {fmt::format("{}", bits), ValueKind::Integer};
    case DisplayFormat::Char: return {width == 1 ? iec::character(bits) : iec::wideCharacter(bits), ValueKind::Text};
    case DisplayFormat::Dec: break;
    }
    return dec;
}

ValueText describeValue(const s7_value* value, uint8_t datatype, DisplayFormat format) {
    return formatValue(ReadValue::of(value), datatype, format);
}

ValueText describeValue(const s7_value* value, uint8_t datatype) {
    return describeValue(value, datatype, DisplayFormat::Dec);
}

std::string formatValue(const s7_value* value, uint8_t datatype) { return describeValue(value, datatype).text; }

}  // namespace vemo

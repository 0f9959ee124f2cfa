#include "vemo/core/ValueParse.h"

#include <vemo/s7datatype.h>

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace vemo {

namespace {

// How a data type's texts are read.
enum class Form { Bool, Integer, Real, Time, LTime, S5Time, Date, Tod, Ltod, Ldt, Dt, Dtl, Char, WChar, String, WString };

struct TypeForm {
    uint8_t datatype;
    uint8_t wireType;
    Form form;
    std::vector<std::string_view> prefixes;  // the names a typed literal may start with, before '#'
};

// The wire type per data type is the one the controller sends when read.
const std::vector<TypeForm>& typeForms() {
    static const std::vector<TypeForm> forms = {
        {S7_DATATYPE_BOOL, S7_TYPE_BOOL, Form::Bool, {"BOOL"}},
        {S7_DATATYPE_BBOOL, S7_TYPE_BOOL, Form::Bool, {"BBOOL", "BOOL"}},
        {S7_DATATYPE_BYTE, S7_TYPE_BITS8, Form::Integer, {"BYTE", "B"}},
        {S7_DATATYPE_WORD, S7_TYPE_BITS16, Form::Integer, {"WORD", "W"}},
        {S7_DATATYPE_DWORD, S7_TYPE_BITS32, Form::Integer, {"DWORD", "DW"}},
        {S7_DATATYPE_LWORD, S7_TYPE_BITS64, Form::Integer, {"LWORD", "LW"}},
        {S7_DATATYPE_USINT, S7_TYPE_U8, Form::Integer, {"USINT"}},
        {S7_DATATYPE_UINT, S7_TYPE_U16, Form::Integer, {"UINT"}},
        {S7_DATATYPE_UDINT, S7_TYPE_U32, Form::Integer, {"UDINT"}},
        {S7_DATATYPE_ULINT, S7_TYPE_U64, Form::Integer, {"ULINT"}},
        {S7_DATATYPE_SINT, S7_TYPE_I8, Form::Integer, {"SINT"}},
        {S7_DATATYPE_INT, S7_TYPE_I16, Form::Integer, {"INT"}},
        {S7_DATATYPE_DINT, S7_TYPE_I32, Form::Integer, {"DINT"}},
        {S7_DATATYPE_LINT, S7_TYPE_I64, Form::Integer, {"LINT"}},
        {S7_DATATYPE_COUNTER, S7_TYPE_U16, Form::Integer, {"C"}},
        {S7_DATATYPE_REAL, S7_TYPE_F32, Form::Real, {"REAL"}},
        {S7_DATATYPE_LREAL, S7_TYPE_F64, Form::Real, {"LREAL"}},
        {S7_DATATYPE_TIME, S7_TYPE_I32, Form::Time, {"TIME", "T"}},
        {S7_DATATYPE_LTIME, S7_TYPE_I64_ALT, Form::LTime, {"LTIME", "LT"}},
        {S7_DATATYPE_S5TIME, S7_TYPE_BITS16, Form::S5Time, {"S5TIME", "S5T"}},
        {S7_DATATYPE_TIMER, S7_TYPE_BITS16, Form::S5Time, {"S5TIME", "S5T"}},
        {S7_DATATYPE_DATE, S7_TYPE_U16, Form::Date, {"DATE", "D"}},
        {S7_DATATYPE_TIME_OF_DAY, S7_TYPE_U32, Form::Tod, {"TIME_OF_DAY", "TOD"}},
        {S7_DATATYPE_LTOD, S7_TYPE_U64, Form::Ltod, {"LTIME_OF_DAY", "LTOD"}},
        {S7_DATATYPE_LDT, S7_TYPE_U64_ALT, Form::Ldt, {"DATE_AND_LTIME", "LDT"}},
        {S7_DATATYPE_DATE_AND_TIME, S7_TYPE_BLOB, Form::Dt, {"DATE_AND_TIME", "DT"}},
        {S7_DATATYPE_DTL, S7_TYPE_BLOB, Form::Dtl, {"DTL"}},
        {S7_DATATYPE_CHAR, S7_TYPE_U8, Form::Char, {"CHAR"}},
        {S7_DATATYPE_WCHAR, S7_TYPE_U16, Form::WChar, {"WCHAR"}},
        {S7_DATATYPE_STRING, S7_TYPE_U8, Form::String, {"STRING"}},
        {S7_DATATYPE_WSTRING, S7_TYPE_STRING, Form::WString, {"WSTRING"}},
    };
    return forms;
}

const TypeForm* findForm(uint8_t datatype) {
    for (const TypeForm& f : typeForms()) {
        if (f.datatype == datatype) return &f;
    }
    return nullptr;
}

// A failure with its message; the parsers below return it or a result.
struct Failure {
    std::string message;
};

template <typename T>
struct Result {
    std::optional<T> value;
    std::string error;
    Result(T v) : value(v) {}  // NOLINT: results convert from values
    Result(Failure f) : error(std::move(f.message)) {}  // NOLINT
};

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

// ------------------------------------------------------------- integers

// An integer as sign and magnitude: decimal with an optional sign, or
// 2#, 8#, 16# with digits; underscores may stand between digits.
struct Integer {
    bool negative = false;
    uint64_t magnitude = 0;
};

// Digits of `base` with underscores between them. nullopt for anything
// else; `overflow` is set for digits beyond 64 bits.
std::optional<Integer> parseDigits(std::string_view s, unsigned base, bool* overflow = nullptr) {
    if (s.empty() || s.front() == '_' || s.back() == '_') return std::nullopt;
    Integer n;
    bool tooLarge = false;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '_') {
            if (s[i - 1] == '_') return std::nullopt;
            continue;
        }
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        if (digit >= base) return std::nullopt;
        uint64_t next = 0;
        if (__builtin_mul_overflow(n.magnitude, uint64_t{base}, &next) ||
            __builtin_add_overflow(next, uint64_t{digit}, &n.magnitude)) {
            tooLarge = true;
        }
    }
    if (tooLarge) {
        if (overflow != nullptr) *overflow = true;
        return std::nullopt;
    }
    return n;
}

// An integer literal: decimal with an optional sign, or 2#, 8#, 16# and
// digits. nullopt with no error: not an integer; an error only for digits
// beyond 64 bits.
Result<std::optional<Integer>> parseInteger(std::string_view s, std::string_view shown) {
    bool negative = false;
    bool sign = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        sign = true;
        s.remove_prefix(1);
    }
    unsigned base = 10;
    if (const size_t hash = s.find('#'); hash != std::string_view::npos) {
        const std::string_view b = s.substr(0, hash);
        if (b == "16") {
            base = 16;
        } else if (b == "8") {
            base = 8;
        } else if (b == "2") {
            base = 2;
        } else {
            return std::optional<Integer>{};
        }
        // A sign belongs to decimal numbers only.
        if (sign) return std::optional<Integer>{};
        s.remove_prefix(hash + 1);
    }
    bool overflow = false;
    std::optional<Integer> n = parseDigits(s, base, &overflow);
    if (overflow) return Failure{fmt::format("{} does not fit in 64 bits", shown)};
    if (!n) return std::optional<Integer>{};
    n->negative = negative && n->magnitude != 0;
    return n;
}

// The range of an integer wire type as lowest and highest value.
struct Range {
    bool isSigned;
    int64_t lo;
    uint64_t hi;
};

Range rangeOf(uint8_t wireType) {
    switch (wireType) {
    case S7_TYPE_BOOL: return {false, 0, 1};
    case S7_TYPE_U8:
    case S7_TYPE_BITS8: return {false, 0, 0xFF};
    case S7_TYPE_U16:
    case S7_TYPE_BITS16: return {false, 0, 0xFFFF};
    case S7_TYPE_U32:
    case S7_TYPE_BITS32: return {false, 0, 0xFFFFFFFFu};
    case S7_TYPE_I8: return {true, -128, 127};
    case S7_TYPE_I16: return {true, -32768, 32767};
    case S7_TYPE_I32: return {true, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()};
    case S7_TYPE_I64:
    case S7_TYPE_I64_ALT: return {true, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()};
    default: return {false, 0, std::numeric_limits<uint64_t>::max()};
    }
}

bool inRange(const Integer& n, const Range& r) {
    if (n.negative) {
        // The magnitude of lo, as unsigned: 0 - lo without overflow.
        const uint64_t most = r.lo < 0 ? uint64_t{0} - static_cast<uint64_t>(r.lo) : 0;
        return n.magnitude <= most;
    }
    return n.magnitude <= r.hi;
}

std::string rangeText(const Range& r) { return fmt::format("{}..{}", r.lo, r.hi); }

// The integer as the two's complement bits of a 64-bit number.
uint64_t bitsOf(const Integer& n) { return n.negative ? uint64_t{0} - n.magnitude : n.magnitude; }

s7_value* integerValue(uint8_t wireType, uint64_t bits) {
    switch (wireType) {
    case S7_TYPE_BOOL: return s7_value_new_bool(bits != 0 ? 1 : 0);
    case S7_TYPE_U8: return s7_value_new_u8(static_cast<uint8_t>(bits));
    case S7_TYPE_U16: return s7_value_new_u16(static_cast<uint16_t>(bits));
    case S7_TYPE_U32: return s7_value_new_u32(static_cast<uint32_t>(bits));
    case S7_TYPE_U64: return s7_value_new_u64(bits);
    case S7_TYPE_I8: return s7_value_new_i8(static_cast<int8_t>(bits));
    case S7_TYPE_I16: return s7_value_new_i16(static_cast<int16_t>(bits));
    case S7_TYPE_I32: return s7_value_new_i32(static_cast<int32_t>(bits));
    case S7_TYPE_I64: return s7_value_new_i64(static_cast<int64_t>(bits));
    case S7_TYPE_BITS8: return s7_value_new_bits8(static_cast<uint8_t>(bits));
    case S7_TYPE_BITS16: return s7_value_new_bits16(static_cast<uint16_t>(bits));
    case S7_TYPE_BITS32: return s7_value_new_bits32(static_cast<uint32_t>(bits));
    case S7_TYPE_BITS64: return s7_value_new_bits64(bits);
    case S7_TYPE_U64_ALT: return s7_value_new_u64_alt(bits);
    case S7_TYPE_I64_ALT: return s7_value_new_i64_alt(static_cast<int64_t>(bits));
    default: return nullptr;
    }
}

// What the formatter shows as a valid value, where a data type holds less
// than its wire type: a text read back must be the text written.
constexpr uint64_t kLastCount = 999;  // a COUNTER counts 0 to 999
// DATE: days since 1990-01-01, up to 2168-12-31 (65378).
constexpr uint64_t kLastDateDay = 65378;
// LDT: nanoseconds since 1970 in a signed 64-bit count, to 2262-04-11-23:47:16.854775807.
constexpr uint64_t kLastLdt = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());

// ------------------------------------------------------------- durations

constexpr uint64_t kNsPerUs = 1000;
constexpr uint64_t kNsPerMs = 1000 * kNsPerUs;
constexpr uint64_t kNsPerS = 1000 * kNsPerMs;
constexpr uint64_t kNsPerMin = 60 * kNsPerS;
constexpr uint64_t kNsPerH = 60 * kNsPerMin;
constexpr uint64_t kNsPerD = 24 * kNsPerH;

// A unit as m * 10^e nanoseconds, so that fractions stay exact.
struct Unit {
    std::string_view name;
    uint64_t mantissa;
    unsigned exponent;
};

constexpr Unit kUnits[] = {
    {"D", 864, 11}, {"H", 36, 11}, {"MS", 1, 6}, {"M", 6, 10}, {"S", 1, 9}, {"US", 1, 3}, {"NS", 1, 0},
};

uint64_t pow10(unsigned e) {
    uint64_t p = 1;
    while (e-- > 0) p *= 10;
    return p;
}

// "1D_2H_3M_4S_5MS", "-2S_500MS", "1.5S" (after the T#), as nanoseconds:
// sign and magnitude. Each unit at most once, largest first.
Result<Integer> parseDuration(std::string_view s, std::string_view shown) {
    const Failure bad{fmt::format("{} is not a duration (like T#1D_2H_3M_4S_5MS)", shown)};
    Integer total;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        total.negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) return bad;
    size_t lastUnit = 0;  // index into kUnits + 1 of the unit before
    while (!s.empty()) {
        if (s.front() == '_') {
            s.remove_prefix(1);
            if (s.empty()) return bad;
        }
        size_t i = 0;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
        if (i == 0) return bad;
        const std::string_view whole = s.substr(0, i);
        std::string_view fraction;
        if (i < s.size() && s[i] == '.') {
            const size_t start = ++i;
            while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
            fraction = s.substr(start, i - start);
            if (fraction.empty()) return bad;
        }
        size_t j = i;
        while (j < s.size() && std::isalpha(static_cast<unsigned char>(s[j]))) ++j;
        const std::string unitName = upper(s.substr(i, j - i));
        size_t u = 0;
        while (u < std::size(kUnits) && kUnits[u].name != unitName) ++u;
        // Units in order: D, H, M, S, MS, US, NS.
        static constexpr size_t kOrder[] = {0, 1, 4, 2, 3, 5, 6};
        if (u == std::size(kUnits) || kOrder[u] + 1 <= lastUnit) return bad;
        lastUnit = kOrder[u] + 1;
        const Unit& unit = kUnits[u];
        const uint64_t unitNs = unit.mantissa * pow10(unit.exponent);
        const std::optional<Integer> w = parseDigits(whole, 10);
        uint64_t ns = 0;
        if (!w || __builtin_mul_overflow(w->magnitude, unitNs, &ns)) {
            return Failure{fmt::format("{} is too long", shown)};
        }
        if (!fraction.empty()) {
            if (fraction.size() > 18) return bad;
            const uint64_t digits = parseDigits(fraction, 10)->magnitude;
            const auto k = static_cast<unsigned>(fraction.size());
            uint64_t part = digits * unit.mantissa;
            if (k <= unit.exponent) {
                if (__builtin_mul_overflow(part, pow10(unit.exponent - k), &part)) {
                    return Failure{fmt::format("{} is too long", shown)};
                }
            } else {
                const uint64_t divisor = pow10(k - unit.exponent);
                if (part % divisor != 0) return Failure{fmt::format("{} is finer than a nanosecond", shown)};
                part /= divisor;
            }
            if (__builtin_add_overflow(ns, part, &ns)) return Failure{fmt::format("{} is too long", shown)};
        }
        if (__builtin_add_overflow(total.magnitude, ns, &total.magnitude)) {
            return Failure{fmt::format("{} is too long", shown)};
        }
        s.remove_prefix(j);
    }
    total.negative = total.negative && total.magnitude != 0;
    return total;
}

// ------------------------------------------------------------- dates

bool leap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int64_t y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : kDays[m - 1];
}

// Days since 1970-01-01 of a civil date.
int64_t daysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// The civil date of a day count since 1970-01-01.
void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
    y = yoe + era * 400 + (m <= 2 ? 1 : 0);
}

uint8_t bcd(unsigned v) { return static_cast<uint8_t>(((v / 10) % 10) << 4 | (v % 10)); }

// A date and a time of day in the byte layout of DATE_AND_TIME (eight BCD
// bytes: year of 1990-2089, month, day, hour, minute, second, then the
// milliseconds' three digits and the weekday, 1 for Sunday) or of DTL
// (twelve bytes, big-endian: year, month, day, weekday, hour, minute,
// second, nanoseconds).
std::string dateTimeBytes(Form form, int64_t days, uint64_t ns) {
    int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    civilFromDays(days, year, month, day);
    const unsigned weekday = static_cast<unsigned>(((days % 7) + 7 + 4) % 7) + 1;  // 1970-01-01 was a Thursday
    const auto second = static_cast<unsigned>(ns / kNsPerS);
    const auto hour = second / 3600;
    const auto minute = second / 60 % 60;
    const auto fraction = static_cast<uint32_t>(ns % kNsPerS);
    if (form == Form::Dt) {
        const unsigned ms = fraction / 1000000;
        return {static_cast<char>(bcd(static_cast<unsigned>(year % 100))), static_cast<char>(bcd(month)),
                static_cast<char>(bcd(day)), static_cast<char>(bcd(hour)), static_cast<char>(bcd(minute)),
                static_cast<char>(bcd(second % 60)), static_cast<char>(bcd(ms / 10)),
                static_cast<char>((ms % 10) << 4 | weekday)};
    }
    return {static_cast<char>(year >> 8), static_cast<char>(year & 0xFF), static_cast<char>(month),
            static_cast<char>(day), static_cast<char>(weekday), static_cast<char>(hour),
            static_cast<char>(minute), static_cast<char>(second % 60), static_cast<char>(fraction >> 24),
            static_cast<char>(fraction >> 16), static_cast<char>(fraction >> 8), static_cast<char>(fraction)};
}

// Reads exactly `n` digits.
std::optional<int64_t> fixedDigits(std::string_view& s, size_t n) {
    if (s.size() < n) return std::nullopt;
    int64_t v = 0;
    for (size_t i = 0; i < n; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return std::nullopt;
        v = v * 10 + (s[i] - '0');
    }
    s.remove_prefix(n);
    return v;
}

bool consume(std::string_view& s, char c) {
    if (s.empty() || s.front() != c) return false;
    s.remove_prefix(1);
    return true;
}

// YYYY-MM-DD as days since 1970-01-01; `s` is left after it.
std::optional<int64_t> parseDate(std::string_view& s) {
    const auto y = fixedDigits(s, 4);
    if (!y || !consume(s, '-')) return std::nullopt;
    const auto m = fixedDigits(s, 2);
    if (!m || *m < 1 || *m > 12 || !consume(s, '-')) return std::nullopt;
    const auto d = fixedDigits(s, 2);
    if (!d || *d < 1 || *d > daysInMonth(*y, static_cast<int>(*m))) return std::nullopt;
    return daysFromCivil(*y, static_cast<int>(*m), static_cast<int>(*d));
}

// hh:mm:ss[.f...] as nanoseconds since midnight, with at most `digits`
// digits of fraction; `s` is left after it.
std::optional<uint64_t> parseTimeOfDay(std::string_view& s, size_t digits) {
    const auto h = fixedDigits(s, 2);
    if (!h || *h > 23 || !consume(s, ':')) return std::nullopt;
    const auto m = fixedDigits(s, 2);
    if (!m || *m > 59 || !consume(s, ':')) return std::nullopt;
    const auto sec = fixedDigits(s, 2);
    if (!sec || *sec > 59) return std::nullopt;
    uint64_t ns = (static_cast<uint64_t>(*h) * 3600 + static_cast<uint64_t>(*m) * 60 + static_cast<uint64_t>(*sec)) *
                  kNsPerS;
    if (consume(s, '.')) {
        size_t n = 0;
        uint64_t f = 0;
        while (n < s.size() && std::isdigit(static_cast<unsigned char>(s[n]))) {
            f = f * 10 + static_cast<uint64_t>(s[n] - '0');
            ++n;
        }
        if (n == 0 || n > digits) return std::nullopt;
        s.remove_prefix(n);
        ns += f * pow10(static_cast<unsigned>(9 - n));
    }
    return ns;
}

// ------------------------------------------------------------- texts

// A quoted text with $ escapes ('It$'s', '$0A'), as bytes (UTF-8 kept as
// it is); `hexDigits` is 2 for CHAR and STRING, 4 for WCHAR and WSTRING, whose
// codes are written back as UTF-8. nullopt for a text that is not quoted
// or a broken escape.
void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::optional<std::string> unquote(std::string_view s, size_t hexDigits) {
    if (s.size() < 2 || s.front() != '\'' || s.back() != '\'') return std::nullopt;
    s = s.substr(1, s.size() - 2);
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '\'') return std::nullopt;  // a quote inside must be $'
        if (c != '$') {
            out += c;
            continue;
        }
        if (++i == s.size()) return std::nullopt;
        switch (std::toupper(static_cast<unsigned char>(s[i]))) {
        case '$': out += '$'; break;
        case '\'': out += '\''; break;
        case 'L':
        case 'N': out += '\n'; break;
        case 'P': out += '\f'; break;
        case 'R': out += '\r'; break;
        case 'T': out += '\t'; break;
        default: {
            const std::optional<Integer> code = i + hexDigits <= s.size() && s.substr(i, hexDigits).find('_') == std::string_view::npos
                                                    ? parseDigits(s.substr(i, hexDigits), 16)
                                                    : std::nullopt;
            if (!code) return std::nullopt;
            if (hexDigits == 2) {
                out += static_cast<char>(code->magnitude);
            } else {
                appendUtf8(out, static_cast<uint32_t>(code->magnitude));
            }
            i += hexDigits - 1;
        }
        }
    }
    return out;
}

bool isSurrogate(uint64_t code) { return code >= 0xD800 && code <= 0xDFFF; }

// The code points of UTF-8 text; nullopt for broken UTF-8.
std::optional<std::vector<uint32_t>> codePoints(std::string_view s) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        size_t n = 0;
        uint32_t cp = 0;
        if (b < 0x80) {
            n = 1;
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            n = 2;
            cp = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            n = 3;
            cp = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            n = 4;
            cp = b & 0x07;
        } else {
            return std::nullopt;
        }
        if (i + n > s.size()) return std::nullopt;
        for (size_t k = 1; k < n; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) return std::nullopt;
            cp = (cp << 6) | (c & 0x3F);
        }
        // The shortest form only, and no surrogate half: UTF-16, which a
        // wide text becomes on the controller, has no unit for either.
        static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kLeast[n] || cp > 0x10FFFF || isSurrogate(cp)) return std::nullopt;
        out.push_back(cp);
        i += n;
    }
    return out;
}

// ------------------------------------------------------------- the value

ParsedValue fail(std::string message) { return ParsedValue{nullptr, std::move(message)}; }

ParsedValue made(s7_value* v) {
    if (v == nullptr) return fail("out of memory");
    return ParsedValue{OwnedValue(v), {}};
}

std::string nameOf(uint8_t datatype) { return s7_datatype_name(datatype); }

// An integer that must fit the wire type's range.
ParsedValue integerOf(const Integer& n, const TypeForm& f, std::string_view shown) {
    Range r = rangeOf(f.wireType);
    switch (f.datatype) {
    case S7_DATATYPE_COUNTER: r.hi = kLastCount; break;
    case S7_DATATYPE_DATE: r.hi = kLastDateDay; break;
    case S7_DATATYPE_LDT: r.hi = kLastLdt; break;
    default: break;
    }
    if (!inRange(n, r)) {
        return fail(fmt::format("{} is out of range for {} ({})", shown, nameOf(f.datatype), rangeText(r)));
    }
    return made(integerValue(f.wireType, bitsOf(n)));
}

// A duration in nanoseconds as a TIME (ms), LTIME (ns) or S5TIME.
ParsedValue durationOf(const Integer& ns, const TypeForm& f, std::string_view shown) {
    if (f.form == Form::LTime) return integerOf(ns, f, shown);
    if (f.form == Form::Time) {
        if (ns.magnitude % kNsPerMs != 0) {
            return fail(fmt::format("{} is finer than {}'s 1 ms", shown, nameOf(f.datatype)));
        }
        const Integer ms{ns.negative, ns.magnitude / kNsPerMs};
        const Range r = rangeOf(f.wireType);
        if (!inRange(ms, r)) {
            return fail(fmt::format("{} is out of range for {} (T#-24D_20H_31M_23S_648MS..T#24D_20H_31M_23S_647MS)",
                                    shown, nameOf(f.datatype)));
        }
        return made(integerValue(f.wireType, bitsOf(ms)));
    }
    // S5TIME: three BCD digits and a time base of 10 ms, 100 ms, 1 s or
    // 10 s (bits 12-13); the smallest base that holds the value exactly.
    if (ns.negative) return fail(fmt::format("{} is negative; {} holds 0 to 2H_46M_30S", shown, nameOf(f.datatype)));
    constexpr uint64_t kBases[] = {10 * kNsPerMs, 100 * kNsPerMs, kNsPerS, 10 * kNsPerS};
    for (uint16_t base = 0; base < 4; ++base) {
        if (ns.magnitude / kBases[base] <= 999) {
            if (ns.magnitude % kBases[base] != 0) {
                return fail(fmt::format("{} is not a whole number of {}'s time base ({} ms at this length)", shown,
                                        nameOf(f.datatype), kBases[base] / kNsPerMs));
            }
            const auto count = static_cast<uint16_t>(ns.magnitude / kBases[base]);
            const auto bcd = static_cast<uint16_t>((count / 100) << 8 | (count / 10 % 10) << 4 | (count % 10));
            return made(s7_value_new_bits16(static_cast<uint16_t>(base << 12 | bcd)));
        }
    }
    return fail(fmt::format("{} is out of range for {} (S5T#0MS..S5T#2H_46M_30S)", shown, nameOf(f.datatype)));
}

std::string brokenQuote(std::string_view shown) {
    return fmt::format("{} is not a quoted text (a quote inside is $', a dollar $$)", shown);
}

// The most UTF-16 units a WSTRING can be declared to hold.
constexpr uint32_t kLongestWString = 16382;

ParsedValue textOf(std::string_view body, const TypeForm& f, uint32_t capacity, std::string_view shown) {
    const bool wide = f.form == Form::WString || f.form == Form::WChar;
    std::string text;
    if (const std::optional<std::string> quoted = unquote(body, wide ? 4 : 2)) {
        text = *quoted;
    } else if (!body.empty() && body.front() == '\'') {
        return fail(brokenQuote(shown));
    } else {
        text = std::string(body);
    }
    if (f.form == Form::String) {
        // The controller keeps the NUL, but every reader of a STRING - this
        // one's too - takes its text as ending there: 'a$00b' would read
        // back as 'a'.
        if (text.find('\0') != std::string::npos) {
            return fail(fmt::format("{} holds $00, which ends a STRING's text where it is read", shown));
        }
        const uint32_t cap = capacity == 0 ? static_cast<uint32_t>(text.size()) : capacity;
        if (text.size() > cap || cap > 254) {
            return fail(fmt::format("{} has {} characters; the STRING holds {}", shown, text.size(),
                                    std::min<uint32_t>(cap, 254)));
        }
        s7_value* array = s7_value_new_array(S7_TYPE_U8, S7_FLAG_ARRAY);
        const auto append = [&](uint8_t b) {
            s7_value* e = s7_value_new_u8(b);
            if (e == nullptr || s7_array_append(array, e) != 0) {
                s7_value_free(e);
                return false;
            }
            return true;
        };
        bool ok = array != nullptr && append(static_cast<uint8_t>(cap)) && append(static_cast<uint8_t>(text.size()));
        for (size_t i = 0; ok && i < text.size(); ++i) ok = append(static_cast<uint8_t>(text[i]));
        if (!ok) {
            s7_value_free(array);
            return fail("out of memory");
        }
        return made(array);
    }
    const std::optional<std::vector<uint32_t>> cps = codePoints(text);
    if (!cps) return fail(fmt::format("{} is not valid UTF-8", shown));
    // WSTRING characters are UTF-16 units.
    size_t units = 0;
    for (const uint32_t cp : *cps) units += cp > 0xFFFF ? 2 : 1;
    // Without the variable's length, at least no WSTRING holds more.
    const uint32_t cap = capacity != 0 ? capacity : kLongestWString;
    if (units > cap) {
        return fail(fmt::format("{} has {} characters; the WSTRING holds {}", shown, units, cap));
    }
    return made(s7_value_new_string(text.data(), static_cast<uint32_t>(text.size())));
}

ParsedValue charOf(std::string_view body, const TypeForm& f, std::string_view shown) {
    const bool wide = f.form == Form::WChar;
    const std::optional<std::string> quoted = unquote(body, wide ? 4 : 2);
    if (!quoted && !body.empty() && body.front() == '\'') return fail(brokenQuote(shown));
    if (!quoted) {
        const Result<std::optional<Integer>> code = parseInteger(body, shown);
        if (!code.value) return fail(code.error);
        if (*code.value) {
            if (wide && !(*code.value)->negative && isSurrogate((*code.value)->magnitude)) {
                return fail(fmt::format("{} is half of a UTF-16 surrogate pair, no character by itself", shown));
            }
            return integerOf(**code.value, f, shown);
        }
        return fail(fmt::format("{} is not a character: quote it ('A') or give its code", shown));
    }
    if (!wide) {
        if (quoted->size() != 1) {
            return fail(fmt::format("{} is not one character of one byte", shown));
        }
        return made(s7_value_new_u8(static_cast<uint8_t>((*quoted)[0])));
    }
    const std::optional<std::vector<uint32_t>> cps = codePoints(*quoted);
    if (!cps || cps->size() != 1 || cps->front() > 0xFFFF) {
        return fail(fmt::format("{} is not one character of the basic plane", shown));
    }
    return made(s7_value_new_u16(static_cast<uint16_t>(cps->front())));
}

}  // namespace

ParsedValue parseValue(std::string_view input, uint8_t datatype, uint32_t capacity) {
    const std::string_view shown = trim(input);
    const TypeForm* f = findForm(datatype);
    if (f == nullptr) return fail(fmt::format("values of {} cannot be written", nameOf(datatype)));
    if (shown.empty() && f->form != Form::String && f->form != Form::WString) return fail("no value given");

    // A typed literal: the prefix must be one of the data type's, and
    // decides nothing else. A prefix of another type is an error, not a
    // conversion.
    std::string_view body = shown;
    const bool quotedText = !shown.empty() && shown.front() == '\'';
    if (const size_t hash = shown.find('#'); hash != std::string_view::npos && !quotedText) {
        const std::string prefix = upper(shown.substr(0, hash));
        const bool named = !prefix.empty() && std::isalpha(static_cast<unsigned char>(prefix[0]));
        if (named) {
            const bool ours = std::find(f->prefixes.begin(), f->prefixes.end(), prefix) != f->prefixes.end();
            // An unquoted text is taken as typed, '#' and all.
            const bool text = f->form == Form::String || f->form == Form::WString;
            if (!ours && !text) return fail(fmt::format("{} is not a {} value", shown, nameOf(datatype)));
            if (ours) body = shown.substr(hash + 1);
        }
    }
    const bool typed = body.size() != shown.size();

    switch (f->form) {
    case Form::Bool: {
        const std::string u = upper(body);
        if (u == "TRUE" || u == "1") return made(s7_value_new_bool(1));
        if (u == "FALSE" || u == "0") return made(s7_value_new_bool(0));
        return fail(fmt::format("{} is not a {} (TRUE, FALSE, 1 or 0)", shown, nameOf(datatype)));
    }
    case Form::Integer: {
        const Result<std::optional<Integer>> n = parseInteger(body, shown);
        if (!n.value) return fail(n.error);
        if (!*n.value) return fail(fmt::format("{} is not a {} number", shown, nameOf(datatype)));
        return integerOf(**n.value, *f, shown);
    }
    case Form::Real: {
        const bool single = f->wireType == S7_TYPE_F32;
        const std::string u = upper(body);
        if (u == "INF" || u == "+INF" || u == "-INF" || u == "NAN") {
            const double v = u == "NAN"   ? std::numeric_limits<double>::quiet_NaN()
                             : u == "-INF" ? -std::numeric_limits<double>::infinity()
                                           : std::numeric_limits<double>::infinity();
            return made(single ? s7_value_new_f32(static_cast<float>(v)) : s7_value_new_f64(v));
        }
        std::string digits(body);
        digits.erase(std::remove(digits.begin(), digits.end(), '_'), digits.end());
        const char* first = digits.data() + (!digits.empty() && digits[0] == '+' ? 1 : 0);
        const char* last = digits.data() + digits.size();
        // Read straight into the type's own precision, rounded once to the
        // nearest: what a REAL prints (3.4028235e+38 for its largest) reads
        // back as the same number. A value that rounds to infinity, or
        // that is not 0 and rounds to 0, is out of range: it would not be
        // written as typed. Subnormal values are taken as they are.
        float f32 = 0;
        double f64 = 0;
        const std::from_chars_result r =
            single ? std::from_chars(first, last, f32) : std::from_chars(first, last, f64);
        if (digits.empty() || r.ptr != last || (r.ec != std::errc() && r.ec != std::errc::result_out_of_range)) {
            return fail(fmt::format("{} is not a {} number", shown, nameOf(datatype)));
        }
        if (r.ec == std::errc() && !std::isfinite(single ? double{f32} : f64)) {
            // "infinity" and the like: inf, -inf and nan are the forms.
            return fail(fmt::format("{} is not a {} number", shown, nameOf(datatype)));
        }
        if (r.ec == std::errc::result_out_of_range) {
            return fail(fmt::format("{} is out of range for {} ({})", shown, nameOf(datatype),
                                    single ? "0, or 1e-45 to 3.4028235e+38 either side of it"
                                           : "0, or 5e-324 to 1.7976931348623157e+308 either side of it"));
        }
        return made(single ? s7_value_new_f32(f32) : s7_value_new_f64(f64));
    }
    case Form::Time:
    case Form::LTime:
    case Form::S5Time: {
        // A plain number is in the type's own unit (ms, ns) or, for
        // S5TIME, the word itself.
        if (!typed) {
            const Result<std::optional<Integer>> n = parseInteger(body, shown);
            if (!n.value) return fail(n.error);
            if (*n.value && f->form == Form::S5Time && !(*n.value)->negative && (*n.value)->magnitude <= 0xFFFF) {
                // The word's count is three BCD digits: a nibble above 9 is no time.
                const uint64_t word = (*n.value)->magnitude;
                if (((word >> 8) & 0xF) > 9 || ((word >> 4) & 0xF) > 9 || (word & 0xF) > 9) {
                    return fail(fmt::format("{} is not an {} word: its count is three BCD digits", shown,
                                            nameOf(datatype)));
                }
            }
            if (*n.value) return integerOf(**n.value, *f, shown);
        }
        const Result<Integer> ns = parseDuration(body, shown);
        if (!ns.value) return fail(ns.error);
        return durationOf(*ns.value, *f, shown);
    }
    case Form::Date:
    case Form::Tod:
    case Form::Ltod:
    case Form::Ldt: {
        if (!typed) {
            const Result<std::optional<Integer>> n = parseInteger(body, shown);
            if (!n.value) return fail(n.error);
            // A time of day is less than a day, in ms or ns.
            const uint64_t day = f->form == Form::Tod ? kNsPerD / kNsPerMs : kNsPerD;
            const bool ofDay = f->form == Form::Tod || f->form == Form::Ltod;
            if (*n.value && ofDay && !(*n.value)->negative && (*n.value)->magnitude >= day) {
                return fail(fmt::format("{} is out of range for {} (0..{})", shown, nameOf(datatype), day - 1));
            }
            if (*n.value) return integerOf(**n.value, *f, shown);
        }
        std::string_view rest = body;
        const char* example = f->form == Form::Date  ? "D#2026-12-10"
                              : f->form == Form::Tod ? "TOD#06:00:00.000"
                              : f->form == Form::Ltod ? "LTOD#06:00:00.000000000"
                                                      : "LDT#2026-12-10-12:34:56.123456789";
        const auto notOne = [&] { return fail(fmt::format("{} is not a {} (like {})", shown, nameOf(datatype), example)); };
        if (f->form == Form::Date) {
            const std::optional<int64_t> days = parseDate(rest);
            if (!days || !rest.empty()) return notOne();
            const int64_t since1990 = *days - daysFromCivil(1990, 1, 1);
            if (since1990 < 0 || static_cast<uint64_t>(since1990) > kLastDateDay) {
                return fail(fmt::format("{} is out of range for DATE (D#1990-01-01..D#2168-12-31)", shown));
            }
            return made(s7_value_new_u16(static_cast<uint16_t>(since1990)));
        }
        if (f->form == Form::Tod || f->form == Form::Ltod) {
            const std::optional<uint64_t> ns = parseTimeOfDay(rest, f->form == Form::Tod ? 3 : 9);
            if (!ns || !rest.empty()) return notOne();
            return made(f->form == Form::Tod ? s7_value_new_u32(static_cast<uint32_t>(*ns / kNsPerMs))
                                             : s7_value_new_u64(*ns));
        }
        const std::optional<int64_t> days = parseDate(rest);
        if (!days || !consume(rest, '-')) return notOne();
        const std::optional<uint64_t> ns = parseTimeOfDay(rest, 9);
        if (!ns || !rest.empty()) return notOne();
        // Nanoseconds since 1970, as far as a signed 64-bit count goes.
        if (*days < 0 || static_cast<uint64_t>(*days) > (kLastLdt - *ns) / kNsPerD) {
            return fail(fmt::format(
                "{} is out of range for LDT (LDT#1970-01-01-00:00:00..LDT#2262-04-11-23:47:16.854775807)", shown));
        }
        return made(s7_value_new_u64_alt(static_cast<uint64_t>(*days) * kNsPerD + *ns));
    }
    case Form::Dt:
    case Form::Dtl: {
        std::string_view rest = body;
        const bool dt = f->form == Form::Dt;
        const std::optional<int64_t> days = parseDate(rest);
        const std::optional<uint64_t> ns =
            days && consume(rest, '-') ? parseTimeOfDay(rest, dt ? 3 : 9) : std::optional<uint64_t>{};
        if (!ns || !rest.empty()) {
            return fail(fmt::format("{} is not a {} (like {})", shown, nameOf(datatype),
                                    dt ? "DT#2026-12-10-12:34:56.789" : "DTL#2026-12-10-12:34:56.123456789"));
        }
        const int64_t first = dt ? daysFromCivil(1990, 1, 1) : daysFromCivil(1970, 1, 1);
        const int64_t last = dt ? daysFromCivil(2089, 12, 31) : daysFromCivil(2262, 4, 11);
        if (*days < first || *days > last) {
            return fail(fmt::format("{} is out of range for {} ({})", shown, nameOf(datatype),
                                    dt ? "DT#1990-01-01-00:00:00..DT#2089-12-31-23:59:59.999"
                                       : "DTL#1970-01-01-00:00:00..DTL#2262-04-11-23:59:59.999999999"));
        }
        const std::string bytes = dateTimeBytes(f->form, *days, *ns);
        return made(s7_value_new_blob(bytes.data(), static_cast<uint32_t>(bytes.size())));
    }
    case Form::Char:
    case Form::WChar: return charOf(body, *f, shown);
    case Form::String:
    case Form::WString: return textOf(typed ? body : shown, *f, capacity, shown);
    }
    return fail("unreachable");
}

OwnedValue inFormOf(OwnedValue value, uint8_t datatype, const ReadValue& read) {
    if (datatype != S7_DATATYPE_DATE_AND_TIME || value == nullptr || !read.present || typeMismatch(read, datatype)) {
        return value;
    }
    switch (read.wireType) {
    case S7_TYPE_U64:
    case S7_TYPE_I64:
    case S7_TYPE_BITS64:
    case S7_TYPE_U64_ALT:
    case S7_TYPE_I64_ALT: break;
    default: return value;
    }
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    if (s7_value_get_blob(value.get(), &data, &length) != S7_OK || length != 8 || data == nullptr) return value;
    uint64_t bits = 0;
    for (uint32_t i = 0; i < length; ++i) bits = bits << 8 | data[i];
    return OwnedValue(integerValue(read.wireType, bits));
}

}  // namespace vemo

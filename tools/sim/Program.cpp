#include "Program.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cctype>
#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <numbers>
#include <set>
#include <sstream>

namespace vemo::sim {

namespace {

using json = nlohmann::json;

// Identifiers of the type objects. The areas' are the controller's own
// (s7_memory_areas); the others only have to differ from them and from one
// another.
constexpr uint32_t kBlockTypeInfoBase = 0x91000000u;
constexpr uint32_t kUdtTypeInfoBase = 0x93000000u;

// Data blocks of an S7-1500 are numbered 1 to 59999.
constexpr uint32_t kMaxBlockNumber = 59999;
// Names travel with a one-byte length.
constexpr size_t kMaxNameLength = 255;
// STRING holds at most 254 characters; WSTRING 16382.
constexpr uint32_t kMaxStringCapacity = 254;
constexpr uint32_t kMaxWStringCapacity = 16382;
constexpr uint32_t kDefaultStringCapacity = 254;
// Arrays of the controller have at most 6 dimensions; one member may hold
// up to a million elements, far more than a program of this size needs.
constexpr size_t kMaxDims = 6;
constexpr uint64_t kMaxElements = 1000000;
// A generated program is held in memory member by member; ten times the
// largest load the benchmarks use (100 000) is plenty, and already more than
// a client can take in one type-info answer.
constexpr uint64_t kMaxGeneratedMembers = 1000000;
// The array and deep shapes describe their symbols with a few types, so
// their size is bounded by what a browse should yield, not by memory: a
// million symbols, a quarter of what a client takes from one block.
constexpr uint64_t kMaxGeneratedSymbols = 1000000;
// The client walks structures at most 64 levels below a block, the block's
// own type being level 0, and an item address leads no deeper either: no
// type of a program, loaded or generated, holds structures nested deeper
// than this.
constexpr uint32_t kMaxStructureDepth = 63;
// The deep shape's bottom structures hold at least this many elementary
// members once the symbol count allows it; the count then misses the one
// asked for by at most half the product of the array sizes, 1/200 of it.
constexpr uint64_t kDeepLeaves = 100;

// Every elementary data type a program may use, with the value type its
// values travel as; the name is the data type's own.
struct DataTypeForm {
    uint8_t id;
    uint8_t wireType;
};

constexpr DataTypeForm kDataTypeForms[] = {
    {S7_DATATYPE_BOOL, S7_TYPE_BOOL},       {S7_DATATYPE_BYTE, S7_TYPE_BITS8},     {S7_DATATYPE_CHAR, S7_TYPE_U8},
    {S7_DATATYPE_WORD, S7_TYPE_BITS16},     {S7_DATATYPE_INT, S7_TYPE_I16},        {S7_DATATYPE_DWORD, S7_TYPE_BITS32},
    {S7_DATATYPE_DINT, S7_TYPE_I32},        {S7_DATATYPE_REAL, S7_TYPE_F32},       {S7_DATATYPE_DATE, S7_TYPE_U16},
    {S7_DATATYPE_TIME_OF_DAY, S7_TYPE_U32}, {S7_DATATYPE_TIME, S7_TYPE_I32},       {S7_DATATYPE_S5TIME, S7_TYPE_BITS16},
    {S7_DATATYPE_STRING, S7_TYPE_U8},       {S7_DATATYPE_COUNTER, S7_TYPE_U16},    {S7_DATATYPE_TIMER, S7_TYPE_BITS16},
    {S7_DATATYPE_BBOOL, S7_TYPE_BOOL},      {S7_DATATYPE_LREAL, S7_TYPE_F64},      {S7_DATATYPE_ULINT, S7_TYPE_U64},
    {S7_DATATYPE_LINT, S7_TYPE_I64},        {S7_DATATYPE_LWORD, S7_TYPE_BITS64},   {S7_DATATYPE_USINT, S7_TYPE_U8},
    {S7_DATATYPE_UINT, S7_TYPE_U16},        {S7_DATATYPE_UDINT, S7_TYPE_U32},      {S7_DATATYPE_SINT, S7_TYPE_I8},
    {S7_DATATYPE_WCHAR, S7_TYPE_U16},       {S7_DATATYPE_WSTRING, S7_TYPE_STRING}, {S7_DATATYPE_LTIME, S7_TYPE_I64_ALT},
    {S7_DATATYPE_LTOD, S7_TYPE_U64},        {S7_DATATYPE_LDT, S7_TYPE_U64_ALT},    {S7_DATATYPE_DATE_AND_TIME, S7_TYPE_BLOB},
    {S7_DATATYPE_DTL, S7_TYPE_BLOB},
};

std::vector<DataType> makeDataTypes() {
    std::vector<DataType> types;
    for (const DataTypeForm& form : kDataTypeForms) {
        types.push_back(DataType{s7_datatype_name(form.id), form.id, form.wireType});
    }
    return types;
}

const std::vector<DataType> kDataTypes = makeDataTypes();

std::string upper(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::toupper(c); });
    return out;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool isText(uint8_t datatype) { return datatype == S7_DATATYPE_STRING || datatype == S7_DATATYPE_WSTRING; }

// DATE_AND_TIME and DTL travel as byte blocks of their own layout.
bool isDateTimeBlock(uint8_t datatype) {
    return datatype == S7_DATATYPE_DATE_AND_TIME || datatype == S7_DATATYPE_DTL;
}

// 1 for Sunday to 7 for Saturday, as both layouts number the weekdays.
unsigned weekdayOf(int year, unsigned month, unsigned day) {
    const std::chrono::year_month_day date{std::chrono::year{year}, std::chrono::month{month}, std::chrono::day{day}};
    return std::chrono::weekday{std::chrono::sys_days{date}}.c_encoding() + 1;
}

uint8_t bcd(unsigned v) { return static_cast<uint8_t>(((v / 10) % 10) << 4 | (v % 10)); }

// "YYYY-MM-DD-hh:mm:ss[.fraction]" in the byte layout of `datatype`:
// DATE_AND_TIME as eight BCD bytes (year 1990-2089, milliseconds and the
// weekday in the last two), DTL as twelve big-endian bytes (year, month,
// day, weekday, hour, minute, second, nanoseconds). Empty when the text is
// no such date or the layout cannot hold it.
std::string dateTimeBlock(uint8_t datatype, const std::string& text) {
    int year = 0;
    unsigned month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "%4d-%2u-%2u-%2u:%2u:%2u%n", &year, &month, &day, &hour, &minute, &second, &used) !=
        6) {
        return {};
    }
    uint32_t nanoseconds = 0;
    std::string_view rest = std::string_view(text).substr(static_cast<size_t>(used));
    if (!rest.empty()) {
        if (rest.front() != '.' || rest.size() < 2 || rest.size() > 10) return {};
        uint32_t scale = 100000000;
        for (const char c : rest.substr(1)) {
            if (c < '0' || c > '9') return {};
            nanoseconds += static_cast<uint32_t>(c - '0') * scale;
            scale /= 10;
        }
    }
    const std::chrono::year_month_day date{std::chrono::year{year}, std::chrono::month{month}, std::chrono::day{day}};
    if (!date.ok() || hour > 23 || minute > 59 || second > 59) return {};
    const unsigned weekday = weekdayOf(year, month, day);
    std::string out;
    if (datatype == S7_DATATYPE_DATE_AND_TIME) {
        if (year < 1990 || year > 2089) return {};
        const unsigned ms = nanoseconds / 1000000;
        out = {static_cast<char>(bcd(static_cast<unsigned>(year % 100))), static_cast<char>(bcd(month)),
               static_cast<char>(bcd(day)),
               static_cast<char>(bcd(hour)),
               static_cast<char>(bcd(minute)),
               static_cast<char>(bcd(second)),
               static_cast<char>(bcd(ms / 10)),
               static_cast<char>((ms % 10) << 4 | weekday)};
    } else {
        if (year < 1970 || year > 2554) return {};
        out = {static_cast<char>(year >> 8), static_cast<char>(year & 0xFF), static_cast<char>(month),
               static_cast<char>(day), static_cast<char>(weekday), static_cast<char>(hour),
               static_cast<char>(minute), static_cast<char>(second),
               static_cast<char>(nanoseconds >> 24), static_cast<char>(nanoseconds >> 16),
               static_cast<char>(nanoseconds >> 8), static_cast<char>(nanoseconds)};
    }
    return out;
}

// The integer range of a value type; false for the others.
bool integerRange(uint8_t wireType, int64_t& lo, uint64_t& hi) {
    switch (wireType) {
    // clang-format off
    case S7_TYPE_BOOL: lo = 0; hi = 1; return true;
    case S7_TYPE_U8: case S7_TYPE_BITS8: lo = 0; hi = 0xFF; return true;
    case S7_TYPE_U16: case S7_TYPE_BITS16: lo = 0; hi = 0xFFFF; return true;
    case S7_TYPE_U32: case S7_TYPE_BITS32: lo = 0; hi = 0xFFFFFFFFu; return true;
    case S7_TYPE_U64: case S7_TYPE_BITS64: case S7_TYPE_U64_ALT:
        lo = 0; hi = std::numeric_limits<uint64_t>::max(); return true;
    case S7_TYPE_I8: lo = -128; hi = 127; return true;
    case S7_TYPE_I16: lo = -32768; hi = 32767; return true;
    case S7_TYPE_I32: lo = std::numeric_limits<int32_t>::min(); hi = std::numeric_limits<int32_t>::max(); return true;
    case S7_TYPE_I64: case S7_TYPE_I64_ALT:
        lo = std::numeric_limits<int64_t>::min(); hi = std::numeric_limits<int64_t>::max(); return true;
    default: return false;
        // clang-format on
    }
}

class Loader {
public:
    explicit Loader(Program& p) : p_(p) {}

    void load(const json& doc) {
        if (!doc.is_object()) fail("the program", "must be a JSON object");
        checkKeys(doc, "the program", {"plc_type", "types", "blocks", "areas"});
        if (doc.contains("plc_type")) {
            if (!doc["plc_type"].is_string()) fail("plc_type", "must be a text");
            p_.plcType = doc["plc_type"].get<std::string>();
        }
        if (doc.contains("types")) {
            const json& types = doc["types"];
            if (!types.is_array()) fail("types", "must be a list");
            for (const json& t : types) loadType(t);
        }
        if (doc.contains("blocks")) {
            const json& blocks = doc["blocks"];
            if (!blocks.is_array()) fail("blocks", "must be a list");
            for (const json& b : blocks) loadBlock(b);
        }
        if (doc.contains("areas")) {
            const json& areas = doc["areas"];
            if (!areas.is_object()) fail("areas", "must be an object");
            for (const auto& item : areas.items()) {
                const std::string& key = item.key();
                const json& members = item.value();
                const auto it =
                    std::find_if(p_.areas.begin(), p_.areas.end(), [&](const Block& area) { return area.name == key; });
                if (it == p_.areas.end()) {
                    fail("areas", "has no area \"" + key + "\" (I, Q, M, S7Timers, S7Counters)");
                }
                Block& area = *it;
                area.members = loadMembers(members, "area " + key);
            }
        }
    }

private:
    [[noreturn]] static void fail(const std::string& where, const std::string& what) {
        throw ProgramError(where + ": " + what);
    }

    static void checkKeys(const json& obj, const std::string& where, std::initializer_list<std::string_view> keys) {
        for (const auto& [key, value] : obj.items()) {
            if (std::find(keys.begin(), keys.end(), key) == keys.end()) {
                fail(where, "unknown key \"" + key + "\"");
            }
        }
    }

    static std::string name(const json& obj, const std::string& where) {
        if (!obj.contains("name") || !obj["name"].is_string()) fail(where, "needs a \"name\" text");
        std::string n = obj["name"].get<std::string>();
        if (n.empty() || n.size() > kMaxNameLength) fail(where, "a name has 1 to 255 characters");
        return n;
    }

    void loadType(const json& t) {
        if (!t.is_object()) fail("types", "each type is an object");
        const std::string n = name(t, "a type");
        const std::string where = "type " + n;
        checkKeys(t, where, {"name", "members"});
        if (findUdt(n) >= 0 || findDataType(n) != nullptr) fail(where, "the name is taken");
        Udt udt;
        udt.name = n;
        udt.typeInfoId = kUdtTypeInfoBase + static_cast<uint32_t>(p_.types.size()) + 1;
        // Members may use only the types defined above, so types never
        // contain themselves.
        udt.members = loadMembers(t.value("members", json::array()), where);
        uint32_t depth = 1;
        for (const Member& m : udt.members) {
            if (m.isStruct()) depth = std::max(depth, typeDepths_[static_cast<size_t>(m.udt)] + 1);
        }
        if (depth > kMaxStructureDepth) {
            fail(where, "structures nest more than " + std::to_string(kMaxStructureDepth) + " levels deep");
        }
        typeDepths_.push_back(depth);
        typeIndex_.emplace(n, static_cast<int>(p_.types.size()));
        p_.types.push_back(std::move(udt));
    }

    void loadBlock(const json& b) {
        if (!b.is_object()) fail("blocks", "each block is an object");
        Block block;
        block.name = name(b, "a block");
        const std::string where = "block " + block.name;
        checkKeys(b, where, {"name", "number", "members", "type_info"});
        if (!b.contains("number") || !b["number"].is_number_integer()) fail(where, "needs a \"number\"");
        const int64_t number = b["number"].get<int64_t>();
        if (number < 1 || number > kMaxBlockNumber) fail(where, "the number lies outside 1..59999");
        // Looked up, not searched: a file may hold 59999 blocks.
        if (!blockNumbers_.insert(static_cast<uint32_t>(number)).second) {
            fail(where, "number " + std::to_string(number) + " is taken");
        }
        if (!blockNames_.insert(block.name).second) fail(where, "the name is taken");
        block.number = static_cast<uint32_t>(number);
        block.objectId = S7_BROWSE_DATABLOCK_ID_BASE + block.number;
        block.typeInfoId = kBlockTypeInfoBase + block.number;
        if (b.contains("type_info")) {
            const std::string mode = b["type_info"].is_string() ? b["type_info"].get<std::string>() : "";
            if (mode == "normal")
                block.typeInfo = TypeInfoMode::Normal;
            else if (mode == "none")
                block.typeInfo = TypeInfoMode::None;
            else if (mode == "dangling")
                block.typeInfo = TypeInfoMode::Dangling;
            else
                fail(where, "type_info is \"normal\", \"none\" or \"dangling\"");
        }
        block.members = loadMembers(b.value("members", json::array()), where);
        p_.blocks.push_back(std::move(block));
    }

    std::vector<Member> loadMembers(const json& list, const std::string& where) {
        if (!list.is_array()) fail(where, "members must be a list");
        std::vector<Member> members;
        std::set<std::string> names;
        for (const json& m : list) {
            if (!m.is_object()) fail(where, "each member is an object");
            Member member = loadMember(m, where);
            if (!names.insert(member.name).second) fail(where + "." + member.name, "the name is taken");
            member.id = kFirstMemberId + static_cast<uint32_t>(members.size());
            members.push_back(std::move(member));
        }
        return members;
    }

    Member loadMember(const json& m, const std::string& parent) {
        Member member;
        member.name = name(m, parent + ": a member");
        const std::string where = parent + "." + member.name;
        checkKeys(m, where, {"name", "type", "value", "generator"});
        if (!m.contains("type") || !m["type"].is_string()) fail(where, "needs a \"type\" text");
        parseType(m["type"].get<std::string>(), member, where);
        if (m.contains("value")) loadValues(m["value"], member, where);
        if (m.contains("generator")) loadGenerator(m["generator"], member, where);
        return member;
    }

    void parseType(const std::string& text, Member& m, const std::string& where) {
        std::string_view t = trim(text);
        const std::string up = upper(t);
        if (up.rfind("ARRAY", 0) == 0) {
            const size_t open = up.find('[');
            const size_t close = up.find(']');
            const size_t of = up.find(" OF ", close == std::string::npos ? 0 : close);
            if (open == std::string::npos || close == std::string::npos || close < open || of == std::string::npos ||
                trim(up.substr(5, open - 5)) != "") {
                fail(where, "an array type reads \"Array[lo..hi, ...] of TYPE\"");
            }
            std::stringstream dims(std::string(t.substr(open + 1, close - open - 1)));
            std::string dim;
            uint64_t total = 1;
            while (std::getline(dims, dim, ',')) {
                long long lo = 0;
                long long hi = 0;
                char dots[3] = {};
                std::istringstream in{std::string(trim(dim))};
                if (!(in >> lo) || !in.get(dots[0]) || !in.get(dots[1]) || dots[0] != '.' || dots[1] != '.' ||
                    !(in >> hi) || !(in >> std::ws).eof() || hi < lo || lo < std::numeric_limits<int32_t>::min() ||
                    hi > std::numeric_limits<int32_t>::max()) {
                    fail(where, "bad array bounds \"" + std::string(trim(dim)) + "\"");
                }
                const uint64_t count = static_cast<uint64_t>(hi - lo) + 1;
                total *= count;
                if (total > kMaxElements) fail(where, "more than a million elements");
                m.dims.push_back({static_cast<int32_t>(lo), static_cast<uint32_t>(count)});
            }
            if (m.dims.empty() || m.dims.size() > kMaxDims) fail(where, "an array has 1 to 6 dimensions");
            t = trim(t.substr(of + 4));
            if (upper(t).rfind("ARRAY", 0) == 0) fail(where, "an array of arrays is not a type");
        }
        parseElementType(t, m, where);
    }

    void parseElementType(std::string_view t, Member& m, const std::string& where) {
        const std::string up = upper(t);
        const size_t bracket = up.find('[');
        const std::string base(trim(up.substr(0, bracket)));
        if (base == "STRING" || base == "WSTRING") {
            m.datatype = base == "STRING" ? S7_DATATYPE_STRING : S7_DATATYPE_WSTRING;
            const uint32_t max = base == "STRING" ? kMaxStringCapacity : kMaxWStringCapacity;
            m.capacity = kDefaultStringCapacity;
            if (bracket != std::string::npos) {
                const size_t close = up.find(']', bracket);
                long long cap = 0;
                std::istringstream in(up.substr(bracket + 1, close == std::string::npos ? 0 : close - bracket - 1));
                if (close == std::string::npos || close + 1 != up.size() || !(in >> cap) || cap < 1 || cap > max) {
                    fail(where, base + "[n] holds 1 to " + std::to_string(max) + " characters");
                }
                m.capacity = static_cast<uint32_t>(cap);
            }
            return;
        }
        if (const DataType* dt = findDataType(t)) {
            m.datatype = dt->id;
            return;
        }
        const int udt = findUdt(std::string(t));
        if (udt < 0) fail(where, "unknown data type \"" + std::string(t) + "\" (user types must be defined above)");
        m.datatype = S7_DATATYPE_STRUCT;
        m.udt = udt;
    }

    int findUdt(const std::string& n) const {
        const auto it = typeIndex_.find(n);
        return it == typeIndex_.end() ? -1 : it->second;
    }

    static Scalar scalar(const json& v, const Member& m, const std::string& where) {
        Scalar s;
        const DataType* dt = findDataType(m.datatype);
        if (isText(m.datatype) || (m.datatype == S7_DATATYPE_CHAR && v.is_string()) ||
            (m.datatype == S7_DATATYPE_WCHAR && v.is_string())) {
            if (!v.is_string()) fail(where, "needs a text value");
            s.kind = Scalar::Kind::Text;
            s.text = v.get<std::string>();
            if (isText(m.datatype) && s.text.size() > m.capacity) fail(where, "the text is longer than the capacity");
            if (!isText(m.datatype) && s.text.size() != 1) fail(where, "a character value is one character");
            return s;
        }
        if (isDateTimeBlock(m.datatype)) {
            if (!v.is_string()) fail(where, "needs a date and time text, YYYY-MM-DD-hh:mm:ss[.fraction]");
            s.kind = Scalar::Kind::Text;
            s.text = dateTimeBlock(m.datatype, v.get<std::string>());
            if (s.text.empty()) fail(where, "\"" + v.get<std::string>() + "\" is no date and time " + std::string(dt->name) + " holds");
            return s;
        }
        int64_t lo = 0;
        uint64_t hi = 0;
        const bool integral = integerRange(dt->wireType, lo, hi);
        if (v.is_boolean()) {
            s.kind = Scalar::Kind::Int;
            s.i = v.get<bool>() ? 1 : 0;
        } else if (v.is_number_unsigned()) {
            s.kind = Scalar::Kind::UInt;
            s.u = v.get<uint64_t>();
            if (integral && s.u > hi) fail(where, "value " + v.dump() + " out of range for " + std::string(dt->name));
        } else if (v.is_number_integer()) {
            s.kind = Scalar::Kind::Int;
            s.i = v.get<int64_t>();
            if (integral && (s.i < lo || (s.i > 0 && static_cast<uint64_t>(s.i) > hi))) {
                fail(where, "value " + v.dump() + " out of range for " + std::string(dt->name));
            }
        } else if (v.is_number_float()) {
            if (integral) fail(where, std::string(dt->name) + " needs an integer value");
            s.kind = Scalar::Kind::Float;
            s.f = v.get<double>();
        } else {
            fail(where, "needs a number or true/false");
        }
        return s;
    }

    void loadValues(const json& v, Member& m, const std::string& where) {
        if (m.isStruct()) fail(where, "a structure takes its values from its type");
        if (v.is_array()) {
            if (!m.isArray() || v.size() != m.elementCount()) {
                fail(where, "a list of values needs one value per array element");
            }
            for (const json& e : v) m.values.push_back(scalar(e, m, where));
        } else {
            m.values.push_back(scalar(v, m, where));
        }
    }

    void loadGenerator(const json& g, Member& m, const std::string& where) {
        if (m.isStruct() || isText(m.datatype)) fail(where, "only numbers and BOOLs move");
        if (!g.is_object() || !g.contains("kind") || !g["kind"].is_string()) {
            fail(where, "a generator is an object with a \"kind\"");
        }
        const std::string kind = g["kind"].get<std::string>();
        Generator& gen = m.generator;
        auto number = [&](const char* key, double fallback) {
            if (!g.contains(key)) return fallback;
            if (!g[key].is_number()) fail(where, std::string("generator ") + key + " must be a number");
            return g[key].get<double>();
        };
        if (kind == "counter") {
            checkKeys(g, where, {"kind", "start", "step", "period_ms"});
            gen.kind = Generator::Kind::Counter;
            gen.a = number("start", 0);
            gen.b = number("step", 1);
        } else if (kind == "sine") {
            checkKeys(g, where, {"kind", "amplitude", "offset", "period_ms"});
            gen.kind = Generator::Kind::Sine;
            gen.a = number("amplitude", 1);
            gen.b = number("offset", 0);
        } else if (kind == "toggle") {
            checkKeys(g, where, {"kind", "period_ms"});
            gen.kind = Generator::Kind::Toggle;
        } else if (kind == "ramp") {
            checkKeys(g, where, {"kind", "from", "to", "period_ms"});
            gen.kind = Generator::Kind::Ramp;
            gen.a = number("from", 0);
            gen.b = number("to", 100);
        } else {
            fail(where, "generator kind is counter, sine, toggle or ramp");
        }
        const double period = number("period_ms", 1000);
        if (!(period >= 1 && period <= 1e12)) fail(where, "generator period_ms must be at least 1");
        gen.periodMs = static_cast<int64_t>(period);
    }

    Program& p_;
    // The levels of structures each type of p_.types holds, itself
    // included; each type's index there by name; the block numbers and
    // names taken so far.
    std::vector<uint32_t> typeDepths_;
    std::map<std::string, int> typeIndex_;
    std::set<uint32_t> blockNumbers_;
    std::set<std::string> blockNames_;
};

// Wraps an integer into the width of a value type, as a PLC counter does.
uint64_t wrapped(int64_t v, uint8_t wireType) {
    switch (wireType) {
    case S7_TYPE_U8:
    case S7_TYPE_I8:
    case S7_TYPE_BITS8: return static_cast<uint8_t>(v);
    case S7_TYPE_U16:
    case S7_TYPE_I16:
    case S7_TYPE_BITS16: return static_cast<uint16_t>(v);
    case S7_TYPE_U32:
    case S7_TYPE_I32:
    case S7_TYPE_BITS32: return static_cast<uint32_t>(v);
    default: return static_cast<uint64_t>(v);
    }
}

int64_t toInteger(double d) {
    if (!(d == d)) return 0;
    if (d >= 9.2e18) return std::numeric_limits<int64_t>::max();
    if (d <= -9.2e18) return std::numeric_limits<int64_t>::min();
    return std::llround(d);
}

ValuePtr controllerString(const std::string& text, uint32_t capacity) {
    ValuePtr array(s7_value_new_array(S7_TYPE_U8, S7_FLAG_ARRAY));
    const size_t len = std::min<size_t>(text.size(), capacity);
    auto add = [&](uint8_t b) {
        s7_value* e = s7_value_new_u8(b);
        if (e == nullptr || s7_array_append(array.get(), e) != 0) {
            s7_value_free(e);
            throw std::bad_alloc();
        }
    };
    add(static_cast<uint8_t>(capacity));
    add(static_cast<uint8_t>(len));
    for (size_t i = 0; i < len; ++i) add(static_cast<uint8_t>(text[i]));
    return array;
}

uint64_t countSymbols(const Program& p, const std::vector<Member>& members) {
    uint64_t n = 0;
    for (const Member& m : members) {
        n += m.elementCount() * (m.isStruct() ? countSymbols(p, p.types[static_cast<size_t>(m.udt)].members) : 1);
    }
    return n;
}

}  // namespace

const std::vector<DataType>& dataTypes() { return kDataTypes; }

const DataType* findDataType(std::string_view name) {
    const std::string up = upper(trim(name));
    for (const DataType& dt : kDataTypes) {
        if (dt.name == up) return &dt;
    }
    return up == "TOD" ? findDataType(S7_DATATYPE_TIME_OF_DAY) : nullptr;
}

const DataType* findDataType(uint8_t id) {
    for (const DataType& dt : kDataTypes) {
        if (dt.id == id) return &dt;
    }
    return nullptr;
}

double Generator::at(int64_t nowMs, uint64_t phaseSeed) const {
    const int64_t period = std::max<int64_t>(periodMs, 1);
    const int64_t shifted = nowMs + static_cast<int64_t>(phaseSeed % static_cast<uint64_t>(period));
    switch (kind) {
    case Kind::None: return 0;
    case Kind::Counter: return a + b * static_cast<double>(nowMs / period);
    case Kind::Sine:
        return b +
               a * std::sin(2 * std::numbers::pi * static_cast<double>(shifted % period) / static_cast<double>(period));
    case Kind::Toggle: return static_cast<double>((nowMs / period) % 2);
    case Kind::Ramp: return a + (b - a) * static_cast<double>(shifted % period) / static_cast<double>(period);
    case Kind::Index: return a;
    }
    return 0;
}

uint64_t Member::elementCount() const {
    uint64_t n = 1;
    for (const Dim& d : dims) n *= d.count;
    return n;
}

namespace {
// Rows of a multi-dimensional BBOOL array start on a byte boundary.
uint64_t paddedRow(const Member& m) {
    if (m.datatype != S7_DATATYPE_BBOOL || m.dims.size() < 2) return 0;
    const uint64_t inner = m.dims.back().count;
    return inner % 8 == 0 ? 0 : (inner + 7) / 8 * 8;
}
}  // namespace

uint64_t positionOf(const Member& m, uint64_t element) {
    const uint64_t stride = paddedRow(m);
    if (stride == 0) return element;
    const uint64_t inner = m.dims.back().count;
    return element / inner * stride + element % inner;
}

std::optional<uint64_t> elementAt(const Member& m, uint64_t position) {
    const uint64_t stride = paddedRow(m);
    uint64_t element = position;
    if (stride != 0) {
        const uint64_t inner = m.dims.back().count;
        if (position % stride >= inner) return std::nullopt;
        element = position / stride * inner + position % stride;
    }
    if (element >= m.elementCount()) return std::nullopt;
    return element;
}

Program Program::fromJson(std::string_view text) {
    json doc;
    try {
        doc = json::parse(text.begin(), text.end());
    } catch (const json::exception& e) {
        // Not only syntax errors: a number too large for any JSON number
        // type (1e400) is refused with an out_of_range error.
        throw ProgramError(std::string("not JSON: ") + e.what());
    }
    Program p;
    for (size_t i = 0; i < p.areas.size(); ++i) {
        const s7_area& area = s7_memory_areas[i];
        p.areas[i].name = area.name;
        p.areas[i].number = area.code;
        p.areas[i].objectId = area.code;
        p.areas[i].typeInfoId = area.type_info_id;
    }
    try {
        Loader(p).load(doc);
    } catch (const json::exception& e) {
        throw ProgramError(e.what());
    }
    return p;
}

Program Program::fromFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ProgramError(path + ": cannot be read");
    std::stringstream s;
    s << in.rdbuf();
    try {
        return fromJson(s.str());
    } catch (const ProgramError& e) {
        throw ProgramError(path + ": " + e.what());
    }
}

namespace {

Program emptyGenerated() {
    Program p = Program::fromJson("{}");
    p.plcType = "CPU 1518-4 PN/DP (generated)";
    return p;
}

Block generatedBlock(std::string name, uint32_t number) {
    Block block;
    block.name = std::move(name);
    block.number = number;
    block.objectId = S7_BROWSE_DATABLOCK_ID_BASE + number;
    block.typeInfoId = kBlockTypeInfoBase + number;
    return block;
}

// The i-th (0-based) elementary member of a generated list: a mix of the
// common types, every 16th a sine.
Member generatedTag(std::string name, uint32_t i) {
    static const uint8_t kCycle[] = {S7_DATATYPE_BOOL, S7_DATATYPE_INT,   S7_DATATYPE_DINT,  S7_DATATYPE_REAL,
                                     S7_DATATYPE_WORD, S7_DATATYPE_LREAL, S7_DATATYPE_UDINT, S7_DATATYPE_BYTE};
    Member m;
    m.name = std::move(name);
    m.id = kFirstMemberId + i;
    m.datatype = kCycle[i % std::size(kCycle)];
    if (i % 16 == 3) {
        m.generator.kind = Generator::Kind::Sine;
        m.generator.a = 100;
        m.generator.periodMs = 10000;
    }
    return m;
}

// The product of `depth` array sizes, the first `larger` of them f + 1 and
// the rest f; `limit` + 1 once it passes `limit`.
uint64_t arrayProduct(uint64_t f, uint32_t depth, uint32_t larger, uint64_t limit) {
    uint64_t p = 1;
    for (uint32_t i = 0; i < depth; ++i) {
        const uint64_t size = i < larger ? f + 1 : f;
        if (p > limit / size) return limit + 1;
        p *= size;
    }
    return p;
}

}  // namespace

Program Program::generated(uint32_t blocks, uint32_t members) {
    if (blocks > kMaxBlockNumber) throw ProgramError("--generate: at most 59999 blocks");
    if (members == 0 || members > 65535) throw ProgramError("--generate: 1 to 65535 members per block");
    if (uint64_t{blocks} * members > kMaxGeneratedMembers) {
        throw ProgramError("--generate: at most " + std::to_string(kMaxGeneratedMembers) + " members in all");
    }
    Program p = emptyGenerated();
    // Every member is one symbol.
    p.blocks.reserve(blocks);
    for (uint32_t b = 1; b <= blocks; ++b) {
        Block block = generatedBlock("GenDB" + std::to_string(b), b);
        block.members.reserve(members);
        for (uint32_t i = 0; i < members; ++i) block.members.push_back(generatedTag("Tag" + std::to_string(i + 1), i));
        p.blocks.push_back(std::move(block));
    }
    return p;
}

Program Program::generatedArray(uint32_t elements) {
    if (elements == 0 || elements > kMaxElements) {
        throw ProgramError("--generate array: 1 to " + std::to_string(kMaxElements) + " elements");
    }
    Program p = emptyGenerated();
    Block block = generatedBlock("ArrayDB", 1);
    Member values;
    values.name = "Values";
    values.id = kFirstMemberId;
    values.datatype = S7_DATATYPE_DINT;
    values.dims = {Dim{0, elements}};
    // Each element reads its own number, so that a reader sees which one an
    // address reached.
    values.generator.kind = Generator::Kind::Index;
    block.members.push_back(std::move(values));
    p.blocks.push_back(std::move(block));
    return p;
}

Program Program::generatedDeep(uint32_t symbols, uint32_t depth) {
    if (symbols == 0 || symbols > kMaxGeneratedSymbols) {
        throw ProgramError("--generate deep: 1 to " + std::to_string(kMaxGeneratedSymbols) + " symbols");
    }
    if (depth == 0 || depth > kMaxStructureDepth) {
        throw ProgramError("--generate deep: a depth of 1 to " + std::to_string(kMaxStructureDepth));
    }
    // symbols = (product of the array sizes) * leaves. The arrays are as
    // large as they can be with at least kDeepLeaves leaves: sizes f and
    // f + 1, the larger ones outermost, so that consecutive products differ
    // by a factor of at most 2 and the leaves number kDeepLeaves to
    // 2 * kDeepLeaves. Fewer symbols than kDeepLeaves all go into one chain
    // of single structures.
    const uint64_t most = symbols / kDeepLeaves;
    uint64_t f = 1;
    while (arrayProduct(f + 1, depth, 0, most) <= most) ++f;
    uint32_t larger = 0;
    while (larger < depth && arrayProduct(f, depth, larger + 1, most) <= most) ++larger;
    const uint64_t product = arrayProduct(f, depth, larger, std::numeric_limits<uint64_t>::max());
    const auto leaves = static_cast<uint32_t>((symbols + product / 2) / product);

    Program p = emptyGenerated();
    // Types may use only the types before them: the bottom one comes first.
    // Level<i> holds the members of the elements of L<i>.
    auto level = [&](uint32_t i) { return static_cast<int>(depth - i); };
    auto arrayOf = [&](uint32_t i) {
        Member m;
        m.name = "L" + std::to_string(i);
        m.id = kFirstMemberId;
        m.datatype = S7_DATATYPE_STRUCT;
        m.udt = level(i);
        m.dims = {Dim{0, static_cast<uint32_t>(i <= larger ? f + 1 : f)}};
        return m;
    };
    for (uint32_t i = depth; i >= 1; --i) {
        Udt t;
        t.name = "Level" + std::to_string(i);
        t.typeInfoId = kUdtTypeInfoBase + static_cast<uint32_t>(p.types.size()) + 1;
        if (i == depth) {
            t.members.reserve(leaves);
            for (uint32_t n = 0; n < leaves; ++n) t.members.push_back(generatedTag("V" + std::to_string(n + 1), n));
        } else {
            t.members.push_back(arrayOf(i + 1));
        }
        p.types.push_back(std::move(t));
    }
    Block block = generatedBlock("DeepDB", 1);
    block.members.push_back(arrayOf(1));
    p.blocks.push_back(std::move(block));
    return p;
}

Program Program::generated(const GeneratedShape& shape) {
    switch (shape.kind) {
    case GeneratedShape::Kind::Blocks: return generated(shape.first, shape.second);
    case GeneratedShape::Kind::Array: return generatedArray(shape.first);
    case GeneratedShape::Kind::Deep: return generatedDeep(shape.first, shape.second);
    }
    throw ProgramError("--generate: no such shape");
}

GeneratedShape GeneratedShape::parse(std::string_view text) {
    // A number of decimal digits that fits 32 bits, and nothing else.
    auto number = [](std::string_view digits, uint32_t& out) {
        if (digits.empty() || digits.size() > 10) return false;
        uint64_t v = 0;
        for (const char c : digits) {
            if (c < '0' || c > '9') return false;
            v = v * 10 + static_cast<uint64_t>(c - '0');
        }
        if (v > 0xFFFFFFFFu) return false;
        out = static_cast<uint32_t>(v);
        return true;
    };
    auto pair = [&](std::string_view rest, GeneratedShape& shape) {
        const size_t comma = rest.find(',');
        return comma != std::string_view::npos && number(rest.substr(0, comma), shape.first) &&
               number(rest.substr(comma + 1), shape.second);
    };
    GeneratedShape shape;
    const size_t colon = text.find(':');
    const std::string_view form = colon == std::string_view::npos ? std::string_view() : text.substr(0, colon);
    const std::string_view rest = colon == std::string_view::npos ? text : text.substr(colon + 1);
    bool ok = false;
    if (colon == std::string_view::npos || form == "blocks") {
        shape.kind = Kind::Blocks;
        ok = pair(rest, shape);
    } else if (form == "array") {
        shape.kind = Kind::Array;
        ok = number(rest, shape.first);
    } else if (form == "deep") {
        shape.kind = Kind::Deep;
        ok = pair(rest, shape);
    }
    if (!ok) {
        throw ProgramError(
            "--generate takes BLOCKS,MEMBERS, blocks:BLOCKS,MEMBERS, array:ELEMENTS or deep:SYMBOLS,DEPTH, for "
            "example 200,500 or array:1000000");
    }
    return shape;
}

const Block* Program::findBlock(uint32_t objectId) const {
    if (objectId >= S7_BROWSE_DATABLOCK_ID_BASE) {
        // Blocks are usually in number order; fall back to a scan.
        const uint32_t number = objectId - S7_BROWSE_DATABLOCK_ID_BASE;
        if (number >= 1 && number <= blocks.size() && blocks[number - 1].objectId == objectId) {
            return &blocks[number - 1];
        }
        for (const Block& b : blocks) {
            if (b.objectId == objectId) return &b;
        }
        return nullptr;
    }
    for (const Block& a : areas) {
        if (a.objectId == objectId) return &a;
    }
    return nullptr;
}

const Udt* Program::findType(uint32_t typeInfoId) const {
    for (const Udt& t : types) {
        if (t.typeInfoId == typeInfoId) return &t;
    }
    return nullptr;
}

std::optional<Leaf> Program::resolve(const Block& block, const uint32_t* path, uint32_t count) const {
    constexpr uint64_t kPrime = 1099511628211ull;
    const std::vector<Member>* members = &block.members;
    uint64_t seed = 1469598103934665603ull ^ block.objectId;
    uint32_t i = 0;
    // Types contain only types defined before them, so every step goes one
    // level down; the bound only guards against a bug.
    for (int depth = 0; depth < 64; ++depth) {
        if (i >= count) return std::nullopt;
        const uint32_t id = path[i++];
        seed = (seed ^ id) * kPrime;
        if (id < kFirstMemberId || id - kFirstMemberId >= members->size()) return std::nullopt;
        const Member& m = (*members)[id - kFirstMemberId];
        uint64_t element = 0;
        if (m.isArray()) {
            if (i >= count) return std::nullopt;
            const std::optional<uint64_t> e = elementAt(m, path[i]);
            if (!e) return std::nullopt;
            element = *e;
            seed = (seed ^ path[i++]) * kPrime;
        }
        if (m.isStruct()) {
            // An element of an array of structures is entered through 1.
            if (m.isArray() && (i >= count || path[i++] != 1)) return std::nullopt;
            members = &types[static_cast<size_t>(m.udt)].members;
            continue;
        }
        if (i != count) return std::nullopt;
        return Leaf{&m, element, seed};
    }
    return std::nullopt;
}

uint64_t Program::symbolCount() const {
    uint64_t n = 0;
    for (const Block& b : blocks) n += countSymbols(*this, b.members);
    for (const Block& a : areas) n += countSymbols(*this, a.members);
    return n;
}

ValuePtr makeValue(const Leaf& leaf, int64_t nowMs) {
    const Member& m = *leaf.member;
    const DataType* dt = findDataType(m.datatype);
    Scalar s;
    if (m.generator.kind != Generator::Kind::None) {
        const double g = m.generator.at(nowMs, leaf.seed) +
                         (m.generator.kind == Generator::Kind::Index ? static_cast<double>(leaf.element) : 0);
        int64_t lo = 0;
        uint64_t hi = 0;
        if (integerRange(dt->wireType, lo, hi)) {
            s.kind = Scalar::Kind::Int;
            s.i = toInteger(g);
        } else {
            s.kind = Scalar::Kind::Float;
            s.f = g;
        }
    } else if (!m.values.empty()) {
        s = m.values.size() == 1 ? m.values.front() : m.values[static_cast<size_t>(leaf.element)];
    }
    const double f = s.kind == Scalar::Kind::Float  ? s.f
                     : s.kind == Scalar::Kind::UInt ? static_cast<double>(s.u)
                                                    : static_cast<double>(s.i);
    const int64_t i = s.kind == Scalar::Kind::Float  ? toInteger(s.f)
                      : s.kind == Scalar::Kind::UInt ? static_cast<int64_t>(s.u)
                      : s.kind == Scalar::Kind::Text ? (s.text.empty() ? 0 : static_cast<unsigned char>(s.text[0]))
                                                     : s.i;
    const uint64_t w = wrapped(i, dt->wireType);
    s7_value* v = nullptr;
    if (m.datatype == S7_DATATYPE_STRING) {
        return controllerString(s.text, m.capacity);
    }
    switch (dt->wireType) {
    case S7_TYPE_BOOL: v = s7_value_new_bool(i != 0 ? 1 : 0); break;
    case S7_TYPE_U8: v = s7_value_new_u8(static_cast<uint8_t>(w)); break;
    case S7_TYPE_U16: v = s7_value_new_u16(static_cast<uint16_t>(w)); break;
    case S7_TYPE_U32: v = s7_value_new_u32(static_cast<uint32_t>(w)); break;
    case S7_TYPE_U64: v = s7_value_new_u64(w); break;
    case S7_TYPE_I8: v = s7_value_new_i8(static_cast<int8_t>(w)); break;
    case S7_TYPE_I16: v = s7_value_new_i16(static_cast<int16_t>(w)); break;
    case S7_TYPE_I32: v = s7_value_new_i32(static_cast<int32_t>(w)); break;
    case S7_TYPE_I64: v = s7_value_new_i64(static_cast<int64_t>(w)); break;
    case S7_TYPE_BITS8: v = s7_value_new_bits8(static_cast<uint8_t>(w)); break;
    case S7_TYPE_BITS16: v = s7_value_new_bits16(static_cast<uint16_t>(w)); break;
    case S7_TYPE_BITS32: v = s7_value_new_bits32(static_cast<uint32_t>(w)); break;
    case S7_TYPE_BITS64: v = s7_value_new_bits64(w); break;
    case S7_TYPE_F32: v = s7_value_new_f32(static_cast<float>(f)); break;
    case S7_TYPE_F64: v = s7_value_new_f64(f); break;
    case S7_TYPE_U64_ALT: v = s7_value_new_u64_alt(w); break;
    case S7_TYPE_I64_ALT: v = s7_value_new_i64_alt(static_cast<int64_t>(w)); break;
    case S7_TYPE_STRING: v = s7_value_new_string(s.text.data(), static_cast<uint32_t>(s.text.size())); break;
    case S7_TYPE_BLOB: {
        // Without a value: the first day either layout holds.
        const std::string bytes =
            !s.text.empty() ? s.text
                            : dateTimeBlock(m.datatype, m.datatype == S7_DATATYPE_DTL ? "1970-01-01-00:00:00"
                                                                                      : "1990-01-01-00:00:00");
        v = s7_value_new_blob(bytes.data(), static_cast<uint32_t>(bytes.size()));
        break;
    }
    default: break;
    }
    if (v == nullptr) throw std::bad_alloc();
    return ValuePtr(v);
}

}  // namespace vemo::sim

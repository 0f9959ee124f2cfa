// Shows a decoded value the way the inspector and vemo-s7 do: its text in
// every display format for two data types taken from the input, and the
// read, browse and block outputs of vemo-s7 in JSON and CSV around it.
//
// Input: data type A, data type B, a flags byte (bit 0-2: the display
// format, 7 none; bit 3: with a time stamp), the length of a variable name,
// the name's bytes, then the value in the form of the value codec (what
// does not decode is shown as a missing value).
//
// Checked: a mismatch is the mismatch text in every format; a format the
// data type does not offer gives the default format's text; integer texts
// are decimal numbers of 64 bits, reals read back, BOOLs are true or false;
// a DATE_AND_TIME as a 64-bit integer shows what the BLOB of its bytes does;
// every text not made of a string's own bytes is UTF-8; the JSON output
// parses and holds what was shown; the CSV output splits, after unquoting,
// into rows of the right number of fields holding exactly what was shown.
#include "Output.h"
#include "vemo/core/ValueFormat.h"

#include "s7_value_codec.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

using vemo::DisplayFormat;
using vemo::ReadValue;
using vemo::ValueKind;
using vemo::ValueText;

constexpr DisplayFormat kAllFormats[] = {DisplayFormat::Iec, DisplayFormat::Dec,    DisplayFormat::Hex,
                                         DisplayFormat::Bin, DisplayFormat::Signed, DisplayFormat::Unsigned,
                                         DisplayFormat::Char};

void require(bool condition) {
    if (!condition) std::abort();
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool validUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<uint8_t>(s[i]);
        size_t n = 0;
        uint32_t cp = 0;
        if (b < 0x80) {
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) {
            n = 1;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            n = 2;
            cp = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            n = 3;
            cp = b & 0x07;
        } else {
            return false;
        }
        if (i + n >= s.size()) return false;
        for (size_t k = 1; k <= n; ++k) {
            const auto c = static_cast<uint8_t>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = cp << 6 | (c & 0x3F);
        }
        if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += n + 1;
    }
    return true;
}

// The text's own promise, by its kind.
void checkKind(const ValueText& t) {
    switch (t.kind) {
    case ValueKind::Empty: require(t.text.empty()); break;
    case ValueKind::Bool: require(t.text == "true" || t.text == "false"); break;
    case ValueKind::Integer: {
        const char* first = t.text.data();
        const char* last = first + t.text.size();
        std::from_chars_result r{};
        if (!t.text.empty() && t.text.front() == '-') {
            int64_t v = 0;
            r = std::from_chars(first, last, v);
        } else {
            uint64_t v = 0;
            r = std::from_chars(first, last, v);
        }
        require(!t.text.empty() && r.ec == std::errc() && r.ptr == last);
        break;
    }
    case ValueKind::Real: {
        require(!t.text.empty());
        char* end = nullptr;
        std::strtod(t.text.c_str(), &end);
        require(end == t.text.c_str() + t.text.size());
        break;
    }
    case ValueKind::Text:
    case ValueKind::Mismatch: break;
    }
}

// Splits CSV text (CRLF rows, RFC 4180 quoting) into rows of unquoted
// fields; nullopt for text that is no such CSV.
std::optional<std::vector<std::vector<std::string>>> parseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    size_t i = 0;
    while (i < text.size()) {
        std::string field;
        if (text[i] == '"') {
            ++i;
            for (;;) {
                if (i >= text.size()) return std::nullopt;
                if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += text[i++];
            }
        } else {
            while (i < text.size() && text[i] != ',' && text[i] != '\r') {
                if (text[i] == '"' || text[i] == '\n') return std::nullopt;
                field += text[i++];
            }
        }
        row.push_back(std::move(field));
        if (i < text.size() && text[i] == ',') {
            ++i;
            if (i == text.size()) return std::nullopt;
            continue;
        }
        if (text.compare(i, 2, "\r\n") != 0) return std::nullopt;
        i += 2;
        rows.push_back(std::move(row));
        row.clear();
    }
    return rows;
}

struct Shown {
    std::string name;
    uint8_t datatype;
    ValueText dec;
    std::string text;  // in the display format, as text and CSV show it
};

void checkFormats(const ReadValue& value, uint8_t datatype) {
    const auto mismatch = vemo::typeMismatch(value, datatype);
    const std::vector<DisplayFormat> offered = vemo::formatsFor(datatype);
    require(!offered.empty() && vemo::defaultFormat(datatype) == offered.front());
    const ValueText byDefault = vemo::formatValue(value, datatype, offered.front());
    // Only a string's text is made of the bytes the controller sent.
    const bool rawBytes = datatype == S7_DATATYPE_STRING || value.wireType == S7_TYPE_STRING;
    for (const DisplayFormat format : kAllFormats) {
        const ValueText t = vemo::formatValue(value, datatype, format);
        checkKind(t);
        if (mismatch) {
            require(t.kind == ValueKind::Mismatch && t.text == mismatch->text());
            continue;
        }
        require(t.kind != ValueKind::Mismatch);
        if (format != DisplayFormat::Dec && std::find(offered.begin(), offered.end(), format) == offered.end()) {
            require(t.text == byDefault.text && t.kind == byDefault.kind);
        }
        if (!rawBytes) require(validUtf8(t.text));
        require(vemo::displayFormatByName(vemo::displayFormatName(format)) == format);
    }
}

// A DATE_AND_TIME that came as one 64-bit integer shows, in every format,
// what the BLOB of its eight bytes (the first the most significant) shows.
void checkByteBlockForms(const ReadValue& value, uint8_t datatype) {
    const uint8_t type = value.wireType;
    const bool wide = type == S7_TYPE_U64 || type == S7_TYPE_I64 || type == S7_TYPE_BITS64 || type == S7_TYPE_U64_ALT ||
                      type == S7_TYPE_I64_ALT;
    if (datatype != S7_DATATYPE_DATE_AND_TIME || !wide || vemo::typeMismatch(value, datatype)) return;
    ReadValue block;
    block.present = true;
    block.wireType = S7_TYPE_BLOB;
    for (int shift = 56; shift >= 0; shift -= 8) block.bytes += static_cast<char>((value.bits >> shift) & 0xFF);
    for (const DisplayFormat format : kAllFormats) {
        const ValueText shown = vemo::formatValue(value, datatype, format);
        const ValueText asBlock = vemo::formatValue(block, datatype, format);
        require(shown.text == asBlock.text && shown.kind == asBlock.kind);
    }
}

void checkJsonRead(const std::string& out, const std::vector<Shown>& rows, bool display, const std::string& time) {
    const nlohmann::json list = nlohmann::json::parse(out);
    require(list.is_array() && list.size() == rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const nlohmann::json& item = list[i];
        const Shown& r = rows[i];
        if (validUtf8(r.name)) require(item.at("name") == r.name);
        require(item.at("datatype") == s7_datatype_name(r.datatype));
        require(item.contains("text") == display && item.contains("time") == !time.empty());
        if (display && validUtf8(r.text)) require(item.at("text") == r.text);
        const nlohmann::json& v = item.at("value");
        switch (r.dec.kind) {
        case ValueKind::Empty:
        case ValueKind::Mismatch: require(v.is_null()); break;
        case ValueKind::Bool: require(v.is_boolean() && v.get<bool>() == (r.dec.text == "true")); break;
        case ValueKind::Integer: require(v.is_number_integer() && v.dump() == r.dec.text); break;
        case ValueKind::Real: {
            const double number = std::strtod(r.dec.text.c_str(), nullptr);
            if (std::isfinite(number)) {
                require(v.is_number() && v.get<double>() == number);
            } else {
                require(v == r.dec.text);
            }
            break;
        }
        case ValueKind::Text:
            require(v.is_string());
            if (validUtf8(r.dec.text)) require(v == r.dec.text);
            break;
        }
    }
}

void checkCsvRead(const std::string& out, const std::vector<Shown>& rows, const std::string& time) {
    const auto parsed = parseCsv(out);
    require(parsed.has_value() && parsed->size() == rows.size() + 1);
    const size_t fields = time.empty() ? 3 : 4;
    for (size_t i = 0; i < parsed->size(); ++i) {
        const std::vector<std::string>& row = (*parsed)[i];
        require(row.size() == fields);
        if (i == 0) continue;
        const Shown& r = rows[i - 1];
        const size_t at = time.empty() ? 0 : 1;
        if (!time.empty()) require(row[0] == time);
        require(row[at] == r.name && row[at + 1] == s7_datatype_name(r.datatype) && row[at + 2] == r.text);
    }
}

// The browse and block listings carry names from the controller as well.
void checkListings(const std::string& name, uint8_t datatype) {
    const std::vector<vemo::cli::Variable> variables = {{name, name + ".x", datatype, 0x8A0E0001u, 2550, {10, 3}},
                                                        {"", name, 0, 0, 0, {}}};
    const std::vector<vemo::cli::Block> blocks = {{1, name, 0x8A0E0001u, 0x91000001u}};
    using vemo::cli::Format;
    const nlohmann::json browse = nlohmann::json::parse(vemo::cli::formatBrowse(Format::Json, variables));
    require(browse.is_array() && browse.size() == variables.size());
    require(nlohmann::json::parse(vemo::cli::formatBlocks(Format::Json, blocks)).size() == blocks.size());
    const auto browseCsv = parseCsv(vemo::cli::formatBrowse(Format::Csv, variables));
    require(browseCsv && browseCsv->size() == variables.size() + 1);
    for (const auto& row : *browseCsv) require(row.size() == 7);
    require((*browseCsv)[1][1] == name + ".x" && (*browseCsv)[1][6] == "10,3");
    const auto blocksCsv = parseCsv(vemo::cli::formatBlocks(Format::Csv, blocks));
    require(blocksCsv && blocksCsv->size() == 2 && (*blocksCsv)[1].size() == 4 && (*blocksCsv)[1][1] == name);
    vemo::cli::formatBrowse(Format::Text, variables);
    vemo::cli::formatBlocks(Format::Text, blocks);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) {
        return 0;
    }
    const uint8_t datatypes[2] = {data[0], data[1]};
    const uint8_t flags = data[2];
    const size_t nameLength = std::min<size_t>(data[3], size - 4);
    const std::string name(reinterpret_cast<const char*>(data + 4), nameLength);
    std::vector<uint8_t> rest(data + 4 + nameLength, data + size);
    s7_cursor c{rest.data(), rest.data() + rest.size()};
    s7_value* decoded = nullptr;
    if (s7_decode_value(&c, &decoded) != S7_STATUS_OK) {
        decoded = nullptr;
    }
    const ReadValue value = ReadValue::of(decoded);
    s7_value_free(decoded);

    const std::optional<DisplayFormat> display =
        (flags & 7) == 7 ? std::nullopt : std::optional<DisplayFormat>(kAllFormats[flags & 7]);
    const std::string time = (flags & 8) != 0 ? "2026-12-10 04:20:01.123" : "";

    std::vector<vemo::cli::Variable> variables;
    std::vector<ReadValue> values;
    std::vector<Shown> rows;
    for (const uint8_t datatype : datatypes) {
        checkFormats(value, datatype);
        checkByteBlockForms(value, datatype);
        variables.push_back({"DB", name, datatype, 0, 0, {}});
        values.push_back(value);
        rows.push_back({name, datatype, vemo::formatValue(value, datatype, DisplayFormat::Dec),
                        vemo::formatValue(value, datatype, display.value_or(DisplayFormat::Dec)).text});
    }
    using vemo::cli::Format;
    checkJsonRead(vemo::cli::formatRead(Format::Json, variables, values, time, true, display), rows,
                  display.has_value(), time);
    checkCsvRead(vemo::cli::formatRead(Format::Csv, variables, values, time, true, display), rows, time);
    vemo::cli::formatRead(Format::Text, variables, values, time, true, display);
    checkListings(name, datatypes[0]);
    return 0;
}

#include "Output.h"

#include <vemo/s7datatype.h>

#include <fmt/format.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>

namespace vemo::cli {

namespace {

std::string typeName(uint8_t datatype) { return s7_datatype_name(datatype); }

std::string pathText(const std::vector<uint32_t>& path) {
    std::string text;
    for (uint32_t id : path) {
        if (!text.empty()) text += ',';
        text += std::to_string(id);
    }
    return text;
}

// Text tables: left-aligned columns as wide as their widest cell.
std::string table(const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line += i + 1 < row.size() ? fmt::format("{:<{}}  ", row[i], widths[i]) : row[i];
        }
        out += line + "\n";
    }
    return out;
}

}  // namespace

std::string dumpJson(const nlohmann::json& json) {
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string formatInfo(Format format, const std::string& plcType, uint32_t maxReadItems,
                       const std::string& fingerprint) {
    const std::string items = std::to_string(maxReadItems);
    switch (format) {
    case Format::Json:
        return dumpJson({{"plc_type", plcType}, {"max_read_items", maxReadItems}, {"fingerprint", fingerprint}}) + "\n";
    case Format::Csv:
        return csvLine({"plc_type", "max_read_items", "fingerprint"}) + csvLine({plcType, items, fingerprint});
    case Format::Text: break;
    }
    return table({{"PLC type:", plcType}, {"Max read items:", items}, {"Fingerprint:", fingerprint}});
}

std::string formatBlocks(Format format, const std::vector<Block>& blocks) {
    if (format == Format::Json) {
        nlohmann::json list = nlohmann::json::array();
        for (const Block& b : blocks) {
            list.push_back(
                {{"number", b.number}, {"name", b.name}, {"object_id", b.objectId}, {"type_info_id", b.typeInfoId}});
        }
        return dumpJson(list) + "\n";
    }
    if (format == Format::Csv) {
        std::string out = csvLine({"number", "name", "object_id", "type_info_id"});
        for (const Block& b : blocks) {
            out +=
                csvLine({std::to_string(b.number), b.name, std::to_string(b.objectId), std::to_string(b.typeInfoId)});
        }
        return out;
    }
    std::vector<std::vector<std::string>> rows = {{"NUMBER", "NAME", "OBJECT ID", "TYPE INFO ID"}};
    for (const Block& b : blocks) {
        rows.push_back({std::to_string(b.number), b.name, fmt::format("0x{:08X}", b.objectId),
                        fmt::format("0x{:08X}", b.typeInfoId)});
    }
    return table(rows);
}

std::string formatBrowse(Format format, const std::vector<Variable>& variables) {
    if (format == Format::Json) {
        nlohmann::json list = nlohmann::json::array();
        for (const Variable& v : variables) {
            list.push_back(
                {{"block", v.block},
                 {"name", v.name},
                 {"datatype", typeName(v.datatype)},
                 {"datatype_id", v.datatype},
                 {"address", {{"object_id", v.objectId}, {"attribute_id", v.attributeId}, {"path", v.path}}}});
        }
        return dumpJson(list) + "\n";
    }
    if (format == Format::Csv) {
        std::string out = csvLine({"block", "name", "datatype", "datatype_id", "object_id", "attribute_id", "path"});
        for (const Variable& v : variables) {
            out += csvLine({v.block, v.name, typeName(v.datatype), std::to_string(v.datatype),
                            std::to_string(v.objectId), std::to_string(v.attributeId), pathText(v.path)});
        }
        return out;
    }
    std::vector<std::vector<std::string>> rows = {{"NAME", "TYPE", "ADDRESS"}};
    for (const Variable& v : variables) {
        rows.push_back(
            {v.name, typeName(v.datatype), itemAddressText(v.objectId, v.attributeId, v.path)});
    }
    return table(rows);
}

nlohmann::json jsonValue(const ValueText& value) {
    switch (value.kind) {
    case ValueKind::Empty: return nullptr;
    // The text names what the controller sent instead of a value; no JSON
    // value may stand in for it.
    case ValueKind::Mismatch: return nullptr;
    case ValueKind::Bool: return value.text == "true";
    case ValueKind::Text: return value.text;
    case ValueKind::Integer: {
        // The text is describeValue's decimal form of a 64-bit integer.
        if (value.text.front() == '-') {
            return std::stoll(value.text);
        }
        return std::stoull(value.text);
    }
    case ValueKind::Real: {
        const double number = std::strtod(value.text.c_str(), nullptr);
        if (!std::isfinite(number)) {
            return value.text;
        }
        return number;
    }
    }
    return nullptr;
}

std::string formatRead(Format format, const std::vector<Variable>& variables, const std::vector<ReadValue>& values,
                       const std::string& time, bool header, std::optional<DisplayFormat> display) {
    const auto shown = [&](size_t i) {
        return formatValue(values[i], variables[i].datatype, display.value_or(DisplayFormat::Dec)).text;
    };
    if (format == Format::Json) {
        nlohmann::json list = nlohmann::json::array();
        for (size_t i = 0; i < variables.size(); ++i) {
            nlohmann::json item = {
                {"name", variables[i].name},
                {"datatype", typeName(variables[i].datatype)},
                {"value", jsonValue(formatValue(values[i], variables[i].datatype, DisplayFormat::Dec))}};
            if (display) {
                item["text"] = shown(i);
            }
            if (!time.empty()) {
                item["time"] = time;
            }
            list.push_back(std::move(item));
        }
        return dumpJson(list) + "\n";
    }
    if (format == Format::Csv) {
        std::string out;
        if (header) {
            out +=
                time.empty() ? csvLine({"name", "datatype", "value"}) : csvLine({"time", "name", "datatype", "value"});
        }
        for (size_t i = 0; i < variables.size(); ++i) {
            std::vector<std::string> fields = {variables[i].name, typeName(variables[i].datatype), shown(i)};
            if (!time.empty()) {
                fields.insert(fields.begin(), time);
            }
            out += csvLine(fields);
        }
        return out;
    }
    std::vector<std::vector<std::string>> rows;
    for (size_t i = 0; i < variables.size(); ++i) {
        std::vector<std::string> row = {variables[i].name, typeName(variables[i].datatype), shown(i)};
        if (!time.empty()) {
            row.insert(row.begin(), time);
        }
        rows.push_back(std::move(row));
    }
    return table(rows);
}

std::string localTimestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
    return fmt::format("{}.{:03}", buf, ms);
}

}  // namespace vemo::cli

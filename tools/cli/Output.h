// Formatting of the tool's results as text, JSON or CSV.
#pragma once

#include "PlcSession.h"
#include "vemo/core/Csv.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace vemo::cli {

enum class Format { Text, Json, Csv };

// CSV fields and lines per RFC 4180, shared with the program's export.
using vemo::csvField;
using vemo::csvLine;

// JSON text with invalid UTF-8 replaced by U+FFFD rather than refused: the
// names and strings come from the controller.
std::string dumpJson(const nlohmann::json& json);

// The controller's type, item limit and key fingerprint ("SHA256:...").
std::string formatInfo(Format format, const std::string& plcType, uint32_t maxReadItems,
                       const std::string& fingerprint);
std::string formatBlocks(Format format, const std::vector<Block>& blocks);
std::string formatBrowse(Format format, const std::vector<Variable>& variables);

// A read value as JSON: integers and finite reals as numbers (reals keep the
// shortest text that reads back as the same value), BOOL as true/false,
// texts as strings, infinities and NaN as the strings "inf", "-inf", "nan",
// and a value without a text form, or one that does not fit its data type,
// as null.
nlohmann::json jsonValue(const ValueText& value);

// One read round. `time` is empty outside --watch; with it, every line or
// element carries the time stamp. `header` asks for the CSV header line.
// Text and CSV show each value in `display` (decimal without it, as a data
// type without that format does); JSON keeps the typed decimal value and,
// with `display`, adds that format's text as "text".
std::string formatRead(Format format, const std::vector<Variable>& variables, const std::vector<ReadValue>& values,
                       const std::string& time, bool header, std::optional<DisplayFormat> display = std::nullopt);

// Local time with milliseconds: "2026-12-10 04:20:01.123".
std::string localTimestamp();

}  // namespace vemo::cli

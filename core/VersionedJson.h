// The program's own JSON files (the known controllers, the settings, the
// watch lists) are one object each with a format "version" number. Private
// to the core: nlohmann-json is not part of its interface.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>

namespace vemo {

// The object of `file`'s text in format version `current`. Throws
// UserFileError naming the file: TooNew for a newer version, which this
// program would misread, and Damaged for text that is not JSON, not an
// object, without a version number or of an unknown older version.
nlohmann::ordered_json parseVersionedJson(const std::filesystem::path& file, const std::string& text, int current);

}  // namespace vemo

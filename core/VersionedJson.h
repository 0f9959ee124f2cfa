// The program's own JSON files (the known controllers, the settings, the
// watch lists) are one object each with a format "version" number. Private
// to the core: nlohmann-json is not part of its interface.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace vemo {

// The object of `file`'s text in format version `current`. Throws
// UserFileError naming the file: TooNew for a newer version, which this
// program would misread, and Damaged for text that is not JSON (saying
// where it goes wrong), not an object, without a version number or of an
// unknown older version. Whatever the parser objects to - a number too
// large for a double included - is such an error, never the parser's own.
// `callback`, when given, sees the text as it is parsed, as nlohmann's
// parser callbacks do (a large file's entries can be taken out one by one
// instead of all being kept in the document).
nlohmann::ordered_json parseVersionedJson(const std::filesystem::path& file, const std::string& text, int current,
                                          const nlohmann::ordered_json::parser_callback_t& callback = nullptr);

// The document's text as the files hold it: indented by two, a line end
// after it. A text that is not UTF-8 cannot be put in JSON as it is; the
// fields that may hold one are written with putExactText, and anything that
// still is not valid (which would throw here) is written with U+FFFD in its
// place rather than failing the whole file.
std::string fileText(const nlohmann::ordered_json& doc);

// Sets `object[field]` to `value`. Names come from a controller or the
// file system, and either may hand out bytes that are not UTF-8, which JSON
// cannot hold: such a value is written as `field` with U+FFFD for each byte
// that is not UTF-8 (for a person, and for a program that knows nothing
// else) and, byte for byte, as `field` + "Bytes" in hexadecimal, which
// readExactText prefers. A valid value is written as `field` alone.
void putExactText(nlohmann::ordered_json& object, const char* field, const std::string& value);

// What putExactText wrote to `object[field]`: the bytes of `field` +
// "Bytes" when it is there, else the text of `field`; nullopt when `field`
// is missing or is not a text. `bad(what)` is called (and must throw) for a
// "Bytes" field that is not an even number of hexadecimal digits.
std::optional<std::string> readExactText(const nlohmann::ordered_json& object, const char* field,
                                         const std::function<void(const std::string&)>& bad);

}  // namespace vemo

#include "vemo/core/SymbolPath.h"

namespace vemo {

namespace {

// ASCII-only folding: the search must not depend on the process locale,
// and a byte of a multi-byte character must never match a letter.
char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::vector<std::string> splitSymbolPath(std::string_view text) {
    std::vector<std::string> parts;
    forEachSymbolPathComponent(text, [&](std::string_view part) { parts.emplace_back(part); });
    return parts;
}

bool containsIgnoreCase(std::string_view haystack, std::string_view needle) {
    if (needle.empty()) {
        return true;
    }
    if (needle.size() > haystack.size()) {
        return false;
    }
    for (size_t start = 0; start + needle.size() <= haystack.size(); ++start) {
        size_t k = 0;
        while (k < needle.size() && foldAscii(haystack[start + k]) == foldAscii(needle[k])) {
            ++k;
        }
        if (k == needle.size()) {
            return true;
        }
    }
    return false;
}

}  // namespace vemo

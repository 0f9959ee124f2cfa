#include "vemo/core/SymbolPath.h"

namespace vemo {

namespace {

// ASCII-only folding: the search must not depend on the process locale,
// and a byte of a multi-byte character must never match a letter.
char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::vector<std::string> splitSymbolPath(std::string_view text) {
    std::vector<std::string> parts;
    std::string current;
    auto flush = [&] {
        if (!current.empty()) {
            parts.push_back(std::move(current));
            current.clear();
        }
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.') {
            flush();
        } else if (c == '[') {
            flush();
            const size_t close = text.find(']', i + 1);
            if (close == std::string_view::npos) {
                parts.emplace_back(text.substr(i));
                return parts;
            }
            const std::string_view group = text.substr(i + 1, close - i - 1);
            size_t start = 0;
            while (start <= group.size()) {
                const size_t comma = group.find(',', start);
                const std::string_view piece =
                    group.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
                if (!piece.empty()) {
                    parts.push_back("[" + std::string(piece) + "]");
                }
                if (comma == std::string_view::npos) {
                    break;
                }
                start = comma + 1;
            }
            i = close;
        } else {
            current.push_back(c);
        }
    }
    flush();
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

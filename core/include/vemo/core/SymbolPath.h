// Symbolic names of controller variables: splitting a full name into the
// components the tree is built from, and the search box's match.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vemo {

// "a.b[1,2].d" -> a, b, [1], [2], d. A "." ends a component; an index group
// "[...]" yields one "[piece]" component per comma-separated piece; empty
// components are dropped; a "[" without a later "]" makes the rest of the
// text, from the "[" on, one component.
std::vector<std::string> splitSymbolPath(std::string_view text);

// The components of splitSymbolPath, handed to `visit` one by one without a
// string per component: the views point into `text`, or for a piece of an
// index group with commas into a buffer reused for the next piece. Building
// a tree of a million names calls this once per name.
template <typename Visit>
void forEachSymbolPathComponent(std::string_view text, Visit&& visit) {
    std::string piece;
    std::size_t start = 0;  // of the current plain component
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '.' && c != '[') continue;
        if (i > start) visit(text.substr(start, i - start));
        start = i + 1;
        if (c == '.') continue;
        const std::size_t close = text.find(']', i + 1);
        if (close == std::string_view::npos) {
            visit(text.substr(i));
            return;
        }
        const std::string_view group = text.substr(i + 1, close - i - 1);
        if (group.find(',') == std::string_view::npos) {
            if (!group.empty()) visit(text.substr(i, close - i + 1));
        } else {
            std::size_t from = 0;
            while (from <= group.size()) {
                const std::size_t comma = std::min(group.find(',', from), group.size());
                if (comma > from) {
                    piece.clear();
                    piece.push_back('[');
                    piece.append(group.data() + from, comma - from);
                    piece.push_back(']');
                    visit(std::string_view(piece));
                }
                from = comma + 1;
            }
        }
        i = close;
        start = close + 1;
    }
    if (start < text.size()) visit(text.substr(start));
}

// True when `needle` occurs in `haystack`, folding only A-Z to a-z; every
// other byte (UTF-8 included) matches only itself. An empty needle matches.
bool containsIgnoreCase(std::string_view haystack, std::string_view needle);

}  // namespace vemo

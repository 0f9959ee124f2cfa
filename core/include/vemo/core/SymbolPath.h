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

// A variable's full name as an engineer types it, turned into the form the
// browse lists it in (and the program's tree, inspector and vemo-s7 show).
// TIA Portal writes block names in double quotes, and other names too when
// they hold spaces or other special characters: "Conveyor".BeltSpeed,
// "Tank".LevelLimits[2,1], "Conveyor"."Belt Speed" are Conveyor.BeltSpeed,
// Tank.LevelLimits[2,1], Conveyor.Belt Speed. Inside quotes "" stands for
// one quote; index groups are whole numbers, spaces around them dropped. A
// text without any double quote is already in the browse's form and is
// taken as it is.
struct SymbolName {
    std::string name;   // the full name as the browse lists it
    std::string block;  // the block it lives in: its first component
    std::string error;  // why the text is no name ("the quote at character 1 is not closed"); empty for a name

    explicit operator bool() const { return error.empty(); }
};

SymbolName parseSymbolName(std::string_view text);

// True when `needle` occurs in `haystack`, folding only A-Z to a-z; every
// other byte (UTF-8 included) matches only itself. An empty needle matches.
bool containsIgnoreCase(std::string_view haystack, std::string_view needle);

}  // namespace vemo

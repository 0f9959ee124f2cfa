// Symbolic names of controller variables: splitting a full name into the
// components the tree is built from, and the search box's match.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vemo {

// "a.b[1,2].d" -> a, b, [1], [2], d. A "." ends a component; an index group
// "[...]" yields one "[piece]" component per comma-separated piece; empty
// components are dropped; a "[" without a later "]" makes the rest of the
// text, from the "[" on, one component.
std::vector<std::string> splitSymbolPath(std::string_view text);

// True when `needle` occurs in `haystack`, folding only A-Z to a-z; every
// other byte (UTF-8 included) matches only itself. An empty needle matches.
bool containsIgnoreCase(std::string_view haystack, std::string_view needle);

}  // namespace vemo

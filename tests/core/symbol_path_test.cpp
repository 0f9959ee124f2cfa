// Splitting symbolic names into tree components, and the search match.
#include "vemo/core/SymbolPath.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Parts = std::vector<std::string>;

TEST(SplitSymbolPath, Components) {
    const std::pair<const char*, Parts> cases[] = {
        {"a.b[1,2].d", {"a", "b", "[1]", "[2]", "d"}},
        {"x[3]", {"x", "[3]"}},
        {"a..b", {"a", "b"}},
        {"DB1.Values[-1]", {"DB1", "Values", "[-1]"}},
        {"m[1,2,3]", {"m", "[1]", "[2]", "[3]"}},
        {"a[1][2]", {"a", "[1]", "[2]"}},
        {"a[1", {"a", "[1"}},
        {"a.b[2.c", {"a", "b", "[2.c"}},
        {".a.", {"a"}},
        {"", {}},
        {"Motor.Ünits", {"Motor", "Ünits"}},
        {"a[]b", {"a", "b"}},
        {"q[,1,,2,].r", {"q", "[1]", "[2]", "r"}},
        {"z[7]x", {"z", "[7]", "x"}},
    };
    for (const auto& [text, parts] : cases) {
        EXPECT_EQ(vemo::splitSymbolPath(text), parts) << text;
    }
}

TEST(ContainsIgnoreCase, FoldsOnlyAsciiLetters) {
    struct Case {
        const char* haystack;
        const char* needle;
        bool expected;
    };
    const Case cases[] = {
        {"DB1.Motor.Speed", "motor", true},
        {"DB1.Motor.Speed", "MOTOR.S", true},
        {"DB1.Motor.Speed", "", true},
        {"", "", true},
        {"abc", "abcd", false},
        {"abc", "x", false},
        {"Speed", "speed", true},
        // Only A-Z fold: the two bytes of "Ä" match only themselves.
        {"\xC3\x84rger", "\xC3\xA4rger", false},
        {"\xC3\x84rger", "\xC3\x84RGER", true},
        {"[1]", "[1]", true},
        {"@", "`", false},  // neighbours of the letter ranges stay apart
        {"[", "{", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(vemo::containsIgnoreCase(c.haystack, c.needle), c.expected) << c.haystack << " / " << c.needle;
    }
}

}  // namespace

// Splitting symbolic names into tree components, reading names as engineers
// write them, and the search match.
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

// Names as engineers write them come out in the browse's form; a name
// without quotes is taken as it is, odd or not, as it always was.
TEST(ParseSymbolName, QuotedAndUnquotedNamesInTheBrowsesForm) {
    struct Case {
        const char* text;
        const char* name;
        const char* block;
    };
    const Case cases[] = {
        {"Conveyor.BeltSpeed", "Conveyor.BeltSpeed", "Conveyor"},
        {"\"Conveyor\".BeltSpeed", "Conveyor.BeltSpeed", "Conveyor"},
        {"\"Tank\".LevelLimits[2,1]", "Tank.LevelLimits[2,1]", "Tank"},
        {"\"Tank\".LevelLimits[ 2 , -1 ]", "Tank.LevelLimits[2,-1]", "Tank"},
        {"\"Tank\".\"Level Limits\"[02]", "Tank.Level Limits[2]", "Tank"},
        {"\"Conveyor\".Motors[1].Speed", "Conveyor.Motors[1].Speed", "Conveyor"},
        {"\"Conveyor\".\"Belt Speed\"", "Conveyor.Belt Speed", "Conveyor"},
        {"Conveyor.\"Belt.Speed\"", "Conveyor.Belt.Speed", "Conveyor"},
        {"\"My \"\"Best\"\" DB\".x", "My \"Best\" DB.x", "My \"Best\" DB"},
        {"\"Line 1\"", "Line 1", "Line 1"},
        {"\"Grid\".Cells[1][2]", "Grid.Cells[1][2]", "Grid"},
        {"\"\xC3\x9Cnits\".x", "\xC3\x9Cnits.x", "\xC3\x9Cnits"},
        // Without quotes nothing is changed or checked.
        {"Data.Pos[2, 1]", "Data.Pos[2, 1]", "Data"},
        {"a..b", "a..b", "a"},
        {"Motor.Belt Speed", "Motor.Belt Speed", "Motor"},
        {"Tank.L[1", "Tank.L[1", "Tank"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const vemo::SymbolName parsed = vemo::parseSymbolName(c.text);
        EXPECT_TRUE(parsed) << parsed.error;
        EXPECT_EQ(parsed.name, c.name);
        EXPECT_EQ(parsed.block, c.block);
    }
}

TEST(ParseSymbolName, MalformedQuotedNamesSayWhatIsWrongAndWhere) {
    const std::pair<const char*, const char*> cases[] = {
        {"\"Conveyor.BeltSpeed", "the quote at character 1 is not closed"},
        {"\"Conveyor\".\"Belt", "the quote at character 12 is not closed"},
        {"\"\".x", "empty quotes at character 1"},
        {"\"Conveyor\"BeltSpeed", "unexpected 'B' at character 11: a '.' or '[' must come next"},
        {"Con\"veyor\".x", "a quote at character 4 inside an unquoted part: quote the whole part"},
        {"\"Conveyor\".", "nothing after the '.' at character 11"},
        {"\"Conveyor\"..x", "a name part is missing at character 12"},
        {".\"Conveyor\"", "a name part is missing at character 1"},
        {"\"Tank\".L[2", "the '[' at character 9 is not closed"},
        {"\"Tank\".L[a]", "the index 'a' at character 10 is not a whole number"},
        {"\"Tank\".L[1,x2]", "the index 'x2' at character 12 is not a whole number"},
        {"\"Tank\".L[99999999999999999999]", "the index '99999999999999999999' at character 10 is not a whole number"},
        {"\"Tank\".L[]", "an empty index at character 10"},
        {"\"Tank\".L[1,]", "an empty index at character 12"},
        {"\"Tank\".L]", "a ']' at character 9 without its '['"},
        {"\"Tank\".L[1]x", "unexpected 'x' at character 12: a '.' or '[' must come next"},
        {"\"\xC3\x9C\"x", "unexpected 'x' at character 4: a '.' or '[' must come next"},
    };
    for (const auto& [text, error] : cases) {
        SCOPED_TRACE(text);
        const vemo::SymbolName parsed = vemo::parseSymbolName(text);
        EXPECT_FALSE(parsed);
        EXPECT_EQ(parsed.error, error);
        EXPECT_EQ(parsed.name, "") << "no name half read";
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

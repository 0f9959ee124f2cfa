// The tree's nodes without a window: how a block's symbols become nested tag
// nodes, and which nodes a search text leaves shown.
#include "Views/TreeItem.h"

#include "test_symbols.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using vemo::DatablockItem;
using vemo::TagItem;
using vemo::test::TestBlock;
using vemo::test::TestSymbol;

// One line per node, depth-first: indentation, full path, then the symbol's
// index in the list and its type name when one is attached.
void dump(const TagItem& node, const s7_symbol_list& symbols, int depth, std::string& out) {
    out += std::string(static_cast<std::size_t>(depth) * 2, ' ') + node.fullPath() + " (" + node.name() + ")";
    if (node.symbol() != nullptr) {
        out += " #" + std::to_string(node.symbol() - symbols.items) + " " + std::string(node.typeName());
    }
    out += "\n";
    for (const auto& child : node.children()) dump(*child, symbols, depth + 1, out);
}

std::string dump(const DatablockItem& block) {
    std::string out;
    for (const auto& child : block.children()) dump(*child, block.symbols(), 0, out);
    return out;
}

struct BuildCase {
    const char* rule;
    std::vector<TestSymbol> symbols;
    const char* tree;
};

TEST(DatablockItem, BuildsNestedTagNodesFromTheSymbolNames) {
    const BuildCase cases[] = {
        {"a member path makes a grouping node and a variable node",
         {{"DB1.a.b", 7}},
         "DB1.a (a)\n"
         "  DB1.a.b (b) #0 DINT\n"},
        {"array indices join the path without a point; dimensions nest",
         {{"DB1.m[1,2]", 5}, {"DB1.m[1,3]", 5}, {"DB1.x[3]", 1}},
         "DB1.m (m)\n"
         "  DB1.m[1] ([1])\n"
         "    DB1.m[1][2] ([2]) #0 INT\n"
         "    DB1.m[1][3] ([3]) #1 INT\n"
         "DB1.x (x)\n"
         "  DB1.x[3] ([3]) #2 BOOL\n"},
        {"the later of two symbols for one node stays attached", {{"DB1.v", 1}, {"DB1.v", 8}}, "DB1.v (v) #1 REAL\n"},
        {"a structure's own symbol and its members share the node",
         {{"DB1.s", 17}, {"DB1.s.f", 8}},
         "DB1.s (s) #0 STRUCT\n"
         "  DB1.s.f (f) #1 REAL\n"},
        {"children keep the order of first appearance, also when a name comes back",
         {{"DB1.b.x", 1}, {"DB1.a", 1}, {"DB1.b.y", 1}},
         "DB1.b (b)\n"
         "  DB1.b.x (x) #0 BOOL\n"
         "  DB1.b.y (y) #2 BOOL\n"
         "DB1.a (a) #1 BOOL\n"},
        {"names are compared exactly, case included",
         {{"DB1.Speed", 8}, {"DB1.speed", 8}},
         "DB1.Speed (Speed) #0 REAL\n"
         "DB1.speed (speed) #1 REAL\n"},
        {"names without anything after the block's name and separator add nothing",
         {{"DB1", 1}, {"DB1.", 1}, {"DB", 1}, {"", 1}, {"DB1..", 1}, {"DB1.ok", 1}},
         "DB1.ok (ok) #5 BOOL\n"},
    };
    for (const BuildCase& c : cases) {
        const TestBlock block("DB1");
        const vemo::TreeItemContext context;
        const DatablockItem item(&block.block, vemo::SymbolList(vemo::test::makeSymbols(c.symbols)), context);
        EXPECT_EQ(dump(item), c.tree) << c.rule;
        EXPECT_EQ(item.block(), &block.block);
    }
}

TEST(TagItem, FindOrCreateChildJoinsPathsAndReusesExistingChildren) {
    const vemo::TreeItemContext context;
    TagItem root(context, "root", "");
    TagItem& a = root.findOrCreateChild("a");
    EXPECT_EQ(a.fullPath(), "a") << "an empty path takes the name alone";
    EXPECT_EQ(&root.findOrCreateChild("a"), &a);
    EXPECT_EQ(a.findOrCreateChild("[4]").fullPath(), "a[4]");
    EXPECT_EQ(a.findOrCreateChild("b").fullPath(), "a.b");
    EXPECT_EQ(a.children().size(), 2u);
}

// Conveyor: Motors[1].Speed, Motors[1].Current, BeltSpeed, Status;
// Ärger: a member whose name starts with a non-ASCII letter.
class Filtering : public ::testing::Test {
protected:
    Filtering()
        : item_(&block_.block,
                vemo::SymbolList(vemo::test::makeSymbols({{"Conveyor.Motors[1].Speed"},
                                                          {"Conveyor.Motors[1].Current"},
                                                          {"Conveyor.BeltSpeed"},
                                                          {"Conveyor.Status"},
                                                          {"Conveyor.\xC3\x84rger"}})),
                context_) {}

    // The full paths of the shown tag nodes, depth-first.
    std::vector<std::string> shown() const {
        std::vector<std::string> out;
        std::function<void(const TagItem&)> visit = [&](const TagItem& node) {
            if (!node.isVisible()) return;
            out.push_back(node.fullPath());
            for (const auto& child : node.children()) visit(*child);
        };
        for (const auto& child : item_.children()) visit(*child);
        return out;
    }

    const TestBlock block_{"Conveyor"};
    const vemo::TreeItemContext context_;
    DatablockItem item_;
};

TEST_F(Filtering, ShowsMatchingNodesTheirAncestorsAndEverythingBelowAMatchingStructure) {
    struct Case {
        const char* filter;
        bool blockShown;
        std::vector<std::string> shown;
    };
    const std::vector<std::string> all = {
        "Conveyor.Motors",    "Conveyor.Motors[1]", "Conveyor.Motors[1].Speed", "Conveyor.Motors[1].Current",
        "Conveyor.BeltSpeed", "Conveyor.Status",    "Conveyor.\xC3\x84rger"};
    const Case cases[] = {
        {"SPEED", true, {"Conveyor.Motors", "Conveyor.Motors[1]", "Conveyor.Motors[1].Speed", "Conveyor.BeltSpeed"}},
        {"current", true, {"Conveyor.Motors", "Conveyor.Motors[1]", "Conveyor.Motors[1].Current"}},
        // The structure's name is in its members' full paths.
        {"motors",
         true,
         {"Conveyor.Motors", "Conveyor.Motors[1]", "Conveyor.Motors[1].Speed", "Conveyor.Motors[1].Current"}},
        {"[1]",
         true,
         {"Conveyor.Motors", "Conveyor.Motors[1]", "Conveyor.Motors[1].Speed", "Conveyor.Motors[1].Current"}},
        // The block's name is in every full path.
        {"conveyor.", true, all},
        {"\xC3\x84RGER", true, {"Conveyor.\xC3\x84rger"}},
        {"\xC3\xA4rger", false, {}},
        {"nothing", false, {}},
        {"", true, all},
    };
    for (const Case& c : cases) {
        item_.applyFilter(c.filter);
        EXPECT_EQ(item_.isVisible(), c.blockShown) << c.filter;
        EXPECT_EQ(shown(), c.shown) << c.filter;
    }
}

TEST_F(Filtering, ClearingTheFilterShowsEverythingAgain) {
    item_.applyFilter("nothing");
    ASSERT_FALSE(item_.isVisible());
    item_.applyFilter("");
    EXPECT_TRUE(item_.isVisible());
    EXPECT_EQ(shown().size(), 7u);
}

TEST(DatablockItemFilter, ABlockWithoutTagsIsShownOnlyWithoutAFilter) {
    const TestBlock block("S7Counters", 83);
    const vemo::TreeItemContext context;
    DatablockItem item(&block.block, vemo::SymbolList(), context);
    item.applyFilter("S7");
    EXPECT_FALSE(item.isVisible()) << "the block's own name does not count";
    item.applyFilter("");
    EXPECT_TRUE(item.isVisible());
}

}  // namespace

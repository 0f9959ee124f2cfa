// The tree's model without a window: how the blocks' symbols become nested
// nodes, finding them again by name, which nodes a search text leaves shown
// (at once or slice by slice), and the rows drawn for open nodes.
#include "Views/TreeModel.h"

#include "test_symbols.h"

#include <gtest/gtest.h>

#include <vemo/s7datatype.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace {

using vemo::TreeFilter;
using vemo::TreeModel;
using vemo::test::TestSymbol;

using Blocks = vemo::test::TestBlocks;

vemo::Catalog catalogOf(const Blocks& blocks) { return vemo::test::makeCatalog(blocks); }

// One line per node in pre-order: indentation, full path, name, then the
// symbol's object id (its index in the block's list + 1) and type name.
std::string dump(const TreeModel& model) {
    std::string out;
    for (std::uint32_t i = 0; i < model.size(); ++i) {
        out += std::string(model.depth(i) * 2, ' ') + model.fullPath(i) + " (" + std::string(model.name(i)) + ")";
        if (const s7_symbol* s = model.symbol(i)) {
            out += " #" + std::to_string(s->address.object_id - 1) + " " + s7_datatype_name(s->datatype);
        }
        out += "\n";
    }
    return out;
}

TEST(TreeModel, BuildsNestedNodesFromTheSymbolNames) {
    struct Case {
        const char* rule;
        std::vector<TestSymbol> symbols;
        const char* tree;
    };
    const Case cases[] = {
        {"a member path makes a grouping node and a variable node",
         {{"DB1.a.b", 7}},
         "DB1 (DB1)\n"
         "  DB1.a (a)\n"
         "    DB1.a.b (b) #0 DINT\n"},
        {"array indices join the path without a point; dimensions nest",
         {{"DB1.m[1,2]", 5}, {"DB1.m[1,3]", 5}, {"DB1.x[3]", 1}},
         "DB1 (DB1)\n"
         "  DB1.m (m)\n"
         "    DB1.m[1] ([1])\n"
         "      DB1.m[1][2] ([2]) #0 INT\n"
         "      DB1.m[1][3] ([3]) #1 INT\n"
         "  DB1.x (x)\n"
         "    DB1.x[3] ([3]) #2 BOOL\n"},
        {"the later of two symbols for one node stays attached",
         {{"DB1.v", 1}, {"DB1.v", 8}},
         "DB1 (DB1)\n"
         "  DB1.v (v) #1 REAL\n"},
        {"a structure's own symbol and its members share the node",
         {{"DB1.s", 17}, {"DB1.s.f", 8}},
         "DB1 (DB1)\n"
         "  DB1.s (s) #0 STRUCT\n"
         "    DB1.s.f (f) #1 REAL\n"},
        {"siblings in any order: children keep the order of first appearance, also when a name comes back",
         {{"DB1.b.x", 1}, {"DB1.a", 1}, {"DB1.c[2]", 1}, {"DB1.b.y", 1}, {"DB1.c[0]", 1}, {"DB1.a.z", 1}},
         "DB1 (DB1)\n"
         "  DB1.b (b)\n"
         "    DB1.b.x (x) #0 BOOL\n"
         "    DB1.b.y (y) #3 BOOL\n"
         "  DB1.a (a) #1 BOOL\n"
         "    DB1.a.z (z) #5 BOOL\n"
         "  DB1.c (c)\n"
         "    DB1.c[2] ([2]) #2 BOOL\n"
         "    DB1.c[0] ([0]) #4 BOOL\n"},
        {"names are compared exactly, case included",
         {{"DB1.Speed", 8}, {"DB1.speed", 8}},
         "DB1 (DB1)\n"
         "  DB1.Speed (Speed) #0 REAL\n"
         "  DB1.speed (speed) #1 REAL\n"},
        {"names without anything after the block's name and separator add nothing",
         {{"DB1", 1}, {"DB1.", 1}, {"DB", 1}, {"", 1}, {"DB1..", 1}, {"DB1.ok", 1}},
         "DB1 (DB1)\n"
         "  DB1.ok (ok) #5 BOOL\n"},
    };
    for (const Case& c : cases) {
        const TreeModel model(catalogOf({{"DB1", c.symbols}}));
        EXPECT_EQ(dump(model), c.tree) << c.rule;
        EXPECT_EQ(model.block(0), &model.blocks()[0]);
        EXPECT_EQ(model.block(1), nullptr);
    }
}

TEST(TreeModel, EveryBlockIsARootInListOrderAndFailedBrowsesHaveNone) {
    vemo::Catalog catalog = catalogOf({{"DB1", {{"DB1.a"}}}, {"Twin", {{"Twin.x"}}}, {"Twin", {{"Twin.y"}}}, {"I", {}}});
    catalog.browsed[0] = vemo::BrowsedBlock{&catalog.blocks[0], S7_ERR_TIMEOUT, {}};
    const TreeModel model(std::move(catalog));
    EXPECT_EQ(dump(model),
              "DB1 (DB1)\n"
              "Twin (Twin)\n"
              "  Twin.x (x) #0 REAL\n"
              "Twin (Twin)\n"
              "  Twin.y (y) #0 REAL\n"
              "I (I)\n");
    EXPECT_EQ(model.roots(), (std::vector<std::uint32_t>{0, 1, 3, 5}));
    EXPECT_EQ(model.block(3), &model.blocks()[2]);
    EXPECT_EQ(model.findChild(TreeModel::kNone, "Twin"), 1u) << "a name finds the first block that has it";
    EXPECT_EQ(model.symbolCount(), 2u);
}

// A block whose browse failed keeps its code, and a name the tree lacks is
// told apart: in that block (it could not be read), or just not there.
TEST(TreeModel, AFailedBlockKeepsItsBrowseCodeForItsNodeAndTheNamesInIt) {
    vemo::Catalog catalog =
        catalogOf({{"Conveyor", {{"Conveyor.a"}}}, {"Conv", {{"Conv.b"}}}, {"Tank.1", {{"Tank.1.c"}}}, {"Mixer", {}}});
    catalog.browsed[0] = vemo::BrowsedBlock{&catalog.blocks[0], S7_ERR_NO_MEMORY, {}};
    catalog.browsed[2] = vemo::BrowsedBlock{&catalog.blocks[2], S7_ERR_PROTOCOL, {}};
    const TreeModel model(std::move(catalog));
    const std::uint32_t conveyor = model.roots()[0];
    EXPECT_FALSE(model.hasChildren(conveyor));
    EXPECT_EQ(model.browseCode(conveyor), S7_ERR_NO_MEMORY);
    EXPECT_EQ(model.browseCode(model.roots()[1]), S7_OK);
    EXPECT_EQ(model.browseCode(model.roots()[3]), S7_OK) << "an empty block was read";
    EXPECT_EQ(model.browseCode(model.find("Conv.b")), S7_OK);

    const struct {
        const char* name;
        std::uint8_t code;
    } cases[] = {
        {"Conveyor.BeltSpeed", S7_ERR_NO_MEMORY},
        {"Conveyor[3]", S7_ERR_NO_MEMORY},
        {"Conveyor", S7_OK},                // the block itself is no variable
        {"ConveyorX.a", S7_OK},             // another block's name that starts alike
        {"Conv.gone", S7_OK},               // a block that was read
        {"Tank.1.level", S7_ERR_PROTOCOL},  // a block named with a dot
        {"Silo.a", S7_OK},                  // no such block
    };
    for (const auto& c : cases) EXPECT_EQ(model.browseCodeFor(c.name), c.code) << c.name;
}

TEST(TreeModel, FindsNodesAndVariablesByFullName) {
    const TreeModel model(
        catalogOf({{"DB1", {{"DB1.a.b", 7}, {"DB1.m[1,2]", 5}, {"DB1.a..b", 1}}}, {"DB2", {{"DB2.a.b", 4}}}}));
    struct Case {
        const char* name;
        bool node;
        int symbol;  // index in its block's list; -1: no variable of exactly that name
    };
    const Case cases[] = {
        {"DB1.a.b", true, 0}, {"DB1.m[1,2]", true, 1}, {"DB1.m[1][2]", true, -1}, {"DB1.a..b", true, 2},
        {"DB1.a", true, -1},  {"DB1", true, -1},       {"DB2.a.b", true, 0},      {"DB1.a.c", false, -1},
        {"DB3.a.b", false, -1}, {"", false, -1},
    };
    for (const Case& c : cases) {
        const std::uint32_t node = model.find(c.name);
        EXPECT_EQ(node != TreeModel::kNone, c.node) << c.name;
        const s7_symbol* symbol = model.findSymbol(c.name);
        if (c.symbol < 0) {
            EXPECT_EQ(symbol, nullptr) << c.name;
        } else {
            ASSERT_NE(symbol, nullptr) << c.name;
            EXPECT_STREQ(symbol->name, c.name);
        }
    }
    // "DB1.a..b" splits like "DB1.a.b": the later symbol owns the node, and
    // each name still finds its own variable.
    EXPECT_EQ(model.symbol(model.find("DB1.a.b")), model.findSymbol("DB1.a..b"));
}

// One array of 200 000 elements: every element a sibling of the others.
// Building it by scanning the siblings took minutes; with the name index it
// is one pass.
TEST(TreeModel, OneHugeArrayIsBuiltAndSearchedByName) {
    constexpr std::uint32_t kElements = 200000;
    std::vector<TestSymbol> symbols;
    symbols.reserve(kElements);
    for (std::uint32_t i = 0; i < kElements; ++i) symbols.push_back({"DB1.A[" + std::to_string(i) + "]", 7});
    const TreeModel model(catalogOf({{"DB1", symbols}}));
    ASSERT_EQ(model.size(), kElements + 2);
    const std::uint32_t array = model.find("DB1.A");
    EXPECT_EQ(model.end(array), kElements + 2);
    EXPECT_EQ(model.findChild(array, "[199999]"), kElements + 1);
    EXPECT_EQ(model.findSymbol("DB1.A[123456]")->address.object_id, 123457u);
    EXPECT_EQ(model.children(array).size(), kElements);
    // Shared name storage: about the bytes of the names, no string per node.
    EXPECT_LT(model.nodeBytes(), std::size_t{kElements} * 64);

    // A filter that only the last element matches shows it and its
    // ancestors and opens the ancestors, whether it runs at once or a slice
    // per call.
    const TreeFilter::Result once = TreeFilter::resultFor(model, "[199999]");
    TreeFilter sliced;
    sliced.start(model, "[199999]");
    int calls = 1;
    while (!sliced.run(std::chrono::nanoseconds(0))) ++calls;
    EXPECT_GT(calls, 2) << "a zero budget still makes progress, one slice per call";
    const TreeFilter::Result slicedResult = sliced.takeResult();
    EXPECT_EQ(slicedResult.visible, once.visible);
    EXPECT_EQ(slicedResult.reveal, once.reveal);
    std::vector<std::uint32_t> shown;
    std::vector<std::uint32_t> opened;
    for (std::uint32_t i = 0; i < model.size(); ++i) {
        if (once.visible[i] != 0) shown.push_back(i);
        if (once.reveal[i] != 0) opened.push_back(i);
    }
    EXPECT_EQ(shown, (std::vector<std::uint32_t>{0, 1, kElements + 1}));
    EXPECT_EQ(opened, (std::vector<std::uint32_t>{0, 1}));
}

// Conveyor: Motors[1].Speed, Motors[1].Current, BeltSpeed, Status, and
// Ärger, a member whose name starts with a non-ASCII letter; S7Counters:
// no variables.
class Filtering : public ::testing::Test {
protected:
    Filtering()
        : model_(catalogOf({{"Conveyor",
                             {{"Conveyor.Motors[1].Speed"},
                              {"Conveyor.Motors[1].Current"},
                              {"Conveyor.BeltSpeed"},
                              {"Conveyor.Status"},
                              {"Conveyor.\xC3\x84rger"}}},
                            {"S7Counters", {}}})) {}

    // The full paths of the shown nodes, blocks included, in pre-order.
    std::vector<std::string> shown(const std::string& filter) const {
        const std::vector<std::uint8_t> visible = TreeFilter::visibleFor(model_, filter);
        std::vector<std::string> out;
        for (std::uint32_t i = 0; i < model_.size(); ++i) {
            if (visible[i] != 0) out.push_back(model_.fullPath(i));
        }
        return out;
    }

    const TreeModel model_;
};

TEST_F(Filtering, ShowsMatchingNodesTheirAncestorsAndEverythingBelowAMatchingStructure) {
    const std::vector<std::string> conveyor = {"Conveyor",
                                               "Conveyor.Motors",
                                               "Conveyor.Motors[1]",
                                               "Conveyor.Motors[1].Speed",
                                               "Conveyor.Motors[1].Current",
                                               "Conveyor.BeltSpeed",
                                               "Conveyor.Status",
                                               "Conveyor.\xC3\x84rger"};
    std::vector<std::string> all = conveyor;
    all.push_back("S7Counters");
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"SPEED",
         {"Conveyor", "Conveyor.Motors", "Conveyor.Motors[1]", "Conveyor.Motors[1].Speed", "Conveyor.BeltSpeed"}},
        {"current", {"Conveyor", "Conveyor.Motors", "Conveyor.Motors[1]", "Conveyor.Motors[1].Current"}},
        // The structure's name is in its members' full paths.
        {"motors",
         {"Conveyor", "Conveyor.Motors", "Conveyor.Motors[1]", "Conveyor.Motors[1].Speed",
          "Conveyor.Motors[1].Current"}},
        {"[1]",
         {"Conveyor", "Conveyor.Motors", "Conveyor.Motors[1]", "Conveyor.Motors[1].Speed",
          "Conveyor.Motors[1].Current"}},
        // A match across the separator between two names.
        {"s[1].c", {"Conveyor", "Conveyor.Motors", "Conveyor.Motors[1]", "Conveyor.Motors[1].Current"}},
        // The block's name is in every full path below it, but a block is
        // shown only through its tags.
        {"conveyor.", conveyor},
        {"S7", {}},
        {"\xC3\x84RGER", {"Conveyor", "Conveyor.\xC3\x84rger"}},
        {"\xC3\xA4rger", {}},
        {"nothing", {}},
        {"", all},
    };
    for (const auto& [filter, expected] : cases) {
        EXPECT_EQ(shown(filter), expected) << filter;
    }
}

// The nodes a search opens: those above a node whose own name brings in
// the text, so that every such match is a row; what only inherits the text
// from above stays closed.
TEST_F(Filtering, OpensTheNodesAboveEachMatchButNotBelowIt) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"speed", {"Conveyor", "Conveyor.Motors", "Conveyor.Motors[1]"}},
        {"[1]", {"Conveyor", "Conveyor.Motors"}},
        // Motors itself is the match; its elements are shown below it.
        {"motors", {"Conveyor"}},
        // A block's members are the matches of its name.
        {"conveyor.", {"Conveyor"}},
        {"S7", {}},
        {"nothing", {}},
        {"", {}},
    };
    for (const auto& [filter, expected] : cases) {
        const TreeFilter::Result result = TreeFilter::resultFor(model_, filter);
        std::vector<std::string> opened;
        for (std::uint32_t i = 0; i < model_.size(); ++i) {
            if (result.reveal[i] != 0) opened.push_back(model_.fullPath(i));
            EXPECT_TRUE(result.reveal[i] == 0 || result.visible[i] != 0) << filter << ": a hidden node is opened";
            EXPECT_LE(result.visible[i], 1) << filter;
        }
        EXPECT_EQ(opened, expected) << filter;
    }
}

TEST_F(Filtering, RowsAreTheShownNodesBelowOpenOnes) {
    const std::uint32_t motors = model_.find("Conveyor.Motors");
    std::vector<std::uint8_t> open(model_.size(), 0);
    std::vector<std::uint32_t> rows;
    const auto paths = [&] {
        std::vector<std::string> out;
        for (std::uint32_t row : rows) out.push_back(model_.fullPath(row));
        return out;
    };
    const std::vector<std::uint8_t> all = TreeFilter::visibleFor(model_, "");
    vemo::collectRows(model_, all, open, rows);
    EXPECT_EQ(paths(), (std::vector<std::string>{"Conveyor", "S7Counters"}));

    open[0] = 1;
    open[motors] = 1;  // its child [1] stays closed
    vemo::collectRows(model_, all, open, rows);
    EXPECT_EQ(paths(), (std::vector<std::string>{"Conveyor", "Conveyor.Motors", "Conveyor.Motors[1]",
                                                 "Conveyor.BeltSpeed", "Conveyor.Status", "Conveyor.\xC3\x84rger",
                                                 "S7Counters"}));

    vemo::collectRows(model_, TreeFilter::visibleFor(model_, "status"), open, rows);
    EXPECT_EQ(paths(), (std::vector<std::string>{"Conveyor", "Conveyor.Status"}));
}

}  // namespace

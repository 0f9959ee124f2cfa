// The owned lists: one owner at a time, so a move hands the very records on
// (tree nodes and inspector rows hold pointers into them) and a list is
// released exactly once. The sanitizer build reports a leak or a double free.
#include "vemo/core/OwnedLists.h"

#include "test_symbols.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

using vemo::SymbolList;
using vemo::test::makeSymbols;

TEST(OwnedLists, AMoveHandsOnTheSameRecordsAndLeavesTheSourceEmpty) {
    SymbolList first(makeSymbols({{"DB1.a"}, {"DB1.b"}}));
    const s7_symbol* records = first.begin();

    SymbolList moved(std::move(first));
    EXPECT_EQ(moved.begin(), records);
    EXPECT_EQ(moved.size(), 2u);
    EXPECT_TRUE(first.empty());  // NOLINT(bugprone-use-after-move): a moved-from list is empty

    SymbolList other(makeSymbols({{"DB2.c"}}));
    other = std::move(moved);  // releases DB2.c
    EXPECT_EQ(other.begin(), records);
    EXPECT_STREQ(other[1].name, "DB1.b");
    EXPECT_TRUE(moved.empty());  // NOLINT(bugprone-use-after-move)

    other.receive();
    EXPECT_TRUE(other.empty()) << "receive releases what the list held";
}

}  // namespace

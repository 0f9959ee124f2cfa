// Which data types the browse lists: exactly 74 identifiers, checked one by
// one against the list, and only the low 8 bits of a wider value count.
#include "s7_datatype.h"

#include <gtest/gtest.h>

#include <set>

namespace {

const std::set<unsigned> kBrowsable = {
    1,   2,   3,   4,   5,   6,   7,   8,   9,   10,  11,  12,  14,  19,  20,  22,  23,  24,  28,
    29,  40,  48,  49,  50,  51,  52,  53,  54,  55,  61,  62,  64,  65,  66,  67,  96,  128, 129,
    130, 132, 134, 144, 145, 146, 147, 148, 149, 150, 151, 152, 153, 154, 155, 156, 160, 161, 162,
    163, 164, 168, 169, 170, 171, 173, 174, 175, 192, 193, 195, 196, 197, 208, 209, 210,
};

TEST(DatatypeBrowsable, ExactlyTheListedIdentifiers) {
    ASSERT_EQ(kBrowsable.size(), 74u);
    unsigned count = 0;
    for (unsigned id = 0; id < 256; ++id) {
        EXPECT_EQ(s7_datatype_is_browsable(id), kBrowsable.count(id) == 1) << id;
        count += s7_datatype_is_browsable(id) ? 1 : 0;
    }
    EXPECT_EQ(count, 74u);
}

TEST(DatatypeBrowsable, OnlyTheLowByteCounts) {
    EXPECT_FALSE(s7_datatype_is_browsable(0x100));  // 0 VOID
    EXPECT_TRUE(s7_datatype_is_browsable(0x113));   // 19 STRING
    EXPECT_TRUE(s7_datatype_is_browsable(0xFFFFFFD2u)); // 210 DB_DYN
    EXPECT_FALSE(s7_datatype_is_browsable(0xFFFFFF3Fu)); // 63 VARIANT
}

} // namespace

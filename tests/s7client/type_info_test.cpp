// Type-info lists: block-length rules, the mixed byte orders, the record
// layout of every kind, and lists that are cut short.
#include "s7_type_info.h"

#include "alloc_hooks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void le32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
}

// A 12-byte entry head: member and aux identifiers little-endian, the data
// type, the flags word big-endian, one more byte.
Bytes head(uint32_t member, uint8_t datatype, uint16_t kindFlags) {
    Bytes b;
    le32(b, member);
    le32(b, 0xA0A0A0A0);
    b.push_back(datatype);
    b.push_back(static_cast<uint8_t>(kindFlags >> 8));
    b.push_back(static_cast<uint8_t>(kindFlags));
    b.push_back(0x5A);
    return b;
}

// A record whose 32-bit word j holds j + 1, so that every field tells which
// word it was read from.
Bytes numberedRecord(uint32_t size) {
    Bytes b;
    for (uint32_t j = 0; j < size / 4; ++j) {
        le32(b, j + 1);
    }
    return b;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Listed {
    uint8_t rc = 0;
    s7_type_info_list list{};
    size_t consumed = 0;
    ~Listed() { s7_type_info_list_free(&list); }
};

void readList(Bytes bytes, Listed& out) {
    s7_cursor c{bytes.data(), bytes.data() + bytes.size()};
    out.rc = s7_read_type_info_list(&c, &out.list);
    out.consumed = static_cast<size_t>(c.cur - bytes.data());
}

TEST(TypeInfoList, ZeroFirstLengthIsEmptyAfterItsFourBytes) {
    Listed l;
    readList({0x00, 0x00, 1, 2, 3, 4, 0xEE}, l);
    EXPECT_EQ(l.rc, S7_STATUS_OK);
    EXPECT_EQ(l.list.count, 0u);
    EXPECT_EQ(l.list.items, nullptr);
    EXPECT_EQ(l.consumed, 6u);

    Listed cut;
    readList({0x00, 0x00, 1, 2, 3}, cut);
    EXPECT_EQ(cut.rc, S7_STATUS_BOUNDS);
}

TEST(TypeInfoList, FirstBlockLengthCountsItsFourSkippedBytes) {
    // 28 = 4 skipped + 12 head + 12 record of kind 2; then 00 00 ends.
    const Bytes body = Bytes{0x00, 28, 9, 9, 9, 9} + head(0x01020304, 5, 0x2ABC) + numberedRecord(12) + Bytes{0, 0};
    Listed l;
    readList(body + Bytes{0xEE}, l);
    ASSERT_EQ(l.rc, S7_STATUS_OK);
    ASSERT_EQ(l.list.count, 1u);
    EXPECT_EQ(l.consumed, body.size());
    const s7_type_info_entry& e = l.list.items[0];
    EXPECT_EQ(e.member_id, 0x01020304u);
    EXPECT_EQ(e.aux_id, 0xA0A0A0A0u);
    EXPECT_EQ(e.datatype, 5);
    EXPECT_EQ(e.kind_flags, 0x2ABC);
    EXPECT_EQ(e.aux_byte, 0x5A);
    EXPECT_EQ(e.kind, 2);
    EXPECT_EQ(e.info_a, 1);
    EXPECT_EQ(e.info_b, 0);
    EXPECT_EQ(e.info_c, 2u);
    EXPECT_EQ(e.info_d, 3u);
    EXPECT_EQ(e.is_struct + e.is_array + e.is_multi_array, 0);
}

TEST(TypeInfoList, AnEntryOverrunningItsBlockIsReadWhole) {
    // The first block claims 8 bytes: the 4 skipped ones and part of the
    // entry. The entry is read whole; the next length follows it and holds
    // one more kind-1 entry (16 bytes).
    const Bytes body = Bytes{0x00, 8, 0, 0, 0, 0} + head(1, 1, 0x1000) + Bytes{1, 0, 2, 0} + Bytes{0x00, 16} +
                       head(2, 2, 0x1000) + Bytes{3, 0, 4, 0} + Bytes{0, 0};
    Listed l;
    readList(body, l);
    ASSERT_EQ(l.rc, S7_STATUS_OK);
    ASSERT_EQ(l.list.count, 2u);
    EXPECT_EQ(l.list.items[1].member_id, 2u);
    EXPECT_EQ(l.list.items[1].info_d, 3u);
    EXPECT_EQ(l.consumed, body.size());
}

TEST(TypeInfoList, ManyEntriesGrowTheArray) {
    Bytes entries;
    for (uint32_t i = 0; i < 40; ++i) {
        entries = entries + head(i, 1, 0x8000) + Bytes{1, 0, 2, 0};
    }
    // One later block of 40 entries of 16 bytes each.
    const Bytes body = Bytes{0x00, 4, 0, 0, 0, 0, 0x02, 0x80} + entries + Bytes{0, 0};
    Listed l;
    readList(body, l);
    ASSERT_EQ(l.rc, S7_STATUS_OK);
    ASSERT_EQ(l.list.count, 40u);
    EXPECT_EQ(l.list.items[39].member_id, 39u);
    EXPECT_EQ(l.list.items[39].kind, 8);
}

TEST(TypeInfoList, ACutEntryFailsAndLeavesTheListEmpty) {
    vemo::test::CountingAllocator alloc;
    const Bytes whole = Bytes{0x00, 40, 0, 0, 0, 0} + head(1, 1, 0x2000) + numberedRecord(12) + head(2, 1, 0x2000) +
                        numberedRecord(12) + Bytes{0, 0};
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        Listed l;
        readList(Bytes(whole.begin(), whole.begin() + static_cast<long>(cut)), l);
        EXPECT_EQ(l.rc, S7_STATUS_BOUNDS) << "cut at " << cut;
        EXPECT_EQ(l.list.count, 0u);
        EXPECT_EQ(l.list.items, nullptr);
    }
    EXPECT_EQ(alloc.live(), 0u);
}

TEST(TypeInfoList, FailedGrowthIsOutOfMemoryAndLeavesNothing) {
    vemo::test::CountingAllocator alloc;
    alloc.failFrom(1);
    Listed l;
    readList(Bytes{0x00, 28, 0, 0, 0, 0} + head(1, 1, 0x2000) + numberedRecord(12) + Bytes{0, 0}, l);
    EXPECT_EQ(l.rc, S7_STATUS_NO_MEMORY);
    EXPECT_EQ(l.list.count, 0u);
    alloc.failFrom(0);
    EXPECT_EQ(alloc.live(), 0u);
}

TEST(TypeInfoHead, KindComesFromTheTopBitsOfTheBigEndianFlagsWord) {
    Listed three;
    readList(Bytes{0x00, 4, 0, 0, 0, 0, 0x00, 32} + head(1, 1, 0x3000) + numberedRecord(20) + Bytes{0, 0}, three);
    ASSERT_EQ(three.rc, S7_STATUS_OK);
    ASSERT_EQ(three.list.count, 1u);
    EXPECT_EQ(three.list.items[0].kind_flags, 0x3000);
    EXPECT_EQ(three.list.items[0].kind, 3);
    EXPECT_EQ(three.list.items[0].is_array, 1);

    // The bytes the other way round give flags 0x0030: kind 0, whose record
    // is 104 bytes.
    Listed zero;
    readList(Bytes{0x00, 4, 0, 0, 0, 0, 0x00, 116} + head(1, 1, 0x0030) + numberedRecord(104) + Bytes{0, 0}, zero);
    ASSERT_EQ(zero.rc, S7_STATUS_OK);
    EXPECT_EQ(zero.list.items[0].kind, 0);
    EXPECT_EQ(zero.list.items[0].is_multi_array, 1);
}

s7_type_info_entry readRecord(uint16_t kind, const Bytes& record, uint8_t* rc) {
    Bytes b = record;
    s7_cursor c{b.data(), b.data() + b.size()};
    s7_type_info_entry e{};
    e.member_id = 77;
    e.struct_ref = 0xDEAD;  // part of the record: must be cleared
    *rc = s7_read_type_info_record(&c, kind, &e);
    return e;
}

TEST(TypeInfoRecord, KindsOneAndEightSwapTheirTwoValues) {
    uint8_t rc = 0;
    const s7_type_info_entry eight = readRecord(8, {0x01, 0x00, 0x02, 0x00}, &rc);
    ASSERT_EQ(rc, S7_STATUS_OK);
    EXPECT_EQ(eight.info_c, 1u);
    EXPECT_EQ(eight.info_d, 2u);
    const s7_type_info_entry one = readRecord(1, {0x01, 0x00, 0x02, 0x00}, &rc);
    ASSERT_EQ(rc, S7_STATUS_OK);
    EXPECT_EQ(one.info_d, 1u);
    EXPECT_EQ(one.info_c, 2u);
    EXPECT_EQ(one.member_id, 77u);  // the head is not touched
    EXPECT_EQ(one.struct_ref, 0u);
}

TEST(TypeInfoRecord, LowerBoundIsSigned) {
    uint8_t rc = 0;
    Bytes record = numberedRecord(20);
    record[12] = record[13] = record[14] = record[15] = 0xFF;
    const s7_type_info_entry e = readRecord(3, record, &rc);
    ASSERT_EQ(rc, S7_STATUS_OK);
    EXPECT_EQ(e.lower_bound, -1);
    EXPECT_EQ(e.element_count, 5u);
}

TEST(TypeInfoRecord, EveryKindReadsItsLayout) {
    // Expected values are word numbers of numberedRecord (0 = not set).
    struct Row {
        uint16_t kind;
        uint32_t size;
        uint8_t isStruct, isArray, isMulti;
        uint32_t structRef, lowerBound, elementCount, dimLower0, dimCount5, aux0, aux1, aux2, aux3, aux6, word3;
    };
    const Row rows[] = {
        {2, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
        {9, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
        {3, 20, 0, 1, 0, 0, 4, 5, 0, 0, 0, 0, 0, 0, 0, 0},
        {10, 20, 0, 1, 0, 0, 4, 5, 0, 0, 0, 0, 0, 0, 0, 0},
        {4, 68, 0, 0, 1, 0, 4, 5, 6, 17, 0, 0, 0, 0, 0, 0},
        {11, 68, 0, 0, 1, 0, 4, 5, 6, 17, 0, 0, 0, 0, 0, 0},
        {5, 32, 1, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8},
        {12, 32, 1, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8},
        {15, 40, 1, 0, 0, 4, 0, 0, 0, 0, 0, 0, 9, 10, 0, 8},
        {6, 48, 1, 1, 0, 8, 4, 5, 0, 0, 7, 6, 0, 0, 0, 12},
        {13, 48, 1, 1, 0, 8, 4, 5, 0, 0, 7, 6, 0, 0, 0, 12},
        {7, 96, 1, 0, 1, 20, 4, 5, 6, 17, 19, 18, 0, 0, 0, 24},
        {14, 96, 1, 0, 1, 20, 4, 5, 6, 17, 19, 18, 0, 0, 0, 24},
        {0, 104, 1, 0, 1, 4, 0, 11, 15, 26, 0, 0, 9, 10, 14, 8},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(s7_type_info_record_size(row.kind), row.size) << "kind " << row.kind;
        uint8_t rc = 0;
        const s7_type_info_entry e = readRecord(row.kind, numberedRecord(row.size), &rc);
        ASSERT_EQ(rc, S7_STATUS_OK) << "kind " << row.kind;
        EXPECT_EQ(e.kind, row.kind);
        EXPECT_EQ(e.info_a, 1) << "kind " << row.kind;
        EXPECT_EQ(e.info_c, 2u) << "kind " << row.kind;
        EXPECT_EQ(e.info_d, 3u) << "kind " << row.kind;
        EXPECT_EQ(e.is_struct, row.isStruct) << "kind " << row.kind;
        EXPECT_EQ(e.is_array, row.isArray) << "kind " << row.kind;
        EXPECT_EQ(e.is_multi_array, row.isMulti) << "kind " << row.kind;
        EXPECT_EQ(e.struct_ref, row.structRef) << "kind " << row.kind;
        EXPECT_EQ(static_cast<uint32_t>(e.lower_bound), row.lowerBound) << "kind " << row.kind;
        EXPECT_EQ(e.element_count, row.elementCount) << "kind " << row.kind;
        EXPECT_EQ(static_cast<uint32_t>(e.dim_lower[0]), row.dimLower0) << "kind " << row.kind;
        EXPECT_EQ(e.dim_count[5], row.dimCount5) << "kind " << row.kind;
        EXPECT_EQ(e.aux0, row.aux0) << "kind " << row.kind;
        EXPECT_EQ(e.aux1, row.aux1) << "kind " << row.kind;
        EXPECT_EQ(e.aux2, row.aux2) << "kind " << row.kind;
        EXPECT_EQ(e.aux3, row.aux3) << "kind " << row.kind;
        EXPECT_EQ(e.aux6, row.aux6) << "kind " << row.kind;
        EXPECT_EQ(e.struct_words[3], row.word3) << "kind " << row.kind;

        // One byte less is refused and leaves the entry as it was.
        Bytes shortRecord = numberedRecord(row.size);
        shortRecord.pop_back();
        const s7_type_info_entry untouched = readRecord(row.kind, shortRecord, &rc);
        EXPECT_EQ(rc, S7_STATUS_BOUNDS) << "kind " << row.kind;
        EXPECT_EQ(untouched.struct_ref, 0xDEADu);
    }
    uint8_t rc = 0;
    (void)readRecord(16, numberedRecord(104), &rc);
    EXPECT_EQ(rc, S7_STATUS_ARGUMENT);
}

}  // namespace

// Wire integer encodings: worked examples, edge cases and the rule that the
// size functions equal what the writers produce.
#include "s7_cursor.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

s7_cursor over(Bytes& b) { return s7_cursor{b.data(), b.data() + b.size()}; }

Bytes writeVlq(uint64_t v) {
    Bytes out(16, 0xEE);
    s7_cursor c = over(out);
    EXPECT_EQ(s7_write_vlq64(&c, v), S7_STATUS_OK);
    out.resize(static_cast<size_t>(c.cur - out.data()));
    return out;
}

Bytes writeSvlq(int64_t v) {
    Bytes out(16, 0xEE);
    s7_cursor c = over(out);
    EXPECT_EQ(s7_write_svlq64(&c, v), S7_STATUS_OK);
    out.resize(static_cast<size_t>(c.cur - out.data()));
    return out;
}

struct VlqRow {
    uint64_t value;
    Bytes bytes;
};

struct SvlqRow {
    int64_t value;
    Bytes bytes;
};

constexpr uint64_t p2(int n) { return uint64_t{1} << n; }

// Worked examples of the unsigned flavour, plus the listed edge cases.
const std::vector<VlqRow> kUnsignedRows = {
    {0, {0x00}},
    {1, {0x01}},
    {63, {0x3F}},
    {64, {0x40}},
    {127, {0x7F}},
    {128, {0x81, 0x00}},
    {300, {0x82, 0x2C}},
    {1037, {0x88, 0x0D}},
    {16384, {0x81, 0x80, 0x00}},
    {4294967295u, {0x8F, 0xFF, 0xFF, 0xFF, 0x7F}},
    {p2(55), {0xC0, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00}},
    {p2(56) - 1, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}},
    {p2(56), {0x80, 0xC0, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00}},
    {std::numeric_limits<uint64_t>::max(), {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
};

// Worked examples of the signed flavour, plus the listed edge cases.
const std::vector<SvlqRow> kSignedRows = {
    {0, {0x00}},
    {1, {0x01}},
    {63, {0x3F}},
    {64, {0x80, 0x40}},
    {127, {0x80, 0x7F}},
    {128, {0x81, 0x00}},
    {300, {0x82, 0x2C}},
    {1037, {0x88, 0x0D}},
    {16384, {0x81, 0x80, 0x00}},
    {4294967295, {0x8F, 0xFF, 0xFF, 0xFF, 0x7F}},
    {static_cast<int64_t>(p2(56)), {0x80, 0xC0, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00}},
    {-1, {0x7F}},
    {-64, {0xFF, 0x40}},
    {-65, {0xFF, 0x3F}},
    {-2147483648LL, {0xF8, 0x80, 0x80, 0x80, 0x00}},
    {static_cast<int64_t>(p2(55)), {0x80, 0xA0, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00}},
    {std::numeric_limits<int64_t>::min(), {0xC0, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00}},
    {std::numeric_limits<int64_t>::max(), {0xBF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
};

TEST(VlqUnsigned, WorkedExamplesEncodeAndReadBack) {
    for (const auto& row : kUnsignedRows) {
        SCOPED_TRACE(row.value);
        EXPECT_EQ(writeVlq(row.value), row.bytes);
        EXPECT_EQ(s7_vlq_size(row.value), row.bytes.size());

        Bytes in = row.bytes;
        s7_cursor c = over(in);
        uint64_t v = 0;
        ASSERT_EQ(s7_read_vlq64(&c, &v), S7_STATUS_OK);
        EXPECT_EQ(v, row.value);
        EXPECT_EQ(s7_remaining(&c), 0u);
    }
}

TEST(VlqSigned, WorkedExamplesEncodeAndReadBack) {
    for (const auto& row : kSignedRows) {
        SCOPED_TRACE(row.value);
        EXPECT_EQ(writeSvlq(row.value), row.bytes);
        EXPECT_EQ(s7_svlq_size64(row.value), row.bytes.size());
        if (row.value >= INT32_MIN && row.value <= INT32_MAX) {
            EXPECT_EQ(s7_svlq_size32(static_cast<int32_t>(row.value)), row.bytes.size());
        }

        Bytes in = row.bytes;
        s7_cursor c = over(in);
        int64_t v = 0;
        ASSERT_EQ(s7_read_svlq64(&c, &v), S7_STATUS_OK);
        EXPECT_EQ(v, row.value);
        EXPECT_EQ(s7_remaining(&c), 0u);
    }
}

// Readers accept forms a writer never produces.
TEST(VlqReaders, AcceptNonCanonicalInput) {
    struct Row {
        const char* what;
        Bytes bytes;
        uint64_t unsignedValue;
        int64_t signedValue;
        uint32_t consumed;
    };
    const std::vector<Row> rows = {
        {"overlong leading 0x80 bytes add nothing", {0x80, 0x80, 0x01}, 1, 1, 3},
        {"one-byte -64 is read like FF 40", {0x40}, 64, -64, 1},
        {"ninth byte carries 8 bits whatever its bit 7",
         {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x81, 0x55},
         0x81,
         0x81,
         9},
        {"bits above 63 are lost",
         {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01},
         0xFFFFFFFFFFFFFF01u,
         -255,
         9},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes a = row.bytes;
        s7_cursor c = over(a);
        uint64_t u = 0;
        ASSERT_EQ(s7_read_vlq64(&c, &u), S7_STATUS_OK);
        EXPECT_EQ(u, row.unsignedValue);
        EXPECT_EQ(a.size() - s7_remaining(&c), row.consumed);

        Bytes b = row.bytes;
        s7_cursor d = over(b);
        int64_t s = 0;
        ASSERT_EQ(s7_read_svlq64(&d, &s), S7_STATUS_OK);
        EXPECT_EQ(s, row.signedValue);
    }
}

TEST(VlqReaders, Vlq32RefusesAValueAbove32BitsInsteadOfCuttingIt) {
    Bytes b = {0x90, 0x80, 0x80, 0x80, 0x00};  // 2^32
    s7_cursor c = over(b);
    uint32_t v32 = 7;
    EXPECT_EQ(s7_read_vlq32(&c, &v32), S7_STATUS_RANGE);
    EXPECT_EQ(v32, 7u) << "the output is written only on success";
    EXPECT_EQ(s7_remaining(&c), 0u) << "its bytes are consumed";

    Bytes max = {0x8F, 0xFF, 0xFF, 0xFF, 0x7F};  // 2^32 - 1
    c = over(max);
    ASSERT_EQ(s7_read_vlq32(&c, &v32), S7_STATUS_OK);
    EXPECT_EQ(v32, 0xFFFFFFFFu);

    c = over(b);
    uint64_t v64 = 0;
    ASSERT_EQ(s7_read_vlq64(&c, &v64), S7_STATUS_OK);
    EXPECT_EQ(v64, 4294967296u);
}

TEST(VlqReaders, ByteMissingMidwayFailsAndKeepsWhatWasConsumed) {
    Bytes b = {0x81, 0x82};
    s7_cursor c = over(b);
    uint64_t v = 99;
    EXPECT_EQ(s7_read_vlq64(&c, &v), S7_STATUS_BOUNDS);
    EXPECT_EQ(v, 99u);
    EXPECT_EQ(s7_remaining(&c), 0u);

    c = over(b);
    int64_t s = 99;
    EXPECT_EQ(s7_read_svlq64(&c, &s), S7_STATUS_BOUNDS);
    EXPECT_EQ(s, 99);
}

// Sizes equal writes, and every written value reads back unchanged.
TEST(VlqRoundTrip, SizeFunctionsEqualBytesWrittenAndValuesReadBack) {
    std::vector<int64_t> values = {0,
                                   1,
                                   -1,
                                   63,
                                   -63,
                                   64,
                                   -64,
                                   65,
                                   -65,
                                   8191,
                                   -8192,
                                   8192,
                                   INT32_MAX,
                                   INT32_MIN,
                                   static_cast<int64_t>(UINT32_MAX),
                                   std::numeric_limits<int64_t>::max(),
                                   std::numeric_limits<int64_t>::min()};
    for (int bit = 0; bit < 64; ++bit) {
        const uint64_t p = p2(bit);
        for (uint64_t delta : {uint64_t{0}, uint64_t{1}}) {
            values.push_back(static_cast<int64_t>(p + delta));
            values.push_back(static_cast<int64_t>(p - delta));
            // Negated in unsigned arithmetic: -(2^63) has no signed negation.
            values.push_back(static_cast<int64_t>(0 - (p + delta)));
            values.push_back(static_cast<int64_t>(0 - (p - delta)));
        }
    }
    // A spread of values from a fixed linear congruential sequence.
    uint64_t x = 0x9E3779B97F4A7C15u;
    for (int i = 0; i < 20000; ++i) {
        x = x * 6364136223846793005u + 1442695040888963407u;
        values.push_back(static_cast<int64_t>(x >> (i % 64)));
    }

    for (int64_t v : values) {
        SCOPED_TRACE(v);
        const auto u = static_cast<uint64_t>(v);

        Bytes ub = writeVlq(u);
        ASSERT_EQ(s7_vlq_size(u), ub.size());
        s7_cursor c = over(ub);
        uint64_t ur = 0;
        ASSERT_EQ(s7_read_vlq64(&c, &ur), S7_STATUS_OK);
        ASSERT_EQ(ur, u);

        Bytes sb = writeSvlq(v);
        ASSERT_EQ(s7_svlq_size64(v), sb.size());
        if (v >= INT32_MIN && v <= INT32_MAX) {
            ASSERT_EQ(s7_svlq_size32(static_cast<int32_t>(v)), sb.size());
        }
        c = over(sb);
        int64_t sr = 0;
        ASSERT_EQ(s7_read_svlq64(&c, &sr), S7_STATUS_OK);
        ASSERT_EQ(sr, v);
    }
}

TEST(VlqWriters, TooLittleRoomWritesNothing) {
    for (uint64_t v : {uint64_t{128}, p2(56), ~uint64_t{0}}) {
        SCOPED_TRACE(v);
        Bytes b(s7_vlq_size(v) - 1, 0xEE);
        s7_cursor c = over(b);
        EXPECT_EQ(s7_write_vlq64(&c, v), S7_STATUS_BOUNDS);
        EXPECT_EQ(c.cur, b.data());
        EXPECT_EQ(b, Bytes(b.size(), 0xEE));
        const auto sv = static_cast<int64_t>(v);
        Bytes s(s7_svlq_size64(sv) - 1, 0xEE);
        c = over(s);
        EXPECT_EQ(s7_write_svlq64(&c, sv), S7_STATUS_BOUNDS);
        EXPECT_EQ(s, Bytes(s.size(), 0xEE));
    }
}

TEST(FixedWidth, WorkedExamples) {
    Bytes b(18);
    s7_cursor c = over(b);
    ASSERT_EQ(s7_write_u16(&c, 1356), S7_STATUS_OK);
    ASSERT_EQ(s7_write_u32(&c, 1256), S7_STATUS_OK);
    ASSERT_EQ(s7_write_u32(&c, std::bit_cast<uint32_t>(1.0f)), S7_STATUS_OK);
    ASSERT_EQ(s7_write_u64(&c, 0x0102030405060708u), S7_STATUS_OK);
    EXPECT_EQ(s7_remaining(&c), 0u);
    const Bytes expected = {0x05, 0x4C, 0x00, 0x00, 0x04, 0xE8, 0x3F, 0x80, 0x00,
                            0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    EXPECT_EQ(b, expected);

    // A u64 without room for both words writes neither.
    c = over(b);
    ASSERT_EQ(s7_skip(&c, 11), S7_STATUS_OK);
    EXPECT_EQ(s7_write_u64(&c, ~uint64_t{0}), S7_STATUS_BOUNDS);
    EXPECT_EQ(b, expected);
}

TEST(FixedWidth, ReadersAreBigEndianAndAdvanceExactly) {
    Bytes b = {0xAB, 0x05, 0x4C, 0x00, 0x00, 0x04, 0xE8, 0x77};
    s7_cursor c = over(b);
    uint8_t u8 = 0;
    uint16_t u16 = 0;
    uint32_t u32 = 0;
    ASSERT_EQ(s7_read_u8(&c, &u8), S7_STATUS_OK);
    ASSERT_EQ(s7_read_u16(&c, &u16), S7_STATUS_OK);
    ASSERT_EQ(s7_read_u32(&c, &u32), S7_STATUS_OK);
    EXPECT_EQ(u8, 0xAB);
    EXPECT_EQ(u16, 1356);
    EXPECT_EQ(u32, 1256u);
    EXPECT_EQ(s7_remaining(&c), 1u);
    ASSERT_EQ(s7_skip(&c, 1), S7_STATUS_OK);
    EXPECT_EQ(s7_skip(&c, 1), S7_STATUS_BOUNDS);
}

// Argument checks: a null output first (S7_STATUS_ARGUMENT), then the
// cursor (S7_STATUS_BOUNDS); outputs untouched.
TEST(CursorChecks, NullAndUnusableCursors) {
    Bytes b = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    s7_cursor empty{b.data(), b.data()};
    s7_cursor backwards{b.data() + 2, b.data()};
    s7_cursor nullEnd{b.data(), nullptr};

    EXPECT_EQ(s7_remaining(nullptr), 0u);
    EXPECT_EQ(s7_remaining(&empty), 0u);
    EXPECT_EQ(s7_remaining(&backwards), 0u);
    EXPECT_EQ(s7_remaining(&nullEnd), 0u);

    for (s7_cursor* c : {static_cast<s7_cursor*>(nullptr), &empty, &backwards, &nullEnd}) {
        uint8_t u8 = 42;
        uint16_t u16 = 42;
        uint32_t u32 = 42;
        uint64_t u64 = 42;
        int64_t i64 = 42;
        EXPECT_EQ(s7_read_u8(c, nullptr), S7_STATUS_ARGUMENT);
        EXPECT_EQ(s7_read_u16(c, nullptr), S7_STATUS_ARGUMENT);
        EXPECT_EQ(s7_read_u32(c, nullptr), S7_STATUS_ARGUMENT);
        EXPECT_EQ(s7_read_u8(c, &u8), S7_STATUS_BOUNDS);
        EXPECT_EQ(s7_read_u16(c, &u16), S7_STATUS_BOUNDS);
        EXPECT_EQ(s7_read_u32(c, &u32), S7_STATUS_BOUNDS);
        const uint8_t expectVlq = c == nullptr ? S7_STATUS_ARGUMENT : S7_STATUS_BOUNDS;
        EXPECT_EQ(s7_read_vlq32(c, &u32), expectVlq);
        EXPECT_EQ(s7_read_vlq64(c, &u64), expectVlq);
        EXPECT_EQ(s7_read_svlq64(c, &i64), expectVlq);
        EXPECT_EQ(s7_skip(c, 1), S7_STATUS_BOUNDS);
        EXPECT_EQ(s7_write_u8(c, 1), S7_STATUS_BOUNDS);
        EXPECT_EQ(s7_write_u64(c, 1), S7_STATUS_BOUNDS);
        EXPECT_EQ(s7_write_vlq64(c, 1), S7_STATUS_BOUNDS);
        EXPECT_EQ(s7_write_svlq64(c, 1), S7_STATUS_BOUNDS);
        EXPECT_EQ(u8 + u16 + u32 + u64 + static_cast<uint64_t>(i64), 5u * 42u);
    }
}

TEST(CursorChecks, WriteBytesOrderOfChecks) {
    Bytes b(4, 0);
    s7_cursor c = over(b);
    EXPECT_EQ(s7_write_bytes(nullptr, nullptr, 0), S7_STATUS_OK);
    EXPECT_EQ(s7_write_bytes(&c, nullptr, 0), S7_STATUS_OK);
    EXPECT_EQ(c.cur, b.data());
    EXPECT_EQ(s7_write_bytes(&c, nullptr, 1), S7_STATUS_ARGUMENT);
    const uint8_t src[5] = {1, 2, 3, 4, 5};
    EXPECT_EQ(s7_write_bytes(&c, src, 5), S7_STATUS_BOUNDS);
    EXPECT_EQ(c.cur, b.data());
    EXPECT_EQ(s7_write_bytes(&c, src, 4), S7_STATUS_OK);
    EXPECT_EQ(b, Bytes(src, src + 4));
    EXPECT_EQ(s7_remaining(&c), 0u);
}

}  // namespace

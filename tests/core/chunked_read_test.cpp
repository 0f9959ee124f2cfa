// The chunked read against a recording fake of the library: chunks of
// exactly the item limit, values in the order of the addresses, and a
// failure anywhere dropping everything read before it.
#include "vemo/core/ChunkedRead.h"

#include "fake_reads.h"

#include <gtest/gtest.h>

#include <optional>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using vemo::ReadResult;
using vemo::ValueKind;
using vemo::test::FakeReads;
using Status = vemo::ReadResult::Status;

constexpr std::uint8_t kDint = 7;

class ChunkedRead : public ::testing::Test {
protected:
    void SetUp() override {
        FakeReads::reset();
        FakeReads::limit = 4;
        calls_.maxReadItems = FakeReads::maxReadItems;
        calls_.read = FakeReads::read;
    }
    void TearDown() override { vemoc_s7_client_free(client_); }

    // `n` addresses with object ids 1..n, all DINT.
    ReadResult readIds(std::size_t n) {
        addresses_.assign(n, s7_item_address{});
        for (std::size_t i = 0; i < n; ++i) addresses_[i].object_id = static_cast<std::uint32_t>(i + 1);
        datatypes_.assign(n, kDint);
        return vemo::readInChunks(client_, addresses_, datatypes_, calls_);
    }

    // Never connected: the fake only needs a handle to be there.
    vemoc_s7_client* client_ = vemoc_s7_client_new();
    vemo::ReadCalls calls_;
    std::vector<s7_item_address> addresses_;
    std::vector<std::uint8_t> datatypes_;
};

TEST_F(ChunkedRead, ReadsInChunksOfExactlyTheItemLimitAndKeepsTheOrder) {
    const struct {
        std::size_t items;
        std::uint32_t limit;
        std::vector<std::size_t> chunks;
    } cases[] = {
        {10, 4, {4, 4, 2}},
        {8, 4, {4, 4}},
        {3, 20, {3}},
        {3, 1, {1, 1, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.items) + " items, limit " + std::to_string(c.limit));
        FakeReads::requests.clear();
        FakeReads::limit = c.limit;
        const ReadResult result = readIds(c.items);
        ASSERT_TRUE(result.ok());
        std::vector<std::size_t> chunks;
        std::vector<std::uint32_t> sent;
        for (const auto& request : FakeReads::requests) {
            chunks.push_back(request.size());
            sent.insert(sent.end(), request.begin(), request.end());
        }
        EXPECT_EQ(chunks, c.chunks);
        ASSERT_EQ(result.values.size(), c.items);
        for (std::size_t i = 0; i < c.items; ++i) {
            EXPECT_EQ(sent[i], i + 1) << "addresses go out in their order";
            EXPECT_EQ(result.values[i].value.text, std::to_string((i + 1) * 100))
                << "value " << i << " is address " << i << "'s";
            EXPECT_EQ(result.values[i].value.kind, ValueKind::Integer);
        }
    }
}

TEST_F(ChunkedRead, EachValueIsShownByTheDataTypeOfItsOwnAddress) {
    // Under a STRING data type, the DINT the fake answers is a mismatch;
    // only the sixth address (second chunk) has it.
    addresses_.assign(8, s7_item_address{});
    for (std::size_t i = 0; i < 8; ++i) addresses_[i].object_id = static_cast<std::uint32_t>(i + 1);
    datatypes_.assign(8, kDint);
    datatypes_[5] = S7_DATATYPE_STRING;
    const ReadResult result = vemo::readInChunks(client_, addresses_, datatypes_, calls_);
    ASSERT_TRUE(result.ok());
    std::vector<std::string> texts;
    for (const auto& item : result.values) texts.push_back(item.value.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"100", "200", "300", "400", "500", "type mismatch: I32 for STRING",
                                               "700", "800"}));
    EXPECT_EQ(result.values[5].value.kind, ValueKind::Mismatch);
}

TEST_F(ChunkedRead, ARefusedVariableCarriesItsCodeAndTheOthersTheirValues) {
    addresses_.assign(4, s7_item_address{});
    for (std::size_t i = 0; i < 4; ++i) addresses_[i].object_id = static_cast<std::uint32_t>(i + 1);
    datatypes_.assign(4, kDint);
    FakeReads::limit = 3;
    FakeReads::refusedObject = 2;
    const ReadResult result = vemo::readInChunks(client_, addresses_, datatypes_, calls_);
    ASSERT_TRUE(result.ok()) << "one refused variable does not fail the read";
    ASSERT_EQ(result.values.size(), 4u);
    EXPECT_EQ(result.values[1].refused, std::optional<std::uint64_t>(0x8104));
    EXPECT_EQ(result.values[1].value.text, "");
    for (std::size_t i : {0u, 2u, 3u}) {
        EXPECT_FALSE(result.values[i].refused) << i;
        EXPECT_EQ(result.values[i].value.text, std::to_string((i + 1) * 100)) << i;
    }
}

TEST_F(ChunkedRead, AMismatchedAnswerCarriesWhatWasSentNotAValue) {
    // Object 2 refused, object 3 answered with BOOLs for its DINT.
    addresses_.assign(4, s7_item_address{});
    for (std::size_t i = 0; i < 4; ++i) addresses_[i].object_id = static_cast<std::uint32_t>(i + 1);
    datatypes_.assign(4, kDint);
    FakeReads::refusedObject = 2;
    FakeReads::mismatchedObject = 3;
    const ReadResult result = vemo::readInChunks(client_, addresses_, datatypes_, calls_);
    ASSERT_TRUE(result.ok()) << "one mismatched variable does not fail the read";
    ASSERT_EQ(result.values.size(), 4u);
    const vemo::ItemReading& mismatched = result.values[2];
    EXPECT_EQ(mismatched.mismatch, (vemo::TypeMismatch{"BOOL array", kDint}));
    EXPECT_FALSE(mismatched.refused);
    EXPECT_EQ(mismatched.value.kind, ValueKind::Mismatch);
    EXPECT_EQ(mismatched.value.text, "type mismatch: BOOL array for DINT");
    EXPECT_FALSE(result.values[1].mismatch) << "a refusal is no mismatch";
    for (std::size_t i : {0u, 3u}) {
        EXPECT_FALSE(result.values[i].mismatch) << i;
        EXPECT_EQ(result.values[i].value.text, std::to_string((i + 1) * 100)) << i;
    }
}

TEST_F(ChunkedRead, AFailureEndsTheReadAndDropsEveryValue) {
    const struct {
        const char* what;
        void (*arrange)();
        Status status;
        std::uint8_t code;
        std::size_t requests;
    } cases[] = {
        {"the item limit cannot be read", [] { FakeReads::limitCode = S7_ERR_NOT_CONNECTED; }, Status::LimitFailed,
         S7_ERR_NOT_CONNECTED, 0},
        {"an item limit of 0", [] { FakeReads::limit = 0; }, Status::NoValues, S7_OK, 0},
        {"the third of three requests fails", [] { FakeReads::failingRead = 2; }, Status::ReadFailed, S7_ERR_READ, 3},
        {"a request succeeds without values", [] { FakeReads::nullValues = true; }, Status::NoValues, S7_OK, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeReads::reset();
        FakeReads::limit = 4;
        c.arrange();
        const ReadResult result = readIds(10);
        EXPECT_FALSE(result.ok());
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.code, c.code);
        EXPECT_TRUE(result.values.empty());
        EXPECT_EQ(FakeReads::requests.size(), c.requests);
    }
}

// A refresh whose time is up stops between two requests: the values of the
// chunks read so far are a whole result, and nothing more is sent.
TEST_F(ChunkedRead, ToldToStopItEndsBetweenTwoRequestsWithTheValuesReadSoFar) {
    addresses_.assign(10, s7_item_address{});
    for (std::size_t i = 0; i < 10; ++i) addresses_[i].object_id = static_cast<std::uint32_t>(i + 1);
    datatypes_.assign(10, kDint);
    int asked = 0;
    const ReadResult result =
        vemo::readInChunks(client_, addresses_, datatypes_, calls_, [&] { return ++asked < 2; });
    EXPECT_TRUE(result.ok());
    EXPECT_EQ(asked, 2) << "asked before the second and the third request, not before the first";
    EXPECT_EQ(FakeReads::requests.size(), 2u);
    ASSERT_EQ(result.values.size(), 8u) << "two chunks of four";
    EXPECT_EQ(result.values[7].value.text, "800");

    FakeReads::requests.clear();
    EXPECT_EQ(vemo::readInChunks(client_, addresses_, datatypes_, calls_, [] { return false; }).values.size(), 4u)
        << "the first chunk is always read";
}

TEST_F(ChunkedRead, EveryAddressNeedsItsDataType) {
    addresses_.assign(3, s7_item_address{});
    datatypes_.assign(2, kDint);
    EXPECT_THROW(vemo::readInChunks(client_, addresses_, datatypes_, calls_), std::invalid_argument);
    EXPECT_TRUE(FakeReads::requests.empty());
}

}  // namespace

// The chunked read against a recording fake of the library: chunks of
// exactly the item limit, values in the order of the addresses, and a
// failure anywhere dropping everything read before it.
#include "vemo/core/ChunkedRead.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using vemo::ReadResult;
using vemo::ValueKind;
using Status = vemo::ReadResult::Status;

constexpr std::uint8_t kDint = 7;

// Every value read is the DINT of its address's object id times 10.
struct FakeReads {
    static inline std::uint32_t limit = 4;
    static inline std::uint8_t limitCode = S7_OK;
    static inline int failingRead = -1;  // index of the request that fails
    static inline bool nullValues = false;
    static inline std::vector<std::vector<std::uint32_t>> requests;

    static void reset() {
        limit = 4;
        limitCode = S7_OK;
        failingRead = -1;
        nullValues = false;
        requests.clear();
    }

    static std::uint8_t maxReadItems(const vemoc_s7_client*, std::uint32_t* out) {
        *out = limit;
        return limitCode;
    }

    static std::uint8_t read(vemoc_s7_client*, const s7_item_address* const* items, std::uint32_t count,
                             s7_value*** values) {
        std::vector<std::uint32_t> ids;
        for (std::uint32_t i = 0; i < count; ++i) ids.push_back(items[i]->object_id);
        requests.push_back(ids);
        if (static_cast<int>(requests.size()) - 1 == failingRead) return S7_ERR_READ;
        if (nullValues) return S7_OK;
        auto** array = static_cast<s7_value**>(std::calloc(count, sizeof(s7_value*)));
        for (std::uint32_t i = 0; i < count; ++i) array[i] = s7_value_new_i32(static_cast<std::int32_t>(ids[i] * 10));
        *values = array;
        return S7_OK;
    }
};

class ChunkedRead : public ::testing::Test {
protected:
    void SetUp() override {
        FakeReads::reset();
        calls_.maxReadItems = FakeReads::maxReadItems;
        calls_.read = FakeReads::read;
    }

    // `n` addresses with object ids 1..n, all DINT.
    ReadResult readIds(std::size_t n) {
        addresses_.assign(n, s7_item_address{});
        for (std::size_t i = 0; i < n; ++i) addresses_[i].object_id = static_cast<std::uint32_t>(i + 1);
        datatypes_.assign(n, kDint);
        return vemo::readInChunks(nullptr, addresses_, datatypes_, calls_);
    }

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
        FakeReads::reset();
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
            EXPECT_EQ(result.values[i].text, std::to_string((i + 1) * 10)) << "value " << i << " is address " << i << "'s";
            EXPECT_EQ(result.values[i].kind, ValueKind::Integer);
        }
    }
}

TEST_F(ChunkedRead, EachValueIsShownByTheDataTypeOfItsOwnAddress) {
    // A STRING data type turns a value that is no controller string into an
    // empty text; only the sixth address (second chunk) has it.
    addresses_.assign(8, s7_item_address{});
    for (std::size_t i = 0; i < 8; ++i) addresses_[i].object_id = static_cast<std::uint32_t>(i + 1);
    datatypes_.assign(8, kDint);
    datatypes_[5] = S7_DATATYPE_STRING;
    const ReadResult result = vemo::readInChunks(nullptr, addresses_, datatypes_, calls_);
    ASSERT_TRUE(result.ok());
    std::vector<std::string> texts;
    for (const auto& value : result.values) texts.push_back(value.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"10", "20", "30", "40", "50", "", "70", "80"}));
    EXPECT_EQ(result.values[5].kind, ValueKind::Text);
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
        c.arrange();
        const ReadResult result = readIds(10);
        EXPECT_FALSE(result.ok());
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.code, c.code);
        EXPECT_TRUE(result.values.empty());
        EXPECT_EQ(FakeReads::requests.size(), c.requests);
    }
}

TEST_F(ChunkedRead, EveryAddressNeedsItsDataType) {
    addresses_.assign(3, s7_item_address{});
    datatypes_.assign(2, kDint);
    EXPECT_THROW(vemo::readInChunks(nullptr, addresses_, datatypes_, calls_), std::invalid_argument);
    EXPECT_TRUE(FakeReads::requests.empty());
}

}  // namespace

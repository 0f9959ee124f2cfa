// The chunked write against a recording fake of the library: chunks of
// exactly the item limit, in order, every value sent once, and each
// variable's outcome - written, refused, perhaps written, not written - as
// far as the requests got.
#include "vemo/core/ChunkedWrite.h"

#include "fake_writes.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using vemo::ItemOutcome;
using vemo::WriteResult;
using vemo::test::FakeWrites;
using Status = vemo::WriteResult::Status;

class ChunkedWrite : public ::testing::Test {
protected:
    void SetUp() override { FakeWrites::reset(); }
    void TearDown() override {
        vemoc_s7_client_free(client_);
        for (s7_value* v : owned_) s7_value_free(v);
    }

    // `n` addresses with object ids 1..n, the value of each its id times 10.
    WriteResult writeIds(std::size_t n) {
        addresses_.assign(n, s7_item_address{});
        for (s7_value* v : owned_) s7_value_free(v);
        owned_.clear();
        for (std::size_t i = 0; i < n; ++i) {
            addresses_[i].object_id = static_cast<std::uint32_t>(i + 1);
            owned_.push_back(s7_value_new_i32(static_cast<std::int32_t>((i + 1) * 10)));
        }
        values_.assign(owned_.begin(), owned_.end());
        return vemo::writeInChunks(client_, addresses_, values_, FakeWrites::calls());
    }

    static std::vector<ItemOutcome> outcomes(const WriteResult& result) {
        std::vector<ItemOutcome> out;
        for (const vemo::ItemWrite& item : result.items) out.push_back(item.outcome);
        return out;
    }

    // Never connected: the fake only needs a handle to be there.
    vemoc_s7_client* client_ = vemoc_s7_client_new();
    std::vector<s7_item_address> addresses_;
    std::vector<s7_value*> owned_;
    std::vector<const s7_value*> values_;
};

TEST_F(ChunkedWrite, WritesInChunksOfExactlyTheItemLimitEachValueOnceInOrder) {
    const struct {
        std::size_t items;
        std::uint32_t limit;
        std::vector<std::size_t> chunks;
    } cases[] = {
        {25, 20, {20, 5}},
        {40, 20, {20, 20}},
        {3, 20, {3}},
        {3, 1, {1, 1, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.items) + " items, limit " + std::to_string(c.limit));
        FakeWrites::requests.clear();
        FakeWrites::limit = c.limit;
        const WriteResult result = writeIds(c.items);
        EXPECT_TRUE(result.ok());
        EXPECT_TRUE(result.allWritten());
        std::vector<std::size_t> chunks;
        std::vector<std::pair<std::uint32_t, std::int32_t>> sent;
        for (const auto& request : FakeWrites::requests) {
            chunks.push_back(request.size());
            sent.insert(sent.end(), request.begin(), request.end());
        }
        EXPECT_EQ(chunks, c.chunks);
        ASSERT_EQ(sent.size(), c.items) << "every value sent once";
        for (std::size_t i = 0; i < c.items; ++i) {
            const auto id = static_cast<std::uint32_t>(i + 1);
            EXPECT_EQ(sent[i], std::make_pair(id, static_cast<std::int32_t>(id * 10))) << "each value with its address";
        }
        EXPECT_EQ(outcomes(result), std::vector<ItemOutcome>(c.items, ItemOutcome::Written));
    }
}

TEST_F(ChunkedWrite, ARefusedVariableCarriesItsCodeAndTheOthersAreWritten) {
    FakeWrites::limit = 3;
    FakeWrites::refusedObject = 5;
    const WriteResult result = writeIds(7);
    EXPECT_TRUE(result.ok()) << "one refused variable does not fail the write";
    EXPECT_FALSE(result.allWritten());
    ASSERT_EQ(result.items.size(), 7u);
    for (std::size_t i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(result.items[i].outcome, i == 4 ? ItemOutcome::Refused : ItemOutcome::Written);
        EXPECT_EQ(result.items[i].error, i == 4 ? 0x8104u : 0u);
    }
    EXPECT_EQ(FakeWrites::requests.size(), 3u);
}

// Ten items at a limit of 4: chunks {1-4} {5-8} {9-10}; item 2 is refused in
// the first. What stands after a failure depends on where it came.
TEST_F(ChunkedWrite, AFailedRequestEndsTheWriteAndSaysWhatMayHaveBeenWritten) {
    using enum ItemOutcome;
    // The first chunk as the controller answered it, then the other two.
    const auto then = [](ItemOutcome second, ItemOutcome third) {
        return std::vector<ItemOutcome>{Written, Refused, Written, Written, second,
                                        second,  second,  second,  third,   third};
    };
    const struct {
        const char* what;
        void (*arrange)();
        Status status;
        std::uint8_t code;
        std::size_t requests;
        std::vector<ItemOutcome> outcomes;
    } cases[] = {
        {"no answer to the second request", [] { FakeWrites::failingWrite = 1; }, Status::WriteFailed, S7_ERR_TIMEOUT,
         2, then(MayBeWritten, NotWritten)},
        {"the connection closed during the second",
         [] {
             FakeWrites::failingWrite = 1;
             FakeWrites::failCode = S7_ERR_NOT_CONNECTED;
         },
         Status::WriteFailed, S7_ERR_NOT_CONNECTED, 2, then(MayBeWritten, NotWritten)},
        {"the second refused as a whole",
         [] {
             FakeWrites::failingWrite = 1;
             FakeWrites::failCode = S7_ERR_WRITE;
         },
         Status::WriteFailed, S7_ERR_WRITE, 2, then(MayBeWritten, NotWritten)},
        {"the second cannot be encoded, so is never sent",
         [] {
             FakeWrites::failingWrite = 1;
             FakeWrites::failCode = S7_ERR_ENCODE;
         },
         Status::WriteFailed, S7_ERR_ENCODE, 2, then(NotWritten, NotWritten)},
        {"the library takes fewer items than the limit said",
         [] {
             FakeWrites::failingWrite = 1;
             FakeWrites::failCode = S7_ERR_TOO_MANY_ITEMS;
         },
         Status::WriteFailed, S7_ERR_TOO_MANY_ITEMS, 2, then(NotWritten, NotWritten)},
        {"the last request fails", [] { FakeWrites::failingWrite = 2; }, Status::WriteFailed, S7_ERR_TIMEOUT, 3,
         then(Written, MayBeWritten)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeWrites::reset();
        FakeWrites::limit = 4;
        FakeWrites::refusedObject = 2;
        c.arrange();
        const WriteResult result = writeIds(10);
        EXPECT_FALSE(result.ok());
        EXPECT_FALSE(result.allWritten());
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.code, c.code);
        EXPECT_EQ(FakeWrites::requests.size(), c.requests) << "nothing after the failure, nothing again";
        EXPECT_EQ(outcomes(result), c.outcomes);
        EXPECT_EQ(result.items[1].error, 0x8104u) << "the answered chunk's refusal stands";
    }
}

TEST_F(ChunkedWrite, WithoutAUsableItemLimitOrAnswerNothingIsClaimedWritten) {
    using enum ItemOutcome;
    const struct {
        const char* what;
        void (*arrange)();
        Status status;
        std::uint8_t code;
        std::size_t requests;
        std::vector<ItemOutcome> outcomes;
    } cases[] = {
        {"the item limit cannot be read", [] { FakeWrites::limitCode = S7_ERR_NOT_CONNECTED; }, Status::LimitFailed,
         S7_ERR_NOT_CONNECTED, 0, std::vector<ItemOutcome>(6, NotWritten)},
        {"an item limit of 0", [] { FakeWrites::limit = 0; }, Status::NoResults, S7_OK, 0,
         std::vector<ItemOutcome>(6, NotWritten)},
        {"a request answered without results",
         [] { FakeWrites::nullResults = true; },
         Status::NoResults,
         S7_OK,
         1,
         {MayBeWritten, MayBeWritten, MayBeWritten, MayBeWritten, NotWritten, NotWritten}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeWrites::reset();
        FakeWrites::limit = 4;
        c.arrange();
        const WriteResult result = writeIds(6);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.code, c.code);
        EXPECT_EQ(FakeWrites::requests.size(), c.requests);
        EXPECT_EQ(outcomes(result), c.outcomes);
    }
}

TEST_F(ChunkedWrite, EveryAddressNeedsItsValue) {
    addresses_.assign(3, s7_item_address{});
    values_.assign(2, nullptr);
    EXPECT_THROW(vemo::writeInChunks(client_, addresses_, values_, FakeWrites::calls()), std::invalid_argument);
    EXPECT_TRUE(FakeWrites::requests.empty());
}

}  // namespace

// The tag inspector's rows and its refresh. The worker and the UI thread are
// played by the test: the refresh task and the result it posts are queued
// and run when the test says so, and the clock is the test's. The
// connection service is connected to the in-process simulator; the reads go
// to a recording fake, or to the real library where the values matter.
#include "vemo/core/TagInspector.h"

#include "app_test_support.h"
#include "fake_reads.h"
#include "test_symbols.h"
#include "vemo/core/PlcConnection.h"
#include "vemo/core/ThreadPool.h"
#include "vemo/core/ValueParse.h"
#include "vemo/core/WatchListFile.h"

#include "Program.h"
#include "Server.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The row's last good value as decimal text; empty before the first.
std::string decText(const vemo::InspectorRow& row) {
    return vemo::formatValue(row.value, row.datatype, vemo::DisplayFormat::Dec).text;
}


using vemo::TagInspector;
using vemo::test::FakeReads;
using vemo::test::OwnedSymbols;
using vemo::test::TestSymbol;

constexpr std::int64_t kSecond = TagInspector::kRefreshIntervalNs;

// A recording fake of the library's write: the object ids and values it
// was given; an item of object id `refusedObject` is refused with 0x8104,
// and every call answers `code`.
struct FakeWrite {
    static inline std::uint8_t code = S7_OK;
    static inline std::uint32_t refusedObject = 0;
    static inline std::vector<std::pair<std::uint32_t, std::int32_t>> written;
    static inline std::vector<vemo::ReadValue> sent;  // each value as sent, of any type

    static void reset() {
        code = S7_OK;
        refusedObject = 0;
        written.clear();
        sent.clear();
    }
    static std::uint8_t write(vemoc_s7_client*, const s7_item_address* const* items, const s7_value* const* values,
                              std::uint32_t count, s7_write_result** results) {
        std::int32_t v = 0;
        (void)s7_value_get_i32(values[0], &v);
        written.emplace_back(items[0]->object_id, v);
        sent.push_back(vemo::ReadValue::of(values[0]));
        if (code != S7_OK) return code;
        auto* array = static_cast<s7_write_result*>(std::calloc(count, sizeof(s7_write_result)));
        array[0].error = items[0]->object_id == refusedObject ? 0x8104 : 0;
        *results = array;
        return S7_OK;
    }
};
constexpr std::uint8_t kDint = S7_DATATYPE_DINT;

class TagInspectorTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeReads::reset();
        FakeWrite::reset();
        vemo::sim::ServerOptions options;
        options.port = 0;
        options.record = true;
        sim_ = std::make_unique<vemo::sim::Server>(vemo::sim::Program::builtIn(), options);
        ASSERT_EQ(service_.connect("127.0.0.1", sim_->port()), S7_OK);
        makeInspector(vemo::ReadCalls{&FakeReads::maxReadItems, &FakeReads::read});
    }

    void makeInspector(vemo::ReadCalls calls) {
        TagInspector::Hooks hooks;
        hooks.submit = [this](std::function<void()> task) { tasks_.push_back(std::move(task)); };
        hooks.post = [this](std::function<void()> fn) { posted_.push_back(std::move(fn)); };
        // A look at the clock takes `tick_` of it: a worker that reads for
        // a while.
        hooks.now = [this] { return now_ += tick_; };
        hooks.calls = calls;
        hooks.write = &FakeWrite::write;
        inspector_ = std::make_unique<TagInspector>(service_, pool_, std::move(hooks));
    }

    // What the pool's worker would do next: run the queued refreshes.
    void runWorker() {
        auto tasks = std::move(tasks_);
        tasks_.clear();
        for (auto& task : tasks) task();
    }
    // What the UI thread would do at the start of the next frame.
    void runPosted() {
        auto posted = std::move(posted_);
        posted_.clear();
        for (auto& fn : posted) fn();
    }
    // One whole refresh at `at`: update, worker, result.
    void refreshAt(std::int64_t at) {
        now_ = at;
        inspector_->update();
        ++FakeReads::refreshNumber;
        runWorker();
        runPosted();
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& row : inspector_->rows()) out.push_back(row.name);
        return out;
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const auto& row : inspector_->rows()) out.push_back(decText(row));
        return out;
    }

    std::unique_ptr<vemo::sim::Server> sim_;
    vemo::PlcConnection service_;
    vemo::ThreadPool pool_;  // never started: the test runs the tasks itself
    std::vector<std::function<void()>> tasks_;
    std::vector<std::function<void()>> posted_;
    std::int64_t now_ = 5 * kSecond;
    std::int64_t tick_ = 0;
    std::unique_ptr<TagInspector> inspector_;
};

std::vector<TestSymbol> numberedTags(int n) {
    std::vector<TestSymbol> symbols;
    // DINT, as FakeReads answers.
    for (int i = 0; i < n; ++i) symbols.push_back({"DB1.Tag" + std::to_string(i + 1), kDint});
    return symbols;
}

TEST_F(TagInspectorTest, ThereIsNoInspectorWithoutAWayToTheUiThread) {
    TagInspector::Hooks hooks;
    hooks.submit = [this](std::function<void()> task) { tasks_.push_back(std::move(task)); };
    EXPECT_THROW(TagInspector(service_, pool_, std::move(hooks)), std::invalid_argument);
}

TEST_F(TagInspectorTest, RowsAreUniquePerNameAndTheGenerationCountsRealChanges) {
    auto tags = std::make_unique<OwnedSymbols>(std::vector<TestSymbol>{{"DB1.a", 1}, {"DB1.b", 19}});
    EXPECT_EQ(inspector_->generation(), 0u);
    inspector_->clear();
    EXPECT_EQ(inspector_->generation(), 0u) << "clearing an empty list changes nothing";

    inspector_->add(tags->at(0));
    inspector_->add(tags->at(1));
    ASSERT_EQ(inspector_->rows().size(), 2u);
    EXPECT_EQ(inspector_->generation(), 2u);
    const std::uint32_t objectId = tags->at(1)->address.object_id;
    // The rows copy what they need: the symbols may go (a reload of the tree).
    tags.reset();
    const vemo::InspectorRow& row = inspector_->rows()[1];
    EXPECT_EQ(row.name, "DB1.b");
    EXPECT_EQ(row.typeName, "STRING");
    EXPECT_EQ(decText(row), "");
    EXPECT_EQ(row.state, vemo::RowState::Waiting);
    EXPECT_EQ(row.objectId, objectId);

    OwnedSymbols again({{"DB1.a", 1}});
    inspector_->add(again.at(0));
    EXPECT_EQ(inspector_->rows().size(), 2u) << "the same name twice is one row";
    EXPECT_EQ(inspector_->generation(), 2u);

    inspector_->remove("DB1.a");
    ASSERT_EQ(inspector_->rows().size(), 1u);
    EXPECT_EQ(inspector_->rows()[0].name, "DB1.b");
    EXPECT_EQ(inspector_->generation(), 3u);
    inspector_->remove("DB1.a");
    EXPECT_EQ(inspector_->generation(), 3u) << "removing a name without a row changes nothing";

    inspector_->clear();
    EXPECT_TRUE(inspector_->rows().empty());
    EXPECT_EQ(inspector_->generation(), 4u);
}

// A structure's leaves added at once: names already there, names twice in
// the batch and null records add nothing, the rest keep their order, and the
// whole batch is one change.
TEST_F(TagInspectorTest, ManyTagsAtOnceAreAddedInOrderOncePerNameAsOneChange) {
    const OwnedSymbols tags({{"DB1.a", 1}, {"DB1.b", 1}, {"DB1.c", 1}, {"DB1.d", 1}});
    inspector_->add(tags.at(1));
    inspector_->add(tags.at(3));
    const std::uint64_t generation = inspector_->generation();
    // Short names, stored inside the rows: the batch outgrows the rows'
    // room, and the names already there must still be recognised after.
    const std::vector<const s7_symbol*> batch = {tags.at(0), tags.at(1), nullptr,    tags.at(2),
                                                 tags.at(0), tags.at(3), tags.at(2), tags.at(1)};
    inspector_->add(batch);
    EXPECT_EQ(names(), (std::vector<std::string>{"DB1.b", "DB1.d", "DB1.a", "DB1.c"}));
    EXPECT_EQ(inspector_->generation(), generation + 1);
    EXPECT_EQ(inspector_->rows()[2].objectId, tags.at(0)->address.object_id);

    inspector_->add(batch);
    EXPECT_EQ(inspector_->rows().size(), 4u);
    EXPECT_EQ(inspector_->generation(), generation + 1) << "nothing new, no change";
}

TEST_F(TagInspectorTest, ManyNamesAreRemovedInOnePassKeepingTheOthersInOrderWithTheirValues) {
    OwnedSymbols tags(numberedTags(10));
    for (std::size_t i = 0; i < 10; ++i) inspector_->add(tags.at(i));
    refreshAt(now_);
    const std::uint64_t generation = inspector_->generation();
    const std::vector<std::string> gone = {"DB1.Tag9", "DB1.Tag2", "DB1.Nothing", "DB1.Tag5", "DB1.Tag2"};
    EXPECT_EQ(inspector_->remove(gone), 3u);
    EXPECT_EQ(names(), (std::vector<std::string>{"DB1.Tag1", "DB1.Tag3", "DB1.Tag4", "DB1.Tag6", "DB1.Tag7",
                                                 "DB1.Tag8", "DB1.Tag10"}));
    EXPECT_EQ(texts(), (std::vector<std::string>{"101", "301", "401", "601", "701", "801", "1001"}))
        << "each value stays with its row";
    EXPECT_EQ(inspector_->generation(), generation + 1) << "one change for all of them";
    EXPECT_EQ(inspector_->remove(std::vector<std::string>{"DB1.Nothing"}), 0u);
    EXPECT_EQ(inspector_->generation(), generation + 1) << "nothing removed, no change";
}

TEST_F(TagInspectorTest, ALargeListIsFreedOnTheWorkerAndASmallOneAtOnce) {
    OwnedSymbols few(numberedTags(3));
    for (std::size_t i = 0; i < few.size(); ++i) inspector_->add(few.at(i));
    inspector_->clear();
    EXPECT_TRUE(inspector_->rows().empty());
    EXPECT_TRUE(tasks_.empty()) << "three rows are no work for the worker";

    OwnedSymbols many(numberedTags(5000));
    std::vector<const s7_symbol*> all;
    for (std::size_t i = 0; i < many.size(); ++i) all.push_back(many.at(i));
    inspector_->add(all);
    const std::uint64_t generation = inspector_->generation();
    inspector_->clear();
    EXPECT_TRUE(inspector_->rows().empty()) << "gone from the table at once";
    EXPECT_EQ(inspector_->generation(), generation + 1);
    ASSERT_EQ(tasks_.size(), 1u) << "freed on the worker";
    runWorker();

    // Removing all but a few hands the removed rows on the same way.
    inspector_->add(all);
    std::vector<std::string> names;
    for (std::size_t i = 3; i < many.size(); ++i) names.emplace_back(many.at(i)->name);
    EXPECT_EQ(inspector_->remove(names), many.size() - 3);
    EXPECT_EQ(this->names(), (std::vector<std::string>{"DB1.Tag1", "DB1.Tag2", "DB1.Tag3"}));
    EXPECT_EQ(tasks_.size(), 1u);
    runWorker();
}

// A refresh reads for a bounded time and a bounded number of rows; the next
// beat goes on after the last row read, round the end to the first rows.
TEST_F(TagInspectorTest, ATableTooLargeForOneBeatIsReadInRoundsThatGoOnWhereTheLastStopped) {
    OwnedSymbols tags(numberedTags(100));
    for (std::size_t i = 0; i < tags.size(); ++i) inspector_->add(tags.at(i));
    const auto round = [&](std::int64_t at) {
        now_ = at;
        inspector_->update();
        ++FakeReads::refreshNumber;
        FakeReads::requests.clear();
        // Each request takes 300 ms: three fit in a round's time.
        tick_ = 300'000'000;
        runWorker();
        tick_ = 0;
        runPosted();
    };
    const auto firstIds = [] {
        std::vector<std::uint32_t> ids;
        for (const auto& request : FakeReads::requests) ids.push_back(request.front());
        return ids;
    };
    const auto text = [&](std::size_t i) { return decText(inspector_->rows()[i]); };

    round(10 * kSecond);
    EXPECT_EQ(firstIds(), (std::vector<std::uint32_t>{1, 17, 33}));
    EXPECT_EQ(inspector_->lastRound().read, 48u);
    EXPECT_EQ(inspector_->lastRound().readable, 100u);
    EXPECT_FALSE(inspector_->lastRound().complete());
    EXPECT_EQ(text(47), "4801");
    EXPECT_EQ(inspector_->rows()[48].state, vemo::RowState::Waiting) << "not read yet, and not stale either";

    round(11 * kSecond);
    EXPECT_EQ(firstIds(), (std::vector<std::uint32_t>{49, 65, 81})) << "on from where the last round stopped";
    round(12 * kSecond);
    EXPECT_EQ(firstIds(), (std::vector<std::uint32_t>{97, 13, 29})) << "round the end to the first rows";
    EXPECT_EQ(FakeReads::requests[0], (std::vector<std::uint32_t>{97, 98, 99, 100, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10,
                                                                   11, 12}));
    EXPECT_EQ(text(99), "10003");
    EXPECT_EQ(text(43), "4403");
    EXPECT_EQ(text(44), "4501") << "read in the first round, and next in the next";

    // Without the clock running out, a round takes every row.
    now_ = 13 * kSecond;
    refreshAt(now_);
    EXPECT_TRUE(inspector_->lastRound().complete());
    EXPECT_EQ(inspector_->lastRound().read, 100u);

    // Nothing left to say about a table that is gone.
    round(14 * kSecond);
    ASSERT_FALSE(inspector_->lastRound().complete());
    inspector_->clear();
    EXPECT_TRUE(inspector_->lastRound().complete());
}

TEST_F(TagInspectorTest, ARoundTakesAtMostItsNumberOfRows) {
    const std::size_t n = TagInspector::kRowsPerRound + 10;
    OwnedSymbols tags(numberedTags(static_cast<int>(n)));
    std::vector<const s7_symbol*> all;
    for (std::size_t i = 0; i < n; ++i) all.push_back(tags.at(i));
    inspector_->add(all);
    refreshAt(now_);
    EXPECT_EQ(inspector_->lastRound().read, TagInspector::kRowsPerRound);
    EXPECT_EQ(inspector_->lastRound().readable, n);
    FakeReads::requests.clear();
    refreshAt(now_ + kSecond);
    ASSERT_FALSE(FakeReads::requests.empty());
    EXPECT_EQ(FakeReads::requests[0].front(), TagInspector::kRowsPerRound + 1);
    EXPECT_EQ(FakeReads::requests[0][10], 1u) << "the ten rows left, then from the first again";
}

TEST_F(TagInspectorTest, ReadsAllRowsInRowOrderInChunksOfTheItemLimit) {
    OwnedSymbols tags(numberedTags(40));
    // Added in reverse, so row order differs from list order.
    for (int i = 39; i >= 0; --i) inspector_->add(tags.at(static_cast<std::size_t>(i)));

    refreshAt(now_);

    ASSERT_EQ(FakeReads::requests.size(), 3u);
    EXPECT_EQ(FakeReads::requests[0].size(), 16u);
    EXPECT_EQ(FakeReads::requests[1].size(), 16u);
    EXPECT_EQ(FakeReads::requests[2].size(), 8u);
    std::vector<std::uint32_t> order;
    for (const auto& r : FakeReads::requests) order.insert(order.end(), r.begin(), r.end());
    std::vector<std::uint32_t> rowOrder;
    std::vector<std::string> expected;
    for (const auto& row : inspector_->rows()) {
        rowOrder.push_back(row.objectId);
        expected.push_back(std::to_string(row.objectId * 100 + 1));
    }
    EXPECT_EQ(order, rowOrder);
    EXPECT_EQ(texts(), expected) << "text i belongs to row i";
    EXPECT_FALSE(inspector_->refreshing());
}

TEST_F(TagInspectorTest, RefreshesAtMostOncePerSecondAndOneAtATime) {
    OwnedSymbols tags(numberedTags(2));
    inspector_->update();
    EXPECT_TRUE(tasks_.empty()) << "no rows: nothing submitted";
    inspector_->add(tags.at(0));
    inspector_->add(tags.at(1));
    now_ += kSecond - 1;
    inspector_->update();
    EXPECT_TRUE(tasks_.empty()) << "the empty update stamped the time";

    now_ += 1;
    inspector_->update();
    ASSERT_EQ(tasks_.size(), 1u);
    EXPECT_TRUE(inspector_->refreshing());
    now_ += 10 * kSecond;
    inspector_->update();
    EXPECT_EQ(tasks_.size(), 1u) << "one refresh in flight at a time";

    runWorker();
    runPosted();
    EXPECT_FALSE(inspector_->refreshing());
    inspector_->update();
    EXPECT_EQ(tasks_.size(), 1u) << "more than a second since the last start: next one at once";
}

// The program sleeps between frames and wakes when nextRefreshIn says, a
// little late each time (whole milliseconds, the frame's own work): the
// refreshes keep to their beat instead of drifting by that much each second.
TEST_F(TagInspectorTest, RefreshesKeepTheirBeatWhenTheFramesComeLate) {
    constexpr std::int64_t kLate = 7'000'000;
    OwnedSymbols tags(numberedTags(1));
    EXPECT_FALSE(inspector_->nextRefreshIn()) << "no rows: nothing is due";
    inspector_->add(tags.at(0));
    std::vector<std::int64_t> starts;
    while (starts.size() < 12) {
        const std::optional<std::int64_t> in = inspector_->nextRefreshIn();
        ASSERT_TRUE(in.has_value());
        ASSERT_GE(*in, 0);
        now_ += *in + kLate;
        inspector_->update();
        ASSERT_EQ(tasks_.size(), 1u) << "due when it said";
        starts.push_back(now_);
        runWorker();
        EXPECT_FALSE(inspector_->nextRefreshIn()) << "while the refresh is out its result wakes the loop";
        runPosted();
    }
    for (std::size_t k = 1; k < starts.size(); ++k) {
        EXPECT_LE(starts[k] - starts[0] - static_cast<std::int64_t>(k) * kSecond, kLate) << "refresh " << k;
    }
    service_.disconnect();
    EXPECT_FALSE(inspector_->nextRefreshIn()) << "no connection: nothing is due";
}

TEST_F(TagInspectorTest, AResultForRowsThatChangedMeanwhileIsDropped) {
    OwnedSymbols tags(numberedTags(4));
    for (std::size_t i = 0; i < 3; ++i) inspector_->add(tags.at(i));
    refreshAt(now_);
    ASSERT_EQ(texts(), (std::vector<std::string>{"101", "201", "301"}));

    const std::int64_t start = now_ + kSecond;
    now_ = start;
    inspector_->update();
    ++FakeReads::refreshNumber;
    runWorker();
    // While the result is on its way: as many rows as before, not the same.
    inspector_->remove(tags.at(1)->name);
    inspector_->add(tags.at(3));
    runPosted();
    EXPECT_EQ(texts(), (std::vector<std::string>{"101", "301", ""})) << "the late texts are not applied";
    EXPECT_FALSE(inspector_->refreshing());

    now_ = start + kSecond - 1;
    inspector_->update();
    EXPECT_TRUE(tasks_.empty()) << "a second after the previous start, not after its end";
    now_ = start + kSecond;
    refreshAt(now_);
    EXPECT_EQ(texts(), (std::vector<std::string>{"103", "303", "403"}));
}

struct FailureCase {
    const char* name;
    std::function<void()> arrange;
    std::size_t readsMade;
};

TEST_F(TagInspectorTest, AFailedRefreshLeavesEveryTextAsItWasButStale) {
    const FailureCase cases[] = {
        {"the item limit cannot be read", [] { FakeReads::limitCode = S7_ERR_NOT_CONNECTED; }, 0},
        {"an item limit of 0", [] { FakeReads::limit = 0; }, 0},
        {"the second of three reads fails", [] { FakeReads::failingRead = 1; }, 2},
        {"a read succeeds without values", [] { FakeReads::nullValues = true; }, 1},
        {"disconnected", [this] { service_.disconnect(); }, 0},
    };
    for (const FailureCase& c : cases) {
        SetUp();
        OwnedSymbols tags(numberedTags(40));
        for (std::size_t i = 0; i < 40; ++i) inspector_->add(tags.at(i));
        refreshAt(now_);
        const std::vector<std::string> before = texts();
        ASSERT_EQ(before.front(), "101") << c.name;

        FakeReads::requests.clear();
        c.arrange();
        refreshAt(now_ + kSecond);
        EXPECT_EQ(FakeReads::requests.size(), c.readsMade) << c.name;
        EXPECT_EQ(texts(), before) << c.name;
        EXPECT_FALSE(inspector_->refreshing()) << c.name;
        for (const auto& row : inspector_->rows()) {
            EXPECT_EQ(row.state, vemo::RowState::Stale) << c.name;
            EXPECT_TRUE(row.lastGood.has_value()) << c.name << ": the time of the last good value stays";
        }
    }
}

TEST_F(TagInspectorTest, ARefusedVariableShowsItsCodeWhileTheOthersGoOn) {
    OwnedSymbols tags(numberedTags(3));
    for (std::size_t i = 0; i < 3; ++i) inspector_->add(tags.at(i));
    refreshAt(now_);
    ASSERT_EQ(texts(), (std::vector<std::string>{"101", "201", "301"}));

    FakeReads::refusedObject = inspector_->rows()[1].objectId;
    refreshAt(now_ + kSecond);
    const auto& rows = inspector_->rows();
    EXPECT_EQ(rows[0].state, vemo::RowState::Live);
    EXPECT_EQ(decText(rows[0]), "102");
    EXPECT_EQ(rows[1].state, vemo::RowState::Refused);
    EXPECT_EQ(rows[1].refusal, std::optional<std::uint64_t>(0x8104));
    EXPECT_EQ(decText(rows[1]), "201") << "the last good value stays for its tooltip";
    EXPECT_EQ(rows[2].state, vemo::RowState::Live);
    EXPECT_EQ(decText(rows[2]), "302");

    FakeReads::refusedObject = 0;
    refreshAt(now_ + 2 * kSecond);
    EXPECT_EQ(rows[1].state, vemo::RowState::Live);
    EXPECT_FALSE(rows[1].refusal.has_value());
}

TEST_F(TagInspectorTest, AMismatchedAnswerIsNeverShownAsTheValue) {
    using vemo::RowState;
    OwnedSymbols tags(numberedTags(3));
    for (std::size_t i = 0; i < 3; ++i) inspector_->add(tags.at(i));
    const auto& rows = inspector_->rows();
    const vemo::InspectorRow& row = rows[1];
    const vemo::TypeMismatch boolsForDint{"BOOL array", kDint};

    // Before any value: the row says so and has no value to keep.
    FakeReads::mismatchedObject = row.objectId;
    refreshAt(now_);
    EXPECT_EQ(row.state, RowState::Mismatch);
    EXPECT_EQ(row.mismatch, boolsForDint);
    EXPECT_EQ(decText(row), "");
    EXPECT_FALSE(row.lastGood.has_value());
    EXPECT_EQ(rows[0].state, RowState::Live);
    EXPECT_EQ(decText(rows[2]), "301");

    // After a good value: that value and its time stay, untouched.
    FakeReads::mismatchedObject = 0;
    refreshAt(now_ + kSecond);
    ASSERT_EQ(row.state, RowState::Live);
    EXPECT_FALSE(row.mismatch.has_value());
    const auto goodAt = row.lastGood;
    FakeReads::mismatchedObject = row.objectId;
    refreshAt(now_ + 2 * kSecond);
    EXPECT_EQ(row.state, RowState::Mismatch);
    EXPECT_EQ(decText(row), "202");
    EXPECT_EQ(row.lastGood, goodAt);
    EXPECT_EQ(decText(rows[2]), "303") << "the others go on";

    // A lost connection leaves the mismatch shown, as it does a refusal.
    service_.disconnect();
    inspector_->update();
    EXPECT_EQ(row.state, RowState::Mismatch);
    EXPECT_EQ(rows[0].state, RowState::Stale);
    ASSERT_EQ(service_.connect("127.0.0.1", sim_->port()), S7_OK);
    // The new connection's browse finds the rows again, as the tree's does.
    inspector_->rebind([&](const std::string& name) {
        return tags.at(name.back() == '1' ? 0 : name.back() == '2' ? 1 : 2);
    });

    // A refusal replaces the mismatch, and the other way round.
    FakeReads::mismatchedObject = 0;
    FakeReads::refusedObject = row.objectId;
    refreshAt(now_ + 3 * kSecond);
    EXPECT_EQ(row.state, RowState::Refused);
    EXPECT_FALSE(row.mismatch.has_value());
    FakeReads::refusedObject = 0;
    FakeReads::mismatchedObject = row.objectId;
    refreshAt(now_ + 4 * kSecond);
    EXPECT_EQ(row.state, RowState::Mismatch);
    EXPECT_FALSE(row.refusal.has_value());
    EXPECT_EQ(decText(row), "202");

    // A variable gone from the program is missing, no longer mismatched.
    inspector_->rebind([&](const std::string& name) -> const s7_symbol* {
        return name == row.name ? nullptr : tags.at(name == rows[0].name ? 0 : 2);
    });
    EXPECT_EQ(row.state, RowState::Missing);
    EXPECT_FALSE(row.mismatch.has_value());
}

TEST_F(TagInspectorTest, AWriteIsSentOnlyWhenAllowedAndTheRowShowsTheValueReadBackOrWhyNot) {
    OwnedSymbols tags(numberedTags(3));
    for (std::size_t i = 0; i < 3; ++i) inspector_->add(tags.at(i));
    const auto value = [](std::int32_t v) { return vemo::OwnedValue(s7_value_new_i32(v)); };
    const auto row = [&](std::size_t i) -> const vemo::InspectorRow& { return inspector_->rows().at(i); };

    EXPECT_EQ(inspector_->write("DB1.Tag1", value(7)), "writing is not allowed on this connection");
    EXPECT_TRUE(tasks_.empty());
    service_.allowWrites(true);
    EXPECT_EQ(inspector_->write("DB1.Nothing", value(7)), "no such variable in the inspector");

    // Written, then read back: the row shows what the controller now holds.
    FakeWrite::refusedObject = 2;
    ASSERT_EQ(inspector_->write("DB1.Tag1", value(42)), "");
    EXPECT_EQ(row(0).writeState, vemo::WriteState::Pending);
    EXPECT_EQ(inspector_->write("DB1.Tag1", value(43)), "a write to this variable is still out");
    ASSERT_EQ(inspector_->write("DB1.Tag2", value(5)), "");
    runWorker();
    runPosted();
    EXPECT_EQ(FakeWrite::written, (std::vector<std::pair<std::uint32_t, std::int32_t>>{{1, 42}, {2, 5}}));
    EXPECT_EQ(row(0).writeState, vemo::WriteState::Written);
    EXPECT_EQ(row(0).writeNote.rfind("written at ", 0), 0u) << row(0).writeNote;
    EXPECT_EQ(decText(row(0)), "100") << "the value read back";
    EXPECT_EQ(row(0).state, vemo::RowState::Live);
    EXPECT_EQ(row(1).writeState, vemo::WriteState::Failed);
    EXPECT_EQ(row(1).writeNote, "not written: the controller refused it (16#8104)");
    EXPECT_EQ(decText(row(1)), "") << "nothing read back for a refused write";

    // A request without an answer may have been written; one the library
    // refused to send was not; a permission withdrawn before the worker got
    // to the write sends nothing. None of them is claimed written.
    FakeWrite::code = S7_ERR_TIMEOUT;
    ASSERT_EQ(inspector_->write("DB1.Tag3", value(9)), "");
    runWorker();
    runPosted();
    EXPECT_EQ(row(2).writeState, vemo::WriteState::Unconfirmed);
    EXPECT_EQ(row(2).writeNote.rfind("may have been written: no answer", 0), 0u) << row(2).writeNote;
    FakeWrite::code = S7_ERR_ENCODE;
    ASSERT_EQ(inspector_->write("DB1.Tag3", value(9)), "");
    runWorker();
    runPosted();
    EXPECT_EQ(row(2).writeState, vemo::WriteState::Failed);
    EXPECT_EQ(row(2).writeNote, "not written: a request could not be built");
    FakeWrite::code = S7_OK;
    ASSERT_EQ(inspector_->write("DB1.Tag3", value(9)), "");
    service_.allowWrites(false);
    const std::size_t calls = FakeWrite::written.size();
    runWorker();
    runPosted();
    EXPECT_EQ(FakeWrite::written.size(), calls);
    EXPECT_EQ(row(2).writeNote, "not written: writing was turned off before it was sent");
}

// A controller that sends a DATE_AND_TIME as one 64-bit integer gets it back
// as one, holding the eight bytes the typed DT#... stands for.
TEST_F(TagInspectorTest, ADateAndTimeIsWrittenInTheFormTheControllerSendsIt) {
    struct WideReads {
        static std::uint8_t read(vemoc_s7_client*, const s7_item_address* const*, std::uint32_t count,
                                 s7_item_result** results) {
            auto* array = static_cast<s7_item_result*>(std::calloc(count, sizeof(s7_item_result)));
            for (std::uint32_t i = 0; i < count; ++i) array[i].value = s7_value_new_u64(0x2403151345301236u);
            *results = array;
            return S7_OK;
        }
    };
    makeInspector(vemo::ReadCalls{&FakeReads::maxReadItems, &WideReads::read});
    OwnedSymbols tags(std::vector<TestSymbol>{{"DB1.When", S7_DATATYPE_DATE_AND_TIME}});
    ASSERT_TRUE(inspector_->add(tags.at(0)));
    refreshAt(now_);
    const vemo::InspectorRow& row = inspector_->rows().at(0);
    ASSERT_EQ(row.state, vemo::RowState::Live);
    EXPECT_EQ(vemo::formatValue(row.value, row.datatype, row.format).text, "DT#2024-03-15-13:45:30.123");

    service_.allowWrites(true);
    vemo::ParsedValue typed = vemo::parseValue("DT#2026-12-10-12:34:56.789", S7_DATATYPE_DATE_AND_TIME);
    ASSERT_TRUE(typed) << typed.error;
    ASSERT_EQ(inspector_->write("DB1.When", std::move(typed.value)), "");
    runWorker();
    runPosted();
    ASSERT_EQ(FakeWrite::sent.size(), 1u);
    EXPECT_EQ(FakeWrite::sent[0].wireType, S7_TYPE_U64);
    EXPECT_EQ(FakeWrite::sent[0].bits, 0x2612101234567895u);
}

TEST_F(TagInspectorTest, RowsFindTheirVariablesAgainByNameAfterAReload) {
    auto first = std::make_unique<OwnedSymbols>(std::vector<TestSymbol>{{"DB1.a", kDint}, {"DB1.b", kDint}});
    inspector_->add(first->at(0));
    inspector_->add(first->at(1));
    refreshAt(now_);
    first.reset();

    // The new load: "DB1.a" at another address, "DB1.b" gone, "DB1.c" new.
    OwnedSymbols second({{"DB1.c", kDint}, {"DB1.a", kDint}});
    const std::uint64_t generation = inspector_->generation();
    inspector_->rebind([&](const std::string& name) -> const s7_symbol* {
        for (std::size_t i = 0; i < 2; ++i) {
            if (name == second.at(i)->name) return second.at(i);
        }
        return nullptr;
    });
    EXPECT_NE(inspector_->generation(), generation) << "a refresh out with the old addresses is dropped";
    const auto& rows = inspector_->rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].objectId, second.at(1)->address.object_id);
    EXPECT_EQ(rows[1].state, vemo::RowState::Missing);

    FakeReads::requests.clear();
    refreshAt(now_ + kSecond);
    ASSERT_EQ(FakeReads::requests.size(), 1u);
    EXPECT_EQ(FakeReads::requests[0], (std::vector<std::uint32_t>{second.at(1)->address.object_id}))
        << "a missing variable is not read";
    EXPECT_EQ(rows[0].state, vemo::RowState::Live);
    EXPECT_EQ(rows[1].state, vemo::RowState::Missing);
}

// Rows of a watch list come in by name and stay, whatever the browse says:
// marked missing until one finds their variable, unreadable while the
// block they would be in could not be browsed. Neither kind is read or
// written, and a later browse that finds them brings them back.
TEST_F(TagInspectorTest, RowsKnownByNameOnlyStayMarkedUntilABrowseFindsThem) {
    using vemo::DisplayFormat;
    using vemo::RowState;
    OwnedSymbols tags(numberedTags(3));
    ASSERT_TRUE(inspector_->add(tags.at(0)));
    const std::vector<vemo::WatchRow> listed = {{"DB1.Tag1", "DINT", DisplayFormat::Bin},
                                                {"DB1.Tag2", "DINT", DisplayFormat::Hex},
                                                {"Conveyor.Speed", "INT", DisplayFormat::Dec},
                                                {"DB1.Tag2", "BOOL", DisplayFormat::Dec},
                                                {"DB1.Tag3", "no such type", DisplayFormat::Dec}};
    const std::uint64_t generation = inspector_->generation();
    EXPECT_EQ(inspector_->addUnresolved(listed), 3u) << "a name already in a row, and twice in the list, is one row";
    EXPECT_NE(inspector_->generation(), generation);
    const auto& rows = inspector_->rows();
    ASSERT_EQ(names(), (std::vector<std::string>{"DB1.Tag1", "DB1.Tag2", "Conveyor.Speed", "DB1.Tag3"}));
    EXPECT_EQ(rows[0].format, DisplayFormat::Dec) << "the row there stays as it was";
    EXPECT_EQ(rows[1].state, RowState::Missing);
    EXPECT_EQ(rows[1].typeName, "DINT");
    EXPECT_EQ(rows[1].format, DisplayFormat::Hex);
    EXPECT_EQ(rows[2].typeName, "INT");
    EXPECT_EQ(rows[3].typeName, "UNKNOWN");

    FakeReads::requests.clear();
    refreshAt(now_);
    ASSERT_EQ(FakeReads::requests.size(), 1u);
    EXPECT_EQ(FakeReads::requests[0], (std::vector<std::uint32_t>{1})) << "rows known by name only are not read";

    // A browse in which Conveyor failed: its row is unreadable, not missing.
    const auto findIn = [&](std::size_t count) {
        return [&tags, count](const std::string& name) -> const s7_symbol* {
            for (std::size_t i = 0; i < count; ++i) {
                if (name == tags.at(i)->name) return tags.at(i);
            }
            return nullptr;
        };
    };
    const auto conveyorFailed = [](const std::string& name) -> std::uint8_t {
        return name.starts_with("Conveyor.") ? S7_ERR_NO_MEMORY : S7_OK;
    };
    inspector_->rebind(findIn(2), std::nullopt, conveyorFailed);
    EXPECT_EQ(rows[1].state, RowState::Waiting);
    EXPECT_EQ(rows[1].format, DisplayFormat::Hex) << "found with the listed type, in the listed format";
    EXPECT_EQ(rows[2].state, RowState::Unreadable);
    EXPECT_EQ(rows[2].browseFailure, S7_ERR_NO_MEMORY);
    EXPECT_EQ(rows[3].state, RowState::Missing);
    service_.allowWrites(true);
    EXPECT_EQ(inspector_->write("Conveyor.Speed", vemo::OwnedValue(s7_value_new_i32(1))),
              "the block of this variable could not be read from the controller");
    EXPECT_EQ(inspector_->write("DB1.Tag3", vemo::OwnedValue(s7_value_new_i32(1))),
              "the controller's program has no variable of this name any more");
    EXPECT_TRUE(tasks_.empty());
    FakeReads::requests.clear();
    refreshAt(now_ + kSecond);
    ASSERT_EQ(FakeReads::requests.size(), 1u);
    EXPECT_EQ(FakeReads::requests[0], (std::vector<std::uint32_t>{1, 2}));
    EXPECT_EQ(rows[2].state, RowState::Unreadable) << "a refresh does not touch it";

    // Another controller's values are dropped; what a row is, is not.
    inspector_->forgetValues();
    EXPECT_EQ(rows[2].state, RowState::Unreadable);
    EXPECT_EQ(rows[3].state, RowState::Missing);

    // The block read, the variable gone from it: missing. Then a browse that
    // has everything brings every row back.
    inspector_->rebind(findIn(2), std::nullopt, [](const std::string&) -> std::uint8_t { return S7_OK; });
    EXPECT_EQ(rows[2].state, RowState::Missing);
    EXPECT_EQ(rows[2].browseFailure, S7_OK);
    OwnedSymbols conveyor({{"Conveyor.Speed", S7_DATATYPE_INT}});
    inspector_->rebind([&](const std::string& name) -> const s7_symbol* {
        return name == "Conveyor.Speed" ? conveyor.at(0) : findIn(3)(name);
    });
    for (const auto& row : rows) EXPECT_EQ(row.state, RowState::Waiting) << row.name;
    EXPECT_EQ(rows[2].typeName, "INT");
    EXPECT_EQ(rows[3].typeName, "DINT") << "the type the controller says, once found";
}

// An address is read only on the connection whose browse gave it: after
// a new connection the rows wait, dimmed, until a browse of it finds them
// again; a variable is only taken from a browse of the live connection.
TEST_F(TagInspectorTest, RowsAreReadOnlyOnTheConnectionTheirBrowseCameFrom) {
    OwnedSymbols tags(numberedTags(2));
    const std::uint64_t first = service_.connectionId();
    ASSERT_TRUE(inspector_->add(tags.at(0)));
    refreshAt(now_);
    ASSERT_EQ(texts(), (std::vector<std::string>{"101"}));

    service_.disconnect();
    EXPECT_FALSE(inspector_->add(tags.at(1))) << "nothing is added without a connection";
    ASSERT_EQ(service_.connect("127.0.0.1", sim_->port()), S7_OK);
    ASSERT_NE(service_.connectionId(), first);
    EXPECT_FALSE(inspector_->add(tags.at(1), first)) << "a browse of the old connection gives no rows";
    EXPECT_EQ(inspector_->rows().size(), 1u);

    FakeReads::requests.clear();
    refreshAt(now_ + kSecond);
    EXPECT_TRUE(FakeReads::requests.empty()) << "the old address is not read on the new connection";
    EXPECT_EQ(inspector_->rows()[0].state, vemo::RowState::Stale);
    EXPECT_EQ(texts(), (std::vector<std::string>{"101"}));

    inspector_->rebind([&](const std::string&) { return tags.at(0); });
    EXPECT_TRUE(inspector_->add(tags.at(1)));
    refreshAt(now_ + 2 * kSecond);
    ASSERT_EQ(FakeReads::requests.size(), 1u);
    EXPECT_EQ(texts(), (std::vector<std::string>{"103", "203"}));
    EXPECT_EQ(inspector_->rows()[0].state, vemo::RowState::Live);
}

// Another controller: the rows keep their names and formats, lose what they
// showed of the previous one, and a result still out for it is dropped.
TEST_F(TagInspectorTest, ForgettingTheValuesKeepsNamesAndFormatsAndDropsALateResult) {
    OwnedSymbols tags(numberedTags(2));
    for (std::size_t i = 0; i < 2; ++i) inspector_->add(tags.at(i));
    refreshAt(now_);
    ASSERT_TRUE(inspector_->setFormat("DB1.Tag2", vemo::DisplayFormat::Hex));
    FakeReads::refusedObject = inspector_->rows()[0].objectId;
    now_ += kSecond;
    inspector_->update();
    ++FakeReads::refreshNumber;
    runWorker();

    inspector_->forgetValues();
    runPosted();  // the result read before the change
    for (const auto& row : inspector_->rows()) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.state, vemo::RowState::Waiting);
        EXPECT_EQ(decText(row), "");
        EXPECT_FALSE(row.value.present);
        EXPECT_FALSE(row.lastGood.has_value());
        EXPECT_FALSE(row.refusal.has_value());
    }
    EXPECT_EQ(inspector_->rows()[1].name, "DB1.Tag2");
    EXPECT_EQ(inspector_->rows()[1].format, vemo::DisplayFormat::Hex);
}

// The real library against the simulator's built-in program.
class TagInspectorReads : public TagInspectorTest {
protected:
    void SetUp() override {
        TagInspectorTest::SetUp();
        makeInspector(vemo::ReadCalls{});
        service_.withClient([this](vemoc_s7_client* client) {
            ASSERT_EQ(vemoc_s7_client_list_datablocks(client, &blocks_), S7_OK);
            ASSERT_GT(blocks_.count, 0u);
            ASSERT_STREQ(blocks_.items[0].name, "Conveyor");
            ASSERT_EQ(vemoc_s7_client_browse_block(client, &blocks_.items[0], &symbols_), S7_OK);
        });
    }
    void TearDown() override {
        s7_symbol_list_free(&symbols_);
        s7_block_list_free(&blocks_);
    }
    const s7_symbol* symbol(const std::string& name) const {
        for (std::uint32_t i = 0; i < symbols_.count; ++i) {
            if (name == symbols_.items[i].name) return &symbols_.items[i];
        }
        ADD_FAILURE() << "no symbol " << name;
        return nullptr;
    }

    s7_block_list blocks_{};
    s7_symbol_list symbols_{};
};

TEST_F(TagInspectorReads, ShowsTheControllersValues) {
    for (const char* name : {"Conveyor.Status", "Conveyor.Running", "Conveyor.Recipe", "Conveyor.BeltSpeed"}) {
        inspector_->add(symbol(name));
    }
    refreshAt(now_);
    const std::vector<std::string> shown = texts();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0], "4660");
    EXPECT_EQ(shown[1], "true");
    EXPECT_EQ(shown[2], "Still water 0.5 l");
    const double speed = std::stod(shown[3]);
    EXPECT_GE(speed, 1.3);
    EXPECT_LE(speed, 1.7);
}

TEST_F(TagInspectorReads, ARefreshOutlivesTheSymbolsItWasStartedFrom) {
    inspector_->add(symbol("Conveyor.Status"));
    inspector_->add(symbol("Conveyor.BottleCount"));
    now_ += kSecond;
    inspector_->update();
    ASSERT_EQ(tasks_.size(), 1u);
    // The tree's symbol records released, and the rows cleared, while the
    // read is still queued.
    inspector_->clear();
    s7_symbol_list_free(&symbols_);
    const std::size_t requestsBefore = sim_->requests().size();
    runWorker();
    EXPECT_EQ(sim_->requests().size(), requestsBefore + 1) << "one read, from the copied addresses";
    runPosted();
    EXPECT_TRUE(inspector_->rows().empty());
    EXPECT_FALSE(inspector_->refreshing());
}

// A row shows its kept value in the format it is set to, its data type's
// default to begin with; switching reads nothing anew, and only a good
// value replaces the kept one.
TEST_F(TagInspectorTest, ARowShowsItsKeptValueInItsFormat) {
    using vemo::DisplayFormat;
    // FakeReads answers object id * 100 + refresh number as an I32, which
    // fits TIME and TIME_OF_DAY as well as DINT.
    OwnedSymbols tags({{"DB1.Count", kDint}, {"DB1.Delay", S7_DATATYPE_TIME}, {"DB1.Shift", S7_DATATYPE_TIME_OF_DAY}});
    for (std::size_t i = 0; i < 3; ++i) inspector_->add(tags.at(i));
    const auto& rows = inspector_->rows();
    EXPECT_EQ(rows[0].format, DisplayFormat::Dec);
    EXPECT_EQ(rows[1].format, DisplayFormat::Iec);
    EXPECT_EQ(rows[2].format, DisplayFormat::Iec);
    const auto shown = [&rows](std::size_t i) {
        return vemo::formatValue(rows[i].value, rows[i].datatype, rows[i].format).text;
    };
    EXPECT_EQ(shown(1), "") << "nothing before the first value";

    refreshAt(now_);
    EXPECT_EQ(shown(0), "101");
    EXPECT_EQ(shown(1), "T#201MS");
    EXPECT_EQ(shown(2), "TOD#00:00:00.301");
    EXPECT_EQ(decText(rows[1]), "201") << "the decimal text stays as it was";

    const std::size_t reads = FakeReads::requests.size();
    const std::uint64_t generation = inspector_->generation();
    EXPECT_TRUE(inspector_->setFormat("DB1.Delay", "hex"));
    EXPECT_EQ(rows[1].format, DisplayFormat::Hex);
    EXPECT_EQ(shown(1), "16#000000C9");
    EXPECT_TRUE(inspector_->setFormat("DB1.Count", DisplayFormat::Unsigned));
    EXPECT_EQ(shown(0), "101");
    EXPECT_EQ(FakeReads::requests.size(), reads) << "a new format needs no new read";
    EXPECT_EQ(inspector_->generation(), generation) << "nor does it make a running refresh stale";

    // Formats a row's data type does not offer, unknown names and rows.
    EXPECT_FALSE(inspector_->setFormat("DB1.Count", DisplayFormat::Iec));
    EXPECT_FALSE(inspector_->setFormat("DB1.Count", "octal"));
    EXPECT_FALSE(inspector_->setFormat("DB1.Shift", DisplayFormat::Char));
    EXPECT_FALSE(inspector_->setFormat("DB1.None", "DEC"));
    EXPECT_EQ(rows[0].format, DisplayFormat::Unsigned);
    EXPECT_EQ(rows[2].format, DisplayFormat::Iec);

    // A mismatched answer is no value: the kept one stays.
    FakeReads::mismatchedObject = rows[1].objectId;
    refreshAt(now_ + kSecond);
    EXPECT_EQ(rows[1].state, vemo::RowState::Mismatch);
    EXPECT_EQ(shown(1), "16#000000C9");
    EXPECT_EQ(shown(2), "TOD#00:00:00.302");

    // Found again with its data type the row keeps its format; with another
    // one it starts over in that type's default.
    OwnedSymbols again({{"DB1.Count", kDint}, {"DB1.Delay", kDint}, {"DB1.Shift", S7_DATATYPE_TIME_OF_DAY}});
    inspector_->rebind([&](const std::string& name) -> const s7_symbol* {
        return again.at(name == "DB1.Count" ? 0 : name == "DB1.Delay" ? 1 : 2);
    });
    EXPECT_EQ(rows[0].format, DisplayFormat::Unsigned);
    EXPECT_EQ(rows[1].format, DisplayFormat::Dec);
    EXPECT_EQ(rows[2].format, DisplayFormat::Iec);
}

// A controller that sends every answer twice: each read takes its own
// answer, and the log says how many answers to earlier requests were let go.
TEST(PlcConnectionAnswers, AnswersToEarlierRequestsAreLetGoAndSaidInTheLog) {
    vemo::sim::ServerOptions options;
    options.port = 0;
    options.controller.fault = vemo::sim::Fault::parse("double-answer", std::nullopt);
    vemo::sim::Server sim(vemo::sim::Program::builtIn(), options);
    vemo::PlcConnection service;
    std::string log;
    {
        const vemo::test::CapturedStreams captured;
        ASSERT_EQ(service.connect("127.0.0.1", sim.port()), S7_OK);
        for (int round = 0; round < 3; ++round) {
            service.withClient([](vemoc_s7_client* client) {
                s7_block_list blocks{};
                EXPECT_EQ(vemoc_s7_client_list_datablocks(client, &blocks), S7_OK);
                s7_block_list_free(&blocks);
            });
        }
        log = captured.out();
        EXPECT_EQ(service.getState(), vemo::ConnectionState::Connected) << "the answers were matched, nothing broke";
        service.disconnect();
    }
    std::size_t lines = 0;
    for (std::size_t at = log.find("answered an earlier request again"); at != std::string::npos;
         at = log.find("answered an earlier request again", at + 1)) {
        ++lines;
    }
    EXPECT_GE(lines, 1u) << log;
    EXPECT_NE(log.find("[WARN ]"), std::string::npos) << log;
    EXPECT_NE(log.find(fmt::format("127.0.0.1:{}", sim.port())), std::string::npos) << log;
}

}  // namespace

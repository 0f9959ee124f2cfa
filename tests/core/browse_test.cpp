// Listing and browsing the blocks against the in-process simulator: every
// block is browsed whatever failed before it, and a failed block keeps its
// code and no symbols. Failures come from the simulator's faults, or from a
// browse that passes every block to the real library but the ones a test
// names.
#include "vemo/core/Browse.h"

#include "Faults.h"
#include "Program.h"
#include "Server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using vemo::BrowsedBlock;
using vemo::Catalog;

// The built-in program: three data blocks, then the five memory areas.
const std::vector<std::string> kBlocks = {"Conveyor", "Tank", "Recipes", "I", "Q", "M", "S7Timers", "S7Counters"};

// Browses through the library, except the blocks named in `failing`, which
// fail with S7_ERR_TIMEOUT without asking it.
struct FailingBrowse {
    static inline std::vector<std::string> failing;

    static std::uint8_t browse(vemoc_s7_client* client, const s7_block* block, s7_symbol_list* symbols) {
        if (std::find(failing.begin(), failing.end(), block->name) != failing.end()) return S7_ERR_TIMEOUT;
        return vemoc_s7_client_browse_block(client, block, symbols);
    }
};

class Browse : public ::testing::Test {
protected:
    void SetUp() override { FailingBrowse::failing.clear(); }
    void TearDown() override { vemoc_s7_client_free(client_); }

    // Starts the simulator (with `fault`, if any) and connects the handle.
    void connect(std::optional<vemo::sim::Fault> fault = std::nullopt) {
        vemo::sim::ServerOptions options;
        options.port = 0;
        if (fault) options.controller.fault = *fault;
        sim_ = std::make_unique<vemo::sim::Server>(vemo::sim::Program::builtIn(), std::move(options));
        ASSERT_NE(client_, nullptr);
        ASSERT_EQ(vemoc_s7_client_connect(client_, "127.0.0.1", sim_->port(), 10000), S7_OK);
    }

    // Runs every call on the handle, counting them: one per library call.
    vemo::ClientAccess access() {
        return [this](const vemo::ClientCall& call) {
            ++accesses_;
            call(client_);
        };
    }

    static std::vector<std::string> names(const std::vector<BrowsedBlock>& browsed) {
        std::vector<std::string> out;
        for (const BrowsedBlock& b : browsed) out.emplace_back(b.block->name);
        return out;
    }

    std::unique_ptr<vemo::sim::Server> sim_;
    vemoc_s7_client* client_ = vemoc_s7_client_new();
    int accesses_ = 0;
};

TEST_F(Browse, EveryBlockIsBrowsedAndAFailedOneKeepsItsCodeAndNoSymbols) {
    connect();
    const Catalog reference = vemo::listAndBrowse(access());
    ASSERT_EQ(reference.listCode, S7_OK);
    ASSERT_EQ(names(reference.browsed), kBlocks);
    EXPECT_EQ(vemo::firstFailure(reference.browsed), nullptr);
    EXPECT_EQ(accesses_, 1 + 8) << "the listing, then one access per block";
    for (const char* name : {"Conveyor", "Tank", "Recipes", "M"}) {
        const auto& b = *std::find_if(reference.browsed.begin(), reference.browsed.end(),
                                      [&](const BrowsedBlock& e) { return name == std::string(e.block->name); });
        EXPECT_GT(b.symbols.size(), 0u) << name;
    }

    const struct {
        const char* what;
        std::vector<std::string> failing;
    } cases[] = {
        {"a block in the middle", {"Tank"}},
        {"the last block", {"S7Counters"}},
        {"the first and a later one", {"Conveyor", "M"}},
    };
    vemo::BrowseCalls calls;
    calls.browse = FailingBrowse::browse;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FailingBrowse::failing = c.failing;
        const Catalog catalog = vemo::listAndBrowse(access(), calls);
        ASSERT_EQ(catalog.listCode, S7_OK);
        ASSERT_EQ(names(catalog.browsed), kBlocks) << "every block, in list order";
        for (std::size_t i = 0; i < kBlocks.size(); ++i) {
            const BrowsedBlock& b = catalog.browsed[i];
            EXPECT_EQ(b.block, &catalog.blocks[static_cast<std::uint32_t>(i)]) << "a record of the catalog's list";
            const bool failed = std::count(c.failing.begin(), c.failing.end(), kBlocks[i]) != 0;
            EXPECT_EQ(b.code, failed ? S7_ERR_TIMEOUT : S7_OK) << kBlocks[i];
            EXPECT_EQ(b.symbols.size(), failed ? 0u : reference.browsed[i].symbols.size()) << kBlocks[i];
        }
        ASSERT_NE(vemo::firstFailure(catalog.browsed), nullptr);
        EXPECT_EQ(vemo::firstFailure(catalog.browsed)->block->name, c.failing.front());
    }
}

TEST_F(Browse, AControllerThatFailsOneBlocksBrowseStillGivesTheOthers) {
    // The first data block holds a member of its own type: the library
    // refuses that block's description, and only that block's.
    connect(vemo::sim::Fault::parse("self-referencing-type", std::nullopt));
    const Catalog catalog = vemo::listAndBrowse(access());
    ASSERT_EQ(catalog.listCode, S7_OK);
    ASSERT_EQ(names(catalog.browsed), kBlocks);
    EXPECT_EQ(catalog.browsed[0].code, S7_ERR_PROTOCOL);
    EXPECT_EQ(catalog.browsed[0].symbols.size(), 0u);
    EXPECT_EQ(vemo::firstFailure(catalog.browsed), &catalog.browsed[0]);
    for (std::size_t i = 1; i < catalog.browsed.size(); ++i) {
        EXPECT_EQ(catalog.browsed[i].code, S7_OK) << kBlocks[i];
    }
    EXPECT_GT(catalog.browsed[1].symbols.size(), 0u) << "Tank, after the failed Conveyor";
}

TEST_F(Browse, AFailedListingBrowsesNothing) {
    connect(vemo::sim::Fault::parse("explore-error", 3));
    const Catalog catalog = vemo::listAndBrowse(access());
    EXPECT_EQ(catalog.listCode, S7_ERR_EXPLORE);
    EXPECT_TRUE(catalog.blocks.empty());
    EXPECT_TRUE(catalog.browsed.empty());
    EXPECT_EQ(accesses_, 1);
}

TEST_F(Browse, NamedBlocksAreBrowsedInListOrderWithProgressAfterEach) {
    connect();
    vemo::BlockList blocks;
    ASSERT_EQ(vemo::listBlocks(access(), blocks), S7_OK);
    ASSERT_EQ(blocks.size(), kBlocks.size());
    std::vector<std::pair<std::size_t, std::size_t>> progress;
    const auto browsed =
        vemo::browseBlocks(access(), blocks, {"M", "Nothing", "Tank"},
                           [&](std::size_t done, std::size_t total) { progress.emplace_back(done, total); });
    EXPECT_EQ(names(browsed), (std::vector<std::string>{"Tank", "M"})) << "unknown names are no blocks";
    EXPECT_EQ(progress, (std::vector<std::pair<std::size_t, std::size_t>>{{1, 2}, {2, 2}}));
    for (const BrowsedBlock& b : browsed) {
        EXPECT_EQ(b.code, S7_OK);
        for (const s7_symbol& symbol : b.symbols) {
            EXPECT_EQ(std::string(symbol.name).rfind(std::string(b.block->name) + ".", 0), 0u) << symbol.name;
        }
    }
}

TEST_F(Browse, AnAccessThatDoesNotRunTheCallIsAnErrorNotAResultCode) {
    connect();
    const vemo::ClientAccess skipping = [](const vemo::ClientCall&) {};
    EXPECT_THROW(vemo::listAndBrowse(skipping), std::logic_error);
}

// How a variable's address reads in the tree's tooltip and vemo-s7's
// table: the object in hex, the attribute, the path with commas.
TEST(ItemAddressText, ObjectInHexThenAttributeThenThePath) {
    std::uint32_t path[] = {3, 1, 70000};
    struct Case {
        s7_item_address address;
        const char* text;
    };
    const Case cases[] = {
        {{0x8A0E0001u, 2550, path, 3}, "0x8A0E0001/2550/3,1,70000"},
        {{0x8A0E0001u, 2550, path, 1}, "0x8A0E0001/2550/3"},
        {{0x52u, 0, nullptr, 0}, "0x00000052/0/"},
        {{0xFFFFFFFFu, 4294967295u, nullptr, 2}, "0xFFFFFFFF/4294967295/"},
    };
    for (const Case& c : cases) EXPECT_EQ(vemo::itemAddressText(c.address), c.text);
}

}  // namespace

// A whole client session against the real vemo-s7-sim - connect, list, browse
// every block, strict and per-item reads, disconnect - with the library's
// allocations failing on purpose: first exactly the n-th one, then every one
// from the n-th on, for each n of a clean session. Whatever fails, the
// session must not crash, must give every block back, and a call that says
// S7_OK must have delivered exactly what it delivers in the clean session.
// A call may fail only with S7_ERR_NO_MEMORY, and only when an allocation
// failed inside it, or with S7_ERR_NOT_CONNECTED on a handle that an earlier
// failure left disconnected: running out of memory is never reported as
// something the controller did, and never fails a later call on a
// connection that survived it.
//
// The simulator runs as a process of its own: in-process it would allocate
// through the same hooks and have its own allocations failed.
#include "../support/alloc_hooks.h"
#include "Wire.h"
#include "process.h"
#include "sim_client.h"
#include "sim_process.h"

#include <vemo/s7browse.h>
#include <vemo/s7client.h>
#include <vemo/s7read.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace vemo::test;

const std::string kSim = VEMO_SIM;

// Fixed values only, so that every read of a session answers the same.
// Structures, arrays and texts, blocks without a type description, with one
// the controller does not have and without members, and the areas; with 8
// items per read the listing and the reads take several requests.
constexpr const char* kProgram = R"json({
  "plc_type": "CPU 1511-1 PN",
  "types": [{"name": "Point", "members": [
    {"name": "X", "type": "Int", "value": -3}, {"name": "Y", "type": "Real", "value": 1.5}]}],
  "blocks": [
    {"name": "Line", "number": 1, "members": [
      {"name": "Count", "type": "DInt", "value": 42},
      {"name": "Recipe", "type": "String[16]", "value": "still water"},
      {"name": "Label", "type": "WString[16]", "value": "Ωμέγα"},
      {"name": "Grid", "type": "Array[1..2, 0..1] of Int", "value": [11, 12, 21, 22]},
      {"name": "Path", "type": "Array[0..1] of Point"},
      {"name": "Flags", "type": "Array[0..2] of Bool", "value": [true, false, true]},
      {"name": "Stamp", "type": "LDT", "value": 1796906096123456789}
    ]},
    {"name": "Hidden", "number": 2, "type_info": "none", "members": [{"name": "A", "type": "Int"}]},
    {"name": "Tank", "number": 3, "members": [{"name": "Level", "type": "LReal", "value": 63.25}]},
    {"name": "Lost", "number": 4, "type_info": "dangling", "members": [{"name": "A", "type": "Int"}]},
    {"name": "Empty", "number": 5},
    {"name": "Pump1", "number": 11, "members": [{"name": "On", "type": "Bool", "value": true}]},
    {"name": "Pump2", "number": 12, "members": [{"name": "Speed", "type": "UInt", "value": 1450}]},
    {"name": "Pump3", "number": 13, "members": [{"name": "Hours", "type": "UDInt", "value": 70000}]},
    {"name": "Pump4", "number": 14, "members": [{"name": "Mode", "type": "Char", "value": "A"}]},
    {"name": "Pump5", "number": 15, "members": [{"name": "Run", "type": "Time", "value": -2500}]}
  ],
  "areas": {"M": [{"name": "Ready", "type": "Bool", "value": true}, {"name": "Word", "type": "Word", "value": 4660}],
            "I": [{"name": "Start", "type": "Bool"}]}
})json";
constexpr const char* kMaxReadItems = "8";

// An address that leads to no variable: the per-item reads get an error
// code for it beside the values.
constexpr uint32_t kNoVariablePath[] = {99};

// A block or symbol of the clean session, held in the test's memory: the
// library's own records would count as live blocks.
struct PlainBlock {
    s7_block block{};
    std::string name;
};
struct PlainAddress {
    std::vector<uint32_t> path;
    s7_item_address address{};
};

// A value as the bytes the codec writes for it: equal values, equal texts.
std::string text(const s7_value* v) {
    vemo::sim::Bytes bytes;
    vemo::sim::Writer(bytes).value(v);
    return {bytes.begin(), bytes.end()};
}

std::string text(const s7_block_list& list) {
    std::string s;
    for (uint32_t i = 0; i < list.count; ++i) {
        const s7_block& b = list.items[i];
        s += std::string(b.name) + " " + std::to_string(b.number) + " " + std::to_string(b.object_id) + " " +
             std::to_string(b.type_info_id) + "\n";
    }
    return s;
}

std::string text(const s7_item_address& a) {
    std::string s = std::to_string(a.object_id) + "/" + std::to_string(a.attribute_id) + "/";
    for (uint32_t i = 0; i < a.path_count; ++i) s += std::to_string(a.path[i]) + ",";
    return s;
}

std::string text(const s7_symbol_list& list) {
    std::string s;
    for (uint32_t i = 0; i < list.count; ++i) {
        const s7_symbol& sym = list.items[i];
        s += std::string(sym.name) + " " + std::to_string(sym.datatype) + " " + text(sym.address) + "\n";
    }
    return s;
}

// One library call of the session; `got` is what it handed out, as text,
// when it succeeded.
struct Step {
    std::string name;
    std::function<uint8_t(vemoc_s7_client*, std::string& got)> run;
};

// What one step did: its code and results, and the allocation calls and
// the handle's state around it.
struct Outcome {
    uint8_t rc = S7_OK;
    std::string got;
    size_t callsBefore = 0;
    size_t callsAfter = 0;
    uint8_t stateBefore = S7_CLIENT_DISCONNECTED;
    uint8_t stateAfter = S7_CLIENT_DISCONNECTED;
    uint8_t loss = S7_OK;
};

class SimMemory : public ::testing::Test {
protected:
    void SetUp() override {
        sim_ = std::make_unique<BackgroundProcess>(std::vector<std::string>{
            kSim, "--port", "0", "--program", program_.path(), "--max-read-items", kMaxReadItems});
        port_ = listeningPort(sim_->firstLine());
        ASSERT_NE(port_, 0) << sim_->firstLine();
        discover();
    }
    void TearDown() override {
        if (sim_) {
            EXPECT_EQ(sim_->stop(SIGTERM), 0);
        }
    }

    // The blocks and symbols the steps work on, from a session of its own.
    void discover() {
        const Client c = newClient();
        ASSERT_EQ(vemoc_s7_client_connect(c.get(), "127.0.0.1", port_, kTimeoutMs), S7_OK);
        Blocks blocks;
        ASSERT_EQ(vemoc_s7_client_list_datablocks(c.get(), &blocks.list), S7_OK);
        for (uint32_t i = 0; i < blocks.list.count; ++i) {
            const s7_block& b = blocks.list.items[i];
            blocks_.push_back({b, b.name});
            Symbols symbols;
            ASSERT_EQ(vemoc_s7_client_browse_block(c.get(), &b, &symbols.list), S7_OK);
            for (uint32_t k = 0; k < symbols.list.count; ++k) {
                const s7_item_address& a = symbols.list.items[k].address;
                addresses_.push_back({{a.path, a.path + a.path_count}, a});
            }
        }
        for (PlainBlock& b : blocks_) b.block.name = b.name.data();
        for (PlainAddress& a : addresses_) a.address.path = a.path.data();
        ASSERT_GT(addresses_.size(), 2 * std::stoul(kMaxReadItems)) << "the reads take several requests";
        unknown_.path.assign(std::begin(kNoVariablePath), std::end(kNoVariablePath));
        unknown_.address = addresses_.front().address;
        unknown_.address.path = unknown_.path.data();
        unknown_.address.path_count = static_cast<uint32_t>(unknown_.path.size());
    }

    std::vector<Step> steps() const {
        std::vector<Step> s;
        const uint16_t port = port_;
        s.push_back({"connect", [port](vemoc_s7_client* c, std::string& got) {
                         const uint8_t rc = vemoc_s7_client_connect(c, "127.0.0.1", port, kTimeoutMs);
                         uint32_t items = 0;
                         if (rc == S7_OK && vemoc_s7_client_get_max_read_items(c, &items) == S7_OK) {
                             got = std::string(vemoc_s7_client_get_plc_type(c)) + " " + std::to_string(items);
                         }
                         return rc;
                     }});
        s.push_back({"list", [](vemoc_s7_client* c, std::string& got) {
                         Blocks blocks;
                         const uint8_t rc = vemoc_s7_client_list_datablocks(c, &blocks.list);
                         if (rc == S7_OK) got = text(blocks.list);
                         return rc;
                     }});
        for (const PlainBlock& b : blocks_) {
            const s7_block* block = &b.block;
            s.push_back({"browse " + b.name, [block](vemoc_s7_client* c, std::string& got) {
                             Symbols symbols;
                             const uint8_t rc = vemoc_s7_client_browse_block(c, block, &symbols.list);
                             if (rc == S7_OK) got = text(symbols.list);
                             return rc;
                         }});
        }
        const size_t limit = std::stoul(kMaxReadItems);
        for (size_t at = 0; at < addresses_.size(); at += limit) {
            std::vector<const s7_item_address*> items;
            for (size_t i = at; i < std::min(addresses_.size(), at + limit); ++i)
                items.push_back(&addresses_[i].address);
            s.push_back({"read from " + std::to_string(at), [items](vemoc_s7_client* c, std::string& got) {
                             s7_value** values = nullptr;
                             const auto n = static_cast<uint32_t>(items.size());
                             const uint8_t rc = vemoc_s7_client_read(c, items.data(), n, &values);
                             if (rc != S7_OK) return rc;
                             for (uint32_t i = 0; i < n; ++i) {
                                 got += text(values[i]) + "\n";
                                 s7_value_free(values[i]);
                             }
                             s7_free(values);
                             return rc;
                         }});
            // The same items with the unknown address first: its error code
            // and the values each in their place.
            items.insert(items.begin(), &unknown_.address);
            if (items.size() > limit) items.pop_back();
            s.push_back({"read each from " + std::to_string(at), [items](vemoc_s7_client* c, std::string& got) {
                             s7_item_result* results = nullptr;
                             const auto n = static_cast<uint32_t>(items.size());
                             const uint8_t rc = vemoc_s7_client_read_each(c, items.data(), n, &results);
                             if (rc != S7_OK) return rc;
                             for (uint32_t i = 0; i < n; ++i) {
                                 got += (results[i].value != nullptr ? text(results[i].value)
                                                                     : "error " + std::to_string(results[i].error)) +
                                        "\n";
                             }
                             s7_item_results_free(results, n);
                             return rc;
                         }});
        }
        return s;
    }

    // One session with the hooks as they are set: a handle, every step in
    // order whatever the one before returned, then the handle freed. Empty
    // when the handle could not be made.
    std::vector<Outcome> session(const std::vector<Step>& steps) {
        std::vector<Outcome> out;
        vemoc_s7_client* c = vemoc_s7_client_new();
        if (c == nullptr) return out;
        for (const Step& step : steps) {
            Outcome o;
            o.callsBefore = hooks_.calls();
            o.stateBefore = vemoc_s7_client_get_state(c);
            o.rc = step.run(c, o.got);
            o.callsAfter = hooks_.calls();
            o.stateAfter = vemoc_s7_client_get_state(c);
            o.loss = vemoc_s7_client_get_loss(c);
            out.push_back(std::move(o));
        }
        vemoc_s7_client_disconnect(c);
        vemoc_s7_client_free(c);
        return out;
    }

    // Runs the session with allocation `n` failing (`once`) or every one from
    // n on failing, and checks each step against the clean session.
    void torture(const std::vector<Step>& steps, const std::vector<Outcome>& clean, size_t n, bool once) {
        if (once) {
            hooks_.failAt(n);
        } else {
            hooks_.failFrom(n);
        }
        const std::vector<Outcome> run = session(steps);
        const size_t calls = hooks_.calls();
        hooks_.failFrom(0);
        EXPECT_GE(calls, n) << "the failure was never reached: the session allocates less than in the clean run";
        EXPECT_EQ(hooks_.live(), 0u) << "blocks left behind";
        if (run.empty()) {
            EXPECT_LE(n, 2u) << "only making the handle (handle and socket slot) gives no handle";
            return;
        }
        for (size_t i = 0; i < steps.size(); ++i) {
            const Outcome& o = run[i];
            SCOPED_TRACE(steps[i].name);
            if (o.rc == S7_OK) {
                EXPECT_EQ(o.got, clean[i].got) << "a success that delivered something else";
                continue;
            }
            const bool failedInside =
                once ? o.callsBefore < n && n <= o.callsAfter : o.callsAfter >= n && o.callsAfter > o.callsBefore;
            if (i > 0 && o.stateBefore != S7_CLIENT_CONNECTED) {
                EXPECT_EQ(o.rc, S7_ERR_NOT_CONNECTED) << s7_result_name(o.rc);
                continue;
            }
            EXPECT_EQ(o.rc, S7_ERR_NO_MEMORY) << s7_result_name(o.rc);
            EXPECT_TRUE(failedInside) << "failed with no failed allocation of its own: " << s7_result_name(o.rc);
            if (o.stateAfter == S7_CLIENT_DISCONNECTED) {
                EXPECT_EQ(o.loss, o.rc) << "the handle names what closed it";
            }
        }
    }

    CountingAllocator hooks_;
    TempFile program_{"memory.json", kProgram};
    std::unique_ptr<BackgroundProcess> sim_;
    uint16_t port_ = 0;
    std::vector<PlainBlock> blocks_;
    std::vector<PlainAddress> addresses_;
    PlainAddress unknown_;
};

TEST_F(SimMemory, AWholeSessionSurvivesEveryAllocationFailing) {
    const std::vector<Step> steps = this->steps();
    hooks_.failFrom(0);
    const std::vector<Outcome> clean = session(steps);
    const size_t total = hooks_.calls();
    ASSERT_EQ(clean.size(), steps.size());
    for (size_t i = 0; i < steps.size(); ++i) {
        ASSERT_EQ(clean[i].rc, S7_OK) << steps[i].name;
    }
    ASSERT_EQ(hooks_.live(), 0u);
    EXPECT_NE(clean.back().got.find("error "), std::string::npos) << "the unknown address is refused";
    std::printf("a clean session makes %zu allocations\n", total);

    for (const bool once : {true, false}) {
        SCOPED_TRACE(once ? "exactly allocation n fails" : "every allocation from n on fails");
        for (size_t n = 1; n <= total; ++n) {
            SCOPED_TRACE(n);
            torture(steps, clean, n, once);
            if (HasFailure()) return;  // one session's report is enough
        }
    }
}

}  // namespace

// Every way the simulated controller misbehaves on purpose gives the client
// the result code its layers promise for it, at the step where it happens,
// and leaves a handle that connects again to a sound controller.
#include "sim_client.h"

#include "Faults.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>

namespace {

using namespace vemo::test;
using vemo::sim::Fault;
using vemo::sim::Program;

// Where a case expects its result: connect, or the listing, the browse of
// the first block with symbols, or the read of its first symbol after a
// successful connect.
enum class Phase { Connect, List, Browse, Read };

struct FaultCase {
    const char* fault;
    std::optional<uint64_t> arg;
    Phase phase;
    uint8_t expected;
    uint32_t timeoutMs = kTimeoutMs;
};

// A stall is seen only as a time-out; keep it short.
constexpr uint32_t kStallTimeoutMs = 1000;

// Requests after the handshake, numbered as the simulator counts them for the
// built-in program (three data blocks, item limit 20): 1-3 session set-up,
// 4 limits, 5 explore of the blocks, 6 their type-info read, 7 explore of the
// type descriptions (first browse), 8 the first variable read.
constexpr uint64_t kListExplore = 5;
constexpr uint64_t kListRead = 6;
constexpr uint64_t kTypeExplore = 7;
constexpr uint64_t kVariableRead = 8;

const FaultCase kCases[] = {
    // The peer closes during connect: the transport sees it before TLS, the
    // TLS-start reply is missing, the handshake fails, and the exchanges
    // above TLS see the controller close.
    {"close-at-cr", {}, Phase::Connect, S7_ERR_TRANSPORT},
    {"close-at-tls-start", {}, Phase::Connect, S7_ERR_PROTOCOL},
    {"close-at-handshake", {}, Phase::Connect, S7_ERR_TLS},
    {"close-at-create", {}, Phase::Connect, S7_ERR_NOT_CONNECTED},
    {"close-at-set-values", {}, Phase::Connect, S7_ERR_NOT_CONNECTED},
    {"close-at-get-level", {}, Phase::Connect, S7_ERR_NOT_CONNECTED},
    {"close-at-limits", {}, Phase::Connect, S7_ERR_NOT_CONNECTED},
    {"close-at-request", kListExplore, Phase::List, S7_ERR_NOT_CONNECTED},
    {"close-at-request", kTypeExplore, Phase::Browse, S7_ERR_NOT_CONNECTED},
    {"close-at-request", kVariableRead, Phase::Read, S7_ERR_NOT_CONNECTED},
    // A peer that never answers: a time-out, except where connect folds every
    // failure of a step into that step's own code.
    {"stall-at-cr", {}, Phase::Connect, S7_ERR_TIMEOUT, kStallTimeoutMs},
    {"stall-at-tls-start", {}, Phase::Connect, S7_ERR_PROTOCOL, kStallTimeoutMs},
    {"stall-at-handshake", {}, Phase::Connect, S7_ERR_TLS, kStallTimeoutMs},
    {"stall-at-create", {}, Phase::Connect, S7_ERR_TIMEOUT, kStallTimeoutMs},
    {"stall-at-set-values", {}, Phase::Connect, S7_ERR_TIMEOUT, kStallTimeoutMs},
    {"stall-at-get-level", {}, Phase::Connect, S7_ERR_TIMEOUT, kStallTimeoutMs},
    {"stall-at-limits", {}, Phase::Connect, S7_ERR_TIMEOUT, kStallTimeoutMs},
    {"stall-at-request", kVariableRead, Phase::Read, S7_ERR_TIMEOUT, kStallTimeoutMs},
    // Late answers: within the time-out they are just slow; past it, the
    // first wait (the connection confirm) gives up.
    {"delay", 20, Phase::Read, S7_OK},
    {"delay", 3000, Phase::Connect, S7_ERR_TIMEOUT, 500},
    {"tls12-only", {}, Phase::Connect, S7_ERR_TLS},
    {"tls-start-error", {}, Phase::Connect, S7_ERR_TLS},
    // Session set-up and the limits read.
    {"level-signed", {}, Phase::Connect, S7_ERR_SESSION},
    {"set-values-error-entry", {}, Phase::Connect, S7_ERR_SESSION},
    {"create-incomplete", {}, Phase::Connect, S7_ERR_SESSION},
    {"limits-error", {}, Phase::Connect, S7_ERR_SESSION},
    {"limits-error-entry", {}, Phase::Connect, S7_ERR_SESSION},
    // Limits of another type or missing fall back to 16 and work
    // (the values themselves: sim_connect_test).
    {"limits-unsigned", {}, Phase::Read, S7_OK},
    {"limits-only-aux", {}, Phase::Read, S7_OK},
    // Browse.
    {"explore-error", {}, Phase::List, S7_ERR_EXPLORE},
    {"explore-error", 537, Phase::Browse, S7_ERR_EXPLORE},
    {"no-type-info-container", {}, Phase::Browse, S7_ERR_PROTOCOL},
    {"self-referencing-type", {}, Phase::Browse, S7_ERR_PROTOCOL},
    {"hostile-count", {}, Phase::Browse, S7_ERR_NO_MEMORY},
    // The listing does not look at per-item errors; a variable read does.
    {"read-error-entry", {}, Phase::Read, S7_ERR_READ},
    // Framing the client must refuse, during connect or later.
    {"wrong-version", {}, Phase::Connect, S7_ERR_PROTOCOL},
    {"wrong-version", kListRead, Phase::List, S7_ERR_PROTOCOL},
    {"oversized-frame", {}, Phase::Connect, S7_ERR_PROTOCOL},
    {"oversized-frame", kTypeExplore, Phase::Browse, S7_ERR_PROTOCOL},
};

std::string caseName(const testing::TestParamInfo<FaultCase>& info) {
    std::string name = info.param.fault;
    if (info.param.arg) name += "_" + std::to_string(*info.param.arg);
    for (char& c : name) {
        if (c == '-') c = '_';
    }
    return name;
}

// Runs the phases up to the case's own; returns the code of the first
// failure, or of the last phase.
uint8_t runUntil(vemoc_s7_client* c, const vemo::sim::Server& server, const FaultCase& fc) {
    uint8_t rc = connectTo(c, server, fc.timeoutMs);
    if (rc != S7_OK || fc.phase == Phase::Connect) return rc;
    Blocks blocks;
    rc = vemoc_s7_client_list_datablocks(c, &blocks.list);
    if (rc != S7_OK || fc.phase == Phase::List) return rc;
    // The first block that yields symbols: with read-error-entry the first
    // one learns no type description and browses to nothing.
    for (uint32_t i = 0; i < blocks.list.count; ++i) {
        Symbols symbols;
        rc = vemoc_s7_client_browse_block(c, &blocks.list.items[i], &symbols.list);
        if (rc != S7_OK) {
            EXPECT_EQ(symbols.list.count, 0u) << "a failed browse hands out nothing";
            return rc;
        }
        if (fc.phase == Phase::Browse) return rc;
        if (symbols.list.count == 0) continue;
        const s7_item_address* item = &symbols.list.items[0].address;
        s7_value** values = nullptr;
        rc = vemoc_s7_client_read(c, &item, 1, &values);
        if (rc == S7_OK) {
            s7_value_free(values[0]);
            s7_free(values);
        }
        return rc;
    }
    ADD_FAILURE() << "no block with symbols";
    return rc;
}

class SimulatorFault : public testing::TestWithParam<FaultCase> {};

TEST_P(SimulatorFault, GivesTheClientCodeAndLeavesAReusableHandle) {
    const FaultCase& fc = GetParam();
    vemo::sim::ControllerSettings faulty;
    faulty.fault = Fault::parse(fc.fault, fc.arg);
    const auto server = startSim(Program::builtIn(), faulty);
    const Client c = newClient();

    EXPECT_EQ(runUntil(c.get(), *server, fc), fc.expected);
    if (fc.phase == Phase::Connect) {
        EXPECT_EQ(vemoc_s7_client_get_state(c.get()), S7_CLIENT_DISCONNECTED) << "a failed connect cleans up";
    }

    // The same handle, disconnected by its owner, serves a sound controller.
    vemoc_s7_client_disconnect(c.get());
    const auto sound = startSim(Program::builtIn());
    ASSERT_EQ(connectTo(c.get(), *sound), S7_OK);
    Blocks blocks;
    EXPECT_EQ(vemoc_s7_client_list_datablocks(c.get(), &blocks.list), S7_OK);
    EXPECT_EQ(blocks.list.count, 3u + 5u);
}

INSTANTIATE_TEST_SUITE_P(EveryFault, SimulatorFault, testing::ValuesIn(kCases), caseName);

TEST(SimulatorFaults, EveryFaultTheSimulatorOffersIsCovered) {
    std::set<std::string> covered;
    for (const FaultCase& fc : kCases) covered.insert(fc.fault);
    for (const vemo::sim::FaultInfo& f : vemo::sim::faultTable()) {
        EXPECT_TRUE(covered.count(f.name) == 1) << f.name << " has no case";
    }
}

TEST(SimulatorFaults, NamesAndArgumentsAreChecked) {
    EXPECT_THROW(Fault::parse("close-at-nowhere", std::nullopt), std::invalid_argument);
    EXPECT_THROW(Fault::parse("delay", std::nullopt), std::invalid_argument) << "a delay needs its length";
    EXPECT_THROW(Fault::parse("hostile-count", uint64_t{1} << 32), std::invalid_argument)
        << "an element count has 32 bits";
    EXPECT_EQ(Fault::parse("hostile-count", std::nullopt).arg, 0xFFFFFFFFu);
}

}  // namespace

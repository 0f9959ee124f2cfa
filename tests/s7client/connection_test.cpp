// A connection the caller can rely on: every call ends within its deadline
// however the controller dribbles its answer, a call that leaves the
// connection unusable leaves the handle disconnected (and only such a call),
// and another thread can cut a call short.
#include <vemo/s7read.h>

#include "s7_client.h"

#include "../support/tls_peer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <optional>
#include <thread>
#include <vector>

namespace {

using vemo::test::Bytes;
using vemo::test::concat;
using vemo::test::PeerReply;
using vemo::test::PeerStep;
using vemo::test::TlsPeer;
using vemo::test::TlsPeerOptions;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kShortTimeoutMs = 300;
// Far above any deadline these tests set, far below the test peer's own
// give-up time of 5 s: a call that missed its deadline shows up here.
constexpr auto kWellWithin = std::chrono::milliseconds(3000);

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// One response message in frames of version 2.
Bytes frames(const Bytes& data) {
    return concat({{0x72, 0x02, static_cast<uint8_t>(data.size() >> 8), static_cast<uint8_t>(data.size())},
                   data,
                   {0x72, 0x02, 0x00, 0x00}});
}

// The answer to a read of one item: U8 7.
Bytes readAnswer() {
    return frames(
        {0x32, 0x00, 0x00, 0x05, 0x4C, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x02, 0x07, 0x00, 0x00, 0x00});
}

// The limits address, a variable any read here may ask for.
struct OneItem {
    OneItem() { s7_item_address_push(&address, 1000); }
    ~OneItem() { s7_item_address_release(&address); }
    s7_item_address address{201, 1037, nullptr, 0};
    const s7_item_address* items[1] = {&address};
};

struct ReadOutcome {
    uint8_t rc;
    uint8_t state;
    uint8_t loss;
    long long ms;
};

// Connects to the peer with `timeoutMs`, then reads one item.
ReadOutcome connectAndRead(TlsPeer& peer, uint32_t timeoutMs) {
    vemoc_s7_client* client = vemoc_s7_client_new();
    EXPECT_EQ(vemoc_s7_client_connect(client, "127.0.0.1", peer.port(), timeoutMs), S7_OK);
    OneItem item;
    s7_value** values = nullptr;
    const auto start = Clock::now();
    ReadOutcome o{};
    o.rc = vemoc_s7_client_read(client, item.items, 1, &values);
    o.ms = msSince(start);
    o.state = vemoc_s7_client_get_state(client);
    o.loss = vemoc_s7_client_get_loss(client);
    if (values != nullptr) {
        s7_value_free(values[0]);
        s7_free(values);
    }
    vemoc_s7_client_free(client);
    return o;
}

TEST(Deadline, ConnectEndsWithinItsDeadlineWhileEmptyFramesKeepEverySingleWaitShort) {
    // Empty frames every 100 ms in the middle of the handshake: each wait
    // ends well within the time-out, the handshake never.
    TlsPeerOptions options;
    options.floodAt = PeerStep::Handshake;
    TlsPeer peer(options);
    vemoc_s7_client* client = vemoc_s7_client_new();
    const auto start = Clock::now();
    EXPECT_EQ(vemoc_s7_client_connect(client, "127.0.0.1", peer.port(), kShortTimeoutMs), S7_ERR_TIMEOUT)
        << "a handshake that does not complete in time is a time-out";
    EXPECT_EQ(vemoc_s7_client_get_connect_step(client), S7_STEP_TLS_HANDSHAKE);
    EXPECT_LT(std::chrono::milliseconds(msSince(start)), kWellWithin);
    EXPECT_EQ(vemoc_s7_client_get_state(client), S7_CLIENT_DISCONNECTED);
    vemoc_s7_client_free(client);
    peer.join();
    EXPECT_TRUE(peer.log().closedByClient);
}

TEST(Deadline, ARequestEndsWithinItsTimeOutHoweverTheAnswerDribbles) {
    struct Case {
        const char* rule;
        std::optional<PeerStep> floodAt;
        std::vector<PeerReply> replies;
    };
    const Case cases[] = {
        {"empty frames instead of the answer", PeerStep::Request, {}},
        {"the answer one byte at a time", std::nullopt, {PeerReply::trickle(readAnswer()).answering()}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        TlsPeerOptions options;
        options.floodAt = c.floodAt;
        // Every byte of the trickled answer arrives within the time-out of a
        // single wait; the whole answer needs seconds.
        options.replies = c.replies;
        TlsPeer peer(options);
        const ReadOutcome o = connectAndRead(peer, kShortTimeoutMs);
        EXPECT_EQ(o.rc, S7_ERR_TIMEOUT);
        EXPECT_LT(std::chrono::milliseconds(o.ms), kWellWithin);
        EXPECT_EQ(o.state, S7_CLIENT_DISCONNECTED) << "the answer may still arrive: the connection is over";
        peer.join();
    }
}

TEST(ConnectionLoss, TheHandleIsDisconnectedAfterAFailureOfTheConnectionAndOnlyThen) {
    struct Case {
        const char* rule;
        std::vector<PeerReply> replies;
        std::optional<PeerStep> silentAt;
        uint8_t expected;
        uint8_t state;
    };
    const Case cases[] = {
        {"the answer in time", {PeerReply::tls(readAnswer()).answering()}, std::nullopt, S7_OK, S7_CLIENT_CONNECTED},
        {"an error entry refuses the item, not the connection",
         {PeerReply::tls(
             frames({0x32, 0x00, 0x00, 0x05, 0x4C, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x05, 0x00, 0x00})).answering()},
         std::nullopt,
         S7_ERR_READ,
         S7_CLIENT_CONNECTED},
        {"an answer that does not parse, framed well",
         {PeerReply::tls(frames({0x32, 0x00, 0x00, 0x05, 0x4C, 0x00, 0x00, 0x00, 0x01, 0x00})).answering()},
         std::nullopt,
         S7_ERR_PROTOCOL,
         S7_CLIENT_CONNECTED},
        {"no answer", {}, PeerStep::Request, S7_ERR_TIMEOUT, S7_CLIENT_DISCONNECTED},
        {"the controller closes TLS",
         {PeerReply::closeNotify()},
         std::nullopt,
         S7_ERR_NOT_CONNECTED,
         S7_CLIENT_DISCONNECTED},
        {"the controller drops the connection",
         {PeerReply::close()},
         std::nullopt,
         S7_ERR_NOT_CONNECTED,
         S7_CLIENT_DISCONNECTED},
        {"a frame that is no frame",
         {PeerReply::tls({0x73, 0x02, 0x00, 0x01, 0x00, 0x72, 0x02, 0x00, 0x00})},
         std::nullopt,
         S7_ERR_PROTOCOL,
         S7_CLIENT_DISCONNECTED},
        {"garbage outside TLS",
         {PeerReply::rawFrame({0x17, 0x03, 0x03, 0x00, 0x01, 0x00})},
         std::nullopt,
         S7_ERR_TLS,
         S7_CLIENT_DISCONNECTED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        TlsPeerOptions options;
        options.replies = c.replies;
        options.silentAt = c.silentAt;
        TlsPeer peer(options);
        const ReadOutcome o = connectAndRead(peer, kShortTimeoutMs);
        EXPECT_EQ(o.rc, c.expected);
        EXPECT_EQ(o.state, c.state);
        // The handle remembers why it lost the connection.
        EXPECT_EQ(o.loss, c.state == S7_CLIENT_CONNECTED ? uint8_t{S7_OK} : c.expected);
        peer.join();
    }
}

TEST(Abort, CutsAStalledCallShortFromAnotherThread) {
    struct Case {
        const char* rule;
        PeerStep silentAt;
        bool connectFirst;
    };
    const Case cases[] = {
        {"a read the controller never answers", PeerStep::Request, true},
        {"a connect stalled at TLS start", PeerStep::TlsStart, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        TlsPeerOptions options;
        options.silentAt = c.silentAt;
        TlsPeer peer(options);
        vemoc_s7_client* client = vemoc_s7_client_new();
        // A time-out far longer than the test, so that only the abort ends
        // the call.
        constexpr uint32_t kLongTimeoutMs = 60000;
        if (c.connectFirst) {
            ASSERT_EQ(vemoc_s7_client_connect(client, "127.0.0.1", peer.port(), kLongTimeoutMs), S7_OK);
        }
        std::promise<void> started;
        auto call = std::async(std::launch::async, [&] {
            started.set_value();
            if (!c.connectFirst) {
                return vemoc_s7_client_connect(client, "127.0.0.1", peer.port(), kLongTimeoutMs);
            }
            OneItem item;
            s7_value** values = nullptr;
            return vemoc_s7_client_read(client, item.items, 1, &values);
        });
        started.get_future().wait();
        // Let the call reach its wait; an abort before that cuts it short
        // just the same.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const auto start = Clock::now();
        vemoc_s7_client_abort(client);
        ASSERT_EQ(call.wait_for(kWellWithin), std::future_status::ready) << "the call is still waiting";
        EXPECT_LT(std::chrono::milliseconds(msSince(start)), kWellWithin);
        EXPECT_NE(call.get(), S7_OK);
        EXPECT_EQ(vemoc_s7_client_get_state(client), S7_CLIENT_DISCONNECTED);
        vemoc_s7_client_free(client);
        peer.join();
    }
}

// A connect tells its steps as it begins them, and keeps the one it
// stopped in: what the program shows while a controller is slow, and how it
// tells a silent controller from one that refuses.
TEST(ConnectSteps, AreToldInOrderAndTheOneAConnectStoppedInIsKept) {
    struct Case {
        const char* rule;
        std::optional<PeerStep> silentAt;
        std::optional<PeerStep> closeAt;
        uint8_t expected;
        std::vector<uint8_t> steps;
    };
    const std::vector<uint8_t> all = {S7_STEP_TCP,           S7_STEP_ISO,     S7_STEP_TLS_START,
                                      S7_STEP_TLS_HANDSHAKE, S7_STEP_SESSION, S7_STEP_DONE};
    const Case cases[] = {
        {"a whole connect", std::nullopt, std::nullopt, S7_OK, all},
        {"silent at the ISO connect",
         PeerStep::ConnectRequest,
         std::nullopt,
         S7_ERR_TIMEOUT,
         {S7_STEP_TCP, S7_STEP_ISO}},
        {"silent at TLS start",
         PeerStep::TlsStart,
         std::nullopt,
         S7_ERR_TIMEOUT,
         {S7_STEP_TCP, S7_STEP_ISO, S7_STEP_TLS_START}},
        {"silent in the handshake",
         PeerStep::Handshake,
         std::nullopt,
         S7_ERR_TIMEOUT,
         {S7_STEP_TCP, S7_STEP_ISO, S7_STEP_TLS_START, S7_STEP_TLS_HANDSHAKE}},
        {"closed in the handshake",
         std::nullopt,
         PeerStep::Handshake,
         S7_ERR_TLS,
         {S7_STEP_TCP, S7_STEP_ISO, S7_STEP_TLS_START, S7_STEP_TLS_HANDSHAKE}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        TlsPeerOptions options;
        options.silentAt = c.silentAt;
        options.closeAt = c.closeAt;
        TlsPeer peer(options);
        vemoc_s7_client* client = vemoc_s7_client_new();
        EXPECT_EQ(vemoc_s7_client_get_connect_step(client), S7_STEP_NONE);
        std::vector<uint8_t> told;
        vemoc_s7_client_set_connect_progress(
            client, [](void* context, uint8_t step) { static_cast<std::vector<uint8_t>*>(context)->push_back(step); },
            &told);
        EXPECT_EQ(vemoc_s7_client_connect(client, "127.0.0.1", peer.port(), kShortTimeoutMs), c.expected);
        EXPECT_EQ(told, c.steps);
        EXPECT_EQ(vemoc_s7_client_get_connect_step(client), c.steps.back());
        vemoc_s7_client_free(client);
        peer.join();
    }
}

}  // namespace

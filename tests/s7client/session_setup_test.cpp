// Session set-up and the limits read that complete connect: the bytes the
// controller receives (the connect-time messages of the protocol, byte for
// byte) and what each of the controller's answers makes of the handle.
#include "s7_client.h"
#include "s7_memory.h"
#include "s7_session_setup.h"

#include "../support/alloc_hooks.h"
#include "../support/tls_peer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using vemo::test::Bytes;
using vemo::test::concat;
using vemo::test::PeerSession;
using vemo::test::TlsPeer;
using vemo::test::TlsPeerOptions;

constexpr uint32_t kTimeoutMs = 3000;

const Bytes kTail = {0x00, 0x00, 0x04, 0xE8, 0x89, 0x69, 0x00, 0x12, 0x00, 0x00, 0x00, 0x00,
                     0x89, 0x6A, 0x00, 0x13, 0x00, 0x89, 0x6B, 0x00, 0x04, 0x00, 0x00};

// The body of a one-frame request message: frame head, request header and
// trailer stripped.
Bytes requestBody(const Bytes& message) { return Bytes(message.begin() + 4 + 13, message.end() - 4); }

// Request header fields of a message: sequence number and session id.
uint16_t sequenceOf(const Bytes& m) { return static_cast<uint16_t>((m[11] << 8) | m[12]); }
uint32_t sessionOf(const Bytes& m) {
    return (uint32_t{m[13]} << 24) | (uint32_t{m[14]} << 16) | (uint32_t{m[15]} << 8) | m[16];
}

TlsPeerOptions withSession(PeerSession session) {
    TlsPeerOptions options;
    options.session = std::move(session);
    return options;
}

struct ConnectOutcome {
    uint8_t rc;
    uint8_t state;
    bool objectsReleased;
    uint32_t maxReadItems;
    uint32_t auxItemLimit;
    std::string plcType;
};

// Connects one fresh handle to a peer playing `session` and reports what
// connect made of the handle.
ConnectOutcome connectTo(const PeerSession& session) {
    TlsPeer peer(withSession(session));
    vemoc_s7_client* c = vemoc_s7_client_new();
    ConnectOutcome o{};
    o.rc = vemoc_s7_client_connect(c, "127.0.0.1", peer.port(), kTimeoutMs);
    o.state = vemoc_s7_client_get_state(c);
    o.objectsReleased = c->socket->handle == s7_socket_invalid() && c->transport == nullptr && c->tls == nullptr &&
                        c->session == nullptr;
    o.maxReadItems = c->max_read_items;
    o.auxItemLimit = c->aux_item_limit;
    o.plcType = vemoc_s7_client_get_plc_type(c);
    vemoc_s7_client_free(c);
    peer.join();
    return o;
}

// A limits reply body: return value, the value list as given, no errors.
Bytes limitsBody(const Bytes& values, uint8_t returnValue = 0, const Bytes& errors = {}) {
    return concat({{0x00, returnValue}, values, {0x00}, errors, {0x00, 0x00}});
}

TEST(SessionSetup, ConnectSendsTheConnectTimeMessagesByteForByte) {
    TlsPeer peer;
    vemoc_s7_client* c = vemoc_s7_client_new();
    ASSERT_EQ(vemoc_s7_client_connect(c, "127.0.0.1", peer.port(), kTimeoutMs), S7_OK);
    EXPECT_EQ(vemoc_s7_client_get_state(c), S7_CLIENT_CONNECTED);
    EXPECT_STREQ(vemoc_s7_client_get_plc_type(c), "CPU 1516-3 PN/DP");
    uint32_t items = 0;
    EXPECT_EQ(vemoc_s7_client_get_max_read_items(c, &items), S7_OK);
    EXPECT_EQ(items, 20u);
    EXPECT_EQ(c->aux_item_limit, 100u);
    EXPECT_EQ(c->session->session_id, 0x391u) << "the id the controller assigned";

    // Disconnect keeps the type text; the limit is not current any more.
    vemoc_s7_client_disconnect(c);
    EXPECT_STREQ(vemoc_s7_client_get_plc_type(c), "CPU 1516-3 PN/DP");
    EXPECT_EQ(vemoc_s7_client_get_max_read_items(c, &items), S7_ERR_NOT_CONNECTED);
    vemoc_s7_client_free(c);
    peer.join();

    const auto& setup = peer.log().setupMessages;
    ASSERT_EQ(setup.size(), 4u);
    EXPECT_TRUE(peer.log().messages.empty());
    // Create object: one 66-byte frame, sequence 1, session id 288, version 1.
    EXPECT_EQ(setup[0].bytes, (Bytes{0x72, 0x01, 0x00, 0x3A, 0x31, 0x00, 0x00, 0x04, 0xCA, 0x00, 0x00, 0x00, 0x01, 0x00,
                                     0x00, 0x01, 0x20, 0x36, 0x00, 0x00, 0x01, 0x1D, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00,
                                     0x00, 0xA1, 0x00, 0x00, 0x00, 0xD3, 0x82, 0x1F, 0x00, 0x00, 0xA3, 0x82, 0x2C, 0x00,
                                     0x12, 0x80, 0xC3, 0xC9, 0x01, 0xA1, 0x00, 0x00, 0x00, 0xD3, 0x81, 0x7F, 0x00, 0x00,
                                     0xA2, 0xA2, 0x00, 0x00, 0x00, 0x00, 0x72, 0x01, 0x00, 0x00}));
    // Set values: attribute 306 of the session, written back as received,
    // no counter.
    const Bytes attribute306 = concat(
        {{0x00, 0x17, 0x00, 0x00, 0x01, 0x3A, 0x82, 0x3F}, PeerSession::stringValue("CPU 1516-3 PN/DP"), {0x00}});
    EXPECT_EQ(requestBody(setup[1].bytes), concat({{0x34, 0x00, 0x00, 0x03, 0x91, 0x01, 0x01, 0x82, 0x32, 0x01},
                                                   attribute306,
                                                   {0x00},
                                                   kTail,
                                                   {0x00, 0x00, 0x00, 0x00}}));
    // Get attribute 1842 with counter B 1, and the limits read with 2.
    EXPECT_EQ(requestBody(setup[2].bytes), concat({{0x34, 0x00, 0x00, 0x03, 0x91, 0x20, 0x04, 0x01, 0x8E, 0x32},
                                                   kTail,
                                                   {0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00}}));
    EXPECT_EQ(requestBody(setup[3].bytes),
              concat({{0x34, 0x00, 0x00, 0x00, 0x00, 0x02, 0x0A, 0x00, 0x81, 0x49, 0x02, 0x88,
                       0x0D, 0x87, 0x68, 0x00, 0x81, 0x49, 0x02, 0x88, 0x0D, 0x87, 0x69},
                      kTail,
                      {0x02, 0x00, 0x00, 0x00, 0x00}}));
    for (size_t i = 1; i < setup.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(setup[i].bytes[1], 0x02) << "version 2 after create object";
        EXPECT_EQ(sequenceOf(setup[i].bytes), i + 1);
        EXPECT_EQ(sessionOf(setup[i].bytes), 0x391u);
    }
}

TEST(SessionSetup, LimitsBelowOneOrOfAnotherTypeFallBackTo16) {
    struct Case {
        const char* rule;
        Bytes values;
        uint32_t maxReadItems;
        uint32_t auxItemLimit;
    };
    const Case cases[] = {
        {"0 for both", {0x01, 0x00, 0x08, 0x00, 0x02, 0x00, 0x08, 0x00}, 16, 16},
        {"-5 for item 1", {0x01, 0x00, 0x08, 0x7B, 0x02, 0x00, 0x08, 0x21}, 16, 33},
        {"32 for item 1", {0x01, 0x00, 0x08, 0x20, 0x02, 0x00, 0x08, 0x21}, 32, 33},
        {"an unsigned 32 for item 1", {0x01, 0x00, 0x04, 0x20, 0x02, 0x00, 0x08, 0x21}, 16, 33},
        {"only item 2", {0x02, 0x00, 0x08, 0x21}, 16, 33},
        {"items matched by number, not position", {0x02, 0x00, 0x08, 0x21, 0x01, 0x00, 0x08, 0x20}, 32, 33},
        {"other item numbers are ignored", {0x03, 0x00, 0x08, 0x20}, 16, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        PeerSession session;
        session.limitsBody = limitsBody(c.values);
        const ConnectOutcome o = connectTo(session);
        EXPECT_EQ(o.rc, S7_OK);
        EXPECT_EQ(o.maxReadItems, c.maxReadItems);
        EXPECT_EQ(o.auxItemLimit, c.auxItemLimit);
    }
}

TEST(SessionSetup, AControllerThatRefusesAStepFailsConnectAndLeavesTheHandleDisconnected) {
    const Bytes goodLimits = {0x01, 0x00, 0x08, 0x20, 0x02, 0x00, 0x08, 0x20};
    struct Case {
        const char* rule;
        void (*apply)(PeerSession&);
        uint8_t expected;
    };
    const Case cases[] = {
        {"session level 3 is accepted", [](PeerSession&) {}, S7_OK},
        {"session level 4", [](PeerSession& s) { s.levelBody = {0x00, 0x00, 0x00, 0x00, 0x04, 0x04, 0x00}; },
         S7_ERR_SESSION_LEVEL},
        {"session level 200", [](PeerSession& s) { s.levelBody = {0x00, 0x00, 0x00, 0x00, 0x04, 0x81, 0x48, 0x00}; },
         S7_ERR_SESSION_LEVEL},
        {"a signed level 1", [](PeerSession& s) { s.levelBody = {0x00, 0x00, 0x00, 0x00, 0x08, 0x01, 0x00}; },
         S7_ERR_SESSION},
        {"level with a non-zero return value",
         [](PeerSession& s) { s.levelBody = {0x00, 0x01, 0x00, 0x00, 0x04, 0x03, 0x00}; }, S7_ERR_SESSION},
        {"set values with an error entry",
         [](PeerSession& s) { s.setBody = {0x00, 0x00, 0x01, 0x85, 0x00, 0x00, 0x00}; }, S7_ERR_SESSION},
        {"set values with a non-zero return value",
         [](PeerSession& s) {
             s.setBody = {0x00, 0x05, 0x00, 0x00};
         },
         S7_ERR_SESSION},
        {"limits with a non-zero return value",
         [](PeerSession& s) {
             s.limitsBody = limitsBody({0x01, 0x00, 0x08, 0x20}, 0x01);
         },
         S7_ERR_SESSION},
        {"limits with an error entry",
         [](PeerSession& s) {
             s.limitsBody = limitsBody({0x01, 0x00, 0x08, 0x20}, 0x00, {0x02, 0x81, 0x00});
         },
         S7_ERR_SESSION},
        {"a create reply that names no object",
         [](PeerSession& s) {
             s.createBody = PeerSession::createReplyBody(0x391, PeerSession::stringValue("x"));
             s.createBody[2] = 0x00;                                                  // no identifiers ...
             s.createBody.erase(s.createBody.begin() + 3, s.createBody.begin() + 5);  // ... and none follows
         },
         S7_ERR_SESSION},
        {"a create reply whose object lacks attribute 306",
         [](PeerSession& s) {
             s.createBody = {0x00, 0x00, 0x01, 0x87, 0x11, 0xA1, 0x00, 0x00, 0x03, 0x91, 0x82, 0x1F, 0x00, 0x00, 0xA2};
         },
         S7_ERR_SESSION},
        {"attribute 306 without member 319",
         [](PeerSession& s) {
             s.createBody = {0x00, 0x00, 0x01, 0x87, 0x11, 0xA1, 0x00, 0x00, 0x03, 0x91, 0x82, 0x1F, 0x00,
                             0x00, 0xA3, 0x82, 0x32, 0x00, 0x17, 0x00, 0x00, 0x01, 0x3A, 0x00, 0xA2};
         },
         S7_ERR_SESSION},
        {"a create reply that does not decode",
         [](PeerSession& s) { s.createBody = {0x00, 0x00, 0x01, 0x87, 0x11, 0xA1, 0x00, 0x00}; }, S7_ERR_PROTOCOL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        PeerSession session;
        session.limitsBody = limitsBody(goodLimits);
        c.apply(session);
        const ConnectOutcome o = connectTo(session);
        EXPECT_EQ(o.rc, c.expected);
        if (c.expected == S7_OK) {
            EXPECT_EQ(o.state, S7_CLIENT_CONNECTED);
        } else {
            EXPECT_EQ(o.state, S7_CLIENT_DISCONNECTED);
            EXPECT_TRUE(o.objectsReleased);
        }
    }
}

TEST(SessionSetup, AFailedConnectLeavesAHandleThatConnectsAgain) {
    PeerSession refusing;
    refusing.levelBody = {0x00, 0x00, 0x00, 0x00, 0x04, 0x04, 0x00};
    TlsPeer bad(withSession(refusing));
    TlsPeer good;
    vemoc_s7_client* c = vemoc_s7_client_new();
    EXPECT_EQ(vemoc_s7_client_connect(c, "127.0.0.1", bad.port(), kTimeoutMs), S7_ERR_SESSION_LEVEL);
    EXPECT_EQ(vemoc_s7_client_connect(c, "127.0.0.1", good.port(), kTimeoutMs), S7_OK);
    EXPECT_EQ(vemoc_s7_client_get_state(c), S7_CLIENT_CONNECTED);
    vemoc_s7_client_free(c);
    bad.join();
    good.join();
    EXPECT_TRUE(bad.log().closedByClient);
    EXPECT_EQ(bad.log().setupMessages.size(), 3u) << "no limits read after a refused level";
}

TEST(SessionSetup, TheControllerTypeTextIsCutToTheBufferAndAlwaysTerminated) {
    struct Case {
        const char* rule;
        Bytes member319;
        std::string expected;
    };
    const std::string longText(300, 'A');
    const Case cases[] = {
        {"300 characters keep the first 255", PeerSession::stringValue(longText), std::string(255, 'A')},
        {"255 characters fit exactly", PeerSession::stringValue(std::string(255, 'B')), std::string(255, 'B')},
        {"an empty text", PeerSession::stringValue(""), ""},
        {"a member of another type leaves the text empty", {0x00, 0x04, 0x07}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        PeerSession session;
        session.createBody = PeerSession::createReplyBody(0x391, c.member319);
        const ConnectOutcome o = connectTo(session);
        EXPECT_EQ(o.rc, S7_OK);
        EXPECT_EQ(o.plcType, c.expected);
    }
}

}  // namespace

// The request/response exchange over a real TLS 1.3 connection to the test
// peer: how requests are cut into frames, how responses are reassembled and
// checked, the session's numbering rules, the TLS-start step and connect
// steps 6 to 8 with their codes.
#include "s7_client.h"
#include "s7_exchange.h"

#include "../support/alloc_hooks.h"
#include "../support/tls_peer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

namespace {

using vemo::test::Bytes;
using vemo::test::PeerReply;
using vemo::test::PeerStep;
using vemo::test::TlsPeer;
using vemo::test::TlsPeerOptions;

constexpr uint32_t kTimeoutMs = 3000;

// A client handle connected through steps 1-8, with a session over its
// channel (the handle creates its own session in a later step).
struct Link {
    explicit Link(uint16_t port, uint32_t timeoutMs = kTimeoutMs) : client(vemoc_s7_client_new()) {
        rc = vemoc_s7_client_connect(client, "127.0.0.1", port, timeoutMs);
        if (rc == S7_OK) {
            session = s7_session_new(client->tls);
        }
    }
    ~Link() {
        s7_session_free(session);
        vemoc_s7_client_free(client);
    }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    uint8_t exchange(const Bytes& body, s7_response& response, uint16_t function = S7_FN_READ_VARIABLES,
                     uint8_t version = 2, uint32_t timeoutMs = kTimeoutMs) {
        const s7_request request{body.data(), static_cast<uint32_t>(body.size()), function, version};
        return s7_exchange(session, &request, &response, timeoutMs);
    }

    vemoc_s7_client* client;
    s7_session* session = nullptr;
    uint8_t rc = S7_ERR_ARGUMENT;
};

Bytes frame(uint8_t version, const Bytes& data) {
    Bytes f = {0x72, version, static_cast<uint8_t>(data.size() >> 8), static_cast<uint8_t>(data.size())};
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

Bytes trailer(uint8_t version) { return {0x72, version, 0x00, 0x00}; }

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes counting(size_t n, uint8_t from = 0) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        b[i] = static_cast<uint8_t>(from + i);
    }
    return b;
}

Bytes asBytes(const s7_response& r) { return r.data == nullptr ? Bytes{} : Bytes(r.data, r.data + r.length); }

TEST(Exchange, RoundTripSendsTheHeaderAndBodyAndReturnsTheResponseData) {
    const Bytes answer = counting(10, 0xA0);
    TlsPeerOptions options;
    options.replies = {PeerReply::tls(concat({frame(2, answer), trailer(2)}))};
    TlsPeer peer(options);
    Bytes sent;
    {
        Link link(peer.port());
        ASSERT_EQ(link.rc, S7_OK);
        s7_response response{};
        const Bytes body = {0x34, 0x00, 0x00, 0x00, 0x01, 0xAA};
        ASSERT_EQ(link.exchange(body, response), S7_OK);
        EXPECT_EQ(asBytes(response), answer);
        s7_response_clear(&response);
        EXPECT_EQ(response.data, nullptr);
    }
    peer.join();
    ASSERT_EQ(peer.log().messages.size(), 1u);
    const Bytes expected = concat({frame(2, concat({{0x31, 0x00, 0x00, 0x05, 0x4C, 0x00, 0x00, 0x00, 0x01, 0x00,
                                                     0x00, 0x01, 0x20},
                                                    {0x34, 0x00, 0x00, 0x00, 0x01, 0xAA}})),
                                   trailer(2)});
    EXPECT_EQ(peer.log().messages[0].bytes, expected) << "header: 0x31, function 1356, sequence 1, session 288";
}

} // namespace

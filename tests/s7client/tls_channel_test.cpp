// The TLS channel: its frame callbacks against scripted frames, and the
// handshake, read and write against the TLS peer, with the codes of every
// way they can fail.
#include "s7_exchange.h"
#include "s7_tls.h"
#include "s7_tls_start.h"

#include "../support/alloc_hooks.h"
#include "../support/loopback_server.h"
#include "../support/tls_peer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>

namespace {

using vemo::test::Bytes;
using vemo::test::CountingAllocator;
using vemo::test::LoopbackServer;
using vemo::test::PeerReply;
using vemo::test::PeerStep;
using vemo::test::TlsPeer;
using vemo::test::TlsPeerOptions;

constexpr uint32_t kTimeoutMs = 3000;

Bytes dataFrame(const Bytes& payload) {
    const size_t len = payload.size() + 7;
    Bytes frame(len);
    const uint8_t header[] = {0x03, 0x00, static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len), 0x02, 0xF0, 0x80};
    std::copy(std::begin(header), std::end(header), frame.begin());
    std::copy(payload.begin(), payload.end(), frame.begin() + 7);
    return frame;
}

Bytes counting(size_t n, uint8_t from = 0) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        b[i] = static_cast<uint8_t>(from + i);
    }
    return b;
}

// A channel over a transport that is only TCP-connected: for driving the
// frame callbacks by hand against scripted frames.
struct RawChannel {
    explicit RawChannel(uint16_t port) : channel(s7_tls_channel_new(nullptr)) {
        EXPECT_EQ(s7_socket_connect(channel->transport->socket, "127.0.0.1", port, kTimeoutMs), S7_STATUS_OK);
        channel->timeout_ms = kTimeoutMs;
    }
    ~RawChannel() { s7_tls_channel_free(channel); }
    RawChannel(const RawChannel&) = delete;
    RawChannel& operator=(const RawChannel&) = delete;
    s7_tls_channel* channel;
};

// A channel over a transport that has gone through COTP and TLS start with
// the peer, ready for the handshake.
struct PeerChannel {
    explicit PeerChannel(uint16_t port) : transport(s7_iso_transport_new(nullptr)) {
        EXPECT_EQ(s7_iso_connect(transport, "127.0.0.1", port, kTimeoutMs), S7_STATUS_OK);
        s7_tls_start_result reply{};
        EXPECT_EQ(s7_tls_start(transport, kTimeoutMs, &reply), S7_STATUS_OK);
        channel = s7_tls_channel_new(transport);
    }
    ~PeerChannel() {
        s7_tls_channel_free(channel);
        s7_iso_transport_free(transport);
    }
    PeerChannel(const PeerChannel&) = delete;
    PeerChannel& operator=(const PeerChannel&) = delete;
    s7_iso_transport* transport;
    s7_tls_channel* channel = nullptr;
};

// The smallest message the peer takes for a request: one frame, one data
// byte, trailer.
const Bytes kRequest = {0x72, 0x02, 0x00, 0x01, 0xAA, 0x72, 0x02, 0x00, 0x00};

bool isOneWholeRecord(const Bytes& payload) {
    return payload.size() >= 5 && payload.size() == 5 + ((size_t{payload[3]} << 8) | payload[4]);
}

TEST(TlsBioRecv, OneFrameServesSeveralReadsAndNoReadSpansTwoFrames) {
    const Bytes first = counting(100);
    const Bytes second = counting(3, 0xF0);
    LoopbackServer server([&](int fd) {
        Bytes both = dataFrame(first);
        const Bytes next = dataFrame(second);
        both.insert(both.end(), next.begin(), next.end());
        LoopbackServer::writeAll(fd, both);
        LoopbackServer::waitForClose(fd);
    });
    RawChannel raw(server.port());
    uint8_t buf[200];
    ASSERT_EQ(s7_tls_bio_recv(raw.channel, buf, 5), 5);
    EXPECT_EQ(Bytes(buf, buf + 5), Bytes(first.begin(), first.begin() + 5));
    ASSERT_EQ(s7_tls_bio_recv(raw.channel, buf, 200), 95) << "the rest of the frame, not more";
    EXPECT_EQ(Bytes(buf, buf + 95), Bytes(first.begin() + 5, first.end()));
    EXPECT_EQ(raw.channel->buffered_length, 0u);
    ASSERT_EQ(s7_tls_bio_recv(raw.channel, buf, 200), 3) << "a new frame";
    EXPECT_EQ(Bytes(buf, buf + 3), second);
    // A read of nothing could never make progress: refused, not retried.
    EXPECT_EQ(s7_tls_bio_recv(raw.channel, buf, 0), S7_TLS_IO_FAILED);
    EXPECT_EQ(s7_tls_bio_recv(raw.channel, nullptr, 5), S7_TLS_IO_FAILED);
    EXPECT_EQ(s7_tls_bio_recv(nullptr, buf, 5), S7_TLS_IO_FAILED);
}

TEST(TlsBioRecv, WhatEachKindOfFrameOrFailureGives) {
    struct Case {
        const char* rule;
        Bytes sent;
        bool close;
        int expected;
        s7_status below;  // what the transport reported, kept for the engine call's result
    };
    const Case cases[] = {
        {"an empty frame asks for another read, without a time-out", dataFrame({}), false, S7_TLS_IO_WANT_READ,
         S7_STATUS_OK},
        {"nothing within the time-out: retry, flagged", {}, false, S7_TLS_IO_WANT_READ, S7_STATUS_TIMEOUT},
        {"the peer closed: end of stream", {}, true, 0, S7_STATUS_OK},
        {"a frame larger than the receive buffer is fatal", dataFrame(Bytes(32769, 0x11)), false, S7_TLS_IO_FAILED,
         S7_STATUS_TOO_LARGE},
        {"a frame exactly the size of the buffer fits", dataFrame(Bytes(32768, 0x11)), false, 32768, S7_STATUS_OK},
        {"a malformed packet is fatal",
         {0x04, 0x00, 0x00, 0x08, 0x02, 0xF0, 0x80, 0x00},
         false,
         S7_TLS_IO_FAILED,
         S7_STATUS_PROTOCOL},
        {"a connection confirm amid TLS is fatal",
         {0x03, 0x00, 0x00, 0x0B, 0x06, 0xD0, 0, 1, 0, 1, 0},
         false,
         S7_TLS_IO_FAILED,
         S7_STATUS_CONFIRM},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        LoopbackServer server([&](int fd) {
            LoopbackServer::writeAll(fd, c.sent);
            if (!c.close) {
                LoopbackServer::waitForClose(fd);
            }
        });
        RawChannel raw(server.port());
        raw.channel->timeout_ms = 200;
        Bytes buf(40000);
        EXPECT_EQ(s7_tls_bio_recv(raw.channel, buf.data(), buf.size()), c.expected);
        EXPECT_EQ(raw.channel->io_status, c.below);
    }
}

TEST(TlsBioRecv, EmptyFrameIsSkippedAndTheNextFrameServed) {
    LoopbackServer server([](int fd) {
        Bytes frames = dataFrame({});
        const Bytes next = dataFrame({7, 8});
        frames.insert(frames.end(), next.begin(), next.end());
        LoopbackServer::writeAll(fd, frames);
        LoopbackServer::waitForClose(fd);
    });
    RawChannel raw(server.port());
    uint8_t buf[16];
    EXPECT_EQ(s7_tls_bio_recv(raw.channel, buf, sizeof buf), S7_TLS_IO_WANT_READ);
    ASSERT_EQ(s7_tls_bio_recv(raw.channel, buf, sizeof buf), 2);
    EXPECT_EQ(Bytes(buf, buf + 2), (Bytes{7, 8}));
}

TEST(TlsBioSend, EachCallIsOneWholeDataFrame) {
    Bytes received;
    LoopbackServer server([&](int fd) {
        received = LoopbackServer::readExact(fd, 7 + 300 + 7 + 1);
        LoopbackServer::waitForClose(fd);
    });
    RawChannel raw(server.port());
    const Bytes payload = counting(300);
    EXPECT_EQ(s7_tls_bio_send(raw.channel, payload.data(), payload.size()), 300);
    EXPECT_EQ(s7_tls_bio_send(raw.channel, payload.data(), 1), 1);
    EXPECT_EQ(s7_tls_bio_send(raw.channel, nullptr, 1), S7_TLS_IO_FAILED);
    EXPECT_EQ(s7_tls_bio_send(nullptr, payload.data(), 1), S7_TLS_IO_FAILED);
    s7_socket_close(raw.channel->transport->socket);
    EXPECT_EQ(s7_tls_bio_send(raw.channel, payload.data(), 1), S7_TLS_IO_FAILED) << "no socket";
    server.join();
    Bytes expected = dataFrame(payload);
    const Bytes one = dataFrame({0});
    expected.insert(expected.end(), one.begin(), one.end());
    EXPECT_EQ(received, expected);
}

TEST(TlsBioSend, SendThatCannotGoOutInTimeIsARetryFlaggedAsTimeOut) {
    // A listener that never accepts and never reads: the socket buffers
    // fill up and a send has to wait.
    LoopbackServer sink(nullptr);
    RawChannel raw(sink.port());
    raw.channel->timeout_ms = 100;
    const Bytes payload(65528, 0x42);
    int rc = 0;
    for (int i = 0; i < 2000; ++i) {
        rc = s7_tls_bio_send(raw.channel, payload.data(), payload.size());
        if (rc != static_cast<int>(payload.size())) {
            break;
        }
    }
    EXPECT_EQ(rc, S7_TLS_IO_WANT_WRITE);
    EXPECT_EQ(raw.channel->io_status, S7_STATUS_TIMEOUT);
}

TEST(TlsSendRecords, EveryRecordGoesOutAsItsOwnFrameHoweverTheWritesCutThem) {
    auto record = [](uint8_t type, size_t bodyLength, uint8_t fill) {
        Bytes r(5 + bodyLength, fill);
        const uint8_t head[] = {type, 0x03, 0x03, static_cast<uint8_t>(bodyLength >> 8),
                                static_cast<uint8_t>(bodyLength)};
        std::copy(std::begin(head), std::end(head), r.begin());
        return r;
    };
    const Bytes a = record(0x16, 3, 0xA1);
    const Bytes b = record(0x14, 0, 0);
    const Bytes c = record(0x17, 300, 0xC3);
    const Bytes d = record(0x17, 1, 0xD4);
    Bytes expected;
    for (const Bytes* r : {&a, &b, &c, &d}) {
        const Bytes f = dataFrame(*r);
        expected.insert(expected.end(), f.begin(), f.end());
    }
    Bytes received;
    LoopbackServer server([&](int fd) {
        received = LoopbackServer::readExact(fd, expected.size());
        const Bytes more = LoopbackServer::readExact(fd, 1, 200);
        received.insert(received.end(), more.begin(), more.end());
        LoopbackServer::waitForClose(fd);
    });
    RawChannel raw(server.port());
    auto write = [&](const Bytes& bytes) { return s7_tls_send_records(raw.channel, bytes.data(), bytes.size()); };
    // Two whole records and four bytes of a third's header.
    Bytes first = a;
    first.insert(first.end(), b.begin(), b.end());
    first.insert(first.end(), c.begin(), c.begin() + 4);
    EXPECT_EQ(write(first), static_cast<int>(first.size()));
    EXPECT_EQ(raw.channel->send_pending, 4u);
    // The rest of the header and part of the body: still nothing to send.
    EXPECT_EQ(write(Bytes(c.begin() + 4, c.begin() + 100)), 96);
    // The rest of the record, and one more whole.
    Bytes last(c.begin() + 100, c.end());
    last.insert(last.end(), d.begin(), d.end());
    EXPECT_EQ(write(last), static_cast<int>(last.size()));
    EXPECT_EQ(raw.channel->send_pending, 0u);
    // A header that announces more than a TLS record can hold.
    EXPECT_EQ(write({0x17, 0x03, 0x03, 0xFF, 0xFF}), S7_TLS_IO_FAILED);
    EXPECT_EQ(raw.channel->send_pending, 0u);
    EXPECT_EQ(s7_tls_send_records(nullptr, a.data(), a.size()), S7_TLS_IO_FAILED);
    server.join();
    EXPECT_EQ(received, expected);
}

TEST(TlsHandshake, AcceptsAnyCertificateAndRefusesWhatIsNotTls13WithTheTwoSuites) {
    struct Case {
        const char* rule;
        TlsPeerOptions options;
        uint8_t expected;
        const char* cipher;
    };
    auto with = [](auto change) {
        TlsPeerOptions o;
        change(o);
        return o;
    };
    const Case cases[] = {
        {"a self-signed certificate: the first suite", {}, S7_STATUS_OK, "TLS_AES_128_GCM_SHA256"},
        {"a server with the second suite only",
         with([](TlsPeerOptions& o) { o.cipherSuites = "TLS_AES_256_GCM_SHA384"; }), S7_STATUS_OK,
         "TLS_AES_256_GCM_SHA384"},
        {"an expired certificate", with([](TlsPeerOptions& o) { o.expiredCertificate = true; }), S7_STATUS_OK,
         "TLS_AES_128_GCM_SHA256"},
        {"empty frames between the server's records", with([](TlsPeerOptions& o) { o.emptyFramesInHandshake = true; }),
         S7_STATUS_OK, "TLS_AES_128_GCM_SHA256"},
        {"a TLS 1.2 server", with([](TlsPeerOptions& o) { o.tls12Only = true; }), S7_STATUS_TLS, ""},
        {"a server with other suites only",
         with([](TlsPeerOptions& o) { o.cipherSuites = "TLS_CHACHA20_POLY1305_SHA256"; }), S7_STATUS_TLS, ""},
        {"a server that closes after the hello", with([](TlsPeerOptions& o) { o.closeAt = PeerStep::Handshake; }),
         S7_STATUS_TLS, ""},
        {"a server that never answers the hello", with([](TlsPeerOptions& o) { o.silentAt = PeerStep::Handshake; }),
         S7_STATUS_TIMEOUT, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        TlsPeer peer(c.options);
        {
            PeerChannel link(peer.port());
            ASSERT_NE(link.channel, nullptr);
            EXPECT_EQ(s7_tls_handshake(link.channel, 500), c.expected);
            EXPECT_EQ(link.channel->established, c.expected == S7_STATUS_OK ? 1 : 0);
        }
        peer.join();
        const auto& log = peer.log();
        EXPECT_EQ(log.handshakeDone, c.expected == S7_STATUS_OK);
        if (c.expected == S7_STATUS_OK) {
            EXPECT_EQ(log.tlsVersion, 0x0304);
            EXPECT_EQ(log.cipher, c.cipher);
        }
    }
}

TEST(TlsHandshake, ClientOffersExactlyTheTwoSuitesNoServerNameAndOneRecordPerFrame) {
    TlsPeer peer;
    {
        PeerChannel link(peer.port());
        ASSERT_EQ(s7_tls_handshake(link.channel, kTimeoutMs), S7_STATUS_OK);
        ASSERT_EQ(s7_tls_write(link.channel, kRequest.data(), static_cast<uint32_t>(kRequest.size()), kTimeoutMs),
                  S7_STATUS_OK);
    }
    peer.join();
    const auto& log = peer.log();
    EXPECT_EQ(log.offeredSuites, (std::vector<uint16_t>{0x1301, 0x1302}));
    EXPECT_FALSE(log.serverNameSent);
    // ClientHello; ChangeCipherSpec and Finished, which the engine hands
    // over in one piece; the request.
    ASSERT_GE(log.clientFrames.size(), 4u);
    for (const Bytes& payload : log.clientFrames) {
        EXPECT_TRUE(isOneWholeRecord(payload)) << "a frame of " << payload.size() << " bytes";
    }
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages[0].bytes, kRequest);
}

TEST(TlsChannel, ReadAndWriteBeforeTheHandshakeFailWithoutTouchingTheSocket) {
    TlsPeer peer;
    {
        PeerChannel link(peer.port());
        uint8_t buf[16];
        int32_t count = 7;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(s7_tls_read(link.channel, buf, sizeof buf, &count, 2000), S7_STATUS_TLS);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(s7_tls_write(link.channel, kRequest.data(), 9, 2000), S7_STATUS_TLS);
        EXPECT_EQ(s7_tls_write(link.channel, nullptr, 0, 2000), S7_STATUS_TLS);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000)) << "no wait";
        // Nothing was sent or taken: the handshake still starts cleanly.
        EXPECT_EQ(s7_tls_handshake(link.channel, kTimeoutMs), S7_STATUS_OK);
    }
    peer.join();
    ASSERT_FALSE(peer.log().clientFrames.empty());
    EXPECT_EQ(peer.log().clientFrames[0][0], 0x16) << "the first frame is the hello";
}

TEST(TlsChannel, ArgumentsAreChecked) {
    TlsPeer peer;
    PeerChannel link(peer.port());
    ASSERT_EQ(s7_tls_handshake(link.channel, kTimeoutMs), S7_STATUS_OK);
    uint8_t buf[4];
    int32_t count = 5;
    EXPECT_EQ(s7_tls_read(link.channel, buf, 0, &count, kTimeoutMs), S7_STATUS_ARGUMENT);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(s7_tls_read(link.channel, nullptr, 4, &count, kTimeoutMs), S7_STATUS_ARGUMENT);
    EXPECT_EQ(s7_tls_read(link.channel, buf, 4, nullptr, kTimeoutMs), S7_STATUS_ARGUMENT);
    EXPECT_EQ(s7_tls_read(nullptr, buf, 4, &count, kTimeoutMs), S7_STATUS_ARGUMENT);
    EXPECT_EQ(s7_tls_write(link.channel, nullptr, 1, kTimeoutMs), S7_STATUS_ARGUMENT);
    EXPECT_EQ(s7_tls_write(nullptr, buf, 1, kTimeoutMs), S7_STATUS_ARGUMENT);
    EXPECT_EQ(s7_tls_handshake(nullptr, kTimeoutMs), S7_STATUS_ARGUMENT);
    EXPECT_EQ(s7_tls_write(link.channel, nullptr, 0, kTimeoutMs), S7_STATUS_OK) << "nothing to write once established";
    s7_tls_channel_free(nullptr);
}

TEST(TlsChannel, ReadAfterTheRequestGivesTheReplyOrTheCodeOfItsFailure) {
    struct Case {
        const char* rule;
        std::optional<PeerReply> reply;  // none: the peer never answers
        uint8_t expected;
    };
    const Case cases[] = {
        {"a reply in one record", PeerReply::tls({1, 2, 3}), S7_STATUS_OK},
        {"an abrupt close is the peer closing", PeerReply::close(), S7_STATUS_NOT_CONNECTED},
        {"a closure alert is the peer closing", PeerReply::closeNotify(), S7_STATUS_NOT_CONNECTED},
        {"a frame too large for the receive buffer", PeerReply::rawFrame(Bytes(32769, 0)), S7_STATUS_TLS},
        {"a frame that is no TLS record", PeerReply::rawFrame(Bytes(40, 0x55)), S7_STATUS_TLS},
        {"no answer within the time-out", std::nullopt, S7_STATUS_TIMEOUT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        TlsPeerOptions options;
        if (c.reply) {
            options.replies = {*c.reply};
        }
        TlsPeer peer(options);
        PeerChannel link(peer.port());
        ASSERT_EQ(s7_tls_handshake(link.channel, kTimeoutMs), S7_STATUS_OK);
        ASSERT_EQ(s7_tls_write(link.channel, kRequest.data(), static_cast<uint32_t>(kRequest.size()), kTimeoutMs),
                  S7_STATUS_OK);
        uint8_t buf[64];
        int32_t count = -1;
        EXPECT_EQ(s7_tls_read(link.channel, buf, sizeof buf, &count, 300), c.expected);
        if (c.expected == S7_STATUS_OK) {
            EXPECT_EQ(Bytes(buf, buf + count), (Bytes{1, 2, 3}));
        } else {
            EXPECT_EQ(count, 0);
        }
    }
}

TEST(TlsChannel, OwnTransportAndEveryAllocationComeBack) {
    CountingAllocator hooks;
    s7_tls_channel* own = s7_tls_channel_new(nullptr);
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->owns_transport, 1);
    EXPECT_NE(own->transport, nullptr);
    s7_tls_channel_free(own);
    EXPECT_EQ(hooks.live(), 0u);

    for (size_t n = 1; n <= 3; ++n) {
        SCOPED_TRACE(n);
        hooks.failFrom(n);
        s7_tls_channel* ch = s7_tls_channel_new(nullptr);
        const bool reached = hooks.calls() >= n;
        hooks.failFrom(0);
        if (reached) {
            EXPECT_EQ(ch, nullptr);
        }
        s7_tls_channel_free(ch);
        EXPECT_EQ(hooks.live(), 0u);
    }
}

}  // namespace

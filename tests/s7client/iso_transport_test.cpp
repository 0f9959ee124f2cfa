// The socket layer and the ISO-on-TCP transport against scripted loopback
// peers: framing checks byte for byte, sizes at their limits, and the codes
// of each way a connection can fail.
#include "s7_iso.h"
#include "s7_socket.h"

#include "../support/loopback_server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>

namespace {

using vemo::test::Bytes;
using vemo::test::LoopbackServer;

constexpr uint32_t kTimeoutMs = 3000;

// A transport over its own slot, connected by TCP to the server.
struct Connected {
    explicit Connected(uint16_t port) : transport(s7_iso_transport_new(nullptr)) {
        EXPECT_EQ(s7_socket_connect(transport->socket, "127.0.0.1", port, kTimeoutMs), S7_STATUS_OK);
    }
    ~Connected() { s7_iso_transport_free(transport); }
    s7_iso_transport* transport;
};

Bytes dataFrame(const Bytes& payload) {
    const auto len = static_cast<uint16_t>(payload.size() + 7);
    Bytes frame = {0x03, 0x00, static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len), 0x02, 0xF0, 0x80};
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

Bytes connectionConfirm(uint16_t totalLength) {
    Bytes cc = {0x03,
                0x00,
                static_cast<uint8_t>(totalLength >> 8),
                static_cast<uint8_t>(totalLength),
                static_cast<uint8_t>(totalLength - 5),
                0xD0,
                0x00};
    for (size_t i = cc.size(); i < totalLength; ++i) {
        cc.push_back(static_cast<uint8_t>(i));
    }
    return cc;
}

TEST(IsoReadFrame, FramingCases) {
    struct Case {
        const char* rule;
        Bytes sent;
        bool closeAfter;
        uint32_t capacity;
        uint8_t expected;
        Bytes payload;
    };
    const Case cases[] = {
        {"a data frame delivers its payload", dataFrame({1, 2, 3}), false, 16, S7_STATUS_OK, {1, 2, 3}},
        {"a frame of length 7 has an empty payload", dataFrame({}), false, 16, S7_STATUS_OK, {}},
        {"TPKT length below 7 is malformed",
         {0x03, 0x00, 0x00, 0x06, 0x02, 0xF0, 0x80},
         false,
         16,
         S7_STATUS_PROTOCOL,
         {}},
        {"TPKT version other than 3 is malformed", {0x04, 0x00, 0x00, 0x10}, false, 16, S7_STATUS_PROTOCOL, {}},
        {"non-zero reserved byte is malformed",
         {0x03, 0x01, 0x00, 0x08, 0x02, 0xF0, 0x80, 0xAA},
         false,
         16,
         S7_STATUS_PROTOCOL,
         {}},
        {"end-of-transmission bit clear is malformed",
         {0x03, 0x00, 0x00, 0x08, 0x02, 0xF0, 0x00, 0xAA},
         false,
         16,
         S7_STATUS_PROTOCOL,
         {}},
        {"length indicator other than 2 is malformed",
         {0x03, 0x00, 0x00, 0x08, 0x03, 0xF0, 0x80, 0xAA},
         false,
         16,
         S7_STATUS_PROTOCOL,
         {}},
        {"a TPDU other than DT or CC is malformed",
         {0x03, 0x00, 0x00, 0x08, 0x02, 0x80, 0x80, 0xAA},
         false,
         16,
         S7_STATUS_PROTOCOL,
         {}},
        {"payload equal to the capacity is delivered", dataFrame(Bytes(16, 0x5A)), false, 16, S7_STATUS_OK,
         Bytes(16, 0x5A)},
        {"payload one byte above the capacity is too large",
         dataFrame(Bytes(17, 0x5A)),
         false,
         16,
         S7_STATUS_TOO_LARGE,
         {}},
        {"peer closing mid-header", {0x03, 0x00}, true, 16, S7_STATUS_CLOSED, {}},
        {"peer closing mid-payload",
         {0x03, 0x00, 0x00, 0x10, 0x02, 0xF0, 0x80, 0x01, 0x02},
         true,
         16,
         S7_STATUS_CLOSED,
         {}},
        {"a connection confirm is consumed and reported", connectionConfirm(22), false, 16, S7_STATUS_CONFIRM, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        LoopbackServer server([&](int fd) {
            LoopbackServer::writeAll(fd, c.sent);
            if (!c.closeAfter) {
                LoopbackServer::waitForClose(fd);
            }
        });
        Connected client(server.port());
        Bytes buffer(c.capacity + 8, 0xEE);
        uint32_t len = 99;
        EXPECT_EQ(s7_iso_read_frame(client.transport, buffer.data(), c.capacity, &len, kTimeoutMs), c.expected);
        if (c.expected == S7_STATUS_OK) {
            ASSERT_EQ(len, c.payload.size());
            EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + len), c.payload);
            EXPECT_EQ(buffer[c.capacity], 0xEE) << "wrote past the capacity";
        } else {
            EXPECT_EQ(len, 0u);
        }
        s7_socket_close(client.transport->socket);
    }
}

TEST(IsoReadFrame, ArgumentsAreChecked) {
    s7_iso_transport* t = s7_iso_transport_new(nullptr);
    ASSERT_NE(t, nullptr);
    uint8_t buf[8];
    uint32_t len = 5;
    EXPECT_EQ(s7_iso_read_frame(nullptr, buf, 8, &len, 10), S7_STATUS_ARGUMENT);
    EXPECT_EQ(s7_iso_read_frame(t, nullptr, 8, &len, 10), S7_STATUS_ARGUMENT);
    EXPECT_EQ(s7_iso_read_frame(t, buf, 8, nullptr, 10), S7_STATUS_ARGUMENT);
    EXPECT_EQ(s7_iso_read_frame(t, buf, 8, &len, 10), S7_STATUS_CLOSED) << "no socket in the slot";
    EXPECT_EQ(s7_iso_write_frame(t, nullptr, 1, 10), S7_STATUS_ARGUMENT);
    EXPECT_EQ(s7_iso_write_frame(t, nullptr, 0, 10), S7_STATUS_CLOSED);
    s7_iso_transport_free(t);
}

TEST(IsoConnect, SendsTheFixedRequestAndConsumesALongConfirmWhole) {
    const Bytes expectedRequest = {0x03, 0x00, 0x00, 0x24, 0x1F, 0xE0, 0x00, 0x00, 0x00, 0x01, 0x00, 0xC0,
                                   0x01, 0x0A, 0xC1, 0x02, 0x06, 0x00, 0xC2, 0x10, 'S',  'I',  'M',  'A',
                                   'T',  'I',  'C',  '-',  'R',  'O',  'O',  'T',  '-',  'H',  'M',  'I'};
    Bytes received;
    LoopbackServer server([&](int fd) {
        received = LoopbackServer::readExact(fd, 36);
        // A confirm of 207 bytes: 200 bytes beyond the headers, drained in
        // pieces; the data frame behind it must come out intact.
        Bytes reply = connectionConfirm(207);
        const Bytes frame = dataFrame({0xCA, 0xFE});
        reply.insert(reply.end(), frame.begin(), frame.end());
        LoopbackServer::writeAll(fd, reply);
        LoopbackServer::waitForClose(fd);
    });
    s7_iso_transport* t = s7_iso_transport_new(nullptr);
    ASSERT_EQ(s7_iso_connect(t, "127.0.0.1", server.port(), kTimeoutMs), S7_STATUS_OK);
    uint8_t buf[16];
    uint32_t len = 0;
    ASSERT_EQ(s7_iso_read_frame(t, buf, sizeof buf, &len, kTimeoutMs), S7_STATUS_OK);
    EXPECT_EQ(Bytes(buf, buf + len), (Bytes{0xCA, 0xFE}));
    s7_iso_transport_free(t);
    server.join();
    EXPECT_EQ(received, expectedRequest);
}

TEST(IsoConnect, ReplyThatIsNotAConfirm) {
    struct Case {
        const char* rule;
        Bytes reply;
        uint8_t expected;
    };
    const Case cases[] = {
        {"a data frame where the confirm is due", dataFrame({1, 2, 3}), S7_STATUS_PROTOCOL},
        {"a data frame larger than the confirm buffer", dataFrame(Bytes(69, 0)), S7_STATUS_TOO_LARGE},
        {"a garbage header", {0x16, 0x03, 0x01, 0x00}, S7_STATUS_PROTOCOL},
        {"no reply, the peer closes", {}, S7_STATUS_CLOSED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        LoopbackServer server([&](int fd) {
            LoopbackServer::readExact(fd, 36);
            LoopbackServer::writeAll(fd, c.reply);
            if (!c.reply.empty()) {
                LoopbackServer::waitForClose(fd);
            }
        });
        s7_iso_transport* t = s7_iso_transport_new(nullptr);
        EXPECT_EQ(s7_iso_connect(t, "127.0.0.1", server.port(), kTimeoutMs), c.expected);
        s7_iso_transport_free(t);
    }
}

TEST(IsoConnect, FailuresBeforeTheConfirm) {
    s7_iso_transport* t = s7_iso_transport_new(nullptr);
    EXPECT_EQ(s7_iso_connect(t, "127.0.0.1", 0, kTimeoutMs), S7_STATUS_ARGUMENT);
    EXPECT_EQ(s7_iso_connect(t, nullptr, 102, kTimeoutMs), S7_STATUS_ARGUMENT);
    EXPECT_EQ(s7_iso_connect(t, "127.0.0.1", vemo::test::unusedPort(), kTimeoutMs), S7_STATUS_CONNECT);
    // A host that does not resolve keeps that meaning; only the public code
    // folds it into a connect failure.
    EXPECT_EQ(s7_iso_connect(t, "no-such-host.invalid", 102, kTimeoutMs), S7_STATUS_RESOLVE);
    EXPECT_EQ(t->socket->handle, s7_socket_invalid()) << "a failed connect leaves the slot empty";

    // A listener that never accepts: TCP completes in the kernel's backlog,
    // but the confirm never comes.
    LoopbackServer silent(nullptr);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(s7_iso_connect(t, "127.0.0.1", silent.port(), 300), S7_STATUS_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
    s7_iso_transport_free(t);
}

TEST(IsoWriteFrame, LargestPayloadIsOneFrameAndOneMoreIsRefusedUnsent) {
    Bytes received;
    LoopbackServer server([&](int fd) {
        received = LoopbackServer::readExact(fd, 65535 + 8);
        LoopbackServer::waitForClose(fd);
    });
    Connected client(server.port());
    Bytes payload(65529);
    for (size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<uint8_t>(i * 7);
    }
    EXPECT_EQ(s7_iso_write_frame(client.transport, payload.data(), 65529, kTimeoutMs), S7_STATUS_TOO_LARGE);
    EXPECT_EQ(s7_iso_write_frame(client.transport, payload.data(), 65528, kTimeoutMs), S7_STATUS_OK);
    EXPECT_EQ(s7_iso_write_frame(client.transport, nullptr, 0, kTimeoutMs), S7_STATUS_OK);
    s7_socket_close(client.transport->socket);
    server.join();

    ASSERT_EQ(received.size(), 65535u + 7u) << "nothing of the refused frame may have been sent";
    EXPECT_EQ(Bytes(received.begin(), received.begin() + 7), (Bytes{0x03, 0x00, 0xFF, 0xFF, 0x02, 0xF0, 0x80}));
    EXPECT_EQ(Bytes(received.begin() + 7, received.begin() + 65535), Bytes(payload.begin(), payload.begin() + 65528));
    EXPECT_EQ(Bytes(received.begin() + 65535, received.end()), (Bytes{0x03, 0x00, 0x00, 0x07, 0x02, 0xF0, 0x80}));
}

TEST(IsoWriteFrame, PeerThatClosedGivesClosedNotASignal) {
    LoopbackServer server([](int) {});
    Connected client(server.port());
    server.join();
    // The first sends may still be accepted by the kernel; a reset follows.
    const Bytes payload(1000, 1);
    uint8_t rc = S7_STATUS_OK;
    for (int i = 0; i < 200 && rc == S7_STATUS_OK; ++i) {
        rc = s7_iso_write_frame(client.transport, payload.data(), static_cast<uint32_t>(payload.size()), kTimeoutMs);
    }
    EXPECT_EQ(rc, S7_STATUS_CLOSED);
}

TEST(SocketLayer, ArgumentsAndEmptySlot) {
    s7_socket* slot = s7_socket_new();
    ASSERT_NE(slot, nullptr);
    uint8_t buf[4];
    uint32_t got = 77;
    EXPECT_EQ(s7_socket_connect(nullptr, "127.0.0.1", 1, 10), S7_STATUS_ARGUMENT);
    EXPECT_EQ(s7_socket_connect(slot, nullptr, 1, 10), S7_STATUS_ARGUMENT);
    EXPECT_EQ(s7_socket_connect(slot, "127.0.0.1", 0, 10), S7_STATUS_ARGUMENT);
    EXPECT_EQ(s7_socket_recv_exact(slot, nullptr, 4, &got, 10), S7_STATUS_ARGUMENT);
    EXPECT_EQ(s7_socket_recv_exact(slot, buf, 4, &got, 10), S7_STATUS_CLOSED);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(s7_socket_send_all(slot, buf, 4, 10), S7_STATUS_CLOSED);
    EXPECT_EQ(s7_socket_send_all(slot, nullptr, 4, 10), S7_STATUS_ARGUMENT);
    s7_socket_free(slot);
    s7_socket_free(nullptr);
}

TEST(SocketLayer, RecvExactReportsWhatArrivedBeforeATimeout) {
    LoopbackServer server([](int fd) {
        LoopbackServer::writeAll(fd, {1, 2, 3});
        LoopbackServer::waitForClose(fd);
    });
    s7_socket* slot = s7_socket_new();
    ASSERT_EQ(s7_socket_connect(slot, "127.0.0.1", server.port(), kTimeoutMs), S7_STATUS_OK);
    uint8_t buf[8];
    uint32_t got = 0;
    EXPECT_EQ(s7_socket_recv_exact(slot, buf, 8, &got, 200), S7_STATUS_TIMEOUT);
    EXPECT_EQ(got, 3u);
    s7_socket_free(slot);
}

TEST(SocketLayer, ConnectsOverIPv6AndHostNames) {
    LoopbackServer v4([](int fd) { LoopbackServer::writeAll(fd, {42}); });
    s7_socket* slot = s7_socket_new();
    ASSERT_EQ(s7_socket_connect(slot, "localhost", v4.port(), kTimeoutMs), S7_STATUS_OK);
    uint8_t b = 0;
    EXPECT_EQ(s7_socket_recv_exact(slot, &b, 1, nullptr, kTimeoutMs), S7_STATUS_OK);
    EXPECT_EQ(b, 42);

    std::unique_ptr<LoopbackServer> v6;
    try {
        v6 = std::make_unique<LoopbackServer>([](int fd) { LoopbackServer::writeAll(fd, {66}); }, "::1");
    } catch (const std::exception&) {
        s7_socket_free(slot);
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    }
    ASSERT_EQ(s7_socket_connect(slot, "::1", v6->port(), kTimeoutMs), S7_STATUS_OK);
    EXPECT_EQ(s7_socket_recv_exact(slot, &b, 1, nullptr, kTimeoutMs), S7_STATUS_OK);
    EXPECT_EQ(b, 66);
    s7_socket_free(slot);
}

// An address list built by hand, so that the order of attempts is ours.
class AddressList {
public:
    void add(const char* ip, uint16_t port) {
        auto node = std::make_unique<Node>();
        node->addr.sin_family = AF_INET;
        node->addr.sin_port = htons(port);
        inet_pton(AF_INET, ip, &node->addr.sin_addr);
        node->ai.ai_family = AF_INET;
        node->ai.ai_socktype = SOCK_STREAM;
        node->ai.ai_protocol = IPPROTO_TCP;
        node->ai.ai_addrlen = sizeof(sockaddr_in);
        node->ai.ai_addr = reinterpret_cast<sockaddr*>(&node->addr);
        if (!nodes_.empty()) {
            nodes_.back()->ai.ai_next = &node->ai;
        }
        nodes_.push_back(std::move(node));
    }
    const addrinfo* head() const { return nodes_.empty() ? nullptr : &nodes_.front()->ai; }

private:
    struct Node {
        addrinfo ai{};
        sockaddr_in addr{};
    };
    std::vector<std::unique_ptr<Node>> nodes_;
};

// Fills a listener's accept queue so that a further connect hangs in the
// kernel: the one way to make a TCP connect time out on loopback.
class Saturated {
public:
    Saturated() : server_(nullptr, "127.0.0.1", 0, 0) {
        for (int i = 0; i < 8; ++i) {
            int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(server_.port());
            inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
            ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
            fds_.push_back(fd);
        }
    }
    ~Saturated() {
        for (int fd : fds_) {
            ::close(fd);
        }
    }
    uint16_t port() const { return server_.port(); }

private:
    LoopbackServer server_;
    std::vector<int> fds_;
};

TEST(SocketConnectList, FirstAddressFailsSecondConnects) {
    LoopbackServer server([](int fd) { LoopbackServer::writeAll(fd, {7}); });
    AddressList list;
    list.add("127.0.0.1", vemo::test::unusedPort());
    list.add("127.0.0.1", server.port());
    s7_socket* slot = s7_socket_new();
    ASSERT_EQ(s7_socket_connect_list(slot, list.head(), kTimeoutMs), S7_STATUS_OK);
    uint8_t b = 0;
    EXPECT_EQ(s7_socket_recv_exact(slot, &b, 1, nullptr, kTimeoutMs), S7_STATUS_OK);
    EXPECT_EQ(b, 7);
    s7_socket_free(slot);
}

TEST(SocketConnectList, WhenAllFailTheLastAttemptDecides) {
    Saturated hanging;
    // Probe: on some kernels a full accept queue still completes connects.
    {
        AddressList probe;
        probe.add("127.0.0.1", hanging.port());
        s7_socket* slot = s7_socket_new();
        const uint8_t rc = s7_socket_connect_list(slot, probe.head(), 200);
        s7_socket_free(slot);
        if (rc != S7_STATUS_TIMEOUT) {
            GTEST_SKIP() << "this kernel completes connects to a full accept queue";
        }
    }
    const uint16_t refused = vemo::test::unusedPort();
    struct Case {
        const char* rule;
        std::vector<uint16_t> ports;
        uint8_t expected;
        uint8_t cause;
    };
    const Case cases[] = {
        {"refused then timed out: time-out", {refused, hanging.port()}, S7_STATUS_TIMEOUT, S7_CAUSE_TIMED_OUT},
        {"timed out then refused: refused", {hanging.port(), refused}, S7_STATUS_CONNECT, S7_CAUSE_REFUSED},
        {"nothing at all: no attempt, no cause", {}, S7_STATUS_CONNECT, S7_CAUSE_NONE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        AddressList list;
        for (uint16_t p : c.ports) {
            list.add("127.0.0.1", p);
        }
        s7_socket* slot = s7_socket_new();
        EXPECT_EQ(s7_socket_connect_list(slot, list.head(), 200), c.expected);
        EXPECT_EQ(slot->connect_cause, c.cause);
        EXPECT_EQ(slot->handle, s7_socket_invalid());
        s7_socket_free(slot);
    }
}

// The system's words for a failed connect, in the causes a caller is told.
// Most of them cannot be brought about on a test machine (no route, a name
// server that does not answer), so the mapping itself is checked.
TEST(SocketConnectCause, SystemErrorsAndLookupCodesMapToCauses) {
    const std::pair<int, uint8_t> errors[] = {
        {ECONNREFUSED, S7_CAUSE_REFUSED}, {ENETUNREACH, S7_CAUSE_NO_ROUTE}, {EHOSTUNREACH, S7_CAUSE_NO_ROUTE},
        {ENETDOWN, S7_CAUSE_NO_ROUTE},    {EHOSTDOWN, S7_CAUSE_NO_ROUTE},   {ETIMEDOUT, S7_CAUSE_TIMED_OUT},
        {EACCES, S7_CAUSE_SYSTEM},        {EADDRNOTAVAIL, S7_CAUSE_SYSTEM}, {0, S7_CAUSE_SYSTEM},
    };
    for (auto [error, cause] : errors) {
        EXPECT_EQ(s7_socket_cause_of_error(error), cause) << error;
    }
    const std::pair<int, uint8_t> lookups[] = {
        {EAI_NONAME, S7_CAUSE_UNKNOWN_HOST}, {EAI_NODATA, S7_CAUSE_UNKNOWN_HOST}, {EAI_AGAIN, S7_CAUSE_LOOKUP},
        {EAI_FAIL, S7_CAUSE_LOOKUP},         {EAI_SYSTEM, S7_CAUSE_LOOKUP},
    };
    for (auto [code, cause] : lookups) {
        EXPECT_EQ(s7_socket_cause_of_lookup(code), cause) << code;
    }
}

}  // namespace

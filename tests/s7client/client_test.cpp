// The client handle's life: argument checks, the codes connect gives for
// each way the transport can fail, reconnecting, and memory: every block
// goes back through the hooks, also when an allocation fails midway.
#include <vemo/s7client.h>

#include "s7_client.h"

#include "../support/alloc_hooks.h"
#include "../support/loopback_server.h"
#include "../support/tls_peer.h"

#include <gtest/gtest.h>

#include <netdb.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

using vemo::test::Bytes;
using vemo::test::CountingAllocator;
using vemo::test::LoopbackServer;

constexpr uint32_t kTimeoutMs = 3000;

// A controller that confirms the connection request, agrees to TLS,
// completes the handshake, accepts the session and reports its limits, then
// waits until the client goes away.
struct ConfirmingPeer {
    vemo::test::TlsPeer server;
    bool closedByClient() const { return server.log().closedByClient; }
    const Bytes& request() const { return server.log().connectRequest; }
};

TEST(ClientHandle, NewHandleIsDisconnectedAndEmpty) {
    vemoc_s7_client* c = vemoc_s7_client_new();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(vemoc_s7_client_get_state(c), S7_CLIENT_DISCONNECTED);
    EXPECT_STREQ(vemoc_s7_client_get_plc_type(c), "");
    uint32_t items = 5;
    EXPECT_EQ(vemoc_s7_client_get_max_read_items(c, &items), S7_ERR_NOT_CONNECTED);
    EXPECT_EQ(vemoc_s7_client_get_max_read_items(c, nullptr), S7_ERR_ARGUMENT);
    EXPECT_EQ(vemoc_s7_client_get_max_read_items(nullptr, &items), S7_ERR_ARGUMENT);
    EXPECT_EQ(items, 5u);
    vemoc_s7_client_disconnect(c);
    vemoc_s7_client_disconnect(nullptr);
    vemoc_s7_client_free(c);
    vemoc_s7_client_free(nullptr);
}

TEST(ClientConnect, InvalidArgumentsTouchNothing) {
    ConfirmingPeer peer;
    vemoc_s7_client* c = vemoc_s7_client_new();
    ASSERT_EQ(vemoc_s7_client_connect(c, "127.0.0.1", peer.server.port(), kTimeoutMs), S7_OK);
    const uint8_t state = vemoc_s7_client_get_state(c);
    const s7_socket_handle socket = c->socket->handle;

    EXPECT_EQ(vemoc_s7_client_connect(nullptr, "127.0.0.1", 102, kTimeoutMs), S7_ERR_ARGUMENT);
    EXPECT_EQ(vemoc_s7_client_connect(c, nullptr, 102, kTimeoutMs), S7_ERR_ARGUMENT);
    EXPECT_EQ(vemoc_s7_client_connect(c, "127.0.0.1", 0, kTimeoutMs), S7_ERR_ARGUMENT);

    EXPECT_EQ(vemoc_s7_client_get_state(c), state);
    EXPECT_EQ(c->socket->handle, socket) << "the open connection must survive invalid arguments";
    EXPECT_EQ(state, S7_CLIENT_CONNECTED);
    uint32_t items = 0;
    EXPECT_EQ(vemoc_s7_client_get_max_read_items(c, &items), S7_OK);
    c->state = S7_CLIENT_CONNECTING;
    EXPECT_EQ(vemoc_s7_client_get_max_read_items(c, &items), S7_ERR_NOT_CONNECTED) << "only state 2 counts";
    c->state = S7_CLIENT_CONNECTED;
    vemoc_s7_client_free(c);
    peer.server.join();
    EXPECT_TRUE(peer.closedByClient());
}

// The code says how far the connect came; the cause, for a connect that
// failed before TCP stood, what the system said.
TEST(ClientConnect, TransportFailuresGiveClientCodesAndLeaveTheHandleDisconnected) {
    struct Case {
        const char* rule;
        LoopbackServer::Script script;  // null: nothing listens
        bool listening;
        uint8_t expected;
        uint8_t cause;
    };
    auto replyWith = [](Bytes reply) {
        return [reply](int fd) {
            LoopbackServer::readExact(fd, 36);
            LoopbackServer::writeAll(fd, reply);
            LoopbackServer::waitForClose(fd);
        };
    };
    const Case cases[] = {
        {"nothing listens: connect failed, refused", nullptr, false, S7_ERR_CONNECT, S7_CAUSE_REFUSED},
        {"listener never answers: time-out once TCP stood", nullptr, true, S7_ERR_TIMEOUT, S7_CAUSE_NONE},
        {"a data frame instead of the confirm: protocol", replyWith({0x03, 0x00, 0x00, 0x08, 0x02, 0xF0, 0x80, 0x00}),
         true, S7_ERR_PROTOCOL, S7_CAUSE_NONE},
        {"a bad TPKT header: protocol", replyWith({0x04, 0x00, 0x00, 0x10}), true, S7_ERR_PROTOCOL, S7_CAUSE_NONE},
        {"a data frame too large for the confirm buffer: transport", replyWith([] {
             Bytes f = {0x03, 0x00, 0x00, 107, 0x02, 0xF0, 0x80};
             f.resize(107, 0);
             return f;
         }()),
         true, S7_ERR_TRANSPORT, S7_CAUSE_NONE},
        {"peer closes instead of confirming: transport", [](int fd) { LoopbackServer::readExact(fd, 36); }, true,
         S7_ERR_TRANSPORT, S7_CAUSE_NONE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        uint16_t port = vemo::test::unusedPort();
        std::unique_ptr<LoopbackServer> server;
        if (c.listening) {
            server = std::make_unique<LoopbackServer>(c.script);
            port = server->port();
        }
        vemoc_s7_client* client = vemoc_s7_client_new();
        EXPECT_EQ(vemoc_s7_client_connect(client, "127.0.0.1", port, 300), c.expected);
        int systemError = -1;
        EXPECT_EQ(vemoc_s7_client_get_connect_cause(client, &systemError), c.cause);
        EXPECT_EQ(systemError, c.cause == S7_CAUSE_REFUSED ? ECONNREFUSED : 0);
        EXPECT_EQ(vemoc_s7_client_get_state(client), S7_CLIENT_DISCONNECTED);
        EXPECT_EQ(client->socket->handle, s7_socket_invalid());
        EXPECT_EQ(client->transport, nullptr);
        vemoc_s7_client_free(client);
    }
}

TEST(ClientConnect, HostThatDoesNotResolveIsAConnectFailure) {
    vemoc_s7_client* c = vemoc_s7_client_new();
    EXPECT_EQ(vemoc_s7_client_connect(c, "no-such-host.invalid", 102, kTimeoutMs), S7_ERR_CONNECT);
    vemoc_s7_client_free(c);
}

// The cause belongs to the last connect: a refused port, then arguments
// that are refused before anything is tried (the cause stays), a host that
// does not exist, an empty host, and a connect that succeeds (no cause).
TEST(ClientConnect, TheCauseIsTheLastConnectsOwn) {
    ConfirmingPeer peer;
    vemoc_s7_client* c = vemoc_s7_client_new();
    int systemError = -1;
    EXPECT_EQ(vemoc_s7_client_get_connect_cause(c, &systemError), S7_CAUSE_NONE) << "before any connect";
    EXPECT_EQ(systemError, 0);
    struct Step {
        const char* host;
        uint16_t port;
        uint8_t code;
        uint8_t cause;
        int systemError;
    };
    const Step steps[] = {
        {"127.0.0.1", vemo::test::unusedPort(), S7_ERR_CONNECT, S7_CAUSE_REFUSED, ECONNREFUSED},
        {"127.0.0.1", 0, S7_ERR_ARGUMENT, S7_CAUSE_REFUSED, ECONNREFUSED},
        {"no-such-host.invalid", 102, S7_ERR_CONNECT, S7_CAUSE_UNKNOWN_HOST, EAI_NONAME},
        {"", 102, S7_ERR_CONNECT, S7_CAUSE_EMPTY_HOST, 0},
        {"127.0.0.1", peer.server.port(), S7_OK, S7_CAUSE_NONE, 0},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(std::string(s.host) + ":" + std::to_string(s.port));
        EXPECT_EQ(vemoc_s7_client_connect(c, s.host, s.port, kTimeoutMs), s.code);
        EXPECT_EQ(vemoc_s7_client_get_connect_cause(c, &systemError), s.cause);
        EXPECT_EQ(vemoc_s7_client_get_connect_cause(c, nullptr), s.cause);
        EXPECT_EQ(systemError, s.systemError);
    }
    vemoc_s7_client_free(c);
    peer.server.join();
    EXPECT_EQ(vemoc_s7_client_get_connect_cause(nullptr, &systemError), S7_CAUSE_NONE);
    EXPECT_EQ(systemError, 0);
}

TEST(ClientConnect, ConnectingAgainClosesTheOldConnectionFirst) {
    ConfirmingPeer first;
    ConfirmingPeer second;
    vemoc_s7_client* c = vemoc_s7_client_new();
    ASSERT_EQ(vemoc_s7_client_connect(c, "127.0.0.1", first.server.port(), kTimeoutMs), S7_OK);
    ASSERT_EQ(vemoc_s7_client_connect(c, "localhost", second.server.port(), kTimeoutMs), S7_OK);
    first.server.join();
    EXPECT_TRUE(first.closedByClient());
    EXPECT_EQ(first.request().size(), 36u);

    vemoc_s7_client_disconnect(c);
    second.server.join();
    EXPECT_TRUE(second.closedByClient());
    EXPECT_EQ(c->socket->handle, s7_socket_invalid());
    vemoc_s7_client_free(c);
}

TEST(ClientMemory, LifecycleLeavesNoBlockBehind) {
    CountingAllocator hooks;
    {
        ConfirmingPeer peer;
        vemoc_s7_client* c = vemoc_s7_client_new();
        ASSERT_NE(c, nullptr);
        EXPECT_GT(hooks.live(), 0u);
        ASSERT_EQ(vemoc_s7_client_connect(c, "127.0.0.1", peer.server.port(), kTimeoutMs), S7_OK);
        vemoc_s7_client_disconnect(c);
        vemoc_s7_client_free(c);
    }
    EXPECT_EQ(hooks.live(), 0u);
    EXPECT_GT(hooks.calls(), 2u) << "the handle, the socket slot and the transport all come from the hooks";
}

TEST(ClientMemory, EveryAllocationFailureIsReportedAndLeavesNothing) {
    CountingAllocator hooks;
    // Fail the first allocation of connect, then the second, ... until
    // connect runs through without hitting the failure.
    for (size_t n = 1;; ++n) {
        SCOPED_TRACE(n);
        ConfirmingPeer peer;
        vemoc_s7_client* c = vemoc_s7_client_new();
        ASSERT_NE(c, nullptr);
        hooks.failFrom(n);
        const uint8_t rc = vemoc_s7_client_connect(c, "127.0.0.1", peer.server.port(), kTimeoutMs);
        const bool reached = hooks.calls() >= n;
        hooks.failFrom(0);
        if (reached) {
            // Whatever could not be allocated - an object, a frame of TLS
            // start, of the handshake or of an exchange - it is out of memory.
            EXPECT_EQ(rc, S7_ERR_NO_MEMORY);
            EXPECT_EQ(vemoc_s7_client_get_state(c), S7_CLIENT_DISCONNECTED);
        }
        vemoc_s7_client_free(c);
        EXPECT_EQ(hooks.live(), 0u);
        if (!reached) {
            EXPECT_EQ(rc, S7_OK);
            EXPECT_GT(n, 2u);
            break;
        }
    }

    hooks.failFrom(1);
    EXPECT_EQ(vemoc_s7_client_new(), nullptr);
    hooks.failFrom(0);
}

TEST(ResultNames, EveryCodeHasItsName) {
    const std::pair<uint8_t, const char*> names[] = {
        {0, "S7_OK"},
        {1, "S7_ERR_ARGUMENT"},
        {2, "S7_ERR_NO_MEMORY"},
        {3, "S7_ERR_CONNECT"},
        {4, "S7_ERR_TIMEOUT"},
        {5, "S7_ERR_PROTOCOL"},
        {6, "S7_ERR_TLS"},
        {7, "S7_ERR_TRANSPORT"},
        {8, "S7_ERR_EXPLORE"},
        {9, "S7_ERR_NOT_CONNECTED"},
        {10, "S7_ERR_ENCODE"},
        {11, "S7_ERR_SESSION"},
        {12, "S7_ERR_SESSION_LEVEL"},
        {13, "S7_ERR_READ"},
        {16, "S7_ERR_TOO_MANY_ITEMS"},
        {17, "S7_ERR_WRITE"},
        {14, "S7_ERR_UNKNOWN"},
        {15, "S7_ERR_UNKNOWN"},
        {255, "S7_ERR_UNKNOWN"},
    };
    for (auto [code, name] : names) {
        EXPECT_STREQ(s7_result_name(code), name) << int(code);
    }
}

TEST(ClientCodes, EveryStatusGivesItsPublicCode) {
    const std::pair<s7_status, uint8_t> table[] = {
        {S7_STATUS_OK, S7_OK},
        {S7_STATUS_ARGUMENT, S7_ERR_ARGUMENT},
        {S7_STATUS_NO_MEMORY, S7_ERR_NO_MEMORY},
        {S7_STATUS_CONNECT, S7_ERR_CONNECT},
        {S7_STATUS_TIMEOUT, S7_ERR_TIMEOUT},
        {S7_STATUS_PROTOCOL, S7_ERR_PROTOCOL},
        {S7_STATUS_TLS, S7_ERR_TLS},
        {S7_STATUS_TRANSPORT, S7_ERR_TRANSPORT},
        {S7_STATUS_EXPLORE, S7_ERR_EXPLORE},
        {S7_STATUS_NOT_CONNECTED, S7_ERR_NOT_CONNECTED},
        {S7_STATUS_ENCODE, S7_ERR_ENCODE},
        {S7_STATUS_SESSION, S7_ERR_SESSION},
        {S7_STATUS_SESSION_LEVEL, S7_ERR_SESSION_LEVEL},
        {S7_STATUS_READ, S7_ERR_READ},
        {S7_STATUS_TOO_MANY_ITEMS, S7_ERR_TOO_MANY_ITEMS},
        {S7_STATUS_WRITE, S7_ERR_WRITE},
        {S7_STATUS_RESOLVE, S7_ERR_CONNECT},
        {S7_STATUS_CLOSED, S7_ERR_TRANSPORT},
        {S7_STATUS_SOCKET, S7_ERR_TRANSPORT},
        {S7_STATUS_TOO_LARGE, S7_ERR_TRANSPORT},
        {S7_STATUS_CONFIRM, S7_ERR_PROTOCOL},
        {S7_STATUS_BOUNDS, S7_ERR_PROTOCOL},
        {S7_STATUS_RANGE, S7_ERR_PROTOCOL},
        {S7_STATUS_ANSWER_TOO_LARGE, S7_ERR_NO_MEMORY},
    };
    for (auto [status, code] : table) {
        EXPECT_EQ(s7_result(status), code) << int(status);
        EXPECT_STRNE(s7_result_name(s7_result(status)), "S7_ERR_UNKNOWN") << int(status);
    }
}

}  // namespace

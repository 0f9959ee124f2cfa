// Connect against the simulated controller: the limits and session level it
// reports and what the handle keeps of them, the bytes of the connect-time
// messages as the controller receives them, reconnecting a connected handle,
// several clients on one simulator up to its bound, connections that go
// quiet before their first request, and connections the simulator drops.
#include "loopback_server.h"
#include "s7_iso.h"
#include "sim_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace vemo::test;
using vemo::sim::Bytes;
using vemo::sim::ControllerSettings;
using vemo::sim::Fault;
using vemo::sim::Program;
using vemo::sim::Server;

ControllerSettings withFault(const char* name) {
    ControllerSettings s;
    if (name != nullptr) s.fault = Fault::parse(name, std::nullopt);
    return s;
}

// The lines the server reports whatever its log, kept for the test; made
// before the server and so outliving its threads.
class Notices {
public:
    std::function<void(const std::string&)> sink() {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        };
    }
    bool saw(const std::string& line) const {
        std::lock_guard lock(mutex_);
        return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

TEST(SimConnect, TheItemLimitIsAPositiveSigned32BitValueOr16) {
    struct Case {
        int32_t reported;
        const char* fault;
        uint32_t stored;
    };
    const Case cases[] = {
        {0, nullptr, 16},
        {-5, nullptr, 16},
        {32, nullptr, 32},
        {32, "limits-unsigned", 16},
        {32, "limits-only-aux", 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.reported) + (c.fault != nullptr ? std::string(" ") + c.fault : ""));
        ControllerSettings settings = withFault(c.fault);
        settings.maxReadItems = c.reported;
        const auto server = startSim(Program::builtIn(), settings);
        const Client client = newClient();
        ASSERT_EQ(connectTo(client.get(), *server), S7_OK);
        uint32_t items = 0;
        EXPECT_EQ(vemoc_s7_client_get_max_read_items(client.get(), &items), S7_OK);
        EXPECT_EQ(items, c.stored);
    }
}

TEST(SimConnect, SessionLevelsFromFourOnAndSignedLevelsAreRefused) {
    struct Case {
        uint32_t level;
        const char* fault;
        uint8_t expected;
    };
    const Case cases[] = {
        {3, nullptr, S7_OK},
        {4, nullptr, S7_ERR_SESSION_LEVEL},
        {0xFFFFFFFF, nullptr, S7_ERR_SESSION_LEVEL},
        {1, "level-signed", S7_ERR_SESSION},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.level) + (c.fault != nullptr ? std::string(" ") + c.fault : ""));
        ControllerSettings settings = withFault(c.fault);
        settings.sessionLevel = c.level;
        const auto server = startSim(Program::builtIn(), settings);
        const Client client = newClient();
        EXPECT_EQ(connectTo(client.get(), *server), c.expected);
        EXPECT_EQ(vemoc_s7_client_get_state(client.get()),
                  c.expected == S7_OK ? S7_CLIENT_CONNECTED : S7_CLIENT_DISCONNECTED);
    }
}

TEST(SimConnect, TheControllerTypeIsCutTo255CharactersAndOutlivesTheConnection) {
    ControllerSettings settings;
    settings.plcType = std::string(300, 'x').replace(0, 8, "CPU 1518");
    const auto server = startSim(Program::builtIn(), settings);
    const Client client = newClient();
    ASSERT_EQ(connectTo(client.get(), *server), S7_OK);
    EXPECT_EQ(std::string(vemoc_s7_client_get_plc_type(client.get())), settings.plcType.substr(0, 255));

    vemoc_s7_client_disconnect(client.get());
    EXPECT_EQ(std::string(vemoc_s7_client_get_plc_type(client.get())), settings.plcType.substr(0, 255));

    // The next controller's type replaces it whole, the old tail included.
    const auto other = startSim(Program::builtIn());
    ASSERT_EQ(connectTo(client.get(), *other), S7_OK);
    EXPECT_STREQ(vemoc_s7_client_get_plc_type(client.get()), "CPU 1516-3 PN/DP");
}

TEST(SimConnect, TheItemLimitIsOnlyGivenOutWhileConnected) {
    const Client client = newClient();
    uint32_t items = 77;
    EXPECT_EQ(vemoc_s7_client_get_max_read_items(client.get(), &items), S7_ERR_NOT_CONNECTED) << "never connected";

    const auto server = startSim(Program::builtIn());
    ASSERT_EQ(connectTo(client.get(), *server), S7_OK);
    vemoc_s7_client_disconnect(client.get());
    EXPECT_EQ(vemoc_s7_client_get_max_read_items(client.get(), &items), S7_ERR_NOT_CONNECTED)
        << "disconnected, though the last limit is still kept";

    // While connect waits for the controller to create the session, the
    // handle is in state 1: the request has reached the simulator, so connect
    // is parked in its receive.
    auto stalling = startSim(Program::builtIn(), withFault("stall-at-create"), true);
    uint8_t rc = 0xFF;
    std::thread connecting([&] { rc = connectTo(client.get(), *stalling, 60000); });
    const bool parked = eventually([&] { return !stalling->requests().empty(); });
    if (parked) {
        EXPECT_EQ(vemoc_s7_client_get_state(client.get()), S7_CLIENT_CONNECTING);
        EXPECT_EQ(vemoc_s7_client_get_max_read_items(client.get(), &items), S7_ERR_NOT_CONNECTED);
    }
    stalling->stop();  // closes the connection under the waiting connect
    connecting.join();
    ASSERT_TRUE(parked);
    EXPECT_EQ(rc, S7_ERR_NOT_CONNECTED);
    EXPECT_EQ(items, 77u) << "no failed call wrote the output";
}

// The request tail block every body of a session request carries.
const Bytes kTail = {0x00, 0x00, 0x04, 0xE8, 0x89, 0x69, 0x00, 0x12, 0x00, 0x00, 0x00, 0x00,
                     0x89, 0x6A, 0x00, 0x13, 0x00, 0x89, 0x6B, 0x00, 0x04, 0x00, 0x00};

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(SimConnect, TheControllerReceivesTheConnectTimeMessagesByteForByte) {
    const auto server = startSim(Program::builtIn(), {}, true);
    const Client client = newClient();
    ASSERT_EQ(connectTo(client.get(), *server), S7_OK);
    const auto received = server->requests();
    ASSERT_EQ(received.size(), 4u) << "create object, set values, get attribute, limits";

    // Create object: one 66-byte message, sequence 1, session 288, version 1.
    EXPECT_EQ(
        received[0].message,
        (Bytes{0x72, 0x01, 0x00, 0x3A, 0x31, 0x00, 0x00, 0x04, 0xCA, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0x20,
               0x36, 0x00, 0x00, 0x01, 0x1D, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA1, 0x00, 0x00, 0x00, 0xD3,
               0x82, 0x1F, 0x00, 0x00, 0xA3, 0x82, 0x2C, 0x00, 0x12, 0x80, 0xC3, 0xC9, 0x01, 0xA1, 0x00, 0x00, 0x00,
               0xD3, 0x81, 0x7F, 0x00, 0x00, 0xA2, 0xA2, 0x00, 0x00, 0x00, 0x00, 0x72, 0x01, 0x00, 0x00}));
    // The session id the simulator hands its first connection.
    const uint32_t session = received[1].sessionId;
    const Bytes sessionBytes = {static_cast<uint8_t>(session >> 24), static_cast<uint8_t>(session >> 16),
                                static_cast<uint8_t>(session >> 8), static_cast<uint8_t>(session)};
    EXPECT_NE(session, 288u);
    // Get attribute 1842 (counter B 1) and the limits read (counter B 2).
    EXPECT_EQ(
        received[2].body,
        concat(
            {{0x34}, sessionBytes, {0x20, 0x04, 0x01, 0x8E, 0x32}, kTail, {0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00}}));
    EXPECT_EQ(received[3].body, concat({{0x34, 0x00, 0x00, 0x00, 0x00, 0x02, 0x0A, 0x00, 0x81, 0x49, 0x02, 0x88,
                                         0x0D, 0x87, 0x68, 0x00, 0x81, 0x49, 0x02, 0x88, 0x0D, 0x87, 0x69},
                                        kTail,
                                        {0x02, 0x00, 0x00, 0x00, 0x00}}));
    for (size_t i = 1; i < received.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(received[i].version, 2);
        EXPECT_EQ(received[i].sequence, i + 1);
        EXPECT_EQ(received[i].sessionId, session);
    }
}

TEST(SimConnect, ConnectingAConnectedHandleClosesTheOldConnectionFirst) {
    const auto server = startSim(Program::builtIn(), {}, true);
    const Client client = newClient();
    ASSERT_EQ(connectTo(client.get(), *server), S7_OK);
    server->clearRequests();
    ASSERT_EQ(connectTo(client.get(), *server), S7_OK);

    // The first connection ends without a word; the second starts a fresh
    // session from sequence 1 and the initial session id.
    EXPECT_TRUE(eventually([&] { return server->connectionsOpen() == 1; })) << "the old connection stays open";
    const auto received = server->requests();
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received[0].connection, 2);
    EXPECT_EQ(received[0].sequence, 1);
    EXPECT_EQ(received[0].sessionId, 288u);
    for (const auto& r : received) EXPECT_EQ(r.connection, 2) << "nothing more on the old connection";
    Blocks blocks;
    EXPECT_EQ(vemoc_s7_client_list_datablocks(client.get(), &blocks.list), S7_OK);

    // A reconnect that fails closes the old connection just the same.
    const auto refusing = startSim(Program::builtIn(), withFault("close-at-cr"));
    EXPECT_EQ(connectTo(client.get(), *refusing), S7_ERR_TRANSPORT);
    EXPECT_EQ(vemoc_s7_client_get_state(client.get()), S7_CLIENT_DISCONNECTED);
    EXPECT_TRUE(eventually([&] { return server->connectionsOpen() == 0; }));
}

TEST(SimConnect, SeveralClientsAreServedAtOnceUpToTheBound) {
    Notices notices;
    vemo::sim::ServerOptions options;
    options.port = 0;
    options.maxConnections = 2;
    options.notice = notices.sink();
    Server server(Program::builtIn(), options);
    const Client a = newClient();
    const Client b = newClient();
    ASSERT_EQ(connectTo(a.get(), server), S7_OK);
    ASSERT_EQ(connectTo(b.get(), server), S7_OK);
    for (vemoc_s7_client* c : {a.get(), b.get()}) {
        Blocks blocks;
        EXPECT_EQ(vemoc_s7_client_list_datablocks(c, &blocks.list), S7_OK);
    }

    // A third is closed as soon as it arrives, while two are served: the
    // end of the stream where the connection confirm was due, not a wait
    // until the client's time-out; the server says why.
    const Client c = newClient();
    EXPECT_EQ(connectTo(c.get(), server), S7_ERR_TRANSPORT);
    EXPECT_TRUE(notices.saw("connection 3: refused, full: all 2 connections are in use"));
    // Once one leaves there is room again.
    vemoc_s7_client_disconnect(a.get());
    EXPECT_TRUE(eventually([&] { return connectTo(c.get(), server) == S7_OK; }));
    Blocks blocks;
    EXPECT_EQ(vemoc_s7_client_list_datablocks(b.get(), &blocks.list), S7_OK) << "b was served all along";
}

TEST(SimConnect, ConnectionsQuietBeforeTheirFirstRequestAreClosedAfterTheIdleTimeOut) {
    Notices notices;
    vemo::sim::ServerOptions options;
    options.port = 0;
    options.idleTimeout = std::chrono::seconds(1);
    options.notice = notices.sink();
    Server server(Program::builtIn(), options);

    // One says nothing at all, one goes quiet after the connection confirm.
    s7_iso_transport* mute = s7_iso_transport_new(nullptr);
    s7_iso_transport* confirmed = s7_iso_transport_new(nullptr);
    ASSERT_NE(mute, nullptr);
    ASSERT_NE(confirmed, nullptr);
    EXPECT_EQ(s7_socket_connect(mute->socket, "127.0.0.1", server.port(), kTimeoutMs), S7_STATUS_OK);
    EXPECT_EQ(s7_iso_connect(confirmed, "127.0.0.1", server.port(), kTimeoutMs), S7_STATUS_OK);
    // A client whose requests flowed stays connected, however long it is
    // quiet, as the program is while it watches no variable.
    const Client client = newClient();
    ASSERT_EQ(connectTo(client.get(), server), S7_OK);

    for (const s7_iso_transport* t : {mute, confirmed}) {
        EXPECT_TRUE(vemo::test::LoopbackServer::waitForClose(t->socket->handle, 20000)) << "still open";
    }
    EXPECT_TRUE(notices.saw("connection 1: closed, nothing received for 1 s before its first request"));
    EXPECT_TRUE(notices.saw("connection 2: closed, nothing received for 1 s before its first request"));
    EXPECT_TRUE(eventually([&] { return server.connectionsOpen() == 1; }));
    s7_iso_transport_free(mute);
    s7_iso_transport_free(confirmed);

    // The client has now been quiet for longer than the time-out.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    Blocks blocks;
    EXPECT_EQ(vemoc_s7_client_list_datablocks(client.get(), &blocks.list), S7_OK);
    EXPECT_EQ(server.connectionsOpen(), 1u);
}

TEST(SimConnect, DroppedConnectionsEndUnderTheirClientsWhileTheServerServesOn) {
    // Every connection's fifth request (the listing's explore) goes
    // unanswered, so that one client can be caught waiting for an answer.
    ControllerSettings settings;
    settings.fault = Fault::parse("stall-at-request", 5);
    const auto server = startSim(Program::builtIn(), settings, true);
    const Client waiting = newClient();
    const Client idle = newClient();
    ASSERT_EQ(connectTo(waiting.get(), *server), S7_OK);
    ASSERT_EQ(connectTo(idle.get(), *server), S7_OK);
    uint8_t rc = 0xFF;
    std::thread listing([&] {
        Blocks blocks;
        rc = vemoc_s7_client_list_datablocks(waiting.get(), &blocks.list);
    });
    const bool parked = eventually([&] { return server->requests().size() == 4u + 4u + 1u; });

    EXPECT_EQ(server->dropConnections(), 2u);
    listing.join();
    ASSERT_TRUE(parked);
    EXPECT_EQ(rc, S7_ERR_NOT_CONNECTED) << "the end of the connection, not the time-out";
    Blocks blocks;
    EXPECT_EQ(vemoc_s7_client_list_datablocks(idle.get(), &blocks.list), S7_ERR_NOT_CONNECTED);
    EXPECT_TRUE(eventually([&] { return server->connectionsOpen() == 0; }));
    EXPECT_EQ(server->dropConnections(), 0u) << "none is left to drop";

    // The server listens on: both handles connect again.
    EXPECT_EQ(connectTo(waiting.get(), *server), S7_OK);
    EXPECT_EQ(connectTo(idle.get(), *server), S7_OK);
    EXPECT_EQ(server->connectionsAccepted(), 4);
}

}  // namespace

// The connection service: the state it shows before it waits for the
// client's mutex, the codes it passes on, the controller type text across
// failures and disconnects, and a mutex that is never left held.
#include "vemo/core/PlcConnection.h"

#include "app_test_support.h"
#include "loopback_server.h"
#include "tls_peer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

namespace {

using vemo::ConnectionState;
using vemo::PlcConnection;
using vemo::test::HeldClient;
using vemo::test::TlsPeer;

using namespace std::chrono_literals;

// Waits (bounded) until the service shows `state`.
bool showsWithin(const PlcConnection& service, ConnectionState state, std::chrono::milliseconds limit = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (service.getState() != state) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(PlcConnection, StartsDisconnectedWithoutAType) {
    PlcConnection service;
    EXPECT_EQ(service.getState(), ConnectionState::Disconnected);
    EXPECT_EQ(service.getPlcType(), "");
}

TEST(PlcConnection, InstanceIsOneServiceForEveryCaller) {
    PlcConnection* fromHere = PlcConnection::instance();
    PlcConnection* fromThread = nullptr;
    std::thread([&] { fromThread = PlcConnection::instance(); }).join();
    EXPECT_EQ(fromHere, fromThread);
}

TEST(PlcConnection, PortZeroIsRefusedByTheLibraryAndEndsDisconnected) {
    PlcConnection service;
    EXPECT_EQ(service.connect("127.0.0.1", 0), S7_ERR_ARGUMENT);
    EXPECT_EQ(service.getState(), ConnectionState::Disconnected);
    EXPECT_EQ(service.getPlcType(), "");
}

TEST(PlcConnection, ConnectShowsConnectingBeforeItWaitsForTheMutex) {
    PlcConnection service;
    HeldClient held(service);

    // Port 0 would fail at once: only the mutex keeps this connect waiting.
    auto connecting = std::async(std::launch::async, [&] { return service.connect("127.0.0.1", 0); });
    EXPECT_TRUE(showsWithin(service, ConnectionState::Connecting));
    EXPECT_EQ(connecting.wait_for(50ms), std::future_status::timeout) << "connect must wait for the callable";

    held.release();
    EXPECT_EQ(connecting.get(), S7_ERR_ARGUMENT);
    EXPECT_EQ(service.getState(), ConnectionState::Disconnected);
}

TEST(PlcConnection, DisconnectShowsDisconnectedBeforeItWaitsForTheMutex) {
    TlsPeer peer;
    PlcConnection service;
    ASSERT_EQ(service.connect("127.0.0.1", peer.port()), S7_OK);
    ASSERT_EQ(service.getState(), ConnectionState::Connected);

    HeldClient held(service);
    auto disconnecting = std::async(std::launch::async, [&] { service.disconnect(); });
    EXPECT_TRUE(showsWithin(service, ConnectionState::Disconnected));
    EXPECT_EQ(disconnecting.wait_for(50ms), std::future_status::timeout) << "disconnect must wait for the callable";

    held.release();
    disconnecting.get();
    peer.join();
    EXPECT_TRUE(peer.log().closedByClient) << "the connection is closed once the callable is done";
}

// A peer that sets up a session and reports `plcType`.
vemo::test::TlsPeerOptions controller(const std::string& plcType) {
    vemo::test::TlsPeerOptions options;
    options.session->plcType = plcType;
    return options;
}

TEST(PlcConnection, SuccessAfterAFailureReportsConnectedWithTheNewType) {
    PlcConnection service;
    TlsPeer first(controller("CPU 1214C DC/DC/DC"));
    ASSERT_EQ(service.connect("127.0.0.1", first.port()), S7_OK);
    EXPECT_EQ(service.getPlcType(), "CPU 1214C DC/DC/DC");

    EXPECT_EQ(service.connect("127.0.0.1", vemo::test::unusedPort()), S7_ERR_CONNECT);
    EXPECT_EQ(service.getState(), ConnectionState::Disconnected);
    EXPECT_EQ(service.getPlcType(), "") << "a failed connect clears the type";

    TlsPeer second(controller("CPU 1516-3 PN/DP"));
    ASSERT_EQ(service.connect("127.0.0.1", second.port()), S7_OK);
    EXPECT_EQ(service.getState(), ConnectionState::Connected);
    EXPECT_EQ(service.getPlcType(), "CPU 1516-3 PN/DP");
    service.disconnect();
}

TEST(PlcConnection, DisconnectKeepsTheTypeOfTheLastConnection) {
    TlsPeer peer(controller("CPU 1511-1 PN"));
    PlcConnection service;
    ASSERT_EQ(service.connect("127.0.0.1", peer.port()), S7_OK);
    service.disconnect();
    EXPECT_EQ(service.getState(), ConnectionState::Disconnected);
    EXPECT_EQ(service.getPlcType(), "CPU 1511-1 PN");
    peer.join();
    EXPECT_TRUE(peer.log().closedByClient);
}

TEST(PlcConnection, EmptyCallableThrowsAndLeavesTheMutexFree) {
    PlcConnection service;
    const std::function<void(vemoc_s7_client*)> empty;
    EXPECT_THROW(service.withClient(empty), std::bad_function_call);

    // Would dead-lock if the mutex were still held; bounded by a future.
    auto next = std::async(std::launch::async, [&] {
        vemoc_s7_client* seen = nullptr;
        service.withClient([&](vemoc_s7_client* client) { seen = client; });
        return seen;
    });
    ASSERT_EQ(next.wait_for(5s), std::future_status::ready);
    EXPECT_NE(next.get(), nullptr);

    // A callable that throws releases the mutex as well.
    EXPECT_THROW(service.withClient([](vemoc_s7_client*) { throw std::runtime_error("read failed"); }),
                 std::runtime_error);
    EXPECT_EQ(service.connect("127.0.0.1", 0), S7_ERR_ARGUMENT);
}

}  // namespace

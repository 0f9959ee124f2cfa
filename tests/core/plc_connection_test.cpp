// The connection service: the state it shows before it waits for the
// client's mutex, the codes it passes on, the controller type text across
// failures and disconnects, a mutex that is never left held, the operator's
// connects sharing one pool task (a cancel abandons the attempt), and the
// controller's key checked against a store of known controllers.
#include "vemo/core/PlcConnection.h"

#include "vemo/core/Browse.h"
#include "vemo/core/ConnectionWords.h"

#include <vemo/s7read.h>

#include "app_test_support.h"
#include "loopback_server.h"
#include "tls_peer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

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

TEST(PlcConnection, DisconnectTakesEffectAtOnceWhileACallHoldsTheHandle) {
    TlsPeer peer;
    PlcConnection service;
    ASSERT_EQ(service.connect("127.0.0.1", peer.port()), S7_OK);
    ASSERT_EQ(service.getState(), ConnectionState::Connected);

    HeldClient held(service);
    auto disconnecting = std::async(std::launch::async, [&] { service.disconnect(); });
    ASSERT_EQ(disconnecting.wait_for(3s), std::future_status::ready) << "disconnect must not wait for the callable";
    EXPECT_EQ(service.getState(), ConnectionState::Disconnected);

    held.release();
    // The task that held the handle closed the connection on its way out.
    bool open = true;
    service.withClient(
        [&](vemoc_s7_client* client) { open = vemoc_s7_client_get_state(client) == S7_CLIENT_CONNECTED; });
    EXPECT_FALSE(open);
    peer.join();
    EXPECT_TRUE(peer.log().closedByClient);
}

// A read of one item (the limits address), as any pool task makes one.
std::uint8_t readOneItem(PlcConnection& service) {
    std::uint8_t rc = S7_OK;
    service.withClient([&](vemoc_s7_client* client) {
        s7_item_address address{201, 1037, nullptr, 0};
        s7_item_address_push(&address, 1000);
        const s7_item_address* items[] = {&address};
        s7_value** values = nullptr;
        rc = vemoc_s7_client_read(client, items, 1, &values);
        if (values != nullptr) {
            s7_value_free(values[0]);
            s7_free(values);
        }
        s7_item_address_release(&address);
    });
    return rc;
}

TEST(PlcConnection, DisconnectCutsAStalledCallShort) {
    vemo::test::TlsPeerOptions options;
    options.silentAt = vemo::test::PeerStep::Request;
    TlsPeer peer(options);
    PlcConnection service;
    ASSERT_EQ(service.connect("127.0.0.1", peer.port()), S7_OK);
    // A read the controller never answers, on the worker: without the cut
    // it would wait for the 10 s time-out.
    auto reading = std::async(std::launch::async, [&] { return readOneItem(service); });
    std::this_thread::sleep_for(200ms);  // the read is waiting by now
    service.disconnect();
    EXPECT_EQ(service.getState(), ConnectionState::Disconnected);
    ASSERT_EQ(reading.wait_for(3s), std::future_status::ready) << "the stalled read was not cut short";
    EXPECT_NE(reading.get(), S7_OK);
    EXPECT_EQ(service.getState(), ConnectionState::Disconnected) << "a cut call is no loss";
}

TEST(PlcConnectionReconnect, WaitsGrowFromOneSecondToThirty) {
    const std::chrono::seconds expected[] = {1s, 2s, 4s, 8s, 16s, 30s, 30s, 30s};
    for (unsigned attempt = 0; attempt < std::size(expected); ++attempt) {
        EXPECT_EQ(PlcConnection::reconnectDelay(attempt), expected[attempt]) << attempt;
    }
}

// A connection that breaks at its first request, on a clock of the test's.
class PlcConnectionLoss : public ::testing::Test {
protected:
    PlcConnectionLoss()
        : peer_(std::make_unique<TlsPeer>(brokenAtFirstRequest(), 2)), service_([this] { return now_; }) {}

    static vemo::test::TlsPeerOptions brokenAtFirstRequest() {
        vemo::test::TlsPeerOptions options;
        options.replies = {vemo::test::PeerReply::close()};
        return options;
    }

    std::uint8_t readOnce() { return readOneItem(service_); }

    vemo::SteadyTime now_ = vemo::SteadyTime{} + 1000s;
    std::unique_ptr<TlsPeer> peer_;
    PlcConnection service_;
};

TEST_F(PlcConnectionLoss, ABrokenCallMakesTheConnectionLostAndDueForAReconnectAfterASecond) {
    ASSERT_EQ(service_.connect("127.0.0.1", peer_->port()), S7_OK);
    EXPECT_EQ(readOnce(), S7_ERR_NOT_CONNECTED);
    EXPECT_EQ(service_.getState(), ConnectionState::Lost);
    const vemo::ConnectionStatus status = service_.status();
    EXPECT_EQ(status.failure, S7_ERR_NOT_CONNECTED) << "the reason is the call's";
    ASSERT_TRUE(status.nextAttempt.has_value());
    EXPECT_EQ(*status.nextAttempt, now_ + 1s);

    now_ += 999ms;
    EXPECT_FALSE(service_.reconnectDue());
    now_ += 1ms;
    EXPECT_TRUE(service_.reconnectDue());
    EXPECT_FALSE(service_.reconnectDue()) << "once per attempt";
    EXPECT_FALSE(service_.status().nextAttempt.has_value()) << "while it runs";

    // The peer's second connection: the attempt succeeds.
    EXPECT_EQ(service_.reconnect(), S7_OK);
    EXPECT_EQ(service_.getState(), ConnectionState::Connected);
    EXPECT_EQ(service_.status().failure, S7_OK);
    service_.disconnect();
}

TEST_F(PlcConnectionLoss, AFailedAttemptWaitsLongerAndADisconnectStopsTheAttempts) {
    ASSERT_EQ(service_.connect("127.0.0.1", peer_->port()), S7_OK);
    EXPECT_EQ(readOnce(), S7_ERR_NOT_CONNECTED);
    // The controller is gone: the attempt finds nobody listening.
    peer_.reset();
    now_ += 1s;
    ASSERT_TRUE(service_.reconnectDue());
    EXPECT_EQ(service_.reconnect(), S7_ERR_CONNECT);
    EXPECT_EQ(service_.getState(), ConnectionState::Lost);
    vemo::ConnectionStatus status = service_.status();
    EXPECT_EQ(status.attempts, 1u);
    EXPECT_EQ(status.failure, S7_ERR_CONNECT);
    ASSERT_TRUE(status.nextAttempt.has_value());
    EXPECT_EQ(*status.nextAttempt, now_ + 2s);

    service_.disconnect();
    EXPECT_EQ(service_.getState(), ConnectionState::Disconnected);
    now_ += 1h;
    EXPECT_FALSE(service_.reconnectDue());
    EXPECT_EQ(service_.reconnect(), S7_ERR_NOT_CONNECTED) << "nothing is tried once the operator disconnected";
    EXPECT_EQ(service_.status().failure, S7_OK);
}

TEST_F(PlcConnectionLoss, WritingIsAllowedOnlyForTheConnectionItWasAllowedFor) {
    service_.allowWrites(true);
    EXPECT_FALSE(service_.writesAllowed()) << "nothing to allow without a connection";
    ASSERT_EQ(service_.connect("127.0.0.1", peer_->port()), S7_OK);
    EXPECT_FALSE(service_.writesAllowed()) << "off after a connect";
    service_.allowWrites(true);
    EXPECT_TRUE(service_.writesAllowed());

    // Lost and connected again by itself: whatever answers now was never
    // allowed to be written.
    EXPECT_EQ(readOnce(), S7_ERR_NOT_CONNECTED);
    now_ += 1s;
    ASSERT_TRUE(service_.reconnectDue());
    ASSERT_EQ(service_.reconnect(), S7_OK);
    EXPECT_FALSE(service_.writesAllowed());

    service_.allowWrites(true);
    service_.disconnect();
    EXPECT_FALSE(service_.writesAllowed());
}

// A controller that takes every connection and breaks it at the first
// request - as one does whose program cannot be browsed: the reconnect
// succeeds, the browse fails again at once. The waits keep growing instead
// of starting afresh at every successful reconnect; only a connection that
// stood a while starts them afresh.
TEST(PlcConnectionReconnect, ARepeatingBrowseFailureFollowsTheBackoff) {
    vemo::test::TlsPeerOptions options;
    options.replies = {vemo::test::PeerReply::close()};
    TlsPeer peer(options, 8);
    vemo::SteadyTime now = vemo::SteadyTime{} + 1000s;
    PlcConnection service([&] { return now; });
    auto browse = [&] {
        vemo::BlockList blocks;
        const std::uint8_t rc = vemo::listBlocks(
            [&](const vemo::ClientCall& call) { ASSERT_TRUE(service.withConnection(service.connectionId(), call)); },
            blocks);
        EXPECT_NE(rc, S7_OK);
        EXPECT_EQ(service.getState(), ConnectionState::Lost);
    };
    auto nextWait = [&] { return *service.status().nextAttempt - now; };

    ASSERT_EQ(service.connect("127.0.0.1", peer.port()), S7_OK);
    browse();
    EXPECT_EQ(nextWait(), 1s) << "the first loss after the operator's connect";
    for (const auto expected : {2s, 4s, 8s, 16s, 30s}) {
        SCOPED_TRACE(expected.count());
        now += nextWait();
        ASSERT_TRUE(service.reconnectDue());
        ASSERT_EQ(service.reconnect(), S7_OK);
        now += 5s;  // the browse fails soon after the connect
        browse();
        EXPECT_EQ(nextWait(), expected);
    }
    // A connection that stood for a while broke for a reason of its own.
    now += nextWait();
    ASSERT_TRUE(service.reconnectDue());
    ASSERT_EQ(service.reconnect(), S7_OK);
    now += PlcConnection::kSteadyAfter;
    browse();
    EXPECT_EQ(nextWait(), 1s);
    service.disconnect();
}

// A controller that stops answering a request: past two seconds the service
// says so (the views then show "not answering (N s)" and dim the values),
// while the connection still stands and the request's deadline is far off.
TEST(PlcConnection, TheNotAnsweringStateShowsAStalledRequestBeforeItsDeadline) {
    vemo::test::TlsPeerOptions options;
    options.silentAt = vemo::test::PeerStep::Request;
    TlsPeer peer(options);
    std::atomic<vemo::SteadyTime::rep> ticks{(vemo::SteadyTime{} + 1000s).time_since_epoch().count()};
    auto clock = [&] { return vemo::SteadyTime(vemo::SteadyTime::duration(ticks.load())); };
    auto advance = [&](std::chrono::nanoseconds by) { ticks += by.count(); };
    PlcConnection service(clock);
    static std::atomic<int> watched{0};
    watched = 0;
    service.setCallWatcher([] { ++watched; });
    ASSERT_EQ(service.connect("127.0.0.1", peer.port()), S7_OK);
    EXPECT_FALSE(service.waitingSince().has_value()) << "no call, no wait";
    const int wokenByConnect = watched.load();
    EXPECT_GE(wokenByConnect, 5) << "every step of the connect wakes the window";

    const vemo::SteadyTime start = clock();
    auto reading = std::async(std::launch::async, [&] { return readOneItem(service); });
    const auto limit = std::chrono::steady_clock::now() + 5s;
    while (!service.waitingSince() && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(1ms);
    ASSERT_EQ(service.waitingSince(), start);
    EXPECT_EQ(watched.load(), wokenByConnect + 1) << "the call woke the window";

    advance(PlcConnection::kNotAnsweringAfter);
    EXPECT_FALSE(service.notAnswering(clock())) << "two seconds are still an answer on its way";
    EXPECT_EQ(vemo::notAnsweringText(start, clock()), "");
    advance(1ms);
    EXPECT_TRUE(service.notAnswering(clock()));
    EXPECT_EQ(vemo::notAnsweringText(start, clock()), "not answering (2 s)");
    advance(5s);
    EXPECT_EQ(vemo::notAnsweringText(start, clock()), "not answering (7 s)");
    EXPECT_EQ(service.getState(), ConnectionState::Connected) << "the deadline has not ended it";

    service.disconnect();
    ASSERT_EQ(reading.wait_for(3s), std::future_status::ready);
    EXPECT_FALSE(service.waitingSince().has_value());
    EXPECT_FALSE(service.notAnswering(clock()));
}

// While a connect waits in one of its steps, the service knows which step
// and since when: the top bar shows "TLS handshake: not answering (12 s)"
// instead of a bare CONNECTING.
TEST(PlcConnection, AConnectShowsTheStepItWaitsIn) {
    vemo::test::TlsPeerOptions options;
    options.silentAt = vemo::test::PeerStep::Handshake;
    TlsPeer peer(options);
    PlcConnection service;
    std::atomic<bool> sawHandshake{false};
    auto connecting = std::async(std::launch::async, [&] { return service.connect("127.0.0.1", peer.port()); });
    const auto limit = std::chrono::steady_clock::now() + 5s;
    while (!sawHandshake && std::chrono::steady_clock::now() < limit) {
        sawHandshake = service.connectProgress().step == S7_STEP_TLS_HANDSHAKE;
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(sawHandshake.load());
    EXPECT_EQ(service.getState(), ConnectionState::Connecting);
    // The operator gives up: the cut ends the wait at once.
    service.disconnect();
    ASSERT_EQ(connecting.wait_for(3s), std::future_status::ready);
    EXPECT_NE(connecting.get(), S7_OK);
    EXPECT_EQ(service.connectProgress().step, S7_STEP_NONE) << "nothing runs any more";
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

// The UI thread's connects: a request shows Connecting at once; while the
// one task is out, further requests (and cancels) only change what it will
// make, so no attempt waits behind another, and the latest request is the
// one made.
TEST(PlcConnection, ConnectRequestsShareOneTaskWhichMakesOnlyTheLatest) {
    TlsPeer peer;
    PlcConnection service;
    std::vector<std::function<void()>> tasks;
    const PlcConnection::Submit submit = [&](std::function<void()> task) { tasks.push_back(std::move(task)); };

    service.requestConnect("127.0.0.1", vemo::test::unusedPort(), submit);
    EXPECT_EQ(service.getState(), ConnectionState::Connecting);
    service.disconnect();  // Cancel
    EXPECT_EQ(service.getState(), ConnectionState::Disconnected);
    service.requestConnect("127.0.0.1", peer.port(), submit);
    ASSERT_EQ(tasks.size(), 1u) << "the task out takes the new request up";
    tasks[0]();
    EXPECT_EQ(service.getState(), ConnectionState::Connected);
    EXPECT_EQ(service.status().port, peer.port());
    EXPECT_EQ(service.status().failure, S7_OK) << "the cancelled target was never tried";

    // No task out: the next request gets one of its own; cancelled before
    // it runs, it makes nothing.
    service.disconnect();
    service.requestConnect("127.0.0.1", peer.port(), submit);
    ASSERT_EQ(tasks.size(), 2u);
    service.disconnect();
    tasks[1]();
    EXPECT_EQ(service.getState(), ConnectionState::Disconnected);
    EXPECT_EQ(service.status().failure, S7_OK);
}

TEST(PlcConnection, ARequestWhoseTaskIsRefusedIsWithdrawn) {
    PlcConnection service;
    const PlcConnection::Submit refuse = [](std::function<void()>) {
        throw std::runtime_error("ThreadPool is stopped");
    };
    EXPECT_THROW(service.requestConnect("127.0.0.1", 102, refuse), std::runtime_error);
    EXPECT_EQ(service.getState(), ConnectionState::Disconnected);

    // The next request gets a task again.
    std::vector<std::function<void()>> tasks;
    service.requestConnect("127.0.0.1", 0, [&](std::function<void()> task) { tasks.push_back(std::move(task)); });
    ASSERT_EQ(tasks.size(), 1u);
    tasks[0]();
    EXPECT_EQ(service.status().failure, S7_ERR_ARGUMENT);
}

// Trust on first use against a peer with one certificate, the store in a
// folder of the test's own.
class PlcConnectionTrust : public ::testing::Test {
protected:
    using Verdict = vemo::ControllerTrust::Verdict;

    std::filesystem::path storeFile() const { return dir_.path() / "known-controllers.json"; }
    vemo::KnownControllers store() const { return vemo::KnownControllers(storeFile()); }
    vemo::ControllerTrust trust() const { return service_.status().trust; }
    vemo::Fingerprint presented() const { return trust().identity.value().key; }

    vemo::test::TempDir dir_;
    TlsPeer peer_{{}, 4};
    PlcConnection service_{std::chrono::steady_clock::now, [this] { return storeFile(); }};
};

TEST_F(PlcConnectionTrust, ANewControllerIsStoredAndKnownTheNextTime) {
    ASSERT_EQ(service_.connect("127.0.0.1", peer_.port()), S7_OK);
    EXPECT_EQ(service_.getState(), ConnectionState::Connected);
    EXPECT_EQ(trust().verdict, Verdict::New);
    ASSERT_EQ(store().entries().size(), 1u);
    EXPECT_EQ(store().entries()[0].key, presented());

    service_.disconnect();
    ASSERT_EQ(service_.connect("127.0.0.1", peer_.port()), S7_OK);
    EXPECT_EQ(service_.getState(), ConnectionState::Connected);
    EXPECT_EQ(trust().verdict, Verdict::Known);
    EXPECT_EQ(store().entries().size(), 1u);
    service_.disconnect();
}

// The store is keyed by the address connected to: "localhost" and "127.1"
// are the controller first stored as 127.0.0.1, not new ones each, while
// the status keeps the host as typed.
TEST_F(PlcConnectionTrust, EverySpellingOfAnAddressIsOneController) {
    const struct {
        const char* host;
        Verdict verdict;
    } cases[] = {{"localhost", Verdict::New}, {"127.1", Verdict::Known}, {"127.0.0.1", Verdict::Known}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        ASSERT_EQ(service_.connect(c.host, peer_.port()), S7_OK);
        EXPECT_EQ(trust().verdict, c.verdict);
        EXPECT_EQ(service_.status().host, c.host);
        EXPECT_EQ(trust().identity.value().address, "127.0.0.1");
        service_.disconnect();
    }
    ASSERT_EQ(store().entries().size(), 1u);
    EXPECT_EQ(store().entries()[0].host, "127.0.0.1");
}

// Another key on record: the connection is held - nothing runs on it - and
// the store untouched until the operator accepts the new key.
TEST_F(PlcConnectionTrust, AChangedKeyHoldsTheConnectionUntilTheOperatorAcceptsIt) {
    vemo::Fingerprint::Digest digest{};
    digest.fill(0x5A);
    const vemo::Fingerprint old(digest);
    store().remember("127.0.0.1", peer_.port(), old);

    for (const bool accept : {false, true}) {
        SCOPED_TRACE(accept ? "accepted" : "disconnected");
        ASSERT_EQ(service_.connect("127.0.0.1", peer_.port()), S7_OK);
        EXPECT_EQ(service_.getState(), ConnectionState::Held);
        EXPECT_EQ(trust().verdict, Verdict::Changed);
        ASSERT_TRUE(trust().known.has_value());
        EXPECT_EQ(trust().known->key, old);
        const std::uint64_t held = service_.connectionId();
        bool ran = false;
        EXPECT_FALSE(service_.withConnection(held, [&](vemoc_s7_client*) { ran = true; }));
        EXPECT_FALSE(ran) << "nothing runs on a held connection";
        EXPECT_EQ(store().entries().at(0).key, old);

        if (!accept) {
            service_.disconnect();
            EXPECT_FALSE(service_.acceptIdentity(held)) << "too late: it is gone";
            EXPECT_EQ(store().entries().at(0).key, old);
            continue;
        }
        EXPECT_FALSE(service_.acceptIdentity(held - 1)) << "only the held connection";
        EXPECT_TRUE(service_.acceptIdentity(held));
        EXPECT_EQ(service_.getState(), ConnectionState::Connected);
        EXPECT_EQ(trust().verdict, Verdict::Known);
        EXPECT_EQ(store().entries().at(0).key, presented());
        EXPECT_TRUE(service_.withConnection(held, [&](vemoc_s7_client*) { ran = true; }));
        EXPECT_TRUE(ran);
    }
    service_.disconnect();
}

// A key that cannot be compared fails closed: the connection is held as
// for a changed key, and the store is left as it is, also when the
// operator goes on without the check.
TEST_F(PlcConnectionTrust, AStoreThatCannotBeReadHoldsTheConnectionAndIsNotReset) {
    const std::string damaged = "{\"version\": 1, \"controllers\": [";
    vemo::test::writeText(storeFile(), damaged);
    ASSERT_EQ(service_.connect("127.0.0.1", peer_.port()), S7_OK);
    EXPECT_EQ(service_.getState(), ConnectionState::Held) << "not taken as nothing on record";
    EXPECT_EQ(trust().verdict, Verdict::NotVerified);
    EXPECT_NE(trust().problem.find(storeFile().string()), std::string::npos) << trust().problem;
    bool ran = false;
    EXPECT_FALSE(service_.withConnection(service_.connectionId(), [&](vemoc_s7_client*) { ran = true; }));
    EXPECT_FALSE(ran);

    EXPECT_TRUE(service_.acceptIdentity(service_.connectionId()));
    EXPECT_EQ(service_.getState(), ConnectionState::Connected) << "on the operator's word";
    EXPECT_EQ(trust().verdict, Verdict::NotVerified);
    EXPECT_EQ(vemo::test::readText(storeFile()), damaged);
    service_.disconnect();
}

// A store that can be read but not written (here: a folder where its lock
// file goes, as root is not stopped by a read-only mode) still holds a
// changed key, lets the key on record through, and a new controller is
// used but said not to be stored. Writing first once made every one of
// them "not verified" and connected.
TEST_F(PlcConnectionTrust, AStoreThatCannotBeWrittenStillComparesTheKey) {
    vemo::Fingerprint::Digest digest{};
    digest.fill(0x5A);
    store().remember("127.0.0.1", peer_.port(), vemo::Fingerprint(digest));
    std::filesystem::remove(storeFile().string() + ".lock");
    std::filesystem::create_directory(storeFile().string() + ".lock");
    const std::string recorded = vemo::test::readText(storeFile());

    ASSERT_EQ(service_.connect("127.0.0.1", peer_.port()), S7_OK);
    EXPECT_EQ(service_.getState(), ConnectionState::Held);
    EXPECT_EQ(trust().verdict, Verdict::Changed);
    EXPECT_EQ(trust().known.value().key, vemo::Fingerprint(digest));
    EXPECT_EQ(vemo::test::readText(storeFile()), recorded);
    service_.disconnect();

    std::filesystem::remove(storeFile().string() + ".lock");
    store().remember("127.0.0.1", peer_.port(), presented(), vemo::KnownControllers::IfChanged::Replace);
    std::filesystem::remove(storeFile().string() + ".lock");
    std::filesystem::create_directory(storeFile().string() + ".lock");
    const std::string known = vemo::test::readText(storeFile());
    ASSERT_EQ(service_.connect("127.0.0.1", peer_.port()), S7_OK);
    EXPECT_EQ(service_.getState(), ConnectionState::Connected);
    EXPECT_EQ(trust().verdict, Verdict::Known);
    EXPECT_EQ(vemo::test::readText(storeFile()), known);
    service_.disconnect();

    vemo::test::writeText(storeFile(), "");
    ASSERT_EQ(service_.connect("127.0.0.1", peer_.port()), S7_OK);
    EXPECT_EQ(service_.getState(), ConnectionState::Connected) << "trust on first use";
    EXPECT_EQ(trust().verdict, Verdict::New);
    EXPECT_NE(trust().problem.find("the lock cannot be made"), std::string::npos) << trust().problem;
    EXPECT_EQ(vemo::test::readText(storeFile()), "");
    service_.disconnect();
}

}  // namespace

// The connection service: the one owner of the PLC client handle, and the
// keeper of the connection the operator asked for.
//
// Every call into the protocol library goes through here, under one mutex,
// so pool tasks never use the handle from two threads at once. The
// connection state is published as an atomic byte that the views poll every
// frame without waiting for a protocol operation that holds the mutex.
//
// A connection that breaks while the operator wants it (any library call
// leaves the handle disconnected) turns the state to Lost, and the service
// schedules reconnect attempts after growing waits (1, 2, 4, 8, 16 s, then
// every 30 s) until one succeeds or the operator disconnects. The UI thread
// asks reconnectDue() every frame and runs reconnect() on the pool when it
// says so; nothing here sleeps or starts a thread. A reconnect that succeeds
// does not start the waits afresh: only a connection that then stands for
// kSteadyAfter does. One that breaks again sooner - a controller that takes
// the connection but fails the same request every time - waits longer at
// every round, as failed attempts do.
//
// While a library call on the connection waits for the controller, the
// service knows since when (waitingSince), without the mutex: past
// kNotAnsweringAfter the views say the controller is not answering and
// show its values as stale, long before the call's deadline ends the
// connection. While a connect runs, the step it is in (connectProgress) is
// known the same way.
//
// The operator's connects are numbered: every connect and every disconnect
// makes the one before it history. An attempt whose number is no longer the
// latest - cancelled, or replaced by a newer connect - is abandoned: the
// library's connect is cut short if it is still running, and whatever it
// returns is thrown away (a connection it made is closed at once). A cut
// that comes just before the library's connect begins to wait is lost on it
// (the library forgets a cut at the start of every call), so the UI thread
// cuts an abandoned attempt again every frame (cutAbandoned) until it has
// returned. From the UI thread, requestConnect() hands the attempt to the
// pool through one task that serves the latest request: clicks while an
// attempt still runs never queue attempts behind it, and the newest request
// is made as soon as the worker is free.
//
// Every connection made gets a number of its own (connectionId()). Work
// that must not cross from one controller to another - a browse and the
// reads of the addresses it found - names the connection it belongs to
// (withConnection), and is not run on any other.
//
// Right after connect, before anything is listed or read, the controller's
// key is checked against the store of known controllers (when the service
// has one): a new controller is stored, a known one has its last seen
// updated, and one that presents another key than the one on record for
// its address is Held - open, unused - until the operator accepts the new
// key (acceptIdentity) or disconnects. A store that cannot be used is never
// reset: the connection goes on, not verified, and the status says why.
//
//   requestConnect() UI thread; shows Connecting at once, the attempt runs on the pool
//   connect()        any thread but the UI's; blocks for the whole connect
//   reconnect()      pool thread; one attempt at the last connection's address
//   disconnect()     UI thread; returns at once, even while a call is stalled
//   acceptIdentity() pool thread; a held connection is trusted and used
//   withClient()     pool thread; runs a callable with the handle under the mutex
//   withConnection() pool thread; the same, only on the given live connection
//   reconnectDue()   UI thread; true once per due attempt
//   cutAbandoned()   UI thread, every frame; cuts an abandoned attempt short again
//   getState(), status(), getPlcType(), connectionId()  any thread, without waiting
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <string>

#include "vemo/core/ControllerIdentity.h"
#include "vemo/core/KnownControllers.h"
#include "vemo/s7client.h"

namespace vemo {

enum class ConnectionState : std::uint8_t {
    Disconnected = 0,  // at start; after a failed connect; from the moment disconnect is called
    Connecting = 1,    // from the moment connect is called until the library's connect returns
    Connected = 2,     // after the library's connect succeeded, until the connection breaks
    Lost = 3,          // the connection broke while wanted: reconnect attempts follow
    // Connected, but the controller presented another key than the one on
    // record for its address, or its key could not be compared: held
    // unused - nothing is listed, browsed, read or written - until the
    // operator accepts the key or disconnects.
    Held = 4,
};

// Who the controller at the other end of the connection is, as far as the
// store of known controllers can tell.
struct ControllerTrust {
    enum class Verdict : std::uint8_t {
        None,         // no connection yet, or a service without a store: nothing checked
        New,          // nothing on record for the address: its key was stored now (or, with
                      // `problem`, could not be)
        Known,        // the key on record (or one the operator has just accepted)
        Changed,      // another key on record: the connection is Held
        NotVerified,  // the key could not be compared (`problem` says why: the store cannot be read, no
                      // identity): the connection is Held as for a changed key, nothing stored; after
                      // the operator's word it is Connected, still NotVerified
    };
    Verdict verdict = Verdict::None;
    // What the controller presented on the last connection; kept after it
    // closes, like the controller type.
    std::optional<ControllerIdentity> identity;
    // While Changed: the entry on record, with its key and dates.
    std::optional<KnownController> known;
    // While NotVerified, or New but not stored: the store's error, naming
    // its file.
    std::string problem;
};

using SteadyTime = std::chrono::steady_clock::time_point;

// What the views show about the connection besides its state.
struct ConnectionStatus {
    ConnectionState state = ConnectionState::Disconnected;
    std::string host;
    std::uint16_t port = 0;
    // The library's code of the last failed connect, or of the failure that
    // broke the connection; S7_OK when there was none since the operator's
    // last connect or disconnect.
    std::uint8_t failure = S7_OK;
    // Reconnect attempts made since the connection was lost.
    unsigned attempts = 0;
    // While Lost: when the next attempt starts; nullopt while one runs.
    std::optional<SteadyTime> nextAttempt;
    // The number of the last connection made (connectionId()); 0 before the
    // first.
    std::uint64_t connection = 0;
    // What the store said of the last connection's controller.
    ControllerTrust trust;
    // The step (S7_STEP_*) the last failed connect or reconnect attempt
    // stopped in; S7_STEP_NONE when `failure` is not a connect's.
    std::uint8_t failedStep = S7_STEP_NONE;
};

class PlcConnection {
public:
    // Bounds every single wait for the socket during a connect (and the
    // whole of every later request); a whole connect takes at most four.
    static constexpr std::uint32_t kConnectTimeoutMs = 10000;
    // A connection that stood this long broke for a reason of its own: the
    // reconnect waits start again from the shortest.
    static constexpr std::chrono::seconds kSteadyAfter{60};
    // A request unanswered this long is shown as such.
    static constexpr std::chrono::seconds kNotAnsweringAfter{2};

    // Where the store of known controllers lies, asked at every check (so a
    // changed environment is followed); it may throw KnownControllersError,
    // which counts as a store that cannot be used.
    using StoreLocation = std::function<std::filesystem::path()>;
    // How the UI thread hands a task to the pool's worker; may throw (a
    // stopped pool).
    using Submit = std::function<void(std::function<void()>)>;

    // The wait before reconnect attempt `attempt` (0 for the first after a
    // loss): 1, 2, 4, 8, 16 s, then 30 s.
    static std::chrono::seconds reconnectDelay(unsigned attempt);

    // The process-wide service, created on first use (from any thread), with
    // the user's store of known controllers (KnownControllers::defaultPath).
    // Its handle is freed at process exit, after the pool has been stopped.
    static PlcConnection* instance();

    // A disconnected service with its own handle. The program uses
    // instance(); separate services exist only in tests. `now` is the clock
    // of the reconnect schedule (tests pass their own). Without a store
    // location no controller is checked (the verdict stays None).
    explicit PlcConnection(std::function<SteadyTime()> now = std::chrono::steady_clock::now,
                           StoreLocation knownControllers = {});
    ~PlcConnection();
    PlcConnection(const PlcConnection&) = delete;
    PlcConnection& operator=(const PlcConnection&) = delete;
    PlcConnection(PlcConnection&&) = delete;
    PlcConnection& operator=(PlcConnection&&) = delete;

    // The operator's connect, from the UI thread: remembers host:port as the
    // connection to keep and shows Connecting at once; the attempt runs on
    // the pool. When no connect task of the service's is queued or running,
    // one is handed to `submit`; otherwise the running task takes this
    // request up as soon as the attempt it is making is over (an abandoned
    // one is cut short), so no attempt ever waits behind another. When
    // submit throws, the request is withdrawn (Disconnected) and the
    // exception passed on.
    void requestConnect(const std::string& host, std::uint16_t port, const Submit& submit);

    // The operator's connect, made by the calling thread: remembers
    // host:port, connects (closing an earlier connection first) and returns
    // the library's result code: S7_OK, or S7_ERR_* (S7_ERR_ARGUMENT for
    // port 0 or a handle that could not be created). A failed connect ends
    // Disconnected with the failure kept; it is not retried. The state is
    // Connecting before the mutex is taken, so a caller that waits behind a
    // running task is already shown as connecting. S7_OK also for a
    // connection that ends Held.
    std::uint8_t connect(const std::string& host, std::uint16_t port);

    // One reconnect attempt at the remembered address, after a loss. S7_OK
    // and Connected (or Held) on success; otherwise the state stays Lost and
    // the next attempt is scheduled. Does nothing (and gives
    // S7_ERR_NOT_CONNECTED) when the operator disconnected meanwhile.
    std::uint8_t reconnect();

    // The operator's disconnect, or the cancel of a connect: shows
    // Disconnected at once, abandons a connect still waiting or running,
    // stops the reconnect attempts and cuts short a library call in flight;
    // the connection is closed now if the handle is free, else by the task
    // that holds it as soon as its call returns. The controller type and
    // identity of the last connection are kept.
    void disconnect();

    // The operator trusts the key the held connection `connection`
    // presented: it replaces the one on record, and the connection is used
    // from now on (Connected). False, and nothing changed, when that
    // connection is not the held one any more. A store that cannot be
    // written leaves the connection going on, not verified.
    bool acceptIdentity(std::uint64_t connection);

    // True, once, when a reconnect attempt is due: the caller then runs
    // reconnect() on the pool.
    bool reconnectDue();

    // Cuts short, once more, a connect attempt that is still running although
    // the operator has moved on from it; nothing else. Returns at once.
    void cutAbandoned();

    // Calls fn once with the handle (null if it could not be allocated) under
    // the mutex. fn must not call back into the service. An empty fn throws
    // std::bad_function_call; the mutex is released in every case. A call
    // inside fn that broke the connection turns the state to Lost.
    void withClient(const std::function<void(vemoc_s7_client*)>& fn);

    // As withClient, but only on connection `connection`: false, and fn not
    // called, once another connection has been made since, and while it is
    // held. A connection that has closed meanwhile still gets the call,
    // which the library answers at once with S7_ERR_NOT_CONNECTED.
    bool withConnection(std::uint64_t connection, const std::function<void(vemoc_s7_client*)>& fn);

    ConnectionState getState() const { return state_.load(); }
    // While a call on the connection runs (withClient, withConnection):
    // since when, on the service's clock; nullopt otherwise.
    std::optional<SteadyTime> waitingSince() const;
    // A call has waited longer than kNotAnsweringAfter at `now`.
    bool notAnswering(SteadyTime now) const;
    // While a connect or reconnect attempt runs: the step it is in
    // (S7_STEP_*) and since when; S7_STEP_NONE otherwise.
    struct ConnectProgress {
        std::uint8_t step = S7_STEP_NONE;
        SteadyTime since;
    };
    ConnectProgress connectProgress() const;
    // Called on the worker whenever a call on the connection or a step of a
    // connect begins, so that a UI that sleeps between frames wakes to watch
    // it (the program passes the toolkit's wake); null: nothing is called.
    using CallWatcher = void (*)();
    void setCallWatcher(CallWatcher watcher) { callWatcher_.store(watcher); }
    // The clock the service times with.
    SteadyTime now() const { return now_(); }
    ConnectionStatus status() const;
    // The number of the last connection made; 0 before the first. A new one
    // for every connect and reconnect that succeeds.
    std::uint64_t connectionId() const { return connectionId_.load(); }

    // Whether the operator has allowed writing values on this connection.
    // Off until allowed, and off again after every successful connect
    // (reconnects included): a permission given for one controller never
    // carries over to whatever answers at that address next.
    bool writesAllowed() const { return writesAllowed_.load(); }
    // Allowing takes effect only while connected.
    void allowWrites(bool allowed);

    // The controller type text of the last successful connect; empty after
    // a failed one. A copy, so the UI thread never reads the text while a
    // later connect rewrites it.
    std::string getPlcType() const;

private:
    // With the mutex held, after a library call: brings the state in line
    // with the handle (a broken connection is Lost) and with the operator (a
    // connection nobody wants any more is closed).
    void settle();
    // With the mutex held, after a library call: logs the answers to earlier
    // requests the library let go since the last look (a controller that
    // answers twice).
    void noteDiscardedAnswers();
    // With the mutex held: fn with the handle, then settle().
    void runLocked(const std::function<void(vemoc_s7_client*)>& fn);
    // Pool thread: makes the latest requested connect, and the next while
    // the operator asked for another one meanwhile.
    void runConnects();
    // With the mutex held: connect attempt `request` at the remembered
    // address, unless the operator has moved on from it.
    std::uint8_t attemptLocked(std::uint64_t request, bool byOperator);
    // With the mutex held, on a connected handle: what the store says of
    // the controller at host:port.
    ControllerTrust checkTrust(const std::string& host, std::uint16_t port);
    // With the status lock held: a new request of the operator's.
    std::uint64_t beginRequest(const std::string& host, std::uint16_t port);

    std::function<SteadyTime()> now_;
    StoreLocation store_;
    vemoc_s7_client* client_ = nullptr;
    std::mutex lock_;
    // Guarded by the mutex: the library's count of answers to earlier
    // requests that has been logged already.
    std::uint32_t discardedLogged_ = 0;
    std::atomic<ConnectionState> state_{ConnectionState::Disconnected};
    // The operator wants a connection (connect pressed, not disconnect).
    std::atomic<bool> wanted_{false};
    std::atomic<bool> writesAllowed_{false};
    std::atomic<std::uint64_t> connectionId_{0};
    // When the running call on the connection began (ticks of now_),
    // kNoCall: none. Written under the mutex, read anywhere.
    static constexpr SteadyTime::rep kNoCall = std::numeric_limits<SteadyTime::rep>::min();
    std::atomic<SteadyTime::rep> callSince_{kNoCall};
    std::atomic<std::uint8_t> connectStep_{S7_STEP_NONE};
    std::atomic<SteadyTime::rep> stepSince_{0};
    std::atomic<CallWatcher> callWatcher_{nullptr};

    // Guards what follows; never held while the library runs, so reading it
    // never waits for a protocol operation.
    mutable std::mutex statusLock_;
    ConnectionStatus status_;
    std::string plcType_;
    // The number of the operator's latest connect or disconnect.
    std::uint64_t request_ = 0;
    // The latest request is a connect that no attempt has taken up yet.
    bool pending_ = false;
    // A runConnects task is queued or running.
    bool runner_ = false;
    // The request whose attempt is inside the library's connect; 0: none.
    std::uint64_t attempting_ = 0;
    // The index of the next reconnect wait (reconnectDelay); kept across
    // reconnects that succeed until a connection stands for kSteadyAfter.
    unsigned backoff_ = 0;
    // When the current connection was made, and whether by a reconnect.
    SteadyTime connectedAt_{};
    bool reconnected_ = false;
};

}  // namespace vemo

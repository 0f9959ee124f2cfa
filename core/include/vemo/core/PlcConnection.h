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
// says so; nothing here sleeps or starts a thread.
//
//   connect()      pool thread; blocks for the whole connect
//   reconnect()    pool thread; one attempt at the last connection's address
//   disconnect()   UI thread; returns at once, even while a call is stalled
//   withClient()   pool thread; runs a callable with the handle under the mutex
//   reconnectDue() UI thread; true once per due attempt
//   getState(), status(), getPlcType()  any thread, without waiting
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "vemo/s7client.h"

namespace vemo {

enum class ConnectionState : std::uint8_t {
    Disconnected = 0,  // at start; after a failed connect; from the moment disconnect is called
    Connecting = 1,    // from the moment connect is called until the library's connect returns
    Connected = 2,     // after the library's connect succeeded, until the connection breaks
    Lost = 3,          // the connection broke while wanted: reconnect attempts follow
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
};

class PlcConnection {
public:
    // Bounds every single wait for the socket during a connect (and the
    // whole of every later request); a whole connect takes at most four.
    static constexpr std::uint32_t kConnectTimeoutMs = 10000;

    // The wait before reconnect attempt `attempt` (0 for the first after a
    // loss): 1, 2, 4, 8, 16 s, then 30 s.
    static std::chrono::seconds reconnectDelay(unsigned attempt);

    // The process-wide service, created on first use (from any thread). Its
    // handle is freed at process exit, after the pool has been stopped.
    static PlcConnection* instance();

    // A disconnected service with its own handle. The program uses
    // instance(); separate services exist only in tests. `now` is the clock
    // of the reconnect schedule (tests pass their own).
    explicit PlcConnection(std::function<SteadyTime()> now = std::chrono::steady_clock::now);
    ~PlcConnection();
    PlcConnection(const PlcConnection&) = delete;
    PlcConnection& operator=(const PlcConnection&) = delete;
    PlcConnection(PlcConnection&&) = delete;
    PlcConnection& operator=(PlcConnection&&) = delete;

    // The operator's connect: remembers host:port as the connection to keep,
    // connects (closing an earlier connection first) and returns the
    // library's result code: S7_OK, or S7_ERR_* (S7_ERR_ARGUMENT for port 0
    // or a handle that could not be created). A failed connect ends
    // Disconnected with the failure kept; it is not retried. The state is
    // Connecting before the mutex is taken, so a caller that waits behind a
    // running task is already shown as connecting.
    std::uint8_t connect(const std::string& host, std::uint16_t port);

    // One reconnect attempt at the remembered address, after a loss. S7_OK
    // and Connected on success; otherwise the state stays Lost and the next
    // attempt is scheduled. Does nothing (and gives S7_ERR_NOT_CONNECTED)
    // when the operator disconnected meanwhile.
    std::uint8_t reconnect();

    // The operator's disconnect: shows Disconnected at once, stops the
    // reconnect attempts and cuts short a library call in flight; the
    // connection is closed now if the handle is free, else by the task that
    // holds it as soon as its call returns. The controller type text of the
    // last connection is kept.
    void disconnect();

    // True, once, when a reconnect attempt is due: the caller then runs
    // reconnect() on the pool.
    bool reconnectDue();

    // Calls fn once with the handle (null if it could not be allocated) under
    // the mutex. fn must not call back into the service. An empty fn throws
    // std::bad_function_call; the mutex is released in every case. A call
    // inside fn that broke the connection turns the state to Lost.
    void withClient(const std::function<void(vemoc_s7_client*)>& fn);

    ConnectionState getState() const { return state_.load(); }
    ConnectionStatus status() const;

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
    // With the mutex held: connects to the remembered address.
    std::uint8_t connectLocked(bool byOperator);

    std::function<SteadyTime()> now_;
    vemoc_s7_client* client_ = nullptr;
    std::mutex lock_;
    std::atomic<ConnectionState> state_{ConnectionState::Disconnected};
    // The operator wants a connection (connect pressed, not disconnect).
    std::atomic<bool> wanted_{false};
    std::atomic<bool> writesAllowed_{false};

    // Guards what follows; never held while the library runs, so reading it
    // never waits for a protocol operation.
    mutable std::mutex statusLock_;
    ConnectionStatus status_;
    std::string plcType_;
};

}  // namespace vemo

// The connection service: the one owner of the PLC client handle.
//
// Every call into the protocol library goes through here, under one mutex,
// so pool tasks never use the handle from two threads at once. The
// connection state is published as an atomic byte that the views poll every
// frame without waiting for a protocol operation that holds the mutex.
//
//   connect()     pool thread; blocks for the whole connect
//   disconnect()  UI thread; waits for a running protocol task to finish
//   withClient()  pool thread; runs a callable with the handle under the mutex
//   getState()    any thread, lock-free
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "vemo/s7client.h"

namespace vemo {

enum class ConnectionState : std::uint8_t {
    Disconnected = 0,  // at start; after a failed connect; from the moment disconnect is called
    Connecting = 1,    // from the moment connect is called until the library's connect returns
    Connected = 2,     // after the library's connect succeeded
};

class PlcConnection {
public:
    // Bounds every single wait for the socket during a connect.
    static constexpr std::uint32_t kConnectTimeoutMs = 10000;

    // The process-wide service, created on first use (from any thread). Its
    // handle is freed at process exit, after the pool has been stopped.
    static PlcConnection* instance();

    // A disconnected service with its own handle. The program uses
    // instance(); separate services exist only in tests.
    PlcConnection();
    ~PlcConnection();
    PlcConnection(const PlcConnection&) = delete;
    PlcConnection& operator=(const PlcConnection&) = delete;
    PlcConnection(PlcConnection&&) = delete;
    PlcConnection& operator=(PlcConnection&&) = delete;

    // Connects to host:port (closing an earlier connection first) and returns
    // the library's result code: S7_OK, or S7_ERR_* (S7_ERR_ARGUMENT for port
    // 0 or a handle that could not be created). The state is
    // Connecting before the mutex is taken, so a caller that waits behind a
    // running task is already shown as connecting.
    std::uint8_t connect(const std::string& host, std::uint16_t port);

    // Shows Disconnected at once, then waits for the mutex and closes the
    // connection. The controller type text of the last connection is kept.
    void disconnect();

    // Calls fn once with the handle (null if it could not be allocated) under
    // the mutex. fn must not call back into the service. An empty fn throws
    // std::bad_function_call; the mutex is released in every case.
    void withClient(const std::function<void(vemoc_s7_client*)>& fn);

    ConnectionState getState() const { return state_.load(); }

    // The controller type text of the last successful connect; empty after
    // a failed one. A copy, so the UI thread never reads the text while a
    // later connect rewrites it.
    std::string getPlcType() const;

private:
    std::string plcType_;
    // Guards plcType_ only; never held while the library runs, so reading the
    // text never waits for a protocol operation.
    mutable std::mutex plcTypeLock_;
    std::atomic<ConnectionState> state_{ConnectionState::Disconnected};
    vemoc_s7_client* client_ = nullptr;
    std::mutex lock_;
};

}  // namespace vemo

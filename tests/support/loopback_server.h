// A scripted TCP peer on the loopback interface: it listens on a free port,
// accepts one connection and runs a script on it in its own thread. Tests
// use it to play the controller's side of the transport byte for byte.
#pragma once

#include "bytes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace vemo::test {

class LoopbackServer {
public:
    using Script = std::function<void(int fd)>;

    // Listens on `address` (IPv4 or IPv6 literal), port 0 = any free port.
    // With a script, accepts one connection and runs it; without one, never
    // accepts: connections pile up in the backlog and are never answered.
    explicit LoopbackServer(Script script, const std::string& address = "127.0.0.1", uint16_t port = 0,
                            int backlog = 16);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    uint16_t port() const { return port_; }

    // Waits for the script to end. A server that has not accepted yet keeps
    // waiting for its client; the destructor stops it instead.
    void join();

    // Helpers for scripts. readExact returns fewer bytes when the peer
    // closes or nothing arrives within timeoutMs.
    static Bytes readExact(int fd, size_t n, int timeoutMs = 5000);
    static void writeAll(int fd, const Bytes& bytes);
    // True when the peer closed the connection within timeoutMs.
    static bool waitForClose(int fd, int timeoutMs = 5000);

private:
    int listenFd_ = -1;
    int stopPipe_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::thread thread_;
};

// A port on which nothing listens (bound once, then released).
uint16_t unusedPort();

// A listening TCP socket on address:port (port 0 = any free port) for peers
// that accept connections themselves; boundPort receives the port. Throws
// std::runtime_error on failure.
int listenSocket(const std::string& address, uint16_t port, int backlog, uint16_t& boundPort);

}  // namespace vemo::test

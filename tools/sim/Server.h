// The simulator as a network server: a TCP listener whose connections each
// get a thread that plays the controller - COTP connection confirm, the
// TLS-start reply, a TLS 1.3 server (a self-signed certificate made in
// memory at start, or read from files) whose records travel one per COTP data frame, and the framed
// request/response protocol answered by a Session over the shared Model.
// Usable in-process (tests, benchmarks) and by the vemo-s7-sim program.
#pragma once

#include "Controller.h"
#include "Program.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace vemo::sim {

// The listener could not be set up; the message says why.
class ServerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ServerOptions {
    std::string host = "127.0.0.1";
    uint16_t port = 102;  // 0 picks a free port
    ControllerSettings controller;
    // Connections served at once; more are accepted and closed at once, so
    // that a client learns it is not served instead of waiting in the
    // listen backlog. A library client's connect then fails with
    // S7_ERR_TRANSPORT, as for any controller that closes during connect.
    size_t maxConnections = 64;
    // A connection whose client sends nothing for this long before its
    // first request (while it connects, starts TLS and shakes hands) is
    // closed, so that silent connections do not hold the slots for ever.
    // Once requests flow, a client may stay quiet as long as it likes, as a
    // program that watches no variable does. Zero: never.
    std::chrono::milliseconds idleTimeout{30000};
    // PEM files of the certificate and private key the TLS server presents
    // (see Identity); both empty: a fresh identity made at start.
    std::string certificateFile;
    std::string keyFile;
    // Keep every request received, for tests to inspect.
    bool record = false;
    // Receives one line per connection event and request; null: quiet.
    std::function<void(const std::string&)> log;
    // Receives the lines that matter even when the log is quiet: a
    // connection refused because every slot is taken, one closed because
    // its client sent nothing. Null: they go to the log.
    std::function<void(const std::string&)> notice;
};

// A request as the simulator received it: its header fields and body, the
// connection it came on and the whole message.
struct ReceivedRequest : Request {
    int connection = 0;  // 1-based, in order of acceptance
    Bytes message;       // the plaintext frames as sent: heads, data, trailer
};

// What a connection does with the plaintext it decrypts, apart from its
// socket and TLS, so that tests and fuzz targets feed it bytes directly.
// The length of the first complete request message at the start of `plain`
// (its frames up to and including the trailer): 0 while it is incomplete,
// SIZE_MAX when the framing is broken.
size_t completeRequestMessage(const Bytes& plain);
// A complete message (as completeRequestMessage measured it) taken apart;
// nullopt when its frames disagree about the version or their data is no
// request.
std::optional<Request> parseRequestMessage(const Bytes& message);

class Server {
public:
    // Binds and listens, then serves in threads of its own until stopped.
    // Throws ServerError when the identity files cannot be used or the
    // address cannot be bound, ProgramError never (the program is already
    // built).
    Server(Program program, ServerOptions options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    uint16_t port() const { return port_; }
    const std::string& host() const { return options_.host; }
    const Model& model() const { return model_; }

    // Stops accepting, ends every connection and waits for their threads.
    void stop();

    // Ends every connection being served, as a controller that loses its
    // network would: each client sees its TCP connection end. The server
    // keeps listening and serves new connections as before. Returns how
    // many connections it ended.
    size_t dropConnections();

    // What was received so far (with ServerOptions::record).
    std::vector<ReceivedRequest> requests() const;
    void clearRequests();
    int connectionsAccepted() const { return accepted_; }
    // Connections being served now (a client that closed its end counts
    // until its thread has seen it).
    size_t connectionsOpen() const { return live_; }

private:
    struct Tls;
    struct Worker {
        std::thread thread;
        std::atomic<bool> done{false};
        int fd = -1;  // while the connection is served (guarded by socketsMutex_)
        int index = 0;
        std::atomic<bool> dropped{false};  // by dropConnections()
    };

    void acceptLoop();
    void serve(Worker& w);
    void reap(bool all);
    void say(const std::string& line) const;
    void notify(const std::string& line) const;

    Model model_;
    ServerOptions options_;
    std::unique_ptr<Tls> tls_;
    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::atomic<size_t> live_{0};
    std::chrono::steady_clock::time_point started_;
    std::thread acceptThread_;
    std::mutex workersMutex_;
    std::list<Worker> workers_;
    std::mutex socketsMutex_;  // taken after workersMutex_, never before
    mutable std::mutex requestsMutex_;
    std::vector<ReceivedRequest> requests_;
    mutable std::mutex logMutex_;

    friend class Connection;
};

}  // namespace vemo::sim

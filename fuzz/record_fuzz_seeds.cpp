// Records the seeds of the protocol fuzz targets from real exchanges with
// the simulator: for each of a few programs and faults it starts the
// simulator in-process, connects the library's client through a recording
// TCP relay, lists and browses everything, and writes what the controller
// sent in the input form of each target:
//   iso_frame/      the TCP stream of the connect (confirm, TLS-start reply,
//                   handshake frames) and the TLS-start reply on its own;
//   reassembly/     the plaintext the exchanges read, each read as one data
//                   frame, as the target's stand-in cipher expects;
//   browse/         the controller's read-item limit and the body of every
//                   answer of the listing and the type-info explore.
// Usage: record_fuzz_seeds CORPUS_DIR (the fuzz/corpus folder).
#include "Faults.h"
#include "Program.h"
#include "Server.h"

#include "s7_browse.h"
#include "s7_client.h"
#include "s7_exchange.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

constexpr uint32_t kTimeoutMs = 5000;
// Seeds stay small; an input longer than this is cut at a whole exchange.
constexpr size_t kSeedLimit = 4096;
// What scripts/fuzz lets an input grow to: a longer seed is not written.
constexpr size_t kMaxInput = 16384;

int listenLoopback(uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 1) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        throw std::runtime_error("cannot listen on the loopback interface");
    }
    port = ntohs(a.sin_port);
    return fd;
}

int connectLoopback(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        throw std::runtime_error("cannot reach the simulator");
    }
    return fd;
}

// A TCP relay between one client and the simulator that keeps every byte
// the simulator sent.
class Relay {
public:
    explicit Relay(uint16_t serverPort) : listen_(listenLoopback(port_)), serverPort_(serverPort) {
        thread_ = std::thread([this] { run(); });
    }
    ~Relay() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        ::close(listen_);
    }
    uint16_t port() const { return port_; }
    // Valid once the client has closed its end.
    const Bytes& fromServer() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        return fromServer_;
    }

private:
    void run() {
        pollfd waiting{listen_, POLLIN, 0};
        while (!stop_ && ::poll(&waiting, 1, 50) == 0) {
        }
        if (stop_) {
            return;
        }
        const int client = ::accept(listen_, nullptr, nullptr);
        const int server = connectLoopback(serverPort_);
        pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        uint8_t buffer[65536];
        for (bool open = true; open && !stop_;) {
            if (::poll(fds, 2, 50) <= 0) {
                continue;
            }
            for (int i = 0; i < 2 && open; ++i) {
                if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                    continue;
                }
                const ssize_t n = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    open = false;
                    break;
                }
                if (i == 1) {
                    fromServer_.insert(fromServer_.end(), buffer, buffer + n);
                }
                for (ssize_t sent = 0; sent < n;) {
                    const ssize_t m = ::send(fds[1 - i].fd, buffer + sent, static_cast<size_t>(n - sent), MSG_NOSIGNAL);
                    if (m <= 0) {
                        open = false;
                        break;
                    }
                    sent += m;
                }
            }
        }
        ::close(client);
        ::close(server);
    }

    uint16_t port_ = 0;
    int listen_;
    uint16_t serverPort_;
    std::atomic<bool> stop_{false};
    Bytes fromServer_;
    std::thread thread_;
};

// Wraps a session's link and keeps, per exchange, every piece a read
// handed over.
struct RecordingLink {
    s7_link inner;
    std::vector<std::vector<Bytes>> exchanges;
    bool answered = true;  // the last message's answer has begun

    static s7_status write(void* context, const uint8_t* data, uint32_t len, uint32_t timeout_ms) {
        auto* self = static_cast<RecordingLink*>(context);
        if (self->answered) {
            self->exchanges.emplace_back();
            self->answered = false;
        }
        return self->inner.write(self->inner.context, data, len, timeout_ms);
    }
    static s7_status read(void* context, uint8_t* buffer, uint32_t capacity, int32_t* count, uint32_t timeout_ms) {
        auto* self = static_cast<RecordingLink*>(context);
        const s7_status rc = self->inner.read(self->inner.context, buffer, capacity, count, timeout_ms);
        if (rc == S7_STATUS_OK && !self->exchanges.empty()) {
            self->exchanges.back().emplace_back(buffer, buffer + *count);
            self->answered = true;
        }
        return rc;
    }
};

Bytes dataFrame(const Bytes& payload) {
    const size_t len = payload.size() + 7;
    Bytes f = {0x03, 0x00, static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len), 0x02, 0xF0, 0x80};
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

// The data of one response: the frames' data without heads and trailer.
Bytes deframe(const Bytes& plain) {
    Bytes out;
    for (size_t pos = 0; pos + 4 <= plain.size();) {
        const size_t len = (size_t{plain[pos + 2]} << 8) | plain[pos + 3];
        if (len == 0 && !out.empty()) {
            break;
        }
        out.insert(out.end(), plain.begin() + static_cast<long>(pos + 4),
                   plain.begin() + static_cast<long>(std::min(plain.size(), pos + 4 + len)));
        pos += 4 + len;
    }
    return out;
}

// The TPKT frames of a TCP stream, whole.
std::vector<Bytes> tpktFrames(const Bytes& stream) {
    std::vector<Bytes> frames;
    for (size_t pos = 0; pos + 4 <= stream.size();) {
        const size_t len = (size_t{stream[pos + 2]} << 8) | stream[pos + 3];
        if (len < 7 || pos + len > stream.size()) {
            break;
        }
        frames.emplace_back(stream.begin() + static_cast<long>(pos), stream.begin() + static_cast<long>(pos + len));
        pos += len;
    }
    return frames;
}

void save(const fs::path& file, const Bytes& bytes) {
    if (bytes.size() > kMaxInput) {
        std::printf("%6zu  %s: too large, not written\n", bytes.size(), file.c_str());
        return;
    }
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    std::printf("%6zu  %s\n", bytes.size(), file.c_str());
}

struct Scenario {
    const char* name;
    std::function<vemo::sim::Program()> program;
    const char* fault;  // null: none
    std::optional<uint64_t> faultArg;
    bool connectSeeds;  // also write the seeds of the connect's TCP stream
    bool inParts;       // keep at most kPartLimit bytes of an answer: types come in parts
};

// The longest answer kept in the scenarios in parts, as fuzz_browse keeps
// it when its input asks for parts.
constexpr uint32_t kPartLimit = 512;

void record(const Scenario& s, const fs::path& corpus) {
    vemo::sim::ServerOptions options;
    options.port = 0;
    if (s.fault != nullptr) {
        options.controller.fault = vemo::sim::Fault::parse(s.fault, s.faultArg);
    }
    vemo::sim::Server server(s.program(), options);
    Relay relay(server.port());
    vemoc_s7_client* client = vemoc_s7_client_new();
    const uint8_t connected = vemoc_s7_client_connect(client, "127.0.0.1", relay.port(), kTimeoutMs);
    RecordingLink recording{};
    uint32_t maxReadItems = 0;
    if (connected == S7_OK) {
        maxReadItems = client->max_read_items;
        if (s.inParts) {
            client->session->response_limit = kPartLimit;
        }
        recording.inner = client->session->link;
        client->session->link = s7_link{RecordingLink::write, RecordingLink::read, &recording, recording.inner.socket};
        s7_block_list blocks{};
        if (vemoc_s7_client_list_datablocks(client, &blocks) == S7_OK) {
            for (uint32_t i = 0; i < blocks.count; ++i) {
                s7_symbol_list symbols{};
                vemoc_s7_client_browse_block(client, &blocks.items[i], &symbols);
                s7_symbol_list_free(&symbols);
            }
        }
        s7_block_list_free(&blocks);
    }
    vemoc_s7_client_free(client);
    const Bytes& stream = relay.fromServer();
    const std::string name = s.name;

    if (s.connectSeeds) {
        const std::vector<Bytes> frames = tpktFrames(stream);
        if (frames.size() >= 2) {
            // Mode 0 (frame reader, the TLS channel's buffer, peer closes
            // after): confirm and TLS-start reply; then the handshake's
            // frames as far as the seed limit allows.
            Bytes start = {12};
            Bytes handshake = {12};
            for (size_t i = 0; i < frames.size(); ++i) {
                Bytes& into = i < 2 ? start : handshake;
                if (i >= 2 && handshake.size() + frames[i].size() > kSeedLimit) {
                    break;
                }
                into.insert(into.end(), frames[i].begin(), frames[i].end());
            }
            save(corpus / "iso_frame" / (name + "-confirm-tls-start"), start);
            if (handshake.size() > 1) {
                save(corpus / "iso_frame" / (name + "-handshake"), handshake);
            }
            // Mode 1: the TLS-start reply read by s7_tls_start; mode 2: its payload.
            Bytes reply = {1};
            reply.insert(reply.end(), frames[1].begin(), frames[1].end());
            save(corpus / "iso_frame" / (name + "-tls-start-reply"), reply);
            Bytes payload = {2};
            payload.insert(payload.end(), frames[1].begin() + 7, frames[1].end());
            save(corpus / "iso_frame" / (name + "-tls-start-payload"), payload);
        }
    }

    if (recording.exchanges.empty()) {
        std::printf("        %s: no exchange after connect (%s)\n", s.name, s7_result_name(connected));
        return;
    }
    // Reassembly: the exchanges' reads as frames, version 2, the peer
    // closing after the last; as many whole exchanges as fit the limit, and
    // at least the first.
    Bytes plain = {3};
    for (const auto& reads : recording.exchanges) {
        Bytes frames;
        for (const Bytes& piece : reads) {
            const Bytes f = dataFrame(piece);
            frames.insert(frames.end(), f.begin(), f.end());
        }
        if (plain.size() > 1 && plain.size() + frames.size() > kSeedLimit) {
            break;
        }
        plain.insert(plain.end(), frames.begin(), frames.end());
    }
    save(corpus / "reassembly" / name, plain);

    // Browse: the limit (its top bit for parts), then each answer's body
    // (after its 9-byte header).
    Bytes answers = {static_cast<uint8_t>(std::min<uint32_t>(maxReadItems, 127) | (s.inParts ? 0x80u : 0u))};
    for (const auto& reads : recording.exchanges) {
        Bytes message;
        for (const Bytes& piece : reads) {
            message.insert(message.end(), piece.begin(), piece.end());
        }
        const Bytes data = deframe(message);
        const size_t body = data.size() > 9 ? data.size() - 9 : 0;
        answers.push_back(static_cast<uint8_t>(body >> 8));
        answers.push_back(static_cast<uint8_t>(body));
        answers.insert(answers.end(), data.end() - static_cast<long>(body), data.end());
    }
    save(corpus / "browse" / name, answers);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: record_fuzz_seeds CORPUS_DIR\n");
        return 2;
    }
    using vemo::sim::Program;
    const Scenario scenarios[] = {
        {"sim-builtin", [] { return Program::builtIn(); }, nullptr, std::nullopt, true, false},
        {"sim-deep", [] { return Program::generatedDeep(24, 3); }, nullptr, std::nullopt, false, false},
        {"sim-array", [] { return Program::generatedArray(12); }, nullptr, std::nullopt, false, false},
        {"sim-flat", [] { return Program::generated(3, 4); }, nullptr, std::nullopt, false, false},
        {"sim-self-referencing-type", [] { return Program::builtIn(); }, "self-referencing-type", std::nullopt, false,
         false},
        {"sim-hostile-count", [] { return Program::builtIn(); }, "hostile-count", 100000, false, false},
        {"sim-hostile-types", [] { return Program::builtIn(); }, "hostile-types", 8, false, false},
        {"sim-read-error-entry", [] { return Program::builtIn(); }, "read-error-entry", std::nullopt, false, false},
        {"sim-tls-start-error", [] { return Program::builtIn(); }, "tls-start-error", std::nullopt, true, false},
        {"sim-builtin-in-parts", [] { return Program::builtIn(); }, nullptr, std::nullopt, false, true},
        {"sim-self-referencing-type-in-parts", [] { return Program::builtIn(); }, "self-referencing-type", std::nullopt,
         false, true},
    };
    try {
        for (const Scenario& s : scenarios) {
            record(s, argv[1]);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "record_fuzz_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}

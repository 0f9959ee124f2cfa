// What connecting costs: a full connect (TCP, COTP, TLS start, TLS 1.3
// handshake in data frames) against the in-process test peer, next to a
// bare TLS 1.3 handshake (TCP, then TLS records straight on the stream)
// with the same server configuration. Both include the TCP connect and the
// client's TLS set-up; the peer runs in its own thread, so real time is
// what counts. At the end the run prints the ratio of the two.
#include "s7_client.h"
#include "s7_tls_start.h"

#include "tls_peer.h"

#include <benchmark/benchmark.h>

#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

using vemo::test::TlsPeer;
using vemo::test::TlsPeerOptions;

constexpr uint32_t kTimeoutMs = 5000;
constexpr char kFullConnect[] = "BM_ConnectStepsOneToEight";
constexpr char kBareHandshake[] = "BM_BareTls13Handshake";

TlsPeerOptions serving(bool bare) {
    TlsPeerOptions options;
    options.bareTls = bare;
    options.keepLog = false;
    return options;
}

// Steps 1-8 through the library's layers, as connect takes them.
uint8_t connectToChannel(uint16_t port) {
    s7_socket* slot = s7_socket_new();
    s7_iso_transport* transport = slot != nullptr ? s7_iso_transport_new(slot) : nullptr;
    s7_tls_channel* channel = nullptr;
    uint8_t rc = S7_ERR_NO_MEMORY;
    if (transport != nullptr) {
        rc = s7_iso_connect(transport, "127.0.0.1", port, kTimeoutMs) == S7_STATUS_OK ? S7_OK : S7_ERR_CONNECT;
    }
    s7_tls_start_result start{};
    if (rc == S7_OK) {
        rc = s7_tls_start(transport, kTimeoutMs, &start) == S7_STATUS_OK && start.error == 0 ? S7_OK : S7_ERR_PROTOCOL;
    }
    if (rc == S7_OK) {
        channel = s7_tls_channel_new(transport);
        rc = channel != nullptr && s7_tls_handshake(channel, kTimeoutMs) == S7_STATUS_OK ? S7_OK : S7_ERR_TLS;
    }
    s7_tls_channel_free(channel);
    s7_iso_transport_free(transport);
    s7_socket_free(slot);
    return rc;
}

void BM_ConnectStepsOneToEight(benchmark::State& state) {
    TlsPeer peer(serving(false), 0);
    for (auto _ : state) {
        const uint8_t rc = connectToChannel(peer.port());
        if (rc != S7_OK) {
            state.SkipWithError(s7_result_name(rc));
            break;
        }
    }
}
BENCHMARK(BM_ConnectStepsOneToEight)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_FullConnect(benchmark::State& state) {
    TlsPeer peer(serving(false), 0);
    vemoc_s7_client* client = vemoc_s7_client_new();
    for (auto _ : state) {
        const uint8_t rc = vemoc_s7_client_connect(client, "127.0.0.1", peer.port(), kTimeoutMs);
        if (rc != S7_OK) {
            state.SkipWithError(s7_result_name(rc));
            break;
        }
        vemoc_s7_client_disconnect(client);
    }
    vemoc_s7_client_free(client);
}
BENCHMARK(BM_FullConnect)->UseRealTime()->Unit(benchmark::kMicrosecond);

int tcpConnect(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

void BM_BareTls13Handshake(benchmark::State& state) {
    TlsPeer peer(serving(true), 0);
    // The library's client settings: TLS 1.3 only, the two suites, no
    // verification.
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_min_proto_version(ctx, TLS1_3_VERSION);
    SSL_CTX_set_max_proto_version(ctx, TLS1_3_VERSION);
    SSL_CTX_set_ciphersuites(ctx, "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384");
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    for (auto _ : state) {
        const int fd = tcpConnect(peer.port());
        SSL* ssl = fd >= 0 ? SSL_new(ctx) : nullptr;
        const bool ok = ssl != nullptr && SSL_set_fd(ssl, fd) == 1 && SSL_connect(ssl) == 1;
        SSL_free(ssl);
        if (fd >= 0) {
            ::close(fd);
        }
        if (!ok) {
            state.SkipWithError("bare handshake failed");
            break;
        }
    }
    SSL_CTX_free(ctx);
}
BENCHMARK(BM_BareTls13Handshake)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The console output as usual, plus the ratio of the two means at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) {
                continue;
            }
            // With repetitions the mean stands for the benchmark.
            if (run.run_type == Run::RT_Iteration && mean_.count(run.run_name.function_name) == 0) {
                realTime_[run.run_name.function_name] = run.GetAdjustedRealTime();
            } else if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "mean") {
                mean_[run.run_name.function_name] = true;
                realTime_[run.run_name.function_name] = run.GetAdjustedRealTime();
            }
        }
    }

    void printRatio() const {
        const auto full = realTime_.find(kFullConnect);
        const auto bare = realTime_.find(kBareHandshake);
        if (full == realTime_.end() || bare == realTime_.end() || bare->second <= 0) {
            return;
        }
        std::printf("connect (steps 1-8) / bare TLS 1.3 handshake: %.2f (%.1f us / %.1f us)\n",
                    full->second / bare->second, full->second, bare->second);
    }

private:
    std::map<std::string, double> realTime_;
    std::map<std::string, bool> mean_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatio();
    benchmark::Shutdown();
    return 0;
}

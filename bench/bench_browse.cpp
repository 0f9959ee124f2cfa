// What the tree view waits for after Connect: connect, list the data blocks
// and browse every block of a large program - 200 data blocks of 500
// members, 100 000 symbols - served in-process by the controller simulator
// over loopback TCP and TLS 1.3. Reports the time per symbol and symbols per
// second, for the whole road and for the browse alone once the type
// descriptions are cached (the walk, without the network).
#include "Program.h"
#include "Server.h"

#include <vemo/s7browse.h>
#include <vemo/s7client.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace {

using vemo::sim::Program;
using vemo::sim::Server;

constexpr uint32_t kTimeoutMs = 10000;

Server& simulator(uint32_t blocks, uint32_t members) {
    // One server per shape for the whole run; building and encoding the
    // program is not what is measured.
    static std::unique_ptr<Server> server;
    static std::pair<uint32_t, uint32_t> shape;
    if (!server || shape != std::make_pair(blocks, members)) {
        server.reset();
        vemo::sim::ServerOptions options;
        options.port = 0;
        server = std::make_unique<Server>(Program::generated(blocks, members), options);
        shape = {blocks, members};
    }
    return *server;
}

bool check(benchmark::State& state, uint8_t rc, const char* what) {
    if (rc == S7_OK) return true;
    state.SkipWithError(((std::string(what) + " failed: ") + s7_result_name(rc)).c_str());
    return false;
}

// Browses every listed block; the number of symbols, or 0 after an error.
uint64_t browseAll(benchmark::State& state, vemoc_s7_client* c, const s7_block_list& blocks) {
    uint64_t symbols = 0;
    for (uint32_t i = 0; i < blocks.count; ++i) {
        s7_symbol_list list{};
        if (!check(state, vemoc_s7_client_browse_block(c, &blocks.items[i], &list), "browse")) return 0;
        symbols += list.count;
        s7_symbol_list_free(&list);
    }
    return symbols;
}

void report(benchmark::State& state, uint64_t symbols) {
    const auto n = static_cast<double>(symbols);
    state.counters["symbols"] = benchmark::Counter(n);
    state.counters["symbols/s"] = benchmark::Counter(n, benchmark::Counter::kIsIterationInvariantRate);
    // Seconds per symbol, printed with an SI prefix (u = microseconds).
    state.counters["s/symbol"] =
        benchmark::Counter(n, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_ConnectListBrowse(benchmark::State& state) {
    Server& server = simulator(static_cast<uint32_t>(state.range(0)), static_cast<uint32_t>(state.range(1)));
    vemoc_s7_client* c = vemoc_s7_client_new();
    uint64_t symbols = 0;
    for (auto _ : state) {
        if (!check(state, vemoc_s7_client_connect(c, "127.0.0.1", server.port(), kTimeoutMs), "connect")) break;
        s7_block_list blocks{};
        if (!check(state, vemoc_s7_client_list_datablocks(c, &blocks), "list")) break;
        symbols = browseAll(state, c, blocks);
        s7_block_list_free(&blocks);
        vemoc_s7_client_disconnect(c);
        if (symbols == 0) break;
    }
    vemoc_s7_client_free(c);
    report(state, symbols);
}

void BM_BrowseCached(benchmark::State& state) {
    Server& server = simulator(static_cast<uint32_t>(state.range(0)), static_cast<uint32_t>(state.range(1)));
    vemoc_s7_client* c = vemoc_s7_client_new();
    s7_block_list blocks{};
    uint64_t symbols = 0;
    if (check(state, vemoc_s7_client_connect(c, "127.0.0.1", server.port(), kTimeoutMs), "connect") &&
        check(state, vemoc_s7_client_list_datablocks(c, &blocks), "list") && browseAll(state, c, blocks) != 0) {
        for (auto _ : state) {
            symbols = browseAll(state, c, blocks);
            if (symbols == 0) break;
        }
    }
    s7_block_list_free(&blocks);
    vemoc_s7_client_free(c);
    report(state, symbols);
}

// 200 data blocks of 500 members: the load of a large plant controller.
BENCHMARK(BM_ConnectListBrowse)->Args({200, 500})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BrowseCached)->Args({200, 500})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

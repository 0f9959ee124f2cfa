// What the tree view waits for after Connect: connect, list the data blocks
// and browse every block of a large program served in-process by the
// controller simulator over loopback TCP and TLS 1.3 - 200 data blocks of
// 500 members (100 000 symbols), one array of 1 000 000 elements, 1 000 000
// symbols nested 10 structures deep, 600 data blocks of 1 000 members whose
// type descriptions (19 MB) are longer than one answer is kept, so that
// they come a type at a time - and of a hostile one whose type
// descriptions carry 1 000 filler types while one block makes 16 million
// member visits that each look up a missing type. Reports the time per
// symbol and symbols per second, for the whole road and for the browse alone
// once the type descriptions are cached (the walk, without the network),
// and the most heap the library held at once during a connect, list and
// browse (the in-process simulator's own library blocks included, which are
// few while it answers).
#include "Faults.h"
#include "Program.h"
#include "Server.h"

#include <vemo/s7browse.h>
#include <vemo/s7client.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

namespace {

using vemo::sim::Program;
using vemo::sim::Server;

constexpr uint32_t kTimeoutMs = 10000;

// The library's heap, counted: every block carries its size in front.
class HeapCounter {
public:
    static std::size_t held() { return held_.load(); }
    static std::size_t peak() { return peak_.load(); }
    static void resetPeak() { peak_.store(held_.load()); }

    static const s7_alloc_hooks* hooks() {
        static const s7_alloc_hooks table{alloc, reallocate, release, nullptr};
        return &table;
    }

private:
    static constexpr std::size_t kHeader = alignof(std::max_align_t);

    static void add(std::size_t n) {
        const std::size_t now = held_.fetch_add(n) + n;
        std::size_t seen = peak_.load();
        while (now > seen && !peak_.compare_exchange_weak(seen, now)) {
        }
    }
    static void* alloc(void*, std::size_t n) { return reallocate(nullptr, nullptr, n); }
    static void* reallocate(void*, void* block, std::size_t n) {
        char* base = block != nullptr ? static_cast<char*>(block) - kHeader : nullptr;
        const std::size_t old = base != nullptr ? *reinterpret_cast<std::size_t*>(base) : 0;
        auto* grown = static_cast<char*>(std::realloc(base, n + kHeader));
        if (grown == nullptr) return nullptr;
        *reinterpret_cast<std::size_t*>(grown) = n;
        held_.fetch_sub(old);
        add(n);
        return grown + kHeader;
    }
    static void release(void*, void* block) {
        if (block == nullptr) return;
        char* base = static_cast<char*>(block) - kHeader;
        held_.fetch_sub(*reinterpret_cast<std::size_t*>(base));
        std::free(base);
    }

    static inline std::atomic<std::size_t> held_{0};
    static inline std::atomic<std::size_t> peak_{0};
};

// Installed before any handle or server exists, as the hooks require.
const bool kCounting = [] {
    s7_set_alloc_hooks(HeapCounter::hooks());
    return true;
}();

enum Shape : int64_t { kFlat, kArray, kDeep, kHostileTypes, kFlatInParts };
const char* const kShapeNames[] = {"flat_200x500", "array_1000000", "deep_1000000_x10", "hostile_types_1000",
                                   "flat_600x1000_in_parts"};

Server& simulator(Shape shape) {
    // One server per shape for the whole run; building and encoding the
    // program is not what is measured.
    static std::unique_ptr<Server> server;
    static Shape served = kFlat;
    if (!server || served != shape) {
        server.reset();
        vemo::sim::ServerOptions options;
        options.port = 0;
        Program program;
        switch (shape) {
        case kFlat: program = Program::generated(200, 500); break;
        case kArray: program = Program::generatedArray(1000000); break;
        case kDeep: program = Program::generatedDeep(1000000, 10); break;
        case kHostileTypes:
            program = Program::builtIn();
            options.controller.fault = vemo::sim::Fault::parse("hostile-types", 1000);
            break;
        // 19 MB of type descriptions, more than one answer is kept: the
        // first browse reads them and lets them go, then every browse
        // explores its block's type.
        case kFlatInParts: program = Program::generated(600, 1000); break;
        }
        server = std::make_unique<Server>(std::move(program), options);
        served = shape;
    }
    return *server;
}

bool check(benchmark::State& state, uint8_t rc, const char* what) {
    if (rc == S7_OK) return true;
    state.SkipWithError(((std::string(what) + " failed: ") + s7_result_name(rc)).c_str());
    return false;
}

// Browses every listed block; the number of symbols, or 0 after an error. A
// block of the hostile program may fail (it is the visit cap that ends it);
// what counts there is that it ends.
uint64_t browseAll(benchmark::State& state, vemoc_s7_client* c, const s7_block_list& blocks, bool failuresAllowed) {
    uint64_t symbols = 0;
    for (uint32_t i = 0; i < blocks.count; ++i) {
        s7_symbol_list list{};
        const uint8_t rc = vemoc_s7_client_browse_block(c, &blocks.items[i], &list);
        if (!failuresAllowed && !check(state, rc, "browse")) return 0;
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
    const auto shape = static_cast<Shape>(state.range(0));
    state.SetLabel(kShapeNames[shape]);
    Server& server = simulator(shape);
    vemoc_s7_client* c = vemoc_s7_client_new();
    uint64_t symbols = 0;
    const std::size_t before = HeapCounter::held();
    HeapCounter::resetPeak();
    for (auto _ : state) {
        if (!check(state, vemoc_s7_client_connect(c, "127.0.0.1", server.port(), kTimeoutMs), "connect")) break;
        s7_block_list blocks{};
        if (!check(state, vemoc_s7_client_list_datablocks(c, &blocks), "list")) break;
        symbols = browseAll(state, c, blocks, shape == kHostileTypes);
        s7_block_list_free(&blocks);
        vemoc_s7_client_disconnect(c);
        if (symbols == 0) break;
    }
    vemoc_s7_client_free(c);
    report(state, symbols);
    // browseAll holds one block's symbols at a time: for a program of one
    // block that is all of them, type descriptions and answers included.
    state.counters["library_peak_MB"] = static_cast<double>(HeapCounter::peak() - before) / 1e6;
    (void)kCounting;
}

void BM_BrowseCached(benchmark::State& state) {
    const auto shape = static_cast<Shape>(state.range(0));
    state.SetLabel(kShapeNames[shape]);
    Server& server = simulator(shape);
    vemoc_s7_client* c = vemoc_s7_client_new();
    s7_block_list blocks{};
    uint64_t symbols = 0;
    if (check(state, vemoc_s7_client_connect(c, "127.0.0.1", server.port(), kTimeoutMs), "connect") &&
        check(state, vemoc_s7_client_list_datablocks(c, &blocks), "list") && browseAll(state, c, blocks, false) != 0) {
        for (auto _ : state) {
            symbols = browseAll(state, c, blocks, false);
            if (symbols == 0) break;
        }
    }
    s7_block_list_free(&blocks);
    vemoc_s7_client_free(c);
    report(state, symbols);
}

BENCHMARK(BM_ConnectListBrowse)->DenseRange(kFlat, kFlatInParts)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BrowseCached)->DenseRange(kFlat, kDeep)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

// Reading a store of known controllers with 200 000 entries, as every
// connect does: the time of one lookup (the whole file read and checked)
// and the process's peak resident memory against the file's size.
#include "vemo/core/KnownControllers.h"

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

// A store of `count` entries at distinct addresses, written as the program
// writes one.
fs::path writeStore(std::size_t count) {
    const fs::path file = fs::temp_directory_path() / fmt::format("bench_known_{}.json", ::getpid());
    std::ofstream out(file);
    out << "{\n  \"version\": 1,\n  \"controllers\": [\n";
    for (std::size_t i = 0; i < count; ++i) {
        out << fmt::format(
            "    {{\n      \"host\": \"10.{}.{}.{}\",\n      \"port\": 102,\n      \"key\": "
            "\"SHA256:{:0>42}A\",\n      \"first_seen\": \"2026-12-10T08:00:00Z\",\n      \"last_seen\": "
            "\"2026-12-11T14:30:05Z\"\n    }}{}\n",
            (i >> 16) & 255, (i >> 8) & 255, i & 255, i, i + 1 < count ? "," : "");
    }
    out << "  ]\n}\n";
    return file;
}

void BM_LookupInLargeStore(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    const fs::path file = writeStore(count);
    const vemo::KnownControllers store(file);
    vemo::Fingerprint::Digest digest{};
    const vemo::Fingerprint key(digest);
    for (auto _ : state) {
        benchmark::DoNotOptimize(store.lookup("10.255.255.255", 102, key));
    }
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto bytes = static_cast<double>(fs::file_size(file));
    state.counters["file_MB"] = bytes / 1e6;
    state.counters["peak_RSS_MB"] = static_cast<double>(usage.ru_maxrss) / 1e3;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    fs::remove(file);
}
BENCHMARK(BM_LookupInLargeStore)->Arg(200000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

// Throughput of the VLQ codec, the field kind that dominates request and
// response bodies (ids, lengths, counts, most integer values).
#include "s7_cursor.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

// Values spread over every encoded length from 1 to 9 bytes.
std::vector<uint64_t> sampleValues() {
    std::vector<uint64_t> values;
    uint64_t x = 0x243F6A8885A308D3u;
    for (int i = 0; i < 4096; ++i) {
        x = x * 6364136223846793005u + 1442695040888963407u;
        values.push_back(x >> (i % 64));
    }
    return values;
}

std::vector<uint8_t> encodeAll(const std::vector<uint64_t>& values, bool isSigned) {
    size_t size = 0;
    for (uint64_t v : values) {
        size += isSigned ? s7_svlq_size64(static_cast<int64_t>(v)) : s7_vlq_size(v);
    }
    std::vector<uint8_t> buf(size);
    s7_cursor c{buf.data(), buf.data() + buf.size()};
    for (uint64_t v : values) {
        if (isSigned) {
            s7_write_svlq64(&c, static_cast<int64_t>(v));
        } else {
            s7_write_vlq64(&c, v);
        }
    }
    return buf;
}

void BM_WriteVlq64(benchmark::State& state) {
    const auto values = sampleValues();
    auto buf = encodeAll(values, false);
    for (auto _ : state) {
        s7_cursor c{buf.data(), buf.data() + buf.size()};
        for (uint64_t v : values) {
            s7_write_vlq64(&c, v);
        }
        benchmark::DoNotOptimize(c.cur);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(values.size()));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(buf.size()));
}

void BM_ReadVlq64(benchmark::State& state) {
    const auto values = sampleValues();
    auto buf = encodeAll(values, false);
    for (auto _ : state) {
        s7_cursor c{buf.data(), buf.data() + buf.size()};
        uint64_t v = 0;
        uint64_t sum = 0;
        while (s7_read_vlq64(&c, &v) == S7_STATUS_OK) {
            sum += v;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(values.size()));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(buf.size()));
}

void BM_WriteSvlq64(benchmark::State& state) {
    const auto values = sampleValues();
    auto buf = encodeAll(values, true);
    for (auto _ : state) {
        s7_cursor c{buf.data(), buf.data() + buf.size()};
        for (uint64_t v : values) {
            s7_write_svlq64(&c, static_cast<int64_t>(v));
        }
        benchmark::DoNotOptimize(c.cur);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(values.size()));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(buf.size()));
}

void BM_ReadSvlq64(benchmark::State& state) {
    const auto values = sampleValues();
    auto buf = encodeAll(values, true);
    for (auto _ : state) {
        s7_cursor c{buf.data(), buf.data() + buf.size()};
        int64_t v = 0;
        int64_t sum = 0;
        while (s7_read_svlq64(&c, &v) == S7_STATUS_OK) {
            sum ^= v;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(values.size()));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(buf.size()));
}

void BM_VlqSize(benchmark::State& state) {
    const auto values = sampleValues();
    for (auto _ : state) {
        uint64_t total = 0;
        for (uint64_t v : values) {
            total += s7_vlq_size(v) + s7_svlq_size64(static_cast<int64_t>(v));
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(values.size()) * 2);
}

BENCHMARK(BM_WriteVlq64);
BENCHMARK(BM_ReadVlq64);
BENCHMARK(BM_WriteSvlq64);
BENCHMARK(BM_ReadSvlq64);
BENCHMARK(BM_VlqSize);

}  // namespace

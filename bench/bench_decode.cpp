// Decoding the largest read answer the client accepts (16 MiB): the kind of
// answer the inspector asks for again every second when it shows big array
// tags. Eight items, each an array of DINT, REAL or BOOL elements with
// values like a running program's, written by the library's own encoder.
// Reports MB/s of answer data, and the most heap the decode held at once
// (counted through the allocation hooks) in bytes per answer byte.
#include "s7_request.h"
#include "s7_value_codec.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kAnswerSize = size_t{16} << 20;

// Header of a read response (function 1356), first byte, return value 0.
constexpr uint8_t kHead[] = {0x32, 0x00, 0x00, 0x05, 0x4C, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00};
// End of the values, empty error list, final field.
constexpr uint8_t kTrailer[] = {0x00, 0x00, 0x00};

enum class Kind { Dint, Real, Bool };

// One item's array with `count` elements: DINTs swing between -8099 and
// 8099 (two bytes each on the wire), REALs follow a sine, BOOLs toggle in
// runs.
s7_value* itemArray(Kind kind, uint32_t count, uint32_t seed) {
    const uint8_t type = kind == Kind::Dint ? S7_TYPE_I32 : kind == Kind::Real ? S7_TYPE_F32 : S7_TYPE_BOOL;
    s7_value* array = s7_value_new_array(type, S7_FLAG_ARRAY);
    for (uint32_t i = 0; array != nullptr && i < count; ++i) {
        s7_value* e = nullptr;
        switch (kind) {
        case Kind::Dint: {
            const auto magnitude = static_cast<int32_t>((i * 37 + seed) % 8000 + 100);
            e = s7_value_new_i32(i % 2 == 0 ? magnitude : -magnitude);
            break;
        }
        case Kind::Real: e = s7_value_new_f32(static_cast<float>(100.0 * std::sin(i * 0.001 + seed))); break;
        case Kind::Bool: e = s7_value_new_bool(((i + seed) / 7) % 2); break;
        }
        if (e == nullptr || s7_array_append(array, e) != S7_OK) {
            s7_value_free(e);
            s7_value_free(array);
            return nullptr;
        }
    }
    return array;
}

// Wire bytes of one element of each kind, to share the answer between them.
uint32_t elementBytes(Kind kind) { return kind == Kind::Dint ? 2 : kind == Kind::Real ? 4 : 1; }

Bytes readAnswer() {
    const Kind kinds[] = {Kind::Dint, Kind::Real, Kind::Bool, Kind::Dint,
                          Kind::Real, Kind::Bool, Kind::Dint, Kind::Real};
    constexpr size_t kItems = sizeof kinds / sizeof kinds[0];
    const size_t perItem = (kAnswerSize - sizeof kHead - sizeof kTrailer) / kItems - 16;
    Bytes answer(kHead, kHead + sizeof kHead);
    for (size_t i = 0; i < kItems; ++i) {
        s7_value* array = itemArray(kinds[i], static_cast<uint32_t>(perItem / elementBytes(kinds[i])),
                                    static_cast<uint32_t>(i));
        const uint32_t size = s7_value_size(array);
        if (array == nullptr || size == 0 || size > perItem + 8) {
            std::abort();
        }
        const size_t at = answer.size();
        answer.resize(at + 1 + size);
        answer[at] = static_cast<uint8_t>(i + 1);  // item number
        s7_cursor c{answer.data() + at + 1, answer.data() + answer.size()};
        if (s7_encode_value(&c, array) != S7_STATUS_OK || c.cur != c.end) {
            std::abort();
        }
        s7_value_free(array);
    }
    answer.insert(answer.end(), kTrailer, kTrailer + sizeof kTrailer);
    if (answer.size() > kAnswerSize) {
        std::abort();
    }
    return answer;
}

// Allocation hooks that keep the size of every block in front of it and
// follow the bytes held, and the most held at once.
struct HeapCount {
    size_t held = 0;
    size_t peak = 0;
};

constexpr size_t kPrefix = 16;

void* countedRealloc(void* context, void* block, size_t size) {
    auto* count = static_cast<HeapCount*>(context);
    size_t old = 0;
    uint8_t* base = nullptr;
    if (block != nullptr) {
        base = static_cast<uint8_t*>(block) - kPrefix;
        old = *reinterpret_cast<size_t*>(base);
    }
    auto* moved = static_cast<uint8_t*>(std::realloc(base, size + kPrefix));
    if (moved == nullptr) {
        return nullptr;
    }
    *reinterpret_cast<size_t*>(moved) = size;
    count->held = count->held - old + size;
    if (count->held > count->peak) {
        count->peak = count->held;
    }
    return moved + kPrefix;
}

void* countedAlloc(void* context, size_t size) { return countedRealloc(context, nullptr, size); }

void countedFree(void* context, void* block) {
    if (block == nullptr) {
        return;
    }
    auto* count = static_cast<HeapCount*>(context);
    uint8_t* base = static_cast<uint8_t*>(block) - kPrefix;
    count->held -= *reinterpret_cast<size_t*>(base);
    std::free(base);
}

void BM_DecodeReadAnswer(benchmark::State& state) {
    const Bytes answer = readAnswer();
    const auto length = static_cast<uint32_t>(answer.size());

    // The peak, from one decode under the counting hooks.
    HeapCount count;
    const s7_alloc_hooks hooks = {countedAlloc, countedRealloc, countedFree, &count};
    s7_set_alloc_hooks(&hooks);
    {
        s7_read_result result{};
        const uint8_t rc = s7_parse_read_response(answer.data(), length, &result);
        s7_read_result_free(&result);
        s7_set_alloc_hooks(nullptr);
        if (rc != S7_OK || count.held != 0) {
            state.SkipWithError("the answer did not decode, or left blocks behind");
            return;
        }
    }

    for (auto _ : state) {
        s7_read_result result{};
        const uint8_t rc = s7_parse_read_response(answer.data(), length, &result);
        if (rc != S7_OK) {
            state.SkipWithError("the answer did not decode");
            break;
        }
        benchmark::DoNotOptimize(result.values);
        state.PauseTiming();
        s7_read_result_free(&result);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * length);
    state.counters["answer_MiB"] = static_cast<double>(length) / (1 << 20);
    state.counters["peak_heap_MiB"] = static_cast<double>(count.peak) / (1 << 20);
    state.counters["peak_per_answer_byte"] = static_cast<double>(count.peak) / length;
}
BENCHMARK(BM_DecodeReadAnswer)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

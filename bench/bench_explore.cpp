// Decoding an explore response of the size the browse fetches once per
// connection: one object of class 534 whose children are the type-info
// objects of every data block and structure, each with its type-info list,
// its name list and a name attribute. Reports MB/s of response data.
#include "s7_request.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void u8(Bytes& b, uint32_t v) { b.push_back(static_cast<uint8_t>(v)); }
void be16(Bytes& b, uint32_t v) {
    u8(b, v >> 8);
    u8(b, v);
}
void be32(Bytes& b, uint32_t v) {
    be16(b, v >> 16);
    be16(b, v);
}
void le32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        u8(b, v >> (8 * i));
    }
}
void vlq(Bytes& b, uint32_t v) {
    uint8_t groups[5];
    int n = 0;
    do {
        groups[n++] = static_cast<uint8_t>(v & 0x7F);
        v >>= 7;
    } while (v != 0);
    while (n > 1) {
        u8(b, groups[--n] | 0x80u);
    }
    u8(b, groups[0]);
}

// One type-info entry: an elementary member, a one-dimensional array or a
// structure member, in turn.
void entry(Bytes& b, uint32_t member, uint32_t which) {
    const uint32_t kind = which % 3 == 0 ? 2 : which % 3 == 1 ? 3 : 5;
    le32(b, member);
    le32(b, 0);
    u8(b, which % 3 == 2 ? 17 : 5);
    be16(b, kind << 12);
    u8(b, 0);
    le32(b, 0x00020001);  // info_a, info_b
    le32(b, member * 2);  // info_c
    le32(b, member * 4);  // info_d
    if (kind == 3) {
        le32(b, 0);   // lower bound
        le32(b, 10);  // element count
    } else if (kind == 5) {
        le32(b, 0x90000000 + member);  // struct_ref
        for (int i = 0; i < 4; ++i) {
            le32(b, 0);
        }
    }
}

Bytes typeObject(uint32_t id, uint32_t members) {
    Bytes b;
    u8(b, 0xA1);
    be32(b, id);
    vlq(b, 1);
    vlq(b, 0);
    vlq(b, 0);
    // Name attribute.
    const std::string name = "Type_" + std::to_string(id);
    u8(b, 0xA3);
    vlq(b, 233);
    u8(b, 0x00);
    u8(b, 0x15);
    vlq(b, static_cast<uint32_t>(name.size()));
    b.insert(b.end(), name.begin(), name.end());
    // Type-info list in one first block.
    Bytes entries;
    for (uint32_t m = 0; m < members; ++m) {
        entry(entries, m + 1, m + id);
    }
    u8(b, 0xAB);
    be16(b, static_cast<uint32_t>(entries.size() + 4));
    be32(b, 0);
    b.insert(b.end(), entries.begin(), entries.end());
    be16(b, 0);
    // Name list in one block.
    Bytes names;
    for (uint32_t m = 0; m < members; ++m) {
        char text[24];
        const int n = std::snprintf(text, sizeof text, "Member_%u", m);
        u8(names, static_cast<uint32_t>(n));
        names.insert(names.end(), text, text + n);
        u8(names, 0);
    }
    u8(b, 0xAC);
    be16(b, static_cast<uint32_t>(names.size()));
    b.insert(b.end(), names.begin(), names.end());
    be16(b, 0);
    u8(b, 0xA2);
    return b;
}

Bytes exploreResponse(uint32_t typeObjects, uint32_t members) {
    Bytes b = {0x32, 0x00, 0x00, 0x04, 0xBB, 0x00, 0x00, 0x00, 0x05};
    u8(b, 0);     // first byte
    vlq(b, 0);    // return value
    be32(b, 0);   // head word
    vlq(b, 0);    // head VLQ
    u8(b, 0xA1);  // the object of class 534
    be32(b, 537);
    vlq(b, 534);
    vlq(b, 0);
    vlq(b, 0);
    for (uint32_t i = 0; i < typeObjects; ++i) {
        const Bytes child = typeObject(0x90000000 + i, members);
        b.insert(b.end(), child.begin(), child.end());
    }
    u8(b, 0xA2);
    u8(b, 0x00);  // end of the object list
    return b;
}

void BM_ParseExploreResponse(benchmark::State& state) {
    const Bytes response = exploreResponse(static_cast<uint32_t>(state.range(0)), 12);
    for (auto _ : state) {
        s7_explore_result result{};
        const uint8_t rc = s7_parse_explore_response(response.data(), static_cast<uint32_t>(response.size()), &result);
        if (rc != S7_OK || result.object_count != 1) {
            state.SkipWithError("the response did not parse");
            break;
        }
        benchmark::DoNotOptimize(result.objects);
        s7_explore_result_free(&result);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(response.size()));
    state.counters["response_bytes"] = static_cast<double>(response.size());
}
BENCHMARK(BM_ParseExploreResponse)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);

}  // namespace

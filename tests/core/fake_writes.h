// A recording fake of the library's item limit and write, for the tests of
// the chunked write and of its callers. Plain functions, as the library's
// are, so the state is static: reset() it in every test.
#pragma once

#include "vemo/core/ChunkedWrite.h"

#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

namespace vemo::test {

// Writes answered without a controller. Every request's object ids and
// DINT values are recorded; an item of object id `refusedObject` is refused
// with error code 0x8104, the others written. The request of index
// `failingWrite` (counted over all requests) fails with `failCode`, after
// being recorded: the controller may have seen it.
struct FakeWrites {
    static inline std::uint32_t limit = 20;
    static inline std::uint8_t limitCode = S7_OK;
    static inline int failingWrite = -1;
    static inline std::uint8_t failCode = S7_ERR_TIMEOUT;
    static inline bool nullResults = false;
    static inline std::uint32_t refusedObject = 0;
    // Per request, the (object id, value) of each item, in request order.
    static inline std::vector<std::vector<std::pair<std::uint32_t, std::int32_t>>> requests;

    static void reset() {
        limit = 20;
        limitCode = S7_OK;
        failingWrite = -1;
        failCode = S7_ERR_TIMEOUT;
        nullResults = false;
        refusedObject = 0;
        requests.clear();
    }

    static std::uint8_t maxItems(const vemoc_s7_client* client, std::uint32_t* out) {
        if (client == nullptr) return S7_ERR_ARGUMENT;
        *out = limit;
        return limitCode;
    }

    static std::uint8_t write(vemoc_s7_client*, const s7_item_address* const* items, const s7_value* const* values,
                              std::uint32_t count, s7_write_result** results) {
        *results = nullptr;
        auto& request = requests.emplace_back();
        for (std::uint32_t i = 0; i < count; ++i) {
            std::int32_t v = 0;
            (void)s7_value_get_i32(values[i], &v);
            request.emplace_back(items[i]->object_id, v);
        }
        if (static_cast<int>(requests.size()) - 1 == failingWrite) return failCode;
        if (nullResults) return S7_OK;
        auto* array = static_cast<s7_write_result*>(std::calloc(count, sizeof(s7_write_result)));
        for (std::uint32_t i = 0; i < count; ++i) array[i].error = items[i]->object_id == refusedObject ? 0x8104 : 0;
        *results = array;
        return S7_OK;
    }

    static WriteCalls calls() { return WriteCalls{&maxItems, &write}; }
};

}  // namespace vemo::test

// A recording fake of the library's item limit and read, for the tests of
// the chunked read and of the inspector's refresh. Plain functions, as the
// library's are, so the state is static: reset() it in every test.
#pragma once

#include "vemo/core/ChunkedRead.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace vemo::test {

// Reads answered without a controller: every value is a DINT of object id
// times 100 plus refreshNumber, so a text tells which address it was read
// for (and, where a test counts refreshNumber up, when); an address of
// object id `refusedObject` is refused with error code 0x8104 instead, and
// one of object id `mismatchedObject` answered with an array of two BOOLs,
// as a controller did for a DINT.
// Records the object ids of every request.
struct FakeReads {
    static inline std::uint32_t limit = 16;
    static inline std::uint8_t limitCode = S7_OK;
    static inline int failingRead = -1;  // index of the read that fails, counted over all reads
    static inline bool nullValues = false;
    static inline std::uint32_t refusedObject = 0;
    static inline std::uint32_t mismatchedObject = 0;
    static inline int refreshNumber = 0;
    static inline std::vector<std::vector<std::uint32_t>> requests;

    static void reset() {
        limit = 16;
        limitCode = S7_OK;
        failingRead = -1;
        nullValues = false;
        refusedObject = 0;
        mismatchedObject = 0;
        refreshNumber = 0;
        requests.clear();
    }

    static std::uint8_t maxReadItems(const vemoc_s7_client* client, std::uint32_t* out) {
        if (client == nullptr) return S7_ERR_ARGUMENT;
        *out = limit;
        return limitCode;
    }

    static std::uint8_t read(vemoc_s7_client*, const s7_item_address* const* items, std::uint32_t count,
                             s7_item_result** results) {
        std::vector<std::uint32_t> ids;
        for (std::uint32_t i = 0; i < count; ++i) ids.push_back(items[i]->object_id);
        requests.push_back(ids);
        if (static_cast<int>(requests.size()) - 1 == failingRead) return S7_ERR_READ;
        if (nullValues) {
            *results = nullptr;
            return S7_OK;
        }
        auto* array = static_cast<s7_item_result*>(std::calloc(count, sizeof(s7_item_result)));
        for (std::uint32_t i = 0; i < count; ++i) {
            if (ids[i] == refusedObject) {
                array[i].error = 0x8104;
            } else if (ids[i] == mismatchedObject) {
                array[i].value = s7_value_new_array(S7_TYPE_BOOL, S7_FLAG_ARRAY);
                for (const std::uint8_t flag : {1, 0}) (void)s7_array_append(array[i].value, s7_value_new_bool(flag));
            } else {
                array[i].value = s7_value_new_i32(static_cast<std::int32_t>(ids[i] * 100 + refreshNumber));
            }
        }
        *results = array;
        return S7_OK;
    }
};

}  // namespace vemo::test

// Parses the input as the body of a read response (behind a fixed header)
// or of a get-attribute response; every value handed out must encode to the
// size it announces and survive a decode/encode round trip unchanged.
#include "s7_request.h"
#include "s7_value_codec.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> withHeader(uint16_t functionCode, const uint8_t* data, size_t size) {
    const uint8_t head[9] = {
        0x32, 0x00, 0x00, static_cast<uint8_t>(functionCode >> 8), static_cast<uint8_t>(functionCode), 0x00,
        0x00, 0x00, 0x01};
    std::vector<uint8_t> b(sizeof head + size);
    std::memcpy(b.data(), head, sizeof head);
    if (size != 0) {
        std::memcpy(b.data() + sizeof head, data, size);
    }
    return b;
}

std::vector<uint8_t> encode(const s7_value* v) {
    std::vector<uint8_t> out(s7_value_size(v));
    s7_cursor c{out.data(), out.data() + out.size()};
    if (s7_encode_value(&c, v) != S7_STATUS_OK || c.cur != c.end) {
        std::abort();
    }
    return out;
}

// A value handed out encodes to the size it announces, and those bytes
// decode whole to a value that encodes to the very same bytes again.
void checkEncodes(const s7_value* v) {
    if (s7_value_size(v) == 0) {
        return;
    }
    std::vector<uint8_t> first = encode(v);
    // Without a memory budget: the encoding can be shorter than what was
    // decoded, and the budget goes by the input's length.
    s7_cursor again{first.data(), first.data() + first.size()};
    s7_value* second = nullptr;
    if (s7_decode_value_within(&again, nullptr, &second) != S7_STATUS_OK || again.cur != again.end) {
        std::abort();
    }
    const bool same = encode(second) == first;
    s7_value_free(second);
    if (!same) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool attribute = (data[0] & 1) != 0;
    ++data;
    --size;
    if (attribute) {
        const std::vector<uint8_t> response = withHeader(S7_FN_GET_ATTRIBUTE, data, size);
        s7_attribute_result result{};
        if (s7_parse_attribute_response(response.data(), static_cast<uint32_t>(response.size()), &result) ==
            S7_STATUS_OK) {
            checkEncodes(result.value);
        } else if (result.value != nullptr) {
            std::abort();
        }
        s7_attribute_result_free(&result);
        return 0;
    }
    const std::vector<uint8_t> response = withHeader(S7_FN_READ_VARIABLES, data, size);
    s7_read_result result{};
    if (s7_parse_read_response(response.data(), static_cast<uint32_t>(response.size()), &result) == S7_STATUS_OK) {
        for (uint32_t i = 0; i < result.value_count; ++i) {
            if (result.value_items[i] == 0) {
                std::abort();  // item number 0 ends the list
            }
            checkEncodes(result.values[i]);
        }
    } else if (result.values != nullptr || result.value_count != 0 || result.error_count != 0) {
        std::abort();
    }
    s7_read_result_free(&result);
    return 0;
}

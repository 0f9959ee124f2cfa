// Decodes the input as one value. Whatever decodes must size and encode
// consistently, and the encoded bytes must decode to a value that encodes to
// the very same bytes again.
#include "s7_value_codec.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

std::vector<uint8_t> encode(const s7_value* v) {
    const uint32_t size = s7_value_size(v);
    std::vector<uint8_t> out(size);
    s7_cursor c{out.data(), out.data() + out.size()};
    if (size == 0) {
        // Not writable: the encoder must refuse as well, given any room.
        std::vector<uint8_t> scratch(1 << 16);
        s7_cursor s{scratch.data(), scratch.data() + scratch.size()};
        if (s7_encode_value(&s, v) == S7_STATUS_OK) {
            std::abort();
        }
        return out;
    }
    if (s7_encode_value(&c, v) != S7_STATUS_OK || c.cur != c.end) {
        std::abort();
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> in(data, data + size);
    s7_cursor c{in.data(), in.data() + in.size()};
    s7_value* value = nullptr;
    if (s7_decode_value(&c, &value) != S7_STATUS_OK) {
        if (value != nullptr) {
            std::abort();  // a failed decode hands nothing out
        }
        return 0;
    }
    std::vector<uint8_t> first = encode(value);
    s7_value_free(value);
    if (first.empty()) {
        return 0;
    }
    // The encoding can be shorter than the input (VLQs written in fewer
    // bytes), so the memory budget of the first decode would not hold the
    // second: the round trip is checked without one.
    s7_cursor again{first.data(), first.data() + first.size()};
    s7_value* second = nullptr;
    if (s7_decode_value_within(&again, nullptr, &second) != S7_STATUS_OK || again.cur != again.end) {
        std::abort();
    }
    if (encode(second) != first) {
        std::abort();
    }
    s7_value_free(second);
    return 0;
}

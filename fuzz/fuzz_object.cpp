// Feeds the input to the object readers: the first byte chooses between an
// explore response, a create-object response (both behind a fixed header)
// and a bare object, which must then write and read back to the same bytes.
#include "s7_object.h"
#include "s7_request.h"

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

std::vector<uint8_t> write(const s7_object* o) {
    std::vector<uint8_t> out(s7_object_size(o));
    s7_cursor c{out.data(), out.data() + out.size()};
    if (!out.empty() && (s7_write_object(&c, o) != S7_STATUS_OK || c.cur != c.end)) {
        std::abort();
    }
    return out;
}

void bareObject(const uint8_t* data, size_t size) {
    std::vector<uint8_t> in(data, data + size);
    s7_cursor c{in.data(), in.data() + in.size()};
    s7_object* object = nullptr;
    if (s7_read_object(&c, &object) != S7_STATUS_OK) {
        return;
    }
    // Type-info and name lists are only read, never written: the round trip
    // covers the head, attributes, children and relations.
    const std::vector<uint8_t> first = write(object);
    s7_object_free(object);
    if (first.empty()) {
        return;
    }
    // Read back without a memory budget: the written form can be shorter
    // than what was read (VLQs in fewer bytes), and the budget goes by the
    // input's length.
    s7_cursor again{const_cast<uint8_t*>(first.data()), const_cast<uint8_t*>(first.data()) + first.size()};
    s7_object* second = nullptr;
    if (s7_read_object_within(&again, nullptr, &second) != S7_STATUS_OK || again.cur != again.end ||
        write(second) != first) {
        std::abort();
    }
    s7_object_free(second);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const uint8_t mode = data[0] % 3;
    ++data;
    --size;
    if (mode == 0) {
        const std::vector<uint8_t> response = withHeader(S7_FN_EXPLORE, data, size);
        s7_explore_result result{};
        const uint8_t rc = s7_parse_explore_response(response.data(), static_cast<uint32_t>(response.size()), &result);
        if (rc != S7_OK && (result.objects != nullptr || result.object_count != 0)) {
            std::abort();
        }
        s7_explore_result_free(&result);
    } else if (mode == 1) {
        const std::vector<uint8_t> response = withHeader(S7_FN_CREATE_OBJECT, data, size);
        s7_create_result result{};
        const uint8_t rc = s7_parse_create_response(response.data(), static_cast<uint32_t>(response.size()), &result);
        if (rc != S7_OK && (result.object != nullptr || result.object_ids != nullptr)) {
            std::abort();
        }
        s7_create_result_free(&result);
    } else {
        bareObject(data, size);
    }
    return 0;
}

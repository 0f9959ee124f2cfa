// Reads the input as a run of unsigned and signed VLQs and fixed-width
// fields, and checks that every value decoded re-encodes to something that
// decodes to the same value with the size its size function announces.
#include "s7_cursor.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> in(data, data + size);
    s7_cursor c{in.data(), in.data() + in.size()};
    uint8_t out[16];
    for (uint32_t step = 0; s7_remaining(&c) > 0; ++step) {
        s7_cursor w{out, out + sizeof out};
        s7_cursor r{out, out + sizeof out};
        if (step % 3 == 0) {
            uint64_t v = 0;
            if (s7_read_vlq64(&c, &v) != S7_STATUS_OK) {
                break;
            }
            uint64_t back = 0;
            if (s7_write_vlq64(&w, v) != S7_STATUS_OK || static_cast<uint32_t>(w.cur - out) != s7_vlq_size(v) ||
                s7_read_vlq64(&r, &back) != S7_STATUS_OK || back != v) {
                std::abort();
            }
        } else if (step % 3 == 1) {
            int64_t v = 0;
            if (s7_read_svlq64(&c, &v) != S7_STATUS_OK) {
                break;
            }
            int64_t back = 0;
            if (s7_write_svlq64(&w, v) != S7_STATUS_OK || static_cast<uint32_t>(w.cur - out) != s7_svlq_size64(v) ||
                s7_read_svlq64(&r, &back) != S7_STATUS_OK || back != v) {
                std::abort();
            }
        } else {
            uint16_t v = 0;
            if (s7_read_u16(&c, &v) != S7_STATUS_OK) {
                break;
            }
        }
    }
    return 0;
}

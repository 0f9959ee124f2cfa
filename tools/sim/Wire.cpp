#include "Wire.h"

#include <stdexcept>

namespace vemo::sim {

template <typename F>
void Writer::put(uint32_t n, F write) {
    const size_t at = out_.size();
    out_.resize(at + n);
    s7_cursor c{out_.data() + at, out_.data() + at + n};
    if (write(&c) != S7_STATUS_OK || c.cur != c.end) {
        throw std::logic_error("simulator: a field did not fit its computed size");
    }
}

void Writer::u16(uint16_t v) {
    put(2, [v](s7_cursor* c) { return s7_write_u16(c, v); });
}

void Writer::u32(uint32_t v) {
    put(4, [v](s7_cursor* c) { return s7_write_u32(c, v); });
}

void Writer::vlq(uint64_t v) {
    put(s7_vlq_size(v), [v](s7_cursor* c) { return s7_write_vlq64(c, v); });
}

void Writer::svlq(int64_t v) {
    put(s7_svlq_size64(v), [v](s7_cursor* c) { return s7_write_svlq64(c, v); });
}

void Writer::bytes(const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    out_.insert(out_.end(), p, p + n);
}

void Writer::le16(uint16_t v) {
    u8(static_cast<uint8_t>(v));
    u8(static_cast<uint8_t>(v >> 8));
}

void Writer::le32(uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        u8(static_cast<uint8_t>(v >> (8 * i)));
    }
}

void Writer::value(const s7_value* v) {
    const uint32_t n = s7_value_size(v);
    if (n == 0) {
        throw std::logic_error("simulator: a value the codec cannot write");
    }
    put(n, [v](s7_cursor* c) { return s7_encode_value(c, v); });
}

}  // namespace vemo::sim

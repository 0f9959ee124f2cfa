// Byte writer of the simulator: what the controller sends - responses,
// objects with their type-info and name lists, values - built with the
// client library's own cursor and value primitives, so every field has
// exactly the form the client's decoders read.
#pragma once

#include "s7_cursor.h"
#include "s7_value_codec.h"

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace vemo::sim {

using Bytes = std::vector<uint8_t>;

struct ValueDeleter {
    void operator()(s7_value* v) const { s7_value_free(v); }
};
using ValuePtr = std::unique_ptr<s7_value, ValueDeleter>;

class Writer {
public:
    explicit Writer(Bytes& out) : out_(out) {}

    void u8(uint8_t v) { out_.push_back(v); }
    void u16(uint16_t v);
    void u32(uint32_t v);
    void vlq(uint64_t v);
    void svlq(int64_t v);
    void bytes(const void* data, size_t n);
    void text(std::string_view s) { bytes(s.data(), s.size()); }
    // Little-endian fields, as inside type-info records.
    void le16(uint16_t v);
    void le32(uint32_t v);
    // A value in the form of the value codec (flag, type, payload). Throws
    // when the codec cannot write it, which means a bug in the simulator.
    void value(const s7_value* v);

    size_t size() const { return out_.size(); }
    Bytes& buffer() { return out_; }

private:
    // Runs one cursor write into `n` fresh bytes at the end.
    template <typename F>
    void put(uint32_t n, F write);

    Bytes& out_;
};

}  // namespace vemo::sim

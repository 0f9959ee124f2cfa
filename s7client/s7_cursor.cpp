#include "s7_cursor.h"

#include <cstring>

namespace {

// VLQ values never take more than nine bytes: eight 7-bit groups and a
// final byte that carries all 8 bits.
constexpr int kVlqMaxBytes = 9;

// Below this an unsigned VLQ uses the short form of up to eight 7-bit groups.
constexpr uint64_t kVlqShortLimit = uint64_t{1} << 56;
// Below this magnitude a signed VLQ uses the short form; the leading group
// holds a sign bit, so it reaches one bit less far than the unsigned form.
constexpr uint64_t kSvlqShortLimit = uint64_t{1} << 55;

bool usable(const s7_cursor* c) { return c != nullptr && c->cur != nullptr && c->end != nullptr && c->cur <= c->end; }

bool has(const s7_cursor* c, uint32_t n) { return usable(c) && static_cast<uint64_t>(c->end - c->cur) >= n; }

uint64_t magnitude(int64_t v) {
    // Two's complement negation in unsigned arithmetic: defined for INT64_MIN.
    return v < 0 ? ~static_cast<uint64_t>(v) + 1 : static_cast<uint64_t>(v);
}

// Fills the low end of `scratch` with the long (nine-byte) form shared by
// both flavours: eight 7-bit groups of bits 8..63, then the low byte whole.
void longForm(uint64_t bits, uint8_t* scratch) {
    for (int k = 7; k >= 0; --k) {
        scratch[7 - k] = static_cast<uint8_t>(((bits >> (8 + 7 * k)) & 0x7F) | 0x80);
    }
    scratch[8] = static_cast<uint8_t>(bits & 0xFF);
}

// Short form of n groups of 7 bits, most significant first. For the signed
// flavour `bits` is the two's complement pattern; at most 56 bits are taken,
// so a logical shift of the pattern gives the same groups as an arithmetic
// shift of the value.
void shortForm(uint64_t bits, uint32_t n, uint8_t* scratch) {
    for (uint32_t k = n - 1; k >= 1; --k) {
        scratch[n - 1 - k] = static_cast<uint8_t>(((bits >> (7 * k)) & 0x7F) | 0x80);
    }
    scratch[n - 1] = static_cast<uint8_t>(bits & 0x7F);
}

s7_status putBytes(s7_cursor* c, const uint8_t* bytes, uint32_t n) {
    if (!has(c, n)) {
        return S7_STATUS_BOUNDS;
    }
    std::memcpy(c->cur, bytes, n);
    c->cur += n;
    return S7_STATUS_OK;
}

// Shared by both VLQ readers: `acc` arrives holding the first byte's
// contribution, and the first byte itself tells whether more follow.
s7_status readVlqTail(s7_cursor* c, uint8_t first, uint64_t acc, uint64_t* out) {
    uint8_t byte = first;
    int count = 1;
    while ((byte & 0x80) != 0) {
        const s7_status rc = s7_read_u8(c, &byte);
        if (rc != S7_STATUS_OK) {
            return rc;
        }
        ++count;
        if (count == kVlqMaxBytes) {
            *out = (acc << 8) + byte;
            return S7_STATUS_OK;
        }
        acc = (acc << 7) + (byte & 0x7F);
    }
    *out = acc;
    return S7_STATUS_OK;
}

}  // namespace

extern "C" {

uint32_t s7_remaining(const s7_cursor* c) { return usable(c) ? static_cast<uint32_t>(c->end - c->cur) : 0; }

s7_status s7_skip(s7_cursor* c, uint32_t n) {
    if (!has(c, n)) {
        return S7_STATUS_BOUNDS;
    }
    c->cur += n;
    return S7_STATUS_OK;
}

s7_status s7_read_u8(s7_cursor* c, uint8_t* out) {
    if (out == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    if (!has(c, 1)) {
        return S7_STATUS_BOUNDS;
    }
    *out = *c->cur++;
    return S7_STATUS_OK;
}

s7_status s7_read_u16(s7_cursor* c, uint16_t* out) {
    if (out == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    if (!has(c, 2)) {
        return S7_STATUS_BOUNDS;
    }
    *out = static_cast<uint16_t>((c->cur[0] << 8) | c->cur[1]);
    c->cur += 2;
    return S7_STATUS_OK;
}

s7_status s7_read_u32(s7_cursor* c, uint32_t* out) {
    if (out == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    if (!has(c, 4)) {
        return S7_STATUS_BOUNDS;
    }
    *out = (uint32_t{c->cur[0]} << 24) | (uint32_t{c->cur[1]} << 16) | (uint32_t{c->cur[2]} << 8) | uint32_t{c->cur[3]};
    c->cur += 4;
    return S7_STATUS_OK;
}

s7_status s7_read_vlq64(s7_cursor* c, uint64_t* out) {
    if (out == nullptr || c == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    uint8_t first = 0;
    s7_status rc = s7_read_u8(c, &first);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    return readVlqTail(c, first, first & 0x7F, out);
}

s7_status s7_read_vlq32(s7_cursor* c, uint32_t* out) {
    if (out == nullptr || c == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    uint64_t v = 0;
    const s7_status rc = s7_read_vlq64(c, &v);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    if (v > UINT32_MAX) {
        return S7_STATUS_RANGE;
    }
    *out = static_cast<uint32_t>(v);
    return S7_STATUS_OK;
}

s7_status s7_read_svlq64(s7_cursor* c, int64_t* out) {
    if (out == nullptr || c == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    uint8_t first = 0;
    s7_status rc = s7_read_u8(c, &first);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    // Bit 6 of the first byte is the sign: the accumulator starts negative
    // and the following groups are added in unsigned (wrapping) arithmetic.
    uint64_t acc = (first & 0x40) != 0 ? static_cast<uint64_t>(int64_t{-64} + (first & 0x3F)) : uint64_t{first & 0x7Fu};
    uint64_t bits = 0;
    rc = readVlqTail(c, first, acc, &bits);
    if (rc == S7_STATUS_OK) {
        *out = static_cast<int64_t>(bits);
    }
    return rc;
}

s7_status s7_write_u8(s7_cursor* c, uint8_t v) { return putBytes(c, &v, 1); }

s7_status s7_write_u16(s7_cursor* c, uint16_t v) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    return putBytes(c, bytes, 2);
}

s7_status s7_write_u32(s7_cursor* c, uint32_t v) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                              static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    return putBytes(c, bytes, 4);
}

s7_status s7_write_u64(s7_cursor* c, uint64_t v) {
    if (!has(c, 8)) {
        return S7_STATUS_BOUNDS;
    }
    s7_write_u32(c, static_cast<uint32_t>(v >> 32));
    return s7_write_u32(c, static_cast<uint32_t>(v));
}

s7_status s7_write_bytes(s7_cursor* c, const void* src, uint32_t len) {
    if (len == 0) {
        return S7_STATUS_OK;
    }
    if (src == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    return putBytes(c, static_cast<const uint8_t*>(src), len);
}

uint32_t s7_vlq_size(uint64_t v) {
    if (v >= kVlqShortLimit) {
        return kVlqMaxBytes;
    }
    uint32_t n = 1;
    while ((v >>= 7) != 0) {
        ++n;
    }
    return n;
}

uint32_t s7_svlq_size64(int64_t v) {
    uint64_t m = magnitude(v);
    if (m >= kSvlqShortLimit) {
        return kVlqMaxBytes;
    }
    uint32_t n = 1;
    for (; m >= 64; m >>= 7) {
        ++n;
    }
    return n;
}

uint32_t s7_svlq_size32(int32_t v) {
    uint64_t m = magnitude(v);
    uint32_t n = 1;
    for (; m >= 64; m >>= 7) {
        ++n;
    }
    return n;
}

s7_status s7_write_vlq64(s7_cursor* c, uint64_t v) {
    uint8_t scratch[kVlqMaxBytes];
    uint32_t n = s7_vlq_size(v);
    if (n == kVlqMaxBytes) {
        longForm(v, scratch);
    } else {
        shortForm(v, n, scratch);
    }
    return putBytes(c, scratch, n);
}

s7_status s7_write_svlq64(s7_cursor* c, int64_t v) {
    uint8_t scratch[kVlqMaxBytes];
    uint32_t n = s7_svlq_size64(v);
    uint64_t bits = static_cast<uint64_t>(v);
    if (n == kVlqMaxBytes) {
        longForm(bits, scratch);
    } else {
        shortForm(bits, n, scratch);
    }
    return putBytes(c, scratch, n);
}

}  // extern "C"

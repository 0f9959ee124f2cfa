// The ISO-on-TCP frame reader and the TLS-start reply, against a peer that
// sends the input. The first byte chooses what runs and how:
//   byte % 3 == 0  s7_iso_read_frame over the rest as the TCP stream, frame
//                  after frame, each checked against a model of the framing;
//   byte % 3 == 1  s7_tls_start: its request must reach the peer as one
//                  data frame, the rest of the input is the reply stream;
//   byte % 3 == 2  s7_tls_start_parse_reply on the rest as the payload.
// (byte / 3) % 4 picks the frame reader's buffer size, (byte / 12) % 2
// whether the peer closes after its last byte or falls silent.
#include "scripted_peer.h"

#include "s7_iso.h"
#include "s7_protocol.h"
#include "s7_tls.h"
#include "s7_tls_start.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The receive buffer of the TLS channel, a small one, the TLS-start reply's
// and none at all.
constexpr uint32_t kCapacities[4] = {S7_TLS_RECEIVE_CAPACITY, 1024, S7_TLS_START_REPLY_MAX, 0};

struct Expected {
    s7_status status;
    size_t payloadAt = 0;
    uint32_t payloadLength = 0;
};

// What one frame read should give for the stream from `pos` on, and where
// the next frame starts.
Expected model(const uint8_t* s, size_t size, size_t& pos, uint32_t capacity, bool closed) {
    const s7_status cut = closed ? S7_STATUS_CLOSED : S7_STATUS_TIMEOUT;
    if (size - pos < 4) {
        return {cut};
    }
    const uint8_t* tpkt = s + pos;
    const uint32_t length = (uint32_t{tpkt[2]} << 8) | tpkt[3];
    if (tpkt[0] != S7_TPKT_VERSION || tpkt[1] != 0 || length < S7_ISO_HEADER_SIZE) {
        return {S7_STATUS_PROTOCOL};
    }
    if (size - pos < S7_ISO_HEADER_SIZE) {
        return {cut};
    }
    const uint8_t* cotp = tpkt + 4;
    const uint32_t rest = length - S7_ISO_HEADER_SIZE;
    if (cotp[1] == S7_COTP_CONNECT_CONFIRM) {
        if (size - pos < length) {
            return {cut};
        }
        pos += length;
        return {S7_STATUS_CONFIRM};
    }
    if (cotp[0] != S7_COTP_DATA_HEADER_LENGTH || cotp[1] != S7_COTP_DATA || cotp[2] != S7_COTP_END_OF_TSDU) {
        return {S7_STATUS_PROTOCOL};
    }
    if (rest > capacity) {
        return {S7_STATUS_TOO_LARGE};
    }
    if (size - pos < length) {
        return {cut};
    }
    const Expected e{S7_STATUS_OK, pos + S7_ISO_HEADER_SIZE, rest};
    pos += length;
    return e;
}

void readFrames(const ScriptedPeer& peer, s7_iso_transport* transport, uint32_t capacity) {
    std::vector<uint8_t> buffer(capacity + 1);
    size_t pos = 0;
    for (;;) {
        uint32_t length = 0xFFFFFFFF;
        const s7_status rc = s7_iso_read_frame(transport, buffer.data(), capacity, &length, 0);
        const Expected e = model(peer.data(), peer.size(), pos, capacity, peer.closed());
        if (rc != e.status || length != e.payloadLength ||
            (length != 0 && std::memcmp(buffer.data(), peer.data() + e.payloadAt, length) != 0)) {
            std::abort();
        }
        if (rc != S7_STATUS_OK && rc != S7_STATUS_CONFIRM) {
            return;
        }
    }
}

void tlsStart(ScriptedPeer& peer, s7_iso_transport* transport) {
    s7_tls_start_result result{7, 7};
    const s7_status rc = s7_tls_start(transport, 0, &result);
    // The request went out as one data frame, whatever came back.
    const std::vector<uint8_t> sent = peer.received();
    if (sent.size() != size_t{S7_ISO_HEADER_SIZE} + S7_TLS_START_SIZE || sent[3] != sent.size() ||
        std::memcmp(sent.data() + S7_ISO_HEADER_SIZE, s7_tls_start_request, S7_TLS_START_SIZE) != 0) {
        std::abort();
    }
    size_t pos = 0;
    const Expected e = model(peer.data(), peer.size(), pos, S7_TLS_START_REPLY_MAX, peer.closed());
    s7_tls_start_result parsed{};
    // A peer that falls silent keeps its time-out; every other trouble with
    // the reply is a refusal of the protocol.
    const s7_status want = e.status == S7_STATUS_TIMEOUT ? S7_STATUS_TIMEOUT
                           : e.status != S7_STATUS_OK
                               ? S7_STATUS_PROTOCOL
                               : s7_tls_start_parse_reply(peer.data() + e.payloadAt, e.payloadLength, &parsed);
    if (rc != want ||
        (rc == S7_STATUS_OK && (result.return_value != parsed.return_value || result.error != parsed.error))) {
        std::abort();
    }
}

uint64_t vlq(const uint8_t* p, const uint8_t* end, bool* ok) {
    uint64_t v = 0;
    for (int i = 0; p + i < end; ++i) {
        if (i == 8) {
            *ok = true;
            return (v << 8) | p[i];  // the ninth byte carries all its 8 bits
        }
        v = (v << 7) | (p[i] & 0x7F);
        if ((p[i] & 0x80) == 0) {
            *ok = true;
            return v;
        }
    }
    *ok = false;
    return 0;
}

void parseReply(const uint8_t* data, size_t size) {
    s7_tls_start_result result{};
    const s7_status rc = s7_tls_start_parse_reply(data, static_cast<uint32_t>(size), &result);
    // Accepted: a version-1 frame of a TLS-start response whose return
    // value, read between the frame head and the trailer, is what we read.
    // Frame head 4, marker, 2 bytes, function, 5 bytes: the value at 14,
    // with at least one byte of it before the 4-byte trailer.
    bool ok = false;
    const uint64_t value = size >= 19 ? vlq(data + 14, data + size - 4, &ok) : 0;
    const bool acceptable = size >= 19 && data[0] == S7_FRAME_START && data[1] == S7_FRAME_VERSION_1 &&
                            data[4] == S7_MARKER_RESPONSE && data[7] == (S7_FN_TLS_START >> 8) &&
                            data[8] == (S7_FN_TLS_START & 0xFF) && ok;
    if ((rc == S7_STATUS_OK) != acceptable) {
        std::abort();
    }
    if (rc == S7_STATUS_OK &&
        (result.return_value != value || result.error != ((value & S7_TLS_START_ERROR_BIT) != 0 ? 1 : 0))) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const uint8_t mode = data[0] % 3;
    const uint32_t capacity = kCapacities[(data[0] / 3) % 4];
    const bool closeAfter = (data[0] / 12) % 2 != 0;
    ++data;
    --size;
    if (mode == 2) {
        parseReply(data, size);
        return 0;
    }
    ScriptedPeer peer(data, size, closeAfter);
    s7_iso_transport* transport = s7_iso_transport_new(peer.slot());
    if (peer.slot() == nullptr || transport == nullptr) {
        std::abort();
    }
    if (mode == 0) {
        readFrames(peer, transport, capacity);
    } else {
        tlsStart(peer, transport);
    }
    s7_iso_transport_free(transport);
    return 0;
}

#include "s7_iso.h"

#include "s7_memory.h"
#include "s7_protocol.h"

#include <cstring>

namespace {

// A connection confirm carries parameters we do not use; it is drained in
// small pieces so that no buffer has to hold the whole of it.
constexpr uint32_t kDiscardChunk = 64;

// The confirm is read into a scratch buffer of this size: a data frame in
// its place that is any larger is reported as too large.
constexpr uint32_t kConfirmScratch = 68;

constexpr uint8_t kDataHeader[3] = {S7_COTP_DATA_HEADER_LENGTH, S7_COTP_DATA, S7_COTP_END_OF_TSDU};

s7_status recvAll(s7_iso_transport* t, uint8_t* buf, uint32_t len, uint32_t timeout_ms) {
    return s7_socket_recv_exact(t->socket, buf, len, nullptr, timeout_ms);
}

}  // namespace

extern "C" {

const uint8_t s7_iso_connect_request[S7_ISO_CONNECT_REQUEST_SIZE] = {
    0x03, 0x00, 0x00, 0x24,              // TPKT, length 36
    0x1F, 0xE0, 0x00, 0x00, 0x00, 0x01,  // LI 31, CR, dst ref 0, src ref 1
    0x00,                                // class 0
    0xC0, 0x01, 0x0A,                    // TPDU size 1024
    0xC1, 0x02, 0x06, 0x00,              // calling TSAP
    0xC2, 0x10,                          // called TSAP, 16 bytes:
    'S',  'I',  'M',  'A',  'T',  'I',  'C', '-', 'R', 'O', 'O', 'T', '-', 'H', 'M', 'I'};

s7_iso_transport* s7_iso_transport_new(s7_socket* slot) {
    auto* t = static_cast<s7_iso_transport*>(s7_malloc(sizeof(s7_iso_transport)));
    if (t == nullptr) {
        return nullptr;
    }
    t->socket = slot;
    t->owns_socket = 0;
    if (slot == nullptr) {
        t->socket = s7_socket_new();
        if (t->socket == nullptr) {
            s7_free(t);
            return nullptr;
        }
        t->owns_socket = 1;
    }
    return t;
}

void s7_iso_transport_free(s7_iso_transport* transport) {
    if (transport == nullptr) {
        return;
    }
    if (transport->owns_socket != 0) {
        s7_socket_free(transport->socket);
    }
    s7_free(transport);
}

s7_status s7_iso_connect(s7_iso_transport* transport, const char* host, uint16_t port, uint32_t timeout_ms) {
    if (transport == nullptr || transport->socket == nullptr || host == nullptr || port == 0) {
        return S7_STATUS_ARGUMENT;
    }
    const s7_status rc = s7_socket_connect(transport->socket, host, port, timeout_ms);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    return s7_iso_confirm(transport, timeout_ms);
}

s7_status s7_iso_confirm(s7_iso_transport* transport, uint32_t timeout_ms) {
    if (transport == nullptr || transport->socket == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    s7_status rc =
        s7_socket_send_all(transport->socket, s7_iso_connect_request, sizeof s7_iso_connect_request, timeout_ms);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    uint8_t scratch[kConfirmScratch];
    uint32_t len = 0;
    rc = s7_iso_read_frame(transport, scratch, sizeof scratch, &len, timeout_ms);
    if (rc == S7_STATUS_CONFIRM) {
        return S7_STATUS_OK;
    }
    return rc == S7_STATUS_OK ? S7_STATUS_PROTOCOL : rc;
}

s7_status s7_iso_read_frame(s7_iso_transport* transport, uint8_t* buffer, uint32_t capacity, uint32_t* payload_len,
                            uint32_t timeout_ms) {
    if (transport == nullptr || transport->socket == nullptr || buffer == nullptr || payload_len == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    *payload_len = 0;

    uint8_t tpkt[4];
    s7_status rc = recvAll(transport, tpkt, sizeof tpkt, timeout_ms);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    const uint32_t packetLen = (uint32_t{tpkt[2]} << 8) | tpkt[3];
    if (tpkt[0] != S7_TPKT_VERSION || tpkt[1] != 0 || packetLen < S7_ISO_HEADER_SIZE) {
        return S7_STATUS_PROTOCOL;
    }

    uint8_t cotp[3];
    rc = recvAll(transport, cotp, sizeof cotp, timeout_ms);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    uint32_t rest = packetLen - S7_ISO_HEADER_SIZE;
    if (cotp[1] == S7_COTP_CONNECT_CONFIRM) {
        uint8_t discard[kDiscardChunk];
        while (rest > 0) {
            const uint32_t piece = rest < kDiscardChunk ? rest : kDiscardChunk;
            rc = recvAll(transport, discard, piece, timeout_ms);
            if (rc != S7_STATUS_OK) {
                return rc;
            }
            rest -= piece;
        }
        return S7_STATUS_CONFIRM;
    }
    if (std::memcmp(cotp, kDataHeader, sizeof kDataHeader) != 0) {
        return S7_STATUS_PROTOCOL;
    }
    if (rest > capacity) {
        return S7_STATUS_TOO_LARGE;
    }
    if (rest > 0) {
        rc = recvAll(transport, buffer, rest, timeout_ms);
        if (rc != S7_STATUS_OK) {
            return rc;
        }
    }
    *payload_len = rest;
    return S7_STATUS_OK;
}

s7_status s7_iso_write_frame(s7_iso_transport* transport, const uint8_t* payload, uint32_t len, uint32_t timeout_ms) {
    if (transport == nullptr || transport->socket == nullptr || (payload == nullptr && len != 0)) {
        return S7_STATUS_ARGUMENT;
    }
    if (len > S7_ISO_MAX_PAYLOAD) {
        return S7_STATUS_TOO_LARGE;
    }
    const uint32_t frameLen = len + S7_ISO_HEADER_SIZE;
    auto* frame = static_cast<uint8_t*>(s7_malloc(frameLen));
    if (frame == nullptr) {
        return S7_STATUS_NO_MEMORY;
    }
    frame[0] = S7_TPKT_VERSION;
    frame[1] = 0;
    frame[2] = static_cast<uint8_t>(frameLen >> 8);
    frame[3] = static_cast<uint8_t>(frameLen);
    std::memcpy(frame + 4, kDataHeader, sizeof kDataHeader);
    if (len > 0) {
        std::memcpy(frame + S7_ISO_HEADER_SIZE, payload, len);
    }
    const s7_status rc = s7_socket_send_all(transport->socket, frame, frameLen, timeout_ms);
    s7_free(frame);
    return rc;
}

}  // extern "C"

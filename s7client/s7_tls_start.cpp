#include "s7_tls_start.h"

#include "s7_cursor.h"
#include "s7_exchange.h"

namespace {

// The TLS-start reply must at least hold its frame head and the fixed part
// of the response header before the return value.
constexpr uint32_t kTlsStartMinReply = 11;

}  // namespace

extern "C" {

const uint8_t s7_tls_start_request[S7_TLS_START_SIZE] = {S7_FRAME_START,
                                                         S7_FRAME_VERSION_1,
                                                         0x00,
                                                         0x12,  // 18 data bytes
                                                         S7_MARKER_REQUEST,
                                                         0x00,
                                                         0x00,
                                                         0x05,
                                                         0xB3,
                                                         0x00,
                                                         0x00,  // function 1459
                                                         0x00,
                                                         0x00,  // sequence number 0
                                                         0x00,
                                                         0x00,
                                                         0x00,
                                                         0x00,  // session id 0
                                                         S7_BODY_TLS_START,
                                                         0x00,
                                                         0x00,
                                                         0x00,
                                                         0x00,  // target object 0
                                                         S7_FRAME_START,
                                                         S7_FRAME_VERSION_1,
                                                         0x00,
                                                         0x00};  // trailer

s7_status s7_tls_start_parse_reply(const uint8_t* payload, uint32_t len, s7_tls_start_result* result) {
    if (payload == nullptr || result == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    if (len < kTlsStartMinReply || payload[0] != S7_FRAME_START || payload[1] != S7_FRAME_VERSION_1) {
        return S7_STATUS_PROTOCOL;
    }
    // The header and return value lie between the frame head and the
    // trailer; the frame's own length field is not trusted.
    auto* start = const_cast<uint8_t*>(payload);
    s7_cursor c{start + S7_FRAME_HEAD_SIZE, start + len - S7_FRAME_TRAILER_SIZE};
    uint8_t marker = 0;
    uint16_t function = 0;
    uint64_t value = 0;
    if (s7_read_u8(&c, &marker) != S7_STATUS_OK || marker != S7_MARKER_RESPONSE || s7_skip(&c, 2) != S7_STATUS_OK ||
        s7_read_u16(&c, &function) != S7_STATUS_OK || function != S7_FN_TLS_START || s7_skip(&c, 5) != S7_STATUS_OK ||
        s7_read_vlq64(&c, &value) != S7_STATUS_OK) {
        return S7_STATUS_PROTOCOL;
    }
    result->return_value = value;
    result->error = (value & S7_TLS_START_ERROR_BIT) != 0 ? 1 : 0;
    return S7_STATUS_OK;
}

s7_status s7_tls_start(s7_iso_transport* transport, uint32_t timeout_ms, s7_tls_start_result* result) {
    if (transport == nullptr || result == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    const s7_status rc = s7_iso_write_frame(transport, s7_tls_start_request, sizeof s7_tls_start_request, timeout_ms);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    uint8_t reply[S7_TLS_START_REPLY_MAX];
    uint32_t len = 0;
    // Whatever goes wrong with the reply - a closed connection, a frame too
    // long for the buffer - means the controller did not agree; a controller
    // that does not answer at all keeps its time-out, so that it is not
    // taken for another kind of device.
    const s7_status read = s7_iso_read_frame(transport, reply, sizeof reply, &len, timeout_ms);
    if (read == S7_STATUS_TIMEOUT) {
        return S7_STATUS_TIMEOUT;
    }
    if (read != S7_STATUS_OK) {
        return S7_STATUS_PROTOCOL;
    }
    return s7_tls_start_parse_reply(reply, len, result);
}

}  // extern "C"

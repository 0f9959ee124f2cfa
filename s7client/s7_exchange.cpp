#include "s7_exchange.h"

#include "s7_cursor.h"
#include "s7_memory.h"

#include <cstring>

namespace {

bool usesCounterA(uint16_t functionCode) {
    switch (functionCode) {
    case S7_FN_CREATE_OBJECT:
    case 1236:
    case 1266:
    case S7_FN_SET_VALUES:
    case 1404: return true;
    default: return false;
    }
}

uint16_t nextSequence(s7_session* session) {
    // 0 marks the TLS-start request; a session's requests never carry it.
    session->sequence = session->sequence == 0xFFFF ? uint16_t{1} : static_cast<uint16_t>(session->sequence + 1);
    return session->sequence;
}

// The link of a connection's session: its TLS channel.
s7_status tlsWrite(void* context, const uint8_t* data, uint32_t len, uint32_t timeout_ms) {
    return s7_tls_write(static_cast<s7_tls_channel*>(context), data, len, timeout_ms);
}

s7_status tlsRead(void* context, uint8_t* buffer, uint32_t capacity, int32_t* count, uint32_t timeout_ms) {
    return s7_tls_read(static_cast<s7_tls_channel*>(context), buffer, capacity, count, timeout_ms);
}

uint16_t readU16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

s7_status sendRequest(s7_session* session, const s7_request* request, uint32_t timeout_ms) {
    uint8_t frame[S7_FRAME_SEND_BUFFER];
    uint32_t headerPending = S7_REQUEST_HEADER_SIZE;
    uint32_t remaining = request->length;
    const uint8_t* body = request->data;
    while (remaining != 0) {
        // 64 bits: a body near 4 GiB plus the header must not wrap.
        const uint64_t total = uint64_t{remaining} + headerPending;
        const uint32_t len =
            total < S7_FRAME_MAX_SEND_DATA ? static_cast<uint32_t>(total) : uint32_t{S7_FRAME_MAX_SEND_DATA};
        const uint32_t bodyBytes = len - headerPending;
        remaining -= bodyBytes;

        s7_cursor c{frame, frame + sizeof frame};
        s7_write_u8(&c, S7_FRAME_START);
        s7_write_u8(&c, request->version);
        s7_write_u16(&c, static_cast<uint16_t>(len));
        if (headerPending != 0) {
            s7_write_u8(&c, S7_MARKER_REQUEST);
            s7_write_u16(&c, 0);
            s7_write_u16(&c, request->function_code);
            s7_write_u16(&c, 0);
            s7_write_u16(&c, nextSequence(session));
            s7_write_u32(&c, session->session_id);
            headerPending = 0;
        }
        s7_write_bytes(&c, body, bodyBytes);
        body += bodyBytes;
        if (remaining == 0) {
            const uint8_t trailer[S7_FRAME_TRAILER_SIZE] = {S7_FRAME_START, request->version, 0, 0};
            s7_write_bytes(&c, trailer, sizeof trailer);
        }
        const auto frameLen = static_cast<uint32_t>(c.cur - frame);
        const s7_status rc = session->link.write(session->link.context, frame, frameLen, timeout_ms);
        if (rc != S7_STATUS_OK) {
            return rc;
        }
    }
    return S7_STATUS_OK;
}

// Appends one frame's data to the response; the block grows to exactly the
// new length. The caller has checked the length against its limit.
s7_status append(s7_response* response, const uint8_t* data, uint32_t len) {
    const uint32_t newLength = response->length + len;
    auto* grown = static_cast<uint8_t*>(s7_realloc(response->data, newLength));
    if (grown == nullptr) {
        return S7_STATUS_NO_MEMORY;
    }
    std::memcpy(grown + response->length, data, len);
    response->data = grown;
    response->length = newLength;
    return S7_STATUS_OK;
}

// Reads one response: its frames' data go into `response` up to `limit`
// bytes. A longer response is still read to its trailer, so that the
// stream stays matched to requests, but its data are let go: the caller
// learns it was too long and may ask for less.
s7_status receiveResponse(s7_session* session, uint8_t version, s7_response* response, uint32_t timeout_ms,
                          uint32_t limit) {
    s7_socket* const slot = session->link.socket;
    uint64_t received = 0;  // response bytes, kept or not
    uint64_t granted = 0;   // of them, those already paid for with more time
    bool discarding = false;
    uint8_t buffer[S7_FRAME_RECEIVE_BUFFER];
    uint32_t filled = 0;
    uint32_t frames = 0;
    for (;;) {
        while (filled >= S7_FRAME_HEAD_SIZE) {
            if (buffer[0] != S7_FRAME_START || buffer[1] != version) {
                return S7_STATUS_PROTOCOL;
            }
            const uint32_t len = readU16(buffer + 2);
            if (len > S7_FRAME_MAX_RECEIVE_DATA) {
                return S7_STATUS_PROTOCOL;
            }
            if (filled < len + S7_FRAME_HEAD_SIZE + S7_FRAME_TRAILER_SIZE) {
                break;
            }
            const uint8_t* next = buffer + S7_FRAME_HEAD_SIZE + len;
            if (next[0] != S7_FRAME_START || next[1] != version) {
                return S7_STATUS_PROTOCOL;
            }
            if (frames == (discarding ? uint32_t{S7_RESPONSE_MAX_DISCARD_FRAMES} : uint32_t{S7_RESPONSE_MAX_FRAMES})) {
                return S7_STATUS_PROTOCOL;
            }
            ++frames;
            if (len > 0) {
                received += len;
                if (!discarding && received > limit) {
                    // Too long to keep: what came so far goes, the rest
                    // is only counted.
                    discarding = true;
                    s7_response_clear(response);
                }
                if (discarding && received > S7_RESPONSE_MAX_DISCARD) {
                    return S7_STATUS_PROTOCOL;
                }
                if (!discarding) {
                    const s7_status rc = append(response, buffer + S7_FRAME_HEAD_SIZE, len);
                    if (rc != S7_STATUS_OK) {
                        return rc;
                    }
                }
                // A slow link with a large answer (the type descriptions of
                // a big program run to megabytes) keeps its connection as
                // long as the data comes at a rate of 64 KiB per time-out;
                // a trickle or a flood of empty frames earns nothing. The
                // size limits above bound the whole.
                while (received - granted >= S7_RESPONSE_GRANT_SIZE) {
                    granted += S7_RESPONSE_GRANT_SIZE;
                    s7_socket_extend_request(slot, timeout_ms);
                }
            }
            if (next[2] == 0 && next[3] == 0) {
                // The trailer: the response is complete. Anything behind it
                // belongs to no request and is dropped.
                return discarding ? S7_STATUS_ANSWER_TOO_LARGE : S7_STATUS_OK;
            }
            const uint32_t consumed = S7_FRAME_HEAD_SIZE + len;
            std::memmove(buffer, buffer + consumed, filled - consumed);
            filled -= consumed;
        }
        if (filled == sizeof buffer) {
            return S7_STATUS_PROTOCOL;
        }
        int32_t got = 0;
        const s7_status rc =
            session->link.read(session->link.context, buffer + filled, sizeof buffer - filled, &got, timeout_ms);
        if (rc != S7_STATUS_OK) {
            return rc;
        }
        filled += static_cast<uint32_t>(got);
    }
}

}  // namespace

extern "C" {

s7_session* s7_session_new_over(const s7_link* link) {
    if (link == nullptr || link->write == nullptr || link->read == nullptr) {
        return nullptr;
    }
    auto* session = static_cast<s7_session*>(s7_calloc(sizeof(s7_session)));
    if (session == nullptr) {
        return nullptr;
    }
    session->link = *link;
    session->session_id = S7_SESSION_INITIAL_ID;
    return session;
}

s7_session* s7_session_new(s7_tls_channel* tls) {
    if (tls == nullptr) {
        return nullptr;
    }
    const s7_link link{tlsWrite, tlsRead, tls, tls->transport != nullptr ? tls->transport->socket : nullptr};
    s7_session* session = s7_session_new_over(&link);
    if (session != nullptr) {
        session->tls = tls;
    }
    return session;
}

void s7_session_free(s7_session* session) { s7_free(session); }

uint32_t s7_session_next_counter(s7_session* session, uint16_t function_code) {
    if (session == nullptr) {
        return 0;
    }
    // Unsigned arithmetic: 0xFFFFFFFF is followed by 0.
    uint32_t& counter = usesCounterA(function_code) ? session->counter_a : session->counter_b;
    counter += 1;
    return counter;
}

void s7_response_clear(s7_response* response) {
    if (response == nullptr) {
        return;
    }
    s7_free(response->data);
    response->data = nullptr;
    response->length = 0;
}

s7_status s7_exchange(s7_session* session, const s7_request* request, s7_response* response, uint32_t timeout_ms) {
    return s7_exchange_within(session, request, response, timeout_ms, S7_RESPONSE_MAX_SIZE);
}

s7_status s7_exchange_within(s7_session* session, const s7_request* request, s7_response* response, uint32_t timeout_ms,
                             uint32_t max_length) {
    if (response != nullptr) {
        s7_response_clear(response);
    }
    if (session == nullptr || request == nullptr || response == nullptr || request->data == nullptr ||
        request->length == 0) {
        return S7_STATUS_ARGUMENT;
    }
    if (session->broken != 0) {
        return S7_STATUS_NOT_CONNECTED;
    }
    uint32_t limit = session->response_limit != 0 ? session->response_limit : uint32_t{S7_RESPONSE_MAX_SIZE};
    limit = limit < max_length ? limit : max_length;
    limit = limit < S7_RESPONSE_MAX_SIZE ? limit : uint32_t{S7_RESPONSE_MAX_SIZE};
    // The request and its whole answer share one deadline: a controller
    // that answers a byte at a time, or with empty frames, still ends here.
    s7_socket_begin_request(session->link.socket, timeout_ms);
    s7_status rc = sendRequest(session, request, timeout_ms);
    if (rc == S7_STATUS_OK) {
        rc = receiveResponse(session, request->version, response, timeout_ms, limit);
    }
    if (rc != S7_STATUS_OK) {
        // Only a response read to its end leaves the stream where the next
        // request can start.
        if (rc != S7_STATUS_ANSWER_TOO_LARGE) {
            session->broken = 1;
        }
        s7_response_clear(response);
    }
    return rc;
}

}  // extern "C"

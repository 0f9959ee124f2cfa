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
    if (session->sequence == 0xFFFF) {
        session->sequence = 1;
        session->wrapped = 1;
    } else {
        session->sequence = static_cast<uint16_t>(session->sequence + 1);
    }
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

// True when `sequence` is one of the S7_SEQUENCE_WINDOW numbers before the
// session's last request, counting the wrap from 0xFFFF to 1 (0 is never a
// session's number).
bool isEarlier(const s7_session* session, uint16_t sequence) {
    const uint16_t current = session->sequence;
    if (sequence == 0 || sequence == current) {
        return false;
    }
    uint32_t distance = 0;
    if (sequence < current) {
        distance = uint32_t{current} - sequence;
    } else if (session->wrapped != 0) {
        // 0xFFFF is followed by 1: from `sequence` up to 0xFFFF, then 1 to current.
        distance = (uint32_t{0xFFFF} - sequence) + current;
    } else {
        return false;  // a number the session has not reached yet
    }
    return distance <= S7_SEQUENCE_WINDOW;
}

// Reads the answer to the session's last request: its frames' data go into
// `response` up to `limit` bytes. A longer answer is still read to its
// trailer, so that the stream stays matched to requests, but its data are
// let go: the caller learns it was too long and may ask for less. An
// answer to an earlier request is read to its trailer, let go and counted,
// and reading goes on; an answer to any other request is a protocol error.
s7_status receiveResponse(s7_session* session, uint8_t version, s7_response* response, uint32_t timeout_ms,
                          uint32_t limit) {
    s7_socket* const slot = session->link.socket;
    uint8_t* const buffer = session->buffer;
    uint32_t& filled = session->pending;
    uint64_t total = 0;    // data bytes of every answer this exchange read
    uint64_t granted = 0;  // of them, those already paid for with more time
    uint32_t stale = 0;    // answers to earlier requests let go so far
    // The answer being read.
    uint64_t received = 0;  // its data bytes, kept or not
    uint32_t frames = 0;
    bool discarding = false;  // too long to keep
    bool earlier = false;     // answers an earlier request
    uint8_t header[S7_RESPONSE_HEADER_SIZE];
    uint32_t headerLength = 0;
    // The version byte of the answer's frames: its first frame sets it, the
    // others and the trailer repeat it. An answer to an earlier request has
    // that request's version, which need not be this one's (session set-up
    // goes in version 1): only the own answer must carry `version`.
    uint8_t frameVersion = 0;
    for (;;) {
        while (filled >= S7_FRAME_HEAD_SIZE) {
            const uint8_t v = buffer[1];
            if (buffer[0] != S7_FRAME_START || (v != S7_FRAME_VERSION_1 && v != S7_FRAME_VERSION_2) ||
                (frameVersion != 0 && v != frameVersion)) {
                return S7_STATUS_PROTOCOL;
            }
            frameVersion = v;
            const uint32_t len = readU16(buffer + 2);
            if (len > S7_FRAME_MAX_RECEIVE_DATA) {
                return S7_STATUS_PROTOCOL;
            }
            if (filled < len + S7_FRAME_HEAD_SIZE + S7_FRAME_TRAILER_SIZE) {
                break;
            }
            const uint8_t* data = buffer + S7_FRAME_HEAD_SIZE;
            const uint8_t* next = data + len;
            if (next[0] != S7_FRAME_START || next[1] != frameVersion) {
                return S7_STATUS_PROTOCOL;
            }
            const bool letGo = discarding || earlier;
            if (frames == (letGo ? uint32_t{S7_RESPONSE_MAX_DISCARD_FRAMES} : uint32_t{S7_RESPONSE_MAX_FRAMES})) {
                return S7_STATUS_PROTOCOL;
            }
            ++frames;
            if (len > 0) {
                if (headerLength < S7_RESPONSE_HEADER_SIZE) {
                    // The header may come in pieces, over frames of any size.
                    const uint32_t n = len < S7_RESPONSE_HEADER_SIZE - headerLength
                                           ? len
                                           : uint32_t{S7_RESPONSE_HEADER_SIZE} - headerLength;
                    std::memcpy(header + headerLength, data, n);
                    headerLength += n;
                    if (headerLength == S7_RESPONSE_HEADER_SIZE) {
                        const uint16_t sequence = readU16(header + S7_RESPONSE_SEQUENCE_OFFSET);
                        if (sequence != session->sequence) {
                            if (!isEarlier(session, sequence)) {
                                return S7_STATUS_PROTOCOL;
                            }
                            earlier = true;
                            s7_response_clear(response);
                        } else if (frameVersion != version) {
                            return S7_STATUS_PROTOCOL;
                        }
                    }
                }
                received += len;
                total += len;
                if (!discarding && !earlier && received > limit) {
                    // Too long to keep: what came so far goes, the rest
                    // is only counted.
                    discarding = true;
                    s7_response_clear(response);
                }
                if ((discarding || earlier) && received > S7_RESPONSE_MAX_DISCARD) {
                    return S7_STATUS_PROTOCOL;
                }
                if (!discarding && !earlier) {
                    const s7_status rc = append(response, data, len);
                    if (rc != S7_STATUS_OK) {
                        return rc;
                    }
                }
                // A slow link with a large answer (the type descriptions of
                // a big program run to megabytes) keeps its connection as
                // long as the data comes at a rate of 64 KiB per time-out;
                // a trickle or a flood of empty frames earns nothing. Only
                // as much data earns time as one answer may keep: bytes read
                // only to be let go (an answer too long, copies of earlier
                // answers) must come within the time already earned, so a
                // controller cannot hold a request for hours.
                while (total - granted >= S7_RESPONSE_GRANT_SIZE && granted < S7_RESPONSE_MAX_SIZE) {
                    granted += S7_RESPONSE_GRANT_SIZE;
                    s7_socket_extend_request(slot, timeout_ms);
                }
            }
            const bool last = next[2] == 0 && next[3] == 0;
            // Past the trailer starts whatever comes next: it stays for the
            // next answer.
            const uint32_t consumed = S7_FRAME_HEAD_SIZE + len + (last ? uint32_t{S7_FRAME_TRAILER_SIZE} : 0);
            std::memmove(buffer, buffer + consumed, filled - consumed);
            filled -= consumed;
            if (!last) {
                continue;
            }
            if (!earlier) {
                // Its own answer (or one shorter than a header, which the
                // caller's parser refuses).
                if (frameVersion != version) {
                    return S7_STATUS_PROTOCOL;
                }
                return discarding ? S7_STATUS_ANSWER_TOO_LARGE : S7_STATUS_OK;
            }
            if (session->discarded_answers != UINT32_MAX) {
                ++session->discarded_answers;
            }
            if (++stale > S7_EXCHANGE_MAX_STALE) {
                return S7_STATUS_PROTOCOL;
            }
            received = 0;
            frames = 0;
            discarding = false;
            earlier = false;
            headerLength = 0;
            frameVersion = 0;
        }
        if (filled == S7_FRAME_RECEIVE_BUFFER) {
            return S7_STATUS_PROTOCOL;
        }
        int32_t got = 0;
        const s7_status rc = session->link.read(session->link.context, buffer + filled,
                                                S7_FRAME_RECEIVE_BUFFER - filled, &got, timeout_ms);
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

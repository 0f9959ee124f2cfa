/*
 * Request/response exchange: protocol frames over the TLS channel and the
 * protocol session.
 *
 * A request is a body under a function code. The exchange puts the 13-byte
 * request header in front, cuts the message into frames of at most 987 data
 * bytes (0x72, version, u16 length, data), closes the last frame with the
 * 4-byte trailer (0x72, version, 0, 0) and writes each frame with one TLS
 * write; it reassembles the response frames the same way. Requests are
 * strictly sequential: one request, its whole response, then the next.
 *
 * Answers are matched to their requests by the sequence number of the
 * response header (its first 9 data bytes, the number at offset 7). An
 * answer is taken only for the request it answers. An answer to one of the
 * S7_SEQUENCE_WINDOW requests before it (a controller that answered a
 * request twice) is read to its end, let go and counted on the session,
 * and the exchange reads on for its own answer - at most
 * S7_EXCHANGE_MAX_STALE of them, past which the exchange fails. Any other
 * number (a later or unrelated request, 0) is a protocol error that ends
 * the session: the stream can no longer be matched to requests. An answer
 * shorter than the header is handed to the caller as it is, whose parser
 * refuses it. The frames of an answer carry one version byte, 1 or 2; an
 * answer to an earlier request may carry another than the request waiting
 * (session set-up goes in version 1), the request's own answer must carry
 * the request's. Bytes behind an answer's trailer are kept for the next
 * exchange, where they are the start of the next answer: a doubled answer
 * is recognised however the controller's bytes are cut into reads.
 *
 * The session borrows the TLS channel, through a link: the two calls that
 * move a message's bytes, and the socket slot whose deadlines bound each
 * exchange. A connection's session links to its channel; a test or a fuzz
 * target links a session to bytes of its own instead, without a handshake.
 * Responses are owned by the caller and released with s7_response_clear.
 */
#ifndef S7_EXCHANGE_H
#define S7_EXCHANGE_H

#include "s7_iso.h"
#include "s7_protocol.h"
#include "s7_status.h"
#include "s7_tls.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    S7_FRAME_HEAD_SIZE = 4,    /* 0x72, version, u16 data length */
    S7_FRAME_TRAILER_SIZE = 4, /* 0x72, version, 0, 0 */
    S7_REQUEST_HEADER_SIZE = 13,
    /* Data bytes of one outgoing frame; with head and trailer the largest
     * frame written is 995 bytes. */
    S7_FRAME_MAX_SEND_DATA = 987,
    S7_FRAME_SEND_BUFFER = S7_FRAME_HEAD_SIZE + S7_FRAME_MAX_SEND_DATA + S7_FRAME_TRAILER_SIZE,
    /* Data bytes of one incoming frame: the frame, its data and the next
     * frame's head (or the trailer) must fit the 1982-byte receive buffer. */
    S7_FRAME_MAX_RECEIVE_DATA = 1974,
    S7_FRAME_RECEIVE_BUFFER = S7_FRAME_HEAD_SIZE + S7_FRAME_MAX_RECEIVE_DATA + S7_FRAME_TRAILER_SIZE,
    /* A response cut into more frames is refused as malformed. One longer
     * than S7_RESPONSE_MAX_SIZE is not kept: it is read to its end and let
     * go, so that the session goes on and the caller can ask for less
     * (the type descriptions of a large program, one type at a time). */
    S7_RESPONSE_MAX_FRAMES = 16384,
    S7_RESPONSE_MAX_SIZE = 0x1000000,
    /* What is read and let go of a response too long to keep: past this,
     * or past this many frames, the response is refused as malformed and
     * the session ends. */
    S7_RESPONSE_MAX_DISCARD = 0x10000000,
    S7_RESPONSE_MAX_DISCARD_FRAMES = 0x40000,
    /* Every full 64 KiB of response data received gives the request one
     * more time-out: a large answer that keeps coming is not a stalled one. */
    S7_RESPONSE_GRANT_SIZE = 0x10000,
    /* The response header: the sequence number is the u16 at offset 7. */
    S7_RESPONSE_HEADER_SIZE = 9,
    S7_RESPONSE_SEQUENCE_OFFSET = 7,
    /* Answers to this many requests before the current one (counting the
     * wrap from 0xFFFF to 1) are let go as answered twice. */
    S7_SEQUENCE_WINDOW = 64,
    /* Answers to earlier requests one exchange lets go before it fails. */
    S7_EXCHANGE_MAX_STALE = 16
};

/* What a session's messages travel over. `write` sends all len bytes,
 * `read` hands over between 1 and capacity bytes in *count; both answer
 * with the statuses of s7_tls_write and s7_tls_read. */
typedef struct s7_link {
    s7_status (*write)(void* context, const uint8_t* data, uint32_t len, uint32_t timeout_ms);
    s7_status (*read)(void* context, uint8_t* buffer, uint32_t capacity, int32_t* count, uint32_t timeout_ms);
    void* context;     /* borrowed; passed to both calls */
    s7_socket* socket; /* borrowed; whose deadlines bound an exchange; null: none */
} s7_link;

typedef struct s7_session {
    s7_tls_channel* tls; /* borrowed; null for a session over a link of another kind */
    s7_link link;
    uint32_t session_id; /* written into every request header */
    uint32_t counter_a;  /* create object, set values and three codes not sent here */
    uint32_t counter_b;  /* every other function code */
    uint16_t sequence;   /* of the last request sent; never 0 after the first */
    uint8_t wrapped;     /* the sequence number has gone from 0xFFFF to 1 */
    /* Set when an exchange failed after its request went out: the rest of
     * that response may still be on its way, so the stream can no longer
     * be matched to requests. Every later exchange is refused. */
    uint8_t broken;
    /* The longest response kept, in bytes; 0 stands for S7_RESPONSE_MAX_SIZE,
     * and more than that counts as that. Set lower only by tests, which so
     * make a small program's answers too long to keep. */
    uint32_t response_limit;
    /* Answers to earlier requests that were let go, over the session's life. */
    uint32_t discarded_answers;
    /* Received bytes not yet consumed: the part of an answer read so far,
     * and after an answer's trailer what came behind it. */
    uint32_t pending;
    uint8_t buffer[S7_FRAME_RECEIVE_BUFFER];
} s7_session;

typedef struct s7_request {
    const uint8_t* data;    /* the body */
    uint32_t length;        /* body length, at least 1 */
    uint16_t function_code; /* S7_FN_* */
    uint8_t version;        /* protocol version byte of every frame, 1 or 2 */
} s7_request;

/* The reassembled data of a response, owned by the caller; both fields are
 * zero when it holds nothing. */
typedef struct s7_response {
    uint8_t* data;
    uint32_t length;
} s7_response;

/* A new session over the channel (borrowed): S7_SESSION_INITIAL_ID, counters and sequence
 * number 0. Null when memory runs out or the channel is null. */
s7_session* s7_session_new(s7_tls_channel* tls);

/* The same over another link (copied; what it points to is borrowed). Null
 * when memory runs out or the link lacks a call. */
s7_session* s7_session_new_over(const s7_link* link);

/* Releases the record only; nothing is sent. Null allowed. */
void s7_session_free(s7_session* session);

/* Advances the counter of the function code (counter A for create object,
 * set values, 1236, 1266 and 1404, counter B for the rest; 0xFFFFFFFF is
 * followed by 0)
 * and returns the new value. A request builder calls it once per request
 * that carries a counter. 0 for a null session. */
uint32_t s7_session_next_counter(s7_session* session, uint16_t function_code);

/* Releases the response's block and leaves it empty. Null allowed. */
void s7_response_clear(s7_response* response);

/*
 * Sends the request and reads its whole response. `response` must be empty
 * or hold an earlier response, which is released first; on 0 it holds the
 * response data (possibly none), on any failure it is empty. The request
 * and its whole response are bounded by timeout_ms together, plus one more
 * timeout_ms for every full S7_RESPONSE_GRANT_SIZE of response data, up to
 * S7_RESPONSE_MAX_SIZE of it (and by the deadline of the operation the
 * request belongs to, if any), however the controller cuts its answer into
 * frames, records or bytes.
 *
 * Returns S7_STATUS_OK, or S7_STATUS_ARGUMENT (null arguments, a body of 0
 * bytes), S7_STATUS_NO_MEMORY, S7_STATUS_TIMEOUT, S7_STATUS_PROTOCOL (bad
 * framing), S7_STATUS_TLS, S7_STATUS_NOT_CONNECTED (the controller closed
 * the connection, or an earlier exchange of the session failed midway),
 * S7_STATUS_ANSWER_TOO_LARGE (a well-framed response longer than the
 * session keeps, read to its end: the session goes on). S7_STATUS_PROTOCOL
 * also for an answer to another request than this one, or to an earlier
 * one more than S7_EXCHANGE_MAX_STALE times (see above). Every other
 * failure leaves the session unusable.
 */
s7_status s7_exchange(s7_session* session, const s7_request* request, s7_response* response, uint32_t timeout_ms);

/* The same, keeping at most `max_length` response bytes (or the session's
 * limit when that is lower): a longer response gives
 * S7_STATUS_ANSWER_TOO_LARGE. */
s7_status s7_exchange_within(s7_session* session, const s7_request* request, s7_response* response, uint32_t timeout_ms,
                             uint32_t max_length);

#ifdef __cplusplus
}
#endif

#endif

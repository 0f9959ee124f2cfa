/*
 * ISO-on-TCP transport: TPKT packets (RFC 1006) carrying COTP class 0.
 *
 * Owns the connection request/confirm handshake and the framing of data
 * TPDUs: one payload per frame, always whole. Borrows (or, when created
 * without one, owns) the socket slot below it. The TLS channel and the
 * TLS-start step are its users.
 */
#ifndef S7_ISO_H
#define S7_ISO_H

#include "s7_socket.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Statuses of this layer: the socket layer's as they are, and
 * S7_STATUS_PROTOCOL (a bad TPKT/COTP header, or data where a confirm was
 * due), S7_STATUS_TOO_LARGE (a payload larger than the buffer, or than one
 * TPKT), S7_STATUS_CONFIRM (the frame read was a connection confirm) and
 * S7_STATUS_NO_MEMORY (a frame to send could not be allocated).
 */

enum {
    S7_ISO_HEADER_SIZE = 7,     /* TPKT 4 + COTP DT 3 */
    S7_ISO_MAX_PAYLOAD = 65528, /* 65535 - 7: the TPKT length is 16 bits */
    S7_ISO_CONNECT_REQUEST_SIZE = 36
};

typedef struct s7_iso_transport {
    s7_socket* socket;
    uint8_t owns_socket;
} s7_iso_transport;

/* The fixed connection request: TPDU size 1024, calling TSAP 06 00,
 * called TSAP "SIMATIC-ROOT-HMI". */
extern const uint8_t s7_iso_connect_request[S7_ISO_CONNECT_REQUEST_SIZE];

/* A transport over the given slot (borrowed), or over a new slot that it
 * owns when null is passed. Null on failure. */
s7_iso_transport* s7_iso_transport_new(s7_socket* slot);

/* Releases the transport, and its slot only if it owns it. Null allowed. */
void s7_iso_transport_free(s7_iso_transport* transport);

/* TCP connect, connection request, connection confirm. */
s7_status s7_iso_connect(s7_iso_transport* transport, const char* host, uint16_t port, uint32_t timeout_ms);

/* The second half of s7_iso_connect, on a socket whose TCP connection
 * stands: sends the connection request and waits for the confirm. */
s7_status s7_iso_confirm(s7_iso_transport* transport, uint32_t timeout_ms);

/* Reads one frame. S7_STATUS_OK: a data frame's payload is in buffer and
 * its length in *payload_len. S7_STATUS_CONFIRM: a connection confirm was
 * read and discarded. After any failure the stream position is undefined. */
s7_status s7_iso_read_frame(s7_iso_transport* transport, uint8_t* buffer, uint32_t capacity, uint32_t* payload_len,
                            uint32_t timeout_ms);

/* Sends one data frame with the payload (null allowed when len is 0). */
s7_status s7_iso_write_frame(s7_iso_transport* transport, const uint8_t* payload, uint32_t len, uint32_t timeout_ms);

#ifdef __cplusplus
}
#endif

#endif

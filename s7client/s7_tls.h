/*
 * TLS channel: TLS 1.3 with its records carried in COTP data frames.
 *
 * Owns the TLS engine's connection state and configuration. Borrows the ISO
 * transport below it (or, when created without one, owns a transport of its
 * own). Every TLS record the engine sends becomes the payload of one data
 * frame; the engine's reads are served from one received frame at a time.
 * The request/response exchange is the only user of read and write.
 *
 * The engine stays inside s7_tls.cpp: this header names its objects only as
 * opaque pointers, so nothing above the channel depends on the engine's
 * headers.
 */
#ifndef S7_TLS_H
#define S7_TLS_H

#include <vemo/s7identity.h>

#include "s7_iso.h"
#include "s7_status.h"

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Statuses of this layer: S7_STATUS_ARGUMENT, S7_STATUS_TIMEOUT (a
 * transport wait timed out during the call), S7_STATUS_NOT_CONNECTED (the
 * controller closed the connection), S7_STATUS_NO_MEMORY (a frame could not
 * be allocated) and S7_STATUS_TLS (any other failure, read or write before
 * the handshake included).
 */

/* What the frame callbacks return besides byte counts: "try again" for
 * reading and for writing, and a failure of the transport below. Our own
 * numbers; the callbacks' caller in s7_tls.cpp turns them into the engine's
 * retry flags. */
enum { S7_TLS_IO_WANT_READ = -1, S7_TLS_IO_WANT_WRITE = -2, S7_TLS_IO_FAILED = -3 };

enum {
    /* One received data frame's payload must fit here. */
    S7_TLS_RECEIVE_CAPACITY = 32768,
    /* The largest TLS 1.3 record: 5-byte header, 2^14 bytes of plaintext
     * plus 256 bytes of expansion. Outgoing records are assembled here when
     * the engine hands one over in pieces. */
    S7_TLS_RECORD_MAX = 5 + 16384 + 256
};

/* Opaque engine objects. */
struct ssl_ctx_st;
struct ssl_st;
struct bio_method_st;

typedef struct s7_tls_channel {
    s7_iso_transport* transport; /* borrowed, unless owns_transport */
    uint8_t owns_transport;
    uint8_t established; /* the handshake has completed */
    s7_status io_status; /* of the transport call that failed in the current engine call */
    uint32_t timeout_ms; /* for every transport wait of the current call */
    uint8_t receive_buffer[S7_TLS_RECEIVE_CAPACITY];
    uint32_t buffered_length;       /* payload bytes of the frame in receive_buffer */
    uint32_t read_offset;           /* of those, already handed to the engine */
    uint8_t end_of_stream;          /* the controller closed the connection */
    struct ssl_st* context;         /* the engine's connection state */
    struct ssl_ctx_st* config;      /* used by this channel's context only */
    struct bio_method_st* frame_io; /* the frame callbacks as the engine sees them */
    uint8_t send_buffer[S7_TLS_RECORD_MAX];
    uint32_t send_pending; /* bytes of an incomplete outgoing record */
    /* The controller's identity, from its certificate; set by the handshake
     * that established the channel. */
    uint8_t peer_certificate_sha256[S7_FINGERPRINT_SIZE];
    uint8_t peer_key_sha256[S7_FINGERPRINT_SIZE];
} s7_tls_channel;

/* A configured channel ready for the handshake, over the given transport
 * (borrowed) or, with null, over a new transport that the channel owns.
 * Null on any failure: memory, or a configuration the engine refused. */
s7_tls_channel* s7_tls_channel_new(s7_iso_transport* transport);

/* Releases the engine state, an owned transport and the channel. Sends
 * nothing. Null allowed. */
void s7_tls_channel_free(s7_tls_channel* channel);

/* Runs the TLS 1.3 handshake. The controller's certificate is not verified,
 * only digested: on success the channel holds the SHA-256 of the
 * certificate and of its public key (SubjectPublicKeyInfo DER), and a
 * handshake whose certificate cannot be digested fails.
 * S7_STATUS_OK, or S7_STATUS_ARGUMENT (null channel), S7_STATUS_TIMEOUT,
 * S7_STATUS_NO_MEMORY, S7_STATUS_TLS (anything else). */
s7_status s7_tls_handshake(s7_tls_channel* channel, uint32_t timeout_ms);

/* Reads decrypted bytes: on S7_STATUS_OK, *count is between 1 and
 * capacity. *count is set to 0 first whenever count is not null.
 * S7_STATUS_ARGUMENT for null arguments or a capacity of 0; S7_STATUS_TLS
 * before the handshake (the socket is not touched); S7_STATUS_NOT_CONNECTED
 * when the controller closed the connection; S7_STATUS_TIMEOUT,
 * S7_STATUS_NO_MEMORY; S7_STATUS_TLS otherwise. */
s7_status s7_tls_read(s7_tls_channel* channel, uint8_t* buffer, uint32_t capacity, int32_t* count, uint32_t timeout_ms);

/* Writes all len bytes (data may be null when len is 0). S7_STATUS_OK only
 * when every byte was accepted; the other statuses as for read. */
s7_status s7_tls_write(s7_tls_channel* channel, const uint8_t* data, uint32_t len, uint32_t timeout_ms);

/* The frame callbacks the engine calls; exposed for tests. `context` is the
 * channel. recv serves the buffered frame, reading one new frame when it is
 * empty: a byte count, 0 at the end of the stream, S7_TLS_IO_WANT_READ for
 * an empty frame or (with io_status S7_STATUS_TIMEOUT) a time-out,
 * S7_TLS_IO_FAILED (with io_status set) for anything else. send writes the
 * bytes as one data frame: the full length, S7_TLS_IO_WANT_WRITE (with
 * io_status S7_STATUS_TIMEOUT) or S7_TLS_IO_FAILED (with io_status set). */
int s7_tls_bio_recv(void* context, uint8_t* buffer, size_t len);
int s7_tls_bio_send(void* context, const uint8_t* bytes, size_t len);

/* What the engine's writes go through: sends the bytes one TLS record per
 * data frame with s7_tls_bio_send. An incomplete record at the end waits in
 * the channel for the rest. Returns len, or the send callback's negative
 * code (the waiting piece is then dropped; the channel is unusable after a
 * failed send). */
int s7_tls_send_records(void* context, const uint8_t* bytes, size_t len);

#ifdef __cplusplus
}
#endif

#endif

/*
 * TLS start: the clear-text step that switches the connection to TLS.
 *
 * Right after the COTP connection is confirmed, the client sends one fixed
 * request (function 1459) in one data frame and reads the reply frame; a
 * return value with bit 62 set is the controller's refusal. Borrows the ISO
 * transport; the TLS channel takes the connection over afterwards.
 */
#ifndef S7_TLS_START_H
#define S7_TLS_START_H

#include "s7_iso.h"
#include "s7_protocol.h"
#include "s7_status.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    S7_TLS_START_SIZE = 26,
    /* The longest TLS-start reply: frame head, response header, body byte,
     * a return value of 9 bytes (any value with bit 62 set, a refusal,
     * needs all 9) and the trailer. A buffer of the request's 26 bytes
     * could never hold a refusal. */
    S7_TLS_START_REPLY_MAX = 27
};

/* The TLS-start reply's return value, and whether it reports an error
 * (bit 62 set). */
typedef struct s7_tls_start_result {
    uint64_t return_value;
    uint8_t error;
} s7_tls_start_result;

/*
 * The clear-text step that switches the connection to TLS: sends the fixed
 * 26-byte TLS-start request in one data frame and reads the reply frame.
 * Returns the transport's status of a failed send, S7_STATUS_PROTOCOL for
 * any problem with the reply (it cannot be read, a time-out included, is
 * longer than S7_TLS_START_REPLY_MAX bytes or is not a TLS-start reply), or
 * S7_STATUS_OK with *result filled in.
 */
s7_status s7_tls_start(s7_iso_transport* transport, uint32_t timeout_ms, s7_tls_start_result* result);

/* Checks a TLS-start reply payload and reads its return value:
 * S7_STATUS_OK with *result filled in, S7_STATUS_PROTOCOL when it is not a
 * TLS-start reply, S7_STATUS_ARGUMENT for null arguments. */
s7_status s7_tls_start_parse_reply(const uint8_t* payload, uint32_t len, s7_tls_start_result* result);

/* The fixed TLS-start request. */
extern const uint8_t s7_tls_start_request[S7_TLS_START_SIZE];

#ifdef __cplusplus
}
#endif

#endif

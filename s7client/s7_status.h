/*
 * Status vocabulary: the one set of result codes every layer of the library
 * returns, from the socket up to the browse.
 *
 * A status keeps its meaning all the way up: out of memory is
 * S7_STATUS_NO_MEMORY whether the socket slot, a frame, a value or a symbol
 * could not be allocated. The statuses that share a meaning with a public
 * result code (<vemo/s7client.h>) have its number; the others carry a
 * meaning the public codes fold together (an unresolved host and a refused
 * connection are both S7_ERR_CONNECT to a caller). s7_result, the only
 * translation there is, turns a status into the public code at the public
 * entry points.
 */
#ifndef S7_STATUS_H
#define S7_STATUS_H

#include <vemo/s7client.h>

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum s7_status {
    S7_STATUS_OK = S7_OK,
    S7_STATUS_ARGUMENT = S7_ERR_ARGUMENT,           /* a required pointer is null, a size or count is 0 */
    S7_STATUS_NO_MEMORY = S7_ERR_NO_MEMORY,         /* an allocation (hooks or TLS engine) failed, or a bound was hit */
    S7_STATUS_CONNECT = S7_ERR_CONNECT,             /* no resolved address accepted the connection */
    S7_STATUS_TIMEOUT = S7_ERR_TIMEOUT,             /* a wait for the socket ran out of time */
    S7_STATUS_PROTOCOL = S7_ERR_PROTOCOL,           /* a frame or a body is malformed or unexpected */
    S7_STATUS_TLS = S7_ERR_TLS,                     /* TLS-start refused, or the TLS engine failed */
    S7_STATUS_TRANSPORT = S7_ERR_TRANSPORT,         /* the transport failed in a way not named below */
    S7_STATUS_EXPLORE = S7_ERR_EXPLORE,             /* an explore was answered with an error */
    S7_STATUS_NOT_CONNECTED = S7_ERR_NOT_CONNECTED, /* no connection, the controller closed TLS, or a broken session */
    S7_STATUS_ENCODE = S7_ERR_ENCODE,               /* a request body could not be written */
    S7_STATUS_SESSION = S7_ERR_SESSION,             /* session set-up or the limits read was refused */
    S7_STATUS_SESSION_LEVEL = S7_ERR_SESSION_LEVEL, /* the controller's session level is too high */
    S7_STATUS_READ = S7_ERR_READ,                   /* a read was answered with an error or incompletely */
    S7_STATUS_TOO_MANY_ITEMS = S7_ERR_TOO_MANY_ITEMS, /* more items than the controller's limit */
    S7_STATUS_WRITE = S7_ERR_WRITE,                   /* a write was refused as a whole or answered incompletely */

    /* Meanings the public codes fold together. */
    S7_STATUS_RESOLVE = 128,   /* the host did not resolve (S7_ERR_CONNECT) */
    S7_STATUS_CLOSED = 129,    /* the peer closed the TCP connection (S7_ERR_TRANSPORT) */
    S7_STATUS_SOCKET = 130,    /* any other socket error, a failed wait included (S7_ERR_TRANSPORT) */
    S7_STATUS_TOO_LARGE = 131, /* a frame larger than its buffer or than one TPKT (S7_ERR_TRANSPORT) */
    S7_STATUS_CONFIRM = 132,   /* a connection confirm where a data frame was read (S7_ERR_PROTOCOL) */
    S7_STATUS_BOUNDS = 133,    /* a read past the end of the bytes, or a write without room (S7_ERR_PROTOCOL) */
    S7_STATUS_RANGE = 134,     /* a value the reader does not accept (S7_ERR_PROTOCOL) */
    /* A well-framed response longer than the exchange keeps; the session
     * goes on (S7_ERR_NO_MEMORY, an answer past its bound). */
    S7_STATUS_ANSWER_TOO_LARGE = 135
} s7_status;

/* The public result code of a status. */
uint8_t s7_result(s7_status status);

#ifdef __cplusplus
}
#endif

#endif

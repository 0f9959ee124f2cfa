/*
 * Socket layer: one stream socket with time-outs.
 *
 * Owns the socket slot (`s7_socket`) and every call into the platform's
 * socket API; everything above it sees only these operations and their
 * statuses. Every wait for the socket is bounded twice: by the time-out
 * passed in, in milliseconds, and by the slot's deadline, a point in time
 * that bounds the sum of the waits of a whole request (or a whole connect).
 * A peer that keeps sending just enough to end each single wait - empty
 * frames, one byte at a time - still meets the deadline.
 *
 * One function may be called from another thread: s7_socket_shut_down cuts
 * the connection of a slot short while its owner waits on it.
 *
 * The implementation is the platform file of the library (POSIX here); a
 * port to another socket API replaces that one file.
 */
#ifndef S7_SOCKET_H
#define S7_SOCKET_H

#include "s7_status.h"

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
typedef uintptr_t s7_socket_handle;
#else
typedef int s7_socket_handle;
#endif

/*
 * Statuses of this layer: S7_STATUS_ARGUMENT (null slot or buffer, null
 * host, port 0), S7_STATUS_RESOLVE (the host did not resolve),
 * S7_STATUS_CONNECT (no resolved address accepted the connection),
 * S7_STATUS_TIMEOUT (not ready within the time-out, or would block),
 * S7_STATUS_CLOSED (no socket in the slot, or the peer closed),
 * S7_STATUS_SOCKET (any other socket error, a failed wait included).
 */

enum s7_socket_direction { S7_SOCKET_READ = 0, S7_SOCKET_WRITE = 1 };

/* A heap cell holding one socket handle, or the invalid value, and the
 * deadlines of the work on it. `handle`, `shutting_down` and `aborted` are
 * also touched by s7_socket_shut_down from another thread, through atomic
 * operations only. */
typedef struct s7_socket {
    s7_socket_handle handle;
    int64_t operation_deadline_ms; /* of the whole operation; 0: none */
    int64_t deadline_ms;           /* of the current request; 0: none */
    int shutting_down;             /* s7_socket_shut_down calls in progress */
    int aborted;                   /* set by s7_socket_shut_down, cleared by s7_socket_begin_operation */
    uint8_t connect_cause;         /* S7_CAUSE_* of the last connect, see s7_socket_connect */
    int connect_error;             /* the system's number behind connect_cause; 0 with none */
} s7_socket;

/* Milliseconds of a monotonic clock, the time base of the deadlines. */
int64_t s7_clock_ms(void);

/* Starts an operation that must end within `limit_ms` (0: no bound of its
 * own; its requests are still bounded each). Clears an earlier shut-down. */
void s7_socket_begin_operation(s7_socket* slot, uint64_t limit_ms);

/* Starts a request of the current operation: the waits from now on end
 * within `limit_ms`, and never after the operation's deadline. */
void s7_socket_begin_request(s7_socket* slot, uint32_t limit_ms);

/* Gives the current request `limit_ms` more, never past the operation's
 * deadline. No effect without a request deadline. */
void s7_socket_extend_request(s7_socket* slot, uint32_t limit_ms);

/* Ends the operation: no deadline until the next one begins. */
void s7_socket_end_operation(s7_socket* slot);

/*
 * Shuts the slot's connection down in both directions, so that a wait on it
 * in another thread ends at once, and marks the slot so that waits of the
 * current operation fail (S7_STATUS_CLOSED) until the next one begins. Safe
 * to call from any thread at any time while the slot exists; does nothing
 * else to the slot (its owner closes the socket). Null allowed.
 */
void s7_socket_shut_down(s7_socket* slot);

/* The platform's invalid-socket value. */
s7_socket_handle s7_socket_invalid(void);

/* A new empty slot; starts the platform socket layer on first use. Null
 * when it cannot start or memory runs out. */
s7_socket* s7_socket_new(void);

/* Closes the socket if one is open and releases the slot. Null allowed. */
void s7_socket_free(s7_socket* slot);

/* Closes the socket in the slot, if any, and leaves the slot empty. Waits
 * for a s7_socket_shut_down in progress on that socket to finish first, so
 * that it never reaches a socket number the system has handed out again. */
void s7_socket_close(s7_socket* slot);

/* Waits until the socket is ready for the direction: S7_STATUS_OK,
 * S7_STATUS_TIMEOUT or S7_STATUS_SOCKET. A time-out of 0 polls once. */
s7_status s7_socket_wait(s7_socket_handle handle, enum s7_socket_direction direction, uint32_t timeout_ms);

/* Resolves host (any family) and connects to the first address that
 * accepts, each attempt waiting up to the time-out (and the deadline). On
 * S7_STATUS_OK the slot holds the connected, non-blocking socket with
 * TCP_NODELAY set. Either way it leaves in the slot's connect_cause and
 * connect_error why it failed (S7_CAUSE_NONE and 0 when it did not): an
 * empty host fails as an unresolved one, with S7_CAUSE_EMPTY_HOST. */
s7_status s7_socket_connect(s7_socket* slot, const char* host, uint16_t port, uint32_t timeout_ms);

struct addrinfo;
/* The address loop of s7_socket_connect over an already resolved list:
 * tries each address in order; when all fail, the code and the cause of
 * the last attempt decide (S7_STATUS_CONNECT when none was made). */
s7_status s7_socket_connect_list(s7_socket* slot, const struct addrinfo* list, uint32_t timeout_ms);

/* The cause (S7_CAUSE_*) of a connect attempt the system failed with
 * `system_error` (errno), and of a name lookup that failed with
 * `lookup_error` (getaddrinfo's code). */
uint8_t s7_socket_cause_of_error(int system_error);
uint8_t s7_socket_cause_of_lookup(int lookup_error);

/* Receives exactly len bytes. *received (may be null) always holds the
 * count received so far. S7_STATUS_OK only when all len bytes arrived;
 * S7_STATUS_TIMEOUT when a wait or the deadline ran out. */
s7_status s7_socket_recv_exact(s7_socket* slot, void* buffer, uint32_t len, uint32_t* received, uint32_t timeout_ms);

/* The numeric address of the connected peer ("127.0.0.1", "::1"), NUL-
 * terminated, into `text` of `capacity` characters. S7_STATUS_ARGUMENT for
 * null arguments or too little room, S7_STATUS_CLOSED without a socket,
 * S7_STATUS_SOCKET when the system cannot tell. Allocates nothing. */
s7_status s7_socket_peer_address(const s7_socket* slot, char* text, size_t capacity);

/* Sends all len bytes; S7_STATUS_OK only when all were sent. A peer that
 * closed gives S7_STATUS_CLOSED, never a signal. */
s7_status s7_socket_send_all(s7_socket* slot, const void* data, uint32_t len, uint32_t timeout_ms);

#ifdef __cplusplus
}
#endif

#endif

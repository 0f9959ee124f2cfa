/*
 * VEMO S7 client library: public interface.
 *
 * A procedural client for the object-based protocol of S7-1200 and S7-1500
 * controllers. One handle (`vemoc_s7_client`) stands for one connection to one
 * controller at a time. Every operation returns an unsigned 8-bit result code
 * (`S7_OK` is 0) and hands results back through out-parameters. The library
 * keeps no message texts, takes no locks, starts no threads and throws no
 * exceptions; a handle must be used by one thread at a time (the one
 * exception is vemoc_s7_client_abort).
 *
 * Time: every call that talks to the controller ends within a bound that
 * follows from the time-out given to connect, however the controller
 * answers - slowly, a byte at a time, with empty frames or not at all:
 * - vemoc_s7_client_connect within 4 x timeout_ms, each single wait within
 *   timeout_ms (a host that accepts nothing costs timeout_ms per address);
 * - every later call within timeout_ms per request it sends, the request
 *   and its whole answer together: a read is one request, a listing of the
 *   data blocks 1 + (blocks / item limit, rounded up), the first browse of a
 *   connection one and the later ones none - unless the type descriptions
 *   are longer than one answer is kept: then every browse also one for each
 *   type its block needs that no browse before it explored. A large answer
 *   earns one more timeout_ms for every full 64 KiB of it received, so that
 *   a big program's type descriptions load over a slow link. At most 16 MiB
 *   of an answer is kept; a longer one (up to 256 MiB) is read to its end
 *   and let go, and the call gives S7_ERR_NO_MEMORY with the connection
 *   still up - except the browse, which then asks for less.
 * Past the bound the call gives S7_ERR_TIMEOUT, connect too (whichever of
 * its steps the controller stopped answering in: vemoc_s7_client_get_connect_step
 * says which).
 *
 * Connection loss: a call that fails in a way that leaves the connection
 * unusable - a time-out, the controller closing, a transport or TLS
 * failure, a malformed frame - closes it, and vemoc_s7_client_get_state
 * says S7_CLIENT_DISCONNECTED from then on. An answer that refuses only the
 * request (an error in a read or an explore) leaves the connection as it is.
 *
 * Two prefixes: vemoc_s7_client_* for the operations on a handle, s7_* for
 * the records they hand out and take and the process-wide settings. Only
 * the functions of the public headers are exported (S7_API, <vemo/s7api.h>).
 *
 * Usable from C and C++.
 */
#ifndef VEMO_S7CLIENT_H
#define VEMO_S7CLIENT_H

#include <vemo/s7api.h>

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes of the client operations. Numbered once, never reused. */
enum {
    S7_OK = 0,
    S7_ERR_ARGUMENT = 1,       /* a required pointer is null, port 0, empty item list */
    S7_ERR_NO_MEMORY = 2,      /* an allocation failed (see Allocation hooks), or an answer passed its bound */
    S7_ERR_CONNECT = 3,        /* host did not resolve, or no address accepted TCP */
    S7_ERR_TIMEOUT = 4,        /* the call ran past its deadline (see Time above) */
    S7_ERR_PROTOCOL = 5,       /* the controller sent something malformed or unexpected */
    S7_ERR_TLS = 6,            /* TLS-start refused, handshake failed, or TLS layer failure */
    S7_ERR_TRANSPORT = 7,      /* peer closed during connect, socket error, frame too large */
    S7_ERR_EXPLORE = 8,        /* an explore request was answered with an error */
    S7_ERR_NOT_CONNECTED = 9,  /* handle not connected, or controller closed TLS */
    S7_ERR_ENCODE = 10,        /* request did not fit its buffer, malformed identifier list */
    S7_ERR_SESSION = 11,       /* session set-up or limits request rejected */
    S7_ERR_SESSION_LEVEL = 12, /* the controller's session level is 4 or more */
    S7_ERR_READ = 13,          /* a read was answered with an error or with no values */
    /* 14 and 15 are not used. */
    S7_ERR_TOO_MANY_ITEMS = 16, /* more item addresses than the controller's limit */
    S7_ERR_WRITE = 17           /* a write was refused as a whole or answered incompletely */
};

/* Connection states of a handle. */
enum { S7_CLIENT_DISCONNECTED = 0, S7_CLIENT_CONNECTING = 1, S7_CLIENT_CONNECTED = 2 };

/*
 * Returns the name of a result code ("S7_ERR_TLS"), or "S7_ERR_UNKNOWN" for a
 * number that names no code. The text is static; for tools and log lines.
 */
S7_API const char* s7_result_name(uint8_t code);

/*
 * Allocation hooks. Every block the library itself allocates comes from
 * `alloc`/`realloc` and goes back through `free`, each called with `context`
 * as its first argument: handles, socket slots, the transport and TLS
 * channel records, the frames it sends, request and response buffers,
 * decoded values, objects and type descriptions, the per-connection cache
 * of type descriptions, block and symbol lists, item addresses, read and
 * write results. `realloc` with a null block behaves as `alloc`; `free`
 * accepts a null block. A call whose allocation fails returns
 * S7_ERR_NO_MEMORY and keeps no block of it (a list that cannot shrink to
 * its size stays larger instead). A connected handle stays connected, unless
 * the block was for a frame on its way to or from the controller: that
 * ends the connection, as any failed exchange does.
 *
 * Not through the hooks: the TLS engine (OpenSSL) allocates with its own
 * allocator (OPENSSL_malloc; malloc unless the program changed it) - its
 * one-time initialisation, kept until the process ends, and at every
 * connect its TLS configuration and connection state, handshake and record
 * buffers, released at disconnect. So does the system's name resolution
 * inside connect (getaddrinfo). The library leaves OpenSSL's allocator
 * alone: CRYPTO_set_mem_functions replaces it for the whole process, takes
 * no context, and is refused once OpenSSL has allocated anything, so only
 * the program, not one of its libraries, can choose it. A program that
 * wants those allocations in its own hands calls CRYPTO_set_mem_functions
 * itself, first thing in main, before anything uses OpenSSL. An allocation
 * failure the engine does not get over fails connect with S7_ERR_NO_MEMORY
 * (while the TLS configuration is made) or S7_ERR_TLS (in the handshake),
 * a later call with S7_ERR_TLS, which disconnects the handle. A failure
 * in OpenSSL's one-time initialisation leaves it unusable for the rest of
 * the process: every connect then fails with S7_ERR_NO_MEMORY.
 */
typedef struct s7_alloc_hooks {
    void* (*alloc)(void* context, size_t size);
    void* (*realloc)(void* context, void* block, size_t size);
    void (*free)(void* context, void* block);
    void* context;
} s7_alloc_hooks;

/*
 * Replaces the process-wide hook table; null restores the default table
 * (malloc, realloc, free). The table is used by pointer and must outlive
 * every block allocated through it. Call it only while no handle exists:
 * a block must be freed through the table that allocated it.
 */
S7_API void s7_set_alloc_hooks(const s7_alloc_hooks* hooks);

/* The client handle; its fields are private to the library. */
typedef struct vemoc_s7_client vemoc_s7_client;

/* A new disconnected handle, or null when memory runs out. Release it with
 * vemoc_s7_client_free. */
S7_API vemoc_s7_client* vemoc_s7_client_new(void);

/* Disconnects, then releases the handle. Null is allowed. No other thread
 * may be inside a call on the handle, vemoc_s7_client_abort included. */
S7_API void vemoc_s7_client_free(vemoc_s7_client* client);

/*
 * Cuts short the call another thread is making on this handle: shuts the
 * connection's socket down, so that the call returns promptly with an error
 * and leaves the handle disconnected. The only function that may be called
 * while another thread is inside a call on the same handle; it only
 * touches the socket and never blocks. Without a call in flight, the next
 * call fails the same way (a connect starts afresh). Null is allowed.
 */
S7_API void vemoc_s7_client_abort(vemoc_s7_client* client);

/*
 * Connects to the controller at `host` (dotted IPv4, IPv6 or a host name) and
 * `port`. Closes whatever an earlier connection left open first. Each single
 * wait for the socket ends within `timeout_ms`, the whole connect within
 * 4 x `timeout_ms` (see Time above); later calls use the same time-out.
 *
 * Returns S7_OK, or: S7_ERR_ARGUMENT (null handle or host, port 0; the handle
 * is not touched), S7_ERR_NO_MEMORY, S7_ERR_CONNECT, S7_ERR_TIMEOUT,
 * S7_ERR_PROTOCOL, S7_ERR_TLS, S7_ERR_TRANSPORT, S7_ERR_SESSION,
 * S7_ERR_SESSION_LEVEL. On any failure the handle is left disconnected and
 * can be connected again.
 */
S7_API uint8_t vemoc_s7_client_connect(vemoc_s7_client* client, const char* host, uint16_t port, uint32_t timeout_ms);

/* Closes the connection and releases everything it holds; nothing is sent
 * to the controller. Null is allowed. Keeps the controller type text and the
 * limits of the last connection. */
S7_API void vemoc_s7_client_disconnect(vemoc_s7_client* client);

/* The connection state (S7_CLIENT_*); S7_CLIENT_DISCONNECTED for null. */
S7_API uint8_t vemoc_s7_client_get_state(const vemoc_s7_client* client);

/* Why the handle is disconnected: the result code of the failed connect or
 * of the call that closed the connection (see Connection loss above);
 * S7_OK after vemoc_s7_client_disconnect, a successful connect, or for
 * null. */
S7_API uint8_t vemoc_s7_client_get_loss(const vemoc_s7_client* client);

/*
 * Causes of a connect that failed before a TCP connection stood: what the
 * system's name lookup and socket calls said, in more detail than the
 * result code (S7_ERR_CONNECT, or S7_ERR_TIMEOUT for a time-out). Numbered
 * once, never reused.
 */
enum {
    S7_CAUSE_NONE = 0,         /* the connect succeeded, or failed once TCP stood (the result code says why) */
    S7_CAUSE_EMPTY_HOST = 1,   /* the host was an empty text */
    S7_CAUSE_UNKNOWN_HOST = 2, /* the name lookup says no such host exists */
    S7_CAUSE_LOOKUP = 3,       /* the name could not be looked up (no name server answered, ...) */
    S7_CAUSE_REFUSED = 4,      /* the host answered that nothing listens on the port */
    S7_CAUSE_NO_ROUTE = 5,     /* no route to the host, or its network is unreachable or down */
    S7_CAUSE_TIMED_OUT = 6,    /* the host did not take the TCP connection within the time-out */
    S7_CAUSE_SYSTEM = 7        /* another failure of the system's socket calls: see system_error */
};

/*
 * Why the last vemoc_s7_client_connect on this handle failed before a TCP
 * connection stood (S7_CAUSE_*); S7_CAUSE_NONE after a successful connect,
 * a failure after that point, before the first connect, or for null. With
 * several addresses for a host, the last one tried decides, as it decides
 * the result code. `system_error` (may be null) receives the system's own
 * number behind the cause: the socket error (errno) for REFUSED, NO_ROUTE,
 * TIMED_OUT and SYSTEM, the name lookup's code (getaddrinfo) for
 * UNKNOWN_HOST and LOOKUP, 0 otherwise. A connect refused for its
 * arguments (S7_ERR_ARGUMENT) leaves both as they were.
 */
S7_API uint8_t vemoc_s7_client_get_connect_cause(const vemoc_s7_client* client, int* system_error);

/*
 * The steps of a connect, in the order it makes them. Numbered once, never
 * reused.
 */
enum {
    S7_STEP_NONE = 0,          /* no connect made yet, or one refused for its arguments */
    S7_STEP_TCP = 1,           /* the name lookup and the TCP connection */
    S7_STEP_ISO = 2,           /* the ISO-on-TCP connection request and its confirm */
    S7_STEP_TLS_START = 3,     /* the clear-text request to switch to TLS */
    S7_STEP_TLS_HANDSHAKE = 4, /* the TLS 1.3 handshake */
    S7_STEP_SESSION = 5,       /* the protocol session and the controller's limits */
    S7_STEP_DONE = 6           /* connected */
};

/* Told of every step as a connect begins it, on the thread making the
 * connect (S7_STEP_*; S7_STEP_DONE once connected). It must not call into
 * the library with this handle. */
typedef void (*s7_connect_progress)(void* context, uint8_t step);

/* Sets the function told of a connect's steps (null: none) and the context
 * it is given. Kept across connects until set again. Null handle: nothing. */
S7_API void vemoc_s7_client_set_connect_progress(vemoc_s7_client* client, s7_connect_progress progress, void* context);

/* The step the last connect reached: S7_STEP_DONE after a successful one,
 * else the step it failed in (S7_STEP_NONE before the first, or for null). */
S7_API uint8_t vemoc_s7_client_get_connect_step(const vemoc_s7_client* client);

/* The controller type text of the last successful set-up (NUL-terminated,
 * empty before the first connect). Owned by the handle, valid while it
 * lives. The handle must not be null. */
S7_API const char* vemoc_s7_client_get_plc_type(const vemoc_s7_client* client);

/*
 * Answers are matched to their requests: an answer is taken only for the
 * request it answers. A controller that answers a request twice sends an
 * answer to an earlier request (one of the 64 before): it is let go and
 * counted here, and the call reads on for its own answer. More than 16 of
 * them within one request, or an answer to any other request, is
 * S7_ERR_PROTOCOL and ends the connection.
 *
 * The number of answers to earlier requests let go since the last connect
 * began, kept after the connection ends until the next connect; 0 for null.
 */
S7_API uint32_t vemoc_s7_client_get_discarded_answers(const vemoc_s7_client* client);

/* Stores the largest number of items one read request may carry.
 * S7_ERR_ARGUMENT for null arguments, S7_ERR_NOT_CONNECTED unless connected. */
S7_API uint8_t vemoc_s7_client_get_max_read_items(const vemoc_s7_client* client, uint32_t* max_read_items);

#ifdef __cplusplus
}
#endif

#endif /* VEMO_S7CLIENT_H */

/*
 * Session set-up layer: what connect sends right after the TLS handshake to
 * turn the bare session record into one the controller accepts.
 *
 * Set-up creates the session object on the controller, learns the session id
 * and the controller type text from the reply, writes the session's
 * attribute 306 back and checks the session level (attribute 1842). The
 * limits read that follows tells how many items one read request may carry.
 * Borrows the request layer (create object, get attribute, read variables,
 * response header), the value and object layers for what the bodies carry
 * and the exchange for sending; allocates through the memory layer.
 *
 * Results are statuses (s7_status.h).
 */
#ifndef S7_SESSION_SETUP_H
#define S7_SESSION_SETUP_H

#include <vemo/s7read.h>

#include "s7_exchange.h"
#include "s7_request.h"
#include "s7_value.h"

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A session level of this or more is refused (S7_STATUS_SESSION_LEVEL). */
enum { S7_SESSION_LEVEL_LIMIT = 4 };

/* A limit the controller reports as 0, negative, of another type or not at
 * all is replaced by this. */
enum { S7_DEFAULT_ITEM_LIMIT = 16 };

/*
 * Runs the session set-up on a fresh session: create object, set values,
 * get attribute. On the way it stores the controller type text in
 * `plc_type` (NUL-terminated, at most capacity - 1 bytes; the buffer may be
 * null or of capacity 0) and the session id in the session.
 *
 * S7_STATUS_OK when the controller accepted the session; S7_STATUS_SESSION
 * when it refused a step or a reply lacks a part set-up needs;
 * S7_STATUS_SESSION_LEVEL for a level of 4 or more; S7_STATUS_NO_MEMORY; the
 * statuses of the exchange and the parsers as they are.
 */
s7_status s7_session_setup(s7_session* session, uint32_t timeout_ms, char* plc_type, size_t capacity);

/*
 * Reads the controller's two item limits (object 201, attribute 1037, paths
 * 1000 and 1001). A limit that is missing, not a signed 32-bit value or
 * below 1 becomes S7_DEFAULT_ITEM_LIMIT. The outputs are written only on
 * success. S7_STATUS_SESSION when the controller refused the read (return
 * value or an error entry); S7_STATUS_NO_MEMORY; the statuses of the
 * exchange and the parsers.
 */
s7_status s7_read_limits(s7_session* session, uint32_t timeout_ms, uint32_t* max_read_items, uint32_t* aux_item_limit);

#ifdef __cplusplus
}
#endif

#endif

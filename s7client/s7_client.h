/*
 * Client handle: the connection's owner.
 *
 * The handle owns the socket slot, the transport over it and everything
 * stacked on top; connect builds the stack from the bottom, sets up the
 * protocol session and reads the controller's limits; disconnect tears it
 * down, starting with the type descriptions the browse keeps per
 * connection. The layers borrow the one below them and never release it.
 */
#ifndef S7_CLIENT_H
#define S7_CLIENT_H

#include <vemo/s7client.h>

#include "s7_browse.h"
#include "s7_exchange.h"
#include "s7_iso.h"
#include "s7_socket.h"
#include "s7_tls.h"

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { S7_PLC_TYPE_CAPACITY = 256 };

struct vemoc_s7_client {
    s7_socket* socket;            /* owned for the handle's life; empty when disconnected */
    s7_iso_transport* transport;  /* owned; borrows socket */
    s7_tls_channel* tls;          /* owned; borrows transport */
    s7_session* session;          /* owned; borrows tls */
    uint8_t state;                /* S7_CLIENT_* */
    uint8_t loss;                 /* public code of what closed the connection; S7_OK if nothing did */
    uint32_t max_read_items;      /* items one read request may carry */
    uint32_t aux_item_limit;      /* second limit the controller reports */
    uint32_t timeout_ms;          /* of the last successful connect */
    uint8_t connect_step;         /* S7_STEP_* the last connect reached */
    s7_connect_progress progress; /* told of each connect step; may be null */
    void* progress_context;
    uint32_t discarded_answers;   /* the session's count when it ended; 0 from each connect on */
    char plc_type[S7_PLC_TYPE_CAPACITY];
    s7_type_info_cache type_info_cache; /* filled by the first browse; released on disconnect */
};

/* True when the handle holds an established connection with a session. */
bool s7_client_connected(const vemoc_s7_client* client);

/* Every operation on a connected handle starts with s7_client_begin (each of
 * its requests then gets a deadline of its own, see the exchange) and hands
 * its status through s7_client_finish, which disconnects the handle when a
 * request failed in a way that leaves the connection unusable. */
void s7_client_begin(vemoc_s7_client* client);
s7_status s7_client_finish(vemoc_s7_client* client, s7_status status);

#ifdef __cplusplus
}
#endif

#endif

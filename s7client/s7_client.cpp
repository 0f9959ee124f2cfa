#include "s7_client.h"

#include "s7_memory.h"
#include "s7_session_setup.h"
#include "s7_tls_start.h"

#include <cstring>

namespace {

// A whole connect - TCP, COTP, TLS start, handshake, session set-up and the
// limits read - ends within this many time-outs.
constexpr uint64_t kConnectTimeouts = 4;

// Records the step a connect begins, and tells whoever asked.
void enterStep(vemoc_s7_client* client, uint8_t step) {
    client->connect_step = step;
    if (client->progress != nullptr) {
        client->progress(client->progress_context, step);
    }
}

// Builds the connection from the bottom: TCP and COTP, TLS start, the TLS
// handshake, the protocol session and the limits. Any failure leaves the
// handle disconnected.
s7_status connectStack(vemoc_s7_client* client, const char* host, uint16_t port, uint32_t timeout_ms) {
    vemoc_s7_client_disconnect(client);
    client->discarded_answers = 0;
    // No cause from an earlier connect may outlive this one's failure
    // before its socket connect.
    client->socket->connect_cause = S7_CAUSE_NONE;
    client->socket->connect_error = 0;
    client->state = S7_CLIENT_CONNECTING;
    s7_socket_begin_operation(client->socket, kConnectTimeouts * timeout_ms);

    s7_status rc = S7_STATUS_OK;
    s7_tls_start_result tlsStart{};
    uint32_t maxReadItems = 0;
    uint32_t auxItemLimit = 0;
    client->transport = s7_iso_transport_new(client->socket);
    if (client->transport == nullptr) {
        rc = S7_STATUS_NO_MEMORY;
        goto out;
    }
    enterStep(client, S7_STEP_TCP);
    rc = s7_socket_connect(client->socket, host, port, timeout_ms);
    if (rc != S7_STATUS_OK) {
        goto out;
    }
    enterStep(client, S7_STEP_ISO);
    rc = s7_iso_confirm(client->transport, timeout_ms);
    if (rc != S7_STATUS_OK) {
        goto out;
    }
    enterStep(client, S7_STEP_TLS_START);
    // A failed send keeps the transport's status; any trouble with the
    // reply is a protocol error.
    rc = s7_tls_start(client->transport, timeout_ms, &tlsStart);
    if (rc != S7_STATUS_OK) {
        goto out;
    }
    if (tlsStart.error != 0) {
        rc = S7_STATUS_TLS;
        goto out;
    }
    client->tls = s7_tls_channel_new(client->transport);
    if (client->tls == nullptr) {
        rc = S7_STATUS_NO_MEMORY;
        goto out;
    }
    enterStep(client, S7_STEP_TLS_HANDSHAKE);
    rc = s7_tls_handshake(client->tls, timeout_ms);
    if (rc != S7_STATUS_OK) {
        // A handshake that does not complete is a TLS failure to the caller;
        // running out of memory and a controller that stops answering keep
        // their names, so that a silent controller is not taken for one that
        // refuses.
        if (rc != S7_STATUS_NO_MEMORY && rc != S7_STATUS_TIMEOUT) {
            rc = S7_STATUS_TLS;
        }
        goto out;
    }
    enterStep(client, S7_STEP_SESSION);
    client->session = s7_session_new(client->tls);
    if (client->session == nullptr) {
        rc = S7_STATUS_NO_MEMORY;
        goto out;
    }
    rc = s7_session_setup(client->session, timeout_ms, client->plc_type, sizeof client->plc_type);
    if (rc != S7_STATUS_OK) {
        goto out;
    }
    rc = s7_read_limits(client->session, timeout_ms, &maxReadItems, &auxItemLimit);
    if (rc != S7_STATUS_OK) {
        goto out;
    }
    client->max_read_items = maxReadItems;
    client->aux_item_limit = auxItemLimit;
    client->timeout_ms = timeout_ms;
    client->state = S7_CLIENT_CONNECTED;
    enterStep(client, S7_STEP_DONE);

out:
    s7_socket_end_operation(client->socket);
    if (rc != S7_STATUS_OK) {
        vemoc_s7_client_disconnect(client);
    }
    return rc;
}

}  // namespace

extern "C" {

const char* s7_result_name(uint8_t code) {
    switch (code) {
    case S7_OK: return "S7_OK";
    case S7_ERR_ARGUMENT: return "S7_ERR_ARGUMENT";
    case S7_ERR_NO_MEMORY: return "S7_ERR_NO_MEMORY";
    case S7_ERR_CONNECT: return "S7_ERR_CONNECT";
    case S7_ERR_TIMEOUT: return "S7_ERR_TIMEOUT";
    case S7_ERR_PROTOCOL: return "S7_ERR_PROTOCOL";
    case S7_ERR_TLS: return "S7_ERR_TLS";
    case S7_ERR_TRANSPORT: return "S7_ERR_TRANSPORT";
    case S7_ERR_EXPLORE: return "S7_ERR_EXPLORE";
    case S7_ERR_NOT_CONNECTED: return "S7_ERR_NOT_CONNECTED";
    case S7_ERR_ENCODE: return "S7_ERR_ENCODE";
    case S7_ERR_SESSION: return "S7_ERR_SESSION";
    case S7_ERR_SESSION_LEVEL: return "S7_ERR_SESSION_LEVEL";
    case S7_ERR_READ: return "S7_ERR_READ";
    case S7_ERR_TOO_MANY_ITEMS: return "S7_ERR_TOO_MANY_ITEMS";
    case S7_ERR_WRITE: return "S7_ERR_WRITE";
    default: return "S7_ERR_UNKNOWN";
    }
}

bool s7_client_connected(const vemoc_s7_client* client) {
    return client->state == S7_CLIENT_CONNECTED && client->session != nullptr;
}

void s7_client_begin(vemoc_s7_client* client) { s7_socket_begin_operation(client->socket, 0); }

s7_status s7_client_finish(vemoc_s7_client* client, s7_status status) {
    s7_socket_end_operation(client->socket);
    // An exchange that failed midway left the stream unmatched to requests:
    // whatever comes next on it belongs to nothing. The connection is over,
    // and the handle says so instead of failing every later call.
    if (client->session != nullptr && client->session->broken != 0) {
        vemoc_s7_client_disconnect(client);
        client->loss = s7_result(status);
    }
    return status;
}

vemoc_s7_client* vemoc_s7_client_new(void) {
    auto* client = static_cast<vemoc_s7_client*>(s7_calloc(sizeof(vemoc_s7_client)));
    if (client == nullptr) {
        return nullptr;
    }
    // The slot lives as long as the handle, so that vemoc_s7_client_abort
    // from another thread always finds it.
    client->socket = s7_socket_new();
    if (client->socket == nullptr) {
        s7_free(client);
        return nullptr;
    }
    return client;
}

void vemoc_s7_client_disconnect(vemoc_s7_client* client) {
    if (client == nullptr) {
        return;
    }
    // The type descriptions belong to this connection only.
    s7_type_info_cache_free(&client->type_info_cache);
    // Top of the stack first: each layer borrows the one below it. Nothing
    // is sent: no closure alert, no end of session.
    s7_tls_channel_free(client->tls);
    client->tls = nullptr;
    s7_iso_transport_free(client->transport);
    client->transport = nullptr;
    s7_socket_close(client->socket);
    if (client->session != nullptr) {
        // The count outlives the session: the call that failed on one
        // answer too many is often the one that wants to tell of them.
        client->discarded_answers = client->session->discarded_answers;
    }
    s7_session_free(client->session);
    client->session = nullptr;
    client->state = S7_CLIENT_DISCONNECTED;
    client->loss = S7_OK;
}

void vemoc_s7_client_free(vemoc_s7_client* client) {
    if (client == nullptr) {
        return;
    }
    vemoc_s7_client_disconnect(client);
    s7_socket_free(client->socket);
    s7_free(client);
}

void vemoc_s7_client_abort(vemoc_s7_client* client) {
    if (client != nullptr) {
        s7_socket_shut_down(client->socket);
    }
}

uint8_t vemoc_s7_client_connect(vemoc_s7_client* client, const char* host, uint16_t port, uint32_t timeout_ms) {
    if (client == nullptr || host == nullptr || port == 0) {
        return S7_ERR_ARGUMENT;
    }
    const uint8_t rc = s7_result(connectStack(client, host, port, timeout_ms));
    client->loss = rc;
    return rc;
}

uint8_t vemoc_s7_client_get_state(const vemoc_s7_client* client) {
    return client != nullptr ? client->state : static_cast<uint8_t>(S7_CLIENT_DISCONNECTED);
}

uint8_t vemoc_s7_client_get_loss(const vemoc_s7_client* client) {
    return client != nullptr ? client->loss : static_cast<uint8_t>(S7_OK);
}

uint8_t vemoc_s7_client_get_connect_cause(const vemoc_s7_client* client, int* system_error) {
    // The socket slot keeps what its last connect found; a connect that
    // failed before reaching it cleared that first.
    const uint8_t cause = client != nullptr ? client->socket->connect_cause : static_cast<uint8_t>(S7_CAUSE_NONE);
    if (system_error != nullptr) {
        *system_error = client != nullptr ? client->socket->connect_error : 0;
    }
    return cause;
}

void vemoc_s7_client_set_connect_progress(vemoc_s7_client* client, s7_connect_progress progress, void* context) {
    if (client != nullptr) {
        client->progress = progress;
        client->progress_context = context;
    }
}

uint8_t vemoc_s7_client_get_connect_step(const vemoc_s7_client* client) {
    return client != nullptr ? client->connect_step : static_cast<uint8_t>(S7_STEP_NONE);
}

const char* vemoc_s7_client_get_plc_type(const vemoc_s7_client* client) { return client->plc_type; }

uint32_t vemoc_s7_client_get_discarded_answers(const vemoc_s7_client* client) {
    if (client == nullptr) {
        return 0;
    }
    return client->session != nullptr ? client->session->discarded_answers : client->discarded_answers;
}

uint8_t vemoc_s7_client_get_max_read_items(const vemoc_s7_client* client, uint32_t* max_read_items) {
    if (client == nullptr || max_read_items == nullptr) {
        return S7_ERR_ARGUMENT;
    }
    if (!s7_client_connected(client)) {
        return S7_ERR_NOT_CONNECTED;
    }
    *max_read_items = client->max_read_items;
    return S7_OK;
}

}  // extern "C"

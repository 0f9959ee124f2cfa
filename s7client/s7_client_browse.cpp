/*
 * The browse operations of the client handle: check the handle, then list
 * or browse over the handle's session with its item limit and time-out. The
 * type descriptions a browse needs are fetched once per connection into the
 * handle's cache - all in one answer, or, for a program too large for one,
 * a type at a time as browses need them.
 */
#include <vemo/s7browse.h>

#include "s7_browse.h"
#include "s7_client.h"

namespace {

s7_status listDatablocks(vemoc_s7_client* client, s7_block_list* blocks) {
    if (client == nullptr || blocks == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    if (!s7_client_connected(client)) {
        return S7_STATUS_NOT_CONNECTED;
    }
    s7_client_begin(client);
    return s7_client_finish(client,
                            s7_list_datablocks(client->session, client->max_read_items, client->timeout_ms, blocks));
}

s7_status browseBlock(vemoc_s7_client* client, const s7_block* block, s7_symbol_list* symbols) {
    if (symbols != nullptr) {
        *symbols = s7_symbol_list{};
    }
    if (client == nullptr || block == nullptr || symbols == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    if (!s7_client_connected(client)) {
        return S7_STATUS_NOT_CONNECTED;
    }
    s7_client_begin(client);
    s7_status rc = s7_load_type_info(client->session, client->timeout_ms, &client->type_info_cache);
    if (rc == S7_STATUS_OK) {
        rc = s7_fetch_block_types(client->session, client->timeout_ms, block, &client->type_info_cache);
    }
    if (rc != S7_STATUS_OK) {
        return s7_client_finish(client, rc);
    }
    return s7_client_finish(client, s7_browse_block(block, &client->type_info_cache, symbols));
}

}  // namespace

extern "C" {

uint8_t vemoc_s7_client_list_datablocks(vemoc_s7_client* client, s7_block_list* blocks) {
    return s7_result(listDatablocks(client, blocks));
}

uint8_t vemoc_s7_client_browse_block(vemoc_s7_client* client, const s7_block* block, s7_symbol_list* symbols) {
    return s7_result(browseBlock(client, block, symbols));
}

}  // extern "C"

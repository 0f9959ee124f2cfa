/*
 * The variable read of the client handle: checks the handle and the item
 * limit, runs one read request over the handle's session and hands back the
 * values only when the controller answered every item.
 */
#include <vemo/s7read.h>

#include "s7_client.h"
#include "s7_memory.h"
#include "s7_request.h"

namespace {

// Reads after connect use protocol version 2 and the session counter.
constexpr uint8_t kReadVersion = 2;

} // namespace

extern "C" uint8_t vemoc_s7_client_read(vemoc_s7_client* client, const s7_item_address* const* items,
                                        uint32_t count, s7_value*** values) {
    if (values != nullptr) {
        *values = nullptr;
    }
    if (client == nullptr || items == nullptr || values == nullptr || count == 0) {
        return S7_ERR_ARGUMENT;
    }
    if (client->state != S7_CLIENT_CONNECTED || client->session == nullptr) {
        return S7_ERR_NOT_CONNECTED;
    }
    if (count > client->max_read_items) {
        return S7_ERR_TOO_MANY_ITEMS;
    }

    s7_read_result result{};
    uint8_t rc = s7_read_variables(client->session, items, count, kReadVersion, true, client->timeout_ms, &result);
    if (rc != S7_OK) {
        goto out;
    }
    // One failing item fails the read: the caller gets every value or none.
    if (result.return_value != 0 || result.error_count != 0 || result.value_count == 0 ||
        result.value_count != count) {
        rc = S7_ERR_READ;
        goto out;
    }
    // The values go to the caller in the order the controller listed them.
    *values = result.values;
    result.values = nullptr;
    result.value_count = 0;

out:
    s7_read_result_free(&result);
    return rc;
}

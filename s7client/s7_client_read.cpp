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
constexpr uint8_t kReadVersion = S7_FRAME_VERSION_2;

s7_status readItems(vemoc_s7_client* client, const s7_item_address* const* items, uint32_t count, s7_value*** values) {
    if (values != nullptr) {
        *values = nullptr;
    }
    if (client == nullptr || items == nullptr || values == nullptr || count == 0) {
        return S7_STATUS_ARGUMENT;
    }
    if (!s7_client_connected(client)) {
        return S7_STATUS_NOT_CONNECTED;
    }
    if (count > client->max_read_items) {
        return S7_STATUS_TOO_MANY_ITEMS;
    }

    s7_read_result result{};
    s7_status rc = s7_read_variables(client->session, items, count, kReadVersion, true, client->timeout_ms, &result);
    if (rc != S7_STATUS_OK) {
        goto out;
    }
    // One failing item fails the read: the caller gets every value or none.
    if (result.return_value != 0 || result.error_count != 0 || result.value_count == 0 || result.value_count != count) {
        rc = S7_STATUS_READ;
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

}  // namespace

extern "C" uint8_t vemoc_s7_client_read(vemoc_s7_client* client, const s7_item_address* const* items, uint32_t count,
                                        s7_value*** values) {
    return s7_result(readItems(client, items, count, values));
}

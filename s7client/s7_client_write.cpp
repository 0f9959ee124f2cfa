/*
 * The variable writes of the client handle: check the handle, the entries
 * and the item limit before anything is sent, run one set-values request in
 * address form over the handle's session, and hand back the controller's
 * verdict per item from the answer's error list.
 */
#include <vemo/s7write.h>

#include "s7_client.h"
#include "s7_memory.h"
#include "s7_request.h"

namespace {

// Writes after connect go out like reads: protocol version 2, with the
// session counter.
constexpr uint8_t kWriteVersion = S7_FRAME_VERSION_2;

// Object id 0 makes a set-values request name its variables by address.
constexpr uint32_t kAddressForm = 0;

s7_status checkWrite(const vemoc_s7_client* client, const s7_item_address* const* items,
                     const s7_value* const* values, uint32_t count, const void* out) {
    if (client == nullptr || items == nullptr || values == nullptr || out == nullptr || count == 0) {
        return S7_STATUS_ARGUMENT;
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (items[i] == nullptr || values[i] == nullptr) {
            return S7_STATUS_ARGUMENT;
        }
    }
    if (!s7_client_connected(client)) {
        return S7_STATUS_NOT_CONNECTED;
    }
    // The controller states one item limit; it bounds writes as it bounds
    // reads.
    if (count > client->max_read_items) {
        return S7_STATUS_TOO_MANY_ITEMS;
    }
    return S7_STATUS_OK;
}

s7_status writeItems(vemoc_s7_client* client, const s7_item_address* const* items, const s7_value* const* values,
                     uint32_t count, s7_write_result** results) {
    const s7_set_request request{kAddressForm, items, nullptr, values, count};
    s7_set_result answer{};
    s7_status rc = s7_set_values(client->session, &request, kWriteVersion, true, client->timeout_ms, &answer);
    s7_write_result* each = nullptr;
    if (rc != S7_STATUS_OK) {
        goto out;
    }
    // A refusal without a word on any item refused the request: nothing
    // can be said to be written.
    if (answer.return_value != 0 && answer.error_count == 0) {
        rc = S7_STATUS_WRITE;
        goto out;
    }
    each = static_cast<s7_write_result*>(s7_calloc(size_t{count} * sizeof(s7_write_result)));
    if (each == nullptr) {
        rc = S7_STATUS_NO_MEMORY;
        goto out;
    }
    // An error under a number not asked for, or twice under one, puts the
    // verdicts in doubt: the caller would be told the wrong variable failed.
    // A zero code there would mark the item as written, so it counts as
    // doubt too.
    for (uint32_t i = 0; i < answer.error_count; ++i) {
        const uint32_t item = answer.error_items[i];
        if (item < 1 || item > count || each[item - 1].error != 0 || answer.error_codes[i] == 0) {
            rc = S7_STATUS_WRITE;
            goto out;
        }
        each[item - 1].error = answer.error_codes[i];
    }
    *results = each;
    each = nullptr;

out:
    s7_free(each);
    s7_set_result_free(&answer);
    return rc;
}

}  // namespace

extern "C" {

uint8_t vemoc_s7_client_write(vemoc_s7_client* client, const s7_item_address* const* items,
                              const s7_value* const* values, uint32_t count, s7_write_result** results) {
    if (results != nullptr) {
        *results = nullptr;
    }
    s7_status rc = checkWrite(client, items, values, count, results);
    if (rc == S7_STATUS_OK) {
        s7_client_begin(client);
        rc = s7_client_finish(client, writeItems(client, items, values, count, results));
    }
    return s7_result(rc);
}

void s7_write_results_free(s7_write_result* results) { s7_free(results); }

}  // extern "C"

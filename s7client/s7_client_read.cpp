/*
 * The variable reads of the client handle: check the handle and the item
 * limit, run one read request over the handle's session and hand the values
 * back in the order of the requested items, placed by the item numbers the
 * controller gives them. vemoc_s7_client_read wants every value;
 * vemoc_s7_client_read_each takes a value or the controller's error code
 * for each item.
 */
#include <vemo/s7read.h>

#include "s7_client.h"
#include "s7_memory.h"
#include "s7_request.h"

namespace {

// Reads after connect use protocol version 2 and the session counter.
constexpr uint8_t kReadVersion = S7_FRAME_VERSION_2;

// The checks both reads make before anything is sent.
s7_status checkRead(const vemoc_s7_client* client, const s7_item_address* const* items, uint32_t count,
                    const void* out) {
    if (client == nullptr || items == nullptr || out == nullptr || count == 0) {
        return S7_STATUS_ARGUMENT;
    }
    if (!s7_client_connected(client)) {
        return S7_STATUS_NOT_CONNECTED;
    }
    if (count > client->max_read_items) {
        return S7_STATUS_TOO_MANY_ITEMS;
    }
    return S7_STATUS_OK;
}

// Marks item number `item` of a read of `count` items as answered; false for
// a number outside 1..count or one answered before.
bool answer(uint8_t* answered, uint32_t count, uint32_t item) {
    if (item < 1 || item > count || answered[item - 1] != 0) {
        return false;
    }
    answered[item - 1] = 1;
    return true;
}

s7_status readItems(vemoc_s7_client* client, const s7_item_address* const* items, uint32_t count, s7_value*** values) {
    s7_read_result result{};
    s7_value** placed = nullptr;
    s7_status rc = s7_read_variables(client->session, items, count, kReadVersion, true, client->timeout_ms, &result);
    if (rc != S7_STATUS_OK) {
        goto out;
    }
    // One failing item fails the read: the caller gets every value or none.
    if (result.return_value != 0 || result.error_count != 0 || result.value_count != count) {
        rc = S7_STATUS_READ;
        goto out;
    }
    placed = static_cast<s7_value**>(s7_calloc(size_t{count} * sizeof(s7_value*)));
    if (placed == nullptr) {
        rc = S7_STATUS_NO_MEMORY;
        goto out;
    }
    // Each value goes where its item number says: numbers 1..count, each
    // exactly once. A value under no item or under an item twice would end
    // up on the wrong variable's name.
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t item = result.value_items[i];
        if (item < 1 || item > count || placed[item - 1] != nullptr) {
            rc = S7_STATUS_READ;
            goto out;
        }
        placed[item - 1] = result.values[i];
    }
    for (uint32_t i = 0; i < count; ++i) {
        result.values[i] = nullptr;  // now the caller's
    }
    *values = placed;
    placed = nullptr;

out:
    s7_free(placed);
    s7_read_result_free(&result);
    return rc;
}

s7_status readEachItem(vemoc_s7_client* client, const s7_item_address* const* items, uint32_t count,
                       s7_item_result** results) {
    s7_read_result result{};
    s7_item_result* each = nullptr;
    uint8_t* answered = nullptr;
    s7_status rc = s7_read_variables(client->session, items, count, kReadVersion, true, client->timeout_ms, &result);
    if (rc != S7_STATUS_OK) {
        goto out;
    }
    each = static_cast<s7_item_result*>(s7_calloc(size_t{count} * sizeof(s7_item_result)));
    answered = static_cast<uint8_t*>(s7_calloc(count));
    if (each == nullptr || answered == nullptr) {
        rc = S7_STATUS_NO_MEMORY;
        goto out;
    }
    // Every item is answered exactly once, by a value or by an error code;
    // the return value is not judged when they all are.
    for (uint32_t i = 0; i < result.value_count; ++i) {
        if (!answer(answered, count, result.value_items[i])) {
            rc = S7_STATUS_READ;
            goto out;
        }
        each[result.value_items[i] - 1].value = result.values[i];
    }
    for (uint32_t i = 0; i < result.error_count; ++i) {
        if (!answer(answered, count, result.error_items[i])) {
            rc = S7_STATUS_READ;
            goto out;
        }
        each[result.error_items[i] - 1].error = result.error_codes[i];
    }
    if (result.value_count + uint64_t{result.error_count} != count) {
        rc = S7_STATUS_READ;
        goto out;
    }
    for (uint32_t i = 0; i < result.value_count; ++i) {
        result.values[i] = nullptr;  // now in `each`
    }
    *results = each;
    each = nullptr;

out:
    if (each != nullptr) {
        // The values still belong to the result; only the array goes.
        s7_free(each);
    }
    s7_free(answered);
    s7_read_result_free(&result);
    return rc;
}

}  // namespace

extern "C" {

uint8_t vemoc_s7_client_read(vemoc_s7_client* client, const s7_item_address* const* items, uint32_t count,
                             s7_value*** values) {
    if (values != nullptr) {
        *values = nullptr;
    }
    s7_status rc = checkRead(client, items, count, values);
    if (rc == S7_STATUS_OK) {
        s7_client_begin(client);
        rc = s7_client_finish(client, readItems(client, items, count, values));
    }
    return s7_result(rc);
}

uint8_t vemoc_s7_client_read_each(vemoc_s7_client* client, const s7_item_address* const* items, uint32_t count,
                                  s7_item_result** results) {
    if (results != nullptr) {
        *results = nullptr;
    }
    s7_status rc = checkRead(client, items, count, results);
    if (rc == S7_STATUS_OK) {
        s7_client_begin(client);
        rc = s7_client_finish(client, readEachItem(client, items, count, results));
    }
    return s7_result(rc);
}

void s7_item_results_free(s7_item_result* results, uint32_t count) {
    if (results == nullptr) {
        return;
    }
    for (uint32_t i = 0; i < count; ++i) {
        s7_value_free(results[i].value);
    }
    s7_free(results);
}

}  // extern "C"

#include "s7_request.h"

#include "s7_memory.h"
#include "s7_value_codec.h"

#include <cstring>

namespace {

constexpr uint64_t kU32Max = 0xFFFFFFFFu;

// Room for the first entries of the response lists; doubled when full.
constexpr uint32_t kListInitialCapacity = 8;
constexpr uint32_t kExploreInitialCapacity = 16;

// Separator between the values and the tail block of a set-values body.
constexpr uint8_t kSetSeparator = 0x00;

// The three bytes between the object identifier and the attribute of a
// get-attribute body, and the word that precedes its counter.
constexpr uint8_t kGetAttributeMarker[] = {0x20, 0x04, 0x01};
constexpr uint16_t kGetAttributeCount = 1;

// Header of every response: first byte, two bytes, function code, two
// bytes, sequence number.
constexpr uint32_t kResponseHeaderSize = 9;

// A body under construction: the size pass has been made, the block is
// allocated, the writes go through `c`.
struct Writer {
    uint8_t* data = nullptr;
    s7_cursor c{};

    s7_status open(uint64_t size) {
        if (size == 0 || size > kU32Max) {
            return S7_STATUS_ENCODE;
        }
        data = static_cast<uint8_t*>(s7_malloc(static_cast<size_t>(size)));
        if (data == nullptr) {
            return S7_STATUS_NO_MEMORY;
        }
        c = s7_cursor{data, data + size};
        return S7_STATUS_OK;
    }

    // Hands the body over when every write succeeded and filled it exactly;
    // frees it otherwise. The sizes equal the writes, so anything else is a
    // fault of ours and must not go out.
    s7_status close(s7_status codecResult, s7_body* body) {
        if (codecResult != S7_STATUS_OK || c.cur != c.end) {
            s7_free(data);
            data = nullptr;
            return S7_STATUS_ENCODE;
        }
        body->data = data;
        body->length = static_cast<uint32_t>(c.cur - data);
        data = nullptr;
        return S7_STATUS_OK;
    }
};

// A decoder's failure inside a response: running out of memory stays what it
// is, anything else means the controller sent something malformed.
s7_status fromDecoder(s7_status rc) { return rc == S7_STATUS_NO_MEMORY ? rc : S7_STATUS_PROTOCOL; }

// Makes room for one more entry in two parallel lists of `count` entries.
template <typename A, typename B>
s7_status growPair(A** a, B** b, uint32_t count, uint32_t* capacity, s7_budget* budget) {
    uint32_t roomA = *capacity;
    uint32_t roomB = *capacity;
    s7_status rc = s7_grow_list(a, count, &roomA, kListInitialCapacity, budget);
    if (rc == S7_STATUS_OK) {
        rc = s7_grow_list(b, count, &roomB, kListInitialCapacity, budget);
    }
    if (rc == S7_STATUS_OK) {
        *capacity = roomA;
    }
    return rc;
}

// The list of per-item errors that closes read and set-values responses:
// item number and error code, until item number 0.
s7_status parseErrorList(s7_cursor* c, s7_budget* budget, uint64_t** codes, uint32_t** items, uint32_t* count) {
    uint32_t room = 0;
    for (;;) {
        uint32_t item = 0;
        if (s7_read_vlq32(c, &item) != S7_STATUS_OK) {
            return S7_STATUS_PROTOCOL;
        }
        if (item == 0) {
            return S7_STATUS_OK;
        }
        uint64_t code = 0;
        if (s7_read_vlq64(c, &code) != S7_STATUS_OK) {
            return S7_STATUS_PROTOCOL;
        }
        const s7_status rc = growPair(codes, items, *count, &room, budget);
        if (rc != S7_STATUS_OK) {
            return rc;
        }
        (*codes)[*count] = code;
        (*items)[*count] = item;
        ++*count;
    }
}

s7_status parseReadBody(s7_cursor* c, s7_budget* budget, s7_read_result* r) {
    if (s7_read_u8(c, &r->first_byte) != S7_STATUS_OK || s7_read_vlq64(c, &r->return_value) != S7_STATUS_OK) {
        return S7_STATUS_PROTOCOL;
    }
    uint32_t valueRoom = 0;
    for (;;) {
        uint32_t item = 0;
        if (s7_read_vlq32(c, &item) != S7_STATUS_OK) {
            return S7_STATUS_PROTOCOL;
        }
        if (item == 0) {
            break;
        }
        s7_value* value = nullptr;
        const s7_status rc = s7_decode_value_within(c, budget, &value);
        if (rc != S7_STATUS_OK) {
            return fromDecoder(rc);
        }
        const s7_status grown = growPair(&r->values, &r->value_items, r->value_count, &valueRoom, budget);
        if (grown != S7_STATUS_OK) {
            s7_value_free(value);
            return grown;
        }
        r->values[r->value_count] = value;
        r->value_items[r->value_count] = item;
        ++r->value_count;
    }
    const s7_status rc = parseErrorList(c, budget, &r->error_codes, &r->error_items, &r->error_count);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    return s7_read_vlq32(c, &r->final_field) == S7_STATUS_OK ? S7_STATUS_OK : S7_STATUS_PROTOCOL;
}

s7_status parseSetBody(s7_cursor* c, s7_budget* budget, s7_set_result* r) {
    if (s7_read_u8(c, &r->first_byte) != S7_STATUS_OK || s7_read_vlq64(c, &r->return_value) != S7_STATUS_OK) {
        return S7_STATUS_PROTOCOL;
    }
    const s7_status rc = parseErrorList(c, budget, &r->error_codes, &r->error_items, &r->error_count);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    return s7_read_vlq32(c, &r->final_field) == S7_STATUS_OK ? S7_STATUS_OK : S7_STATUS_PROTOCOL;
}

s7_status parseExploreBody(s7_cursor* c, s7_budget* budget, s7_explore_result* r) {
    if (s7_read_u8(c, &r->first_byte) != S7_STATUS_OK || s7_read_vlq64(c, &r->return_value) != S7_STATUS_OK ||
        s7_read_u32(c, &r->head_word) != S7_STATUS_OK || s7_read_vlq32(c, &r->head_vlq) != S7_STATUS_OK) {
        return S7_STATUS_PROTOCOL;
    }
    uint32_t room = 0;
    // The byte after the head and after each object decides: another object
    // while it is 0xA1, the end of the list otherwise. It must be there.
    for (;;) {
        if (s7_remaining(c) == 0) {
            return S7_STATUS_PROTOCOL;
        }
        if (*c->cur != S7_TAG_OBJECT_START) {
            return S7_STATUS_OK;
        }
        s7_object* object = nullptr;
        const s7_status rc = s7_read_object_within(c, budget, &object);
        if (rc != S7_STATUS_OK) {
            return fromDecoder(rc);
        }
        const s7_status grown = s7_grow_list(&r->objects, r->object_count, &room, kExploreInitialCapacity, budget);
        if (grown != S7_STATUS_OK) {
            s7_object_free(object);
            return grown;
        }
        r->objects[r->object_count++] = object;
    }
}

s7_status parseCreateBody(s7_cursor* c, s7_budget* budget, s7_create_result* r) {
    if (s7_read_u8(c, &r->first_byte) != S7_STATUS_OK || s7_read_vlq64(c, &r->return_value) != S7_STATUS_OK) {
        return S7_STATUS_PROTOCOL;
    }
    uint8_t n = 0;
    if (s7_read_u8(c, &n) != S7_STATUS_OK) {
        return S7_STATUS_ENCODE;
    }
    if (n != 0) {
        r->object_ids = static_cast<uint32_t*>(s7_budget_malloc(budget, size_t{n} * sizeof(uint32_t)));
        if (r->object_ids == nullptr) {
            return S7_STATUS_NO_MEMORY;
        }
    }
    for (uint32_t i = 0; i < n; ++i) {
        uint64_t id = 0;
        if (s7_read_vlq64(c, &id) != S7_STATUS_OK || id > kU32Max) {
            return S7_STATUS_ENCODE;
        }
        r->object_ids[r->object_id_count++] = static_cast<uint32_t>(id);
    }
    if (s7_remaining(c) == 0 || *c->cur != S7_TAG_OBJECT_START) {
        return S7_STATUS_PROTOCOL;
    }
    const s7_status rc = s7_read_object_within(c, budget, &r->object);
    return rc == S7_STATUS_OK ? S7_STATUS_OK : fromDecoder(rc);
}

s7_status parseAttributeBody(s7_cursor* c, s7_budget* budget, s7_attribute_result* r) {
    if (s7_read_u8(c, &r->first_byte) != S7_STATUS_OK || s7_read_vlq64(c, &r->return_value) != S7_STATUS_OK ||
        s7_skip(c, 1) != S7_STATUS_OK) {
        return S7_STATUS_PROTOCOL;
    }
    const s7_status rc = s7_decode_value_within(c, budget, &r->value);
    if (rc != S7_STATUS_OK) {
        return fromDecoder(rc);
    }
    return s7_read_vlq32(c, &r->final_field) == S7_STATUS_OK ? S7_STATUS_OK : S7_STATUS_PROTOCOL;
}

}  // namespace

extern "C" {

s7_status s7_read_response_header(s7_cursor* c, s7_response_header* header) {
    if (c == nullptr || header == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    if (s7_remaining(c) < kResponseHeaderSize) {
        return S7_STATUS_PROTOCOL;
    }
    s7_response_header h{};
    s7_status rc = s7_read_u8(c, &h.first_byte);
    if (rc == S7_STATUS_OK) rc = s7_skip(c, 2);
    if (rc == S7_STATUS_OK) rc = s7_read_u16(c, &h.function_code);
    if (rc == S7_STATUS_OK) rc = s7_skip(c, 2);
    if (rc == S7_STATUS_OK) rc = s7_read_u16(c, &h.sequence);
    if (rc != S7_STATUS_OK) {
        return S7_STATUS_PROTOCOL;
    }
    *header = h;
    return S7_STATUS_OK;
}

void s7_body_free(s7_body* body) {
    if (body != nullptr) {
        s7_free(body->data);
        *body = s7_body{};
    }
}

void s7_read_result_free(s7_read_result* result) {
    if (result == nullptr) {
        return;
    }
    for (uint32_t i = 0; i < result->value_count; ++i) {
        s7_value_free(result->values[i]);
    }
    s7_free(result->values);
    s7_free(result->value_items);
    s7_free(result->error_codes);
    s7_free(result->error_items);
    *result = s7_read_result{};
}

void s7_explore_result_free(s7_explore_result* result) {
    if (result == nullptr) {
        return;
    }
    for (uint32_t i = 0; i < result->object_count; ++i) {
        s7_object_free(result->objects[i]);
    }
    s7_free(result->objects);
    *result = s7_explore_result{};
}

void s7_attribute_result_free(s7_attribute_result* result) {
    if (result == nullptr) {
        return;
    }
    s7_value_free(result->value);
    *result = s7_attribute_result{};
}

void s7_create_result_free(s7_create_result* result) {
    if (result == nullptr) {
        return;
    }
    s7_free(result->object_ids);
    s7_object_free(result->object);
    *result = s7_create_result{};
}

void s7_set_result_free(s7_set_result* result) {
    if (result == nullptr) {
        return;
    }
    s7_free(result->error_codes);
    s7_free(result->error_items);
    *result = s7_set_result{};
}

// ---------------------------------------------------------------- builders

uint32_t s7_request_tail_size(void) {
    return 4 + s7_vlq_size(S7_TAIL_ATTRIBUTE_ID32) + 2 + 4 + s7_vlq_size(S7_TAIL_ATTRIBUTE_ID_VLQ) + 2 +
           s7_vlq_size(0) + s7_vlq_size(S7_TAIL_ATTRIBUTE_U32) + 2 + s7_vlq_size(0) + 1;
}

s7_status s7_write_request_tail(s7_cursor* c) {
    // The list, then each attribute as identifier, flag byte 0, value type
    // and the value 0; a 0 closes the list.
    if (s7_remaining(c) < s7_request_tail_size()) {
        return S7_STATUS_BOUNDS;
    }
    s7_write_u32(c, S7_TAIL_ATTRIBUTE_LIST);
    s7_write_vlq64(c, S7_TAIL_ATTRIBUTE_ID32);
    s7_write_u8(c, 0);
    s7_write_u8(c, S7_TYPE_ID32);
    s7_write_u32(c, 0);
    s7_write_vlq64(c, S7_TAIL_ATTRIBUTE_ID_VLQ);
    s7_write_u8(c, 0);
    s7_write_u8(c, S7_TYPE_ID_VLQ);
    s7_write_vlq64(c, 0);
    s7_write_vlq64(c, S7_TAIL_ATTRIBUTE_U32);
    s7_write_u8(c, 0);
    s7_write_u8(c, S7_TYPE_U32);
    s7_write_vlq64(c, 0);
    return s7_write_u8(c, 0);
}

s7_status s7_build_read_request(const s7_item_address* const* items, uint32_t count, bool with_counter,
                                uint32_t counter, s7_body* body) {
    if (items == nullptr || body == nullptr || count == 0) {
        return S7_STATUS_ARGUMENT;
    }
    uint64_t fields = 0;
    uint64_t addressBytes = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (items[i] == nullptr) {
            return S7_STATUS_ARGUMENT;
        }
        fields += uint64_t{items[i]->path_count} + 4;
        addressBytes += s7_item_address_size(items[i]);
    }
    const uint64_t size = 1 + 4 + uint64_t{s7_vlq_size(count)} + s7_vlq_size(fields) + addressBytes +
                          s7_request_tail_size() + (with_counter ? s7_vlq_size(counter) : 0) + 4;
    Writer w;
    s7_status rc = w.open(size);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    rc = s7_write_u8(&w.c, S7_BODY_REQUEST);
    if (rc == S7_STATUS_OK) rc = s7_write_u32(&w.c, 0);
    if (rc == S7_STATUS_OK) rc = s7_write_vlq64(&w.c, count);
    if (rc == S7_STATUS_OK) rc = s7_write_vlq64(&w.c, fields);
    for (uint32_t i = 0; rc == S7_STATUS_OK && i < count; ++i) {
        rc = s7_write_item_address(&w.c, items[i]);
    }
    if (rc == S7_STATUS_OK) rc = s7_write_request_tail(&w.c);
    if (rc == S7_STATUS_OK && with_counter) rc = s7_write_vlq64(&w.c, counter);
    if (rc == S7_STATUS_OK) rc = s7_write_u32(&w.c, 0);
    return w.close(rc, body);
}

s7_status s7_build_get_attribute_request(uint32_t object_id, uint32_t attribute_id, bool with_counter, uint32_t counter,
                                         s7_body* body) {
    if (body == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    const uint64_t size = 1 + 4 + sizeof kGetAttributeMarker + uint64_t{s7_vlq_size(attribute_id)} +
                          s7_request_tail_size() + 2 + (with_counter ? s7_vlq_size(counter) : 0) + 4;
    Writer w;
    s7_status rc = w.open(size);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    rc = s7_write_u8(&w.c, S7_BODY_REQUEST);
    if (rc == S7_STATUS_OK) rc = s7_write_u32(&w.c, object_id);
    if (rc == S7_STATUS_OK) rc = s7_write_bytes(&w.c, kGetAttributeMarker, sizeof kGetAttributeMarker);
    if (rc == S7_STATUS_OK) rc = s7_write_vlq64(&w.c, attribute_id);
    if (rc == S7_STATUS_OK) rc = s7_write_request_tail(&w.c);
    if (rc == S7_STATUS_OK) rc = s7_write_u16(&w.c, kGetAttributeCount);
    if (rc == S7_STATUS_OK && with_counter) rc = s7_write_vlq64(&w.c, counter);
    if (rc == S7_STATUS_OK) rc = s7_write_u32(&w.c, 0);
    return w.close(rc, body);
}

s7_status s7_build_create_object_request(const s7_create_request* request, bool with_counter, uint32_t counter,
                                         s7_body* body) {
    if (request == nullptr || request->value == nullptr || request->object == nullptr || body == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    const uint32_t valueSize = s7_value_size(request->value);
    const uint32_t objectSize = s7_object_size(request->object);
    if (valueSize == 0 || objectSize == 0) {
        return S7_STATUS_ENCODE;
    }
    const uint64_t size = uint64_t{valueSize} + objectSize + 13 + (with_counter ? s7_vlq_size(counter) : 0);
    Writer w;
    s7_status rc = w.open(size);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    rc = s7_write_u8(&w.c, S7_BODY_CREATE);
    if (rc == S7_STATUS_OK) rc = s7_write_u32(&w.c, request->target_id);
    if (rc == S7_STATUS_OK) rc = s7_encode_value(&w.c, request->value);
    if (rc == S7_STATUS_OK) rc = s7_write_u32(&w.c, 0);
    if (rc == S7_STATUS_OK && with_counter) rc = s7_write_vlq64(&w.c, counter);
    if (rc == S7_STATUS_OK) rc = s7_write_object(&w.c, request->object);
    if (rc == S7_STATUS_OK) rc = s7_write_u32(&w.c, 0);
    return w.close(rc, body);
}

s7_status s7_build_explore_request(const s7_explore_request* request, bool with_counter, uint32_t counter,
                                   s7_body* body) {
    if (request == nullptr || body == nullptr || (request->attribute_count != 0 && request->attribute_ids == nullptr)) {
        return S7_STATUS_ARGUMENT;
    }
    uint64_t size = 8 + uint64_t{s7_vlq_size(request->explore_id)} + 1 + s7_vlq_size(request->attribute_count) +
                    (with_counter ? s7_vlq_size(counter) : 0) + 5;
    if (request->filter != nullptr) {
        const uint32_t filterSize = s7_value_size(request->filter);
        if (filterSize == 0) {
            return S7_STATUS_ENCODE;
        }
        size += 1 + uint64_t{filterSize};
    }
    for (uint32_t i = 0; i < request->attribute_count; ++i) {
        size += s7_vlq_size(request->attribute_ids[i]);
    }
    Writer w;
    s7_status rc = w.open(size);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    rc = s7_write_u8(&w.c, S7_BODY_REQUEST);
    if (rc == S7_STATUS_OK) rc = s7_write_u32(&w.c, request->root);
    if (rc == S7_STATUS_OK) rc = s7_write_vlq64(&w.c, request->explore_id);
    if (rc == S7_STATUS_OK) rc = s7_write_u8(&w.c, request->option_a == 1 ? 1 : 0);
    if (rc == S7_STATUS_OK) rc = s7_write_u8(&w.c, 1);
    if (rc == S7_STATUS_OK) rc = s7_write_u8(&w.c, request->option_b == 1 ? 1 : 0);
    if (rc == S7_STATUS_OK && request->filter != nullptr) {
        rc = s7_write_u8(&w.c, 1);
        if (rc == S7_STATUS_OK) rc = s7_encode_value(&w.c, request->filter);
    }
    if (rc == S7_STATUS_OK) rc = s7_write_u8(&w.c, 0);
    if (rc == S7_STATUS_OK) rc = s7_write_vlq64(&w.c, request->attribute_count);
    for (uint32_t i = 0; rc == S7_STATUS_OK && i < request->attribute_count; ++i) {
        rc = s7_write_vlq64(&w.c, request->attribute_ids[i]);
    }
    if (rc == S7_STATUS_OK && with_counter) rc = s7_write_vlq64(&w.c, counter);
    if (rc == S7_STATUS_OK) rc = s7_write_u32(&w.c, 0);
    if (rc == S7_STATUS_OK) rc = s7_write_u8(&w.c, 0);
    return w.close(rc, body);
}

s7_status s7_build_set_request(const s7_set_request* request, bool with_counter, uint32_t counter, s7_body* body) {
    if (request == nullptr || body == nullptr || request->count == 0 || request->values == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    const bool objectForm = request->object_id != 0;
    if (objectForm ? request->attribute_ids == nullptr : request->addresses == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    uint64_t size = 1 + 4 + uint64_t{s7_vlq_size(request->count)};
    uint64_t fields = 0;
    for (uint32_t i = 0; i < request->count; ++i) {
        if (request->values[i] == nullptr || (!objectForm && request->addresses[i] == nullptr)) {
            return S7_STATUS_ARGUMENT;
        }
        const uint32_t valueSize = s7_value_size(request->values[i]);
        if (valueSize == 0) {
            return S7_STATUS_ENCODE;
        }
        size += s7_vlq_size(uint64_t{i} + 1) + uint64_t{valueSize};
        if (objectForm) {
            size += s7_vlq_size(request->attribute_ids[i]);
        } else {
            fields += uint64_t{request->addresses[i]->path_count} + 4;
            size += s7_item_address_size(request->addresses[i]);
        }
    }
    size += objectForm ? s7_vlq_size(request->count) : s7_vlq_size(fields);
    size += 1 + uint64_t{s7_request_tail_size()} + (with_counter ? s7_vlq_size(counter) : 0) + 4;
    Writer w;
    s7_status rc = w.open(size);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    rc = s7_write_u8(&w.c, S7_BODY_REQUEST);
    if (rc == S7_STATUS_OK) rc = s7_write_u32(&w.c, request->object_id);
    if (rc == S7_STATUS_OK) rc = s7_write_vlq64(&w.c, request->count);
    if (objectForm) {
        if (rc == S7_STATUS_OK) rc = s7_write_vlq64(&w.c, request->count);
        for (uint32_t i = 0; rc == S7_STATUS_OK && i < request->count; ++i) {
            rc = s7_write_vlq64(&w.c, request->attribute_ids[i]);
        }
    } else {
        if (rc == S7_STATUS_OK) rc = s7_write_vlq64(&w.c, fields);
        for (uint32_t i = 0; rc == S7_STATUS_OK && i < request->count; ++i) {
            rc = s7_write_item_address(&w.c, request->addresses[i]);
        }
    }
    for (uint32_t i = 0; rc == S7_STATUS_OK && i < request->count; ++i) {
        rc = s7_write_vlq64(&w.c, uint64_t{i} + 1);
        if (rc == S7_STATUS_OK) rc = s7_encode_value(&w.c, request->values[i]);
    }
    if (rc == S7_STATUS_OK) rc = s7_write_u8(&w.c, kSetSeparator);
    if (rc == S7_STATUS_OK) rc = s7_write_request_tail(&w.c);
    if (rc == S7_STATUS_OK && with_counter) rc = s7_write_vlq64(&w.c, counter);
    if (rc == S7_STATUS_OK) rc = s7_write_u32(&w.c, 0);
    return w.close(rc, body);
}

// ---------------------------------------------------------------- parsers

s7_status s7_parse_read_response(const uint8_t* data, uint32_t length, s7_read_result* result) {
    return s7_parse_response(data, length, S7_FN_READ_VARIABLES, result, parseReadBody, s7_read_result_free);
}

s7_status s7_parse_attribute_response(const uint8_t* data, uint32_t length, s7_attribute_result* result) {
    return s7_parse_response(data, length, S7_FN_GET_ATTRIBUTE, result, parseAttributeBody, s7_attribute_result_free);
}

s7_status s7_parse_create_response(const uint8_t* data, uint32_t length, s7_create_result* result) {
    return s7_parse_response(data, length, S7_FN_CREATE_OBJECT, result, parseCreateBody, s7_create_result_free);
}

s7_status s7_parse_explore_response(const uint8_t* data, uint32_t length, s7_explore_result* result) {
    return s7_parse_response(data, length, S7_FN_EXPLORE, result, parseExploreBody, s7_explore_result_free);
}

s7_status s7_parse_set_response(const uint8_t* data, uint32_t length, s7_set_result* result) {
    return s7_parse_response(data, length, S7_FN_SET_VALUES, result, parseSetBody, s7_set_result_free);
}

// ---------------------------------------------------------------- operations

s7_status s7_read_variables(s7_session* session, const s7_item_address* const* items, uint32_t count, uint8_t version,
                            bool with_counter, uint32_t timeout_ms, s7_read_result* result) {
    return s7_run_operation(
        session, S7_FN_READ_VARIABLES, version, with_counter, timeout_ms, result,
        [&](bool counted, uint32_t counter, s7_body* body) {
            return s7_build_read_request(items, count, counted, counter, body);
        },
        s7_parse_read_response);
}

s7_status s7_get_attribute(s7_session* session, uint32_t object_id, uint32_t attribute_id, uint8_t version,
                           bool with_counter, uint32_t timeout_ms, s7_attribute_result* result) {
    return s7_run_operation(
        session, S7_FN_GET_ATTRIBUTE, version, with_counter, timeout_ms, result,
        [&](bool counted, uint32_t counter, s7_body* body) {
            return s7_build_get_attribute_request(object_id, attribute_id, counted, counter, body);
        },
        s7_parse_attribute_response);
}

s7_status s7_create_object(s7_session* session, const s7_create_request* request, uint8_t version, bool with_counter,
                           uint32_t timeout_ms, s7_create_result* result) {
    return s7_run_operation(
        session, S7_FN_CREATE_OBJECT, version, with_counter, timeout_ms, result,
        [&](bool counted, uint32_t counter, s7_body* body) {
            return s7_build_create_object_request(request, counted, counter, body);
        },
        s7_parse_create_response);
}

s7_status s7_explore(s7_session* session, const s7_explore_request* request, uint8_t version, bool with_counter,
                     uint32_t timeout_ms, s7_explore_result* result) {
    return s7_run_operation(
        session, S7_FN_EXPLORE, version, with_counter, timeout_ms, result,
        [&](bool counted, uint32_t counter, s7_body* body) {
            return s7_build_explore_request(request, counted, counter, body);
        },
        s7_parse_explore_response);
}

s7_status s7_explore_within(s7_session* session, const s7_explore_request* request, uint8_t version, bool with_counter,
                            uint32_t timeout_ms, uint32_t max_length, uint32_t* answer_length,
                            s7_explore_result* result) {
    return s7_run_operation(
        session, S7_FN_EXPLORE, version, with_counter, timeout_ms, result,
        [&](bool counted, uint32_t counter, s7_body* body) {
            return s7_build_explore_request(request, counted, counter, body);
        },
        s7_parse_explore_response, max_length, answer_length);
}

s7_status s7_set_values(s7_session* session, const s7_set_request* request, uint8_t version, bool with_counter,
                        uint32_t timeout_ms, s7_set_result* result) {
    return s7_run_operation(
        session, S7_FN_SET_VALUES, version, with_counter, timeout_ms, result,
        [&](bool counted, uint32_t counter, s7_body* body) {
            return s7_build_set_request(request, counted, counter, body);
        },
        s7_parse_set_response);
}

}  // extern "C"

s7_status s7_open_response(const uint8_t* data, uint32_t length, uint16_t function_code, s7_cursor* c) {
    if (data == nullptr || length == 0) {
        return S7_STATUS_PROTOCOL;
    }
    *c = s7_cursor{const_cast<uint8_t*>(data), const_cast<uint8_t*>(data) + length};
    s7_response_header header{};
    const s7_status rc = s7_read_response_header(c, &header);
    if (rc != S7_STATUS_OK) {
        return rc;
    }
    return header.function_code == function_code ? S7_STATUS_OK : S7_STATUS_PROTOCOL;
}

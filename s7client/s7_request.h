/*
 * Request layer: the object requests of the protocol - read variables, get
 * attribute, create object, explore, set values - as body builders, response
 * parsers and the operations that send them through the exchange.
 *
 * Builders work in two passes: they add up the exact body length, allocate
 * once through the memory layer and write. Parsers check the response header
 * (function code) and build a complete result or nothing. Borrows the value
 * and object layers for what the bodies carry and the exchange layer for
 * sending; all results are released with their own free function.
 *
 * Results are statuses (s7_status.h).
 */
#ifndef S7_REQUEST_H
#define S7_REQUEST_H

#include <vemo/s7read.h>

#include "s7_cursor.h"
#include "s7_exchange.h"
#include "s7_memory.h"
#include "s7_object.h"
#include "s7_value.h"

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The first 9 bytes of every response. */
typedef struct s7_response_header {
    uint8_t first_byte; /* kept, not tested */
    uint16_t function_code;
    uint16_t sequence; /* kept, not compared */
} s7_response_header;

/* Reads the response header. S7_STATUS_ARGUMENT for null arguments,
 * S7_STATUS_PROTOCOL when it is cut short; *header is written only on success. */
s7_status s7_read_response_header(s7_cursor* c, s7_response_header* header);

/* The fixed 23-byte attribute block that read, get-attribute and set-values
 * bodies carry near their end. */
s7_status s7_write_request_tail(s7_cursor* c);
uint32_t s7_request_tail_size(void);

/* A request body built by the builders below; released with s7_body_free. */
typedef struct s7_body {
    uint8_t* data;
    uint32_t length;
} s7_body;

void s7_body_free(s7_body* body);

typedef struct s7_read_result {
    uint64_t return_value;
    uint8_t first_byte;
    uint32_t final_field;
    uint64_t* error_codes; /* parallel to error_items */
    uint32_t* error_items;
    uint32_t error_count;
    s7_value** values; /* owned; parallel to value_items */
    uint32_t* value_items;
    uint32_t value_count;
} s7_read_result;

typedef struct s7_explore_request {
    uint32_t root;
    uint32_t explore_id;
    uint8_t option_a;
    uint8_t option_b;
    const uint32_t* attribute_ids; /* not owned */
    const s7_value* filter;        /* optional, not owned */
    uint32_t attribute_count;
} s7_explore_request;

typedef struct s7_explore_result {
    uint64_t return_value;
    uint8_t first_byte;
    uint32_t head_vlq;
    uint32_t head_word;
    uint32_t object_count;
    s7_object** objects; /* owned */
} s7_explore_result;

typedef struct s7_attribute_result {
    uint64_t return_value;
    uint32_t final_field;
    uint8_t first_byte;
    s7_value* value; /* owned */
} s7_attribute_result;

typedef struct s7_create_request {
    uint32_t target_id;
    const s7_value* value;   /* not owned */
    const s7_object* object; /* not owned */
} s7_create_request;

typedef struct s7_create_result {
    uint8_t first_byte;
    uint64_t return_value;
    uint32_t* object_ids; /* owned */
    uint32_t object_id_count;
    s7_object* object; /* owned */
} s7_create_result;

/*
 * One set-values request. With a non-zero object id it sets attributes of
 * that object (object form: `attribute_ids`); with object id 0 it sets the
 * variables named by `addresses` (address form). Nothing here is owned.
 */
typedef struct s7_set_request {
    uint32_t object_id;
    const s7_item_address* const* addresses; /* address form */
    const uint32_t* attribute_ids;           /* object form */
    const s7_value* const* values;
    uint32_t count;
} s7_set_request;

typedef struct s7_set_result {
    uint64_t return_value;
    uint8_t first_byte;
    uint32_t final_field;
    uint64_t* error_codes; /* owned; parallel to error_items */
    uint32_t* error_items; /* owned */
    uint32_t error_count;
} s7_set_result;

/* Each frees everything the result owns and zeroes it; null allowed. */
void s7_read_result_free(s7_read_result* result);
void s7_explore_result_free(s7_explore_result* result);
void s7_attribute_result_free(s7_attribute_result* result);
void s7_create_result_free(s7_create_result* result);
void s7_set_result_free(s7_set_result* result);

/*
 * Body builders. `counter` is written (as an unsigned VLQ) only when
 * `with_counter` is set; the operations take it from the session. On
 * success *body holds exactly the body; S7_STATUS_ARGUMENT for null or empty
 * input, S7_STATUS_NO_MEMORY, S7_STATUS_ENCODE when something cannot be written.
 */
s7_status s7_build_read_request(const s7_item_address* const* items, uint32_t count, bool with_counter,
                                uint32_t counter, s7_body* body);
s7_status s7_build_get_attribute_request(uint32_t object_id, uint32_t attribute_id, bool with_counter, uint32_t counter,
                                         s7_body* body);
s7_status s7_build_create_object_request(const s7_create_request* request, bool with_counter, uint32_t counter,
                                         s7_body* body);
s7_status s7_build_explore_request(const s7_explore_request* request, bool with_counter, uint32_t counter,
                                   s7_body* body);
/* Set values, in object form or address form (see s7_set_request); a null
 * entry in the list the form needs is S7_STATUS_ARGUMENT too. */
s7_status s7_build_set_request(const s7_set_request* request, bool with_counter, uint32_t counter, s7_body* body);

/*
 * Response parsers over a whole response (header and body). The result is
 * zeroed first and filled only on success. S7_STATUS_PROTOCOL for an empty or
 * malformed response or another function code, S7_STATUS_NO_MEMORY when memory
 * runs out or the result would take more than the response's budget
 * (s7_budget); the create-object reply gives S7_STATUS_ENCODE for a malformed
 * identifier list.
 */
s7_status s7_parse_read_response(const uint8_t* data, uint32_t length, s7_read_result* result);
s7_status s7_parse_attribute_response(const uint8_t* data, uint32_t length, s7_attribute_result* result);
s7_status s7_parse_create_response(const uint8_t* data, uint32_t length, s7_create_result* result);
s7_status s7_parse_explore_response(const uint8_t* data, uint32_t length, s7_explore_result* result);
s7_status s7_parse_set_response(const uint8_t* data, uint32_t length, s7_set_result* result);

/*
 * The operations: build, exchange with `version` and `timeout_ms`, parse.
 * With `with_counter` the session's counter of the function code advances
 * and goes into the body. The exchange's statuses pass through unchanged.
 */
s7_status s7_read_variables(s7_session* session, const s7_item_address* const* items, uint32_t count, uint8_t version,
                            bool with_counter, uint32_t timeout_ms, s7_read_result* result);
s7_status s7_get_attribute(s7_session* session, uint32_t object_id, uint32_t attribute_id, uint8_t version,
                           bool with_counter, uint32_t timeout_ms, s7_attribute_result* result);
s7_status s7_create_object(s7_session* session, const s7_create_request* request, uint8_t version, bool with_counter,
                           uint32_t timeout_ms, s7_create_result* result);
s7_status s7_explore(s7_session* session, const s7_explore_request* request, uint8_t version, bool with_counter,
                     uint32_t timeout_ms, s7_explore_result* result);
/* An explore whose answer may take at most `max_length` bytes (see
 * s7_exchange_within; a longer one gives S7_STATUS_ANSWER_TOO_LARGE and the
 * session goes on). On success *answer_length (null allowed) is the answer's
 * length. */
s7_status s7_explore_within(s7_session* session, const s7_explore_request* request, uint8_t version, bool with_counter,
                            uint32_t timeout_ms, uint32_t max_length, uint32_t* answer_length,
                            s7_explore_result* result);
s7_status s7_set_values(s7_session* session, const s7_set_request* request, uint8_t version, bool with_counter,
                        uint32_t timeout_ms, s7_set_result* result);

#ifdef __cplusplus
}

/*
 * Opens a cursor over a response whose header must carry `function_code`;
 * S7_STATUS_PROTOCOL for an empty response or another function.
 */
s7_status s7_open_response(const uint8_t* data, uint32_t length, uint16_t function_code, s7_cursor* c);

/*
 * A response of `function_code` parsed whole into `result` by `parse_body`,
 * or not at all: on failure what the body parser built is released again.
 * All the body parser allocates comes out of one budget for the whole
 * response (s7_budget): however the controller fills its answer, the
 * result takes no more memory than the answer's length allows.
 */
template <typename Result>
s7_status s7_parse_response(const uint8_t* data, uint32_t length, uint16_t function_code, Result* result,
                            s7_status (*parse_body)(s7_cursor*, s7_budget*, Result*), void (*release)(Result*)) {
    if (result == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    *result = Result{};
    s7_cursor c{};
    s7_status rc = s7_open_response(data, length, function_code, &c);
    if (rc == S7_STATUS_OK) {
        s7_budget budget = s7_budget_for(length);
        rc = parse_body(&c, &budget, result);
    }
    if (rc != S7_STATUS_OK) {
        release(result);
    }
    return rc;
}

/*
 * One operation: `build(with_counter, counter, &body)` writes the request
 * body, the exchange sends it under `function_code` and keeps at most
 * `max_length` bytes of the response, and `parse` reads the response into
 * `result`, whole or not at all. `result` is cleared first; on success
 * *response_length (when not null) is the response's length.
 */
template <typename Result, typename Build>
s7_status s7_run_operation(s7_session* session, uint16_t function_code, uint8_t version, bool with_counter,
                           uint32_t timeout_ms, Result* result, Build build,
                           s7_status (*parse)(const uint8_t*, uint32_t, Result*),
                           uint32_t max_length = S7_RESPONSE_MAX_SIZE, uint32_t* response_length = nullptr) {
    if (session == nullptr || result == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    *result = Result{};
    const uint32_t counter = with_counter ? s7_session_next_counter(session, function_code) : 0;
    s7_body body{};
    s7_status rc = build(with_counter, counter, &body);
    s7_response response{};
    if (rc == S7_STATUS_OK) {
        const s7_request request{body.data, body.length, function_code, version};
        rc = s7_exchange_within(session, &request, &response, timeout_ms, max_length);
        s7_body_free(&body);
    }
    if (rc == S7_STATUS_OK) {
        rc = parse(response.data, response.length, result);
    }
    if (rc == S7_STATUS_OK && response_length != nullptr) {
        *response_length = response.length;
    }
    s7_response_clear(&response);
    return rc;
}
#endif

#endif

/*
 * VEMO S7 client library: item addresses and variable reads.
 *
 * An item address names one readable variable of the controller: the object
 * that holds it, the attribute that holds its storage and a path of further
 * identifiers down to the variable. vemoc_s7_client_read reads the values of
 * a list of addresses in one request.
 *
 * Usable from C and C++.
 */
#ifndef VEMO_S7READ_H
#define VEMO_S7READ_H

#include <vemo/s7api.h>
#include <vemo/s7client.h>
#include <vemo/s7value.h>

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A plain record: start from all zero, set the two identifiers, push the
 * path entries, release with s7_item_address_release. */
typedef struct s7_item_address {
    uint32_t object_id;    /* the object holding the variable (a data block's identifier) */
    uint32_t attribute_id; /* the attribute holding the variable's storage */
    uint32_t* path;        /* owned; further identifiers down to the variable */
    uint32_t path_count;
} s7_item_address;

/* Appends one path identifier. S7_ERR_ARGUMENT for a null address or a full
 * path, S7_ERR_NO_MEMORY when memory runs out (the address is then
 * unchanged). */
S7_API uint8_t s7_item_address_push(s7_item_address* address, uint32_t id);

/* Deep copy into *copy, which is written only on success (S7_OK).
 * S7_ERR_ARGUMENT for null arguments, S7_ERR_NO_MEMORY when memory runs
 * out. */
S7_API uint8_t s7_item_address_copy(const s7_item_address* address, s7_item_address* copy);

/* Frees the path and zeroes the record. Null is allowed. */
S7_API void s7_item_address_release(s7_item_address* address);

/*
 * Reads the values of `count` variables in one request.
 *
 * On success (S7_OK) *values is an array of `count` values in the order of
 * `items`: each value is placed by the item number the controller gives it,
 * and the answer must name every number 1..count exactly once. The caller
 * releases each value with s7_value_free and the array with s7_free.
 * *values is set to null first and written only on success; a read either
 * delivers every value or none.
 *
 * Codes: S7_ERR_ARGUMENT (null handle, items or output, count 0),
 * S7_ERR_NOT_CONNECTED, S7_ERR_TOO_MANY_ITEMS (more than the controller's
 * item limit; nothing is sent), S7_ERR_READ (the controller answered with an
 * error, with a per-item error, with another number of values than items,
 * or with item numbers that are not 1..count once each), S7_ERR_PROTOCOL (a
 * malformed answer), S7_ERR_NO_MEMORY, S7_ERR_ENCODE, and the exchange's
 * S7_ERR_TIMEOUT, S7_ERR_TLS, S7_ERR_TRANSPORT, S7_ERR_NOT_CONNECTED (after
 * which the handle is disconnected, see vemoc_s7_client_get_state).
 */
S7_API uint8_t vemoc_s7_client_read(vemoc_s7_client* client, const s7_item_address* const* items, uint32_t count,
                                    s7_value*** values);

/* One item of vemoc_s7_client_read_each: its value, or the error code the
 * controller gave it instead. */
typedef struct s7_item_result {
    s7_value* value; /* owned; null when the controller refused the item */
    uint64_t error;  /* the controller's error code for a refused item; 0 with a value */
} s7_item_result;

/*
 * Reads `count` variables in one request like vemoc_s7_client_read, but a
 * variable the controller refuses does not fail the others: each item gets
 * its value or its error code. On S7_OK *results is an array of `count`
 * results in the order of `items`, released with s7_item_results_free.
 * *results is set to null first and written only on success.
 *
 * Every item number 1..count must be answered exactly once, by a value or
 * by an error code (S7_ERR_READ otherwise, also for a request the
 * controller refused as a whole); the return value is not judged when they
 * all are. The other codes as for vemoc_s7_client_read.
 */
S7_API uint8_t vemoc_s7_client_read_each(vemoc_s7_client* client, const s7_item_address* const* items, uint32_t count,
                                         s7_item_result** results);

/* Frees the value of every result, then the array. Null is allowed. */
S7_API void s7_item_results_free(s7_item_result* results, uint32_t count);

#ifdef __cplusplus
}
#endif

#endif /* VEMO_S7READ_H */

/*
 * VEMO S7 client library: writing variables.
 *
 * vemoc_s7_client_write sets the values of a list of variables, named by
 * item addresses (<vemo/s7read.h>), in one request. Writing changes the
 * running controller: the library never writes on its own, only this call
 * does.
 *
 * Usable from C and C++.
 */
#ifndef VEMO_S7WRITE_H
#define VEMO_S7WRITE_H

#include <vemo/s7api.h>
#include <vemo/s7client.h>
#include <vemo/s7read.h>
#include <vemo/s7value.h>

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One item of vemoc_s7_client_write: whether the controller wrote it. */
typedef struct s7_write_result {
    uint64_t error; /* the controller's error code for a refused item; 0 when written */
} s7_write_result;

/*
 * Writes `values[i]` to the variable `items[i]`, for `count` items, in one
 * request. Each value must have the wire type the variable has (the
 * controller refuses the item otherwise). A list longer than the
 * controller's item limit (vemoc_s7_client_get_max_read_items) is refused
 * with S7_ERR_TOO_MANY_ITEMS and nothing is sent: a write is never split
 * into several requests, so that it is one request or none.
 *
 * On S7_OK the controller answered every item: *results is an array of
 * `count` results in the order of `items`, released with
 * s7_write_results_free; an item the controller refused carries its error
 * code, the others 0. *results is set to null first and written only on
 * success.
 *
 * Codes: S7_ERR_ARGUMENT (null handle, items, values or output, a null
 * entry, count 0; nothing is sent), S7_ERR_NOT_CONNECTED,
 * S7_ERR_TOO_MANY_ITEMS, S7_ERR_WRITE (the controller refused the request
 * as a whole - a non-zero return value and no per-item error - or named an
 * item number outside 1..count or one item twice), S7_ERR_PROTOCOL (a
 * malformed answer), S7_ERR_NO_MEMORY, S7_ERR_ENCODE (a value that cannot
 * be written), and the exchange's S7_ERR_TIMEOUT, S7_ERR_TLS,
 * S7_ERR_TRANSPORT, S7_ERR_NOT_CONNECTED (after which the handle is
 * disconnected, see vemoc_s7_client_get_state; whether the controller wrote
 * anything is then unknown).
 */
S7_API uint8_t vemoc_s7_client_write(vemoc_s7_client* client, const s7_item_address* const* items,
                                     const s7_value* const* values, uint32_t count, s7_write_result** results);

/* Frees an array of write results. Null is allowed. */
S7_API void s7_write_results_free(s7_write_result* results);

#ifdef __cplusplus
}
#endif

#endif /* VEMO_S7WRITE_H */

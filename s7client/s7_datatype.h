/*
 * Data-type layer: the controller's one-byte data-type identifiers.
 *
 * Every variable the controller describes carries one of these identifiers
 * (in its type-info entry, and from there in each browsed symbol). The
 * library only needs to know which of them the browse lists as readable
 * symbols; their display names belong to the application. These identifiers
 * are not the value types of the value layer.
 */
#ifndef S7_DATATYPE_H
#define S7_DATATYPE_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* True when the browse lists an elementary member of this data type as a
 * symbol. Only the low 8 bits of `datatype` count. */
bool s7_datatype_is_browsable(uint32_t datatype);

#ifdef __cplusplus
}
#endif

#endif

/*
 * VEMO S7 client library: what the library exports.
 *
 * The library is built with every symbol hidden; S7_API marks the functions
 * of the public headers, the only ones a program can link against. Names:
 * vemoc_s7_client_* are the operations on a client handle; s7_* are the
 * records those operations hand out and take (values, item addresses,
 * block and symbol lists, data types, result names) and the allocation
 * hooks. The library's internal functions share the s7_ prefix but are
 * never exported.
 */
#ifndef VEMO_S7API_H
#define VEMO_S7API_H

#if defined(__GNUC__)
#define S7_API __attribute__((visibility("default")))
#else
#define S7_API
#endif

#endif /* VEMO_S7API_H */

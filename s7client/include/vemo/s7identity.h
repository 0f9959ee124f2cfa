/*
 * VEMO S7 client library: who the controller is.
 *
 * Controllers present self-signed certificates, so connect accepts any
 * certificate: the connection is encrypted, but nothing says which
 * controller is at the other end. What connect keeps is the controller's
 * identity - SHA-256 digests of its certificate and of its public key - so
 * that the caller can compare it with one it trusts (pinned, or seen
 * before at that address) right after connect, before it browses, reads or
 * writes anything.
 *
 * The key fingerprint (of the SubjectPublicKeyInfo DER) is the one to
 * trust: it stays the same when a controller renews its certificate with
 * the same key. Its text is "SHA256:" followed by the 32 bytes in base64
 * without padding (43 characters), as OpenSSH writes key fingerprints; the
 * two functions below are the one place that writes and reads that text.
 *
 * Usable from C and C++.
 */
#ifndef VEMO_S7IDENTITY_H
#define VEMO_S7IDENTITY_H

#include <vemo/s7api.h>
#include <vemo/s7client.h>

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    /* Bytes of a SHA-256 digest. */
    S7_FINGERPRINT_SIZE = 32,
    /* Characters of a fingerprint's text, its terminating NUL included:
     * "SHA256:" (7), 43 base64 characters and the NUL. */
    S7_FINGERPRINT_TEXT_SIZE = 51
};

/* The identity of a connected controller, a plain value owned by the
 * caller (nothing to release). */
typedef struct s7_identity {
    uint8_t certificate_sha256[S7_FINGERPRINT_SIZE]; /* of the certificate's DER */
    uint8_t public_key_sha256[S7_FINGERPRINT_SIZE];  /* of its SubjectPublicKeyInfo DER: the key fingerprint */
} s7_identity;

/*
 * Stores the identity the controller presented in the TLS handshake of the
 * current connection. S7_ERR_ARGUMENT for null arguments,
 * S7_ERR_NOT_CONNECTED unless the handle is connected (the identity belongs
 * to the connection and goes with it). The identity is known as soon as
 * connect returns S7_OK, so a caller can hold the connection unused while
 * it decides whether to trust it.
 */
S7_API uint8_t vemoc_s7_client_get_identity(const vemoc_s7_client* client, s7_identity* identity);

/* Room for any address text vemoc_s7_client_get_peer_address writes, its
 * NUL included (an IPv6 address with a zone). */
enum { S7_ADDRESS_TEXT_SIZE = 64 };

/*
 * Writes the numeric address the current connection goes to ("127.0.0.1",
 * "::1"), NUL-terminated, into `text` of `capacity` characters: the one
 * address of those a host name resolved to that accepted, so that what a
 * caller trusts can be keyed by the address rather than by how the host
 * was spelt ("localhost", "127.1"). S7_ERR_ARGUMENT for null arguments or
 * too little room (S7_ADDRESS_TEXT_SIZE is enough), S7_ERR_NOT_CONNECTED
 * unless the handle is connected, S7_ERR_TRANSPORT when the system cannot
 * tell. `text` is the empty string on any failure (when it has room).
 */
S7_API uint8_t vemoc_s7_client_get_peer_address(const vemoc_s7_client* client, char* text, size_t capacity);

/*
 * Writes the text of a digest, "SHA256:" and 43 base64 characters (no
 * padding), NUL-terminated, into `text`, which has room for `capacity`
 * characters. S7_ERR_ARGUMENT (nothing written) for null arguments or a
 * capacity below S7_FINGERPRINT_TEXT_SIZE.
 */
S7_API uint8_t s7_fingerprint_format(const uint8_t digest[S7_FINGERPRINT_SIZE], char* text, size_t capacity);

/*
 * Reads a fingerprint's text back into its digest. Only the exact form
 * s7_fingerprint_format writes is accepted (no padding, no spaces, the
 * prefix as written), so that every fingerprint has one text and texts can
 * be compared as they are. S7_OK, or S7_ERR_ARGUMENT for null arguments or
 * any other text; `digest` is written only on S7_OK.
 */
S7_API uint8_t s7_fingerprint_parse(const char* text, uint8_t digest[S7_FINGERPRINT_SIZE]);

#ifdef __cplusplus
}
#endif

#endif /* VEMO_S7IDENTITY_H */

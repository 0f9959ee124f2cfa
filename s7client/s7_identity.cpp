// The controller's identity on the handle, and the one text form of a
// fingerprint: "SHA256:" and the digest in base64 without padding.
#include <vemo/s7identity.h>

#include "s7_client.h"

#include <cstring>

namespace {

constexpr char kPrefix[] = "SHA256:";
constexpr size_t kPrefixLength = sizeof kPrefix - 1;
// 32 bytes are 256 bits: 42 characters of 6 bits and one of the last 4
// bits followed by two zero bits.
constexpr size_t kBase64Length = S7_FINGERPRINT_TEXT_SIZE - 1 - kPrefixLength;
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

static_assert(kBase64Length == (S7_FINGERPRINT_SIZE * 8 + 5) / 6);

// The value of a base64 character, or -1 for anything else.
int sextet(char c) {
    const void* at = c == '\0' ? nullptr : std::memchr(kAlphabet, c, sizeof kAlphabet - 1);
    return at == nullptr ? -1 : static_cast<int>(static_cast<const char*>(at) - kAlphabet);
}

}  // namespace

extern "C" {

uint8_t vemoc_s7_client_get_identity(const vemoc_s7_client* client, s7_identity* identity) {
    if (client == nullptr || identity == nullptr) {
        return S7_ERR_ARGUMENT;
    }
    if (!s7_client_connected(client) || client->tls == nullptr || client->tls->established == 0) {
        return S7_ERR_NOT_CONNECTED;
    }
    std::memcpy(identity->certificate_sha256, client->tls->peer_certificate_sha256, S7_FINGERPRINT_SIZE);
    std::memcpy(identity->public_key_sha256, client->tls->peer_key_sha256, S7_FINGERPRINT_SIZE);
    return S7_OK;
}

uint8_t vemoc_s7_client_get_peer_address(const vemoc_s7_client* client, char* text, size_t capacity) {
    if (client == nullptr || text == nullptr || capacity == 0) {
        return S7_ERR_ARGUMENT;
    }
    text[0] = '\0';
    if (!s7_client_connected(client) || client->socket == nullptr) {
        return S7_ERR_NOT_CONNECTED;
    }
    switch (s7_socket_peer_address(client->socket, text, capacity)) {
    case S7_STATUS_OK: return S7_OK;
    case S7_STATUS_ARGUMENT: return S7_ERR_ARGUMENT;
    case S7_STATUS_CLOSED: return S7_ERR_NOT_CONNECTED;
    default: return S7_ERR_TRANSPORT;
    }
}

uint8_t s7_fingerprint_format(const uint8_t digest[S7_FINGERPRINT_SIZE], char* text, size_t capacity) {
    if (digest == nullptr || text == nullptr || capacity < S7_FINGERPRINT_TEXT_SIZE) {
        return S7_ERR_ARGUMENT;
    }
    std::memcpy(text, kPrefix, kPrefixLength);
    char* out = text + kPrefixLength;
    uint32_t bits = 0;
    int held = 0;
    for (size_t i = 0; i < S7_FINGERPRINT_SIZE; ++i) {
        bits = (bits << 8) | digest[i];
        held += 8;
        while (held >= 6) {
            held -= 6;
            *out++ = kAlphabet[(bits >> held) & 0x3F];
        }
    }
    if (held > 0) {
        *out++ = kAlphabet[(bits << (6 - held)) & 0x3F];
    }
    *out = '\0';
    return S7_OK;
}

uint8_t s7_fingerprint_parse(const char* text, uint8_t digest[S7_FINGERPRINT_SIZE]) {
    if (text == nullptr || digest == nullptr || std::strncmp(text, kPrefix, kPrefixLength) != 0) {
        return S7_ERR_ARGUMENT;
    }
    const char* in = text + kPrefixLength;
    uint8_t bytes[S7_FINGERPRINT_SIZE];
    size_t count = 0;
    uint32_t bits = 0;
    int held = 0;
    for (size_t i = 0; i < kBase64Length; ++i) {
        const int value = sextet(in[i]);
        if (value < 0) {
            return S7_ERR_ARGUMENT;  // also the end of a text that is too short
        }
        bits = (bits << 6) | static_cast<uint32_t>(value);
        held += 6;
        if (held >= 8) {
            held -= 8;
            bytes[count++] = static_cast<uint8_t>(bits >> held);
        }
    }
    // Nothing after the last character, and its unused bits zero: another
    // text for the same digest would compare unequal to the written one.
    if (in[kBase64Length] != '\0' || (bits & ((1u << held) - 1)) != 0) {
        return S7_ERR_ARGUMENT;
    }
    std::memcpy(digest, bytes, sizeof bytes);
    return S7_OK;
}

}  // extern "C"

// Who the controller at the other end is: the fingerprints of the key and
// the certificate it presented in the TLS handshake, as the library keeps
// them for a connection (vemo/s7identity.h).
//
// Controllers present self-signed certificates that nothing can vouch for,
// so trust comes from comparing: with a fingerprint the user pinned, or
// with the one the same address presented before (KnownControllers.h).
// The key fingerprint is the one compared; the certificate's is shown for
// those who check a certificate file.
#pragma once

#include <vemo/s7client.h>
#include <vemo/s7identity.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace vemo {

// A SHA-256 fingerprint. Its text is the library's one form: "SHA256:" and
// the digest in base64 without padding, as OpenSSH writes key fingerprints.
class Fingerprint {
public:
    using Digest = std::array<std::uint8_t, S7_FINGERPRINT_SIZE>;

    explicit Fingerprint(const Digest& digest) : digest_(digest) {}
    // The digest in S7_FINGERPRINT_SIZE bytes.
    explicit Fingerprint(const std::uint8_t* digest);

    // The fingerprint of a text in that form; nullopt for any other text
    // (another digest's name, padding, spaces, hex).
    static std::optional<Fingerprint> parse(const std::string& text);

    std::string text() const;
    const Digest& digest() const { return digest_; }

    bool operator==(const Fingerprint&) const = default;

private:
    Digest digest_;
};

struct ControllerIdentity {
    Fingerprint key;          // of the public key: the one to trust
    Fingerprint certificate;  // of the whole certificate
    // The numeric address connected to ("127.0.0.1" for "localhost" or
    // "127.1"): what the store of known controllers keys the key by, so
    // that every spelling of one address is one entry. Empty when the
    // system could not tell.
    std::string address;
};

// The identity the connected controller presented; nullopt when the handle
// is not connected (or null). Call it with the handle, as any library call.
std::optional<ControllerIdentity> identityOf(const vemoc_s7_client* client);

}  // namespace vemo

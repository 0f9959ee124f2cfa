#include "vemo/core/ControllerIdentity.h"

#include <algorithm>

namespace vemo {

Fingerprint::Fingerprint(const std::uint8_t* digest) : digest_() {
    std::copy_n(digest, digest_.size(), digest_.begin());
}

std::optional<Fingerprint> Fingerprint::parse(const std::string& text) {
    Digest digest{};
    if (s7_fingerprint_parse(text.c_str(), digest.data()) != S7_OK) return std::nullopt;
    return Fingerprint(digest);
}

std::string Fingerprint::text() const {
    char text[S7_FINGERPRINT_TEXT_SIZE];
    s7_fingerprint_format(digest_.data(), text, sizeof text);  // cannot fail: the room is there
    return text;
}

std::optional<ControllerIdentity> identityOf(const vemoc_s7_client* client) {
    s7_identity identity{};
    if (vemoc_s7_client_get_identity(client, &identity) != S7_OK) return std::nullopt;
    char address[S7_ADDRESS_TEXT_SIZE];
    // Empty when the system cannot tell; the caller then keys by the host.
    vemoc_s7_client_get_peer_address(client, address, sizeof address);
    return ControllerIdentity{Fingerprint(identity.public_key_sha256), Fingerprint(identity.certificate_sha256),
                              address};
}

}  // namespace vemo

// Who the controller is: the identity a connect keeps, for as long as the
// connection lasts, and the one text of a fingerprint, written and read
// back. That the digests are those of the certificate and its key is shown
// against the openssl command line with the simulator (sim_process_test).
#include <vemo/s7identity.h>

#include "../support/tls_peer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

namespace {

using Digest = std::array<uint8_t, S7_FINGERPRINT_SIZE>;

constexpr uint32_t kTimeoutMs = 3000;

Digest sequence(uint8_t first, int step) {
    Digest d{};
    for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<uint8_t>(first + step * static_cast<int>(i));
    return d;
}

std::string formatted(const Digest& d) {
    char text[S7_FINGERPRINT_TEXT_SIZE];
    EXPECT_EQ(s7_fingerprint_format(d.data(), text, sizeof text), S7_OK);
    return text;
}

// Texts as `openssl base64` writes the digests, without the padding.
TEST(Fingerprint, KnownDigestsWriteAndReadBack) {
    const struct {
        Digest digest;
        const char* text;
    } cases[] = {
        {Digest{}, "SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"},
        {sequence(0, 1), "SHA256:AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8"},
        {sequence(0xFF, 0), "SHA256://////////////////////////////////////////8"},
        // SHA-256 of "abc".
        {{0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40, 0xde, 0x5d, 0xae, 0x22, 0x23,
          0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17, 0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad},
         "SHA256:ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(formatted(c.digest), c.text);
        EXPECT_EQ(std::strlen(c.text) + 1, size_t{S7_FINGERPRINT_TEXT_SIZE});
        Digest back{};
        ASSERT_EQ(s7_fingerprint_parse(c.text, back.data()), S7_OK);
        EXPECT_EQ(back, c.digest);
    }
}

TEST(Fingerprint, OnlyTheWrittenFormReadsBack) {
    const std::string good = "SHA256:ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0";
    const std::string rejected[] = {
        "",
        "SHA256:",
        good.substr(7),                                             // no prefix
        "sha256:" + good.substr(7),                                 // prefix in another case
        "SHA256: " + good.substr(7),                                // space after the prefix
        "MD5:" + good.substr(7),                                    // another digest
        good + "=",                                                 // padded
        good.substr(0, good.size() - 1),                            // a character short
        good + "A",                                                 // a character long
        good + "\n",                                                // a line end
        "SHA256:ungWv48Bz-pBQUDeXa4iI7ADYaOWF3qctBD_YfIAFa0",       // the URL-safe alphabet
        "SHA256:ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa1",       // unused low bits not zero
        "BA:78:16:BF:8F:01:CF:EA:41:41:40:DE:5D:AE:22:23:B0:03:61", // hex
    };
    for (const std::string& text : rejected) {
        SCOPED_TRACE(text);
        Digest digest;
        digest.fill(0xAA);
        EXPECT_EQ(s7_fingerprint_parse(text.c_str(), digest.data()), S7_ERR_ARGUMENT);
        EXPECT_EQ(digest, sequence(0xAA, 0)) << "written only on success";
    }
    Digest digest{};
    EXPECT_EQ(s7_fingerprint_parse(nullptr, digest.data()), S7_ERR_ARGUMENT);
    EXPECT_EQ(s7_fingerprint_parse(good.c_str(), nullptr), S7_ERR_ARGUMENT);
}

TEST(Fingerprint, FormatNeedsRoomForTheWholeText) {
    const Digest d = sequence(3, 7);
    char text[S7_FINGERPRINT_TEXT_SIZE + 4];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(s7_fingerprint_format(d.data(), text, S7_FINGERPRINT_TEXT_SIZE - 1), S7_ERR_ARGUMENT);
    EXPECT_EQ(text[0], 'x') << "nothing written";
    EXPECT_EQ(s7_fingerprint_format(nullptr, text, sizeof text), S7_ERR_ARGUMENT);
    EXPECT_EQ(s7_fingerprint_format(d.data(), nullptr, sizeof text), S7_ERR_ARGUMENT);
    ASSERT_EQ(s7_fingerprint_format(d.data(), text, S7_FINGERPRINT_TEXT_SIZE), S7_OK);
    EXPECT_EQ(text[S7_FINGERPRINT_TEXT_SIZE - 1], '\0');
    EXPECT_EQ(text[S7_FINGERPRINT_TEXT_SIZE], 'x') << "not a byte past the text";
}

bool operator==(const s7_identity& a, const s7_identity& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The identity of a controller's connection, or the code that refused it.
struct Seen {
    uint8_t rc;
    s7_identity identity;
};
Seen identityOf(const vemoc_s7_client* c) {
    Seen seen{};
    seen.rc = vemoc_s7_client_get_identity(c, &seen.identity);
    return seen;
}

// The test peer makes its key and certificate once and presents them on
// every connection it serves; another peer has another key.
TEST(Identity, KnownFromConnectUntilTheConnectionEnds) {
    vemo::test::TlsPeer peer({}, 2);
    vemo::test::TlsPeer other;
    vemoc_s7_client* c = vemoc_s7_client_new();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(identityOf(c).rc, S7_ERR_NOT_CONNECTED) << "nothing before the first connect";

    ASSERT_EQ(vemoc_s7_client_connect(c, "127.0.0.1", peer.port(), kTimeoutMs), S7_OK);
    const Seen first = identityOf(c);
    ASSERT_EQ(first.rc, S7_OK);
    EXPECT_NE(std::memcmp(first.identity.certificate_sha256, first.identity.public_key_sha256, S7_FINGERPRINT_SIZE),
              0);
    EXPECT_FALSE(first.identity == s7_identity{}) << "digests, not zeros";

    vemoc_s7_client_disconnect(c);
    EXPECT_EQ(identityOf(c).rc, S7_ERR_NOT_CONNECTED) << "the identity goes with the connection";

    ASSERT_EQ(vemoc_s7_client_connect(c, "127.0.0.1", peer.port(), kTimeoutMs), S7_OK);
    const Seen again = identityOf(c);
    ASSERT_EQ(again.rc, S7_OK);
    EXPECT_TRUE(again.identity == first.identity) << "the same controller, the same identity";

    ASSERT_EQ(vemoc_s7_client_connect(c, "127.0.0.1", other.port(), kTimeoutMs), S7_OK);
    const Seen otherSeen = identityOf(c);
    ASSERT_EQ(otherSeen.rc, S7_OK);
    EXPECT_NE(std::memcmp(otherSeen.identity.public_key_sha256, first.identity.public_key_sha256, S7_FINGERPRINT_SIZE),
              0);
    EXPECT_NE(
        std::memcmp(otherSeen.identity.certificate_sha256, first.identity.certificate_sha256, S7_FINGERPRINT_SIZE), 0);

    s7_identity untouched{};
    EXPECT_EQ(vemoc_s7_client_get_identity(nullptr, &untouched), S7_ERR_ARGUMENT);
    EXPECT_EQ(vemoc_s7_client_get_identity(c, nullptr), S7_ERR_ARGUMENT);
    vemoc_s7_client_free(c);
}

// The address connected to, whatever the host's spelling: "localhost" may
// resolve to ::1 first, which the peer (on 127.0.0.1 only) refuses - the
// address is the one that accepted.
TEST(Identity, ThePeerAddressIsTheOneConnectedTo) {
    vemo::test::TlsPeer peer({}, 3);
    vemoc_s7_client* c = vemoc_s7_client_new();
    ASSERT_NE(c, nullptr);
    char text[S7_ADDRESS_TEXT_SIZE] = "x";
    EXPECT_EQ(vemoc_s7_client_get_peer_address(c, text, sizeof text), S7_ERR_NOT_CONNECTED);
    EXPECT_STREQ(text, "");
    for (const char* host : {"127.0.0.1", "127.1", "localhost"}) {
        SCOPED_TRACE(host);
        ASSERT_EQ(vemoc_s7_client_connect(c, host, peer.port(), kTimeoutMs), S7_OK);
        std::memset(text, 'x', sizeof text);
        EXPECT_EQ(vemoc_s7_client_get_peer_address(c, text, sizeof text), S7_OK);
        EXPECT_STREQ(text, "127.0.0.1");
        char small[9] = "x";
        EXPECT_EQ(vemoc_s7_client_get_peer_address(c, small, sizeof small), S7_ERR_ARGUMENT) << "no room";
        EXPECT_STREQ(small, "");
        vemoc_s7_client_disconnect(c);
    }
    EXPECT_EQ(vemoc_s7_client_get_peer_address(c, text, sizeof text), S7_ERR_NOT_CONNECTED);
    EXPECT_EQ(vemoc_s7_client_get_peer_address(nullptr, text, sizeof text), S7_ERR_ARGUMENT);
    EXPECT_EQ(vemoc_s7_client_get_peer_address(c, nullptr, sizeof text), S7_ERR_ARGUMENT);
    vemoc_s7_client_free(c);
}

}  // namespace

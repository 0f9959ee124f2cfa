#include "s7_tls.h"

#include "s7_memory.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <climits>
#include <cstring>

namespace {

// Controllers accept exactly these two suites; the client offers them in
// this order and nothing else.
constexpr char kCipherSuites[] = "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384";

// The engine sees the frame callbacks as a BIO of this type. A fixed number
// below the dynamic range: BIO_get_new_index hands out a small range of
// numbers once per call, and a channel is made at every connect.
constexpr int kFrameBioType = 0x7F | BIO_TYPE_SOURCE_SINK;

constexpr uint32_t kRecordHeaderSize = 5;

uint32_t recordSize(const uint8_t* header) { return kRecordHeaderSize + ((uint32_t{header[3]} << 8) | header[4]); }

s7_tls_channel* channelOf(BIO* bio) { return static_cast<s7_tls_channel*>(BIO_get_data(bio)); }

int frameBioWrite(BIO* bio, const char* data, size_t len, size_t* written) {
    BIO_clear_retry_flags(bio);
    *written = 0;
    const int rc = s7_tls_send_records(channelOf(bio), reinterpret_cast<const uint8_t*>(data), len);
    if (rc < 0) {
        if (rc == S7_TLS_IO_WANT_WRITE) {
            BIO_set_retry_write(bio);
        }
        return 0;
    }
    *written = len;
    return 1;
}

int frameBioRead(BIO* bio, char* buffer, size_t len, size_t* readbytes) {
    BIO_clear_retry_flags(bio);
    *readbytes = 0;
    s7_tls_channel* ch = channelOf(bio);
    const int n = s7_tls_bio_recv(ch, reinterpret_cast<uint8_t*>(buffer), len);
    if (n > 0) {
        *readbytes = static_cast<size_t>(n);
        return 1;
    }
    if (n == S7_TLS_IO_WANT_READ) {
        BIO_set_retry_read(bio);
    }
    return 0;
}

long frameBioCtrl(BIO* bio, int cmd, long, void*) {
    switch (cmd) {
    case BIO_CTRL_FLUSH:
        // Every record leaves as soon as it is whole; the engine's
        // handshake fails when a flush is not confirmed.
        return 1;
    case BIO_CTRL_EOF:
        // Lets the engine tell the controller's close from a failure.
        return channelOf(bio)->end_of_stream;
    default: return 0;
    }
}

bool isRetry(int sslError) { return sslError == SSL_ERROR_WANT_READ || sslError == SSL_ERROR_WANT_WRITE; }

// An engine call that failed for good: running out of memory for a frame
// stays what it is; anything else the engine saw go wrong is a TLS failure.
s7_status engineFailure(const s7_tls_channel* ch) {
    return ch->io_status == S7_STATUS_NO_MEMORY ? S7_STATUS_NO_MEMORY : S7_STATUS_TLS;
}

// Before each engine call: nothing has failed below it yet.
void startEngineCall(s7_tls_channel* ch) {
    ch->io_status = S7_STATUS_OK;
    ERR_clear_error();
}

void releaseEngine(s7_tls_channel* ch) {
    SSL_free(ch->context);  // also frees the BIO it holds
    ch->context = nullptr;
    SSL_CTX_free(ch->config);
    ch->config = nullptr;
    BIO_meth_free(ch->frame_io);
    ch->frame_io = nullptr;
}

bool configure(s7_tls_channel* ch) {
    if (OPENSSL_init_ssl(0, nullptr) != 1) {
        return false;
    }
    ch->config = SSL_CTX_new(TLS_client_method());
    if (ch->config == nullptr) {
        return false;
    }
    // TLS 1.3 only, the two suites, and no verification of the controller's
    // certificate: controllers present self-signed certificates. No CA, no
    // client certificate, no pre-shared key, no server name.
    if (SSL_CTX_set_min_proto_version(ch->config, TLS1_3_VERSION) != 1 ||
        SSL_CTX_set_max_proto_version(ch->config, TLS1_3_VERSION) != 1 ||
        SSL_CTX_set_ciphersuites(ch->config, kCipherSuites) != 1) {
        return false;
    }
    SSL_CTX_set_verify(ch->config, SSL_VERIFY_NONE, nullptr);
    // A controller that drops the connection without a closure alert has
    // closed it all the same.
    SSL_CTX_set_options(ch->config, SSL_OP_IGNORE_UNEXPECTED_EOF);

    ch->frame_io = BIO_meth_new(kFrameBioType, "s7 cotp frames");
    if (ch->frame_io == nullptr || BIO_meth_set_write_ex(ch->frame_io, frameBioWrite) != 1 ||
        BIO_meth_set_read_ex(ch->frame_io, frameBioRead) != 1 || BIO_meth_set_ctrl(ch->frame_io, frameBioCtrl) != 1) {
        return false;
    }
    ch->context = SSL_new(ch->config);
    if (ch->context == nullptr) {
        return false;
    }
    BIO* bio = BIO_new(ch->frame_io);
    if (bio == nullptr) {
        return false;
    }
    BIO_set_data(bio, ch);
    BIO_set_init(bio, 1);
    SSL_set_bio(ch->context, bio, bio);  // one reference, now the context's
    SSL_set_connect_state(ch->context);
    return true;
}

// Keeps who the controller is: the digests of the certificate it proved to
// hold the key of, and of that public key. The key's DER is put into a
// block of our own, so the one allocation here goes through the hooks.
s7_status recordPeerIdentity(s7_tls_channel* ch) {
    X509* cert = SSL_get0_peer_certificate(ch->context);
    if (cert == nullptr) {
        return S7_STATUS_TLS;
    }
    unsigned int digestLength = 0;
    if (X509_digest(cert, EVP_sha256(), ch->peer_certificate_sha256, &digestLength) != 1 ||
        digestLength != S7_FINGERPRINT_SIZE) {
        return S7_STATUS_TLS;
    }
    const X509_PUBKEY* key = X509_get_X509_PUBKEY(cert);
    const int derLength = i2d_X509_PUBKEY(key, nullptr);
    if (derLength <= 0) {
        return S7_STATUS_TLS;
    }
    auto* der = static_cast<uint8_t*>(s7_malloc(static_cast<size_t>(derLength)));
    if (der == nullptr) {
        return S7_STATUS_NO_MEMORY;
    }
    uint8_t* end = der;
    const bool ok = i2d_X509_PUBKEY(key, &end) == derLength &&
                    EVP_Digest(der, static_cast<size_t>(derLength), ch->peer_key_sha256, &digestLength, EVP_sha256(),
                               nullptr) == 1 &&
                    digestLength == S7_FINGERPRINT_SIZE;
    s7_free(der);
    return ok ? S7_STATUS_OK : S7_STATUS_TLS;
}

}  // namespace

extern "C" {

s7_tls_channel* s7_tls_channel_new(s7_iso_transport* transport) {
    auto* ch = static_cast<s7_tls_channel*>(s7_calloc(sizeof(s7_tls_channel)));
    if (ch == nullptr) {
        return nullptr;
    }
    ch->transport = transport;
    if (transport == nullptr) {
        ch->transport = s7_iso_transport_new(nullptr);
        if (ch->transport == nullptr) {
            s7_free(ch);
            return nullptr;
        }
        ch->owns_transport = 1;
    }
    const bool ok = configure(ch);
    ERR_clear_error();
    if (!ok) {
        s7_tls_channel_free(ch);
        return nullptr;
    }
    return ch;
}

void s7_tls_channel_free(s7_tls_channel* channel) {
    if (channel == nullptr) {
        return;
    }
    releaseEngine(channel);
    if (channel->owns_transport != 0) {
        s7_iso_transport_free(channel->transport);
    }
    s7_free(channel);
}

int s7_tls_bio_recv(void* context, uint8_t* buffer, size_t len) {
    auto* ch = static_cast<s7_tls_channel*>(context);
    if (ch == nullptr || ch->transport == nullptr || buffer == nullptr || len == 0 || len > 0xFFFFFFFFu) {
        return S7_TLS_IO_FAILED;
    }
    if (ch->read_offset >= ch->buffered_length) {
        ch->buffered_length = 0;
        ch->read_offset = 0;
        uint32_t payload = 0;
        const s7_status rc =
            s7_iso_read_frame(ch->transport, ch->receive_buffer, S7_TLS_RECEIVE_CAPACITY, &payload, ch->timeout_ms);
        if (rc == S7_STATUS_TIMEOUT) {
            ch->io_status = rc;
            return S7_TLS_IO_WANT_READ;
        }
        if (rc == S7_STATUS_CLOSED) {
            ch->end_of_stream = 1;
            return 0;
        }
        if (rc != S7_STATUS_OK) {
            ch->io_status = rc;
            return S7_TLS_IO_FAILED;
        }
        ch->buffered_length = payload;
    }
    const uint32_t available = ch->buffered_length - ch->read_offset;
    const uint32_t n = len < available ? static_cast<uint32_t>(len) : available;
    if (n == 0) {
        // An empty frame: nothing to hand over, but no time-out either, so
        // the engine simply asks again and the next frame is read.
        return S7_TLS_IO_WANT_READ;
    }
    std::memcpy(buffer, ch->receive_buffer + ch->read_offset, n);
    ch->read_offset += n;
    if (ch->read_offset == ch->buffered_length) {
        ch->buffered_length = 0;
        ch->read_offset = 0;
    }
    return static_cast<int>(n);
}

int s7_tls_bio_send(void* context, const uint8_t* bytes, size_t len) {
    auto* ch = static_cast<s7_tls_channel*>(context);
    if (ch == nullptr || ch->transport == nullptr || bytes == nullptr || len > INT_MAX) {
        return S7_TLS_IO_FAILED;
    }
    const s7_status rc = s7_iso_write_frame(ch->transport, bytes, static_cast<uint32_t>(len), ch->timeout_ms);
    if (rc == S7_STATUS_TIMEOUT) {
        ch->io_status = rc;
        return S7_TLS_IO_WANT_WRITE;
    }
    if (rc != S7_STATUS_OK) {
        ch->io_status = rc;
        return S7_TLS_IO_FAILED;
    }
    return static_cast<int>(len);
}

// Controllers were built against a client that sends every TLS record in
// a data frame of its own, while the engine hands several records (or, in
// principle, part of one) to a single write. The write therefore cuts at
// the record headers; a trailing piece of a record waits in send_buffer for
// the rest. A failed send leaves the channel unusable, so nothing that was
// cut up is ever sent again.
int s7_tls_send_records(void* context, const uint8_t* bytes, size_t len) {
    auto* ch = static_cast<s7_tls_channel*>(context);
    if (ch == nullptr || bytes == nullptr || len > INT_MAX) {
        return S7_TLS_IO_FAILED;
    }
    const uint8_t* p = bytes;
    size_t left = len;
    int rc = 0;
    while (left > 0 && rc >= 0) {
        if (ch->send_pending == 0 && left >= kRecordHeaderSize && recordSize(p) <= left) {
            const uint32_t size = recordSize(p);
            rc = size > S7_TLS_RECORD_MAX ? S7_TLS_IO_FAILED : s7_tls_bio_send(ch, p, size);
            p += size;
            left -= size;
            continue;
        }
        // Assemble the header first, then the rest of the record.
        const uint32_t target = ch->send_pending < kRecordHeaderSize ? kRecordHeaderSize : recordSize(ch->send_buffer);
        const size_t take = left < target - ch->send_pending ? left : target - ch->send_pending;
        std::memcpy(ch->send_buffer + ch->send_pending, p, take);
        ch->send_pending += static_cast<uint32_t>(take);
        p += take;
        left -= take;
        if (ch->send_pending >= kRecordHeaderSize) {
            const uint32_t size = recordSize(ch->send_buffer);
            if (size > S7_TLS_RECORD_MAX) {
                rc = S7_TLS_IO_FAILED;
            } else if (ch->send_pending == size) {
                rc = s7_tls_bio_send(ch, ch->send_buffer, size);
                ch->send_pending = 0;
            }
        }
    }
    if (rc < 0) {
        ch->send_pending = 0;
        return rc;
    }
    return static_cast<int>(len);
}

s7_status s7_tls_handshake(s7_tls_channel* channel, uint32_t timeout_ms) {
    if (channel == nullptr) {
        return S7_STATUS_ARGUMENT;
    }
    channel->timeout_ms = timeout_ms;
    s7_status rc = S7_STATUS_OK;
    for (;;) {
        startEngineCall(channel);
        const int r = SSL_do_handshake(channel->context);
        if (r == 1) {
            rc = recordPeerIdentity(channel);
            channel->established = rc == S7_STATUS_OK ? 1 : 0;
            break;
        }
        if (!isRetry(SSL_get_error(channel->context, r))) {
            rc = engineFailure(channel);
            break;
        }
        if (channel->io_status == S7_STATUS_TIMEOUT) {
            rc = S7_STATUS_TIMEOUT;
            break;
        }
    }
    ERR_clear_error();
    return rc;
}

s7_status s7_tls_read(s7_tls_channel* channel, uint8_t* buffer, uint32_t capacity, int32_t* count,
                      uint32_t timeout_ms) {
    if (count != nullptr) {
        *count = 0;
    }
    if (channel == nullptr || buffer == nullptr || count == nullptr || capacity == 0) {
        return S7_STATUS_ARGUMENT;
    }
    if (channel->established == 0) {
        return S7_STATUS_TLS;
    }
    channel->timeout_ms = timeout_ms;
    s7_status rc = S7_STATUS_OK;
    for (;;) {
        startEngineCall(channel);
        size_t got = 0;
        const int r = SSL_read_ex(channel->context, buffer, capacity, &got);
        if (r == 1) {
            // One record at most: far below the signed 32-bit range.
            *count = static_cast<int32_t>(got);
            break;
        }
        const int err = SSL_get_error(channel->context, r);
        if (err == SSL_ERROR_ZERO_RETURN) {
            rc = S7_STATUS_NOT_CONNECTED;
            break;
        }
        if (!isRetry(err)) {
            rc = engineFailure(channel);
            break;
        }
        if (channel->io_status == S7_STATUS_TIMEOUT) {
            rc = S7_STATUS_TIMEOUT;
            break;
        }
    }
    ERR_clear_error();
    return rc;
}

s7_status s7_tls_write(s7_tls_channel* channel, const uint8_t* data, uint32_t len, uint32_t timeout_ms) {
    if (channel == nullptr || (data == nullptr && len != 0)) {
        return S7_STATUS_ARGUMENT;
    }
    if (channel->established == 0) {
        return S7_STATUS_TLS;
    }
    channel->timeout_ms = timeout_ms;
    s7_status rc = S7_STATUS_OK;
    uint32_t sent = 0;
    while (sent < len) {
        startEngineCall(channel);
        size_t accepted = 0;
        const int r = SSL_write_ex(channel->context, data + sent, len - sent, &accepted);
        if (r == 1 && accepted > 0) {
            sent += static_cast<uint32_t>(accepted);
            continue;
        }
        if (r == 1 || !isRetry(SSL_get_error(channel->context, r))) {
            rc = engineFailure(channel);
            break;
        }
        if (channel->io_status == S7_STATUS_TIMEOUT) {
            rc = S7_STATUS_TIMEOUT;
            break;
        }
    }
    ERR_clear_error();
    return rc;
}

}  // extern "C"

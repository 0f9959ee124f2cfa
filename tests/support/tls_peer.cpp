#include "tls_peer.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace vemo::test {

namespace {

// Every wait of the peer; a test whose client stops talking ends within it.
constexpr int kWaitMs = 5000;

constexpr size_t kRecordHeader = 5;
constexpr int kFloodIntervalMs = 100;
constexpr int kTrickleGapMs = 50;

Bytes dataFrame(const Bytes& payload) {
    const size_t len = payload.size() + 7;
    // Sized once and filled in place: growing a seven-byte vector by the
    // payload makes GCC 12 at -O3 warn about a copy it does not make.
    Bytes frame(len);
    const uint8_t header[] = {0x03, 0x00, static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len), 0x02, 0xF0, 0x80};
    std::copy(std::begin(header), std::end(header), frame.begin());
    std::copy(payload.begin(), payload.end(), frame.begin() + 7);
    return frame;
}

// Reads one TPKT packet whole, headers included. False when the client
// closed, stayed silent or sent something that is no TPKT packet.
bool readPacket(int fd, Bytes& packet) {
    packet = LoopbackServer::readExact(fd, 4, kWaitMs);
    if (packet.size() != 4 || packet[0] != 0x03) {
        return false;
    }
    const size_t len = (size_t{packet[2]} << 8) | packet[3];
    if (len < 7) {
        return false;
    }
    const Bytes rest = LoopbackServer::readExact(fd, len - 4, kWaitMs);
    if (rest.size() != len - 4) {
        return false;
    }
    packet.insert(packet.end(), rest.begin(), rest.end());
    return true;
}

// Reads one COTP data frame and returns its payload.
bool readDataFrame(int fd, Bytes& payload) {
    Bytes packet;
    if (!readPacket(fd, packet) || packet[5] != 0xF0) {
        return false;
    }
    payload.assign(packet.begin() + 7, packet.end());
    return true;
}

// The length of the first complete request message in `plain`: frames up
// to and including the trailer. 0 while it is incomplete.
size_t completeMessage(const Bytes& plain) {
    size_t pos = 0;
    while (pos + 4 <= plain.size()) {
        const size_t len = (size_t{plain[pos + 2]} << 8) | plain[pos + 3];
        const size_t next = pos + 4 + len;
        if (next + 4 > plain.size()) {
            return 0;
        }
        if (plain[next + 2] == 0 && plain[next + 3] == 0) {
            return next + 4;
        }
        pos = next;
    }
    return 0;
}

// An unsigned VLQ of a 32-bit value: 7 bits per byte, most significant
// group first, the high bit set on every byte but the last.
Bytes vlq(uint32_t v) {
    Bytes out;
    out.insert(out.begin(), static_cast<uint8_t>(v & 0x7F));
    for (v >>= 7; v != 0; v >>= 7) {
        out.insert(out.begin(), static_cast<uint8_t>(0x80 | (v & 0x7F)));
    }
    return out;
}

void append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

void appendU32(Bytes& out, uint32_t v) {
    append(out, {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                 static_cast<uint8_t>(v)});
}

// The function codes of session set-up and the limits read, in the order
// connect sends them.
constexpr uint16_t kSetupFunctions[] = {1226, 1346, 1414, 1356};

uint16_t functionCode(const Bytes& message) {
    return message.size() >= 9 ? static_cast<uint16_t>((message[7] << 8) | message[8]) : 0;
}

// A response message to `request`: its version byte, function code and
// sequence number, the body, in frames of at most 987 data bytes.
Bytes responseTo(const Bytes& request, const Bytes& body) {
    const uint8_t version = request[1];
    Bytes data = {0x32, 0x00, 0x00, request[7], request[8], 0x00, 0x00, request[11], request[12]};
    append(data, body);
    Bytes out;
    constexpr size_t kFrameData = 987;
    for (size_t pos = 0; pos < data.size(); pos += kFrameData) {
        const size_t n = std::min(kFrameData, data.size() - pos);
        append(out, {0x72, version, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
        out.insert(out.end(), data.begin() + static_cast<long>(pos), data.begin() + static_cast<long>(pos + n));
    }
    append(out, {0x72, version, 0x00, 0x00});
    return out;
}

uint16_t sequenceOf(const Bytes& request) {
    return request.size() >= 13 ? static_cast<uint16_t>((request[11] << 8) | request[12]) : 0;
}

EVP_PKEY* makeKey() { return EVP_EC_gen("P-256"); }

X509* makeCertificate(EVP_PKEY* key, bool expired) {
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    constexpr long kDay = 24 * 3600;
    if (expired) {
        X509_gmtime_adj(X509_getm_notBefore(cert), -365 * kDay);
        X509_gmtime_adj(X509_getm_notAfter(cert), -kDay);
    } else {
        X509_gmtime_adj(X509_getm_notBefore(cert), -kDay);
        X509_gmtime_adj(X509_getm_notAfter(cert), 365 * kDay);
    }
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("VEMO test PLC"), -1,
                               -1, 0);
    X509_set_issuer_name(cert, name);
    X509_set_pubkey(cert, key);
    if (X509_sign(cert, key, EVP_sha256()) == 0) {
        X509_free(cert);
        return nullptr;
    }
    return cert;
}

}  // namespace

// The server's TLS configuration, shared by every connection of the peer.
struct TlsPeer::Engine {
    SSL_CTX* ctx = nullptr;
    ~Engine() { SSL_CTX_free(ctx); }
};

Bytes withSequence(Bytes bytes, uint16_t sequence) {
    const uint8_t value[2] = {static_cast<uint8_t>(sequence >> 8), static_cast<uint8_t>(sequence)};
    size_t pos = 0;
    size_t dataSeen = 0;  // data bytes of the current message so far
    bool first = true;    // the message's first head is a frame, whatever its length
    while (pos + 4 <= bytes.size()) {
        const size_t len = (size_t{bytes[pos + 2]} << 8) | bytes[pos + 3];
        if (len == 0 && !first) {
            dataSeen = 0;  // a trailer: the next message starts
            first = true;
            pos += 4;
            continue;
        }
        first = false;
        for (size_t i = 0; i < len && pos + 4 + i < bytes.size(); ++i) {
            const size_t at = dataSeen + i;
            if (at == 7 || at == 8) {
                bytes[pos + 4 + i] = value[at - 7];
            }
        }
        dataSeen += len;
        pos += 4 + len;
    }
    return bytes;
}

Bytes TlsPeerOptions::okTlsStartReply() {
    // Response header (0x32, 2 bytes, function 1459, 2 bytes, sequence 0),
    // body byte 0x30, return value 0; trailer.
    return {0x72, 0x01, 0x00, 0x0B, 0x32, 0x00, 0x00, 0x05, 0xB3, 0x00,
            0x00, 0x00, 0x00, 0x30, 0x00, 0x72, 0x01, 0x00, 0x00};
}

Bytes PeerSession::stringValue(const std::string& text) {
    Bytes out = {0x00, 0x15};
    append(out, vlq(static_cast<uint32_t>(text.size())));
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

Bytes PeerSession::createReplyBody(uint32_t sessionId, const Bytes& member319) {
    // First byte, return value 0, one created object: the session.
    Bytes out = {0x00, 0x00, 0x01};
    append(out, vlq(sessionId));
    // The session object (class 287) with attribute 306: a structure whose
    // member 319 is the controller type.
    out.push_back(0xA1);
    appendU32(out, sessionId);
    append(out, {0x82, 0x1F, 0x00, 0x00});
    append(out, {0xA3, 0x82, 0x32, 0x00, 0x17});
    appendU32(out, 0x0000013A);
    append(out, {0x82, 0x3F});
    append(out, member319);
    append(out, {0x00, 0xA2});
    return out;
}

TlsPeer::TlsPeer(TlsPeerOptions options, int connections)
    : options_(std::move(options)), connections_(connections), engine_(std::make_unique<Engine>()) {
    engine_->ctx = SSL_CTX_new(TLS_server_method());
    EVP_PKEY* key = makeKey();
    X509* cert = key != nullptr ? makeCertificate(key, options_.expiredCertificate) : nullptr;
    bool ok = engine_->ctx != nullptr && cert != nullptr;
    if (ok && options_.tls12Only) {
        ok = SSL_CTX_set_min_proto_version(engine_->ctx, TLS1_2_VERSION) == 1 &&
             SSL_CTX_set_max_proto_version(engine_->ctx, TLS1_2_VERSION) == 1;
    } else if (ok) {
        ok = SSL_CTX_set_min_proto_version(engine_->ctx, TLS1_2_VERSION) == 1 &&
             SSL_CTX_set_ciphersuites(engine_->ctx, options_.cipherSuites.c_str()) == 1;
    }
    ok = ok && SSL_CTX_use_certificate(engine_->ctx, cert) == 1 && SSL_CTX_use_PrivateKey(engine_->ctx, key) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    if (!ok) {
        throw std::runtime_error("TLS peer: server configuration failed");
    }
    listenFd_ = listenSocket("127.0.0.1", 0, 16, port_);
    thread_ = std::thread([this] { serve(); });
}

TlsPeer::~TlsPeer() {
    stop_ = true;
    join();
    if (listenFd_ >= 0) {
        ::close(listenFd_);
    }
}

void TlsPeer::join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

const PeerLog& TlsPeer::log() const {
    static const PeerLog kEmpty;
    return logs_.empty() ? kEmpty : logs_.front();
}

void TlsPeer::serve() {
    PeerLog scratch;
    for (int served = 0; connections_ == 0 || served < connections_; ++served) {
        int fd = -1;
        // A single-connection peer gives up after a while; a serving one
        // runs until it is told to stop.
        for (int waited = 0; fd < 0 && !stop_; waited += 50) {
            if (connections_ != 0 && waited >= 2 * kWaitMs) {
                return;
            }
            pollfd pfd{listenFd_, POLLIN, 0};
            if (::poll(&pfd, 1, 50) > 0) {
                fd = ::accept(listenFd_, nullptr, nullptr);
            }
        }
        if (fd < 0) {
            return;
        }
        // Answers go out at once, as a controller's do: without this the
        // records of one answer wait for the client's acknowledgements.
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        PeerLog* log = &scratch;
        if (options_.keepLog) {
            logs_.emplace_back();
            log = &logs_.back();
        } else {
            scratch = PeerLog{};
        }
        serveConnection(fd, *log);
        ::close(fd);
    }
}

namespace {

// One connection's TLS server over memory BIOs: the peer decides how the
// records it produces travel.
class Connection {
public:
    Connection(int fd, SSL_CTX* ctx, const TlsPeerOptions& options, PeerLog& log)
        : fd_(fd),
          options_(options),
          log_(log),
          ssl_(SSL_new(ctx)),
          in_(BIO_new(BIO_s_mem())),
          out_(BIO_new(BIO_s_mem())) {
        SSL_set_bio(ssl_, in_, out_);  // the engine owns both from here
        SSL_set_accept_state(ssl_);
    }
    ~Connection() { SSL_free(ssl_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool stopsAt(PeerStep step) {
        if (options_.closeAt == step) {
            return true;
        }
        if (options_.silentAt == step) {
            awaitClose();
            return true;
        }
        if (options_.floodAt == step) {
            flood();
            return true;
        }
        return false;
    }

    // Empty data frames, each well within any time-out, until the client
    // gives up and closes.
    void flood() {
        const Bytes empty = dataFrame({});
        for (int waited = 0; waited < kWaitMs; waited += kFloodIntervalMs) {
            LoopbackServer::writeAll(fd_, empty);
            if (LoopbackServer::waitForClose(fd_, kFloodIntervalMs)) {
                log_.closedByClient = true;
                return;
            }
        }
    }

    bool handshake() {
        bool helloSeen = false;
        for (;;) {
            ERR_clear_error();
            const int r = SSL_do_handshake(ssl_);
            sendPending(true);
            if (r == 1) {
                log_.handshakeDone = true;
                log_.tlsVersion = SSL_version(ssl_);
                log_.cipher = SSL_get_cipher_name(ssl_);
                return true;
            }
            if (SSL_get_error(ssl_, r) != SSL_ERROR_WANT_READ) {
                return false;
            }
            if (helloSeen && log_.offeredSuites.empty()) {
                recordClientHello();
            }
            if (!receive()) {
                return false;
            }
            if (!helloSeen) {
                helloSeen = true;
                if (stopsAt(PeerStep::Handshake)) {
                    return false;
                }
            }
        }
    }

    // Reads request messages and answers them until the script ends.
    void exchange() {
        size_t next = 0;
        size_t setupStep = options_.session ? 0 : std::size(kSetupFunctions);
        Bytes plain;
        std::vector<size_t> sizes;
        for (;;) {
            if (!decrypt(plain, sizes)) {
                return;
            }
            const size_t end = completeMessage(plain);
            if (end == 0) {
                if (!receive()) {
                    // A client that closed is seen at once; one that stays
                    // silent is not.
                    log_.closedByClient = LoopbackServer::waitForClose(fd_, 0);
                    return;
                }
                continue;
            }
            log_.messages.push_back({Bytes(plain.begin(), plain.begin() + static_cast<long>(end)), sizes});
            plain.erase(plain.begin(), plain.begin() + static_cast<long>(end));
            sizes.clear();
            if (setupStep < std::size(kSetupFunctions) &&
                functionCode(log_.messages.back().bytes) == kSetupFunctions[setupStep]) {
                log_.setupMessages.push_back(std::move(log_.messages.back()));
                log_.messages.pop_back();
                if (!answerSetup(setupStep++, log_.setupMessages.back().bytes)) {
                    return;
                }
                continue;
            }
            // Set-up is over at the first message out of its order.
            setupStep = std::size(kSetupFunctions);
            if (next == options_.replies.size()) {
                if (!stopsAt(PeerStep::Request)) {
                    awaitClose();
                }
                return;
            }
            const PeerReply& reply = options_.replies[next++];
            if (reply.answersRequest) {
                PeerReply stamped = reply;
                stamped.bytes = withSequence(reply.bytes, sequenceOf(log_.messages.back().bytes));
                if (!answer(stamped)) {
                    return;
                }
                continue;
            }
            if (!answer(reply)) {
                return;
            }
        }
    }

    // Holds the connection until the client closes it.
    void awaitClose() { log_.closedByClient = LoopbackServer::waitForClose(fd_, kWaitMs); }

private:
    // Takes what the client sent next: one data frame, or in bare mode
    // whatever the stream holds. False when it closed or stayed silent.
    bool receive() {
        Bytes bytes;
        if (options_.bareTls) {
            pollfd pfd{fd_, POLLIN, 0};
            if (::poll(&pfd, 1, kWaitMs) <= 0) {
                return false;
            }
            uint8_t buf[16384];
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) {
                return false;
            }
            bytes.assign(buf, buf + n);
        } else {
            if (!readDataFrame(fd_, bytes)) {
                return false;
            }
            if (options_.keepLog) {
                log_.clientFrames.push_back(bytes);
            }
        }
        return BIO_write(in_, bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size()) ||
               bytes.empty();
    }

    // Sends what the engine wrote: one data frame per record.
    void sendPending(bool handshaking) {
        Bytes bytes(static_cast<size_t>(BIO_ctrl_pending(out_)));
        if (bytes.empty()) {
            return;
        }
        BIO_read(out_, bytes.data(), static_cast<int>(bytes.size()));
        if (options_.bareTls) {
            LoopbackServer::writeAll(fd_, bytes);
            return;
        }
        Bytes frames;
        size_t pos = 0;
        while (pos + kRecordHeader <= bytes.size()) {
            const size_t size = kRecordHeader + ((size_t{bytes[pos + 3]} << 8) | bytes[pos + 4]);
            if (handshaking && options_.emptyFramesInHandshake) {
                const Bytes empty = dataFrame({});
                frames.insert(frames.end(), empty.begin(), empty.end());
            }
            const Bytes frame =
                dataFrame(Bytes(bytes.begin() + static_cast<long>(pos), bytes.begin() + static_cast<long>(pos + size)));
            frames.insert(frames.end(), frame.begin(), frame.end());
            pos += size;
        }
        if (!trickling_) {
            LoopbackServer::writeAll(fd_, frames);
            return;
        }
        // Every byte ends a single wait of the client, none the whole answer.
        for (uint8_t b : frames) {
            LoopbackServer::writeAll(fd_, Bytes{b});
            if (LoopbackServer::waitForClose(fd_, kTrickleGapMs)) {
                log_.closedByClient = true;
                return;
            }
        }
    }

    // Moves every decrypted byte into `plain`. False when the client closed
    // or TLS failed.
    bool decrypt(Bytes& plain, std::vector<size_t>& sizes) {
        uint8_t buf[32768];
        for (;;) {
            ERR_clear_error();
            size_t n = 0;
            const int r = SSL_read_ex(ssl_, buf, sizeof buf, &n);
            sendPending(false);
            if (r == 1) {
                plain.insert(plain.end(), buf, buf + n);
                sizes.push_back(n);
                continue;
            }
            return SSL_get_error(ssl_, r) == SSL_ERROR_WANT_READ;
        }
    }

    bool answerSetup(size_t step, const Bytes& request) {
        const PeerSession& session = *options_.session;
        const Bytes* body = nullptr;
        Bytes create;
        switch (step) {
        case 0:
            create = session.createBody.empty()
                         ? PeerSession::createReplyBody(session.sessionId, PeerSession::stringValue(session.plcType))
                         : session.createBody;
            body = &create;
            break;
        case 1: body = &session.setBody; break;
        case 2: body = &session.levelBody; break;
        default: body = &session.limitsBody; break;
        }
        const Bytes reply = responseTo(request, *body);
        return write(reply.data(), reply.size());
    }

    bool answer(const PeerReply& reply) {
        switch (reply.kind) {
        case PeerReply::Kind::Tls: return write(reply.bytes.data(), reply.bytes.size());
        case PeerReply::Kind::SingleByteRecords:
            for (uint8_t b : reply.bytes) {
                if (!write(&b, 1)) {
                    return false;
                }
            }
            return true;
        case PeerReply::Kind::RawFrame: LoopbackServer::writeAll(fd_, dataFrame(reply.bytes)); return true;
        case PeerReply::Kind::Trickle: {
            trickling_ = true;
            const bool ok = write(reply.bytes.data(), reply.bytes.size());
            trickling_ = false;
            return ok;
        }
        case PeerReply::Kind::Paced:
            for (size_t at = 0; at < reply.bytes.size(); at += reply.piece) {
                if (at != 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(reply.gapMs));
                }
                if (!write(reply.bytes.data() + at, std::min(reply.piece, reply.bytes.size() - at))) {
                    return false;
                }
            }
            return true;
        case PeerReply::Kind::CloseNotify:
            SSL_shutdown(ssl_);
            sendPending(false);
            awaitClose();
            return false;
        case PeerReply::Kind::Close: return false;
        }
        return false;
    }

    bool write(const uint8_t* data, size_t len) {
        if (len == 0) {
            return true;
        }
        size_t written = 0;
        const bool ok = SSL_write_ex(ssl_, data, len, &written) == 1;
        sendPending(false);
        return ok;
    }

    void recordClientHello() {
        STACK_OF(SSL_CIPHER)* offered = SSL_get_client_ciphers(ssl_);
        for (int i = 0; offered != nullptr && i < sk_SSL_CIPHER_num(offered); ++i) {
            log_.offeredSuites.push_back(
                static_cast<uint16_t>(SSL_CIPHER_get_protocol_id(sk_SSL_CIPHER_value(offered, i))));
        }
        log_.serverNameSent = SSL_get_servername(ssl_, TLSEXT_NAMETYPE_host_name) != nullptr;
    }

    int fd_;
    const TlsPeerOptions& options_;
    PeerLog& log_;
    SSL* ssl_;
    BIO* in_;   // what the client sent, for the engine to read
    BIO* out_;  // what the engine wrote, for the peer to send
    bool trickling_ = false;
};

}  // namespace

void TlsPeer::serveConnection(int fd, PeerLog& log) {
    Connection connection(fd, engine_->ctx, options_, log);
    if (!options_.bareTls) {
        Bytes packet;
        if (!readPacket(fd, packet)) {
            return;
        }
        log.connectRequest = packet;
        if (connection.stopsAt(PeerStep::ConnectRequest)) {
            return;
        }
        // A connection confirm: LI 6, CC, destination and source reference,
        // class 0.
        LoopbackServer::writeAll(fd, {0x03, 0x00, 0x00, 0x0B, 0x06, 0xD0, 0x00, 0x01, 0x00, 0x01, 0x00});

        if (!readDataFrame(fd, log.tlsStartRequest) || connection.stopsAt(PeerStep::TlsStart)) {
            return;
        }
        LoopbackServer::writeAll(fd, dataFrame(options_.tlsStartReply));
    }
    if (!connection.handshake()) {
        return;
    }
    connection.exchange();
}

}  // namespace vemo::test

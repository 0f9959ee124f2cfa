// The controller's side of a connection, up to TLS: a loopback TCP server
// thread that answers the COTP connection request and the TLS-start
// request, runs a TLS 1.3 server whose records travel in COTP data frames
// (one record per frame), and then answers each framed request message with
// scripted bytes. It records everything the client sent, and it can be told
// to misbehave in the ways a test needs. This grows into the controller
// simulator; keep protocol knowledge here, not in the tests.
#pragma once

#include "loopback_server.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vemo::test {

// The steps of a connection, as the peer sees them.
enum class PeerStep {
    ConnectRequest,  // the COTP connection request has arrived
    TlsStart,        // the TLS-start request has arrived
    Handshake,       // the ClientHello has arrived
    Request,         // a request message has arrived after the scripted replies
};

// The answer to one request message.
struct PeerReply {
    enum class Kind {
        Tls,                // the bytes, written through TLS
        SingleByteRecords,  // the bytes, one TLS record (and one frame) per byte
        RawFrame,           // the bytes as one data frame outside TLS
        Trickle,            // the bytes through TLS, the frames then sent one byte per write, 50 ms apart
        Paced,              // the bytes through TLS in pieces of `piece` bytes, `gapMs` apart
        CloseNotify,        // a TLS closure alert; then wait for the client to close
        Close,              // close the TCP connection at once
    };
    Kind kind = Kind::Tls;
    Bytes bytes;
    size_t piece = 0;
    int gapMs = 0;
    // The peer writes the request's sequence number into the header of each
    // message of `bytes`, as a controller does; false sends them as written.
    bool answersRequest = false;

    // The same reply, with the request's sequence number in its header.
    PeerReply answering() const& {
        PeerReply r = *this;
        r.answersRequest = true;
        return r;
    }

    static PeerReply tls(Bytes b) { return {Kind::Tls, std::move(b)}; }
    static PeerReply singleByteRecords(Bytes b) { return {Kind::SingleByteRecords, std::move(b)}; }
    static PeerReply rawFrame(Bytes b) { return {Kind::RawFrame, std::move(b)}; }
    static PeerReply trickle(Bytes b) { return {Kind::Trickle, std::move(b)}; }
    static PeerReply paced(Bytes b, size_t piece, int gapMs) { return {Kind::Paced, std::move(b), piece, gapMs}; }
    static PeerReply closeNotify() { return {Kind::CloseNotify, {}}; }
    static PeerReply close() { return {Kind::Close, {}}; }
};

// The messages in `bytes` (frames of any version, each message closed by
// its trailer) with `sequence` at data bytes 7 and 8 of each, where a
// response header carries it; a message of fewer data bytes is left as it
// is, and so is whatever follows the last trailer.
Bytes withSequence(Bytes bytes, uint16_t sequence);

// The controller's side of what connect runs after the handshake: session
// set-up (create object, set values, get attribute 1842) and the read of the
// two item limits. The peer answers these four requests on its own when the
// connection's first message is a create-object request, as long as the
// messages come in that order; whatever comes after goes to the scripted
// replies. Each reply is the body after the response header, which the
// peer writes with the request's function code and sequence number.
struct PeerSession {
    uint32_t sessionId = 0x00000391;
    std::string plcType = "CPU 1516-3 PN/DP";
    // Create object: the session id and attribute 306 with member 319 = the
    // controller type text. Empty: made from the two fields above.
    Bytes createBody;
    Bytes setBody = {0x00, 0x00, 0x00, 0x00};
    // Attribute 1842 = U32 3.
    Bytes levelBody = {0x00, 0x00, 0x00, 0x00, 0x04, 0x03, 0x00};
    // Item 1 (the read limit) = I32 20, item 2 = I32 100.
    Bytes limitsBody = {0x00, 0x00, 0x01, 0x00, 0x08, 0x14, 0x02, 0x00, 0x08, 0x80, 0x64, 0x00, 0x00, 0x00};

    // The create-object reply body for an id and a value of member 319
    // (flag, type, payload).
    static Bytes createReplyBody(uint32_t sessionId, const Bytes& member319);
    // A value of type STRING.
    static Bytes stringValue(const std::string& text);
};

struct TlsPeerOptions {
    // TLS versions and TLS 1.3 suites the server accepts.
    bool tls12Only = false;
    std::string cipherSuites = "TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256:TLS_AES_128_GCM_SHA256";
    // A self-signed certificate whose validity ended yesterday.
    bool expiredCertificate = false;
    // An empty data frame before every frame the server sends in the handshake.
    bool emptyFramesInHandshake = false;
    // The payload of the TLS-start reply frame.
    Bytes tlsStartReply = okTlsStartReply();
    // On reaching the step: close the connection at once, or never answer
    // (hold the connection until the client closes it).
    std::optional<PeerStep> closeAt;
    std::optional<PeerStep> silentAt;
    // On reaching the step: send an empty data frame every 100 ms, and
    // nothing else, until the client closes (or 5 s have passed).
    std::optional<PeerStep> floodAt;
    // Answers session set-up and the limits read by itself; nullopt leaves
    // every request to the scripted replies.
    std::optional<PeerSession> session = PeerSession{};
    // One reply per request message, in order. After the last one the peer
    // waits for the client to close, unless closeAt is PeerStep::Request.
    std::vector<PeerReply> replies;
    // TLS records straight on the TCP stream, without COTP and TLS start: a
    // plain TLS server, the baseline of the connect benchmark.
    bool bareTls = false;
    // Keep the per-connection log (a benchmark serving thousands of
    // connections turns it off).
    bool keepLog = true;

    // A well-formed TLS-start reply with return value 0.
    static Bytes okTlsStartReply();
};

// One request message: its plaintext (frame heads, data and trailer) and
// the plaintext sizes of the TLS records it came in.
struct PeerMessage {
    Bytes bytes;
    std::vector<size_t> recordSizes;
};

// What the client sent on one connection, and what it negotiated.
struct PeerLog {
    Bytes connectRequest;
    Bytes tlsStartRequest;
    std::vector<Bytes> clientFrames;  // payloads of the data frames after TLS start
    bool handshakeDone = false;
    int tlsVersion = 0;                   // e.g. 0x0304
    std::string cipher;                   // e.g. "TLS_AES_128_GCM_SHA256"
    std::vector<uint16_t> offeredSuites;  // in the client's order
    bool serverNameSent = false;
    std::vector<PeerMessage> setupMessages;  // the requests PeerSession answered, in order
    std::vector<PeerMessage> messages;       // every other request
    bool closedByClient = false;             // the connection ended with the client's close
};

class TlsPeer {
public:
    // Serves `connections` connections one after the other; 0 serves until
    // the peer is destroyed. The certificate is made once, here.
    explicit TlsPeer(TlsPeerOptions options = {}, int connections = 1);
    ~TlsPeer();
    TlsPeer(const TlsPeer&) = delete;
    TlsPeer& operator=(const TlsPeer&) = delete;

    uint16_t port() const { return port_; }

    // Waits until the connections are served; then the logs may be read.
    void join();
    const std::vector<PeerLog>& logs() const { return logs_; }
    // The log of the first connection (empty if there was none).
    const PeerLog& log() const;

private:
    struct Engine;
    void serve();
    void serveConnection(int fd, PeerLog& log);

    TlsPeerOptions options_;
    int connections_;
    std::unique_ptr<Engine> engine_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::vector<PeerLog> logs_;
    std::thread thread_;
};

}  // namespace vemo::test

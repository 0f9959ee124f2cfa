#include "Server.h"

#include "Identity.h"

#include "s7_exchange.h"
#include "s7_protocol.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vemo::sim {

namespace {

// Every wait of a connection is cut into slices of this length, so that a
// stop is seen within one slice.
constexpr int kSliceMs = 100;
// A request message larger than this is no request of a client; the
// connection is dropped rather than buffered without end.
constexpr size_t kMaxRequestMessage = 1 << 20;
// Data bytes per response frame: the most a client's receive buffer takes.
constexpr size_t kMaxResponseFrameData = S7_FRAME_MAX_RECEIVE_DATA;
constexpr size_t kOversizedFrameData = kMaxResponseFrameData + 1;
constexpr size_t kTlsRecordHeader = 5;
// Session ids the create-object replies hand out, one per connection.
constexpr uint32_t kFirstSessionId = 0x380;

using Clock = std::chrono::steady_clock;

Bytes dataFrame(const uint8_t* payload, size_t n) {
    const size_t len = n + S7_ISO_HEADER_SIZE;
    const uint8_t header[S7_ISO_HEADER_SIZE] = {S7_TPKT_VERSION,
                                                0x00,
                                                static_cast<uint8_t>(len >> 8),
                                                static_cast<uint8_t>(len),
                                                S7_COTP_DATA_HEADER_LENGTH,
                                                S7_COTP_DATA,
                                                S7_COTP_END_OF_TSDU};
    // Sized once and filled: growing a vector that started from a brace
    // list makes GCC 12 at -O3 warn about bounds it cannot see.
    Bytes frame(len);
    std::copy(header, header + S7_ISO_HEADER_SIZE, frame.begin());
    if (n > 0) std::copy(payload, payload + n, frame.begin() + S7_ISO_HEADER_SIZE);
    return frame;
}

// The TLS-start reply: the response header (sequence 0), the body byte and
// the return value; bit 62 of it reports a refusal.
Bytes tlsStartReply(bool refuse) {
    Bytes data;
    Writer w(data);
    w.u8(S7_MARKER_RESPONSE);
    w.u16(0);
    w.u16(S7_FN_TLS_START);
    w.u16(0);
    w.u16(0);
    w.u8(S7_BODY_TLS_START);
    w.vlq(refuse ? S7_TLS_START_ERROR_BIT : 0);
    Bytes payload = {S7_FRAME_START, S7_FRAME_VERSION_1, static_cast<uint8_t>(data.size() >> 8),
                     static_cast<uint8_t>(data.size())};
    payload.insert(payload.end(), data.begin(), data.end());
    payload.insert(payload.end(), {S7_FRAME_START, S7_FRAME_VERSION_1, 0x00, 0x00});
    return payload;
}

// Frames a response message: frame start, version, length, data; the
// trailer after the last frame.
Bytes frameMessage(const Bytes& data, uint8_t version, bool oversized) {
    Bytes out;
    out.reserve(data.size() + data.size() / kMaxResponseFrameData * 4 + 16);
    size_t pos = 0;
    if (oversized) {
        Bytes padded = data;
        padded.resize(std::max(padded.size(), kOversizedFrameData));
        out = {S7_FRAME_START, version, static_cast<uint8_t>(kOversizedFrameData >> 8),
               static_cast<uint8_t>(kOversizedFrameData)};
        out.insert(out.end(), padded.begin(), padded.end());
        out.insert(out.end(), {S7_FRAME_START, version, 0x00, 0x00});
        return out;
    }
    do {
        const size_t n = std::min(kMaxResponseFrameData, data.size() - pos);
        out.insert(out.end(), {S7_FRAME_START, version, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
        out.insert(out.end(), data.begin() + static_cast<long>(pos), data.begin() + static_cast<long>(pos + n));
        pos += n;
    } while (pos < data.size());
    out.insert(out.end(), {S7_FRAME_START, version, 0x00, 0x00});
    return out;
}

// "30 s", "0.25 s".
std::string secondsText(std::chrono::milliseconds ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(ms.count()) / 1000.0);
    return text;
}

std::string functionName(uint16_t fn) {
    switch (fn) {
    case S7_FN_EXPLORE: return "explore";
    case S7_FN_CREATE_OBJECT: return "create object";
    case S7_FN_SET_VALUES: return "set values";
    case S7_FN_READ_VARIABLES: return "read";
    case S7_FN_GET_ATTRIBUTE: return "get attribute";
    default: return "function " + std::to_string(fn);
    }
}

}  // namespace

size_t completeRequestMessage(const Bytes& plain) {
    size_t pos = 0;
    while (pos + 4 <= plain.size()) {
        if (plain[pos] != S7_FRAME_START) return SIZE_MAX;
        const size_t len = (size_t{plain[pos + 2]} << 8) | plain[pos + 3];
        const size_t next = pos + 4 + len;
        if (next + 4 > plain.size()) return 0;
        if (plain[next] != S7_FRAME_START) return SIZE_MAX;
        if (plain[next + 2] == 0 && plain[next + 3] == 0) return next + 4;
        pos = next;
    }
    return 0;
}

std::optional<Request> parseRequestMessage(const Bytes& message) {
    Request request;
    request.version = message[1];
    Bytes data;
    for (size_t pos = 0; pos + 4 < message.size();) {
        const size_t len = (size_t{message[pos + 2]} << 8) | message[pos + 3];
        if (message[pos + 1] != request.version) return std::nullopt;
        data.insert(data.end(), message.begin() + static_cast<long>(pos + 4),
                    message.begin() + static_cast<long>(pos + 4 + len));
        pos += 4 + len;
    }
    if (data.size() < S7_REQUEST_HEADER_SIZE || data[0] != S7_MARKER_REQUEST) return std::nullopt;
    request.function = static_cast<uint16_t>(data[3] << 8 | data[4]);
    request.sequence = static_cast<uint16_t>(data[7] << 8 | data[8]);
    request.sessionId = static_cast<uint32_t>(data[9]) << 24 | static_cast<uint32_t>(data[10]) << 16 |
                        static_cast<uint32_t>(data[11]) << 8 | data[12];
    request.body.assign(data.begin() + S7_REQUEST_HEADER_SIZE, data.end());
    return request;
}

// The TLS server configuration every connection shares.
struct Server::Tls {
    SSL_CTX* ctx = nullptr;
    Tls(bool tls12Only, const Identity& identity) {
        ctx = SSL_CTX_new(TLS_server_method());
        const int version = tls12Only ? TLS1_2_VERSION : TLS1_3_VERSION;
        const bool ok = ctx != nullptr && SSL_CTX_set_min_proto_version(ctx, version) == 1 &&
                        SSL_CTX_set_max_proto_version(ctx, version) == 1 &&
                        SSL_CTX_use_certificate(ctx, identity.certificate()) == 1 &&
                        SSL_CTX_use_PrivateKey(ctx, identity.key()) == 1;
        if (!ok) {
            SSL_CTX_free(ctx);
            throw ServerError("the TLS server could not be configured");
        }
    }
    ~Tls() { SSL_CTX_free(ctx); }
};

// One client connection, served on its own thread.
class Connection {
public:
    Connection(Server& server, int fd, int index, const std::atomic<bool>& dropped)
        : server_(server),
          fd_(fd),
          index_(index),
          dropped_(dropped),
          fault_(server.options_.controller.fault),
          session_(server.model_, kFirstSessionId + static_cast<uint32_t>(index - 1), [&server] {
              return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                           server.started_)
                  .count();
          }) {}
    ~Connection() { SSL_free(ssl_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void run() {
        Bytes packet;
        if (!readPacket(packet) || packet.size() < 7 || packet[5] != S7_COTP_CONNECT_REQUEST) return;
        if (endsAt(Step::ConnectRequest)) return;
        delay();
        // Connection confirm: LI 6, CC, destination and source reference, class 0.
        if (!send({S7_TPKT_VERSION, 0x00, 0x00, 0x0B, 0x06, S7_COTP_CONNECT_CONFIRM, 0x00, 0x01, 0x00, 0x01, 0x00})) {
            return;
        }

        Bytes start;
        if (!readDataFrame(start) || start.size() < 9 || start[0] != S7_FRAME_START ||
            start[7] != (S7_FN_TLS_START >> 8) || start[8] != (S7_FN_TLS_START & 0xFF)) {
            return;
        }
        if (endsAt(Step::TlsStart)) return;
        delay();
        const Bytes reply = tlsStartReply(fault_.kind == FaultKind::TlsStartError);
        if (!send(dataFrame(reply.data(), reply.size()))) return;

        ssl_ = SSL_new(server_.tls_->ctx);
        in_ = BIO_new(BIO_s_mem());
        out_ = BIO_new(BIO_s_mem());
        if (ssl_ == nullptr || in_ == nullptr || out_ == nullptr) {
            BIO_free(in_);
            BIO_free(out_);
            return;
        }
        SSL_set_bio(ssl_, in_, out_);
        SSL_set_accept_state(ssl_);
        if (!handshake()) {
            server_.say("connection " + std::to_string(index_) + ": TLS handshake failed");
            return;
        }
        exchange();
    }

private:
    // The server stops, or dropConnections() ended this connection.
    bool stopping() const { return server_.stop_.load() || dropped_.load(); }

    // Waits until the socket is readable (POLLIN) or takes more bytes
    // (POLLOUT); false on stop, or once `until` has passed. Writes wait too:
    // a client that stops reading must not hold a large answer - and with
    // it the server's stop - for ever.
    bool waitFor(short events, Clock::time_point until = Clock::time_point::max()) {
        for (;;) {
            if (stopping()) return false;
            const auto now = Clock::now();
            if (now >= until) return false;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count() + 1;
            pollfd p{fd_, events, 0};
            const int r = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(kSliceMs, left)));
            if (r > 0) return true;
            if (r < 0 && errno != EINTR) return false;
        }
    }
    bool waitReadable() { return waitFor(POLLIN); }

    // Reads exactly n bytes of what the client sends. Until its first
    // request has arrived, the client has the idle time-out for each
    // stretch of silence; past it the connection ends.
    bool recvExact(uint8_t* buf, size_t n) {
        const std::chrono::milliseconds idle = server_.options_.idleTimeout;
        const bool limited = !requested_ && idle.count() > 0;
        size_t got = 0;
        while (got < n) {
            const Clock::time_point quietUntil = limited ? Clock::now() + idle : Clock::time_point::max();
            if (!waitFor(POLLIN, quietUntil)) {
                if (!stopping() && Clock::now() >= quietUntil) {
                    server_.notify("connection " + std::to_string(index_) + ": closed, nothing received for " +
                                   secondsText(idle) + " before its first request");
                }
                return false;
            }
            const ssize_t r = ::recv(fd_, buf + got, n - got, 0);
            if (r <= 0) {
                if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
                return false;
            }
            got += static_cast<size_t>(r);
        }
        return true;
    }

    // Sleeps until `until`, in slices; false on stop.
    bool pauseUntil(Clock::time_point until) {
        while (!stopping()) {
            const auto now = Clock::now();
            if (now >= until) return true;
            std::this_thread::sleep_for(std::min<Clock::duration>(std::chrono::milliseconds(kSliceMs), until - now));
        }
        return false;
    }

    bool send(const Bytes& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            // A trickle sends one byte at a time, each kTrickleInterval after
            // the one before, whichever message it belongs to.
            if (trickling_ && !pauseUntil(lastSend_ + kTrickleInterval)) return false;
            if (!waitFor(POLLOUT)) return false;
            const size_t n = trickling_ ? 1 : bytes.size() - sent;
            const ssize_t r = ::send(fd_, bytes.data() + sent, n, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (r <= 0) {
                if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
                return false;
            }
            sent += static_cast<size_t>(r);
            lastSend_ = Clock::now();
        }
        return true;
    }

    bool readPacket(Bytes& packet) {
        packet.assign(4, 0);
        if (!recvExact(packet.data(), 4) || packet[0] != S7_TPKT_VERSION) return false;
        const size_t len = (size_t{packet[2]} << 8) | packet[3];
        if (len < 7) return false;
        packet.resize(len);
        return recvExact(packet.data() + 4, len - 4);
    }

    bool readDataFrame(Bytes& payload) {
        Bytes packet;
        if (!readPacket(packet) || packet[4] != S7_COTP_DATA_HEADER_LENGTH || packet[5] != S7_COTP_DATA) return false;
        payload.assign(packet.begin() + S7_ISO_HEADER_SIZE, packet.end());
        return true;
    }

    // Holds the connection without answering until the client closes it.
    void hold() {
        uint8_t scratch[4096];
        while (waitReadable()) {
            if (::recv(fd_, scratch, sizeof scratch, 0) <= 0) return;
        }
    }

    // Instead of any answer: an empty data frame every kFloodInterval until
    // the client closes the connection (what it sends meanwhile is read and
    // dropped) or the server stops. A client that takes any traffic for
    // progress waits for ever; one with a deadline gives up at it.
    void flood() {
        const Bytes empty = dataFrame(nullptr, 0);
        uint8_t scratch[4096];
        for (;;) {
            if (!send(empty)) return;
            const auto next = Clock::now() + kFloodInterval;
            for (auto now = Clock::now(); now < next; now = Clock::now()) {
                if (stopping()) return;
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count();
                pollfd p{fd_, POLLIN, 0};
                const int r = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(kSliceMs, left + 1)));
                if (r > 0 && ::recv(fd_, scratch, sizeof scratch, 0) <= 0) return;
                if (r < 0 && errno != EINTR) return;
            }
        }
    }

    // Plays the fault of `step` as the step arrives. True when the
    // connection ends here: closed at once, or after holding it (a stall)
    // or flooding it until the client or the server ends it. A trickle
    // starts here and slows every send after it.
    bool endsAt(Step step, uint64_t request = 0) {
        const std::string who = "connection " + std::to_string(index_);
        if (fault_.closesAt(step, request)) {
            server_.say(who + ": closing on purpose");
            return true;
        }
        if (fault_.stallsAt(step, request)) {
            server_.say(who + ": stalling on purpose");
            hold();
            return true;
        }
        if (fault_.floodsAt(step, request)) {
            server_.say(who + ": flooding with empty frames on purpose");
            flood();
            return true;
        }
        if (fault_.tricklesFrom(step, request) && !trickling_) {
            server_.say(who + ": trickling on purpose");
            trickling_ = true;
        }
        return false;
    }

    void delay() {
        if (fault_.kind != FaultKind::Delay) return;
        pauseUntil(Clock::now() + std::chrono::milliseconds(fault_.arg));
    }

    // One data frame from the client into the engine.
    bool receive() {
        Bytes payload;
        if (!readDataFrame(payload)) return false;
        return payload.empty() ||
               BIO_write(in_, payload.data(), static_cast<int>(payload.size())) == static_cast<int>(payload.size());
    }

    // What the engine wrote, one TLS record per data frame.
    bool flush() {
        const size_t pending = BIO_ctrl_pending(out_);
        if (pending == 0) return true;
        Bytes bytes(pending);
        if (BIO_read(out_, bytes.data(), static_cast<int>(bytes.size())) != static_cast<int>(bytes.size())) {
            return false;
        }
        Bytes frames;
        size_t pos = 0;
        while (pos + kTlsRecordHeader <= bytes.size()) {
            const size_t size = kTlsRecordHeader + ((size_t{bytes[pos + 3]} << 8) | bytes[pos + 4]);
            const size_t n = std::min(size, bytes.size() - pos);
            const Bytes frame = dataFrame(bytes.data() + pos, n);
            frames.insert(frames.end(), frame.begin(), frame.end());
            pos += n;
        }
        return send(frames);
    }

    bool handshake() {
        bool helloSeen = false;
        for (;;) {
            ERR_clear_error();
            const int r = SSL_do_handshake(ssl_);
            if (helloSeen) delay();
            if (!flush()) return false;
            if (r == 1) return true;
            if (SSL_get_error(ssl_, r) != SSL_ERROR_WANT_READ) return false;
            if (!receive()) return false;
            if (!helloSeen) {
                helloSeen = true;
                if (endsAt(Step::Handshake)) return false;
            }
        }
    }

    // Moves every decrypted byte into `plain`; false when TLS failed or the
    // client closed TLS.
    bool decrypt(Bytes& plain) {
        uint8_t buf[16384];
        for (;;) {
            ERR_clear_error();
            size_t n = 0;
            const int r = SSL_read_ex(ssl_, buf, sizeof buf, &n);
            if (!flush()) return false;
            if (r == 1) {
                plain.insert(plain.end(), buf, buf + n);
                continue;
            }
            return SSL_get_error(ssl_, r) == SSL_ERROR_WANT_READ;
        }
    }

    void exchange() {
        Bytes plain;
        uint64_t count = 0;
        for (;;) {
            if (!decrypt(plain)) return;
            const size_t end = completeRequestMessage(plain);
            if (end == SIZE_MAX || plain.size() > kMaxRequestMessage) {
                server_.say("connection " + std::to_string(index_) + ": malformed request framing");
                return;
            }
            if (end == 0) {
                if (!receive()) return;
                continue;
            }
            Bytes message(plain.begin(), plain.begin() + static_cast<long>(end));
            plain.erase(plain.begin(), plain.begin() + static_cast<long>(end));
            if (!answer(std::move(message), ++count)) return;
        }
    }

    // Takes a request message apart and answers it; false ends the connection.
    bool answer(Bytes message, uint64_t number) {
        requested_ = true;
        std::optional<Request> parsed = parseRequestMessage(message);
        if (!parsed) {
            server_.say("connection " + std::to_string(index_) + ": not a request");
            return false;
        }
        Request& request = *parsed;
        if (server_.options_.record) {
            std::lock_guard<std::mutex> lock(server_.requestsMutex_);
            server_.requests_.push_back({request, index_, message});
        }
        server_.say("connection " + std::to_string(index_) + ": request " + std::to_string(number) + ", " +
                    functionName(request.function) + ", " + std::to_string(request.body.size()) + " body bytes");
        const Step step = session_.stepOf(request);
        if ((step != Step::Request && endsAt(step)) || endsAt(Step::Request, number)) return false;
        delay();
        const Bytes response = session_.respond(request);
        const bool late = number >= fault_.fromRequest();
        uint8_t version = request.version;
        if (fault_.kind == FaultKind::WrongVersion && late) version = version == 2 ? 1 : 2;
        const Bytes framed = frameMessage(response, version, fault_.kind == FaultKind::OversizedFrame && late);
        size_t written = 0;
        ERR_clear_error();
        if (SSL_write_ex(ssl_, framed.data(), framed.size(), &written) != 1) return false;
        if (fault_.kind == FaultKind::DoubleAnswer && late &&
            SSL_write_ex(ssl_, framed.data(), framed.size(), &written) != 1) {
            return false;
        }
        return flush();
    }

    Server& server_;
    int fd_;
    int index_;
    const std::atomic<bool>& dropped_;
    const Fault& fault_;
    Session session_;
    SSL* ssl_ = nullptr;
    BIO* in_ = nullptr;   // what the client sent, for the engine (owned by ssl_)
    BIO* out_ = nullptr;  // what the engine wrote, for the client (owned by ssl_)
    bool trickling_ = false;
    bool requested_ = false;      // a whole request has arrived: the idle time-out is over
    Clock::time_point lastSend_;  // when the last bytes went out
};

Server::Server(Program program, ServerOptions options)
    : model_(std::move(program), options.controller),
      options_(std::move(options)),
      tls_(std::make_unique<Tls>(options_.controller.fault.kind == FaultKind::Tls12Only,
                                 options_.certificateFile.empty() && options_.keyFile.empty()
                                     ? Identity::generate()
                                     : Identity::load(options_.certificateFile, options_.keyFile))),
      started_(std::chrono::steady_clock::now()) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(options_.port);
    const int gai = ::getaddrinfo(options_.host.c_str(), service.c_str(), &hints, &found);
    if (gai != 0) {
        throw ServerError("cannot listen on " + options_.host + ":" + service + ": " + gai_strerror(gai));
    }
    std::string why = "no address";
    for (addrinfo* a = found; a != nullptr && listenFd_ < 0; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            why = std::strerror(errno);
            continue;
        }
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 64) != 0) {
            why = std::strerror(errno);
            ::close(fd);
            continue;
        }
        listenFd_ = fd;
    }
    ::freeaddrinfo(found);
    if (listenFd_ < 0) {
        throw ServerError("cannot listen on " + options_.host + ":" + service + ": " + why);
    }
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&bound), &len);
    port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                              : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    if (::pipe2(wakePipe_, O_CLOEXEC) != 0) {
        ::close(listenFd_);
        throw ServerError(std::string("cannot create a pipe: ") + std::strerror(errno));
    }
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

Server::~Server() {
    stop();
    ::close(listenFd_);
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
}

void Server::stop() {
    if (stop_.exchange(true)) {
        return;
    }
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakePipe_[1], &byte, 1);
    if (acceptThread_.joinable()) acceptThread_.join();
    reap(true);
}

void Server::reap(bool all) {
    std::lock_guard<std::mutex> lock(workersMutex_);
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (all || it->done) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

void Server::say(const std::string& line) const {
    if (options_.log) {
        std::lock_guard<std::mutex> lock(logMutex_);
        options_.log(line);
    }
}

void Server::notify(const std::string& line) const {
    if (!options_.notice) {
        say(line);
        return;
    }
    std::lock_guard<std::mutex> lock(logMutex_);
    options_.notice(line);
}

void Server::acceptLoop() {
    while (!stop_) {
        pollfd p[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (stop_ || (p[1].revents & POLLIN) != 0) return;
        if ((p[0].revents & POLLIN) == 0) continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        reap(false);
        const int index = ++accepted_;
        if (live_ >= options_.maxConnections) {
            // Closed at once: the client reads the end of the stream in
            // place of the connection confirm, rather than waiting.
            notify("connection " + std::to_string(index) + ": refused, full: all " +
                   std::to_string(options_.maxConnections) + " connections are in use");
            ::close(fd);
            continue;
        }
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ++live_;
        std::lock_guard<std::mutex> lock(workersMutex_);
        Worker& w = workers_.emplace_back();
        w.fd = fd;
        w.index = index;
        w.thread = std::thread([this, &w] {
            serve(w);
            --live_;
            w.done = true;
        });
    }
}

void Server::serve(Worker& w) {
    const int fd = w.fd;
    const int index = w.index;
    say("connection " + std::to_string(index) + ": opened");
    try {
        Connection(*this, fd, index, w.dropped).run();
    } catch (const std::exception& e) {
        say("connection " + std::to_string(index) + ": " + e.what());
    }
    {
        // From here on dropConnections() leaves the descriptor alone: once
        // closed, its number may belong to a new connection.
        std::lock_guard<std::mutex> lock(socketsMutex_);
        w.fd = -1;
    }
    ::close(fd);
    say("connection " + std::to_string(index) + ": closed");
}

size_t Server::dropConnections() {
    size_t dropped = 0;
    std::lock_guard<std::mutex> workers(workersMutex_);
    std::lock_guard<std::mutex> sockets(socketsMutex_);
    for (Worker& w : workers_) {
        if (w.fd < 0 || w.dropped) continue;
        // Both directions end now, whatever the connection's thread is
        // doing: the client reads the end of the stream, and the thread
        // sees it at its next wait and closes the descriptor itself.
        w.dropped = true;
        ::shutdown(w.fd, SHUT_RDWR);
        say("connection " + std::to_string(w.index) + ": dropped on demand");
        ++dropped;
    }
    return dropped;
}

std::vector<ReceivedRequest> Server::requests() const {
    std::lock_guard<std::mutex> lock(requestsMutex_);
    return requests_;
}

void Server::clearRequests() {
    std::lock_guard<std::mutex> lock(requestsMutex_);
    requests_.clear();
}

}  // namespace vemo::sim

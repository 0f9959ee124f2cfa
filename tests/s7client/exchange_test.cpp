// The request/response exchange over a real TLS 1.3 connection to the test
// peer: how requests are cut into frames, how responses are reassembled and
// checked, the session's numbering rules, and connect steps 6 to 8 (TLS
// start, the handshake, the session) with their codes.
#include "s7_client.h"
#include "s7_exchange.h"
#include "s7_memory.h"
#include "s7_tls_start.h"

#include "../support/alloc_hooks.h"
#include "../support/tls_peer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

using vemo::test::Bytes;
using vemo::test::concat;
using vemo::test::CountingAllocator;
using vemo::test::PeerReply;
using vemo::test::PeerStep;
using vemo::test::TlsPeer;
using vemo::test::TlsPeerOptions;
using vemo::test::withSequence;

constexpr uint32_t kTimeoutMs = 3000;

// A client handle connected through steps 1-8, with a session over its
// channel (the handle creates its own session in a later step).
struct Link {
    explicit Link(uint16_t port, uint32_t timeoutMs = kTimeoutMs) : client(vemoc_s7_client_new()) {
        rc = vemoc_s7_client_connect(client, "127.0.0.1", port, timeoutMs);
        if (rc == S7_OK) {
            session = s7_session_new(client->tls);
        }
    }
    ~Link() {
        s7_session_free(session);
        vemoc_s7_client_free(client);
    }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    uint8_t exchange(const Bytes& body, s7_response& response, uint16_t function = S7_FN_READ_VARIABLES,
                     uint8_t version = 2, uint32_t timeoutMs = kTimeoutMs) {
        const s7_request request{body.data(), static_cast<uint32_t>(body.size()), function, version};
        return s7_exchange(session, &request, &response, timeoutMs);
    }

    vemoc_s7_client* client;
    s7_session* session = nullptr;
    uint8_t rc = S7_ERR_ARGUMENT;
};

Bytes frame(uint8_t version, const Bytes& data) {
    Bytes f(4 + data.size());
    const uint8_t head[] = {0x72, version, static_cast<uint8_t>(data.size() >> 8), static_cast<uint8_t>(data.size())};
    std::copy(std::begin(head), std::end(head), f.begin());
    std::copy(data.begin(), data.end(), f.begin() + 4);
    return f;
}

Bytes trailer(uint8_t version) { return {0x72, version, 0x00, 0x00}; }

Bytes counting(size_t n, uint8_t from = 0) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        b[i] = static_cast<uint8_t>(from + i);
    }
    return b;
}

// Response data whose header (the first 9 bytes) carries `sequence`: the
// answer to the request of that number.
Bytes headed(Bytes data, uint16_t sequence = 1) {
    data.at(7) = static_cast<uint8_t>(sequence >> 8);
    data.at(8) = static_cast<uint8_t>(sequence);
    return data;
}

Bytes asBytes(const s7_response& r) { return r.data == nullptr ? Bytes{} : Bytes(r.data, r.data + r.length); }

TEST(Exchange, RoundTripSendsTheHeaderAndBodyAndReturnsTheResponseData) {
    const Bytes answer = headed(counting(10, 0xA0));
    TlsPeerOptions options;
    options.replies = {PeerReply::tls(concat({frame(2, answer), trailer(2)}))};
    TlsPeer peer(options);
    Bytes sent;
    {
        Link link(peer.port());
        ASSERT_EQ(link.rc, S7_OK);
        s7_response response{};
        const Bytes body = {0x34, 0x00, 0x00, 0x00, 0x01, 0xAA};
        ASSERT_EQ(link.exchange(body, response), S7_OK);
        EXPECT_EQ(asBytes(response), answer);
        s7_response_clear(&response);
        EXPECT_EQ(response.data, nullptr);
    }
    peer.join();
    ASSERT_EQ(peer.log().messages.size(), 1u);
    const Bytes expected =
        concat({frame(2, concat({{0x31, 0x00, 0x00, 0x05, 0x4C, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0x20},
                                 {0x34, 0x00, 0x00, 0x00, 0x01, 0xAA}})),
                trailer(2)});
    EXPECT_EQ(peer.log().messages[0].bytes, expected) << "header: 0x31, function 1356, sequence 1, session 288";
}

// The data of each frame of a message, checking that only the last frame
// is followed by the trailer.
std::vector<Bytes> framesOf(const Bytes& message, uint8_t version) {
    std::vector<Bytes> frames;
    size_t pos = 0;
    while (pos + 4 <= message.size()) {
        EXPECT_EQ(message[pos], 0x72);
        EXPECT_EQ(message[pos + 1], version);
        const size_t len = (size_t{message[pos + 2]} << 8) | message[pos + 3];
        if (!frames.empty() && len == 0 && pos + 4 == message.size()) {
            return frames;  // the trailer
        }
        frames.emplace_back(message.begin() + static_cast<long>(pos + 4),
                            message.begin() + static_cast<long>(std::min(message.size(), pos + 4 + len)));
        pos += 4 + len;
    }
    ADD_FAILURE() << "no trailer at the end";
    return frames;
}

Bytes requestHeader(uint16_t function, uint16_t sequence, uint32_t sessionId) {
    return {0x31,
            0x00,
            0x00,
            static_cast<uint8_t>(function >> 8),
            static_cast<uint8_t>(function),
            0x00,
            0x00,
            static_cast<uint8_t>(sequence >> 8),
            static_cast<uint8_t>(sequence),
            static_cast<uint8_t>(sessionId >> 24),
            static_cast<uint8_t>(sessionId >> 16),
            static_cast<uint8_t>(sessionId >> 8),
            static_cast<uint8_t>(sessionId)};
}

const Bytes kOkResponse = concat({frame(2, {0x32, 0x00}), trailer(2)});

TEST(Exchange, RequestIsCutIntoFramesOfAtMost987DataBytesEachOneTlsWrite) {
    struct Case {
        const char* rule;
        size_t bodyLength;
        std::vector<size_t> frameLengths;
        std::vector<size_t> writeSizes;  // plaintext of each TLS record
    };
    const Case cases[] = {
        {"header and body of 987 bytes: one frame, trailer in the same write", 974, {987}, {995}},
        {"988 bytes: 987, then 1 with the trailer", 975, {987, 1}, {991, 9}},
        {"a body of 2000 bytes: 987, 987, 39", 2000, {987, 987, 39}, {991, 991, 47}},
        {"a small body", 5, {18}, {26}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        TlsPeerOptions options;
        options.replies = {PeerReply::tls(kOkResponse)};
        TlsPeer peer(options);
        const Bytes body = counting(c.bodyLength, 0x40);
        {
            Link link(peer.port());
            ASSERT_EQ(link.rc, S7_OK);
            s7_response response{};
            ASSERT_EQ(link.exchange(body, response, S7_FN_EXPLORE), S7_OK);
            s7_response_clear(&response);
        }
        peer.join();
        ASSERT_EQ(peer.log().messages.size(), 1u);
        const auto& message = peer.log().messages[0];
        const std::vector<Bytes> frames = framesOf(message.bytes, 2);
        std::vector<size_t> lengths;
        Bytes data;
        for (const Bytes& f : frames) {
            lengths.push_back(f.size());
            data.insert(data.end(), f.begin(), f.end());
        }
        EXPECT_EQ(lengths, c.frameLengths);
        EXPECT_EQ(data, concat({requestHeader(S7_FN_EXPLORE, 1, 288), body}));
        EXPECT_EQ(message.recordSizes, c.writeSizes);
    }
}

TEST(Exchange, ResponseIsReassembledHoweverItArrives) {
    const Bytes ten = headed(counting(10, 0x30));
    const Bytes big1 = headed(counting(1974, 1));
    const Bytes big2 = counting(1974, 2);
    struct Case {
        const char* rule;
        PeerReply reply;
        Bytes expected;
    };
    const Case cases[] = {
        {"one frame in one read", PeerReply::tls(concat({frame(2, ten), trailer(2)})), ten},
        {"the same frame byte by byte", PeerReply::singleByteRecords(concat({frame(2, ten), trailer(2)})), ten},
        {"frames of 1974 bytes fill the receive buffer exactly",
         PeerReply::tls(concat({frame(2, big1), frame(2, big2), frame(2, ten), trailer(2)})),
         concat({big1, big2, ten})},
        {"a frame without data", PeerReply::tls(concat({frame(2, {}), frame(2, ten), trailer(2)})), ten},
        {"bytes behind the trailer are not part of it", PeerReply::tls(concat({frame(2, ten), trailer(2), {1, 2, 3}})), ten},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        TlsPeerOptions options;
        options.replies = {c.reply};
        TlsPeer peer(options);
        Link link(peer.port());
        ASSERT_EQ(link.rc, S7_OK);
        s7_response response{};
        ASSERT_EQ(link.exchange({0x34, 0, 0, 0, 0}, response), S7_OK);
        EXPECT_EQ(asBytes(response), c.expected);
        s7_response_clear(&response);
    }
}

TEST(Exchange, MalformedResponseIsAProtocolErrorAndEndsTheSession) {
    const Bytes ten = counting(10);
    Bytes tooLong = frame(2, Bytes(1975, 0));
    struct Case {
        const char* rule;
        Bytes reply;
    };
    const Case cases[] = {
        {"version byte 1 to a version-2 request", concat({frame(1, ten), trailer(1)})},
        {"a frame that does not start with 0x72", concat({{0x73, 0x02, 0x00, 0x0A}, ten, trailer(2)})},
        {"a frame of 1975 data bytes", concat({tooLong, trailer(2)})},
        {"no frame head after the data", concat({frame(2, ten), {0x00, 0x02, 0x00, 0x00}})},
        {"the next head with another version", concat({frame(2, ten), trailer(1)})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        TlsPeerOptions options;
        options.replies = {PeerReply::tls(c.reply), PeerReply::tls(kOkResponse)};
        TlsPeer peer(options);
        {
            Link link(peer.port());
            ASSERT_EQ(link.rc, S7_OK);
            s7_response response{};
            EXPECT_EQ(link.exchange({0x34, 0, 0, 0, 0}, response), S7_ERR_PROTOCOL);
            EXPECT_EQ(response.data, nullptr);
            EXPECT_EQ(response.length, 0u);
            // What is left of the bad response may still arrive: the session
            // must not take it for the answer to the next request.
            EXPECT_EQ(link.exchange({0x34, 0, 0, 0, 0}, response), S7_ERR_NOT_CONNECTED);
        }
        peer.join();
        EXPECT_EQ(peer.log().messages.size(), 1u) << "the refused request was not sent";
    }
}

// What a response may be: at most 16384 frames and 16 MiB kept. A longer
// one is read to its end and let go, and the session goes on; while it is
// let go, up to 0x40000 frames. The session's limit (lowered here) stands
// for the 16 MiB where a whole 16 MiB would be slow.
TEST(Exchange, ResponseLimitsOnFramesAndSize) {
    struct Case {
        const char* rule;
        size_t fullFrames;  // frames of frameData bytes, then one of lastData
        size_t frameData;
        size_t lastData;
        uint32_t sessionLimit;  // 0: the 16 MiB
        uint8_t expected;
    };
    std::vector<Case> cases = {
        {"16384 frames are taken", 16383, 1, 1, 0, S7_OK},
        {"16385 frames are refused", 16384, 1, 1, 0, S7_STATUS_PROTOCOL},
        {"an answer of the session's limit is kept", 9, 10, 10, 100, S7_OK},
        {"a byte more is read and let go", 9, 10, 11, 100, S7_STATUS_ANSWER_TOO_LARGE},
        {"let go, it may run to 0x40000 frames", 0x40000 - 1, 1, 1, 100, S7_STATUS_ANSWER_TOO_LARGE},
        {"but no further", 0x40000, 1, 1, 100, S7_STATUS_PROTOCOL},
    };
#if !defined(__SANITIZE_ADDRESS__)
    // 16 MiB through TLS; the sanitizer's realloc copies every growth, which
    // makes this minutes there instead of a fraction of a second.
    cases.push_back({"16 MiB are taken", 8499, 1974, 190, 0, S7_OK});
    cases.push_back({"a byte more is read and let go", 8499, 1974, 191, 0, S7_STATUS_ANSWER_TOO_LARGE});
    cases.push_back(
        {"a session's limit above 16 MiB counts as 16 MiB", 8499, 1974, 191, 0xFFFFFFFF, S7_STATUS_ANSWER_TOO_LARGE});
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        Bytes reply;
        reply.reserve((c.fullFrames + 1) * (c.frameData + 4) + 8);
        const Bytes full = frame(2, Bytes(c.frameData, 0x5A));
        for (size_t i = 0; i < c.fullFrames; ++i) {
            reply.insert(reply.end(), full.begin(), full.end());
        }
        const Bytes last = concat({frame(2, Bytes(c.lastData, 0xA5)), trailer(2)});
        reply.insert(reply.end(), last.begin(), last.end());
        TlsPeerOptions options;
        options.replies = {PeerReply::tls(withSequence(std::move(reply), 1)), PeerReply::tls(kOkResponse)};
        TlsPeer peer(options);
        Link link(peer.port());
        ASSERT_EQ(link.rc, S7_OK);
        link.session->response_limit = c.sessionLimit;
        s7_response response{};
        EXPECT_EQ(link.exchange({0x34, 0, 0, 0, 0}, response), c.expected);
        EXPECT_EQ(response.length, c.expected == S7_OK ? c.fullFrames * c.frameData + c.lastData : 0u);
        EXPECT_EQ(response.data == nullptr, c.expected != S7_OK);
        // Only a response read to its end leaves the stream matched to
        // requests: after one let go, the next request gets its own answer.
        const uint8_t next = c.expected == S7_STATUS_PROTOCOL ? S7_STATUS_NOT_CONNECTED : S7_STATUS_OK;
        EXPECT_EQ(link.exchange({0x34, 0, 0, 0, 0}, response), next);
        if (next == S7_STATUS_OK) {
            EXPECT_EQ(asBytes(response), (Bytes{0x32, 0x00}));
        }
        s7_response_clear(&response);
    }
}

// A limit for one exchange: the lower of it and the session's counts.
TEST(Exchange, AnExchangeMayKeepLessThanTheSession) {
    const Bytes answer = concat({frame(2, Bytes(50, 0x5A)), trailer(2)});
    TlsPeerOptions options;
    const PeerReply reply = PeerReply::tls(answer).answering();
    options.replies = {reply, reply, reply};
    TlsPeer peer(options);
    {
        Link link(peer.port());
        ASSERT_EQ(link.rc, S7_OK);
        const Bytes body = {0x34, 0, 0, 0, 0};
        const s7_request request{body.data(), static_cast<uint32_t>(body.size()), S7_FN_EXPLORE, 2};
        s7_response response{};
        EXPECT_EQ(s7_exchange_within(link.session, &request, &response, kTimeoutMs, 49), S7_STATUS_ANSWER_TOO_LARGE);
        EXPECT_EQ(s7_exchange_within(link.session, &request, &response, kTimeoutMs, 50), S7_STATUS_OK);
        EXPECT_EQ(response.length, 50u);
        link.session->response_limit = 49;
        EXPECT_EQ(s7_exchange_within(link.session, &request, &response, kTimeoutMs, 50), S7_STATUS_ANSWER_TOO_LARGE);
        EXPECT_EQ(response.data, nullptr);
    }
    peer.join();
    EXPECT_EQ(peer.log().messages.size(), 3u);
}

TEST(Exchange, FailuresOfTheConnectionDuringAnExchange) {
    struct Case {
        const char* rule;
        std::optional<PeerReply> reply;  // none: the peer never answers
        uint8_t expected;
    };
    const Case cases[] = {
        {"the controller drops the connection", PeerReply::close(), S7_ERR_NOT_CONNECTED},
        {"the controller closes TLS", PeerReply::closeNotify(), S7_ERR_NOT_CONNECTED},
        {"the controller stops answering", std::nullopt, S7_ERR_TIMEOUT},
        {"a frame too large for the TLS receive buffer", PeerReply::rawFrame(Bytes(32769, 0)), S7_ERR_TLS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        TlsPeerOptions options;
        if (c.reply) {
            options.replies = {*c.reply};
        }
        TlsPeer peer(options);
        Link link(peer.port());
        ASSERT_EQ(link.rc, S7_OK);
        s7_response response{};
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(link.exchange({0x34, 0, 0, 0, 0}, response, S7_FN_READ_VARIABLES, 2, 300), c.expected);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        if (c.expected == S7_ERR_TIMEOUT) {
            EXPECT_GE(elapsed, std::chrono::milliseconds(250));
            EXPECT_LT(elapsed, std::chrono::milliseconds(2000)) << "about one time-out, not more";
        }
        EXPECT_EQ(response.data, nullptr);
        EXPECT_EQ(link.exchange({0x34, 0, 0, 0, 0}, response), S7_ERR_NOT_CONNECTED);
    }
}

// A large answer on a slow link takes longer than the time-out as a whole;
// as long as 64 KiB of it arrive within each time-out it is not a stalled
// controller. A small answer as slow earns nothing.
TEST(Exchange, ALargeAnswerThatKeepsComingEarnsMoreTime) {
    constexpr uint32_t kTimeout = 400;
    struct Case {
        const char* rule;
        size_t dataBytes;
        size_t piece;  // bytes per write, 100 ms apart
        uint8_t expected;
    };
    const Case cases[] = {
        {"512 KiB, 64 KiB every 200 ms: some 1.6 s in all", 512 * 1024, 32 * 1024, S7_OK},
        {"60 KiB, 4 KiB every 100 ms: some 1.5 s in all", 60 * 1024, 4 * 1024, S7_ERR_TIMEOUT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        Bytes reply;
        const Bytes data = headed(counting(c.dataBytes));
        for (size_t at = 0; at < data.size(); at += S7_FRAME_MAX_RECEIVE_DATA) {
            const size_t n = std::min<size_t>(S7_FRAME_MAX_RECEIVE_DATA, data.size() - at);
            const Bytes f = frame(2, Bytes(data.begin() + static_cast<std::ptrdiff_t>(at),
                                           data.begin() + static_cast<std::ptrdiff_t>(at + n)));
            reply.insert(reply.end(), f.begin(), f.end());
        }
        const Bytes end = trailer(2);
        reply.insert(reply.end(), end.begin(), end.end());
        TlsPeerOptions options;
        options.replies = {PeerReply::paced(std::move(reply), c.piece, 100)};
        TlsPeer peer(options);
        Link link(peer.port(), kTimeout);
        ASSERT_EQ(link.rc, S7_OK);
        s7_response response{};
        EXPECT_EQ(link.exchange({0x34, 0, 0, 0, 0}, response, S7_FN_READ_VARIABLES, 2, kTimeout), c.expected);
        EXPECT_EQ(asBytes(response), c.expected == S7_OK ? data : Bytes{});
        s7_response_clear(&response);
    }
}

TEST(Exchange, ArgumentsAreCheckedAndAnEarlierResponseReleased) {
    CountingAllocator hooks;
    TlsPeer peer;
    {
        Link link(peer.port());
        ASSERT_EQ(link.rc, S7_OK);
        const size_t before = hooks.live();
        const Bytes body = {0x34, 0, 0, 0, 0};
        const s7_request request{body.data(), 5, S7_FN_EXPLORE, 2};
        const s7_request empty{body.data(), 0, S7_FN_EXPLORE, 2};
        const s7_request noData{nullptr, 5, S7_FN_EXPLORE, 2};
        s7_response response{};
        response.data = static_cast<uint8_t*>(s7_malloc(16));
        response.length = 16;
        EXPECT_EQ(s7_exchange(link.session, &noData, &response, kTimeoutMs), S7_ERR_ARGUMENT);
        EXPECT_EQ(response.data, nullptr);
        EXPECT_EQ(response.length, 0u);
        EXPECT_EQ(hooks.live(), before) << "the earlier response was released";
        EXPECT_EQ(s7_exchange(nullptr, &request, &response, kTimeoutMs), S7_ERR_ARGUMENT);
        EXPECT_EQ(s7_exchange(link.session, nullptr, &response, kTimeoutMs), S7_ERR_ARGUMENT);
        EXPECT_EQ(s7_exchange(link.session, &request, nullptr, kTimeoutMs), S7_ERR_ARGUMENT);
        EXPECT_EQ(s7_exchange(link.session, &empty, &response, kTimeoutMs), S7_ERR_ARGUMENT);
        EXPECT_EQ(link.session->sequence, 0) << "nothing was sent";
        s7_response_clear(nullptr);
    }
    peer.join();
    EXPECT_TRUE(peer.log().messages.empty());
    EXPECT_EQ(hooks.live(), 0u);
}

TEST(Exchange, EveryAllocationFailureIsReportedAndLeavesNothing) {
    CountingAllocator hooks;
    const Bytes reply = concat({frame(2, counting(300)), frame(2, counting(300)), frame(2, counting(300)), trailer(2)});
    for (size_t n = 1;; ++n) {
        SCOPED_TRACE(n);
        TlsPeerOptions options;
        options.replies = {PeerReply::tls(reply).answering()};
        TlsPeer peer(options);
        Link link(peer.port());
        ASSERT_EQ(link.rc, S7_OK);
        const size_t before = hooks.live();
        s7_response response{};
        hooks.failFrom(n);
        const uint8_t rc = link.exchange(counting(1500), response);
        const bool reached = hooks.calls() >= n;
        hooks.failFrom(0);
        EXPECT_EQ(hooks.live(), before + (response.data != nullptr ? 1 : 0));
        if (!reached) {
            EXPECT_EQ(rc, S7_OK);
            EXPECT_EQ(response.length, 900u);
            EXPECT_GT(n, 4u) << "two frames sent, three grown";
            s7_response_clear(&response);
            break;
        }
        // A frame that cannot be allocated fails the TLS write; a response
        // that cannot grow is out of memory.
        EXPECT_TRUE(rc == S7_ERR_NO_MEMORY || rc == S7_ERR_TLS) << int(rc);
        EXPECT_EQ(response.data, nullptr);
    }
}

// A link of the test's own in place of the TLS channel: what the session
// writes is kept, what it reads comes from a script in pieces of a fixed
// size, and the end of the script is a closed connection.
struct ScriptedLink {
    Bytes written;
    Bytes script;
    size_t piece = 1;
    size_t at = 0;

    static s7_status write(void* context, const uint8_t* data, uint32_t len, uint32_t) {
        auto* self = static_cast<ScriptedLink*>(context);
        self->written.insert(self->written.end(), data, data + len);
        return S7_STATUS_OK;
    }
    static s7_status read(void* context, uint8_t* buffer, uint32_t capacity, int32_t* count, uint32_t) {
        auto* self = static_cast<ScriptedLink*>(context);
        const size_t n = std::min({self->piece, size_t{capacity}, self->script.size() - self->at});
        if (n == 0) {
            return S7_STATUS_NOT_CONNECTED;
        }
        std::memcpy(buffer, self->script.data() + self->at, n);
        self->at += n;
        *count = static_cast<int32_t>(n);
        return S7_STATUS_OK;
    }
    s7_link link() { return s7_link{write, read, this, nullptr}; }
};

TEST(Session, RunsOverAnyLinkAndReassemblesWhateverPiecesItReads) {
    const Bytes ten = headed(counting(10, 0x30));
    const Bytes big = counting(1974, 7);
    const Bytes script = concat({frame(2, {}), frame(2, ten), frame(2, big), trailer(2), {0x72, 0x02}});
    for (const size_t piece : {size_t{1}, size_t{3}, size_t{4000}}) {
        SCOPED_TRACE(piece);
        ScriptedLink scripted{{}, script, piece};
        const s7_link link = scripted.link();
        s7_session* session = s7_session_new_over(&link);
        ASSERT_NE(session, nullptr);
        EXPECT_EQ(session->tls, nullptr);
        const Bytes body = {0x34, 0x00, 0x00, 0x00, 0x01};
        const s7_request request{body.data(), static_cast<uint32_t>(body.size()), S7_FN_EXPLORE, 2};
        s7_response response{};
        ASSERT_EQ(s7_exchange(session, &request, &response, kTimeoutMs), S7_OK);
        EXPECT_EQ(asBytes(response), concat({ten, big}));
        EXPECT_EQ(scripted.written,
                  concat({frame(2, concat({requestHeader(S7_FN_EXPLORE, 1, 288), body})), trailer(2)}));
        s7_response_clear(&response);
        // The rest of the script is a frame head cut short, then the end.
        EXPECT_EQ(s7_exchange(session, &request, &response, kTimeoutMs), S7_ERR_NOT_CONNECTED);
        s7_session_free(session);
    }
    s7_link incomplete{ScriptedLink::write, nullptr, nullptr, nullptr};
    EXPECT_EQ(s7_session_new_over(&incomplete), nullptr);
    EXPECT_EQ(s7_session_new_over(nullptr), nullptr);
}

// An answer to request `sequence`: the response header, then `rest`, in
// frames of at most `frameData` data bytes.
Bytes answerTo(uint16_t sequence, const Bytes& rest, size_t frameData = 987, uint8_t version = 2) {
    const Bytes data = concat({{0x32, 0x00, 0x00, 0x05, 0x4C, 0x00, 0x00, static_cast<uint8_t>(sequence >> 8),
                                static_cast<uint8_t>(sequence)},
                               rest});
    Bytes message;
    for (size_t at = 0; at < data.size(); at += frameData) {
        const size_t n = std::min(frameData, data.size() - at);
        message = concat({message, frame(version, Bytes(data.begin() + static_cast<long>(at),
                                                        data.begin() + static_cast<long>(at + n)))});
    }
    return concat({message, trailer(version)});
}

// Answers are matched to their requests by the sequence number at offset 7
// of the response header. One to any of the 64 requests before (counting
// the wrap from 0xFFFF to 1) is a request answered twice: it is let go and
// counted, 16 times in one exchange at most. Any other number ends the
// session. Every script is read in pieces of 1, 7 and 4000 bytes.
TEST(Session, AnAnswerIsTakenOnlyForItsOwnRequest) {
    const Bytes a = {0xAA};
    const Bytes b = {0xBB};
    auto repeated = [](const Bytes& message, int n) {
        Bytes out;
        for (int i = 0; i < n; ++i) {
            out = concat({out, message});
        }
        return out;
    };
    struct Case {
        const char* rule;
        uint16_t before;  // the session's sequence number before the first request
        Bytes script;
        std::vector<uint8_t> results;  // of the exchanges in turn
        uint32_t discarded;
    };
    const Case cases[] = {
        {"each answer once", 0, concat({answerTo(1, a), answerTo(2, b)}), {S7_OK, S7_OK}, 0},
        {"the first answer twice: the copy is let go",
         0,
         concat({answerTo(1, a), answerTo(1, a), answerTo(2, b)}),
         {S7_OK, S7_OK},
         1},
        {"a copy whose header comes in frames of 2 bytes",
         0,
         concat({answerTo(1, a), answerTo(1, Bytes(3000, 0x11), 2), answerTo(2, b)}),
         {S7_OK, S7_OK},
         1},
        {"a copy in version 1 (as session set-up goes) is let go as well",
         0,
         concat({answerTo(1, a), answerTo(1, a, 987, 1), answerTo(2, b)}),
         {S7_OK, S7_OK},
         1},
        {"but the own answer must have the request's version", 0, answerTo(1, a, 987, 1),
         {S7_ERR_PROTOCOL, S7_ERR_NOT_CONNECTED}, 0},
        {"and so must an own answer shorter than a header", 0, concat({frame(1, {0x32}), trailer(1)}),
         {S7_ERR_PROTOCOL, S7_ERR_NOT_CONNECTED}, 0},
        {"an answer to the 64th request before is let go",
         99,
         concat({answerTo(36, a), answerTo(100, b)}),
         {S7_OK},
         1},
        {"to the 65th, a protocol error", 99, answerTo(35, a), {S7_ERR_PROTOCOL, S7_ERR_NOT_CONNECTED}, 0},
        {"an answer to a later request", 0, answerTo(2, b), {S7_ERR_PROTOCOL, S7_ERR_NOT_CONNECTED}, 0},
        {"an unrelated number", 0, answerTo(0x8001, b), {S7_ERR_PROTOCOL, S7_ERR_NOT_CONNECTED}, 0},
        {"number 0, which no request carries", 5, answerTo(0, b), {S7_ERR_PROTOCOL, S7_ERR_NOT_CONNECTED}, 0},
        {"0xFFFF, then 1: a copy of 0xFFFF's answer is let go",
         0xFFFE,
         concat({answerTo(0xFFFF, a), answerTo(0xFFFF, a), answerTo(1, b)}),
         {S7_OK, S7_OK},
         1},
        {"after the wrap the window reaches back over it",
         0xFFFF,
         concat({answerTo(0xFFC0, a), answerTo(1, b)}),
         {S7_OK},
         1},
        {"but not past 64", 0xFFFF, answerTo(0xFFBF, a), {S7_ERR_PROTOCOL, S7_ERR_NOT_CONNECTED}, 0},
        {"before any wrap, 0xFFFF is a number not reached", 1, answerTo(0xFFFF, a),
         {S7_ERR_PROTOCOL, S7_ERR_NOT_CONNECTED}, 0},
        {"16 answers to an earlier request are let go",
         0,
         concat({answerTo(1, a), repeated(answerTo(1, a), 16), answerTo(2, b)}),
         {S7_OK, S7_OK},
         16},
        {"the 17th ends the session",
         0,
         concat({answerTo(1, a), repeated(answerTo(1, a), 17), answerTo(2, b)}),
         {S7_OK, S7_ERR_PROTOCOL, S7_ERR_NOT_CONNECTED},
         17},
    };
    for (const Case& c : cases) {
        for (const size_t piece : {size_t{1}, size_t{7}, size_t{4000}}) {
            SCOPED_TRACE(std::string(c.rule) + ", pieces of " + std::to_string(piece));
            ScriptedLink scripted{{}, c.script, piece};
            const s7_link link = scripted.link();
            s7_session* session = s7_session_new_over(&link);
            ASSERT_NE(session, nullptr);
            session->sequence = c.before;
            const Bytes body = {0x34, 0x00, 0x00, 0x00, 0x01};
            const s7_request request{body.data(), static_cast<uint32_t>(body.size()), S7_FN_READ_VARIABLES, 2};
            for (size_t i = 0; i < c.results.size(); ++i) {
                SCOPED_TRACE(i);
                s7_response response{};
                EXPECT_EQ(s7_exchange(session, &request, &response, kTimeoutMs), c.results[i]);
                if (c.results[i] == S7_OK) {
                    // The own answer: its header carries this request's number.
                    const Bytes got = asBytes(response);
                    ASSERT_EQ(got.size(), 10u);
                    EXPECT_EQ((got[7] << 8) | got[8], session->sequence);
                } else {
                    EXPECT_EQ(response.data, nullptr);
                }
                s7_response_clear(&response);
            }
            EXPECT_EQ(session->discarded_answers, c.discarded);
            s7_session_free(session);
        }
    }
}

TEST(Session, StartsAtId288AndCountsWithItsWrapRules) {
    EXPECT_EQ(s7_session_new(nullptr), nullptr);
    s7_tls_channel* channel = s7_tls_channel_new(nullptr);
    s7_session* session = s7_session_new(channel);
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->tls, channel);
    EXPECT_EQ(session->session_id, 288u);
    EXPECT_EQ(session->counter_a, 0u);
    EXPECT_EQ(session->counter_b, 0u);
    EXPECT_EQ(session->sequence, 0);

    struct Case {
        uint16_t function;
        bool counterA;
    };
    const Case cases[] = {{1226, true},  {1236, true},  {1266, true},  {1346, true},  {1404, true},
                          {1211, false}, {1356, false}, {1414, false}, {1459, false}, {0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.function);
        const uint32_t a = session->counter_a;
        const uint32_t b = session->counter_b;
        const uint32_t got = s7_session_next_counter(session, c.function);
        EXPECT_EQ(got, (c.counterA ? a : b) + 1);
        EXPECT_EQ(session->counter_a, c.counterA ? a + 1 : a);
        EXPECT_EQ(session->counter_b, c.counterA ? b : b + 1);
    }
    session->counter_a = 0xFFFFFFFF;
    EXPECT_EQ(s7_session_next_counter(session, S7_FN_CREATE_OBJECT), 0u) << "counter A after 0xFFFFFFFF";
    session->counter_b = 0xFFFFFFFE;
    EXPECT_EQ(s7_session_next_counter(session, S7_FN_READ_VARIABLES), 0xFFFFFFFFu);
    EXPECT_EQ(s7_session_next_counter(session, S7_FN_READ_VARIABLES), 0u);
    EXPECT_EQ(s7_session_next_counter(nullptr, S7_FN_READ_VARIABLES), 0u);
    s7_session_free(session);
    s7_session_free(nullptr);
    s7_tls_channel_free(channel);
}

TEST(Session, SequenceNumberAfter0xFFFFIsOneAndTheIdIsTheSessions) {
    TlsPeerOptions options;
    options.replies = {PeerReply::tls(kOkResponse), PeerReply::tls(kOkResponse)};
    TlsPeer peer(options);
    {
        Link link(peer.port());
        ASSERT_EQ(link.rc, S7_OK);
        link.session->sequence = 0xFFFE;
        link.session->session_id = 0x12345678;
        s7_response response{};
        ASSERT_EQ(link.exchange({0x34, 0, 0, 0, 0}, response), S7_OK);
        EXPECT_EQ(link.session->sequence, 0xFFFF);
        ASSERT_EQ(link.exchange({0x34, 0, 0, 0, 0}, response), S7_OK);
        EXPECT_EQ(link.session->sequence, 1);
        s7_response_clear(&response);
    }
    peer.join();
    ASSERT_EQ(peer.log().messages.size(), 2u);
    const Bytes& first = peer.log().messages[0].bytes;
    const Bytes& second = peer.log().messages[1].bytes;
    EXPECT_EQ(Bytes(first.begin() + 4, first.begin() + 17), requestHeader(S7_FN_READ_VARIABLES, 0xFFFF, 0x12345678));
    EXPECT_EQ(Bytes(second.begin() + 4, second.begin() + 17), requestHeader(S7_FN_READ_VARIABLES, 1, 0x12345678));
}

TEST(ConnectTls, StepsSixToEightAgainstGoodAndBadControllers) {
    auto with = [](auto change) {
        TlsPeerOptions o;
        change(o);
        return o;
    };
    auto replying = [&](Bytes payload) { return with([&](TlsPeerOptions& o) { o.tlsStartReply = payload; }); };
    Bytes thirty = TlsPeerOptions::okTlsStartReply();
    thirty.insert(thirty.end() - 4, 11, 0x00);
    Bytes wrongStart = TlsPeerOptions::okTlsStartReply();
    wrongStart[0] = 0x73;
    Bytes wrongFunction = TlsPeerOptions::okTlsStartReply();
    wrongFunction[8] = 0xB4;
    const Bytes cutShort = {0x72, 0x01, 0x00, 0x07, 0x32, 0x00, 0x00, 0x05, 0xB3, 0x00, 0x00};
    Bytes nonZero = TlsPeerOptions::okTlsStartReply();
    nonZero[14] = 0x05;
    // Bit 62 needs the long, 9-byte form of the return value: 27 bytes in all.
    Bytes refusal = TlsPeerOptions::okTlsStartReply();
    refusal.erase(refusal.begin() + 14);
    refusal.insert(refusal.begin() + 14, {0xA0, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00});
    struct Case {
        const char* rule;
        TlsPeerOptions options;
        uint8_t expected;
    };
    const Case cases[] = {
        {"a well-formed controller", {}, S7_OK},
        {"a return value without bit 62 is accepted", replying(nonZero), S7_OK},
        {"an expired certificate is accepted", with([](TlsPeerOptions& o) { o.expiredCertificate = true; }), S7_OK},
        {"a TLS-start reply of 30 bytes", replying(thirty), S7_ERR_PROTOCOL},
        {"a refusal (bit 62) is read whole and reported as such", replying(refusal), S7_ERR_TLS},
        {"a TLS-start reply with the wrong first byte", replying(wrongStart), S7_ERR_PROTOCOL},
        {"a TLS-start reply for another function", replying(wrongFunction), S7_ERR_PROTOCOL},
        {"a TLS-start reply cut short", replying(cutShort), S7_ERR_PROTOCOL},
        {"no TLS-start reply: the peer closes", with([](TlsPeerOptions& o) { o.closeAt = PeerStep::TlsStart; }),
         S7_ERR_PROTOCOL},
        {"no TLS-start reply: time-out", with([](TlsPeerOptions& o) { o.silentAt = PeerStep::TlsStart; }),
         S7_ERR_TIMEOUT},
        {"a TLS 1.2 server", with([](TlsPeerOptions& o) { o.tls12Only = true; }), S7_ERR_TLS},
        {"a server with other suites", with([](TlsPeerOptions& o) { o.cipherSuites = "TLS_CHACHA20_POLY1305_SHA256"; }),
         S7_ERR_TLS},
        {"the peer closes in the handshake", with([](TlsPeerOptions& o) { o.closeAt = PeerStep::Handshake; }),
         S7_ERR_TLS},
        {"a handshake that times out", with([](TlsPeerOptions& o) { o.silentAt = PeerStep::Handshake; }),
         S7_ERR_TIMEOUT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        TlsPeer peer(c.options);
        {
            vemoc_s7_client* client = vemoc_s7_client_new();
            EXPECT_EQ(vemoc_s7_client_connect(client, "127.0.0.1", peer.port(), 300), c.expected);
            if (c.expected == S7_OK) {
                ASSERT_NE(client->tls, nullptr);
                EXPECT_EQ(client->tls->established, 1);
                EXPECT_EQ(client->tls->transport, client->transport) << "the channel borrows the handle's transport";
            } else {
                EXPECT_EQ(vemoc_s7_client_get_state(client), S7_CLIENT_DISCONNECTED);
                EXPECT_EQ(client->tls, nullptr);
                EXPECT_EQ(client->transport, nullptr);
                EXPECT_EQ(client->socket->handle, s7_socket_invalid());
            }
            vemoc_s7_client_free(client);
        }
        peer.join();
        EXPECT_EQ(peer.log().tlsStartRequest, Bytes(s7_tls_start_request, s7_tls_start_request + 26));
    }
    const Bytes fixed = {0x72, 0x01, 0x00, 0x12, 0x31, 0x00, 0x00, 0x05, 0xB3, 0x00, 0x00, 0x00, 0x00,
                         0x00, 0x00, 0x00, 0x00, 0x30, 0x00, 0x00, 0x00, 0x00, 0x72, 0x01, 0x00, 0x00};
    EXPECT_EQ(Bytes(s7_tls_start_request, s7_tls_start_request + 26), fixed);
}

}  // namespace

// Every way the simulated controller misbehaves on purpose gives the client
// the result code its layers promise for it, at the step where it happens,
// and leaves a handle that connects again to a sound controller. Floods and
// trickles are seen on the wire as well, below the client's TLS channel.
#include "sim_client.h"

#include "Faults.h"

#include "s7_exchange.h"
#include "s7_iso.h"
#include "s7_object.h"
#include "s7_request.h"
#include "s7_session_setup.h"
#include "s7_tls.h"
#include "s7_tls_start.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace vemo::test;
using vemo::sim::Bytes;
using vemo::sim::Fault;
using vemo::sim::Program;
using vemo::sim::Step;
using Clock = std::chrono::steady_clock;

// Where a case expects its result: connect, or the listing, the browse of
// the first block with symbols, or the read of its first symbol after a
// successful connect.
enum class Phase { Connect, List, Browse, Read };

// Whether the failure ended the connection (the handle is disconnected
// after it) or only refused the request.
constexpr bool kLost = true;
constexpr bool kKept = false;

struct FaultCase {
    const char* fault;
    std::optional<uint64_t> arg;
    Phase phase;
    uint8_t expected;
    bool lost;
    uint32_t timeoutMs = kTimeoutMs;
};

// A stall is seen only as a time-out; keep it short.
constexpr uint32_t kStallTimeoutMs = 1000;

// Requests after the handshake, numbered as the simulator counts them for the
// built-in program (three data blocks, item limit 20): 1-3 session set-up,
// 4 limits, 5 explore of the blocks, 6 their type-info read, 7 explore of the
// type descriptions (first browse), 8 the first variable read.
constexpr uint64_t kListExplore = 5;
constexpr uint64_t kListRead = 6;
constexpr uint64_t kTypeExplore = 7;
constexpr uint64_t kVariableRead = 8;

const FaultCase kCases[] = {
    // The peer closes during connect: the transport sees it before TLS, the
    // TLS-start reply is missing, the handshake fails, and the exchanges
    // above TLS see the controller close.
    {"close-at-cr", {}, Phase::Connect, S7_ERR_TRANSPORT, kLost},
    {"close-at-tls-start", {}, Phase::Connect, S7_ERR_PROTOCOL, kLost},
    {"close-at-handshake", {}, Phase::Connect, S7_ERR_TLS, kLost},
    {"close-at-create", {}, Phase::Connect, S7_ERR_NOT_CONNECTED, kLost},
    {"close-at-set-values", {}, Phase::Connect, S7_ERR_NOT_CONNECTED, kLost},
    {"close-at-get-level", {}, Phase::Connect, S7_ERR_NOT_CONNECTED, kLost},
    {"close-at-limits", {}, Phase::Connect, S7_ERR_NOT_CONNECTED, kLost},
    {"close-at-request", kListExplore, Phase::List, S7_ERR_NOT_CONNECTED, kLost},
    {"close-at-request", kTypeExplore, Phase::Browse, S7_ERR_NOT_CONNECTED, kLost},
    {"close-at-request", kVariableRead, Phase::Read, S7_ERR_NOT_CONNECTED, kLost},
    // A peer that never answers: a time-out, in whichever step of connect
    // it falls silent.
    {"stall-at-cr", {}, Phase::Connect, S7_ERR_TIMEOUT, kLost, kStallTimeoutMs},
    {"stall-at-tls-start", {}, Phase::Connect, S7_ERR_TIMEOUT, kLost, kStallTimeoutMs},
    {"stall-at-handshake", {}, Phase::Connect, S7_ERR_TIMEOUT, kLost, kStallTimeoutMs},
    {"stall-at-create", {}, Phase::Connect, S7_ERR_TIMEOUT, kLost, kStallTimeoutMs},
    {"stall-at-set-values", {}, Phase::Connect, S7_ERR_TIMEOUT, kLost, kStallTimeoutMs},
    {"stall-at-get-level", {}, Phase::Connect, S7_ERR_TIMEOUT, kLost, kStallTimeoutMs},
    {"stall-at-limits", {}, Phase::Connect, S7_ERR_TIMEOUT, kLost, kStallTimeoutMs},
    {"stall-at-request", kVariableRead, Phase::Read, S7_ERR_TIMEOUT, kLost, kStallTimeoutMs},
    // Empty data frames where the connection confirm or the TLS-start reply
    // belongs are refused at once.
    {"flood-at-cr", {}, Phase::Connect, S7_ERR_PROTOCOL, kLost},
    {"flood-at-tls-start", {}, Phase::Connect, S7_ERR_PROTOCOL, kLost},
    // Later floods, and trickles too slow for the time-out, keep every single
    // wait short; the operation's deadline ends them as a stall there.
    {"flood-at-handshake", {}, Phase::Connect, S7_ERR_TIMEOUT, kLost, kStallTimeoutMs},
    {"flood-at-limits", {}, Phase::Connect, S7_ERR_TIMEOUT, kLost, kStallTimeoutMs},
    {"flood-at-request", kVariableRead, Phase::Read, S7_ERR_TIMEOUT, kLost, kStallTimeoutMs},
    {"trickle-at-handshake", {}, Phase::Connect, S7_ERR_TIMEOUT, kLost, kStallTimeoutMs},
    {"trickle-at-request", kTypeExplore, Phase::Browse, S7_ERR_TIMEOUT, kLost, kStallTimeoutMs},
    // A trickled answer within the time-out is slow but whole.
    {"trickle-at-request", kVariableRead, Phase::Read, S7_OK, kKept},
    // Late answers: within the time-out they are just slow; past it, the
    // first wait (the connection confirm) gives up.
    {"delay", 20, Phase::Read, S7_OK, kKept},
    {"delay", 3000, Phase::Connect, S7_ERR_TIMEOUT, kLost, 500},
    {"tls12-only", {}, Phase::Connect, S7_ERR_TLS, kLost},
    {"tls-start-error", {}, Phase::Connect, S7_ERR_TLS, kLost},
    // Session set-up and the limits read.
    {"level-signed", {}, Phase::Connect, S7_ERR_SESSION, kLost},
    {"set-values-error-entry", {}, Phase::Connect, S7_ERR_SESSION, kLost},
    {"create-incomplete", {}, Phase::Connect, S7_ERR_SESSION, kLost},
    {"limits-error", {}, Phase::Connect, S7_ERR_SESSION, kLost},
    {"limits-error-entry", {}, Phase::Connect, S7_ERR_SESSION, kLost},
    // Limits of another type or missing fall back to 16 and work
    // (the values themselves: sim_connect_test).
    {"limits-unsigned", {}, Phase::Read, S7_OK, kKept},
    {"limits-only-aux", {}, Phase::Read, S7_OK, kKept},
    // Browse.
    {"explore-error", {}, Phase::List, S7_ERR_EXPLORE, kKept},
    {"explore-error", 537, Phase::Browse, S7_ERR_EXPLORE, kKept},
    {"no-type-info-container", {}, Phase::Browse, S7_ERR_PROTOCOL, kKept},
    {"self-referencing-type", {}, Phase::Browse, S7_ERR_PROTOCOL, kKept},
    {"hostile-count", {}, Phase::Browse, S7_ERR_NO_MEMORY, kKept},
    // Its browse of the first block looks a missing type up 16 million
    // times, minutes for a client that searches the type list in order;
    // sim_browse_test walks it within a low visit cap.
    {"hostile-types", {}, Phase::List, S7_OK, kKept},
    // The listing does not look at per-item errors; a variable read does.
    {"read-error-entry", {}, Phase::Read, S7_ERR_READ, kKept},
    // The library hands out what came; the types are the application's to
    // check (below).
    {"wrong-type", {}, Phase::Read, S7_OK, kKept},
    // Reads are untouched; what it does to writes: sim_write_test.
    {"refuse-write", {}, Phase::Read, S7_OK, kKept},
    // Framing the client must refuse, during connect or later.
    {"wrong-version", {}, Phase::Connect, S7_ERR_PROTOCOL, kLost},
    {"wrong-version", kListRead, Phase::List, S7_ERR_PROTOCOL, kLost},
    {"oversized-frame", {}, Phase::Connect, S7_ERR_PROTOCOL, kLost},
    {"oversized-frame", kTypeExplore, Phase::Browse, S7_ERR_PROTOCOL, kLost},
    // Every answer twice: each request still takes its own, the copies go.
    {"double-answer", {}, Phase::Read, S7_OK, kKept},
};

std::string nameOf(const char* fault, std::optional<uint64_t> arg) {
    std::string name = fault;
    if (arg) name += "_" + std::to_string(*arg);
    for (char& c : name) {
        if (c == '-') c = '_';
    }
    return name;
}

std::string caseName(const testing::TestParamInfo<FaultCase>& info) { return nameOf(info.param.fault, info.param.arg); }

// Runs the phases up to the case's own; returns the code of the first
// failure, or of the last phase.
uint8_t runUntil(vemoc_s7_client* c, const vemo::sim::Server& server, const FaultCase& fc) {
    uint8_t rc = connectTo(c, server, fc.timeoutMs);
    if (rc != S7_OK || fc.phase == Phase::Connect) return rc;
    Blocks blocks;
    rc = vemoc_s7_client_list_datablocks(c, &blocks.list);
    if (rc != S7_OK || fc.phase == Phase::List) return rc;
    // The first block that yields symbols: with read-error-entry the first
    // one learns no type description and browses to nothing.
    for (uint32_t i = 0; i < blocks.list.count; ++i) {
        Symbols symbols;
        rc = vemoc_s7_client_browse_block(c, &blocks.list.items[i], &symbols.list);
        if (rc != S7_OK) {
            EXPECT_EQ(symbols.list.count, 0u) << "a failed browse hands out nothing";
            return rc;
        }
        if (fc.phase == Phase::Browse) return rc;
        if (symbols.list.count == 0) continue;
        const s7_item_address* item = &symbols.list.items[0].address;
        s7_value** values = nullptr;
        rc = vemoc_s7_client_read(c, &item, 1, &values);
        if (rc == S7_OK) {
            s7_value_free(values[0]);
            s7_free(values);
        }
        return rc;
    }
    ADD_FAILURE() << "no block with symbols";
    return rc;
}

class SimulatorFault : public testing::TestWithParam<FaultCase> {};

TEST_P(SimulatorFault, GivesTheClientCodeAndLeavesAReusableHandle) {
    const FaultCase& fc = GetParam();
    vemo::sim::ControllerSettings faulty;
    faulty.fault = Fault::parse(fc.fault, fc.arg);
    const auto server = startSim(Program::builtIn(), faulty);
    const Client c = newClient();

    EXPECT_EQ(runUntil(c.get(), *server, fc), fc.expected);
    EXPECT_EQ(vemoc_s7_client_get_state(c.get()), fc.lost ? S7_CLIENT_DISCONNECTED : S7_CLIENT_CONNECTED)
        << "the handle says whether the connection survived";
    EXPECT_EQ(vemoc_s7_client_get_loss(c.get()), fc.lost ? fc.expected : uint8_t{S7_OK});

    // The same handle, disconnected by its owner, serves a sound controller.
    vemoc_s7_client_disconnect(c.get());
    const auto sound = startSim(Program::builtIn());
    ASSERT_EQ(connectTo(c.get(), *sound), S7_OK);
    Blocks blocks;
    EXPECT_EQ(vemoc_s7_client_list_datablocks(c.get(), &blocks.list), S7_OK);
    EXPECT_EQ(blocks.list.count, 3u + 5u);
}

INSTANTIATE_TEST_SUITE_P(EveryFault, SimulatorFault, testing::ValuesIn(kCases), caseName);

// A controller that answers every request twice: the copy of each answer
// comes before the next request's own, which still gets its answer; the
// handle counts the copies it let go (the last one is not read yet).
TEST(SimulatorFaults, EveryAnswerTwiceIsMatchedAndTheCopiesCounted) {
    vemo::sim::ControllerSettings faulty;
    faulty.fault = Fault::parse("double-answer", std::nullopt);
    const auto server = startSim(Program::builtIn(), faulty);
    const Client c = newClient();
    const FaultCase read{"double-answer", {}, Phase::Read, S7_OK, kKept};
    ASSERT_EQ(runUntil(c.get(), *server, read), S7_OK);
    EXPECT_EQ(vemoc_s7_client_get_discarded_answers(c.get()), kVariableRead - 1);
    Blocks blocks;
    EXPECT_EQ(vemoc_s7_client_list_datablocks(c.get(), &blocks.list), S7_OK);
    EXPECT_EQ(blocks.list.count, 3u + 5u);
    EXPECT_EQ(vemoc_s7_client_get_discarded_answers(c.get()), kVariableRead + 1);
}

// ---- On the wire. A client made of the library's lower layers sends what
// reaches the step, then reads the controller's bytes as they come, where
// the TLS channel would take them in unseen.

struct WireClient {
    s7_iso_transport* iso = s7_iso_transport_new(nullptr);
    s7_tls_channel* tls = nullptr;
    s7_session* session = nullptr;
    Clock::time_point stepSent;  // when the step's message went out

    WireClient() {
        if (iso == nullptr) throw std::bad_alloc();
    }
    ~WireClient() {
        s7_session_free(session);
        s7_tls_channel_free(tls);
        s7_iso_transport_free(iso);
    }
    WireClient(const WireClient&) = delete;
    WireClient& operator=(const WireClient&) = delete;

    int fd() const { return iso->socket->handle; }
};

// A ClientHello from a TLS engine of the test's own, so that no engine of
// the client reads what the controller sends back.
Bytes clientHello() {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL* ssl = ctx != nullptr ? SSL_new(ctx) : nullptr;
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    Bytes hello;
    if (ssl != nullptr && in != nullptr && out != nullptr) {
        SSL_set_bio(ssl, in, out);  // both are the engine's now
        in = nullptr;
        out = nullptr;
        SSL_set_connect_state(ssl);
        SSL_do_handshake(ssl);  // writes the hello, then waits for an answer
        BIO* written = SSL_get_wbio(ssl);
        hello.resize(BIO_ctrl_pending(written));
        if (!hello.empty() && BIO_read(written, hello.data(), static_cast<int>(hello.size())) <= 0) hello.clear();
    }
    BIO_free(in);
    BIO_free(out);
    SSL_free(ssl);
    SSL_CTX_free(ctx);
    return hello;
}

// Creates the session as connect does, with the least object the
// controller takes; the session id it hands out goes into every later
// request.
void createSession(WireClient& c) {
    s7_object* object = s7_object_new(S7_SESSION_OBJECT_ID, S7_SESSION_CLASS, 0);
    s7_value* target = s7_value_new_u32(0);
    const s7_create_request request{S7_SESSION_CREATE_TARGET, target, object};
    s7_create_result created{};
    const s7_status rc = object != nullptr && target != nullptr
                             ? s7_create_object(c.session, &request, S7_FRAME_VERSION_1, false, kTimeoutMs, &created)
                             : S7_STATUS_NO_MEMORY;
    if (rc == S7_STATUS_OK && created.object_id_count > 0) c.session->session_id = created.object_ids[0];
    s7_create_result_free(&created);
    s7_value_free(target);
    s7_object_free(object);
    ASSERT_EQ(rc, S7_STATUS_OK);
    ASSERT_NE(c.session->session_id, uint32_t{S7_SESSION_INITIAL_ID});
}

// The request that is `step` to the controller, framed as the client frames
// it. The controller tells the set-up steps by function code and the level
// and limits reads by what they read; the other bodies need not make sense,
// as only the answer's delivery is looked at.
Bytes stepMessage(const WireClient& c, Step step) {
    uint16_t function = S7_FN_EXPLORE;
    uint8_t version = S7_FRAME_VERSION_2;
    Bytes body = {0x00};
    s7_body built{};
    if (step == Step::Create) {
        function = S7_FN_CREATE_OBJECT;
        version = S7_FRAME_VERSION_1;
    } else if (step == Step::SetValues) {
        function = S7_FN_SET_VALUES;
    } else if (step == Step::GetLevel) {
        function = S7_FN_GET_ATTRIBUTE;
        s7_build_get_attribute_request(c.session->session_id, S7_SESSION_LEVEL_ATTRIBUTE, true, 1, &built);
    } else if (step == Step::Limits) {
        function = S7_FN_READ_VARIABLES;
        uint32_t path = S7_LIMIT_READ_ITEMS;
        const s7_item_address limit{S7_LIMITS_OBJECT, S7_LIMITS_ATTRIBUTE, &path, 1};
        const s7_item_address* items = &limit;
        s7_build_read_request(&items, 1, true, 1, &built);
    }
    if (built.data != nullptr) body.assign(built.data, built.data + built.length);
    s7_body_free(&built);

    Bytes data;
    vemo::sim::Writer d(data);
    d.u8(S7_MARKER_REQUEST);
    d.u16(0);
    d.u16(function);
    d.u16(0);
    d.u16(static_cast<uint16_t>(c.session->sequence + 1));
    d.u32(c.session->session_id);
    d.bytes(body.data(), body.size());
    Bytes message;
    vemo::sim::Writer m(message);
    m.u8(S7_FRAME_START);
    m.u8(version);
    m.u16(static_cast<uint16_t>(data.size()));
    m.bytes(data.data(), data.size());
    m.u8(S7_FRAME_START);
    m.u8(version);
    m.u16(0);
    return message;
}

// Connects and sends everything up to and including the message that is
// `step` to the controller; reads only the answers before it.
void sendStep(WireClient& c, uint16_t port, Step step) {
    if (step == Step::ConnectRequest) {
        ASSERT_EQ(s7_socket_connect(c.iso->socket, "127.0.0.1", port, kTimeoutMs), S7_STATUS_OK);
        c.stepSent = Clock::now();
        ASSERT_EQ(s7_socket_send_all(c.iso->socket, s7_iso_connect_request, sizeof s7_iso_connect_request, kTimeoutMs),
                  S7_STATUS_OK);
        return;
    }
    ASSERT_EQ(s7_iso_connect(c.iso, "127.0.0.1", port, kTimeoutMs), S7_STATUS_OK);
    if (step == Step::TlsStart) {
        c.stepSent = Clock::now();
        ASSERT_EQ(s7_iso_write_frame(c.iso, s7_tls_start_request, sizeof s7_tls_start_request, kTimeoutMs),
                  S7_STATUS_OK);
        return;
    }
    s7_tls_start_result started{};
    ASSERT_EQ(s7_tls_start(c.iso, kTimeoutMs, &started), S7_STATUS_OK);
    if (step == Step::Handshake) {
        const Bytes hello = clientHello();
        ASSERT_FALSE(hello.empty());
        c.stepSent = Clock::now();
        ASSERT_EQ(s7_iso_write_frame(c.iso, hello.data(), static_cast<uint32_t>(hello.size()), kTimeoutMs),
                  S7_STATUS_OK);
        return;
    }
    c.tls = s7_tls_channel_new(c.iso);
    ASSERT_NE(c.tls, nullptr);
    ASSERT_EQ(s7_tls_handshake(c.tls, kTimeoutMs), S7_STATUS_OK);
    c.session = s7_session_new(c.tls);
    ASSERT_NE(c.session, nullptr);
    // One exchange is answered in full first: the session tickets the TLS
    // server sends after its handshake come in before that answer, so that
    // only the step's answer follows. It creates the session, or for the
    // create step itself reads the limits.
    if (step == Step::Create) {
        uint32_t items = 0;
        uint32_t aux = 0;
        ASSERT_EQ(s7_read_limits(c.session, kTimeoutMs, &items, &aux), S7_STATUS_OK);
    } else {
        ASSERT_NO_FATAL_FAILURE(createSession(c));
    }
    const Bytes message = stepMessage(c, step);
    c.stepSent = Clock::now();
    ASSERT_EQ(s7_tls_write(c.tls, message.data(), static_cast<uint32_t>(message.size()), kTimeoutMs), S7_STATUS_OK);
}

struct WireCase {
    const char* fault;
    std::optional<uint64_t> arg;
};

void PrintTo(const WireCase& wc, std::ostream* os) { *os << nameOf(wc.fault, wc.arg); }

template <typename Case>
std::string wireCaseName(const testing::TestParamInfo<Case>& info) {
    return nameOf(info.param.fault, info.param.arg);
}

std::unique_ptr<vemo::sim::Server> startFaulty(const WireCase& wc) {
    vemo::sim::ControllerSettings faulty;
    faulty.fault = Fault::parse(wc.fault, wc.arg);
    return startSim(Program::builtIn(), faulty);
}

// Request 1 (the create object) is answered; the flood or trickle begins
// with request 2.
constexpr uint64_t kSecondRequest = 2;

const WireCase kFloodCases[] = {
    {"flood-at-cr", {}},     {"flood-at-tls-start", {}},           {"flood-at-handshake", {}},
    {"flood-at-create", {}}, {"flood-at-set-values", {}},          {"flood-at-get-level", {}},
    {"flood-at-limits", {}}, {"flood-at-request", kSecondRequest},
};

class SimulatorFlood : public testing::TestWithParam<WireCase> {};

TEST_P(SimulatorFlood, SendsOnlyEmptyDataFramesInPlaceOfTheAnswerUntilTheClientCloses) {
    const auto server = startFaulty(GetParam());
    WireClient c;
    ASSERT_NO_FATAL_FAILURE(sendStep(c, server->port(), Fault::parse(GetParam().fault, GetParam().arg).step));

    // A frame read whole with a payload of 0 bytes is exactly
    // 03 00 00 07 02 F0 80; a confirm or a TLS record fails the read or the
    // length.
    constexpr int kFrames = 3;
    for (int i = 0; i < kFrames; ++i) {
        uint8_t payload[S7_TLS_RECEIVE_CAPACITY];
        uint32_t length = 0xFFFF;
        ASSERT_EQ(s7_iso_read_frame(c.iso, payload, sizeof payload, &length, kTimeoutMs), S7_STATUS_OK)
            << "frame " << i;
        EXPECT_EQ(length, 0u) << "frame " << i;
    }
    EXPECT_GE(Clock::now() - c.stepSent, (kFrames - 1) * vemo::sim::kFloodInterval / 2) << "a flood, not a burst";

    // The client's close ends it.
    s7_socket_close(c.iso->socket);
    EXPECT_TRUE(eventually([&] { return server->connectionsOpen() == 0; }));
}

INSTANTIATE_TEST_SUITE_P(EveryStep, SimulatorFlood, testing::ValuesIn(kFloodCases), wireCaseName<WireCase>);

// The first bytes a trickle sends: TPKT and COTP header of the first frame
// and the start of what it carries; kAny where they vary.
constexpr int kAny = -1;
const std::vector<int> kConfirm = {0x03, 0x00, 0x00, 0x0B, 0x06, 0xD0, 0x00, 0x01, 0x00, 0x01, 0x00};
// The whole frame is 26 bytes, its frame of the protocol 11 data bytes,
// the first of them the response marker.
const std::vector<int> kTlsStartReply = {0x03, 0x00, 0x00, 0x1A, 0x02, 0xF0, 0x80, 0x72, 0x01, 0x00, 0x0B, 0x32};
const std::vector<int> kHandshakeRecord = {0x03, 0x00, kAny, kAny, 0x02, 0xF0, 0x80, 0x16, 0x03, 0x03, kAny, kAny};
const std::vector<int> kDataRecord = {0x03, 0x00, kAny, kAny, 0x02, 0xF0, 0x80, 0x17, 0x03, 0x03, kAny, kAny};

struct TrickleCase : WireCase {
    const std::vector<int>* firstBytes;
};

const TrickleCase kTrickleCases[] = {
    {{"trickle-at-cr", {}}, &kConfirm},
    {{"trickle-at-tls-start", {}}, &kTlsStartReply},
    {{"trickle-at-handshake", {}}, &kHandshakeRecord},
    {{"trickle-at-create", {}}, &kDataRecord},
    {{"trickle-at-set-values", {}}, &kDataRecord},
    {{"trickle-at-get-level", {}}, &kDataRecord},
    {{"trickle-at-limits", {}}, &kDataRecord},
    {{"trickle-at-request", kSecondRequest}, &kDataRecord},
};

void PrintTo(const TrickleCase& tc, std::ostream* os) { *os << nameOf(tc.fault, tc.arg); }

class SimulatorTrickle : public testing::TestWithParam<TrickleCase> {};

TEST_P(SimulatorTrickle, SendsTheAnswerOneByteAtATimeAnIntervalApart) {
    const TrickleCase& tc = GetParam();
    const auto server = startFaulty(tc);
    WireClient c;
    ASSERT_NO_FATAL_FAILURE(sendStep(c, server->port(), Fault::parse(tc.fault, tc.arg).step));

    const std::vector<int>& expected = *tc.firstBytes;
    Bytes got;
    size_t reads = 0;
    while (got.size() < expected.size()) {
        pollfd p{c.fd(), POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, static_cast<int>(kTimeoutMs)), 1) << "after " << got.size() << " bytes";
        uint8_t buffer[64];
        const ssize_t n = ::recv(c.fd(), buffer, expected.size() - got.size(), 0);
        ASSERT_GT(n, 0) << "after " << got.size() << " bytes";
        got.insert(got.end(), buffer, buffer + n);
        ++reads;
    }
    const auto elapsed = Clock::now() - c.stepSent;
    for (size_t i = 0; i < expected.size(); ++i) {
        if (expected[i] != kAny) {
            EXPECT_EQ(got[i], expected[i]) << "byte " << i;
        }
    }
    if (expected[7] == 0x16 || expected[7] == 0x17) {
        const size_t frame = size_t{got[2]} << 8 | got[3];
        const size_t record = size_t{got[10]} << 8 | got[11];
        EXPECT_EQ(frame, S7_ISO_HEADER_SIZE + 5 + record) << "one whole TLS record per frame";
    }
    // One byte per read; a reader held up for a while may find two waiting.
    EXPECT_GE(reads, expected.size() / 2);
    EXPECT_GE(elapsed, (expected.size() - 1) * vemo::sim::kTrickleInterval / 2);
}

INSTANTIATE_TEST_SUITE_P(EveryStep, SimulatorTrickle, testing::ValuesIn(kTrickleCases), wireCaseName<TrickleCase>);

// Neither an endless flood nor a long trickle holds up a stop while the
// client keeps its end open: stop() returns, and the stream ends long before
// a trickled handshake would have been sent whole.
TEST(SimulatorWire, AStopEndsAFloodOrATrickleUnderAClientThatHoldsOn) {
    for (const char* fault : {"flood-at-handshake", "trickle-at-handshake"}) {
        SCOPED_TRACE(fault);
        const auto server = startFaulty({fault, {}});
        WireClient c;
        ASSERT_NO_FATAL_FAILURE(sendStep(c, server->port(), Step::Handshake));
        pollfd p{c.fd(), POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, static_cast<int>(kTimeoutMs)), 1) << "the fault has begun";

        server->stop();
        size_t rest = 0;
        for (;;) {
            uint8_t buffer[4096];
            ASSERT_EQ(::poll(&p, 1, static_cast<int>(kTimeoutMs)), 1);
            const ssize_t n = ::recv(c.fd(), buffer, sizeof buffer, 0);
            if (n <= 0) break;
            rest += static_cast<size_t>(n);
        }
        // A ServerHello frame alone is some 100 bytes; the flood's frames are 7.
        EXPECT_LT(rest, 50u);
    }
}

// Every variable of the built-in machine - each data type, in blocks and
// areas - reads as a value whose type is not the one its data type travels
// as; the same reads from a sound controller are.
TEST(SimulatorFaults, WrongTypeAnswersEveryVariableWithAValueOfAnotherType) {
    for (const bool faulty : {false, true}) {
        SCOPED_TRACE(faulty ? "wrong-type" : "sound");
        vemo::sim::ControllerSettings settings;
        if (faulty) settings.fault = Fault::parse("wrong-type", std::nullopt);
        const auto server = startSim(Program::builtIn(), settings);
        const Client c = newClient();
        ASSERT_EQ(connectTo(c.get(), *server), S7_OK);
        Blocks blocks;
        ASSERT_EQ(vemoc_s7_client_list_datablocks(c.get(), &blocks.list), S7_OK);
        std::set<uint8_t> datatypes;
        for (uint32_t b = 0; b < blocks.list.count; ++b) {
            Symbols symbols;
            ASSERT_EQ(vemoc_s7_client_browse_block(c.get(), &blocks.list.items[b], &symbols.list), S7_OK);
            std::vector<const s7_item_address*> items;
            for (uint32_t i = 0; i < symbols.list.count; ++i) items.push_back(&symbols.list.items[i].address);
            std::vector<vemo::sim::ValuePtr> values;
            ASSERT_EQ(readAll(c.get(), items, values), S7_OK);
            for (uint32_t i = 0; i < symbols.list.count; ++i) {
                const s7_symbol& s = symbols.list.items[i];
                SCOPED_TRACE(s.name);
                datatypes.insert(s.datatype);
                // STRING travels as an array of bytes, every other type as one value.
                const vemo::sim::DataType* dt = vemo::sim::findDataType(s.datatype);
                ASSERT_NE(dt, nullptr);
                const bool fits = s7_value_type(values[i].get()) == dt->wireType &&
                                  s7_value_is_array(values[i].get()) == (s.datatype == S7_DATATYPE_STRING);
                EXPECT_EQ(fits, !faulty);
            }
        }
        EXPECT_GE(datatypes.size(), 8u) << "BOOLs, numbers and texts";
        EXPECT_TRUE(datatypes.count(S7_DATATYPE_BOOL) == 1 && datatypes.count(S7_DATATYPE_STRING) == 1);
    }
}

TEST(SimulatorFaults, EveryFaultTheSimulatorOffersIsCovered) {
    std::set<std::string> covered;
    for (const FaultCase& fc : kCases) covered.insert(fc.fault);
    for (const WireCase& wc : kFloodCases) covered.insert(wc.fault);
    for (const TrickleCase& tc : kTrickleCases) covered.insert(tc.fault);
    for (const vemo::sim::FaultInfo& f : vemo::sim::faultTable()) {
        EXPECT_TRUE(covered.count(f.name) == 1) << f.name << " has no case";
    }
}

TEST(SimulatorFaults, NamesAndArgumentsAreChecked) {
    EXPECT_THROW(Fault::parse("close-at-nowhere", std::nullopt), std::invalid_argument);
    EXPECT_THROW(Fault::parse("delay", std::nullopt), std::invalid_argument) << "a delay needs its length";
    EXPECT_THROW(Fault::parse("hostile-count", uint64_t{1} << 32), std::invalid_argument)
        << "an element count has 32 bits";
    EXPECT_EQ(Fault::parse("hostile-count", std::nullopt).arg, 0xFFFFFFFFu);
    EXPECT_EQ(Fault::parse("hostile-types", std::nullopt).arg, 1000u);
    EXPECT_EQ(Fault::parse("hostile-types", 100000).arg, 100000u);
    EXPECT_THROW(Fault::parse("hostile-types", 100001), std::invalid_argument) << "the answer stays some MB";

    // Floods and trickles take the steps of close-at and stall-at; at
    // `request` the argument is the request's number, 1 without one.
    EXPECT_THROW(Fault::parse("flood-at-nowhere", std::nullopt), std::invalid_argument);
    EXPECT_THROW(Fault::parse("trickle-at-", std::nullopt), std::invalid_argument);
    struct Parsed {
        const char* name;
        std::optional<uint64_t> arg;
        Step step;
        uint64_t request;  // the request number the fault acts at (Step::Request)
    };
    const Parsed parsed[] = {
        {"flood-at-handshake", std::nullopt, Step::Handshake, 0},
        {"flood-at-limits", std::nullopt, Step::Limits, 0},
        {"flood-at-request", std::nullopt, Step::Request, 1},
        {"trickle-at-cr", std::nullopt, Step::ConnectRequest, 0},
        {"trickle-at-request", 7, Step::Request, 7},
    };
    for (const Parsed& p : parsed) {
        SCOPED_TRACE(p.name);
        const Fault f = Fault::parse(p.name, p.arg);
        const bool flood = std::string(p.name).rfind("flood", 0) == 0;
        const auto actsAt = [&](Step s, uint64_t request) {
            return flood ? f.floodsAt(s, request) : f.tricklesFrom(s, request);
        };
        EXPECT_TRUE(actsAt(p.step, p.request));
        EXPECT_FALSE(flood ? f.tricklesFrom(p.step, p.request) : f.floodsAt(p.step, p.request));
        EXPECT_FALSE(f.closesAt(p.step, p.request) || f.stallsAt(p.step, p.request));
        EXPECT_FALSE(actsAt(p.step == Step::Create ? Step::SetValues : Step::Create, 0)) << "another step";
        if (p.step == Step::Request) {
            EXPECT_FALSE(actsAt(Step::Request, p.request + 1)) << "another request";
        }
    }
}

}  // namespace

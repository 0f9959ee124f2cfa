// The receive path of the exchange, from the TCP stream to the response:
// ISO frames read off a peer that sends the input, served record by record
// as the TLS channel serves them to its engine, and reassembled from 0x72
// frames into responses by s7_exchange, request after request.
//
// The seam is the session's link. Its read stands in for s7_tls_read with
// a cipher that leaves the bytes as they are: the data frames' payloads are
// the records' plaintext, handed over through the channel's own frame
// callback (s7_tls_bio_recv) the way the engine gets them, at most one
// record per read. Everything below the cipher (socket, TPKT/COTP, empty
// frames, a record cut short) and above it (frames, trailers, limits)
// runs as on a connection. Encrypted records could not be steered by a
// fuzzer; the engine that decrypts them is not ours to test.
//
// Input: the first byte's bit 0 picks the frame version (2 when set), bit 1
// whether the peer closes after its last byte (set) or falls silent. The
// rest is the stream the controller sends: TPKT/COTP data frames whose
// payloads are records, so the input decides both the bytes and where
// records and frames cut them. Every outcome is checked against a model of
// the framing over the bytes the reads handed over.
#include "scripted_peer.h"

#include "s7_exchange.h"
#include "s7_tls.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int kExchanges = 8;

// The stand-in for the engine over a channel that was never handshaken:
// only the frame callback's fields are used.
struct PlainChannel {
    s7_tls_channel* channel;
    std::vector<uint8_t> handed;  // every byte the reads handed over, in order
    size_t lastRead = 0;

    static s7_status write(void*, const uint8_t*, uint32_t, uint32_t) { return S7_STATUS_OK; }

    // s7_tls_read's loop with the engine's record layer left out.
    static s7_status read(void* context, uint8_t* buffer, uint32_t capacity, int32_t* count, uint32_t) {
        auto* self = static_cast<PlainChannel*>(context);
        s7_tls_channel* ch = self->channel;
        *count = 0;
        // The peer has sent all it ever will: waiting would find nothing more.
        ch->timeout_ms = 0;
        for (;;) {
            ch->io_status = S7_STATUS_OK;
            const int n = s7_tls_bio_recv(ch, buffer, capacity);
            if (n > 0) {
                if (static_cast<uint32_t>(n) > capacity) {
                    std::abort();
                }
                self->handed.insert(self->handed.end(), buffer, buffer + n);
                self->lastRead = static_cast<size_t>(n);
                *count = n;
                return S7_STATUS_OK;
            }
            if (n == 0) {
                return S7_STATUS_NOT_CONNECTED;
            }
            if (n != S7_TLS_IO_WANT_READ) {
                return ch->io_status == S7_STATUS_NO_MEMORY ? S7_STATUS_NO_MEMORY : S7_STATUS_TLS;
            }
            if (ch->io_status == S7_STATUS_TIMEOUT) {
                return S7_STATUS_TIMEOUT;
            }
        }
    }
};

enum class Outcome { Complete, Incomplete, Malformed };

// The answers of one exchange, for request `sequence`, over bytes [from, to):
// messages of frames - 0x72, version, u16 length of at most 1974, the data,
// and the next frame's head; a head of length 0 after a frame is the
// trailer. Every head of a message has its first one's version, 1 or 2.
// The sequence number at data bytes 7-8 of a message picks it: the
// request's own (which must have the request's version) ends the exchange;
// one of the 64 before it is let go, 16 times at most; any other is
// malformed. A message of fewer than 9 data bytes counts as the request's
// own. `data` gets the own answer's data, `end` the position behind its
// trailer.
Outcome model(const std::vector<uint8_t>& s, size_t from, size_t to, uint8_t version, uint16_t sequence,
              std::vector<uint8_t>& data, size_t& end) {
    size_t pos = from;
    uint32_t frames = 0;
    uint32_t stale = 0;
    bool earlier = false;
    uint8_t messageVersion = 0;  // set by a message's first frame
    data.clear();
    for (;;) {
        if (to - pos < S7_FRAME_HEAD_SIZE) {
            return Outcome::Incomplete;
        }
        const uint32_t len = (uint32_t{s[pos + 2]} << 8) | s[pos + 3];
        const uint8_t v = s[pos + 1];
        if (s[pos] != S7_FRAME_START || (v != S7_FRAME_VERSION_1 && v != S7_FRAME_VERSION_2) ||
            (messageVersion != 0 && v != messageVersion) || len > S7_FRAME_MAX_RECEIVE_DATA) {
            return Outcome::Malformed;
        }
        messageVersion = v;
        if (to - pos < S7_FRAME_HEAD_SIZE + len + S7_FRAME_TRAILER_SIZE) {
            return Outcome::Incomplete;
        }
        const size_t next = pos + S7_FRAME_HEAD_SIZE + len;
        const uint32_t maxFrames = earlier ? S7_RESPONSE_MAX_DISCARD_FRAMES : S7_RESPONSE_MAX_FRAMES;
        if (s[next] != S7_FRAME_START || s[next + 1] != messageVersion || frames == maxFrames) {
            return Outcome::Malformed;
        }
        ++frames;
        const size_t before = data.size();
        data.insert(data.end(), s.begin() + static_cast<std::ptrdiff_t>(pos + S7_FRAME_HEAD_SIZE),
                    s.begin() + static_cast<std::ptrdiff_t>(next));
        if (before < S7_RESPONSE_HEADER_SIZE && data.size() >= S7_RESPONSE_HEADER_SIZE) {
            const auto got = static_cast<uint16_t>((data[7] << 8) | data[8]);
            // No wrap within the few exchanges of an input: the window is
            // the 64 numbers below, down to 1.
            earlier = got != sequence && got != 0 && got < sequence && sequence - got <= S7_SEQUENCE_WINDOW;
            if ((got != sequence && !earlier) || (got == sequence && messageVersion != version)) {
                return Outcome::Malformed;
            }
        }
        pos = next;
        if (s[next + 2] == 0 && s[next + 3] == 0) {
            pos = next + S7_FRAME_TRAILER_SIZE;
            if (!earlier) {
                if (messageVersion != version) {
                    return Outcome::Malformed;
                }
                end = pos;
                return Outcome::Complete;
            }
            if (++stale > S7_EXCHANGE_MAX_STALE) {
                return Outcome::Malformed;
            }
            earlier = false;
            messageVersion = 0;
            frames = 0;
            data.clear();
        }
    }
}

// Checks the exchange against the model; `from` is where its answers start
// (behind the last answer taken: bytes read past it stay for this one) and
// moves behind this exchange's answer.
void check(const PlainChannel& plain, size_t& from, uint8_t version, uint16_t sequence, s7_status rc,
           const s7_response& response) {
    std::vector<uint8_t> data;
    size_t end = 0;
    const size_t to = plain.handed.size();
    const Outcome o = model(plain.handed, from, to, version, sequence, data, end);
    bool right = false;
    switch (rc) {
    case S7_STATUS_OK:
        // Complete, and only just: the trailer came with the last read, or
        // with bytes an earlier exchange read past its answer.
        right = o == Outcome::Complete && (plain.lastRead == 0 || end > to - plain.lastRead) &&
                response.length == data.size() &&
                (data.empty() ? response.data == nullptr : std::memcmp(response.data, data.data(), data.size()) == 0);
        from = end;
        break;
    case S7_STATUS_PROTOCOL: right = o == Outcome::Malformed; break;
    // The stream ended, stalled or broke below the frames: nothing wrong
    // with the frames so far, and no whole response among them.
    case S7_STATUS_TIMEOUT:
    case S7_STATUS_NOT_CONNECTED:
    case S7_STATUS_TLS: right = o == Outcome::Incomplete; break;
    default: break;
    }
    if (!right || (rc != S7_STATUS_OK && (response.data != nullptr || response.length != 0))) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const uint8_t version = (data[0] & 1) != 0 ? S7_FRAME_VERSION_2 : S7_FRAME_VERSION_1;
    const bool closeAfter = (data[0] & 2) != 0;
    ScriptedPeer peer(data + 1, size - 1, closeAfter);
    s7_iso_transport* transport = s7_iso_transport_new(peer.slot());
    auto channel = std::make_unique<s7_tls_channel>();
    if (peer.slot() == nullptr || transport == nullptr) {
        std::abort();
    }
    channel->transport = transport;
    PlainChannel plain{channel.get(), {}};
    const s7_link link{PlainChannel::write, PlainChannel::read, &plain, peer.slot()};
    s7_session* session = s7_session_new_over(&link);
    if (session == nullptr) {
        std::abort();
    }
    const uint8_t body[] = {0x34, 0x00, 0x00, 0x00, 0x00};
    const s7_request request{body, sizeof body, S7_FN_READ_VARIABLES, version};
    s7_response response{};
    size_t from = 0;
    for (int i = 0; i < kExchanges; ++i) {
        plain.lastRead = 0;
        const s7_status rc = s7_exchange(session, &request, &response, 60000);
        check(plain, from, version, session->sequence, rc, response);
        if (rc != S7_STATUS_OK) {
            break;
        }
    }
    s7_response_clear(&response);
    s7_session_free(session);
    s7_iso_transport_free(transport);
    return 0;
}

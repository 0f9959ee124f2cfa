// Feeds the input to the simulator as the plaintext a client's TLS channel
// delivers: each complete request message is taken apart and answered by
// one session over the built-in machine, as a connection of the server
// does, until the framing breaks or a message is no request (where the
// server ends the connection). Whatever a client sends, every message gets
// an answer under the response header - an error code in its body at
// worst - and no exception, which would end the connection over a fault of
// the simulator's own.
#include "Controller.h"
#include "Program.h"
#include "Server.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

using vemo::sim::Bytes;

// The session id the server's first connection hands out: the recorded
// sessions of the seed corpus use it after their create request.
constexpr uint32_t kSessionId = 0x380;

void checkAnswers(const vemo::sim::Request& request, const Bytes& response) {
    // The response header echoes the function and the sequence number, and
    // a body follows it.
    if (response.size() < 10 || response[0] != S7_MARKER_RESPONSE || response[3] != (request.function >> 8) ||
        response[4] != (request.function & 0xFF) || response[7] != (request.sequence >> 8) ||
        response[8] != (request.sequence & 0xFF)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const vemo::sim::Program program = vemo::sim::Program::builtIn();
    // A model of its own for every input: what one input writes must not
    // change what the next one reads.
    const vemo::sim::Model model(program, {});
    vemo::sim::Session session(model, kSessionId, [] { return int64_t{1234567}; });
    Bytes plain(data, data + size);
    for (;;) {
        const size_t end = vemo::sim::completeRequestMessage(plain);
        if (end == 0 || end == SIZE_MAX) {
            return 0;
        }
        if (end > plain.size()) {
            std::abort();
        }
        const Bytes message(plain.begin(), plain.begin() + static_cast<long>(end));
        plain.erase(plain.begin(), plain.begin() + static_cast<long>(end));
        const auto request = vemo::sim::parseRequestMessage(message);
        if (!request) {
            return 0;
        }
        session.stepOf(*request);
        checkAnswers(*request, session.respond(*request));
    }
}

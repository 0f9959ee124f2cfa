// The library's result codes in words for the engineer at the machine: what
// happened, and what to check. s7_result_name stays the name for log lines;
// these texts are what the program shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "vemo/core/PlcConnection.h"

namespace vemo {

struct FailureWords {
    std::string what;   // lower case, no full stop: "no answer within 10 s"
    std::string check;  // a sentence or two; empty when there is nothing to check
};

// Where and how a failure happened, so that its words fit it.
struct FailureContext {
    // The time-out the failed call ran with (a time-out's words name it).
    std::uint32_t timeoutMs = PlcConnection::kConnectTimeoutMs;
    // The port it used; 0 when there is none to name.
    std::uint16_t port = 0;
    // The connect step it failed in (S7_STEP_*); S7_STEP_DONE for a call on
    // a connection that stood; S7_STEP_NONE when not known.
    std::uint8_t step = S7_STEP_NONE;
    // It failed while the program's blocks were browsed.
    bool browsing = false;
};

// Words for a result code other than S7_OK.
FailureWords describeFailure(std::uint8_t code, const FailureContext& context);
// The same, knowing only the time-out.
FailureWords describeFailure(std::uint8_t code, std::uint32_t timeoutMs);

// Words for a block whose browse failed with `code`: the codes a browse
// gives for the block itself (a description too large to take, or one that
// cannot be understood) in its words, the others as describeFailure's.
FailureWords describeBrowseFailure(std::uint8_t code, std::uint32_t timeoutMs);

// Words for a failed connect: those of the cause the library found
// (vemoc_s7_client_get_connect_cause: S7_CAUSE_* and the system's number
// behind it) when there is one, else describeFailure's for the code.
FailureWords describeConnectFailure(std::uint8_t code, std::uint8_t cause, int systemError, std::uint32_t timeoutMs);
// The same, with the port and step the connect used and failed in.
FailureWords describeConnectFailure(std::uint8_t code, std::uint8_t cause, int systemError,
                                    const FailureContext& context);

// What the program says about a connection that is not simply up or down:
// a short line for the top bar, and a message for the whole width of the
// window (its first line what happened, its second what to check). All
// empty when there is nothing to say.
struct ConnectionMessage {
    std::string detail;
    std::string headline;
    std::string advice;
};

// For a status as PlcConnection::status() gives it, at `now`.
ConnectionMessage describeConnection(const ConnectionStatus& status, SteadyTime now);

// A connect's step in a few words: "TLS handshake".
std::string connectStepText(std::uint8_t step);

// "not answering (3 s)": what the status says of a call on the connection
// that began at `since` once it has waited more than
// PlcConnection::kNotAnsweringAfter at `now`; empty before.
std::string notAnsweringText(SteadyTime since, SteadyTime now);

// The top bar's second line while a connect runs: the step it is in, since
// `since` - "TLS handshake…", and "TLS handshake: not answering (12 s)" once
// the controller has kept it waiting.
std::string connectingText(std::uint8_t step, SteadyTime since, SteadyTime now);

// When notAnsweringText for a wait that began at `since` next changes,
// after `now`: when it first shows, then at every whole second.
SteadyTime nextNotAnsweringChange(SteadyTime since, SteadyTime now);

// What the tree says when listing the blocks of the controller at `address`
// ended with `code`: a listing the operator cut short by disconnecting
// (`byOperator`) is not blamed on the controller.
std::string listingFailedText(std::uint8_t code, const std::string& address, std::uint16_t port, bool byOperator);

// One log line for the blocks of a load whose browse failed: how many of
// `total`, and the first one's name and words ("Browsing 600 of 600 blocks
// failed; the first, DB1: ..."). Empty when none failed.
std::string browseFailuresText(std::size_t failed, std::size_t total, const std::string& firstName,
                               std::uint8_t firstCode, std::uint16_t port);

// What the program says about the controller's identity while a connection
// stands: a new controller whose key was stored, one whose key changed (the
// connection is held), and one that could not be verified. Empty for a
// known controller, for none checked and while no connection stands.
ConnectionMessage describeTrust(const ConnectionStatus& status);

// An address and port as the program writes them: "192.168.0.1:102",
// an IPv6 address in brackets ("[fe80::1]:102").
std::string addressText(const std::string& host, std::uint16_t port);

// A time of the store of known controllers as people read it:
// "2026-12-10 08:00:00 UTC".
std::string seenText(WallTime time);

// When the status next changes by the clock alone, after `now`: while a lost
// connection waits for its next attempt, the next whole second of the
// countdown describeConnection shows, and last the moment the attempt falls
// due (PlcConnection::reconnectDue). nullopt otherwise: then only the
// connection itself changes the status.
std::optional<SteadyTime> nextTimedChange(const ConnectionStatus& status, SteadyTime now);

}  // namespace vemo

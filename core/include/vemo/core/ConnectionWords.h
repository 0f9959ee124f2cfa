// The library's result codes in words for the engineer at the machine: what
// happened, and what to check. s7_result_name stays the name for log lines;
// these texts are what the program shows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "vemo/core/PlcConnection.h"

namespace vemo {

struct FailureWords {
    std::string what;   // lower case, no full stop: "no answer within 10 s"
    std::string check;  // a sentence or two; empty when there is nothing to check
};

// Words for a result code other than S7_OK; `timeoutMs` is the time-out the
// failed call ran with (a time-out's words name it).
FailureWords describeFailure(std::uint8_t code, std::uint32_t timeoutMs);

// Words for a block whose browse failed with `code`: the codes a browse
// gives for the block itself (a description too large to take, or one that
// cannot be understood) in its words, the others as describeFailure's.
FailureWords describeBrowseFailure(std::uint8_t code, std::uint32_t timeoutMs);

// Words for a failed connect: those of the cause the library found
// (vemoc_s7_client_get_connect_cause: S7_CAUSE_* and the system's number
// behind it) when there is one, else describeFailure's for the code.
FailureWords describeConnectFailure(std::uint8_t code, std::uint8_t cause, int systemError, std::uint32_t timeoutMs);

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

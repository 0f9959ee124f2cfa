// The ways the simulated controller can misbehave on purpose, so that tests
// (and users) can see what the client makes of a controller that closes,
// stalls, floods the connection with empty frames, trickles its bytes,
// refuses or sends something malformed. One fault per simulator.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vemo::sim {

// The steps of a connection as the controller sees them: what it received.
enum class Step {
    ConnectRequest,  // the COTP connection request
    TlsStart,        // the clear-text TLS-start request
    Handshake,       // the TLS ClientHello
    Create,          // session set-up: create object
    SetValues,       // session set-up: set values
    GetLevel,        // session set-up: get attribute 1842
    Limits,          // the limits read
    Request,         // the N-th request after the handshake (N = the fault's argument)
};

enum class FaultKind {
    None,
    CloseAt,              // close the connection when the step arrives
    StallAt,              // never answer the step; hold the connection
    FloodAt,              // never answer the step; send empty data frames instead, one per kFloodInterval
    TrickleAt,            // from the step on, send every byte on its own, one per kTrickleInterval
    Delay,                // answer everything N ms late
    Tls12Only,            // a TLS server that speaks TLS 1.2 only
    TlsStartError,        // the TLS-start reply has bit 62 of its return value set
    LevelSigned,          // the session level as a signed 32-bit value
    LimitsUnsigned,       // the read-item limit as an unsigned 32-bit value
    LimitsOnlyAux,        // the limits reply carries only item 2
    LimitsError,          // the limits reply has a non-zero return value
    LimitsErrorEntry,     // the limits reply carries an error entry
    SetValuesErrorEntry,  // the set-values reply carries an error entry
    CreateIncomplete,     // the created session object lacks attribute 306
    ExploreError,         // explores are answered with an error (argument: the root, 0 = every root)
    NoTypeInfoContainer,  // the type-info explore holds no object of class 534
    ReadErrorEntry,       // every variable read gets an error entry for its first item
    WrongVersion,         // responses carry the other protocol version byte (from the N-th request)
    OversizedFrame,       // a response frame announces 1975 data bytes (from the N-th request)
    SelfReferencingType,  // the first data block contains a structure of its own type
    HostileCount,         // the first data block has an array of N (default 2^32 - 1) elements
    HostileTypes,         // N (default 1000) unused type objects, and a first data block whose browse looks up a
                          // missing type some 16 million times
    WrongType,            // every variable read answers with a value of a type that does not fit the variable
    RefuseWrite,          // every write refuses its item N (default 1) with an error entry
    DoubleAnswer,         // every answer is sent twice, from the N-th request on
};

// The hostile-types fault: the first data block's member Hostile is an array
// of kHostileElements structures of kHostileMembers members each, every one
// a structure of a type that is not there. A browse visits each member of
// each element - 4000 * 3999 = 15 996 000 visits with the elements, just
// under a client's cap of 16 million - and looks its type up in vain.
constexpr uint32_t kHostileElements = 4000;
constexpr uint32_t kHostileMembers = 3998;
constexpr uint64_t kDefaultHostileFillers = 1000;
// Some 40 bytes each: at the most, the answer stays near 4 MB.
constexpr uint64_t kMaxHostileFillers = 100000;

// A flooding controller sends one empty data frame this often: often enough
// that a client waiting for data sees traffic on the connection within any
// usual time-out, and yet never an answer.
constexpr std::chrono::milliseconds kFloodInterval{500};
// A trickling controller sends one byte this often: every wait of a client
// sees a byte come, while a whole answer takes many seconds.
constexpr std::chrono::milliseconds kTrickleInterval{100};

struct Fault {
    FaultKind kind = FaultKind::None;
    Step step = Step::Request;
    uint64_t arg = 0;

    // True when the fault closes, stalls, floods or starts to trickle at
    // `step` (for Step::Request: when `request` is the fault's argument).
    bool closesAt(Step s, uint64_t request = 0) const { return matches(FaultKind::CloseAt, s, request); }
    bool stallsAt(Step s, uint64_t request = 0) const { return matches(FaultKind::StallAt, s, request); }
    bool floodsAt(Step s, uint64_t request = 0) const { return matches(FaultKind::FloodAt, s, request); }
    bool tricklesFrom(Step s, uint64_t request = 0) const { return matches(FaultKind::TrickleAt, s, request); }
    // The first request (1-based) a response fault applies to.
    uint64_t fromRequest() const { return arg == 0 ? 1 : arg; }

    // Parses a name of the table below, with the optional argument. Throws
    // std::invalid_argument with a message for an unknown name or a missing
    // argument.
    static Fault parse(std::string_view name, std::optional<uint64_t> arg);

private:
    bool matches(FaultKind k, Step s, uint64_t request) const {
        return kind == k && step == s && (s != Step::Request || request == (arg == 0 ? 1 : arg));
    }
};

struct FaultInfo {
    std::string name;
    std::string description;
};

// Every fault name with one line of description, in a fixed order.
const std::vector<FaultInfo>& faultTable();

}  // namespace vemo::sim

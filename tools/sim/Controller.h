// The controller's side of the protocol above the framing: it takes one
// request (function code, header fields, body) and gives the response data
// (response header and body) a controller running the program would send -
// session set-up, the limits, explores of the data blocks (root 3), of
// the type-info objects (root 537) and of one type-info object, and reads of type-info references and
// variables. The model holds what every connection shares; a session holds
// one connection's state.
#pragma once

#include "Faults.h"
#include "Program.h"
#include "Wire.h"

#include "s7_protocol.h"

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vemo::sim {

// What the controller reports about itself.
struct ControllerSettings {
    std::string plcType;        // empty: the program's
    int32_t maxReadItems = 20;  // limit A: items per read request
    int32_t auxItemLimit = 50;  // limit B
    uint32_t sessionLevel = 1;  // attribute 1842 of the session object; 4 and above are refused by clients
    Fault fault;
};

// Return values and error codes the simulator sends; any non-zero value is
// an error to the client.
namespace errors {
constexpr uint64_t kUnknownObject = 0x8104;  // no such object, attribute or root
constexpr uint64_t kTooManyItems = 0x8105;   // a read of more items than the limit
constexpr uint64_t kBadAddress = 0x8106;     // an item address that leads to no variable
constexpr uint64_t kWrongSession = 0x8107;   // a request under another session's id
constexpr uint64_t kMalformed = 0x8108;      // a body the controller cannot read
constexpr uint64_t kInjected = 0x8109;       // an error a fault asked for
constexpr uint64_t kWrongType = 0x810A;      // a written value whose type does not fit the variable
}  // namespace errors

// The values clients have written, by variable: they take the place of the
// program's constants and generators from then on, for every connection.
// Connections run on threads of their own, hence the lock.
class WrittenValues {
public:
    // A variable's key: its block's object identifier, then the path of its
    // item address (an array element has its own).
    using Key = std::vector<uint32_t>;

    void store(Key key, Bytes encoded);
    std::optional<Bytes> find(const Key& key) const;

private:
    mutable std::mutex mutex_;
    std::map<Key, Bytes> values_;
};

// Where one type object's bytes lie in the encoded type-info objects.
struct TypeObjectSpan {
    size_t offset = 0;
    size_t length = 0;
};

// The program and its encoded object lists, shared by all connections.
class Model {
public:
    Model(Program program, ControllerSettings settings);

    const Program& program() const { return program_; }
    const ControllerSettings& settings() const { return settings_; }
    const std::string& plcType() const { return plcType_; }
    // The objects an explore of root 3 lists (data blocks and decoys), and
    // those of root 537 (the type-info container), encoded once.
    const Bytes& blockObjects() const { return blockObjects_; }
    const Bytes& typeInfoObjects() const { return typeInfoObjects_; }
    // The bytes of the type object with this identifier, as an explore of
    // it alone answers them; empty when there is none.
    std::span<const uint8_t> typeObject(uint32_t id) const;
    // What clients have written; the one part of the model that changes.
    WrittenValues& written() const { return written_; }

private:
    Program program_;
    ControllerSettings settings_;
    std::string plcType_;
    Bytes blockObjects_;
    Bytes typeInfoObjects_;
    std::map<uint32_t, TypeObjectSpan> typeObjectSpans_;
    mutable WrittenValues written_;
};

// One request as it arrived: header fields and body.
struct Request {
    uint8_t version = 0;
    uint16_t function = 0;
    uint16_t sequence = 0;
    uint32_t sessionId = 0;
    Bytes body;
};

class Session {
public:
    // `sessionId` is the id the create-object request assigns; `clockMs`
    // gives the milliseconds since the simulator started (values move
    // with it).
    Session(const Model& model, uint32_t sessionId, std::function<int64_t()> clockMs);

    // Which step of a connection a request is (Step::Request for the rest).
    Step stepOf(const Request& request) const;

    // The response data: the 9-byte response header and the body.
    Bytes respond(const Request& request);

    uint32_t sessionId() const { return sessionId_; }
    bool created() const { return created_; }

private:
    Bytes create(const Request& r, Writer& w);
    Bytes setValues(const Request& r, Writer& w);
    Bytes writeVariables(const Request& r, Writer& w);
    Bytes getAttribute(const Request& r, Writer& w);
    Bytes read(const Request& r, Writer& w);
    Bytes explore(const Request& r, Writer& w);

    const Model& model_;
    uint32_t sessionId_;
    std::function<int64_t()> clockMs_;
    bool created_ = false;
    Bytes sentSessionVersion_;  // attribute 306 as sent, which set-values must echo
};

// The session-version structure the create reply carries (attribute 306).
ValuePtr sessionVersionValue(const std::string& plcType);

}  // namespace vemo::sim

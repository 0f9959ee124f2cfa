// One connection of the command-line tool: connect, list, browse and read
// (the listing, browsing and chunked reading are the core's, as in the
// program), each failure carried as the step that failed and the library's
// code - or, for an answer that does not fit its variable's data type, as
// that variable and what was sent.
#pragma once

#include <vemo/s7client.h>

#include "vemo/core/Browse.h"
#include "vemo/core/ChunkedRead.h"
#include "vemo/core/ChunkedWrite.h"
#include "vemo/core/ControllerIdentity.h"
#include "vemo/core/OwnedLists.h"
#include "vemo/core/ValueFormat.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vemo::cli {

// A failed library call: "browse failed: S7_ERR_PROTOCOL (5)". A failed
// connect names the address and the cause in words as well:
// "connect failed: 127.0.0.1:1: connection refused (S7_ERR_CONNECT 3)".
struct StepError {
    std::string step;
    uint8_t code;
    std::string address = {};  // "host:port"; empty for a step that names none, or an empty host
    std::string words = {};    // what went wrong, when the step says more than its code
    std::string message() const;
};

// One variable of a per-item read: its value, or why it has none.
struct ItemRead {
    ReadValue value;      // none when failed
    std::string failure;  // "refused by the controller (error 16#8104)", "type mismatch: ..."; empty when read
};

// A variable the controller answered with a value that does not fit its
// data type: "read failed: DB1.Count: type mismatch: BOOL array for DINT".
// Its value is not printed; the library's call itself succeeded, so there is
// no library code to name, but the variable is.
class ValueMismatch : public std::runtime_error {
public:
    ValueMismatch(const std::string& name, const TypeMismatch& mismatch);
};

struct Block {
    uint32_t number;
    std::string name;
    uint32_t objectId;
    uint32_t typeInfoId;
};

// One readable variable with its own copy of the item address.
struct Variable {
    std::string block;
    std::string name;
    uint8_t datatype;
    uint32_t objectId;
    uint32_t attributeId;
    std::vector<uint32_t> path;
};

// A write's outcome in lines for standard error: each variable the
// controller refused ("write refused: Data.Flag: error 16#8109"); after a
// failed request every variable, as far as is known - "written: NAME",
// "write refused: ...", "may have been written: NAME" for those of the
// request that failed, "not written: NAME" for those never sent.
std::vector<std::string> writeNotes(const std::vector<Variable>& variables, const WriteResult& result);

class PlcSession {
public:
    // `calls` and `writeCalls` are the library's unless a test puts fakes
    // there.
    explicit PlcSession(ReadCalls calls = {}, WriteCalls writeCalls = {});
    ~PlcSession();
    PlcSession(const PlcSession&) = delete;
    PlcSession& operator=(const PlcSession&) = delete;

    // Each throws StepError when the library reports a failure.
    // connect() may also connect again after a loss: the block listing is
    // then read afresh, as the controller may hold another program now.
    void connect(const std::string& host, uint16_t port, uint32_t timeoutMs);
    // Whether the connection is still up: a failure that broke it (rather
    // than refusing one request) leaves it down, with loss() saying why.
    bool connected() const;
    uint8_t loss() const;
    std::string plcType() const;
    // What the connected controller presented in the handshake; nullopt
    // while not connected.
    std::optional<ControllerIdentity> identity() const;
    uint32_t maxReadItems() const;
    // The blocks in the controller's order, then the memory areas.
    const std::vector<Block>& blocks();
    // The variables of the named blocks (all blocks when empty), in list
    // order; progress(done, total) after each block. Every named block is
    // browsed; if any failed, the first failure in list order is thrown.
    std::vector<Variable> browse(const std::vector<std::string>& blockNames, const BrowseProgress& progress);
    // Reads in chunks of at most the controller's item limit; the values
    // are in the order of `variables`. Every variable has its value or the
    // read fails: StepError for a refused one, ValueMismatch for one whose
    // answer does not fit its data type (the first such in the order).
    std::vector<ValueText> read(const std::vector<Variable>& variables);
    // The same read, keeping each value itself, to be shown in any format.
    std::vector<ReadValue> readValues(const std::vector<Variable>& variables);
    // The per-item read: a variable the controller refuses, or answers with
    // a value that does not fit its data type, fails alone, the others keep
    // their values. StepError only when a request fails as a whole.
    std::vector<ItemRead> readEach(const std::vector<Variable>& variables);
    // The characters a STRING variable holds: the first byte of what it
    // reads as. 0 for other data types.
    uint32_t capacityOf(const Variable& variable);
    // Writes values[i] to variables[i] in chunks of at most the item limit,
    // each value once; what became of each variable, also when a request
    // failed (writeNotes says it in words). StepError when the item limit
    // cannot be read: then nothing was sent.
    WriteResult write(const std::vector<Variable>& variables, const std::vector<const s7_value*>& values);

private:
    void loadBlocks();
    // The chunked read, every value or refusal in the order of `variables`;
    // StepError when a request fails as a whole.
    std::vector<ItemReading> readItems(const std::vector<Variable>& variables);
    // Every library call straight on the handle: the tool has no other thread.
    ClientAccess access() const;

    // A failure of `step` in words, for the controller last connected to.
    StepError failure(const char* step, uint8_t code, bool browsing = false) const;
    // Throws failure(step, code) unless code is S7_OK.
    void check(const char* step, uint8_t code) const;

    vemoc_s7_client* client_;
    ReadCalls calls_;
    WriteCalls writeCalls_;
    // Of the last connect: what a failure's words name.
    uint32_t timeoutMs_ = 10000;
    uint16_t port_ = 0;
    BlockList list_;
    std::vector<Block> blocks_;
    bool listed_ = false;
};

}  // namespace vemo::cli

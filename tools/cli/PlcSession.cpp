#include "PlcSession.h"

#include <vemo/s7write.h>

#include "vemo/core/ConnectionWords.h"

#include <fmt/format.h>

#include <new>
#include <stdexcept>

namespace vemo::cli {

namespace {

// An address that borrows the variable's path: the library only reads it.
s7_item_address addressOf(const Variable& v) {
    return s7_item_address{v.objectId, v.attributeId, const_cast<uint32_t*>(v.path.data()),
                           static_cast<uint32_t>(v.path.size())};
}

}  // namespace

StepError PlcSession::failure(const char* step, uint8_t code, bool browsing) const {
    FailureContext context;
    context.timeoutMs = timeoutMs_;
    context.port = port_;
    context.step = S7_STEP_DONE;
    context.browsing = browsing;
    return StepError{step, code, {}, describeFailure(code, context).what};
}

void PlcSession::check(const char* step, uint8_t code) const {
    if (code != S7_OK) throw failure(step, code);
}

std::string StepError::message() const {
    // Never a bare code: the words of a failure whose thrower gave none.
    const std::string said = words.empty() ? describeFailure(code, 10000).what : words;
    const std::string where = address.empty() ? std::string() : address + ": ";
    return fmt::format("{} failed: {}{} ({} {})", step, where, said, s7_result_name(code), code);
}

ValueMismatch::ValueMismatch(const std::string& name, const TypeMismatch& mismatch)
    : std::runtime_error(fmt::format("read failed: {}: {}", name, mismatch.text())) {}

PlcSession::PlcSession(ReadCalls calls, WriteCalls writeCalls)
    : client_(vemoc_s7_client_new()), calls_(calls), writeCalls_(writeCalls) {
    if (client_ == nullptr) {
        throw std::bad_alloc();
    }
}

PlcSession::~PlcSession() { vemoc_s7_client_free(client_); }

ClientAccess PlcSession::access() const {
    return [client = client_](const ClientCall& call) { call(client); };
}

void PlcSession::connect(const std::string& host, uint16_t port, uint32_t timeoutMs) {
    listed_ = false;
    blocks_.clear();
    list_ = BlockList{};
    timeoutMs_ = timeoutMs;
    port_ = port;
    const uint8_t code = vemoc_s7_client_connect(client_, host.c_str(), port, timeoutMs);
    if (code == S7_OK) return;
    int systemError = 0;
    const uint8_t cause = vemoc_s7_client_get_connect_cause(client_, &systemError);
    // An IPv6 address is bracketed, so that its port stands apart.
    const std::string address = host.empty()                          ? std::string()
                                : host.find(':') != std::string::npos ? fmt::format("[{}]:{}", host, port)
                                                                      : fmt::format("{}:{}", host, port);
    FailureContext context;
    context.timeoutMs = timeoutMs;
    context.port = port;
    context.step = vemoc_s7_client_get_connect_step(client_);
    throw StepError{"connect", code, address, describeConnectFailure(code, cause, systemError, context).what};
}

bool PlcSession::connected() const { return vemoc_s7_client_get_state(client_) == S7_CLIENT_CONNECTED; }

uint8_t PlcSession::loss() const { return vemoc_s7_client_get_loss(client_); }

std::string PlcSession::plcType() const { return vemoc_s7_client_get_plc_type(client_); }

std::optional<ControllerIdentity> PlcSession::identity() const { return identityOf(client_); }

uint32_t PlcSession::maxReadItems() const {
    uint32_t items = 0;
    check("item limit", vemoc_s7_client_get_max_read_items(client_, &items));
    return items;
}

void PlcSession::loadBlocks() {
    if (listed_) {
        return;
    }
    if (const uint8_t code = listBlocks(access(), list_); code != S7_OK) throw failure("list blocks", code, true);
    listed_ = true;
    blocks_.reserve(list_.size());
    for (const s7_block& b : list_) {
        blocks_.push_back(Block{b.number, b.name, b.object_id, b.type_info_id});
    }
}

const std::vector<Block>& PlcSession::blocks() {
    loadBlocks();
    return blocks_;
}

std::vector<Variable> PlcSession::browse(const std::vector<std::string>& blockNames, const BrowseProgress& progress) {
    loadBlocks();
    const std::vector<BrowsedBlock> browsed = browseBlocks(access(), list_, blockNames, progress);
    if (const BrowsedBlock* failed = firstFailure(browsed)) {
        throw failure("browse", failed->code, true);
    }
    std::vector<Variable> variables;
    for (const BrowsedBlock& b : browsed) {
        for (const s7_symbol& s : b.symbols) {
            variables.push_back(Variable{b.block->name, s.name, s.datatype, s.address.object_id, s.address.attribute_id,
                                         std::vector<uint32_t>(s.address.path, s.address.path + s.address.path_count)});
        }
    }
    return variables;
}

std::vector<ValueText> PlcSession::read(const std::vector<Variable>& variables) {
    std::vector<ReadValue> kept = readValues(variables);
    std::vector<ValueText> values;
    values.reserve(kept.size());
    for (std::size_t i = 0; i < kept.size(); ++i) {
        values.push_back(formatValue(kept[i], variables[i].datatype, DisplayFormat::Dec));
    }
    return values;
}

std::vector<ItemReading> PlcSession::readItems(const std::vector<Variable>& variables) {
    std::vector<s7_item_address> addresses;
    std::vector<uint8_t> datatypes;
    addresses.reserve(variables.size());
    datatypes.reserve(variables.size());
    for (const Variable& v : variables) {
        addresses.push_back(addressOf(v));
        datatypes.push_back(v.datatype);
    }
    ReadResult result = readInChunks(client_, addresses, datatypes, calls_);
    switch (result.status) {
    case ReadResult::Status::Read: return std::move(result.values);
    case ReadResult::Status::LimitFailed: throw failure("item limit", result.code);
    case ReadResult::Status::ReadFailed: throw failure("read", result.code);
    case ReadResult::Status::NoValues:
    case ReadResult::Status::NotRun: break;
    }
    throw std::runtime_error("read failed: the library answered without values");
}

std::vector<ReadValue> PlcSession::readValues(const std::vector<Variable>& variables) {
    std::vector<ItemReading> items = readItems(variables);
    // A script reads every value it asked for or fails as a whole.
    std::vector<ReadValue> values;
    values.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        ItemReading& item = items[i];
        if (item.refused) throw failure("read", S7_ERR_READ);
        // Printing it would pass off a wrongly typed answer as the value.
        if (item.mismatch) throw ValueMismatch(variables[i].name, *item.mismatch);
        values.push_back(std::move(item.read));
    }
    return values;
}

std::vector<ItemRead> PlcSession::readEach(const std::vector<Variable>& variables) {
    std::vector<ItemReading> items = readItems(variables);
    std::vector<ItemRead> reads;
    reads.reserve(items.size());
    for (ItemReading& item : items) {
        ItemRead& read = reads.emplace_back();
        if (item.refused) {
            read.failure = fmt::format("refused by the controller (error 16#{:X})", *item.refused);
        } else if (item.mismatch) {
            read.failure = item.mismatch->text();
        } else {
            read.value = std::move(item.read);
        }
    }
    return reads;
}

uint32_t PlcSession::capacityOf(const Variable& variable) {
    if (variable.datatype != S7_DATATYPE_STRING) return 0;
    const s7_item_address address = addressOf(variable);
    const s7_item_address* items[] = {&address};
    s7_value** values = nullptr;
    check("read", vemoc_s7_client_read(client_, items, 1, &values));
    uint8_t capacity = 0;
    const uint8_t rc = s7_array_get_u8(values[0], 0, &capacity);
    s7_value_free(values[0]);
    s7_free(values);
    if (rc != S7_OK) throw ValueMismatch(variable.name, TypeMismatch{"no byte array", variable.datatype});
    return capacity;
}

WriteResult PlcSession::write(const std::vector<Variable>& variables, const std::vector<const s7_value*>& values) {
    std::vector<s7_item_address> addresses;
    addresses.reserve(variables.size());
    for (const Variable& v : variables) addresses.push_back(addressOf(v));
    WriteResult result = writeInChunks(client_, addresses, values, writeCalls_);
    if (result.status == WriteResult::Status::LimitFailed) throw StepError{"item limit", result.code};
    return result;
}

std::vector<std::string> writeNotes(const std::vector<Variable>& variables, const WriteResult& result) {
    std::vector<std::string> notes;
    for (std::size_t i = 0; i < variables.size() && i < result.items.size(); ++i) {
        const std::string& name = variables[i].name;
        switch (result.items[i].outcome) {
        case ItemOutcome::Refused:
            notes.push_back(fmt::format("write refused: {}: error 16#{:X}", name, result.items[i].error));
            break;
        // Said only when a request failed: otherwise the read-back shows them.
        case ItemOutcome::Written:
            if (!result.ok()) notes.push_back("written: " + name);
            break;
        case ItemOutcome::MayBeWritten: notes.push_back("may have been written: " + name); break;
        case ItemOutcome::NotWritten: notes.push_back("not written: " + name); break;
        }
    }
    return notes;
}

}  // namespace vemo::cli

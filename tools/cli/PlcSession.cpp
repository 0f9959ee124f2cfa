#include "PlcSession.h"

#include "vemo/core/ReadValues.h"
#include "vemo/core/ValueFormat.h"

#include <fmt/format.h>

#include <algorithm>
#include <new>

namespace vemo::cli {

namespace {

void check(const char* step, uint8_t code) {
    if (code != S7_OK) {
        throw StepError{step, code};
    }
}

} // namespace

std::string StepError::message() const { return fmt::format("{} failed: {} ({})", step, s7_result_name(code), code); }

PlcSession::PlcSession() : client_(vemoc_s7_client_new()) {
    if (client_ == nullptr) {
        throw std::bad_alloc();
    }
}

PlcSession::~PlcSession() {
    s7_block_list_free(&list_);
    vemoc_s7_client_free(client_);
}

void PlcSession::connect(const std::string& host, uint16_t port, uint32_t timeoutMs) {
    check("connect", vemoc_s7_client_connect(client_, host.c_str(), port, timeoutMs));
}

std::string PlcSession::plcType() const { return vemoc_s7_client_get_plc_type(client_); }

uint32_t PlcSession::maxReadItems() const {
    uint32_t items = 0;
    check("item limit", vemoc_s7_client_get_max_read_items(client_, &items));
    return items;
}

void PlcSession::loadBlocks() {
    if (listed_) {
        return;
    }
    check("list blocks", vemoc_s7_client_list_datablocks(client_, &list_));
    listed_ = true;
    blocks_.reserve(list_.count);
    for (uint32_t i = 0; i < list_.count; ++i) {
        const s7_block& b = list_.items[i];
        blocks_.push_back(Block{b.number, b.name, b.object_id, b.type_info_id});
    }
}

const std::vector<Block>& PlcSession::blocks() {
    loadBlocks();
    return blocks_;
}

std::vector<Variable> PlcSession::browse(const std::vector<std::string>& blockNames,
                                         const std::function<void(size_t, size_t)>& progress) {
    loadBlocks();
    std::vector<const s7_block*> chosen;
    for (uint32_t i = 0; i < list_.count; ++i) {
        const s7_block* b = &list_.items[i];
        if (blockNames.empty() || std::find(blockNames.begin(), blockNames.end(), b->name) != blockNames.end()) {
            chosen.push_back(b);
        }
    }
    std::vector<Variable> variables;
    for (size_t i = 0; i < chosen.size(); ++i) {
        s7_symbol_list symbols{};
        check("browse", vemoc_s7_client_browse_block(client_, chosen[i], &symbols));
        try {
            for (uint32_t k = 0; k < symbols.count; ++k) {
                const s7_symbol& s = symbols.items[k];
                variables.push_back(Variable{chosen[i]->name, s.name, s.datatype, s.address.object_id,
                                             s.address.attribute_id,
                                             std::vector<uint32_t>(s.address.path, s.address.path + s.address.path_count)});
            }
        } catch (...) {
            s7_symbol_list_free(&symbols);
            throw;
        }
        s7_symbol_list_free(&symbols);
        if (progress) {
            progress(i + 1, chosen.size());
        }
    }
    return variables;
}

std::vector<ValueText> PlcSession::read(const std::vector<Variable>& variables) {
    const uint32_t limit = maxReadItems();
    std::vector<ValueText> texts;
    texts.reserve(variables.size());
    // Addresses that borrow each variable's path: the library only reads them.
    std::vector<s7_item_address> addresses;
    addresses.reserve(variables.size());
    for (const Variable& v : variables) {
        addresses.push_back(s7_item_address{v.objectId, v.attributeId, const_cast<uint32_t*>(v.path.data()),
                                            static_cast<uint32_t>(v.path.size())});
    }
    for (size_t start = 0; start < addresses.size(); start += limit) {
        const size_t count = std::min<size_t>(limit, addresses.size() - start);
        std::vector<const s7_item_address*> chunk;
        for (size_t i = 0; i < count; ++i) {
            chunk.push_back(&addresses[start + i]);
        }
        s7_value** raw = nullptr;
        check("read", vemoc_s7_client_read(client_, chunk.data(), static_cast<uint32_t>(count), &raw));
        const vemo::ReadValues values(raw, count);
        for (size_t i = 0; i < count; ++i) {
            texts.push_back(describeValue(values[i], variables[start + i].datatype));
        }
    }
    return texts;
}

} // namespace vemo::cli

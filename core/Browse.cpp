#include "vemo/core/Browse.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace vemo {

namespace {

// Runs `call` through `access` and returns its code. An access that returns
// without running the call is a fault of the caller's, not an answer of the
// controller, so it has no result code.
template <typename Call>
std::uint8_t run(const ClientAccess& access, const Call& call) {
    std::optional<std::uint8_t> code;
    access([&](vemoc_s7_client* client) { code = call(client); });
    if (!code) throw std::logic_error("the client access returned without running the call");
    return *code;
}

}  // namespace

const BrowsedBlock* firstFailure(const std::vector<BrowsedBlock>& browsed) {
    const auto it = std::find_if(browsed.begin(), browsed.end(), [](const BrowsedBlock& b) { return b.code != S7_OK; });
    return it == browsed.end() ? nullptr : &*it;
}

std::uint8_t listBlocks(const ClientAccess& access, BlockList& blocks, const BrowseCalls& calls) {
    s7_block_list* out = blocks.receive();
    const std::uint8_t code = run(access, [&](vemoc_s7_client* client) { return calls.list(client, out); });
    // The library hands out nothing on a failure; a failed listing is empty
    // here whatever the call left behind.
    if (code != S7_OK) blocks.receive();
    return code;
}

std::vector<BrowsedBlock> browseBlocks(const ClientAccess& access, const BlockList& blocks,
                                       const std::vector<std::string>& names, const BrowseProgress& progress,
                                       const BrowseCalls& calls) {
    std::vector<const s7_block*> chosen;
    for (const s7_block& block : blocks) {
        if (names.empty() ||
            (block.name != nullptr && std::find(names.begin(), names.end(), block.name) != names.end())) {
            chosen.push_back(&block);
        }
    }
    std::vector<BrowsedBlock> browsed;
    browsed.reserve(chosen.size());
    for (const s7_block* block : chosen) {
        BrowsedBlock& entry = browsed.emplace_back();
        entry.block = block;
        s7_symbol_list* out = entry.symbols.receive();
        entry.code = run(access, [&](vemoc_s7_client* client) { return calls.browse(client, block, out); });
        // Likewise for a failed browse: no symbols, whatever the call left.
        if (entry.code != S7_OK) entry.symbols.receive();
        if (progress) progress(browsed.size(), chosen.size());
    }
    return browsed;
}

Catalog listAndBrowse(const ClientAccess& access, const BrowseCalls& calls) {
    BlockList blocks;
    const std::uint8_t code = listBlocks(access, blocks, calls);
    std::vector<BrowsedBlock> browsed;
    if (code == S7_OK) browsed = browseBlocks(access, blocks, {}, {}, calls);
    return Catalog{code, std::move(blocks), std::move(browsed)};
}

std::string itemAddressText(std::uint32_t objectId, std::uint32_t attributeId, std::span<const std::uint32_t> path) {
    return fmt::format("0x{:08X}/{}/{}", objectId, attributeId, fmt::join(path, ","));
}

std::string itemAddressText(const s7_item_address& address) {
    const std::span<const std::uint32_t> path = address.path != nullptr
                                                    ? std::span<const std::uint32_t>(address.path, address.path_count)
                                                    : std::span<const std::uint32_t>();
    return itemAddressText(address.object_id, address.attribute_id, path);
}

}  // namespace vemo

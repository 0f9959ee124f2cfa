// Listing the controller's blocks and browsing them into symbols: how the
// program's tree and vemo-s7 both learn the variables.
//
// One policy for a block whose browse fails: every block asked for is
// browsed, whatever happened to the ones before it, and each keeps its own
// result code, with its symbols or, after a failure, none. What a failure
// means is the caller's to decide: the program shows such a block without
// tags, vemo-s7 gives up on a block it needed.
#pragma once

#include <vemo/s7browse.h>
#include <vemo/s7client.h>

#include "vemo/core/OwnedLists.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace vemo {

// One library call with the client handle.
using ClientCall = std::function<void(vemoc_s7_client*)>;
// Runs a ClientCall exactly once, or throws. Every list and browse call goes
// through it on its own: the program takes the connection service's lock for
// each (PlcConnection::withClient), so a disconnect waits for one browse
// rather than for all of them; vemo-s7 calls it on its own handle.
using ClientAccess = std::function<void(const ClientCall&)>;

// progress(done, total) after each block browsed.
using BrowseProgress = std::function<void(std::size_t, std::size_t)>;

// The library calls a listing and a browse make; tests put fakes here.
struct BrowseCalls {
    std::uint8_t (*list)(vemoc_s7_client*, s7_block_list*) = vemoc_s7_client_list_datablocks;
    std::uint8_t (*browse)(vemoc_s7_client*, const s7_block*, s7_symbol_list*) = vemoc_s7_client_browse_block;
};

struct BrowsedBlock {
    const s7_block* block = nullptr;  // a record of the list it was browsed from
    std::uint8_t code = S7_OK;        // the browse's result code
    SymbolList symbols;               // none unless code is S7_OK
};

// What listAndBrowse gathered.
struct Catalog {
    std::uint8_t listCode;              // the listing's result code
    BlockList blocks;                   // empty unless listCode is S7_OK
    std::vector<BrowsedBlock> browsed;  // one per block of `blocks`, in list order
};

// The first of `browsed`, in list order, whose browse failed; null when none
// did.
const BrowsedBlock* firstFailure(const std::vector<BrowsedBlock>& browsed);

// Lists the data blocks and memory areas into `blocks` (emptied first) and
// returns the library's code; on a failure `blocks` stays empty.
std::uint8_t listBlocks(const ClientAccess& access, BlockList& blocks, const BrowseCalls& calls = {});

// Browses the blocks of `blocks` whose name is one of `names` (every block
// when `names` is empty), in list order, one access each.
std::vector<BrowsedBlock> browseBlocks(const ClientAccess& access, const BlockList& blocks,
                                       const std::vector<std::string>& names = {}, const BrowseProgress& progress = {},
                                       const BrowseCalls& calls = {});

// Lists, then browses every block. A failed listing browses nothing.
Catalog listAndBrowse(const ClientAccess& access, const BrowseCalls& calls = {});

// Where a variable is read, as the program and vemo-s7 write it: the
// object's identifier in hex, the attribute, then the path's identifiers
// separated by commas: "0x8A0E0001/2550/3,1".
std::string itemAddressText(std::uint32_t objectId, std::uint32_t attributeId, std::span<const std::uint32_t> path);
std::string itemAddressText(const s7_item_address& address);

}  // namespace vemo

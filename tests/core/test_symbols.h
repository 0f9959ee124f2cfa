// Symbol and block lists made by hand, in the memory layout the browse hands
// out, so the tree and the inspector can be tested without a controller.
// Everything is allocated with malloc, which the library's default hooks
// release.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "vemo/core/Browse.h"
#include "vemo/s7browse.h"

namespace vemo::test {

struct TestSymbol {
    std::string name;
    std::uint8_t datatype = 8;  // REAL
};

// Symbol i gets the item address {object_id = i + 1, attribute 2550, path [i + 10]}.
inline s7_symbol_list makeSymbols(const std::vector<TestSymbol>& symbols) {
    s7_symbol_list list{};
    if (symbols.empty()) return list;
    list.items = static_cast<s7_symbol*>(std::calloc(symbols.size(), sizeof(s7_symbol)));
    if (list.items == nullptr) throw std::bad_alloc();
    list.count = static_cast<std::uint32_t>(symbols.size());
    for (std::size_t i = 0; i < symbols.size(); ++i) {
        s7_symbol& symbol = list.items[i];
        symbol.datatype = symbols[i].datatype;
        symbol.name = strdup(symbols[i].name.c_str());
        symbol.address.object_id = static_cast<std::uint32_t>(i + 1);
        symbol.address.attribute_id = 2550;
        if (symbol.name == nullptr || s7_item_address_push(&symbol.address, static_cast<std::uint32_t>(i + 10)) != 0) {
            s7_symbol_list_free(&list);
            throw std::bad_alloc();
        }
    }
    return list;
}

// Releases the list when the scope ends (unless it was handed on and zeroed).
class OwnedSymbols {
public:
    explicit OwnedSymbols(const std::vector<TestSymbol>& symbols) : list_(makeSymbols(symbols)) {}
    ~OwnedSymbols() { s7_symbol_list_free(&list_); }
    OwnedSymbols(const OwnedSymbols&) = delete;
    OwnedSymbols& operator=(const OwnedSymbols&) = delete;
    s7_symbol_list& list() { return list_; }
    const s7_symbol* at(std::size_t i) const { return &list_.items[i]; }
    std::size_t size() const { return list_.count; }
    // Releases the records now, as a reload of the tree does.
    void release() { s7_symbol_list_free(&list_); }

private:
    s7_symbol_list list_;
};

// A block entry whose name the test keeps alive.
struct TestBlock {
    explicit TestBlock(std::string blockName, std::uint32_t blockNumber = 1) : name(std::move(blockName)) {
        block.number = blockNumber;
        block.object_id = 0x8A0E0000u + blockNumber;
        block.name = name.data();
    }
    TestBlock(const TestBlock&) = delete;
    TestBlock& operator=(const TestBlock&) = delete;
    std::string name;
    s7_block block{};
};

// A successful load of these blocks and their symbols, laid out as the
// library's lists are: block i gets number i + 1.
using TestBlocks = std::vector<std::pair<std::string, std::vector<TestSymbol>>>;
inline Catalog makeCatalog(const TestBlocks& blocks) {
    s7_block_list list{};
    if (!blocks.empty()) {
        list.items = static_cast<s7_block*>(std::calloc(blocks.size(), sizeof(s7_block)));
        if (list.items == nullptr) throw std::bad_alloc();
        list.count = static_cast<std::uint32_t>(blocks.size());
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            list.items[i].number = static_cast<std::uint32_t>(i + 1);
            list.items[i].object_id = 0x8A0E0001u + static_cast<std::uint32_t>(i);
            list.items[i].name = strdup(blocks[i].first.c_str());
            if (list.items[i].name == nullptr) {
                s7_block_list_free(&list);
                throw std::bad_alloc();
            }
        }
    }
    Catalog catalog{0, BlockList(list), {}};
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        catalog.browsed.push_back(BrowsedBlock{&catalog.blocks[static_cast<std::uint32_t>(i)], 0,
                                               SymbolList(makeSymbols(blocks[i].second))});
    }
    return catalog;
}

}  // namespace vemo::test

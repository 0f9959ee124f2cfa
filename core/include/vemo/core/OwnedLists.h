// The block and symbol lists the library hands out, each with one owner that
// releases it with the library's own function however its scope ends. Move
// only: the records inside (names, item addresses) are borrowed by pointer
// elsewhere (tree nodes, inspector rows), and a move keeps them where they
// are.
#pragma once

#include <vemo/s7browse.h>
#include <vemo/s7value.h>

#include <cstdint>
#include <memory>
#include <utility>

namespace vemo {

template <typename List, void (*Release)(List*)>
class OwnedList {
public:
    OwnedList() = default;
    // Takes over `list`, which must come from the library (or be laid out
    // and allocated as the library's are).
    explicit OwnedList(List list) noexcept : list_(list) {}
    ~OwnedList() { Release(&list_); }
    OwnedList(OwnedList&& other) noexcept : list_(std::exchange(other.list_, List{})) {}
    OwnedList& operator=(OwnedList&& other) noexcept {
        if (this != &other) {
            Release(&list_);
            list_ = std::exchange(other.list_, List{});
        }
        return *this;
    }
    OwnedList(const OwnedList&) = delete;
    OwnedList& operator=(const OwnedList&) = delete;

    // Releases what the list holds and hands out the empty record for a
    // library call to fill.
    List* receive() noexcept {
        Release(&list_);
        return &list_;
    }

    const List& get() const noexcept { return list_; }
    std::uint32_t size() const noexcept { return list_.count; }
    bool empty() const noexcept { return list_.count == 0; }
    const auto& operator[](std::uint32_t i) const noexcept { return list_.items[i]; }
    const auto* begin() const noexcept { return list_.items; }
    const auto* end() const noexcept { return list_.items + list_.count; }

private:
    List list_{};
};

using BlockList = OwnedList<s7_block_list, s7_block_list_free>;
using SymbolList = OwnedList<s7_symbol_list, s7_symbol_list_free>;

// A value built for the library (to write it), released with its own
// function.
struct ValueRelease {
    void operator()(s7_value* value) const noexcept { s7_value_free(value); }
};
using OwnedValue = std::unique_ptr<s7_value, ValueRelease>;

}  // namespace vemo

// The asset package: every icon and font of the browser comes from one
// read-only "VPAK" archive, assets.pak, read into memory once at start-up.
//
// File layout (all integers little-endian, unsigned):
//   header, 40 bytes at offset 0:
//     0  u32  magic "VPAK" (0x4B415056)
//     4  u32  version, 1
//     8  u64  entry count
//     16 u64  entry table offset
//     24 u64  names blob offset
//     32 u64  reserved
//   entry table: entry count records of 24 bytes
//     0  u64  name offset, relative to the names blob
//     8  u64  data offset, from the start of the file
//     16 u64  data size
//   names blob: zero-terminated names ("icons/tag.svg").
// Entries are sorted by name, byte-wise, shorter first on a common prefix;
// lookups binary-search and rely on that order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vemo {

// One asset. Both views point into the package's own copy of the file and
// stay valid for as long as the package lives (the whole process for the
// one returned by AssetPackage::instance()).
struct AssetEntry {
    std::string_view name;
    std::span<const std::uint8_t> data;
};

class AssetPackage {
public:
    static constexpr std::uint32_t kMagic = 0x4B415056;  // "VPAK" read little-endian
    static constexpr std::uint32_t kVersion = 1;
    static constexpr std::size_t kHeaderSize = 40;
    static constexpr std::size_t kEntrySize = 24;

    // The process-wide package, empty until load() succeeds.
    static AssetPackage& instance();

    AssetPackage() = default;
    // Entries point into data_, so a copy or a move would leave them dangling.
    AssetPackage(const AssetPackage&) = delete;
    AssetPackage& operator=(const AssetPackage&) = delete;

    // Reads and checks the whole file. Throws std::runtime_error with a
    // fixed message naming the first problem found; the package stays empty
    // then. A package that is already loaded refuses a second load
    // (std::logic_error), because callers hold views into its bytes.
    void load(const std::string& path);

    // The entry named exactly `name`, or nothing. With duplicate names the
    // first in table order wins.
    std::optional<AssetEntry> find(std::string_view name) const;

    // All entries in file order.
    const std::vector<AssetEntry>& entries() const { return entries_; }

private:
    std::vector<std::uint8_t> data_;
    std::vector<AssetEntry> entries_;
    bool loaded_ = false;
};

}  // namespace vemo

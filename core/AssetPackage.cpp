#include "vemo/core/AssetPackage.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace vemo {

namespace {

std::uint32_t readU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t readU64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(readU32(p)) | static_cast<std::uint64_t>(readU32(p + 4)) << 32;
}

// True when [offset, offset + length) lies inside a file of `size` bytes.
// Written so that no sum can wrap: a hostile offset near 2^64 must not
// come back round to a small number and pass.
bool fits(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
    return offset <= size && length <= size - offset;
}

[[noreturn]] void outOfRange(const char* context) {
    throw std::runtime_error(std::string("Pak out of range while reading ") + context);
}

// Checks the header and the entry table of a complete file image and
// returns its entries, which point into `data`.
std::vector<AssetEntry> parse(const std::vector<std::uint8_t>& data) {
    const std::uint64_t size = data.size();
    if (size < AssetPackage::kHeaderSize) {
        throw std::runtime_error("asset file too small");
    }
    const std::uint8_t* base = data.data();
    if (readU32(base) != AssetPackage::kMagic) {
        throw std::runtime_error("Bad magic (not VPAK)");
    }
    if (readU32(base + 4) != AssetPackage::kVersion) {
        throw std::runtime_error("Unsupported pak version");
    }
    const std::uint64_t count = readU64(base + 8);
    const std::uint64_t tableOffset = readU64(base + 16);
    const std::uint64_t namesOffset = readU64(base + 24);

    // count * 24 would wrap for counts above 2^64 / 24 and let a tiny table
    // length pass; such a count cannot fit in the file anyway.
    if (count > size / AssetPackage::kEntrySize || !fits(tableOffset, count * AssetPackage::kEntrySize, size)) {
        outOfRange("entries table");
    }
    if (!fits(namesOffset, 1, size)) {
        outOfRange("names blob");
    }

    std::vector<AssetEntry> entries;
    entries.reserve(static_cast<std::size_t>(count));
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint8_t* record = base + tableOffset + i * AssetPackage::kEntrySize;
        const std::uint64_t nameOffset = readU64(record);
        const std::uint64_t dataOffset = readU64(record + 8);
        const std::uint64_t dataSize = readU64(record + 16);

        // namesOffset < size holds here, so the subtraction cannot wrap.
        if (nameOffset >= size - namesOffset) {
            outOfRange("name string start");
        }
        const std::uint64_t nameStart = namesOffset + nameOffset;
        if (!fits(dataOffset, dataSize, size)) {
            outOfRange("file data");
        }
        // The terminator may lie anywhere up to the end of the file, not
        // only inside the names blob.
        const auto* name = reinterpret_cast<const char*>(base + nameStart);
        const void* zero = std::memchr(name, 0, static_cast<std::size_t>(size - nameStart));
        if (zero == nullptr) {
            throw std::runtime_error("Unterminated name in pak");
        }
        const auto nameLength = static_cast<std::size_t>(static_cast<const char*>(zero) - name);
        entries.push_back(
            AssetEntry{std::string_view(name, nameLength),
                       std::span<const std::uint8_t>(base + dataOffset, static_cast<std::size_t>(dataSize))});
    }
    return entries;
}

}  // namespace

AssetPackage& AssetPackage::instance() {
    static AssetPackage package;
    return package;
}

void AssetPackage::load(const std::string& path) {
    if (loaded_) {
        throw std::logic_error("Asset package already loaded");
    }
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file.is_open()) {
        throw std::runtime_error("Failed to open asset file: " + path);
    }
    // Only a regular file has a size to trust: a folder opens fine on Linux
    // but reports an end position near 2^63, which would be allocated.
    std::error_code ec;
    const bool regular = std::filesystem::is_regular_file(path, ec);
    const std::streamoff size = file.tellg();
    if (!regular || size <= 0) {
        throw std::runtime_error("Pak file empty or unreadable");
    }

    std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
    file.seekg(0, std::ios::beg);
    file.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(size));
    if (!file || file.gcount() != static_cast<std::streamsize>(size)) {
        throw std::runtime_error("Failed to read entire asset file");
    }

    // Build everything first and take it over only when it all checked out,
    // so a failed load leaves the package as empty as it was.
    std::vector<AssetEntry> entries = parse(data);
    // Moving a vector keeps its buffer, so the entries' views stay valid.
    data_ = std::move(data);
    entries_ = std::move(entries);
    loaded_ = true;
}

std::optional<AssetEntry> AssetPackage::find(std::string_view name) const {
    // std::string_view compares like memcmp (bytes as unsigned), then by
    // length: the order the package's table is sorted in.
    const auto it = std::lower_bound(entries_.begin(), entries_.end(), name,
                                     [](const AssetEntry& entry, std::string_view key) { return entry.name < key; });
    if (it != entries_.end() && it->name == name) {
        return *it;
    }
    return std::nullopt;
}

}  // namespace vemo

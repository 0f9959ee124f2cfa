#include "PakWriter.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace vemo::mkpak {

namespace {

constexpr std::uint32_t kMagic = 0x4B415056;  // "VPAK" read little-endian
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeaderSize = 40;
constexpr std::size_t kEntrySize = 24;

void putU32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

void putU64(std::vector<std::uint8_t>& out, std::size_t at, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) {
        out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

}  // namespace

std::vector<std::uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot open " + path.string());
    }
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return bytes;
}

std::vector<PakFile> collectFolder(const std::filesystem::path& root) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_directory(root, ec)) {
        throw std::runtime_error("not a folder: " + root.string());
    }
    std::vector<PakFile> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) {
            files.push_back(PakFile{entry.path().lexically_relative(root).generic_string(), readFile(entry.path())});
        }
    }
    return files;
}

std::vector<std::uint8_t> buildPackage(std::vector<PakFile> files) {
    // std::string orders like memcmp (bytes as unsigned), shorter first on a
    // common prefix: exactly the reader's lookup order.
    std::sort(files.begin(), files.end(), [](const PakFile& a, const PakFile& b) { return a.name < b.name; });
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string& name = files[i].name;
        if (name.empty()) {
            throw std::runtime_error("empty asset name");
        }
        if (name.find('\0') != std::string::npos) {
            throw std::runtime_error("asset name contains a zero byte: " + name);
        }
        // The reader would only ever find the first of two equal names.
        if (i > 0 && files[i - 1].name == name) {
            throw std::runtime_error("asset name given twice: " + name);
        }
    }

    const std::size_t tableOffset = kHeaderSize;
    const std::size_t namesOffset = tableOffset + files.size() * kEntrySize;
    std::size_t namesSize = 0;
    for (const PakFile& f : files) {
        namesSize += f.name.size() + 1;
    }
    // The reader wants the names blob to start inside the file even when
    // there are no names; one zero byte keeps an empty package readable.
    namesSize = std::max<std::size_t>(namesSize, 1);
    std::size_t total = namesOffset + namesSize;
    for (const PakFile& f : files) {
        total += f.bytes.size();
    }

    std::vector<std::uint8_t> out(total, 0);
    putU32(out, 0, kMagic);
    putU32(out, 4, kVersion);
    putU64(out, 8, files.size());
    putU64(out, 16, tableOffset);
    putU64(out, 24, namesOffset);
    // Bytes 32..39 are reserved and stay zero.

    std::size_t nameAt = namesOffset;
    std::size_t dataAt = namesOffset + namesSize;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const PakFile& f = files[i];
        const std::size_t record = tableOffset + i * kEntrySize;
        putU64(out, record, nameAt - namesOffset);
        putU64(out, record + 8, dataAt);
        putU64(out, record + 16, f.bytes.size());
        std::copy(f.name.begin(), f.name.end(), out.begin() + static_cast<std::ptrdiff_t>(nameAt));
        nameAt += f.name.size() + 1;  // the terminator is already zero
        std::copy(f.bytes.begin(), f.bytes.end(), out.begin() + static_cast<std::ptrdiff_t>(dataAt));
        dataAt += f.bytes.size();
    }
    return out;
}

void writeFileAtomically(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::filesystem::path temporary = path;
    temporary += ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) {
            throw std::runtime_error("cannot create " + temporary.string());
        }
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            throw std::runtime_error("cannot write " + temporary.string());
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw std::runtime_error("cannot replace " + path.string() + ": " + ec.message());
    }
}

}  // namespace vemo::mkpak

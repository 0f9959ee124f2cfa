// Writes asset packages ("VPAK", read by vemo::AssetPackage): collects named
// files, sorts them by name byte by byte, as the reader's binary search
// requires, and lays out header, entry table, names and data.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vemo::mkpak {

struct PakFile {
    std::string name;  // path inside the package, forward slashes
    std::vector<std::uint8_t> bytes;
};

// Every regular file below `root` (recursively), named by its path relative
// to `root` with forward slashes. Throws std::runtime_error when `root` is
// not a folder or a file cannot be read.
std::vector<PakFile> collectFolder(const std::filesystem::path& root);

// The contents of one file. Throws std::runtime_error when it cannot be read.
std::vector<std::uint8_t> readFile(const std::filesystem::path& path);

// The package image of `files` in any order. Throws std::runtime_error for
// an empty name, a name containing a zero byte, or a name given twice.
std::vector<std::uint8_t> buildPackage(std::vector<PakFile> files);

// Writes `bytes` to a temporary file beside `path` and renames it into
// place, so that an interrupted build never leaves a truncated package.
void writeFileAtomically(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

}  // namespace vemo::mkpak

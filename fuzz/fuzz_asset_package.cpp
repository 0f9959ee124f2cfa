// Loads the input as an asset package file, through the file as the program
// does at start-up. A package the loader refuses leaves it empty and ready
// for another load; one it takes has every entry inside the file (the
// address sanitizer watches the reads below), finds each entry of a table
// in lookup order under its name (the first of equal names), and written
// again by vemo-mkpak's writer loads back to the same names and contents.
#include "vemo/core/AssetPackage.h"

#include "PakWriter.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// In memory when the machine has a tmpfs at /dev/shm: a file on disk,
// truncated and written again for every input, made each execution wait
// for the disk while other work wrote to it (about 120 executions a second).
std::filesystem::path scratchFolder() {
    std::error_code error;
    if (std::filesystem::is_directory("/dev/shm", error)) return "/dev/shm";
    return std::filesystem::temp_directory_path();
}

// One file per process: libFuzzer's -fork and -jobs run several at once.
class Scratch {
public:
    Scratch() : path_(scratchFolder() / ("fuzz_asset_package." + std::to_string(::getpid()) + ".pak")) {}
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    const std::string& write(const uint8_t* data, size_t size) {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        out.close();
        if (!out) std::abort();
        text_ = path_.string();
        return text_;
    }

private:
    std::filesystem::path path_;
    std::string text_;
};

uint64_t touch(const vemo::AssetEntry& e) {
    uint64_t sum = e.name.size();
    for (const char c : e.name) sum += static_cast<uint8_t>(c);
    for (const uint8_t b : e.data) sum += b;
    return sum;
}

bool inLookupOrder(const std::vector<vemo::AssetEntry>& entries) {
    return std::is_sorted(entries.begin(), entries.end(),
                          [](const vemo::AssetEntry& a, const vemo::AssetEntry& b) { return a.name < b.name; });
}

void checkLoaded(const vemo::AssetPackage& package, Scratch& scratch) {
    const std::vector<vemo::AssetEntry>& entries = package.entries();
    volatile uint64_t sum = 0;
    for (const vemo::AssetEntry& e : entries) sum = sum + touch(e);

    if (!inLookupOrder(entries)) {
        return;  // the writer never makes such a table; lookups in it promise nothing
    }
    std::set<std::string_view> seen;
    std::vector<vemo::mkpak::PakFile> files;
    for (const vemo::AssetEntry& e : entries) {
        const auto found = package.find(e.name);
        if (!found || found->name != e.name) std::abort();
        if (!seen.insert(e.name).second) continue;
        // The first of equal names is the one found.
        if (found->data.data() != e.data.data() || found->data.size() != e.data.size()) std::abort();
        if (!e.name.empty() && e.name.find('\0') == std::string_view::npos) {
            files.push_back({std::string(e.name), std::vector<uint8_t>(e.data.begin(), e.data.end())});
        }
    }

    // What the writer makes of those entries reads back the same.
    const std::vector<uint8_t> image = vemo::mkpak::buildPackage(files);
    vemo::AssetPackage again;
    again.load(scratch.write(image.data(), image.size()));
    if (again.entries().size() != files.size()) std::abort();
    for (const vemo::mkpak::PakFile& f : files) {
        const auto found = again.find(f.name);
        if (!found || !std::equal(found->data.begin(), found->data.end(), f.bytes.begin(), f.bytes.end())) {
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Scratch scratch;
    vemo::AssetPackage package;
    try {
        package.load(scratch.write(data, size));
    } catch (const std::runtime_error&) {
        if (!package.entries().empty()) std::abort();
        // Refused, the package is still unloaded: the next load may succeed.
        static const std::vector<uint8_t> empty = vemo::mkpak::buildPackage({});
        package.load(scratch.write(empty.data(), empty.size()));
        return 0;
    }
    checkLoaded(package, scratch);
    return 0;
}

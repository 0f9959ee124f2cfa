// The asset package reader: every malformation it must refuse, with its
// exact message, and lookups that rely on the byte-wise order of names.
#include "vemo/core/AssetPackage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using vemo::AssetPackage;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kMax = ~std::uint64_t{0};

void putU32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void putU64(Bytes& b, std::size_t at, std::uint64_t v) {
    for (std::size_t i = 0; i < 8; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct Asset {
    std::string name;
    std::string data;
};

// A well-formed package holding `assets` in the given table order (so tests
// can also build unsorted or duplicate tables): header, table, names, data.
// Header and entry fields sit at fixed offsets that tests overwrite to
// break one thing at a time.
Bytes makePak(const std::vector<Asset>& assets) {
    const std::size_t table = 40;
    const std::size_t names = table + 24 * assets.size();
    std::size_t namesSize = 0;
    for (const Asset& a : assets) namesSize += a.name.size() + 1;
    if (namesSize == 0) namesSize = 1;
    Bytes b(names + namesSize, 0);
    b[0] = 'V';
    b[1] = 'P';
    b[2] = 'A';
    b[3] = 'K';
    putU32(b, 4, 1);
    putU64(b, 8, assets.size());
    putU64(b, 16, table);
    putU64(b, 24, names);
    std::size_t nameAt = 0;
    for (std::size_t i = 0; i < assets.size(); ++i) {
        const Asset& a = assets[i];
        std::copy(a.name.begin(), a.name.end(), b.begin() + static_cast<std::ptrdiff_t>(names + nameAt));
        putU64(b, table + 24 * i, nameAt);
        putU64(b, table + 24 * i + 8, b.size());
        putU64(b, table + 24 * i + 16, a.data.size());
        b.insert(b.end(), a.data.begin(), a.data.end());
        nameAt += a.name.size() + 1;
    }
    return b;
}

// Offsets of the fields of entry `i` in a package made by makePak.
std::size_t nameOffsetField(std::size_t i) { return 40 + 24 * i; }
std::size_t dataOffsetField(std::size_t i) { return 40 + 24 * i + 8; }
std::size_t dataSizeField(std::size_t i) { return 40 + 24 * i + 16; }

class AssetPackageTest : public ::testing::Test {
protected:
    std::string writeFile(const Bytes& bytes) {
        static std::atomic<int> counter{0};
        const std::filesystem::path path =
            std::filesystem::path(::testing::TempDir()) /
            ("vemo_pak_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + ".pak");
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        files_.push_back(path);
        return path.string();
    }

    // The message load() fails with, or "" when it succeeds.
    std::string loadError(const Bytes& bytes) {
        AssetPackage pak;
        try {
            pak.load(writeFile(bytes));
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "";
    }

    void TearDown() override {
        for (const auto& f : files_) std::filesystem::remove(f);
    }

    std::vector<std::filesystem::path> files_;
};

std::string dataOf(const vemo::AssetEntry& e) { return std::string(e.data.begin(), e.data.end()); }

struct BadPak {
    const char* what;
    Bytes bytes;
    const char* message;
};

std::vector<BadPak> badPackages() {
    const Bytes one = makePak({{"icons/tag.svg", "<svg/>"}});
    const Bytes two = makePak({{"a", "1"}, {"b", "22"}});
    std::vector<BadPak> rows;
    auto with = [&](const char* what, Bytes b, auto&& change, const char* message) {
        change(b);
        rows.push_back({what, std::move(b), message});
    };
    rows.push_back({"39 bytes", Bytes(one.begin(), one.begin() + 39), "asset file too small"});
    // clang-format off
    with("magic VPAC", one, [](Bytes& b) { b[3] = 'C'; }, "Bad magic (not VPAK)");
    with("magic byte-swapped", one, [](Bytes& b) { putU32(b, 0, 0x5650414B); }, "Bad magic (not VPAK)");
    with("version 2, all else valid", one, [](Bytes& b) { putU32(b, 4, 2); }, "Unsupported pak version");
    with("version 0", one, [](Bytes& b) { putU32(b, 4, 0); }, "Unsupported pak version");
    with("table one byte too long", one, [](Bytes& b) { b.resize(40 + 23); putU64(b, 24, 40); },
         "Pak out of range while reading entries table");
    with("table offset wraps", one, [](Bytes& b) { putU64(b, 16, kMax - 7); },
         "Pak out of range while reading entries table");
    // 0x0AAAAAAAAAAAAAAB * 24 wraps to 8: a naive product lets the table pass.
    with("count * 24 wraps", one, [](Bytes& b) { putU64(b, 8, 0x0AAAAAAAAAAAAAABull); },
         "Pak out of range while reading entries table");
    with("names at the end", one, [](Bytes& b) { putU64(b, 24, b.size()); },
         "Pak out of range while reading names blob");
    with("names offset huge", one, [](Bytes& b) { putU64(b, 24, kMax); },
         "Pak out of range while reading names blob");
    with("name starts at the end", one, [](Bytes& b) { putU64(b, nameOffsetField(0), b.size() - 64); },
         "Pak out of range while reading name string start");
    // names offset (64) + name offset wraps to 0, which is inside the file.
    with("name start wraps to 0", one, [](Bytes& b) { putU64(b, nameOffsetField(0), kMax - 63); },
         "Pak out of range while reading name string start");
    with("data one byte too long", one, [](Bytes& b) { putU64(b, dataSizeField(0), 7); },
         "Pak out of range while reading file data");
    with("data offset wraps", one, [](Bytes& b) { putU64(b, dataOffsetField(0), kMax - 2); },
         "Pak out of range while reading file data");
    with("data size wraps", one, [](Bytes& b) { putU64(b, dataSizeField(0), kMax); },
         "Pak out of range while reading file data");
    with("bad name is reported before bad data", one,
         [](Bytes& b) {
             putU64(b, nameOffsetField(0), 1000);
             putU64(b, dataSizeField(0), 1000);
         },
         "Pak out of range while reading name string start");
    with("second entry's data is checked too", two, [](Bytes& b) { putU64(b, dataSizeField(1), 3); },
         "Pak out of range while reading file data");
    // The name's last character is the last byte of the file: no terminator.
    with("unterminated name", one,
         [](Bytes& b) {
             b.push_back('x');
             putU64(b, nameOffsetField(0), b.size() - 1 - 64);
         },
         "Unterminated name in pak");
    // clang-format on
    return rows;
}

TEST_F(AssetPackageTest, RefusesEveryMalformationWithItsMessage) {
    for (const BadPak& row : badPackages()) {
        EXPECT_EQ(loadError(row.bytes), row.message) << row.what;
    }
}

TEST_F(AssetPackageTest, BaselineOfTheMalformationTableLoads) {
    // Guards the table above: each row breaks exactly one thing of these.
    EXPECT_EQ(loadError(makePak({{"icons/tag.svg", "<svg/>"}})), "");
    EXPECT_EQ(loadError(makePak({{"a", "1"}, {"b", "22"}})), "");
}

TEST_F(AssetPackageTest, FileProblemsHaveTheirOwnMessages) {
    const std::string missing = (std::filesystem::path(::testing::TempDir()) / "no_such_dir/assets.pak").string();
    AssetPackage pak;
    try {
        pak.load(missing);
        FAIL() << "missing file loaded";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Failed to open asset file: " + missing);
    }

    EXPECT_EQ(loadError({}), "Pak file empty or unreadable");

    // A folder opens on Linux and claims an end position near 2^63.
    try {
        pak.load(::testing::TempDir());
        FAIL() << "folder loaded";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Pak file empty or unreadable");
    }
    EXPECT_TRUE(pak.entries().empty());
}

TEST_F(AssetPackageTest, FileThatReadsShorterThanItsSizeIsAReadFailure) {
    // sysfs attributes report 4096 bytes but deliver only their text.
    const char* attribute = "/sys/kernel/mm/transparent_hugepage/enabled";
    if (!std::filesystem::exists(attribute)) GTEST_SKIP() << attribute << " not available";
    AssetPackage pak;
    try {
        pak.load(attribute);
        FAIL() << "short read accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Failed to read entire asset file");
    }
}

TEST_F(AssetPackageTest, HeaderOnlyPackageNeedsItsNamesBlobInsideTheFile) {
    Bytes header(40, 0);
    header[0] = 'V';
    header[1] = 'P';
    header[2] = 'A';
    header[3] = 'K';
    putU32(header, 4, 1);
    putU64(header, 16, 40);
    putU64(header, 24, 39);

    AssetPackage pak;
    pak.load(writeFile(header));
    EXPECT_TRUE(pak.entries().empty());
    EXPECT_FALSE(pak.find("").has_value());
    EXPECT_FALSE(pak.find("icons/tag.svg").has_value());

    putU64(header, 24, 40);
    EXPECT_EQ(loadError(header), "Pak out of range while reading names blob");
}

TEST_F(AssetPackageTest, EmptyAssetAtTheVeryEndYieldsAnEmptyView) {
    Bytes b = makePak({{"empty", ""}});
    ASSERT_EQ(b.size(), 40u + 24 + 6);
    AssetPackage pak;
    pak.load(writeFile(b));
    const auto e = pak.find("empty");
    ASSERT_TRUE(e.has_value());
    EXPECT_TRUE(e->data.empty());
}

TEST_F(AssetPackageTest, NameMayEndOutsideTheNamesBlob) {
    // Names "a\0c\0" at 88..91, then the data: "b\0" at 92..93 for the first
    // entry and nothing for the second. Point the second name into the first
    // entry's data: it reads "b", terminated by the file's last byte.
    Bytes b = makePak({{"a", std::string("b\0", 2)}, {"c", ""}});
    ASSERT_EQ(b.size(), 94u);
    putU64(b, nameOffsetField(1), 92 - 88);

    AssetPackage pak;
    pak.load(writeFile(b));
    ASSERT_EQ(pak.entries().size(), 2u);
    EXPECT_EQ(pak.entries()[1].name, "b");
    EXPECT_TRUE(pak.find("b").has_value());
}

TEST_F(AssetPackageTest, FindsExactNamesOnlyInByteOrder) {
    // Sorted byte-wise: 'Z' < 'a' < "icons/..." < 0xC3 (the first byte of é),
    // and a name before the longer name it prefixes.
    const std::vector<Asset> assets = {
        {"Z", "upper"},
        {"a", "lower"},
        {"fonts/montserrat-font/MontserratMedium.ttf", "ttf"},
        {"icons/folder.svg", "folder"},
        {"icons/tag.svg", "tag"},
        {"icons/tag.svgz", "tag-z"},
        {"\xC3\xA9t\xC3\xA9", "utf8"},
    };
    AssetPackage pak;
    pak.load(writeFile(makePak(assets)));
    ASSERT_EQ(pak.entries().size(), assets.size());

    for (const Asset& a : assets) {
        const auto e = pak.find(a.name);
        ASSERT_TRUE(e.has_value()) << a.name;
        EXPECT_EQ(e->name, a.name);
        EXPECT_EQ(dataOf(*e), a.data);
    }
    for (const char* absent :
         {"", "icons/tag.sv", "icons/tag.svgzz", "icons", "icons/", "b", "z", "\xC3\xA9", "icons/tag.svg ", "ZZ"}) {
        EXPECT_FALSE(pak.find(absent).has_value()) << absent;
    }
}

TEST_F(AssetPackageTest, DuplicateNamesFindTheFirstInTableOrder) {
    AssetPackage pak;
    pak.load(writeFile(makePak({{"a", "0"}, {"dup", "first"}, {"dup", "second"}, {"dup", "third"}, {"z", "9"}})));
    const auto e = pak.find("dup");
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(dataOf(*e), "first");
}

TEST_F(AssetPackageTest, UnsortedTableLoadsButTheSearchMissesWhatIsOutOfOrder) {
    // The writer sorts; a package from elsewhere that does not is accepted,
    // and the search, which trusts the order, passes over "a" behind "z".
    AssetPackage pak;
    pak.load(writeFile(makePak({{"m", "1"}, {"z", "2"}, {"a", "3"}})));
    EXPECT_EQ(pak.entries().size(), 3u);
    EXPECT_FALSE(pak.find("a").has_value());
    ASSERT_TRUE(pak.find("m").has_value());
    EXPECT_EQ(dataOf(*pak.find("m")), "1");
}

TEST_F(AssetPackageTest, FailedLoadLeavesThePackageEmptyAndUsable) {
    Bytes bad = makePak({{"a", "1"}, {"b", "2"}});
    putU64(bad, dataSizeField(1), 99);  // first entry fine, second broken
    AssetPackage pak;
    EXPECT_THROW(pak.load(writeFile(bad)), std::runtime_error);
    EXPECT_TRUE(pak.entries().empty());
    EXPECT_FALSE(pak.find("a").has_value());

    pak.load(writeFile(makePak({{"a", "1"}})));
    EXPECT_TRUE(pak.find("a").has_value());
}

TEST_F(AssetPackageTest, SecondLoadIsRefusedAndKeepsTheViewsValid) {
    AssetPackage pak;
    pak.load(writeFile(makePak({{"icons/tag.svg", "first"}})));
    const auto before = pak.find("icons/tag.svg");
    ASSERT_TRUE(before.has_value());

    EXPECT_THROW(pak.load(writeFile(makePak({{"icons/tag.svg", "second"}}))), std::logic_error);
    EXPECT_EQ(dataOf(*before), "first");
    EXPECT_EQ(dataOf(*pak.find("icons/tag.svg")), "first");
}

}  // namespace

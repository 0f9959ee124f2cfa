// vemo-mkpak writes packages that the browser's reader accepts and searches
// correctly, and the build's own assets.pak holds what the program asks for.
#include "vemo/core/AssetPackage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using vemo::AssetPackage;

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

class MkpakTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        dir_ = fs::path(::testing::TempDir()) /
               ("vemo_mkpak_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    struct Result {
        int exitCode;
        std::string stderrText;
    };

    Result mkpak(const std::vector<std::string>& args) {
        std::string command = quoted(VEMO_MKPAK);
        for (const std::string& a : args) command.append(" ").append(quoted(a));
        const fs::path errors = dir_ / "stderr.txt";
        command.append(" 2>").append(quoted(errors.string()));
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readAll(errors)};
    }

    fs::path dir_;
};

TEST_F(MkpakTest, FolderAndAddedFilesReadBackSortedAndComplete) {
    // Names chosen so that a signed or length-first sort would misplace
    // them: upper before lower case, a name before its extensions, and a
    // UTF-8 name whose first byte is above 0x7F.
    const std::map<std::string, std::string> files = {
        {"icons/tag.svg", "<svg>tag</svg>"},
        {"icons/tag.sv", "prefix"},
        {"icons/tag.svgz", "longer"},
        {"icons/folder.svg", "<svg>folder</svg>"},
        {"Zeta", "upper"},
        {"alpha", "lower"},
        {"\xC3\xA9tiquette.bin", std::string("\0\xFF\0binary", 9)},
        {"empty.bin", ""},
        {"deep/er/still/leaf.txt", "leaf"},
    };
    const fs::path source = dir_ / "source";
    for (const auto& [name, bytes] : files) writeAll(source / name, bytes);
    writeAll(dir_ / "font.ttf", "not really a font");

    const fs::path pak = dir_ / "out.pak";
    const Result r =
        mkpak({"-o", pak.string(), "--add",
               "fonts/montserrat-font/MontserratMedium.ttf=" + (dir_ / "font.ttf").string(), source.string()});
    ASSERT_EQ(r.exitCode, 0) << r.stderrText;
    EXPECT_FALSE(fs::exists(pak.string() + ".tmp"));

    AssetPackage reader;
    reader.load(pak.string());
    const auto& entries = reader.entries();
    ASSERT_EQ(entries.size(), files.size() + 1);
    for (std::size_t i = 1; i < entries.size(); ++i) {
        // string_view orders bytes as unsigned: the reader's lookup order.
        EXPECT_LT(entries[i - 1].name, entries[i].name) << i;
    }
    for (const auto& [name, bytes] : files) {
        const auto e = reader.find(name);
        ASSERT_TRUE(e.has_value()) << name;
        EXPECT_EQ(std::string(e->data.begin(), e->data.end()), bytes) << name;
    }
    const auto font = reader.find("fonts/montserrat-font/MontserratMedium.ttf");
    ASSERT_TRUE(font.has_value());
    EXPECT_EQ(std::string(font->data.begin(), font->data.end()), "not really a font");
}

TEST_F(MkpakTest, EmptyFolderGivesAReadablePackage) {
    fs::create_directories(dir_ / "nothing");
    const fs::path pak = dir_ / "empty.pak";
    const Result r = mkpak({"-o", pak.string(), (dir_ / "nothing").string()});
    ASSERT_EQ(r.exitCode, 0) << r.stderrText;

    AssetPackage reader;
    reader.load(pak.string());
    EXPECT_TRUE(reader.entries().empty());
    EXPECT_FALSE(reader.find("icons/tag.svg").has_value());
}

TEST_F(MkpakTest, RefusesBadInputWithoutWritingAPackage) {
    writeAll(dir_ / "source/x", "from the folder");
    writeAll(dir_ / "other", "from --add");
    const std::string pak = (dir_ / "out.pak").string();
    const std::string other = (dir_ / "other").string();
    const std::string missing = (dir_ / "missing").string();
    struct Row {
        std::vector<std::string> args;
        std::string error;  // expected start of standard error
    };
    const Row rows[] = {
        {{"-o", pak, "--add", std::string("x=") + other, (dir_ / "source").string()},
         "vemo-mkpak: asset name given twice: x\n"},
        {{"-o", pak, missing}, "vemo-mkpak: not a folder: "},
        {{"-o", pak, "--add", "no-equals-sign"}, "vemo-mkpak: --add expects NAME=FILE, got: no-equals-sign\n"},
        {{"-o", pak, "--add", std::string("=") + other}, "vemo-mkpak: --add expects NAME=FILE"},
        {{"-o", pak, "--add", std::string("name=") + missing}, "vemo-mkpak: cannot open "},
        {{(dir_ / "source").string()}, ""},  // no output named: the parser's own message
    };
    for (const Row& row : rows) {
        const Result r = mkpak(row.args);
        EXPECT_NE(r.exitCode, 0) << row.error;
        EXPECT_EQ(r.stderrText.substr(0, row.error.size()), row.error);
        EXPECT_FALSE(fs::exists(pak)) << row.error;
    }
}

TEST(ShippedAssets, BuildWritesEveryAssetTheProgramLooksUp) {
    AssetPackage pak;
    pak.load(VEMO_ASSET_PACKAGE);

    for (const char* svg : {"icons/vemo.svg", "icons/folder.svg", "icons/tag.svg", "icons/remove.svg"}) {
        const auto e = pak.find(svg);
        ASSERT_TRUE(e.has_value()) << svg;
        EXPECT_NE(std::string(e->data.begin(), e->data.end()).find("<svg"), std::string::npos) << svg;
    }

    const auto png = pak.find("icons/loading.png");
    ASSERT_TRUE(png.has_value());
    ASSERT_GT(png->data.size(), 24u);
    EXPECT_LT(png->data.size(), 20u * 1024);
    const std::string bytes(png->data.begin(), png->data.end());
    EXPECT_EQ(bytes.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(bytes.substr(12, 4), "IHDR");
    // Width and height, big-endian, as the spinner's source was rendered.
    EXPECT_EQ(bytes.substr(16, 8), std::string("\0\0\0\x80\0\0\0\x80", 8));

    const auto font = pak.find("fonts/montserrat-font/MontserratMedium.ttf");
    ASSERT_TRUE(font.has_value());
    EXPECT_EQ(std::string(font->data.begin(), font->data.end()), readAll(VEMO_FONT_FILE));

    // The font's licence travels with it whenever the system has the text.
    const char* licence = "/usr/share/doc/fonts-lato/copyright";
    if (fs::exists(licence)) {
        const auto text = pak.find("licenses/fonts-lato.txt");
        ASSERT_TRUE(text.has_value());
        EXPECT_EQ(std::string(text->data.begin(), text->data.end()), readAll(licence));
    }
}

}  // namespace

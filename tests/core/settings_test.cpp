// The files the program keeps for the operator: the settings and the watch
// lists. Each reads back what was written; a missing settings file is the
// defaults; a file that is not one, or of a newer format, is reported by
// its name and what is wrong and left as it is; and the settings are saved
// once they stop changing, not at every change.
#include "vemo/core/Settings.h"
#include "vemo/core/WatchListFile.h"

#include "app_test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using vemo::ControllerAddress;
using vemo::DisplayFormat;
using vemo::Settings;
using vemo::SettingsStore;
using vemo::UserFileError;
using vemo::WatchList;
using vemo::test::readText;
using vemo::test::ScopedEnv;
using vemo::test::TempDir;
using vemo::test::writeText;
using Kind = UserFileError::Kind;

Settings everyField() {
    Settings s;
    s.address = {"plc-7.example", 10102};
    s.recent = {{"plc-7.example", 10102}, {"192.168.0.10", 102}, {"::1", 4102}};
    s.windowWidth = 1024;
    s.windowHeight = 700;
    s.treeWidth = 312.5f;
    s.inspectorColumnWidths = {210.0f, 96.0f, 88.25f, 140.0f, 112.0f, 24.0f};
    s.uiScale = 1.25f;
    s.watchList = "/home/op/lists/line 3 (ü).json";
    return s;
}

// Expects `call` to throw a UserFileError of `kind` whose text names `file`
// first and then says `says`.
void expectFileError(const std::function<void()>& call, const fs::path& file, Kind kind, const std::string& says) {
    try {
        call();
        ADD_FAILURE() << "no error";
    } catch (const UserFileError& e) {
        EXPECT_EQ(e.kind(), kind) << e.what();
        EXPECT_EQ(std::string(e.what()).rfind(file.string() + ": ", 0), 0u) << e.what();
        EXPECT_NE(std::string(e.what()).find(says), std::string::npos) << e.what();
    }
}

TEST(Settings, ReadBackAsWrittenAndAMissingOrEmptyFileIsTheDefaults) {
    const TempDir dir;
    const fs::path file = dir.path() / "new" / "folder" / "settings.json";
    EXPECT_EQ(Settings::read(file), Settings{});
    everyField().write(file);
    EXPECT_EQ(Settings::read(file), everyField());
    // Only this user reads where the controllers are.
    struct stat folder {};
    ASSERT_EQ(::stat(file.parent_path().c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);

    // Unset fields stay unset; fields of a later version of this format are
    // no reason to refuse the file.
    writeText(file, R"({"version": 1, "host": "10.0.0.5", "someday": {"x": 1}})");
    Settings expected;
    expected.address.host = "10.0.0.5";
    EXPECT_EQ(Settings::read(file), expected);
    writeText(file, "\n");
    EXPECT_EQ(Settings::read(file), Settings{});
}

TEST(Settings, AFileThatIsNoSettingsIsReportedByNameAndWhatIsWrong) {
    const struct {
        std::string text;
        Kind kind;
        std::string says;
    } cases[] = {
        {R"({"version": 1, "host": )", Kind::Damaged, "not valid JSON"},
        {"[1, 2]", Kind::Damaged, "not a JSON object"},
        {R"({"host": "10.0.0.5"})", Kind::Damaged, "no format \"version\" number"},
        {R"({"version": 2, "host": "10.0.0.5"})", Kind::TooNew, "format version 2 is newer than this program reads (1)"},
        {R"({"version": 1, "host": 5})", Kind::Damaged, "\"host\" is not a text"},
        {R"({"version": 1, "port": "102"})", Kind::Damaged, "\"port\" is not a number from 1 to 65535"},
        {R"({"version": 1, "recent": [{"host": "a", "port": 102}, {"host": "b"}]})", Kind::Damaged,
         "recent controller 2: no \"port\""},
        {R"({"version": 1, "recent": ["a"]})", Kind::Damaged, "recent controller 1: not an object"},
        {R"({"version": 1, "windowWidth": true})", Kind::Damaged, "\"windowWidth\" is not a size in pixels"},
        {R"({"version": 1, "treeWidth": "wide"})", Kind::Damaged, "\"treeWidth\" is not a number above 0"},
        {R"({"version": 1, "uiScale": [1]})", Kind::Damaged, "\"uiScale\" is not a number above 0"},
        // Too large for a double: the parser's own exception once escaped
        // and stopped the program; now it is the file's fault, and where.
        {R"({"version": 1, "treeWidth": 1e400})", Kind::Damaged, "the number 1e400 at byte 29 is too large"},
        {R"({"version": 1e400})", Kind::Damaged, "the number 1e400 at byte"},
        {"{\"version\": 1, \"host\": \"a\xff\"}", Kind::Damaged,
         "not valid JSON (the text breaks off or goes wrong at byte 26)"},
        {R"({"version": 1, "inspectorColumnWidths": [100, null]})", Kind::Damaged,
         "\"inspectorColumnWidths\" is not a list of numbers above 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const TempDir dir;
        const fs::path file = dir.path() / "settings.json";
        writeText(file, c.text);
        expectFileError([&] { Settings::read(file); }, file, c.kind, c.says);
    }
}

// A number of the right kind out of its range costs that value alone: the
// others are read, the file is named with the field, and the next save
// writes a file that reads back whole. (1e300 pixels was once read as
// infinity, saved as null, and from then on the file was never read again.)
TEST(Settings, AValueOutOfItsRangeIsLeftOutAlone) {
    const struct {
        std::string fields;
        std::string says;
    } cases[] = {
        {R"("port": 70000)", "\"port\" is not a number from 1 to 65535: 70000"},
        {R"("port": 1e300)", "\"port\" is not a number from 1 to 65535: 1e+300"},
        {R"("windowWidth": 0)", "\"windowWidth\" is not a size in pixels from 1 to 100000: 0"},
        {R"("windowHeight": 1e300)", "\"windowHeight\" is not a size in pixels from 1 to 100000: 1e+300"},
        {R"("treeWidth": 1e300)", "\"treeWidth\" is not a number above 0 and at most 100000: 1e+300"},
        {R"("treeWidth": 1e39)", "\"treeWidth\" is not a number above 0 and at most 100000: 1e+39"},
        {R"("uiScale": -1)", "\"uiScale\" is not a number above 0 and at most 10: -1"},
        {R"("inspectorColumnWidths": [100, 1e300])", "\"inspectorColumnWidths\" is not a list of numbers above 0"},
        {R"("recent": [{"host": "a", "port": 0}, {"host": "b", "port": 102}])",
         "recent controller 1: \"port\" is not a number from 1 to 65535: 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fields);
        const TempDir dir;
        const fs::path file = dir.path() / "settings.json";
        writeText(file, R"({"version": 1, "host": "10.0.0.5", )" + c.fields + R"(, "uiScale2": 0})");
        std::vector<std::string> refused;
        const Settings read = Settings::read(file, &refused);
        EXPECT_EQ(read.address.host, "10.0.0.5") << "the rest is read";
        EXPECT_EQ(read.address.port, 102);
        EXPECT_FALSE(read.treeWidth);
        EXPECT_FALSE(read.windowWidth);
        EXPECT_FALSE(read.windowHeight);
        EXPECT_TRUE(read.inspectorColumnWidths.empty());
        EXPECT_FALSE(read.uiScale);
        ASSERT_EQ(refused.size(), 1u);
        EXPECT_EQ(refused[0].rfind(file.string() + ": " + c.says, 0), 0u) << refused[0];

        SettingsStore store(file);
        EXPECT_EQ(store.load(), std::nullopt);
        EXPECT_EQ(store.refused(), refused);
        Settings changed = store.settings();
        changed.windowWidth = 800;
        store.update(changed);
        EXPECT_EQ(store.flush(), std::nullopt) << "the file is still written";
        std::vector<std::string> again;
        EXPECT_EQ(Settings::read(file, &again), changed);
        EXPECT_TRUE(again.empty()) << again.front();
    }
}

// A host or a watch list path that is not UTF-8 (a path is any bytes) is
// saved - not a reason to throw while saving - and reads back exactly.
TEST(Settings, TextsThatAreNotUtf8ReadBackExactly) {
    Settings s = everyField();
    s.address.host = "plc-\xff";
    s.recent = {{"plc-\xfe\xff", 102}};
    s.watchList = "/home/op/lists/\xe9t\xe9.json";
    const TempDir dir;
    const fs::path file = dir.path() / "settings.json";
    s.write(file);
    EXPECT_EQ(Settings::read(file), s);
    const std::string text = readText(file);
    EXPECT_NE(text.find("\"watchListBytes\": \"2f686f6d652f6f702f6c697374732fe974e92e6a736f6e\""), std::string::npos)
        << text;
}

// A hand-edited list of recent controllers: the first ten, once each.
TEST(Settings, RecentControllersAreTheLatestTenEachOnce) {
    Settings s;
    for (int i = 0; i < 12; ++i) s.rememberConnection({"10.0.0." + std::to_string(i), 102});
    s.rememberConnection({"10.0.0.5", 102});
    ASSERT_EQ(s.recent.size(), Settings::kMaxRecent);
    EXPECT_EQ(s.recent[0], (ControllerAddress{"10.0.0.5", 102}));
    EXPECT_EQ(s.recent[1], (ControllerAddress{"10.0.0.11", 102}));
    EXPECT_EQ(s.recent[9], (ControllerAddress{"10.0.0.2", 102})) << "moving one up drops none";
    s.rememberConnection({"10.0.0.5", 103});
    EXPECT_EQ(s.recent[1], (ControllerAddress{"10.0.0.5", 102})) << "another port is another controller";

    const TempDir dir;
    std::string list;
    for (int i = 0; i < 12; ++i) list += R"({"host": "h)" + std::to_string(i % 11) + R"(", "port": 102},)";
    writeText(dir.path() / "s.json", R"({"version": 1, "recent": [)" + list.substr(0, list.size() - 1) + "]}");
    const Settings read = Settings::read(dir.path() / "s.json");
    ASSERT_EQ(read.recent.size(), Settings::kMaxRecent);
    EXPECT_EQ(read.recent.back().host, "h9");
}

TEST(Settings, TheDefaultFileIsInTheUsersConfigFolder) {
    const struct {
        std::optional<std::string> xdg;
        std::string expected;
    } cases[] = {
        {"/cfg/xdg", "/cfg/xdg/vemo-s7-browser/settings.json"},
        {std::nullopt, "/home/op/.config/vemo-s7-browser/settings.json"},
        {"relative/cfg", "/home/op/.config/vemo-s7-browser/settings.json"},
    };
    const ScopedEnv home("HOME", "/home/op");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.xdg.value_or("(unset)"));
        const ScopedEnv xdg("XDG_CONFIG_HOME", c.xdg);
        EXPECT_EQ(Settings::defaultPath(), fs::path(c.expected));
    }
    const ScopedEnv data("XDG_DATA_HOME", "/data");
    EXPECT_EQ(WatchList::defaultFolder(), fs::path("/data/vemo-s7-browser/watch-lists"));
}

TEST(UiScale, FollowsTheDisplayAndStepsThroughTheOfferedScales) {
    const std::pair<float, float> fromDpi[] = {{96.0f, 1.0f},  {144.0f, 1.5f},  {192.0f, 2.0f}, {400.0f, 2.0f},
                                               {60.0f, 0.8f},  {120.0f, 1.25f}, {0.0f, 1.0f},   {-5.0f, 1.0f},
                                               {std::nanf(""), 1.0f}};
    for (const auto& [dpi, scale] : fromDpi) EXPECT_FLOAT_EQ(vemo::uiScaleForDpi(dpi), scale) << dpi;

    const struct {
        float from;
        int steps;
        float to;
    } steps[] = {
        {1.0f, 1, 1.1f},   {1.0f, -1, 0.9f},  {2.0f, 1, 2.0f},  {0.8f, -1, 0.8f}, {1.0f, 3, 1.5f},
        {1.3f, 1, 1.5f},   {1.3f, -1, 1.25f}, {1.3f, 0, 1.25f}, {5.0f, -1, 2.0f}, {0.1f, 1, 0.8f},
        {1.0f, -9, 0.8f},
    };
    for (const auto& s : steps) {
        EXPECT_FLOAT_EQ(vemo::stepUiScale(s.from, s.steps), s.to) << s.from << " " << s.steps;
    }
}

// The store with a clock of the test's own.
class SettingsStoreTest : public ::testing::Test {
protected:
    std::chrono::steady_clock::time_point now_{};
    TempDir dir_;
    fs::path file_ = dir_.path() / "cfg" / "settings.json";
    SettingsStore store_{file_, [this] { return now_; }};
};

TEST_F(SettingsStoreTest, AChangeIsSavedOnceItHasStoppedChangingOrAtTheEnd) {
    EXPECT_EQ(store_.load(), std::nullopt) << "no file yet";
    Settings s;
    for (int width = 900; width < 1000; width += 10) {
        s.windowWidth = width;
        store_.update(s);
        now_ += SettingsStore::kQuietTime / 2;
        EXPECT_EQ(store_.tick(), std::nullopt);
        EXPECT_FALSE(fs::exists(file_)) << "still changing at " << width;
    }
    now_ += SettingsStore::kQuietTime;
    EXPECT_EQ(store_.tick(), std::nullopt);
    EXPECT_EQ(Settings::read(file_).windowWidth, 990);
    EXPECT_FALSE(store_.pending());

    // The same settings again are no change.
    fs::remove(file_);
    store_.update(s);
    now_ += SettingsStore::kQuietTime * 2;
    store_.tick();
    EXPECT_FALSE(fs::exists(file_));

    // The end saves a change at once.
    s.uiScale = 1.5f;
    store_.update(s);
    EXPECT_EQ(store_.flush(), std::nullopt);
    EXPECT_EQ(Settings::read(file_), s);

    SettingsStore again(file_);
    EXPECT_EQ(again.load(), std::nullopt);
    EXPECT_EQ(again.settings(), s);
}

TEST_F(SettingsStoreTest, AFileThatCannotBeReadIsTheDefaultsAndIsNeverWrittenOver) {
    for (const std::string& text : {std::string(R"({"version": 7, "host": "from the future"})"), std::string("{")}) {
        SCOPED_TRACE(text);
        fs::create_directories(file_.parent_path());
        writeText(file_, text);
        const std::optional<std::string> error = store_.load();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->rfind(file_.string() + ": ", 0), 0u) << *error;
        EXPECT_EQ(store_.settings(), Settings{});
        Settings s;
        s.address.host = "10.0.0.1";
        store_.update(s);
        EXPECT_EQ(store_.flush(), std::nullopt);
        EXPECT_EQ(readText(file_), text);
    }
}

TEST_F(SettingsStoreTest, AFailedSaveIsSaidOnceAndTheNextChangeTriesAgain) {
    writeText(dir_.path() / "cfg", "a file where the folder should be");
    Settings s;
    s.treeWidth = 300.0f;
    store_.update(s);
    const std::optional<std::string> error = store_.flush();
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("the folder cannot be made"), std::string::npos) << *error;
    EXPECT_EQ(store_.flush(), std::nullopt) << "said once";

    fs::remove(dir_.path() / "cfg");
    s.treeWidth = 320.0f;
    store_.update(s);
    EXPECT_EQ(store_.flush(), std::nullopt);
    EXPECT_EQ(Settings::read(file_).treeWidth, 320.0f);
}

TEST(WatchListFile, ReadBackAsWrittenWithEveryFormat) {
    WatchList list;
    const DisplayFormat formats[] = {DisplayFormat::Iec,    DisplayFormat::Dec,      DisplayFormat::Hex,
                                     DisplayFormat::Bin,    DisplayFormat::Signed,   DisplayFormat::Unsigned,
                                     DisplayFormat::Char};
    for (const DisplayFormat format : formats) {
        list.rows.push_back({"DB \"Line\".Motor[" + std::to_string(list.rows.size()) + "].Speed ü", "DINT", format});
    }
    const TempDir dir;
    const fs::path file = dir.path() / "lists" / "line.json";
    list.write(file);
    EXPECT_EQ(WatchList::read(file), list);
    WatchList{}.write(file);
    EXPECT_EQ(WatchList::read(file), WatchList{});
    // Only the list itself is left in the folder: no temporary files.
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);
}

// A controller may send a name that is not UTF-8. Saving it once ended the
// program (the JSON library throws on such a text); now it is kept byte for
// byte and the row finds the same name again.
TEST(WatchListFile, ANameThatIsNotUtf8IsSavedAndReadBackExactly) {
    WatchList list;
    list.rows = {{"Tank.\xff\xfe", "INT", DisplayFormat::Hex},
                 {"Line.Caf\xe9", "WORD", DisplayFormat::Bin},
                 {"Plain.Name ü", "DINT", DisplayFormat::Dec}};
    const TempDir dir;
    const fs::path file = dir.path() / "list.json";
    list.write(file);
    EXPECT_EQ(WatchList::read(file), list);
    const nlohmann::json written = nlohmann::json::parse(readText(file));
    EXPECT_EQ(written.at("rows")[0].at("nameBytes"), "54616e6b2efffe");
    EXPECT_EQ(written.at("rows")[0].at("name"), "Tank.\uFFFD\uFFFD") << "a readable form beside it";
    EXPECT_FALSE(written.at("rows")[2].contains("nameBytes")) << "a valid name is written as it is";

    writeText(file, R"({"version": 1, "rows": [{"name": "A", "nameBytes": "4", "type": "INT", "format": "DEC"}]})");
    expectFileError([&] { WatchList::read(file); }, file, Kind::Damaged,
                    "row 1: \"nameBytes\" is not bytes in hexadecimal digits");
}

TEST(WatchListFile, AFileThatIsNoWatchListIsReportedByNameAndWhatIsWrong) {
    const std::string row = R"({"name": "Tank.Level", "type": "REAL", "format": "DEC"})";
    const struct {
        std::optional<std::string> text;  // nullopt: no such file
        Kind kind;
        std::string says;
    } cases[] = {
        {std::nullopt, Kind::Unreadable, "does not exist"},
        {"", Kind::Damaged, "not valid JSON"},
        {R"({"version": 1, "rows": [)" + row, Kind::Damaged, "not valid JSON"},
        {R"({"version": 2, "rows": []})", Kind::TooNew, "format version 2 is newer than this program reads (1)"},
        {R"({"rows": []})", Kind::Damaged, "no format \"version\" number"},
        {R"({"version": 1})", Kind::Damaged, "no \"rows\" list"},
        {R"({"version": 1, "rows": [)" + row + R"(, 3]})", Kind::Damaged, "row 2: not an object"},
        {R"({"version": 1, "rows": [{"name": "", "type": "REAL", "format": "DEC"}]})", Kind::Damaged,
         "row 1: an empty \"name\""},
        {R"({"version": 1, "rows": [{"name": "A", "format": "DEC"}]})", Kind::Damaged, "row 1: no \"type\" text"},
        {R"({"version": 1, "rows": [{"name": "A", "type": "INT", "format": "OCT"}]})", Kind::Damaged,
         "row 1: \"format\" is not one of IEC, DEC, HEX, BIN, SIGNED, UNSIGNED, CHAR: OCT"},
        {R"({"version": 1, "rows": [], "zoom": 1e400})", Kind::Damaged, "the number 1e400 at byte 36 is too large"},
        {R"({"version": 1e300, "rows": []})", Kind::Damaged, "no format \"version\" number"},
        {R"({"version": 1, "rows": [{"name": 1e300, "type": "INT", "format": "DEC"}]})", Kind::Damaged,
         "row 1: no \"name\" text"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        const TempDir dir;
        const fs::path file = dir.path() / "list.json";
        if (c.text) writeText(file, *c.text);
        expectFileError([&] { WatchList::read(file); }, file, c.kind, c.says);
    }
}

// Files kept as symbolic links to another place stay links: the target is
// written, not replaced by a file of the link's own.
TEST(UserFiles, ASymbolicLinkIsWrittenThroughToItsTarget) {
    const TempDir dir;
    const fs::path shared = dir.path() / "dotfiles" / "vemo";
    fs::create_directories(shared);
    fs::create_directories(dir.path() / "cfg");
    const fs::path settingsLink = dir.path() / "cfg" / "settings.json";
    const fs::path listLink = dir.path() / "cfg" / "list.json";
    writeText(shared / "settings.json", "");
    fs::create_symlink("../dotfiles/vemo/settings.json", settingsLink);
    // A link whose target is not there yet: the target is made.
    fs::create_symlink(shared / "lists" / "line.json", listLink);

    everyField().write(settingsLink);
    WatchList list;
    list.rows = {{"Tank.Level", "REAL", DisplayFormat::Dec}};
    list.write(listLink);

    EXPECT_TRUE(fs::is_symlink(settingsLink));
    EXPECT_TRUE(fs::is_symlink(listLink));
    EXPECT_EQ(Settings::read(shared / "settings.json"), everyField());
    EXPECT_EQ(WatchList::read(shared / "lists" / "line.json"), list);
    EXPECT_EQ(Settings::read(settingsLink), everyField());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path() / "cfg"), fs::directory_iterator()), 2)
        << "no file beside the links";
}

}  // namespace

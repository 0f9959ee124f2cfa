// The store of known controllers: what it says of a controller and keeps
// of it across store objects (the file is the store), one entry per
// address however it is spelt, a file it cannot read reported and left as
// it is, writers in several processes at once losing nothing, and where
// the file lives by default.
#include "vemo/core/KnownControllers.h"

#include "app_test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

using vemo::Fingerprint;
using vemo::KnownController;
using vemo::KnownControllers;
using vemo::KnownControllersError;
using vemo::Recognition;
using vemo::WallTime;
using vemo::test::readText;
using vemo::test::ScopedEnv;
using vemo::test::TempDir;
using vemo::test::writeText;
using Verdict = Recognition::Verdict;
using Kind = KnownControllersError::Kind;
namespace fs = std::filesystem;

Fingerprint key(uint8_t seed) {
    Fingerprint::Digest d{};
    for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<uint8_t>(seed + 11 * i);
    return Fingerprint(d);
}

WallTime at(std::time_t seconds) { return std::chrono::system_clock::from_time_t(seconds); }

// 2026-12-10T08:00:00Z and later.
constexpr std::time_t kDay1 = 1796889600;

// The files in a folder, by name.
std::set<std::string> filesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

// Unknown, stored; seen again, its last seen moves on; another key is
// Changed and kept out until the user's word replaces it. A second store
// object on the same file - the program after a restart, another process -
// sees all of it.
TEST(KnownControllers, RemembersWhatWasSeenWithItsDates) {
    const TempDir dir;
    const fs::path file = dir.path() / "new" / "folder" / "known-controllers.json";
    WallTime now = at(kDay1);
    KnownControllers store(file, [&] { return now; });

    EXPECT_EQ(store.lookup("10.0.0.1", 102, key(1)).verdict, Verdict::Unknown);
    EXPECT_FALSE(fs::exists(file)) << "a lookup writes nothing";
    const Recognition first = store.remember("10.0.0.1", 102, key(1));
    EXPECT_EQ(first.verdict, Verdict::Unknown);
    EXPECT_FALSE(first.known);
    store.remember("10.0.0.2", 102, key(2));

    now = at(kDay1 + 3600);
    const Recognition again = store.remember("10.0.0.1", 102, key(1));
    EXPECT_EQ(again.verdict, Verdict::Same);
    ASSERT_TRUE(again.known);
    EXPECT_EQ(again.known->lastSeen, at(kDay1)) << "the entry as it was before";

    const KnownController updated{"10.0.0.1", 102, key(1), at(kDay1), at(kDay1 + 3600)};
    const KnownControllers reopened(file);
    EXPECT_EQ(reopened.entries(),
              (std::vector<KnownController>{updated, KnownController{"10.0.0.2", 102, key(2), at(kDay1), at(kDay1)}}));
    const nlohmann::json written = nlohmann::json::parse(readText(file));
    EXPECT_EQ(written.at("version"), 1);
    EXPECT_EQ(written.at("controllers")[0].at("key"), key(1).text());
    EXPECT_EQ(written.at("controllers")[0].at("first_seen"), "2026-12-10T08:00:00Z");
    EXPECT_EQ(written.at("controllers")[0].at("last_seen"), "2026-12-10T09:00:00Z");

    now = at(kDay1 + 7200);
    const std::string before = readText(file);
    const Recognition changed = reopened.lookup("10.0.0.1", 102, key(9));
    EXPECT_EQ(changed.verdict, Verdict::Changed);
    EXPECT_EQ(changed.known, updated);
    EXPECT_EQ(store.remember("10.0.0.1", 102, key(9)).verdict, Verdict::Changed);
    EXPECT_EQ(readText(file), before) << "a changed key is not stored without the user's word";

    EXPECT_EQ(store.remember("10.0.0.1", 102, key(9), KnownControllers::IfChanged::Replace).known, updated);
    const Recognition replaced = store.lookup("10.0.0.1", 102, key(9));
    EXPECT_EQ(replaced.verdict, Verdict::Same);
    EXPECT_EQ(replaced.known, (KnownController{"10.0.0.1", 102, key(9), at(kDay1 + 7200), at(kDay1 + 7200)}));

    EXPECT_TRUE(store.forget("10.0.0.1", 102));
    EXPECT_FALSE(store.forget("10.0.0.1", 102));
    EXPECT_EQ(store.lookup("10.0.0.1", 102, key(9)).verdict, Verdict::Unknown);
    EXPECT_EQ(store.entries().size(), 1u);
    EXPECT_EQ(filesIn(file.parent_path()),
              (std::set<std::string>{"known-controllers.json", "known-controllers.json.lock"}))
        << "no temporary file left behind";
}

TEST(KnownControllers, AnAddressIsOneEntryHoweverItIsSpelt) {
    const struct {
        const char* host;
        const char* canonical;
    } cases[] = {
        {"192.168.0.10", "192.168.0.10"}, {"PLC-Line3.Example", "plc-line3.example"}, {"::1", "::1"}, {"[::1]", "::1"},
        {"0:0:0:0:0:0:0:1", "::1"},       {"2001:DB8:0::0:1", "2001:db8::1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KnownControllers::canonicalHost(c.host), c.canonical) << c.host;
    }

    const TempDir dir;
    KnownControllers store(dir.path() / "known.json");
    store.remember("PLC-Line3.example", 102, key(1));
    store.remember("0:0::1", 102, key(2));
    EXPECT_EQ(store.lookup("plc-line3.EXAMPLE", 102, key(1)).verdict, Verdict::Same);
    EXPECT_EQ(store.lookup("[::1]", 102, key(2)).verdict, Verdict::Same);
    EXPECT_EQ(store.lookup("plc-line3.example", 10102, key(1)).verdict, Verdict::Unknown) << "another port";
}

// Whatever is wrong with the file, every call says so, naming the file and
// the fault, and the file stays byte for byte as it was.
TEST(KnownControllers, AFileThatIsNoStoreIsReportedAndLeftAsItIs) {
    const std::string good = key(1).text();
    const auto entry = [&](const std::string& fields) {
        return R"({"version": 1, "controllers": [{)" + fields + "}]}";
    };
    const std::string valid = R"("host": "10.0.0.1", "port": 102, "key": ")" + good +
                              R"(", "first_seen": "2026-12-10T08:00:00Z", "last_seen": "2026-12-10T08:00:00Z")";
    const struct {
        std::string text;
        Kind kind;
        std::string says;
    } cases[] = {
        {R"({"version": 1, "controllers": [)", Kind::Damaged, "not valid JSON"},
        {"\x01\x02garbage", Kind::Damaged, "not valid JSON"},
        {"[]", Kind::Damaged, "not a JSON object"},
        {R"({"controllers": []})", Kind::Damaged, "no format \"version\" number"},
        {R"({"version": "1", "controllers": []})", Kind::Damaged, "no format \"version\" number"},
        {R"({"version": 0, "controllers": []})", Kind::Damaged, "unknown format version 0"},
        {R"({"version": 2, "controllers": []})", Kind::TooNew, "format version 2 is newer than this program reads (1)"},
        {R"({"version": 1})", Kind::Damaged, "no \"controllers\" list"},
        {R"({"version": 1, "controllers": [7]})", Kind::Damaged, "controller 1: not an object"},
        {entry(R"("host": "10.0.0.1", "port": 102)"), Kind::Damaged, "controller 1: no \"key\" text"},
        {entry(valid.substr(0, valid.find("\"port\"")) + R"("port": 0, )" + valid.substr(valid.find("\"key\""))),
         Kind::Damaged, "controller 1: no \"port\" from 1 to 65535"},
        {entry(valid.substr(0, valid.find("\"port\"")) + R"("port": "102", )" + valid.substr(valid.find("\"key\""))),
         Kind::Damaged, "controller 1: no \"port\" from 1 to 65535"},
        {entry(valid.substr(0, valid.find(good)) + "SHA256:short" + valid.substr(valid.find(good) + good.size())),
         Kind::Damaged, "controller 1: \"key\" is not a fingerprint"},
        {entry(valid.substr(0, valid.rfind("2026")) + "2026-02-30T08:00:00Z\""), Kind::Damaged,
         "controller 1: \"last_seen\" is not a time"},
        {R"({"version": 1, "controllers": [{)" + valid + "}, {" + valid + "}]}", Kind::Damaged,
         "controllers 1 and 2 are both 10.0.0.1 port 102"},
        {entry(R"("host": "10.0.0.1", "port": 1e400)"), Kind::Damaged, "the number 1e400 at byte 61 is too large"},
        {entry(R"("host": "10.0.0.1", "port": 1e300)"), Kind::Damaged, "controller 1: no \"port\" from 1 to 65535"},
        {R"({"version": 1, "controllers": [], "controllers": 5})", Kind::Damaged, "no \"controllers\" list"},
        {R"({"version": 3, "controllers": [5]})", Kind::TooNew, "format version 3 is newer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        const TempDir dir;
        const fs::path file = dir.path() / "known.json";
        writeText(file, c.text);
        KnownControllers store(file);
        const std::function<void()> calls[] = {
            [&] { store.lookup("10.0.0.1", 102, key(1)); },
            [&] { store.remember("10.0.0.9", 102, key(1)); },
            [&] { store.forget("10.0.0.1", 102); },
            [&] { store.entries(); },
        };
        for (const auto& call : calls) {
            try {
                call();
                ADD_FAILURE() << "no error";
            } catch (const KnownControllersError& e) {
                EXPECT_EQ(e.kind(), c.kind);
                EXPECT_EQ(std::string(e.what()).rfind(file.string() + ": ", 0), 0u) << e.what();
                EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
            }
        }
        EXPECT_EQ(readText(file), c.text);
        EXPECT_EQ(filesIn(dir.path()), (std::set<std::string>{"known.json", "known.json.lock"}));
    }

    // The valid entry itself reads, and so does an empty file (an empty store).
    const std::pair<std::string, size_t> readable[] = {{entry(valid), 1}, {"", 0}, {" \n", 0}};
    for (const auto& [text, count] : readable) {
        const TempDir dir;
        writeText(dir.path() / "known.json", text);
        EXPECT_EQ(KnownControllers(dir.path() / "known.json").entries().size(), count) << text;
    }
}

// A store that can be read but not written - a read-only folder, a file an
// administrator hands out - still tells a changed key (nothing to write),
// and the key on record goes through with its last seen left as it is. A
// directory where the lock file goes stands in for the read-only folder:
// the tests run as root, whom permission bits do not stop.
TEST(KnownControllers, AStoreThatCannotBeWrittenStillComparesKeys) {
    const TempDir dir;
    const fs::path file = dir.path() / "known.json";
    KnownControllers store(file, [] { return at(kDay1); });
    store.remember("10.0.0.1", 102, key(1));
    const std::string before = readText(file);
    fs::remove(dir.path() / "known.json.lock");
    fs::create_directory(dir.path() / "known.json.lock");

    KnownControllers later(file, [] { return at(kDay1 + 60); });
    const Recognition changed = later.remember("10.0.0.1", 102, key(2));
    EXPECT_EQ(changed.verdict, Verdict::Changed);
    EXPECT_EQ(changed.known->key, key(1));
    EXPECT_EQ(changed.notUpdated, "");

    const Recognition same = later.remember("10.0.0.1", 102, key(1));
    EXPECT_EQ(same.verdict, Verdict::Same);
    EXPECT_NE(same.notUpdated.find("known.json.lock: the lock cannot be made"), std::string::npos) << same.notUpdated;
    EXPECT_EQ(readText(file), before);

    // What must be written and cannot be is an error.
    for (const auto& call : std::vector<std::function<void()>>{
             [&] { later.remember("10.0.0.9", 102, key(1)); },
             [&] { later.remember("10.0.0.1", 102, key(2), KnownControllers::IfChanged::Replace); }}) {
        try {
            call();
            ADD_FAILURE() << "no error";
        } catch (const KnownControllersError& e) {
            EXPECT_EQ(e.kind(), Kind::Unwritable) << e.what();
        }
    }
    EXPECT_EQ(readText(file), before);
}

// A store kept as a symbolic link (one store for several accounts, a
// file handed out) stays a link: the target is written and locked.
TEST(KnownControllers, AStoreThatIsASymbolicLinkIsWrittenThroughAndLockedAtItsTarget) {
    const TempDir dir;
    fs::create_directories(dir.path() / "shared");
    fs::create_directories(dir.path() / "data");
    const fs::path target = dir.path() / "shared" / "known.json";
    const fs::path link = dir.path() / "data" / "known-controllers.json";
    fs::create_symlink(target, link);

    KnownControllers store(link);
    store.remember("10.0.0.1", 102, key(1));
    store.remember("10.0.0.2", 102, key(2));
    EXPECT_TRUE(store.forget("10.0.0.2", 102));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(KnownControllers(target).entries().size(), 1u);
    EXPECT_EQ(KnownControllers(target).lookup("10.0.0.1", 102, key(1)).verdict, Verdict::Same);
    EXPECT_EQ(filesIn(dir.path() / "data"), (std::set<std::string>{"known-controllers.json"}));
    EXPECT_EQ(filesIn(dir.path() / "shared"), (std::set<std::string>{"known.json", "known.json.lock"}));
}

// A host name given on a command line is any bytes; it is stored as given.
TEST(KnownControllers, AHostThatIsNotUtf8IsKeptExactly) {
    const TempDir dir;
    KnownControllers store(dir.path() / "known.json");
    store.remember("plc-\xff", 102, key(1));
    EXPECT_EQ(KnownControllers(dir.path() / "known.json").entries().at(0).host, "plc-\xff");
    EXPECT_EQ(store.lookup("PLC-\xff", 102, key(1)).verdict, Verdict::Same);
}

TEST(KnownControllers, AFileOrFolderThatCannotBeUsedIsReported) {
    const TempDir dir;
    fs::create_directories(dir.path() / "a-folder");
    writeText(dir.path() / "a-file", "");
    const struct {
        fs::path file;
        bool write;
        Kind kind;
        std::string says;
    } cases[] = {
        {dir.path() / "a-folder", false, Kind::Unreadable, "cannot be read: Is a directory"},
        // Read before anything is written: it is the read that fails.
        {dir.path() / "a-file" / "known.json", true, Kind::Unreadable, "cannot be read: Not a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        KnownControllers store(c.file);
        try {
            if (c.write) {
                store.remember("10.0.0.1", 102, key(1));
            } else {
                store.lookup("10.0.0.1", 102, key(1));
            }
            ADD_FAILURE() << "no error";
        } catch (const KnownControllersError& e) {
            EXPECT_EQ(e.kind(), c.kind);
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        }
    }
}

// Processes that remember at the same time, each with its own store object
// and files: every entry of every process is there, and the one they all
// update is too.
TEST(KnownControllers, ConcurrentWritersLoseNothing) {
    const TempDir dir;
    const fs::path file = dir.path() / "known.json";
    constexpr int kProcesses = 4;
    constexpr int kEach = 20;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int status = 0;
            try {
                for (int i = 0; i < kEach; ++i) {
                    KnownControllers store(file);
                    store.remember("10.0." + std::to_string(p) + "." + std::to_string(i), 102, key(1));
                    store.remember("shared", 102, key(2));
                }
            } catch (...) {
                status = 1;
            }
            ::_exit(status);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    const std::vector<KnownController> entries = KnownControllers(file).entries();
    std::set<std::string> hosts;
    for (const KnownController& e : entries) hosts.insert(e.host);
    EXPECT_EQ(entries.size(), size_t{kProcesses * kEach + 1});
    for (int p = 0; p < kProcesses; ++p) {
        for (int i = 0; i < kEach; ++i) {
            const std::string host = "10.0." + std::to_string(p) + "." + std::to_string(i);
            EXPECT_TRUE(hosts.count(host)) << host << " was lost";
        }
    }
    EXPECT_TRUE(hosts.count("shared"));
    EXPECT_EQ(filesIn(dir.path()), (std::set<std::string>{"known.json", "known.json.lock"}));
}

TEST(KnownControllers, TheDefaultFileIsInTheUsersDataFolder) {
    const struct {
        std::optional<std::string> xdg;
        std::string expected;
    } cases[] = {
        {"/data/xdg", "/data/xdg/vemo-s7-browser/known-controllers.json"},
        {std::nullopt, "/home/op/.local/share/vemo-s7-browser/known-controllers.json"},
        {"", "/home/op/.local/share/vemo-s7-browser/known-controllers.json"},
        {"relative/data", "/home/op/.local/share/vemo-s7-browser/known-controllers.json"},
    };
    const ScopedEnv home("HOME", "/home/op");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.xdg.value_or("(unset)"));
        const ScopedEnv xdg("XDG_DATA_HOME", c.xdg);
        EXPECT_EQ(KnownControllers::defaultPath(), fs::path(c.expected));
    }
}

TEST(ControllerIdentity, FingerprintTextReadsBackAndOnlyItsOwnForm) {
    EXPECT_EQ(Fingerprint::parse(key(7).text()), key(7));
    EXPECT_EQ(key(7).text().rfind("SHA256:", 0), 0u);
    EXPECT_FALSE(Fingerprint::parse(key(7).text() + "="));
    EXPECT_FALSE(vemo::identityOf(nullptr)) << "no identity without a connection";
}

}  // namespace

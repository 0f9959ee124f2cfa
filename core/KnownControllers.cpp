#include "vemo/core/KnownControllers.h"

#include "vemo/core/AtomicFile.h"

#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

namespace vemo {

namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;
using Kind = KnownControllersError::Kind;

constexpr char kTimeFormat[] = "%Y-%m-%dT%H:%M:%SZ";

[[noreturn]] void fail(Kind kind, const fs::path& file, const std::string& what) {
    throw KnownControllersError(kind, fmt::format("{}: {}", file.string(), what));
}

std::string errnoText(int error) { return std::strerror(error); }

// A time in exactly the form timeText writes, and a real one: what does not
// read back as the same text ("2026-02-30...") is none.
std::optional<WallTime> parseTime(const std::string& text) {
    std::tm utc{};
    char end = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &utc.tm_year, &utc.tm_mon, &utc.tm_mday, &utc.tm_hour,
                    &utc.tm_min, &utc.tm_sec, &end) != 7 ||
        end != 'Z') {
        return std::nullopt;
    }
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    const std::time_t seconds = timegm(&utc);
    const WallTime t = std::chrono::system_clock::from_time_t(seconds);
    if (KnownControllers::timeText(t) != text) return std::nullopt;
    return t;
}

WallTime wholeSeconds(WallTime t) { return std::chrono::floor<std::chrono::seconds>(t); }

// The file's text; nullopt when it does not exist.
std::optional<std::string> readText(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return std::nullopt;
        fail(Kind::Unreadable, file, "cannot be read: " + errnoText(errno));
    }
    std::string text;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            fail(Kind::Unreadable, file, "cannot be read: " + errnoText(error));
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return text;
}

// One entry of the file, checked field by field; `number` counts from 1.
KnownController readEntry(const fs::path& file, const json& entry, size_t number) {
    const auto damaged = [&](const std::string& what) {
        return KnownControllersError(Kind::Damaged, fmt::format("{}: controller {}: {}", file.string(), number, what));
    };
    if (!entry.is_object()) throw damaged("not an object");
    const auto text = [&](const char* name) {
        const auto it = entry.find(name);
        if (it == entry.end() || !it->is_string()) throw damaged(fmt::format("no \"{}\" text", name));
        return it->get<std::string>();
    };
    const auto time = [&](const char* name) {
        const std::string t = text(name);
        const std::optional<WallTime> parsed = parseTime(t);
        if (!parsed) throw damaged(fmt::format("\"{}\" is not a time like 2026-12-10T08:00:00Z: {}", name, t));
        return *parsed;
    };
    // A hand-edited spelling of an address is taken as the same address.
    const std::string host = KnownControllers::canonicalHost(text("host"));
    if (host.empty()) throw damaged("an empty \"host\"");
    const auto port = entry.find("port");
    if (port == entry.end() || !port->is_number_unsigned() || port->get<uint64_t>() < 1 ||
        port->get<uint64_t>() > 65535) {
        throw damaged("no \"port\" from 1 to 65535");
    }
    const std::string keyText = text("key");
    const std::optional<Fingerprint> key = Fingerprint::parse(keyText);
    if (!key)
        throw damaged(fmt::format("\"key\" is not a fingerprint like SHA256:<43 base64 characters>: {}", keyText));
    return KnownController{host, static_cast<std::uint16_t>(port->get<uint64_t>()), *key, time("first_seen"),
                           time("last_seen")};
}

std::vector<KnownController> parseStore(const fs::path& file, const std::string& text) {
    if (std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isspace(c) != 0; })) return {};
    json doc;
    try {
        doc = json::parse(text);
    } catch (const json::parse_error& e) {
        fail(Kind::Damaged, file, fmt::format("not valid JSON ({})", e.what()));
    }
    if (!doc.is_object()) fail(Kind::Damaged, file, "not a JSON object");
    const auto version = doc.find("version");
    if (version == doc.end() || !version->is_number_integer()) {
        fail(Kind::Damaged, file, "no format \"version\" number");
    }
    const auto number = version->get<int64_t>();
    if (number > KnownControllers::kFormatVersion) {
        fail(Kind::TooNew, file,
             fmt::format("format version {} is newer than this program reads ({}); a newer version of the "
                         "program wrote it",
                         number, KnownControllers::kFormatVersion));
    }
    if (number < KnownControllers::kFormatVersion) {
        fail(Kind::Damaged, file, fmt::format("unknown format version {}", number));
    }
    const auto list = doc.find("controllers");
    if (list == doc.end() || !list->is_array()) fail(Kind::Damaged, file, "no \"controllers\" list");
    std::vector<KnownController> entries;
    for (const json& entry : *list) {
        KnownController read = readEntry(file, entry, entries.size() + 1);
        const auto same = std::find_if(entries.begin(), entries.end(), [&](const KnownController& e) {
            return e.host == read.host && e.port == read.port;
        });
        if (same != entries.end()) {
            fail(Kind::Damaged, file,
                 fmt::format("controllers {} and {} are both {} port {}", same - entries.begin() + 1,
                             entries.size() + 1, read.host, read.port));
        }
        entries.push_back(std::move(read));
    }
    return entries;
}

std::string storeText(const std::vector<KnownController>& entries) {
    json list = json::array();
    for (const KnownController& e : entries) {
        list.push_back({{"host", e.host},
                        {"port", e.port},
                        {"key", e.key.text()},
                        {"first_seen", KnownControllers::timeText(e.firstSeen)},
                        {"last_seen", KnownControllers::timeText(e.lastSeen)}});
    }
    return json{{"version", KnownControllers::kFormatVersion}, {"controllers", std::move(list)}}.dump(2) + "\n";
}

std::vector<KnownController> load(const fs::path& file) {
    const std::optional<std::string> text = readText(file);
    return text ? parseStore(file, *text) : std::vector<KnownController>{};
}

// Creates the folder and the ones above it that are missing, for this user
// only, as data folders are.
void makeFolder(const fs::path& folder) {
    if (folder.empty() || fs::is_directory(folder)) return;
    makeFolder(folder.parent_path());
    if (::mkdir(folder.c_str(), 0700) != 0) {
        // Another process may have made it meanwhile.
        const int error = errno;
        if (error != EEXIST || !fs::is_directory(folder)) {
            fail(Kind::Unwritable, folder, "the folder cannot be made: " + errnoText(error));
        }
    }
}

// An exclusive lock on FILE.lock for one read-modify-write. The lock is on
// a file of its own because the store itself is replaced by a rename: a
// lock on it would stay with the replaced file.
class WriteLock {
public:
    explicit WriteLock(const fs::path& file) {
        const fs::path lockFile = file.string() + ".lock";
        fd_ = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) fail(Kind::Unwritable, lockFile, "the lock cannot be made: " + errnoText(errno));
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                const int error = errno;
                ::close(fd_);
                fail(Kind::Unwritable, lockFile, "cannot be locked: " + errnoText(error));
            }
        }
    }
    ~WriteLock() { ::close(fd_); }  // also releases the lock
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

private:
    int fd_ = -1;
};

// Replaces the store file; it keeps its permissions, a new one is for this
// user only.
void writeStore(const fs::path& file, const std::string& text) {
    if (const int error = replaceFile(file, text, 0600); error != 0) {
        fail(Kind::Unwritable, file, "cannot be written: " + errnoText(error));
    }
}

std::vector<KnownController>::iterator find(std::vector<KnownController>& entries, const std::string& host,
                                            std::uint16_t port) {
    return std::find_if(entries.begin(), entries.end(),
                        [&](const KnownController& e) { return e.host == host && e.port == port; });
}

Recognition recognise(std::vector<KnownController>& entries, std::vector<KnownController>::iterator entry,
                      const Fingerprint& key) {
    if (entry == entries.end()) return Recognition{};
    return Recognition{entry->key == key ? Recognition::Verdict::Same : Recognition::Verdict::Changed, *entry};
}

}  // namespace

std::string KnownControllers::timeText(WallTime time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, kTimeFormat, &utc);
    return text;
}

fs::path KnownControllers::defaultPath() {
    fs::path data;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && fs::path(xdg).is_absolute()) {
        data = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || *home == '\0') {
            const passwd* user = ::getpwuid(::getuid());
            home = user != nullptr ? user->pw_dir : nullptr;
        }
        if (home == nullptr || *home == '\0') {
            throw KnownControllersError(Kind::Unwritable,
                                        "no folder for the known controllers: neither XDG_DATA_HOME nor a home folder");
        }
        data = fs::path(home) / ".local" / "share";
    }
    return data / "vemo-s7-browser" / "known-controllers.json";
}

std::string KnownControllers::canonicalHost(const std::string& host) {
    std::string bare = host;
    if (bare.size() >= 2 && bare.front() == '[' && bare.back() == ']') bare = bare.substr(1, bare.size() - 2);
    unsigned char address[sizeof(in6_addr)];
    char text[INET6_ADDRSTRLEN];
    for (const int family : {AF_INET, AF_INET6}) {
        if (::inet_pton(family, bare.c_str(), address) == 1 && ::inet_ntop(family, address, text, sizeof text)) {
            return text;
        }
    }
    std::transform(bare.begin(), bare.end(), bare.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return bare;
}

KnownControllers::KnownControllers(fs::path file, std::function<WallTime()> now)
    : file_(std::move(file)), now_(std::move(now)) {}

Recognition KnownControllers::lookup(const std::string& host, std::uint16_t port, const Fingerprint& key) const {
    std::vector<KnownController> entries = load(file_);
    return recognise(entries, find(entries, canonicalHost(host), port), key);
}

Recognition KnownControllers::remember(const std::string& host, std::uint16_t port, const Fingerprint& key,
                                       IfChanged ifChanged) {
    makeFolder(file_.parent_path());
    const WriteLock lock(file_);
    std::vector<KnownController> entries = load(file_);
    const std::string canonical = canonicalHost(host);
    const auto entry = find(entries, canonical, port);
    const Recognition seen = recognise(entries, entry, key);
    const WallTime now = wholeSeconds(now_());
    switch (seen.verdict) {
    case Recognition::Verdict::Unknown: entries.push_back(KnownController{canonical, port, key, now, now}); break;
    case Recognition::Verdict::Same: entry->lastSeen = now; break;
    case Recognition::Verdict::Changed:
        if (ifChanged == IfChanged::Keep) return seen;
        *entry = KnownController{canonical, port, key, now, now};
        break;
    }
    writeStore(file_, storeText(entries));
    return seen;
}

bool KnownControllers::forget(const std::string& host, std::uint16_t port) {
    makeFolder(file_.parent_path());
    const WriteLock lock(file_);
    std::vector<KnownController> entries = load(file_);
    const auto entry = find(entries, canonicalHost(host), port);
    if (entry == entries.end()) return false;
    entries.erase(entry);
    writeStore(file_, storeText(entries));
    return true;
}

std::vector<KnownController> KnownControllers::entries() const { return load(file_); }

}  // namespace vemo

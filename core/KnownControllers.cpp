#include "vemo/core/KnownControllers.h"

#include "VersionedJson.h"
#include "vemo/core/AtomicFile.h"

#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unordered_map>
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
    const std::optional<std::string> typed =
        readExactText(entry, "host", [&](const std::string& what) { throw damaged(what); });
    if (!typed) throw damaged("no \"host\" text");
    const std::string host = KnownControllers::canonicalHost(*typed);
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

// host and port in one text, for finding an entry.
std::string addressKey(const std::string& host, std::uint16_t port) {
    std::string key = host;
    key += '\0';
    key += std::to_string(port);
    return key;
}

// Takes the entries out of the "controllers" list as the parser finishes
// each, so that the document never holds them all: a store of hundreds of
// thousands of controllers is read in about the memory its text takes.
// Nothing is thrown from inside the parser; the first fault is kept and
// reported once the version is known to be this program's.
class EntryCollector {
public:
    explicit EntryCollector(const fs::path& file) : file_(file) {}

    bool take(int depth, json::parse_event_t event, json& parsed) {
        using Event = json::parse_event_t;
        if (depth == 1 && event == Event::key) {
            inList_ = false;
            listKey_ = parsed.is_string() && parsed.get_ref<const std::string&>() == "controllers";
            return true;
        }
        if (depth == 1 && event == Event::array_start && listKey_) {
            // A repeated "controllers" key: the last list counts, as it does
            // in the document.
            inList_ = true;
            entries_.clear();
            index_.clear();
            fault_.reset();
            return true;
        }
        if (depth == 1 && event == Event::array_end) {
            inList_ = false;
            return true;
        }
        const bool element =
            inList_ && depth == 2 && (event == Event::value || event == Event::object_end || event == Event::array_end);
        if (!element) return true;
        if (!fault_) add(parsed);
        return false;  // not kept in the document
    }

    // The entries; throws the first fault.
    std::vector<KnownController> entries() && {
        if (fault_) throw *fault_;
        return std::move(entries_);
    }

private:
    void add(const json& entry) {
        try {
            KnownController read = readEntry(file_, entry, entries_.size() + 1);
            const auto [same, added] = index_.emplace(addressKey(read.host, read.port), entries_.size());
            if (!added) {
                fault_.emplace(Kind::Damaged,
                               fmt::format("{}: controllers {} and {} are both {} port {}", file_.string(),
                                           same->second + 1, entries_.size() + 1, read.host, read.port));
                return;
            }
            entries_.push_back(std::move(read));
        } catch (const KnownControllersError& e) {
            fault_.emplace(e);
        }
    }

    const fs::path& file_;
    bool listKey_ = false;
    bool inList_ = false;
    std::vector<KnownController> entries_;
    std::unordered_map<std::string, std::size_t> index_;
    std::optional<KnownControllersError> fault_;
};

std::vector<KnownController> parseStore(const fs::path& file, const std::string& text) {
    if (std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isspace(c) != 0; })) return {};
    EntryCollector collector(file);
    const json doc = parseVersionedJson(
        file, text, KnownControllers::kFormatVersion,
        [&](int depth, json::parse_event_t event, json& parsed) { return collector.take(depth, event, parsed); });
    const auto list = doc.find("controllers");
    if (list == doc.end() || !list->is_array()) fail(Kind::Damaged, file, "no \"controllers\" list");
    return std::move(collector).entries();
}

std::string storeText(const std::vector<KnownController>& entries) {
    json list = json::array();
    for (const KnownController& e : entries) {
        json entry = json::object();
        putExactText(entry, "host", e.host);
        entry["port"] = e.port;
        entry["key"] = e.key.text();
        entry["first_seen"] = KnownControllers::timeText(e.firstSeen);
        entry["last_seen"] = KnownControllers::timeText(e.lastSeen);
        list.push_back(std::move(entry));
    }
    return fileText(json{{"version", KnownControllers::kFormatVersion}, {"controllers", std::move(list)}});
}

std::vector<KnownController> load(const fs::path& file) {
    const std::optional<std::string> text = readUserFile(file);
    return text ? parseStore(file, *text) : std::vector<KnownController>{};
}

// An exclusive lock on FILE.lock for one read-modify-write. The lock is on
// a file of its own because the store itself is replaced by a rename: a
// lock on it would stay with the replaced file. A store that is a symbolic
// link is locked beside its target, which is the file written, so that
// whoever reaches it by another path locks the same lock.
class WriteLock {
public:
    explicit WriteLock(const fs::path& file) {
        const fs::path target = followLinks(file);
        makeUserFolder(target.parent_path());
        const fs::path lockFile = target.string() + ".lock";
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

std::vector<KnownController>::iterator find(std::vector<KnownController>& entries, const std::string& host,
                                            std::uint16_t port) {
    return std::find_if(entries.begin(), entries.end(),
                        [&](const KnownController& e) { return e.host == host && e.port == port; });
}

Recognition recognise(std::vector<KnownController>& entries, std::vector<KnownController>::iterator entry,
                      const Fingerprint& key) {
    if (entry == entries.end()) return Recognition{};
    return Recognition{entry->key == key ? Recognition::Verdict::Same : Recognition::Verdict::Changed, *entry, {}};
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
    return userFolder("XDG_DATA_HOME", fs::path(".local") / "share") / "vemo-s7-browser" / "known-controllers.json";
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
    const std::string canonical = canonicalHost(host);
    // Compared before anything is written: a store that may be read but not
    // written (a read-only folder, one an administrator hands out) still
    // tells a changed key, and needs no write for the key on record.
    {
        std::vector<KnownController> entries = load(file_);
        Recognition seen = recognise(entries, find(entries, canonical, port), key);
        if (seen.verdict == Recognition::Verdict::Changed && ifChanged == IfChanged::Keep) return seen;
        if (seen.verdict == Recognition::Verdict::Same) {
            try {
                return store(canonical, port, key, ifChanged);
            } catch (const KnownControllersError& e) {
                if (e.kind() != Kind::Unwritable) throw;
                seen.notUpdated = e.what();
                return seen;
            }
        }
    }
    return store(canonical, port, key, ifChanged);
}

Recognition KnownControllers::store(const std::string& canonical, std::uint16_t port, const Fingerprint& key,
                                    IfChanged ifChanged) {
    const WriteLock lock(file_);
    // Read again under the lock: another process may have changed it since.
    std::vector<KnownController> entries = load(file_);
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
    replaceUserFile(file_, storeText(entries));
    return seen;
}

bool KnownControllers::forget(const std::string& host, std::uint16_t port) {
    const WriteLock lock(file_);
    std::vector<KnownController> entries = load(file_);
    const auto entry = find(entries, canonicalHost(host), port);
    if (entry == entries.end()) return false;
    entries.erase(entry);
    replaceUserFile(file_, storeText(entries));
    return true;
}

std::vector<KnownController> KnownControllers::entries() const { return load(file_); }

}  // namespace vemo

// The controllers this user has connected to: per address and port the
// key fingerprint seen there, and when it was first and last seen. Trust on
// first use, as SSH keeps known hosts: a controller's self-signed
// certificate proves nothing the first time, but a different key at the
// same address later means another controller - or someone in between.
//
// The store is a JSON file, by default in the user's data folder
// (defaultPath()), shared by the program and `vemo-s7 --known-hosts`:
//
//   {"version": 1, "controllers": [{"host": "192.168.0.10", "port": 102,
//     "key": "SHA256:...", "first_seen": "2026-12-10T08:00:00Z",
//     "last_seen": "2026-12-11T14:30:05Z"}]}
//
// Every call reads the file afresh; nothing is cached, so two programs (or
// two threads, each with its own calls) see each other's changes. Changes
// are a read-modify-write under an exclusive lock on a lock file beside it
// (FILE.lock), and the file is replaced atomically (a temporary file in the
// same folder, flushed to disk, renamed over it), so concurrent writers
// lose nothing and a reader never sees half a file. A store that is a
// symbolic link is written through to its target and locked beside it. A
// host that is not UTF-8 is kept exactly ("hostBytes" in hexadecimal beside
// "host"). A file that cannot be
// read as a store - damaged, or written by a newer program - is reported
// with an error that names it and says what is wrong, and is never
// replaced or reset: the user decides what to do with it. A missing or
// empty file is an empty store.
//
// A connection is checked right after connect, before anything is browsed
// or read, and may be held unused while the user decides:
//
//   Recognition seen = store.remember(host, port, identity.key);
//   Unknown: stored now (tell the user)   Same: last seen updated
//   Changed: nothing stored; seen.known is the entry on record. Refuse, or
//            ask the user and on their word remember(..., IfChanged::Replace)
#pragma once

#include "vemo/core/ControllerIdentity.h"
#include "vemo/core/UserFiles.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vemo {

// Wall-clock time, whole seconds in the file.
using WallTime = std::chrono::system_clock::time_point;

struct KnownController {
    std::string host;  // as KnownControllers::canonicalHost writes it
    std::uint16_t port = 0;
    Fingerprint key;
    WallTime firstSeen;  // when this key was first seen here
    WallTime lastSeen;   // when it was last seen here

    bool operator==(const KnownController&) const = default;
};

// What the store says about a controller that presents a key.
struct Recognition {
    enum class Verdict {
        Unknown,  // nothing on record for the address and port
        Same,     // the key on record
        Changed,  // another key on record
    };
    Verdict verdict = Verdict::Unknown;
    // The entry on record before the call: set for Same and Changed.
    std::optional<KnownController> known;
    // remember() of the key on record that could not update its last seen
    // (the store can be read but not written): why, naming the file. The
    // key was compared all the same.
    std::string notUpdated;
};

// The store file cannot be used; what() names the file and what is wrong
// (Unreadable, Damaged, TooNew, Unwritable).
using KnownControllersError = UserFileError;

class KnownControllers {
public:
    // The format version this program reads and writes.
    static constexpr int kFormatVersion = 1;

    // What to do with an entry whose key differs from the one presented.
    enum class IfChanged {
        Keep,     // leave it: the caller refuses the controller
        Replace,  // the user accepted the new key: it starts afresh
    };

    // $XDG_DATA_HOME/vemo-s7-browser/known-controllers.json, or under
    // ~/.local/share when XDG_DATA_HOME is unset, empty or not absolute.
    // Throws KnownControllersError (Unwritable) when there is no home
    // folder to fall back on.
    static std::filesystem::path defaultPath();

    // One address in one spelling: an IP address as the system writes it
    // (brackets dropped, "0:0::1" is "::1"), a host name in lower case.
    static std::string canonicalHost(const std::string& host);

    // A time as the file writes it, in UTC to the second:
    // "2026-12-10T08:00:00Z".
    static std::string timeText(WallTime time);

    // A store in `file`, which need not exist yet. `now` gives the times
    // written (tests pass their own clock).
    explicit KnownControllers(std::filesystem::path file,
                              std::function<WallTime()> now = std::chrono::system_clock::now);

    const std::filesystem::path& path() const { return file_; }

    // What the store says of host:port presenting `key`; changes nothing.
    // Throws KnownControllersError.
    Recognition lookup(const std::string& host, std::uint16_t port, const Fingerprint& key) const;

    // Records that host:port presented `key` now: an unknown controller
    // gets an entry (first and last seen now), the same key its last seen
    // updated, another key is replaced (first seen now) with
    // IfChanged::Replace and left alone (the file untouched) with Keep.
    // Returns what was on record before. The key is compared before
    // anything is locked or written, and only what must change is written:
    // a changed key kept out needs no write, and the key on record whose
    // last seen cannot be written is still Same (with notUpdated). Throws
    // KnownControllersError when the store cannot be read, or cannot be
    // written for a new entry or a replaced key; a store that cannot be
    // read is not written.
    Recognition remember(const std::string& host, std::uint16_t port, const Fingerprint& key,
                         IfChanged ifChanged = IfChanged::Keep);

    // Removes the entry of host:port; false when there was none (the file
    // is then untouched). Throws KnownControllersError.
    bool forget(const std::string& host, std::uint16_t port);

    // Every entry, in the order they were first stored. Throws
    // KnownControllersError.
    std::vector<KnownController> entries() const;

private:
    // The read-modify-write of remember() under the store's lock.
    Recognition store(const std::string& canonical, std::uint16_t port, const Fingerprint& key, IfChanged ifChanged);

    std::filesystem::path file_;
    std::function<WallTime()> now_;
};

}  // namespace vemo

#include "vemo/core/UserFiles.h"

#include "VersionedJson.h"
#include "vemo/core/AtomicFile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vemo {

namespace {

namespace fs = std::filesystem;
using Kind = UserFileError::Kind;

[[noreturn]] void fail(Kind kind, const fs::path& file, const std::string& what) {
    throw UserFileError(kind, fmt::format("{}: {}", file.string(), what));
}

std::string errnoText(int error) { return std::strerror(error); }

}  // namespace

fs::path homeFolder() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
        const passwd* user = ::getpwuid(::getuid());
        home = user != nullptr ? user->pw_dir : nullptr;
    }
    return home != nullptr ? fs::path(home) : fs::path();
}

fs::path userFolder(const char* variable, const fs::path& underHome) {
    if (const char* xdg = std::getenv(variable); xdg != nullptr && fs::path(xdg).is_absolute()) return xdg;
    const fs::path home = homeFolder();
    if (home.empty()) {
        throw UserFileError(Kind::Unwritable, fmt::format("no folder for the program's files: neither {} nor a "
                                                          "home folder",
                                                          variable));
    }
    return home / underHome;
}

std::optional<std::string> readUserFile(const fs::path& file) {
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

void makeUserFolder(const fs::path& folder) {
    if (folder.empty() || fs::is_directory(folder)) return;
    makeUserFolder(folder.parent_path());
    if (::mkdir(folder.c_str(), 0700) != 0) {
        // Another process may have made it meanwhile.
        const int error = errno;
        if (error != EEXIST || !fs::is_directory(folder)) {
            fail(Kind::Unwritable, folder, "the folder cannot be made: " + errnoText(error));
        }
    }
}

// The temporary file is on disk before it is renamed over the file, and the
// folder's entry is on disk after.
void replaceUserFile(const fs::path& file, const std::string& text) {
    // A new file is for this user only: it may name their controllers.
    if (const int error = replaceFile(file, text, 0600); error != 0) {
        fail(Kind::Unwritable, file, "cannot be written: " + errnoText(error));
    }
}

nlohmann::ordered_json parseVersionedJson(const fs::path& file, const std::string& text, int current) {
    nlohmann::ordered_json doc;
    try {
        doc = nlohmann::ordered_json::parse(text);
    } catch (const nlohmann::json::parse_error& e) {
        // Where it went wrong is what the person with an editor needs; the
        // parser's own text is long and its words are the parser's.
        fail(Kind::Damaged, file, fmt::format("not valid JSON (the text breaks off or goes wrong at byte {})", e.byte));
    }
    if (!doc.is_object()) fail(Kind::Damaged, file, "not a JSON object");
    const auto version = doc.find("version");
    if (version == doc.end() || !version->is_number_integer()) {
        fail(Kind::Damaged, file, "no format \"version\" number");
    }
    const auto number = version->get<int64_t>();
    if (number > current) {
        fail(Kind::TooNew, file,
             fmt::format("format version {} is newer than this program reads ({}); a newer version of the "
                         "program wrote it",
                         number, current));
    }
    if (number < current) fail(Kind::Damaged, file, fmt::format("unknown format version {}", number));
    return doc;
}

}  // namespace vemo

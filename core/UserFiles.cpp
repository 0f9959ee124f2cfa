#include "vemo/core/UserFiles.h"

#include "VersionedJson.h"
#include "vemo/core/AtomicFile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <algorithm>
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
    // Read into room for the whole file: a large store would otherwise
    // grow the text by doubling, and need up to twice its size meanwhile.
    struct stat info {};
    if (::fstat(fd, &info) == 0 && info.st_size > 0) text.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
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
    std::error_code ignored;
    if (folder.empty() || fs::is_directory(folder, ignored)) return;
    makeUserFolder(folder.parent_path());
    if (::mkdir(folder.c_str(), 0700) != 0) {
        // Another process may have made it meanwhile.
        const int error = errno;
        if (error != EEXIST || !fs::is_directory(folder, ignored)) {
            fail(Kind::Unwritable, folder, "the folder cannot be made: " + errnoText(error));
        }
    }
}

// The temporary file is on disk before it is renamed over the file, and the
// folder's entry is on disk after.
void replaceUserFile(const fs::path& file, const std::string& text) {
    makeUserFolder(followLinks(file).parent_path());
    // A new file is for this user only: it may name their controllers.
    if (const int error = replaceFile(file, text, 0600); error != 0) {
        fail(Kind::Unwritable, file, "cannot be written: " + errnoText(error));
    }
}

namespace {

using json = nlohmann::ordered_json;

// Reads a text through to its first fault and keeps where that is: the
// parser's exceptions say where only for some faults (not for a number too
// large for a double), its event interface does for all of them.
class FaultFinder : public nlohmann::json_sax<json> {
public:
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override { return true; }
    bool key(string_t&) override { return true; }
    bool end_object() override { return true; }
    bool start_array(std::size_t) override { return true; }
    bool end_array() override { return true; }
    bool parse_error(std::size_t position, const std::string& token, const nlohmann::detail::exception& e) override {
        position_ = position;
        token_ = token;
        number_ = e.id == 406;
        return false;
    }

    // Where the text goes wrong, as a person with an editor wants to hear it.
    std::string fault() const {
        // The parser stands at the number's last byte; a person looks for its first.
        if (number_) {
            return fmt::format("the number {} at byte {} is too large to be read", token_,
                               position_ + 1 - std::min(position_, token_.size()));
        }
        return fmt::format("not valid JSON (the text breaks off or goes wrong at byte {})", position_);
    }

private:
    std::size_t position_ = 0;
    std::string token_;
    bool number_ = false;
};

bool validUtf8(const std::string& text) {
    try {
        (void)json(text).dump();
        return true;
    } catch (const json::type_error&) {
        return false;
    }
}

}  // namespace

json parseVersionedJson(const fs::path& file, const std::string& text, int current,
                        const json::parser_callback_t& callback) {
    json doc;
    try {
        doc = json::parse(text, callback);
    } catch (const nlohmann::json::exception&) {
        // The parser's own text is long and its words are the parser's.
        FaultFinder finder;
        json::sax_parse(text, &finder);
        fail(Kind::Damaged, file, finder.fault());
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

std::string fileText(const json& doc) { return doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n"; }

void putExactText(json& object, const char* field, const std::string& value) {
    object[field] = value;
    if (validUtf8(value)) return;
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(value.size() * 2);
    for (const unsigned char c : value) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 0xF];
    }
    object[std::string(field) + "Bytes"] = std::move(hex);
}

std::optional<std::string> readExactText(const json& object, const char* field,
                                         const std::function<void(const std::string&)>& bad) {
    const auto text = object.find(field);
    if (text == object.end() || !text->is_string()) return std::nullopt;
    const std::string bytesField = std::string(field) + "Bytes";
    const auto bytes = object.find(bytesField);
    if (bytes == object.end()) return text->get<std::string>();
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    const std::string* hex = bytes->is_string() ? bytes->get_ptr<const std::string*>() : nullptr;
    std::string value;
    bool ok = hex != nullptr && hex->size() % 2 == 0;
    for (std::size_t i = 0; ok && i < hex->size(); i += 2) {
        const int high = digit((*hex)[i]);
        const int low = digit((*hex)[i + 1]);
        ok = high >= 0 && low >= 0;
        value += static_cast<char>(high * 16 + low);
    }
    if (!ok) bad(fmt::format("\"{}\" is not bytes in hexadecimal digits", bytesField));
    return value;
}

}  // namespace vemo

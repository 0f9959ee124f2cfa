#include "vemo/core/WatchListFile.h"

#include "VersionedJson.h"
#include "vemo/core/UserFiles.h"

#include <fmt/format.h>

#include <optional>
#include <utility>

namespace vemo {

namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;
using Kind = UserFileError::Kind;

WatchList parse(const fs::path& file, const std::string& text) {
    const json doc = parseVersionedJson(file, text, WatchList::kFormatVersion);
    const auto damaged = [&](const std::string& what) {
        return UserFileError(Kind::Damaged, fmt::format("{}: {}", file.string(), what));
    };
    const auto rows = doc.find("rows");
    if (rows == doc.end() || !rows->is_array()) throw damaged("no \"rows\" list");
    WatchList list;
    for (const json& row : *rows) {
        const std::string where = fmt::format("row {}: ", list.rows.size() + 1);
        if (!row.is_object()) throw damaged(where + "not an object");
        const auto field = [&](const char* name) {
            const auto it = row.find(name);
            if (it == row.end() || !it->is_string()) throw damaged(fmt::format("{}no \"{}\" text", where, name));
            return it->get<std::string>();
        };
        WatchRow read;
        // The name byte for byte as the controller sent it, which may not
        // be UTF-8: the row is found by it again.
        std::optional<std::string> name =
            readExactText(row, "name", [&](const std::string& what) { throw damaged(where + what); });
        if (!name) throw damaged(where + "no \"name\" text");
        read.name = std::move(*name);
        if (read.name.empty()) throw damaged(where + "an empty \"name\"");
        read.type = field("type");
        const std::string format = field("format");
        const std::optional<DisplayFormat> known = displayFormatByName(format);
        if (!known) {
            throw damaged(fmt::format("{}\"format\" is not one of IEC, DEC, HEX, BIN, SIGNED, UNSIGNED, CHAR: {}",
                                      where, format));
        }
        read.format = *known;
        list.rows.push_back(std::move(read));
    }
    return list;
}

}  // namespace

fs::path WatchList::defaultFolder() {
    return userFolder("XDG_DATA_HOME", fs::path(".local") / "share") / "vemo-s7-browser" / "watch-lists";
}

WatchList WatchList::read(const fs::path& file) {
    const std::optional<std::string> text = readUserFile(file);
    if (!text) throw UserFileError(Kind::Unreadable, fmt::format("{}: does not exist", file.string()));
    return parse(file, *text);
}

void WatchList::write(const fs::path& file) const {
    json list = json::array();
    for (const WatchRow& row : rows) {
        json entry = json::object();
        putExactText(entry, "name", row.name);
        entry["type"] = row.type;
        entry["format"] = std::string(displayFormatName(row.format));
        list.push_back(std::move(entry));
    }
    const json doc{{"version", kFormatVersion}, {"rows", std::move(list)}};
    replaceUserFile(file, fileText(doc));
}

}  // namespace vemo

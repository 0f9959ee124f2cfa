#include "vemo/core/Settings.h"

#include "VersionedJson.h"
#include "vemo/core/UserFiles.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <iterator>
#include <utility>

namespace vemo {

namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;
using Kind = UserFileError::Kind;

// The largest size in pixels a file may give: beyond any screen, and far
// within a float.
constexpr double kMaxPixels = 100000.0;
// The largest UI scale a file may give.
constexpr double kMaxScale = 10.0;

// Reads the fields of one settings file, each checked for its kind. A field
// of the wrong kind makes the file Damaged; a number of the right kind out
// of its range (a hand edit gone too far, 1e300 pixels) is left out alone -
// its default is used and `refused` says so - so that it costs that one
// value, not every setting, and is mended at the next save.
class Reader {
public:
    Reader(const fs::path& file, const json& doc, std::vector<std::string>& refused)
        : file_(file), doc_(doc), refused_(refused) {}

    [[noreturn]] void damaged(const std::string& what) const {
        throw UserFileError(Kind::Damaged, fmt::format("{}: {}", file_.string(), what));
    }

    void refuse(const std::string& what, const json& value) const {
        refused_.push_back(fmt::format("{}: {}: {}; left out", file_.string(), what, value.dump()));
    }

    const json* field(const char* name) const {
        const auto it = doc_.find(name);
        return it == doc_.end() ? nullptr : &*it;
    }

    std::optional<std::string> text(const json& object, const char* name, const std::string& where = "") const {
        const auto it = object.find(name);
        if (it == object.end()) return std::nullopt;
        if (!it->is_string()) damaged(fmt::format("{}\"{}\" is not a text", where, name));
        return readExactText(object, name, [&](const std::string& what) { damaged(where + what); });
    }

    std::optional<int> size(const char* name) const {
        const json* value = field(name);
        if (value == nullptr) return std::nullopt;
        const std::string what = fmt::format("\"{}\" is not a size in pixels", name);
        if (!value->is_number()) damaged(what);
        if (!value->is_number_integer() || value->get<std::int64_t>() < 1 ||
            value->get<std::int64_t>() > static_cast<std::int64_t>(kMaxPixels)) {
            refuse(fmt::format("{} from 1 to {}", what, kMaxPixels), *value);
            return std::nullopt;
        }
        return static_cast<int>(value->get<std::int64_t>());
    }

    // A number above 0 and at most `max`, which a float holds.
    static bool inRange(const json& value, double max) {
        const double number = value.get<double>();
        return number > 0.0 && number <= max;
    }

    std::optional<float> positive(const char* name, double max) const {
        const json* value = field(name);
        if (value == nullptr) return std::nullopt;
        const std::string what = fmt::format("\"{}\" is not a number above 0", name);
        if (!value->is_number()) damaged(what);
        if (!inRange(*value, max)) {
            refuse(fmt::format("{} and at most {}", what, max), *value);
            return std::nullopt;
        }
        return static_cast<float>(value->get<double>());
    }

    // A port from 1 to 65535; `where` names the entry it belongs to.
    std::optional<std::uint16_t> port(const json& value, const std::string& where) const {
        const std::string what = fmt::format("{}\"port\" is not a number from 1 to 65535", where);
        if (!value.is_number()) damaged(what);
        if (!value.is_number_unsigned() || value.get<std::uint64_t>() < 1 || value.get<std::uint64_t>() > 65535) {
            refuse(what, value);
            return std::nullopt;
        }
        return static_cast<std::uint16_t>(value.get<std::uint64_t>());
    }

    std::optional<ControllerAddress> recentEntry(const json& entry, std::size_t number) const {
        const std::string where = fmt::format("recent controller {}: ", number);
        if (!entry.is_object()) damaged(where + "not an object");
        std::optional<std::string> host = text(entry, "host", where);
        if (!host) damaged(where + "no \"host\" text");
        const auto port = entry.find("port");
        if (port == entry.end()) damaged(where + "no \"port\"");
        const std::optional<std::uint16_t> number16 = this->port(*port, where);
        if (!number16) return std::nullopt;
        return ControllerAddress{std::move(*host), *number16};
    }

    std::vector<float> columnWidths(const json& widths) const {
        const char* what = "\"inspectorColumnWidths\" is not a list of numbers above 0";
        if (!widths.is_array() ||
            !std::all_of(widths.begin(), widths.end(), [](const json& w) { return w.is_number(); })) {
            damaged(what);
        }
        // One width out of range leaves them all out: the others alone
        // would sit in the wrong columns.
        if (!std::all_of(widths.begin(), widths.end(), [](const json& w) { return inRange(w, kMaxPixels); })) {
            refuse(fmt::format("{} and at most {}", what, kMaxPixels), widths);
            return {};
        }
        std::vector<float> read;
        for (const json& width : widths) read.push_back(static_cast<float>(width.get<double>()));
        return read;
    }

private:
    const fs::path& file_;
    const json& doc_;
    std::vector<std::string>& refused_;
};

Settings parse(const fs::path& file, const std::string& text, std::vector<std::string>& refused) {
    Settings settings;
    if (std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isspace(c) != 0; })) return settings;
    const json doc = parseVersionedJson(file, text, Settings::kFormatVersion);
    const Reader read(file, doc, refused);

    settings.address.host = read.text(doc, "host").value_or("");
    if (const json* port = read.field("port")) settings.address.port = read.port(*port, "").value_or(102);
    if (const json* recent = read.field("recent")) {
        if (!recent->is_array()) read.damaged("\"recent\" is not a list");
        std::size_t number = 0;
        for (const json& entry : *recent) {
            const std::optional<ControllerAddress> address = read.recentEntry(entry, ++number);
            // A hand-edited list may be longer or repeat itself: the first
            // ones count, once each.
            if (address && settings.recent.size() < Settings::kMaxRecent &&
                std::find(settings.recent.begin(), settings.recent.end(), *address) == settings.recent.end()) {
                settings.recent.push_back(*address);
            }
        }
    }
    settings.windowWidth = read.size("windowWidth");
    settings.windowHeight = read.size("windowHeight");
    settings.treeWidth = read.positive("treeWidth", kMaxPixels);
    if (const json* widths = read.field("inspectorColumnWidths")) {
        settings.inspectorColumnWidths = read.columnWidths(*widths);
    }
    settings.uiScale = read.positive("uiScale", kMaxScale);
    if (const std::optional<std::string> list = read.text(doc, "watchList")) settings.watchList = *list;
    return settings;
}

// Pixels to the hundredth: enough for any screen, and a file a person can
// read (a float written as a double shows its rounding error otherwise).
double pixels(float value) { return std::round(static_cast<double>(value) * 100.0) / 100.0; }

std::string settingsText(const Settings& settings) {
    json doc = json::object();
    doc["version"] = Settings::kFormatVersion;
    putExactText(doc, "host", settings.address.host);
    doc["port"] = settings.address.port;
    json recent = json::array();
    for (const ControllerAddress& address : settings.recent) {
        json entry = json::object();
        putExactText(entry, "host", address.host);
        entry["port"] = address.port;
        recent.push_back(std::move(entry));
    }
    doc["recent"] = std::move(recent);
    if (settings.windowWidth) doc["windowWidth"] = *settings.windowWidth;
    if (settings.windowHeight) doc["windowHeight"] = *settings.windowHeight;
    if (settings.treeWidth) doc["treeWidth"] = pixels(*settings.treeWidth);
    json widths = json::array();
    for (const float width : settings.inspectorColumnWidths) widths.push_back(pixels(width));
    doc["inspectorColumnWidths"] = std::move(widths);
    if (settings.uiScale) doc["uiScale"] = pixels(*settings.uiScale);
    // A path is bytes, not always UTF-8.
    if (!settings.watchList.empty()) putExactText(doc, "watchList", settings.watchList.string());
    return fileText(doc);
}

}  // namespace

void Settings::rememberConnection(const ControllerAddress& connected) {
    const auto it = std::find(recent.begin(), recent.end(), connected);
    if (it != recent.end()) recent.erase(it);
    recent.insert(recent.begin(), connected);
    if (recent.size() > kMaxRecent) recent.resize(kMaxRecent);
}

fs::path Settings::defaultPath() { return userFolder("XDG_CONFIG_HOME", ".config") / "vemo-s7-browser" / "settings.json"; }

Settings Settings::read(const fs::path& file, std::vector<std::string>* refused) {
    std::vector<std::string> ignored;
    const std::optional<std::string> text = readUserFile(file);
    return text ? parse(file, *text, refused != nullptr ? *refused : ignored) : Settings{};
}

void Settings::write(const fs::path& file) const { replaceUserFile(file, settingsText(*this)); }

float uiScaleForDpi(float dpi) {
    if (!(dpi > 0.0f) || !std::isfinite(dpi)) return 1.0f;
    const float wanted = dpi / 96.0f;
    return *std::min_element(std::begin(kUiScales), std::end(kUiScales),
                             [wanted](float a, float b) { return std::abs(a - wanted) < std::abs(b - wanted); });
}

float stepUiScale(float scale, int steps) {
    // Scales closer than this are the same step.
    constexpr float kSame = 0.001f;
    const auto first = std::begin(kUiScales);
    const auto last = std::end(kUiScales);
    const std::ptrdiff_t count = std::ssize(kUiScales);
    std::ptrdiff_t index = 0;
    if (steps > 0) {
        // The first step goes to the next offered scale above.
        const auto above = std::find_if(first, last, [scale](float s) { return s > scale + kSame; });
        index = std::distance(first, above) + steps - 1;
    } else if (steps < 0) {
        const auto below = std::find_if(std::make_reverse_iterator(last), std::make_reverse_iterator(first),
                                        [scale](float s) { return s < scale - kSame; });
        index = std::distance(first, below.base()) - 1 + steps + 1;
    } else {
        index = std::distance(first, std::min_element(first, last, [scale](float a, float b) {
                                  return std::abs(a - scale) < std::abs(b - scale);
                              }));
    }
    return kUiScales[std::clamp<std::ptrdiff_t>(index, 0, count - 1)];
}

SettingsStore::SettingsStore(fs::path file, Clock now) : file_(std::move(file)), now_(std::move(now)) {}

SettingsStore::~SettingsStore() = default;

std::optional<std::string> SettingsStore::load() {
    pending_ = false;
    refused_.clear();
    if (file_.empty()) return std::nullopt;
    try {
        settings_ = Settings::read(file_, &refused_);
        writable_ = true;
        return std::nullopt;
    } catch (const UserFileError& e) {
        settings_ = Settings{};
        refused_.clear();
        writable_ = false;
        return e.what();
    }
}

void SettingsStore::update(const Settings& settings) {
    if (settings == settings_) return;
    settings_ = settings;
    pending_ = true;
    changedAt_ = now_();
}

std::optional<std::string> SettingsStore::tick() {
    if (!pending_ || now_() - changedAt_ < kQuietTime) return std::nullopt;
    return save();
}

std::optional<std::string> SettingsStore::flush() { return pending_ ? save() : std::nullopt; }

std::optional<std::string> SettingsStore::save() {
    pending_ = false;
    if (file_.empty() || !writable_) return std::nullopt;
    try {
        settings_.write(file_);
        return std::nullopt;
    } catch (const UserFileError& e) {
        return e.what();
    }
}

}  // namespace vemo

// What the desktop program remembers between runs: the address and port in
// the top bar and the controllers connected to lately, the window's size,
// the divider between tree and inspector, the inspector's column widths, the
// UI scale and the watch list opened last.
//
// They are kept in one JSON file, by default in the user's config folder
// (defaultPath()):
//
//   {"version": 1, "host": "192.168.0.10", "port": 102,
//    "recent": [{"host": "192.168.0.10", "port": 102}],
//    "windowWidth": 1200, "windowHeight": 800, "treeWidth": 420.0,
//    "inspectorColumnWidths": [210.0, 96.0, 96.0, 140.0, 112.0, 24.0],
//    "uiScale": 1.25, "watchList": "/home/op/.local/share/vemo-s7-browser/watch-lists/line-3.json"}
//
// Every field may be left out: it then has its default. Fields this
// program does not know are ignored. A file that cannot be read as
// settings - not JSON, a field of the wrong kind, a newer format version -
// is a UserFileError naming the file and what is wrong with it; a number of
// the right kind but out of its range is left out alone. A host or path
// that is not UTF-8 is kept exactly (as "hostBytes", "watchListBytes" in
// hexadecimal beside the readable field).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "vemo/core/UserFiles.h"

namespace vemo {

struct ControllerAddress {
    std::string host;
    std::uint16_t port = 102;

    bool operator==(const ControllerAddress&) const = default;
};

struct Settings {
    // The format version this program reads and writes.
    static constexpr int kFormatVersion = 1;
    // How many recent controllers are kept.
    static constexpr std::size_t kMaxRecent = 10;

    // What the top bar's address and port fields held.
    ControllerAddress address;
    // The controllers connected to, the latest first, each once.
    std::vector<ControllerAddress> recent;
    // Unset: the program's own choice.
    std::optional<int> windowWidth;
    std::optional<int> windowHeight;
    std::optional<float> treeWidth;
    std::vector<float> inspectorColumnWidths;
    // Unset: taken from the display at the next start.
    std::optional<float> uiScale;
    // The watch list saved or opened last; empty for none.
    std::filesystem::path watchList;

    // Puts `connected` first in `recent` (moving it there if it was in the
    // list already) and keeps at most kMaxRecent entries.
    void rememberConnection(const ControllerAddress& connected);

    bool operator==(const Settings&) const = default;

    // $XDG_CONFIG_HOME/vemo-s7-browser/settings.json, or under ~/.config.
    // Throws UserFileError (Unwritable) when there is no home folder.
    static std::filesystem::path defaultPath();

    // The settings in `file`; the defaults when it does not exist or is
    // empty. Throws UserFileError. A number out of its range (a port of
    // 70000, a width of 1e300) is left out alone, keeping its default, and
    // said in `refused` (one text each, naming the file and the field).
    static Settings read(const std::filesystem::path& file, std::vector<std::string>* refused = nullptr);
    // Writes them to `file` atomically, making its folder if need be (a
    // symbolic link is written through to its target). Throws
    // UserFileError.
    void write(const std::filesystem::path& file) const;
};

// The UI scales the program offers, smallest first; 1.0 is 96 dpi.
inline constexpr float kUiScales[] = {0.8f, 0.9f, 1.0f, 1.1f, 1.25f, 1.5f, 1.75f, 2.0f};

// The offered scale nearest to dpi / 96; 1.0 for a display that reports no
// sensible resolution (0, negative, not a number).
float uiScaleForDpi(float dpi);
// The offered scale `steps` steps above (steps > 0) or below (steps < 0)
// `scale`, stopping at the ends; from a scale between two offered ones the
// first step goes to its neighbour in that direction. 0 steps: the nearest
// offered scale.
float stepUiScale(float scale, int steps);

// Keeps the settings of a running program in their file: saved once they
// have stopped changing for kQuietTime (a window being dragged larger
// changes them every frame), and at the end. A file that could not be read
// is never written over: the user decides what to do with it.
class SettingsStore {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::milliseconds kQuietTime{1000};

    // A store on `file`; an empty path keeps them in memory only.
    explicit SettingsStore(std::filesystem::path file, Clock now = std::chrono::steady_clock::now);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // Reads the file: the defaults and the error's text when it cannot be
    // read as settings (nothing is written to it from then on); nullopt
    // when it could be read, perhaps with values left out (refused()).
    std::optional<std::string> load();
    // The values the last load() left out as out of their range, one text
    // each; the file is still written, which mends them.
    const std::vector<std::string>& refused() const { return refused_; }

    const std::filesystem::path& path() const { return file_; }
    const Settings& settings() const { return settings_; }

    // The settings as they are now; a change is saved later (tick/flush).
    void update(const Settings& settings);
    // Saves a change that is kQuietTime old. The error's text when saving
    // failed (said once per failed save; the next change tries again).
    std::optional<std::string> tick();
    // Saves a change now, however young.
    std::optional<std::string> flush();
    // Whether a change waits to be saved.
    bool pending() const { return pending_; }

private:
    std::optional<std::string> save();

    std::filesystem::path file_;
    Clock now_;
    Settings settings_;
    bool pending_ = false;
    bool writable_ = true;
    std::vector<std::string> refused_;
    std::chrono::steady_clock::time_point changedAt_;
};

}  // namespace vemo

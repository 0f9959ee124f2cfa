// The browser's one window, "VEMO S7 Browser", with a root stack that fills
// it. The stack holds the top bar above the content row: the tree view, a
// divider the operator drags, and the inspector with the watch-list strip
// above it. Over it all lies the warning about a controller whose key
// changed.
//
// The window remembers the operator's work in the settings (see
// vemo/core/Settings.h): the address and recent controllers, its size, the
// divider, the inspector's column widths, the UI scale and the last watch
// list, which it opens again. Changes are saved once they stop (not every
// frame) and when the window goes.
//
// The UI scale comes from the display's resolution at the first start
// (96 dpi is 1.0); Ctrl+= / Ctrl++ and Ctrl+- step it through kUiScales,
// Ctrl+0 goes back to the display's. Fonts are rasterised anew at the new
// size, and every fixed size (bars, rows, icons, the window's minimum)
// follows. Ctrl+O and Ctrl+S open the watch-list dialogs.
//
// Widgets and the window are owned by the toolkit (the window by the
// Application, widgets by their parents); MainWindow keeps plain pointers and
// owns only its tick-callback registration.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vemo/core/Settings.h"
#include "vemo/ui/Stack.h"
#include "vemo/ui/Window.h"

namespace vemo {

class DividerView;
class IdentityWarningView;
class InspectorView;
class Overlay;
class PlcConnection;
class ThreadPool;
class MessageBarView;
class TopBarView;
class TreeView;
class WatchListBar;
class WatchListSession;

class MainWindow {
public:
    // Sizes at UI scale 1.
    static constexpr int kWidth = 1200;
    static constexpr int kHeight = 800;
    // The smallest window everything still fits in: a panel PC's screen.
    static constexpr int kMinWidth = 800;
    static constexpr int kMinHeight = 500;
    static constexpr float kDividerWidth = 6.0f;
    // Until the operator drags the divider, the tree takes this share of
    // the row, at most kTreeWidth.
    static constexpr float kTreeWidth = 420.0f;
    static constexpr float kTreeShare = 0.4f;
    // Neither side of the divider gets narrower than this.
    static constexpr float kTreeMinWidth = 160.0f;
    static constexpr float kInspectorMinWidth = 400.0f;

    // Builds the window with the process-wide connection service and pool,
    // and the settings in their default file. Needs a running Application;
    // the first use of the theme loads the fonts (std::runtime_error when
    // the asset package lacks them).
    MainWindow();
    // The same with the given service and pool, which must outlive the
    // window's views, and the settings in `settingsFile` (an empty path:
    // kept in memory only, nothing read or written). Either way the window
    // makes the one tag inspector its views share, over the same service
    // and pool, and gives it the toolkit's way to the UI thread.
    MainWindow(PlcConnection& service, ThreadPool& pool, std::filesystem::path settingsFile = {});
    // Saves what changed since the last save.
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Every frame: the layout follows the window's size, the settings
    // follow what the operator changed, a waiting watch list finds its
    // variables in a newly loaded tree.
    void onTick() noexcept;

    ui::Window* window() const { return window_; }
    ui::Stack* rootStack() const { return rootStack_; }
    TopBarView* topBar() const { return topBar_; }
    MessageBarView* messageBar() const { return messageBar_; }
    TreeView* treeView() const { return treeView_; }
    IdentityWarningView* identityWarning() const { return identityWarning_; }
    DividerView* divider() const { return divider_; }
    InspectorView* inspectorView() const { return inspectorView_; }
    WatchListBar* watchListBar() const { return watchListBar_; }

    float uiScale() const { return scale_; }
    // Clamped to the offered range (kUiScales), and to what the screen has
    // room for: the window's minimum grows with the scale.
    void setUiScale(float scale);
    // What Ctrl+0 goes back to: the display's scale.
    float displayScale() const;
    // The largest offered scale whose minimum window fits the screen.
    float maxUiScale() const;

    // Where the operator put the divider (the tree's width), as a drag
    // sets it; the row shows it within the bounds that keep both sides
    // at least their minimum width. Unset until the first drag.
    std::optional<float> wantedTreeWidth() const { return treeWidth_; }
    void setTreeWidth(float width);
    // The tree's width for the wanted one in a row `rowWidth` wide.
    float boundedTreeWidth(float wanted, float rowWidth) const;

    // The watch-list dialogs' work: "" when done, else why not. A relative
    // path is taken from the working folder, "~/" from the home folder.
    std::string openWatchList(const std::string& path);
    std::string saveWatchList(const std::string& path);
    WatchListSession& watchLists() const { return *watchLists_; }

    // The settings as the window last handed them to the store.
    const Settings& settings() const { return settings_; }
    // Saves the settings now if they changed.
    void saveSettings();

private:
    void build(PlcConnection& service, ThreadPool& pool);
    bool onShortcut(const ui::KeyEvent& event);
    void applyLayout();
    void resolveWatchList();
    void collectSettings();
    void showNotice(std::string headline, std::string advice);
    std::string suggestedWatchListPath() const;
    // Opens or saves the list at the path typed: "" when done, else why not.
    std::string withWatchList(const std::string& path, void (WatchListSession::*act)(const std::filesystem::path&));

    SettingsStore store_;
    PlcConnection* service_;
    Settings settings_;
    float scale_ = 1.0f;
    std::optional<float> treeWidth_;
    std::uint8_t lastState_ = 0xFF;
    std::unique_ptr<WatchListSession> watchLists_;
    ui::Window* window_ = nullptr;
    ui::Stack* rootStack_ = nullptr;
    TopBarView* topBar_ = nullptr;
    MessageBarView* messageBar_ = nullptr;
    TreeView* treeView_ = nullptr;
    IdentityWarningView* identityWarning_ = nullptr;
    DividerView* divider_ = nullptr;
    ui::Stack* inspectorColumn_ = nullptr;
    WatchListBar* watchListBar_ = nullptr;
    InspectorView* inspectorView_ = nullptr;
    Overlay* dialogOverlay_ = nullptr;
};

}  // namespace vemo

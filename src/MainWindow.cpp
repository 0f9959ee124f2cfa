#include "MainWindow.h"

#include <SDL.h>
#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <utility>

#include "Theme.h"
#include "Views/DividerView.h"
#include "Views/IdentityWarningView.h"
#include "Views/InspectorView.h"
#include "Views/MessageBarView.h"
#include "Views/Overlay.h"
#include "Views/TopBarView.h"
#include "Views/TreeView.h"
#include "Views/WatchListBar.h"
#include "WatchListSession.h"
#include "vemo/core/Logger.h"
#include "vemo/core/PlcConnection.h"
#include "vemo/core/TagInspector.h"
#include "vemo/core/ThreadPool.h"
#include "vemo/core/UserFiles.h"
#include "vemo/ui/Application.h"

namespace vemo {

namespace {

namespace fs = std::filesystem;

constexpr int kLeftToRight = 0;
constexpr int kAlignStretch = 3;
constexpr int kDistributeFill = 6;

// The inspector's results reach the UI thread through the toolkit, which
// the core does not know.
std::shared_ptr<TagInspector> makeInspector(PlcConnection& service, ThreadPool& pool) {
    TagInspector::Hooks hooks;
    hooks.post = [](std::function<void()> fn) { ui::Application::dispatchToMainThread(std::move(fn)); };
    return std::make_shared<TagInspector>(service, pool, std::move(hooks));
}

// The settings' default file; none (in memory only) without a home folder.
fs::path defaultSettingsPath() {
    try {
        return Settings::defaultPath();
    } catch (const UserFileError& e) {
        Logger::log(LogLevel::Warn, "Settings are not kept: {}", e.what());
        return {};
    }
}

// A file error's text without the path it starts with: the dialog and the
// message bar name the file themselves.
std::string reasonOf(const UserFileError& error, const fs::path& file) {
    const std::string what = error.what();
    const std::string prefix = file.string() + ": ";
    return what.rfind(prefix, 0) == 0 ? what.substr(prefix.size()) : what;
}

// A path as the operator types it: "~/" is the home folder, a relative path
// is taken from the working folder.
fs::path typedPath(const std::string& text) {
    fs::path path = text;
    if (text == "~" || text.rfind("~/", 0) == 0) path = homeFolder() / text.substr(std::min<size_t>(2, text.size()));
    std::error_code ignored;
    const fs::path absolute = fs::absolute(path, ignored);
    return absolute.empty() ? path : absolute.lexically_normal();
}

// The display's horizontal resolution in dots per inch; 0 when it says
// none.
float displayDpi(SDL_Window* window) {
    const int display = window != nullptr ? std::max(0, SDL_GetWindowDisplayIndex(window)) : 0;
    float diagonal = 0.0f;
    float horizontal = 0.0f;
    if (SDL_GetDisplayDPI(display, &diagonal, &horizontal, nullptr) != 0) return 0.0f;
    return horizontal > 0.0f ? horizontal : diagonal;
}

}  // namespace

MainWindow::MainWindow() : MainWindow(*PlcConnection::instance(), ThreadPool::instance(), defaultSettingsPath()) {}

MainWindow::MainWindow(PlcConnection& service, ThreadPool& pool, fs::path settingsFile)
    : store_(std::move(settingsFile)), service_(&service) {
    const std::optional<std::string> unreadable = store_.load();
    settings_ = store_.settings();
    build(service, pool);
    if (unreadable) {
        showNotice(fmt::format("Settings not read: {}", store_.path().string()),
                   fmt::format("{} - the defaults are used, and nothing is saved there until it is fixed or removed.",
                               *unreadable));
    }
    if (!settings_.watchList.empty()) {
        const fs::path list = settings_.watchList;
        if (const std::string error = openWatchList(list.string()); !error.empty()) {
            showNotice(fmt::format("Watch list not opened: {}", list.string()), error);
        }
    }
    ui::Application::registerTickCallback(this, [this] { onTick(); });
}

void MainWindow::build(PlcConnection& service, ThreadPool& pool) {
    const Theme& theme = Theme::instance();
    std::shared_ptr<TagInspector> inspector = makeInspector(service, pool);
    watchLists_ = std::make_unique<WatchListSession>(*inspector);

    window_ = ui::Application::createWindow("VEMO S7 Browser", settings_.windowWidth.value_or(kWidth),
                                            settings_.windowHeight.value_or(kHeight), ui::WindowFlag::Default);
    window_->setClearColor(theme.windowBackgroundColor());
    window_->addShortcutHandler(this, [this](const ui::KeyEvent& event) { return onShortcut(event); });

    // Its orientation stays unset: top to bottom, the top bar above the row.
    rootStack_ = new ui::Stack(window_->getRootWidget());
    rootStack_->setPosition({0.0f, 0.0f});
    rootStack_->setPreferredSize({static_cast<float>(kWidth), static_cast<float>(kHeight)});
    rootStack_->setDistribution(kDistributeFill);
    rootStack_->setAlignment(kAlignStretch);

    topBar_ = new TopBarView(rootStack_, service, pool);
    topBar_->setAddress(settings_.address);
    topBar_->setRecentControllers(settings_.recent);

    // Under the top bar while a connect failed or a lost connection is
    // being reconnected, or a file had trouble; hidden otherwise.
    messageBar_ = new MessageBarView(rootStack_, service);

    // The content row: the tree view, the divider and the inspector's
    // column, which takes what the tree leaves.
    auto* content = new ui::Stack(rootStack_);
    content->setDistribution(kDistributeFill);
    content->setAlignment(kAlignStretch);
    content->setOrientation(kLeftToRight);

    // Both views hold the inspector: it lives as long as the later of them.
    treeView_ = new TreeView(content, service, pool, inspector);

    divider_ = new DividerView(content, [this](float x) { setTreeWidth(x); });

    inspectorColumn_ = new ui::Stack(content);
    inspectorColumn_->setDistribution(kDistributeFill);
    inspectorColumn_->setAlignment(kAlignStretch);
    // The dialogs cover the whole window, above everything else.
    dialogOverlay_ = new Overlay(*window_);
    WatchListBar::Actions actions;
    actions.open = [this](const std::string& path) { return openWatchList(path); };
    actions.save = [this](const std::string& path) { return saveWatchList(path); };
    actions.suggestedPath = [this] { return suggestedWatchListPath(); };
    actions.currentPath = [this] { return watchLists_->path().string(); };
    watchListBar_ = new WatchListBar(inspectorColumn_, *dialogOverlay_, std::move(actions));
    inspectorView_ = new InspectorView(inspectorColumn_, std::move(inspector));
    // Where an export went, or why it failed, is said in the message bar.
    inspectorView_->onNotice([bar = messageBar_](const std::string& headline, const std::string& advice, bool problem) {
        bar->notify(headline, advice, problem);
    });

    // Last, so it lies over everything while a connection is held.
    identityWarning_ = new IdentityWarningView(window_->getRootWidget(), service, pool);

    setUiScale(settings_.uiScale.value_or(displayScale()));
    inspectorView_->setColumnWidths(settings_.inspectorColumnWidths);
    // As saved: in pixels of the window at the saved scale.
    treeWidth_ = settings_.treeWidth;
    applyLayout();
}

MainWindow::~MainWindow() {
    ui::Application::unregisterTickCallback(this);
    // The window outlives this object in the Application.
    window_->removeShortcutHandler(this);
    saveSettings();
}

float MainWindow::displayScale() const {
    return uiScaleForDpi(displayDpi(window_ != nullptr ? window_->sdlWindow() : nullptr));
}

float MainWindow::maxUiScale() const {
    SDL_Rect usable{};
    const int display = SDL_GetWindowDisplayIndex(window_->sdlWindow());
    if (display < 0 || SDL_GetDisplayUsableBounds(display, &usable) != 0 || usable.w <= 0 || usable.h <= 0) {
        return kUiScales[std::size(kUiScales) - 1];
    }
    float largest = kUiScales[0];
    for (const float scale : kUiScales) {
        if (static_cast<float>(kMinWidth) * scale <= static_cast<float>(usable.w) &&
            static_cast<float>(kMinHeight) * scale <= static_cast<float>(usable.h)) {
            largest = scale;
        }
    }
    return largest;
}

void MainWindow::setUiScale(float scale) {
    const float bounded = std::clamp(scale, kUiScales[0], maxUiScale());
    // A divider the operator placed keeps its share of the row as
    // everything grows or shrinks.
    if (treeWidth_ && bounded != scale_) *treeWidth_ *= bounded / scale_;
    scale_ = bounded;
    topBar_->setScale(scale_);
    messageBar_->setScale(scale_);
    treeView_->setScale(scale_);
    inspectorView_->setScale(scale_);
    watchListBar_->setScale(scale_);
    dialogOverlay_->setScale(scale_);
    divider_->setMinSize({kDividerWidth * scale_, 0.0f});
    divider_->setMaxSize({kDividerWidth * scale_, ui::kUnbounded});

    // At a larger scale everything needs more room.
    window_->setMinSize(static_cast<int>(std::ceil(static_cast<float>(kMinWidth) * scale_)),
                        static_cast<int>(std::ceil(static_cast<float>(kMinHeight) * scale_)));
    applyLayout();
}

void MainWindow::setTreeWidth(float width) {
    // Kept within what the row can show, so that a drag beyond the bounds
    // does not have to come all the way back before the divider moves.
    const float row = inspectorColumn_->getParent()->getActualSize().x;
    treeWidth_ = row > 0.0f ? boundedTreeWidth(width, row) : width;
    applyLayout();
}

float MainWindow::boundedTreeWidth(float wanted, float rowWidth) const {
    const float tree = kTreeMinWidth * scale_;
    const float inspector = kInspectorMinWidth * scale_;
    const float room = rowWidth - kDividerWidth * scale_;
    // Too narrow for both minimums: they share the room in their ratio.
    if (room < tree + inspector) return std::max(0.0f, room * tree / (tree + inspector));
    return std::clamp(wanted, tree, room - inspector);
}

void MainWindow::applyLayout() {
    const float width = static_cast<float>(window_->getWidth());
    const float height = static_cast<float>(window_->getHeight());
    const float top = TopBarView::kHeight * scale_;
    rootStack_->setPreferredSize({width, height});
    topBar_->setPreferredSize({0.0f, top});
    topBar_->setMaxSize({width, top});
    messageBar_->setPreferredSize({0.0f, messageBar_->height()});
    messageBar_->setMaxSize({width, messageBar_->height()});
    const float wanted = treeWidth_.value_or(std::min(kTreeWidth * scale_, width * kTreeShare));
    const float tree = boundedTreeWidth(wanted, width);
    if (!(treeView_->getMaxSize() == ui::Vec2{tree, ui::kUnbounded})) {
        treeView_->setMinSize({tree, 0.0f});
        treeView_->setMaxSize({tree, ui::kUnbounded});
    }
    const float strip = watchListBar_->height();
    watchListBar_->setMinSize({0.0f, strip});
    watchListBar_->setMaxSize({ui::kUnbounded, strip});
}

void MainWindow::onTick() noexcept {
    applyLayout();
    messageBar_->sync();
    identityWarning_->sync();
    try {
        // A controller connected to is one to offer again.
        const ConnectionStatus status = service_->status();
        if (static_cast<std::uint8_t>(status.state) != lastState_) {
            lastState_ = static_cast<std::uint8_t>(status.state);
            if (status.state == ConnectionState::Connected) {
                settings_.rememberConnection(ControllerAddress{status.host, status.port});
                topBar_->setRecentControllers(settings_.recent);
            }
        }
        resolveWatchList();
        collectSettings();
        store_.update(settings_);
        if (const std::optional<std::string> error = store_.tick()) {
            showNotice(fmt::format("Settings not saved: {}", store_.path().string()), *error);
        }
    } catch (const std::exception& e) {
        Logger::log(LogLevel::Error, "Keeping the settings and watch list failed: {}", e.what());
    }
}

void MainWindow::resolveWatchList() {
    const fs::path& list = watchLists_->path();
    const TreeModel* tree = treeView_->model();
    const std::size_t rows = watchLists_->waiting() ? watchLists_->waitingRows() : 0;
    const std::vector<std::string> missing = watchLists_->resolve(tree);
    if (!missing.empty()) {
        // The first few by name: the log has them all.
        constexpr std::size_t kNamed = 4;
        std::string names;
        for (std::size_t i = 0; i < std::min(missing.size(), kNamed); ++i) names += (i > 0 ? ", " : "") + missing[i];
        if (missing.size() > kNamed) names += fmt::format(" and {} more", missing.size() - kNamed);
        Logger::log(LogLevel::Warn, "Watch list {}: not in the controller's program: {}", list.string(),
                    fmt::join(missing, ", "));
        showNotice(fmt::format("Watch list {}: {} of {} variables are not in this controller's program",
                               list.filename().string(), missing.size(), rows),
                   fmt::format("Left out: {}.", names));
    }
    std::string name = list.filename().string();
    if (watchLists_->waiting()) name += " - waiting for a controller";
    if (name != watchListBar_->listName()) watchListBar_->setListName(std::move(name));
}

void MainWindow::collectSettings() {
    settings_.address = topBar_->address();
    settings_.windowWidth = window_->getWidth();
    settings_.windowHeight = window_->getHeight();
    settings_.treeWidth = treeWidth_;
    settings_.uiScale = scale_;
    settings_.watchList = watchLists_->path();
    // Empty until the table was first drawn or given widths.
    if (std::vector<float> widths = inspectorView_->columnWidths(); !widths.empty()) {
        settings_.inspectorColumnWidths = std::move(widths);
    }
}

void MainWindow::saveSettings() {
    collectSettings();
    store_.update(settings_);
    if (const std::optional<std::string> error = store_.flush()) {
        Logger::log(LogLevel::Warn, "Settings not saved: {}", *error);
    }
}

void MainWindow::showNotice(std::string headline, std::string advice) {
    Logger::log(LogLevel::Warn, "{}: {}", headline, advice);
    messageBar_->notify(std::move(headline), std::move(advice));
}

std::string MainWindow::suggestedWatchListPath() const {
    if (!watchLists_->path().empty()) return watchLists_->path().string();
    try {
        return (WatchList::defaultFolder() / "watch-list.json").string();
    } catch (const UserFileError&) {
        return (homeFolder() / "watch-list.json").string();
    }
}

std::string MainWindow::openWatchList(const std::string& path) { return withWatchList(path, &WatchListSession::open); }

std::string MainWindow::saveWatchList(const std::string& path) { return withWatchList(path, &WatchListSession::save); }

std::string MainWindow::withWatchList(const std::string& path, void (WatchListSession::*act)(const fs::path&)) {
    const fs::path file = typedPath(path);
    try {
        (watchLists_.get()->*act)(file);
    } catch (const UserFileError& e) {
        return reasonOf(e, file);
    }
    settings_.watchList = file;
    return {};
}

bool MainWindow::onShortcut(const ui::KeyEvent& event) {
    const bool ctrl = (event.modifiers & KMOD_CTRL) != 0;
    if (!ctrl || (event.modifiers & (KMOD_ALT | KMOD_GUI)) != 0) return false;
    // Both the press and the release are the shortcut's.
    const bool press = event.pressed;
    switch (event.keycode) {
    case SDLK_EQUALS:
    case SDLK_PLUS:
    case SDLK_KP_PLUS:
        if (press) setUiScale(stepUiScale(scale_, 1));
        return true;
    case SDLK_MINUS:
    case SDLK_KP_MINUS:
        if (press) setUiScale(stepUiScale(scale_, -1));
        return true;
    case SDLK_0:
    case SDLK_KP_0:
        if (press) setUiScale(displayScale());
        return true;
    case SDLK_o:
        if (press && !watchListBar_->dialogShown()) watchListBar_->openDialog();
        return true;
    case SDLK_s:
        if (press && !watchListBar_->dialogShown()) watchListBar_->saveDialog();
        return true;
    default: return false;
    }
}

}  // namespace vemo

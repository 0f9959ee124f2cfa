#include "Views/TreeView.h"

#include <SDL.h>
#include <fmt/format.h>
#include <imgui.h>
#include <imgui_internal.h>
#include <imgui_stdlib.h>
#include <vemo/s7datatype.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "AppTextures.h"
#include "Theme.h"
#include "Views/Spinner.h"
#include "vemo/core/Browse.h"
#include "vemo/core/ConnectionWords.h"
#include "vemo/core/KnownControllers.h"
#include "vemo/core/Logger.h"
#include "vemo/core/PlcConnection.h"
#include "vemo/core/TagInspector.h"
#include "vemo/core/ThreadPool.h"
#include "vemo/ui/Application.h"
#include "vemo/ui/ImGuiPanel.h"
#include "vemo/ui/Resources.h"
#include "vemo/ui/ScrollView.h"
#include "vemo/ui/Stack.h"
#include "vemo/ui/Window.h"

namespace vemo {

namespace {

constexpr int kDistributeCenter = 1;
constexpr int kAlignCenter = 1;

// After the name of a block whose browse failed.
constexpr const char* kUnreadNote = "could not be read";

// Room between a popup's or tooltip's border and its text, at scale 1.
constexpr float kPopupPaddingX = 8.0f;
constexpr float kPopupPaddingY = 6.0f;

void styleTreePanel(ui::ImGuiPanel* panel, const Theme& theme, float scale) {
    panel->setDefaultFont(theme.defaultFont(), theme.largeFontSize() * theme.imguiFontScale() * scale);
    theme.applyImGuiStyle(panel->getImGuiContext(), scale);
}

bool keyPressed(ImGuiKey key, bool repeat = true) { return ImGui::IsKeyPressed(ImGui::GetKeyIndex(key), repeat); }

void copyToClipboard(const std::string& text) {
    if (!text.empty()) ImGui::SetClipboardText(text.c_str());
}

}  // namespace

// What a load hands from the worker to the UI thread.
struct TreeView::Loaded {
    std::uint64_t connection = 0;  // the one it was made on
    Controller controller;         // whose blocks they are
    bool superseded = false;       // another connection was made meanwhile: nothing to show
    std::uint8_t listCode = S7_OK;
    bool byOperator = false;  // the operator disconnected (or connected elsewhere) before the listing ended
    std::shared_ptr<const TreeModel> model;     // null unless the listing succeeded
    std::vector<std::uint8_t> open;             // the nodes open before, found again by path
    std::uint32_t selected = TreeModel::kNone;  // the row selected before, found again by path
};

namespace {

// Thrown into the load when its connection has been replaced by another.
struct ConnectionReplaced {};

bool sameHost(const std::string& a, const std::string& b) {
    if (a == b) return true;
    try {
        return KnownControllers::canonicalHost(a) == KnownControllers::canonicalHost(b);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

TreeView::TreeView(ui::Widget* parent, PlcConnection& connection, ThreadPool& pool,
                   std::shared_ptr<TagInspector> inspector)
    : ui::Widget(parent),
      connection_(&connection),
      pool_(&pool),
      inspector_(std::move(inspector)),
      theme_(&Theme::instance()) {
    const Theme& theme = *theme_;
    folderIcon_ = AppTextures::getSvg("icons/folder.svg", 256, 256);
    tagIcon_ = AppTextures::getSvg("icons/tag.svg", 256, 256);

    spinnerStack_ = new ui::Stack(this);
    spinnerStack_->setDistribution(kDistributeCenter);
    spinnerStack_->setAlignment(kAlignCenter);
    spinnerStack_->setVisible(false);
    new Spinner(spinnerStack_, {0.0f, 0.0f}, {kSpinnerSize, kSpinnerSize});

    const ui::Vec2 size = getActualSize();
    headerPanel_ = new ui::ImGuiPanel(this);
    headerPanel_->setPosition({0.0f, 0.0f});
    headerPanel_->setPreferredSize({size.x, kHeaderHeight});
    headerPanel_->setVisible(false);
    styleTreePanel(headerPanel_, theme, scale_);
    headerPanel_->setBuildImGuiFunction([this] { buildSearchBox(); });

    scrollView_ = new ui::ScrollView(this);
    scrollView_->setPosition({0.0f, kHeaderHeight});
    scrollView_->setPreferredSize({size.x, size.y - kHeaderHeight});
    // Shown by the first update, like everything that depends on the load.
    scrollView_->setVisible(false);

    treePanel_ = new ui::ImGuiPanel(scrollView_);
    treePanel_->setPosition({0.0f, 0.0f});
    treePanel_->setPreferredSize(size);
    styleTreePanel(treePanel_, theme, scale_);
    treePanel_->setBuildImGuiFunction([this] { drawTree(); });

    if (ui::Window* window = getWindow()) {
        window->addShortcutHandler(this, [this](const ui::KeyEvent& key) {
            const bool ctrlOnly = (key.modifiers & KMOD_CTRL) != 0 && (key.modifiers & (KMOD_SHIFT | KMOD_ALT)) == 0;
            if (key.scancode != SDL_SCANCODE_F || !ctrlOnly || !headerPanel_->isVisible()) return false;
            // The release is the shortcut's too.
            if (key.pressed) focusSearch();
            return true;
        });
    }
}

TreeView::~TreeView() {
    if (ui::Window* window = getWindow()) window->removeShortcutHandler(this);
}

void TreeView::setScale(float scale) {
    scale_ = scale;
    styleTreePanel(headerPanel_, *theme_, scale);
    styleTreePanel(treePanel_, *theme_, scale);
    spinnerStack_->getChildren().at(0)->setPreferredSize({kSpinnerSize * scale, kSpinnerSize * scale});
    rowsDirty_ = true;
    resized();
}

void TreeView::update() {
    ui::Widget::update();

    const ConnectionStatus status = connection_->status();
    followController(status);

    treePanel_->setVisible(!loading_);
    scrollView_->setVisible(!loading_);
    spinnerStack_->setVisible(loading_);
    headerPanel_->setVisible(!loading_ && model_ != nullptr && !model_->roots().empty());

    // Every new connection gets its own load, after a reconnect as after a
    // connect: the tree loads anew and the inspector's rows find their
    // variables in it again. One made while a load runs waits for it.
    if (status.state == ConnectionState::Connected && status.connection != loadedFor_ && !loading_) {
        Controller controller{status.host, status.port, {}};
        if (status.trust.identity) controller.key = status.trust.identity->key.text();
        startLoad(status.connection, std::move(controller));
    }

    inspector_->update();
    // The loop sleeps between frames: the next refresh needs a frame of its own.
    if (const std::optional<std::int64_t> in = inspector_->nextRefreshIn()) {
        ui::Application::wakeAt(ui::Application::Clock::now() + std::chrono::nanoseconds(*in));
    }

    if (model_ != nullptr && filterText_ != appliedFilter_) {
        appliedFilter_ = filterText_;
        filter_.start(*model_, appliedFilter_);
    }
    continueFilter();
}

bool TreeView::animating() const { return loading_ || filter_.running() || rowsDirty_; }

void TreeView::continueFilter() {
    if (!filter_.running()) return;
    if (filter_.run(std::chrono::nanoseconds(kFilterBudgetNs))) applyFilterResult(filter_.takeResult());
}

void TreeView::applyFilterResult(TreeFilter::Result result) {
    visible_ = std::move(result.visible);
    rowsDirty_ = true;
    if (!appliedFilter_.empty()) {
        // The first search after none remembers the user's tree; every
        // search starts from it, so that what one search opened does not
        // stay open under the next.
        if (userOpen_.empty()) {
            userOpen_ = open_;
            userScroll_ = scrollView_->getScrollOffset();
            userSelected_ = selected_;
        }
        open_ = userOpen_;
        // One pass of byte ORs, as cheap as the filter's start; a million
        // nodes take a fraction of a millisecond.
        for (std::size_t i = 0; i < open_.size(); ++i) open_[i] |= result.reveal[i];
        scrollTo_ = 0.0f;
        scrollToSelection_ = false;
    } else if (!userOpen_.empty()) {
        open_ = std::exchange(userOpen_, {});
        if (selected_ != TreeModel::kNone && selected_ != userSelected_) {
            // A row picked among the search's results stays in sight.
            for (std::uint32_t up = model_->parent(selected_); up != TreeModel::kNone; up = model_->parent(up)) {
                open_[up] = 1;
            }
            scrollToSelection_ = true;
        } else {
            scrollTo_ = userScroll_;
        }
    }
}

void TreeView::setOpen(std::uint32_t node, bool open) {
    if (node >= open_.size()) return;
    if (!userOpen_.empty()) userOpen_[node] = open ? 1 : 0;
    if ((open_[node] != 0) == open) return;
    open_[node] = open ? 1 : 0;
    rowsDirty_ = true;
}

void TreeView::select(std::uint32_t node) {
    selected_ = model_ != nullptr && node < model_->size() ? node : TreeModel::kNone;
    scrollToSelection_ = selected_ != TreeModel::kNone;
}

void TreeView::activate(std::uint32_t node) {
    if (model_ == nullptr || node >= model_->size()) return;
    if (model_->hasChildren(node)) {
        setOpen(node, !isOpen(node));
    } else if (const s7_symbol* symbol = model_->symbol(node); symbol != nullptr && acceptsTags_) {
        inspector_->add(symbol, modelConnection_);
    }
}

std::size_t TreeView::addToInspector(std::uint32_t node) {
    if (model_ == nullptr || node >= model_->size()) return 0;
    const TreeModel& model = *model_;
    if (!model.hasChildren(node)) {
        return inspector_->add(model.symbol(node), modelConnection_) ? 1 : 0;
    }
    // The leaves below it that the search shows; a structure's own symbol
    // stands for its members, which are added instead.
    std::vector<const s7_symbol*> leaves;
    for (std::uint32_t i = node + 1; i < model.end(node);) {
        if (visible_[i] == 0) {
            i = model.end(i);
            continue;
        }
        if (!model.hasChildren(i) && model.symbol(i) != nullptr) leaves.push_back(model.symbol(i));
        ++i;
    }
    const std::size_t count = leaves.size();
    if (count > kConfirmAddAbove) {
        pendingAdd_ = std::move(leaves);
        openConfirmation_ = true;
    } else {
        inspector_->add(leaves, modelConnection_);
    }
    return count;
}

void TreeView::confirmAdd(bool add) {
    const std::vector<const s7_symbol*> pending = std::exchange(pendingAdd_, {});
    if (add) inspector_->add(pending, modelConnection_);
}

std::string TreeView::nameText(std::uint32_t node) const {
    if (model_ == nullptr || node >= model_->size()) return {};
    const s7_symbol* symbol = model_->symbol(node);
    return symbol != nullptr && symbol->name != nullptr ? std::string(symbol->name) : model_->fullPath(node);
}

std::string TreeView::addressText(std::uint32_t node) const {
    if (model_ == nullptr || node >= model_->size()) return {};
    const s7_symbol* symbol = model_->symbol(node);
    return symbol != nullptr ? itemAddressText(symbol->address) : std::string();
}

void TreeView::focusSearch() {
    if (ui::Window* window = getWindow()) window->setFocus(headerPanel_);
    focusSearchFrames_ = 2;
}

std::size_t TreeView::rowOf(std::uint32_t node) const {
    // Rows are in pre-order: their node numbers only grow.
    const auto at = std::lower_bound(rows_.begin(), rows_.end(), node);
    return at != rows_.end() && *at == node ? static_cast<std::size_t>(at - rows_.begin()) : rows_.size();
}

void TreeView::resized() {
    ui::Widget::resized();
    const ui::Vec2 size = getActualSize();
    treePanel_->setPreferredSize({size.x, treePanel_->getActualSize().y});
    spinnerStack_->setPreferredSize(size);
    const float header = kHeaderHeight * scale_;
    scrollView_->setPosition({0.0f, header});
    scrollView_->setPreferredSize({size.x, size.y - header});
    headerPanel_->setPreferredSize({size.x, header});
}

void TreeView::followController(const ConnectionStatus& status) {
    if (!shown_ || status.state == ConnectionState::Disconnected) return;
    const std::string wanted = vemo::addressText(status.host, status.port);
    if (status.port != shown_->port || !sameHost(status.host, shown_->host)) {
        // Still true once that connect is over, or was cancelled.
        clear(fmt::format("A connect to another controller, {}, cleared the blocks and values of {}.", wanted,
                          vemo::addressText(shown_->host, shown_->port)));
        return;
    }
    // The same address, but not the same controller: a key other than the
    // one its blocks were loaded with.
    const bool live = status.state == ConnectionState::Connected || status.state == ConnectionState::Held;
    if (live && status.trust.identity && !shown_->key.empty() && status.trust.identity->key.text() != shown_->key) {
        clear(
            fmt::format("The controller at {} presents another key than when its blocks were loaded: its blocks "
                        "and values were cleared.",
                        wanted));
    }
}

void TreeView::forgetNodes() {
    // Node numbers and symbols of a model that goes: nothing may point into
    // it any more.
    userOpen_.clear();
    selected_ = TreeModel::kNone;
    userSelected_ = TreeModel::kNone;
    menuNode_ = TreeModel::kNone;
    pendingAdd_.clear();
}

void TreeView::clear(std::string why) {
    Logger::log(LogLevel::Info, "Tree cleared: {}", why);
    notice_ = std::move(why);
    shown_.reset();
    modelConnection_ = 0;
    // What the rows showed belongs to the controller the tree showed.
    inspector_->forgetValues();
    std::shared_ptr<const TreeModel> old = std::move(model_);
    model_.reset();
    forgetNodes();
    open_.clear();
    visible_.clear();
    rows_.clear();
    rowsDirty_ = false;
    filter_.cancel();
    appliedFilter_.clear();
    if (old != nullptr) {
        try {
            pool_->submit([old = std::move(old)]() mutable { old.reset(); });
        } catch (const std::exception&) {
            // A stopped pool: released here.
        }
    }
}

bool TreeView::acceptsTags() const {
    return model_ != nullptr && modelConnection_ == connection_->connectionId() &&
           connection_->getState() == ConnectionState::Connected;
}

void TreeView::startLoad(std::uint64_t connectionId, Controller controller) {
    // Shown at once, not when the worker gets to the task: no second load
    // can be queued behind it, and the tree cannot be clicked meanwhile.
    loading_ = true;
    loadedFor_ = connectionId;
    // The open nodes by path, to open them again in the new tree.
    // While a search is shown, the user's own open nodes: the search opens
    // its matches in the new tree by itself.
    const std::vector<std::uint8_t>& open = userOpen_.empty() ? open_ : userOpen_;
    std::vector<std::string> openPaths;
    std::string selectedPath;
    // A cleared tree has nothing to carry over.
    if (model_ != nullptr) {
        for (std::uint32_t i = 0; i < open.size(); ++i) {
            if (open[i] != 0) openPaths.push_back(model_->fullPath(i));
        }
        if (selected_ != TreeModel::kNone) selectedPath = model_->fullPath(selected_);
    }
    try {
        pool_->submit(lifetime(), [connection = connection_, alive = lifetime(), view = this, connectionId,
                                   controller = std::move(controller), openPaths = std::move(openPaths),
                                   selectedPath = std::move(selectedPath)] {
            auto loaded = std::make_shared<Loaded>();
            loaded->connection = connectionId;
            loaded->controller = controller;
            try {
                // Touches nothing of the view. Each library call takes the
                // service's lock on its own, so a disconnect waits for one
                // browse, not for the whole load; and each runs only on the
                // connection the load is for.
                Catalog catalog = listAndBrowse([connection, connectionId](const ClientCall& call) {
                    if (!connection->withConnection(connectionId, call)) throw ConnectionReplaced{};
                });
                loaded->listCode = catalog.listCode;
                // Only the operator's disconnect or connect leaves the
                // service Disconnected or Connecting; a controller that
                // closed the connection leaves it Lost.
                const ConnectionState after = connection->getState();
                loaded->byOperator = after == ConnectionState::Disconnected || after == ConnectionState::Connecting;
                if (catalog.listCode == S7_OK) {
                    // One line for all of them: after a failure that ends
                    // the connection every later block fails the same way.
                    if (const BrowsedBlock* first = firstFailure(catalog.browsed)) {
                        const auto failed = std::count_if(catalog.browsed.begin(), catalog.browsed.end(),
                                                          [](const BrowsedBlock& b) { return b.code != S7_OK; });
                        if (loaded->byOperator) {
                            Logger::log(LogLevel::Info,
                                        "Browsing stopped by the operator's disconnect: {} of {} "
                                        "blocks not browsed",
                                        failed, catalog.browsed.size());
                        } else {
                            Logger::log(LogLevel::Warn, "{}",
                                        browseFailuresText(static_cast<std::size_t>(failed), catalog.browsed.size(),
                                                           first->block->name != nullptr ? first->block->name : "",
                                                           first->code, controller.port));
                        }
                    }
                    auto model = std::make_shared<const TreeModel>(std::move(catalog));
                    loaded->open.assign(model->size(), 0);
                    for (const std::string& path : openPaths) {
                        const std::uint32_t node = model->find(path);
                        if (node != TreeModel::kNone) loaded->open[node] = 1;
                    }
                    if (!selectedPath.empty()) loaded->selected = model->find(selectedPath);
                    loaded->model = std::move(model);
                }
            } catch (const ConnectionReplaced&) {
                loaded->superseded = true;
            } catch (const std::exception& e) {
                Logger::log(LogLevel::Error, "Loading the data blocks failed: {}", e.what());
                loaded.reset();
            }
            // The view may be destroyed while the worker browses; the result
            // is handed over only if it is still there.
            ui::Application::dispatchToMainThread([alive, view, loaded = std::move(loaded)] {
                if (alive.expired()) return;
                view->finishLoad(loaded.get());
            });
        });
    } catch (const std::exception& e) {
        // Only a stopped pool refuses the task, when the program ends.
        loading_ = false;
        Logger::log(LogLevel::Warn, "Loading the data blocks not started: {}", e.what());
    }
}

void TreeView::finishLoad(Loaded* loaded) {
    loading_ = false;
    // Another connection was made while it ran: its own load follows.
    if (loaded != nullptr && loaded->superseded) return;
    if (loaded == nullptr) {
        const ConnectionStatus status = connection_->status();
        clear(fmt::format("Loading the blocks of {} failed; the log says why.",
                          vemo::addressText(status.host, status.port)));
        return;
    }
    if (loaded->listCode != S7_OK || loaded->model == nullptr) {
        clear(listingFailedText(loaded->listCode, vemo::addressText(loaded->controller.host, loaded->controller.port),
                                loaded->controller.port, loaded->byOperator));
        return;
    }
    notice_.clear();
    shown_ = loaded->controller;
    modelConnection_ = loaded->connection;
    std::shared_ptr<const TreeModel> old = std::exchange(model_, std::move(loaded->model));
    open_ = std::move(loaded->open);
    visible_.assign(model_->size(), 1);
    rowsDirty_ = true;
    forgetNodes();
    selected_ = loaded->selected;
    // The search box keeps its text across loads; the new nodes follow it.
    if (!appliedFilter_.empty()) {
        filter_.start(*model_, appliedFilter_);
        continueFilter();
    } else {
        filter_.cancel();
    }
    inspector_->rebind([this](const std::string& name) { return model_->findSymbol(name); }, modelConnection_,
                       [this](const std::string& name) { return model_->browseCodeFor(name); });
    // A million symbols take a while to release: the worker does it. The
    // inspector's rows hold copies, nothing else points into the old model.
    if (old != nullptr) {
        try {
            pool_->submit([old = std::move(old)]() mutable { old.reset(); });
        } catch (const std::exception&) {
            // A stopped pool: released here as the view goes.
        }
    }
}

void TreeView::buildSearchBox() {
    // Pasted text reaches the field without passing the panel's input.
    headerPanel_->useText(filterText_);
    ImGuiInputTextFlags flags = ImGuiInputTextFlags_None;
    if (focusSearchFrames_ > 0) {
        // The text is selected, so that typing replaces it: at once in a
        // field being edited, else as the field takes the focus asked for
        // here, in the next frame.
        const ImGuiID id = ImGui::GetID("##TagFilter");
        if (focusSearchFrames_ == 2) {
            if (ImGuiInputTextState* state = ImGui::GetInputTextState(id);
                state != nullptr && ImGui::GetActiveID() == id) {
                state->SelectAll();
            } else {
                ImGui::SetKeyboardFocusHere(0);
            }
        }
        --focusSearchFrames_;
        flags |= ImGuiInputTextFlags_AutoSelectAll;
    }
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x);
    ImGui::InputTextWithHint("##TagFilter", "Search tags...", &filterText_, flags);
    // Down goes on from the search box to the rows.
    if (ImGui::IsItemActive() && keyPressed(ImGuiKey_DownArrow, false) && !rows_.empty()) {
        if (ui::Window* window = getWindow()) window->setFocus(treePanel_);
        if (rowOf(selected_) == rows_.size()) select(rows_.front());
    }
}

void TreeView::handleKeys(float viewHeight) {
    if (rows_.empty()) return;
    const ImGuiIO& io = ImGui::GetIO();
    if (io.KeyCtrl) {
        if (keyPressed(ImGuiKey_C, false)) copyToClipboard(io.KeyShift ? addressText(selected_) : nameText(selected_));
        return;
    }
    const std::uint32_t before = selected_;
    const std::size_t count = rows_.size();
    const std::size_t last = count - 1;
    // The selected row; without one (or with one the search hides) the
    // keys go on from where it would be.
    std::size_t row = rowOf(selected_);
    const bool exact = row < count;
    if (!exact) {
        row = selected_ == TreeModel::kNone
                  ? 0
                  : static_cast<std::size_t>(std::lower_bound(rows_.begin(), rows_.end(), selected_) - rows_.begin());
    }
    const auto page = static_cast<std::size_t>(std::max(1.0f, std::floor(viewHeight / rowHeight()) - 1.0f));
    std::size_t target = count;
    if (keyPressed(ImGuiKey_DownArrow)) {
        target = std::min(exact ? row + 1 : row, last);
    } else if (keyPressed(ImGuiKey_UpArrow)) {
        target = row > 0 ? row - 1 : 0;
    } else if (keyPressed(ImGuiKey_PageDown)) {
        target = std::min(exact ? row + page : row, last);
    } else if (keyPressed(ImGuiKey_PageUp)) {
        target = row > page ? row - page : 0;
    } else if (keyPressed(ImGuiKey_Home)) {
        target = 0;
    } else if (keyPressed(ImGuiKey_End)) {
        target = last;
    } else if (exact) {
        const TreeModel& model = *model_;
        const std::uint32_t node = rows_[row];
        if (keyPressed(ImGuiKey_RightArrow)) {
            if (model.hasChildren(node) && !isOpen(node)) {
                setOpen(node, true);
            } else if (row < last && model.parent(rows_[row + 1]) == node) {
                target = row + 1;
            }
        } else if (keyPressed(ImGuiKey_LeftArrow)) {
            if (model.hasChildren(node) && isOpen(node)) {
                setOpen(node, false);
            } else if (model.parent(node) != TreeModel::kNone) {
                select(model.parent(node));
            }
        } else if (keyPressed(ImGuiKey_Enter, false) || keyPressed(ImGuiKey_KeyPadEnter, false)) {
            activate(node);
        }
    }
    if (target < count) select(rows_[target]);
    // Until the mouse moves, the row it happens to rest on gets no tooltip
    // over the rows the keys go through.
    if (selected_ != before || rowsDirty_) keysMoved_ = true;
}

void TreeView::scrollToRow(std::size_t row) {
    const float padding = ImGui::GetStyle().WindowPadding.y;
    const float rowHeight = this->rowHeight();
    const float y = padding + static_cast<float>(row) * rowHeight;
    const float top = scrollView_->getScrollOffset();
    const float height = scrollView_->getActualSize().y;
    if (y < top) {
        scrollView_->setScrollOffset(y - padding);
    } else if (y + rowHeight > top + height) {
        scrollView_->setScrollOffset(y + rowHeight - height);
    }
}

void TreeView::drawNotice() {
    if (notice_.empty()) return;
    treePanel_->useText(notice_);
    constexpr float kMargin = 12.0f;
    const float width = getActualSize().x;
    ImGui::SetCursorPos(ImVec2(kMargin, kMargin));
    ImGui::PushTextWrapPos(width - kMargin);
    ImGui::TextUnformatted(notice_.c_str());
    ImGui::PopTextWrapPos();
}

void TreeView::drawTree() {
    if (model_ == nullptr) drawNotice();
    acceptsTags_ = acceptsTags();
    if (rowsDirty_) {
        // Served without a tree too (a scale set before the first load): a
        // flag left standing would keep animating() true and the loop
        // drawing frames for ever.
        if (model_ != nullptr) collectRows(*model_, visible_, open_, rows_);
        rowsDirty_ = false;
    }
    const float height = scrollView_->getActualSize().y;
    const float width = getActualSize().x;
    const float padding = ImGui::GetStyle().WindowPadding.y;
    const float rowHeight = this->rowHeight();
    // Where the mouse is on the view, not on the scrolled panel: rows that
    // scroll under a still mouse do not move it. The panel measured it at
    // the scroll offset the frame began with.
    const ImVec2 mouse = ImGui::GetIO().MousePos;
    const float mouseX = mouse.x;
    const float mouseY = mouse.y - scrollView_->getScrollOffset();
    if (mouseX != mouseOnViewX_ || mouseY != mouseOnViewY_) keysMoved_ = false;
    mouseOnViewX_ = mouseX;
    mouseOnViewY_ = mouseY;
    // The keys act on the rows while no menu or confirmation is open.
    if (model_ != nullptr && treePanel_->hasFocus() &&
        !ImGui::IsPopupOpen("", ImGuiPopupFlags_AnyPopupId | ImGuiPopupFlags_AnyPopupLevel)) {
        handleKeys(height);
        if (rowsDirty_) {
            collectRows(*model_, visible_, open_, rows_);
            rowsDirty_ = false;
        }
    }
    const auto count = static_cast<std::size_t>(model_ != nullptr ? rows_.size() : 0);
    // Never shorter than the view, so the panel's ImGui window always has
    // room to lay the rows out.
    contentHeight_ = padding * 2.0f + static_cast<float>(count) * rowHeight;
    treePanel_->setPreferredSize({width, std::max(height, contentHeight_)});
    // Scrolled once the panel has its new height, before the band is chosen.
    if (scrollTo_) scrollView_->setScrollOffset(*std::exchange(scrollTo_, std::nullopt));
    if (std::exchange(scrollToSelection_, false)) {
        if (const std::size_t row = rowOf(selected_); row < count) scrollToRow(row);
    }

    // The panel is as tall as all rows and scrolls inside the scroll view;
    // only the rows in the band the scroll view shows are laid out at all.
    const float top = scrollView_->getScrollOffset();
    tooltip_.clear();
    bandTop_ = top;
    bandHeight_ = height;
    bandWidth_ = width;
    // Labels end before the scroll bar.
    const float right = width - (contentHeight_ > height ? ui::ScrollView::kBarWidth + 4.0f : 4.0f);
    const auto first = std::min(count, static_cast<std::size_t>(std::max(0.0f, (top - padding) / rowHeight)));
    const auto last = std::min(count, static_cast<std::size_t>(std::ceil((top + height) / rowHeight)) + 1);
    ImGui::PushClipRect(ImVec2(0.0f, top), ImVec2(width, top + height), true);
    for (std::size_t r = first; r < last; ++r) {
        drawRow(rows_[r], padding + static_cast<float>(r) * rowHeight, right);
    }
    ImGui::PopClipRect();
    rowMenu();
    addConfirmation();
}

void TreeView::drawRow(std::uint32_t node, float y, float right) {
    const TreeModel& model = *model_;
    const ImGuiStyle& style = ImGui::GetStyle();
    const float lineHeight = ImGui::GetTextLineHeight();
    const float arrow = ImGui::GetFontSize();
    const float iconSize = kIconSize * scale_;
    const float x = style.WindowPadding.x + static_cast<float>(model.depth(node)) * style.IndentSpacing;
    ImGui::PushID(static_cast<int>(node));
    ImDrawList* drawList = ImGui::GetWindowDrawList();
    const ImVec2 origin = ImGui::GetWindowPos();

    if (node == selected_) {
        // Full strength while the keys move it, faint otherwise.
        const ui::Color color = treePanel_->hasFocus() ? theme_->accentColor() : theme_->accentLockedColor();
        const float gap = (rowHeight() - iconSize) * 0.5f;
        drawList->AddRectFilled(ImVec2(origin.x, origin.y + y - gap),
                                ImVec2(origin.x + right, origin.y + y + iconSize + gap), color.value);
    }
    // A right click on the arrow or the row opens the row's menu.
    const auto menuClick = [&] {
        if (!ImGui::IsItemClicked(ImGuiMouseButton_Right)) return;
        selected_ = node;
        menuNode_ = node;
        openMenu_ = true;
        menuAtX_ = ImGui::GetIO().MousePos.x;
        menuAtY_ = ImGui::GetIO().MousePos.y;
    };

    // The arrow opens and closes the node; a leaf has none.
    if (model.hasChildren(node)) {
        ImGui::SetCursorPos(ImVec2(x, y));
        if (ImGui::InvisibleButton("##arrow", ImVec2(arrow, iconSize))) {
            selected_ = node;
            setOpen(node, !isOpen(node));
        }
        menuClick();
        const ui::Color color = theme_->textColor();
        const ImVec2 c(origin.x + x + arrow * 0.5f, origin.y + y + iconSize * 0.5f);
        const float r = arrow * 0.25f;
        if (isOpen(node)) {
            drawList->AddTriangleFilled(ImVec2(c.x - r, c.y - r * 0.6f), ImVec2(c.x + r, c.y - r * 0.6f),
                                        ImVec2(c.x, c.y + r * 0.8f), color.value);
        } else {
            drawList->AddTriangleFilled(ImVec2(c.x - r * 0.6f, c.y - r), ImVec2(c.x + r * 0.8f, c.y),
                                        ImVec2(c.x - r * 0.6f, c.y + r), color.value);
        }
    }

    // Icon and label, and the rest of the row to its right, over one
    // invisible button: hover, tooltip and click.
    const std::string_view label = model.name(node);
    treePanel_->useText(label);
    const float inner = style.ItemInnerSpacing.x;
    const float labelX = x + arrow + inner;
    const ImVec2 textSize = ImGui::CalcTextSize(label.data(), label.data() + label.size(), false, -1.0f);
    ImGui::SetCursorPos(ImVec2(labelX, y));
    ImGui::InvisibleButton("##row", ImVec2(std::max(right - labelX, iconSize), iconSize));
    const bool hovered = ImGui::IsItemHovered(ImGuiHoveredFlags_None);
    if (ImGui::IsItemClicked(ImGuiMouseButton_Left)) {
        selected_ = node;
        activate(node);
    }
    menuClick();
    const ImVec2 pos(origin.x + labelX, origin.y + y);
    const ui::Texture* icon = model.isBlock(node) ? folderIcon_ : tagIcon_;
    if (icon != nullptr) {
        drawList->AddImage(icon->getImGuiTextureId(), pos, ImVec2(pos.x + iconSize, pos.y + iconSize),
                           ImVec2(0.0f, 0.0f), ImVec2(1.0f, 1.0f), IM_COL32_WHITE);
    }
    // A block that could not be read is no empty block: its name in the
    // colour of trouble, and a note after it, where an arrow would be
    // missing anyway.
    const bool failed = model.browseCode(node) != S7_OK;
    const ui::Color color = hovered ? theme_->highlightColor() : failed ? theme_->lostColor() : theme_->textColor();
    const ImVec2 textPos(pos.x + iconSize + inner, pos.y + (iconSize - lineHeight) * 0.5f);
    float limit = origin.x + right;
    if (failed) {
        const ImVec2 noteSize = ImGui::CalcTextSize(kUnreadNote);
        const float noteX = std::max(textPos.x, std::min(textPos.x + textSize.x + inner * 2.0f, limit - noteSize.x));
        drawList->AddText(ImVec2(noteX, textPos.y), theme_->lostColor().value, kUnreadNote);
        limit = std::max(textPos.x, noteX - inner * 2.0f);
    }
    const bool clipped = textPos.x + textSize.x > limit;
    if (!clipped) {
        drawList->AddText(textPos, color.value, label.data(), label.data() + label.size());
    } else if (textPos.x < limit) {
        // What fits, then an ellipsis: the tooltip has the whole name.
        ImGui::PushStyleColor(ImGuiCol_Text, color.value);
        ImGui::RenderTextEllipsis(drawList, textPos, ImVec2(limit, textPos.y + lineHeight), limit, limit, label.data(),
                                  label.data() + label.size(), &textSize);
        ImGui::PopStyleColor();
    }
    if (hovered && !keysMoved_) rowTooltip(node, clipped);
    ImGui::PopID();
}

void TreeView::rowTooltip(std::uint32_t node, bool clipped) {
    const TreeModel& model = *model_;
    std::string text;
    if (const s7_block* block = model.block(node); block != nullptr) {
        if (clipped) text = std::string(model.name(node)) + "\n";
        // A memory area (I, Q, M, timers, counters) has no block number: its
        // number is its code, which is also its object's identifier.
        const bool memoryArea = block->object_id == block->number;
        text += memoryArea ? std::string("Memory area") : "DB-Number: " + std::to_string(block->number);
        if (const std::uint8_t code = model.browseCode(node); code != S7_OK) {
            text += "\n" + failureText(node) + ".";
            const std::string check = describeBrowseFailure(code, PlcConnection::kConnectTimeoutMs).check;
            if (!check.empty()) text += "\n" + check;
        }
    } else if (const s7_symbol* symbol = model.symbol(node); symbol != nullptr) {
        text = nameText(node) + "\nDatatype: " + s7_datatype_name(symbol->datatype) + "\nAddress: " + addressText(node);
        if (!acceptsTags_) text += "\nConnect to add it to the table.";
    } else if (clipped) {
        text = nameText(node);
    }
    if (!text.empty()) showTooltip(text);
}

std::string TreeView::failureText(std::uint32_t node) const {
    if (model_ == nullptr || node >= model_->size()) return {};
    const std::uint8_t code = model_->browseCode(node);
    if (code == S7_OK) return {};
    return fmt::format("Could not be read: {}", describeBrowseFailure(code, PlcConnection::kConnectTimeoutMs).what);
}

void TreeView::showTooltip(const std::string& text) {
    tooltip_ = text;
    treePanel_->useText(text);
    // Inside the band on screen: the panel's display is as tall as all
    // rows, so ImGui alone would place it below the view near the bottom.
    const float wrap = std::max(100.0f, bandWidth_ - kPopupPaddingX * scale_ * 2.0f - 8.0f);
    const ImVec2 size = ImGui::CalcTextSize(text.c_str(), nullptr, false, wrap);
    const ImVec2 outer(size.x + kPopupPaddingX * scale_ * 2.0f, size.y + kPopupPaddingY * scale_ * 2.0f);
    const ImVec2 mouse = ImGui::GetIO().MousePos;
    const float x = std::max(0.0f, std::min(mouse.x + 16.0f, bandWidth_ - outer.x - 4.0f));
    const float below = mouse.y + 20.0f;
    const float y = below + outer.y <= bandTop_ + bandHeight_ ? below : std::max(bandTop_, mouse.y - 8.0f - outer.y);
    ImGui::SetNextWindowPos(ImVec2(x, y), ImGuiCond_Always);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(kPopupPaddingX * scale_, kPopupPaddingY * scale_));
    // Opaque, like the menu: the rows under ImGui's own show through.
    ImGui::PushStyleColor(ImGuiCol_PopupBg, theme_->panelColor().value);
    ImGui::BeginTooltip();
    ImGui::PushTextWrapPos(kPopupPaddingX * scale_ + wrap);
    ImGui::TextUnformatted(text.data(), text.data() + text.size());
    ImGui::PopTextWrapPos();
    ImGui::EndTooltip();
    ImGui::PopStyleColor();
    ImGui::PopStyleVar();
}

void TreeView::rowMenu() {
    constexpr const char* kMenu = "##rowMenu";
    if (std::exchange(openMenu_, false)) ImGui::OpenPopup(kMenu);
    // Opens down and to the right of the click, or up and to the left when
    // that would leave the band on screen.
    const ImVec2 pivot(menuAtX_ > bandWidth_ * 0.6f ? 1.0f : 0.0f,
                       menuAtY_ > bandTop_ + bandHeight_ * 0.6f ? 1.0f : 0.0f);
    ImGui::SetNextWindowPos(ImVec2(menuAtX_, menuAtY_), ImGuiCond_Appearing, pivot);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(kPopupPaddingX * scale_, kPopupPaddingY * scale_));
    ImGui::PushStyleColor(ImGuiCol_PopupBg, theme_->panelColor().value);
    const bool open = ImGui::BeginPopup(kMenu);
    ImGui::PopStyleColor();
    ImGui::PopStyleVar();
    if (!open) return;
    if (model_ == nullptr || menuNode_ >= model_->size()) {
        ImGui::CloseCurrentPopup();
        ImGui::EndPopup();
        return;
    }
    const std::uint32_t node = menuNode_;
    if (ImGui::MenuItem("Copy name", "Ctrl+C")) copyToClipboard(nameText(node));
    const std::string address = addressText(node);
    if (ImGui::MenuItem("Copy address", "Ctrl+Shift+C", false, !address.empty())) copyToClipboard(address);
    ImGui::Separator();
    // Variables are added only from the live connection's tree.
    const bool addable = acceptsTags_ && (model_->hasChildren(node) || model_->symbol(node) != nullptr);
    if (ImGui::MenuItem("Add to inspector", nullptr, false, addable)) addToInspector(node);
    if (keyPressed(ImGuiKey_Escape, false)) ImGui::CloseCurrentPopup();
    ImGui::EndPopup();
}

void TreeView::addConfirmation() {
    constexpr const char* kTitle = "Add variables?";
    if (std::exchange(openConfirmation_, false)) ImGui::OpenPopup(kTitle);
    // In the middle of the band on screen, wherever the tree is scrolled.
    ImGui::SetNextWindowPos(ImVec2(bandWidth_ * 0.5f, bandTop_ + bandHeight_ * 0.5f), ImGuiCond_Always,
                            ImVec2(0.5f, 0.5f));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(kPopupPaddingX * scale_, kPopupPaddingY * scale_));
    ImGui::PushStyleColor(ImGuiCol_PopupBg, theme_->panelColor().value);
    const bool open = ImGui::BeginPopupModal(kTitle, nullptr, ImGuiWindowFlags_AlwaysAutoResize);
    ImGui::PopStyleColor();
    ImGui::PopStyleVar();
    if (!open) return;
    if (pendingAdd_.empty()) {
        ImGui::CloseCurrentPopup();
        ImGui::EndPopup();
        return;
    }
    ImGui::Text("Add %zu variables to the inspector?", pendingAdd_.size());
    ImGui::Separator();
    if (ImGui::Button("Add", ImVec2(120.0f, 0.0f))) {
        confirmAdd(true);
        ImGui::CloseCurrentPopup();
    }
    ImGui::SameLine(0.0f, -1.0f);
    if (ImGui::Button("Cancel", ImVec2(120.0f, 0.0f)) || keyPressed(ImGuiKey_Escape, false)) {
        confirmAdd(false);
        ImGui::CloseCurrentPopup();
    }
    ImGui::EndPopup();
}

}  // namespace vemo

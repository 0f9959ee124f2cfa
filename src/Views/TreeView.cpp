#include "Views/TreeView.h"

#include <imgui.h>
#include <imgui_stdlib.h>

#include <algorithm>
#include <exception>
#include <utility>

#include "AppTextures.h"
#include "Theme.h"
#include "Views/Spinner.h"
#include "vemo/core/Browse.h"
#include "vemo/core/Logger.h"
#include "vemo/core/PlcConnection.h"
#include "vemo/core/SymbolPath.h"
#include "vemo/core/TagInspector.h"
#include "vemo/core/ThreadPool.h"
#include "vemo/ui/Application.h"
#include "vemo/ui/ImGuiPanel.h"
#include "vemo/ui/ScrollView.h"
#include "vemo/ui/Stack.h"

namespace vemo {

namespace {

constexpr int kDistributeCenter = 1;
constexpr int kAlignCenter = 1;

void styleTreePanel(ui::ImGuiPanel* panel, const Theme& theme) {
    panel->setDefaultFont(theme.defaultFont(), theme.largeFontSize() * theme.imguiFontScale());
    theme.applyImGuiStyle(panel->getImGuiContext());
}

}  // namespace

TreeView::TreeView(ui::Widget* parent, PlcConnection& connection, ThreadPool& pool,
                   std::shared_ptr<TagInspector> inspector)
    : ui::Widget(parent), connection_(&connection), pool_(&pool), inspector_(std::move(inspector)) {
    const Theme& theme = Theme::instance();
    itemContext_.theme = &theme;
    itemContext_.inspector = inspector_.get();
    itemContext_.folderIcon = AppTextures::getSvg("icons/folder.svg", 256, 256);
    itemContext_.tagIcon = AppTextures::getSvg("icons/tag.svg", 256, 256);

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
    styleTreePanel(headerPanel_, theme);
    headerPanel_->setBuildImGuiFunction([this] { buildSearchBox(); });

    scrollView_ = new ui::ScrollView(this);
    scrollView_->setPosition({0.0f, kHeaderHeight});
    scrollView_->setPreferredSize({size.x, size.y - kHeaderHeight});
    // Shown by the first update, like everything that depends on the load.
    scrollView_->setVisible(false);

    treePanel_ = new ui::ImGuiPanel(scrollView_);
    treePanel_->setPosition({0.0f, 0.0f});
    treePanel_->setPreferredSize(size);
    styleTreePanel(treePanel_, theme);
    treePanel_->setBuildImGuiFunction([this] { drawTree(); });
}

TreeView::~TreeView() = default;

void TreeView::update() {
    ui::Widget::update();

    treePanel_->setVisible(!loading_);
    scrollView_->setVisible(!loading_);
    spinnerStack_->setVisible(loading_);
    headerPanel_->setVisible(!loading_ && !blockItems_.empty());

    // A change seen while a load runs waits: the first update after the load
    // picks it up, so a connection made meanwhile still gets its own load.
    const auto state = static_cast<std::uint8_t>(connection_->getState());
    if (state != lastState_ && !loading_) {
        lastState_ = state;
        // After a reconnect as after a connect: the tree loads anew and the
        // inspector's rows find their variables in it again.
        if (state == static_cast<std::uint8_t>(ConnectionState::Connected)) {
            startLoad();
        }
    }

    inspector_->update();

    if (filterText_ != appliedFilter_) {
        appliedFilter_ = filterText_;
        for (const auto& item : blockItems_) {
            item->applyFilter(appliedFilter_);
        }
    }
}

void TreeView::resized() {
    ui::Widget::resized();
    const ui::Vec2 size = getActualSize();
    treePanel_->setPreferredSize({size.x, treePanel_->getActualSize().y});
    spinnerStack_->setPreferredSize(size);
    scrollView_->setPreferredSize({size.x, size.y - kHeaderHeight});
    headerPanel_->setPreferredSize({size.x, kHeaderHeight});
}

void TreeView::startLoad() {
    // Shown at once, not when the worker gets to the task: no second load
    // can be queued behind it, and the tree cannot be clicked meanwhile.
    loading_ = true;
    try {
        pool_->submit(lifetime(), [connection = connection_, alive = lifetime(), view = this] {
            std::shared_ptr<Catalog> catalog;
            try {
                // Touches nothing of the view. Each library call takes the
                // service's lock on its own, so a disconnect waits for one
                // browse, not for the whole load.
                catalog = std::make_shared<Catalog>(
                    listAndBrowse([connection](const ClientCall& call) { connection->withClient(call); }));
            } catch (const std::exception& e) {
                Logger::log(LogLevel::Error, "Loading the data blocks failed: {}", e.what());
            }
            // The view may be destroyed while the worker browses; the result
            // is handed over only if it is still there.
            ui::Application::dispatchToMainThread([alive, view, catalog = std::move(catalog)] {
                if (alive.expired()) return;
                view->finishLoad(catalog.get());
            });
        });
    } catch (const std::exception& e) {
        // Only a stopped pool refuses the task, when the program ends.
        loading_ = false;
        Logger::log(LogLevel::Warn, "Loading the data blocks not started: {}", e.what());
    }
}

void TreeView::finishLoad(Catalog* catalog) {
    if (catalog == nullptr || catalog->listCode != S7_OK) {
        // The previous tree stays.
        loading_ = false;
        return;
    }
    blockItems_.clear();
    blocks_ = std::move(catalog->blocks);
    // Every block gets its node; one whose browse failed has no tags.
    blockItems_.reserve(catalog->browsed.size());
    for (BrowsedBlock& browsed : catalog->browsed) {
        if (browsed.code != S7_OK) {
            Logger::log(LogLevel::Warn, "Browsing block {} failed: {} ({})",
                        browsed.block->name != nullptr ? browsed.block->name : "", s7_result_name(browsed.code),
                        browsed.code);
        }
        blockItems_.push_back(std::make_unique<DatablockItem>(browsed.block, std::move(browsed.symbols), itemContext_));
    }
    // The search box keeps its text across loads; the new nodes follow it.
    if (!appliedFilter_.empty()) {
        for (const auto& item : blockItems_) {
            item->applyFilter(appliedFilter_);
        }
    }
    inspector_->rebind([this](const std::string& name) { return findSymbol(name); });
    loading_ = false;
}

const s7_symbol* TreeView::findSymbol(const std::string& name) const {
    // A full name starts with its block's name: only that block is searched.
    const std::vector<std::string> parts = splitSymbolPath(name);
    if (parts.empty()) return nullptr;
    for (const auto& item : blockItems_) {
        const s7_block* block = item->block();
        if (block->name == nullptr || parts.front() != block->name) continue;
        const s7_symbol_list& symbols = item->symbols();
        for (std::uint32_t i = 0; i < symbols.count; ++i) {
            if (symbols.items[i].name != nullptr && name == symbols.items[i].name) return &symbols.items[i];
        }
    }
    return nullptr;
}

void TreeView::buildSearchBox() {
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x);
    ImGui::InputTextWithHint("##TagFilter", "Search tags...", &filterText_);
}

void TreeView::drawTree() {
    const ImGuiStyle& style = ImGui::GetStyle();
    ImGui::PushStyleVar(ImGuiStyleVar_ItemSpacing, ImVec2(style.ItemSpacing.x, 8.0f));
    // The panel is as tall as the whole tree and scrolls inside the scroll
    // view; only the band the scroll view shows is drawn (rows outside it
    // only take their place).
    const float top = scrollView_->getScrollOffset();
    const float width = getActualSize().x;
    ImGui::PushClipRect(ImVec2(0.0f, top), ImVec2(width, top + scrollView_->getActualSize().y), true);
    for (const auto& item : blockItems_) {
        item->draw(scratch_);
    }
    ImGui::PopClipRect();
    ImGui::PopStyleVar();
    // As tall as the tree, so the scroll view scrolls over all of it, and
    // never shorter than the view, so the panel's ImGui window always has
    // room to lay the rows out.
    contentHeight_ = ImGui::GetCursorPosY();
    treePanel_->setPreferredSize({width, std::max(scrollView_->getActualSize().y, contentHeight_)});
}

}  // namespace vemo

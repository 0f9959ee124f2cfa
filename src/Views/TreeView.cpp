#include "Views/TreeView.h"

#include <imgui.h>
#include <imgui_stdlib.h>
#include <vemo/s7datatype.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <optional>
#include <utility>

#include "AppTextures.h"
#include "Theme.h"
#include "Views/Spinner.h"
#include "vemo/core/Browse.h"
#include "vemo/core/Logger.h"
#include "vemo/core/PlcConnection.h"
#include "vemo/core/TagInspector.h"
#include "vemo/core/ThreadPool.h"
#include "vemo/ui/Application.h"
#include "vemo/ui/ImGuiPanel.h"
#include "vemo/ui/Resources.h"
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

// What a load hands from the worker to the UI thread.
struct TreeView::Loaded {
    std::uint8_t listCode = S7_OK;
    std::shared_ptr<const TreeModel> model;  // null unless the listing succeeded
    std::vector<std::uint8_t> open;          // the nodes open before, found again by path
};

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
    headerPanel_->setVisible(!loading_ && model_ != nullptr && !model_->roots().empty());

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
    if (filter_.run(std::chrono::nanoseconds(kFilterBudgetNs))) {
        visible_ = filter_.takeResult();
        rowsDirty_ = true;
    }
}

void TreeView::setOpen(std::uint32_t node, bool open) {
    if (node >= open_.size() || (open_[node] != 0) == open) return;
    open_[node] = open ? 1 : 0;
    rowsDirty_ = true;
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
    // The open nodes by path, to open them again in the new tree.
    std::vector<std::string> openPaths;
    for (std::uint32_t i = 0; i < open_.size(); ++i) {
        if (open_[i] != 0) openPaths.push_back(model_->fullPath(i));
    }
    try {
        pool_->submit(lifetime(), [connection = connection_, alive = lifetime(), view = this,
                                   openPaths = std::move(openPaths)] {
            auto loaded = std::make_shared<Loaded>();
            try {
                // Touches nothing of the view. Each library call takes the
                // service's lock on its own, so a disconnect waits for one
                // browse, not for the whole load.
                Catalog catalog =
                    listAndBrowse([connection](const ClientCall& call) { connection->withClient(call); });
                loaded->listCode = catalog.listCode;
                if (catalog.listCode == S7_OK) {
                    for (const BrowsedBlock& browsed : catalog.browsed) {
                        if (browsed.code == S7_OK) continue;
                        Logger::log(LogLevel::Warn, "Browsing block {} failed: {} ({})",
                                    browsed.block->name != nullptr ? browsed.block->name : "",
                                    s7_result_name(browsed.code), browsed.code);
                    }
                    auto model = std::make_shared<const TreeModel>(std::move(catalog));
                    loaded->open.assign(model->size(), 0);
                    for (const std::string& path : openPaths) {
                        const std::uint32_t node = model->find(path);
                        if (node != TreeModel::kNone) loaded->open[node] = 1;
                    }
                    loaded->model = std::move(model);
                }
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
    // A failed listing keeps the previous tree.
    if (loaded == nullptr || loaded->listCode != S7_OK || loaded->model == nullptr) return;
    std::shared_ptr<const TreeModel> old = std::exchange(model_, std::move(loaded->model));
    open_ = std::move(loaded->open);
    visible_.assign(model_->size(), 1);
    rowsDirty_ = true;
    // The search box keeps its text across loads; the new nodes follow it.
    if (!appliedFilter_.empty()) {
        filter_.start(*model_, appliedFilter_);
        continueFilter();
    } else {
        filter_.cancel();
    }
    inspector_->rebind([this](const std::string& name) { return model_->findSymbol(name); });
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
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x);
    ImGui::InputTextWithHint("##TagFilter", "Search tags...", &filterText_);
}

void TreeView::drawTree() {
    if (model_ != nullptr && rowsDirty_) {
        collectRows(*model_, visible_, open_, rows_);
        rowsDirty_ = false;
    }
    // The panel is as tall as all rows and scrolls inside the scroll view;
    // only the rows in the band the scroll view shows are laid out at all.
    const float top = scrollView_->getScrollOffset();
    const float height = scrollView_->getActualSize().y;
    const float width = getActualSize().x;
    const float padding = ImGui::GetStyle().WindowPadding.y;
    const auto count = static_cast<std::size_t>(model_ != nullptr ? rows_.size() : 0);
    const auto first = std::min(count, static_cast<std::size_t>(std::max(0.0f, (top - padding) / kRowHeight)));
    const auto last = std::min(count, static_cast<std::size_t>(std::ceil((top + height) / kRowHeight)) + 1);
    ImGui::PushClipRect(ImVec2(0.0f, top), ImVec2(width, top + height), true);
    for (std::size_t r = first; r < last; ++r) {
        drawRow(rows_[r], padding + static_cast<float>(r) * kRowHeight);
    }
    ImGui::PopClipRect();
    // Never shorter than the view, so the panel's ImGui window always has
    // room to lay the rows out.
    contentHeight_ = padding * 2.0f + static_cast<float>(count) * kRowHeight;
    treePanel_->setPreferredSize({width, std::max(height, contentHeight_)});
}

void TreeView::drawRow(std::uint32_t node, float y) {
    const TreeModel& model = *model_;
    const ImGuiStyle& style = ImGui::GetStyle();
    const float lineHeight = ImGui::GetTextLineHeight();
    const float arrow = ImGui::GetFontSize();
    const float x = style.WindowPadding.x + static_cast<float>(model.depth(node)) * style.IndentSpacing;
    ImGui::PushID(static_cast<int>(node));
    ImDrawList* drawList = ImGui::GetWindowDrawList();
    const ImVec2 origin = ImGui::GetWindowPos();

    // The arrow opens and closes the node; a leaf has none.
    if (model.hasChildren(node)) {
        ImGui::SetCursorPos(ImVec2(x, y));
        if (ImGui::InvisibleButton("##arrow", ImVec2(arrow, kIconSize))) setOpen(node, !isOpen(node));
        const ui::Color color = theme_->textColor();
        const ImVec2 c(origin.x + x + arrow * 0.5f, origin.y + y + kIconSize * 0.5f);
        const float r = arrow * 0.25f;
        if (isOpen(node)) {
            drawList->AddTriangleFilled(ImVec2(c.x - r, c.y - r * 0.6f), ImVec2(c.x + r, c.y - r * 0.6f),
                                        ImVec2(c.x, c.y + r * 0.8f), color.value);
        } else {
            drawList->AddTriangleFilled(ImVec2(c.x - r * 0.6f, c.y - r), ImVec2(c.x + r * 0.8f, c.y),
                                        ImVec2(c.x - r * 0.6f, c.y + r), color.value);
        }
    }

    // Icon and label over one invisible button: hover, tooltip and click.
    const std::string_view label = model.name(node);
    treePanel_->useText(label);
    const float inner = style.ItemInnerSpacing.x;
    const float labelX = x + arrow + inner;
    const float textWidth = ImGui::CalcTextSize(label.data(), label.data() + label.size(), false, -1.0f).x;
    ImGui::SetCursorPos(ImVec2(labelX, y));
    ImGui::InvisibleButton("##row", ImVec2(kIconSize + inner + textWidth, kIconSize));
    const bool hovered = ImGui::IsItemHovered(ImGuiHoveredFlags_None);
    const bool clicked = ImGui::IsItemClicked(ImGuiMouseButton_Left);
    const ImVec2 pos(origin.x + labelX, origin.y + y);
    const ui::Texture* icon = model.isBlock(node) ? folderIcon_ : tagIcon_;
    if (icon != nullptr) {
        drawList->AddImage(icon->getImGuiTextureId(), pos, ImVec2(pos.x + kIconSize, pos.y + kIconSize),
                           ImVec2(0.0f, 0.0f), ImVec2(1.0f, 1.0f), IM_COL32_WHITE);
    }
    const ui::Color color = hovered ? theme_->highlightColor() : theme_->textColor();
    drawList->AddText(ImVec2(pos.x + kIconSize + inner, pos.y + (kIconSize - lineHeight) * 0.5f), color.value,
                      label.data(), label.data() + label.size());

    if (const s7_block* block = model.block(node); block != nullptr) {
        if (hovered) ImGui::SetTooltip("DB-Number: %u", static_cast<unsigned>(block->number));
    } else if (const s7_symbol* symbol = model.symbol(node); symbol != nullptr) {
        if (hovered) ImGui::SetTooltip("Datatype: %s", s7_datatype_name(symbol->datatype));
        if (clicked) inspector_->add(symbol);
    }
    ImGui::PopID();
}

}  // namespace vemo

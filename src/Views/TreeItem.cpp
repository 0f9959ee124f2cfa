#include "Views/TreeItem.h"

#include <imgui.h>

#include <cstring>
#include <utility>

#include <vemo/s7datatype.h>
#include "Theme.h"
#include "vemo/core/SymbolPath.h"
#include "vemo/core/TagInspector.h"
#include "vemo/ui/Resources.h"

namespace vemo {

namespace {

constexpr float kIconSize = 20.0f;

// The child named `name`: the browse lists a structure's members one after
// another, so the child asked for is nearly always the last one; the scan
// covers names that come back later.
TagItem* findChild(const std::vector<std::unique_ptr<TagItem>>& children, std::string_view name) {
    if (!children.empty() && children.back()->name() == name) return children.back().get();
    for (const auto& child : children) {
        if (child->name() == name) return child.get();
    }
    return nullptr;
}

struct RowResult {
    bool open = false;
    bool hovered = false;
    bool clicked = false;
};

// One line of the tree: the arrow of an ImGui tree node, then the icon and
// the label over an invisible button that gives hover and click. The tree
// node's label is empty, so only its arrow opens and closes it; the open
// state is ImGui's, kept under "##<key>" from frame to frame.
RowResult drawRow(std::string& scratch, std::string_view key, std::string_view label, bool leaf,
                  const ui::Texture* icon, const TreeItemContext& context) {
    RowResult result;
    ImGuiTreeNodeFlags flags = ImGuiTreeNodeFlags_OpenOnArrow;
    if (leaf) flags |= ImGuiTreeNodeFlags_Leaf;
    scratch.assign("##").append(key);
    result.open = ImGui::TreeNodeEx(scratch.c_str(), flags);
    ImGui::SameLine(0.0f, -1.0f);

    const ImGuiStyle& style = ImGui::GetStyle();
    const float inner = style.ItemInnerSpacing.x;
    // Rows outside the visible band take their place without being measured
    // or drawn: a long open list costs little more than its height.
    if (!ImGui::IsRectVisible(ImVec2(inner + kIconSize, kIconSize))) {
        ImGui::Dummy(ImVec2(inner + kIconSize, kIconSize));
        return result;
    }
    const float lineHeight = ImGui::GetTextLineHeight();
    const char* labelBegin = label.data();
    const char* labelEnd = label.data() + label.size();
    const float textWidth = ImGui::CalcTextSize(labelBegin, labelEnd, false, -1.0f).x;
    const ImVec2 pos = ImGui::GetCursorScreenPos();

    scratch.assign("##hit_").append(key);
    ImGui::InvisibleButton(scratch.c_str(), ImVec2(inner + kIconSize + textWidth, kIconSize));
    result.hovered = ImGui::IsItemHovered(ImGuiHoveredFlags_None);
    result.clicked = ImGui::IsItemClicked(ImGuiMouseButton_Left);

    ImDrawList* drawList = ImGui::GetWindowDrawList();
    if (icon != nullptr) {
        drawList->AddImage(icon->getImGuiTextureId(), pos, ImVec2(pos.x + kIconSize, pos.y + kIconSize),
                           ImVec2(0.0f, 0.0f), ImVec2(1.0f, 1.0f), IM_COL32_WHITE);
    }
    const ui::Color color = result.hovered ? context.theme->highlightColor() : context.theme->textColor();
    drawList->AddText(ImVec2(pos.x + kIconSize + inner, pos.y + (kIconSize - lineHeight) * 0.5f), color.value,
                      labelBegin, labelEnd);
    return result;
}

}  // namespace

TagItem::TagItem(const TreeItemContext& context, std::string name, std::string fullPath)
    : context_(&context), fullPath_(std::move(fullPath)), name_(std::move(name)) {}

void TagItem::applyFilter(std::string_view filter) {
    bool childShown = false;
    for (const auto& child : children_) {
        child->applyFilter(filter);
        childShown = childShown || child->isVisible();
    }
    // The name is the tail of the full path, so the path alone decides.
    setVisible(childShown || containsIgnoreCase(fullPath_, filter));
}

TagItem& TagItem::findOrCreateChild(std::string_view name) {
    if (TagItem* existing = findChild(children_, name)) return *existing;
    std::string path;
    if (fullPath_.empty()) {
        path = name;
    } else {
        path.reserve(fullPath_.size() + 1 + name.size());
        path = fullPath_;
        if (name.empty() || name.front() != '[') path.push_back('.');
        path.append(name);
    }
    children_.push_back(std::make_unique<TagItem>(*context_, std::string(name), std::move(path)));
    return *children_.back();
}

void TagItem::attachSymbol(const s7_symbol* symbol) {
    symbol_ = symbol;
    typeName_ = s7_datatype_name(symbol->datatype);
}

void TagItem::draw(std::string& scratch) const {
    if (!isVisible()) return;
    const RowResult row = drawRow(scratch, fullPath_, name_, children_.empty(), context_->tagIcon, *context_);
    if (symbol_ != nullptr) {
        // typeName_ is a static NUL-terminated text.
        if (row.hovered) ImGui::SetTooltip("Datatype: %s", typeName_.data());
        if (row.clicked) context_->inspector->add(symbol_);
    }
    if (row.open) {
        for (const auto& child : children_) {
            child->draw(scratch);
        }
        ImGui::TreePop();
    }
}

DatablockItem::DatablockItem(const s7_block* block, SymbolList symbols, const TreeItemContext& context)
    : context_(&context), symbols_(std::move(symbols)), block_(block) {
    const std::string_view blockName = block->name != nullptr ? block->name : "";
    for (const s7_symbol& symbol : symbols_) {
        addSymbol(&symbol, blockName);
    }
}

void DatablockItem::addSymbol(const s7_symbol* symbol, std::string_view blockName) {
    // A symbol's name starts with its block's name and one separator. A
    // shorter name than that (a controller that names things its own way)
    // yields no node rather than a read past the end of the text.
    const std::string_view full = symbol->name != nullptr ? symbol->name : "";
    if (full.size() <= blockName.size()) return;
    std::vector<std::string> parts = splitSymbolPath(full.substr(blockName.size() + 1));
    if (parts.empty()) return;

    TagItem* node = findChild(children_, parts.front());
    if (node == nullptr) {
        std::string path;
        path.reserve(blockName.size() + 1 + parts.front().size());
        path.append(blockName).append(".").append(parts.front());
        children_.push_back(std::make_unique<TagItem>(*context_, std::move(parts.front()), std::move(path)));
        node = children_.back().get();
    }
    for (std::size_t i = 1; i < parts.size(); ++i) {
        node = &node->findOrCreateChild(parts[i]);
    }
    node->attachSymbol(symbol);
}

void DatablockItem::applyFilter(std::string_view filter) {
    bool childShown = false;
    for (const auto& child : children_) {
        child->applyFilter(filter);
        childShown = childShown || child->isVisible();
    }
    setVisible(filter.empty() || childShown);
}

void DatablockItem::draw(std::string& scratch) const {
    if (!isVisible()) return;
    const std::string_view name = block_->name != nullptr ? block_->name : "";
    const RowResult row = drawRow(scratch, name, name, false, context_->folderIcon, *context_);
    if (row.hovered) ImGui::SetTooltip("DB-Number: %u", static_cast<unsigned>(block_->number));
    if (row.open) {
        for (const auto& child : children_) {
            child->draw(scratch);
        }
        ImGui::TreePop();
    }
}

}  // namespace vemo

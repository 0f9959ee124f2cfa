// The nodes of the tree view: one DatablockItem per block of a load, with
// TagItems below it for members, structure members and array elements.
//
// A block node owns its block's symbol list; every tag node that stands for a
// variable borrows its s7_symbol from that list (the inspector's rows copy
// what they need).
// Nodes are built, filtered and drawn on the UI thread only.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vemo/core/OwnedLists.h"
#include "vemo/s7browse.h"

namespace vemo {

class TagInspector;
class Theme;

namespace ui {
class Texture;
}  // namespace ui

// What all nodes of one tree share: the colours, the inspector a click adds
// to and the two icons (all block nodes share one rasterised folder icon, all
// tag nodes one tag icon). Owned by the tree view; the nodes keep a pointer.
// Building and filtering need none of it, drawing all of it (null icons are
// simply not drawn).
struct TreeItemContext {
    const Theme* theme = nullptr;
    TagInspector* inspector = nullptr;
    const ui::Texture* folderIcon = nullptr;
    const ui::Texture* tagIcon = nullptr;
};

class TreeItem {
public:
    virtual ~TreeItem() = default;
    TreeItem(const TreeItem&) = delete;
    TreeItem& operator=(const TreeItem&) = delete;

    // Recomputes which nodes of this subtree are shown for the search text.
    virtual void applyFilter(std::string_view filter) = 0;

    bool isVisible() const { return visible_; }
    void setVisible(bool visible) { visible_ = visible; }

protected:
    TreeItem() = default;

private:
    bool visible_ = true;
};

class TagItem final : public TreeItem {
public:
    TagItem(const TreeItemContext& context, std::string name, std::string fullPath);

    // Shown when its name or full path holds the filter (ASCII letters
    // folded), or when a child is shown.
    void applyFilter(std::string_view filter) override;

    // The child named `name` (exact), appended when there is none. Its full
    // path is this node's joined with "." (or directly for an index "[..]").
    TagItem& findOrCreateChild(std::string_view name);
    // This node stands for `symbol` from now on (a later symbol replaces an
    // earlier one).
    void attachSymbol(const s7_symbol* symbol);

    // Draws the node and, while it is open, its children. Inside the tree
    // panel's ImGui frame; `scratch` is reused for the ImGui identifiers.
    void draw(std::string& scratch) const;

    const std::string& name() const { return name_; }
    const std::string& fullPath() const { return fullPath_; }
    const s7_symbol* symbol() const { return symbol_; }
    std::string_view typeName() const { return typeName_; }
    const std::vector<std::unique_ptr<TagItem>>& children() const { return children_; }

private:
    const TreeItemContext* context_;
    const s7_symbol* symbol_ = nullptr;
    std::string fullPath_;
    std::string name_;
    std::string_view typeName_;
    std::vector<std::unique_ptr<TagItem>> children_;
};

class DatablockItem final : public TreeItem {
public:
    // Takes over `symbols` (released with the node) and builds the tag nodes
    // from the symbols' names below `block`, which must outlive the node.
    DatablockItem(const s7_block* block, SymbolList symbols, const TreeItemContext& context);

    // Shown for an empty filter, else only when a tag below it is shown.
    void applyFilter(std::string_view filter) override;

    void draw(std::string& scratch) const;

    const s7_block* block() const { return block_; }
    const s7_symbol_list& symbols() const { return symbols_.get(); }
    const std::vector<std::unique_ptr<TagItem>>& children() const { return children_; }

private:
    void addSymbol(const s7_symbol* symbol, std::string_view blockName);

    const TreeItemContext* context_;
    // Declared before the tag nodes, which borrow the symbols: they go first.
    SymbolList symbols_;
    std::vector<std::unique_ptr<TagItem>> children_;
    const s7_block* block_;
};

}  // namespace vemo

// The left-hand view: the controller's blocks and their variables as a tree,
// with a search box above it.
//
// Each time the connection becomes established the view loads, on the
// pool's worker, the block list and every block's symbols (listAndBrowse,
// each call under the connection service's lock) and builds the tree model
// from them there too, while a spinner turns; the UI thread only swaps the
// finished model in, keeps the nodes that were open, and hands the old model
// back to the worker to be released. Every listed block gets a node; a block
// whose browse failed has no tags, and the failure is logged. A failed
// listing, or losing the connection, changes nothing in the tree: the last
// load stays until the next one completes.
//
// Only the rows in the scrolled band are laid out and drawn, whatever the
// number of open nodes; a change of the search text is worked off a few
// milliseconds per frame (TreeFilter), the last result shown meanwhile. A
// click on a tag that stands for a variable adds it to the inspector; the
// arrow opens and closes a node.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Views/TreeModel.h"
#include "vemo/ui/Widget.h"

namespace vemo {

namespace ui {
class ImGuiPanel;
class ScrollView;
class Stack;
class Texture;
}  // namespace ui

class PlcConnection;
class TagInspector;
class Theme;
class ThreadPool;

class TreeView : public ui::Widget {
public:
    static constexpr float kHeaderHeight = 50.0f;
    static constexpr float kSpinnerSize = 64.0f;
    static constexpr float kIconSize = 20.0f;
    // One row: the icon's height and the gap below it.
    static constexpr float kRowHeight = 28.0f;
    // What a frame spends at most on a running filter.
    static constexpr std::int64_t kFilterBudgetNs = 4'000'000;

    // Works with the given connection service, pool and inspector; the
    // service and the pool must outlive every task the view queued (stop the
    // pool before the view goes).
    TreeView(ui::Widget* parent, PlcConnection& connection, ThreadPool& pool, std::shared_ptr<TagInspector> inspector);
    ~TreeView() override;

    // Every frame: which parts are shown, the load on a new connection, the
    // inspector's refresh (and a frame when the next one is due) and a slice
    // of the filter while one runs.
    void update() override;
    void resized() override;
    // While a load or a filter runs, and when the rows changed after the
    // tree was drawn: the next frame must come without waiting for input.
    bool animating() const override;

    // The tree panel's build function: the rows in the scrolled band.
    void drawTree();

    TagInspector* inspector() const { return inspector_.get(); }
    bool isLoading() const { return loading_; }
    // The height of all rows (open nodes included), as the panel lays them out.
    float contentHeight() const { return contentHeight_; }
    // The last completed load; null before the first.
    const TreeModel* model() const { return model_.get(); }
    // Whether the node passes the applied filter (its ancestors may be closed).
    bool isShown(std::uint32_t node) const { return visible_[node] != 0; }
    bool isOpen(std::uint32_t node) const { return open_[node] != 0; }
    void setOpen(std::uint32_t node, bool open);
    // The nodes drawn from top to bottom when scrolled through.
    const std::vector<std::uint32_t>& rows() const { return rows_; }
    // A change of the search text is still being worked off.
    bool isFiltering() const { return filter_.running(); }
    const std::string& filterText() const { return filterText_; }
    ui::Stack* spinnerStack() const { return spinnerStack_; }
    ui::ImGuiPanel* headerPanel() const { return headerPanel_; }
    ui::ScrollView* scrollView() const { return scrollView_; }
    ui::ImGuiPanel* treePanel() const { return treePanel_; }

private:
    struct Loaded;

    // On the UI thread: queues the load and shows the spinner.
    void startLoad();
    // On the UI thread: swaps in a finished load unless its listing failed
    // (null: the load failed with an exception).
    void finishLoad(Loaded* loaded);
    // A slice of the running filter; its result is shown once complete.
    void continueFilter();
    void drawRow(std::uint32_t node, float y);
    void buildSearchBox();

    PlcConnection* connection_;
    ThreadPool* pool_;
    std::shared_ptr<TagInspector> inspector_;
    const Theme* theme_;
    const ui::Texture* folderIcon_ = nullptr;
    const ui::Texture* tagIcon_ = nullptr;
    ui::Stack* spinnerStack_ = nullptr;
    ui::ImGuiPanel* headerPanel_ = nullptr;
    ui::ScrollView* scrollView_ = nullptr;
    ui::ImGuiPanel* treePanel_ = nullptr;
    std::string filterText_;
    std::string appliedFilter_;
    std::shared_ptr<const TreeModel> model_;
    // One byte per node of model_.
    std::vector<std::uint8_t> open_;
    std::vector<std::uint8_t> visible_;
    std::vector<std::uint32_t> rows_;
    bool rowsDirty_ = false;
    TreeFilter filter_;
    // A load is queued or running. Written and read on the UI thread only:
    // set when the load is queued, cleared by the task that hands it back.
    bool loading_ = false;
    std::uint8_t lastState_ = 0;
    float contentHeight_ = 0.0f;
};

}  // namespace vemo

// The left-hand view: the controller's blocks and their variables as a tree,
// with a search box above it.
//
// Each time the connection becomes established the view clears the
// inspector and loads, on the pool's worker, the block list and every
// block's symbols (listAndBrowse, each call under the connection service's
// lock), while a spinner turns. The worker only gathers the lists; the nodes
// are built in one task on the UI thread. Every listed block gets a node; a
// block whose browse failed has no tags, and the failure is logged. A failed
// listing, or losing the connection, changes nothing in the tree: the last
// load stays until the next one completes. A click on a tag that stands for
// a variable adds it to the inspector.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Views/TreeItem.h"
#include "vemo/core/OwnedLists.h"
#include "vemo/ui/Widget.h"

namespace vemo {

namespace ui {
class ImGuiPanel;
class ScrollView;
class Stack;
}  // namespace ui

struct Catalog;
class PlcConnection;
class TagInspector;
class ThreadPool;

class TreeView : public ui::Widget {
public:
    static constexpr float kHeaderHeight = 50.0f;
    static constexpr float kSpinnerSize = 64.0f;

    // Works with the given connection service, pool and inspector; the
    // service and the pool must outlive every task the view queued (stop the
    // pool before the view goes).
    TreeView(ui::Widget* parent, PlcConnection& connection, ThreadPool& pool, std::shared_ptr<TagInspector> inspector);
    // Clears the inspector (its rows borrow this view's symbols), then
    // releases the nodes and the block list.
    ~TreeView() override;

    // Every frame: which parts are shown, the load on a new connection, the
    // inspector's refresh and the filter when the search text changed.
    void update() override;
    void resized() override;

    // The tree panel's build function: every block node, open ones with
    // their children.
    void drawTree();

    TagInspector* inspector() const { return inspector_.get(); }
    bool isLoading() const { return loading_; }
    // The height of the rows the last frame laid out (open nodes included).
    float contentHeight() const { return contentHeight_; }
    const std::vector<std::unique_ptr<DatablockItem>>& blockItems() const { return blockItems_; }
    const BlockList& blocks() const { return blocks_; }
    const std::string& filterText() const { return filterText_; }
    ui::Stack* spinnerStack() const { return spinnerStack_; }
    ui::ImGuiPanel* headerPanel() const { return headerPanel_; }
    ui::ScrollView* scrollView() const { return scrollView_; }
    ui::ImGuiPanel* treePanel() const { return treePanel_; }

private:
    // The loaded variable of that full name; null when there is none.
    const s7_symbol* findSymbol(const std::string& name) const;
    // On the UI thread: queues the load and shows the spinner.
    void startLoad();
    // On the UI thread: replaces the tree with a finished load unless its
    // listing failed (null: the load failed with an exception).
    void finishLoad(Catalog* catalog);
    void buildSearchBox();

    PlcConnection* connection_;
    ThreadPool* pool_;
    std::shared_ptr<TagInspector> inspector_;
    TreeItemContext itemContext_;
    ui::Stack* spinnerStack_ = nullptr;
    ui::ImGuiPanel* headerPanel_ = nullptr;
    ui::ScrollView* scrollView_ = nullptr;
    ui::ImGuiPanel* treePanel_ = nullptr;
    std::string filterText_;
    std::string appliedFilter_;
    // Declared before the nodes, which borrow its records: they go first.
    BlockList blocks_;
    std::vector<std::unique_ptr<DatablockItem>> blockItems_;
    // A load is queued or running. Written and read on the UI thread only:
    // set when the load is queued, cleared by the task that hands it back.
    bool loading_ = false;
    std::uint8_t lastState_ = 0;
    float contentHeight_ = 0.0f;
    // Reused for the ImGui identifiers of the rows, frame after frame.
    std::string scratch_;
};

}  // namespace vemo

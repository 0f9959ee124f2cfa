// The left-hand view: the controller's blocks and their variables as a tree,
// with a search box above it.
//
// Each time the connection becomes established the view loads, on the
// pool's worker, the block list and every block's symbols (listAndBrowse,
// each call under the connection service's lock) and builds the tree model
// from them there too, while a spinner turns; the UI thread only swaps the
// finished model in, keeps the nodes that were open, and hands the old model
// back to the worker to be released. Every listed block gets a node; a block
// whose browse failed has no tags, shows that it could not be read (its
// tooltip says why), and the failure is logged. Losing the
// connection, or disconnecting, changes nothing in the tree: the last load
// stays until the next one completes. A load runs on the one connection it
// was started for; when another connection has been made meanwhile its
// result is dropped and the next load starts.
//
// The tree and the inspector's values belong to one controller: its
// address and port, and the key it presented. Connecting to another one
// (another address or port, or a new key at the same address) clears the
// tree and drops the inspector's values at once - the rows keep their
// names and are found again by name in the new controller's browse - and a
// failed listing does the same; the tree's place then says why (notice()).
//
// Only the rows in the scrolled band are laid out and drawn, whatever the
// number of open nodes; a change of the search text is worked off a few
// milliseconds per frame (TreeFilter), the last result shown meanwhile.
// A finished search shows its result from the top with the nodes above its
// matches opened; the nodes the user had open before, and where the tree
// was scrolled, are remembered and come back once the search box is empty.
// What the user opens or closes meanwhile stays so; a row selected among
// the results stays in sight, its parents opened.
//
// A click on a row selects it; on the label of a node with children it also
// opens or closes the node (so does the arrow), on a variable it adds the
// variable to the inspector while the tree is the live connection's. With
// the tree focused the keys move the selection: Up/Down, Page Up/Down,
// Home/End; Right opens a node or goes to its first child, Left closes it
// or goes to its parent; Enter does what a click on the label does; Ctrl+C
// copies the selected row's name, Ctrl+Shift+C its address. Ctrl+F anywhere
// in the window goes to the search box. A right click opens a row's menu:
// Copy name, Copy address, Add to inspector (a structure or array adds the
// variables below it that the search shows, after a confirmation when there
// are many). A variable's tooltip gives its full name, data type and
// address; a clipped label ends in an ellipsis and shows its full name in
// the tooltip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
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
struct ConnectionStatus;
class TagInspector;
class Theme;
class ThreadPool;

class TreeView : public ui::Widget {
public:
    // Sizes at UI scale 1.
    static constexpr float kHeaderHeight = 50.0f;
    static constexpr float kSpinnerSize = 64.0f;
    static constexpr float kIconSize = 20.0f;
    // One row: the icon's height and the gap below it.
    static constexpr float kRowHeight = 28.0f;
    // What a frame spends at most on a running filter.
    static constexpr std::int64_t kFilterBudgetNs = 4'000'000;
    // Adding more variables than this at once asks first.
    static constexpr std::size_t kConfirmAddAbove = 500;

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

    // Fonts, rows, icons and the search box times the UI scale.
    void setScale(float scale);
    float rowHeight() const { return kRowHeight * scale_; }

    TagInspector* inspector() const { return inspector_.get(); }
    bool isLoading() const { return loading_; }
    // The height of all rows (open nodes included), as the panel lays them out.
    float contentHeight() const { return contentHeight_; }
    // The last completed load; null before the first.
    const TreeModel* model() const { return model_.get(); }
    // Whether the node passes the applied filter (its ancestors may be closed).
    bool isShown(std::uint32_t node) const { return visible_[node] != 0; }
    bool isOpen(std::uint32_t node) const { return open_[node] != 0; }
    // Opens or closes a node as the user does: while a search is shown the
    // change also holds once the search box is emptied.
    void setOpen(std::uint32_t node, bool open);
    // The selected row's node; kNone when none.
    std::uint32_t selected() const { return selected_; }
    // Selects a node (kNone: none) and scrolls its row into view.
    void select(std::uint32_t node);
    // What a click on a row's label does: opens or closes a node with
    // children, adds the variable of any other to the inspector.
    void activate(std::uint32_t node);
    // Add to inspector: the variable of a leaf, or the variables below a
    // node that the search shows. More than kConfirmAddAbove wait for
    // confirmAdd; returns how many were asked for.
    std::size_t addToInspector(std::uint32_t node);
    // How many variables wait for the confirmation; 0 when none.
    std::size_t pendingAdd() const { return pendingAdd_.size(); }
    // The user's answer to the confirmation: adds them, or drops them.
    void confirmAdd(bool add);
    // What Copy name and Copy address put on the clipboard: the variable's
    // full name (the path of a node without one) and its item address
    // (empty without a variable).
    std::string nameText(std::uint32_t node) const;
    std::string addressText(std::uint32_t node) const;
    // Ctrl+F: the keyboard goes to the search box, its text selected.
    void focusSearch();
    // Why a block shows no variables when its browse failed ("Could not be
    // read: ..."); empty for every other node.
    std::string failureText(std::uint32_t node) const;
    // The connection the shown tree was loaded on; 0 for none.
    std::uint64_t modelConnection() const { return modelConnection_; }
    // The tooltip of the last frame; empty when none was shown.
    const std::string& tooltip() const { return tooltip_; }
    // The nodes drawn from top to bottom when scrolled through.
    const std::vector<std::uint32_t>& rows() const { return rows_; }
    // A change of the search text is still being worked off.
    bool isFiltering() const { return filter_.running(); }
    const std::string& filterText() const { return filterText_; }
    ui::Stack* spinnerStack() const { return spinnerStack_; }
    ui::ImGuiPanel* headerPanel() const { return headerPanel_; }
    ui::ScrollView* scrollView() const { return scrollView_; }
    ui::ImGuiPanel* treePanel() const { return treePanel_; }
    // Why the tree is empty after it was cleared ("Listing the blocks of
    // ... failed: ..."); empty while the tree shows a load or has never
    // had one.
    const std::string& notice() const { return notice_; }
    // Whether a click on a tag adds it to the inspector: the tree is the
    // live connection's.
    bool acceptsTags() const;

private:
    struct Loaded;
    // The controller a load came from.
    struct Controller {
        std::string host;
        std::uint16_t port = 0;
        std::string key;  // its key fingerprint's text; empty when unknown
    };

    // On the UI thread: queues the load of connection `connection` and shows
    // the spinner.
    void startLoad(std::uint64_t connection, Controller controller);
    // On the UI thread: swaps in a finished load; a failed listing clears
    // the tree (null: the load failed with an exception).
    void finishLoad(Loaded* loaded);
    // Empties the tree and the inspector's values and says why.
    void clear(std::string why);
    // Drops every node number and symbol kept from the model shown.
    void forgetNodes();
    // Clears the tree when the wanted controller is not the one it shows.
    void followController(const ConnectionStatus& status);
    void drawNotice();
    // A slice of the running filter; its result is shown once complete.
    void continueFilter();
    // Shows a complete filter result: a search from the top with its
    // matches opened, an empty search with the user's nodes open again.
    void applyFilterResult(TreeFilter::Result result);
    // The row of a node in rows_, or rows_.size() when it has none.
    std::size_t rowOf(std::uint32_t node) const;
    void handleKeys(float viewHeight);
    void scrollToRow(std::size_t row);
    // Draws one row and takes its clicks; `right`: where the band ends.
    void drawRow(std::uint32_t node, float y, float right);
    void rowTooltip(std::uint32_t node, bool clipped);
    void showTooltip(const std::string& text);
    void rowMenu();
    void addConfirmation();
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
    // While a search is shown: the nodes the user has open, to open again
    // when it is emptied (empty otherwise), and where the tree was scrolled
    // and which row was selected when the search began.
    std::vector<std::uint8_t> userOpen_;
    float userScroll_ = 0.0f;
    std::uint32_t userSelected_ = TreeModel::kNone;
    std::uint32_t selected_ = TreeModel::kNone;
    // Where drawTree scrolls to once the rows have their new height.
    std::optional<float> scrollTo_;
    bool scrollToSelection_ = false;
    // The keys moved the selection and the mouse has not moved since; where
    // it was on the view in the last frame.
    bool keysMoved_ = false;
    float mouseOnViewX_ = 0.0f;
    float mouseOnViewY_ = 0.0f;
    // The row under the right click, its menu to open at `menuAt_`.
    std::uint32_t menuNode_ = TreeModel::kNone;
    bool openMenu_ = false;
    float menuAtX_ = 0.0f;
    float menuAtY_ = 0.0f;
    // The variables of an Add to inspector waiting for the confirmation.
    std::vector<const s7_symbol*> pendingAdd_;
    bool openConfirmation_ = false;
    // Ctrl+F: frames left in which the search box takes the keyboard focus
    // and selects its text.
    int focusSearchFrames_ = 0;
    // The band drawn this frame, for tooltips and menus to stay inside it.
    float bandTop_ = 0.0f;
    float bandHeight_ = 0.0f;
    float bandWidth_ = 0.0f;
    std::string tooltip_;
    TreeFilter filter_;
    // A load is queued or running. Written and read on the UI thread only:
    // set when the load is queued, cleared by the task that hands it back.
    bool loading_ = false;
    // The connection the last load was started for, and the one model_ came
    // from (0: none).
    std::uint64_t loadedFor_ = 0;
    std::uint64_t modelConnection_ = 0;
    // Whose blocks and values are shown: set by a successful load, reset
    // by clear().
    std::optional<Controller> shown_;
    std::string notice_;
    // acceptsTags() as of the frame being drawn.
    bool acceptsTags_ = false;
    float contentHeight_ = 0.0f;
    float scale_ = 1.0f;
};

}  // namespace vemo

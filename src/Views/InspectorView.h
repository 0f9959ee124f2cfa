// The right-hand view: the inspected tags as a table "Variables" with their
// name, data type, display format (a combo per row), last value, a field to
// modify the value, and a button per row that removes it. The rows, their
// refresh and their writes belong to the TagInspector; the view draws them,
// in the order and with the selection its InspectorTable keeps.
//
// The table scrolls under its header row, which stays in place. Clicking
// the Name or Type header sorts by it (again: the other way round, a third
// time: as added). A click selects a row, Ctrl+click adds or removes one,
// Shift+click selects a range; Delete removes the selected rows, Ctrl+C
// copies them for a spreadsheet, Ctrl+A selects all, Escape none, and a
// right click offers the same. Above the table "Export CSV..." writes every
// row to a file named in a small dialog and "Clear all" removes every row;
// removing more than kConfirmAbove rows at once asks first. A value that
// changes is highlighted for a second. A name or value too long for its
// column shows whole in a tooltip. The columns can be resized.
//
// Modifying is possible only while the operator allows writing on the
// connection (the top bar's switch). Enter in a row's Modify field parses
// the text for the row's data type; a text that does not fit says why at
// once, one that fits is written only after a confirmation that names the
// variable, its current and its new value and the controller's address.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Views/InspectorTable.h"
#include "vemo/core/OwnedLists.h"

#include "vemo/ui/Widget.h"

namespace vemo {

namespace ui {
class ImGuiPanel;
class Texture;
}  // namespace ui

class TagInspector;
struct InspectorRow;

// What a row's value column shows. A row without a live value is dimmed and
// says why in its cell ("refused (16#8104)", "type mismatch"), with a
// tooltip that explains it and tells when the last good value was read.
struct ValueCell {
    std::string text;
    std::string tooltip;  // empty for a live row
    bool dimmed = false;
};
ValueCell valueCellFor(const InspectorRow& row);

class InspectorView : public ui::Widget {
public:
    static constexpr int kColumns = 6;  // Name, Type, Format, Value, Modify, remove
    // Removing more rows than this at once (Clear all, Delete) asks first.
    static constexpr std::size_t kConfirmAbove = 3;

    // Shows `inspector`, which the view keeps alive.
    InspectorView(ui::Widget* parent, std::shared_ptr<TagInspector> inspector);
    ~InspectorView() override;

    void resized() override;
    void update() override;

    // Fonts, fixed columns and buttons times the UI scale.
    void setScale(float scale);

    // The panel's build function: the bar above the table, the table, then
    // what the operator asked for in it (after the table, so that the rows
    // do not change while they are drawn), then the dialogs.
    void buildTable();

    ui::ImGuiPanel* panel() const { return panel_; }
    // How many rows the last frame built (formatted their cells and laid
    // them out): those in view, whatever the number of rows.
    std::size_t rowsBuilt() const { return rowsBuilt_; }
    InspectorTable& table() { return table_; }


    // The columns' widths in pixels as last drawn, Name to remove button;
    // empty before the table was first drawn (or the widths just set, until
    // they are drawn). setColumnWidths applies widths in the next frame:
    // Type, Format and the button column take theirs, and Name, Value and
    // Modify share what is left in the proportions given, so widths kept
    // from a wider window still fit. A list of another length, and a width
    // that is not positive, changes nothing.
    std::vector<float> columnWidths() const;
    void setColumnWidths(const std::vector<float>& widths);

    // How the view reports what the operator should know that is not in the
    // table, such as where an export went or why it failed: a headline, an
    // advice (may be empty), and whether something went wrong.
    using Notify = std::function<void(const std::string& headline, const std::string& advice, bool problem)>;
    void onNotice(Notify notify) { notify_ = std::move(notify); }

    // Where the last frame drew the cell in `column` of the row named
    // `name`, its centre in window coordinates; nullopt when that row was
    // not drawn (none such, or scrolled out of view). Column -1 is the
    // header row's.
    std::optional<ui::Vec2> cellCenter(std::string_view name, int column) const;
    std::optional<ui::Vec2> headerCenter(int column) const;

    // Removes the selected rows, or all rows ("Clear all"): at once, or,
    // for more than kConfirmAbove rows, after the operator confirms.
    void removeSelected();
    void clearAll();
    // The selected rows waiting for that confirmation; empty when none, or
    // when "Clear all" waits for it.
    const std::vector<std::string>& pendingRemoval() const { return pendingRemoval_; }
    // How many rows wait for it, those of "Clear all" too; 0 when none.
    std::size_t pendingRemovalCount() const;
    // The operator's answer: removes them, or keeps them.
    void confirmRemoval(bool remove);

    // "Export CSV...": opens the dialog with a file name made of the time.
    void openExport();
    // Writes every row (InspectorTable::csvText) to the file the typed name
    // stands for (exportPath), replacing it atomically, and reports where
    // it went, or why not, through the notice. Returns why nothing was
    // written; empty when it was.
    std::string exportCsv(const std::string& typed);

    // What Enter in a row's Modify field asks: empty when the text is
    // waiting for the operator's confirmation, else why it is not written.
    std::string requestWrite(const std::string& name, const std::string& text);
    // The write waiting for confirmation; empty name when none.
    struct PendingWrite {
        std::string name;
        std::string current;  // the value shown when it was asked for
        std::string text;     // as typed
        std::string address;  // the controller's "host:port"
        OwnedValue value;
    };
    const PendingWrite& pendingWrite() const { return pending_; }
    // The operator's answer to the confirmation: writes, or drops it.
    void confirmWrite(bool write);

private:
    void toolbar();
    void headerRow();
    void drawRow(const InspectorRow& row);
    void applyWidths();
    // Takes the sort the operator clicked; true when there was one.
    bool readSort();
    void shortcuts();
    void formatCell(const InspectorRow& row);
    void modifyCell(const InspectorRow& row);
    void removeButton(const InspectorRow& row);
    void removeRows(const std::vector<std::string>& names);
    void removeAll();
    void requestRemoval(std::vector<std::string> names);
    void copySelection(bool header);
    void rowMenu();
    void confirmationPopup();
    void removalPopup();
    void exportPopup();
    void notify(const std::string& headline, const std::string& advice, bool problem) const;

    std::shared_ptr<TagInspector> inspector_;
    ui::ImGuiPanel* panel_ = nullptr;
    const ui::Texture* removeIcon_ = nullptr;
    InspectorTable table_;
    Notify notify_;
    // Per row name: the Modify field's text, and why the last text typed
    // there was not written.
    std::map<std::string, std::string, std::less<>> edits_;
    std::map<std::string, std::string, std::less<>> refusals_;
    PendingWrite pending_;
    bool openConfirmation_ = false;
    float scale_ = 1.0f;
    // What the operator asked for while the rows were drawn, done after.
    std::vector<std::string> removeNow_;
    bool openRowMenu_ = false;
    std::vector<std::string> pendingRemoval_;
    std::size_t pendingAll_ = 0;  // "Clear all" of this many rows waits for the confirmation
    bool openRemoval_ = false;
    std::string exportName_;
    bool openExport_ = false;
    bool refocusExport_ = false;
    // Widths: as drawn last, and as set but not drawn yet.
    std::vector<float> widths_;
    std::vector<float> pendingWidths_;
    // Where the last frame drew things, in panel coordinates.
    struct DrawnRow {
        std::string name;
        float top = 0.0f;
        float bottom = 0.0f;
    };
    std::vector<DrawnRow> drawnRows_;
    std::array<float, kColumns> columnCenters_{};
    float headerY_ = -1.0f;
    std::size_t rowsBuilt_ = 0;
};

}  // namespace vemo

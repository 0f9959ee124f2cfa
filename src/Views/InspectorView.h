// The right-hand view: the inspected tags as a table "Variables" with their
// name, data type, display format (a combo per row), last value, a field to
// modify the value, and a button per row that removes it. The rows, their
// refresh and their writes belong to the TagInspector; the view draws them.
//
// Modifying is possible only while the operator allows writing on the
// connection (the top bar's switch). Enter in a row's Modify field parses
// the text for the row's data type; a text that does not fit says why at
// once, one that fits is written only after a confirmation that names the
// variable, its current and its new value and the controller's address.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "vemo/core/OwnedLists.h"

#include "vemo/ui/Widget.h"

namespace vemo {

namespace ui {
class ImGuiPanel;
class ScrollView;
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
    // Shows `inspector`, which the view keeps alive.
    InspectorView(ui::Widget* parent, std::shared_ptr<TagInspector> inspector);
    ~InspectorView() override;

    void resized() override;
    void update() override;

    // Fonts, fixed columns and buttons times the UI scale.
    void setScale(float scale);

    // The panel's build function: the table, then the removal of the row
    // whose button was clicked (after the table, so the rows do not change
    // while they are drawn).
    void buildTable();

    ui::ImGuiPanel* panel() const { return panel_; }
    ui::ScrollView* scrollView() const { return scrollView_; }

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
    void formatCell(const InspectorRow& row);
    void modifyCell(const InspectorRow& row);
    void confirmationPopup();

    std::shared_ptr<TagInspector> inspector_;
    ui::ScrollView* scrollView_ = nullptr;
    ui::ImGuiPanel* panel_ = nullptr;
    const ui::Texture* removeIcon_ = nullptr;
    // Per row name: the Modify field's text, and why the last text typed
    // there was not written.
    std::map<std::string, std::string, std::less<>> edits_;
    std::map<std::string, std::string, std::less<>> refusals_;
    PendingWrite pending_;
    bool openConfirmation_ = false;
    float scale_ = 1.0f;
};

}  // namespace vemo

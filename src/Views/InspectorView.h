// The right-hand view: the inspected tags as a table "Variables" with their
// name, data type and last value, and a button per row that removes it.
// The rows and their refresh belong to the TagInspector; the view only
// draws them.
#pragma once

#include <memory>
#include <string>

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

    // The panel's build function: the table, then the removal of the row
    // whose button was clicked (after the table, so the rows do not change
    // while they are drawn).
    void buildTable();

    ui::ImGuiPanel* panel() const { return panel_; }
    ui::ScrollView* scrollView() const { return scrollView_; }

private:
    std::shared_ptr<TagInspector> inspector_;
    ui::ScrollView* scrollView_ = nullptr;
    ui::ImGuiPanel* panel_ = nullptr;
    const ui::Texture* removeIcon_ = nullptr;
};

}  // namespace vemo

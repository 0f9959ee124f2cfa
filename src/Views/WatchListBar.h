// A strip above the inspector: "Open watch list…" and "Save watch list…"
// and the name of the list opened or saved last. Each button asks for the
// file's path in a dialog over the window (the path field, the action's
// button and Cancel; Enter and Escape do the same): pre-filled with the
// current list, or a file in the folder where watch lists are kept. What
// went wrong stays in the dialog, under the field, until the operator
// corrects the path or cancels. Saving over another file than the current
// list asks first, and so does a save that would leave rows of the file
// out (the current list's file too).
#pragma once

#include <functional>
#include <string>

#include "vemo/ui/Widget.h"

namespace vemo {

namespace ui {
class ImGuiPanel;
}  // namespace ui

class Overlay;

class WatchListBar : public ui::Widget {
public:
    static constexpr float kHeight = 34.0f;

    // What of the path the dialog's field selects as it gets the focus.
    enum class Select { Nothing, FileName, End };

    // What the dialogs do with the path: "" when done, else why not.
    struct Actions {
        std::function<std::string(const std::string& path)> open;
        std::function<std::string(const std::string& path)> save;
        // The path a dialog starts with.
        std::function<std::string()> suggestedPath;
        // The list's own path: saving over it needs no question.
        std::function<std::string()> currentPath;
        // What to ask before saving to the path (empty: nothing); asked
        // first wherever the file is. May be empty.
        std::function<std::string(const std::string& path)> saveQuestion;
    };

    // The dialogs show on `overlay`, which must outlive the bar.
    WatchListBar(ui::Widget* parent, Overlay& overlay, Actions actions);

    void openDialog();
    void saveDialog();
    bool dialogShown() const;
    // The dialog's path field and what it says under it.
    const std::string& dialogPath() const { return path_; }
    const std::string& dialogError() const { return error_; }

    // The text beside the buttons.
    void setListName(std::string name) { listName_ = std::move(name); }
    const std::string& listName() const { return listName_; }

    void setScale(float scale);
    float height() const { return kHeight * scale_; }
    ui::ImGuiPanel* panel() const { return panel_; }

    void resized() override;

private:
    void showDialog(bool saving);
    void buildStrip();
    bool buildDialog();
    // The dialog's button or Enter.
    void act();

    Overlay* overlay_;
    Actions actions_;
    ui::ImGuiPanel* panel_ = nullptr;
    std::string listName_;
    float scale_ = 1.0f;
    bool saving_ = false;
    bool openPopup_ = false;
    // What the path field selects when it next gets the focus.
    Select focus_ = Select::Nothing;
    Select select_ = Select::Nothing;
    std::string path_;
    std::string error_;
    // The file a save asked about: a second press saves there.
    std::string replacing_;
};

}  // namespace vemo

// An ImGui panel over the whole window, for what the panel it belongs to
// would cut off: a drop-down list longer than the top bar is high, a dialog.
// Hidden until shown; while shown it covers the window and takes every
// click, so a click beside a drop-down closes it instead of reaching what
// lies below, and it has the keyboard focus.
#pragma once

#include <functional>

#include "vemo/ui/ImGuiPanel.h"

namespace vemo {

namespace ui {
class Window;
}  // namespace ui

class Overlay : public ui::ImGuiPanel {
public:
    // A child of the window's root, above everything made before it.
    explicit Overlay(ui::Window& window);

    // Shows the overlay and builds `content` every frame, inside the
    // panel's ImGui frame, until it returns false: the overlay hides then.
    void show(std::function<bool()> content);
    void hide();
    bool isShown() const { return isVisible(); }

    // Text and ImGui sizes times the UI scale.
    void setScale(float scale);

    // Follows the window's size, then builds the frame.
    void update() override;

private:
    std::function<bool()> content_;
    bool done_ = false;
};

}  // namespace vemo

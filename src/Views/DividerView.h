// The bar between the tree and the inspector. Dragging it with the mouse
// moves it: the view reports where the operator wants it, and the main
// window decides where it goes (within the bounds that keep both panels in
// sight). It lights up under the mouse and while dragged, and the mouse
// pointer turns into the left-right arrow over it.
#pragma once

#include <functional>

#include "vemo/ui/Rectangle.h"

struct SDL_Cursor;

namespace vemo {

class DividerView : public ui::Rectangle {
public:
    // `moved` gets the wanted x of the bar's left edge, in its parent's
    // coordinates, at every mouse move of a drag.
    DividerView(ui::Widget* parent, std::function<void(float)> moved);
    ~DividerView() override;

    bool isDragging() const { return dragging_; }

    bool onMouseButton(const ui::MouseButtonEvent& event) override;
    bool onMouseMove(ui::Vec2 position) override;
    void onMouseEnter() override;
    void onMouseLeave() override;

private:
    void showState();

    std::function<void(float)> moved_;
    bool dragging_ = false;
    bool hovered_ = false;
    // Where in the bar it was grabbed, from its left edge.
    float grab_ = 0.0f;
    SDL_Cursor* cursor_ = nullptr;
};

}  // namespace vemo

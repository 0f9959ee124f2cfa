// The turning wheel the tree view shows while it loads: the loading image,
// half a turn per second, about its centre.
#pragma once

#include "vemo/ui/Widget.h"

namespace vemo {

namespace ui {
class Texture;
}  // namespace ui

class Spinner : public ui::Widget {
public:
    // Degrees per second.
    static constexpr float kSpeed = 180.0f;

    // Owned by `parent`; at `position` with preferred size `size`, turning
    // about its centre.
    Spinner(ui::Widget* parent, ui::Vec2 position, ui::Vec2 size);
    ~Spinner() override;

    // Advances the angle by the last frame's time.
    void update() override;
    // Turning while shown: frames keep coming.
    bool animating() const override { return true; }
    void draw(ui::Renderer* renderer, float parentX, float parentY) override;

private:
    const ui::Texture* texture_;
};

}  // namespace vemo

// A container that scrolls its children vertically. Children get their
// preferred size (clamped); the content height is the lowest child edge.
// When the content is taller than the view, the mouse wheel scrolls it
// (40 pixels a notch), a scroll bar is drawn at the right edge and its thumb
// can be dragged. Children are clipped to the view.
#pragma once

#include "vemo/ui/Widget.h"

namespace vemo::ui {

class ScrollView : public Widget {
public:
    static constexpr float kWheelStep = 40.0f;
    static constexpr float kBarWidth = 8.0f;
    static constexpr float kMinThumb = 20.0f;

    explicit ScrollView(Widget* parent);

    float getScrollOffset() const { return offset_; }
    // Clamped to [0, max scroll].
    void setScrollOffset(float offset);
    float getContentHeight() const;
    float getMaxScroll() const;

    void draw(Renderer* renderer, float parentX, float parentY) override;
    bool onMouseWheel(Vec2 position, float dx, float dy) override;
    bool onMouseButton(const MouseButtonEvent& event) override;
    bool onMouseMove(Vec2 position) override;
    Widget* hitTest(Vec2 windowPoint) override;

    void setBarColor(Color color) { barColor_ = color; }
    void setThumbColor(Color color) { thumbColor_ = color; }

protected:
    void layoutChildren() override;
    Vec2 childOffset() const override { return {0.0f, -offset_}; }
    bool clipsChildren() const override { return true; }

private:
    bool overBar(Vec2 windowPoint) const;
    // Thumb top and height in view coordinates.
    void thumbGeometry(float& top, float& height) const;

    float offset_ = 0.0f;
    bool dragging_ = false;
    float dragStartY_ = 0.0f;
    float dragStartOffset_ = 0.0f;
    Color barColor_{0x40FFFFFFu};
    Color thumbColor_{0xA0FFFFFFu};
};

}  // namespace vemo::ui

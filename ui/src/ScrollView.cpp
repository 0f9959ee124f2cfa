#include "vemo/ui/ScrollView.h"

#include <algorithm>

#include "vemo/ui/Renderer.h"

namespace vemo::ui {

ScrollView::ScrollView(Widget* parent) : Widget(parent) {}

float ScrollView::getContentHeight() const {
    float bottom = 0.0f;
    for (const Widget* child : getChildren()) {
        if (child->isVisible()) bottom = std::max(bottom, child->getPosition().y + child->getActualSize().y);
    }
    return bottom;
}

float ScrollView::getMaxScroll() const { return std::max(0.0f, getContentHeight() - getActualSize().y); }

void ScrollView::setScrollOffset(float offset) { offset_ = std::clamp(offset, 0.0f, getMaxScroll()); }

void ScrollView::layoutChildren() {
    Widget::layoutChildren();
    // Content that shrank must not leave the view scrolled past its end.
    setScrollOffset(offset_);
}

void ScrollView::thumbGeometry(float& top, float& height) const {
    const float view = getActualSize().y;
    const float content = std::max(getContentHeight(), view);
    height = content > 0.0f ? std::max(kMinThumb, view * view / content) : view;
    height = std::min(height, view);
    const float maxScroll = getMaxScroll();
    top = maxScroll > 0.0f ? (view - height) * (offset_ / maxScroll) : 0.0f;
}

bool ScrollView::overBar(Vec2 p) const {
    const Vec2 world = getWorldPosition();
    const Vec2 size = getActualSize();
    return p.x >= world.x + size.x - kBarWidth && p.x < world.x + size.x && p.y >= world.y && p.y < world.y + size.y;
}

void ScrollView::draw(Renderer* renderer, float parentX, float parentY) {
    Widget::draw(renderer, parentX, parentY);
    if (getMaxScroll() <= 0.0f) return;
    const Vec2 world{parentX + getPosition().x, parentY + getPosition().y};
    const Vec2 size = getActualSize();
    float top = 0.0f;
    float height = 0.0f;
    thumbGeometry(top, height);
    renderer->pushClip({world.x, world.y, size.x, size.y});
    renderer->submit(draw::Rectangle{
        {world.x + size.x - kBarWidth, world.y}, {kBarWidth, size.y}, barColor_.toVec4(), 0.0f, {}, nullptr});
    renderer->submit(draw::Rectangle{
        {world.x + size.x - kBarWidth, world.y + top}, {kBarWidth, height}, thumbColor_.toVec4(), 0.0f, {}, nullptr});
    renderer->popClip();
}

bool ScrollView::onMouseWheel(Vec2, float, float dy) {
    if (getMaxScroll() <= 0.0f || dy == 0.0f) return false;
    setScrollOffset(offset_ - dy * kWheelStep);
    return true;
}

Widget* ScrollView::hitTest(Vec2 p) {
    if (isVisible() && getMaxScroll() > 0.0f && overBar(p)) return this;
    return Widget::hitTest(p);
}

bool ScrollView::onMouseButton(const MouseButtonEvent& event) {
    if (event.button != MouseButton::Left) return false;
    if (!event.pressed) {
        const bool was = dragging_;
        dragging_ = false;
        return was;
    }
    if (getMaxScroll() <= 0.0f || !overBar(event.position)) return false;
    float top = 0.0f;
    float height = 0.0f;
    thumbGeometry(top, height);
    const float localY = event.position.y - getWorldPosition().y;
    if (localY < top) {
        setScrollOffset(offset_ - getActualSize().y);  // page up
    } else if (localY >= top + height) {
        setScrollOffset(offset_ + getActualSize().y);  // page down
    } else {
        dragging_ = true;
        dragStartY_ = event.position.y;
        dragStartOffset_ = offset_;
    }
    return true;
}

bool ScrollView::onMouseMove(Vec2 position) {
    if (!dragging_) return false;
    float top = 0.0f;
    float height = 0.0f;
    thumbGeometry(top, height);
    const float track = getActualSize().y - height;
    if (track > 0.0f) setScrollOffset(dragStartOffset_ + (position.y - dragStartY_) * getMaxScroll() / track);
    return true;
}

}  // namespace vemo::ui

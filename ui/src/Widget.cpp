// The widget tree: ownership, geometry, layout pass and input defaults.

#include "vemo/ui/Widget.h"

#include <algorithm>

#include "vemo/ui/Renderer.h"
#include "vemo/ui/Window.h"

namespace vemo::ui {
namespace {

const WindowContext kDetachedContext{};

}  // namespace

Widget::Widget(Widget* parent) : parent_(parent), lifetime_(std::make_shared<char>('\0')) {
    if (parent_ != nullptr) {
        window_ = parent_->window_;
        parent_->children_.push_back(this);
        parent_->invalidateLayout();
    }
}

Widget::~Widget() {
    // Expire first: a task tested on another thread sees the widget as gone
    // from here on.
    lifetime_.reset();
    while (!children_.empty()) {
        Widget* child = children_.back();
        children_.pop_back();
        child->parent_ = nullptr;
        delete child;
    }
    if (window_ != nullptr) window_->forgetWidget(this);
    if (parent_ != nullptr) {
        auto& siblings = parent_->children_;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
        parent_->invalidateLayout();
    }
}

void Widget::attachToWindow(Window* window) {
    window_ = window;
    for (Widget* child : children_) child->attachToWindow(window);
}

void Widget::invalidateLayout() {
    if (window_ != nullptr) window_->invalidateLayout();
}

void Widget::setPosition(Vec2 position) {
    position_ = position;
    invalidateLayout();
}

void Widget::setVisible(bool visible) {
    if (visible_ == visible) return;
    visible_ = visible;
    invalidateLayout();
}

void Widget::setMinSize(Vec2 size) {
    minSize_ = size;
    invalidateLayout();
}

void Widget::setMaxSize(Vec2 size) {
    maxSize_ = size;
    invalidateLayout();
}

void Widget::setPreferredSize(Vec2 size) {
    preferredSize_ = size;
    hasPreferredSize_ = true;
    actualSize_ = clampSize(size);
    invalidateLayout();
}

Vec2 Widget::getPreferredSize() const { return hasPreferredSize_ ? preferredSize_ : contentSize(); }

Vec2 Widget::clampSize(Vec2 size) const {
    // min wins over max when they contradict, so a fixed-size child (min = max)
    // and a wrongly ordered pair both give a definite size.
    return {std::max(minSize_.x, std::min(size.x, maxSize_.x)), std::max(minSize_.y, std::min(size.y, maxSize_.y))};
}

Vec2 Widget::contentSize() const { return {}; }

Vec2 Widget::getWorldPosition() const {
    if (parent_ == nullptr) return position_;
    return parent_->getWorldPosition() + parent_->childOffset() + position_;
}

float Widget::getWorldAngle() const { return parent_ == nullptr ? rotation_ : parent_->getWorldAngle() + rotation_; }

bool Widget::containsPoint(Vec2 p) const {
    const Vec2 w = getWorldPosition();
    return p.x >= w.x && p.y >= w.y && p.x < w.x + actualSize_.x && p.y < w.y + actualSize_.y;
}

const WindowContext& Widget::getWindowContext() const {
    return window_ != nullptr ? window_->getContext() : kDetachedContext;
}

bool Widget::isHovered() const {
    if (window_ == nullptr) return false;
    for (const Widget* w = window_->hoveredWidget(); w != nullptr; w = w->parent_) {
        if (w == this) return true;
    }
    return false;
}

bool Widget::hasFocus() const { return window_ != nullptr && window_->focusedWidget() == this; }

void Widget::update() {
    // By index: an update may create or delete siblings.
    for (std::size_t i = 0; i < children_.size(); ++i) {
        Widget* child = children_[i];
        if (child->visible_) child->update();
    }
}

void Widget::draw(Renderer* renderer, float parentX, float parentY) {
    (void)parentX;
    (void)parentY;
    drawChildren(renderer);
}

void Widget::drawChildren(Renderer* renderer) {
    const Vec2 world = getWorldPosition();
    const Vec2 base = world + childOffset();
    const bool clip = clipsChildren();
    if (clip) renderer->pushClip({world.x, world.y, actualSize_.x, actualSize_.y});
    for (std::size_t i = 0; i < children_.size(); ++i) {
        Widget* child = children_[i];
        if (child->visible_) child->draw(renderer, base.x, base.y);
    }
    if (clip) renderer->popClip();
}

void Widget::resized() {}

bool Widget::onMouseMove(Vec2) { return false; }
bool Widget::onMouseButton(const MouseButtonEvent&) { return false; }
bool Widget::onMouseWheel(Vec2, float, float) { return false; }
bool Widget::onKey(const KeyEvent&) { return false; }
bool Widget::onTextInput(const std::string&) { return false; }
void Widget::onMouseEnter() {}
void Widget::onMouseLeave() {}
void Widget::onFocusChanged(bool) {}

Widget* Widget::hitTest(Vec2 p) {
    if (!visible_) return nullptr;
    const bool inside = containsPoint(p);
    if (clipsChildren() && !inside) return nullptr;
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
        if (Widget* hit = (*it)->hitTest(p)) return hit;
    }
    return inside ? this : nullptr;
}

void Widget::assignSize(Widget* child, Vec2 size) { child->actualSize_ = size; }

void Widget::layoutChildren() {
    for (Widget* child : children_) {
        assignSize(child, child->clampSize(child->getPreferredSize()));
    }
}

void Widget::layout() {
    layoutChildren();
    for (std::size_t i = 0; i < children_.size(); ++i) {
        Widget* child = children_[i];
        if (!child->notifiedOnce_ || !(child->actualSize_ == child->notifiedSize_)) {
            child->notifiedOnce_ = true;
            child->notifiedSize_ = child->actualSize_;
            child->resized();
        }
        child->layout();
    }
}

}  // namespace vemo::ui

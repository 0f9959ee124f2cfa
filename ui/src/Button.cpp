#include "vemo/ui/Button.h"

#include <cmath>

#include "vemo/ui/Renderer.h"
#include "vemo/ui/TextElement.h"

namespace vemo::ui {

Button::Button(Widget* parent) : Widget(parent), text_(new TextElement(this)) {}

Button::Button(Widget* parent, Vec2 position, Vec2 size) : Button(parent) {
    setPosition(position);
    setPreferredSize(size);
}

void Button::setLocked(bool locked) {
    locked_ = locked;
    if (locked_) pressed_ = false;
}

Color Button::currentColor() const {
    if (locked_) return lockedColor_;
    const bool hovered = isHovered();
    if (pressed_ && hovered) return pressedColor_;
    if (hovered) return hover_;
    return background_;
}

void Button::layoutChildren() {
    Widget::layoutChildren();
    // The text sits in the middle, on whole pixels.
    const Vec2 size = getActualSize();
    const Vec2 textSize = text_->getActualSize();
    assignPosition(text_, {std::round((size.x - textSize.x) / 2.0f), std::round((size.y - textSize.y) / 2.0f)});
}

void Button::draw(Renderer* renderer, float parentX, float parentY) {
    const Vec2 world{parentX + getPosition().x, parentY + getPosition().y};
    renderer->submit(
        draw::Rectangle{world, getActualSize(), currentColor().toVec4(), getWorldAngle(), getOrigin(), nullptr});
    Widget::draw(renderer, parentX, parentY);
}

bool Button::onMouseButton(const MouseButtonEvent& event) {
    if (event.button != MouseButton::Left) return false;
    if (event.pressed) {
        // A locked button swallows the press so nothing behind it reacts.
        if (!locked_) pressed_ = true;
        return true;
    }
    const bool wasPressed = pressed_;
    pressed_ = false;
    if (wasPressed && !locked_ && containsPoint(event.position) && onClick_) {
        // A copy: the callback may replace itself or destroy the button.
        auto onClick = onClick_;
        onClick();
    }
    return true;
}

}  // namespace vemo::ui

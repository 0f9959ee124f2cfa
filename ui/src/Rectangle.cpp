#include "vemo/ui/Rectangle.h"

#include "vemo/ui/Renderer.h"
#include "vemo/ui/Resources.h"

namespace vemo::ui {

Rectangle::Rectangle(Widget* parent) : Widget(parent) {}

void Rectangle::draw(Renderer* renderer, float parentX, float parentY) {
    const Vec2 world{parentX + getPosition().x, parentY + getPosition().y};
    draw::Rectangle primitive{world, getActualSize(), color_.toVec4(), getWorldAngle(), getOrigin(), nullptr};
    renderer->submit(primitive);
    if (texture_ != nullptr) {
        primitive.color = {1.0f, 1.0f, 1.0f, 1.0f};
        primitive.texture = texture_;
        renderer->submit(primitive);
    }
    Widget::draw(renderer, parentX, parentY);
}

}  // namespace vemo::ui

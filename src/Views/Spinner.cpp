#include "Views/Spinner.h"

#include "AppTextures.h"
#include "vemo/ui/Renderer.h"

namespace vemo {

Spinner::Spinner(ui::Widget* parent, ui::Vec2 position, ui::Vec2 size)
    : ui::Widget(parent), texture_(AppTextures::getTexture("icons/loading.png")) {
    setPosition(position);
    setPreferredSize(size);
    setOrigin(size * 0.5f);
}

Spinner::~Spinner() = default;

void Spinner::update() {
    const auto micros = static_cast<double>(getWindowContext().frameTime);
    float angle = getRotation() + static_cast<float>(micros / 1000000.0 * kSpeed);
    // Kept within one turn; the step back to 0 is too small to see.
    if (angle > 359.0f) angle = 0.0f;
    setRotation(angle);
    ui::Widget::update();
}

void Spinner::draw(ui::Renderer* renderer, float parentX, float parentY) {
    renderer->submit(ui::draw::Rectangle{
        getWorldPosition(), getActualSize(), {1.0f, 1.0f, 1.0f, 1.0f}, getWorldAngle(), getOrigin(), texture_});
    ui::Widget::draw(renderer, parentX, parentY);
}

}  // namespace vemo

// A filled rectangle, optionally with a texture.
// Drawing rule: the colour fills the rectangle; the texture, if any, is drawn
// over it as it is (unmodified). So a transparent colour shows the texture
// alone, an opaque one gives the texture a background.
#pragma once

#include "vemo/ui/Widget.h"

namespace vemo::ui {

class Texture;

class Rectangle : public Widget {
public:
    explicit Rectangle(Widget* parent);

    void setColor(Color color) { color_ = color; }
    Color getColor() const { return color_; }
    // Not owned; must outlive the rectangle or be reset first. Null: none.
    void setTexture(const Texture* texture) { texture_ = texture; }
    const Texture* getTexture() const { return texture_; }

    void draw(Renderer* renderer, float parentX, float parentY) override;

private:
    Color color_{0xFFFFFFFFu};
    const Texture* texture_ = nullptr;
};

}  // namespace vemo::ui

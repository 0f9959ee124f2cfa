#include "vemo/ui/TextElement.h"

#include <cmath>

#include "Internal.h"
#include "vemo/ui/Renderer.h"

namespace vemo::ui {

TextElement::TextElement(Widget* parent, std::string text) : Widget(parent), text_(std::move(text)) {}

TextElement::~TextElement() = default;

void TextElement::invalidate() {
    dirty_ = true;
    invalidateLayout();
}

void TextElement::setText(std::string text) {
    if (text == text_) return;
    text_ = std::move(text);
    invalidate();
}

void TextElement::setFont(const Font* font) {
    if (font == font_) return;
    font_ = font;
    invalidate();
}

void TextElement::setFontSize(float size) {
    if (size == fontSize_) return;
    fontSize_ = size;
    invalidate();
}

Vec2 TextElement::contentSize() const { return font_ != nullptr ? font_->measure(text_, fontSize_) : Vec2{}; }

void TextElement::draw(Renderer* renderer, float parentX, float parentY) {
    if (dirty_) {
        dirty_ = false;
        rendered_.reset();
        if (font_ != nullptr && font_->impl() != nullptr && !text_.empty()) {
            if (TTF_Font* face = font_->impl()->at(fontSize_)) {
                // Rendered in white once; the colour is applied as a tint when
                // drawing, so a colour change costs nothing.
                SDL_Surface* surface = TTF_RenderUTF8_Blended(face, text_.c_str(), SDL_Color{255, 255, 255, 255});
                if (surface != nullptr) {
                    rendered_ = std::make_unique<Texture>(surface);
                    SDL_FreeSurface(surface);
                }
            }
        }
    }
    if (rendered_) {
        // Whole pixels keep the glyphs sharp.
        const Vec2 world{std::round(parentX + getPosition().x), std::round(parentY + getPosition().y)};
        renderer->submit(draw::Rectangle{world, rendered_->getSize(), color_.toVec4(), getWorldAngle(), getOrigin(),
                                         rendered_.get()});
    }
    Widget::draw(renderer, parentX, parentY);
}

}  // namespace vemo::ui

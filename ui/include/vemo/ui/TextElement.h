// One line of text in a font at a pixel size. Its content size is the
// extent of the text, so in a Stack it takes exactly the room it needs unless
// a preferred size is set. Without a font it draws nothing.
#pragma once

#include <memory>
#include <string>

#include "vemo/ui/Widget.h"

namespace vemo::ui {

class Font;
class Texture;

class TextElement : public Widget {
public:
    explicit TextElement(Widget* parent, std::string text = {});
    ~TextElement() override;

    void setText(std::string text);
    const std::string& getText() const { return text_; }
    // Not owned; must outlive the element. Null: no text drawn.
    void setFont(const Font* font);
    void setFont(const Font& font) { setFont(&font); }
    const Font* getFont() const { return font_; }
    // In pixels (the line height of the font at that size); default 14.
    void setFontSize(float size);
    float getFontSize() const { return fontSize_; }
    void setColor(Color color) { color_ = color; }
    Color getColor() const { return color_; }

    void draw(Renderer* renderer, float parentX, float parentY) override;

protected:
    Vec2 contentSize() const override;

private:
    void invalidate();

    std::string text_;
    const Font* font_ = nullptr;
    float fontSize_ = 14.0f;
    Color color_{0xFFFFFFFFu};
    // The rendered text (white; the colour is applied when drawing).
    std::unique_ptr<Texture> rendered_;
    bool dirty_ = true;
};

}  // namespace vemo::ui

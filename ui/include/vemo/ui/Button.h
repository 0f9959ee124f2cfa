// A clickable button with a centred text. A click is a press and release of
// the left mouse button over the button; it calls the click callback once. A
// locked button ignores presses and never calls back.
#pragma once

#include <functional>
#include <string>

#include "vemo/ui/Widget.h"

namespace vemo::ui {

class TextElement;

class Button : public Widget {
public:
    explicit Button(Widget* parent);
    Button(Widget* parent, Vec2 position, Vec2 size);

    void setOnClick(std::function<void()> onClick) { onClick_ = std::move(onClick); }
    void setLocked(bool locked);
    bool isLocked() const { return locked_; }
    // The text element in the middle of the button (owned by the button).
    TextElement* getText() const { return text_; }

    void setBackgroundColor(Color color) { background_ = color; }
    void setHoverColor(Color color) { hover_ = color; }
    void setPressedColor(Color color) { pressedColor_ = color; }
    void setLockedColor(Color color) { lockedColor_ = color; }
    Color getBackgroundColor() const { return background_; }
    Color getHoverColor() const { return hover_; }
    Color getPressedColor() const { return pressedColor_; }
    Color getLockedColor() const { return lockedColor_; }
    // The colour the button is drawn with now (locked, pressed, hover or background).
    Color currentColor() const;
    bool isPressed() const { return pressed_; }

    void draw(Renderer* renderer, float parentX, float parentY) override;
    bool onMouseButton(const MouseButtonEvent& event) override;

protected:
    void layoutChildren() override;

private:
    TextElement* text_ = nullptr;
    std::function<void()> onClick_;
    bool locked_ = false;
    bool pressed_ = false;
    Color background_{0xFF808080u};
    Color hover_{0xFF909090u};
    Color pressedColor_{0xFF606060u};
    Color lockedColor_{0x80808080u};
};

}  // namespace vemo::ui

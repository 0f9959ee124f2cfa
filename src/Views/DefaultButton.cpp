#include "Views/DefaultButton.h"

#include "Theme.h"
#include "vemo/ui/TextElement.h"

namespace vemo {

DefaultButton::DefaultButton(ui::Widget* parent, float x, float y, float width, float height)
    : ui::Button(parent, {x, y}, {width, height}) {
    const Theme& theme = Theme::instance();
    setBackgroundColor(theme.accentColor());
    setHoverColor(theme.accentHoverColor());
    setPressedColor(theme.accentPressedColor());
    setLockedColor(theme.accentLockedColor());
    ui::TextElement* label = getText();
    label->setColor(theme.textColor());
    label->setFontSize(theme.largeFontSize());
    label->setFont(theme.defaultFont());
}

}  // namespace vemo

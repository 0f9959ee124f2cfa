// The browser's standard button: a toolkit button in the theme's accent
// colours, with its label in the default font at the large size.
#pragma once

#include "vemo/ui/Button.h"

namespace vemo {

class DefaultButton : public ui::Button {
public:
    // Owned by `parent`; placed at (x, y) with the given size.
    DefaultButton(ui::Widget* parent, float x, float y, float width, float height);
};

}  // namespace vemo

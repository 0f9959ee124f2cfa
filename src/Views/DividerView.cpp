#include "Views/DividerView.h"

#include <SDL.h>

#include <utility>

#include "Theme.h"

namespace vemo {

DividerView::DividerView(ui::Widget* parent, std::function<void(float)> moved)
    : ui::Rectangle(parent), moved_(std::move(moved)) {
    // Null where the system has no such pointer (no display): the pointer
    // then stays as it is.
    cursor_ = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_SIZEWE);
    showState();
}

DividerView::~DividerView() {
    if (cursor_ != nullptr) {
        if (SDL_GetCursor() == cursor_) SDL_SetCursor(SDL_GetDefaultCursor());
        SDL_FreeCursor(cursor_);
    }
}

bool DividerView::onMouseButton(const ui::MouseButtonEvent& event) {
    if (event.button != ui::MouseButton::Left) return false;
    dragging_ = event.pressed;
    if (dragging_) grab_ = event.position.x - getWorldPosition().x;
    showState();
    return true;
}

bool DividerView::onMouseMove(ui::Vec2 position) {
    if (!dragging_) return false;
    const float parentX = getParent() != nullptr ? getParent()->getWorldPosition().x : 0.0f;
    moved_(position.x - grab_ - parentX);
    return true;
}

void DividerView::onMouseEnter() {
    hovered_ = true;
    showState();
}

void DividerView::onMouseLeave() {
    hovered_ = false;
    showState();
}

void DividerView::showState() {
    const Theme& theme = Theme::instance();
    const bool active = hovered_ || dragging_;
    setColor(active ? theme.accentColor() : theme.panelColor());
    if (cursor_ != nullptr) SDL_SetCursor(active ? cursor_ : SDL_GetDefaultCursor());
}

}  // namespace vemo

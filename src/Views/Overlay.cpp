#include "Views/Overlay.h"

#include <utility>

#include "Theme.h"
#include "vemo/ui/Window.h"

namespace vemo {

Overlay::Overlay(ui::Window& window) : ui::ImGuiPanel(window.getRootWidget()) {
    setPosition({0.0f, 0.0f});
    setScale(1.0f);
    setBuildImGuiFunction([this] {
        if (content_ && !content_()) done_ = true;
    });
    setVisible(false);
}

void Overlay::show(std::function<bool()> content) {
    content_ = std::move(content);
    done_ = false;
    setVisible(true);
    if (getWindow() != nullptr) getWindow()->setFocus(this);
}

void Overlay::hide() {
    content_ = nullptr;
    setVisible(false);
    if (getWindow() != nullptr && getWindow()->focusedWidget() == this) getWindow()->setFocus(nullptr);
}

void Overlay::setScale(float scale) {
    const Theme& theme = Theme::instance();
    theme.applyImGuiStyle(getImGuiContext(), scale);
    setDefaultFont(theme.defaultFont(), theme.fontSize() * theme.imguiFontScale() * scale);
}

void Overlay::update() {
    if (ui::Window* window = getWindow()) {
        setPreferredSize({static_cast<float>(window->getWidth()), static_cast<float>(window->getHeight())});
    }
    ui::ImGuiPanel::update();
    if (done_) hide();
}

}  // namespace vemo

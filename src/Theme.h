// The browser's look: colours, sizes and the two fonts, plus the one Dear
// ImGui style every ImGui panel of the views is given.
//
// Colours are packed RGBA with red in the lowest byte (vemo::ui::Color, the
// same packing as ImGui's ImU32). The theme never changes after creation.
#pragma once

#include <string_view>

#include <imgui.h>

#include "vemo/ui/Math.h"
#include "vemo/ui/Resources.h"

namespace vemo {

class AssetPackage;

class Theme {
public:
    // The asset both fonts are built from.
    static constexpr std::string_view kFontAsset = "fonts/montserrat-font/MontserratMedium.ttf";
    // Chinese, Japanese and Korean names and values come from this font
    // (Debian's fonts-wqy-microhei), read only when such a text is shown.
    // Without it the program runs as well; those characters show as boxes.
    static constexpr const char* kFallbackFontFile = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";

    // The process-wide theme, created on first use from the process-wide
    // asset package (which must be loaded by then). UI thread only.
    static const Theme& instance();

    // Loads the fonts from `package`. Throws std::runtime_error "Failed to
    // load default font asset" / "Failed to load editor font asset" when the
    // font is missing, and the toolkit's ResourceException when its bytes are
    // not a font.
    explicit Theme(const AssetPackage& package);
    Theme(const Theme&) = delete;
    Theme& operator=(const Theme&) = delete;

    // Makes `context` current and writes the browser's style into it, its
    // sizes (padding, spacing, scroll bars) times the UI scale; the context
    // stays current.
    void applyImGuiStyle(ImGuiContext* context, float scale = 1.0f) const;

    ui::Color accentColor() const { return accentColor_; }
    ui::Color accentHoverColor() const { return accentHoverColor_; }
    ui::Color accentPressedColor() const { return accentPressedColor_; }
    ui::Color accentLockedColor() const { return accentLockedColor_; }
    float buttonHeight() const { return buttonHeight_; }
    ui::Color windowBackgroundColor() const { return windowBackgroundColor_; }
    ui::Color panelColor() const { return panelColor_; }
    ui::Color textColor() const { return textColor_; }
    ui::Color highlightColor() const { return highlightColor_; }
    ui::Color connectingColor() const { return connectingColor_; }
    ui::Color disconnectedColor() const { return disconnectedColor_; }
    ui::Color connectedColor() const { return connectedColor_; }
    // A connection that broke and is being reconnected: amber, neither the
    // green of a live connection nor the red of none.
    ui::Color lostColor() const { return lostColor_; }
    float fontSize() const { return fontSize_; }
    float largeFontSize() const { return largeFontSize_; }
    // ImGui panels draw their text this much larger than the widgets do.
    float imguiFontScale() const { return imguiFontScale_; }
    const ui::Font& defaultFont() const { return defaultFont_; }
    const ui::Font& editorFont() const { return editorFont_; }

private:
    ui::Color accentColor_ = ui::Color::rgba(37, 88, 220);
    ui::Color accentHoverColor_ = ui::Color::rgba(80, 121, 226);
    ui::Color accentPressedColor_ = ui::Color::rgba(29, 70, 175);
    ui::Color accentLockedColor_ = ui::Color::rgba(37, 88, 220, 80);
    float buttonHeight_ = 28.0f;
    ui::Color windowBackgroundColor_ = ui::Color::rgba(16, 16, 16);
    ui::Color panelColor_ = ui::Color::rgba(24, 24, 24);
    ui::Color textColor_ = ui::Color::rgba(240, 240, 240);
    ui::Color highlightColor_ = ui::Color::rgba(153, 233, 255);
    ui::Color connectingColor_ = ui::Color::rgba(255, 200, 0);
    ui::Color disconnectedColor_ = ui::Color::rgba(255, 50, 50);
    ui::Color connectedColor_ = ui::Color::rgba(50, 200, 50);
    ui::Color lostColor_ = ui::Color::rgba(255, 140, 0);
    float fontSize_ = 14.0f;
    float largeFontSize_ = 18.0f;
    float imguiFontScale_ = 1.2f;
    // Declared in this order so that the editor font goes first at exit.
    ui::Font defaultFont_;
    ui::Font editorFont_;
};

}  // namespace vemo

#include "Theme.h"

#include <stdexcept>

#include "vemo/core/AssetPackage.h"
#include "vemo/core/Logger.h"
#include "vemo/ui/ImGuiPanel.h"

namespace vemo {

namespace {

ui::Font loadFont(const AssetPackage& package, const char* failure) {
    const auto asset = package.find(Theme::kFontAsset);
    if (!asset) {
        throw std::runtime_error(failure);
    }
    return ui::Font(asset->data.data(), asset->data.size(), 0);
}

ImVec4 toImVec4(ui::Color color) {
    const ui::Vec4 v = color.toVec4();
    return ImVec4(v.x, v.y, v.z, v.w);
}

}  // namespace

const Theme& Theme::instance() {
    static const Theme theme(AssetPackage::instance());
    return theme;
}

Theme::Theme(const AssetPackage& package)
    : defaultFont_(loadFont(package, "Failed to load default font asset")),
      editorFont_(loadFont(package, "Failed to load editor font asset")) {
    ui::ImGuiPanel::setFallbackFontFile(kFallbackFontFile,
                                        [](const std::string& reason) { Logger::log(LogLevel::Warn, "{}", reason); });
}

void Theme::applyImGuiStyle(ImGuiContext* context, float scale) const {
    ImGui::SetCurrentContext(context);
    ImGuiStyle& style = ImGui::GetStyle();
    // From ImGui's defaults every time: scaling is not applied twice.
    style = ImGuiStyle();

    // Flat and square: no rounding anywhere, thin borders, tight padding.
    style.WindowPadding = ImVec2(0.0f, 0.0f);
    style.WindowRounding = 0.0f;
    style.WindowBorderSize = 1.0f;
    style.ChildRounding = 0.0f;
    style.ChildBorderSize = 1.0f;
    style.PopupRounding = 0.0f;
    style.PopupBorderSize = 1.0f;
    style.FramePadding = ImVec2(4.0f, 3.0f);
    style.FrameRounding = 0.0f;
    style.FrameBorderSize = 1.0f;
    style.ItemSpacing = ImVec2(8.0f, 8.0f);
    style.ItemInnerSpacing = ImVec2(4.0f, 4.0f);
    style.CellPadding = ImVec2(4.0f, 2.0f);
    style.TouchExtraPadding = ImVec2(0.0f, 0.0f);
    style.IndentSpacing = 20.0f;
    style.ScrollbarSize = 10.0f;
    style.ScrollbarRounding = 0.0f;
    style.GrabMinSize = 10.0f;
    style.GrabRounding = 0.0f;
    style.LogSliderDeadzone = 4.0f;
    style.TabRounding = 0.0f;
    style.TabBorderSize = 1.0f;
    // Lets a panel's window sit flush with the panel's edges.
    style.DisplayWindowPadding = ImVec2(0.0f, 0.0f);

    style.Colors[ImGuiCol_Text] = toImVec4(textColor_);
    style.Colors[ImGuiCol_TextDisabled] = ImVec4(0.50f, 0.52f, 0.54f, 1.00f);
    style.Colors[ImGuiCol_Button] = toImVec4(accentColor_);
    style.Colors[ImGuiCol_ButtonHovered] = toImVec4(accentHoverColor_);
    style.Colors[ImGuiCol_ButtonActive] = toImVec4(accentPressedColor_);
    style.ScaleAllSizes(scale);
}

}  // namespace vemo

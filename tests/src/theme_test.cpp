// The theme: fonts come from the package or start-up ends with the fixed
// message; the ImGui style lands in the panel's own context.
#include "Theme.h"

#include "app_test_support.h"

#include <gtest/gtest.h>
#include <imgui.h>

#include <stdexcept>

namespace {

using vemo::AssetPackage;
using vemo::Theme;

TEST(Theme, PackageWithoutTheFontEndsWithTheDefaultFontMessage) {
    AssetPackage package;
    vemo::test::loadPackage(package, {{"icons/vemo.svg", "<svg xmlns='http://www.w3.org/2000/svg'/>"}});
    try {
        const Theme theme(package);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Failed to load default font asset");
    }
}

TEST(Theme, FontsAreBuiltFromThePackagedFont) {
    AssetPackage package;
    package.load(VEMO_ASSET_PACKAGE);
    const Theme theme(package);
    const auto font = package.find(Theme::kFontAsset);
    ASSERT_TRUE(font.has_value());
    EXPECT_EQ(theme.defaultFont().size(), font->data.size());
    EXPECT_EQ(theme.editorFont().size(), font->data.size());
    EXPECT_NE(&theme.defaultFont(), &theme.editorFont());
    EXPECT_GT(theme.defaultFont().measure("PLC-Status: CONNECTED", theme.fontSize()).x, 0.0f);
}

TEST(Theme, StyleIsWrittenIntoTheGivenContextWhichStaysCurrent) {
    AssetPackage package;
    package.load(VEMO_ASSET_PACKAGE);
    const Theme theme(package);
    ImGuiContext* bystander = ImGui::CreateContext();
    ImGuiContext* panel = ImGui::CreateContext();
    ImGui::SetCurrentContext(bystander);

    theme.applyImGuiStyle(panel);

    EXPECT_EQ(ImGui::GetCurrentContext(), panel);
    const ImGuiStyle& style = ImGui::GetStyle();
    // Packed colours turn into floats byte by byte, red from the lowest byte.
    const ImVec4 text = style.Colors[ImGuiCol_Text];
    EXPECT_FLOAT_EQ(text.x, 240.0f / 255.0f);
    EXPECT_FLOAT_EQ(text.w, 1.0f);
    const ImVec4 button = style.Colors[ImGuiCol_Button];
    EXPECT_FLOAT_EQ(button.x, 37.0f / 255.0f);
    EXPECT_FLOAT_EQ(button.y, 88.0f / 255.0f);
    EXPECT_FLOAT_EQ(button.z, 220.0f / 255.0f);
    EXPECT_FLOAT_EQ(style.Colors[ImGuiCol_ButtonActive].z, 175.0f / 255.0f);
    // Flat and square.
    EXPECT_EQ(style.WindowPadding.x, 0.0f);
    EXPECT_EQ(style.FrameRounding, 0.0f);
    EXPECT_EQ(style.FramePadding.y, 3.0f);
    EXPECT_EQ(style.ItemSpacing.y, 8.0f);
    // Values the theme leaves alone keep ImGui's defaults.
    EXPECT_EQ(style.Alpha, 1.0f);
    EXPECT_EQ(style.WindowMinSize.x, ImGuiStyle().WindowMinSize.x);

    // The UI scale multiplies the sizes, from the theme's own each time.
    theme.applyImGuiStyle(panel, 1.5f);
    EXPECT_FLOAT_EQ(ImGui::GetStyle().ItemSpacing.y, 12.0f);
    EXPECT_FLOAT_EQ(ImGui::GetStyle().ScrollbarSize, 15.0f);
    theme.applyImGuiStyle(panel, 1.0f);
    EXPECT_FLOAT_EQ(ImGui::GetStyle().FramePadding.y, 3.0f);

    ImGui::SetCurrentContext(bystander);
    EXPECT_EQ(ImGui::GetStyle().WindowPadding.x, ImGuiStyle().WindowPadding.x) << "another context is untouched";
    ImGui::DestroyContext(panel);
    ImGui::DestroyContext(bystander);
}

}  // namespace

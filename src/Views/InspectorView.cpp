#include "Views/InspectorView.h"

#include <imgui.h>

#include <algorithm>
#include <cfloat>
#include <utility>

#include "AppTextures.h"
#include "Theme.h"
#include "vemo/core/TagInspector.h"
#include "vemo/ui/ImGuiPanel.h"
#include "vemo/ui/Resources.h"
#include "vemo/ui/ScrollView.h"

namespace vemo {

namespace {

constexpr float kRemoveButtonSize = 20.0f;

void cellText(std::string_view text) {
    ImGui::SetNextItemWidth(-FLT_MIN);
    ImGui::TextUnformatted(text.data(), text.data() + text.size());
}

}  // namespace

InspectorView::InspectorView(ui::Widget* parent, std::shared_ptr<TagInspector> inspector)
    : ui::Widget(parent), inspector_(std::move(inspector)) {
    const ui::Vec2 size = getActualSize();
    scrollView_ = new ui::ScrollView(this);
    scrollView_->setPreferredSize(size);
    panel_ = new ui::ImGuiPanel(scrollView_);
    panel_->setPreferredSize(size);

    const Theme& theme = Theme::instance();
    panel_->setDefaultFont(theme.defaultFont(), theme.fontSize() * theme.imguiFontScale());
    theme.applyImGuiStyle(panel_->getImGuiContext());
    panel_->setBuildImGuiFunction([this] { buildTable(); });

    removeIcon_ = AppTextures::getSvg("icons/remove.svg", 256, 256);
}

InspectorView::~InspectorView() = default;

void InspectorView::buildTable() {
    constexpr ImGuiTableFlags kFlags = ImGuiTableFlags_Resizable | ImGuiTableFlags_RowBg |
                                       ImGuiTableFlags_BordersInnerH | ImGuiTableFlags_BordersOuterH |
                                       ImGuiTableFlags_BordersInnerV | ImGuiTableFlags_BordersOuterV;
    const s7_symbol* removed = nullptr;
    if (ImGui::BeginTable("Variables", 4, kFlags, ImVec2(0.0f, 0.0f), 0.0f)) {
        ImGui::TableSetupColumn("Name", ImGuiTableColumnFlags_WidthStretch, 1.5f);
        ImGui::TableSetupColumn("Type", ImGuiTableColumnFlags_WidthFixed, 96.0f);
        ImGui::TableSetupColumn("Value", ImGuiTableColumnFlags_WidthStretch, 1.0f);
        ImGui::TableSetupColumn("", ImGuiTableColumnFlags_WidthFixed, 24.0f);
        ImGui::TableHeadersRow();

        for (const InspectorRow& row : inspector_->rows()) {
            ImGui::TableNextRow();
            // The tag is the row's identity: two rows never share it, while
            // two tags might share a name.
            ImGui::PushID(row.tag);
            ImGui::TableSetColumnIndex(0);
            cellText(row.name);
            ImGui::TableSetColumnIndex(1);
            cellText(row.typeName);
            ImGui::TableSetColumnIndex(2);
            cellText(row.valueText);
            ImGui::TableSetColumnIndex(3);
            ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(0.0f, 0.0f));
            ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0.0f, 0.0f, 0.0f, 0.0f));
            ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ImVec4(1.0f, 1.0f, 1.0f, 0.15f));
            ImGui::PushStyleColor(ImGuiCol_ButtonActive, ImVec4(1.0f, 1.0f, 1.0f, 0.25f));
            bool clicked = false;
            if (removeIcon_ != nullptr) {
                ImGui::PushID("##delete");
                clicked = ImGui::ImageButton(
                    removeIcon_->getImGuiTextureId(), ImVec2(kRemoveButtonSize, kRemoveButtonSize), ImVec2(0.0f, 0.0f),
                    ImVec2(1.0f, 1.0f), 0, ImVec4(0.0f, 0.0f, 0.0f, 0.0f), ImVec4(1.0f, 1.0f, 1.0f, 1.0f));
                ImGui::PopID();
            } else {
                // Without its icon the button still does its job.
                clicked = ImGui::Button("X##delete", ImVec2(kRemoveButtonSize, kRemoveButtonSize));
            }
            if (clicked) removed = row.tag;
            ImGui::PopStyleColor(3);
            ImGui::PopStyleVar(1);
            ImGui::PopID();
        }
        ImGui::EndTable();
        if (removed != nullptr) inspector_->remove(removed);
    }
    // As tall as the table, so the scroll view scrolls over all of it, and
    // never shorter than the view, so the panel's ImGui window always has
    // room to lay the table out.
    const ui::Vec2 size = getActualSize();
    panel_->setPreferredSize({size.x, std::max(size.y, ImGui::GetCursorPosY())});
}

void InspectorView::resized() {
    ui::Widget::resized();
    const ui::Vec2 size = getActualSize();
    panel_->setPreferredSize({size.x, panel_->getActualSize().y});
    scrollView_->setPreferredSize(size);
}

void InspectorView::update() { ui::Widget::update(); }

}  // namespace vemo

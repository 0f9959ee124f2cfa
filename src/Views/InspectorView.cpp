#include "Views/InspectorView.h"

#include <imgui.h>
#include <imgui_stdlib.h>

#include <fmt/format.h>

#include <algorithm>
#include <cfloat>
#include <chrono>
#include <ctime>
#include <string>
#include <utility>

#include "AppTextures.h"
#include "Theme.h"
#include "vemo/core/TagInspector.h"
#include "vemo/core/ValueParse.h"
#include "vemo/ui/ImGuiPanel.h"
#include "vemo/ui/Resources.h"
#include "vemo/ui/ScrollView.h"

namespace vemo {

namespace {

constexpr float kRemoveButtonSize = 20.0f;

void cellText(ui::ImGuiPanel& panel, std::string_view text) {
    panel.useText(text);
    ImGui::SetNextItemWidth(-FLT_MIN);
    ImGui::TextUnformatted(text.data(), text.data() + text.size());
}

// "14:03:22", local time.
std::string clockTime(std::chrono::system_clock::time_point at) {
    const std::time_t t = std::chrono::system_clock::to_time_t(at);
    std::tm local{};
    localtime_r(&t, &local);
    return fmt::format("{:02}:{:02}:{:02}", local.tm_hour, local.tm_min, local.tm_sec);
}

}  // namespace

ValueCell valueCellFor(const InspectorRow& row) {
    // The kept value in the row's format: switching it needs no new read.
    const std::string shown = formatValue(row.value, row.datatype, row.format).text;
    const std::string since =
        row.lastGood ? fmt::format("Last good value read at {}.", clockTime(*row.lastGood)) : "No value read yet.";
    switch (row.state) {
    case RowState::Waiting:
    case RowState::Live: return {shown, {}, false};
    case RowState::Stale:
        return {shown, "Not refreshed: the connection is lost or the last read failed. " + since, true};
    case RowState::Refused:
        return {fmt::format("refused (16#{:04X})", row.refusal.value_or(0)),
                fmt::format("The controller refused to read this variable, error code 16#{:04X}. {}",
                            row.refusal.value_or(0), since),
                true};
    case RowState::Mismatch: {
        // The answer is not shown at all: whatever it reads as would pass
        // for the variable's value.
        const std::string sent =
            row.mismatch ? "a value of type " + row.mismatch->sent : std::string("a value of another type");
        return {"type mismatch",
                fmt::format("The controller sent {} for this {} variable; it is not shown as a value. {}", sent,
                            row.typeName, since),
                true};
    }
    case RowState::Missing:
        return {"not in the controller", "The controller's program has no variable of this name any more. " + since,
                true};
    }
    return {};
}

InspectorView::InspectorView(ui::Widget* parent, std::shared_ptr<TagInspector> inspector)
    : ui::Widget(parent), inspector_(std::move(inspector)) {
    const ui::Vec2 size = getActualSize();
    scrollView_ = new ui::ScrollView(this);
    scrollView_->setPreferredSize(size);
    panel_ = new ui::ImGuiPanel(scrollView_);
    panel_->setPreferredSize(size);

    setScale(1.0f);
    panel_->setBuildImGuiFunction([this] { buildTable(); });

    removeIcon_ = AppTextures::getSvg("icons/remove.svg", 256, 256);
}

InspectorView::~InspectorView() = default;

void InspectorView::setScale(float scale) {
    scale_ = scale;
    const Theme& theme = Theme::instance();
    panel_->setDefaultFont(theme.defaultFont(), theme.fontSize() * theme.imguiFontScale() * scale);
    theme.applyImGuiStyle(panel_->getImGuiContext(), scale);
}

void InspectorView::buildTable() {
    constexpr ImGuiTableFlags kFlags = ImGuiTableFlags_Resizable | ImGuiTableFlags_RowBg |
                                       ImGuiTableFlags_BordersInnerH | ImGuiTableFlags_BordersOuterH |
                                       ImGuiTableFlags_BordersInnerV | ImGuiTableFlags_BordersOuterV;
    std::string removed;
    const ImVec4 dimmed = ImGui::GetStyle().Colors[ImGuiCol_TextDisabled];
    if (ImGui::BeginTable("Variables", 6, kFlags, ImVec2(0.0f, 0.0f), 0.0f)) {
        ImGui::TableSetupColumn("Name", ImGuiTableColumnFlags_WidthStretch, 1.5f);
        ImGui::TableSetupColumn("Type", ImGuiTableColumnFlags_WidthFixed, 96.0f * scale_);
        ImGui::TableSetupColumn("Format", ImGuiTableColumnFlags_WidthFixed, 96.0f * scale_);
        ImGui::TableSetupColumn("Value", ImGuiTableColumnFlags_WidthStretch, 1.0f);
        ImGui::TableSetupColumn("Modify", ImGuiTableColumnFlags_WidthStretch, 0.8f);
        ImGui::TableSetupColumn("", ImGuiTableColumnFlags_WidthFixed, 24.0f * scale_);
        ImGui::TableHeadersRow();

        for (const InspectorRow& row : inspector_->rows()) {
            ImGui::TableNextRow();
            // The name is the row's identity: two rows never share it.
            ImGui::PushID(row.name.c_str());
            const ValueCell cell = valueCellFor(row);
            if (cell.dimmed) ImGui::PushStyleColor(ImGuiCol_Text, dimmed);
            ImGui::TableSetColumnIndex(0);
            cellText(*panel_, row.name);
            ImGui::TableSetColumnIndex(1);
            cellText(*panel_, row.typeName);
            if (cell.dimmed) ImGui::PopStyleColor();
            ImGui::TableSetColumnIndex(2);
            formatCell(row);
            ImGui::TableSetColumnIndex(3);
            if (cell.dimmed) ImGui::PushStyleColor(ImGuiCol_Text, dimmed);
            cellText(*panel_, cell.text);
            if (cell.dimmed) {
                ImGui::PopStyleColor();
                panel_->useText(cell.tooltip);
                if (ImGui::IsItemHovered() && !cell.tooltip.empty()) ImGui::SetTooltip("%s", cell.tooltip.c_str());
            }
            ImGui::TableSetColumnIndex(4);
            modifyCell(row);
            ImGui::TableSetColumnIndex(5);
            ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(0.0f, 0.0f));
            ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0.0f, 0.0f, 0.0f, 0.0f));
            ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ImVec4(1.0f, 1.0f, 1.0f, 0.15f));
            ImGui::PushStyleColor(ImGuiCol_ButtonActive, ImVec4(1.0f, 1.0f, 1.0f, 0.25f));
            bool clicked = false;
            const ImVec2 removeSize(kRemoveButtonSize * scale_, kRemoveButtonSize * scale_);
            if (removeIcon_ != nullptr) {
                ImGui::PushID("##delete");
                clicked = ImGui::ImageButton(removeIcon_->getImGuiTextureId(), removeSize, ImVec2(0.0f, 0.0f),
                                             ImVec2(1.0f, 1.0f), 0, ImVec4(0.0f, 0.0f, 0.0f, 0.0f),
                                             ImVec4(1.0f, 1.0f, 1.0f, 1.0f));
                ImGui::PopID();
            } else {
                // Without its icon the button still does its job.
                clicked = ImGui::Button("X##delete", removeSize);
            }
            if (clicked) removed = row.name;
            ImGui::PopStyleColor(3);
            ImGui::PopStyleVar(1);
            ImGui::PopID();
        }
        ImGui::EndTable();
        if (!removed.empty()) {
            inspector_->remove(removed);
            edits_.erase(removed);
            refusals_.erase(removed);
        }
    }
    confirmationPopup();
    // As tall as the table, so the scroll view scrolls over all of it, and
    // never shorter than the view, so the panel's ImGui window always has
    // room to lay the table out.
    const ui::Vec2 size = getActualSize();
    panel_->setPreferredSize({size.x, std::max(size.y, ImGui::GetCursorPosY())});
}

void InspectorView::formatCell(const InspectorRow& row) {
    const std::vector<DisplayFormat> offered = formatsFor(row.datatype);
    const std::string current(displayFormatName(row.format));
    ImGui::SetNextItemWidth(-FLT_MIN);
    ImGui::BeginDisabled(offered.size() < 2);
    if (ImGui::BeginCombo("##format", current.c_str(), ImGuiComboFlags_None)) {
        for (const DisplayFormat format : offered) {
            const std::string name(displayFormatName(format));
            if (ImGui::Selectable(name.c_str(), format == row.format, ImGuiSelectableFlags_None, ImVec2(0.0f, 0.0f))) {
                inspector_->setFormat(row.name, format);
            }
        }
        ImGui::EndCombo();
    }
    ImGui::EndDisabled();
}

void InspectorView::modifyCell(const InspectorRow& row) {
    const bool allowed = inspector_->writesAllowed();
    std::string& text = edits_[row.name];
    // What the field says while empty: why the last text was not written,
    // else how the last write went, else what it is for.
    const auto refusal = refusals_.find(row.name);
    const std::string& note = refusal != refusals_.end() ? refusal->second : row.writeNote;
    const std::string hint = !note.empty() ? note : allowed ? "new value, Enter" : "";
    panel_->useText(hint);
    ImGui::SetNextItemWidth(-FLT_MIN);
    ImGui::BeginDisabled(!allowed || row.writeState == WriteState::Pending);
    const bool entered = ImGui::InputTextWithHint("##modify", hint.c_str(), &text, ImGuiInputTextFlags_EnterReturnsTrue);
    ImGui::EndDisabled();
    if (!note.empty() && ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled)) {
        ImGui::SetTooltip("%s", note.c_str());
    }
    if (!allowed && ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled) && note.empty()) {
        ImGui::SetTooltip("Turn on \"Allow writing\" in the top bar to modify values.");
    }
    if (entered && allowed) {
        const std::string error = requestWrite(row.name, text);
        if (!error.empty()) refusals_[row.name] = "not written: " + error;
    } else if (ImGui::IsItemEdited()) {
        refusals_.erase(row.name);
    }
}

std::string InspectorView::requestWrite(const std::string& name, const std::string& text) {
    const auto& rows = inspector_->rows();
    const auto row = std::find_if(rows.begin(), rows.end(), [&](const InspectorRow& r) { return r.name == name; });
    if (row == rows.end()) return "no such variable in the inspector";
    if (!inspector_->writesAllowed()) return "writing is not allowed on this connection";
    // A STRING is written with the capacity it was read with.
    const auto capacity =
        row->datatype == S7_DATATYPE_STRING && row->value.present ? static_cast<std::uint32_t>(row->value.bits) : 0u;
    ParsedValue parsed = parseValue(text, row->datatype, capacity);
    if (!parsed) return parsed.error;
    refusals_.erase(name);
    pending_ = PendingWrite{name, valueCellFor(*row).text, text, inspector_->controllerAddress(),
                            std::move(parsed.value)};
    openConfirmation_ = true;
    return {};
}

void InspectorView::confirmWrite(bool write) {
    if (pending_.name.empty()) return;
    PendingWrite pending = std::exchange(pending_, PendingWrite{});
    if (!write) return;
    const std::string error = inspector_->write(pending.name, std::move(pending.value));
    if (!error.empty()) {
        refusals_[pending.name] = "not written: " + error;
    } else {
        edits_[pending.name].clear();
    }
}

void InspectorView::confirmationPopup() {
    constexpr const char* kTitle = "Write value?";
    if (openConfirmation_) {
        ImGui::OpenPopup(kTitle, ImGuiPopupFlags_None);
        openConfirmation_ = false;
    }
    if (!ImGui::BeginPopupModal(kTitle, nullptr, ImGuiWindowFlags_AlwaysAutoResize)) return;
    if (pending_.name.empty()) {
        ImGui::CloseCurrentPopup();
        ImGui::EndPopup();
        return;
    }
    panel_->useText(pending_.name);
    panel_->useText(pending_.current);
    ImGui::Text("Write to %s on the controller at %s?", pending_.name.c_str(), pending_.address.c_str());
    ImGui::Text("Current value: %s", pending_.current.c_str());
    ImGui::Text("New value:     %s", pending_.text.c_str());
    ImGui::Separator();
    if (ImGui::Button("Write", ImVec2(120.0f * scale_, 0.0f))) {
        confirmWrite(true);
        ImGui::CloseCurrentPopup();
    }
    ImGui::SameLine(0.0f, -1.0f);
    if (ImGui::Button("Cancel", ImVec2(120.0f * scale_, 0.0f)) || ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape), false)) {
        confirmWrite(false);
        ImGui::CloseCurrentPopup();
    }
    ImGui::EndPopup();
}

void InspectorView::resized() {
    ui::Widget::resized();
    const ui::Vec2 size = getActualSize();
    panel_->setPreferredSize({size.x, panel_->getActualSize().y});
    scrollView_->setPreferredSize(size);
}

void InspectorView::update() { ui::Widget::update(); }

}  // namespace vemo

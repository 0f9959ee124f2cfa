#include "Views/WatchListBar.h"

#include <imgui.h>
#include <imgui_stdlib.h>

#include <algorithm>
#include <cfloat>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

#include "Theme.h"
#include "Views/Overlay.h"
#include "vemo/ui/ImGuiPanel.h"

namespace vemo {

namespace {

constexpr const char* kOpenTitle = "Open watch list";
constexpr const char* kSaveTitle = "Save watch list";

// On the field's first frame after it got the focus: selects the file's
// name without its folder and extension, so that typing renames the list
// and keeps where it goes - or, after a failed try, nothing, the cursor at
// the end, so that the path can be corrected.
int placeCursor(ImGuiInputTextCallbackData* data) {
    auto* select = static_cast<WatchListBar::Select*>(data->UserData);
    const WatchListBar::Select what = std::exchange(*select, WatchListBar::Select::Nothing);
    if (what == WatchListBar::Select::Nothing) return 0;
    const std::string_view text(data->Buf, static_cast<std::size_t>(data->BufTextLen));
    std::size_t start = text.size();
    std::size_t end = text.size();
    if (what == WatchListBar::Select::FileName) {
        const std::size_t slash = text.rfind('/');
        start = slash == std::string_view::npos ? 0 : slash + 1;
        end = text.rfind('.');
        if (end == std::string_view::npos || end <= start) end = text.size();
    }
    data->SelectionStart = static_cast<int>(start);
    data->SelectionEnd = static_cast<int>(end);
    data->CursorPos = static_cast<int>(end);
    return 0;
}

}  // namespace

WatchListBar::WatchListBar(ui::Widget* parent, Overlay& overlay, Actions actions)
    : ui::Widget(parent), overlay_(&overlay), actions_(std::move(actions)) {
    panel_ = new ui::ImGuiPanel(this);
    panel_->setPosition({0.0f, 0.0f});
    panel_->setBuildImGuiFunction([this] { buildStrip(); });
    setScale(1.0f);
}

void WatchListBar::setScale(float scale) {
    scale_ = scale;
    const Theme& theme = Theme::instance();
    theme.applyImGuiStyle(panel_->getImGuiContext(), scale);
    panel_->setDefaultFont(theme.defaultFont(), theme.fontSize() * theme.imguiFontScale() * scale);
}

void WatchListBar::resized() {
    panel_->setPreferredSize(getActualSize());
    ui::Widget::resized();
}

void WatchListBar::buildStrip() {
    const float frame = ImGui::GetFrameHeight();
    const float y = std::max(0.0f, (getActualSize().y - frame) * 0.5f);
    ImGui::SetCursorPos(ImVec2(6.0f * scale_, y));
    if (ImGui::Button("Open watch list\u2026")) openDialog();
    ImGui::SameLine();
    if (ImGui::Button("Save watch list\u2026")) saveDialog();
    ImGui::SameLine();
    ImGui::SetCursorPosY(y + ImGui::GetStyle().FramePadding.y);
    panel_->useText(listName_);
    if (listName_.empty()) {
        ImGui::TextDisabled("No watch list");
    } else {
        ImGui::TextUnformatted(listName_.c_str());
        if (ImGui::IsItemHovered()) ImGui::SetTooltip("%s", actions_.currentPath().c_str());
    }
}

void WatchListBar::openDialog() { showDialog(false); }

void WatchListBar::saveDialog() { showDialog(true); }

bool WatchListBar::dialogShown() const { return overlay_->isShown(); }

void WatchListBar::showDialog(bool saving) {
    saving_ = saving;
    path_ = actions_.suggestedPath();
    error_.clear();
    replacing_.clear();
    openPopup_ = true;
    focus_ = Select::FileName;
    overlay_->show([this] { return buildDialog(); });
}

void WatchListBar::act() {
    if (saving_ && path_ != replacing_) {
        std::string question = actions_.saveQuestion ? actions_.saveQuestion(path_) : std::string();
        std::error_code ignored;
        if (question.empty() && path_ != actions_.currentPath() && std::filesystem::exists(path_, ignored)) {
            question = "This file exists already. Save again to replace it.";
        }
        if (!question.empty()) {
            replacing_ = path_;
            error_ = std::move(question);
            return;
        }
    }
    error_ = saving_ ? actions_.save(path_) : actions_.open(path_);
}

bool WatchListBar::buildDialog() {
    const char* title = saving_ ? kSaveTitle : kOpenTitle;
    if (openPopup_) {
        ImGui::OpenPopup(title);
        openPopup_ = false;
    }
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    const float width = std::min(600.0f * scale_, display.x - 40.0f * scale_);
    ImGui::SetNextWindowSize(ImVec2(width, 0.0f), ImGuiCond_Always);
    ImGui::SetNextWindowPos(ImVec2(display.x * 0.5f, display.y * 0.4f), ImGuiCond_Always, ImVec2(0.5f, 0.5f));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(12.0f * scale_, 12.0f * scale_));
    const bool shown = ImGui::BeginPopupModal(title, nullptr, ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove);
    ImGui::PopStyleVar();
    if (!shown) return false;

    overlay_->useText(path_);
    ImGui::TextUnformatted("File:");
    if (focus_ != Select::Nothing) {
        ImGui::SetKeyboardFocusHere();
        select_ = std::exchange(focus_, Select::Nothing);
    }
    ImGui::SetNextItemWidth(-FLT_MIN);
    const bool entered =
        ImGui::InputText("##path", &path_, ImGuiInputTextFlags_EnterReturnsTrue | ImGuiInputTextFlags_CallbackAlways,
                         placeCursor, &select_);
    if (ImGui::IsItemEdited()) {
        error_.clear();
        replacing_.clear();
    }
    if (!error_.empty()) {
        overlay_->useText(error_);
        ImGui::PushStyleColor(ImGuiCol_Text, Theme::instance().lostColor().value);
        ImGui::TextWrapped("%s", error_.c_str());
        ImGui::PopStyleColor();
    }
    ImGui::Spacing();
    bool keep = true;
    const ImVec2 button(120.0f * scale_, 0.0f);
    if (ImGui::Button(saving_ ? "Save" : "Open", button) || entered) {
        act();
        if (error_.empty()) keep = false;
        // Enter left the field: back into it, to correct the path or to
        // press Enter again.
        focus_ = Select::End;
    }
    ImGui::SameLine();
    if (ImGui::Button("Cancel", button) || ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape), false)) {
        keep = false;
    }
    if (!keep) ImGui::CloseCurrentPopup();
    ImGui::EndPopup();
    return keep;
}

}  // namespace vemo

#include "Views/InspectorView.h"

#include <imgui.h>
#include <imgui_internal.h>
#include <imgui_stdlib.h>

#include <fmt/format.h>

#include <algorithm>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include "AppTextures.h"
#include "Theme.h"
#include "vemo/core/AtomicFile.h"
#include "vemo/core/ConnectionWords.h"
#include "vemo/core/Logger.h"
#include "vemo/core/TagInspector.h"
#include "vemo/core/ValueParse.h"
#include "vemo/ui/Application.h"
#include "vemo/ui/ImGuiPanel.h"
#include "vemo/ui/Resources.h"

namespace vemo {

namespace {

constexpr float kRemoveButtonSize = 20.0f;
// Room around the bar above the table.
constexpr float kMargin = 6.0f;
// How strongly a value that just changed is highlighted (the accent colour's
// opacity at the start of the fade).
constexpr float kHighlightAlpha = 0.85f;
// The opacity of a selected row's accent colour, and of the white that
// lightens a row under the mouse.
constexpr float kSelectedAlpha = 0.5f;
constexpr float kSelectedHoveredAlpha = 0.6f;
constexpr float kHoveredAlpha = 0.06f;
// Tooltips wrap at this many font sizes: a long STRING value stays readable.
constexpr float kTooltipWidth = 40.0f;

// Every row is as high as its tallest widget, the remove button or a field.
float rowHeight() { return std::max(ImGui::GetFrameHeight(), kRemoveButtonSize); }

void tooltip(const std::string& text) {
    ImGui::BeginTooltip();
    ImGui::PushTextWrapPos(ImGui::GetFontSize() * kTooltipWidth);
    ImGui::TextUnformatted(text.data(), text.data() + text.size());
    ImGui::PopTextWrapPos();
    ImGui::EndTooltip();
}

// A cell's text, on the baseline of the fields in its row. Hovered, the
// cell shows the whole text in a tooltip when it does not fit the column,
// and `explanation`, if any.
void cellText(ui::ImGuiPanel& panel, std::string_view text, bool dimmed = false, const std::string& explanation = {}) {
    panel.useText(text);
    const ImVec2 start = ImGui::GetCursorScreenPos();
    const float width = ImGui::GetContentRegionAvail().x;
    const float height = rowHeight();
    ImGui::AlignTextToFramePadding();
    if (dimmed) ImGui::PushStyleColor(ImGuiCol_Text, ImGui::GetStyle().Colors[ImGuiCol_TextDisabled]);
    ImGui::TextUnformatted(text.data(), text.data() + text.size());
    if (dimmed) ImGui::PopStyleColor();
    const bool clipped = ImGui::CalcTextSize(text.data(), text.data() + text.size()).x > width;
    if ((!clipped && explanation.empty()) || !ImGui::IsWindowHovered() ||
        !ImGui::IsMouseHoveringRect(start, ImVec2(start.x + width, start.y + height))) {
        return;
    }
    std::string tip = clipped ? std::string(text) : std::string();
    if (!explanation.empty()) tip += (tip.empty() ? "" : "\n\n") + explanation;
    panel.useText(explanation);
    tooltip(tip);
}

// A modal dialog in the panel, with room around its text (the panel's own
// window has none).
bool beginDialog(const char* title) {
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(12.0f, 10.0f));
    const bool open = ImGui::BeginPopupModal(title, nullptr, ImGuiWindowFlags_AlwaysAutoResize);
    ImGui::PopStyleVar(1);
    return open;
}

std::string variables(std::size_t n) { return n == 1 ? "1 variable" : fmt::format("{} variables", n); }

// "1 234 567": a number of rows, its thousands apart.
std::string grouped(std::size_t n) {
    const std::string digits = std::to_string(n);
    std::string text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text += ' ';
        text += digits[i];
    }
    return text;
}

// How much of the table the last refresh read, while one refresh cannot
// read it all: empty when it can.
std::string roundText(const TagInspector& inspector) {
    const TagInspector::Round& round = inspector.lastRound();
    if (round.complete()) return {};
    return fmt::format("read {} of {} in the last second", grouped(round.read), grouped(round.readable));
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
    case RowState::Unreadable: {
        // Not gone: unseen. The browse of its block failed, so nothing says
        // whether the program still has it.
        const FailureWords words = describeBrowseFailure(row.browseFailure, PlcConnection::kConnectTimeoutMs);
        return {"block could not be read",
                fmt::format("The block of this variable could not be read from the controller: {}. It is looked "
                            "for again at the next connect. {}",
                            words.what, since),
                true};
    }
    }
    return {};
}

InspectorView::InspectorView(ui::Widget* parent, std::shared_ptr<TagInspector> inspector)
    : ui::Widget(parent), inspector_(std::move(inspector)) {
    // The table scrolls itself, under its header: the panel is as large as
    // the view.
    panel_ = new ui::ImGuiPanel(this);
    panel_->setPreferredSize(getActualSize());

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
    constexpr ImGuiTableFlags kFlags =
        ImGuiTableFlags_Resizable | ImGuiTableFlags_RowBg | ImGuiTableFlags_BordersInnerH |
        ImGuiTableFlags_BordersOuterH | ImGuiTableFlags_BordersInnerV | ImGuiTableFlags_BordersOuterV |
        ImGuiTableFlags_ScrollY | ImGuiTableFlags_Sortable | ImGuiTableFlags_SortTristate;
    const std::vector<InspectorRow>& rows = inspector_->rows();
    table_.sync(rows, inspector_->generation());
    // Sorted a slice per frame: the next slice needs a frame of its own.
    if (table_.sorting()) ui::Application::requestRedraw();
    drawnRows_.clear();
    rowsBuilt_ = 0;
    headerY_ = -1.0f;
    toolbar();
    // Scrolling with no height of its own, the table takes the rest of the
    // view and scrolls within it, under its header row.
    if (ImGui::BeginTable("Variables", kColumns, kFlags, ImVec2(0.0f, 0.0f), 0.0f)) {
        ImGui::TableSetupScrollFreeze(0, 1);
        ImGui::TableSetupColumn("Name", ImGuiTableColumnFlags_WidthStretch, 1.5f);
        ImGui::TableSetupColumn("Type", ImGuiTableColumnFlags_WidthFixed, 96.0f * scale_);
        ImGui::TableSetupColumn("Format", ImGuiTableColumnFlags_WidthFixed | ImGuiTableColumnFlags_NoSort,
                                96.0f * scale_);
        ImGui::TableSetupColumn("Value", ImGuiTableColumnFlags_WidthStretch | ImGuiTableColumnFlags_NoSort, 1.0f);
        ImGui::TableSetupColumn("Modify", ImGuiTableColumnFlags_WidthStretch | ImGuiTableColumnFlags_NoSort, 0.8f);
        ImGui::TableSetupColumn(
            "", ImGuiTableColumnFlags_WidthFixed | ImGuiTableColumnFlags_NoSort | ImGuiTableColumnFlags_NoResize,
            24.0f * scale_);
        applyWidths();
        // A new sort starts in this frame, not the next.
        if (readSort()) table_.continueSort(rows);
        headerRow();

        // Only the rows in view are built: formatted, laid out and drawn.
        ImGuiListClipper clipper;
        clipper.Begin(static_cast<int>(rows.size()));
        while (clipper.Step()) {
            for (int i = clipper.DisplayStart; i < clipper.DisplayEnd; ++i) {
                drawRow(rows[table_.rowAt(static_cast<std::size_t>(i))]);
            }
        }

        const ImGuiTable* table = ImGui::GetCurrentTable();
        widths_.resize(kColumns);
        for (int c = 0; c < kColumns; ++c) widths_[static_cast<std::size_t>(c)] = table->Columns[c].WidthGiven;
        // A click below the rows selects none.
        if (ImGui::IsWindowHovered() && ImGui::IsMouseClicked(ImGuiMouseButton_Left) && !ImGui::IsAnyItemHovered()) {
            table_.clearSelection();
        }
        ImGui::EndTable();
    }
    shortcuts();
    if (!removeNow_.empty()) removeRows(std::exchange(removeNow_, {}));
    rowMenu();
    confirmationPopup();
    removalPopup();
    exportPopup();
    // A fading highlight's next step needs a frame of its own.
    if (const auto next = table_.nextHighlightStep()) ui::Application::wakeAt(*next);
}

void InspectorView::toolbar() {
    const std::vector<InspectorRow>& rows = inspector_->rows();
    ImGui::SetCursorPos(ImVec2(kMargin * scale_, kMargin * scale_));
    ImGui::BeginDisabled(rows.empty());
    if (ImGui::Button("Export CSV\xE2\x80\xA6", ImVec2(0.0f, 0.0f))) openExport();
    ImGui::SameLine(0.0f, -1.0f);
    if (ImGui::Button("Clear all", ImVec2(0.0f, 0.0f))) clearAll();
    ImGui::EndDisabled();
    ImGui::SameLine(0.0f, -1.0f);
    ImGui::AlignTextToFramePadding();
    const std::size_t selected = table_.selectedCount();
    std::string count =
        selected == 0 ? variables(rows.size()) : fmt::format("{}, {} selected", variables(rows.size()), selected);
    if (const std::string round = roundText(*inspector_); !round.empty()) count += " \xE2\x80\x94 " + round;
    if (table_.sorting()) count += " \xE2\x80\x94 sorting\xE2\x80\xA6";
    panel_->useText(count);
    ImGui::TextDisabled("%s", count.c_str());
    ImGui::SetCursorPosX(0.0f);
}

void InspectorView::headerRow() {
    // As ImGui's TableHeadersRow, plus where each header is and a word on
    // how sorting goes.
    ImGui::TableNextRow(ImGuiTableRowFlags_Headers, ImGui::TableGetHeaderRowHeight());
    for (int c = 0; c < kColumns; ++c) {
        if (!ImGui::TableSetColumnIndex(c)) continue;
        const ImVec2 at = ImGui::GetCursorScreenPos();
        columnCenters_[static_cast<std::size_t>(c)] = at.x + ImGui::GetContentRegionAvail().x * 0.5f;
        headerY_ = at.y + ImGui::GetTextLineHeight() * 0.5f;
        ImGui::PushID(c);
        ImGui::TableHeader(ImGui::TableGetColumnName(c));
        ImGui::PopID();
        if (c <= 1 && ImGui::IsItemHovered()) {
            tooltip(
                "Click to sort by this column; again for the other way round, a third time for the order "
                "the variables were added in.");
        }
    }
}

void InspectorView::drawRow(const InspectorRow& row) {
    const float height = rowHeight();
    ++rowsBuilt_;
    ImGui::TableNextRow(ImGuiTableRowFlags_None, height);
    // The name is the row's identity: two rows never share it.
    ImGui::PushID(row.name.c_str());
    ValueCell cell = valueCellFor(row);
    if (!cell.dimmed && inspector_->notAnswering()) {
        cell.dimmed = true;
        cell.tooltip = "The controller is not answering: this is the last value read, it may be out of date.";
    }

    ImGui::TableSetColumnIndex(0);
    const ImVec2 start = ImGui::GetCursorScreenPos();
    // Rows are also laid out to be measured, or half under the header: what
    // cannot be clicked in the middle does not count as drawn.
    const ImVec2 middle(start.x, start.y + height * 0.5f);
    if (ImGui::IsRectVisible(middle, ImVec2(middle.x + 1.0f, middle.y + 1.0f))) {
        drawnRows_.push_back({row.name, start.y, start.y + height});
    }
    // Under the whole row, below the fields and buttons, which take their
    // own clicks.
    // A selected row in the accent colour, a hovered one only lighter: the
    // mouse passing over rows must not look like a selection.
    const bool selected = table_.isSelected(row.name);
    const ui::Vec4 accent = Theme::instance().accentColor().toVec4();
    ImGui::PushStyleColor(ImGuiCol_Header, ImVec4(accent.x, accent.y, accent.z, kSelectedAlpha));
    ImGui::PushStyleColor(ImGuiCol_HeaderHovered, selected ? ImVec4(accent.x, accent.y, accent.z, kSelectedHoveredAlpha)
                                                           : ImVec4(1.0f, 1.0f, 1.0f, kHoveredAlpha));
    ImGui::PushStyleColor(ImGuiCol_HeaderActive, ImVec4(accent.x, accent.y, accent.z, kSelectedAlpha));
    if (ImGui::Selectable("##row", selected,
                          ImGuiSelectableFlags_SpanAllColumns | ImGuiSelectableFlags_AllowItemOverlap,
                          ImVec2(0.0f, height))) {
        const ImGuiIO& io = ImGui::GetIO();
        table_.click(inspector_->rows(), row.name, io.KeyCtrl, io.KeyShift);
    }
    ImGui::PopStyleColor(3);
    if (ImGui::IsItemClicked(ImGuiMouseButton_Right)) {
        // The menu acts on the selection; a row outside it becomes the selection.
        if (!selected) table_.click(inspector_->rows(), row.name, false, false);
        openRowMenu_ = true;
    }
    ImGui::SetCursorScreenPos(start);
    cellText(*panel_, row.name, cell.dimmed);

    ImGui::TableSetColumnIndex(1);
    cellText(*panel_, row.typeName, cell.dimmed);
    ImGui::TableSetColumnIndex(2);
    formatCell(row);

    ImGui::TableSetColumnIndex(3);
    if (const float glow = table_.highlight(row); glow > 0.0f) {
        ImGui::TableSetBgColor(ImGuiTableBgTarget_CellBg,
                               ImGui::GetColorU32(ImVec4(accent.x, accent.y, accent.z, kHighlightAlpha * glow)));
    }
    cellText(*panel_, cell.text, cell.dimmed, cell.tooltip);

    ImGui::TableSetColumnIndex(4);
    modifyCell(row);
    ImGui::TableSetColumnIndex(5);
    removeButton(row);
    ImGui::PopID();
}

void InspectorView::removeButton(const InspectorRow& row) {
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(0.0f, 0.0f));
    ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0.0f, 0.0f, 0.0f, 0.0f));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ImVec4(1.0f, 1.0f, 1.0f, 0.15f));
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, ImVec4(1.0f, 1.0f, 1.0f, 0.25f));
    bool clicked = false;
    const ImVec2 size(kRemoveButtonSize * scale_, kRemoveButtonSize * scale_);
    if (removeIcon_ != nullptr) {
        ImGui::PushID("##delete");
        clicked = ImGui::ImageButton(removeIcon_->getImGuiTextureId(), size, ImVec2(0.0f, 0.0f), ImVec2(1.0f, 1.0f), 0,
                                     ImVec4(0.0f, 0.0f, 0.0f, 0.0f), ImVec4(1.0f, 1.0f, 1.0f, 1.0f));
        ImGui::PopID();
    } else {
        // Without its icon the button still does its job.
        clicked = ImGui::Button("X##delete", size);
    }
    if (clicked) removeNow_.push_back(row.name);
    ImGui::PopStyleColor(3);
    ImGui::PopStyleVar(1);
}

void InspectorView::applyWidths() {
    if (pendingWidths_.empty()) return;
    ImGuiTable* table = ImGui::GetCurrentTable();
    for (int c = 0; c < kColumns; ++c) {
        const float width = pendingWidths_[static_cast<std::size_t>(c)];
        ImGuiTableColumn& column = table->Columns[c];
        if (!(width > 0.0f) || !std::isfinite(width) || (column.Flags & ImGuiTableColumnFlags_NoResize) != 0) continue;
        // A stretching column's width is its share of the room the fixed
        // ones leave: given as a weight, it keeps its proportion.
        if ((column.Flags & ImGuiTableColumnFlags_WidthStretch) != 0) {
            column.StretchWeight = width;
        } else {
            column.WidthRequest = width;
        }
    }
    pendingWidths_.clear();
}

bool InspectorView::readSort() {
    ImGuiTableSortSpecs* specs = ImGui::TableGetSortSpecs();
    if (specs == nullptr || !specs->SpecsDirty) return false;
    InspectorTable::Sort sort;
    if (specs->SpecsCount > 0) {
        const ImGuiTableColumnSortSpecs& first = specs->Specs[0];
        sort.key = first.ColumnIndex == 0   ? InspectorTable::SortKey::Name
                   : first.ColumnIndex == 1 ? InspectorTable::SortKey::Type
                                            : InspectorTable::SortKey::None;
        sort.descending = first.SortDirection == ImGuiSortDirection_Descending;
    }
    table_.setSort(sort);
    specs->SpecsDirty = false;
    return true;
}

void InspectorView::shortcuts() {
    const ImGuiIO& io = ImGui::GetIO();
    // Keys typed into a field, or meant for a dialog or menu, are theirs.
    if (io.WantTextInput || ImGui::IsPopupOpen("", ImGuiPopupFlags_AnyPopupId | ImGuiPopupFlags_AnyPopupLevel)) return;
    const auto pressed = [](ImGuiKey_ key) { return ImGui::IsKeyPressed(ImGui::GetKeyIndex(key), false); };
    if (pressed(ImGuiKey_Delete)) {
        removeSelected();
    } else if (io.KeyCtrl && pressed(ImGuiKey_C)) {
        copySelection(false);
    } else if (io.KeyCtrl && pressed(ImGuiKey_A)) {
        table_.selectAll(inspector_->rows());
    } else if (pressed(ImGuiKey_Escape)) {
        table_.clearSelection();
    }
}

void InspectorView::copySelection(bool header) {
    const std::string text = table_.copyText(inspector_->rows(), header);
    if (!text.empty()) ImGui::SetClipboardText(text.c_str());
}

void InspectorView::rowMenu() {
    constexpr const char* kMenu = "##rows";
    if (std::exchange(openRowMenu_, false)) ImGui::OpenPopup(kMenu, ImGuiPopupFlags_None);
    if (!ImGui::BeginPopup(kMenu, ImGuiWindowFlags_None)) return;
    const std::size_t selected = table_.selectedCount();
    if (ImGui::MenuItem("Copy", "Ctrl+C", false, selected > 0)) copySelection(false);
    if (ImGui::MenuItem("Copy with header", nullptr, false, selected > 0)) copySelection(true);
    ImGui::Separator();
    const std::string remove = selected > 1 ? fmt::format("Remove {}", variables(selected)) : "Remove";
    if (ImGui::MenuItem(remove.c_str(), "Delete", false, selected > 0)) removeSelected();
    if (ImGui::MenuItem("Select all", "Ctrl+A", false, true)) table_.selectAll(inspector_->rows());
    if (ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape), false)) ImGui::CloseCurrentPopup();
    ImGui::EndPopup();
}

void InspectorView::removeSelected() { requestRemoval(table_.selected(inspector_->rows())); }

void InspectorView::clearAll() {
    const std::size_t n = inspector_->rows().size();
    if (n == 0) return;
    if (n <= kConfirmAbove) {
        removeAll();
        return;
    }
    // Asked about by number: a million names are not copied for a question.
    pendingRemoval_.clear();
    pendingAll_ = n;
    openRemoval_ = true;
}

void InspectorView::requestRemoval(std::vector<std::string> names) {
    if (names.empty()) return;
    if (names.size() <= kConfirmAbove) {
        removeRows(names);
        return;
    }
    pendingAll_ = 0;
    pendingRemoval_ = std::move(names);
    openRemoval_ = true;
}

std::size_t InspectorView::pendingRemovalCount() const {
    return pendingAll_ > 0 ? pendingAll_ : pendingRemoval_.size();
}

void InspectorView::confirmRemoval(bool remove) {
    const std::vector<std::string> names = std::exchange(pendingRemoval_, {});
    const bool all = std::exchange(pendingAll_, 0) > 0;
    if (!remove) return;
    if (all) {
        removeAll();
    } else {
        removeRows(names);
    }
}

void InspectorView::removeRows(const std::vector<std::string>& names) {
    inspector_->remove(names);
    table_.deselect(names);
    for (const std::string& name : names) {
        edits_.erase(name);
        refusals_.erase(name);
    }
}

void InspectorView::removeAll() {
    inspector_->clear();
    table_.clearSelection();
    edits_.clear();
    refusals_.clear();
}

void InspectorView::removalPopup() {
    constexpr const char* kTitle = "Remove variables?";
    if (std::exchange(openRemoval_, false)) ImGui::OpenPopup(kTitle, ImGuiPopupFlags_None);
    if (!beginDialog(kTitle)) return;
    if (pendingRemovalCount() == 0) {
        ImGui::CloseCurrentPopup();
        ImGui::EndPopup();
        return;
    }
    const std::size_t n = pendingRemovalCount();
    const std::string question = pendingAll_ > 0 || n == inspector_->rows().size()
                                     ? fmt::format("Remove all {} from the inspector?", variables(n))
                                     : fmt::format("Remove the {} selected from the inspector?", variables(n));
    ImGui::TextUnformatted(question.c_str());
    ImGui::Separator();
    if (ImGui::Button("Remove", ImVec2(120.0f * scale_, 0.0f))) {
        confirmRemoval(true);
        ImGui::CloseCurrentPopup();
    }
    ImGui::SameLine(0.0f, -1.0f);
    if (ImGui::Button("Cancel", ImVec2(120.0f * scale_, 0.0f)) ||
        ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape), false)) {
        confirmRemoval(false);
        ImGui::CloseCurrentPopup();
    }
    ImGui::EndPopup();
}

void InspectorView::openExport() {
    exportName_ = defaultExportName(std::chrono::system_clock::now());
    openExport_ = true;
}

std::string InspectorView::exportCsv(const std::string& typed) {
    const std::filesystem::path path = exportPath(typed);
    if (path.empty()) {
        notify("Export failed: no file name given.", "Type the name of the file to write.", true);
        return "no file name given";
    }
    const std::vector<InspectorRow>& rows = inspector_->rows();
    // Small, and written at once: a few kilobytes are on disk in
    // milliseconds, and the pool's one worker may be held up by a
    // controller that does not answer.
    if (const int error = replaceFile(path, table_.csvText(rows), 0666); error != 0) {
        const std::string why = fmt::format("{} cannot be written: {}", path.string(), std::strerror(error));
        Logger::log(LogLevel::Warn, "Export failed: {}", why);
        notify("Export failed: " + why, "Choose another name, in a folder that exists and that you may write to.",
               true);
        return why;
    }
    Logger::log(LogLevel::Info, "Exported {} to {}", variables(rows.size()), path.string());
    notify(fmt::format("Exported {} to {}", variables(rows.size()), path.string()), "", false);
    return {};
}

void InspectorView::exportPopup() {
    constexpr const char* kTitle = "Export CSV";
    if (std::exchange(openExport_, false)) ImGui::OpenPopup(kTitle, ImGuiPopupFlags_None);
    if (!beginDialog(kTitle)) return;
    ImGui::TextUnformatted("Every row as shown, with the time its value was read.");
    ImGui::TextUnformatted("File (~ is your home folder):");
    // The name is ready for typing when the dialog opens, and again after
    // a name that could not be written.
    if (ImGui::IsWindowAppearing() || std::exchange(refocusExport_, false)) ImGui::SetKeyboardFocusHere(0);
    ImGui::SetNextItemWidth(ImGui::GetFontSize() * 28.0f);
    panel_->useText(exportName_);
    const bool entered = ImGui::InputText("##file", &exportName_, ImGuiInputTextFlags_EnterReturnsTrue);
    std::error_code error;
    const std::filesystem::path path = exportPath(exportName_);
    if (!path.empty() && std::filesystem::exists(path, error)) {
        ImGui::TextDisabled("A file of this name exists: Export replaces it.");
    }
    ImGui::Separator();
    if (ImGui::Button("Export", ImVec2(120.0f * scale_, 0.0f)) || entered) {
        // On failure the dialog stays, with the name to correct.
        if (exportCsv(exportName_).empty()) {
            ImGui::CloseCurrentPopup();
        } else {
            refocusExport_ = true;
        }
    }
    ImGui::SameLine(0.0f, -1.0f);
    if (ImGui::Button("Cancel", ImVec2(120.0f * scale_, 0.0f)) ||
        ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape), false)) {
        ImGui::CloseCurrentPopup();
    }
    ImGui::EndPopup();
}

void InspectorView::notify(const std::string& headline, const std::string& advice, bool problem) const {
    if (notify_) notify_(headline, advice, problem);
}

std::vector<float> InspectorView::columnWidths() const { return pendingWidths_.empty() ? widths_ : pendingWidths_; }

void InspectorView::setColumnWidths(const std::vector<float>& widths) {
    if (widths.size() != static_cast<std::size_t>(kColumns)) return;
    pendingWidths_ = widths;
}

std::optional<ui::Vec2> InspectorView::cellCenter(std::string_view name, int column) const {
    if (column < 0 || column >= kColumns) return std::nullopt;
    const auto row =
        std::find_if(drawnRows_.begin(), drawnRows_.end(), [&](const DrawnRow& r) { return r.name == name; });
    if (row == drawnRows_.end()) return std::nullopt;
    return panel_->getWorldPosition() +
           ui::Vec2{columnCenters_[static_cast<std::size_t>(column)], (row->top + row->bottom) * 0.5f};
}

std::optional<ui::Vec2> InspectorView::headerCenter(int column) const {
    if (column < 0 || column >= kColumns || headerY_ < 0.0f) return std::nullopt;
    return panel_->getWorldPosition() + ui::Vec2{columnCenters_[static_cast<std::size_t>(column)], headerY_};
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
    const bool entered =
        ImGui::InputTextWithHint("##modify", hint.c_str(), &text, ImGuiInputTextFlags_EnterReturnsTrue);
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
    pending_ =
        PendingWrite{name, valueCellFor(*row).text, text, inspector_->controllerAddress(), std::move(parsed.value)};
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
    if (!beginDialog(kTitle)) return;
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
    if (ImGui::Button("Cancel", ImVec2(120.0f * scale_, 0.0f)) ||
        ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape), false)) {
        confirmWrite(false);
        ImGui::CloseCurrentPopup();
    }
    ImGui::EndPopup();
}

void InspectorView::resized() {
    ui::Widget::resized();
    panel_->setPreferredSize(getActualSize());
}

void InspectorView::update() { ui::Widget::update(); }

}  // namespace vemo

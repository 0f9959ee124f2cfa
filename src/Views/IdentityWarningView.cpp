#include "Views/IdentityWarningView.h"

#include <fmt/format.h>
#include <imgui.h>

#include <exception>
#include <string>

#include "Theme.h"
#include "vemo/core/ConnectionWords.h"
#include "vemo/core/Logger.h"
#include "vemo/core/PlcConnection.h"
#include "vemo/core/ThreadPool.h"
#include "vemo/ui/Application.h"

namespace vemo {

namespace {

// Where the fingerprints start, right of their labels.
constexpr float kColumn = 166.0f;

}  // namespace

IdentityWarningView::IdentityWarningView(ui::Widget* parent, PlcConnection& service, ThreadPool& pool)
    : ui::ImGuiPanel(parent), service_(&service), pool_(&pool) {
    const Theme& theme = Theme::instance();
    setPosition({0.0f, 0.0f});
    theme.applyImGuiStyle(getImGuiContext());
    // The panel's own window lies over the whole main window: only the
    // dialog may be seen, not even a border around it all.
    ImGui::GetStyle().WindowBorderSize = 0.0f;
    setDefaultFont(theme.defaultFont(), theme.fontSize() * theme.imguiFontScale());
    setBuildImGuiFunction([this] { build(); });
    setVisible(false);
}

void IdentityWarningView::sync() {
    const ConnectionStatus status = service_->status();
    showing_ = status.state == ConnectionState::Held && status.connection != answered_ &&
               (status.trust.verdict == ControllerTrust::Verdict::Changed ||
                status.trust.verdict == ControllerTrust::Verdict::NotVerified);
    setVisible(showing_);
    // As large as the window, whatever its size.
    if (showing_ && getParent() != nullptr && getActualSize() != getParent()->getActualSize()) {
        setPreferredSize(getParent()->getActualSize());
    }
}

void IdentityWarningView::answer(bool trust) {
    const ConnectionStatus status = service_->status();
    if (status.state != ConnectionState::Held) return;
    answered_ = status.connection;
    showing_ = false;
    if (!trust) {
        service_->disconnect();
        return;
    }
    try {
        // The store is written on the worker, never on the UI thread.
        pool_->submit([service = service_, connection = status.connection] {
            service->acceptIdentity(connection);
            ui::Application::wake();
        });
    } catch (const std::exception& e) {
        Logger::log(LogLevel::Warn, "Accepting the new key not started: {}", e.what());
    }
}

void IdentityWarningView::build() {
    // Built only while shown; a dialog left open when the view was hidden
    // (answered, or the connection went) opens again for the next held one.
    if (!showing_) return;
    if (!ImGui::IsPopupOpen(kTitle)) ImGui::OpenPopup(kTitle, ImGuiPopupFlags_None);
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    ImGui::SetNextWindowPos(ImVec2(display.x * 0.5f, display.y * 0.5f), ImGuiCond_Always, ImVec2(0.5f, 0.5f));
    // The theme's windows have no padding; a dialog's text needs some.
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(16.0f, 12.0f));
    const bool open =
        ImGui::BeginPopupModal(kTitle, nullptr, ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoMove);
    ImGui::PopStyleVar();
    if (!open) return;

    const ConnectionStatus status = service_->status();
    const ControllerTrust& trust = status.trust;
    const std::string presented = trust.identity ? trust.identity->key.text() : std::string();
    const std::string onRecord = trust.known ? trust.known->key.text() : std::string();
    const std::string seen = trust.known ? fmt::format("first seen {}, last seen {}", seenText(trust.known->firstSeen),
                                                       seenText(trust.known->lastSeen))
                                         : std::string();
    const Theme& theme = Theme::instance();
    // The store could not be read (or nothing was presented): the key could
    // not be compared, which is no reason to take it as known.
    const bool unchecked = trust.verdict == ControllerTrust::Verdict::NotVerified;
    ImGui::PushStyleColor(ImGuiCol_Text, ImGui::ColorConvertU32ToFloat4(theme.disconnectedColor().value));
    const std::string address = addressText(status.host, status.port);
    ImGui::TextUnformatted(
        (unchecked ? fmt::format("The key of the controller at {} cannot be checked.", address)
                   : fmt::format("The controller at {} presents another key than the one on record.", address))
            .c_str());
    ImGui::PopStyleColor();
    ImGui::Spacing();
    if (unchecked) {
        ImGui::PushTextWrapPos(ImGui::GetFontSize() * 40.0f);
        ImGui::TextUnformatted(trust.problem.c_str());
        ImGui::PopTextWrapPos();
    } else {
        ImGui::TextUnformatted("Key on record:");
        ImGui::SameLine(kColumn);
        ImGui::TextUnformatted(onRecord.c_str());
        ImGui::SetCursorPosX(kColumn);
        ImGui::TextUnformatted(seen.c_str());
    }
    ImGui::TextUnformatted("Key presented:");
    ImGui::SameLine(kColumn);
    ImGui::TextUnformatted(presented.c_str());
    ImGui::Spacing();
    ImGui::TextUnformatted(unchecked ? "The store of known controllers cannot tell whether this is the controller\n"
                                       "it knows at this address. Repair or remove the file, then connect again.\n"
                                       "Nothing has been read from it or written to it."
                                     : "Either this controller was replaced or given a certificate with a new key, "
                                       "or another\n"
                                       "device answers at this address - perhaps one that sits in between and "
                                       "listens.\n"
                                       "Nothing has been read from it or written to it.");
    ImGui::Separator();
    if (ImGui::Button("Disconnect", ImVec2(160.0f, 0.0f)) ||
        ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape), false)) {
        answer(false);
        ImGui::CloseCurrentPopup();
    }
    ImGui::SameLine(0.0f, -1.0f);
    // Without a key presented there is nothing to trust.
    if (trust.identity && ImGui::Button(unchecked ? "Use it unchecked" : "Trust the new key", ImVec2(200.0f, 0.0f))) {
        answer(true);
        ImGui::CloseCurrentPopup();
    }
    ImGui::EndPopup();
}

}  // namespace vemo

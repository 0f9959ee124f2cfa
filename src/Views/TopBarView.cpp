#include "Views/TopBarView.h"

#include <fmt/format.h>
#include <imgui.h>
#include <imgui_stdlib.h>

#include <algorithm>
#include <cfloat>
#include <exception>
#include <functional>
#include <utility>
#include <vector>

#include "AppTextures.h"
#include "Theme.h"
#include "Views/DefaultButton.h"
#include "Views/Overlay.h"
#include "vemo/core/ConnectionWords.h"
#include "vemo/core/Logger.h"
#include "vemo/core/PlcConnection.h"
#include "vemo/core/ThreadPool.h"
#include "vemo/ui/Application.h"
#include "vemo/ui/ImGuiPanel.h"
#include "vemo/ui/Rectangle.h"
#include "vemo/ui/Stack.h"
#include "vemo/ui/TextElement.h"
#include "vemo/ui/Window.h"

#ifndef VEMO_VERSION
#error "VEMO_VERSION must name the program version"
#endif

namespace vemo {

namespace {

// Numbers of the toolkit's stack settings.
constexpr int kLeftToRight = 0;
constexpr int kTopToBottom = 1;
constexpr int kAlignStart = 0;
constexpr int kAlignCenter = 1;
constexpr int kAlignStretch = 3;
constexpr int kDistributeStart = 0;
constexpr int kDistributeEnd = 2;
constexpr int kDistributeEvenly = 5;
constexpr int kDistributeFill = 6;

// The bar's sizes at scale 1.
constexpr float kLogoSize = 40.0f;
constexpr float kLogoMargin = 5.0f;
constexpr float kSpacing = 10.0f;
// The port field's right-hand border lies on 384.
constexpr float kPanelWidth = 386.0f;
// Where the second row's fingerprint, or a field's problem, starts: beside
// the write switch.
constexpr float kSecondRowX = 128.0f;
constexpr float kButtonWidth = 104.0f;
constexpr float kRightSpacing = 24.0f;
constexpr float kStatusWidth = 300.0f;
constexpr float kStatusPadding = 8.0f;
constexpr float kMakerWidth = 150.0f;
// The status column's widest line.
constexpr const char* kLongestStatus = "PLC-Status: CONNECTION LOST";

ui::TextElement* makeText(ui::Widget* parent, const Theme& theme, std::string text = {}) {
    auto* element = new ui::TextElement(parent, std::move(text));
    element->setFont(theme.defaultFont());
    element->setFontSize(theme.fontSize());
    element->setColor(theme.textColor());
    return element;
}

}  // namespace

TopBarView::TopBarView(ui::Widget* parent) : TopBarView(parent, *PlcConnection::instance(), ThreadPool::instance()) {}

TopBarView::TopBarView(ui::Widget* parent, PlcConnection& service, ThreadPool& pool)
    : ui::Widget(parent), service_(&service), pool_(&pool) {
    const Theme& theme = Theme::instance();
    // The window sleeps between frames: a call that begins, or a connect
    // that enters its next step, wakes it, so that a controller that stops
    // answering is shown as such while it keeps the call waiting.
    service_->setCallWatcher([] { ui::Application::wake(); });

    background_ = new ui::Rectangle(this);
    background_->setColor(theme.panelColor());

    mainStack_ = new ui::Stack(this);
    mainStack_->setDistribution(kDistributeFill);
    mainStack_->setAlignment(kAlignStretch);
    mainStack_->setOrientation(kLeftToRight);

    // Left: logo, address panel, button. Their sizes come with the scale.
    auto* left = new ui::Stack(mainStack_);
    left->setOrientation(kLeftToRight);
    left->setAlignment(kAlignCenter);
    left->setDistribution(kDistributeStart);
    left_ = left;

    auto* logo = new ui::Rectangle(left);
    logo->setPosition({0.0f, 0.0f});
    logo->setTexture(AppTextures::getSvg("icons/vemo.svg", 256, 256));
    logo->setColor(ui::Color(0xFF000000u));
    logo_ = logo;

    auto* panel = new ui::ImGuiPanel(left);
    panel->setPosition({0.0f, 0.0f});
    // Two rows: address and port, then the write permission beside the key
    // fingerprint with its mark (or why a field cannot be used).
    panel->setBuildImGuiFunction([this] { buildConnectionPanel(); });
    panel_ = panel;

    connectButton_ = new DefaultButton(left, 0.0f, 0.0f, kButtonWidth, theme.buttonHeight());
    connectButton_->getText()->setText("Connect");
    connectButton_->setOnClick([this] { onButtonClicked(); });

    // Right: status and controller type, maker and version, as wide as
    // fitRightGroup makes them.
    auto* right = new ui::Stack(mainStack_);
    right->setOrientation(kLeftToRight);
    right->setAlignment(kAlignStretch);
    right->setDistribution(kDistributeEnd);
    right_ = right;

    auto* status = new ui::Stack(right);
    status->setPosition({0.0f, 0.0f});
    status->setOrientation(kTopToBottom);
    status->setAlignment(kAlignStart);
    status->setDistribution(kDistributeEvenly);
    // The status line gets its colour together with its text in update().
    statusText_ = makeText(status, theme);
    detailText_ = makeText(status, theme);
    statusColumn_ = status;

    auto* maker = new ui::Stack(right);
    maker->setPosition({0.0f, 0.0f});
    maker->setOrientation(kTopToBottom);
    maker->setAlignment(kAlignStart);
    maker->setDistribution(kDistributeEvenly);
    makeText(maker, theme, "VEMO Software GmbH");
    makeText(maker, theme, fmt::format("Version: {}", VEMO_VERSION));
    makerColumn_ = maker;

    // The list of recent controllers must not end at the bar's lower edge.
    if (getWindow() != nullptr) overlay_ = new Overlay(*getWindow());
    setScale(1.0f);
}

void TopBarView::setScale(float scale) {
    scale_ = scale;
    const Theme& theme = Theme::instance();
    left_->setPadding({kLogoMargin * scale, 0.0f, 0.0f, 0.0f});
    left_->setSpacing(kSpacing * scale);
    logo_->setPreferredSize({kLogoSize * scale, kLogoSize * scale});
    panel_->setPreferredSize({kPanelWidth * scale, kHeight * scale});
    theme.applyImGuiStyle(panel_->getImGuiContext(), scale);
    panel_->setDefaultFont(theme.defaultFont(), theme.fontSize() * theme.imguiFontScale() * scale);
    connectButton_->setPreferredSize({kButtonWidth * scale, theme.buttonHeight() * scale});
    connectButton_->getText()->setFontSize(theme.largeFontSize() * scale);
    right_->setSpacing(kRightSpacing * scale);
    const float pad = kStatusPadding * scale;
    statusColumn_->setPadding({pad, pad, pad, pad});
    for (ui::Stack* column : {statusColumn_, makerColumn_}) {
        for (ui::Widget* line : column->getChildren()) {
            static_cast<ui::TextElement*>(line)->setFontSize(theme.fontSize() * scale);
        }
    }
    if (overlay_ != nullptr) overlay_->setScale(scale);
    fitRightGroup(getActualSize().x);
}

void TopBarView::fitRightGroup(float width) {
    const Theme& theme = Theme::instance();
    const float s = scale_;
    const float size = theme.fontSize() * s;
    // What the status column needs: its longest status line, or the detail
    // line shown if that is longer.
    float needed = theme.defaultFont().measure(kLongestStatus, size).x;
    needed = std::max(needed, theme.defaultFont().measure(statusText_->getText(), size).x);
    needed = std::max(needed, theme.defaultFont().measure(detailText_->getText(), size).x);
    needed += 2.0f * kStatusPadding * s;
    const float full = std::max(kStatusWidth * s, needed);
    const float maker = kMakerWidth * s;
    const float spacing = kRightSpacing * s;
    const float room = std::max(0.0f, width - left_->getPreferredSize().x - kSpacing * s);
    float status = std::min(full, room);
    bool showMaker = false;
    if (room >= full + spacing + maker) {
        showMaker = true;
    } else if (room >= needed + spacing + maker) {
        status = room - spacing - maker;
        showMaker = true;
    }
    const float height = kHeight * s;
    const float group = status + (showMaker ? spacing + maker : 0.0f);
    // Set only what changed: every change lays the window out again.
    if (makerColumn_->isVisible() != showMaker) makerColumn_->setVisible(showMaker);
    if (!(statusColumn_->getPreferredSize() == ui::Vec2{status, height})) {
        statusColumn_->setPreferredSize({status, height});
    }
    if (!(makerColumn_->getPreferredSize() == ui::Vec2{maker, height})) makerColumn_->setPreferredSize({maker, height});
    if (!(right_->getMaxSize() == ui::Vec2{group, height})) {
        right_->setMinSize({group, height});
        right_->setMaxSize({group, height});
    }
}

ControllerAddress TopBarView::address() const {
    return ControllerAddress{ipAddress_, static_cast<std::uint16_t>(port_)};
}

void TopBarView::setAddress(const ControllerAddress& address) {
    ipAddress_ = address.host;
    port_ = address.port;
}

void TopBarView::showRecentControllers() {
    if (overlay_ == nullptr || recent_.empty()) return;
    openRecent_ = true;
    overlay_->show([this] { return buildRecentList(); });
}

bool TopBarView::recentControllersShown() const { return overlay_ != nullptr && overlay_->isShown(); }

bool TopBarView::buildRecentList() {
    constexpr const char* kPopup = "##recent";
    if (openRecent_) {
        ImGui::OpenPopup(kPopup);
        openRecent_ = false;
    }
    ImGui::SetNextWindowPos(ImVec2(recentAt_.x, recentAt_.y), ImGuiCond_Always);
    ImGui::SetNextWindowSizeConstraints(ImVec2(recentWidth_, 0.0f), ImVec2(FLT_MAX, FLT_MAX));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(4.0f * scale_, 4.0f * scale_));
    const bool shown = ImGui::BeginPopup(kPopup);
    ImGui::PopStyleVar();
    // A click beside the list or Escape closed it.
    if (!shown) return false;
    for (const ControllerAddress& address : recent_) {
        const std::string label = fmt::format("{}:{}", address.host, address.port);
        overlay_->useText(label);
        // Picking one closes the list.
        if (ImGui::Selectable(label.c_str(), address == this->address())) setAddress(address);
    }
    if (ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape), false)) ImGui::CloseCurrentPopup();
    ImGui::EndPopup();
    return true;
}

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Four numbers from 0 to 255 between dots, as a text of digits and dots
// must be to be an IPv4 address (a host name is never all digits).
bool isDottedQuad(std::string_view text) {
    int parts = 0;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t dot = std::min(text.find('.', at), text.size());
        const std::string_view part = text.substr(at, dot - at);
        if (part.empty() || part.size() > 3) return false;
        int value = 0;
        for (const char c : part) value = value * 10 + (c - '0');
        if (value > 255) return false;
        ++parts;
        at = dot + 1;
    }
    return parts == 4;
}

bool enterPressed() {
    return ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Enter), false) ||
           ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_KeyPadEnter), false);
}

// The field just drawn was left with Enter.
bool leftWithEnter() { return ImGui::IsItemDeactivated() && enterPressed(); }

ImVec4 toImGui(ui::Color color) { return ImGui::ColorConvertU32ToFloat4(color.value); }

// A field that cannot be used is framed in the colour of a failure while it
// is drawn.
class ProblemFrame {
public:
    ProblemFrame(bool problem, float scale) : problem_(problem) {
        if (!problem_) return;
        ImGui::PushStyleColor(ImGuiCol_Border, toImGui(Theme::instance().disconnectedColor()));
        ImGui::PushStyleVar(ImGuiStyleVar_FrameBorderSize, std::max(1.0f, scale));
    }
    ~ProblemFrame() {
        if (!problem_) return;
        ImGui::PopStyleVar();
        ImGui::PopStyleColor();
    }
    ProblemFrame(const ProblemFrame&) = delete;
    ProblemFrame& operator=(const ProblemFrame&) = delete;

private:
    bool problem_;
};

}  // namespace

ConnectTarget checkTarget(std::string_view address, int port) {
    ConnectTarget target;
    std::size_t first = 0;
    std::size_t last = address.size();
    while (first < last && isBlank(address[first])) ++first;
    while (last > first && isBlank(address[last - 1])) --last;
    const std::string_view host = address.substr(first, last - first);
    target.host = std::string(host);
    const bool inner = std::any_of(host.begin(), host.end(), [](char c) {
        return isBlank(c) || static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    });
    const bool digitsAndDots = !host.empty() && host.find_first_not_of("0123456789.") == std::string_view::npos;
    // Short: the panel is as narrow as the fields (and a tooltip could not
    // leave it).
    if (inner) {
        target.addressProblem = "Address: no spaces inside";
    } else if (digitsAndDots && !isDottedQuad(host)) {
        target.addressProblem = "Address: not an IP address";
    }
    if (port < 1 || port > 65535) {
        target.portProblem = "Port: 1 to 65535";
    } else {
        target.port = static_cast<std::uint16_t>(port);
    }
    return target;
}

std::string windowTitle(const ConnectionStatus& status, const std::string& plcType) {
    constexpr const char* kName = "VEMO S7 Browser";
    const bool stands = status.state == ConnectionState::Connected || status.state == ConnectionState::Lost ||
                        status.state == ConnectionState::Held;
    if (!stands) return kName;
    const std::string address = addressText(status.host, status.port);
    // An ASCII dash: X11 takes a title with other characters only from a
    // program that has set a UTF-8 locale, and keeps showing the old one.
    if (plcType.empty()) return fmt::format("{} - {}", kName, address);
    return fmt::format("{} - {} at {}", kName, plcType, address);
}

std::string shortFingerprint(const std::string& fingerprint) {
    // "SHA256:" and 8 of the 43 base64 characters: 48 bits.
    constexpr std::size_t kShown = 7 + 8;
    if (fingerprint.size() <= kShown) return fingerprint;
    return fingerprint.substr(0, kShown) + "\u2026";
}

ConnectTarget TopBarView::target() const { return checkTarget(ipAddress_, port_); }

void TopBarView::buildConnectionPanel() {
    const float s = scale_;
    const ConnectionStatus status = service_->status();
    const bool editable = status.state == ConnectionState::Disconnected;
    const ConnectTarget checked = target();
    bool submitted = false;

    // While a connection is wanted the fields show what it is for.
    std::string liveHost = status.host;
    int livePort = status.port;
    std::string& host = editable ? ipAddress_ : liveHost;
    int& port = editable ? port_ : livePort;

    // Both rows in the bar's height.
    ImGui::PushStyleVar(ImGuiStyleVar_ItemSpacing, ImVec2(8.0f * s, 4.0f * s));
    ImGui::BeginDisabled(!editable);
    ImGui::AlignTextToFramePadding();
    ImGui::TextUnformatted("IP:");
    ImGui::SameLine(28.0f * s);
    ImGui::SetNextItemWidth(160.0f * s);
    {
        const ProblemFrame frame(editable && !checked.addressProblem.empty(), s);
        ImGui::InputTextWithHint("##IP", "IP address", &host);
    }
    submitted |= leftWithEnter();
    const ImVec2 field = ImGui::GetItemRectMin();
    const ImVec2 fieldEnd = ImGui::GetItemRectMax();
    ImGui::SameLine(0.0f, 2.0f * s);
    ImGui::BeginDisabled(recent_.empty());
    if (ImGui::ArrowButton("##recent", ImGuiDir_Down)) {
        const ui::Vec2 at = panel_->getWorldPosition();
        recentAt_ = {at.x + field.x, at.y + fieldEnd.y};
        recentWidth_ = fieldEnd.x - field.x;
        showRecentControllers();
    }
    ImGui::EndDisabled();
    if (editable && ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled)) {
        ImGui::SetTooltip("%s", recent_.empty() ? "No recent controllers yet" : "Recent controllers");
    }
    ImGui::SameLine(220.0f * s);
    ImGui::TextUnformatted("Port:");
    ImGui::SameLine(264.0f * s);
    ImGui::SetNextItemWidth(104.0f * s);
    {
        const ProblemFrame frame(editable && !checked.portProblem.empty(), s);
        ImGui::InputInt("##Port", &port, 1, 100);
    }
    submitted |= leftWithEnter();
    ImGui::EndDisabled();

    buildSecondRow(status, target());
    ImGui::PopStyleVar();
    if (submitted && editable) connect();
}

void TopBarView::buildSecondRow(const ConnectionStatus& status, const ConnectTarget& target) {
    // Writing is the operator's decision for one connection: the service
    // turns it off at every connect.
    const bool connected = status.state == ConnectionState::Connected;
    bool allowed = service_->writesAllowed();
    ImGui::BeginDisabled(!connected);
    if (ImGui::Checkbox("Allow writing", &allowed)) service_->allowWrites(allowed);
    ImGui::EndDisabled();
    if (ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled)) {
        ImGui::SetTooltip(
            "While on, the inspector's Modify column writes values to this controller.\n"
            "Off again at every connect.");
    }
    if (status.state == ConnectionState::Disconnected) {
        // Why Connect is locked, where the operator looks.
        const std::string& hint = !target.addressProblem.empty() ? target.addressProblem : target.portProblem;
        if (hint.empty()) return;
        ImGui::SameLine(kSecondRowX * scale_);
        ImGui::PushStyleColor(ImGuiCol_Text, toImGui(Theme::instance().disconnectedColor()));
        ImGui::TextUnformatted(hint.c_str());
        ImGui::PopStyleColor();
        return;
    }
    buildFingerprint(status);
}

void TopBarView::buildFingerprint(const ConnectionStatus& status) {
    using Verdict = ControllerTrust::Verdict;
    const ControllerTrust& trust = status.trust;
    if (status.state == ConnectionState::Connecting || !trust.identity) return;
    const Theme& theme = Theme::instance();
    const std::string key = trust.identity->key.text();
    ImGui::SameLine(kSecondRowX * scale_);
    const std::string label = shortFingerprint(key);
    const ImVec2 size = ImGui::CalcTextSize(label.c_str());
    if (ImGui::Selectable(label.c_str(), false, ImGuiSelectableFlags_None, size)) {
        ImGui::SetClipboardText(key.c_str());
        copied_ = key;
    }
    const bool copied = copied_ == key;
    if (ImGui::IsItemHovered()) {
        // The whole fingerprint on one line, a little smaller: the panel is
        // no wider and no higher than its place in the top bar.
        ImGui::BeginTooltip();
        ImGui::SetWindowFontScale(0.9f);
        ImGui::TextUnformatted(key.c_str());
        ImGui::EndTooltip();
    } else if (!ImGui::IsPopupOpen("##fingerprintMenu")) {
        copied_.clear();
    }
    if (ImGui::BeginPopupContextItem("##fingerprintMenu", ImGuiPopupFlags_MouseButtonRight)) {
        if (ImGui::MenuItem("Copy key fingerprint", nullptr, false, true)) {
            ImGui::SetClipboardText(key.c_str());
            copied_ = key;
        }
        ImGui::EndPopup();
    }
    // The store's word on it: a small mark beside the fingerprint.
    const char* mark = nullptr;
    ui::Color color = theme.textColor();
    switch (trust.verdict) {
    case Verdict::Known:
        mark = "known controller";
        color = theme.connectedColor();
        break;
    case Verdict::New:
        mark = "new controller";
        color = theme.highlightColor();
        break;
    case Verdict::Changed:
        mark = "key changed";
        color = theme.disconnectedColor();
        break;
    case Verdict::NotVerified:
        mark = "not verified";
        color = theme.lostColor();
        break;
    case Verdict::None: break;
    }
    // Until the mouse leaves it, a copied fingerprint says so instead.
    if (copied) {
        mark = "copied";
        color = theme.textColor();
    }
    if (mark == nullptr) return;
    ImGui::SameLine(0.0f, -1.0f);
    ImGui::PushStyleColor(ImGuiCol_Text, toImGui(color));
    ImGui::TextUnformatted(mark);
    ImGui::PopStyleColor();
}

void TopBarView::onButtonClicked() noexcept {
    notStarted_ = false;
    try {
        if (service_->getState() == ConnectionState::Disconnected) {
            connect();
        } else {
            // Cancel while connecting, Disconnect otherwise. Returns at once,
            // also while a call against a stalled controller is in flight;
            // stops the reconnect attempts.
            service_->disconnect();
        }
    } catch (const std::exception& e) {
        // Only a stopped pool refuses the task; nothing is running then.
        notStarted_ = true;
        Logger::log(LogLevel::Error, "failed to connect to PLC: {}", e.what());
    }
}

void TopBarView::connect() {
    const ConnectTarget checked = target();
    if (!checked.valid()) return;
    // The field shows what is connected to, blanks dropped.
    ipAddress_ = checked.host;
    // The service keeps one connect task on the pool: a click while an
    // attempt still runs replaces the request instead of queueing another.
    service_->requestConnect(checked.host, checked.port, [pool = pool_](std::function<void()> task) {
        pool->submit([task = std::move(task)] {
            task();
            // The views see the outcome in the frame this wakes.
            ui::Application::wake();
        });
    });
}

void TopBarView::update() {
    const Theme& theme = Theme::instance();
    const ConnectionStatus status = service_->status();
    if (static_cast<std::uint8_t>(status.state) != lastState_) {
        // Back to the fields after a connection: they hold what it was for.
        if (status.state == ConnectionState::Disconnected && lastState_ != 0xFF && !status.host.empty()) {
            ipAddress_ = status.host;
            port_ = status.port;
        }
        lastState_ = static_cast<std::uint8_t>(status.state);
        switch (status.state) {
        case ConnectionState::Connecting: connectButton_->getText()->setText("Cancel"); break;
        case ConnectionState::Connected:
        case ConnectionState::Lost:
        case ConnectionState::Held: connectButton_->getText()->setText("Disconnect"); break;
        default: connectButton_->getText()->setText("Connect"); break;
        }
    }
    // A controller that keeps a request waiting is said to, long before the
    // request's deadline ends the connection. Timed on the service's clock,
    // which times the wait.
    const SteadyTime serviceNow = service_->now();
    const auto steadyNow = std::chrono::steady_clock::now();
    const std::optional<SteadyTime> waiting =
        status.state == ConnectionState::Connected ? service_->waitingSince() : std::nullopt;
    std::string statusLine;
    ui::Color statusColor = theme.disconnectedColor();
    switch (status.state) {
    case ConnectionState::Connected:
        statusLine = "PLC-Status: CONNECTED";
        statusColor = theme.connectedColor();
        if (waiting) {
            if (const std::string silent = notAnsweringText(*waiting, serviceNow); !silent.empty()) {
                statusLine = "PLC-Status: " + silent;
                statusColor = theme.lostColor();
            }
        }
        break;
    case ConnectionState::Connecting:
        statusLine = "PLC-Status: CONNECTING";
        statusColor = theme.connectingColor();
        break;
    case ConnectionState::Lost:
        statusLine = "PLC-Status: CONNECTION LOST";
        statusColor = theme.lostColor();
        break;
    case ConnectionState::Held: statusLine = "PLC-Status: IDENTITY CHANGED"; break;
    default: statusLine = "PLC-Status: DISCONNECTED"; break;
    }
    if (statusLine != statusText_->getText()) {
        statusText_->setText(std::move(statusLine));
        fitRightGroup(getActualSize().x);
    }
    statusText_->setColor(statusColor);
    // The next second of a wait or of a connect's step needs a frame of its
    // own; the worker wakes the window when a call or a step begins.
    const PlcConnection::ConnectProgress progress = service_->connectProgress();
    const bool attempting =
        progress.step != S7_STEP_NONE &&
        (status.state == ConnectionState::Connecting || (status.state == ConnectionState::Lost && !status.nextAttempt));
    if (const std::optional<SteadyTime> since = waiting      ? waiting
                                                : attempting ? std::optional(progress.since)
                                                             : std::nullopt) {
        ui::Application::wakeAt(steadyNow + (nextNotAnsweringChange(*since, serviceNow) - serviceNow));
    }
    // The second line: the controller type while connected, the next
    // reconnect while lost, a failed connect's outcome; the message bar
    // below says the rest in words. Nothing once disconnected: the last
    // controller's type would pass for a live one's.
    std::string detail = describeConnection(status, steadyNow).detail;
    // While a connect or a reconnect attempt runs: the step it is in.
    if (attempting) detail = connectingText(progress.step, progress.since, serviceNow);
    if (status.state == ConnectionState::Connected) detail = fmt::format("PLC-Type: {}", service_->getPlcType());
    if (status.state == ConnectionState::Held) detail = "Held: not trusted yet";
    if (notStarted_ && status.state == ConnectionState::Disconnected) detail = "Connection failed";
    if (detail != detailText_->getText()) {
        detailText_->setText(std::move(detail));
        fitRightGroup(getActualSize().x);
    }

    std::string title = windowTitle(status, service_->getPlcType());
    if (title != title_ && getWindow() != nullptr) {
        getWindow()->setTitle(title);
        title_ = std::move(title);
    }

    // A cancelled attempt that the cut missed is cut again, until it is over.
    service_->cutAbandoned();
    // The countdown's next second, or the next attempt, needs a frame.
    if (const auto at = nextTimedChange(status, steadyNow)) ui::Application::wakeAt(*at);
    // A due reconnect attempt runs on the pool like a connect; the views
    // see its outcome in the frame it wakes.
    if (service_->reconnectDue()) {
        try {
            pool_->submit([service = service_] {
                service->reconnect();
                ui::Application::wake();
            });
        } catch (const std::exception& e) {
            Logger::log(LogLevel::Warn, "Reconnect not started: {}", e.what());
        }
    }
    // Locked only while there is nothing usable to connect to; Cancel and
    // Disconnect are always there.
    connectButton_->setLocked(status.state == ConnectionState::Disconnected && !target().valid());
    ui::Widget::update();
}

void TopBarView::resized() {
    const ui::Vec2 size = getActualSize();
    background_->setPreferredSize(size);
    mainStack_->setPreferredSize(size);
    fitRightGroup(size.x);
    ui::Widget::resized();
}

}  // namespace vemo

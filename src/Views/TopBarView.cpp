#include "Views/TopBarView.h"

#include <fmt/format.h>
#include <imgui.h>
#include <imgui_stdlib.h>

#include <algorithm>
#include <cfloat>
#include <exception>
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
    // Two rows: address and port, then the write permission.
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

void TopBarView::buildConnectionPanel() {
    const float s = scale_;
    // Both rows in the bar's height.
    ImGui::PushStyleVar(ImGuiStyleVar_ItemSpacing, ImVec2(8.0f * s, 4.0f * s));
    ImGui::BeginDisabled(busy_);
    ImGui::AlignTextToFramePadding();
    ImGui::TextUnformatted("IP:");
    ImGui::SameLine(28.0f * s);
    ImGui::SetNextItemWidth(160.0f * s);
    ImGui::InputText("##IP", &ipAddress_);
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
    if (ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled)) {
        ImGui::SetTooltip("%s", recent_.empty() ? "No recent controllers yet" : "Recent controllers");
    }
    ImGui::SameLine(220.0f * s);
    ImGui::TextUnformatted("Port:");
    ImGui::SameLine(264.0f * s);
    ImGui::SetNextItemWidth(120.0f * s);
    // Not range-checked: the connect uses the low 16 bits.
    ImGui::InputInt("##Port", &port_, 1, 100);
    ImGui::EndDisabled();

    // Writing is the operator's decision for one connection: the service
    // turns it off at every connect.
    const bool connected = service_->getState() == ConnectionState::Connected;
    bool allowed = service_->writesAllowed();
    ImGui::BeginDisabled(!connected);
    if (ImGui::Checkbox("Allow writing", &allowed)) service_->allowWrites(allowed);
    ImGui::EndDisabled();
    if (ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled)) {
        ImGui::SetTooltip("While on, the inspector's Modify column writes values to this controller.\n"
                          "Off again at every connect.");
    }
    ImGui::PopStyleVar();
}

void TopBarView::onButtonClicked() noexcept {
    try {
        const ConnectionState state = service_->getState();
        if (state == ConnectionState::Connected || state == ConnectionState::Lost) {
            // Returns at once, also while a call against a stalled
            // controller is in flight; stops the reconnect attempts.
            service_->disconnect();
        } else {
            connect();
        }
    } catch (const std::exception& e) {
        // Only a stopped pool refuses the task; nothing is running then.
        busy_ = false;
        detailText_->setText("Connection failed");
        Logger::log(LogLevel::Error, "failed to connect to PLC: {}", e.what());
    }
}

void TopBarView::connect() {
    busy_ = true;
    // The address and port are copied here on the UI thread, so the worker
    // never reads the strings the ImGui panel edits.
    pool_->submit([this, service = service_, host = ipAddress_, port = static_cast<std::uint16_t>(port_)] {
        // The service logs the outcome and keeps the failure for the views.
        try {
            service->connect(host, port);
        } catch (const std::exception& e) {
            Logger::log(LogLevel::Error, "failed to connect to PLC: {}", e.what());
        }
        // The view lives until the pool has stopped; the posted callable is
        // dropped unrun if the application goes away first.
        ui::Application::dispatchToMainThread([this] { busy_ = false; });
    });
}

void TopBarView::update() {
    const Theme& theme = Theme::instance();
    const ConnectionStatus status = service_->status();
    if (static_cast<std::uint8_t>(status.state) != lastState_) {
        lastState_ = static_cast<std::uint8_t>(status.state);
        switch (status.state) {
        case ConnectionState::Connected:
            statusText_->setText("PLC-Status: CONNECTED");
            statusText_->setColor(theme.connectedColor());
            connectButton_->getText()->setText("Disconnect");
            break;
        case ConnectionState::Connecting:
            statusText_->setText("PLC-Status: CONNECTING");
            statusText_->setColor(theme.connectingColor());
            connectButton_->getText()->setText("Connect");
            break;
        case ConnectionState::Lost:
            statusText_->setText("PLC-Status: CONNECTION LOST");
            statusText_->setColor(theme.lostColor());
            connectButton_->getText()->setText("Disconnect");
            break;
        default:
            statusText_->setText("PLC-Status: DISCONNECTED");
            statusText_->setColor(theme.disconnectedColor());
            connectButton_->getText()->setText("Connect");
            break;
        }
    }
    // The second line: the controller type while connected, the next
    // reconnect while lost, a failed connect's outcome; the message bar
    // below says the rest in words.
    std::string detail = describeConnection(status, std::chrono::steady_clock::now()).detail;
    if (status.state == ConnectionState::Connected) detail = fmt::format("PLC-Type: {}", service_->getPlcType());
    // Nothing to say (a plain disconnect): the last text stays, the last
    // controller's type among them.
    if (!detail.empty() && detail != detailText_->getText()) {
        detailText_->setText(std::move(detail));
        fitRightGroup(getActualSize().x);
    }
    // A due reconnect attempt runs on the pool like a connect.
    if (service_->reconnectDue()) {
        try {
            pool_->submit([service = service_] { service->reconnect(); });
        } catch (const std::exception& e) {
            Logger::log(LogLevel::Warn, "Reconnect not started: {}", e.what());
        }
    }
    // Not locked while connecting: a second press queues a second connect.
    connectButton_->setLocked(ipAddress_.empty());
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

#include "Views/TopBarView.h"

#include <fmt/format.h>
#include <imgui.h>
#include <imgui_stdlib.h>

#include <exception>

#include "AppTextures.h"
#include "Theme.h"
#include "Views/DefaultButton.h"
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

    // Left: logo, address panel, button.
    auto* left = new ui::Stack(mainStack_);
    left->setOrientation(kLeftToRight);
    left->setAlignment(kAlignCenter);
    left->setDistribution(kDistributeStart);
    left->setSpacing(32.0f);

    auto* logo = new ui::Rectangle(left);
    logo->setPosition({0.0f, 0.0f});
    logo->setPreferredSize({64.0f, 64.0f});
    logo->setTexture(AppTextures::getSvg("icons/vemo.svg", 256, 256));
    logo->setColor(ui::Color(0xFF000000u));

    auto* panel = new ui::ImGuiPanel(left);
    panel->setPosition({0.0f, 0.0f});
    // Two rows: address and port, then the write permission.
    panel->setPreferredSize({384.0f, 50.0f});
    theme.applyImGuiStyle(panel->getImGuiContext());
    panel->setDefaultFont(theme.defaultFont(), theme.fontSize() * theme.imguiFontScale());
    panel->setBuildImGuiFunction([this] { buildConnectionPanel(); });

    connectButton_ = new DefaultButton(left, 0.0f, 0.0f, 140.0f, theme.buttonHeight());
    connectButton_->getText()->setText("Connect");
    connectButton_->setOnClick([this] { onButtonClicked(); });

    // Right: status and controller type, maker and version.
    auto* right = new ui::Stack(mainStack_);
    right->setOrientation(kLeftToRight);
    right->setAlignment(kAlignStretch);
    right->setDistribution(kDistributeEnd);
    right->setSpacing(32.0f);
    right->setMinSize({482.0f, 50.0f});
    right->setMaxSize({482.0f, 50.0f});

    auto* status = new ui::Stack(right);
    status->setPosition({0.0f, 0.0f});
    status->setPreferredSize({300.0f, 50.0f});
    status->setOrientation(kTopToBottom);
    status->setAlignment(kAlignStart);
    status->setDistribution(kDistributeEvenly);
    status->setPadding({8.0f, 8.0f, 8.0f, 8.0f});
    // The status line gets its colour together with its text in update().
    statusText_ = makeText(status, theme);
    detailText_ = makeText(status, theme);

    auto* maker = new ui::Stack(right);
    maker->setPosition({0.0f, 0.0f});
    maker->setPreferredSize({150.0f, 50.0f});
    maker->setOrientation(kTopToBottom);
    maker->setAlignment(kAlignStart);
    maker->setDistribution(kDistributeEvenly);
    makeText(maker, theme, "VEMO Software GmbH");
    makeText(maker, theme, fmt::format("Version: {}", VEMO_VERSION));
}

void TopBarView::buildConnectionPanel() {
    ImGui::BeginDisabled(busy_);
    ImGui::TextUnformatted("IP:");
    ImGui::SameLine(28.0f);
    ImGui::SetNextItemWidth(160.0f);
    ImGui::InputText("##IP", &ipAddress_);
    ImGui::SameLine(220.0f);
    ImGui::TextUnformatted("Port:");
    ImGui::SameLine(264.0f);
    ImGui::SetNextItemWidth(120.0f);
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
    if (!detail.empty() && detail != detailText_->getText()) detailText_->setText(std::move(detail));
    // The countdown's next second, or the next attempt, needs a frame.
    if (const auto at = nextTimedChange(status, std::chrono::steady_clock::now())) ui::Application::wakeAt(*at);
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
    // Not locked while connecting: a second press queues a second connect.
    connectButton_->setLocked(ipAddress_.empty());
    ui::Widget::update();
}

bool TopBarView::animating() const { return busy_ && service_->getState() != ConnectionState::Connecting; }

void TopBarView::resized() {
    const ui::Vec2 size = getActualSize();
    background_->setPreferredSize(size);
    mainStack_->setPreferredSize(size);
    ui::Widget::resized();
}

}  // namespace vemo

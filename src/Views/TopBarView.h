// The strip across the top of the main window. Left: the logo, the
// controller's IP address and port and, below them, the switch that allows
// writing values on this connection (an ImGui panel), and the Connect /
// Disconnect button. Right: the connection status, the controller type or
// "Connection failed", the maker's name and the program version.
//
// Connecting runs on the thread pool through the connection service;
// disconnecting happens at once on the UI thread. The view learns the
// outcome only by polling the service's state every frame.
//
// An arrow beside the address opens the list of recent controllers; picking
// one fills in its address and port. In a narrow window the maker's name
// and the version give way first, then the status column narrows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vemo/core/Settings.h"

#include "vemo/ui/Widget.h"

namespace vemo {

namespace ui {
class ImGuiPanel;
class Rectangle;
class Stack;
class TextElement;
}  // namespace ui

class DefaultButton;
class Overlay;
class PlcConnection;
class ThreadPool;

class TopBarView : public ui::Widget {
public:
    static constexpr std::uint16_t kDefaultPort = 102;

    // Works with the process-wide connection service and thread pool.
    explicit TopBarView(ui::Widget* parent);
    // Works with the given service and pool, which must outlive the view and
    // every task it queued (stop the pool before destroying the view).
    TopBarView(ui::Widget* parent, PlcConnection& service, ThreadPool& pool);

    void update() override;
    void resized() override;

    // The address and port fields.
    ControllerAddress address() const;
    void setAddress(const ControllerAddress& address);
    // What the arrow beside the address offers, the latest first.
    void setRecentControllers(std::vector<ControllerAddress> recent) { recent_ = std::move(recent); }
    // Opens the list of recent controllers under the address field.
    void showRecentControllers();
    bool recentControllersShown() const;

    // Every size times the UI scale; the bar is kHeight * scale high.
    void setScale(float scale);
    float scale() const { return scale_; }

    // The button's click: connect unless connected, else disconnect.
    void onButtonClicked() noexcept;

    static constexpr float kHeight = 50.0f;

private:
    void buildConnectionPanel();
    bool buildRecentList();
    // The right-hand group's width for the bar's width: status column, then
    // maker column as far as they fit beside the left-hand group.
    void fitRightGroup(float width);
    // Marks the view busy and queues the connect task.
    void connect();

    PlcConnection* service_;
    ui::Rectangle* background_ = nullptr;
    ui::Stack* mainStack_ = nullptr;
    ui::Stack* left_ = nullptr;
    ui::Rectangle* logo_ = nullptr;
    ui::ImGuiPanel* panel_ = nullptr;
    ui::Stack* right_ = nullptr;
    ui::Stack* statusColumn_ = nullptr;
    ui::Stack* makerColumn_ = nullptr;
    Overlay* overlay_ = nullptr;
    std::vector<ControllerAddress> recent_;
    // Where the list of recent controllers opens: under the address field,
    // in window coordinates.
    ui::Vec2 recentAt_;
    float recentWidth_ = 0.0f;
    bool openRecent_ = false;
    float scale_ = 1.0f;
    std::string ipAddress_;
    int port_ = kDefaultPort;
    // The ConnectionState last shown; 0xFF matches none, so the first frame
    // writes every text.
    std::uint8_t lastState_ = 0xFF;
    // A connect task is queued or running: the inputs are disabled.
    bool busy_ = false;
    ui::TextElement* detailText_ = nullptr;
    ui::TextElement* statusText_ = nullptr;
    DefaultButton* connectButton_ = nullptr;
    ThreadPool* pool_;
};

}  // namespace vemo

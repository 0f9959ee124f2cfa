// The strip across the top of the main window. Left: the logo, the
// controller's IP address and port and, below them, the switch that allows
// writing values on this connection and the controller's key fingerprint
// (an ImGui panel), and the Connect / Cancel / Disconnect button. Right: the
// connection status, the controller type or "Connection failed", the
// maker's name and the program version.
//
// The address is taken without the blanks around it and the port only from
// 1 to 65535; a field that cannot be used says why below the fields and
// Connect stays locked. Enter in either field connects. While a connection
// is wanted (connecting, connected, lost or held) the fields are read-only
// and show the address and port it is for. The window title names the
// connected controller's type and address.
//
// Connecting runs on the thread pool through the connection service, which
// keeps one connect task at a time there; Cancel, like Disconnect, takes
// effect at once on the UI thread. The view learns the outcome only by
// polling the service's state every frame.
//
// An arrow beside the address opens the list of recent controllers; picking
// one fills in its address and port. In a narrow window the maker's name
// and the version give way first, then the status column narrows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
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
struct ConnectionStatus;

// What the operator typed into the address and port fields, checked.
struct ConnectTarget {
    std::string host;  // the address without the blanks around it
    std::uint16_t port = 0;
    // Why a field cannot be used, in a few words for under the fields;
    // empty when it can (an empty address has no problem, it is only not
    // there yet).
    std::string addressProblem;
    std::string portProblem;

    bool valid() const { return !host.empty() && addressProblem.empty() && portProblem.empty(); }
};
ConnectTarget checkTarget(std::string_view address, int port);

// "VEMO S7 Browser", and while a connection stands (or is being got back)
// "VEMO S7 Browser - CPU 1516-3 PN/DP at 192.168.0.1:102".
std::string windowTitle(const ConnectionStatus& status, const std::string& plcType);

// The start of a fingerprint's text, enough to tell keys apart at a glance:
// "SHA256:UvWQwp7q…".
std::string shortFingerprint(const std::string& fingerprint);

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

    // The button's click: connect while disconnected, cancel the connect
    // while connecting, else disconnect.
    void onButtonClicked() noexcept;

    // What the fields hold, checked.
    ConnectTarget target() const;

    static constexpr float kHeight = 50.0f;

private:
    void buildConnectionPanel();
    void buildSecondRow(const ConnectionStatus& status, const ConnectTarget& target);
    void buildFingerprint(const ConnectionStatus& status);
    bool buildRecentList();
    // The right-hand group's width for the bar's width: status column, then
    // maker column as far as they fit beside the left-hand group.
    void fitRightGroup(float width);
    // Starts a connect to what the fields hold, if that can be used.
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
    std::string title_;
    // The fingerprint last copied to the clipboard, while the mouse stays on it.
    std::string copied_;
    // The last connect could not even be started (a stopped pool).
    bool notStarted_ = false;
    ui::TextElement* detailText_ = nullptr;
    ui::TextElement* statusText_ = nullptr;
    DefaultButton* connectButton_ = nullptr;
    ThreadPool* pool_;
};

}  // namespace vemo

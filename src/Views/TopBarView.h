// The strip across the top of the main window. Left: the logo, the
// controller's IP address and port and, below them, the switch that allows
// writing values on this connection (an ImGui panel), and the Connect /
// Disconnect button. Right: the connection status, the controller type or
// "Connection failed", the maker's name and the program version.
//
// Connecting runs on the thread pool through the connection service;
// disconnecting happens at once on the UI thread. The view learns the
// outcome only by polling the service's state every frame.
#pragma once

#include <cstdint>
#include <string>

#include "vemo/ui/Widget.h"

namespace vemo {

namespace ui {
class Rectangle;
class Stack;
class TextElement;
}  // namespace ui

class DefaultButton;
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
    // A connect is queued but the worker has not started it: the state it
    // sets is polled each frame until it shows.
    bool animating() const override;

    // The button's click: connect unless connected, else disconnect.
    void onButtonClicked() noexcept;

private:
    void buildConnectionPanel();
    // Marks the view busy and queues the connect task.
    void connect();

    PlcConnection* service_;
    ui::Rectangle* background_ = nullptr;
    ui::Stack* mainStack_ = nullptr;
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

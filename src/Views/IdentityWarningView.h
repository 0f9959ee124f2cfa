// The warning that stops a connection whose controller presents another key
// than the one on record for its address (ConnectionState::Held): a modal
// dialog over the whole window that names the address, the key on record
// with when it was first and last seen, and the key presented now. Nothing
// is read from the controller or written to it until the operator answers:
// "Disconnect" ends the connection, "Trust the new key" stores the new key
// in place of the old one, and the connection is used from then on. A key
// that could not be compared at all (the store cannot be read) is held the
// same way, the dialog saying why; "Use it unchecked" goes on without it.
//
// The view lies over everything else in the window and is drawn last; it is
// hidden - no input, no drawing, no cost - while no connection is held, and
// the main window's tick (sync) shows it when one is.
#pragma once

#include <cstdint>

#include "vemo/ui/ImGuiPanel.h"

namespace vemo {

class PlcConnection;
class ThreadPool;

class IdentityWarningView : public ui::ImGuiPanel {
public:
    static constexpr const char* kTitle = "Controller identity changed";

    // Watches `service` and runs the acceptance on `pool`; both must outlive
    // the view.
    IdentityWarningView(ui::Widget* parent, PlcConnection& service, ThreadPool& pool);

    // Once per frame, from the main window's tick: an invisible widget gets
    // no update(), and this one must notice when a connection is held.
    void sync();

    // The warning is up: a connection is held and not answered yet.
    bool isShowing() const { return showing_; }
    // The operator's answer for the held connection: trust the new key, or
    // disconnect.
    void answer(bool trust);

private:
    void build();

    PlcConnection* service_;
    ThreadPool* pool_;
    bool showing_ = false;
    // The held connection already answered; its warning stays down.
    std::uint64_t answered_ = 0;
};

}  // namespace vemo

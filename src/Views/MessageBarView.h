// A strip under the top bar that says, in words, what went wrong with the
// connection and what to check: after a failed connect, and while a lost
// connection is being reconnected. For a few seconds it says instead what
// the views have to tell (where an export went, or why it failed). Hidden
// while there is nothing to say; the main window's stack gives its room
// back to the content then.
#pragma once

#include <chrono>
#include <string>

#include "vemo/ui/Widget.h"

namespace vemo {

namespace ui {
class Rectangle;
class TextElement;
}  // namespace ui

class PlcConnection;

class MessageBarView : public ui::Widget {
public:
    static constexpr float kHeight = 46.0f;
    // How long a notice is shown.
    static constexpr std::chrono::seconds kNoticeTime{8};

    // Reads the state of `service`, which must outlive the view.
    MessageBarView(ui::Widget* parent, PlcConnection& service);

    // Once per frame, from the main window's tick: an invisible widget gets
    // no update(), and this one must notice when it has something to say.
    void sync();
    // Shows a notice from now for kNoticeTime, in place of what the
    // connection has to say; `problem` draws its headline in the colour of
    // a failure.
    void notify(std::string headline, std::string advice, bool problem);
    void resized() override;

    const std::string& headline() const;
    const std::string& advice() const;

private:
    PlcConnection* service_;
    ui::Rectangle* background_ = nullptr;
    ui::TextElement* headline_ = nullptr;
    ui::TextElement* advice_ = nullptr;
    struct Notice {
        std::string headline;
        std::string advice;
        bool problem = false;
        std::chrono::steady_clock::time_point until;
    };
    Notice notice_;
};

}  // namespace vemo

// A strip under the top bar that says, in words, what went wrong with the
// connection and what to check: after a failed connect, and while a lost
// connection is being reconnected. While a connection stands it says what
// the store of known controllers made of the controller: new (its key
// stored now), a changed key (the connection held) or not verified (the
// store cannot be used). Hidden while there is nothing to say; the main
// window's stack gives its room back to the content then.
//
// The views' own news is a notice. News of something done (where an export
// went) shows for kNoticeTime in place of everything else. A problem (a
// settings, watch-list or export file that cannot be read or written)
// stays until a click on the strip or the next notice, behind the
// connection's trouble, which is more urgent.
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
    void resized() override;
    // A click on the strip dismisses the notice.
    bool onMouseButton(const ui::MouseButtonEvent& event) override;

    // Shows a notice, replacing the one shown; an empty headline clears it.
    // `problem` draws its headline in the colour of a failure and keeps it
    // until dismissed.
    void notify(std::string headline, std::string advice, bool problem = true);
    const std::string& noticeHeadline() const { return notice_.headline; }
    // Text and strip sizes times the UI scale.
    void setScale(float scale);
    float height() const { return kHeight * scale_; }

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
        // Until when news is shown; a problem stays.
        std::chrono::steady_clock::time_point until;
    };
    Notice notice_;
    float scale_ = 1.0f;
};

}  // namespace vemo

#include "Views/MessageBarView.h"

#include <utility>

#include "Theme.h"
#include "vemo/core/ConnectionWords.h"
#include "vemo/core/PlcConnection.h"
#include "vemo/ui/Application.h"
#include "vemo/ui/Rectangle.h"
#include "vemo/ui/TextElement.h"

namespace vemo {

namespace {

constexpr float kPadding = 6.0f;

}  // namespace

MessageBarView::MessageBarView(ui::Widget* parent, PlcConnection& service) : ui::Widget(parent), service_(&service) {
    const Theme& theme = Theme::instance();
    background_ = new ui::Rectangle(this);
    background_->setColor(theme.panelColor());
    headline_ = new ui::TextElement(this);
    advice_ = new ui::TextElement(this);
    for (ui::TextElement* text : {headline_, advice_}) {
        text->setFont(theme.defaultFont());
        text->setColor(theme.textColor());
    }
    setScale(1.0f);
    setVisible(false);
}

void MessageBarView::setScale(float scale) {
    scale_ = scale;
    const Theme& theme = Theme::instance();
    headline_->setFontSize(theme.fontSize() * scale);
    advice_->setFontSize(theme.fontSize() * scale);
    headline_->setPosition({kPadding * 2 * scale, kPadding * scale});
    advice_->setPosition({kPadding * 2 * scale, (kPadding + theme.fontSize() + 4.0f) * scale});
}

void MessageBarView::notify(std::string headline, std::string advice, bool problem) {
    if (headline.empty()) {
        notice_ = {};
        return;
    }
    if (problem) advice += " (Click here to close this message.)";
    notice_ = {std::move(headline), std::move(advice), problem, std::chrono::steady_clock::now() + kNoticeTime};
    // News goes by itself: the window needs a frame then.
    if (!problem) ui::Application::wakeAt(notice_.until);
}

bool MessageBarView::onMouseButton(const ui::MouseButtonEvent& event) {
    // Only the notice on show: a connection message stays while it holds.
    if (event.pressed || notice_.headline.empty() || headline_->getText() != notice_.headline) return false;
    notify({}, {});
    return true;
}

void MessageBarView::sync() {
    const Theme& theme = Theme::instance();
    const auto now = std::chrono::steady_clock::now();
    if (!notice_.problem && now >= notice_.until) notice_ = {};
    const ConnectionStatus status = service_->status();
    ConnectionMessage message = describeConnection(status, now);
    ui::Color color = status.state == ConnectionState::Lost ? theme.lostColor() : theme.disconnectedColor();
    // News of something just done first, then the connection's trouble, then
    // a problem not dismissed yet, then what there is to say about who is at
    // the other end.
    const bool news = !notice_.headline.empty() && !notice_.problem;
    if (news || (message.headline.empty() && !notice_.headline.empty())) {
        message.headline = notice_.headline;
        message.advice = notice_.advice;
        color = notice_.problem ? theme.disconnectedColor() : theme.textColor();
    } else if (message.headline.empty()) {
        message = describeTrust(status);
        switch (status.trust.verdict) {
        case ControllerTrust::Verdict::New: color = theme.highlightColor(); break;
        case ControllerTrust::Verdict::NotVerified: color = theme.lostColor(); break;
        default: color = theme.disconnectedColor(); break;
        }
    }
    setVisible(!message.headline.empty());
    if (message.headline != headline_->getText()) headline_->setText(message.headline);
    if (message.advice != advice_->getText()) advice_->setText(message.advice);
    headline_->setColor(color);
}

void MessageBarView::resized() {
    background_->setPreferredSize(getActualSize());
    ui::Widget::resized();
}

const std::string& MessageBarView::headline() const { return headline_->getText(); }

const std::string& MessageBarView::advice() const { return advice_->getText(); }

}  // namespace vemo

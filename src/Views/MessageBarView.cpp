#include "Views/MessageBarView.h"

#include <utility>

#include "Theme.h"
#include "vemo/core/ConnectionWords.h"
#include "vemo/core/PlcConnection.h"
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

void MessageBarView::notify(std::string headline, std::string advice) {
    noticeHeadline_ = std::move(headline);
    noticeAdvice_ = noticeHeadline_.empty() ? std::string() : std::move(advice);
}

bool MessageBarView::onMouseButton(const ui::MouseButtonEvent& event) {
    // Only the notice on show: a connection message stays while it holds.
    if (event.pressed || noticeHeadline_.empty() || headline_->getText() != noticeHeadline_) return false;
    notify({}, {});
    return true;
}

void MessageBarView::sync() {
    const Theme& theme = Theme::instance();
    const ConnectionStatus status = service_->status();
    ConnectionMessage message = describeConnection(status, std::chrono::steady_clock::now());
    ui::Color color = status.state == ConnectionState::Lost ? theme.lostColor() : theme.disconnectedColor();
    // The connection's trouble comes first, then a notice the operator has
    // not dismissed yet, then what there is to say about who is at the
    // other end.
    if (message.headline.empty() && !noticeHeadline_.empty()) {
        message.headline = noticeHeadline_;
        message.advice = noticeAdvice_;
        color = theme.disconnectedColor();
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

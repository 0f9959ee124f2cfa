#include "Views/MessageBarView.h"

#include "Theme.h"
#include "vemo/core/ConnectionWords.h"
#include "vemo/core/PlcConnection.h"
#include "vemo/ui/Rectangle.h"
#include "vemo/ui/TextElement.h"

#include <utility>

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
        text->setFontSize(theme.fontSize());
        text->setColor(theme.textColor());
    }
    headline_->setPosition({kPadding * 2, kPadding});
    advice_->setPosition({kPadding * 2, kPadding + theme.fontSize() + 4.0f});
    setVisible(false);
}

void MessageBarView::sync() {
    const Theme& theme = Theme::instance();
    const auto now = std::chrono::steady_clock::now();
    ConnectionMessage message;
    ui::Color color = theme.disconnectedColor();
    if (!notice_.headline.empty() && now < notice_.until) {
        message.headline = notice_.headline;
        message.advice = notice_.advice;
        if (!notice_.problem) color = theme.textColor();
    } else {
        notice_ = {};
        const ConnectionStatus status = service_->status();
        message = describeConnection(status, now);
        if (status.state == ConnectionState::Lost) color = theme.lostColor();
    }
    setVisible(!message.headline.empty());
    if (message.headline != headline_->getText()) headline_->setText(message.headline);
    if (message.advice != advice_->getText()) advice_->setText(message.advice);
    headline_->setColor(color);
}

void MessageBarView::notify(std::string headline, std::string advice, bool problem) {
    notice_ = {std::move(headline), std::move(advice), problem, std::chrono::steady_clock::now() + kNoticeTime};
}

void MessageBarView::resized() {
    background_->setPreferredSize(getActualSize());
    ui::Widget::resized();
}

const std::string& MessageBarView::headline() const { return headline_->getText(); }

const std::string& MessageBarView::advice() const { return advice_->getText(); }

}  // namespace vemo

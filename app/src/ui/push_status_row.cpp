#include <brisalune/app/ui/push_status_row.hpp>

#include <brisalune/app/ui/notices.hpp>
#include <brisalune/app/ui/ui_kit.hpp>
#include <brisalune/push/push_host.hpp>

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace brisalune {

using ui::Font;
using ui::Tone;

PushStatusRow::PushStatusRow(PushState& push, const MenuEnvironment& environment, QWidget* parent)
    : QWidget(parent)
    , push_(push)
    , environment_(environment)
    , message_(ui::text(QString(), QStringLiteral("push.message"), Font::callout, Tone::secondary, true))
    , on_(new QWidget)
    , onText_(ui::text(onText, QStringLiteral("push.on.text"), Font::callout, Tone::secondary, true))
    , settings_(ui::button(QStringLiteral("Open Notification Settings\u2026"), QStringLiteral("push.openSettings")))
    , turnOn_(ui::button(QStringLiteral("Turn on notifications"), QStringLiteral("push.turnOn"))) {
    setObjectName(QStringLiteral("push"));
    auto* layout = ui::stack(this, 4);
    on_->setObjectName(QStringLiteral("push.on"));
    auto* onLine = new QHBoxLayout(on_);
    onLine->setContentsMargins(0, 0, 0, 0);
    onLine->setSpacing(6);
    onLine->addWidget(ui::symbol(ui::Symbol::bell, QStringLiteral("push.on.symbol"), 14), 0, Qt::AlignTop);
    onLine->addWidget(onText_, 1);
    ui::setFont(settings_, Font::callout);
    ui::setFont(turnOn_, Font::callout);
    layout->addWidget(message_);
    layout->addWidget(on_);
    ui::addLeading(layout, settings_);
    ui::addLeading(layout, turnOn_);

    connect(turnOn_, &QPushButton::clicked, this, [this] { push_.requestPermission(); });
    connect(settings_, &QPushButton::clicked, this, [this] { environment_.openNotificationSettings(); });
    for (auto changed :
         {&PushState::authorizationChanged,
          &PushState::isRequestingAuthorizationChanged,
          &PushState::requestFailedChanged,
          &PushState::registrationErrorChanged,
          &PushState::deviceRegistrationErrorChanged,
          &PushState::deviceTokenHexChanged,
          &PushState::notificationCenterChanged}) {
        connect(&push_, changed, this, &PushStatusRow::follow);
    }
    follow();
}

void PushStatusRow::follow() {
    enum class Shows { message, on, messageAndSettings, turnOn };
    Shows shows = Shows::message;
    Font font = Font::callout;
    Tone tone = Tone::secondary;
    QString message;
    QString onLine = qText(onText);

    const AuthorizationStatus status = push_.authorization();
    const std::optional<std::string>& registrationError =
        push_.registrationError() ? push_.registrationError() : push_.deviceRegistrationError();
    const std::shared_ptr<PushNotificationCenter>& center = push_.notificationCenter();
    if (status == AuthorizationStatus::denied && center && center->deniesOnlyWithoutService()) {
        message = qText(noServiceText);
    } else if (status == AuthorizationStatus::denied) {
        shows = Shows::messageAndSettings;
        message = qText(deniedText);
    } else if (status == AuthorizationStatus::notDetermined) {
        if (push_.isRequestingAuthorization()) {
            message = qText(requestingText);
        } else if (push_.requestFailed()) {
            shows = Shows::messageAndSettings;
            tone = Tone::red;
            message = qText(requestFailedText);
        } else {
            shows = Shows::turnOn;
        }
    } else if (registrationError == DesktopPushHost::unavailableText) {
        // Not a failure: there is nothing to register with, and the app notifies by itself.
        shows = Shows::on;
        onLine = qText(localText);
    } else if (registrationError) {
        font = Font::caption;
        tone = Tone::red;
        message = qText(notRegisteredPrefix) + ui::lines(qText(*registrationError));
    } else if (push_.deviceTokenHex()) {
        shows = Shows::on;
    } else {
        message = qText(registeringText);
    }

    message_->setText(message);
    ui::setFont(message_, font);
    ui::setTone(message_, tone);
    onText_->setText(onLine);
    message_->setVisible(shows == Shows::message || shows == Shows::messageAndSettings);
    settings_->setVisible(shows == Shows::messageAndSettings && environment_.hasNotificationSettings());
    turnOn_->setVisible(shows == Shows::turnOn);
    on_->setVisible(shows == Shows::on);
}

}  // namespace brisalune

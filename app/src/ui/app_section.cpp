#include <brisalune/app/ui/app_section.hpp>

#include <brisalune/app/ui/notices.hpp>
#include <brisalune/app/ui/ui_kit.hpp>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace brisalune {

using ui::Font;
using ui::Tone;

AppSection::AppSection(const MenuEnvironment& environment, QWidget* parent)
    : QWidget(parent)
    , environment_(environment)
    , launchSwitch_(new QCheckBox(QStringLiteral("Launch at login")))
    , launchError_(ui::text(QString(), QStringLiteral("app.launchAtLogin.error"), Font::caption, Tone::red, true))
    , updatesOff_(ui::text(
          QStringLiteral("Update checks are off in this build."),
          QStringLiteral("app.updatesOff"),
          Font::caption,
          Tone::secondary))
    , check_(ui::button(QStringLiteral("Check for Updates\u2026"), QStringLiteral("app.checkForUpdates")))
    , checkResult_(ui::text(QString(), QStringLiteral("app.checkResult"), Font::caption, Tone::secondary, true)) {
    setObjectName(QStringLiteral("app"));
    launchSwitch_->setObjectName(QStringLiteral("app.launchAtLogin"));
    QLabel* version = ui::text(
        QStringLiteral("Version %1 (%2)").arg(qText(environment_.versionName)).arg(environment_.versionCode),
        QStringLiteral("app.version"),
        Font::caption,
        Tone::secondary);
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPushButton* quit = ui::button(QStringLiteral("Quit Brisalune"), QStringLiteral("app.quit"));

    auto* layout = ui::stack(this, 6);
    ui::addLeading(layout, launchSwitch_);
    layout->addWidget(launchError_);
    layout->addWidget(version);
    layout->addWidget(updatesOff_);
    ui::addLeading(layout, check_);
    layout->addWidget(checkResult_);
    ui::addLeading(layout, quit);
    launchError_->hide();

    // Follows the user's clicks only: what the switch shows afterwards is the object's read-back.
    connect(launchSwitch_, &QCheckBox::clicked, this, [this](bool on) {
        if (launchAtLogin_) launchAtLogin_->setEnabled(on);
        followLaunchAtLogin();
    });
    connect(check_, &QPushButton::clicked, this, [this] { environment_.updates.checkNow(); });
    connect(quit, &QPushButton::clicked, this, [this] { environment_.quit(); });
    connect(&environment_.updates, &SiteUpdates::isCheckingChanged, this, &AppSection::followUpdates);
    connect(&environment_.updates, &SiteUpdates::manualResultChanged, this, &AppSection::followUpdates);
    followUpdates();
}

AppSection::~AppSection() = default;

void AppSection::showEvent(QShowEvent* event) {
    if (!launchAtLogin_) {
        launchAtLogin_ = environment_.makeLaunchAtLogin();
        connect(launchAtLogin_.get(), &LaunchAtLogin::isEnabledChanged, this, &AppSection::followLaunchAtLogin);
        connect(launchAtLogin_.get(), &LaunchAtLogin::errorChanged, this, &AppSection::followLaunchAtLogin);
        followLaunchAtLogin();
    }
    QWidget::showEvent(event);
}

void AppSection::followLaunchAtLogin() {
    if (!launchAtLogin_) return;
    launchSwitch_->setChecked(launchAtLogin_->isEnabled());
    const std::optional<std::string>& error = launchAtLogin_->error();
    launchError_->setText(error ? ui::lines(qText(*error)) : QString());
    launchError_->setVisible(error.has_value());
}

void AppSection::followUpdates() {
    const SiteUpdates& updates = environment_.updates;
    const bool canCheck = updates.manifestURL().has_value();
    updatesOff_->setVisible(!canCheck);
    check_->setVisible(canCheck);
    ui::setTitle(
        check_,
        updates.isChecking() ? QStringLiteral("Checking for Updates\u2026")
                             : QStringLiteral("Check for Updates\u2026"));
    check_->setEnabled(!updates.isChecking());

    QString result;
    Tone tone = Tone::secondary;
    if (updates.manualResult() == SiteUpdates::ManualResult::upToDate) {
        result = QStringLiteral("You're up to date.");
    } else if (updates.manualResult() == SiteUpdates::ManualResult::failed) {
        result = QStringLiteral("Couldn't reach ") + qText(MenuEnvironment::publicWebDomain()) +
                 QStringLiteral(" to check for updates.");
        tone = Tone::red;
    }
    checkResult_->setText(result);
    ui::setTone(checkResult_, tone);
    checkResult_->setVisible(canCheck && !result.isEmpty());
}

}  // namespace brisalune

#include <brisalune/app/ui/compatibility_rows.hpp>

#include <brisalune/app/model/mac_model.hpp>
#include <brisalune/app/ui/ui_kit.hpp>

#include <QCoreApplication>
#include <QCoroTask>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace brisalune {

namespace {

using ui::Font;
using ui::Tone;

// The shared shape of the two rows: symbol, message, spacer, buttons, dismiss; below them what
// the settings file could not take; then a divider.
QHBoxLayout* rowShape(QWidget* row, QLabel* unwritten, ui::Symbol symbol, std::string_view message) {
    auto* outer = ui::stack(row, 10);
    auto* line = new QHBoxLayout;
    line->setSpacing(8);
    outer->addLayout(line);
    outer->addWidget(unwritten);
    outer->addWidget(ui::divider(row->objectName() + QStringLiteral(".divider")));
    line->addWidget(ui::symbol(symbol, row->objectName() + QStringLiteral(".symbol")), 0, Qt::AlignVCenter);
    line->addWidget(
        ui::text(message, row->objectName() + QStringLiteral(".message"), Font::callout, Tone::primary, true),
        1,
        Qt::AlignVCenter);
    return line;
}

// The shared shape of the two sections: title, then the message.
QVBoxLayout* sectionShape(QWidget* section, std::string_view title, std::string_view message) {
    auto* layout = ui::stack(section, 6);
    layout->addWidget(ui::text(title, section->objectName() + QStringLiteral(".title"), Font::headline));
    layout->addWidget(
        ui::text(message, section->objectName() + QStringLiteral(".message"), Font::body, Tone::secondary, true));
    return layout;
}

// A start that this version was refused at never read the account: its teams come first, as
// at any start, or the team row stays empty until the next full refresh.
QCoro::Task<> retryAfterRefusal(MacModel& model) {
    if (!model.membershipsKnown()) co_await model.refreshAccount();
    co_await model.refreshAlerts();
}

}  // namespace

platform::Url updateDestination(const SiteUpdates& updates) {
    if (updates.offer() && updates.manifestURL()) {
        if (auto download = updates.offer()->downloadURL(*updates.manifestURL())) return *download;
    }
    return MenuEnvironment::updateFallbackURL();
}

CompatibilityWatch::CompatibilityWatch(ClientCompatibilityModel& compatibility, QObject* parent) : QObject(parent) {
    const std::weak_ptr<int> alive = alive_;
    subscription_ = compatibility.subscribe([alive, this] {
        // Hops to the main thread; the watch may be gone by then, which only the main thread knows.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [alive, this] {
                if (alive.lock()) Q_EMIT changed();
            },
            Qt::QueuedConnection);
    });
}

DismissableRow::DismissableRow(const QString& name, QWidget* parent)
    : QWidget(parent)
    , unwritten_(ui::text(
          QStringLiteral("Brisalune's settings file could not be written, so this notice will show again when "
                         "Brisalune restarts."),
          name + QStringLiteral(".unwritten"),
          Font::caption,
          Tone::red,
          true)) {
    // The rows' and sections' identifiers are their object names: a screen reader reads a
    // name aloud, and theirs are their texts.
    setObjectName(name);
    unwritten_->hide();
}

void DismissableRow::setVisible(bool visible) {
    wanted_ = visible;
    QWidget::setVisible(visible || !unwritten_->isHidden());
}

void DismissableRow::dismissed(bool written) {
    unwritten_->setVisible(!written);
    QWidget::setVisible(wanted_ || !written);
}

void DismissableRow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // Its window closed: the person has read it, and the dismissal holds until quit.
    if (!event->spontaneous() && !unwritten_->isHidden()) dismissed(true);
}

CompatibilityNudgeRow::CompatibilityNudgeRow(const MenuEnvironment& environment, QWidget* parent)
    : DismissableRow(QStringLiteral("update-nudge"), parent) {
    QHBoxLayout* line =
        rowShape(this, unwritten(), ui::Symbol::exclamationArrowCirclepath, UpdateCopy::updateAvailable);
    QPushButton* update = ui::button(UpdateCopy::updateButton, QStringLiteral("update-nudge.update"));
    QToolButton* dismiss = ui::dismissButton(QStringLiteral("update-nudge.dismiss"));
    line->addWidget(update, 0, Qt::AlignVCenter);
    line->addWidget(dismiss, 0, Qt::AlignVCenter);
    connect(update, &QPushButton::clicked, this, [&environment] {
        environment.openURL(updateDestination(environment.updates));
    });
    connect(dismiss, &QToolButton::clicked, this, [this, &environment] {
        dismissed(environment.compatibility.dismissNudge());
    });
}

ServerBannerRow::ServerBannerRow(const MenuEnvironment& environment, QWidget* parent)
    : DismissableRow(QStringLiteral("server-update-nudge"), parent) {
    QHBoxLayout* line = rowShape(this, unwritten(), ui::Symbol::serverRack, UpdateCopy::serverOlderBanner);
    QToolButton* dismiss = ui::dismissButton(QStringLiteral("server-update-nudge.dismiss"));
    line->addWidget(dismiss, 0, Qt::AlignVCenter);
    connect(dismiss, &QToolButton::clicked, this, [this, &environment] {
        if (host_) dismissed(environment.compatibility.dismissServerBanner(*host_));
    });
}

UpdateRequiredSection::UpdateRequiredSection(const MenuEnvironment& environment, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("update-required"));
    QVBoxLayout* layout = sectionShape(this, UpdateCopy::clientOutdatedTitle, UpdateCopy::clientOutdatedMessage);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    QPushButton* update = ui::button(UpdateCopy::updateButton, QStringLiteral("update-required.update"));
    QPushButton* tryAgain = ui::button(QStringLiteral("Try again"), QStringLiteral("update-required.tryAgain"));
    buttons->addWidget(update, 0, Qt::AlignVCenter);
    buttons->addWidget(tryAgain, 0, Qt::AlignVCenter);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    ui::bindWindowDefaultAction(this, update);
    connect(update, &QPushButton::clicked, this, [&environment] {
        environment.openURL(updateDestination(environment.updates));
    });
    connect(tryAgain, &QPushButton::clicked, this, [&environment] {
        environment.compatibility.clearClientOutdated();
        retryAfterRefusal(environment.model);
    });
}

ServerOutdatedSection::ServerOutdatedSection(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("server-update-required"));
    sectionShape(this, UpdateCopy::serverOutdatedTitle, UpdateCopy::serverOutdatedMessage);
}

}  // namespace brisalune

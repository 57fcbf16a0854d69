#include <brisalune/app/ui/alerts_section.hpp>

#include <brisalune/app/ui/notices.hpp>
#include <brisalune/app/ui/tenant_selections.hpp>
#include <brisalune/app/ui/ui_kit.hpp>

#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QStyleOption>
#include <QVBoxLayout>

#include <algorithm>

namespace brisalune {

using ui::Font;
using ui::Tone;


void MenuNotice::set(std::optional<std::string> text) {
    if (text_ == text) return;
    text_ = std::move(text);
    Q_EMIT changed();
}

AlertRow::AlertRow(const AlertSnapshot& alert, QWidget* parent) : QAbstractButton(parent) {
    setObjectName(QStringLiteral("alerts.row.") + qText(alert.id));
    const QString title = ui::shownName(alert.rule, alert.id);
    setAccessibleName(title);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setSpacing(1);
    QLabel* rule = ui::elidedText(title, QStringLiteral("alerts.row.rule"));
    QLabel* detail = ui::text(
        QStringLiteral("%1 \u00b7 %2").arg(ui::oneLine(qText(alert.project)), ui::oneLine(qText(alert.state))),
        QStringLiteral("alerts.row.detail"),
        Font::caption,
        Tone::secondary,
        true);
    for (QLabel* label : {rule, detail}) {
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        layout->addWidget(label);
    }
    setAccessibleDescription(detail->text());
    followEnabled();
}

void AlertRow::followEnabled() {
    // A label's tone holds in every colour group: a row that cannot be opened greys its title itself.
    setCursor(isEnabled() ? Qt::PointingHandCursor : Qt::ArrowCursor);
    if (auto* rule = findChild<QLabel*>(QStringLiteral("alerts.row.rule")))
        ui::setTone(rule, isEnabled() ? Tone::primary : Tone::secondary);
}

void AlertRow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) followEnabled();
    QAbstractButton::changeEvent(event);
}

bool AlertRow::event(QEvent* event) {
    // A title cut short reads whole on hover; the labels leave the pointer to the row.
    if (event->type() == QEvent::ToolTip) {
        const auto* rule = findChild<QLabel*>(QStringLiteral("alerts.row.rule"));
        setToolTip(rule ? rule->toolTip() : QString());
    }
    return QAbstractButton::event(event);
}

void AlertRow::keyPressEvent(QKeyEvent* event) {
    // A row opens its alert with Return, as a menu's item does, and with Space, as a button does.
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (isReturn && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void AlertRow::paintEvent(QPaintEvent*) {
    // Plain: no chrome, a faint highlight under the pointer or the keyboard focus; the focus is
    // framed too, as the pointer may rest on another row.
    if (!underMouse() && !hasFocus()) return;
    QPainter painter(this);
    QColor highlight = palette().color(QPalette::Highlight);
    highlight.setAlpha(40);
    painter.fillRect(rect(), highlight);
    if (!hasFocus()) return;
    QStyleOptionFocusRect frame;
    frame.initFrom(this);
    frame.backgroundColor = palette().color(QPalette::Window);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, &painter, this);
}

AlertsSection::AlertsSection(const MenuEnvironment& environment, MenuNotice& notice, QWidget* parent)
    : QWidget(parent)
    , environment_(environment)
    , model_(environment.model)
    , notice_(notice)
    , teamName_(ui::text(QString(), QStringLiteral("alerts.teamName"), Font::headline, Tone::primary, true))
    , picker_(new QWidget)
    , teams_(ui::choices(QStringLiteral("alerts.teamPicker")))
    , boxBody_(new QWidget)
    , alertsBody_(new QWidget)
    , count_(ui::text(QString(), QStringLiteral("alerts.count")))
    , rows_(new QWidget)
    , rowsLayout_(ui::stack(rows_, 6))
    , error_(ui::text(QString(), QStringLiteral("alerts.error"), Font::caption, Tone::red, true))
    , noticeLine_(ui::text(QString(), QStringLiteral("alerts.notice"), Font::caption, Tone::secondary, true)) {
    setObjectName(QStringLiteral("alerts"));
    auto* layout = ui::stack(this, 6);

    picker_->setObjectName(QStringLiteral("alerts.picker"));
    auto* pickerLine = new QHBoxLayout(picker_);
    pickerLine->setContentsMargins(0, 0, 0, 0);
    pickerLine->setSpacing(8);
    QLabel* pickerLabel =
        ui::text(QStringLiteral("Show alerts for"), QStringLiteral("alerts.picker.label"), Font::headline);
    // A screen reader names a drop-down list by the label it is the buddy of.
    pickerLabel->setBuddy(teams_);
    pickerLine->addWidget(pickerLabel);
    teams_->setAccessibleName(QStringLiteral("Show alerts for"));
    teams_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    teams_->setMinimumContentsLength(8);
    ui::setFont(teams_, Font::headline);
    pickerLine->addWidget(teams_, 1);
    layout->addWidget(teamName_);
    layout->addWidget(picker_);

    boxBody_->setObjectName(QStringLiteral("alerts.box"));
    auto* boxLayout = ui::stack(boxBody_, 6);
    boxLayout->addWidget(ui::text(
        QStringLiteral("This team's data lives on its own box."),
        QStringLiteral("alerts.box.note"),
        Font::body,
        Tone::secondary,
        true));
    QPushButton* boxSignIn =
        ui::button(QStringLiteral("Sign in to this box\u2026"), QStringLiteral("alerts.box.signIn"));
    ui::addLeading(boxLayout, boxSignIn);
    layout->addWidget(boxBody_);

    alertsBody_->setObjectName(QStringLiteral("alerts.list"));
    auto* alertsLayout = ui::stack(alertsBody_, 6);
    rows_->setObjectName(QStringLiteral("alerts.rows"));
    QPushButton* openPortal = ui::button(QStringLiteral("Open portal"), QStringLiteral("alerts.openPortal"));
    alertsLayout->addWidget(count_);
    alertsLayout->addWidget(rows_);
    ui::addLeading(alertsLayout, openPortal);
    layout->addWidget(alertsBody_);
    layout->addWidget(error_);
    layout->addWidget(noticeLine_);

    connect(boxSignIn, &QPushButton::clicked, this, [this] { ui::showWindow(this, WindowPresenter::Kind::box); });
    connect(openPortal, &QPushButton::clicked, this, &AlertsSection::openPortal);
    connect(teams_, &QComboBox::activated, this, [this](int index) {
        const std::string chosen = teams_->itemData(index).toString().toStdString();
        TenantSelections::of(model_).select(chosen);
        // The picker shows the session's team until the model has switched.
        followTeams();
    });
    connect(&model_, &MacModel::sessionChanged, this, [this] {
        followTeams();
        followBody();
    });
    connect(&model_, &MacModel::membershipsChanged, this, [this] {
        followTeams();
        followBody();
    });
    connect(&model_, &MacModel::openAlertsChanged, this, &AlertsSection::followAlerts);
    connect(&model_, &MacModel::alertsErrorChanged, this, &AlertsSection::followErrors);
    connect(&model_, &MacModel::signingOutChanged, this, [this] {
        followLife();
        followErrors();
    });
    connect(&notice_, &MenuNotice::changed, this, &AlertsSection::followErrors);
    followTeams();
    followBody();
    followAlerts();
    followErrors();
}

void AlertsSection::followLife() {
    // A session that is ending keeps what it last knew on show, but not as live: nothing in the
    // list opens, nor takes the focus, and no other team can be chosen.
    const bool live = !model_.sessionIsEnding();
    ui::setTone(count_, live && !model_.openAlerts().empty() ? Tone::primary : Tone::secondary);
    rows_->setEnabled(live);
    teams_->setEnabled(live);
}

void AlertsSection::followTeams() {
    const std::vector<Membership>& memberships = model_.memberships();
    const std::optional<StoredSession> session = model_.session();
    const QString active = session && session->activeTenantId ? qText(*session->activeTenantId) : QString();
    const bool picks = memberships.size() >= 2;
    teamName_->setVisible(!picks);
    picker_->setVisible(picks);
    if (!picks) {
        const std::optional<Membership> current = model_.currentMembership();
        teamName_->setText(current ? ui::oneLine(ui::shownName(current->tenantName, current->tenantId)) : QString());
        return;
    }
    const QSignalBlocker quiet(teams_);
    teams_->clear();
    for (const Membership& membership : memberships) {
        teams_->addItem(
            ui::oneLine(ui::shownName(membership.tenantName, membership.tenantId)), qText(membership.tenantId));
    }
    teams_->setCurrentIndex(active.isEmpty() ? -1 : teams_->findData(active));
}

void AlertsSection::followBody() {
    const bool gated = model_.needsBoxSignIn();
    boxBody_->setVisible(gated);
    alertsBody_->setVisible(!gated);
}

void AlertsSection::followAlerts() {
    const std::vector<AlertSnapshot>& alerts = model_.openAlerts();
    count_->setText(
        alerts.empty() ? QStringLiteral("No open alerts")
                       : QStringLiteral("%1 open").arg(static_cast<qlonglong>(alerts.size())));
    while (QLayoutItem* item = rowsLayout_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const std::size_t listed = std::min<std::size_t>(alerts.size(), listedAlerts);
    for (std::size_t i = 0; i < listed; ++i) {
        auto* row = new AlertRow(alerts[i], rows_);
        const std::string id = alerts[i].id;
        connect(row, &AlertRow::clicked, this, [this, id] { openAlert(id); });
        rowsLayout_->addWidget(row);
    }
    ui::keepTabOrderInPlace(rows_);
    rows_->setVisible(listed > 0);
    followLife();
}

void AlertsSection::followErrors() {
    // While the session ends, the account section carries its one line; a refresh refused meanwhile
    // would only say it again.
    const std::optional<std::string> error = model_.sessionIsEnding() ? std::nullopt : model_.alertsError();
    error_->setText(error ? ui::lines(qText(*error)) : QString());
    error_->setVisible(error.has_value());
    const std::optional<std::string>& notice = notice_.text();
    noticeLine_->setText(notice ? qText(*notice) : QString());
    noticeLine_->setVisible(notice.has_value());
}

void AlertsSection::openAlert(const std::string& alertId) {
    notice_.set(std::nullopt);
    const std::optional<StoredSession> session = model_.session();
    const std::optional<std::string> team = session ? session->activeTenantId : std::nullopt;
    const PortalLinks::Destination destination = model_.alertPortalDestination(team, alertId);
    using Destination = PortalLinks::Destination;
    if (const auto* portal = destination.get<Destination::Portal>()) {
        environment_.openURL(portal->url);
    } else if (const auto* off = destination.get<Destination::PortalOff>()) {
        notice_.set(noWebPortalNotice(off->host));
    } else if (destination.get<Destination::BoxSignInNeeded>()) {
        ui::showWindow(this, WindowPresenter::Kind::box);
    }
}

void AlertsSection::openPortal() {
    if (const std::optional<platform::Url> page = model_.alertsPageURL()) {
        environment_.openURL(*page);
        return;
    }
    notice_.set(portalFallbackNotice());
}

std::string AlertsSection::portalFallbackNotice() const {
    const std::optional<StoredSession> session = model_.session();
    if (!session || !session->activeTenantId) return {};
    return noWebPortalNotice(session->hostForTenant(*session->activeTenantId));
}

}  // namespace brisalune

#include <brisalune/app/ui/menu_window.hpp>

#include <brisalune/app/shell/window_presenter.hpp>
#include <brisalune/app/ui/notices.hpp>
#include <brisalune/push/push_state.hpp>

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace brisalune {

namespace {

QLabel* plainLabel(const char* name) {
    auto* label = new QLabel;
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

QPushButton* button(const char* name, const char* title) {
    auto* push = new QPushButton(QString::fromLatin1(title));
    push->setObjectName(QString::fromLatin1(name));
    return push;
}

}  // namespace

MenuWindow::MenuWindow(MacModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , phase_(plainLabel("menu.phase"))
    , account_(plainLabel("menu.account"))
    , teams_(new QComboBox)
    , alertsError_(plainLabel("menu.alertsError"))
    , lastError_(plainLabel("menu.lastError"))
    , alerts_(new QWidget)
    , alertRows_(new QVBoxLayout(alerts_))
    , signIn_(button("menu.signIn", "Sign in…"))
    , box_(button("menu.box", "Self-hosted box…"))
    , refresh_(button("menu.refresh", "Refresh"))
    , signOut_(button("menu.signOut", "Sign out")) {
    setObjectName(QStringLiteral("menuWindow"));
    setWindowTitle(QStringLiteral("Brisalune"));
    teams_->setObjectName(QStringLiteral("menu.teamPicker"));
    alerts_->setObjectName(QStringLiteral("menu.alerts"));
    alertRows_->setContentsMargins(0, 0, 0, 0);
    auto* quit = button("menu.quit", "Quit Brisalune");

    auto* actions = new QHBoxLayout;
    for (QPushButton* action : {signIn_, box_, refresh_, signOut_, quit}) actions->addWidget(action);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(phase_);
    layout->addWidget(account_);
    layout->addWidget(teams_);
    layout->addWidget(lastError_);
    layout->addWidget(alertsError_);
    layout->addWidget(alerts_);
    layout->addStretch();
    layout->addLayout(actions);

    connect(teams_, &QComboBox::activated, this, [this](int index) {
        const std::string tenantId = teams_->itemData(index).toString().toStdString();
        if (!tenantId.empty()) model_.selectTenant(tenantId);
    });
    connect(signIn_, &QPushButton::clicked, this, [this] { present(WindowPresenter::Kind::signIn); });
    connect(box_, &QPushButton::clicked, this, [this] { present(WindowPresenter::Kind::box); });
    connect(refresh_, &QPushButton::clicked, this, [this] { model_.refreshAlerts(); });
    connect(signOut_, &QPushButton::clicked, this, [this] { model_.signOut(); });
    connect(quit, &QPushButton::clicked, qApp, &QCoreApplication::quit);

    for (auto changed : {&MacModel::phaseChanged, &MacModel::sessionChanged, &MacModel::lastErrorChanged,
                         &MacModel::alertsErrorChanged, &MacModel::isTearingDownChanged})
        connect(&model_, changed, this, &MenuWindow::showState);
    connect(&model_, &MacModel::membershipsChanged, this, &MenuWindow::fillTeams);
    connect(&model_, &MacModel::sessionChanged, this, &MenuWindow::fillTeams);
    connect(&model_, &MacModel::openAlertsChanged, this, &MenuWindow::fillAlerts);
    showState();
    fillTeams();
    fillAlerts();
}

QString MenuWindow::phaseText(MacModel::Phase phase) {
    switch (phase) {
        case MacModel::Phase::loading:
            return QStringLiteral("Loading…");
        case MacModel::Phase::signedOut:
            return QStringLiteral("Signed out");
        case MacModel::Phase::selectingTenant:
            return QStringLiteral("Choose a team");
        case MacModel::Phase::signedIn:
            return QStringLiteral("Signed in");
    }
    return {};
}

void MenuWindow::showState() {
    const std::optional<StoredSession> session = model_.session();
    phase_->setText(phaseText(model_.phase()));
    account_->setText(session ? qText(session->email) : QString());
    lastError_->setText(qText(model_.lastError().value_or("")));
    alertsError_->setText(qText(model_.alertsError().value_or("")));
    signIn_->setVisible(!session);
    signOut_->setVisible(session.has_value());
    signOut_->setEnabled(!model_.isTearingDown());
    teams_->setVisible(session.has_value());
}

void MenuWindow::fillTeams() {
    const QSignalBlocker quiet(teams_);
    teams_->clear();
    const std::optional<StoredSession> session = model_.session();
    if (!session) return;
    if (!session->activeTenantId) teams_->addItem(QStringLiteral("Choose a team…"), QString());
    for (const Membership& membership : model_.memberships())
        teams_->addItem(qText(membership.tenantName), qText(membership.tenantId));
    if (session->activeTenantId) {
        const int index = teams_->findData(qText(*session->activeTenantId));
        if (index >= 0) teams_->setCurrentIndex(index);
    }
}

void MenuWindow::fillAlerts() {
    // Later, not now: a row's button may be the sender of what is running.
    while (QLayoutItem* item = alertRows_->takeAt(0)) {
        if (QWidget* row = item->widget()) {
            row->hide();
            row->setParent(nullptr);
            row->deleteLater();
        }
        delete item;
    }
    for (const AlertSnapshot& alert : model_.openAlerts()) {
        auto* row = new QWidget;
        row->setObjectName(QStringLiteral("menu.alert"));
        row->setProperty("alertId", qText(alert.id));
        auto* title = plainLabel("menu.alert.title");
        title->setText(qText(alert.rule) + QStringLiteral(" — ") + qText(alert.state));
        auto* acknowledgeButton = button("menu.alert.acknowledge", "Acknowledge");
        acknowledgeButton->setProperty("alertId", qText(alert.id));
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(title, 1);
        layout->addWidget(acknowledgeButton);
        connect(acknowledgeButton, &QPushButton::clicked, this,
                [this, id = alert.id, rule = alert.rule] { acknowledge(id, rule); });
        alertRows_->addWidget(row);
    }
    if (model_.openAlerts().empty() && model_.isSignedIn()) {
        auto* none = plainLabel("menu.noAlerts");
        none->setText(QStringLiteral("No open alerts"));
        alertRows_->addWidget(none);
    }
}

QCoro::Task<> MenuWindow::acknowledge(std::string alertId, std::string title) {
    const std::shared_ptr<PendingAckStoring> store = model_.pushState().pendingAckStore();
    co_await model_.acknowledge(alertId, title, store);
}

void MenuWindow::present(WindowPresenter::Kind kind) {
    if (WindowPresenter* windows = WindowPresenter::of(this)) windows->show(kind);
}

}  // namespace brisalune

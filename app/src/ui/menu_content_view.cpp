#include <brisalune/app/ui/menu_content_view.hpp>

#include <brisalune/app/shell/continuous_timer.hpp>
#include <brisalune/app/ui/account_section.hpp>
#include <brisalune/app/ui/app_section.hpp>
#include <brisalune/app/ui/compatibility_rows.hpp>
#include <brisalune/app/ui/notices.hpp>
#include <brisalune/app/ui/push_status_row.hpp>
#include <brisalune/app/ui/tenant_selections.hpp>
#include <brisalune/app/ui/update_row.hpp>
#include <brisalune/push/push_state.hpp>

#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <utility>

namespace brisalune {

using ui::Font;
using ui::Tone;

// ---- the team picker ----

TenantPicker::TenantPicker(MacModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , waiting_(new QProgressBar)
    , empty_(ui::text(
          QStringLiteral("This account is not on any team yet."),
          QStringLiteral("tenantPicker.empty"),
          Font::body,
          Tone::secondary,
          true))
    , buttons_(new QWidget)
    , buttonsLayout_(ui::stack(buttons_, 6))
    , error_(ui::text(QString(), QStringLiteral("tenantPicker.error"), Font::caption, Tone::red, true)) {
    setObjectName(QStringLiteral("tenantPicker"));
    buttons_->setObjectName(QStringLiteral("tenantPicker.teams"));
    waiting_->setObjectName(QStringLiteral("tenantPicker.loading"));
    waiting_->setRange(0, 0);
    waiting_->setTextVisible(false);
    auto* layout = ui::stack(this, 6);
    layout->addWidget(ui::text(QStringLiteral("Choose a team"), QStringLiteral("tenantPicker.title"), Font::headline));
    layout->addWidget(waiting_);
    layout->addWidget(empty_);
    layout->addWidget(buttons_);
    layout->addWidget(error_);
    // Until the service has told the teams, there are none to show, and none to say there are not.
    for (auto changed : {&MacModel::membershipsChanged, &MacModel::lastErrorChanged, &MacModel::alertsErrorChanged}) {
        connect(&model_, changed, this, &TenantPicker::followTeams);
        connect(&model_, changed, this, &TenantPicker::followError);
    }
    followTeams();
    followError();
}

void TenantPicker::followTeams() {
    while (QLayoutItem* item = buttonsLayout_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const std::vector<Membership>& memberships = model_.memberships();
    for (const Membership& membership : memberships) {
        QPushButton* team = ui::button(
            ui::oneLine(ui::shownName(membership.tenantName, membership.tenantId)),
            QStringLiteral("tenantPicker.team.") + qText(membership.tenantId));
        const std::string tenantId = membership.tenantId;
        connect(team, &QPushButton::clicked, this, [this, tenantId] { TenantSelections::of(model_).select(tenantId); });
        ui::addLeading(buttonsLayout_, team);
    }
    ui::keepTabOrderInPlace(buttons_);
    const bool known = model_.membershipsKnown();
    empty_->setVisible(known && memberships.empty());
    buttons_->setVisible(!memberships.empty());
    waiting_->setVisible(!known && !model_.lastError() && !model_.alertsError());
}

void TenantPicker::followError() {
    // A sign-in's own failure first; else why the teams could not be had.
    std::optional<std::string> error = model_.lastError();
    if (!error && !model_.membershipsKnown()) error = model_.alertsError();
    error_->setText(error ? ui::lines(qText(*error)) : QString());
    error_->setVisible(error.has_value());
}

// ---- the menu window's content ----

MenuContentView::MenuContentView(MenuEnvironment environment, QWidget* parent)
    : FixedWidthPane(width, parent)
    , environment_(std::move(environment))
    , notice_(new MenuNotice(this))
    , watch_(new CompatibilityWatch(environment_.compatibility, this))
    , nudge_(new CompatibilityNudgeRow(environment_))
    , update_(new UpdateRow(environment_))
    , banner_(new ServerBannerRow(environment_))
    , updateRequired_(new UpdateRequiredSection(environment_))
    , serverOutdated_(new ServerOutdatedSection)
    , loading_(new QProgressBar)
    , signedOut_(new QWidget)
    , tenantPicker_(new TenantPicker(environment_.model))
    , alerts_(new AlertsSection(environment_, *notice_))
    , accountRows_(new QWidget)
    , app_(new AppSection(environment_))
    , expiry_(new ContinuousTimer(this)) {
    setObjectName(QStringLiteral("menuContent"));
    MacModel& model = environment_.model;

    auto* progress = static_cast<QProgressBar*>(loading_);
    progress->setObjectName(QStringLiteral("menu.loading"));
    progress->setRange(0, 0);
    progress->setTextVisible(false);

    signedOut_->setObjectName(QStringLiteral("menu.signedOut"));
    auto* signedOutLayout = ui::stack(signedOut_, 6);
    signedOutLayout->addWidget(
        ui::text(QStringLiteral("Not signed in"), QStringLiteral("menu.notSignedIn"), Font::headline));
    QPushButton* signIn = ui::button(QStringLiteral("Sign in\u2026"), QStringLiteral("menu.signIn"));
    ui::addLeading(signedOutLayout, signIn);

    accountRows_->setObjectName(QStringLiteral("menu.accountRows"));
    auto* accountLayout = ui::stack(accountRows_, 10);
    accountLayout->addWidget(new PushStatusRow(model.pushState(), environment_));
    accountLayout->addWidget(ui::divider());
    accountLayout->addWidget(new AccountSection(model));
    accountLayout->addWidget(ui::divider());

    auto* layout = ui::stack(this, 10, 12);
    for (QWidget* row :
         {static_cast<QWidget*>(nudge_),
          static_cast<QWidget*>(update_),
          static_cast<QWidget*>(banner_),
          static_cast<QWidget*>(updateRequired_),
          static_cast<QWidget*>(serverOutdated_),
          loading_,
          signedOut_,
          static_cast<QWidget*>(tenantPicker_),
          static_cast<QWidget*>(alerts_)}) {
        layout->addWidget(row);
    }
    layout->addWidget(ui::divider(QStringLiteral("menu.divider")));
    layout->addWidget(accountRows_);
    layout->addWidget(app_);

    connect(signIn, &QPushButton::clicked, this, [this] { ui::showWindow(this, WindowPresenter::Kind::signIn); });
    connect(&model, &MacModel::phaseChanged, this, &MenuContentView::follow);
    connect(&model, &MacModel::sessionChanged, this, &MenuContentView::follow);
    connect(&environment_.updates, &SiteUpdates::offerChanged, this, &MenuContentView::follow);
    connect(watch_, &CompatibilityWatch::changed, this, &MenuContentView::follow);
    connect(expiry_, &ContinuousTimer::finished, this, [this](bool fired) {
        if (fired) follow();
    });
    follow();
}

MenuContentView::~MenuContentView() = default;

std::optional<platform::Url> MenuContentView::activeHost() const {
    const std::optional<StoredSession> session = environment_.model.session();
    if (!session || !session->activeTenantId) return std::nullopt;
    return session->hostForTenant(*session->activeTenantId);
}

void MenuContentView::follow() {
    using Phase = MacModel::Phase;
    const std::chrono::system_clock::time_point seen = environment_.compatibility.now();
    const Phase phase = environment_.model.phase();
    const std::optional<platform::Url> host = activeHost();
    const CompatibilitySurface client = environment_.compatibility.surface();
    const ServerSurface server = environment_.compatibility.serverSurface(host);
    const bool offered = UpdateRow::downloadAddress(environment_.updates).has_value();
    const bool clientBlocked = client.kind() == CompatibilitySurface::Kind::blocked;
    const bool signedIn = phase == Phase::signedIn;

    nudge_->setVisible(client.kind() == CompatibilitySurface::Kind::nudge);
    update_->setVisible(client.kind() == CompatibilitySurface::Kind::none && offered);
    banner_->setHost(host);
    banner_->setVisible(signedIn && host && server.kind() == ServerSurface::Kind::banner);

    const bool serverBlocked = !clientBlocked && signedIn && server.kind() == ServerSurface::Kind::blocked;
    const bool phaseContent = !clientBlocked && !serverBlocked;
    updateRequired_->setVisible(clientBlocked);
    serverOutdated_->setVisible(serverBlocked);
    loading_->setVisible(phaseContent && phase == Phase::loading);
    signedOut_->setVisible(phaseContent && phase == Phase::signedOut);
    tenantPicker_->setVisible(phaseContent && phase == Phase::selectingTenant);
    alerts_->setVisible(phaseContent && signedIn);
    accountRows_->setVisible(phase == Phase::selectingTenant || signedIn);
    followAtExpiry(seen);
}

void MenuContentView::followAtExpiry(std::chrono::system_clock::time_point seen) {
    using namespace std::chrono;
    expiry_->cancel();
    if (!shown_) return;
    const ClientCompatibilityModel& compatibility = environment_.compatibility;
    std::optional<system_clock::time_point> first;
    const auto consider = [&](std::optional<system_clock::time_point> dismissedAt) {
        if (!dismissedAt) return;
        const system_clock::time_point ends = *dismissedAt + ClientCompatibilityModel::snooze;
        if (ends > seen && (!first || ends < *first)) first = ends;
    };
    consider(compatibility.nudgeDismissedAt());
    if (const std::optional<platform::Url> host = activeHost()) {
        const auto banners = compatibility.serverBannersDismissedAt();
        const auto banner = banners.find(ServerCompatibility::serverKey(*host));
        if (banner != banners.end()) consider(banner->second);
    }
    if (!first) return;
    // A millisecond late rather than early: the dismissal has run out when the timer fires. One
    // that has already run out is followed at once. The timer counts through a suspend, so a
    // snooze that ran out while the machine slept ends at wake-up.
    expiry_->start(std::max(ceil<milliseconds>(*first - compatibility.now()) + 1ms, 1ms));
}

void MenuContentView::showEvent(QShowEvent* event) {
    FixedWidthPane::showEvent(event);
    // What ran out while it was hidden goes, and what is due comes, as it opens.
    shown_ = true;
    follow();
    refreshOnShow(++shows_);
}

void MenuContentView::hideEvent(QHideEvent* event) {
    ++shows_;
    shown_ = false;
    expiry_->cancel();
    FixedWidthPane::hideEvent(event);
}

QCoro::Task<> MenuContentView::refreshOnShow(int generation) {
    const QPointer<MenuContentView> self(this);
    MacModel& model = environment_.model;
    // The settings and the device's registration go at their own pace: the alerts never wait
    // behind a registration that is slow to answer.
    model.pushState().refreshNotificationSettings();
    if (!self || shows_ != generation) co_return;
    // Opening the menu is the person's action: a sign-out the keyring refused is tried again.
    co_await model.retryRefusedSignOut();
    co_await model.refresh();
}

}  // namespace brisalune

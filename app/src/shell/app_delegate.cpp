#include <brisalune/app/shell/app_delegate.hpp>

#include <brisalune/app/shell/app_config.hpp>
#include <brisalune/app/shell/shared_push_state.hpp>
#include <brisalune/app/ui/notices.hpp>
#include <brisalune/app/ui/ui_kit.hpp>
#include <brisalune/push/await_blocking.hpp>
#include <brisalune/push/push_state.hpp>
#include <brisalune/push/push_tap.hpp>

#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QThreadPool>
#include <QUrl>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace brisalune {

MacAppDelegate::Setup MacAppDelegate::Setup::standard() {
    PushState& pushState = sharedPushState();
    return {
        .pushState = pushState,
        .defaults = platform::Defaults::standard(),
        .sessionStore = std::make_shared<KeychainSessionStore>(std::string(MacAppConfig::sessionService())),
        .manifestURL = [] { return std::optional(MacAppConfig::updateManifestURL()); },
        .versionCode = SiteUpdates::runningVersionCode()};
}

MacAppDelegate::MacAppDelegate(Setup setup, QObject* parent)
    : QObject(parent)
    , pushState_(setup.pushState)
    , defaults_(setup.defaults)
    , model_(std::make_shared<MacModel>(
          pushState_,
          setup.defaults,
          std::move(setup.sessionStore),
          std::move(setup.clientFactory),
          std::move(setup.addresses)))
    , openURL_(std::move(setup.openURL))
    , showNotice_(std::move(setup.showNotice))
    , windowContent_(std::move(setup.windowContent))
    , refreshInterval_(setup.refreshInterval) {
    // The checker reads its cached manifest now: an offer shows before any network access.
    updates_ = std::make_unique<SiteUpdates>(
        setup.manifestURL ? setup.manifestURL() : std::nullopt,
        setup.versionCode,
        defaults_,
        std::move(setup.fetch),
        std::move(setup.now));
}

MacAppDelegate::~MacAppDelegate() { sleeper_.cancel(); }

WindowPresenter& MacAppDelegate::windows() {
    if (!windows_) {
        windows_ = std::make_unique<WindowPresenter>(
            [this](WindowPresenter::Kind kind) { return windowContent_(kind, *model_); });
    }
    return *windows_;
}

// ---- the application's life ----

void MacAppDelegate::applicationDidFinishLaunching() {
    if (qEnvironmentVariableIsSet(testConfigurationVariable.data())) return;
    startedUp_ = true;
    listenTo(pushState_.notificationCenter());
    connect(&pushState_, &PushState::notificationCenterChanged, this, [this] {
        listenTo(pushState_.notificationCenter());
    });
    // No roles yet: the acknowledge button is offered until the memberships say otherwise.
    pushState_.installCategories({});
    pushState_.setModel(model_);
    connect(model_.get(), &MacModel::alertsPulled, this, &MacAppDelegate::announceNewAlerts);
    refreshLoop();
}

void MacAppDelegate::applicationWillTerminate() {
    loopCancelled_ = true;
    sleeper_.cancel();
    model_->endSignOutAtQuit();
    // A service that sends a press only to the program that showed the notification (dunst) would
    // leave its buttons on screen, live-looking and reaching no one.
    if (const std::shared_ptr<PushNotificationCenter> center = pushState_.notificationCenter())
        center->withdrawButtonsAtQuit(notificationsQuitLimit);
}

int MacAppDelegate::finishQuitting(int status, std::chrono::milliseconds grace) {
    // A settings write waiting for another program's lock waits within the grace, then fails
    // rather than be cut off unseen; it never goes past the lock.
    const platform::Defaults::PeerWaitsEnd ending(grace * 2 / 3);
    const bool done = waitForBlockingCalls(grace);
    if (const int cut = ending.writesCut(); cut > 0)
        std::fprintf(
            stderr, "brisalune: %d settings write(s) not saved: another program held the settings file\n", cut);
    if (done) return status;
    // Everything of ours is on disk already (settings and acknowledgements are written as they
    // change); the kernel closes the connections and releases the instance lock.
    std::fflush(nullptr);
    std::_Exit(status);
}

void MacAppDelegate::listenTo(const std::shared_ptr<PushNotificationCenter>& center) {
    disconnect(responses_);
    if (!center) return;
    responses_ = connect(
        center.get(), &PushNotificationCenter::responseReceived, this, [this](const NotificationResponse& response) {
            handleNotificationResponse(response);
        });
}

QCoro::Task<> MacAppDelegate::refreshLoop() {
    loopRunning_ = true;
    co_await model_->ensureLaunched();
    // Not awaited: it asks the desktop's notification service, then registers over the network,
    // and the acknowledgements kept from before go first, whatever holds those up.
    pushState_.refreshNotificationSettings();
    co_await pushState_.drainPendingAcks(false);
    co_await updates_->checkIfDue();
    // Cancellation is looked at here only: a cancelled sleep still refreshes once.
    while (!loopCancelled_) {
        co_await sleeper_.sleep(refreshInterval_);
        co_await model_->refresh();
        if (updates_->isDue()) co_await updates_->check();
    }
    loopRunning_ = false;
    Q_EMIT refreshLoopFinished();
}

// ---- notifications ----

QCoro::Task<> MacAppDelegate::handleNotificationResponse(NotificationResponse response) {
    const std::optional<PushTap> tap = PushTap::parse(response.request.userInfo);
    const PushTap::Alert* alert = tap ? tap->get<PushTap::Alert>() : nullptr;
    if (!alert) co_return;  // unreadable, or an incident: nothing to do here
    const std::string alertId = alert->id;
    const std::optional<std::string> tenantId = alert->tenantId;
    if (response.actionIdentifier == PushState::ackActionIdentifier) {
        co_await acknowledgeAlert(alertId, tenantId, response.request.title);
    } else if (response.actionIdentifier == PushNotificationCenter::defaultActionIdentifier) {
        co_await openAlert(alertId, tenantId);
    }
}

namespace {

// The body of "Couldn't acknowledge": the alert as the pressed notification named it (not a
// failure notice's own title), else as the record does, then why in words, whatever comes of the
// record. An id alone tells the person nothing.
std::string ackFailureBody(PendingAck record, const std::string& shownTitle) {
    std::string name = ui::shownName(shownTitle == MacAppDelegate::ackFailureTitle ? "" : shownTitle, "").toStdString();
    if (name.empty() && record.title != record.alertId) name = ui::shownName(record.title, "").toStdString();
    if (name.empty()) return record.lastError;
    record.title = std::move(name);
    record.verdict = AckFailureVerdict::final;  // so that its report holds the reason
    return record.reportBody();
}

}  // namespace

std::string_view MacAppDelegate::refusalText(MacModel::NotificationAck::Refused::Why why) {
    using Why = MacModel::NotificationAck::Refused::Why;
    static constexpr std::array<std::pair<Why, std::string_view>, 6> reasons{{
        {Why::notSignedIn, notSignedInText},
        {Why::signingOut, signingOutText},
        {Why::signedOut, signedOutText},
        {Why::noTeam, noTeamText},
        {Why::teamsUnknown, teamsUnknownText},
        {Why::notAMember, notAMemberText},
    }};
    return std::ranges::find(reasons, why, &std::pair<Why, std::string_view>::first)->second;
}

// What is told when the button could do nothing: the user asked, and must not believe it done.
NotificationRequest MacAppDelegate::refusalNotice(
    const std::string& alertId,
    const std::optional<std::string>& tenantId,
    const std::string& shownTitle,
    MacModel::NotificationAck::Refused::Why why) const {
    const std::string_view reason = refusalText(why);
    const auto& alerts = model_->openAlerts();
    const auto listed = std::ranges::find(alerts, alertId, &AlertSnapshot::id);
    const PendingAck told{
        .alertId = alertId,
        .tenantId = tenantId.value_or(""),
        .title = listed != alerts.end() ? listed->rule : "",
        .attempts = 0,
        .lastError = std::string(reason),
        .verdict = AckFailureVerdict::final};
    NotificationRequest notice = ackFailureNotice(told.alertId, told.tenantId, ackFailureBody(told, shownTitle));
    notice.categoryIdentifier.clear();  // no acknowledge button: pressed again, it fails the same way
    return notice;
}

QCoro::Task<> MacAppDelegate::acknowledgeAlert(
    std::string alertId, std::optional<std::string> tenantId, std::string shownTitle) {
    pushState_.modifyAckStandings([&](PendingAckStandings& standings) { standings.undismiss(alertId); });
    const MacModel::NotificationAck result = co_await model_->acknowledgeFromNotification(alertId, tenantId);
    if (const auto* refused = result.get<MacModel::NotificationAck::Refused>()) {
        const std::shared_ptr<PushNotificationCenter> center = pushState_.notificationCenter();
        co_await center->add(refusalNotice(alertId, tenantId, shownTitle, refused->why));
        co_return;
    }
    if (result.get<MacModel::NotificationAck::QueuedForBoxSignIn>()) {
        windows().show(WindowPresenter::Kind::box);
        co_return;
    }
    const auto* attempted = result.get<MacModel::NotificationAck::Attempted>();
    const auto* held = attempted ? attempted->outcome.get<AckAttemptOutcome::Held>() : nullptr;
    if (held && held->record.isFirstFailure()) {
        const PendingAck record = held->record;
        co_await postAckFailureNotification(record, shownTitle);
    }
    // Nothing keeps it for a retry, or its failure could not be saved: told every time, in its own
    // words.
    const auto* lost = attempted ? attempted->outcome.get<AckAttemptOutcome::NotKept>() : nullptr;
    const auto* unsaved = attempted ? attempted->outcome.get<AckAttemptOutcome::NotSaved>() : nullptr;
    if (lost || unsaved) {
        const PendingAck record = lost ? lost->record : unsaved->record;
        co_await postAckFailureNotification(record, shownTitle);
    }
}

QCoro::Task<> MacAppDelegate::openAlert(std::string alertId, std::optional<std::string> tenantId) {
    co_await model_->ensureLaunched();
    const PortalLinks::Destination destination = model_->alertPortalDestination(tenantId, alertId);
    if (const auto* portal = destination.get<PortalLinks::Destination::Portal>()) {
        openURL_(portal->url);
    } else if (const auto* off = destination.get<PortalLinks::Destination::PortalOff>()) {
        showNotice_(
            QString::fromUtf8(nothingToOpenTitle.data(), nothingToOpenTitle.size()),
            QString::fromStdString(noWebPortalNotice(off->host)));
    } else if (destination.get<PortalLinks::Destination::BoxSignInNeeded>()) {
        windows().show(WindowPresenter::Kind::box);
    }
}

NotificationRequest MacAppDelegate::ackFailureNotice(
    const std::string& alertId, const std::string& tenantId, std::string body) {
    return {
        .identifier = std::string(ackFailureIdentifierPrefix) + alertId,
        .title = std::string(ackFailureTitle),
        .body = std::move(body),
        .categoryIdentifier = std::string(PushState::alertCategoryIdentifier),
        .userInfo = {{"alert_id", alertId}, {"tenant_id", tenantId}}};
}

QCoro::Task<> MacAppDelegate::postAckFailureNotification(PendingAck record, std::string shownTitle) {
    const NotificationRequest request =
        ackFailureNotice(record.alertId, record.tenantId, ackFailureBody(record, shownTitle));
    // The centre shows nothing when the service does not answer; nothing to retry then.
    const std::shared_ptr<PushNotificationCenter> center = pushState_.notificationCenter();
    co_await center->add(request);
}

std::string MacAppDelegate::moreAlertsTitle(std::size_t count) {
    return "And " + std::to_string(count) + (count == 1 ? " more new alert" : " more new alerts");
}

void MacAppDelegate::announceNewAlerts(const std::string& tenantId) {
    const std::optional<StoredSession> session = model_->session();
    if (!session) return;
    std::set<std::string> firing;
    std::vector<const AlertSnapshot*> fresh;
    const std::string team = tenantId + ' ' + session->hostForTenant(tenantId).text();
    const auto before = firingAtLastPull_.find(team);
    for (const AlertSnapshot& alert : model_->openAlerts()) {
        if (alert.state != "firing") continue;
        firing.insert(alert.id);
        if (before != firingAtLastPull_.end() && !before->second.contains(alert.id)) fresh.push_back(&alert);
    }
    firingAtLastPull_.insert_or_assign(team, std::move(firing));

    const std::shared_ptr<PushNotificationCenter> center = pushState_.notificationCenter();
    if (!center || fresh.empty()) return;
    const std::size_t shown = std::min(fresh.size(), announcedPerPull);
    for (const AlertSnapshot* alert : std::span(fresh).first(shown)) {
        center->add(
            {.identifier = std::string(alertIdentifierPrefix) + alert->id,
             .title = ui::shownName(alert->rule, alert->id).toStdString(),
             .body = alert->lastMessage,
             .categoryIdentifier = std::string(PushState::alertCategoryIdentifier),
             .userInfo = {{"alert_id", alert->id}, {"tenant_id", tenantId}}});
    }
    if (fresh.size() == shown) return;
    const std::optional<Membership> membership = model_->currentMembership();
    // The team's name can turn directions: the sentence's end stays in place.
    const std::string teamName =
        ui::isolated(
            ui::shownName(membership && membership->tenantId == tenantId ? membership->tenantName : "", tenantId))
            .toStdString();
    // No alert of its own, so no acknowledge button; a later one for the team replaces it.
    center->add(
        {.identifier = std::string(moreAlertsIdentifierPrefix) + tenantId,
         .title = moreAlertsTitle(fresh.size() - shown),
         .body = "Open Brisalune to see the open alerts of " + teamName + ".",
         .categoryIdentifier = {},
         .userInfo = {{"tenant_id", tenantId}}});
}

// ---- the desktop ----

void MacAppDelegate::openInBrowser(const platform::Url& url) {
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url.text()), QUrl::StrictMode));
}

void MacAppDelegate::showModalNotice(const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Information, QStringLiteral("Brisalune"), title);
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(text);
    // The informative label guesses its format; a server's host name is plain text.
    if (auto* informative = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();
}

}  // namespace brisalune

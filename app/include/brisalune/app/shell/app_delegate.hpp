#pragma once

// The application's delegate: builds the model and the update checker around the shared push
// state, runs the start-up once the event loop runs, owns the refresh loop (every 300 s on the
// boot clock, with the daily update check) and answers the user's responses to notifications.
// Main thread only; lives as long as the application.

#include <brisalune/app/model/mac_model.hpp>
#include <brisalune/app/shell/continuous_timer.hpp>
#include <brisalune/app/shell/site_updates.hpp>
#include <brisalune/app/shell/window_presenter.hpp>
#include <brisalune/app/ui/window_content.hpp>
#include <brisalune/client/accounts/session.hpp>
#include <brisalune/client/alerts/pending_ack.hpp>
#include <brisalune/client/core/client_factory.hpp>
#include <brisalune/platform/defaults.hpp>
#include <brisalune/platform/url.hpp>
#include <brisalune/push/notification_center.hpp>

#include <QCoroTask>
#include <QMetaObject>
#include <QObject>
#include <QString>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace brisalune {

class PushState;

class MacAppDelegate final : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::seconds refreshInterval{300};
    // Its presence, whatever its value, stops start-up after launching.
    static constexpr std::string_view testConfigurationVariable = "XCTestConfigurationFilePath";
    static constexpr std::string_view ackFailureIdentifierPrefix = "brisalune.ack-failure.";
    static constexpr std::string_view ackFailureTitle = "Couldn't acknowledge";
    // Why a pressed acknowledge button could do nothing at all.
    static constexpr std::string_view notSignedInText = "You are not signed in to Brisalune, so it was not sent.";
    static constexpr std::string_view signingOutText = "Brisalune is signing out, so it was not sent.";
    static constexpr std::string_view signedOutText = "Brisalune was signing out, so it was not sent.";
    static constexpr std::string_view noTeamText = "No team is chosen in Brisalune, so it was not sent.";
    static constexpr std::string_view notAMemberText =
        "This account is not a member of the alert's team, so it was not sent.";
    static constexpr std::string_view teamsUnknownText =
        "Brisalune could not read this account's teams, so it was not sent.";
    // The words for a press refused for `why`.
    static std::string_view refusalText(MacModel::NotificationAck::Refused::Why why);
    static constexpr std::string_view nothingToOpenTitle = "Nothing to open";
    // How long the UI thread's settings writes (the sign-out's clearing, the device ledger's)
    // wait for another program that holds the settings file before they fail.
    static constexpr std::chrono::milliseconds uiSettingsLockPatience{250};

    // What the delegate is built from; `standard()` is the application's own.
    struct Setup {
        PushState& pushState;
        platform::Defaults defaults;
        std::shared_ptr<SessionStoring> sessionStore;
        ClientFactory clientFactory = MacModel::makeClient;
        MacModel::Addresses addresses = MacModel::Addresses::fixed();
        std::function<std::optional<platform::Url>()> manifestURL;  // asked once, when the checker is made
        std::int64_t versionCode = 0;
        SiteUpdates::Fetch fetch = SiteUpdates::transportFetch();
        SiteUpdates::Clock now = SiteUpdates::systemClock();
        std::chrono::nanoseconds refreshInterval = MacAppDelegate::refreshInterval;
        // The desktop: hands an address to the browser; shows a modal message and returns when
        // the user dismissed it.
        std::function<void(const platform::Url&)> openURL = openInBrowser;
        std::function<void(const QString& title, const QString& text)> showNotice = showModalNotice;
        // The root widget of each window the presenter makes.
        std::function<QWidget*(WindowPresenter::Kind, MacModel&)> windowContent = makeWindowContent;

        // The shared push state, the standard defaults, the keychain item, the fixed addresses.
        static Setup standard();
    };

    explicit MacAppDelegate(Setup setup, QObject* parent = nullptr);
    ~MacAppDelegate() override;

    MacModel& model() const noexcept { return *model_; }
    const std::shared_ptr<MacModel>& sharedModel() const noexcept { return model_; }
    SiteUpdates& updates() const noexcept { return *updates_; }
    PushState& pushState() const noexcept { return pushState_; }
    // Made on first use, then kept.
    WindowPresenter& windows();
    bool hasStartedUp() const noexcept { return startedUp_; }
    bool isRefreshLoopRunning() const noexcept { return loopRunning_; }

    // ---- the application's life ----

    // Start-up once launching has finished: returns at once under a test configuration; else
    // listens to the notification service's responses, installs the categories, attaches the
    // model to the push state and starts the refresh loop.
    void applicationDidFinishLaunching();
    // Cancels the refresh loop, ends on this computer a sign-out that runs, and withdraws the
    // notifications with buttons (waiting at most `notificationsQuitLimit` for the bus to take
    // that, never for the service). A sleeping loop wakes at once, refreshes once more and ends.
    void applicationWillTerminate();
    static constexpr std::chrono::seconds notificationsQuitLimit{1};
    // The process's end once the event loop has returned `status`. The jobs still on the thread
    // pools get `grace` to finish (a keychain or settings write; one that waits for another
    // program's settings lock fails within it, said on stderr); a request to a server that does
    // not answer is not waited for: it would keep the quit program alive, and its instance lock
    // held, until it timed out. Returns `status` when the pools are done in time.
    static constexpr std::chrono::seconds quitGrace{3};
    static int finishQuitting(int status, std::chrono::milliseconds grace = quitGrace);

    // ---- notifications ----

    // Routes the user's response: the acknowledge button acknowledges, a click opens the alert.
    QCoro::Task<> handleNotificationResponse(NotificationResponse response);
    // `shownTitle`: the title of the notification whose button was pressed, told back to the
    // user when nothing can be done (signed out since, a team left).
    QCoro::Task<> acknowledgeAlert(
        std::string alertId, std::optional<std::string> tenantId, std::string shownTitle = {});
    QCoro::Task<> openAlert(std::string alertId, std::optional<std::string> tenantId);
    // "Couldn't acknowledge" for the record, with the alert's acknowledge button: the alert named by
    // `shownTitle` (the pressed notification's title) when there is one, and why in words.
    QCoro::Task<> postAckFailureNotification(PendingAck record, std::string shownTitle = {});
    // The desktop has no remote push: after each pull of the team shown, the alerts firing now
    // that were not firing at that team's previous pull in this run are shown here, with the
    // acknowledge button, as pushed ones would be. A team's first pull in the run is what was
    // already there, not news. At most `announcedPerPull` are shown one by one; the rest are
    // counted in one more notification, so that no server can flood the desktop.
    void announceNewAlerts(const std::string& tenantId);

    static constexpr std::size_t announcedPerPull = 3;
    static constexpr std::string_view alertIdentifierPrefix = "brisalune.alert.";
    static constexpr std::string_view moreAlertsIdentifierPrefix = "brisalune.alerts.more.";
    // "And 1 more new alert", "And 5 more new alerts".
    static std::string moreAlertsTitle(std::size_t count);

    static void openInBrowser(const platform::Url& url);
    static void showModalNotice(const QString& title, const QString& text);

Q_SIGNALS:
    void refreshLoopFinished();

private:
    QCoro::Task<> refreshLoop();
    // "Couldn't acknowledge" for a press that could do nothing: why, and no button to fail again.
    NotificationRequest refusalNotice(
        const std::string& alertId,
        const std::optional<std::string>& tenantId,
        const std::string& shownTitle,
        MacModel::NotificationAck::Refused::Why why) const;
    static NotificationRequest ackFailureNotice(
        const std::string& alertId, const std::string& tenantId, std::string body);
    void listenTo(const std::shared_ptr<PushNotificationCenter>& center);

    // On the thread that made the delegate, the UI's, for its whole life.
    platform::Defaults::PeerLockPatience settingsLockPatience_{uiSettingsLockPatience};
    PushState& pushState_;
    platform::Defaults defaults_;  // the update checker's, which keeps a reference
    std::shared_ptr<MacModel> model_;
    std::unique_ptr<SiteUpdates> updates_;
    std::unique_ptr<WindowPresenter> windows_;
    std::function<void(const platform::Url&)> openURL_;
    std::function<void(const QString&, const QString&)> showNotice_;
    std::function<QWidget*(WindowPresenter::Kind, MacModel&)> windowContent_;
    std::chrono::nanoseconds refreshInterval_;
    ContinuousTimer sleeper_;
    QMetaObject::Connection responses_;
    // The firing alerts' ids at each team's last pull in this run, by team and server (a team
    // moved to a box of its own starts afresh there).
    std::map<std::string, std::set<std::string>> firingAtLastPull_;
    bool startedUp_ = false;
    bool loopRunning_ = false;
    bool loopCancelled_ = false;
};

}  // namespace brisalune

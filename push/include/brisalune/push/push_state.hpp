#pragma once

// The push module's one observable object: what the program knows of notifications on this
// computer (permission, the device token, this device's registration with the service, the last
// tapped notification, the acknowledgement failures to show and their per-session standings),
// with the collaborators it works through (the host, the signed-in model held weakly, the
// registration ledger, the pending-acknowledgement store, the notification centre).
//
// Lives on the Qt main thread, for the whole run: one instance, shared by the application's
// parts. Every change of an observed field is told by its signal, only when the value really
// changed. Its coroutines touch its fields on the main thread only; each blocking library call
// runs on a pool (awaitBlocking) and after every await the state is read again. Tasks it starts
// are never cancelled: a sign-in generation, replaced at each end of session, keeps a late
// result from being recorded.

#include <brisalune/client/accounts/session.hpp>
#include <brisalune/client/alerts/pending_ack.hpp>
#include <brisalune/client/alerts/pending_ack_drain.hpp>
#include <brisalune/client/alerts/pending_ack_store.hpp>
#include <brisalune/client/core/client.hpp>
#include <brisalune/client/devices/device_registry.hpp>
#include <brisalune/client/devices/devices.hpp>
#include <brisalune/platform/defaults.hpp>
#include <brisalune/push/device_enrolment_notice.hpp>
#include <brisalune/push/notification_center.hpp>
#include <brisalune/push/push_host.hpp>
#include <brisalune/push/push_session.hpp>
#include <brisalune/push/push_tap.hpp>

#include <QByteArray>
#include <QCoroTask>
#include <QObject>
#include <QUuid>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brisalune {

class PushState : public QObject {
    Q_OBJECT

public:
    // The category of every alert notification, and its acknowledge button.
    static constexpr std::string_view alertCategoryIdentifier = "BRISALUNE_ALERT";
    static constexpr std::string_view ackActionIdentifier = "BRISALUNE_ACK";
    static constexpr std::string_view ackActionTitle = "Acknowledge";
    // Where the device token is kept in the user defaults.
    static constexpr std::string_view deviceTokenKey = "brisalune.device-token";
    static constexpr AuthorizationOptions requestedAuthorization{.badge = true, .sound = true, .alert = true};

    // Why a registration runs.
    enum class RegistrationTrigger { automatic, userRequested, settingsRefresh, reconcile };

    // What the state stands on besides its four arguments; each left out is the application's.
    struct Environment {
        std::optional<platform::Defaults> defaults;                  // the standard user defaults
        std::shared_ptr<SessionStoring> keychain;                    // the application's session item
        std::shared_ptr<PushNotificationCenter> notificationCenter;  // the desktop's, on the session bus
    };

    // Reads the stored device token; does nothing else (no permission asked, no settings read).
    // Listens to the host: a new or changed token starts a registration, a failure becomes the
    // registration error.
    PushState(
        std::shared_ptr<PushHost> host,
        bool isEnabled,
        std::shared_ptr<DeviceRegistryStoring> registry,
        std::shared_ptr<PendingAckStoring> pendingAckStore,
        Environment environment = {},
        QObject* parent = nullptr);
    ~PushState() override;

    // ---- observed state ----

    const std::optional<std::string>& deviceTokenHex() const noexcept { return deviceTokenHex_; }
    AuthorizationStatus authorization() const noexcept { return authorization_; }
    // The platform's last refusal to register for remote notifications.
    const std::optional<std::string>& registrationError() const noexcept { return registrationError_; }
    NotificationSetting criticalAlerts() const noexcept { return criticalAlerts_; }
    // The last permission request failed on both tries.
    bool requestFailed() const noexcept { return requestFailed_; }
    bool isRequestingAuthorization() const noexcept { return isRequestingAuthorization_; }
    // The last failed registration of this device with the service.
    const std::optional<std::string>& deviceRegistrationError() const noexcept { return deviceRegistrationError_; }
    const std::optional<DeviceEnrolmentNotice>& deviceEnrolmentNotice() const noexcept {
        return deviceEnrolmentNotice_;
    }
    const std::shared_ptr<PushNotificationCenter>& notificationCenter() const noexcept { return notificationCenter_; }
    // The last tapped notification.
    const std::optional<std::string>& pendingAlertId() const noexcept { return pendingAlertId_; }
    std::optional<std::int64_t> pendingIncidentNumber() const noexcept { return pendingIncidentNumber_; }
    const std::optional<std::string>& pendingAlertTenantId() const noexcept { return pendingAlertTenantId_; }
    const AckFailureReport& ackFailures() const noexcept { return ackFailures_; }
    const PendingAckStandings& ackStandings() const noexcept { return ackStandings_; }
    // None when no model was attached or it is gone.
    std::shared_ptr<PushSession> model() const { return model_.lock(); }

    void setRegistrationError(std::optional<std::string> text);
    void setDeviceRegistrationError(std::optional<std::string> text);
    void setNotificationCenter(std::shared_ptr<PushNotificationCenter> center);
    // Changes the standings in place (the application un-dismisses an alert through it).
    void modifyAckStandings(const std::function<void(PendingAckStandings&)>& change);
    // Attaches the application model, held weakly; always tells observers.
    void setModel(std::weak_ptr<PushSession> model);

    // ---- fixed collaborators and bookkeeping ----

    const std::shared_ptr<PushHost>& host() const noexcept { return host_; }
    // When false, the drain, the end of session, the dismissal and everything about registration
    // do nothing; categories, permission, settings and the token still work.
    bool isEnabled() const noexcept { return isEnabled_; }
    const std::shared_ptr<DeviceRegistryStoring>& registry() const noexcept { return registry_; }
    const std::shared_ptr<PendingAckStoring>& pendingAckStore() const noexcept { return pendingAckStore_; }
    const QUuid& signInGeneration() const noexcept { return signInGeneration_; }
    bool hasReadNotificationSettings() const noexcept { return hasReadNotificationSettings_; }
    // Accounts whose roster was read since the session began.
    const std::set<std::string, std::less<>>& accountsWithSpentRosterRead() const noexcept {
        return accountsWithSpentRosterRead_;
    }
    // Account id to the lowercased token the service confirmed this session.
    const std::map<std::string, std::string, std::less<>>& confirmedRegistrations() const noexcept {
        return confirmedRegistrations_;
    }
    const std::set<std::string, std::less<>>& unregisteringAccounts() const noexcept { return unregisteringAccounts_; }
    // The longest one exchange about this device's registration may take, however steadily its
    // answer comes: as long as an acknowledgement's unless set.
    void setDeviceRequestDeadline(std::chrono::milliseconds deadline) { deviceRequestDeadline_ = deadline; }

    // ---- session ----

    // The local end of a sign-in: a new generation, the acknowledgement session ended (its store
    // emptied, its failures cleared), the last tap forgotten, and the alert notifications
    // withdrawn (not awaited).
    void endSession();
    // Forgets the reported failures for the rest of the session and drops their records.
    void dismissReportedFailures();

    // ---- categories and acknowledgement ----

    // False only when every role is exactly "viewer" (and there is at least one).
    static bool mayAcknowledge(const std::vector<std::string>& roles);
    // Installs the alert category alone, with the acknowledge button unless the roles forbid it.
    void installCategories(const std::vector<std::string>& roles);
    // Retries or reports the stored pending acknowledgements of the signed-in model's session.
    QCoro::Task<> drainPendingAcks(bool retryAll);
    // The module's own acknowledgement, through a client built from the keychain session.
    QCoro::Task<AckAttemptOutcome> acknowledge(
        std::string alertId, std::string title, std::optional<std::string> tenantId);
    // The same, titled as the stored record is (else by the alert id).
    QCoro::Task<AckAttemptOutcome> acknowledge(std::string alertId, std::optional<std::string> tenantId);

    // ---- permission, settings, device token ----

    // One request at a time; a failed request is retried once at once.
    QCoro::Task<> requestPermission();
    // Reads the settings, asks the host for a token when authorized, refreshes the registration.
    QCoro::Task<> refreshNotificationSettings();
    // Reads the settings into the state; never registers anything.
    QCoro::Task<NotificationSettings> refreshSettings();
    // Keeps the token as lowercase hex; true when it differs from the one held before.
    bool didReceiveDeviceToken(const QByteArray& token);
    // Each byte as two lowercase hex digits.
    static std::vector<std::string> tokenHex(const QByteArray& token);

    // ---- taps ----

    void recordTap(const PushTap& tap);

    // ---- registration with the service ----

    // Starts an automatic attempt and, after it, the roster check; returns at once.
    void registerDevice();
    // Starts an attempt, chained behind every earlier one, and yields its result: true when the
    // service holds, or needs no new, registration for the token.
    QCoro::Task<bool> attemptRegistration(RegistrationTrigger trigger);
    // Returns when no attempt is in flight.
    QCoro::Task<> awaitInFlightRegistration();
    // The generation is still the current one and the model is signed in to that account.
    bool isCurrentSignIn(std::string_view accountId, const QUuid& generation) const;
    // Sign-out: takes every token known for the account off the service; false when any failed.
    // Does not wait for an attempt on its way: one that succeeds after it takes its token off.
    QCoro::Task<bool> unregisterDevice(std::shared_ptr<BrisaluneClient> client, std::string accountId);
    // Takes one token off the service and marks the account unregistered.
    QCoro::Task<> unregisterToken(std::string token, std::string accountId, std::shared_ptr<BrisaluneClient> client);
    // At local sign-out.
    void clearDeviceLedger();

    // ---- roster reconciliation ----

    // Runs the roster check, or joins the one running.
    QCoro::Task<> checkEnrolment();
    bool shouldReconcile(std::string_view accountId, std::string_view token, const QUuid& generation) const;
    bool isConfirmed(std::string_view token, std::string_view accountId) const;
    // The decision on one roster.
    QCoro::Task<> reconcile(std::vector<Device> devices, std::string token, std::string accountId, QUuid generation);
    // Returns when no enrolment check and no attempt is running.
    QCoro::Task<> awaitRegistrationSettled();

Q_SIGNALS:
    void deviceTokenHexChanged();
    void authorizationChanged();
    void registrationErrorChanged();
    void criticalAlertsChanged();
    void requestFailedChanged();
    void isRequestingAuthorizationChanged();
    void deviceRegistrationErrorChanged();
    void deviceEnrolmentNoticeChanged();
    void notificationCenterChanged();
    void pendingAlertIdChanged();
    void pendingIncidentNumberChanged();
    void pendingAlertTenantIdChanged();
    void ackFailuresChanged();
    void ackStandingsChanged();
    void modelChanged();

private:
    using Attempt = std::shared_ptr<QCoro::Task<bool>>;
    using Job = std::shared_ptr<QCoro::Task<>>;

    // Stores the value and tells observers, when it differs from the stored one.
    template <class T, class U>
    void assign(T& field, U&& value, void (PushState::*changed)());
    void modifyAckFailures(const std::function<void(AckFailureReport&)>& change);
    void setDeviceEnrolmentNotice(std::optional<DeviceEnrolmentNotice> notice);

    PendingAckDrain::Effects drainEffects(PendingAckStandings::Token token);
    QCoro::Task<AckAttemptOutcome> attemptPending(PendingAck record);
    QCoro::Task<bool> tryRequestAuthorization();

    Attempt startAttempt(RegistrationTrigger trigger);
    QCoro::Task<bool> chainedAttempt(Attempt previous, RegistrationTrigger trigger);
    QCoro::Task<bool> runAttempt(RegistrationTrigger trigger);
    void reportRegistrationFailure(
        const std::exception_ptr& failure,
        const std::string& token,
        const std::string& accountId,
        const QUuid& generation);
    QCoro::Task<> enrolmentFollowUp(Attempt attempt, QUuid generation);
    std::vector<std::string> unregistrationCandidates(std::string_view accountId) const;
    QCoro::Task<> rosterCheck();
    bool modelPresentAndActive() const;
    // The model is signing out of the account, or signed out of it.
    bool isLeaving(std::string_view accountId) const;

    // Observed.
    std::optional<std::string> deviceTokenHex_;
    AuthorizationStatus authorization_ = AuthorizationStatus::notDetermined;
    std::optional<std::string> registrationError_;
    NotificationSetting criticalAlerts_ = NotificationSetting::notSupported;
    bool requestFailed_ = false;
    bool isRequestingAuthorization_ = false;
    std::optional<std::string> deviceRegistrationError_;
    std::optional<DeviceEnrolmentNotice> deviceEnrolmentNotice_;
    std::shared_ptr<PushNotificationCenter> notificationCenter_;
    std::optional<std::string> pendingAlertId_;
    std::optional<std::int64_t> pendingIncidentNumber_;
    std::optional<std::string> pendingAlertTenantId_;
    AckFailureReport ackFailures_;
    PendingAckStandings ackStandings_;
    std::weak_ptr<PushSession> model_;

    // Fixed.
    std::shared_ptr<PushHost> host_;
    bool isEnabled_;
    std::shared_ptr<DeviceRegistryStoring> registry_;
    std::shared_ptr<PendingAckStoring> pendingAckStore_;
    std::optional<platform::Defaults> defaults_;  // none without a home folder
    std::shared_ptr<SessionStoring> keychain_;
    std::chrono::milliseconds deviceRequestDeadline_ = PendingAckCoordinator::requestDeadline;

    // Bookkeeping.
    Attempt inFlight_;
    Job enrolmentTask_;
    Job reconcileTask_;
    std::set<std::string, std::less<>> accountsWithSpentRosterRead_;
    std::map<std::string, std::string, std::less<>> confirmedRegistrations_;
    std::set<std::string, std::less<>> unregisteringAccounts_;
    QUuid signInGeneration_;
    bool hasReadNotificationSettings_ = false;
};

template <class T, class U>
void PushState::assign(T& field, U&& value, void (PushState::*changed)()) {
    if (field == value) return;
    field = std::forward<U>(value);
    Q_EMIT(this->*changed)();
}

}  // namespace brisalune

#include <brisalune/push/freedesktop_notifications.hpp>
#include <brisalune/push/push_state.hpp>

#include <exception>
#include <utility>

namespace brisalune {
namespace {

std::optional<platform::Defaults> standardDefaults() {
    try {
        return platform::Defaults::standard();
    } catch (const std::exception&) {
        return std::nullopt;  // no home folder: no stored token, nowhere to keep one
    }
}

// Withdraws the alert notifications; holds the centre until it is done.
QCoro::Task<> withdrawAlerts(std::shared_ptr<PushNotificationCenter> center) {
    co_await center->removeDelivered(std::string(PushState::alertCategoryIdentifier));
}

}  // namespace

PushState::PushState(
    std::shared_ptr<PushHost> host,
    bool isEnabled,
    std::shared_ptr<DeviceRegistryStoring> registry,
    std::shared_ptr<PendingAckStoring> pendingAckStore,
    Environment environment,
    QObject* parent)
    : QObject(parent)
    , notificationCenter_(
          environment.notificationCenter ? std::move(environment.notificationCenter)
                                         : std::make_shared<FreedesktopNotificationCenter>())
    , host_(std::move(host))
    , isEnabled_(isEnabled)
    , registry_(std::move(registry))
    , pendingAckStore_(std::move(pendingAckStore))
    , defaults_(environment.defaults ? std::move(environment.defaults) : standardDefaults())
    , keychain_(
          environment.keychain ? std::move(environment.keychain)
                               : std::make_shared<KeychainSessionStore>(std::string(KeychainSessionStore::appService)))
    , signInGeneration_(QUuid::createUuid()) {
    if (defaults_) deviceTokenHex_ = defaults_->string(deviceTokenKey);
    connect(host_.get(), &PushHost::deviceTokenReceived, this, [this](const QByteArray& token) {
        if (didReceiveDeviceToken(token)) registerDevice();
    });
    connect(host_.get(), &PushHost::registrationFailed, this, [this](const QString& message) {
        setRegistrationError(message.toStdString());
    });
}

PushState::~PushState() = default;

void PushState::setRegistrationError(std::optional<std::string> text) {
    assign(registrationError_, std::move(text), &PushState::registrationErrorChanged);
}

void PushState::setDeviceRegistrationError(std::optional<std::string> text) {
    assign(deviceRegistrationError_, std::move(text), &PushState::deviceRegistrationErrorChanged);
}

void PushState::setDeviceEnrolmentNotice(std::optional<DeviceEnrolmentNotice> notice) {
    assign(deviceEnrolmentNotice_, std::move(notice), &PushState::deviceEnrolmentNoticeChanged);
}

void PushState::setNotificationCenter(std::shared_ptr<PushNotificationCenter> center) {
    assign(notificationCenter_, std::move(center), &PushState::notificationCenterChanged);
}

void PushState::modifyAckStandings(const std::function<void(PendingAckStandings&)>& change) {
    PendingAckStandings changed = ackStandings_;
    change(changed);
    assign(ackStandings_, std::move(changed), &PushState::ackStandingsChanged);
}

void PushState::modifyAckFailures(const std::function<void(AckFailureReport&)>& change) {
    AckFailureReport changed = ackFailures_;
    change(changed);
    assign(ackFailures_, std::move(changed), &PushState::ackFailuresChanged);
}

void PushState::setModel(std::weak_ptr<PushSession> model) {
    model_ = std::move(model);
    Q_EMIT modelChanged();
}

void PushState::endSession() {
    if (!isEnabled_) return;
    signInGeneration_ = QUuid::createUuid();
    setDeviceEnrolmentNotice(std::nullopt);
    accountsWithSpentRosterRead_.clear();
    confirmedRegistrations_.clear();
    enrolmentTask_.reset();  // dropped, not cancelled: they stop at their next generation check
    reconcileTask_.reset();

    modifyAckStandings([](PendingAckStandings& standings) { standings.endSession(); });
    pendingAckStore_->removeAll();
    modifyAckFailures([](AckFailureReport& report) { report.clear(); });

    assign(pendingAlertId_, std::nullopt, &PushState::pendingAlertIdChanged);
    assign(pendingIncidentNumber_, std::nullopt, &PushState::pendingIncidentNumberChanged);
    assign(pendingAlertTenantId_, std::nullopt, &PushState::pendingAlertTenantIdChanged);

    withdrawAlerts(notificationCenter_);  // runs on by itself
}

void PushState::dismissReportedFailures() {
    if (!isEnabled_) return;
    std::vector<std::string> alertIds;
    for (const PendingAck& record : ackFailures_.records) alertIds.push_back(record.alertId);
    modifyAckStandings([&](PendingAckStandings& standings) { standings.dismiss(alertIds); });
    for (const std::string& alertId : alertIds) pendingAckStore_->remove(alertId);
    modifyAckFailures([](AckFailureReport& report) { report.clear(); });
}

void PushState::recordTap(const PushTap& tap) {
    if (const auto* alert = tap.get<PushTap::Alert>()) {
        assign(pendingIncidentNumber_, std::nullopt, &PushState::pendingIncidentNumberChanged);
        assign(pendingAlertTenantId_, alert->tenantId, &PushState::pendingAlertTenantIdChanged);
        assign(pendingAlertId_, alert->id, &PushState::pendingAlertIdChanged);
    } else if (const auto* incident = tap.get<PushTap::Incident>()) {
        assign(pendingAlertId_, std::nullopt, &PushState::pendingAlertIdChanged);
        assign(pendingAlertTenantId_, incident->tenantId, &PushState::pendingAlertTenantIdChanged);
        assign(pendingIncidentNumber_, incident->number, &PushState::pendingIncidentNumberChanged);
    }
}

}  // namespace brisalune

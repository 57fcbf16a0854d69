#include <brisalune/client/devices/endpoints.hpp>
#include <brisalune/push/await_blocking.hpp>
#include <brisalune/push/push_state.hpp>

#include <algorithm>
#include <exception>

namespace brisalune {

QCoro::Task<> PushState::checkEnrolment() {
    if (!isEnabled_) co_return;
    if (const Job running = reconcileTask_) {  // one check at a time: join it
        co_await *running;
        co_return;
    }
    const Job check = std::make_shared<QCoro::Task<>>(rosterCheck());
    reconcileTask_ = check;
    co_await *check;
    if (reconcileTask_ == check) reconcileTask_.reset();
}

bool PushState::shouldReconcile(std::string_view accountId, std::string_view token, const QUuid& generation) const {
    return isCurrentSignIn(accountId, generation) && modelPresentAndActive() && deviceTokenHex_ == token &&
           !unregisteringAccounts_.contains(accountId) &&
           registry_->enrolment(accountId) != DeviceEnrolment::unregistered;
}

bool PushState::isConfirmed(std::string_view token, std::string_view accountId) const {
    const auto found = confirmedRegistrations_.find(accountId);
    return found != confirmedRegistrations_.end() && found->second == lowercasedDeviceToken(token);
}

QCoro::Task<> PushState::rosterCheck() {
    if (!deviceTokenHex_ || deviceTokenHex_->empty()) co_return;
    const std::string token = *deviceTokenHex_;
    std::shared_ptr<BrisaluneClient> client;
    std::string accountId;
    {
        const std::shared_ptr<PushSession> model = model_.lock();
        if (!model) co_return;
        client = model->accountClient();
        if (!client) co_return;
        const std::optional<StoredSession> session = model->session();
        if (!session) co_return;
        accountId = session->accountId;
        if (model->isTearingDown()) co_return;
    }
    if (registry_->enrolment(accountId) == DeviceEnrolment::unregistered) {
        setDeviceEnrolmentNotice(std::nullopt);
        co_return;
    }
    const QUuid generation = signInGeneration_;
    co_await awaitInFlightRegistration();  // decide on the outcome of every attempt started before
    if (!shouldReconcile(accountId, token, generation) || isConfirmed(token, accountId) ||
        accountsWithSpentRosterRead_.contains(accountId))
        co_return;

    accountsWithSpentRosterRead_.insert(accountId);  // before the request: a failure is not repeated
    const auto fetchRoster = [client, deadline = deviceRequestDeadline_] { return devices(*client, deadline); };
    std::vector<Device> roster;
    try {
        roster = co_await awaitBlocking(fetchRoster);
    } catch (const std::exception&) {
        co_return;  // silent: nothing changes
    }
    co_await reconcile(std::move(roster), token, accountId, generation);
}

QCoro::Task<> PushState::reconcile(
    std::vector<Device> devices, std::string token, std::string accountId, QUuid generation) {
    if (!shouldReconcile(accountId, token, generation)) co_return;
    const bool present = isConfirmed(token, accountId) ||
                         std::ranges::any_of(devices, [&](const Device& d) { return sameDeviceToken(d.token, token); });
    if (present) {
        registry_->rememberToken(token, accountId);
        setDeviceEnrolmentNotice(std::nullopt);
        co_return;
    }
    const bool registered = co_await attemptRegistration(RegistrationTrigger::reconcile);
    // A notice already shown (the service's refusal) is kept.
    if (shouldReconcile(accountId, token, generation) && !registered && !deviceEnrolmentNotice_)
        setDeviceEnrolmentNotice(DeviceEnrolmentNotice{DeviceEnrolmentNotice::NotEnrolled{}});
}

QCoro::Task<> PushState::awaitRegistrationSettled() {
    while (const Job enrolment = enrolmentTask_) {
        co_await *enrolment;
        if (enrolmentTask_ == enrolment) enrolmentTask_.reset();
    }
    co_await awaitInFlightRegistration();
}

}  // namespace brisalune

#include <brisalune/client/devices/endpoints.hpp>
#include <brisalune/push/await_blocking.hpp>
#include <brisalune/push/push_state.hpp>

#include <algorithm>
#include <exception>

namespace brisalune {
namespace {

using Trigger = PushState::RegistrationTrigger;

// Whether the ledger's word on the account ends the attempt before anything is sent.
bool skips(Trigger trigger, DeviceEnrolment enrolment) {
    switch (trigger) {
        case Trigger::userRequested: return false;
        case Trigger::settingsRefresh: return enrolment != DeviceEnrolment::enrolled;  // only refreshes
        case Trigger::automatic:
        case Trigger::reconcile: return enrolment == DeviceEnrolment::unregistered;
    }
    return false;
}

bool forces(Trigger trigger) { return trigger == Trigger::userRequested || trigger == Trigger::reconcile; }

std::string joinedReasons(const std::vector<FieldError>& errors) {
    std::string out;
    for (std::size_t i = 0; i < errors.size(); ++i) out += (i == 0 ? "" : "; ") + errors[i].reason;
    return out;
}

// Takes the token off the account; true when the service no longer has it.
QCoro::Task<bool> takeOffService(
    std::shared_ptr<BrisaluneClient> client, std::string token, std::chrono::milliseconds deadline) {
    const auto remove = [client, token, deadline] { deleteDevice(*client, token, deadline); };
    try {
        co_await awaitBlocking(remove);
    } catch (const BrisaluneError& error) {
        co_return error.is(BrisaluneError::Case::notFound);
    } catch (const std::exception&) {
        co_return false;
    }
    co_return true;
}

}  // namespace

void PushState::registerDevice() {
    if (!isEnabled_) return;
    Attempt attempt = startAttempt(Trigger::automatic);
    enrolmentTask_ = std::make_shared<QCoro::Task<>>(enrolmentFollowUp(std::move(attempt), signInGeneration_));
}

QCoro::Task<bool> PushState::attemptRegistration(RegistrationTrigger trigger) {
    if (!isEnabled_) co_return false;
    const Attempt attempt = startAttempt(trigger);
    co_return co_await *attempt;
}

PushState::Attempt PushState::startAttempt(RegistrationTrigger trigger) {
    Attempt previous = inFlight_;
    inFlight_ = std::make_shared<QCoro::Task<bool>>(chainedAttempt(std::move(previous), trigger));
    return inFlight_;
}

// Attempts run one after another in the order they were started; none is ever cancelled. An
// attempt that fails in any way ends as not registered, so the ones after it still run.
QCoro::Task<bool> PushState::chainedAttempt(Attempt previous, RegistrationTrigger trigger) {
    if (previous) co_await *previous;
    try {
        co_return co_await runAttempt(trigger);
    } catch (const std::exception&) {
        co_return false;
    }
}

QCoro::Task<> PushState::enrolmentFollowUp(Attempt attempt, QUuid generation) {
    co_await *attempt;
    if (signInGeneration_ == generation) co_await checkEnrolment();
}

QCoro::Task<> PushState::awaitInFlightRegistration() {
    while (const Attempt attempt = inFlight_) {
        co_await *attempt;
        if (inFlight_ == attempt) inFlight_.reset();
    }
}

bool PushState::isCurrentSignIn(std::string_view accountId, const QUuid& generation) const {
    if (generation != signInGeneration_) return false;
    const std::shared_ptr<PushSession> model = model_.lock();
    if (!model) return false;
    const std::optional<StoredSession> session = model->session();
    return session && session->accountId == accountId;
}

bool PushState::modelPresentAndActive() const {
    const std::shared_ptr<PushSession> model = model_.lock();
    return model && !model->isTearingDown();
}

bool PushState::isLeaving(std::string_view accountId) const {
    const std::shared_ptr<PushSession> model = model_.lock();
    if (!model) return false;  // the program is ending, not the sign-in
    const std::optional<StoredSession> session = model->session();
    return model->isTearingDown() || !session || session->accountId != accountId;
}

QCoro::Task<bool> PushState::runAttempt(RegistrationTrigger trigger) {
    if (!deviceTokenHex_) co_return false;
    const std::string token = *deviceTokenHex_;
    std::shared_ptr<BrisaluneClient> client;
    std::string accountId;
    {
        const std::shared_ptr<PushSession> model = model_.lock();
        if (!model) co_return false;
        client = model->accountClient();
        if (!client) co_return false;
        const std::optional<StoredSession> session = model->session();
        if (!session) co_return false;
        accountId = session->accountId;
        if (model->isTearingDown()) co_return false;
    }
    if (unregisteringAccounts_.contains(accountId)) co_return false;
    if (skips(trigger, registry_->enrolment(accountId))) co_return true;

    const QUuid generation = signInGeneration_;
    if (!hasReadNotificationSettings_) co_await refreshSettings();  // the critical-alert flag must be known
    if (!isCurrentSignIn(accountId, generation) || !modelPresentAndActive() ||
        unregisteringAccounts_.contains(accountId))
        co_return false;

    const bool criticalAlerts = criticalAlerts_ == NotificationSetting::enabled;
    if (!registry_->needsRegistration(token, accountId, criticalAlerts, forces(trigger))) {
        registry_->rememberToken(token, accountId);
        co_return true;
    }

    bool registered = false;
    std::exception_ptr failure;
    const auto send = [client, token, platform = host_->platform(), criticalAlerts, deadline = deviceRequestDeadline_] {
        return brisalune::registerDevice(*client, token, platform, criticalAlerts, deadline);
    };
    try {
        registered = co_await awaitBlocking(send);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        reportRegistrationFailure(failure, token, accountId, generation);
        co_return false;
    }
    if (!registered) co_return false;
    // The account was left while this was on its way: its sign-out did not wait, so this may
    // have reached the service after the sign-out's own removal.
    if (isLeaving(accountId)) {
        if (const std::shared_ptr<PushSession> model = model_.lock()) client = model->clientForTakingBack(client);
        if (!co_await takeOffService(client, token, deviceRequestDeadline_))
            registry_->rememberToken(token, accountId);  // the account's next sign-out tries again
        co_return true;
    }
    if (isCurrentSignIn(accountId, generation)) {
        registry_->recordRegistration(token, accountId, criticalAlerts);
        confirmedRegistrations_.insert_or_assign(accountId, lowercasedDeviceToken(token));
        setDeviceEnrolmentNotice(std::nullopt);
        setDeviceRegistrationError(std::nullopt);
    }
    co_return true;  // a late success after a sign-out records nothing and still counts
}

void PushState::reportRegistrationFailure(
    const std::exception_ptr& failure,
    const std::string& token,
    const std::string& accountId,
    const QUuid& generation) {
    if (!isCurrentSignIn(accountId, generation) || !modelPresentAndActive() || deviceTokenHex_ != token) return;
    try {
        std::rethrow_exception(failure);
    } catch (const BrisaluneError& error) {
        setDeviceRegistrationError(error.errorDescription());
        if (!token.empty() && error.is(BrisaluneError::Case::validation))
            setDeviceEnrolmentNotice(
                DeviceEnrolmentNotice{DeviceEnrolmentNotice::Refused{joinedReasons(error.fieldErrors())}});
    } catch (const std::exception& error) {
        setDeviceRegistrationError(error.what());
    }
}

std::vector<std::string> PushState::unregistrationCandidates(std::string_view accountId) const {
    std::vector<std::string> candidates;
    if (deviceTokenHex_) candidates.push_back(*deviceTokenHex_);
    for (std::string& token : registry_->tokens(accountId)) {
        const bool listed =
            std::ranges::any_of(candidates, [&](const std::string& c) { return sameDeviceToken(c, token); });
        if (!listed) candidates.push_back(std::move(token));
    }
    return candidates;
}

QCoro::Task<bool> PushState::unregisterDevice(std::shared_ptr<BrisaluneClient> client, std::string accountId) {
    if (!isEnabled_) co_return true;
    // No wait for an attempt on its way (a silent service would hold the sign-out with it): one
    // that succeeds after this takes its token off again itself.
    bool allRemoved = true;
    for (const std::string& token : unregistrationCandidates(accountId)) {
        if (co_await takeOffService(client, token, deviceRequestDeadline_)) {
            registry_->forgetToken(token, accountId);
        } else {
            allRemoved = false;  // it stays listed, for the next sign-out
        }
    }
    co_return allRemoved;
}

QCoro::Task<> PushState::unregisterToken(
    std::string token, std::string accountId, std::shared_ptr<BrisaluneClient> client) {
    unregisteringAccounts_.insert(accountId);
    co_await awaitInFlightRegistration();
    const DeviceEnrolment before = registry_->enrolment(accountId);
    const auto remove = [client, token, deadline = deviceRequestDeadline_] { deleteDevice(*client, token, deadline); };
    bool removed = true;
    try {
        co_await awaitBlocking(remove);
    } catch (const std::exception&) {
        removed = false;  // not reported
    }
    const bool signedOutMeanwhile =
        before != DeviceEnrolment::never && registry_->enrolment(accountId) == DeviceEnrolment::never;
    if (removed && !signedOutMeanwhile) {
        registry_->markUnregistered(accountId);
        setDeviceEnrolmentNotice(std::nullopt);
        if (const auto found = confirmedRegistrations_.find(accountId); found != confirmedRegistrations_.end())
            confirmedRegistrations_.erase(found);
        if (isEnabled_) registry_->forgetToken(token, accountId);
    }
    if (const auto found = unregisteringAccounts_.find(accountId); found != unregisteringAccounts_.end())
        unregisteringAccounts_.erase(found);
}

void PushState::clearDeviceLedger() {
    if (isEnabled_) registry_->clearLedger();
}

}  // namespace brisalune

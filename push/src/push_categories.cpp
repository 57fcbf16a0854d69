#include <brisalune/push/await_blocking.hpp>
#include <brisalune/push/keychain_backed_client.hpp>
#include <brisalune/push/push_state.hpp>

#include <algorithm>

namespace brisalune {
namespace {

// The role that loses the acknowledge button.
constexpr std::string_view viewerRole = "viewer";

}  // namespace

bool PushState::mayAcknowledge(const std::vector<std::string>& roles) {
    return roles.empty() || std::ranges::any_of(roles, [](const std::string& role) { return role != viewerRole; });
}

void PushState::installCategories(const std::vector<std::string>& roles) {
    std::vector<NotificationAction> actions;
    if (mayAcknowledge(roles)) actions.push_back({std::string(ackActionIdentifier), std::string(ackActionTitle)});
    notificationCenter_->setCategories(
        {NotificationCategory{std::string(alertCategoryIdentifier), std::move(actions)}});
}

PendingAckDrain::Effects PushState::drainEffects(PendingAckStandings::Token token) {
    return {
        // The live standings at every call: they may change while an attempt is awaited.
        .standing = [this, token](const std::string& alertId) { return ackStandings_.standing(alertId, token); },
        .attempt = {},
        .discardAttempt =
            [this](const std::string& alertId, const AckAttemptOutcome& outcome) {
                if (const auto* held = outcome.get<AckAttemptOutcome::Held>())
                    pendingAckStore_->removeUnchanged(alertId, held->record);
            },
        .report = [this](const PendingAck& record) { modifyAckFailures([&](auto& report) { report.record(record); }); },
        .clearReport =
            [this](const std::string& alertId) { modifyAckFailures([&](auto& report) { report.remove(alertId); }); },
    };
}

QCoro::Task<> PushState::drainPendingAcks(bool retryAll) {
    if (!isEnabled_) co_return;
    std::string currentTenantId;
    {
        const std::shared_ptr<PushSession> model = model_.lock();
        if (!model || !model->isSignedIn()) co_return;
        const std::optional<StoredSession> session = model->session();
        if (!session || !session->activeTenantId) co_return;
        currentTenantId = *session->activeTenantId;
    }
    const PendingAckStandings::Token token = ackStandings_.token();
    PendingAckDrain::Walk walk(pendingAckStore_->all(), currentTenantId, retryAll);
    const PendingAckDrain::Effects effects = drainEffects(token);
    while (auto record = walk.next(effects)) walk.settle(co_await attemptPending(std::move(*record)), effects);

    if (ackStandings_.generation != token.generation) co_return;  // the session ended meanwhile
    std::set<std::string, std::less<>> stored;
    for (const PendingAck& record : pendingAckStore_->all()) stored.insert(record.alertId);
    modifyAckFailures([&](AckFailureReport& report) { report.prune(stored); });
}

QCoro::Task<AckAttemptOutcome> PushState::attemptPending(PendingAck record) {
    if (const std::shared_ptr<PushSession> model = model_.lock())
        co_return co_await model->acknowledge(record.alertId, record.title, pendingAckStore_);
    co_return co_await acknowledge(record.alertId, record.title, std::nullopt);
}

QCoro::Task<AckAttemptOutcome> PushState::acknowledge(
    std::string alertId, std::string title, std::optional<std::string> tenantId) {
    const auto attempt = [alertId, title, tenantId, store = pendingAckStore_, keychain = keychain_] {
        const std::optional<std::string> tenant = PendingAckCoordinator::tenantId(alertId, tenantId, *store);
        const auto [client, served] = KeychainBackedClient::clientForTenant(tenant, *keychain);
        const std::string used = tenant ? *tenant : served.value_or("");
        return PendingAckCoordinator::attempt(alertId, used, title, client.get(), *store);
    };
    co_return co_await awaitBlocking(attempt);
}

QCoro::Task<AckAttemptOutcome> PushState::acknowledge(std::string alertId, std::optional<std::string> tenantId) {
    const std::optional<PendingAck> stored = pendingAckStore_->get(alertId);
    std::string title = stored ? stored->title : alertId;
    co_return co_await acknowledge(std::move(alertId), std::move(title), std::move(tenantId));
}

}  // namespace brisalune

#include <brisalune/push/await_blocking.hpp>
#include <brisalune/push/keychain_backed_client.hpp>
#include <brisalune/push/push_state.hpp>

#include <algorithm>
#include <utility>

namespace brisalune {
namespace {

// The role that loses the acknowledge button.
constexpr std::string_view viewerRole = "viewer";

// A record begun with no team takes the one whose key the keychain gave, as its attempt does.
void nameTeam(PendingAckCoordinator::Preflight& preflight, const std::string& team, PendingAckStoring& store) {
    PendingAck named = preflight.record;
    named.tenantId = team;
    if (preflight.written &&
        store.replace(named.alertId, preflight.record, named) != PendingAckStoring::Replaced::written)
        return;  // overtaken or unwritable: the attempt settles against what stands
    preflight.record = std::move(named);
}

// The record, then the keychain's session, in one job on the local pool: a keyring that does
// not answer holds an acknowledgement that is already on disk.
std::pair<PendingAckCoordinator::Preflight, std::shared_ptr<BrisaluneClient>> beginFromKeychain(
    const std::string& alertId,
    const std::string& title,
    const std::optional<std::string>& tenantId,
    PendingAckStoring& store,
    SessionStoring& keychain) {
    const std::optional<std::string> tenant = PendingAckCoordinator::tenantId(alertId, tenantId, store);
    PendingAckCoordinator::Preflight preflight =
        PendingAckCoordinator::begin(alertId, tenant.value_or(""), title, store);
    auto [client, served] = KeychainBackedClient::clientForTenant(tenant, keychain);
    if (!tenant && served) nameTeam(preflight, *served, store);
    return {std::move(preflight), std::move(client)};
}

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
    const std::shared_ptr<PendingAckStoring> store = pendingAckStore_;
    const auto begin = [alertId, title, tenantId, store, keychain = keychain_] {
        return beginFromKeychain(alertId, title, tenantId, *store, *keychain);
    };
    const auto begun = co_await awaitBlocking(begin, &localPool());
    const auto finish = [begun, store] {
        return PendingAckCoordinator::finish(begun.first, begun.second.get(), *store);
    };
    co_return co_await awaitBlocking(finish);
}

QCoro::Task<AckAttemptOutcome> PushState::acknowledge(std::string alertId, std::optional<std::string> tenantId) {
    const std::optional<PendingAck> stored = pendingAckStore_->get(alertId);
    std::string title = stored ? stored->title : alertId;
    co_return co_await acknowledge(std::move(alertId), std::move(title), std::move(tenantId));
}

}  // namespace brisalune

// Team selection, the active team's alerts and acknowledgements.

#include <brisalune/app/model/mac_model.hpp>

#include <brisalune/client/alerts/endpoints.hpp>
#include <brisalune/client/alerts/open_alerts.hpp>
#include <brisalune/client/team/endpoints.hpp>
#include <brisalune/platform/text.hpp>
#include <brisalune/push/await_blocking.hpp>
#include <brisalune/push/push_state.hpp>

#include <QScopeGuard>

#include <algorithm>
#include <utility>

namespace brisalune {

namespace {

bool isAcknowledged(const AckAttemptOutcome& outcome) {
    return outcome.get<AckAttemptOutcome::Acknowledged>() != nullptr;
}

// The two halves of an attempt, each a blocking job: the preflight record is written by the
// first, on the local pool, so that whatever comes between them (a key's issue, a wait for a
// thread of the network pool) happens with it on disk.
QCoro::Task<PendingAckCoordinator::Preflight> beginAttempt(
    std::string alertId, std::string tenantId, std::string title, std::shared_ptr<PendingAckStoring> store) {
    const auto begin = [alertId, tenantId, title, store] {
        return PendingAckCoordinator::begin(alertId, tenantId, title, *store);
    };
    co_return co_await awaitBlocking(begin, &localPool());
}

}  // namespace

// ---- teams ----

QCoro::Task<std::optional<TenantKey>> MacModel::issueTenantKey(std::string tenantId) {
    const std::shared_ptr<BrisaluneClient> client = accountClient_;
    const auto issue = [client, tenantId] { return issueKey(*client, tenantId); };
    const IssuedKey issued = co_await awaitBlocking(issue);
    co_return TenantKey{.keyId = issued.id, .apiKey = issued.apiKey, .tenantId = tenantId};
}

bool MacModel::needsKeyIssue(std::string_view tenantId) const {
    return session_ && !session_->tenantKeys.contains(tenantId) && !session_->hasOwnHost(tenantId);
}

QCoro::Task<> MacModel::selectTenant(std::string tenantId) {
    if (!life_->isLive()) co_return;
    if (!accountClient_ || !session_) co_return;
    const std::string sessionToken = session_->sessionToken;
    const StoredSession asked = *session_;
    const std::uint64_t choice = ++tenantChoices_;
    const auto superseded = [this, choice] { return choice != tenantChoices_; };

    // A team on a host of its own gets its key from the box sign-in, not here.
    std::optional<TenantKey> issued;
    std::optional<KeyIssue> issue;
    if (needsKeyIssue(tenantId)) {
        issue.emplace(*this);
        bool unauthorized = false;
        try {
            issued = co_await issueTenantKey(tenantId);
        } catch (const BrisaluneError& error) {
            setLastError(error.errorDescription());
            unauthorized = error.is(BrisaluneError::Case::unauthorized);
        } catch (const std::exception& error) {
            setLastError(error.what());
        }
        if (!issued) {
            issue.reset();
            // Refused for the session itself: the account refresh asks again, and signs out
            // when the service no longer knows the session.
            if (unauthorized && sessionStillHas(sessionToken)) co_await refreshAccount();
            co_return;
        }
    }
    if (!sessionStillHas(sessionToken)) {
        // Signed out, or signing out, meanwhile: the sign-out's revocation never saw this key.
        if (issued) co_await revokeUnheldKey(asked, tenantId, *issued);
        co_return;
    }

    // A team chosen after this one while its key was on its way stays active: this choice only
    // keeps the key it was given.
    if (superseded() && !issued) co_return;
    StoredSession updated = *session_;
    if (issued) updated.tenantKeys.insert_or_assign(tenantId, *issued);
    if (!superseded()) updated.activeTenantId = tenantId;
    if (!co_await storeSession(updated)) {
        if (issued) co_await revokeUnheldKey(asked, tenantId, *issued);
        co_return;
    }
    issue.reset();
    if (superseded()) co_return;
    setPhase(Phase::signedIn);
    setOpenAlerts({});
    setAlertsError(std::nullopt);
    co_await refreshAlerts();
}

// ---- alerts ----

QCoro::Task<> MacModel::refresh() {
    co_await rereadUnreadableSession();
    if (session_ && !membershipsKnown_) co_await refreshAccount();
    co_await refreshAlerts();
    // An acknowledgement held since it was pressed (the network not back yet after a resume, the
    // service down a moment) goes again now, not at the app's next start, days or weeks away.
    if (drainingAcks_) co_return;
    drainingAcks_ = true;
    const auto drained = qScopeGuard([this] { drainingAcks_ = false; });
    co_await pushState_.drainPendingAcks(false);
}

QCoro::Task<> MacModel::refreshAlerts() {
    if (!session_ || !session_->activeTenantId) {
        setOpenAlerts({});
        co_return;
    }
    const std::string tenantId = *session_->activeTenantId;
    const std::shared_ptr<BrisaluneClient> teamClient = client(tenantId);
    if (!teamClient) {
        setOpenAlerts({});
        co_return;
    }

    const auto fullPull = [teamClient] { return OpenAlerts::merge(pull(*teamClient, 0, 0).alerts); };
    std::optional<std::vector<AlertSnapshot>> open;
    std::string failure;
    bool unauthorized = false;
    try {
        open = co_await awaitBlocking(fullPull);
    } catch (const BrisaluneError& error) {
        failure = error.errorDescription();
        unauthorized = error.is(BrisaluneError::Case::unauthorized);
    } catch (const std::exception& error) {
        failure = error.what();
    }
    // A late answer for a team that is no longer the active one changes nothing.
    if (!session_ || session_->activeTenantId != tenantId) co_return;
    if (open) {
        setOpenAlerts(std::move(*open));
        setAlertsError(std::nullopt);
        Q_EMIT alertsPulled(tenantId);
        co_return;
    }
    setAlertsError(failure);
    // A hosted team's key refused: the service may have ended the whole session, which the
    // account refresh finds out and signs out of.
    if (unauthorized && !session_->hasOwnHost(tenantId)) co_await refreshAccount();
}

QCoro::Task<AckAttemptOutcome> MacModel::acknowledge(
    std::string alertId, std::string title, std::shared_ptr<PendingAckStoring> store) {
    const AckAttemptOutcome overtaken{AckAttemptOutcome::Overtaken{std::nullopt}};
    const AckSession taken = ackSession();
    // Written now, a record would outlive the sign-out's clear, for the next account to send.
    if (!goesOn(taken)) co_return overtaken;
    // Sent again beside the press, the press would be overtaken and never say it was held.
    if (pressedAcks_.contains(alertId)) co_return overtaken;
    store = taken.gate->over(std::move(store));
    const std::optional<std::string> fallback = session_ ? session_->activeTenantId : std::nullopt;
    const std::optional<std::string> tenantId = PendingAckCoordinator::tenantId(alertId, fallback, *store);
    const std::shared_ptr<BrisaluneClient> teamClient = tenantId ? client(*tenantId) : nullptr;
    // In two jobs: the record is not to wait for a thread behind held requests.
    const PendingAckCoordinator::Preflight preflight =
        co_await beginAttempt(alertId, tenantId.value_or(""), title, store);
    const std::optional<AckAttemptOutcome> outcome = co_await sendAttempt(preflight, teamClient, store, taken);
    if (!outcome) co_return overtaken;
    if (isAcknowledged(*outcome)) co_await refreshAlerts();
    co_return *outcome;
}

MacModel::AckSession MacModel::ackSession() const { return {.gate = ackGate_, .life = life_}; }

bool MacModel::goesOn(const AckSession& taken) { return taken.life->isLive() && !taken.gate->isClosed(); }

QCoro::Task<std::optional<AckAttemptOutcome>> MacModel::sendAttempt(
    PendingAckCoordinator::Preflight preflight,
    std::shared_ptr<BrisaluneClient> teamClient,
    std::shared_ptr<PendingAckStoring> store,
    AckSession taken) {
    // Looked at once the record is written (it may have waited for the settings file) and the
    // key has come, on the thread that sends: nothing goes out for a session that no longer sends.
    const auto finish = [preflight, teamClient, store, taken]() -> std::optional<AckAttemptOutcome> {
        if (!goesOn(taken)) return std::nullopt;
        return PendingAckCoordinator::finish(preflight, teamClient.get(), *store);
    };
    co_return co_await awaitBlocking(finish);
}

// ---- from a notification ----

std::string MacModel::notificationAckTitle(const std::string& alertId) const {
    if (const std::optional<PendingAck> stored = pushState_.pendingAckStore()->get(alertId)) return stored->title;
    const auto open = std::ranges::find(openAlerts_, alertId, &AlertSnapshot::id);
    if (open != openAlerts_.end()) return open->rule;
    return alertId;
}

QCoro::Task<std::shared_ptr<BrisaluneClient>> MacModel::clientIssuingKey(std::string tenantId) {
    if (std::shared_ptr<BrisaluneClient> existing = client(tenantId)) co_return existing;
    // A hosted team that was never selected has no key yet: issue it as selecting the team
    // would. A team on a box waits for the box sign-in instead.
    if (!needsKeyIssue(tenantId) || !accountClient_ || !life_->isLive()) co_return std::shared_ptr<BrisaluneClient>();
    const StoredSession asked = *session_;
    KeyIssue issue(*this);
    std::optional<TenantKey> issued;
    try {
        issued = co_await issueTenantKey(tenantId);
    } catch (const std::exception&) {
        co_return std::shared_ptr<BrisaluneClient>();
    }
    // Kept only by the session it was issued for, and never once its sign-out has begun: the
    // sign-out waits for this, so the revocation still goes with a working session token.
    bool kept = false;
    if (sessionStillHas(asked.sessionToken)) {
        StoredSession updated = *session_;
        updated.tenantKeys.insert_or_assign(tenantId, *issued);
        kept = co_await storeSession(updated);
    }
    if (!kept) {
        co_await revokeUnheldKey(asked, tenantId, *issued);
        co_return std::shared_ptr<BrisaluneClient>();
    }
    co_return client(tenantId);
}

QCoro::Task<MacModel::NotificationAck> MacModel::acknowledgeFromNotification(
    std::string alertId, std::optional<std::string> tenantId) {
    using Refused = NotificationAck::Refused;
    co_await ensureLaunched();
    // A keychain that could not be read at launch may answer now (unlocked since).
    co_await rereadUnreadableSession();
    if (!session_) co_return NotificationAck{Refused{Refused::Why::notSignedIn}};
    // A press while a sign-out runs, or waits to be finished, would be stored after its clear, for
    // the next account to send.
    if (!life_->isLive()) co_return NotificationAck{Refused{Refused::Why::signingOut}};
    const std::optional<std::string> activeTenantId = session_->activeTenantId;
    // An empty team is none named, as in a stored record (a failure notice carries the record's).
    const std::optional<std::string> team = tenantId && !tenantId->empty() ? tenantId : activeTenantId;
    if (!team) co_return NotificationAck{Refused{Refused::Why::noTeam}};
    if (std::ranges::find(memberships_, *team, &Membership::tenantId) == memberships_.end())
        co_return NotificationAck{Refused{membershipsKnown_ ? Refused::Why::notAMember : Refused::Why::teamsUnknown}};

    const std::string title = platform::shortened(notificationAckTitle(alertId), PendingAck::maxTextBytes);
    const AckSession taken = ackSession();
    const std::shared_ptr<PendingAckStoring> store = taken.gate->over(pushState_.pendingAckStore());
    if (session_->hasOwnHost(*team) && !session_->tenantKeys.contains(*team)) {
        const PendingAck queued{
            .alertId = alertId,
            .tenantId = *team,
            .title = title,
            .attempts = 0,
            .lastError = std::string(boxSignInNeededText),
            .verdict = AckFailureVerdict::retryable};
        const auto queue = [store, queued] { return store->put(queued); };
        const bool kept = co_await awaitBlocking(queue, &localPool());
        // A sign-out begun meanwhile takes the record, or closed the gate before it was written.
        if (!goesOn(taken)) co_return NotificationAck{Refused{Refused::Why::signedOut}};
        if (!kept) {
            const AckAttemptOutcome lost{PendingAckCoordinator::notKept(queued)};
            co_return NotificationAck{NotificationAck::Attempted{lost}};
        }
        co_return NotificationAck{NotificationAck::QueuedForBoxSignIn{}};
    }

    // Marked before the record is written, so that no drain finds the record unmarked until the
    // press has settled it.
    const auto pressed = pressedAcks_.insert(alertId);
    const auto settled = qScopeGuard([this, pressed] { pressedAcks_.erase(pressed); });
    // On disk before the key is issued: a process that dies meanwhile leaves it to the drain.
    const PendingAckCoordinator::Preflight preflight = co_await beginAttempt(alertId, *team, title, store);
    std::shared_ptr<BrisaluneClient> teamClient = co_await clientIssuingKey(*team);
    // No key could be had: the attempt is held as missing its key, to be told and retried.
    if (!teamClient && session_) teamClient = sessionClient(session_->hostForTenant(*team), std::nullopt, std::nullopt);
    const std::optional<AckAttemptOutcome> outcome = co_await sendAttempt(preflight, teamClient, store, taken);
    // Overtaken by a sign-out, whose clear takes the record now or when it is finished.
    if (!outcome) co_return NotificationAck{Refused{Refused::Why::signedOut}};
    if (isAcknowledged(*outcome) && team == activeTenantId) co_await refreshAlerts();
    co_return NotificationAck{NotificationAck::Attempted{*outcome}};
}

}  // namespace brisalune

#include <brisalune/client/alerts/endpoints.hpp>
#include <brisalune/client/alerts/pending_ack.hpp>
#include <brisalune/client/alerts/pending_ack_store.hpp>
#include <brisalune/client/core/client.hpp>

#include <algorithm>
#include <exception>
#include <utility>

namespace brisalune {
namespace {

using Outcome = AckAttemptOutcome;

// Ids the service issues are long lower-case hexadecimal: a notFound for one of those is more
// likely a lagging replica than a missing alert.
bool looksIssued(std::string_view alertId) {
    return alertId.size() >= 16 && std::all_of(alertId.begin(), alertId.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

// Two consecutive reads that agree: another process may be rewriting the record.
std::optional<PendingAck> settledRead(const PendingAckStoring& store, std::string_view alertId) {
    std::optional<PendingAck> earlier = store.get(alertId);
    for (;;) {
        std::optional<PendingAck> later = store.get(alertId);
        if (later == earlier) return later;
        earlier = std::move(later);
    }
}

class Attempt {
public:
    Attempt(std::string_view alertId, std::string_view tenantId, std::string_view title, PendingAckStoring& store)
        : alertId_(alertId), title_(title), store_(store), held_(settledRead(store, alertId)) {
        preflight_ = PendingAck{
            .alertId = alertId_,
            .tenantId = held_ && !held_->tenantId.empty() ? held_->tenantId : std::string(tenantId),
            .title = title_,
            .attempts = held_ ? held_->attempts + 1 : 1,
            .lastError = held_ ? held_->lastError : std::string(PendingAckCoordinator::inProgressText),
            .verdict = held_ ? held_->verdict : AckFailureVerdict::retryable,
        };
        preflightWritten_ = store_.put(preflight_);
    }

    // Nothing was sent: the held failure stands, or `text` for a new record.
    Outcome settleUnsent(std::string_view text) {
        if (held_) return settle(held_->lastError, held_->verdict);
        return settle(std::string(text), AckFailureVerdict::retryable);
    }

    Outcome send(const BrisaluneClient& client) {
        try {
            AlertSnapshot alert = acknowledge(client, alertId_);
            store_.remove(alertId_);
            return {Outcome::Acknowledged{std::move(alert)}};
        } catch (const BrisaluneError& error) {
            return failed(error);
        } catch (const std::exception& error) {
            return settle(error.what(), AckFailureVerdict::retryable);
        } catch (...) {
            return settle("The operation couldn't be completed.", AckFailureVerdict::retryable);
        }
    }

private:
    Outcome failed(const BrisaluneError& error) {
        const AckFailureVerdict verdict = ackVerdict(error);
        if (verdict != AckFailureVerdict::gone) return settle(error.errorDescription(), verdict);
        if (looksIssued(alertId_)) return settle(error.errorDescription(), AckFailureVerdict::retryable);
        store_.remove(alertId_);
        return {Outcome::Gone{}};
    }

    // Writes the result only over our own preflight record.
    Outcome settle(std::string message, AckFailureVerdict verdict) {
        PendingAck result{
            .alertId = alertId_,
            .tenantId = preflight_.tenantId,
            .title = title_,
            .attempts = preflight_.attempts,
            .lastError = std::move(message),
            .verdict = verdict,
        };
        if (store_.replace(alertId_, preflight_, result)) return {Outcome::Held{std::move(result)}};
        // The preflight never reached the store, so nobody overtook us: the failure must still
        // reach the user rather than read as "nothing left".
        if (!preflightWritten_) {
            store_.put(result);
            return {Outcome::Held{std::move(result)}};
        }
        return {Outcome::Overtaken{store_.get(alertId_)}};
    }

    std::string alertId_;
    std::string title_;
    PendingAckStoring& store_;
    std::optional<PendingAck> held_;
    PendingAck preflight_;
    bool preflightWritten_ = false;
};

}  // namespace

std::optional<std::string> PendingAckCoordinator::tenantId(
    std::string_view alertId, std::optional<std::string> fallback, const PendingAckStoring& store) {
    if (auto record = store.get(alertId); record && !record->tenantId.empty()) return std::move(record->tenantId);
    return fallback;
}

AckAttemptOutcome PendingAckCoordinator::attempt(
    std::string_view alertId,
    std::string_view tenantId,
    std::string_view title,
    const BrisaluneClient* client,
    PendingAckStoring& store) noexcept {
    Attempt attempt(alertId, tenantId, title, store);
    if (!client) return attempt.settleUnsent(notSignedInText);
    if (!client->hasDataKey()) return attempt.settleUnsent(noTenantKeyText);
    return attempt.send(*client);
}

}  // namespace brisalune

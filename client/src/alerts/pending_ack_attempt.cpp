#include <brisalune/client/alerts/endpoints.hpp>
#include <brisalune/client/alerts/pending_ack.hpp>
#include <brisalune/client/alerts/pending_ack_store.hpp>
#include <brisalune/client/core/client.hpp>
#include <brisalune/platform/text.hpp>

#include <algorithm>
#include <array>
#include <cstddef>
#include <exception>
#include <limits>
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

// A count read from the file may be anything; at its limit it stays there.
std::int64_t nextAttempt(std::int64_t attempts) {
    return attempts < std::numeric_limits<std::int64_t>::max() ? attempts + 1 : attempts;
}

// The record as a final failure whose text starts with `first`, so that its report shows both.
PendingAck toldAsFinal(PendingAck record, std::string_view first) {
    record.lastError = platform::shortened(std::string(first) + "\n" + record.lastError, PendingAck::maxTextBytes);
    record.verdict = AckFailureVerdict::final;
    return record;
}

// Settles the record that a preflight began.
class Attempt {
public:
    Attempt(const PendingAckCoordinator::Preflight& preflight, PendingAckStoring& store)
        : preflight_(preflight), alertId_(preflight.record.alertId), store_(store) {}

    // Nothing was sent: the held failure stands, or `text` for a new record.
    Outcome settleUnsent(std::string_view text) {
        if (preflight_.held) return settle(preflight_.held->lastError, preflight_.held->verdict);
        return settle(std::string(text), AckFailureVerdict::retryable);
    }

    Outcome send(const BrisaluneClient& client, std::chrono::milliseconds deadline) {
        delivery_ = AckDelivery::unconfirmed;
        try {
            AlertSnapshot alert = acknowledge(client, alertId_, deadline);
            store_.remove(alertId_);  // a record left behind only asks the service again
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
        // A transport failure or an answer that cannot be read says nothing of what the service did.
        if (!error.is(BrisaluneError::Case::transport) && !error.is(BrisaluneError::Case::invalidResponse))
            delivery_ = AckDelivery::refused;
        const AckFailureVerdict verdict = ackVerdict(error);
        if (verdict != AckFailureVerdict::gone) return settle(error.errorDescription(), verdict);
        if (looksIssued(alertId_)) return settle(error.errorDescription(), AckFailureVerdict::retryable);
        store_.remove(alertId_);
        return {Outcome::Gone{}};
    }

    // Writes the result only over our own preflight record.
    Outcome settle(std::string_view message, AckFailureVerdict verdict) {
        PendingAck result = preflight_.record;
        result.lastError = platform::shortened(message, PendingAck::maxTextBytes);
        result.verdict = verdict;
        const PendingAckStoring::Replaced replaced = store_.replace(alertId_, preflight_.record, result);
        if (replaced == PendingAckStoring::Replaced::written) return {Outcome::Held{std::move(result)}};
        if (!preflight_.written) return unrecorded(std::move(result));
        if (replaced == PendingAckStoring::Replaced::failed) return notSaved(std::move(result));
        return {Outcome::Overtaken{store_.get(alertId_)}};
    }

    // The preflight stands, so the acknowledgement is retried; the person hears of this failure now.
    Outcome notSaved(PendingAck result) const {
        return {Outcome::NotSaved{toldAsFinal(std::move(result), PendingAckCoordinator::notSavedText(delivery_))}};
    }

    // The preflight never reached the store, so nobody overtook us: the failure is held when it
    // can be written now, or when an earlier record of the alert still stands (it is retried);
    // otherwise nothing keeps it and the user must hear exactly that.
    Outcome unrecorded(PendingAck result) {
        if (store_.put(result)) return {Outcome::Held{std::move(result)}};
        if (std::optional<PendingAck> standing = store_.get(alertId_)) return {Outcome::Held{std::move(*standing)}};
        return {PendingAckCoordinator::notKept(std::move(result), delivery_)};
    }

    const PendingAckCoordinator::Preflight& preflight_;
    const std::string& alertId_;
    PendingAckStoring& store_;
    AckDelivery delivery_ = AckDelivery::unsent;
};

// The first words of a failure told to the user, by AckDelivery.
constexpr std::array<std::string_view, 3> deliveryTexts{
    "The acknowledgement was not sent",
    "The service refused the acknowledgement",
    "The service did not confirm the acknowledgement",
};

std::string deliveryText(AckDelivery delivery) {
    return std::string(deliveryTexts.at(static_cast<std::size_t>(delivery)));
}

}  // namespace

std::optional<std::string> PendingAckCoordinator::tenantId(
    std::string_view alertId, std::optional<std::string> fallback, const PendingAckStoring& store) {
    if (auto record = store.get(alertId); record && !record->tenantId.empty()) return std::move(record->tenantId);
    return fallback;
}

std::string PendingAckCoordinator::notKeptText(AckDelivery delivery) {
    return deliveryText(delivery) + ", and it could not be saved to be retried. Acknowledge the alert again.";
}

std::string PendingAckCoordinator::notSavedText(AckDelivery delivery) {
    return deliveryText(delivery) + ", and this failure could not be saved. The acknowledgement is still pending.";
}

AckAttemptOutcome::NotKept PendingAckCoordinator::notKept(PendingAck record, AckDelivery delivery) {
    return {toldAsFinal(std::move(record), notKeptText(delivery))};
}

PendingAckCoordinator::Preflight PendingAckCoordinator::begin(
    std::string_view alertId, std::string_view tenantId, std::string_view title, PendingAckStoring& store) {
    std::optional<PendingAck> held = settledRead(store, alertId);
    PendingAck record{
        .alertId = std::string(alertId),
        .tenantId = held && !held->tenantId.empty() ? held->tenantId : std::string(tenantId),
        .title = platform::shortened(title, PendingAck::maxTextBytes),
        .attempts = held ? nextAttempt(held->attempts) : 1,
        .lastError =
            held ? platform::shortened(held->lastError, PendingAck::maxTextBytes) : std::string(inProgressText),
        .verdict = held ? held->verdict : AckFailureVerdict::retryable,
    };
    const bool written = store.put(record);
    return {.held = std::move(held), .record = std::move(record), .written = written};
}

AckAttemptOutcome PendingAckCoordinator::finish(
    const Preflight& preflight,
    const BrisaluneClient* client,
    PendingAckStoring& store,
    std::chrono::milliseconds deadline) noexcept {
    Attempt attempt(preflight, store);
    if (!client) return attempt.settleUnsent(notSignedInText);
    if (!client->hasDataKey()) return attempt.settleUnsent(noTenantKeyText);
    return attempt.send(*client, deadline);
}

AckAttemptOutcome PendingAckCoordinator::attempt(
    std::string_view alertId,
    std::string_view tenantId,
    std::string_view title,
    const BrisaluneClient* client,
    PendingAckStoring& store) noexcept {
    return finish(begin(alertId, tenantId, title, store), client, store);
}

}  // namespace brisalune

#include <brisalune/client/alerts/pending_ack_drain.hpp>

#include <algorithm>
#include <variant>

namespace brisalune {

// ---- PendingAckStandings ----

PendingAckStanding PendingAckStandings::standing(std::string_view alertId, Token token) const {
    if (token.generation != generation) return PendingAckStanding::sessionEnded;
    if (dismissedAlertIds.contains(alertId)) return PendingAckStanding::dismissed;
    return PendingAckStanding::wanted;
}

void PendingAckStandings::dismiss(const std::vector<std::string>& alertIds) {
    dismissedAlertIds.insert(alertIds.begin(), alertIds.end());
}

void PendingAckStandings::undismiss(std::string_view alertId) {
    if (const auto found = dismissedAlertIds.find(alertId); found != dismissedAlertIds.end())
        dismissedAlertIds.erase(found);
}

void PendingAckStandings::endSession() {
    ++generation;
    dismissedAlertIds.clear();
}

// ---- AckFailureReport ----

void AckFailureReport::record(const PendingAck& record) {
    const auto same = std::find_if(records.begin(), records.end(),
                                   [&](const PendingAck& listed) { return listed.alertId == record.alertId; });
    if (same == records.end()) {
        records.push_back(record);
    } else {
        *same = record;
    }
}

void AckFailureReport::remove(std::string_view alertId) {
    std::erase_if(records, [&](const PendingAck& listed) { return listed.alertId == alertId; });
}

void AckFailureReport::prune(const std::set<std::string, std::less<>>& alertIds) {
    std::erase_if(records, [&](const PendingAck& listed) { return !alertIds.contains(listed.alertId); });
}

// ---- PendingAckDrain ----

namespace {

enum class Next { record, stop };

// What a wanted record's finished attempt leaves to show.
void settle(const AckAttemptOutcome& outcome, const std::string& alertId, const PendingAckDrain::Effects& effects) {
    const auto* held = outcome.get<AckAttemptOutcome::Held>();
    const auto* overtaken = outcome.get<AckAttemptOutcome::Overtaken>();
    if (held) {
        effects.report(held->record);
    } else if (overtaken && overtaken->current) {
        effects.report(*overtaken->current);
    } else {
        effects.clearReport(alertId);  // acknowledged, gone, or nothing stored any more
    }
}

Next drainOne(const PendingAck& record, std::string_view currentTenantId, bool retryAll,
              const PendingAckDrain::Effects& effects) {
    switch (effects.standing(record.alertId)) {
        case PendingAckStanding::sessionEnded: return Next::stop;
        case PendingAckStanding::dismissed: return Next::record;
        case PendingAckStanding::wanted: break;
    }
    if (record.drainAction(currentTenantId, retryAll) == PendingAck::DrainAction::report) {
        effects.report(record);
        return Next::record;
    }
    const AckAttemptOutcome outcome = effects.attempt(record);
    switch (effects.standing(record.alertId)) {
        case PendingAckStanding::dismissed:
            effects.discardAttempt(record.alertId);
            return Next::record;
        case PendingAckStanding::sessionEnded:
            effects.discardAttempt(record.alertId);
            return Next::stop;
        case PendingAckStanding::wanted:
            settle(outcome, record.alertId, effects);
            return Next::record;
    }
    return Next::record;
}

}  // namespace

void PendingAckDrain::run(const std::vector<PendingAck>& records, std::string_view currentTenantId, bool retryAll,
                          const Effects& effects) {
    for (const PendingAck& record : records)
        if (drainOne(record, currentTenantId, retryAll, effects) == Next::stop) return;
}

}  // namespace brisalune

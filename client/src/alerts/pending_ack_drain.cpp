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
    const auto same = std::find_if(
        records.begin(), records.end(), [&](const PendingAck& listed) { return listed.alertId == record.alertId; });
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

// What a wanted record's finished attempt leaves to show.
void settleWanted(
    const AckAttemptOutcome& outcome, const std::string& alertId, const PendingAckDrain::Effects& effects) {
    const auto* held = outcome.get<AckAttemptOutcome::Held>();
    const auto* overtaken = outcome.get<AckAttemptOutcome::Overtaken>();
    const auto* lost = outcome.get<AckAttemptOutcome::NotKept>();
    const auto* unsaved = outcome.get<AckAttemptOutcome::NotSaved>();
    if (held) {
        effects.report(held->record);
    } else if (lost) {
        effects.report(lost->record);
    } else if (unsaved) {
        effects.report(unsaved->record);
    } else if (overtaken && overtaken->current) {
        effects.report(*overtaken->current);
    } else {
        effects.clearReport(alertId);  // acknowledged, gone, or nothing stored any more
    }
}

}  // namespace

PendingAckDrain::Walk::Walk(std::vector<PendingAck> records, std::string currentTenantId, bool retryAll)
    : records_(std::move(records)), currentTenantId_(std::move(currentTenantId)), retryAll_(retryAll) {}

std::optional<PendingAck> PendingAckDrain::Walk::next(const Effects& effects) {
    for (; !stopped_ && position_ < records_.size(); ++position_) {
        const PendingAck& record = records_[position_];
        switch (effects.standing(record.alertId)) {
            case PendingAckStanding::sessionEnded: stopped_ = true; return std::nullopt;
            case PendingAckStanding::dismissed: continue;
            case PendingAckStanding::wanted: break;
        }
        if (record.drainAction(currentTenantId_, retryAll_) == PendingAck::DrainAction::retry) return record;
        effects.report(record);
    }
    return std::nullopt;
}

void PendingAckDrain::Walk::settle(const AckAttemptOutcome& outcome, const Effects& effects) {
    const PendingAck& record = records_[position_++];
    switch (effects.standing(record.alertId)) {
        case PendingAckStanding::dismissed: effects.discardAttempt(record.alertId, outcome); return;
        case PendingAckStanding::sessionEnded:
            effects.discardAttempt(record.alertId, outcome);
            stopped_ = true;
            return;
        case PendingAckStanding::wanted: settleWanted(outcome, record.alertId, effects); return;
    }
}

void PendingAckDrain::run(
    const std::vector<PendingAck>& records, std::string_view currentTenantId, bool retryAll, const Effects& effects) {
    Walk walk(records, std::string(currentTenantId), retryAll);
    while (auto record = walk.next(effects)) walk.settle(effects.attempt(*record), effects);
}

}  // namespace brisalune

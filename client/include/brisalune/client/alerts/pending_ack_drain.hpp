#pragma once

// The walk over stored pending acknowledgements that retries or reports each one, the
// per-session standings that say whether one is still wanted, and the list of failures the
// user sees.

#include <brisalune/client/alerts/pending_ack.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

enum class PendingAckStanding {
    wanted,        // attempt or report as usual
    dismissed,     // the user dismissed this alert: leave its record alone
    sessionEnded,  // the session the drain was started for has ended: stop
};

// Whether an acknowledgement is still wanted, per session. A plain value; its owner guards it.
struct PendingAckStandings {
    // Taken when a drain starts: the generation of that moment.
    struct Token {
        std::int64_t generation = 0;

        friend bool operator==(const Token&, const Token&) = default;
    };

    std::int64_t generation = 0;                           // counts ended sessions
    std::set<std::string, std::less<>> dismissedAlertIds;  // during the current session

    Token token() const noexcept { return {generation}; }
    PendingAckStanding standing(std::string_view alertId, Token token) const;
    void dismiss(const std::vector<std::string>& alertIds);
    void undismiss(std::string_view alertId);
    // Every token taken before now yields sessionEnded.
    void endSession();

    friend bool operator==(const PendingAckStandings&, const PendingAckStandings&) = default;
};

// The failed acknowledgements the user sees, each shown with its reportBody.
struct AckFailureReport {
    std::vector<PendingAck> records;

    // Replaces the first record of the same alert in place, else appends.
    void record(const PendingAck& record);
    // Removes every record of the alert.
    void remove(std::string_view alertId);
    // Keeps only the records whose alert is in the set, in their order.
    void prune(const std::set<std::string, std::less<>>& alertIds);
    void clear() noexcept { records.clear(); }

    friend bool operator==(const AckFailureReport&, const AckFailureReport&) = default;
};

namespace PendingAckDrain {

// What the caller does for the drain; all five are required. Every effect is called on the
// thread that runs the drain, one at a time; `attempt` blocks until its outcome is known. A
// caller whose state lives on its main thread runs the drain there or hands each effect over.
struct Effects {
    std::function<PendingAckStanding(const std::string& alertId)> standing;  // before and after each attempt
    std::function<AckAttemptOutcome(const PendingAck& record)> attempt;      // a record is retried
    // An attempt finished but its alert is no longer wanted: drop what that attempt left stored
    // (a Held record), and nothing another writer put there meanwhile (the next session's press).
    std::function<void(const std::string& alertId, const AckAttemptOutcome& outcome)> discardAttempt;
    std::function<void(const PendingAck& record)> report;         // shown as failed
    std::function<void(const std::string& alertId)> clearReport;  // nothing left to report
};

// Walks the records in the given order, each attempt finished before the next record, and stops
// at the first sessionEnded standing. No record is attempted twice; nothing waits between records.
void run(
    const std::vector<PendingAck>& records, std::string_view currentTenantId, bool retryAll, const Effects& effects);

// The same walk for a caller that makes each attempt itself (a coroutine awaiting it):
//     PendingAckDrain::Walk walk(records, currentTenantId, retryAll);
//     while (auto record = walk.next(effects)) walk.settle(co_await attempt(*record), effects);
// Calls every effect but `attempt`, which may be left empty.
class Walk {
public:
    Walk(std::vector<PendingAck> records, std::string currentTenantId, bool retryAll);

    // Goes past the records that need no attempt; the next record to attempt, or none when the
    // walk is over.
    std::optional<PendingAck> next(const Effects& effects);
    // What the attempt of the record `next` gave leaves behind.
    void settle(const AckAttemptOutcome& outcome, const Effects& effects);

private:
    std::vector<PendingAck> records_;
    std::string currentTenantId_;
    bool retryAll_;
    std::size_t position_ = 0;
    bool stopped_ = false;
};

}  // namespace PendingAckDrain

}  // namespace brisalune

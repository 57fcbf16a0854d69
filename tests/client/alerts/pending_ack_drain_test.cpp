#include <brisalune/client/alerts/pending_ack_drain.hpp>
#include <brisalune/client/alerts/pending_ack_store.hpp>

#include <support/alert_answer.hpp>
#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace brisalune {
namespace {

using Verdict = AckFailureVerdict;
using Standing = PendingAckStanding;
using Outcome = AckAttemptOutcome;
using Log = std::vector<std::string>;

PendingAck record(
    std::string alertId,
    std::string tenantId = "t-1",
    Verdict verdict = Verdict::retryable,
    std::string lastError = "E") {
    return {
        .alertId = std::move(alertId),
        .tenantId = std::move(tenantId),
        .title = "Disk full",
        .attempts = 1,
        .lastError = std::move(lastError),
        .verdict = verdict};
}

std::string joined(const Log& log) {
    std::string text;
    for (const auto& line : log) text += (text.empty() ? "" : ", ") + line;
    return text;
}

// Effects that log every call; standings and outcomes are scripted per alert id.
struct Script {
    Log log{};
    std::map<std::string, Standing> before{}, after{};  // wanted when not scripted
    std::map<std::string, Outcome> outcomes{};          // gone when not scripted
    std::set<std::string> attempted{};

    PendingAckDrain::Effects effects() {
        return {
            .standing =
                [this](const std::string& id) {
                    log.push_back("standing " + id);
                    return (attempted.contains(id) ? after : before)[id];
                },
            .attempt =
                [this](const PendingAck& r) {
                    log.push_back("attempt " + r.alertId);
                    attempted.insert(r.alertId);
                    return outcomes.try_emplace(r.alertId, Outcome{Outcome::Gone{}}).first->second;
                },
            .discardAttempt = [this](const std::string& id, const Outcome&) { log.push_back("discard " + id); },
            .report = [this](const PendingAck& r) { log.push_back("report " + r.alertId + " " + r.lastError); },
            .clearReport = [this](const std::string& id) { log.push_back("clear " + id); },
        };
    }
};

TEST(PendingAckDrainRun, ReportsOrRetriesEachRecordAndSettlesByTheOutcome) {
    Script script{
        .outcomes = {
            {"held", {Outcome::Held{record("held", "t-1", Verdict::retryable, "Server error")}}},
            {"taken", {Outcome::Overtaken{record("taken", "t-1", Verdict::final, "theirs")}}},
            {"vanished", {Outcome::Overtaken{}}},
            {"lost", {Outcome::NotKept{record("lost", "t-1", Verdict::final, "not kept")}}},
            {"unsaved", {Outcome::NotSaved{record("unsaved", "t-1", Verdict::final, "not saved")}}},
            {"acked", {Outcome::Acknowledged{AlertSnapshot{}}}}}};
    const std::vector<PendingAck> records{
        record("other", "t-2"),
        record("acked"),
        record("gone"),
        record("held"),
        record("taken"),
        record("vanished"),
        record("lost"),
        record("unsaved")};
    PendingAckDrain::run(records, "t-1", false, script.effects());
    std::erase_if(script.log, [](const std::string& line) { return line.starts_with("standing"); });
    EXPECT_EQ(
        joined(script.log),
        "report other E, attempt acked, clear acked, attempt gone, clear gone, attempt held, "
        "report held Server error, attempt taken, report taken theirs, attempt vanished, clear vanished, "
        "attempt lost, report lost not kept, attempt unsaved, report unsaved not saved");
    Script all;  // retrying all attempts every record
    PendingAckDrain::run(records, "t-1", true, all.effects());
    EXPECT_EQ(std::ranges::count_if(all.log, [](const auto& l) { return l.starts_with("attempt"); }), 8);
}

TEST(PendingAckDrainRun, StandingChangesDiscardTheAttemptOrStopTheDrain) {
    Script script{
        .before = {{"skipped", Standing::dismissed}, {"ended", Standing::sessionEnded}},
        .after = {{"late", Standing::dismissed}, {"c", Standing::sessionEnded}}};
    PendingAckDrain::run(
        {record("skipped"), record("late"), record("b"), record("c"), record("d")}, "t-1", false, script.effects());
    PendingAckDrain::run({record("ended"), record("e")}, "t-1", false, script.effects());
    // "c" ends the first drain; "ended" stops the second before any attempt.
    EXPECT_EQ(
        joined(script.log),
        "standing skipped, standing late, attempt late, standing late, discard late, "
        "standing b, attempt b, standing b, clear b, "
        "standing c, attempt c, standing c, discard c, standing ended");
}

using PendingAckDrainLive = testkit::EndpointTest;

TEST_F(PendingAckDrainLive, SessionEndingMidDrainStopsAfterTheAttemptInFlight) {
    const BrisaluneClient signedIn = client(std::nullopt, "data-key");
    MemoryPendingAckStore store;
    std::mutex lock;  // the standings belong to the drain's thread; the server answers on its own
    PendingAckStandings standings;
    standings.dismiss({"a-2"});
    const auto token = standings.token();
    for (const std::string id : {"a-1", "a-2", "a-3", "a-4", "a-5"}) {
        store.put(record(id));
        server.on("POST", "/v1/alerts/" + id + "/ack", [&, id](const standin::ReceivedRequest&) {
            std::lock_guard guard(lock);
            if (id == "a-4") standings.endSession();  // the user signs out while this attempt runs
            return standin::Reply::json(testkit::alertAnswer(id));
        });
    }
    Script script;  // logs what the drain settles; the standings and attempts are real
    auto effects = script.effects();
    effects.standing = [&](const std::string& id) {
        std::lock_guard guard(lock);
        return standings.standing(id, token);
    };
    effects.attempt = [&](const PendingAck& r) {
        return PendingAckCoordinator::attempt(r.alertId, r.tenantId, r.title, &signedIn, store);
    };
    PendingAckDrain::run(store.all(), "t-1", false, effects);
    EXPECT_EQ(script.log, (Log{"clear a-1", "clear a-3", "discard a-4"}));
    EXPECT_EQ(store.all(), (std::vector{record("a-2"), record("a-5")}));  // dismissed, and never reached
}

TEST(PendingAckStandingsTest, TokensOfAnEndedSessionOutrankDismissal) {
    PendingAckStandings standings;
    const auto before = standings.token();
    standings.dismiss({"a", "b"});
    standings.undismiss("a");
    EXPECT_EQ(standings.standing("a", before), Standing::wanted);
    EXPECT_EQ(standings.standing("b", before), Standing::dismissed);
    standings.endSession();
    standings.dismiss({"c"});
    EXPECT_EQ(standings.standing("c", before), Standing::sessionEnded);
    EXPECT_EQ(standings.standing("b", standings.token()), Standing::wanted);  // dismissals end with the session
}

TEST(AckFailureReportTest, RecordReplacesInPlaceRemoveAndPruneKeepOrder) {
    AckFailureReport report{.records = {record("c"), record("a"), record("b"), record("a")}};
    report.record(record("a", "t-2"));
    report.record(record("d"));
    EXPECT_EQ(report.records, (std::vector{record("c"), record("a", "t-2"), record("b"), record("a"), record("d")}));
    report.remove("a");
    report.prune({"a", "b", "c"});
    EXPECT_EQ(report.records, (std::vector{record("c"), record("b")}));
}

}  // namespace
}  // namespace brisalune

#include <brisalune/client/client.hpp>
#include <brisalune/client/pending_ack_drain.hpp>
#include <brisalune/client/pending_ack_store.hpp>
#include <brisalune/standin/server.hpp>

#include "support/alert_answer.hpp"

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
using Log = std::vector<std::string>;

PendingAck record(std::string alertId, std::string tenantId = "t-1", Verdict verdict = Verdict::retryable,
                  std::string lastError = "E") {
    return {.alertId = std::move(alertId), .tenantId = std::move(tenantId), .title = "Disk full", .attempts = 1,
            .lastError = std::move(lastError), .verdict = verdict};
}

// Effects that log every call; standings and outcomes are scripted per alert id.
struct Script {
    Log log;
    std::map<std::string, Standing> before, after;       // wanted when not scripted
    std::map<std::string, AckAttemptOutcome> outcomes;  // gone when not scripted
    std::set<std::string> attempted;

    PendingAckDrain::Effects effects() {
        return {
            .standing = [this](const std::string& id) {
                log.push_back("standing " + id);
                return (attempted.contains(id) ? after : before)[id];
            },
            .attempt = [this](const PendingAck& r) {
                log.push_back("attempt " + r.alertId);
                attempted.insert(r.alertId);
                const auto found = outcomes.find(r.alertId);
                return found == outcomes.end() ? AckAttemptOutcome{AckAttemptOutcome::Gone{}} : found->second;
            },
            .discardAttempt = [this](const std::string& id) { log.push_back("discard " + id); },
            .report = [this](const PendingAck& r) { log.push_back("report " + r.alertId + " " + r.lastError); },
            .clearReport = [this](const std::string& id) { log.push_back("clear " + id); },
        };
    }
};

TEST(PendingAckDrainRun, ReportsOrRetriesEachRecordAndSettlesByTheOutcome) {
    using Outcome = AckAttemptOutcome;
    Script script;
    script.outcomes.emplace("held", Outcome{Outcome::Held{record("held", "t-1", Verdict::retryable, "Server error")}});
    script.outcomes.emplace("taken", Outcome{Outcome::Overtaken{record("taken", "t-1", Verdict::final, "theirs")}});
    script.outcomes.emplace("vanished", Outcome{Outcome::Overtaken{}});
    script.outcomes.emplace("acked", Outcome{Outcome::Acknowledged{AlertSnapshot{}}});
    const std::vector<PendingAck> records{record("other", "t-2"), record("final", "t-1", Verdict::final),
                                          record("acked"), record("gone"), record("held"), record("taken"),
                                          record("vanished"), record("untagged", "")};

    PendingAckDrain::run(records, "t-1", false, script.effects());
    std::erase_if(script.log, [](const std::string& line) { return line.starts_with("standing"); });
    EXPECT_EQ(script.log, (Log{"report other E", "report final E", "attempt acked", "clear acked", "attempt gone",
                               "clear gone", "attempt held", "report held Server error", "attempt taken",
                               "report taken theirs", "attempt vanished", "clear vanished", "attempt untagged",
                               "clear untagged"}));
    Script all;
    PendingAckDrain::run(records, "t-1", true, all.effects());
    EXPECT_EQ(std::count_if(all.log.begin(), all.log.end(), [](const auto& l) { return l.starts_with("attempt"); }),
              std::ssize(records));
}

TEST(PendingAckDrainRun, StandingChangesDiscardTheAttemptOrStopTheDrain) {
    Script script;
    script.before["skipped"] = Standing::dismissed;
    script.after["late"] = Standing::dismissed;
    script.after["c"] = Standing::sessionEnded;
    script.before["ended"] = Standing::sessionEnded;

    PendingAckDrain::run({record("skipped"), record("late"), record("b"), record("c"), record("d")}, "t-1", false,
                         script.effects());
    PendingAckDrain::run({record("ended"), record("e")}, "t-1", false, script.effects());
    EXPECT_EQ(script.log, (Log{"standing skipped",                                               //
                               "standing late", "attempt late", "standing late", "discard late",  //
                               "standing b", "attempt b", "standing b", "clear b",                //
                               "standing c", "attempt c", "standing c", "discard c",              // stops
                               "standing ended"}));
}

TEST(PendingAckDrainRun, SessionEndingMidDrainStopsAfterTheAttemptInFlight) {
    standin::Server server;
    ServerCompatibility compatibility;
    const BrisaluneClient client(*platform::Url::parse(server.baseUrl()), std::nullopt, "data-key", nullptr,
                                 ClientIdentity::current(), compatibility);
    MemoryPendingAckStore store;
    std::mutex lock;  // the standings belong to the drain's thread; the server answers on its own
    PendingAckStandings standings;
    standings.dismiss({"a-2"});
    const auto token = standings.token();

    std::vector<PendingAck> records;
    for (const std::string id : {"a-1", "a-2", "a-3", "a-4", "a-5"}) {
        store.put(record(id));
        records.push_back(record(id));
        server.on("POST", "/v1/alerts/" + id + "/ack", [&, id](const standin::ReceivedRequest&) {
            if (id == "a-4") {
                std::lock_guard guard(lock);
                standings.endSession();  // the user signs out while this attempt runs
            }
            return standin::Reply::json(testing::alertAnswer(id));
        });
    }
    Log log;
    PendingAckDrain::run(
        records, "t-1", false,
        {
            .standing = [&](const std::string& id) {
                std::lock_guard guard(lock);
                return standings.standing(id, token);
            },
            .attempt = [&](const PendingAck& r) {
                return PendingAckCoordinator::attempt(r.alertId, r.tenantId, r.title, &client, store);
            },
            .discardAttempt = [&](const std::string& id) { log.push_back("discard " + id); },
            .report = [&](const PendingAck& r) { log.push_back("report " + r.alertId); },
            .clearReport = [&](const std::string& id) { log.push_back("clear " + id); },
        });

    Log sent;
    for (const auto& request : server.requests()) sent.push_back(request.path);
    EXPECT_EQ(sent, (Log{"/v1/alerts/a-1/ack", "/v1/alerts/a-3/ack", "/v1/alerts/a-4/ack"}));
    EXPECT_EQ(log, (Log{"clear a-1", "clear a-3", "discard a-4"}));
    EXPECT_EQ(store.all(), (std::vector{record("a-2"), record("a-5")}));  // dismissed, and never reached
}

TEST(PendingAckStandingsTest, TokensOfAnEndedSessionOutrankDismissal) {
    PendingAckStandings standings;
    const auto before = standings.token();
    standings.dismiss({"a", "b"});
    EXPECT_EQ(standings.standing("a", before), Standing::dismissed);
    EXPECT_EQ(standings.standing("c", before), Standing::wanted);
    standings.undismiss("a");
    EXPECT_EQ(standings.standing("a", before), Standing::wanted);

    standings.endSession();
    EXPECT_TRUE(standings.dismissedAlertIds.empty());
    standings.dismiss({"b"});
    EXPECT_EQ(standings.standing("b", before), Standing::sessionEnded);
    EXPECT_EQ(standings.standing("b", standings.token()), Standing::dismissed);
}

TEST(AckFailureReportTest, RecordReplacesInPlaceRemoveAndPruneKeepOrder) {
    AckFailureReport report;
    report.records = {record("a"), record("b"), record("a"), record("c")};
    const PendingAck newer = record("a", "t-1", Verdict::final);
    report.record(newer);
    report.record(record("d"));
    EXPECT_EQ(report.records, (std::vector{newer, record("b"), record("a"), record("c"), record("d")}));
    report.remove("a");
    EXPECT_EQ(report.records, (std::vector{record("b"), record("c"), record("d")}));
    report.prune({"d", "b", "zzz"});
    EXPECT_EQ(report.records, (std::vector{record("b"), record("d")}));
}

}  // namespace
}  // namespace brisalune

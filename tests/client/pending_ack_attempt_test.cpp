#include <brisalune/client/pending_ack.hpp>
#include <brisalune/client/pending_ack_store.hpp>

#include "support/alert_answer.hpp"
#include "support/endpoint_fixture.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace brisalune {
namespace {

using Verdict = AckFailureVerdict;
using Outcome = AckAttemptOutcome;
using standin::Reply;

PendingAck stored(std::string alertId, std::string tenant, std::int64_t attempts, std::string lastError,
                  Verdict verdict, std::string title = "Disk full on db-2") {
    return {.alertId = std::move(alertId), .tenantId = std::move(tenant), .title = std::move(title),
            .attempts = attempts, .lastError = std::move(lastError), .verdict = verdict};
}

Outcome held(PendingAck record) { return {Outcome::Held{std::move(record)}}; }

class PendingAckAttempt : public testing::EndpointTest {
protected:
    testing::TempDir dir;
    PendingAckStore store = PendingAckStore::inFile(dir / "defaults.json");
    BrisaluneClient withKey = client(std::nullopt, "data-key");

    Outcome attempt(std::string_view alertId, const BrisaluneClient* by, std::string_view tenant = "t-1",
                    std::string_view title = "Disk full on db-2") {
        return PendingAckCoordinator::attempt(alertId, tenant, title, by, store);
    }
    void answer(std::string_view alertId, Reply reply) {
        server.on("POST", "/v1/alerts/" + std::string(alertId) + "/ack", std::move(reply));
    }
};

TEST_F(PendingAckAttempt, SuccessRemovesTheRecordWrittenBeforeTheRequest) {
    std::optional<PendingAck> inFlight;
    server.on("POST", "/v1/alerts/a%2F1/ack", [&](const standin::ReceivedRequest&) {
        inFlight = PendingAckStore::inFile(dir / "defaults.json").get("a/1");
        store.put(stored("a/1", "t-1", 9, "someone else", Verdict::final));  // removed all the same
        return Reply::json(testing::alertAnswer("a/1"));
    });
    const Outcome outcome = attempt("a/1", &withKey);

    ASSERT_TRUE(outcome.get<Outcome::Acknowledged>());
    EXPECT_EQ(outcome.get<Outcome::Acknowledged>()->alert.id, "a/1");
    EXPECT_EQ(inFlight, stored("a/1", "t-1", 1, "Acknowledgement in progress.", Verdict::retryable));
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");
    EXPECT_TRUE(store.all().empty());
}

TEST_F(PendingAckAttempt, WithoutClientOrKeyNothingIsSentAndEarlierFailuresStand) {
    const BrisaluneClient keyless = client("session-token", std::nullopt);
    EXPECT_EQ(attempt("a-1", nullptr), held(stored("a-1", "t-1", 1, "Not signed in.", Verdict::retryable)));
    EXPECT_EQ(attempt("a-2", &keyless),
              held(stored("a-2", "t-1", 1, "Tenant key not loaded yet.", Verdict::retryable)));

    answer("a-3", Reply::json(R"({"error":"nope"})", 403));
    EXPECT_EQ(attempt("a-3", &withKey), held(stored("a-3", "t-1", 1, "Not allowed: nope", Verdict::final)));
    EXPECT_EQ(attempt("a-3", nullptr), held(stored("a-3", "t-1", 2, "Not allowed: nope", Verdict::final)));
    EXPECT_EQ(store.get("a-3"), stored("a-3", "t-1", 2, "Not allowed: nope", Verdict::final));
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(PendingAckAttempt, FailuresAreHeldWithTheErrorsTextAndVerdict) {
    answer("busy", Reply::json(R"({"error":"busy"})", 409));
    const std::string busy = BrisaluneError::conflict("busy").errorDescription();
    EXPECT_EQ(attempt("busy", &withKey), held(stored("busy", "t-1", 1, busy, Verdict::retryable)));

    struct Failing : http::Transport {
        http::Response perform(const http::Request&) override { throw std::runtime_error("disk on fire"); }
    };
    const BrisaluneClient failing(*platform::Url::parse(server.baseUrl()), std::nullopt, "data-key",
                                  std::make_shared<Failing>(), ClientIdentity::current(), compatibility);
    EXPECT_EQ(attempt("a-1", &failing), held(stored("a-1", "t-1", 1, "disk on fire", Verdict::retryable)));
}

TEST_F(PendingAckAttempt, NotFoundIsGoneUnlessTheIdLooksIssuedByTheService) {
    // Unmatched paths answer 404.
    const std::string notFound = BrisaluneError::notFound("not found").errorDescription();
    EXPECT_EQ(attempt("0123456789abcdef", &withKey),
              held(stored("0123456789abcdef", "t-1", 1, notFound, Verdict::retryable)));

    for (const char* id : {"0123456789ABCDEF", "0123456789abcde", "alert-1"}) {
        store.put(stored(id, "t-1", 3, "earlier", Verdict::retryable));
        EXPECT_EQ(attempt(id, &withKey), Outcome{Outcome::Gone{}}) << id;
        EXPECT_EQ(store.get(id), std::nullopt) << id;
    }
}

TEST_F(PendingAckAttempt, StoredTenantWinsAndTheTitleIsAlwaysTheAttempts) {
    store.put(stored("a-1", "t-1", 1, "earlier", Verdict::retryable, "old title"));
    store.put(stored("a-2", "", 1, "earlier", Verdict::retryable, "old title"));
    EXPECT_EQ(PendingAckCoordinator::tenantId("a-1", "t-2", store), "t-1");
    EXPECT_EQ(PendingAckCoordinator::tenantId("a-2", "t-2", store), "t-2");
    EXPECT_EQ(PendingAckCoordinator::tenantId("none", std::nullopt, store), std::nullopt);

    std::optional<PendingAck> inFlight;
    server.on("POST", "/v1/alerts/a-1/ack", [&](const standin::ReceivedRequest&) {
        inFlight = store.get("a-1");
        return Reply::json("{}", 500);
    });
    attempt("a-1", &withKey, "t-2", "new title");
    EXPECT_EQ(inFlight, stored("a-1", "t-1", 2, "earlier", Verdict::retryable, "new title"));
    EXPECT_EQ(attempt("a-2", nullptr, "t-2", "new title"),
              held(stored("a-2", "t-2", 2, "earlier", Verdict::retryable, "new title")));
}

TEST_F(PendingAckAttempt, AnotherWriterDuringTheRequestOvertakesTheResult) {
    const PendingAck theirs = stored("a-1", "t-1", 7, "theirs", Verdict::final);
    server.on("POST", "/v1/alerts/a-1/ack", [&](const standin::ReceivedRequest&) {
        store.put(theirs);
        return Reply::json("{}", 503);
    });
    server.on("POST", "/v1/alerts/a-2/ack", [&](const standin::ReceivedRequest&) {
        store.remove("a-2");
        return Reply::json("{}", 503);
    });
    EXPECT_EQ(attempt("a-1", &withKey), Outcome{Outcome::Overtaken{theirs}});
    EXPECT_EQ(attempt("a-2", &withKey), Outcome{Outcome::Overtaken{std::nullopt}});
    EXPECT_EQ(store.all(), std::vector{theirs});
}

TEST_F(PendingAckAttempt, OverlappingAttemptsLetOneSettle) {
    constexpr std::size_t count = 5;
    answer("a-1", Reply{.status = 409, .headers = {}, .body = R"({"error":"busy"})", .holdUntilReleased = true});
    std::vector<Outcome> outcomes(count);
    std::vector<std::thread> threads;
    for (auto& outcome : outcomes) threads.emplace_back([&] { outcome = attempt("a-1", &withKey); });
    EXPECT_TRUE(server.waitForRequests(count, std::chrono::seconds(30)));  // every preflight written first
    server.release();
    for (auto& t : threads) t.join();

    std::vector<PendingAck> settled;
    for (const auto& outcome : outcomes) {
        if (const auto* h = outcome.get<Outcome::Held>()) settled.push_back(h->record);
        EXPECT_TRUE(outcome.get<Outcome::Held>() || outcome.get<Outcome::Overtaken>());
    }
    ASSERT_EQ(settled.size(), 1u);
    EXPECT_EQ(store.get("a-1"), settled[0]);
    EXPECT_EQ(settled[0].lastError, BrisaluneError::conflict("busy").errorDescription());
}

TEST_F(PendingAckAttempt, WhenThePreflightCannotBeWrittenTheFailureStillReachesTheUser) {
    PendingAckStore blocked = PendingAckStore::inFile(dir.path());  // a folder: nothing can be written
    answer("a-1", Reply::json("{}", 500));
    const Outcome outcome = PendingAckCoordinator::attempt("a-1", "t-1", "T", &withKey, blocked);
    ASSERT_TRUE(outcome.get<Outcome::Held>());
    EXPECT_EQ(outcome.get<Outcome::Held>()->record.verdict, Verdict::retryable);
    EXPECT_EQ(server.requests().size(), 1u);  // the acknowledgement is still tried
}

}  // namespace
}  // namespace brisalune

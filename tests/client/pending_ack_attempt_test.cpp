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

class PendingAckAttempt : public testing::EndpointTest {
protected:
    testing::TempDir dir;
    PendingAckStore store = PendingAckStore::inFile(dir / "defaults.json");
    BrisaluneClient withKey = client(std::nullopt, "data-key");

    Outcome attempt(std::string_view alertId, const BrisaluneClient* by, std::string_view tenant = "t-1",
                    std::string_view title = "Disk full on db-2") {
        return PendingAckCoordinator::attempt(alertId, tenant, title, by, store);
    }

    // Answers the acknowledgement of `alertId` with `reply`.
    void answer(std::string_view alertId, Reply reply) {
        server.on("POST", "/v1/alerts/" + std::string(alertId) + "/ack", std::move(reply));
    }

    static PendingAck heldRecord(const Outcome& outcome) {
        const auto* held = outcome.get<Outcome::Held>();
        if (!held) {
            ADD_FAILURE() << "not held";
            return {};
        }
        return held->record;
    }
};

PendingAck stored(std::string alertId, std::string tenant, std::int64_t attempts, std::string lastError,
                  Verdict verdict, std::string title = "Disk full on db-2") {
    return {.alertId = std::move(alertId),
            .tenantId = std::move(tenant),
            .title = std::move(title),
            .attempts = attempts,
            .lastError = std::move(lastError),
            .verdict = verdict};
}

TEST_F(PendingAckAttempt, SuccessSendsTheAcknowledgementAfterThePreflightRecord) {
    std::optional<PendingAck> inFlight;
    server.on("POST", "/v1/alerts/a%2F1/ack", [&](const standin::ReceivedRequest&) {
        inFlight = PendingAckStore::inFile(dir / "defaults.json").get("a/1");
        return Reply::json(testing::alertAnswer("a/1"));
    });
    const Outcome outcome = attempt("a/1", &withKey);

    ASSERT_TRUE(outcome.get<Outcome::Acknowledged>());
    EXPECT_EQ(outcome.get<Outcome::Acknowledged>()->alert.id, "a/1");
    EXPECT_EQ(inFlight, stored("a/1", "t-1", 1, "Acknowledgement in progress.", Verdict::retryable));
    EXPECT_EQ(last().method, "POST");
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");
    EXPECT_TRUE(store.all().empty());
}

TEST_F(PendingAckAttempt, SuccessRemovesWhateverOthersWroteMeanwhile) {
    answer("a-1", Reply{.status = 200, .headers = {}, .body = testing::alertAnswer("a-1"), .holdUntilReleased = true});
    std::thread other([&] {
        server.waitForRequests(1, std::chrono::seconds(10));
        store.put(stored("a-1", "t-1", 9, "someone else", Verdict::final));
        server.release();
    });
    const Outcome outcome = attempt("a-1", &withKey);
    other.join();
    EXPECT_TRUE(outcome.get<Outcome::Acknowledged>());
    EXPECT_EQ(store.get("a-1"), std::nullopt);
}

TEST_F(PendingAckAttempt, WithoutClientOrKeyNothingIsSentAndEarlierFailuresStand) {
    EXPECT_EQ(heldRecord(attempt("a-1", nullptr)), stored("a-1", "t-1", 1, "Not signed in.", Verdict::retryable));
    EXPECT_EQ(store.get("a-1"), stored("a-1", "t-1", 1, "Not signed in.", Verdict::retryable));

    const BrisaluneClient keyless = client("session-token", std::nullopt);
    EXPECT_EQ(heldRecord(attempt("a-2", &keyless)),
              stored("a-2", "t-1", 1, "Tenant key not loaded yet.", Verdict::retryable));

    // A forbidden failure is final; later attempts without a client keep its text and verdict.
    answer("a-3", Reply::json(R"({"error":"nope"})", 403));
    const PendingAck forbidden = heldRecord(attempt("a-3", &withKey));
    EXPECT_EQ(forbidden, stored("a-3", "t-1", 1, "Not allowed: nope", Verdict::final));
    EXPECT_EQ(heldRecord(attempt("a-3", nullptr)), stored("a-3", "t-1", 2, "Not allowed: nope", Verdict::final));
    EXPECT_EQ(heldRecord(attempt("a-3", &keyless)), stored("a-3", "t-1", 3, "Not allowed: nope", Verdict::final));
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(PendingAckAttempt, FailuresAreHeldWithTheErrorsTextAndVerdict) {
    struct Case {
        std::string id;
        Reply reply;
        Verdict verdict;
    };
    std::vector<Case> cases{
        {"conflict", Reply::json(R"({"error":"busy"})", 409), Verdict::retryable},
        {"limited", Reply::json("{}", 429), Verdict::retryable},
        {"broken", Reply::json(R"({"error":"boom"})", 500), Verdict::retryable},
        {"garbled", Reply::json(R"({"id":5})"), Verdict::retryable},
        {"cut", Reply{.status = 200, .headers = {}, .body = testing::alertAnswer("cut"), .cutMidBody = true}, Verdict::retryable},
        {"revoked", Reply::json(R"({"error":"key revoked"})", 401), Verdict::final},
        {"invalid", Reply::json(R"({"error":"bad id"})", 422), Verdict::final},
        {"outdated", Reply::json(R"({"code":"client_outdated"})", 426), Verdict::retryable},  // last: it sticks
    };
    for (auto& c : cases) {
        answer(c.id, c.reply);
        const auto outcome = attempt(c.id, &withKey);
        const PendingAck held = heldRecord(outcome);
        EXPECT_EQ(held.verdict, c.verdict) << c.id;
        EXPECT_EQ(held.attempts, 1) << c.id;
        EXPECT_EQ(store.get(c.id), held) << c.id;
        // The text the user sees is the error's own.
        EXPECT_FALSE(held.lastError.empty()) << c.id;
        EXPECT_NE(held.lastError, "Acknowledgement in progress.") << c.id;
    }
    EXPECT_EQ(store.get("conflict")->lastError, BrisaluneError::conflict("busy").errorDescription());
    EXPECT_EQ(store.get("revoked")->lastError, BrisaluneError::unauthorized("key revoked").errorDescription());
}

TEST_F(PendingAckAttempt, NotFoundIsGoneUnlessTheIdLooksIssuedByTheService) {
    // Unmatched paths answer 404.
    const PendingAck issued = heldRecord(attempt("0123456789abcdef", &withKey));
    EXPECT_EQ(issued.verdict, Verdict::retryable);
    EXPECT_EQ(issued.lastError, BrisaluneError::notFound("not found").errorDescription());
    EXPECT_EQ(store.get("0123456789abcdef"), issued);

    for (const char* id : {"0123456789ABCDEF", "0123456789abcde", "alert-1"}) {
        store.put(stored(id, "t-1", 3, "earlier", Verdict::retryable));
        EXPECT_TRUE(attempt(id, &withKey).get<Outcome::Gone>()) << id;
        EXPECT_EQ(store.get(id), std::nullopt) << id;
    }
}

TEST_F(PendingAckAttempt, ErrorsOfAnotherKindAreRetryableWithTheirDescription) {
    struct Failing : http::Transport {
        http::Response perform(const http::Request&) override { throw std::runtime_error("disk on fire"); }
    };
    const BrisaluneClient failing(*platform::Url::parse(server.baseUrl()), std::nullopt, "data-key",
                                  std::make_shared<Failing>(), ClientIdentity::current(), compatibility);
    EXPECT_EQ(heldRecord(attempt("a-1", &failing)), stored("a-1", "t-1", 1, "disk on fire", Verdict::retryable));
}

TEST_F(PendingAckAttempt, StoredTenantWinsAndTheTitleIsAlwaysTheAttempts) {
    store.put(stored("a-1", "t-1", 1, "earlier", Verdict::retryable, "old title"));
    store.put(stored("a-2", "", 1, "earlier", Verdict::retryable, "old title"));
    EXPECT_EQ(PendingAckCoordinator::tenantId("a-1", "t-2", store), "t-1");
    EXPECT_EQ(PendingAckCoordinator::tenantId("a-2", "t-2", store), "t-2");
    EXPECT_EQ(PendingAckCoordinator::tenantId("none", std::nullopt, store), std::nullopt);

    std::vector<std::optional<PendingAck>> inFlight;
    server.on("POST", "/v1/alerts/a-1/ack", [&](const standin::ReceivedRequest&) {
        inFlight.push_back(store.get("a-1"));
        return Reply::json("{}", 500);
    });
    EXPECT_EQ(heldRecord(attempt("a-1", &withKey, "t-2", "new title")).tenantId, "t-1");
    ASSERT_EQ(inFlight.size(), 1u);
    EXPECT_EQ(inFlight[0], stored("a-1", "t-1", 2, "earlier", Verdict::retryable, "new title"));
    EXPECT_EQ(store.get("a-1")->title, "new title");

    EXPECT_EQ(heldRecord(attempt("a-2", nullptr, "t-2", "new title")),
              stored("a-2", "t-2", 2, "earlier", Verdict::retryable, "new title"));
}

TEST_F(PendingAckAttempt, AnotherWriterDuringTheRequestOvertakesTheResult) {
    const PendingAck theirs = stored("a-1", "t-1", 7, "theirs", Verdict::final);
    server.on("POST", "/v1/alerts/a-1/ack", [&](const standin::ReceivedRequest&) {
        store.put(theirs);
        return Reply::json("{}", 503);
    });
    const Outcome outcome = attempt("a-1", &withKey);
    ASSERT_TRUE(outcome.get<Outcome::Overtaken>());
    EXPECT_EQ(outcome.get<Outcome::Overtaken>()->current, theirs);
    EXPECT_EQ(store.get("a-1"), theirs);

    server.on("POST", "/v1/alerts/a-2/ack", [&](const standin::ReceivedRequest&) {
        store.remove("a-2");
        return Reply::json("{}", 503);
    });
    const Outcome removed = attempt("a-2", &withKey);
    ASSERT_TRUE(removed.get<Outcome::Overtaken>());
    EXPECT_EQ(removed.get<Outcome::Overtaken>()->current, std::nullopt);
    EXPECT_EQ(store.get("a-2"), std::nullopt);
}

TEST_F(PendingAckAttempt, OverlappingAttemptsLetOneSettle) {
    constexpr std::size_t count = 5;
    answer("a-1", Reply{.status = 409, .headers = {}, .body = R"({"error":"busy"})", .holdUntilReleased = true});
    std::vector<Outcome> outcomes(count);
    std::vector<std::thread> threads;
    for (auto& outcome : outcomes) threads.emplace_back([&] { outcome = attempt("a-1", &withKey); });
    // Every preflight is written before any answer arrives.
    EXPECT_TRUE(server.waitForRequests(count, std::chrono::seconds(30)));
    server.release();
    for (auto& t : threads) t.join();

    std::vector<PendingAck> held;
    for (const auto& outcome : outcomes) {
        if (const auto* h = outcome.get<Outcome::Held>()) held.push_back(h->record);
        EXPECT_TRUE(outcome.get<Outcome::Held>() || outcome.get<Outcome::Overtaken>());
    }
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(store.get("a-1"), held[0]);
    EXPECT_EQ(held[0].lastError, BrisaluneError::conflict("busy").errorDescription());
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

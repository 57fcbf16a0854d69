#include <brisalune/client/alerts/pending_ack.hpp>
#include <brisalune/client/alerts/pending_ack_store.hpp>

#include <support/alert_answer.hpp>
#include <support/endpoint_fixture.hpp>
#include <support/temp_dir.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace brisalune {
namespace {

using Verdict = AckFailureVerdict;
using Outcome = AckAttemptOutcome;
using standin::Reply;

PendingAck stored(
    std::string alertId,
    std::string tenant,
    std::int64_t attempts,
    std::string lastError,
    Verdict verdict,
    std::string title = "Disk full on db-2") {
    return {
        .alertId = std::move(alertId),
        .tenantId = std::move(tenant),
        .title = std::move(title),
        .attempts = attempts,
        .lastError = std::move(lastError),
        .verdict = verdict};
}

Outcome held(PendingAck record) { return {Outcome::Held{std::move(record)}}; }

class PendingAckAttempt : public testkit::EndpointTest {
protected:
    testkit::TempDir dir;
    PendingAckStore store = PendingAckStore::inFile(dir / "defaults.json");
    BrisaluneClient withKey = client(std::nullopt, "data-key");

    Outcome attempt(
        std::string_view alertId,
        const BrisaluneClient* by,
        std::string_view tenant = "t-1",
        std::string_view title = "Disk full on db-2") {
        return PendingAckCoordinator::attempt(alertId, tenant, title, by, store);
    }
    template <class Answer>
    void answer(std::string_view alertId, Answer answer) {
        server.on("POST", "/v1/alerts/" + std::string(alertId) + "/ack", std::move(answer));
    }
    void meanwhile(std::string_view alertId, std::function<void()> write, Reply reply) {
        answer(alertId, [write = std::move(write), reply = std::move(reply)](const standin::ReceivedRequest&) {
            write();
            return reply;
        });
    }
};

TEST_F(PendingAckAttempt, SuccessRemovesTheRecordWhoeverWroteItLast) {
    meanwhile(
        "a%2F1",
        [&] { store.put(stored("a/1", "t-1", 9, "someone else", Verdict::final)); },
        Reply::json(testkit::alertAnswer("a/1")));
    EXPECT_TRUE(attempt("a/1", &withKey).get<Outcome::Acknowledged>());
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");
    EXPECT_TRUE(store.all().empty());
}

TEST_F(PendingAckAttempt, UnsentOrUnansweredAttemptsAreHeldAndEarlierFailuresStand) {
    const BrisaluneClient keyless = client("session-token", std::nullopt);
    EXPECT_EQ(attempt("a-1", nullptr), held(stored("a-1", "t-1", 1, "Not signed in.", Verdict::retryable)));
    EXPECT_EQ(
        attempt("a-2", &keyless), held(stored("a-2", "t-1", 1, "Tenant key not loaded yet.", Verdict::retryable)));
    struct Failing : http::Transport {
        http::Response perform(const http::Request&) override { throw std::runtime_error("disk on fire"); }
    };
    const BrisaluneClient failing(
        *platform::Url::parse(server.baseUrl()),
        std::nullopt,
        "data-key",
        std::make_shared<Failing>(),
        ClientIdentity::current(),
        compatibility);
    EXPECT_EQ(attempt("a-4", &failing), held(stored("a-4", "t-1", 1, "disk on fire", Verdict::retryable)));
    answer("a-3", Reply::json(R"({"error":"nope"})", 403));
    EXPECT_EQ(attempt("a-3", &withKey), held(stored("a-3", "t-1", 1, "Not allowed: nope", Verdict::final)));
    EXPECT_EQ(attempt("a-3", nullptr), held(stored("a-3", "t-1", 2, "Not allowed: nope", Verdict::final)));
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(PendingAckAttempt, NotFoundIsGoneUnlessTheIdLooksIssuedByTheService) {
    const std::string notFound = BrisaluneError::notFound("not found").errorDescription();  // unrouted: 404
    EXPECT_EQ(
        attempt("0123456789abcdef", &withKey),
        held(stored("0123456789abcdef", "t-1", 1, notFound, Verdict::retryable)));
    for (const char* id : {"0123456789ABCDEF", "0123456789abcde", "alert-1"}) {
        store.put(stored(id, "t-1", 3, "earlier", Verdict::retryable));
        EXPECT_EQ(attempt(id, &withKey), Outcome{Outcome::Gone{}}) << id;
        EXPECT_EQ(store.get(id), std::nullopt) << id;
    }
}

TEST_F(PendingAckAttempt, StoredTenantAndFailureStandInThePreflightButTheTitleIsTheAttempts) {
    store.put(stored("a-1", "t-1", 1, "earlier", Verdict::retryable, "old title"));
    store.put(stored("a-2", "", 1, "earlier", Verdict::retryable, "old title"));
    EXPECT_EQ(PendingAckCoordinator::tenantId("a-1", "t-2", store), "t-1");
    EXPECT_EQ(PendingAckCoordinator::tenantId("a-2", std::nullopt, store), std::nullopt);
    std::optional<PendingAck> inFlight;
    meanwhile(
        "a-1", [&] { inFlight = store.get("a-1"); }, Reply::json("{}", 500));
    attempt("a-1", &withKey, "t-2", "new title");
    EXPECT_EQ(inFlight, stored("a-1", "t-1", 2, "earlier", Verdict::retryable, "new title"));
    EXPECT_EQ(
        attempt("a-2", nullptr, "t-2", "new title"),
        held(stored("a-2", "t-2", 2, "earlier", Verdict::retryable, "new title")));
}

TEST_F(PendingAckAttempt, AnotherWriterDuringTheRequestOvertakesTheResult) {
    const PendingAck theirs = stored("a-1", "t-1", 7, "theirs", Verdict::final);
    meanwhile(
        "a-1", [&] { store.put(theirs); }, Reply::json("{}", 503));
    meanwhile(
        "a-2", [&] { store.remove("a-2"); }, Reply::json("{}", 503));
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

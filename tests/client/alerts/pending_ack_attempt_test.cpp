#include <brisalune/client/alerts/pending_ack.hpp>
#include <brisalune/client/alerts/pending_ack_store.hpp>

#include <support/alert_answer.hpp>
#include <support/endpoint_fixture.hpp>
#include <support/file_size_limit.hpp>
#include <support/temp_dir.hpp>

#include <brisalune/platform/text.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include <unistd.h>

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

TEST_F(PendingAckAttempt, EveryUnhappyAnswerLeavesTheAcknowledgementStoredToBeRetried) {
    // A refusal to take the answer as success: whatever the service says, short of a clean
    // acknowledgement or a plain "no such alert", the record stays, retryable or for the user.
    const std::vector<std::pair<Reply, Verdict>> answers{
        {Reply::json(R"({"error":"boom"})", 500), Verdict::retryable},
        {Reply{.status = 429, .headers = {{"Retry-After", "3600"}}, .body = "slow down"}, Verdict::retryable},
        {Reply::json(R"({"error":"resolved meanwhile"})", 409), Verdict::retryable},
        {Reply::json("", 200), Verdict::retryable},
        {Reply::json("<html>proxy</html>", 200), Verdict::retryable},
        {Reply::json(R"({"id":"a-1"})", 200), Verdict::retryable},
        {Reply::json(std::string(100000, '[') + std::string(100000, ']'), 200), Verdict::retryable},
        {Reply{.status = 200, .headers = {}, .body = testkit::alertAnswer("a-1"), .cutMidBody = true},
         Verdict::retryable},
        {Reply::json(R"({"error":"gone"})", 401), Verdict::final},
    };
    std::int64_t attempts = 0;
    for (const auto& [reply, verdict] : answers) {
        SCOPED_TRACE(std::to_string(reply.status) + " " + reply.body.substr(0, 40));
        answer("a-1", reply);
        const Outcome outcome = attempt("a-1", &withKey);
        ++attempts;
        ASSERT_TRUE(outcome.get<Outcome::Held>());
        EXPECT_EQ(outcome.get<Outcome::Held>()->record.verdict, verdict);
        EXPECT_EQ(outcome.get<Outcome::Held>()->record.attempts, attempts);
        EXPECT_NE(outcome.get<Outcome::Held>()->record.lastError, PendingAckCoordinator::inProgressText);
        EXPECT_EQ(store.get("a-1"), outcome.get<Outcome::Held>()->record);
    }
    answer("a-1", Reply::json(testkit::alertAnswer("a-1")));
    EXPECT_TRUE(attempt("a-1", &withKey).get<Outcome::Acknowledged>());
    EXPECT_TRUE(store.all().empty());
}

TEST_F(PendingAckAttempt, AnAnswerThatTricklesForeverIsGivenUpAndHeld) {
    // Never silent for the idle time-out, never done: without a deadline the drain behind it waits.
    answer(
        "a-1",
        Reply{
            .status = 200, .headers = {}, .body = std::string(1000000, ' '), .trickle = std::chrono::milliseconds(20)});
    const PendingAckCoordinator::Preflight begun = PendingAckCoordinator::begin("a-1", "t-1", "Disk full", store);
    const Outcome outcome = PendingAckCoordinator::finish(begun, &withKey, store, std::chrono::seconds(1));
    ASSERT_TRUE(outcome.get<Outcome::Held>());
    EXPECT_EQ(outcome.get<Outcome::Held>()->record.verdict, Verdict::retryable);
    EXPECT_EQ(store.get("a-1"), outcome.get<Outcome::Held>()->record);
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

// Places where the defaults file cannot be written: a folder in the file's place, and a folder
// that cannot be written to (read-only; as root, who writes whatever the mode, a file standing
// where the folder should be).
std::vector<std::filesystem::path> unwritablePlaces(const testkit::TempDir& dir) {
    std::filesystem::create_directory(dir / "defaults.json");
    std::filesystem::create_directory(dir / "read-only");
    std::filesystem::permissions(
        dir / "read-only", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    const std::filesystem::path notAFolder = dir / "not-a-folder";
    std::ofstream(notAFolder) << "x";
    const std::filesystem::path blockedFolder = ::geteuid() == 0 ? notAFolder : dir / "read-only";
    return {dir / "defaults.json", blockedFolder / "defaults.json"};
}

TEST_F(PendingAckAttempt, ARecordThatCannotBeWrittenIsNeverReportedAsKept) {
    for (const auto& place : unwritablePlaces(dir)) {
        SCOPED_TRACE(place.string());
        PendingAckStore blocked = PendingAckStore::inFile(place);
        server.clearRequests();

        // Still sent once, since the user asked; when that fails too, the user hears it was lost.
        answer("a-1", Reply::json("{}", 500));
        Outcome outcome = PendingAckCoordinator::attempt("a-1", "t-1", "Disk full", &withKey, blocked);
        ASSERT_TRUE(outcome.get<Outcome::NotKept>());
        const PendingAck& told = outcome.get<Outcome::NotKept>()->record;
        EXPECT_EQ(told.verdict, Verdict::final);
        EXPECT_EQ(
            told.reportBody(),
            "Disk full\n" + PendingAckCoordinator::notKeptText(AckDelivery::refused) +
                "\nServer error 500: the server gave no details.");
        EXPECT_EQ(server.requests().size(), 1u);
        EXPECT_TRUE(blocked.all().empty());

        // Not sent, and not answered: each said as it happened.
        outcome = PendingAckCoordinator::attempt("a-1", "t-1", "Disk full", nullptr, blocked);
        ASSERT_TRUE(outcome.get<Outcome::NotKept>());
        EXPECT_EQ(
            outcome.get<Outcome::NotKept>()->record.lastError,
            PendingAckCoordinator::notKeptText(AckDelivery::unsent) + "\n" +
                std::string(PendingAckCoordinator::notSignedInText));
        EXPECT_EQ(server.requests().size(), 1u);
        const BrisaluneClient unreachable(
            *platform::Url::parse("http://127.0.0.1:" + std::to_string(standin::Server().port())),
            std::nullopt,
            "data-key",
            nullptr,
            ClientIdentity::current(),
            compatibility);
        outcome = PendingAckCoordinator::attempt("a-1", "t-1", "Disk full", &unreachable, blocked);
        ASSERT_TRUE(outcome.get<Outcome::NotKept>());
        EXPECT_EQ(
            outcome.get<Outcome::NotKept>()->record.lastError.rfind(
                PendingAckCoordinator::notKeptText(AckDelivery::unconfirmed) + "\n", 0),
            0u);

        answer("a-1", Reply::json(testkit::alertAnswer("a-1")));
        EXPECT_TRUE(
            PendingAckCoordinator::attempt("a-1", "t-1", "Disk full", &withKey, blocked).get<Outcome::Acknowledged>());
        EXPECT_EQ(server.requests().size(), 2u);
    }
}

TEST_F(PendingAckAttempt, OnAFullDiskAnEarlierRecordStandsAndIsHeldAsItIs) {
    const PendingAck earlier = stored("a-1", "t-1", 1, "Server error 500", Verdict::retryable);
    store.put(earlier);
    answer("a-1", Reply::json("{}", 503));
    Outcome outcome;
    bool removed = true;
    {
        testkit::FileSizeLimit full(0);
        outcome = attempt("a-1", &withKey);
        removed = store.remove("a-1");
    }
    EXPECT_EQ(outcome, held(earlier));  // on disk, and retried by the next drain
    EXPECT_FALSE(removed);
    EXPECT_EQ(store.all(), std::vector{earlier});
    EXPECT_EQ(server.requests().size(), 1u);
}

// The disk fills while the request is out: the result cannot be written over the preflight, which
// still stands. Nobody overtook the attempt, and the person reads that the failure was not saved.
TEST_F(PendingAckAttempt, AResultThatCannotBeWrittenIsNotSavedNeverOvertaken) {
    answer("a-1", Reply::json(R"({"error":"boom"})", 500));
    const PendingAckCoordinator::Preflight begun = PendingAckCoordinator::begin("a-1", "t-1", "Disk full", store);
    ASSERT_TRUE(begun.written);
    Outcome outcome;
    {
        testkit::FileSizeLimit full(0);
        outcome = PendingAckCoordinator::finish(begun, &withKey, store);
    }
    ASSERT_TRUE(outcome.get<Outcome::NotSaved>()) << outcome.value.index();
    const PendingAck& told = outcome.get<Outcome::NotSaved>()->record;
    EXPECT_EQ(
        told.reportBody(),
        "Disk full\n" + PendingAckCoordinator::notSavedText(AckDelivery::refused) + "\nServer error 500: boom");
    EXPECT_EQ(store.all(), std::vector{begun.record});  // retried by the next drain
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(PendingAckAttempt, AHugeErrorTextIsCutWhereItIsKeptAndShown) {
    const std::string huge = std::string(1024 * 1024, 'x') + "\u00e9";
    answer("a-1", Reply::json(R"({"error":")" + huge + R"("})", 403));
    const Outcome outcome = attempt("a-1", &withKey, "t-1", std::string(5000, 't'));
    ASSERT_TRUE(outcome.get<Outcome::Held>());
    const PendingAck& record = outcome.get<Outcome::Held>()->record;
    EXPECT_EQ(record.verdict, Verdict::final);
    EXPECT_LE(record.lastError.size(), PendingAck::maxTextBytes);
    EXPECT_LE(record.title.size(), PendingAck::maxTextBytes);
    EXPECT_LE(record.reportBody().size(), PendingAck::maxReportBytes);
    EXPECT_TRUE(platform::isValidUtf8(record.reportBody()));
    EXPECT_NE(record.reportBody().find('\n'), std::string::npos);  // the failure is shown beside the title
    EXPECT_EQ(store.get("a-1"), record);
    EXPECT_LT(std::filesystem::file_size(dir / "defaults.json"), 8u * 1024);
}

TEST_F(PendingAckAttempt, AnAttemptCountAtItsLimitStaysThere) {
    // A damaged or hand-edited file may hold any count; the next attempt must not overflow it.
    const std::int64_t most = std::numeric_limits<std::int64_t>::max();
    store.put(stored("a-1", "t-1", most, "Server error 500", Verdict::retryable));
    EXPECT_EQ(attempt("a-1", nullptr), held(stored("a-1", "t-1", most, "Server error 500", Verdict::retryable)));
    answer("a-1", Reply::json(testkit::alertAnswer("a-1")));
    EXPECT_TRUE(attempt("a-1", &withKey).get<Outcome::Acknowledged>());
    EXPECT_TRUE(store.all().empty());
}

}  // namespace
}  // namespace brisalune

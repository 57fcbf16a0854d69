#include <brisalune/push/keychain_backed_client.hpp>

#include <push/push_state_fixture.hpp>
#include <support/alert_answer.hpp>
#include <support/stopped_keyring.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <optional>

namespace brisalune {
namespace {

using standin::Reply;
using testkit::pending;

std::vector<std::string> ids(const AckFailureReport& report) {
    std::vector<std::string> out;
    for (const PendingAck& record : report.records) out.push_back(record.alertId);
    return out;
}

class PushDrain : public testkit::PushStateTest {
protected:
    PushDrain() {
        signIn();
        server.on("POST", "/v1/alerts/a1/ack", Reply::json(testkit::alertAnswer("a1")));
        server.on("POST", "/v1/alerts/a2/ack", Reply::json(R"({"error":"down"})", 503));
    }
};

TEST_F(PushDrain, AttemptsThroughTheModelReportsWhatFailedAndPrunesTheReport) {
    for (const auto& record :
         {pending("a1"), pending("a2"), pending("a3", "t2"), pending("a4", "t1", AckFailureVerdict::final)})
        acks->put(record);
    await(state->drainPendingAcks(false));
    EXPECT_EQ(model->acknowledged, (std::vector<std::string>{"a1", "a2"}));  // others are another team's, or final
    EXPECT_EQ(ids(state->ackFailures()), (std::vector<std::string>{"a2", "a3", "a4"}));
    EXPECT_EQ(state->ackFailures().records[0].attempts, 2);
    EXPECT_FALSE(acks->get("a1"));
    EXPECT_EQ(requests("POST").front().header("Authorization"), "Bearer data-key");

    // What left the store leaves the report after the next drain; dismissed alerts are left alone.
    acks->remove("a3");
    state->modifyAckStandings([](PendingAckStandings& standings) { standings.dismiss({"a2"}); });
    await(state->drainPendingAcks(false));
    EXPECT_EQ(model->acknowledged.size(), 2u);
    EXPECT_EQ(ids(state->ackFailures()), (std::vector<std::string>{"a2", "a4"}));

    state->dismissReportedFailures();
    EXPECT_TRUE(state->ackFailures().records.empty());
    EXPECT_FALSE(acks->get("a4"));
    EXPECT_TRUE(state->ackStandings().dismissedAlertIds.contains("a4"));
}

TEST_F(PushDrain, DoesNothingWithoutASignedInModelWithATeam) {
    acks->put(pending("a1"));
    model->stored->activeTenantId.reset();
    await(state->drainPendingAcks(true));
    model->stored = storedSession();
    model->signedIn = false;
    await(state->drainPendingAcks(true));
    EXPECT_TRUE(model->acknowledged.empty());
    EXPECT_EQ(acks->all(), std::vector{pending("a1")});
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(PushDrain, ASessionEndingDuringAnAttemptStopsTheDrain) {
    for (const char* id : {"a1", "a2", "a3"}) acks->put(pending(id));
    model->beforeAcknowledge = [&](const std::string& alertId) {
        if (alertId == "a2") state->endSession();
    };
    await(state->drainPendingAcks(false));
    EXPECT_EQ(model->acknowledged, (std::vector<std::string>{"a1", "a2"}));
    EXPECT_FALSE(acks->get("a2"));  // the attempt's record is discarded
    EXPECT_TRUE(state->ackFailures().records.empty());
}

TEST_F(PushDrain, AnAcknowledgementOfTheNextSessionOutlivesTheEndedDrainsDiscard) {
    acks->put(pending("a2"));
    model->beforeAcknowledge = [&](const std::string&) { state->endSession(); };
    // While the old session's attempt waits for its answer, the user signs in again and presses
    // the alert's acknowledge button: that attempt's record is in the store now.
    PendingAck pressed = pending("a2");
    pressed.title = "Disk full on db-2";
    pressed.lastError = std::string(PendingAckCoordinator::inProgressText);
    server.on("POST", "/v1/alerts/a2/ack", [&](const standin::ReceivedRequest&) {
        acks->put(pressed);
        return Reply::json(R"({"error":"down"})", 503);
    });
    await(state->drainPendingAcks(false));
    EXPECT_EQ(acks->get("a2"), pressed);  // the new press is still there to be settled and retried
}

TEST_F(PushDrain, WithoutAModelTheKeychainSessionAcknowledges) {
    keychain->save(storedSession());
    acks->put(pending("a1", ""));
    auto outcome = await(state->acknowledge("a1", std::nullopt));  // the active team's key
    EXPECT_TRUE(outcome.get<AckAttemptOutcome::Acknowledged>());
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");

    outcome = await(state->acknowledge("a2", "t1"));
    ASSERT_TRUE(outcome.get<AckAttemptOutcome::Held>());
    EXPECT_EQ(outcome.get<AckAttemptOutcome::Held>()->record.title, "a2");  // nothing stored: titled by its id
    server.on("POST", "/v1/alerts/a3/ack", Reply::json(R"({"error":"down"})", 503));
    outcome = await(state->acknowledge("a3", std::nullopt));  // no team named: the key's
    ASSERT_TRUE(outcome.get<AckAttemptOutcome::Held>());
    EXPECT_EQ(acks->get("a3")->tenantId, "t1");

    keychain->clear();
    server.clearRequests();
    outcome = await(state->acknowledge("a1", "t1"));
    ASSERT_TRUE(outcome.get<AckAttemptOutcome::Held>());
    EXPECT_EQ(outcome.get<AckAttemptOutcome::Held>()->record.lastError, PendingAckCoordinator::notSignedInText);
    EXPECT_TRUE(server.requests().empty());
}

// The keychain as the one it wraps, noting whether the alert's record was stored when asked.
class WatchedKeychain final : public SessionStoring {
public:
    WatchedKeychain(std::shared_ptr<SessionStoring> keychain, std::shared_ptr<PendingAckStoring> acks)
        : keychain_(std::move(keychain)), acks_(std::move(acks)) {}

    SessionLoad load() override {
        recordWhenAsked = acks_->get("a1").has_value();
        asked = true;
        return keychain_->load();
    }
    void save(const StoredSession& session) override { keychain_->save(session); }
    void clear() override { keychain_->clear(); }

    std::atomic<bool> asked = false;
    std::atomic<bool> recordWhenAsked = false;

private:
    std::shared_ptr<SessionStoring> keychain_;
    std::shared_ptr<PendingAckStoring> acks_;
};

TEST_F(PushDrain, WithoutAModelTheRecordIsStoredBeforeAStoppedKeyringIsAsked) {
    const auto real =
        std::make_shared<KeychainSessionStore>("app.brisalune.tests.push-ack-" + dir.path().filename().string());
    real->save(storedSession());
    const auto watched = std::make_shared<WatchedKeychain>(real, acks);
    state = std::make_unique<PushState>(
        host,
        true,
        registry,
        acks,
        PushState::Environment{.defaults = defaults(), .keychain = watched, .notificationCenter = center});

    auto stopped = std::make_optional<testkit::StoppedKeyring>();
    auto outcome = state->acknowledge("a1", "Disk full", std::nullopt);
    ASSERT_TRUE(testkit::processEventsUntil([&] { return watched->asked.load(); }));
    EXPECT_TRUE(watched->recordWhenAsked) << "the keyring was asked before the acknowledgement was kept";
    stopped.reset();
    const AckAttemptOutcome settled = await(std::move(outcome));
    EXPECT_TRUE(settled.get<AckAttemptOutcome::Acknowledged>() || settled.get<AckAttemptOutcome::Held>());
    real->clear();
}

TEST_F(PushDrain, TheKeychainClientServesTheGivenTeamWhenItHasAKey) {
    using KeychainBackedClient::clientForTenant;
    StoredSession session = storedSession("acc1", "t1");
    session.tenantKeys.emplace("t2", TenantKey{"k2", "box-key", std::nullopt});
    session.tenantHosts.emplace("t2", *platform::Url::parse("https://box.example:8443"));
    MemorySessionStore store(session);

    auto chosen = clientForTenant("t9", store);  // no key: the active team
    EXPECT_EQ(chosen.tenantId, "t1");
    EXPECT_EQ(chosen.client->dataKey(), "data-key");
    EXPECT_EQ(chosen.client->sessionToken(), std::nullopt);
    chosen = clientForTenant("t2", store);
    EXPECT_EQ(chosen.tenantId, "t2");
    EXPECT_EQ(chosen.client->baseURL(), *platform::Url::parse("https://box.example:8443"));

    session.activeTenantId = "t3";  // active, but no key
    store.save(session);
    EXPECT_FALSE(clientForTenant(std::nullopt, store).client);
    session.activeTenantId.reset();
    store.save(session);
    EXPECT_FALSE(clientForTenant(std::nullopt, store).tenantId);
    MemorySessionStore unreadable(session, true);
    EXPECT_FALSE(clientForTenant("t2", unreadable).client);
}

}  // namespace
}  // namespace brisalune

// The user's responses to alert notifications: acknowledge from the button, open from a click.

#include <app/model/delegate_fixture.hpp>

#include <QWidget>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

using standin::Reply;
using Ack = MacModel::NotificationAck;

constexpr const char* ack = "BRISALUNE_ACK";
constexpr const char* click = "default";

class NotificationResponses : public testkit::DelegateTest {
protected:
    void SetUp() override {
        model = delegate->sharedModel();
        pushState.setModel(model);
    }
};

TEST_F(NotificationResponses, RefusedWithoutASessionATeamOrAMembership) {
    EXPECT_EQ(run(model->acknowledgeFromNotification("a1", "t1")), Ack{Ack::Refused{}});
    serveLogin();
    run(model->signIn("ops@example.com", "secret"));  // two teams: none active yet
    EXPECT_EQ(run(model->acknowledgeFromNotification("a1", std::nullopt)), Ack{Ack::Refused{}});
    EXPECT_EQ(run(model->acknowledgeFromNotification("a1", "t9")), Ack{Ack::Refused{}});
    EXPECT_TRUE(acks->all().empty());
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a1/ack"), 0u);
}

TEST_F(NotificationResponses, TheButtonAcknowledgesAndRefreshesTheActiveTeam) {
    launchWith(session());
    hosted.on("POST", "/v1/alerts/a1/ack", Reply::json(testkit::alertAnswer("a1")));
    servePull(hosted, {testkit::alertAnswer("a1", "acked")});
    respond(ack, "a1", "t1");
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a1/ack"), 1u);
    EXPECT_EQ(model->openAlerts().front().state, "acked");  // refreshed before the response ends
    EXPECT_TRUE(acks->all().empty());
    EXPECT_TRUE(center->shown.empty());
}

TEST_F(NotificationResponses, AHostedTeamNeverSelectedGetsItsKeyAndIsAcknowledged) {
    launchWith(session());
    serveKey(hosted, "t2", "k2", "key-2");
    hosted.on("POST", "/v1/alerts/b1/ack", Reply::json(testkit::alertAnswer("b1")));
    const std::size_t pulls = count(hosted, "GET /v1/pull?cursor=0");

    const Ack result = run(model->acknowledgeFromNotification("b1", "t2"));
    const auto* attempted = result.get<Ack::Attempted>();
    ASSERT_TRUE(attempted);
    EXPECT_TRUE(attempted->outcome.get<AckAttemptOutcome::Acknowledged>());
    EXPECT_EQ(authorizations(hosted).back(), "Bearer key-2");
    EXPECT_EQ(keychain->load().session()->tenantKeys.at("t2"), (TenantKey{"k2", "key-2", "t2"}));
    EXPECT_EQ(model->session()->activeTenantId, "t1");  // another team: not made active, not refreshed
    EXPECT_EQ(count(hosted, "GET /v1/pull?cursor=0"), pulls);
}

TEST_F(NotificationResponses, AKeyThatCannotBeIssuedLeavesTheAcknowledgementHeld) {
    launchWith(session());
    hosted.on("POST", "/v1/tenants/t2/keys", Reply::json(R"({"error":"admin role required"})", 403));
    respond(ack, "b1", "t2");
    const std::optional<PendingAck> held = acks->get("b1");
    ASSERT_TRUE(held);
    EXPECT_EQ(held->tenantId, "t2");
    EXPECT_EQ(held->lastError, PendingAckCoordinator::noTenantKeyText);
    EXPECT_EQ(count(hosted, "POST /v1/alerts/b1/ack"), 0u);
    EXPECT_EQ(center->shown.size(), 1u);  // "Couldn't acknowledge"
    EXPECT_FALSE(model->session()->tenantKeys.contains("t2"));
}

TEST_F(NotificationResponses, ABoxTeamNotSignedInIsQueuedAndTheBoxWindowOpens) {
    StoredSession stored = session();
    stored.tenantHosts.emplace("t2", boxURL());
    launchWith(stored);
    const PendingAck earlier{"b1", "t2", "Disk full", 3, "earlier", AckFailureVerdict::final};
    acks->put(earlier);

    respond(ack, "b1", "t2");
    PendingAck queued = earlier;
    queued.attempts = 0;
    queued.lastError = "Sign in to this box to acknowledge.";
    queued.verdict = AckFailureVerdict::retryable;
    EXPECT_EQ(acks->get("b1"), queued);
    QWidget* boxWindow = delegate->windows().window(WindowPresenter::Kind::box);
    ASSERT_TRUE(boxWindow);
    EXPECT_TRUE(boxWindow->isVisible());
    EXPECT_EQ(count(hosted, "POST /v1/tenants/t2/keys"), 0u);  // a box team's key comes from the box
    EXPECT_EQ(count(box, "POST /v1/alerts/b1/ack"), 0u);
}

TEST_F(NotificationResponses, OnlyTheFirstFailureIsToldByANotification) {
    launchWith(session());
    hosted.on("POST", "/v1/alerts/a1/ack", Reply::json(R"({"error":"busy"})", 503));
    respond(ack, "a1", "t1");
    ASSERT_EQ(center->shown.size(), 1u);
    const NotificationRequest& told = center->shown.front();
    EXPECT_EQ(told.identifier, "brisalune.ack-failure.a1");
    EXPECT_EQ(told.title, "Couldn't acknowledge");
    EXPECT_EQ(told.categoryIdentifier, "BRISALUNE_ALERT");
    EXPECT_EQ(told.userInfo, (json::Object{{"alert_id", "a1"}, {"tenant_id", "t1"}}));

    center->shown.clear();
    respond(ack, "a1", "t1");  // its own acknowledge button: the same alert again
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a1/ack"), 2u);
    EXPECT_TRUE(center->shown.empty());
    EXPECT_EQ(acks->get("a1")->attempts, 2);
}

TEST_F(NotificationResponses, AClickOpensTheAlertOrSaysWhyItCannot) {
    serveHealth(hosted, "https://portal.example");
    launchWith(session());
    respond(click, "a1", "t1");
    EXPECT_EQ(opened, std::vector<std::string>{"https://portal.example/t/t1/alerts/a1"});

    // An origin the app cannot use: the hosted service then has none.
    serveHealth(hosted, "https://portal.example/sub");
    run(model->refreshPortalOrigins());
    respond(click, "a1", "t1");
    EXPECT_EQ(opened.size(), 1u);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].first, "Nothing to open");
    EXPECT_EQ(
        notices[0].second.toStdString(), "127.0.0.1 has no web portal. Its operator turns one on with -portal-origin.");

    respond(click, "a1", "t9");  // not a team of this account: nothing
    respond(ack, "", "t1");      // no alert id: not a notification of ours
    NotificationResponse incident = response(click, "x", "t1");
    incident.request.userInfo = {{"event", "incident.alerts_resolved"}, {"incident", 7.0}, {"tenant_id", "t1"}};
    run(delegate->handleNotificationResponse(incident));
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_EQ(notices.size(), 1u);
}

}  // namespace
}  // namespace brisalune

// Launch, sign-in and the account refresh: the phases and what moves the model between them.

#include <app/model/model_fixture.hpp>

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

using Phase = MacModel::Phase;
using standin::Reply;

class ModelLaunch : public testkit::ModelTest {};

TEST_F(ModelLaunch, AFreshModelWaitsAndWithoutAStoredSessionSignsOutSilently) {
    EXPECT_EQ(model->phase(), Phase::loading);
    run(model->ensureLaunched());
    EXPECT_EQ(model->phase(), Phase::signedOut);
    EXPECT_FALSE(model->lastError());

    // An unreadable item counts as none.
    keychain = std::make_shared<MemorySessionStore>(session(), true);
    model = makeModel();
    run(model->ensureLaunched());
    EXPECT_EQ(model->phase(), Phase::signedOut);
    EXPECT_FALSE(model->lastError());
    EXPECT_TRUE(hosted.requests().empty());
}

TEST_F(ModelLaunch, AStoredTeamIsSignedInAtOnceAndTheLaunchRunsOnce) {
    keychain->save(session());
    serveMe({membership("t1"), membership("t2", "viewer", box.baseUrl())});
    servePull(hosted, {testkit::alertAnswer("a1", "firing"), testkit::alertAnswer("a2", "resolved")});
    serveHealth(hosted, "");

    QCoro::Task<> first = model->ensureLaunched();
    EXPECT_EQ(model->phase(), Phase::signedIn);  // before the account answers
    QCoro::Task<> second = model->ensureLaunched();
    run(std::move(first));
    run(std::move(second));
    run(model->ensureLaunched());

    EXPECT_EQ(count(hosted, "GET /v1/me"), 1u);
    EXPECT_EQ(model->currentMembership()->tenantId, "t1");
    EXPECT_EQ(alertIds(), std::vector<std::string>{"a1"});  // open alerts only
    // The data-plane address is recorded for its team, in the model and in the keychain.
    EXPECT_EQ(model->session()->tenantHosts.at("t2"), boxURL());
    EXPECT_EQ(keychain->load().session(), model->session());
    // Pull with the team's key, cursor 0 and no wait.
    EXPECT_EQ(count(hosted, "GET /v1/pull?cursor=0"), 1u);
    EXPECT_EQ(authorizations(hosted).back(), "Bearer key-1");
    // A later answer without the address leaves it.
    serveMe({membership("t1"), membership("t2")});
    run(model->refreshAccount());
    EXPECT_EQ(model->session()->tenantHosts.at("t2"), boxURL());
}

TEST_F(ModelLaunch, TheAccountRefreshSignsOutOnlyWhenTheServerRefusesTheSession) {
    hosted.on("GET", "/v1/me", Reply::json(R"({"error":"down"})", 503));
    keychain->save(session(std::nullopt));
    run(model->ensureLaunched());
    EXPECT_EQ(model->phase(), Phase::selectingTenant);
    ASSERT_TRUE(model->alertsError());
    EXPECT_TRUE(model->session());

    hosted.on("GET", "/v1/me", Reply::json(R"({"error":"unauthorized"})", 401));
    run(model->refreshAccount());
    EXPECT_EQ(model->phase(), Phase::signedOut);
    EXPECT_TRUE(keychain->load().is(SessionLoad::Case::absent));
    EXPECT_FALSE(model->alertsError());
    EXPECT_EQ(count(hosted, "POST /v1/logout"), 0u);  // the local sign-out only
}

TEST_F(ModelLaunch, SignInPicksTheOnlyTeamAndLeavesTheChoiceWithSeveral) {
    serveLogin();
    serveMe({membership("t1")});
    serveKey(hosted, "t1", "k9", "key-9");
    run(model->ensureLaunched());

    QSignalSpy phases(model.get(), &MacModel::phaseChanged);
    run(model->signIn("ops@example.com", "secret"));
    EXPECT_EQ(model->phase(), Phase::signedIn);
    EXPECT_EQ(phases.count(), 2);  // selectingTenant, then signedIn
    EXPECT_EQ(model->session()->tenantKeys.at("t1"), (TenantKey{"k9", "key-9", "t1"}));
    EXPECT_EQ(alertIds(), std::vector<std::string>{"a1"});
    EXPECT_EQ(model->accountClient()->sessionToken(), "session-1");
    EXPECT_FALSE(model->accountClient()->hasDataKey());

    run(model->signOutLocally());
    serveMe({membership("t1"), membership("t2")});
    run(model->signIn("ops@example.com", "secret"));
    EXPECT_EQ(model->phase(), Phase::selectingTenant);
}

TEST_F(ModelLaunch, AFailedSignInShowsTheErrorAndChangesNothing) {
    hosted.on("POST", "/v1/login", Reply::json(R"({"error":"invalid credentials"})", 401));
    run(model->ensureLaunched());
    run(model->signIn("ops@example.com", "wrong"));
    EXPECT_EQ(model->phase(), Phase::signedOut);
    EXPECT_TRUE(model->lastError());
    EXPECT_FALSE(model->session());

    // A session the keychain refuses to keep is not taken either.
    serveLogin();
    keychain->setSaveError(MemorySessionStore::SaveError());
    run(model->signIn("ops@example.com", "secret"));
    EXPECT_EQ(model->lastError(), "the session could not be saved");
    EXPECT_FALSE(model->session());
    EXPECT_EQ(model->phase(), Phase::signedOut);
}

TEST_F(ModelLaunch, ChangesAreToldOnlyWhenAValueReallyChanges) {
    launchWith(session());
    QSignalSpy sessions(model.get(), &MacModel::sessionChanged);
    QSignalSpy alerts(model.get(), &MacModel::openAlertsChanged);
    QSignalSpy clients(model.get(), &MacModel::accountClientChanged);
    run(model->refreshAccount());  // the same memberships, the same session
    run(model->refreshAlerts());   // the same alerts
    EXPECT_EQ(sessions.count(), 0);
    EXPECT_EQ(alerts.count(), 0);

    run(model->signOutLocally());
    EXPECT_EQ(sessions.count(), 1);
    EXPECT_EQ(alerts.count(), 1);
    EXPECT_EQ(clients.count(), 1);  // a client has no equality
}

}  // namespace
}  // namespace brisalune

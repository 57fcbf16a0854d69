// Launch, sign-in and the account refresh: the phases and what moves the model between them.

#include <app/model/model_fixture.hpp>

#include <support/stopped_keyring.hpp>

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace brisalune {
namespace {

using Phase = MacModel::Phase;
using standin::Reply;

class ModelLaunch : public testkit::ModelTest {
protected:
    // In a child process whose session bus leads nowhere: no keyring service at all. Names each
    // failed check on stderr.
    bool signsInWithoutAKeyringService() {
        ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (dir / "no-bus").string()).c_str(), 1);
        std::string failed;
        auto check = [&](bool held, const std::string& what) { failed += held ? "" : what + "\n"; };
        QCoro::waitFor(model->ensureLaunched());
        check(model->phase() == Phase::signedOut, "the launch did not end signed out");
        QCoro::waitFor(model->signIn("ops@example.com", "secret"));
        const std::string error = model->lastError().value_or("");
        check(error.find("no keyring service") != std::string::npos, "the error is not in words: " + error);
        check(error.find("GNOME Keyring") != std::string::npos, "the error says nothing to do: " + error);
        check(error.find_first_of("0123456789") == std::string::npos, "the error shows a number: " + error);
        check(!model->session() && model->phase() == Phase::signedOut, "a session was taken");
        check(received(hosted).back() == "POST /v1/logout", "the issued session was not ended");
        check(authorizations(hosted).back() == "Bearer issued-1", "another session was ended");
        std::fputs(failed.c_str(), stderr);
        return failed.empty();
    }
};

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

// A keyring that could not be read at launch (locked, or not answering) that answers later: the
// next refresh takes the stored session up, and so does an acknowledgement pressed meanwhile,
// which then goes through rather than be refused as signed out. Once the person signs in or out,
// the item is left alone.
TEST_F(ModelLaunch, AStoredSessionUnreadableAtLaunchIsTakenUpOnceTheKeychainAnswers) {
    serveMe({membership("t1")});
    hosted.on("POST", "/v1/alerts/a1/ack", Reply::json(testkit::alertAnswer("a1")));
    const auto launchLocked = [&] {
        keychain = std::make_shared<MemorySessionStore>(session(), true);
        model = makeModel();
        run(model->ensureLaunched());
        run(model->refresh());  // still locked
        EXPECT_EQ(model->phase(), Phase::signedOut);
    };

    launchLocked();
    keychain->save(session());  // unlocked
    run(model->refresh());
    EXPECT_EQ(model->phase(), Phase::signedIn);
    EXPECT_EQ(model->session(), session());

    launchLocked();
    keychain->save(session());
    EXPECT_TRUE(run(model->acknowledgeFromNotification("a1", "t1")).get<MacModel::NotificationAck::Attempted>());
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a1/ack"), 1u);
    EXPECT_EQ(model->phase(), Phase::signedIn);

    // A sign-in on its way is what the person asked for.
    launchLocked();
    keychain->save(session());
    serveLogin("issued-2");
    QSignalSpy sessions(model.get(), &MacModel::sessionChanged);
    QCoro::Task<> signIn = model->signIn("ops@example.com", "secret");
    run(model->refresh());
    run(std::move(signIn));
    ASSERT_TRUE(model->session());
    EXPECT_EQ(model->session()->sessionToken, "issued-2");
    EXPECT_EQ(sessions.count(), 1) << "the stored session was taken up on the way";

    launchLocked();
    run(model->signOutLocally());
    keychain->save(session());  // a clear that the keyring missed
    run(model->refresh());
    EXPECT_EQ(model->phase(), Phase::signedOut);
}

TEST_F(ModelLaunch, AStoredTeamIsSignedInAtOnceAndTheLaunchRunsOnce) {
    keychain->save(session());
    serveMe({membership("t1"), membership("t2", "viewer", box.baseUrl())});
    servePull(hosted, {testkit::alertAnswer("a1", "firing"), testkit::alertAnswer("a2", "resolved")});
    serveHealth(hosted, "");

    std::optional<std::size_t> askedWhenSignedIn;
    const QObject listening;  // the connection goes with this test's locals
    QObject::connect(model.get(), &MacModel::phaseChanged, &listening, [&] {
        if (model->phase() == Phase::signedIn && !askedWhenSignedIn) askedWhenSignedIn = count(hosted, "GET /v1/me");
    });
    QCoro::Task<> first = model->ensureLaunched();
    QCoro::Task<> second = model->ensureLaunched();
    run(std::move(first));
    run(std::move(second));
    run(model->ensureLaunched());

    EXPECT_EQ(askedWhenSignedIn, 0u);  // signed in before the account was asked for
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
    // Nobody holds the session the server issued: it is ended there.
    EXPECT_EQ(received(hosted), (std::vector<std::string>{"POST /v1/login", "POST /v1/login", "POST /v1/logout"}));
    EXPECT_EQ(authorizations(hosted).back(), "Bearer session-1");

    // A server that is gone by then changes nothing of that.
    hosted.clearRequests();
    hosted.on("POST", "/v1/logout", Reply::json(R"({"error":"down"})", 503));
    run(model->signIn("ops@example.com", "secret"));
    EXPECT_EQ(model->lastError(), "the session could not be saved");
    EXPECT_EQ(count(hosted, "POST /v1/logout"), 1u);
    EXPECT_EQ(model->phase(), Phase::signedOut);
}

TEST_F(ModelLaunch, WithoutAKeyringServiceTheSignInSaysSoAndEndsTheIssuedSession) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    serveLogin("issued-1");
    model = std::make_shared<MacModel>(
        pushState,
        defaults,
        std::make_shared<KeychainSessionStore>("app.brisalune.tests.no-keyring"),
        factory(),
        addresses());
    // _Exit: the libraries' exit-time teardown is not under test.
    EXPECT_EXIT(std::_Exit(signsInWithoutAKeyringService() ? 0 : 1), ::testing::ExitedWithCode(0), "");
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

// The keychain waits on the pool: while the keyring does not answer, the event loop goes on and
// the model waits in the state it had.
TEST_F(ModelLaunch, AKeyringThatDoesNotAnswerHoldsNoThreadOfTheUi) {
    const auto store =
        std::make_shared<KeychainSessionStore>("app.brisalune.tests.slow-" + dir.path().filename().string());
    model = std::make_shared<MacModel>(pushState, defaults, store, factory(), addresses());
    serveLogin();
    serveMe({membership("t1"), membership("t2")});
    testkit::Ticker ticker;

    // The launch: still loading while the keyring is stopped.
    auto stopped = std::make_optional<testkit::StoppedKeyring>();
    QCoro::Task<> launch = model->ensureLaunched();
    ASSERT_TRUE(ticker.runFor(3));
    EXPECT_EQ(model->phase(), Phase::loading);
    EXPECT_FALSE(model->hasLaunched());
    stopped.reset();
    run(std::move(launch));
    EXPECT_EQ(model->phase(), Phase::signedOut);

    // The save of a new session: the sign-in waits for it, signed out and with no error.
    stopped.emplace();
    QCoro::Task<> signIn = model->signIn("ops@example.com", "secret");
    ASSERT_TRUE(ticker.runUntil(3, [&] { return count(hosted, "POST /v1/login") == 1; }));
    ASSERT_TRUE(ticker.runFor(3));
    EXPECT_FALSE(model->session());
    EXPECT_FALSE(model->lastError());
    EXPECT_EQ(model->phase(), Phase::signedOut);
    stopped.reset();
    run(std::move(signIn));
    EXPECT_EQ(model->phase(), Phase::selectingTenant);
    EXPECT_EQ(store->load().session(), model->session());

    // The clear: the model is signed out once the item is gone, when the keyring answers.
    stopped.emplace();
    QCoro::Task<> signOut = model->signOutLocally();
    ASSERT_TRUE(ticker.runFor(3));
    EXPECT_EQ(model->phase(), Phase::selectingTenant);
    stopped.reset();
    run(std::move(signOut));
    EXPECT_EQ(model->phase(), Phase::signedOut);
    EXPECT_TRUE(store->load().is(SessionLoad::Case::absent));
}

// Keychain calls keep the order they were asked in: a sign-out while a save is on its way
// leaves no session behind, in the model or in the keychain.
TEST_F(ModelLaunch, ASignOutWhileASaveIsOnItsWayLeavesNothingBehind) {
    StoredSession stored = session();
    stored.tenantKeys.insert_or_assign("t2", TenantKey{"k2", "key-2", "t2"});
    launchWith(stored);
    QCoro::Task<> select = model->selectTenant("t2");  // has its key: straight to the keychain
    QCoro::Task<> signOut = model->signOutLocally();
    run(std::move(select));
    run(std::move(signOut));
    EXPECT_FALSE(model->session());
    EXPECT_EQ(model->phase(), Phase::signedOut);
    EXPECT_TRUE(keychain->load().is(SessionLoad::Case::absent));
}

}  // namespace
}  // namespace brisalune

// Team selection, the client for a team, the alert refresh, and late answers dropped.

#include <app/model/model_fixture.hpp>
#include <support/stopped_keyring.hpp>

#include <gtest/gtest.h>

#include <atomic>

namespace brisalune {
namespace {

using Phase = MacModel::Phase;
using standin::Reply;

class ModelTeams : public testkit::ModelTest {};

TEST_F(ModelTeams, AKeyIsIssuedOnlyForAHostedTeamWithoutOne) {
    StoredSession stored = session();
    stored.tenantHosts.emplace("t3", boxURL());  // a box team not signed in yet
    serveMe({membership("t1"), membership("t2"), membership("t3")});
    launchWith(stored);
    serveKey(hosted, "t2", "k2", "key-2");

    run(model->selectTenant("t2"));
    run(model->selectTenant("t2"));
    run(model->selectTenant("t1"));
    EXPECT_EQ(count(hosted, "POST /v1/tenants/t2/keys"), 1u);
    EXPECT_EQ(count(hosted, "POST /v1/tenants/t1/keys"), 0u);
    EXPECT_EQ(model->session()->tenantKeys.at("t2"), (TenantKey{"k2", "key-2", "t2"}));

    const std::size_t before = hosted.requests().size() + box.requests().size();
    run(model->selectTenant("t3"));
    EXPECT_EQ(model->session()->activeTenantId, "t3");
    EXPECT_TRUE(model->needsBoxSignIn());
    EXPECT_FALSE(model->client("t3"));
    EXPECT_TRUE(model->openAlerts().empty());
    EXPECT_EQ(hosted.requests().size() + box.requests().size(), before);  // no key, no pull
}

// A key the keychain cannot keep is taken back at once: nobody would hold it.
TEST_F(ModelTeams, AKeyTheKeychainCannotKeepIsRevoked) {
    launchWith(session());
    serveKey(hosted, "t2", "k2", "key-2");
    keychain->setSaveError(MemorySessionStore::SaveError{});
    run(model->selectTenant("t2"));
    EXPECT_EQ(count(hosted, "DELETE /v1/tenants/t2/keys/k2"), 1u);
    EXPECT_EQ(model->session()->activeTenantId, "t1");
    EXPECT_TRUE(model->lastError());
}

TEST_F(ModelTeams, TheClientForATeamCarriesItsKeyToItsOwnHost) {
    StoredSession stored = session();
    stored.tenantHosts.emplace("t2", boxURL());
    stored.tenantKeys.emplace("t2", TenantKey{"bk", "box-key", "box-team"});
    launchWith(stored);
    made.clear();
    ASSERT_TRUE(model->client("t1"));
    ASSERT_TRUE(model->client("t2"));
    EXPECT_FALSE(model->client("t9"));
    EXPECT_EQ(
        made,
        (std::vector<Made>{{hostedURL().text(), std::nullopt, "key-1"}, {boxURL().text(), std::nullopt, "box-key"}}));
}

// A held acknowledgement belongs to the team it was pressed in, whichever team is active now.
TEST_F(ModelTeams, AnAcknowledgementGoesToTheTeamItsStoredRecordNames) {
    StoredSession stored = session();
    stored.tenantHosts.emplace("t2", boxURL());
    stored.tenantKeys.emplace("t2", TenantKey{"bk", "box-key", "box-team"});
    launchWith(stored);
    acks->put(PendingAck{
        .alertId = "a1", .tenantId = "t2", .title = "Disk full", .attempts = 1, .lastError = {}, .verdict = {}});
    box.on("POST", "/v1/alerts/a1/ack", Reply::json(testkit::alertAnswer("a1")));
    const AckAttemptOutcome outcome = run(model->acknowledge("a1", "Disk full", acks));
    EXPECT_TRUE(outcome.get<AckAttemptOutcome::Acknowledged>());
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a1/ack"), 0u);
    ASSERT_EQ(count(box, "POST /v1/alerts/a1/ack"), 1u);
    EXPECT_EQ(box.lastRequest()->header("Authorization"), "Bearer box-key");
}

// The service may move a team to another address; the key of the old one never follows it.
TEST_F(ModelTeams, AKeyStaysWithTheServerThatIssuedIt) {
    StoredSession stored = session();
    stored.tenantHosts.emplace("t2", boxURL());
    stored.tenantKeys.emplace("t2", TenantKey{"bk", "box-key", "box-team"});
    serveMe({membership("t1", "member", hostedURL().text()), membership("t2", "member", boxURL().text())});
    launchWith(stored);
    run(model->refreshAccount());
    EXPECT_EQ(model->session()->tenantKeys.at("t2").apiKey, "box-key");  // the same box: kept
    EXPECT_EQ(model->session()->tenantKeys.at("t1").apiKey, "key-1");    // first named where its key works: kept

    const std::string elsewhere = "http://127.0.0.2:9/";
    serveMe({membership("t1", "member", elsewhere), membership("t2", "member", elsewhere)});
    run(model->refreshAccount());
    EXPECT_FALSE(model->session()->tenantKeys.contains("t1"));  // a hosted key stays hosted too
    EXPECT_FALSE(model->session()->tenantKeys.contains("t2"));
    EXPECT_EQ(model->session()->tenantHosts.at("t2").text(), elsewhere);
    EXPECT_EQ(keychain->load().session(), model->session());
}

TEST_F(ModelTeams, AFailedRefreshKeepsTheListAndAMissingKeyEmptiesIt) {
    launchWith(session());
    hosted.on("GET", "/v1/pull", Reply::json(R"({"error":"busy"})", 503));
    run(model->refreshAlerts());
    EXPECT_EQ(alertIds(), std::vector<std::string>{"a1"});
    ASSERT_TRUE(model->alertsError());
    EXPECT_FALSE(model->alertsError()->empty());

    // An active team without a key: emptied, and no request.
    StoredSession keyless = *model->session();
    keyless.tenantKeys.clear();
    keychain->save(keyless);
    model = makeModel();
    serveMe({membership("t1")});
    const std::size_t before = count(hosted, "GET /v1/pull?cursor=0");
    run(model->ensureLaunched());
    EXPECT_TRUE(model->openAlerts().empty());
    EXPECT_EQ(count(hosted, "GET /v1/pull?cursor=0"), before);
}

TEST_F(ModelTeams, AnAnswerForTheTeamThatWasActiveBeforeIsDropped) {
    StoredSession stored = session();
    stored.tenantKeys.emplace("t2", TenantKey{"k2", "key-2", "t2"});
    launchWith(stored);

    std::atomic<bool> holdFirstTeam = true;
    hosted.on("GET", "/v1/pull", [&](const standin::ReceivedRequest& request) {
        const bool first = request.header("Authorization") == "Bearer key-1";
        Reply reply = Reply::json(pullAnswer({testkit::alertAnswer(first ? "a1" : "b1", "firing")}));
        reply.holdUntilReleased = first && holdFirstTeam;
        return reply;
    });

    const std::size_t before = hosted.requests().size();
    QCoro::Task<> late = model->refreshAlerts();  // for t1, held
    ASSERT_TRUE(hosted.waitForRequests(before + 1, std::chrono::seconds(5)));
    run(model->selectTenant("t2"));
    EXPECT_EQ(alertIds(), std::vector<std::string>{"b1"});
    holdFirstTeam = false;
    hosted.release();
    run(std::move(late));
    EXPECT_EQ(alertIds(), std::vector<std::string>{"b1"});
}

TEST_F(ModelTeams, AnswersArrivingAfterSignOutChangeNothing) {
    launchWith(session(std::nullopt));
    Reply heldKey = Reply::json(R"({"id":"k2","token":"key-2"})");
    heldKey.holdUntilReleased = true;
    hosted.on("POST", "/v1/tenants/t2/keys", heldKey);
    Reply heldAccount =
        Reply::json(R"({"account":{"id":"acc1","email":"ops@example.com"},"memberships":[)" + membership("t9") + "]}");
    heldAccount.holdUntilReleased = true;
    hosted.on("GET", "/v1/me", heldAccount);

    const std::size_t before = hosted.requests().size();
    QCoro::Task<> selection = model->selectTenant("t2");
    QCoro::Task<> account = model->refreshAccount();
    ASSERT_TRUE(hosted.waitForRequests(before + 2, std::chrono::seconds(5)));
    run(model->signOutLocally());
    hosted.release();
    run(std::move(selection));
    run(std::move(account));
    EXPECT_EQ(model->phase(), Phase::signedOut);
    EXPECT_FALSE(model->session());
    EXPECT_TRUE(model->memberships().empty());
    EXPECT_TRUE(keychain->load().is(SessionLoad::Case::absent));
}

TEST_F(ModelTeams, ARefusalOfAnEarlierSessionDoesNotEndTheNewOne) {
    launchWith(session());
    Reply refused = Reply::json(R"({"error":"unauthorized"})", 401);
    refused.holdUntilReleased = true;
    hosted.on("GET", "/v1/me", refused);
    const std::size_t before = hosted.requests().size();
    QCoro::Task<> stale = model->refreshAccount();
    ASSERT_TRUE(hosted.waitForRequests(before + 1, std::chrono::seconds(5)));

    run(model->signOutLocally());
    serveLogin("session-2");
    serveMe({membership("t1")});
    serveKey(hosted, "t1", "k5", "key-5");
    run(model->signIn("ops@example.com", "secret"));
    ASSERT_EQ(model->phase(), Phase::signedIn);
    hosted.release();
    run(std::move(stale));
    EXPECT_EQ(model->phase(), Phase::signedIn);
    EXPECT_EQ(model->session()->sessionToken, "session-2");
}

// The person picks t2 (whose key is still being issued), then t3: the last choice stands, and
// only t3's alerts show, whatever order the answers come back in. t2 keeps the key it was given.
TEST_F(ModelTeams, TheLastTeamChosenStaysActiveWhenAnEarlierChoiceAnswersLate) {
    StoredSession stored = session();
    stored.tenantKeys.emplace("t3", TenantKey{"k3", "key-3", "t3"});
    serveMe({membership("t1"), membership("t2"), membership("t3")});
    launchWith(stored);
    Reply heldKey = Reply::json(R"({"id":"k2","token":"key-2"})");
    heldKey.holdUntilReleased = true;
    hosted.on("POST", "/v1/tenants/t2/keys", heldKey);
    hosted.on("GET", "/v1/pull", [&](const standin::ReceivedRequest& request) {
        const std::string key = request.header("Authorization").value_or("");
        return Reply::json(pullAnswer({testkit::alertAnswer(key == "Bearer key-3" ? "c3" : "x", "firing")}));
    });

    const std::size_t before = hosted.requests().size();
    QCoro::Task<> first = model->selectTenant("t2");
    ASSERT_TRUE(hosted.waitForRequests(before + 1, std::chrono::seconds(5)));
    run(model->selectTenant("t3"));
    ASSERT_EQ(model->session()->activeTenantId, "t3");
    hosted.release();
    run(std::move(first));

    EXPECT_EQ(model->session()->activeTenantId, "t3");
    EXPECT_EQ(model->currentMembership()->tenantId, "t3");
    EXPECT_EQ(alertIds(), std::vector<std::string>{"c3"});
    EXPECT_EQ(model->session()->tenantKeys.at("t2"), (TenantKey{"k2", "key-2", "t2"}));
    EXPECT_EQ(keychain->load().session(), model->session());
}

// The service ended the session (signed out elsewhere, password changed): choosing a team finds
// out, and the person lands on the sign-in form with the reason instead of a picker that can
// never work.
TEST_F(ModelTeams, ASessionRefusedAtTheTeamChoiceSignsOut) {
    launchWith(session(std::nullopt));
    ASSERT_EQ(model->phase(), Phase::selectingTenant);
    const Reply refused = Reply::json(R"({"error":"session expired"})", 401);
    hosted.on("POST", "/v1/tenants/t2/keys", refused);
    hosted.on("GET", "/v1/me", refused);

    run(model->selectTenant("t2"));
    EXPECT_EQ(model->phase(), Phase::signedOut);
    EXPECT_FALSE(model->session());
    EXPECT_TRUE(model->lastError());
    EXPECT_TRUE(keychain->load().is(SessionLoad::Case::absent));

    // A refusal of the key alone (the session still good) keeps the session and the choice.
    serveMe({membership("t1"), membership("t2")});
    keychain->save(session(std::nullopt));
    model = makeModel();
    run(model->ensureLaunched());
    run(model->selectTenant("t2"));
    EXPECT_EQ(model->phase(), Phase::selectingTenant);
    EXPECT_TRUE(model->session());
    EXPECT_TRUE(model->lastError());
}

// Started offline or while the service was down: the team list comes with the next refresh.
TEST_F(ModelTeams, TeamsUnreadAtStartUpAreAskedForAgainByTheNextRefresh) {
    hosted.on("GET", "/v1/me", Reply::json(R"({"error":"down"})", 503));
    launchWith(session(std::nullopt));
    EXPECT_FALSE(model->membershipsKnown());
    run(model->refresh());  // still down: still unknown, the error shown
    EXPECT_FALSE(model->membershipsKnown());
    EXPECT_TRUE(model->alertsError());

    serveMe({membership("t1"), membership("t2")});
    run(model->refresh());
    EXPECT_TRUE(model->membershipsKnown());
    EXPECT_EQ(model->memberships().size(), 2u);
    const std::size_t asked = count(hosted, "GET /v1/me");
    run(model->refresh());  // known now: not asked again
    EXPECT_EQ(count(hosted, "GET /v1/me"), asked);
}

// The periodic alert refresh is what runs while the tray sits there: a session the service ended
// meanwhile is found out there too, not only at the next launch.
TEST_F(ModelTeams, AKeyRefusedAtTheAlertRefreshChecksTheSession) {
    launchWith(session());
    const Reply refused = Reply::json(R"({"error":"unauthorized"})", 401);
    hosted.on("GET", "/v1/pull", refused);
    run(model->refreshAlerts());  // the key alone: the session stays, the error shows
    EXPECT_EQ(model->phase(), Phase::signedIn);
    EXPECT_TRUE(model->alertsError());
    EXPECT_EQ(count(hosted, "GET /v1/me"), 2u);

    hosted.on("GET", "/v1/me", refused);
    run(model->refreshAlerts());
    EXPECT_EQ(model->phase(), Phase::signedOut);
    EXPECT_FALSE(model->session());
    EXPECT_TRUE(keychain->load().is(SessionLoad::Case::absent));
}

// Whoever announces new alerts hears of each pull that got a list, even an unchanged one, and
// not of a list emptied for want of a key or of a failed pull.
TEST_F(ModelTeams, EachSuccessfulPullIsToldWithItsTeam) {
    StoredSession stored = session();
    stored.tenantHosts.emplace("t3", boxURL());
    serveMe({membership("t1"), membership("t3")});
    launchWith(stored);
    std::vector<std::string> pulled;
    const QObject listening;  // the connection goes with this test's locals
    QObject::connect(model.get(), &MacModel::alertsPulled, &listening, [&](const std::string& tenantId) {
        pulled.push_back(tenantId);
    });

    run(model->refreshAlerts());
    run(model->refreshAlerts());  // the same list again
    EXPECT_EQ(pulled, (std::vector<std::string>{"t1", "t1"}));

    hosted.on("GET", "/v1/pull", Reply::json(R"({"error":"busy"})", 503));
    run(model->refreshAlerts());
    run(model->selectTenant("t3"));  // a box without a key: emptied, not pulled
    EXPECT_EQ(pulled, (std::vector<std::string>{"t1", "t1"}));
}

// A choice of team whose save waits on the keyring while the account refresh records a data
// host: once the keyring answers, the session has both, in the model and in the keychain.
TEST_F(ModelTeams, ChangesMadeWhileASaveWaitsOnTheKeyringAreAllKept) {
    const auto store =
        std::make_shared<KeychainSessionStore>("app.brisalune.tests.teams-" + dir.path().filename().string());
    model = std::make_shared<MacModel>(pushState, defaults, store, factory(), addresses());
    StoredSession stored = session();
    stored.tenantKeys.insert_or_assign("t2", TenantKey{"k2", "key-2", "t2"});
    store->save(stored);
    run(model->ensureLaunched());
    serveMe({membership("t1"), membership("t2"), membership("t3", "member", box.baseUrl())});
    testkit::Ticker ticker;

    auto stopped = std::make_optional<testkit::StoppedKeyring>();
    QCoro::Task<> select = model->selectTenant("t2");  // has its key: straight to the keychain
    QCoro::Task<> refresh = model->refreshAccount();
    ASSERT_TRUE(ticker.runUntil(3, [&] { return count(hosted, "GET /v1/me") == 2; }));
    ASSERT_TRUE(ticker.runFor(20));  // the answer is taken in while the save still waits
    EXPECT_EQ(model->session()->activeTenantId, "t1");
    stopped.reset();
    run(std::move(select));
    run(std::move(refresh));

    EXPECT_EQ(model->session()->activeTenantId, "t2");
    EXPECT_EQ(model->session()->tenantHosts.at("t3"), boxURL());
    EXPECT_EQ(model->phase(), Phase::signedIn);
    EXPECT_EQ(store->load().session(), model->session());
    store->clear();
}

}  // namespace
}  // namespace brisalune

// The box flows as far as the model goes: what is refused before any request, what a join and a
// box sign-in record, and what they leave behind on the servers.

#include <app/model/model_fixture.hpp>
#include <brisalune/push/await_blocking.hpp>
#include <support/held_keychain.hpp>
#include <support/qt_application.hpp>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace brisalune {
namespace {

using testkit::HeldKeychain;

class ModelBox : public testkit::ModelTest {
protected:
    // Runs the events until `done`, then those its last step posted.
    static void settleUntil(const std::function<bool()>& done) {
        ASSERT_TRUE(testkit::processEventsUntil(done));
        for (int turn = 0; turn < 20; ++turn) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    // Teams t1 (hosted) and t2, whose data the hosted service places at `dataPlane`.
    void serveTeamTwoAt(const standin::Server& dataPlane) {
        serveMe({membership("t1"), membership("t2", "member", dataPlane.baseUrl())});
    }

    // The box answers as a self-hosted box and pairs with `pairAnswer`.
    void serveBoxPairing(const std::string& pairAnswer) {
        box.on(
            "GET", "/healthz", standin::Reply::json(R"({"ok":true,"version":"1.0.0","role":"self-host","tenants":1})"));
        box.on("POST", "/v1/pair", standin::Reply::json(pairAnswer));
    }

    // Team t2 on the box, whose account gets key "bk" for its team and can take it back.
    StoredSession onTheBox() {
        StoredSession stored = session();
        stored.tenantHosts.emplace("t2", boxURL());
        return stored;
    }
    void serveBoxKey() {
        serveBoxAccount();
        serveKey(box, "box-team", "bk", "box-key");
        box.on("DELETE", "/v1/tenants/box-team/keys/bk", standin::Reply::json("{}"));
    }

    // A model over a keychain whose saves can be held, launched with `stored`.
    std::shared_ptr<HeldKeychain> launchOnHeldKeychain(const StoredSession& stored) {
        const auto held = std::make_shared<HeldKeychain>();
        model = std::make_shared<MacModel>(pushState, defaults, held, factory(), addresses());
        held->save(stored);
        run(model->ensureLaunched());
        return held;
    }
    // Waits for the box key to be taken back on `server` as sign-out takes it back: with no box
    // session, by the key itself, under the box's id of the team.
    static void settleUntilRetired(const standin::Server& server, const std::string& path, const std::string& secret) {
        settleUntil([&] {
            const auto requests = server.requests();
            return std::ranges::any_of(requests, [&](const standin::ReceivedRequest& request) {
                return request.method == "DELETE" && request.path == path &&
                       request.header("Authorization") == "Bearer " + secret;
            });
        });
    }

    // Whether the task fails with that box error (waitFor itself would wait forever on a throw).
    template <class T>
    static bool failsWith(QCoro::Task<T>&& task, BoxConnectionError::Case expected) {
        return QCoro::waitFor(boxFailure(std::move(task), expected));
    }
    // The failure's text, or none when the task did not fail.
    template <class T>
    static std::optional<std::string> failure(QCoro::Task<T>&& task) {
        return QCoro::waitFor(failureOf(std::move(task)));
    }

private:
    template <class T>
    static QCoro::Task<bool> boxFailure(QCoro::Task<T> task, BoxConnectionError::Case expected) {
        try {
            co_await task;
        } catch (const BoxConnectionError& error) {
            co_return error.is(expected);
        } catch (...) {
        }
        co_return false;
    }
    template <class T>
    static QCoro::Task<std::optional<std::string>> failureOf(QCoro::Task<T> task) {
        try {
            co_await task;
        } catch (const std::exception& error) {
            co_return error.what();
        }
        co_return std::nullopt;
    }
};

TEST_F(ModelBox, TheHostedServiceIsNoBoxAndAMissingBoxAddressIsRefused) {
    serveHealth(hosted, "");
    launchWith(session());
    const StoredSession before = *model->session();
    hosted.clearRequests();

    const JoinCode code{.boxURL = hostedURL(), .hostedTenantId = "t1", .code = "pair-1", .seat = false};
    EXPECT_TRUE(failsWith(model->joinBox(code, "Ops", "", ""), BoxConnectionError::Case::boxUnusable));
    EXPECT_EQ(received(hosted), std::vector<std::string>{"GET /healthz"});  // the probe only
    EXPECT_EQ(*model->session(), before);

    EXPECT_TRUE(
        failsWith(model->signInToBox("t1", "ops@box.example", "secret"), BoxConnectionError::Case::boxHasNoTenants));
    EXPECT_EQ(hosted.requests().size(), 1u);
    EXPECT_TRUE(box.requests().empty());
}

TEST_F(ModelBox, UsingABoxTeamKeepsItsKeyUnderTheHostedTeamAndEndsTheBoxSession) {
    StoredSession stored = session();
    stored.tenantHosts.emplace("t2", boxURL());
    launchWith(stored);
    run(model->selectTenant("t2"));
    ASSERT_TRUE(model->needsBoxSignIn());

    serveBoxAccount();
    serveKey(box, "box-team", "bk", "box-key");
    servePull(box, {testkit::alertAnswer("x1", "firing")});
    box.clearRequests();
    const BoxSignIn signedIn = run(model->signInToBox("t2", "ops@box.example", "secret"));
    run(model->useBoxTeam("t2", signedIn.client, "box-team"));

    EXPECT_EQ(model->session()->tenantKeys.at("t2"), (TenantKey{"bk", "box-key", "box-team"}));
    EXPECT_FALSE(model->session()->tenantKeys.contains("box-team"));
    EXPECT_EQ(model->session()->activeTenantId, "t2");
    EXPECT_FALSE(model->needsBoxSignIn());
    EXPECT_EQ(alertIds(), std::vector<std::string>{"x1"});
    // The sign-in, the key issue and the box session's end with the box session; the pull with
    // the key alone.
    const auto requests = box.requests();
    const std::vector<std::string> sent = received(box);
    ASSERT_GE(sent.size(), 5u);
    EXPECT_EQ(
        std::vector<std::string>(sent.begin(), sent.begin() + 4),
        (std::vector<std::string>{
            "POST /v1/login", "GET /v1/me", "POST /v1/tenants/box-team/keys", "POST /v1/logout"}));
    EXPECT_EQ(requests[2].header("Authorization"), "Bearer box-session");
    EXPECT_EQ(requests[3].header("Authorization"), "Bearer box-session");
    const auto pull = std::ranges::find(requests, std::string("/v1/pull"), &standin::ReceivedRequest::path);
    ASSERT_NE(pull, requests.end());
    EXPECT_EQ(pull->header("Authorization"), "Bearer box-key");

    // That sign-in is spent: it issues no second key.
    box.clearRequests();
    EXPECT_TRUE(failsWith(model->useBoxTeam("t2", signedIn.client, "box-team"), BoxConnectionError::Case::signInEnded));
    EXPECT_TRUE(box.requests().empty());
}

// A key the keychain cannot keep is no key: the choice fails with the keychain's words, the new
// key is taken back on the box, and the same sign-in can try again once the keychain works.
TEST_F(ModelBox, AKeyTheKeychainCannotKeepFailsTheChoiceAndIsTakenBack) {
    launchWith(onTheBox());
    serveBoxKey();
    const BoxSignIn signedIn = run(model->signInToBox("t2", "ops@box.example", "secret"));

    keychain->setSaveError(MemorySessionStore::SaveError{});
    box.clearRequests();
    EXPECT_EQ(failure(model->useBoxTeam("t2", signedIn.client, "box-team")), "the session could not be saved");
    EXPECT_EQ(count(box, "DELETE /v1/tenants/box-team/keys/bk"), 1u);
    EXPECT_EQ(count(box, "POST /v1/logout"), 0u);
    EXPECT_FALSE(model->session()->tenantKeys.contains("t2"));
    EXPECT_FALSE(keychain->load().session()->tenantKeys.contains("t2"));

    keychain->setSaveError(std::nullopt);
    run(model->useBoxTeam("t2", signedIn.client, "box-team"));
    EXPECT_EQ(model->session()->tenantKeys.at("t2"), (TenantKey{"bk", "box-key", "box-team"}));
}

TEST_F(ModelBox, ABoxSignInOfASessionThatEndedIssuesNoKey) {
    serveMe({membership("t1"), membership("t2", "member", box.baseUrl())});  // t2's box, in every session
    launchWith(session());
    serveBoxAccount();
    serveKey(box, "box-team", "bk", "box-key");
    const BoxSignIn signedIn = run(model->signInToBox("t2", "ops@box.example", "secret"));

    // Signed out, then another sign-in on this computer: the half-finished box sign-in is not theirs.
    run(model->signOutLocally());
    serveLogin("session-2");
    run(model->signIn("ops@example.com", "pw"));
    ASSERT_EQ(model->session()->sessionToken, "session-2");
    box.clearRequests();
    EXPECT_TRUE(failsWith(model->useBoxTeam("t2", signedIn.client, "box-team"), BoxConnectionError::Case::signInEnded));
    // Nor does a box client that no box sign-in gave.
    const auto stray = client(boxURL(), "box-session", std::nullopt);
    EXPECT_TRUE(failsWith(model->useBoxTeam("t2", stray, "box-team"), BoxConnectionError::Case::signInEnded));
    EXPECT_TRUE(box.requests().empty());
    EXPECT_FALSE(model->session()->tenantKeys.contains("t2"));

    // A sign-in that is dropped ends its box session.
    const BoxSignIn dropped = run(model->signInToBox("t2", "ops@box.example", "secret"));
    box.clearRequests();
    run(model->abandonBoxSignIn(dropped.client));
    EXPECT_EQ(received(box), std::vector<std::string>{"POST /v1/logout"});
    EXPECT_TRUE(failsWith(model->useBoxTeam("t2", dropped.client, "box-team"), BoxConnectionError::Case::signInEnded));
}

// t2 already joined to a box, with that box's key. A second join code is only recorded when
// the hosted service pairs the team with the new box account; the key it replaces is revoked.
TEST_F(ModelBox, ASecondJoinMovesTheTeamOnlyWhenTheHostedServicePairsIt) {
    StoredSession stored = session();
    stored.tenantHosts.emplace("t2", boxURL());
    stored.tenantKeys.emplace("t2", TenantKey{"old", "old-key", "bt"});
    launchWith(stored);
    serveBoxPairing(
        R"({"api_key":"new-key","api_key_id":"new","tenant_id":"bt","box_account_id":"ba2","receipt":"r"})");
    // The service lists an active pairing of this account: it no longer lets the join skip asking.
    hosted.on(
        "GET",
        "/v1/tenants/t2/pairings",
        standin::Reply::json(
            R"({"pairings":[{"account_id":"acc1","box_account_id":"ba1","created_at":"2026-01-01T00:00:00Z"}]})"));
    const JoinCode code{.boxURL = boxURL(), .hostedTenantId = "t2", .code = "pair-2", .seat = false};

    hosted.on("POST", "/v1/tenants/t2/pair", standin::Reply::json(R"({"paired":false,"box_account_id":"ba1"})"));
    box.clearRequests();
    EXPECT_TRUE(failsWith(model->joinBox(code, "", "", ""), BoxConnectionError::Case::pairingRefused));
    EXPECT_EQ(model->session()->tenantKeys.at("t2"), (TenantKey{"old", "old-key", "bt"}));
    EXPECT_EQ(count(hosted, "POST /v1/tenants/t2/pair"), 1u);
    EXPECT_EQ(count(box, "DELETE /v1/tenants/t2/keys/old"), 0u);

    hosted.on("POST", "/v1/tenants/t2/pair", standin::Reply::json(R"({"paired":true,"box_account_id":"ba2"})"));
    box.on("DELETE", "/v1/tenants/bt/keys/old", standin::Reply::json(R"({"error":"not signed in"})", 401));
    box.clearRequests();
    run(model->joinBox(code, "", "", ""));
    EXPECT_EQ(model->session()->tenantKeys.at("t2"), (TenantKey{"new", "new-key", "bt"}));
    EXPECT_EQ(model->session()->activeTenantId, "t2");
    EXPECT_EQ(count(hosted, "GET /v1/tenants/t2/pairings"), 0u);
    // The replaced box key is retired as sign-out retires it: without a box session the key asks
    // its box itself and, where the box wants a box session for that, whether it still works.
    const auto requests = box.requests();
    const auto probe = std::ranges::find(requests, std::string("/v1/projects"), &standin::ReceivedRequest::path);
    ASSERT_NE(probe, requests.end()) << testing::PrintToString(received(box));
    EXPECT_EQ(probe->header("Authorization"), "Bearer old-key");
}

TEST_F(ModelBox, AJoinThatMovesAHostedTeamRevokesItsHostedKey) {
    launchWith(session());  // t1 with the hosted key k1
    serveBoxPairing(R"({"api_key":"box-key","api_key_id":"bk","tenant_id":"bt","box_account_id":"ba1","receipt":"r"})");
    hosted.on("POST", "/v1/tenants/t1/pair", standin::Reply::json(R"({"paired":true,"box_account_id":"ba1"})"));
    hosted.on("DELETE", "/v1/tenants/t1/keys/k1", standin::Reply::json("{}"));
    const JoinCode code{.boxURL = boxURL(), .hostedTenantId = "t1", .code = "pair-1", .seat = false};

    run(model->joinBox(code, "", "", ""));

    EXPECT_EQ(model->session()->tenantKeys.at("t1"), (TenantKey{"bk", "box-key", "bt"}));
    const auto requests = hosted.requests();
    const auto revoke =
        std::ranges::find(requests, std::string("/v1/tenants/t1/keys/k1"), &standin::ReceivedRequest::path);
    ASSERT_NE(revoke, requests.end()) << testing::PrintToString(received(hosted));
    EXPECT_EQ(revoke->method, "DELETE");
    EXPECT_EQ(revoke->header("Authorization"), "Bearer session-1");
}

// The box session takes the replaced key back, asked again when it fails; when it fails twice, the
// key itself asks.
TEST_F(ModelBox, SigningInToTheBoxAgainRevokesTheKeyItReplacesWithTheBoxSession) {
    const std::string revoke = "DELETE /v1/tenants/box-team/keys/bk0";
    const std::array<std::vector<std::string>, 3> takenBack{
        {{"Bearer box-session"},
         {"Bearer box-session", "Bearer box-session"},
         {"Bearer box-session", "Bearer box-session", "Bearer old-box-key"}}};
    std::atomic<int> tries = 0;
    for (int refusals = 0; refusals < 3; ++refusals) {
        SCOPED_TRACE(refusals);
        StoredSession stored = session();
        stored.tenantHosts.emplace("t2", boxURL());
        stored.tenantKeys.emplace("t2", TenantKey{"bk0", "old-box-key", "box-team"});
        model = makeModel();
        launchWith(stored);
        serveBoxAccount();
        serveKey(box, "box-team", "bk1", "new-box-key");
        tries = 0;
        box.on("DELETE", "/v1/tenants/box-team/keys/bk0", [&tries, refusals](const standin::ReceivedRequest& request) {
            if (request.header("Authorization") == "Bearer box-session" && ++tries <= refusals)
                return standin::Reply::json(R"({"error":"unavailable"})", 503);
            return standin::Reply::json("{}");
        });

        const BoxSignIn signedIn = run(model->signInToBox("t2", "ops@box.example", "secret"));
        box.clearRequests();
        run(model->useBoxTeam("t2", signedIn.client, "box-team"));

        EXPECT_EQ(model->session()->tenantKeys.at("t2"), (TenantKey{"bk1", "new-box-key", "box-team"}));
        const std::vector<standin::ReceivedRequest> sent = box.requests();
        const std::vector<std::string> lines = received(box);
        const auto revokes = static_cast<std::size_t>(std::ranges::count(lines, revoke));
        ASSERT_EQ(revokes, takenBack.at(refusals).size()) << testing::PrintToString(lines);
        ASSERT_GE(lines.size(), revokes + 2);
        EXPECT_EQ(lines.front(), "POST /v1/tenants/box-team/keys");
        for (std::size_t at = 1; at <= revokes; ++at)
            EXPECT_EQ(sent[at].header("Authorization"), takenBack.at(refusals)[at - 1]);
        EXPECT_EQ(lines[revokes + 1], "POST /v1/logout");
    }
}

// Signed out while the box was still answering: nothing was kept, so no flow may finish as if it
// had joined, and a key the box issued for nothing is taken back.
TEST_F(ModelBox, ASignOutDuringAJoinFailsItAndKeepsNothing) {
    launchWith(session());
    serveBoxPairing(R"({"api_key":"box-key","api_key_id":"bk","tenant_id":"bt","box_account_id":"ba1","receipt":"r"})");
    hosted.on("POST", "/v1/tenants/t1/pair", standin::Reply::json(R"({"paired":true,"box_account_id":"ba1"})"));
    const JoinCode code{.boxURL = boxURL(), .hostedTenantId = "t1", .code = "pair-1", .seat = false};
    // While the box is probed: the code is not even redeemed.
    QCoro::Task<> join = model->joinBox(code, "", "", "");
    run(model->signOutLocally());
    EXPECT_TRUE(failsWith(std::move(join), BoxConnectionError::Case::sessionEnded));
    EXPECT_FALSE(model->session());
    EXPECT_EQ(count(box, "POST /v1/pair"), 0u);
}

TEST_F(ModelBox, ASignOutWhileTheBoxRedeemsTheCodeFailsTheJoin) {
    launchWith(session());
    serveBoxPairing(R"({"api_key":"box-key","api_key_id":"bk","tenant_id":"bt","box_account_id":"ba1","receipt":"r"})");
    hosted.on("POST", "/v1/tenants/t1/pair", standin::Reply::json(R"({"paired":true,"box_account_id":"ba1"})"));
    standin::Reply slowPair = standin::Reply::json(
        R"({"api_key":"box-key","api_key_id":"bk","tenant_id":"bt","box_account_id":"ba1","receipt":"r"})");
    slowPair.delay = std::chrono::milliseconds(400);
    box.on("POST", "/v1/pair", slowPair);
    const JoinCode code{.boxURL = boxURL(), .hostedTenantId = "t1", .code = "pair-1", .seat = false};
    QCoro::Task<> join = model->joinBox(code, "", "", "");
    for (int turn = 0; turn < 3000 && count(box, "POST /v1/pair") == 0; ++turn) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(count(box, "POST /v1/pair"), 1u);
    run(model->signOutLocally());
    EXPECT_TRUE(failsWith(std::move(join), BoxConnectionError::Case::sessionEnded));
    EXPECT_FALSE(model->session());
}

TEST_F(ModelBox, ASignOutDuringATeamChoiceFailsItAndTakesTheNewKeyBack) {
    StoredSession stored = session();
    stored.tenantHosts.emplace("t2", boxURL());
    launchWith(stored);
    serveBoxAccount();
    standin::Reply slowKey = standin::Reply::json(R"({"id":"bk2","token":"box-key-2"})");
    slowKey.delay = std::chrono::milliseconds(300);
    box.on("POST", "/v1/tenants/box-team/keys", slowKey);
    box.on("DELETE", "/v1/tenants/box-team/keys/bk2", standin::Reply::json("{}"));
    const BoxSignIn signedIn = run(model->signInToBox("t2", "ops@box.example", "secret"));
    QCoro::Task<> use = model->useBoxTeam("t2", signedIn.client, "box-team");
    ASSERT_TRUE(testkit::processEventsUntil([&] { return count(box, "POST /v1/tenants/box-team/keys") == 1; }));
    run(model->signOutLocally());
    EXPECT_TRUE(failsWith(std::move(use), BoxConnectionError::Case::sessionEnded));
    EXPECT_FALSE(model->session());
    EXPECT_EQ(count(box, "DELETE /v1/tenants/box-team/keys/bk2"), 1u);
}

// A join cut by the sign-out, whose key's take-back the box holds past the sign-out's end: its words
// are chosen as it ends, when the session has ended, not as it was cut.
TEST_F(ModelBox, ACutJoinThatOutlastsTheSignOutSaysTheSessionHasEnded) {
    launchWith(onTheBox());
    serveBoxPairing("{}");
    standin::Reply redeemed = standin::Reply::json(
        R"({"api_key":"box-key","api_key_id":"bk","tenant_id":"box-team","box_account_id":"ba1","receipt":"r"})");
    redeemed.holdUntilReleased = true;
    box.on("POST", "/v1/pair", redeemed);
    standin::Reply heldTakeBack{204, {}, ""};
    heldTakeBack.holdUntilReleased = true;
    box.on("DELETE", "/v1/tenants/box-team/keys/bk", heldTakeBack);
    QCoro::Task<> join = model->joinBox({boxURL(), "t2", "pair-1", false}, "", "", "");
    ASSERT_TRUE(testkit::processEventsUntil([&] { return count(box, "POST /v1/pair") == 1; }));
    QCoro::Task<> out = model->signOut();
    box.release();
    ASSERT_TRUE(testkit::processEventsUntil([&] { return count(box, "DELETE /v1/tenants/box-team/keys/bk") == 1; }));
    run(std::move(out));
    ASSERT_EQ(model->phase(), MacModel::Phase::signedOut);
    ASSERT_FALSE(join.isReady());
    box.release();
    EXPECT_EQ(
        failure(std::move(join)),
        "The session this began in has ended, so this computer kept nothing of the box. Sign in and try again.");
}

// Box A signed the person in; the hosted service then moved team t2 to box C. A's key is never
// kept for C, so it never goes there: the choice fails and asks for a sign-in to the team's box,
// and a key that A issued while the team moved is taken back on A.
TEST_F(ModelBox, AKeyFromABoxTheTeamLeftIsNeitherKeptNorSentToItsNewBox) {
    standin::Server moved;  // box C
    servePull(moved, {});
    launchWith(onTheBox());
    serveBoxKey();

    // Moved between the sign-in and the choice: A issues nothing.
    BoxSignIn signedIn = run(model->signInToBox("t2", "ops@box.example", "secret"));
    serveTeamTwoAt(moved);
    run(model->refreshAccount());
    ASSERT_EQ(model->session()->hostForTenant("t2"), url(moved.baseUrl()));
    box.clearRequests();
    const std::optional<std::string> text = failure(model->useBoxTeam("t2", signedIn.client, "box-team"));
    EXPECT_EQ(text, BoxConnectionError::boxMoved().errorDescription());
    EXPECT_EQ(received(box), std::vector<std::string>{"POST /v1/logout"});

    // Moved while A issued the key: A takes it back.
    serveTeamTwoAt(box);
    run(model->refreshAccount());
    signedIn = run(model->signInToBox("t2", "ops@box.example", "secret"));
    standin::Reply heldKey = standin::Reply::json(R"({"id":"bk","token":"box-key"})");
    heldKey.holdUntilReleased = true;
    box.on("POST", "/v1/tenants/box-team/keys", heldKey);
    box.clearRequests();
    QCoro::Task<> use = model->useBoxTeam("t2", signedIn.client, "box-team");
    ASSERT_TRUE(box.waitForRequests(1, std::chrono::seconds(10)));
    serveTeamTwoAt(moved);
    run(model->refreshAccount());
    box.release();
    EXPECT_TRUE(failsWith(std::move(use), BoxConnectionError::Case::boxMoved));
    EXPECT_EQ(count(box, "DELETE /v1/tenants/box-team/keys/bk"), 1u);
    EXPECT_EQ(count(box, "POST /v1/logout"), 1u);

    EXPECT_FALSE(model->session()->tenantKeys.contains("t2"));
    EXPECT_FALSE(keychain->load().session()->tenantKeys.contains("t2"));
    run(model->selectTenant("t2"));
    EXPECT_TRUE(model->needsBoxSignIn());
    for (const std::string& sent : authorizations(moved)) EXPECT_NE(sent, "Bearer box-key");
}

// The same move racing the key's save in the keychain, either way round: whichever lands last,
// the session never pairs A's key with C's address.
TEST_F(ModelBox, AKeyAndAMoveOfItsTeamThatMeetInTheKeychainNeverPairAKeyWithAnotherBox) {
    standin::Server moved;  // box C
    servePull(moved, {});
    const auto held = std::make_shared<HeldKeychain>();
    model = std::make_shared<MacModel>(pushState, defaults, held, factory(), addresses());
    held->save(onTheBox());
    run(model->ensureLaunched());
    serveBoxKey();
    const auto pairsBoxKeyWithC = [&](const std::optional<StoredSession>& session) {
        return session && session->tenantKeys.contains("t2") && session->hostForTenant("t2") == url(moved.baseUrl());
    };

    // The move is saved first; the key comes after it.
    BoxSignIn signedIn = run(model->signInToBox("t2", "ops@box.example", "secret"));
    serveTeamTwoAt(moved);
    held->hold();
    QCoro::Task<> refresh = model->refreshAccount();
    settleUntil([&] { return held->waiting() == 1; });
    QCoro::Task<> use = model->useBoxTeam("t2", signedIn.client, "box-team");
    settleUntil(
        [&] { return count(box, "POST /v1/tenants/box-team/keys") == 1 && blockingPool().activeThreadCount() == 0; });
    held->open();
    run(std::move(refresh));
    EXPECT_TRUE(failsWith(std::move(use), BoxConnectionError::Case::boxMoved));
    EXPECT_EQ(count(box, "DELETE /v1/tenants/box-team/keys/bk"), 1u);
    EXPECT_FALSE(pairsBoxKeyWithC(model->session()));
    EXPECT_FALSE(pairsBoxKeyWithC(held->load().session()));

    // The key is saved first; the move comes after it and drops the key: the choice fails, and
    // takes the key back with its box session.
    serveTeamTwoAt(box);
    run(model->refreshAccount());
    signedIn = run(model->signInToBox("t2", "ops@box.example", "secret"));
    held->hold();
    box.clearRequests();
    use = model->useBoxTeam("t2", signedIn.client, "box-team");
    settleUntil([&] { return held->waiting() == 1; });
    serveTeamTwoAt(moved);
    const std::size_t reads = count(hosted, "GET /v1/me");
    refresh = model->refreshAccount();
    settleUntil([&] { return count(hosted, "GET /v1/me") > reads && blockingPool().activeThreadCount() == 0; });
    held->open();
    EXPECT_TRUE(failsWith(std::move(use), BoxConnectionError::Case::boxMoved));
    run(std::move(refresh));
    EXPECT_EQ(count(box, "DELETE /v1/tenants/box-team/keys/bk"), 1u);
    EXPECT_EQ(count(box, "POST /v1/logout"), 1u);
    EXPECT_FALSE(model->session()->tenantKeys.contains("t2"));
    EXPECT_EQ(model->session()->hostForTenant("t2"), url(moved.baseUrl()));
    EXPECT_FALSE(pairsBoxKeyWithC(model->session()));
    EXPECT_FALSE(pairsBoxKeyWithC(held->load().session()));
    for (const std::string& sent : authorizations(moved)) EXPECT_NE(sent, "Bearer box-key");
}

// A move that lands once the choice has kept its key, while the team's alerts are still on
// their way: the move takes the key back, and the choice does not end as done.
TEST_F(ModelBox, AKeyThatAMoveDropsAfterItWasKeptFailsTheChoice) {
    standin::Server moved;  // box C
    servePull(moved, {});
    launchWith(onTheBox());
    serveBoxKey();
    const BoxSignIn signedIn = run(model->signInToBox("t2", "ops@box.example", "secret"));

    standin::Reply heldMove = standin::Reply::json(
        R"({"account":{"id":"acc1","email":"ops@example.com"},"memberships":[)" + membership("t1") + "," +
        membership("t2", "member", moved.baseUrl()) + "]}");
    heldMove.holdUntilReleased = true;
    hosted.on("GET", "/v1/me", heldMove);
    standin::Reply heldPull = standin::Reply::json(pullAnswer({}));
    heldPull.holdUntilReleased = true;
    box.on("GET", "/v1/pull", heldPull);
    hosted.clearRequests();
    box.clearRequests();
    QCoro::Task<> refresh = model->refreshAccount();
    ASSERT_TRUE(hosted.waitForRequests(1, std::chrono::seconds(10)));
    QCoro::Task<> use = model->useBoxTeam("t2", signedIn.client, "box-team");
    settleUntil([&] {
        return std::ranges::count(box.requests(), std::string("/v1/pull"), &standin::ReceivedRequest::path) == 1;
    });
    ASSERT_EQ(model->session()->tenantKeys.at("t2"), (TenantKey{"bk", "box-key", "box-team"}));

    hosted.release();
    run(std::move(refresh));
    settleUntilRetired(box, "/v1/tenants/box-team/keys/bk", "box-key");
    box.release();
    EXPECT_TRUE(failsWith(std::move(use), BoxConnectionError::Case::boxMoved));
    EXPECT_FALSE(model->session()->tenantKeys.contains("t2"));
    for (const std::string& sent : authorizations(moved)) EXPECT_NE(sent, "Bearer box-key");
}

// A join and a move of its team that meet in the keychain, either way round: the join never
// ends as done with a key the session dropped, and the box's key is taken back on the box.
TEST_F(ModelBox, AJoinAndAMoveOfItsTeamThatMeetInTheKeychainKeepNoKeyAndTakeItBack) {
    standin::Server moved;  // box C
    servePull(moved, {});
    const auto held = launchOnHeldKeychain(session());
    serveBoxPairing(R"({"api_key":"box-key","api_key_id":"bk","tenant_id":"bt","box_account_id":"ba1","receipt":"r"})");
    hosted.on("POST", "/v1/tenants/t2/pair", standin::Reply::json(R"({"paired":true,"box_account_id":"ba1"})"));
    const JoinCode code{.boxURL = boxURL(), .hostedTenantId = "t2", .code = "pair-2", .seat = false};
    serveTeamTwoAt(moved);
    const auto ends = [&](QCoro::Task<> join) {
        settleUntilRetired(box, "/v1/tenants/bt/keys/bk", "box-key");
        EXPECT_TRUE(failsWith(std::move(join), BoxConnectionError::Case::boxMoved));
        EXPECT_EQ(model->session()->hostForTenant("t2"), url(moved.baseUrl()));
        EXPECT_FALSE(model->session()->tenantKeys.contains("t2"));
        EXPECT_FALSE(held->load().session()->tenantKeys.contains("t2"));
        for (const std::string& sent : authorizations(moved)) EXPECT_NE(sent, "Bearer box-key");
    };

    // The join's save lands first; the move, read before it, comes after it.
    held->hold();
    QCoro::Task<> join = model->joinBox(code, "", "", "");
    settleUntil([&] { return held->waiting() == 1; });
    const std::size_t reads = count(hosted, "GET /v1/me");
    QCoro::Task<> refresh = model->refreshAccount();
    settleUntil([&] { return count(hosted, "GET /v1/me") > reads && blockingPool().activeThreadCount() == 0; });
    held->open();
    run(std::move(refresh));
    ends(std::move(join));

    // The move's save lands first; the join's comes after it.
    box.clearRequests();
    serveTeamTwoAt(box);
    run(model->refreshAccount());
    serveTeamTwoAt(moved);
    held->hold();
    refresh = model->refreshAccount();
    settleUntil([&] { return held->waiting() == 1; });
    join = model->joinBox(code, "", "", "");
    settleUntil([&] { return count(box, "POST /v1/pair") == 1 && blockingPool().activeThreadCount() == 0; });
    held->open();
    run(std::move(refresh));
    ends(std::move(join));
}

// Two boxes behind one server, told apart by their paths: a key of box A is never kept for box
// B, nor sent there.
TEST_F(ModelBox, AKeyOfOneBoxIsNeverKeptForAnotherBoxOnTheSameServer) {
    const std::string boxA = box.baseUrl() + "/boxA";
    const std::string boxB = box.baseUrl() + "/boxB/";
    StoredSession stored = session("t2");
    stored.tenantHosts.emplace("t2", url(boxA));
    stored.tenantKeys.emplace("t2", TenantKey{"bk0", "old-box-key", "box-team"});
    launchWith(stored);
    serveBoxAccount("/boxA");
    box.on("POST", "/boxA/v1/tenants/box-team/keys", standin::Reply::json(R"({"id":"bk","token":"box-key"})"));
    const BoxSignIn signedIn = run(model->signInToBox("t2", "ops@box.example", "secret"));

    // Moved to box B: A's old key is dropped and retired on A, and A's new key is not kept for B.
    serveMe({membership("t1"), membership("t2", "member", boxB)});
    run(model->refreshAccount());
    settleUntilRetired(box, "/boxA/v1/tenants/box-team/keys/bk0", "old-box-key");
    EXPECT_FALSE(model->session()->tenantKeys.contains("t2"));
    EXPECT_TRUE(failsWith(model->useBoxTeam("t2", signedIn.client, "box-team"), BoxConnectionError::Case::boxMoved));
    EXPECT_FALSE(model->session()->tenantKeys.contains("t2"));
    for (int pull = 0; pull < 3; ++pull) run(model->refresh());
    for (const standin::ReceivedRequest& request : box.requests()) {
        if (request.path.starts_with("/boxB")) {
            EXPECT_EQ(request.header("Authorization"), std::nullopt) << request.path;
        }
    }

    // Back at A, spelt with a trailing slash and then without: the same box, whose key is kept.
    serveMe({membership("t1"), membership("t2", "member", boxA + "/")});
    run(model->refreshAccount());
    const BoxSignIn again = run(model->signInToBox("t2", "ops@box.example", "secret"));
    run(model->useBoxTeam("t2", again.client, "box-team"));
    serveMe({membership("t1"), membership("t2", "member", boxA)});
    run(model->refreshAccount());
    EXPECT_EQ(model->session()->tenantKeys.at("t2"), (TenantKey{"bk", "box-key", "box-team"}));
}

// "Sign out" pressed: a join, a box sign-in or a team choice asked after it is refused before
// anything is sent, the person's box password included.
TEST_F(ModelBox, ABoxFlowAskedOnceSignOutIsPressedSendsNothing) {
    launchWith(onTheBox());
    serveBoxKey();
    serveBoxPairing(R"({"api_key":"box-key","api_key_id":"bk","tenant_id":"bt","box_account_id":"ba1","receipt":"r"})");
    const BoxSignIn signedIn = run(model->signInToBox("t2", "ops@box.example", "secret"));
    standin::Reply heldLogout{204, {}, ""};
    heldLogout.holdUntilReleased = true;
    hosted.on("POST", "/v1/logout", heldLogout);
    box.clearRequests();
    hosted.clearRequests();

    QCoro::Task<> out = model->signOut();
    const std::optional<std::string> refused("Not sent: Brisalune is signing out of this session.");
    const JoinCode code{.boxURL = boxURL(), .hostedTenantId = "t1", .code = "pair-1", .seat = false};
    EXPECT_EQ(failure(model->joinBox(code, "", "", "")), refused);
    EXPECT_EQ(failure(model->signInToBox("t2", "ops@box.example", "secret")), refused);
    EXPECT_EQ(failure(model->useBoxTeam("t2", signedIn.client, "box-team")), refused);
    EXPECT_TRUE(box.requests().empty()) << testing::PrintToString(received(box));
    ASSERT_TRUE(testkit::processEventsUntil([&] { return count(hosted, "POST /v1/logout") == 1; }));
    hosted.release();
    run(std::move(out));
    EXPECT_EQ(received(hosted), (std::vector<std::string>{"DELETE /v1/tenants/t1/keys/k1", "POST /v1/logout"}));
}

// A box sign-in whose box answers once "Sign out" is pressed: nothing more of it goes, but the box
// session it got is ended there.
TEST_F(ModelBox, ABoxSignInCutByTheSignOutEndsTheBoxSessionItGot) {
    launchWith(onTheBox());
    serveBoxAccount();
    standin::Reply heldLogin =
        standin::Reply::json(R"({"account":{"id":"b1","email":"ops@box.example"},"token":"box-session"})");
    heldLogin.holdUntilReleased = true;
    box.on("POST", "/v1/login", heldLogin);
    box.clearRequests();
    QCoro::Task<BoxSignIn> signIn = model->signInToBox("t2", "ops@box.example", "secret");
    ASSERT_TRUE(testkit::processEventsUntil([&] { return count(box, "POST /v1/login") == 1; }));
    QCoro::Task<> out = model->signOut();
    box.release();
    EXPECT_EQ(failure(std::move(signIn)), "Not sent: Brisalune is signing out of this session.");
    run(std::move(out));
    ASSERT_EQ(received(box), (std::vector<std::string>{"POST /v1/login", "POST /v1/logout"}));
    EXPECT_EQ(box.requests()[1].header("Authorization"), "Bearer box-session");
}

// "Sign out" pressed while a join's redemption (at the box) or pairing (at the service, with the
// relay to install), or a team choice's key issue, is answered, the answer coming once a sign-out
// that did not wait for it would have logged out: the sign-out waits, the key the box issued is
// taken back there before the log-out and kept nowhere, the flow fails, and nothing of the session
// follows "Sign out" but the sign-out's own calls. A take-back in a box session (a team choice's,
// a seat's) that fails is asked again there, then by the key itself; a seat's redemption, on a box
// that takes keys back only for its signed-in accounts, is taken back in a box session of that
// seat; a join that moves the team takes the key back at the box joined, not at the team's last one.
enum class BoxFlow {
    joinRedeeming,
    joinPairing,
    teamChoice,
    joinWithASeat,
    teamChoiceRetried,
    teamChoiceFallingBack,
    joinWithAFailingSeat,
    joinMovingTheTeam,
};

class ModelBoxSignOut : public ModelBox, public ::testing::WithParamInterface<BoxFlow> {};

TEST_P(ModelBoxSignOut, AKeyTheBoxIssuesAsTheSignOutBeginsIsTakenBackThereFirst) {
    const std::string revoke = "DELETE /v1/tenants/box-team/keys/bk";
    const std::vector<std::string> joined{"GET /healthz", "POST /v1/pair", revoke};
    const std::vector<std::string> chosen{"POST /v1/login", "GET /v1/me", "POST /v1/tenants/box-team/keys", revoke};
    const auto then = [](std::vector<std::string> first, const std::vector<std::string>& rest) {
        first.insert(first.end(), rest.begin(), rest.end());
        return first;
    };
    const std::map<BoxFlow, std::vector<std::string>> atTheBox{
        {BoxFlow::joinRedeeming, joined},
        {BoxFlow::joinPairing, joined},
        {BoxFlow::teamChoice, then(chosen, {"POST /v1/logout"})},
        {BoxFlow::joinWithASeat, {"GET /healthz", "POST /v1/pair", "POST /v1/login", revoke, "POST /v1/logout"}},
        {BoxFlow::teamChoiceRetried, then(chosen, {revoke, "POST /v1/logout"})},
        {BoxFlow::teamChoiceFallingBack, then(chosen, {revoke, revoke, "POST /v1/logout"})},
        {BoxFlow::joinWithAFailingSeat,
         {"GET /healthz", "POST /v1/pair", "POST /v1/login", revoke, revoke, "POST /v1/logout", revoke}},
        {BoxFlow::joinMovingTheTeam, joined}};
    const std::map<BoxFlow, int> sessionRefusals{
        {BoxFlow::teamChoiceRetried, 1}, {BoxFlow::teamChoiceFallingBack, 2}, {BoxFlow::joinWithAFailingSeat, 2}};
    const BoxFlow row = GetParam();
    const bool seat = row == BoxFlow::joinWithASeat || row == BoxFlow::joinWithAFailingSeat;
    const bool joins = seat || row == BoxFlow::joinRedeeming || row == BoxFlow::joinPairing ||
                       row == BoxFlow::joinMovingTheTeam;
    const auto revokes = std::ranges::count(atTheBox.at(row), revoke);

    standin::Server lastBox;  // where the team was before a join that moves it
    StoredSession stored = onTheBox();
    if (row == BoxFlow::joinMovingTheTeam) stored.tenantHosts.insert_or_assign("t2", url(lastBox.baseUrl()));
    launchWith(stored);
    box.clearRequests();
    lastBox.clearRequests();  // asked for its portal at launch
    std::atomic<bool> takenBackFirst = false;
    hosted.on("POST", "/v1/logout", [&](const standin::ReceivedRequest&) {
        takenBackFirst = std::ranges::count(received(box), revoke) == revokes;
        standin::Reply held{204, {}, ""};
        held.holdUntilReleased = true;
        return held;
    });
    const int refusals = sessionRefusals.contains(row) ? sessionRefusals.at(row) : 0;
    std::atomic<int> sessionTries = 0;
    box.on("DELETE", "/v1/tenants/box-team/keys/bk", [&, refusals, row](const standin::ReceivedRequest& request) {
        if (request.header("Authorization") == "Bearer box-session")
            return ++sessionTries <= refusals ? standin::Reply::json(R"({"error":"unavailable"})", 503)
                                              : standin::Reply::json("{}");
        // A box that takes keys back only for its signed-in accounts.
        if (row == BoxFlow::joinWithASeat || row == BoxFlow::teamChoiceRetried)
            return standin::Reply::json(R"({"error":"sign in to revoke keys"})", 401);
        return standin::Reply::json("{}");
    });
    const auto held = [](standin::Reply reply) {
        reply.holdUntilReleased = true;
        return reply;
    };
    standin::Server& answering = row == BoxFlow::joinPairing ? hosted : box;
    std::optional<QCoro::Task<>> flow;
    if (joins) {
        serveBoxPairing("{}");
        const standin::Reply redeemed = standin::Reply::json(
            R"({"api_key":"box-key","api_key_id":"bk","tenant_id":"box-team","box_account_id":"ba1","receipt":"r"})");
        const standin::Reply paired = standin::Reply::json(
            R"({"paired":true,"box_account_id":"ba1","relay_key_id":"rk","relay_secret":"rs"})");
        const bool redeeming = row != BoxFlow::joinPairing;
        box.on("POST", "/v1/pair", redeeming ? held(redeemed) : redeemed);
        hosted.on("POST", "/v1/tenants/t2/pair", redeeming ? paired : held(paired));
        if (seat) serveBoxAccount();
        flow.emplace(model->joinBox({boxURL(), "t2", "pair-1", seat}, "", "seat@box.example", "seat-secret"));
        const char* asked = redeeming ? "POST /v1/pair" : "POST /v1/tenants/t2/pair";
        ASSERT_TRUE(testkit::processEventsUntil([&] { return count(answering, asked) == 1; }));
    } else {
        serveBoxAccount();
        box.on("POST", "/v1/tenants/box-team/keys", held(standin::Reply::json(R"({"id":"bk","token":"box-key"})")));
        const BoxSignIn signedIn = run(model->signInToBox("t2", "ops@box.example", "secret"));
        flow.emplace(model->useBoxTeam("t2", signedIn.client, "box-team"));
        ASSERT_TRUE(testkit::processEventsUntil([&] { return count(box, "POST /v1/tenants/box-team/keys") == 1; }));
    }
    hosted.clearRequests();
    QCoro::Task<> out = model->signOut();
    ASSERT_TRUE(testkit::processEventsUntil([&] { return count(hosted, "DELETE /v1/tenants/t1/keys/k1") == 1; }));
    testkit::processEventsUntil([&] { return count(hosted, "POST /v1/logout") > 0; }, std::chrono::seconds(1));
    answering.release();
    ASSERT_TRUE(testkit::processEventsUntil([&] { return flow->isReady(); }));
    ASSERT_TRUE(testkit::processEventsUntil([&] { return count(hosted, "POST /v1/logout") == 1; }));
    hosted.release();
    run(std::move(out));

    // Told while the sign-out runs, which may yet be refused: no sign-in can follow it.
    EXPECT_EQ(
        failure(std::move(*flow)),
        row == BoxFlow::joinPairing  // its relay held back
            ? "Not sent: Brisalune is signing out of this session."
            : "Brisalune is signing out of the session this began in, so this computer kept nothing of the box.");
    EXPECT_TRUE(takenBackFirst);
    const std::vector<std::string> sent = received(box);
    ASSERT_EQ(sent, atTheBox.at(row));
    EXPECT_EQ(
        box.requests()[std::ranges::find(sent, revoke) - sent.begin()].header("Authorization"),
        joins && !seat ? "Bearer box-key" : "Bearer box-session");
    if (seat) {
        EXPECT_NE(box.requests()[2].body.find("seat@box.example"), std::string::npos);
    }
    EXPECT_EQ(received(hosted), (std::vector<std::string>{"DELETE /v1/tenants/t1/keys/k1", "POST /v1/logout"}));
    EXPECT_TRUE(lastBox.requests().empty()) << testing::PrintToString(received(lastBox));
    EXPECT_EQ(model->phase(), MacModel::Phase::signedOut);
    EXPECT_TRUE(keychain->load().is(SessionLoad::Case::absent));
}

std::string flowName(const ::testing::TestParamInfo<BoxFlow>& flow) {
    const std::array<std::string, 8> names{
        "JoinRedeeming",
        "JoinPairing",
        "TeamChoice",
        "JoinWithASeat",
        "TeamChoiceRetried",
        "TeamChoiceFallingBack",
        "JoinWithAFailingSeat",
        "JoinMovingTheTeam"};
    return names.at(static_cast<std::size_t>(flow.param));
}

INSTANTIATE_TEST_SUITE_P(
    Flows,
    ModelBoxSignOut,
    ::testing::Values(
        BoxFlow::joinRedeeming,
        BoxFlow::joinPairing,
        BoxFlow::teamChoice,
        BoxFlow::joinWithASeat,
        BoxFlow::teamChoiceRetried,
        BoxFlow::teamChoiceFallingBack,
        BoxFlow::joinWithAFailingSeat,
        BoxFlow::joinMovingTheTeam),
    flowName);

// A flow cut by "Sign out" on a box that refuses a key's own take-back (as the demo's box does),
// answering each in 5 s, a team choice's box session refusing too: however long the flow's
// take-backs and the list's retry of them take, the log-out keeps its share and goes.
class ModelBoxSlowTakeBack : public ModelBox, public ::testing::WithParamInterface<bool> {};

TEST_P(ModelBoxSlowTakeBack, LeavesTheLogOutItsShare) {
    const bool joins = GetParam();
    launchWith(onTheBox());
    const auto late = [](int status) {
        standin::Reply reply = standin::Reply::json(R"({"error":"not now"})", status);
        reply.delay = std::chrono::seconds(5);
        return reply;
    };
    box.on("DELETE", "/v1/tenants/box-team/keys/bk", [&](const standin::ReceivedRequest& request) {
        if (request.header("Authorization") == "Bearer box-session")
            return standin::Reply::json(R"({"error":"unavailable"})", 503);
        return late(401);
    });
    box.on("GET", "/v1/projects", late(503));  // nor does the key show itself dead
    standin::Reply issued = standin::Reply::json(
        joins ? R"({"api_key":"box-key","api_key_id":"bk","tenant_id":"box-team","box_account_id":"ba1","receipt":"r"})"
              : R"({"id":"bk","token":"box-key"})");
    issued.holdUntilReleased = true;
    std::optional<QCoro::Task<>> flow;
    if (joins) {
        serveBoxPairing("{}");
        box.on("POST", "/v1/pair", issued);
        flow.emplace(model->joinBox({boxURL(), "t2", "pair-1", false}, "", "", ""));
        ASSERT_TRUE(testkit::processEventsUntil([&] { return count(box, "POST /v1/pair") == 1; }));
    } else {
        serveBoxAccount();
        box.on("POST", "/v1/tenants/box-team/keys", issued);
        const BoxSignIn signedIn = run(model->signInToBox("t2", "ops@box.example", "secret"));
        flow.emplace(model->useBoxTeam("t2", signedIn.client, "box-team"));
        ASSERT_TRUE(testkit::processEventsUntil([&] { return count(box, "POST /v1/tenants/box-team/keys") == 1; }));
    }
    hosted.clearRequests();
    QCoro::Task<> out = model->signOut();
    box.release();
    run(std::move(out));

    EXPECT_EQ(received(hosted), (std::vector<std::string>{"DELETE /v1/tenants/t1/keys/k1", "POST /v1/logout"}));
    EXPECT_EQ(model->phase(), MacModel::Phase::signedOut);
    EXPECT_TRUE(failure(std::move(*flow)));
}

INSTANTIATE_TEST_SUITE_P(
    Flows, ModelBoxSlowTakeBack, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& joins) {
        return std::string(joins.param ? "PairingCodeJoin" : "TeamChoice");
    });

}  // namespace
}  // namespace brisalune

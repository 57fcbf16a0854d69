// Start-up, the test-configuration guard, and the refresh loop with its update rule.

#include <app/model/delegate_fixture.hpp>

#include <brisalune/push/freedesktop_notifications.hpp>

#include <support/notification_daemon.hpp>
#include <support/qt_application.hpp>
#include <support/temp_dir.hpp>

#include <QtGlobal>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace brisalune {
namespace {

using namespace std::chrono_literals;

class AppDelegate : public testkit::DelegateTest {
protected:
    std::atomic<int> fetches = 0;

    void TearDown() override {
        delegate->applicationWillTerminate();
        ASSERT_TRUE(testkit::processEventsUntil([&] { return !delegate->isRefreshLoopRunning(); }));
        qunsetenv(MacAppDelegate::testConfigurationVariable.data());
    }

    // A delegate whose update checker reaches no server: every fetch fails.
    std::unique_ptr<MacAppDelegate> offlineDelegate(std::chrono::nanoseconds refreshInterval) {
        MacAppDelegate::Setup offline = setup();
        offline.manifestURL = [] { return platform::Url::parse("https://updates.example/latest.json"); };
        offline.fetch = [this](const http::Request&) -> http::Response {
            ++fetches;
            throw http::TransportError("offline");
        };
        offline.refreshInterval = refreshInterval;
        return std::make_unique<MacAppDelegate>(std::move(offline));
    }
};

// dunst sends a press only to the program that showed the notification: a button left on screen
// after the quit would look live and reach no one.
TEST_F(AppDelegate, AtQuitNoNotificationWithAButtonStaysUnderDunst) {
    const testkit::TempDir files;
    const testkit::Dunst dunst(files.path());
    pushState.setNotificationCenter(std::make_shared<FreedesktopNotificationCenter>(dunst.connection()));
    pushState.installCategories({});
    for (const std::string alert : {"a1", "a2"})
        run(delegate->postAckFailureNotification(
            {alert, "t1", "Disk " + alert, 1, "busy", AckFailureVerdict::retryable}));
    ASSERT_TRUE(testkit::processEventsUntil([&] { return dunst.displayed() == 2; }));

    delegate->applicationWillTerminate();
    EXPECT_TRUE(testkit::processEventsUntil([&] { return dunst.displayed() == 0; }));
}

TEST_F(AppDelegate, UnderATestConfigurationNothingStartsEvenWithAnEmptyValue) {
    qputenv(MacAppDelegate::testConfigurationVariable.data(), "");
    delegate->applicationDidFinishLaunching();
    EXPECT_FALSE(delegate->hasStartedUp());
    EXPECT_FALSE(delegate->isRefreshLoopRunning());
    EXPECT_FALSE(pushState.model());
    EXPECT_TRUE(center->categorySets.empty());
    delegate->applicationWillTerminate();
    EXPECT_EQ(delegate->model().phase(), MacModel::Phase::loading);
}

TEST_F(AppDelegate, StartUpAttachesTheModelAndTheLoopLaunchesDrainsAndChecks) {
    keychain->save(session());
    serveMe({membership("t1")});
    acks->put(PendingAck{"a0", "t1", "Old", 1, "busy", AckFailureVerdict::retryable});
    hosted.on("POST", "/v1/alerts/a0/ack", standin::Reply::json(testkit::alertAnswer("a0")));
    delegate = offlineDelegate(MacAppDelegate::refreshInterval);

    delegate->applicationDidFinishLaunching();
    EXPECT_TRUE(delegate->hasStartedUp());
    EXPECT_EQ(pushState.model(), delegate->sharedModel());
    ASSERT_FALSE(center->categorySets.empty());
    // Nothing checked yet, so a check is due at once; once it is over the loop sleeps.
    ASSERT_TRUE(testkit::processEventsUntil([&] { return fetches == 1 && !delegate->updates().isChecking(); }));
    EXPECT_EQ(delegate->model().phase(), MacModel::Phase::signedIn);
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a0/ack"), 1u);  // the drain
    EXPECT_TRUE(acks->all().empty());
    EXPECT_TRUE(delegate->isRefreshLoopRunning());

    // Asleep for 300 s: terminating wakes it, it refreshes once more and ends.
    const std::size_t pulls = count(hosted, "GET /v1/pull?cursor=0");
    delegate->applicationWillTerminate();
    ASSERT_TRUE(testkit::processEventsUntil([&] { return !delegate->isRefreshLoopRunning(); }));
    EXPECT_EQ(count(hosted, "GET /v1/pull?cursor=0"), pulls + 1);
    EXPECT_EQ(fetches, 2);  // still due: the failed check recorded no time
}

TEST_F(AppDelegate, WhileTheManifestCannotBeFetchedEveryRoundTriesAgain) {
    keychain->save(session());
    serveMe({membership("t1")});
    servePull(hosted, {});
    delegate = offlineDelegate(1ms);
    delegate->applicationDidFinishLaunching();
    ASSERT_TRUE(testkit::processEventsUntil([&] { return count(hosted, "GET /v1/pull?cursor=0") >= 4; }));
    delegate->applicationWillTerminate();
    ASSERT_TRUE(testkit::processEventsUntil([&] { return !delegate->isRefreshLoopRunning(); }));
    // The launch's own refresh, then one check per round.
    EXPECT_EQ(static_cast<std::size_t>(fetches), count(hosted, "GET /v1/pull?cursor=0"));
    EXPECT_FALSE(defaults.number(SiteUpdates::checkedAtKey));  // no answer, no check time
}

// The settings refresh at start registers this device again (its critical-alert setting
// changed), and the service holds that exchange silently or answers it a byte at a time: the
// acknowledgement kept from before goes at start all the same, a sign-out ends, and the
// registration that lands afterwards is taken off again.
TEST_F(AppDelegate, NeitherTheFirstDrainNorASignOutWaitsForTheRegistration) {
    const std::string registered = R"({"registered":true})";
    const standin::Reply trickling{
        .status = 200, .headers = {}, .body = registered + std::string(500, ' '), .trickle = 20ms};
    standin::Reply held = standin::Reply::json(registered);
    held.holdUntilReleased = true;
    for (const standin::Reply& answer : {held, trickling}) {
        hosted.clearRequests();
        keychain->save(session());
        pushState.didReceiveDeviceToken(QByteArray::fromHex("ab01"));
        pushState.registry()->recordRegistration("ab01", "acc1", true);
        hosted.on("POST", "/v1/account/devices", answer);
        acks->put(PendingAck{"a0", "t1", "Old", 1, "busy", AckFailureVerdict::retryable});
        hosted.on("POST", "/v1/alerts/a0/ack", standin::Reply::json(testkit::alertAnswer("a0")));
        delegate = std::make_unique<MacAppDelegate>(setup());
        delegate->applicationDidFinishLaunching();

        // Neither waits for the other: the registration may go out after the drain is over.
        ASSERT_TRUE(testkit::processEventsUntil([&] { return !acks->get("a0"); }));
        ASSERT_TRUE(testkit::processEventsUntil([&] { return count(hosted, "POST /v1/account/devices") == 1u; }));
        EXPECT_TRUE(pushState.registry()->needsRegistration("ab01", "acc1", false, false)) << "the drain waited for it";
        QCoro::Task<> out = delegate->model().signOut();
        ASSERT_TRUE(testkit::processEventsUntil([&] { return out.isReady(); }));
        EXPECT_EQ(delegate->model().phase(), MacModel::Phase::signedOut);
        EXPECT_EQ(count(hosted, "DELETE /v1/account/devices/ab01"), 1u);

        hosted.release();
        run(pushState.awaitRegistrationSettled());
        EXPECT_EQ(count(hosted, "DELETE /v1/account/devices/ab01"), 2u) << "the late registration stayed";
        delegate->applicationWillTerminate();
        ASSERT_TRUE(testkit::processEventsUntil([&] { return !delegate->isRefreshLoopRunning(); }));
    }
}

class NewAlertNotices : public testkit::DelegateTest {
protected:
    void TearDown() override {
        delegate->applicationWillTerminate();
        ASSERT_TRUE(testkit::processEventsUntil([&] { return !delegate->isRefreshLoopRunning(); }));
    }

    std::vector<std::string> shownAlertIds() const {
        std::vector<std::string> ids;
        for (const auto& request : center->shown) ids.push_back(request.identifier);
        return ids;
    }

    void refresh() {
        auto refreshing = delegate->model().refreshAlerts();
        ASSERT_TRUE(testkit::processEventsUntil([&] { return refreshing.isReady(); }));
    }
};

TEST_F(NewAlertNotices, OnlyFiringAlertsNewToTheSameTeamAreShownWithTheAcknowledgeButton) {
    keychain->save(session());
    delegate->applicationDidFinishLaunching();
    ASSERT_TRUE(testkit::processEventsUntil([&] { return delegate->model().hasLaunched(); }));
    refresh();
    EXPECT_TRUE(shownAlertIds().empty()) << shownAlertIds().front();  // what was there is not news

    servePull(
        hosted,
        {testkit::alertAnswer("a1", "firing"),
         testkit::alertAnswer("a2", "firing"),
         testkit::alertAnswer("a3", "acked")});
    refresh();
    ASSERT_EQ(shownAlertIds(), (std::vector<std::string>{"brisalune.alert.a2"}));
    EXPECT_EQ(center->shown.back().categoryIdentifier, PushState::alertCategoryIdentifier);
    EXPECT_EQ(*center->shown.back().userInfo.at("tenant_id").get<std::string>(), "t1");
}

// New alerts as the desktop's notification service receives them (python3-dbusmock's daemon on a
// private bus), over two hosted teams and a box; each pull answers the list its key is given.
class NewAlertsOnTheDesktop : public testkit::DelegateTest {
protected:
    static constexpr const char* flush = "(flush)";

    testkit::NotificationDaemon daemon;
    std::shared_ptr<FreedesktopNotificationCenter> desktop =
        std::make_shared<FreedesktopNotificationCenter>(daemon.connection());
    std::map<std::string, std::vector<std::string>> firingByKey;  // "Bearer <key>" -> alert ids
    std::size_t looked = 0;

    void SetUp() override {
        pushState.setNotificationCenter(desktop);
        for (standin::Server* server : {&hosted, &box}) {
            server->on("GET", "/v1/pull", [this](const standin::ReceivedRequest& request) {
                std::vector<std::string> alerts;
                for (const std::string& id : firingByKey[request.header("Authorization").value_or("")])
                    alerts.push_back(firing(id));
                return standin::Reply::json(pullAnswer(alerts));
            });
        }
        shown();  // the service's capabilities are read once, before the scenario
    }

    void TearDown() override {
        delegate->applicationWillTerminate();
        ASSERT_TRUE(testkit::processEventsUntil([&] { return !delegate->isRefreshLoopRunning(); }));
    }

    // A firing alert whose rule is its id, so that its notification's summary names it.
    static std::string firing(const std::string& id) {
        std::string answer = testkit::alertAnswer(id, "firing");
        return answer.replace(answer.find(R"("rule":"r")"), 10, R"("rule":")" + id + R"(")");
    }

    // The summaries the daemon received since the last look, in order. A request of its own goes
    // last: once it is answered, everything sent before it has arrived.
    std::vector<std::string> shown() {
        QCoro::waitFor(
            desktop->add({.identifier = flush, .title = flush, .body = {}, .categoryIdentifier = {}, .userInfo = {}}));
        const std::vector<QVariantList> calls = daemon.calls("Notify");
        std::vector<std::string> summaries;
        for (std::size_t i = looked; i < calls.size(); ++i) {
            const std::string summary = calls[i].at(3).toString().toStdString();
            if (summary != flush) summaries.push_back(summary);
        }
        looked = calls.size();
        return summaries;
    }

    void launch(const StoredSession& stored) {
        keychain->save(stored);
        delegate->applicationDidFinishLaunching();
        ASSERT_TRUE(testkit::processEventsUntil([&] { return delegate->model().hasLaunched(); }));
    }
    void select(const std::string& tenantId) { run(delegate->model().selectTenant(tenantId)); }
    void refresh() { run(delegate->model().refreshAlerts()); }
};

using Shown = std::vector<std::string>;

// Three different ones of the new alerts, in the list's order, then the notice of the rest.
testing::AssertionResult fewThenTheRest(
    const Shown& shown, const std::set<std::string>& fresh, const std::string& rest) {
    const std::set<std::string> few(shown.begin(), shown.end() - std::min<std::ptrdiff_t>(1, std::ssize(shown)));
    const bool fromFresh = std::ranges::includes(fresh, few);
    if (shown.size() == 4 && few.size() == 3 && fromFresh && shown.back() == rest) return testing::AssertionSuccess();
    std::string text;
    for (const std::string& summary : shown) text += summary + "; ";
    return testing::AssertionFailure() << "shown: " << text;
}

TEST_F(NewAlertsOnTheDesktop, SwitchingTeamsAnnouncesOnlyWhatFiredSinceTheTeamWasLastSeen) {
    StoredSession stored = session();
    stored.tenantKeys.emplace("t2", TenantKey{"k2", "key-2", "t2"});
    firingByKey["Bearer key-1"] = {"a1", "a2", "a3", "a4", "a5"};
    firingByKey["Bearer key-2"] = {"b1", "b2", "b3"};
    launch(stored);
    EXPECT_EQ(shown(), Shown{});  // what was there at sign-in is not news

    select("t2");
    select("t1");
    select("t2");
    EXPECT_EQ(shown(), Shown{});  // each team's list, unchanged, seen again

    firingByKey["Bearer key-1"].push_back("a6");  // fires on t1 while t2 is shown
    select("t1");
    EXPECT_EQ(shown(), Shown{"a6"});
    select("t2");
    select("t1");
    refresh();
    EXPECT_EQ(shown(), Shown{});

    // Resolved, then firing again: news again.
    firingByKey["Bearer key-1"] = {"a1", "a2", "a3", "a4"};
    refresh();
    firingByKey["Bearer key-1"].push_back("a5");
    refresh();
    EXPECT_EQ(shown(), Shown{"a5"});
}

TEST_F(NewAlertsOnTheDesktop, APullShowsAFewAlertsAndCountsTheRestInOneNotice) {
    firingByKey["Bearer key-1"] = {"a1"};
    launch(session());
    EXPECT_EQ(shown(), Shown{});

    for (const char* id : {"n1", "n2", "n3", "n4", "n5", "n6", "n7"}) firingByKey["Bearer key-1"].push_back(id);
    refresh();
    EXPECT_TRUE(fewThenTheRest(shown(), {"n1", "n2", "n3", "n4", "n5", "n6", "n7"}, "And 4 more new alerts"));
    const QVariantList more = daemon.calls("Notify").at(daemon.calls("Notify").size() - 2);
    EXPECT_EQ(more.at(4).toString(), "Open Brisalune to see the open alerts of Team t1.");
    EXPECT_EQ(more.at(5).toStringList(), (QStringList{"default", "Open"}));  // nothing to acknowledge
    refresh();
    EXPECT_EQ(shown(), Shown{});

    firingByKey["Bearer key-1"].push_back("n8");
    firingByKey["Bearer key-1"].push_back("n9");
    firingByKey["Bearer key-1"].push_back("n10");
    firingByKey["Bearer key-1"].push_back("n11");
    refresh();
    EXPECT_TRUE(fewThenTheRest(shown(), {"n8", "n9", "n10", "n11"}, "And 1 more new alert"));
}

TEST_F(NewAlertsOnTheDesktop, ABoxSignInAnnouncesNothingThatWasAlreadyOpen) {
    StoredSession stored = session();
    stored.tenantHosts.emplace("t2", boxURL());
    launch(stored);
    select("t2");  // no key for its box yet: nothing to pull
    ASSERT_TRUE(delegate->model().needsBoxSignIn());

    serveBoxAccount();
    serveKey(box, "box-team", "bk", "box-key");
    firingByKey["Bearer box-key"] = {"x1", "x2", "x3"};
    const BoxSignIn signedIn = run(delegate->model().signInToBox("t2", "ops@box.example", "secret"));
    run(delegate->model().useBoxTeam("t2", signedIn.client, "box-team"));
    ASSERT_EQ(delegate->model().openAlerts().size(), 3u);
    EXPECT_EQ(shown(), Shown{});

    firingByKey["Bearer box-key"].push_back("x4");
    refresh();
    EXPECT_EQ(shown(), Shown{"x4"});
}

}  // namespace
}  // namespace brisalune

// Start-up, the test-configuration guard, and the refresh loop with its update rule.

#include <app/model/delegate_fixture.hpp>

#include <support/qt_application.hpp>

#include <QtGlobal>

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

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

}  // namespace
}  // namespace brisalune

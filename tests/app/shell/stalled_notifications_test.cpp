// The desktop's notification service hanging (python3-dbusmock's daemon on a private bus, held
// with SIGSTOP) while the app reads its settings, announces a new alert and answers presses of
// notification buttons: nothing of the app waits for it, and what was sent reaches it once it
// answers again.

#include <app/model/delegate_fixture.hpp>

#include <brisalune/push/freedesktop_notifications.hpp>

#include <support/notification_daemon.hpp>
#include <support/stopped_keyring.hpp>

#include <gtest/gtest.h>

#include <algorithm>

namespace brisalune {
namespace {

using standin::Reply;

class StalledNotifications : public testkit::DelegateTest {
protected:
    testkit::NotificationDaemon daemon;
    std::shared_ptr<FreedesktopNotificationCenter> desktop =
        std::make_shared<FreedesktopNotificationCenter>(daemon.connection());

    void SetUp() override { pushState.setNotificationCenter(desktop); }
    void TearDown() override {
        daemon.resume();
        delegate->applicationWillTerminate();
        ASSERT_TRUE(testkit::processEventsUntil([&] { return !delegate->isRefreshLoopRunning(); }));
    }

    std::vector<std::string> summaries() const {
        std::vector<std::string> out;
        for (const QVariantList& call : daemon.calls("Notify")) out.push_back(call.at(3).toString().toStdString());
        return out;
    }
};

TEST_F(StalledNotifications, AHangingServiceHoldsUpNothingAndGetsEveryNoticeOnceItAnswers) {
    testkit::Ticker ticker;
    daemon.pause();  // before its capabilities were ever read
    keychain->save(session());
    delegate->applicationDidFinishLaunching();
    ASSERT_TRUE(ticker.runUntil(3, [&] { return delegate->model().hasLaunched(); }));

    // The menu's opening reads the settings; a new alert fires; two buttons are pressed, one of
    // which can do nothing and is to be told.
    QCoro::Task<> settings = pushState.refreshNotificationSettings();
    hosted.on("POST", "/v1/alerts/a1/ack", Reply::json(testkit::alertAnswer("a1", "acked")));
    servePull(hosted, {testkit::alertAnswer("a1", "firing"), testkit::alertAnswer("a2", "firing")});
    QCoro::Task<> refresh = delegate->model().refreshAlerts();
    QCoro::Task<> acknowledged = delegate->handleNotificationResponse(response("BRISALUNE_ACK", "a1", "t1"));
    QCoro::Task<> refused = delegate->handleNotificationResponse(response("BRISALUNE_ACK", "a9", "t9"));

    // Meanwhile the event loop runs, the alerts refresh and the acknowledgement goes through.
    ASSERT_TRUE(ticker.runUntil(3, [&] { return refresh.isReady() && count(hosted, "POST /v1/alerts/a1/ack") == 1; }));
    EXPECT_EQ(delegate->model().openAlerts().size(), 2u);
    EXPECT_FALSE(settings.isReady());

    daemon.resume();
    run(std::move(settings));
    run(std::move(acknowledged));
    run(std::move(refused));
    EXPECT_EQ(pushState.authorization(), AuthorizationStatus::authorized);
    const std::vector<std::string> told = summaries();
    EXPECT_EQ(std::ranges::count(told, std::string(MacAppDelegate::ackFailureTitle)), 1) << "the refusal was not told";
    EXPECT_EQ(std::ranges::count(told, std::string("r")), 1) << "the new alert was not announced";
}

// The quit withdraws the notifications with buttons, as no press may reach the app once it is gone,
// without waiting for the service: they close once it answers again.
TEST_F(StalledNotifications, AQuitWithdrawsTheButtonsWithoutWaitingForIt) {
    pushState.installCategories({});
    run(delegate->postAckFailureNotification({"a1", "t1", "Disk full", 1, "busy", AckFailureVerdict::retryable}));
    daemon.pause();
    const auto quit = std::chrono::steady_clock::now();
    delegate->applicationWillTerminate();
    EXPECT_LT(std::chrono::steady_clock::now() - quit, std::chrono::seconds(10)) << "the quit waited for the service";

    daemon.resume();
    ASSERT_TRUE(testkit::processEventsUntil([&] { return !daemon.calls("CloseNotification").empty(); }));
    EXPECT_EQ(daemon.calls("CloseNotification").at(0).at(0).toUInt(), 1u);  // the notice's id
}

TEST_F(StalledNotifications, NeitherTheFirstDrainNorASignOutWaitsForIt) {
    testkit::Ticker ticker;
    daemon.pause();
    keychain->save(session());
    pushState.didReceiveDeviceToken(QByteArray::fromHex("ab01"));
    pushState.registry()->recordRegistration("ab01", "acc1", false);
    acks->put(PendingAck{"a0", "t1", "Old", 1, "busy", AckFailureVerdict::retryable});
    hosted.on("POST", "/v1/alerts/a0/ack", Reply::json(testkit::alertAnswer("a0")));
    delegate->applicationDidFinishLaunching();
    ASSERT_TRUE(ticker.runUntil(3, [&] { return !acks->get("a0"); }));
    EXPECT_FALSE(pushState.hasReadNotificationSettings()) << "the drain waited for the settings";

    // A registration whose settings read the service holds: the sign-out goes on without it.
    auto registration = pushState.attemptRegistration(PushState::RegistrationTrigger::userRequested);
    QCoro::Task<> out = delegate->model().signOut();
    ASSERT_TRUE(ticker.runUntil(3, [&] { return out.isReady(); }));
    EXPECT_EQ(delegate->model().phase(), MacModel::Phase::signedOut);
    EXPECT_FALSE(pushState.hasReadNotificationSettings()) << "the sign-out waited for the settings";

    daemon.resume();
    EXPECT_FALSE(run(std::move(registration)));    // signed out meanwhile: nothing sent
    run(pushState.refreshNotificationSettings());  // after the reads held before, in the service's order
    EXPECT_EQ(count(hosted, "POST /v1/account/devices"), 0u);
}

}  // namespace
}  // namespace brisalune

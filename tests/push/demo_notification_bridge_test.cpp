// The demo's notification bridge: the app on a private bus of its own (scripts/run) reaches the
// desktop's notification service through it, and hears its buttons.
#include <brisalune/push/freedesktop_notifications.hpp>

#include <support/notification_daemon.hpp>
#include <support/qt_application.hpp>

#include <gtest/gtest.h>

#include <QCoroTask>
#include <QProcess>

namespace brisalune {
namespace {

using testkit::NotificationDaemon;
using testkit::PrivateBus;

bool ownsNotifications(const PrivateBus& bus) {
    return bus.connection().interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")).value();
}

// The bridge between the demo's bus and the desktop's, running for the test's scope.
class Bridge {
public:
    Bridge(const PrivateBus& own, const NotificationDaemon& desktop) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromStdString(own.address()));
        environment.insert(QStringLiteral("BRISALUNE_DESKTOP_BUS"), desktop.address());
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral(BRISALUNE_DEMO_NOTIFICATIONS_PROGRAM), {});
        process_.waitForStarted();
    }
    ~Bridge() {
        process_.kill();
        process_.waitForFinished();
    }

private:
    QProcess process_;
};

TEST(DemoNotificationBridge, CarriesNotificationsAndTheirButtonsBetweenTheBuses) {
    NotificationDaemon desktop("body actions");
    PrivateBus own;
    Bridge bridge(own, desktop);
    ASSERT_TRUE(testkit::processEventsUntil([&] { return ownsNotifications(own); }));

    FreedesktopNotificationCenter center(own.connection());
    center.setCategories({{"BRISALUNE_ALERT", {{"BRISALUNE_ACK", "Acknowledge"}}}});
    std::vector<NotificationResponse> responses;
    QObject::connect(&center, &PushNotificationCenter::responseReceived, [&](const NotificationResponse& response) {
        responses.push_back(response);
    });
    const NotificationRequest request{
        .identifier = "n1",
        .title = "Disk full",
        .body = "a < b",
        .categoryIdentifier = "BRISALUNE_ALERT",
        .userInfo = {{"alert_id", "a1"}, {"tenant_id", "t1"}}};
    EXPECT_EQ(QCoro::waitFor(center.settings()).authorizationStatus, AuthorizationStatus::authorized);
    QCoro::waitFor(center.add(request));

    // The desktop's service got the notification as sent, and its id came back.
    ASSERT_EQ(desktop.calls("Notify").size(), 1u);
    const QVariantList sent = desktop.calls("Notify").at(0);
    EXPECT_EQ(sent[3].toString(), "Disk full");
    EXPECT_EQ(sent[4].toString(), "a < b");  // no markup on that service: read through the bridge
    const QStringList buttons = sent[5].toStringList();
    ASSERT_EQ(buttons.size(), 4);
    EXPECT_EQ(buttons, (QStringList{"default", "Open", buttons[2], "Acknowledge"}));
    EXPECT_EQ(testkit::carriedByKey(buttons[2]), R"([{"alert_id":"a1","tenant_id":"t1"},"Disk full"])");
    EXPECT_EQ(sent[6].toMap(), QVariantMap());
    EXPECT_EQ(sent[7].toInt(), 0);  // never expires
    ASSERT_EQ(center.delivered().size(), 1u);

    // Its button, pressed on the desktop, reaches the app, and closes it on the desktop, once.
    testkit::readBeforePressing();
    desktop.emitSignal("ActionInvoked", "us", {1u, "BRISALUNE_ACK"});
    ASSERT_TRUE(testkit::processEventsUntil([&] { return !responses.empty(); }));
    EXPECT_EQ(responses[0].actionIdentifier, "BRISALUNE_ACK");
    EXPECT_EQ(responses[0].request, request);
    QCoro::waitFor(center.removeDeliveredNotifications({"n1"}));
    ASSERT_TRUE(testkit::processEventsUntil([&] { return !desktop.calls("CloseNotification").empty(); }));
    EXPECT_EQ(desktop.calls("CloseNotification").size(), 1u);
}

// The app on the demo's bus sees the desktop's service go and come back, as it would on the
// desktop's own bus: with none there, it says so rather than notify into nothing.
TEST(DemoNotificationBridge, TellsTheAppWhenTheDesktopHasNoNotificationService) {
    NotificationDaemon desktop("body actions");
    PrivateBus own;
    Bridge bridge(own, desktop);
    ASSERT_TRUE(testkit::processEventsUntil([&] { return ownsNotifications(own); }));
    FreedesktopNotificationCenter center(own.connection());
    const auto status = [&] { return QCoro::waitFor(center.settings()).authorizationStatus; };
    EXPECT_EQ(status(), AuthorizationStatus::authorized);

    desktop.stop();
    EXPECT_TRUE(testkit::processEventsUntil([&] { return status() == AuthorizationStatus::denied; }));

    desktop.start();
    EXPECT_TRUE(testkit::processEventsUntil([&] { return status() == AuthorizationStatus::authorized; }));
    NotificationRequest request;
    request.identifier = "n1";
    QCoro::waitFor(center.add(request));
    EXPECT_EQ(desktop.calls("Notify").size(), 1u);
}

}  // namespace
}  // namespace brisalune

// A notification service that keeps every notification in a history never says one closed: what
// the centre remembers of them must not grow with every alert of a run that lasts weeks.

#include <brisalune/push/freedesktop_notifications.hpp>

#include <support/notification_daemon.hpp>
#include <support/qt_application.hpp>

#include <gtest/gtest.h>

#include <QCoroTask>

#include <string>
#include <vector>

namespace brisalune {
namespace {

NotificationRequest alertNotice(std::size_t n) {
    const std::string alertId = "a" + std::to_string(n);
    return {
        .identifier = "brisalune.alert." + alertId,
        .title = "Disk full",
        .body = "db-1",
        .categoryIdentifier = "BRISALUNE_ALERT",
        .userInfo = {{"alert_id", alertId}, {"tenant_id", "t1"}}};
}

TEST(NotificationMemory, ANeverClosingServiceLeavesOnlyTheLatestRemembered) {
    testkit::NotificationDaemon daemon;  // dbusmock's daemon never sends NotificationClosed
    FreedesktopNotificationCenter center(daemon.connection());
    center.setCategories({{"BRISALUNE_ALERT", {{"BRISALUNE_ACK", "Acknowledge"}}}});
    const std::size_t shown = FreedesktopNotificationCenter::maxRemembered + 100;
    for (std::size_t n = 1; n <= shown; ++n) QCoro::waitFor(center.add(alertNotice(n)));

    const std::vector<NotificationRequest> remembered = center.delivered();
    ASSERT_EQ(remembered.size(), FreedesktopNotificationCenter::maxRemembered);
    EXPECT_EQ(remembered.front(), alertNotice(shown - FreedesktopNotificationCenter::maxRemembered + 1));
    EXPECT_EQ(remembered.back(), alertNotice(shown));

    // The latest still answer a click; a forgotten one still answers its button, which carries
    // its alert; a replacement of a remembered one replaces it, not adds.
    std::vector<NotificationResponse> responses;
    QObject::connect(&center, &PushNotificationCenter::responseReceived, [&](const NotificationResponse& response) {
        responses.push_back(response);
    });
    const QString firstButton = daemon.calls("Notify").at(0)[5].toStringList().at(2);
    testkit::readBeforePressing();
    daemon.emitSignal("ActionInvoked", "us", {uint(shown), "default"});
    testkit::readBeforePressing();
    daemon.emitSignal("ActionInvoked", "us", {1u, firstButton});
    ASSERT_TRUE(testkit::processEventsUntil([&] { return responses.size() == 2; }));
    EXPECT_EQ(responses[0].request, alertNotice(shown));
    EXPECT_EQ(responses[1].actionIdentifier, "BRISALUNE_ACK");
    EXPECT_EQ(responses[1].request.userInfo, alertNotice(1).userInfo);

    QCoro::waitFor(center.add(alertNotice(shown - 1)));
    EXPECT_EQ(daemon.calls("Notify").back()[1].toUInt(), uint(shown - 1));
    EXPECT_EQ(center.delivered().size(), FreedesktopNotificationCenter::maxRemembered - 1);  // the clicked one went
}

TEST(NotificationMemory, WhatIsRememberedOfANoticeIsWhatWasShown) {
    testkit::NotificationDaemon daemon;
    FreedesktopNotificationCenter center(daemon.connection());
    NotificationRequest huge = alertNotice(1);
    huge.title = std::string(1 << 20, 'T');
    huge.body = std::string(1 << 20, 'B');
    QCoro::waitFor(center.add(huge));
    const std::vector<NotificationRequest> remembered = center.delivered();
    ASSERT_EQ(remembered.size(), 1u);
    EXPECT_LE(remembered[0].title.size(), FreedesktopNotificationCenter::maxTitleBytes);
    EXPECT_LE(remembered[0].body.size(), FreedesktopNotificationCenter::maxBodyBytes);
    EXPECT_EQ(QString::fromStdString(remembered[0].title), daemon.calls("Notify").at(0)[3].toString());
    EXPECT_EQ(remembered[0].userInfo, huge.userInfo);
}

}  // namespace
}  // namespace brisalune

// The whole road of the acknowledge button: shown through the desktop's notification service,
// chosen there, and acknowledged on the service.
#include <brisalune/push/freedesktop_notifications.hpp>

#include <push/push_state_fixture.hpp>
#include <support/alert_answer.hpp>
#include <support/notification_daemon.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

using standin::Reply;

class NotificationAcknowledgement : public testkit::PushStateTest {};

TEST_F(NotificationAcknowledgement, TheAcknowledgeButtonAcknowledgesTheAlertOnTheService) {
    testkit::NotificationDaemon daemon;
    auto live = std::make_shared<FreedesktopNotificationCenter>(daemon.connection());
    state->setNotificationCenter(live);
    keychain->save(storedSession());
    server.on("POST", "/v1/alerts/a1/ack", Reply::json(testkit::alertAnswer("a1")));

    std::optional<QCoro::Task<AckAttemptOutcome>> acknowledgement;
    QObject::connect(live.get(), &PushNotificationCenter::responseReceived, [&](const NotificationResponse& response) {
        const std::optional<PushTap> tap = PushTap::parse(response.request.userInfo);
        const auto* alert = tap ? tap->get<PushTap::Alert>() : nullptr;
        if (alert && response.actionIdentifier == PushState::ackActionIdentifier)
            acknowledgement.emplace(state->acknowledge(alert->id, alert->tenantId));
    });

    state->installCategories({"member"});
    NotificationRequest request{
        .identifier = "alert.a1",
        .title = "Disk full",
        .body = "db-1",
        .categoryIdentifier = std::string(PushState::alertCategoryIdentifier),
        .userInfo = {{"alert_id", "a1"}, {"tenant_id", "t1"}}};
    QCoro::waitFor(live->add(request));
    const auto shown = daemon.calls("Notify");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0][5].toStringList(), (QStringList{"default", "Open", "BRISALUNE_ACK", "Acknowledge"}));

    daemon.emitSignal("ActionInvoked", "us", {1u, "default"});  // a click opens, it does not acknowledge
    daemon.emitSignal("ActionInvoked", "us", {1u, "BRISALUNE_ACK"});
    ASSERT_TRUE(testkit::processEventsUntil([&] { return acknowledgement.has_value(); }));
    const AckAttemptOutcome outcome = QCoro::waitFor(std::move(*acknowledgement));
    EXPECT_TRUE(outcome.get<AckAttemptOutcome::Acknowledged>());
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(last().path, "/v1/alerts/a1/ack");
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");

    state->endSession();  // withdraws the alert notifications
    ASSERT_TRUE(testkit::processEventsUntil([&] { return !daemon.calls("CloseNotification").empty(); }));
    EXPECT_EQ(daemon.calls("CloseNotification")[0][0].toUInt(), 1u);
    EXPECT_TRUE(live->delivered().empty());
}

}  // namespace
}  // namespace brisalune

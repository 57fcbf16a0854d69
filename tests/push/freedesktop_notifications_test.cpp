#include <brisalune/push/freedesktop_notifications.hpp>

#include <support/notification_daemon.hpp>
#include <support/qt_application.hpp>
#include <support/temp_dir.hpp>

#include <gtest/gtest.h>

#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <chrono>

namespace brisalune {
namespace {

using testkit::NotificationDaemon;

NotificationCategory alertCategory(bool withAcknowledge) {
    NotificationCategory category{"BRISALUNE_ALERT", {}};
    if (withAcknowledge) category.actions.push_back({"BRISALUNE_ACK", "Acknowledge"});
    return category;
}

NotificationRequest alertRequest(std::string identifier, std::string category = "BRISALUNE_ALERT") {
    return {
        .identifier = std::move(identifier),
        .title = "<b>Disk</b> full",
        .body = "usage > 95% & rising",
        .categoryIdentifier = std::move(category),
        .userInfo = {{"alert_id", "a1"}, {"tenant_id", "t1"}}};
}

TEST(FreedesktopNotifications, ReadsCapabilitiesFirstAndSendsTheCategoryButtons) {
    NotificationDaemon daemon;
    FreedesktopNotificationCenter center(daemon.connection());
    center.setCategories({alertCategory(true)});
    QCoro::waitFor(center.add(alertRequest("n1")));

    EXPECT_EQ(daemon.calledMethods(), (QStringList{"GetCapabilities", "Notify"}));
    const QVariantList sent = daemon.calls("Notify").at(0);
    EXPECT_EQ(sent[1].toUInt(), 0u);
    EXPECT_EQ(sent[3].toString(), "<b>Disk</b> full");             // the summary is never markup
    EXPECT_EQ(sent[4].toString(), "usage &gt; 95% &amp; rising");  // the body is, here
    const QStringList buttons = sent[5].toStringList();
    const QString key = buttons.value(2);
    EXPECT_EQ(buttons, (QStringList{"default", "Open", key, "Acknowledge"}));
    // What the button acts on, in letters, digits, "-" and "_" alone, whatever the title holds.
    EXPECT_TRUE(QRegularExpression("^BRISALUNE_ACK [A-Za-z0-9_-]+$").match(key).hasMatch()) << key.toStdString();
    EXPECT_EQ(testkit::carriedByKey(key), R"([{"alert_id":"a1","tenant_id":"t1"},"<b>Disk</b> full"])");

    // The same identifier replaces what is shown; a viewer's category has no button.
    center.setCategories({alertCategory(false)});
    QCoro::waitFor(center.add(alertRequest("n1")));
    const QVariantList again = daemon.calls("Notify").at(1);
    EXPECT_EQ(again[1].toUInt(), 1u);
    EXPECT_EQ(again[5].toStringList(), (QStringList{"default", "Open"}));
    EXPECT_EQ(center.delivered().size(), 1u);
    EXPECT_EQ(daemon.calls("GetCapabilities").size(), 1u);

    // What was read once holds for every notification after: each body is escaped.
    QCoro::waitFor(center.add(alertRequest("n2")));
    const std::vector<QVariantList> all = daemon.calls("Notify");
    ASSERT_EQ(all.size(), 3u);
    for (const QVariantList& each : all) EXPECT_EQ(each[4].toString().toStdString(), "usage &gt; 95% &amp; rising");
}

// A service that moves notifications to a history after a while brings them back without their
// buttons: one with buttons stays until the person acts on it, then goes.
TEST(FreedesktopNotifications, ANotificationWithButtonsStaysUntilThePersonActsOnIt) {
    NotificationDaemon daemon;
    FreedesktopNotificationCenter center(daemon.connection());
    center.setCategories({alertCategory(true)});
    QCoro::waitFor(center.add(alertRequest("n1")));           // id 1
    QCoro::waitFor(center.add(alertRequest("n2", "OTHER")));  // id 2: no button
    const std::vector<QVariantList> sent = daemon.calls("Notify");
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0][6].toMap(), QVariantMap());  // not resident: see the next case
    EXPECT_EQ(sent[0][7].toInt(), 0);              // never expires
    EXPECT_EQ(sent[1][6].toMap(), QVariantMap());
    EXPECT_EQ(sent[1][7].toInt(), -1);  // as the service likes

    testkit::readBeforePressing();
    daemon.emitSignal("ActionInvoked", "us", {2u, "default"});  // the service closes that one itself
    testkit::readBeforePressing();
    daemon.emitSignal("ActionInvoked", "us", {1u, sent[0][5].toStringList().at(2)});
    ASSERT_TRUE(testkit::processEventsUntil([&] { return !daemon.calls("CloseNotification").empty(); }));
    const auto closed = daemon.calls("CloseNotification");
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0][0].toUInt(), 1u);
}

// A run left open for days shows more than it remembers: at quit every notification still shown
// with a button closes, the oldest too, and none the service said closed.
TEST(FreedesktopNotifications, AtQuitEveryNotificationWithButtonsCloses) {
    NotificationDaemon daemon;
    FreedesktopNotificationCenter center(daemon.connection());
    center.setCategories({alertCategory(true)});
    const uint withButtons = FreedesktopNotificationCenter::maxRemembered + 4;
    for (uint id = 1; id <= withButtons; ++id) QCoro::waitFor(center.add(alertRequest("n" + std::to_string(id))));
    QCoro::waitFor(center.add(alertRequest("plain", "OTHER")));  // no button: the service's to expire
    daemon.emitSignal("NotificationClosed", "uu", {2u, 2u});
    daemon.emitSignal("NotificationClosed", "uu", {withButtons, 2u});  // heard after the first
    ASSERT_TRUE(testkit::processEventsUntil(
        [&] { return center.delivered().size() < FreedesktopNotificationCenter::maxRemembered; }));

    center.withdrawButtonsAtQuit(std::chrono::seconds(1));
    std::vector<uint> closed;
    for (const QVariantList& call : daemon.calls("CloseNotification")) closed.push_back(call.at(0).toUInt());
    std::ranges::sort(closed);
    std::vector<uint> expected{1u};
    for (uint id = 3; id < withButtons; ++id) expected.push_back(id);
    EXPECT_EQ(closed, expected);
}

// A service that comes back numbers its notifications anew, another program's among them: what
// the run showed before is forgotten, and the quit closes only what it showed since.
TEST(FreedesktopNotifications, AtQuitNothingShownBeforeTheServiceRestartedCloses) {
    NotificationDaemon daemon;
    FreedesktopNotificationCenter center(daemon.connection());
    center.setCategories({alertCategory(true)});
    for (const char* identifier : {"n1", "n2", "n3"}) QCoro::waitFor(center.add(alertRequest(identifier)));
    daemon.stop();
    ASSERT_TRUE(testkit::processEventsUntil([&] { return center.delivered().empty(); }));
    daemon.start();

    const QString other = QStringLiteral("another program");
    const QDBusConnection theirs = QDBusConnection::connectToBus(daemon.address(), other);
    QDBusMessage notify = QDBusMessage::createMethodCall(
        NotificationDaemon::service, NotificationDaemon::path, NotificationDaemon::service, "Notify");
    notify << QString("other") << 0u << QString() << QString("theirs") << QString() << QStringList{"default", "Open"}
           << QVariantMap() << qint32(0);
    EXPECT_EQ(theirs.call(notify).arguments().value(0).toUInt(), 1u);
    QDBusConnection::disconnectFromBus(other);
    QCoro::waitFor(center.add(alertRequest("n4")));  // id 2

    center.withdrawButtonsAtQuit(std::chrono::seconds(1));
    std::vector<uint> closed;
    for (const QVariantList& call : daemon.calls("CloseNotification")) closed.push_back(call.at(0).toUInt());
    EXPECT_EQ(closed, std::vector{2u});
}

// Debian's own daemon keeps a resident bubble on screen after its button was pressed, and after
// it was closed, hiding the next one until the person closes it.
TEST(FreedesktopNotifications, ABubbleActedOnGoesUnderDebiansNotificationDaemon) {
    testkit::BubbleDaemon daemon;
    FreedesktopNotificationCenter center(daemon.connection());
    center.setCategories({alertCategory(true)});
    std::vector<NotificationResponse> responses;
    QObject::connect(&center, &PushNotificationCenter::responseReceived, [&](const NotificationResponse& response) {
        responses.push_back(response);
    });
    QCoro::waitFor(center.add(alertRequest("n1")));
    QStringList bubbles;
    ASSERT_TRUE(testkit::processEventsUntil([&] { return !(bubbles = daemon.bubbles()).isEmpty(); }));

    testkit::readBeforePressing();
    daemon.clickButton(bubbles.constFirst());
    ASSERT_TRUE(testkit::processEventsUntil([&] { return !responses.empty(); }));
    EXPECT_EQ(responses[0].actionIdentifier, "BRISALUNE_ACK");
    EXPECT_TRUE(testkit::processEventsUntil([&] { return daemon.bubbles().isEmpty(); }, std::chrono::seconds(10)))
        << "the bubble stayed after its button was pressed";
    EXPECT_TRUE(center.delivered().empty());
}

TEST(FreedesktopNotifications, BodiesStayPlainForAServiceWithoutMarkup) {
    NotificationDaemon daemon("body actions");
    FreedesktopNotificationCenter center(daemon.connection());
    NotificationRequest request = alertRequest("n1", "OTHER");
    request.body = std::string("a < b\0c", 7);
    QCoro::waitFor(center.add(request));
    const QVariantList sent = daemon.calls("Notify").at(0);
    EXPECT_EQ(sent[4].toString(), "a < bc");
    EXPECT_EQ(sent[5].toStringList(), (QStringList{"default", "Open"}));  // no such category installed
}

TEST(FreedesktopNotifications, AHugeTitleOrBodyIsCutToAFewLines) {
    NotificationDaemon daemon("body actions");
    FreedesktopNotificationCenter center(daemon.connection());
    NotificationRequest request = alertRequest("n1", "OTHER");
    request.title = std::string(1 << 20, 'T');
    request.body = std::string(1 << 20, '\xC3');  // a megabyte of broken UTF-8
    QCoro::waitFor(center.add(request));
    const QVariantList sent = daemon.calls("Notify").at(0);
    EXPECT_LE(sent[3].toString().toUtf8().size(), qsizetype(FreedesktopNotificationCenter::maxTitleBytes));
    EXPECT_TRUE(sent[3].toString().endsWith(QChar(0x2026)));
    EXPECT_LE(sent[4].toString().toUtf8().size(), qsizetype(FreedesktopNotificationCenter::maxBodyBytes));
    EXPECT_FALSE(sent[4].toString().contains(QChar(0xC3)));
}

TEST(FreedesktopNotifications, WithdrawsByExactCategoryAndHearsOnlyItsOwnNotifications) {
    NotificationDaemon daemon;
    FreedesktopNotificationCenter center(daemon.connection());
    std::vector<NotificationResponse> responses;
    QObject::connect(&center, &PushNotificationCenter::responseReceived, [&](const NotificationResponse& response) {
        responses.push_back(response);
    });
    QCoro::waitFor(center.add(alertRequest("n1")));                     // id 1
    QCoro::waitFor(center.add(alertRequest("n2", "brisalune_alert")));  // id 2
    QCoro::waitFor(center.add(alertRequest("n3")));                     // id 3

    testkit::readBeforePressing();
    daemon.emitSignal("ActionInvoked", "us", {7u, "BRISALUNE_ACK"});  // not ours
    daemon.emitSignal("ActionInvoked", "us", {2u, "default"});
    ASSERT_TRUE(testkit::processEventsUntil([&] { return !responses.empty(); }));
    ASSERT_EQ(responses.size(), 1u);
    EXPECT_EQ(responses[0].actionIdentifier, "default");
    EXPECT_EQ(responses[0].request, alertRequest("n2", "brisalune_alert"));

    QCoro::waitFor(center.removeDelivered("BRISALUNE_ALERT"));
    const auto closed = daemon.calls("CloseNotification");
    ASSERT_EQ(closed.size(), 2u);
    EXPECT_EQ(closed[0][0].toUInt(), 1u);
    EXPECT_EQ(closed[1][0].toUInt(), 3u);
    EXPECT_EQ(center.delivered(), std::vector{alertRequest("n2", "brisalune_alert")});

    daemon.emitSignal("NotificationClosed", "uu", {2u, 2u});
    ASSERT_TRUE(testkit::processEventsUntil([&] { return center.delivered().empty(); }));
}

TEST(FreedesktopNotifications, AButtonPressedAfterARestartStillReachesTheApp) {
    // The service keeps a notification on screen after the program that posted it quit or was
    // killed; its acknowledge button must still reach the program running now.
    NotificationDaemon daemon;
    QString pressed;
    {
        FreedesktopNotificationCenter before(daemon.connection());
        before.setCategories({alertCategory(true)});
        QCoro::waitFor(before.add(alertRequest("n1")));  // id 1
        pressed = daemon.calls("Notify").at(0)[5].toStringList().at(2);
    }
    FreedesktopNotificationCenter now(daemon.connection());
    now.setCategories({alertCategory(true)});  // as the app does at start
    std::vector<NotificationResponse> responses;
    QObject::connect(&now, &PushNotificationCenter::responseReceived, [&](const NotificationResponse& response) {
        responses.push_back(response);
    });
    daemon.emitSignal("ActionInvoked", "us", {1u, "default"});  // a click carries nothing: not ours to guess
    daemon.emitSignal("ActionInvoked", "us", {1u, pressed});
    ASSERT_TRUE(testkit::processEventsUntil([&] { return !responses.empty(); }));
    ASSERT_EQ(responses.size(), 1u);
    EXPECT_EQ(responses[0].actionIdentifier, "BRISALUNE_ACK");
    EXPECT_EQ(responses[0].request.userInfo, alertRequest("n1").userInfo);
    EXPECT_EQ(responses[0].request.title, "<b>Disk</b> full");  // what it acts on is named

    // Keys of the earlier forms, the user info and title as JSON and the user info alone, are read
    // as before (each a second after the last press, as a person would).
    testkit::readBeforePressing();
    daemon.emitSignal(
        "ActionInvoked", "us", {1u, R"(BRISALUNE_ACK [{"alert_id":"a1","tenant_id":"t1"},"[prod] disk"])"});
    ASSERT_TRUE(testkit::processEventsUntil([&] { return responses.size() == 2; }));
    EXPECT_EQ(responses[1].request.userInfo, alertRequest("n1").userInfo);
    EXPECT_EQ(responses[1].request.title, "[prod] disk");
    testkit::readBeforePressing();
    daemon.emitSignal("ActionInvoked", "us", {1u, R"(BRISALUNE_ACK {"alert_id":"a1","tenant_id":"t1"})"});
    ASSERT_TRUE(testkit::processEventsUntil([&] { return responses.size() == 3; }));
    EXPECT_EQ(responses[2].request.userInfo, alertRequest("n1").userInfo);
    EXPECT_EQ(responses[2].request.title, "");

    // A key longer than any the app writes is not read: a 4 MB alert id reaches nothing that keeps it.
    const json::Array huge{json::Object{{"alert_id", std::string(4 << 20, 'a')}, {"tenant_id", "t1"}}, "Disk"};
    const QByteArray carried = QByteArray::fromStdString(json::write(huge))
                                   .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    testkit::readBeforePressing();
    daemon.emitSignal("ActionInvoked", "us", {1u, "BRISALUNE_ACK " + QString::fromLatin1(carried)});
    testkit::readBeforePressing();
    daemon.emitSignal("ActionInvoked", "us", {1u, pressed});  // heard as ever
    ASSERT_TRUE(testkit::processEventsUntil([&] { return responses.size() == 4; }));
    EXPECT_EQ(responses[3].request.userInfo, alertRequest("n1").userInfo);

    // One larger than libdbus reads ahead (63 MiB; the mock's arguments take up to 64) leaves the
    // bus heard. Its size is the point: the mock copies and logs all of it before it answers, which
    // outlasts D-Bus's reply time on a busy machine, so the call waits within the test's limit.
    testkit::readBeforePressing();
    daemon.emitSignal(
        "ActionInvoked", "us", {1u, "BRISALUNE_ACK " + QString(66'600'000, QLatin1Char('A'))}, std::chrono::minutes(2));
    testkit::readBeforePressing();
    daemon.emitSignal("ActionInvoked", "us", {1u, pressed});
    ASSERT_TRUE(testkit::processEventsUntil([&] { return responses.size() == 5; })) << "the bus is no longer heard";
    EXPECT_EQ(responses[4].request.userInfo, alertRequest("n1").userInfo);
}

// dunst's menu is the only way to a second button there, and it cannot carry a bracket in a key;
// a title may hold brackets, quotes and blanks. Pressed after a restart, the key alone tells.
TEST(FreedesktopNotifications, AcknowledgeWorksFromDunstsMenuWhateverTheTitleHolds) {
    testkit::TempDir dir;
    testkit::Dunst daemon(dir.path());
    NotificationRequest request = alertRequest("n1");
    request.title = R"([prod] "disk" full)";
    {
        FreedesktopNotificationCenter before(daemon.connection());
        before.setCategories({alertCategory(true)});
        QCoro::waitFor(before.add(request));
    }
    FreedesktopNotificationCenter now(daemon.connection());
    now.setCategories({alertCategory(true)});
    std::vector<NotificationResponse> responses;
    QObject::connect(&now, &PushNotificationCenter::responseReceived, [&](const NotificationResponse& response) {
        responses.push_back(response);
    });
    daemon.pressAcknowledge();
    ASSERT_TRUE(testkit::processEventsUntil([&] { return !responses.empty(); })) << "dunst sent no action";
    EXPECT_EQ(responses[0].actionIdentifier, "BRISALUNE_ACK");
    EXPECT_EQ(responses[0].request.userInfo, request.userInfo);
    EXPECT_EQ(responses[0].request.title, request.title);
}

// A daemon that shows one notification at a time puts the next under the pointer at once: the
// second click of a double click lands on a button nobody read.
TEST(FreedesktopNotifications, AQuickSecondPressActsOnNothingAndItsNotificationStays) {
    NotificationDaemon daemon;
    FreedesktopNotificationCenter center(daemon.connection());
    center.setCategories({alertCategory(true)});
    std::vector<NotificationResponse> responses;
    QObject::connect(&center, &PushNotificationCenter::responseReceived, [&](const NotificationResponse& response) {
        responses.push_back(response);
    });
    QCoro::waitFor(center.add(alertRequest("n1")));  // id 1
    NotificationRequest second = alertRequest("n2");
    second.userInfo["alert_id"] = "a2";
    QCoro::waitFor(center.add(second));  // id 2
    const auto press = [&](uint id) { daemon.emitSignal("ActionInvoked", "us", {id, "BRISALUNE_ACK"}); };
    testkit::readBeforePressing();

    press(1);
    ASSERT_TRUE(testkit::processEventsUntil([&] { return responses.size() == 1; }));
    QThread::msleep(200);
    press(2);
    // Shown again in its place, for a press the person means.
    ASSERT_TRUE(testkit::processEventsUntil([&] { return daemon.calls("Notify").size() == 3; }));
    EXPECT_EQ(daemon.calls("Notify").at(2)[1].toUInt(), 2u);
    EXPECT_EQ(responses.size(), 1u) << "a press 200 ms after another acted";

    testkit::readBeforePressing();
    press(2);
    ASSERT_TRUE(testkit::processEventsUntil([&] { return responses.size() == 2; }));
    EXPECT_EQ(responses[0].request.userInfo.at("alert_id"), "a1");
    EXPECT_EQ(responses[1].request.userInfo.at("alert_id"), "a2");

    // Nor does a press on a notification that has only just come up.
    testkit::readBeforePressing();
    QCoro::waitFor(center.add(alertRequest("n3")));  // id 3
    press(3);
    ASSERT_TRUE(testkit::processEventsUntil([&] { return daemon.calls("Notify").size() == 5; }));
    EXPECT_EQ(daemon.calls("Notify").at(4)[1].toUInt(), 3u);
    EXPECT_EQ(responses.size(), 2u);

    // Nor one on a bubble of an earlier run, which shows again in its place from what its key carries.
    const QString earlier = daemon.calls("Notify").at(0)[5].toStringList().at(2);  // n1's, a1's
    testkit::readBeforePressing();
    press(3);
    ASSERT_TRUE(testkit::processEventsUntil([&] { return responses.size() == 3; }));
    QThread::msleep(200);
    daemon.emitSignal("ActionInvoked", "us", {9u, earlier});
    ASSERT_TRUE(testkit::processEventsUntil([&] { return daemon.calls("Notify").size() == 6; }));
    const QVariantList again = daemon.calls("Notify").at(5);
    EXPECT_EQ(again[1].toUInt(), 9u);
    EXPECT_EQ(again[3].toString(), "<b>Disk</b> full");
    EXPECT_EQ(again[5].toStringList(), (QStringList{"default", "Open", earlier, "Acknowledge"}));
    EXPECT_EQ(responses.size(), 3u);
}

// A service that hangs past the reply limit before it ever told its capabilities (at start, or
// after it changed hands): what is sent waits in its queue and shows once it goes on, its body
// escaped; nothing is dropped.
TEST(FreedesktopNotifications, ANoticeSentToAServiceThatHangsShowsOnceItGoesOn) {
    NotificationDaemon daemon;
    const std::chrono::milliseconds replyLimit{300};  // instead of the bus's 25 s
    FreedesktopNotificationCenter center(daemon.connection(), replyLimit);
    center.setCategories({alertCategory(true)});
    daemon.pause();
    EXPECT_EQ(QCoro::waitFor(center.settings()).authorizationStatus, AuthorizationStatus::authorized);
    QCoro::waitFor(center.add(alertRequest("n1")));
    EXPECT_TRUE(center.delivered().empty());  // its id never came

    daemon.resume();
    const std::vector<QVariantList> shown = daemon.calls("Notify");  // answered after the queue
    ASSERT_EQ(shown.size(), 1u) << "the notice was dropped";
    EXPECT_EQ(shown[0][3].toString(), "<b>Disk</b> full");
    EXPECT_EQ(shown[0][4].toString(), "usage &gt; 95% &amp; rising");
    EXPECT_EQ(shown[0][5].toStringList().size(), 4);  // with its acknowledge button

    // Once it answers, what it tells is what counts.
    QCoro::waitFor(center.add(alertRequest("n2")));
    EXPECT_EQ(center.delivered().size(), 1u);
}

TEST(FreedesktopNotifications, PermissionIsWhetherAServiceAnswers) {
    const NotificationSettings authorized{AuthorizationStatus::authorized, NotificationSetting::notSupported};
    const NotificationSettings denied{AuthorizationStatus::denied, NotificationSetting::notSupported};
    {
        testkit::PrivateBus bus;  // no notification service on it
        FreedesktopNotificationCenter center(bus.connection());
        EXPECT_EQ(QCoro::waitFor(center.settings()), denied);
        EXPECT_FALSE(QCoro::waitFor(center.requestAuthorization({})));
        QCoro::waitFor(center.add(alertRequest("n1")));
        EXPECT_TRUE(center.delivered().empty());
    }
    NotificationDaemon daemon;
    FreedesktopNotificationCenter center(daemon.connection());
    EXPECT_EQ(QCoro::waitFor(center.settings()), authorized);
    EXPECT_TRUE(QCoro::waitFor(center.requestAuthorization({})));
    QCoro::waitFor(center.add(alertRequest("n1")));
    daemon.stop();  // the service goes away, and its notifications with it
    ASSERT_TRUE(testkit::processEventsUntil([&] { return center.delivered().empty(); }));
    EXPECT_EQ(QCoro::waitFor(center.settings()), denied);
}

}  // namespace
}  // namespace brisalune

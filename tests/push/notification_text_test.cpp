#include <brisalune/push/freedesktop_notifications.hpp>

#include <support/notification_daemon.hpp>
#include <support/qt_application.hpp>

#include <gtest/gtest.h>

#include <QCoroTask>

namespace brisalune {
namespace {

using testkit::NotificationDaemon;

// What a server wrote into an alert's title and last message, as the notification service gets it.
QVariantList sentFor(NotificationDaemon& daemon, std::string title, std::string body) {
    FreedesktopNotificationCenter center(daemon.connection());
    NotificationRequest request;
    request.identifier = "n1";
    request.title = std::move(title);
    request.body = std::move(body);
    QCoro::waitFor(center.add(std::move(request)));
    return daemon.calls("Notify").at(0);
}

TEST(NotificationText, ASummaryStaysOneLineAndABodyKeepsItsLinesButNoOtherControls) {
    const std::string title = "Disk full\non db-1\tnow\r\x07!";
    const std::string body = "usage\n\t95%\x1b[31m <b>\x0b\xe2\x80\xa8" "end";
    {
        NotificationDaemon daemon;  // reads markup in bodies
        const QVariantList sent = sentFor(daemon, title, body);
        EXPECT_EQ(sent[3].toString(), "Disk full on db-1 now  !");
        // Markup holds no control characters: a service would refuse the body whole.
        EXPECT_EQ(sent[4].toString(), "usage\n\t95% [31m &lt;b&gt;  end");
    }
    {
        NotificationDaemon daemon("body actions");
        const QVariantList sent = sentFor(daemon, title, body);
        EXPECT_EQ(sent[3].toString(), "Disk full on db-1 now  !");
        EXPECT_EQ(sent[4].toString(), "usage\n\t95% [31m <b>  end");
    }
}

TEST(NotificationText, DirectionMarksZeroWidthCharactersAndEmojiGoAsTheyStand) {
    NotificationDaemon daemon;
    const std::string title = "\xe2\x80\xae" "CPU high\xe2\x80\x8b \xf0\x9f\x94\xa5";  // RLO … ZWSP, fire
    const QVariantList sent = sentFor(daemon, title, "\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d");
    EXPECT_EQ(sent[3].toString(), QString::fromUtf8(title.c_str()));
    EXPECT_EQ(sent[4].toString(), QString::fromUtf8("\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d"));
}

}  // namespace
}  // namespace brisalune

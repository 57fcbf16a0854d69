#pragma once

// The desktop's notification service, org.freedesktop.Notifications on the session bus.
// Permission on Linux: granted while a notification service is there (one that hangs too),
// denied when none is; critical alerts are not supported. The service's capabilities are read
// before the first notification (and again after the service changes hands); bodies are escaped
// when it reads markup in them. A notification with buttons never expires, so that its buttons
// are still there when the person comes back to it; acted on, or at quit, it is closed.
// Keeps a table of what it showed, titles and bodies cut as shown (the latest `maxRemembered`),
// so that shown notifications can be listed, replaced and withdrawn, and hears the service's
// ActionInvoked and NotificationClosed only for those. The ids of all it shows with buttons are
// kept until closed, however many, so that the quit withdraws every one. A press that comes within
// `readingTime` of the previous press, or of its own notification being shown, is not acted on. An
// action key longer than any this program writes is not read.

#include <brisalune/push/notification_center.hpp>

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstddef>
#include <optional>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

namespace brisalune {

class FreedesktopNotificationCenter final : public PushNotificationCenter {
    Q_OBJECT

public:
    static constexpr std::string_view service = "org.freedesktop.Notifications";
    static constexpr std::string_view objectPath = "/org/freedesktop/Notifications";
    static constexpr std::string_view applicationName = "Brisalune";
    static constexpr std::string_view defaultActionTitle = "Open";

    // How long a call waits for the service's answer: the bus's usual limit.
    static constexpr std::chrono::milliseconds defaultReplyLimit{25000};

    explicit FreedesktopNotificationCenter(
        QDBusConnection connection = QDBusConnection::sessionBus(),
        std::chrono::milliseconds replyLimit = defaultReplyLimit,
        QObject* parent = nullptr);

    QCoro::Task<bool> requestAuthorization(AuthorizationOptions options) override;
    QCoro::Task<NotificationSettings> settings() override;
    bool deniesOnlyWithoutService() const override { return true; }
    QCoro::Task<> removeDelivered(std::string categoryIdentifier) override;
    void setCategories(std::vector<NotificationCategory> categories) override;
    QCoro::Task<> add(NotificationRequest request) override;
    std::vector<NotificationRequest> delivered() const override;
    QCoro::Task<> removeDeliveredNotifications(std::vector<std::string> identifiers) override;
    void withdrawButtonsAtQuit(std::chrono::milliseconds limit) override;

    // Longer titles and bodies are cut, on a character boundary, with "…".
    static constexpr std::size_t maxTitleBytes = 200;
    static constexpr std::size_t maxBodyBytes = 400;
    // How many shown notifications are remembered. A service that keeps them in a history never
    // tells that they closed: past this, the oldest is forgotten here (it stays on screen, and
    // its buttons still carry what they act on; only its id is kept, for the quit).
    static constexpr std::size_t maxRemembered = 256;
    // A service that shows one notification at a time puts the next one, its buttons in the same
    // place, under the pointer at once: a double click would act on it unread.
    static constexpr std::chrono::milliseconds readingTime{500};

    // Text as D-Bus carries it: invalid UTF-8 replaced, NUL characters dropped.
    static QString busText(std::string_view text);
    // A summary on one line: line breaks, tabs and other control characters become spaces.
    static QString summaryText(std::string_view title);
    // A body for a service that reads markup in bodies (`markup`), or one that shows them as
    // they are. Line breaks and tabs stay; other control characters, which no markup may hold,
    // become spaces.
    static QString bodyText(std::string_view body, bool markup);

private Q_SLOTS:
    void onActionInvoked(uint id, const QString& actionKey);
    void onNotificationClosed(uint id, uint reason);
    void onOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);

private:
    struct Shown {
        uint id = 0;
        NotificationRequest request;
        std::chrono::steady_clock::time_point shownAt;
    };

    static constexpr qint32 serviceDefaultExpiry = -1;
    static constexpr qint32 neverExpires = 0;

    // The service's capabilities, read once per service; none while no service is there. A
    // service that is there but hangs (no answer in time) still takes what it is sent, and shows it
    // once it goes on: until it tells, it is taken to read markup, so that bodies are escaped
    // whatever it turns out to be.
    QCoro::Task<std::optional<QStringList>> capabilities();
    QCoro::Task<QDBusMessage> ask(QDBusMessage call);
    // The category's buttons; each key carries the request's user info and title, so that a button
    // pressed after this program restarted or forgot it (the service keeps notifications on screen)
    // is still answered, and what it acts on named.
    QStringList actions(const NotificationRequest& request) const;
    // The length of the longest action key `actions` may write with the categories installed.
    std::size_t longestKey() const;
    QCoro::Task<> close(uint id);
    // The same without waiting for the service's answer.
    void closeNow(uint id);

    QDBusConnection connection_;
    std::chrono::milliseconds replyLimit_;
    QDBusServiceWatcher watcher_;
    std::optional<QStringList> capabilities_;
    std::vector<NotificationCategory> categories_;
    std::vector<Shown> shown_;  // oldest first
    // What is shown with buttons, remembered or not: the service may keep it after an action, until
    // closed, and a press on it after the quit would reach no one.
    std::set<uint> withButtons_;
    std::optional<std::chrono::steady_clock::time_point> lastPress_;
};

}  // namespace brisalune

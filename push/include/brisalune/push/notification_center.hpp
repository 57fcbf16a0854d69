#pragma once

// Everything the program asks of the desktop's notification service, behind one interface:
// permission, settings, categories with their actions, showing and withdrawing notifications,
// and the user's responses. The push state holds one (replaceable as a whole); the live one
// speaks freedesktop notifications over D-Bus, a test puts a recording one in its place.
// Lives on the Qt main thread; whoever awaits one of its coroutines holds the centre (its
// shared pointer) until the coroutine is done.

#include <brisalune/platform/json.hpp>

#include <QCoroTask>
#include <QObject>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

// Whether the program may show notifications, as last read from the system.
enum class AuthorizationStatus { notDetermined = 0, denied = 1, authorized = 2, provisional = 3, ephemeral = 4 };

// A setting the user can switch, such as critical alerts.
enum class NotificationSetting { notSupported = 0, disabled = 1, enabled = 2 };

// What a permission request asks for.
struct AuthorizationOptions {
    bool badge = false;
    bool sound = false;
    bool alert = false;

    friend bool operator==(const AuthorizationOptions&, const AuthorizationOptions&) = default;
};

struct NotificationSettings {
    AuthorizationStatus authorizationStatus = AuthorizationStatus::notDetermined;
    NotificationSetting criticalAlertSetting = NotificationSetting::notSupported;

    friend bool operator==(const NotificationSettings&, const NotificationSettings&) = default;
};

// A button on a notification.
struct NotificationAction {
    std::string identifier;
    std::string title;

    friend bool operator==(const NotificationAction&, const NotificationAction&) = default;
};

// The buttons every notification of the category carries.
struct NotificationCategory {
    std::string identifier;
    std::vector<NotificationAction> actions;

    friend bool operator==(const NotificationCategory&, const NotificationCategory&) = default;
};

// One notification to show. A later request with the same identifier replaces it.
struct NotificationRequest {
    std::string identifier;
    std::string title;
    std::string body;  // plain text
    std::string categoryIdentifier;
    json::Object userInfo;  // the payload handed back with a response

    friend bool operator==(const NotificationRequest&, const NotificationRequest&) = default;
};

// The user clicked a notification (the default action) or one of its buttons.
struct NotificationResponse {
    std::string actionIdentifier;
    NotificationRequest request;

    friend bool operator==(const NotificationResponse&, const NotificationResponse&) = default;
};

class PushNotificationCenter : public QObject {
    Q_OBJECT

public:
    // The action of a click on the notification itself.
    static constexpr std::string_view defaultActionIdentifier = "default";

    using QObject::QObject;

    // Asks for permission; the granted flag. May throw the service's failure.
    virtual QCoro::Task<bool> requestAuthorization(AuthorizationOptions options) = 0;
    // Never throws.
    virtual QCoro::Task<NotificationSettings> settings() = 0;
    // Whether a denial only ever means that no notification service is there to show anything,
    // where the desktop has no permission of its own to withhold.
    virtual bool deniesOnlyWithoutService() const { return false; }
    // Withdraws every shown notification whose category is exactly this one.
    virtual QCoro::Task<> removeDelivered(std::string categoryIdentifier) = 0;
    // Replaces every category; notifications shown from now on carry the new buttons.
    virtual void setCategories(std::vector<NotificationCategory> categories) = 0;

    // Shows the notification now. Never throws: a service that does not answer shows nothing.
    virtual QCoro::Task<> add(NotificationRequest request) = 0;
    // What is shown now, oldest first.
    virtual std::vector<NotificationRequest> delivered() const = 0;
    // Withdraws the shown notifications with these identifiers.
    virtual QCoro::Task<> removeDeliveredNotifications(std::vector<std::string> identifiers) = 0;
    // At quit: withdraws the shown notifications with buttons, whose presses may reach no program
    // once this one is gone (a service may send them only to the program that showed them). Blocks
    // for at most `limit`, whatever the service does.
    virtual void withdrawButtonsAtQuit(std::chrono::milliseconds /*limit*/) {}

Q_SIGNALS:
    void responseReceived(const brisalune::NotificationResponse& response);
};

}  // namespace brisalune

#include <brisalune/push/push_state.hpp>

#include <brisalune/platform/text.hpp>

#include <cstdio>
#include <exception>
#include <optional>

namespace brisalune {

QCoro::Task<NotificationSettings> PushState::refreshSettings() {
    const std::shared_ptr<PushNotificationCenter> center = notificationCenter_;
    const NotificationSettings settings = co_await center->settings();
    assign(authorization_, settings.authorizationStatus, &PushState::authorizationChanged);
    assign(criticalAlerts_, settings.criticalAlertSetting, &PushState::criticalAlertsChanged);
    hasReadNotificationSettings_ = true;
    co_return settings;
}

QCoro::Task<> PushState::refreshNotificationSettings() {
    const NotificationSettings settings = co_await refreshSettings();
    // Only a full authorization asks for a token; provisional and ephemeral do not.
    if (settings.authorizationStatus == AuthorizationStatus::authorized) host_->registerForRemoteNotifications();
    co_await attemptRegistration(RegistrationTrigger::settingsRefresh);
}

QCoro::Task<bool> PushState::tryRequestAuthorization() {
    const std::shared_ptr<PushNotificationCenter> center = notificationCenter_;
    try {
        co_await center->requestAuthorization(requestedAuthorization);  // only success or failure counts
    } catch (const std::exception&) {
        co_return false;  // shown only as requestFailed after the second try
    }
    co_return true;
}

QCoro::Task<> PushState::requestPermission() {
    if (isRequestingAuthorization_) co_return;
    assign(isRequestingAuthorization_, true, &PushState::isRequestingAuthorizationChanged);
    assign(requestFailed_, false, &PushState::requestFailedChanged);

    if (!co_await tryRequestAuthorization() && !co_await tryRequestAuthorization()) {
        assign(requestFailed_, true, &PushState::requestFailedChanged);
        assign(isRequestingAuthorization_, false, &PushState::isRequestingAuthorizationChanged);
        co_return;
    }
    std::optional<NotificationSettings> settings;
    try {
        settings = co_await refreshSettings();
    } catch (const std::exception&) {
        assign(requestFailed_, true, &PushState::requestFailedChanged);
    }
    if (settings && settings->authorizationStatus == AuthorizationStatus::authorized)
        host_->registerForRemoteNotifications();
    if (settings) co_await attemptRegistration(RegistrationTrigger::settingsRefresh);
    assign(isRequestingAuthorization_, false, &PushState::isRequestingAuthorizationChanged);
}

std::vector<std::string> PushState::tokenHex(const QByteArray& token) {
    std::vector<std::string> out;
    out.reserve(static_cast<std::size_t>(token.size()));
    for (const char byte : token) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(byte));
        out.emplace_back(digits, 2);
    }
    return out;
}

bool PushState::didReceiveDeviceToken(const QByteArray& token) {
    std::string text;
    for (const std::string& pair : tokenHex(token)) text += pair;
    const bool changed = deviceTokenHex_ != text;
    assign(deviceTokenHex_, text, &PushState::deviceTokenHexChanged);
    setRegistrationError(std::nullopt);
    if (defaults_) {
        try {
            defaults_->set(deviceTokenKey, text);
        } catch (const std::exception&) {
            // stores over the defaults report no errors; the token is still held for this run
        }
    }
    return changed;
}

std::string DeviceEnrolmentNotice::refusalText() const {
    static constexpr std::string_view notRegistered = "This phone isn't registered for push notifications.";
    const Refused* refused = get<Refused>();
    if (!refused) return std::string(notRegistered);
    if (refused->reason == "device limit reached")
        return "This phone isn't registered for push notifications: your account has reached its 20-device limit.";
    bool blank = true;
    const bool valid = platform::forEachCodePoint(refused->reason, [&](const platform::CodePoint& point) {
        blank = blank && platform::isWhitespaceOrNewline(point.value);
    });
    if (valid && blank) return std::string(notRegistered);
    return std::string(notRegistered) + " " + refused->reason;
}

}  // namespace brisalune

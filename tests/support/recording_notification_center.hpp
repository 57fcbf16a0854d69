#pragma once

// A notification centre that records what it is asked and answers as told. Its coroutines
// resume through the event loop, as the desktop's do.

#include <brisalune/push/notification_center.hpp>

#include <QCoroTimer>

#include <algorithm>
#include <chrono>
#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

namespace brisalune::testkit {

class RecordingNotificationCenter final : public PushNotificationCenter {
public:
    // Answers.
    NotificationSettings currentSettings;
    std::deque<bool> requestFails;  // one entry per coming request: true throws
    std::deque<bool> settingsFail;  // the same for reads of the settings

    // Calls, in order.
    std::vector<AuthorizationOptions> authorizationRequests;
    int settingsReads = 0;
    std::vector<std::string> removedCategories;
    std::vector<std::vector<NotificationCategory>> categorySets;
    std::vector<NotificationRequest> shown;

    QCoro::Task<bool> requestAuthorization(AuthorizationOptions options) override {
        authorizationRequests.push_back(options);
        const bool fails = !requestFails.empty() && requestFails.front();
        if (!requestFails.empty()) requestFails.pop_front();
        co_await QCoro::sleepFor(std::chrono::milliseconds(0));
        if (fails) throw std::runtime_error("the request failed");
        co_return true;
    }

    QCoro::Task<NotificationSettings> settings() override {
        ++settingsReads;
        const bool fails = !settingsFail.empty() && settingsFail.front();
        if (!settingsFail.empty()) settingsFail.pop_front();
        co_await QCoro::sleepFor(std::chrono::milliseconds(0));
        if (fails) throw std::runtime_error("the desktop did not answer");
        co_return NotificationSettings(currentSettings);
    }

    QCoro::Task<> removeDelivered(std::string categoryIdentifier) override {
        removedCategories.push_back(categoryIdentifier);
        std::erase_if(shown, [&](const NotificationRequest& r) { return r.categoryIdentifier == categoryIdentifier; });
        co_return;
    }

    void setCategories(std::vector<NotificationCategory> categories) override {
        categorySets.push_back(std::move(categories));
    }

    QCoro::Task<> add(NotificationRequest request) override {
        std::erase_if(shown, [&](const NotificationRequest& r) { return r.identifier == request.identifier; });
        shown.push_back(std::move(request));
        co_return;
    }

    std::vector<NotificationRequest> delivered() const override { return shown; }

    QCoro::Task<> removeDeliveredNotifications(std::vector<std::string> identifiers) override {
        std::erase_if(shown, [&](const NotificationRequest& r) {
            return std::ranges::find(identifiers, r.identifier) != identifiers.end();
        });
        co_return;
    }

    // The user chose an action of a shown notification.
    void respond(const NotificationRequest& request, std::string actionIdentifier) {
        Q_EMIT responseReceived(NotificationResponse{std::move(actionIdentifier), request});
    }
};

}  // namespace brisalune::testkit

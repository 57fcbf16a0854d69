#pragma once

// The application's delegate around the model fixture's push state, stores and servers, with the
// desktop's browser and message boxes recorded instead of shown.

#include <brisalune/app/shell/app_delegate.hpp>

#include <app/model/model_fixture.hpp>

#include <QString>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace brisalune::testkit {

class DelegateTest : public ModelTest {
protected:
    std::vector<std::string> opened;
    std::vector<std::pair<QString, QString>> notices;

    MacAppDelegate::Setup setup() {
        return {
            .pushState = pushState,
            .defaults = defaults,
            .sessionStore = keychain,
            .clientFactory = factory(),
            .addresses = addresses(),
            .manifestURL = {},
            .versionCode = 41,
            .openURL = [this](const platform::Url& url) { opened.push_back(url.text()); },
            .showNotice = [this](const QString& title, const QString& text) { notices.emplace_back(title, text); }};
    }

    std::unique_ptr<MacAppDelegate> delegate = std::make_unique<MacAppDelegate>(setup());

    // A response to a notification of an alert, as the notification service hands it over.
    static NotificationResponse response(std::string action, const std::string& alertId, const std::string& tenantId) {
        return {
            .actionIdentifier = std::move(action),
            .request = {
                .identifier = "alert." + alertId,
                .title = "Disk full",
                .body = "db-1",
                .categoryIdentifier = std::string(PushState::alertCategoryIdentifier),
                .userInfo = {{"alert_id", alertId}, {"tenant_id", tenantId}}}};
    }

    void respond(std::string action, const std::string& alertId, const std::string& tenantId) {
        const NotificationResponse chosen = response(std::move(action), alertId, tenantId);
        run(delegate->handleNotificationResponse(chosen));
    }
};

}  // namespace brisalune::testkit

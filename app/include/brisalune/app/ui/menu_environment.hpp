#pragma once

// What the menu window's views stand on besides the app's own windows (which they find through
// WindowPresenter::of): the app model, the update checker, the compatibility model, and the
// desktop's services. Each desktop service has the application's own default; tests put theirs.

#include <brisalune/app/model/mac_model.hpp>
#include <brisalune/app/shell/launch_at_login.hpp>
#include <brisalune/app/shell/site_updates.hpp>
#include <brisalune/client/core/compatibility_model.hpp>
#include <brisalune/platform/url.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace brisalune {

struct MenuEnvironment {
    MacModel& model;
    SiteUpdates& updates;
    ClientCompatibilityModel& compatibility = ClientCompatibilityModel::shared();

    // Hands an address to the desktop's browser.
    std::function<void(const platform::Url&)> openURL = openInBrowser;
    // Opens the desktop's notification settings; false when this desktop has none to open.
    std::function<bool()> openNotificationSettings = openDesktopNotificationSettings;
    // Whether there are notification settings to open: a button offers them only then.
    std::function<bool()> hasNotificationSettings = desktopHasNotificationSettings;
    // The application section's switch, made once per section when it is first shown.
    std::function<std::unique_ptr<LaunchAtLogin>()> makeLaunchAtLogin = [] {
        return std::make_unique<LaunchAtLogin>();
    };
    std::function<void()> quit = quitApplication;
    std::string versionName = SiteUpdates::runningVersionName();
    std::int64_t versionCode = SiteUpdates::runningVersionCode();

    // The hosted service's public web domain ("brisalune.app"), named in the sign-in footer and
    // the failed update check.
    static std::string publicWebDomain();
    // Where "Update" leads when no usable download is on offer: the app's page on the web site.
    static platform::Url updateFallbackURL();

    static void openInBrowser(const platform::Url& url);
    // The running desktop's (XDG_CURRENT_DESKTOP) notification settings program, when it is
    // one this app knows and the program is on PATH.
    static bool openDesktopNotificationSettings();
    static bool desktopHasNotificationSettings();
    static void quitApplication();
};

}  // namespace brisalune

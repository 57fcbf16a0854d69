// The menu while the keyring keeps the launch waiting: its loading state, and a live event loop.

#include <brisalune/app/ui/menu_content_view.hpp>

#include <app/ui/ui_fixture.hpp>
#include <support/stopped_keyring.hpp>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace brisalune {
namespace {

class KeychainWaitTest : public testkit::UiTest {
protected:
    // The desktop's Secret Service of this test's D-Bus session, an item of the test's own.
    std::shared_ptr<KeychainSessionStore> store =
        std::make_shared<KeychainSessionStore>("app.brisalune.tests.menu-" + dir.path().filename().string());
    MacModel keychainModel{pushState, defaults, store, clientFactory(), addresses()};
    std::unique_ptr<MenuContentView> view = std::make_unique<MenuContentView>(MenuEnvironment{
        .model = keychainModel,
        .updates = updates,
        .compatibility = compatibilityModel,
        .openURL = [](const platform::Url&) {},
        .openNotificationSettings = [] { return true; },
        .makeLaunchAtLogin =
            [this] { return std::make_unique<LaunchAtLogin>(dir / "autostart/brisalune.desktop", "/bin/true"); },
        .quit = [] {},
        .versionName = "0.1.0",
        .versionCode = 1});

    ~KeychainWaitTest() override { store->clear(); }
};

TEST_F(KeychainWaitTest, TheMenuShowsItsLoadingStateWhileTheKeyringDoesNotAnswer) {
    testkit::Ticker ticker;
    auto stopped = std::make_optional<testkit::StoppedKeyring>();
    QCoro::Task<> launch = keychainModel.ensureLaunched();
    ASSERT_TRUE(ticker.runFor(3));
    EXPECT_FALSE(keychainModel.hasLaunched());
    EXPECT_TRUE(shows(view.get(), "menu.loading"));
    EXPECT_FALSE(shows(view.get(), "menu.signedOut"));

    stopped.reset();
    await(std::move(launch));
    EXPECT_FALSE(shows(view.get(), "menu.loading"));
    EXPECT_TRUE(shows(view.get(), "menu.signedOut"));
}

}  // namespace
}  // namespace brisalune

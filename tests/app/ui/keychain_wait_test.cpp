// The menu while the keyring keeps the launch waiting: its loading state, and a live event loop.

#include <brisalune/app/ui/menu_content_view.hpp>

#include <app/ui/ui_fixture.hpp>
#include <support/stopped_keyring.hpp>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace brisalune {
namespace {

using KeychainWaitTest = testkit::KeychainMenuTest;

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

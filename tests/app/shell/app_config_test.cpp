#include <brisalune/app/shell/app_config.hpp>

#include <gtest/gtest.h>

#include <array>
#include <thread>
#include <vector>

namespace brisalune {
namespace {

bool secureOrDemo(const platform::Url& url) {
    const auto scheme = url.scheme();
    return scheme == "https" || (MacAppConfig::allowsLoopbackHttp() && scheme == "http");
}

TEST(MacAppConfigTest, EachAddressIsParsedOnceAndKeptForEveryThread) {
    std::array<const platform::Url*, 8> seen{};
    std::vector<std::thread> threads;
    for (auto& slot : seen) threads.emplace_back([&slot] { slot = &MacAppConfig::updateManifestURL(); });
    for (auto& thread : threads) thread.join();
    for (const auto* url : seen) EXPECT_EQ(url, &MacAppConfig::updateManifestURL());

    EXPECT_EQ(&MacAppConfig::hostedAPIBase(), &MacAppConfig::hostedAPIBase());
    for (const auto* url :
         {&MacAppConfig::hostedAPIBase(),
          &MacAppConfig::hostedWebOrigin(),
          &MacAppConfig::updateManifestURL(),
          &MacAppConfig::appPageURL()}) {
        EXPECT_TRUE(url->isAbsolute() && secureOrDemo(*url)) << url->text();
    }
    EXPECT_TRUE(MacAppConfig::updateManifestURL().path().ends_with(".json"));
}

TEST(MacAppConfigDeathTest, AnAddressThatDoesNotParseStopsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EQ(MacAppConfig::parse("https://api.brisalune.example/").host(), "api.brisalune.example");
    EXPECT_DEATH(MacAppConfig::parse("https://api brisalune"), "static server URL must parse: https://api brisalune");
    EXPECT_DEATH(MacAppConfig::parse("/v1/relative"), "static server URL must parse: /v1/relative");
    EXPECT_DEATH(MacAppConfig::parse(""), "static server URL must parse: ");
}

}  // namespace
}  // namespace brisalune

#include <brisalune/app/shell/app_config.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

TEST(MacAppConfigTest, TheBuiltInAddressesAreAbsoluteAndSecure) {
    for (const auto* url :
         {&MacAppConfig::hostedAPIBase(),
          &MacAppConfig::hostedWebOrigin(),
          &MacAppConfig::updateManifestURL(),
          &MacAppConfig::appPageURL()}) {
        const bool secure = url->scheme() == "https" || (MacAppConfig::allowsLoopbackHttp() && url->scheme() == "http");
        EXPECT_TRUE(url->isAbsolute() && secure) << url->text();
    }
    EXPECT_EQ(&MacAppConfig::hostedAPIBase(), &MacAppConfig::hostedAPIBase());  // parsed once
}

TEST(MacAppConfigDeathTest, AnAddressThatDoesNotParseStopsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EQ(MacAppConfig::parse("https://api.brisalune.example/").host(), "api.brisalune.example");
    EXPECT_DEATH(MacAppConfig::parse("https://api brisalune"), "static server URL must parse: https://api brisalune");
    EXPECT_DEATH(MacAppConfig::parse("/v1/relative"), "static server URL must parse: /v1/relative");
}

}  // namespace
}  // namespace brisalune

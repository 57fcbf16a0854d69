#include <brisalune/client/boxes/box_address.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

platform::Url url(const char* text) { return platform::Url::parse(text).value(); }

TEST(BoxAddressTest, OnlyPlainHttpOffThisMachineTravelsInClear) {
    for (const char* clear :
         {"http://192.168.1.20:8080/",
          "http://box.lan",
          "http://127.example",
          "http://127.0.0.1.nip.io",
          "http://1127.0.0.1",
          "http://[::2]",
          "http://localhost.evil.example",
          "HTTP://box.lan",
          "http://localhost."}) {
        EXPECT_TRUE(sendsInClear(url(clear))) << clear;
        const auto warning = clearTextWarning(url(clear));
        ASSERT_TRUE(warning) << clear;
        EXPECT_NE(warning->find("unencrypted to " + url(clear).host().value() + "."), std::string::npos) << *warning;
    }
    for (const char* safe :
         {"https://box.lan",
          "http://localhost:3000",
          "http://LocalHost",
          "http://127.0.0.1",
          "http://127.8.9.254:1/",
          "http://[::1]:9"}) {
        EXPECT_FALSE(sendsInClear(url(safe))) << safe;
        EXPECT_EQ(clearTextWarning(url(safe)), std::nullopt) << safe;
    }
}

TEST(BoxAddressTest, LoopbackNamesNoOtherHost) {
    for (const char* host : {"127.0.0.256", "127.0.0", "127..0.1", "127.0.0.1.", "x127.0.0.1", "127.0.0.01a", "::1"})
        EXPECT_FALSE(isLoopbackHost(host)) << host;
    EXPECT_TRUE(isLoopbackHost("127.000.0.1"));
}

}  // namespace
}  // namespace brisalune

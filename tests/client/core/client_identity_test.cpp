#include <brisalune/client/core/client_identity.hpp>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

using brisalune::ClientIdentity;
using brisalune::systemText;

TEST(ClientIdentity, SystemTextAlwaysWritesThreeNumbers) {
    const std::pair<const char*, const char*> releases[] = {
        {"6.1.0-18-amd64", "Linux 6.1.0"},
        {"6", "Linux 6.0.0"},
        {"5.10-rc1", "Linux 5.10.0"},
        {"6.1.2.3", "Linux 6.1.2"},
        {"06.010.0", "Linux 6.10.0"},
        {"generic", "Linux 0.0.0"},
        {"", "Linux 0.0.0"},
        {"99999999999999999999999.2", "Linux 0.2.0"}};
    for (const auto& [release, text] : releases) EXPECT_EQ(systemText("Linux", release), text) << release;
}

TEST(ClientIdentity, MakeFallsBackOnMissingVersionAndBuildAndCopiesPartsAsTheyStand) {
    EXPECT_EQ(
        ClientIdentity::make("1.4.2", "87", "Linux", "6.1.0").userAgent(), "Brisalune-macOS/1.4.2 (87; Linux 6.1.0)");
    EXPECT_EQ(ClientIdentity::make("", "87", "Linux", "6.1").version, "0.0.0-unknown");
    EXPECT_EQ(ClientIdentity::make("1.0.0", std::nullopt, "Linux", "6.1").comment, "Linux 6.1.0");
    EXPECT_EQ(ClientIdentity::make("1.0.0", "", "Linux", "6.1").comment, "Linux 6.1.0");
    EXPECT_EQ((ClientIdentity{"a/b(c)", "", " x) (y "}).userAgent(), "a/b(c)/ ( x) (y )");
}

TEST(ClientIdentity, CurrentIsBuiltOnceForConcurrentFirstReaders) {
    std::vector<const ClientIdentity*> seen(8);
    {
        std::vector<std::jthread> threads;
        for (auto& slot : seen) threads.emplace_back([&slot] { slot = &ClientIdentity::current(); });
    }
    for (const auto* identity : seen) EXPECT_EQ(identity, seen.front());
    EXPECT_FALSE(seen.front()->version.empty());
    EXPECT_NE(seen.front()->comment.find("; Linux "), std::string::npos) << seen.front()->comment;
}

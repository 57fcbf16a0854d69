#include <brisalune/client/client_identity.hpp>

#include <gtest/gtest.h>

#include <latch>
#include <thread>
#include <vector>

using brisalune::ClientIdentity;
using brisalune::systemText;

TEST(ClientIdentity, UserAgentCopiesEveryPartAsItStands) {
    EXPECT_EQ((ClientIdentity{"Brisalune-macOS", "1.4.2", "87; Linux 6.1.0"}).userAgent(),
              "Brisalune-macOS/1.4.2 (87; Linux 6.1.0)");
    EXPECT_EQ((ClientIdentity{"a/b(c)", "", " x) (y "}).userAgent(), "a/b(c)/ ( x) (y )");
}

TEST(ClientIdentity, EqualityNeedsAllThreeFields) {
    const ClientIdentity base{"p", "1.0.0", "c"};
    EXPECT_EQ(base, (ClientIdentity{"p", "1.0.0", "c"}));
    EXPECT_NE(base, (ClientIdentity{"p", "1.0.0", "c2"}));
    EXPECT_NE(base, (ClientIdentity{"p", "1.0.1", "c"}));
    EXPECT_NE(base, (ClientIdentity{"P", "1.0.0", "c"}));
}

TEST(ClientIdentity, SystemTextAlwaysWritesThreeNumbers) {
    EXPECT_EQ(systemText("Linux", "6.1.0-18-amd64"), "Linux 6.1.0");
    EXPECT_EQ(systemText("Linux", "5.10"), "Linux 5.10.0");
    EXPECT_EQ(systemText("Linux", "6.0"), "Linux 6.0.0");
    EXPECT_EQ(systemText("Linux", "6"), "Linux 6.0.0");
    EXPECT_EQ(systemText("Linux", "5.10-rc1"), "Linux 5.10.0");
    EXPECT_EQ(systemText("Linux", "6.1.2.3"), "Linux 6.1.2");
    EXPECT_EQ(systemText("Linux", "06.010.0"), "Linux 6.10.0");
    EXPECT_EQ(systemText("Linux", ""), "Linux 0.0.0");
    EXPECT_EQ(systemText("Linux", "generic"), "Linux 0.0.0");
    EXPECT_EQ(systemText("Linux", "99999999999999999999999.2"), "Linux 0.2.0");
}

TEST(ClientIdentity, MakeFallsBackOnMissingVersionAndBuild) {
    const auto full = ClientIdentity::make("1.4.2", "87", "Linux", "6.1.0");
    EXPECT_EQ(full, (ClientIdentity{"Brisalune-macOS", "1.4.2", "87; Linux 6.1.0"}));
    EXPECT_EQ(full.userAgent(), "Brisalune-macOS/1.4.2 (87; Linux 6.1.0)");

    EXPECT_EQ(ClientIdentity::make("", "87", "Linux", "6.1").version, "0.0.0-unknown");
    EXPECT_EQ(ClientIdentity::make("1.0.0", std::nullopt, "Linux", "6.1").comment, "Linux 6.1.0");
    EXPECT_EQ(ClientIdentity::make("1.0.0", "", "Linux", "6.1").comment, "Linux 6.1.0");
}

TEST(ClientIdentity, CurrentIsBuiltOnceForConcurrentFirstReaders) {
    constexpr int readers = 8;
    std::vector<const ClientIdentity*> seen(readers);
    std::latch start(readers);
    {
        std::vector<std::jthread> threads;
        for (int i = 0; i < readers; ++i) {
            threads.emplace_back([&, i] {
                start.arrive_and_wait();
                seen[static_cast<std::size_t>(i)] = &ClientIdentity::current();
            });
        }
    }
    for (const auto* identity : seen) EXPECT_EQ(identity, seen.front());

    const auto& current = ClientIdentity::current();
    EXPECT_EQ(current.product, "Brisalune-macOS");
    EXPECT_FALSE(current.version.empty());
    EXPECT_TRUE(current.comment.find("; Linux ") != std::string::npos) << current.comment;
}

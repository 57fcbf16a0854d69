#include <brisalune/client/core/client.hpp>
#include <brisalune/standin/server.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace brisalune {
namespace {

using standin::Reply;

class ClientRoadConcurrency : public testkit::EndpointTest {};

// Both credentials change all the time; every request carries one whole value of its own plane,
// read once, and the compatibility record takes every answer.
TEST_F(ClientRoadConcurrency, AThousandRequestsFromManyThreadsWhileTheCredentialsChange) {
    constexpr int senders = 20;
    constexpr int each = 50;
    Reply answer = Reply::json("{}");
    answer.headers.emplace_back("X-Brisalune-Version", "2.0.0");
    server.on("GET", "/v1/session", answer);
    server.on("GET", "/v1/data", answer);
    auto road = client("token-0", "key-0");

    std::atomic<bool> done = false;
    std::jthread flipper([&] {
        for (int i = 1; !done; ++i) {
            road.setSessionToken("token-" + std::to_string(i % 2));
            road.setDataKey("key-" + std::to_string(i % 2));
        }
    });
    std::atomic<int> succeeded = 0;
    std::latch start(senders);
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < senders; ++t) {
            threads.emplace_back([&, t] {
                start.arrive_and_wait();
                for (int i = 0; i < each; ++i) {
                    const bool data = (t + i) % 2 == 0;
                    const Call call{
                        .method = "GET",
                        .path = data ? "/v1/data" : "/v1/session",
                        .plane = data ? AuthPlane::data : AuthPlane::session};
                    try {
                        if (road.send(call).status == 200) ++succeeded;
                    } catch (const BrisaluneError& error) {
                        ADD_FAILURE() << error.errorDescription();
                    }
                }
            });
        }
    }
    done = true;

    EXPECT_EQ(succeeded, senders * each);
    const auto seen = server.requests();
    ASSERT_EQ(seen.size(), std::size_t{senders * each});
    const std::map<std::string, std::set<std::string>> allowed{
        {"/v1/session", {"Bearer token-0", "Bearer token-1"}}, {"/v1/data", {"Bearer key-0", "Bearer key-1"}}};
    for (const auto& request : seen) {
        const auto header = request.header("Authorization").value_or("(none)");
        EXPECT_TRUE(allowed.at(request.path).contains(header)) << request.path << ": " << header;
    }
    EXPECT_EQ(compatibility.current().serverVersion, "2.0.0");
}

}  // namespace
}  // namespace brisalune

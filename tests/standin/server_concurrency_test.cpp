#include <brisalune/platform/http.hpp>
#include <brisalune/standin/server.hpp>

#include <support/standin_fixture.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <string>
#include <thread>
#include <vector>

namespace brisalune {
namespace {

using standin::Reply;

class StandinServerConcurrency : public testkit::StandinTest {};

// Routes are added and replaced while many connections are served: each request gets the route
// as it stood when it arrived (its own number, or not found before that), whole.
TEST_F(StandinServerConcurrency, RoutesChangeWhileManyConnectionsAreServed) {
    constexpr int senders = 8;
    constexpr int each = 40;
    constexpr int paths = 16;
    std::atomic<bool> done = false;
    std::jthread router([&] {
        for (int i = 0; !done; ++i) {
            server.on("GET", "/r" + std::to_string(i % paths), Reply::json(std::to_string(i % paths)));
        }
    });
    const auto transport = http::curlTransport();
    std::latch start(senders);
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < senders; ++t) {
            threads.emplace_back([&, t] {
                start.arrive_and_wait();
                for (int i = 0; i < each; ++i) {
                    const std::string path = std::to_string((t + i) % paths);
                    http::Request request;
                    request.url = server.baseUrl() + "/r" + path;
                    const auto answer = transport->perform(request);
                    if (answer.status == 200) {
                        EXPECT_EQ(answer.body, path);
                    } else {
                        EXPECT_EQ(answer.status, 404) << answer.body;
                    }
                }
            });
        }
    }
    done = true;
    EXPECT_EQ(server.requests().size(), std::size_t{senders * each});
}

}  // namespace
}  // namespace brisalune

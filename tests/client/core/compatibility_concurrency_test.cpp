#include <brisalune/client/core/compatibility_model.hpp>
#include <brisalune/client/core/server_compatibility.hpp>

#include <support/temp_dir.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace brisalune {
namespace {

using http::Headers;

platform::Url url(const std::string& text) { return platform::Url::parse(text).value(); }

// Requests of many servers record at once, while the model follows the record and dismisses,
// its observer reads it back, and a subscriber takes states: all end at the record's newest.
TEST(CompatibilityConcurrency, TheRecordItsModelAndItsSubscribersEndAtTheNewestState) {
    testkit::TempDir folder;
    platform::Defaults defaults(folder / "defaults.json");
    ServerCompatibility record(ServerMinimums{.supported = {1, 5, 0}, .required = {1, 2, 0}});
    ClientCompatibilityModel model(record, defaults, [] { return std::chrono::system_clock::time_point{}; });
    std::atomic<int> heard = 0;
    const auto subscription = model.subscribe([&] {
        ++heard;
        model.surface();  // reading back inside the observer is allowed
    });

    const auto updates = record.updates();
    std::mutex takenMutex;
    std::optional<CompatibilityState> taken;
    std::jthread subscriber([&](std::stop_token stop) {
        while (auto state = updates->next(stop)) {
            std::lock_guard lock(takenMutex);
            taken = std::move(state);
        }
    });

    constexpr int writers = 6;
    std::latch start(writers);
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < writers; ++t) {
            threads.emplace_back([&, t, server = url("https://s" + std::to_string(t) + ".example")] {
                start.arrive_and_wait();
                for (int i = 0; i < 100; ++i) {
                    const std::string minimum = "1." + std::to_string(i % 9);
                    record.record(200, Headers{{"X-Brisalune-Client-Unsupported", minimum}}, "/v1/me", server);
                    record.record(
                        200, Headers{{"X-Brisalune-Version", "1." + std::to_string(i % 4)}}, "/healthz", server);
                    if (i % 50 == 0) record.recordClientOutdated({"macos", std::nullopt}, server);
                    if (i % 25 == t) model.dismissServerBanner(server);
                    if (i % 30 == 0) model.dismissNudge();
                }
            });
        }
    }
    subscriber.request_stop();
    subscriber.join();

    EXPECT_EQ(model.state(), record.current());
    EXPECT_GT(heard, 0);
    // The newest state is the one the subscriber took last, or still waits for it.
    const auto waiting = updates->tryNext();
    EXPECT_EQ(waiting ? waiting : taken, record.current());
}

}  // namespace
}  // namespace brisalune

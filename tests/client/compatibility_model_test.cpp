#include <brisalune/client/compatibility_model.hpp>

#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <latch>
#include <memory>
#include <thread>
#include <vector>

namespace brisalune {
namespace {

using namespace std::chrono_literals;
using http::Headers;
using platform::DefaultsValue;

platform::Url url(std::string_view text) { return platform::Url::parse(text).value(); }

class CompatibilityModel : public ::testing::Test {
protected:
    static constexpr auto minimumKey = ClientCompatibilityModel::dismissedMinimumKey;
    static constexpr auto bannersKey = ClientCompatibilityModel::serverBannersDismissedAtKey;

    std::unique_ptr<ClientCompatibilityModel> makeModel() {
        return std::make_unique<ClientCompatibilityModel>(source, defaults, [this] { return now; });
    }
    void announce(std::string minimum, const platform::Url& server = url("https://a.example")) {
        source.record(200, Headers{{"X-Brisalune-Client-Unsupported", std::move(minimum)}}, "/v1/me", server);
    }
    void serverVersion(const platform::Url& server, std::string version) {
        source.record(200, Headers{{"X-Brisalune-Version", std::move(version)}}, "/healthz", server);
    }

    testing::TempDir folder;
    platform::Defaults defaults{folder / "defaults.json"};
    ServerCompatibility source{ServerMinimums{.supported = {1, 5, 0}, .required = {1, 2, 0}}};
    std::chrono::system_clock::time_point now = std::chrono::sys_days{std::chrono::year{2024} / 5 / 1} + 9h;
};

TEST_F(CompatibilityModel, NudgeSnoozesJustUnderADayForTheSameMinimumAndARefusalOutranksIt) {
    const auto model = makeModel();
    announce("1.4.0");
    EXPECT_EQ(model->surface(), CompatibilitySurface::nudge("1.4.0"));
    const auto dismissedAt = now;
    model->dismissNudge();
    now = dismissedAt + 86'399s;
    EXPECT_EQ(model->surface(), CompatibilitySurface::none());
    now = dismissedAt - 1h;  // a clock set back keeps the snooze
    EXPECT_EQ(model->surface(), CompatibilitySurface::none());
    now = dismissedAt + 86'400s;
    EXPECT_EQ(model->surface(), CompatibilitySurface::nudge("1.4.0"));
    now = dismissedAt + 1s;
    announce("1.5.0");
    EXPECT_EQ(model->surface(), CompatibilitySurface::nudge("1.5.0"));
    model->dismissNudge();
    const ClientOutdated refusal{"macos", "2.0.0"};
    source.recordClientOutdated(refusal, url("https://a.example"));
    EXPECT_EQ(model->surface(), CompatibilitySurface::blocked(refusal));
    model->clearClientOutdated();
    EXPECT_EQ(model->surface(), CompatibilitySurface::none());
}

TEST_F(CompatibilityModel, DismissalsPersistAcrossLaunches) {
    announce("1.4.0");
    serverVersion(url("https://a.example"), "1.3.0");
    makeModel()->dismissNudge();
    makeModel()->dismissServerBanner(url("https://a.example/team"));
    now += 1h;
    const auto model = makeModel();
    EXPECT_EQ(model->surface(), CompatibilitySurface::none());
    EXPECT_EQ(model->serverSurface(url("https://a.example")), ServerSurface::none());
    // Dismissing with no minimum announced removes the stored one.
    source.record(200, {}, "/v1/me", url("https://a.example"));
    model->dismissNudge();
    EXPECT_EQ(defaults.value(minimumKey), std::nullopt);
}

TEST_F(CompatibilityModel, OneForeignBannerDateSpoilsTheStoredMap) {
    defaults.set(bannersKey, DefaultsValue::Map{{"https://a.example:", std::chrono::floor<std::chrono::seconds>(now)},
                                                {"https://b.example:", "yesterday"}});
    serverVersion(url("https://a.example"), "1.3.0");
    const auto model = makeModel();
    EXPECT_EQ(model->serverSurface(url("https://a.example")), ServerSurface::banner());

    model->dismissServerBanner(url("https://b.example"));  // writes a clean map
    const auto stored = defaults.value(bannersKey);
    ASSERT_TRUE(stored && stored->get<DefaultsValue::Map>());
    EXPECT_EQ(stored->get<DefaultsValue::Map>()->size(), 1u);
}

TEST_F(CompatibilityModel, ServerBannersAreKeyedPerServerAndSnoozedForADay) {
    const auto model = makeModel();
    EXPECT_EQ(model->serverSurface(std::nullopt), ServerSurface::none());
    for (const auto* server : {"https://a.example", "https://a.example:443", "https://a.example:8443"}) {
        serverVersion(url(server), "1.3.0");
    }
    model->dismissServerBanner(url("https://a.example:443/x"));
    EXPECT_EQ(model->serverSurface(url("https://a.example:443")), ServerSurface::none());
    EXPECT_EQ(model->serverSurface(url("https://a.example")), ServerSurface::banner());
    EXPECT_EQ(model->serverSurface(url("https://a.example:8443")), ServerSurface::banner());
    now += 86'400s;
    EXPECT_EQ(model->serverSurface(url("https://a.example:443")), ServerSurface::banner());
    // A dismissal does not hide a refusing server.
    model->dismissServerBanner(url("https://a.example:8443"));
    serverVersion(url("https://a.example:8443"), "1.1.0");
    EXPECT_EQ(model->serverSurface(url("https://a.example:8443")), ServerSurface::blocked("1.1.0"));
}

TEST_F(CompatibilityModel, ObserversHearRealChangesOnlyAndMayOutliveTheModel) {
    auto model = makeModel();
    int calls = 0;
    CompatibilitySurface seen;
    auto subscription = model->subscribe([&] {
        ++calls;
        seen = model->surface();  // reading back inside the callback is allowed
    });
    announce("1.4.0");
    announce("1.4.0");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seen, CompatibilitySurface::nudge("1.4.0"));
    model->dismissNudge();
    model->dismissNudge();  // same minimum, same instant
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(seen, CompatibilitySurface::none());
    model.reset();
    announce("1.6.0");
    subscription = {};
    EXPECT_EQ(calls, 2);
}

TEST_F(CompatibilityModel, FollowsConcurrentRecordingsToTheNewestState) {
    const auto model = makeModel();
    constexpr int threads = 6;
    std::latch start(threads);
    {
        std::vector<std::jthread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&, t] {
                const auto server = url("https://s" + std::to_string(t) + ".example");
                start.arrive_and_wait();
                for (int i = 0; i < 100; ++i) {
                    announce("1." + std::to_string(i % 9), server);
                    source.record(200, Headers{{"X-Brisalune-Version", "1." + std::to_string(i % 4)}}, "/v1", server);
                    if (i % 50 == 0) source.recordClientOutdated({"macos", std::nullopt}, server);
                }
            });
        }
    }
    EXPECT_EQ(model->state(), source.current());
    EXPECT_EQ(model->state().outdated, std::nullopt);  // each refusal was followed by a plain answer
}

}  // namespace
}  // namespace brisalune

#include <brisalune/client/compatibility_model.hpp>

#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <latch>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using brisalune::ClientCompatibilityModel;
using brisalune::ClientOutdated;
using brisalune::CompatibilitySurface;
using brisalune::ServerCompatibility;
using brisalune::ServerMinimums;
using brisalune::ServerSurface;
using brisalune::http::Headers;
using brisalune::platform::Defaults;
using brisalune::platform::DefaultsValue;
using brisalune::platform::Url;
using Time = std::chrono::system_clock::time_point;

Url url(std::string_view text) { return Url::parse(text).value(); }

class CompatibilityModel : public ::testing::Test {
protected:
    static constexpr auto minimumKey = ClientCompatibilityModel::dismissedMinimumKey;
    static constexpr auto nudgeKey = ClientCompatibilityModel::nudgeDismissedAtKey;
    static constexpr auto bannersKey = ClientCompatibilityModel::serverBannersDismissedAtKey;

    std::unique_ptr<ClientCompatibilityModel> makeModel() {
        return std::make_unique<ClientCompatibilityModel>(source, defaults, [this] { return now; });
    }

    void announce(std::optional<std::string> minimum, const Url& server = url("https://a.example")) {
        Headers headers;
        if (minimum) headers.set("X-Brisalune-Client-Unsupported", *minimum);
        source.record(200, headers, "/v1/me", server);
    }

    void serverVersion(const Url& server, std::string version) {
        source.record(200, Headers{{"X-Brisalune-Version", std::move(version)}}, "/healthz", server);
    }

    brisalune::testing::TempDir folder;
    Defaults defaults{folder / "defaults.json"};
    ServerCompatibility source{ServerMinimums{.supported = {1, 5, 0}, .required = {1, 2, 0}}};
    Time now = std::chrono::sys_days{std::chrono::year{2024} / 5 / 1} + 9h;
};

TEST_F(CompatibilityModel, RefusalOutranksEveryDismissalUntilCleared) {
    const auto model = makeModel();
    announce("1.4.0");
    model->dismissNudge();
    now += 1min;
    const ClientOutdated refusal{"macos", "2.0.0"};
    source.recordClientOutdated(refusal, url("https://a.example"));
    EXPECT_EQ(model->surface(), CompatibilitySurface::blocked(refusal));

    model->clearClientOutdated();
    EXPECT_EQ(model->state().outdated, std::nullopt);
    EXPECT_EQ(model->surface(), CompatibilitySurface::none());
}

TEST_F(CompatibilityModel, NudgeSnoozeLastsJustUnderADayForTheSameMinimum) {
    const auto model = makeModel();
    EXPECT_EQ(model->surface(), CompatibilitySurface::none());
    announce("1.4.0");
    EXPECT_EQ(model->surface(), CompatibilitySurface::nudge("1.4.0"));

    const auto dismissedAt = now;
    model->dismissNudge();
    EXPECT_EQ(model->dismissedMinimum(), "1.4.0");
    EXPECT_EQ(model->nudgeDismissedAt(), dismissedAt);
    now = dismissedAt + 86'399s;
    EXPECT_EQ(model->surface(), CompatibilitySurface::none());
    now = dismissedAt - 1h;  // a clock set back keeps the snooze
    EXPECT_EQ(model->surface(), CompatibilitySurface::none());
    now = dismissedAt + 86'400s;
    EXPECT_EQ(model->surface(), CompatibilitySurface::nudge("1.4.0"));

    now = dismissedAt + 1s;
    announce("1.5.0");
    EXPECT_EQ(model->surface(), CompatibilitySurface::nudge("1.5.0"));
}

TEST_F(CompatibilityModel, DismissalsPersistAcrossLaunches) {
    announce("1.4.0");
    serverVersion(url("https://a.example"), "1.3.0");
    {
        const auto model = makeModel();
        model->dismissNudge();
        model->dismissServerBanner(url("https://a.example/team"));
    }
    EXPECT_EQ(defaults.string(minimumKey), "1.4.0");
    EXPECT_EQ(defaults.date(nudgeKey), std::chrono::floor<std::chrono::seconds>(now));

    now += 1h;
    const auto model = makeModel();
    EXPECT_EQ(model->surface(), CompatibilitySurface::none());
    EXPECT_EQ(model->serverSurface(url("https://a.example")), ServerSurface::none());
    EXPECT_EQ(model->serverBannersDismissedAt().size(), 1u);
}

TEST_F(CompatibilityModel, DismissingWithoutAMinimumRemovesTheStoredOne) {
    defaults.set(minimumKey, "1.0.0");
    const auto model = makeModel();
    EXPECT_EQ(model->dismissedMinimum(), "1.0.0");
    model->dismissNudge();
    EXPECT_EQ(model->dismissedMinimum(), std::nullopt);
    EXPECT_EQ(defaults.value(minimumKey), std::nullopt);
    EXPECT_TRUE(defaults.date(nudgeKey));
}

TEST_F(CompatibilityModel, ForeignStoredValuesReadAsNoDismissal) {
    defaults.set(minimumKey, "1.4.0");
    defaults.set(nudgeKey, "2024-05-01T09:00:00Z");
    defaults.set(bannersKey, DefaultsValue::Map{{"https://a.example:", std::chrono::floor<std::chrono::seconds>(now)},
                                                {"https://b.example:", "yesterday"}});
    serverVersion(url("https://a.example"), "1.3.0");
    serverVersion(url("https://b.example"), "1.3.0");
    announce("1.4.0", url("https://c.example"));

    const auto model = makeModel();
    EXPECT_EQ(model->nudgeDismissedAt(), std::nullopt);
    EXPECT_EQ(model->surface(), CompatibilitySurface::nudge("1.4.0"));
    EXPECT_EQ(model->serverSurface(url("https://a.example")), ServerSurface::banner());
    EXPECT_EQ(model->serverSurface(url("https://b.example")), ServerSurface::banner());

    model->dismissServerBanner(url("https://b.example"));
    const auto stored = defaults.value(bannersKey);
    ASSERT_TRUE(stored && stored->get<DefaultsValue::Map>());
    EXPECT_EQ(stored->get<DefaultsValue::Map>()->size(), 1u);
    EXPECT_EQ(model->serverSurface(url("https://b.example")), ServerSurface::none());
}

TEST_F(CompatibilityModel, ServerBannersAreKeyedPerServerAndSnoozedForADay) {
    const auto model = makeModel();
    EXPECT_EQ(model->serverSurface(std::nullopt), ServerSurface::none());
    EXPECT_EQ(model->serverSurface(url("https://unknown.example")), ServerSurface::none());

    for (const auto* server : {"https://a.example", "https://a.example:443", "https://a.example:8443"}) {
        serverVersion(url(server), "1.3.0");
    }
    model->dismissServerBanner(url("https://a.example:443/x"));
    EXPECT_EQ(model->serverSurface(url("https://a.example:443")), ServerSurface::none());
    EXPECT_EQ(model->serverSurface(url("https://a.example")), ServerSurface::banner());
    EXPECT_EQ(model->serverSurface(url("https://a.example:8443")), ServerSurface::banner());

    now += 86'399s;
    EXPECT_EQ(model->serverSurface(url("https://a.example:443")), ServerSurface::none());
    now += 1s;
    EXPECT_EQ(model->serverSurface(url("https://a.example:443")), ServerSurface::banner());

    model->dismissServerBanner(url("https://a.example:8443"));
    serverVersion(url("https://a.example:8443"), "1.1.0");
    EXPECT_EQ(model->serverSurface(url("https://a.example:8443")), ServerSurface::blocked("1.1.0"));
}

TEST_F(CompatibilityModel, ObserversHearRealChangesOnly) {
    const auto model = makeModel();
    int calls = 0;
    CompatibilitySurface seen;
    auto subscription = model->subscribe([&] {
        ++calls;
        seen = model->surface();  // reading back inside the callback is allowed
    });

    announce("1.4.0");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seen, CompatibilitySurface::nudge("1.4.0"));
    announce("1.4.0");
    EXPECT_EQ(calls, 1);

    model->dismissNudge();
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(seen, CompatibilitySurface::none());
    model->dismissNudge();  // same minimum, same instant
    EXPECT_EQ(calls, 2);

    model->dismissServerBanner(url("https://a.example"));
    EXPECT_EQ(calls, 3);

    subscription = {};
    announce("1.6.0");
    EXPECT_EQ(calls, 3);
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
                }
            });
        }
    }
    EXPECT_EQ(model->state(), source.current());
}

TEST_F(CompatibilityModel, SourceOutlivesTheModel) {
    auto model = makeModel();
    int calls = 0;
    auto subscription = model->subscribe([&] { ++calls; });
    model.reset();
    announce("1.4.0");
    subscription = {};
    EXPECT_EQ(calls, 0);
}

}  // namespace

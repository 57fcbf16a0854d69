#include <brisalune/client/core/compatibility_model.hpp>

#include <support/file_size_limit.hpp>
#include <support/temp_dir.hpp>

#include <gtest/gtest.h>

#include <memory>

namespace brisalune {
namespace {

using namespace std::chrono_literals;
using http::Headers;
using platform::DefaultsValue;

platform::Url url(std::string_view text) { return platform::Url::parse(text).value(); }

class CompatibilityModel : public ::testing::Test {
protected:
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

    testkit::TempDir folder;
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
    for (const auto& [after, shown] : {std::pair{86'399s, false}, std::pair{-3600s, false}, std::pair{86'400s, true}}) {
        now = dismissedAt + after;  // a clock set back keeps the snooze
        EXPECT_EQ(model->surface(), shown ? CompatibilitySurface::nudge("1.4.0") : CompatibilitySurface::none());
    }
    now = dismissedAt + 1s;
    announce("1.5.0");
    EXPECT_EQ(model->surface(), CompatibilitySurface::nudge("1.5.0"));
    source.recordClientOutdated({"macos", "2.0.0"}, url("https://a.example"));
    EXPECT_EQ(model->surface(), CompatibilitySurface::blocked({"macos", "2.0.0"}));
}

TEST_F(CompatibilityModel, DismissalsPersistAcrossLaunches) {
    announce("1.4.0");
    serverVersion(url("https://a.example"), "1.3.0");
    makeModel()->dismissNudge();
    makeModel()->dismissServerBanner(url("https://a.example/team"));
    const auto model = makeModel();
    EXPECT_EQ(model->surface(), CompatibilitySurface::none());
    EXPECT_EQ(model->serverSurface(url("https://a.example")), ServerSurface::none());
    source.record(200, {}, "/v1/me", url("https://a.example"));
    EXPECT_TRUE(model->dismissNudge());  // with no minimum announced the stored one goes
    EXPECT_EQ(defaults.value(ClientCompatibilityModel::dismissedMinimumKey), std::nullopt);
}

TEST_F(CompatibilityModel, ADismissalTheFileCannotTakeHoldsUntilQuitAndSaysSo) {
    announce("1.4.0");
    serverVersion(url("https://a.example"), "1.3.0");
    const auto model = makeModel();
    {
        const testkit::FileSizeLimit full(0);
        EXPECT_FALSE(model->dismissNudge());
        EXPECT_FALSE(model->dismissServerBanner(url("https://a.example")));
    }
    EXPECT_EQ(model->surface(), CompatibilitySurface::none());
    EXPECT_EQ(model->serverSurface(url("https://a.example")), ServerSurface::none());
    const auto restarted = makeModel();
    EXPECT_EQ(restarted->surface(), CompatibilitySurface::nudge("1.4.0"));
    EXPECT_EQ(restarted->serverSurface(url("https://a.example")), ServerSurface::banner());
    EXPECT_TRUE(restarted->dismissNudge());
    EXPECT_TRUE(restarted->dismissServerBanner(url("https://a.example")));
}

TEST_F(CompatibilityModel, ServerBannersAreKeyedPerServerAndOneForeignStoredDateSpoilsThemAll) {
    const auto date = std::chrono::floor<std::chrono::seconds>(now);
    defaults.set(bannersKey, DefaultsValue::Map{{"https://a.example:", date}, {"https://b.example:", "yesterday"}});
    const auto model = makeModel();
    serverVersion(url("https://a.example"), "1.3.0");
    serverVersion(url("https://a.example:443"), "1.3.0");
    model->dismissServerBanner(url("https://a.example:443/x"));
    EXPECT_EQ(model->serverSurface(url("https://a.example:443")), ServerSurface::none());
    EXPECT_EQ(model->serverSurface(url("https://a.example")), ServerSurface::banner());
    EXPECT_EQ(defaults.value(bannersKey), DefaultsValue(DefaultsValue::Map{{"https://a.example:443", date}}));
    serverVersion(url("https://a.example:443"), "1.1.0");
    EXPECT_EQ(model->serverSurface(url("https://a.example:443")), ServerSurface::blocked("1.1.0"));  // though dismissed
    now += 86'400s;
    serverVersion(url("https://a.example:443"), "1.3.0");
    EXPECT_EQ(model->serverSurface(url("https://a.example:443")), ServerSurface::banner());
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

}  // namespace
}  // namespace brisalune

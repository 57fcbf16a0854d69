// Dismissals of the update nudge and the server banners when the wall clock jumps: a snooze
// never outlasts a day of the clock as it now stands.

#include <brisalune/client/core/compatibility_model.hpp>

#include <support/temp_dir.hpp>

#include <gtest/gtest.h>

#include <memory>

namespace brisalune {
namespace {

using namespace std::chrono_literals;
using http::Headers;
using platform::DefaultsValue;

platform::Url url(std::string_view text) { return platform::Url::parse(text).value(); }

class CompatibilityClock : public ::testing::Test {
protected:
    std::unique_ptr<ClientCompatibilityModel> makeModel() {
        return std::make_unique<ClientCompatibilityModel>(source, defaults, [this] { return now; });
    }
    void announceOldServer() {
        source.record(200, Headers{{"X-Brisalune-Client-Unsupported", "1.4.0"}}, "/v1/me", server);
        source.record(200, Headers{{"X-Brisalune-Version", "1.3.0"}}, "/healthz", server);
    }

    testkit::TempDir folder;
    platform::Defaults defaults{folder / "defaults.json"};
    ServerCompatibility source{ServerMinimums{.supported = {1, 5, 0}, .required = {1, 2, 0}}};
    platform::Url server = url("https://a.example");
    std::chrono::system_clock::time_point now = std::chrono::sys_days{std::chrono::year{2024} / 5 / 1} + 9h;
};

TEST_F(CompatibilityClock, DismissalsMadeWhileTheClockWasAheadEndOnceItIsSetRight) {
    const auto rightTime = now;
    for (const auto ahead : {1h, 23h, 24h * 400}) {
        now = rightTime + ahead;  // the clock runs ahead when the user dismisses
        announceOldServer();
        auto model = makeModel();
        model->dismissNudge();
        model->dismissServerBanner(server);
        ASSERT_EQ(model->surface(), CompatibilitySurface::none());
        ASSERT_EQ(model->serverSurface(server), ServerSurface::none());

        now = rightTime;  // set right: in memory and as stored, for this run and the next
        for (const auto& current : {std::move(model), makeModel()}) {
            EXPECT_EQ(current->surface(), CompatibilitySurface::nudge("1.4.0")) << ahead.count();
            EXPECT_EQ(current->serverSurface(server), ServerSurface::banner()) << ahead.count();
        }
    }
}

TEST_F(CompatibilityClock, ADismissalAfterTheClockWasSetBackSnoozesForADayFromThen) {
    announceOldServer();
    defaults.set(ClientCompatibilityModel::dismissedMinimumKey, "1.4.0");
    defaults.set(ClientCompatibilityModel::nudgeDismissedAtKey, std::chrono::floor<std::chrono::seconds>(now + 48h));
    const auto model = makeModel();
    ASSERT_EQ(model->surface(), CompatibilitySurface::nudge("1.4.0"));  // the record on disk still loads
    model->dismissNudge();
    model->dismissServerBanner(server);
    now += 86'399s;  // and a suspend of nearly a day
    EXPECT_EQ(model->surface(), CompatibilitySurface::none());
    EXPECT_EQ(model->serverSurface(server), ServerSurface::none());
    now += 1s;
    EXPECT_EQ(model->surface(), CompatibilitySurface::nudge("1.4.0"));
    EXPECT_EQ(model->serverSurface(server), ServerSurface::banner());
}

}  // namespace
}  // namespace brisalune

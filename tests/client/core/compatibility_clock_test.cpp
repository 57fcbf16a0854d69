// Dismissals of the update nudge and the server banners when the wall clock jumps: a snooze
// never outlasts two days of the clock as it now stands.

#include <brisalune/client/core/compatibility_model.hpp>

#include <support/temp_dir.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

using namespace std::chrono_literals;
using http::Headers;

TEST(CompatibilityClock, DismissalsDatedFarAheadOfTheClockAreOverAndNewOnesLastADayFromNow) {
    testkit::TempDir folder;
    platform::Defaults defaults{folder / "defaults.json"};
    ServerCompatibility source{ServerMinimums{.supported = {1, 5, 0}, .required = {1, 2, 0}}};
    const platform::Url server = platform::Url::parse("https://a.example").value();
    source.record(200, Headers{{"X-Brisalune-Client-Unsupported", "1.4.0"}}, "/v1/me", server);
    source.record(200, Headers{{"X-Brisalune-Version", "1.3.0"}}, "/healthz", server);
    std::chrono::system_clock::time_point now = std::chrono::sys_days{std::chrono::year{2024} / 5 / 1} + 9h;
    ClientCompatibilityModel running(source, defaults, [&] { return now; });
    const auto snoozed = [&](const ClientCompatibilityModel& model) {
        return model.surface() == CompatibilitySurface::none() && model.serverSurface(server) == ServerSurface::none();
    };
    const auto shown = [&](const ClientCompatibilityModel& model) {
        return model.surface() == CompatibilitySurface::nudge("1.4.0") &&
               model.serverSurface(server) == ServerSurface::banner();
    };

    // The clock ran ahead when the user dismissed: a little keeps the snooze, more than a day ends it.
    for (const auto& [ahead, over] : {std::pair{std::chrono::seconds{1h}, false},
                                      std::pair{std::chrono::seconds{24h + 1s}, true},
                                      std::pair{std::chrono::seconds{24h * 400}, true}}) {
        now += ahead;
        running.dismissNudge();
        running.dismissServerBanner(server);
        now -= ahead;  // set right: in this run, and as stored for the next
        EXPECT_EQ(shown(running), over) << ahead.count();
        EXPECT_EQ(snoozed(running), !over) << ahead.count();
        EXPECT_EQ(shown(ClientCompatibilityModel(source, defaults, [&] { return now; })), over) << ahead.count();
    }
    running.dismissNudge();
    running.dismissServerBanner(server);
    now += 86'399s;  // a suspend of nearly a day
    EXPECT_TRUE(snoozed(running));
    now += 1s;
    EXPECT_TRUE(shown(running));
}

}  // namespace
}  // namespace brisalune

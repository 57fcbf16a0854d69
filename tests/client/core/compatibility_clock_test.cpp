// Dismissals of the update nudge and the server banners when the wall clock jumps: a snooze
// never outlasts a day of the clock as it now stands.

#include <brisalune/client/core/compatibility_model.hpp>

#include <support/temp_dir.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

using namespace std::chrono_literals;
using http::Headers;

TEST(CompatibilityClock, DismissalsDatedAheadOfTheClockAreOverAndNewOnesLastADayFromNow) {
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

    // The clock ran ahead when the user dismissed.
    for (const std::chrono::seconds ahead :
         {std::chrono::seconds{1s}, std::chrono::seconds{23h}, std::chrono::seconds{24h * 400}}) {
        now += ahead;
        running.dismissNudge();
        running.dismissServerBanner(server);
        now -= ahead;  // set right: over in this run, and as stored for the next
        EXPECT_TRUE(shown(running)) << ahead.count();
        EXPECT_TRUE(shown(ClientCompatibilityModel(source, defaults, [&] { return now; }))) << ahead.count();
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

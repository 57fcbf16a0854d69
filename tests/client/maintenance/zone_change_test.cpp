// A new maintenance window starts in the zone the computer is in when it is made, not in the one
// the app started in: a person travels, or changes the desktop's zone, while the app runs.

#include <brisalune/client/maintenance/draft.hpp>
#include <brisalune/client/maintenance/wall_clock.hpp>
#include <brisalune/platform/time.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace brisalune {
namespace {

using Draft = MaintenanceWindowDraft;

// Sets TZ for the test, and puts back what the process had.
class SystemZone : public ::testing::Test {
protected:
    void TearDown() override {
        if (saved) {
            ::setenv("TZ", saved->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
    }
    static void travelTo(const char* zone) { ::setenv("TZ", zone, 1); }

    std::optional<std::string> saved = std::getenv("TZ") ? std::optional<std::string>(std::getenv("TZ")) : std::nullopt;
};

TEST_F(SystemZone, ANewWindowStartsInTheZoneTheComputerIsInNow) {
    const auto now = *platform::parseInternetDate("2024-05-01T08:15:00Z");
    travelTo("Europe/Paris");
    const Draft before = Draft::initNew(now, platform::TimeZone::current());
    EXPECT_EQ(before.timezone, "Europe/Paris");
    EXPECT_EQ(MaintenanceWallClock::format(before.start, before.zone()), "2024-05-01T11:00");

    for (const char* zone : {"America/New_York", "Asia/Kolkata", "Europe/Paris"}) {
        travelTo(zone);
        const Draft after = Draft::initNew(now, platform::TimeZone::current());
        EXPECT_EQ(after.timezone, zone);
    }
    travelTo("America/New_York");
    const Draft after = Draft::initNew(now, platform::TimeZone::current());
    EXPECT_EQ(MaintenanceWallClock::format(after.start, after.zone()), "2024-05-01T05:00");
}

}  // namespace
}  // namespace brisalune

#include <brisalune/client/maintenance/draft.hpp>
#include <brisalune/client/maintenance/wall_clock.hpp>
#include <brisalune/platform/time.hpp>

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <unordered_set>

namespace brisalune {
namespace {

using std::chrono::sys_seconds;
using Draft = MaintenanceWindowDraft;

sys_seconds at(std::string_view text) { return *platform::parseInternetDate(text); }
platform::TimeZone zone(std::string_view name) { return *platform::TimeZone::named(name); }

MaintenanceWindow stored(std::string startsAt, std::string timezone = "Europe/Paris") {
    MaintenanceWindow window;
    window.id = "w1";
    window.input = {.name = "Patch", .timezone = std::move(timezone), .startsAt = std::move(startsAt)};
    return window;
}

TEST(WallClock, ReadsFiveNumbersBetweenSeparatorsAndRefusesDaysThatDoNotExist) {
    const auto paris = zone("Europe/Paris");
    for (std::string_view text : {"2024-05-01T09:30", "2024-05-01-09-30", "2024--05-01T09:30", "+2024-05-01T09:30:"}) {
        EXPECT_EQ(MaintenanceWallClock::parse(text, paris), at("2024-05-01T07:30:00Z")) << text;
    }
    for (std::string_view text :
         {"2024-05-01T09:30:00",
          "2023-02-29T09:00",
          "2024-05-01T24:00",
          "99999999999999999999-01-01T00:00",
          "9223372036854775807-01-01T00:00"}) {
        EXPECT_FALSE(MaintenanceWallClock::parse(text, paris)) << text;
    }
    // In the spring gap the wall time is read with the winter offset, on the same day.
    EXPECT_EQ(MaintenanceWallClock::parse("2024-03-31T02:30", paris), at("2024-03-31T01:30:00Z"));

    EXPECT_EQ(MaintenanceWallClock::format(at("0999-01-02T03:04:59Z"), platform::TimeZone::gmt()), "0999-01-02T03:04");
    const sys_seconds far{std::chrono::seconds{std::numeric_limits<std::int64_t>::max()}};
    EXPECT_EQ(MaintenanceWallClock::format(far, paris), "0000-00-00T00:00");
}

TEST(MaintenanceDraft, ANewDraftStartsAtTheZonesNextFullHour) {
    const auto paris = zone("Europe/Paris");
    const Draft draft = Draft::initNew(at("2024-05-01T08:15:20Z"), paris);  // 10:15:20 in Paris
    EXPECT_EQ(draft.end, at("2024-05-01T10:00:00Z"));
    EXPECT_EQ(Draft::initNew(at("2024-05-01T08:00:00Z"), paris).start, at("2024-05-01T09:00:00Z"));
    // A half-hour zone: the full hour of its own clock.
    EXPECT_EQ(Draft::initNew(at("2024-05-01T04:45:00Z"), zone("Asia/Kolkata")).start, at("2024-05-01T05:30:00Z"));
    // 01:15 in New York on the night the clock skips 02:00: the next hour is 03:00.
    const Draft spring = Draft::initNew(at("2024-03-10T06:15:00Z"), zone("America/New_York"));
    EXPECT_EQ(MaintenanceWallClock::format(spring.start, spring.zone()), "2024-03-10T03:00");
}

TEST(MaintenanceDraft, MovingToAnotherZoneKeepsTheWallClock) {
    Draft draft = Draft::initNew(at("2024-03-20T08:30:00Z"), zone("Europe/London"));
    draft.start = at("2024-03-20T09:00:00Z");  // 09:00 in London, before its summer time
    draft.end = at("2024-03-20T10:00:00Z");
    draft.rrule = "FREQ=DAILY;UNTIL=20240331T225959Z";
    const Draft before = draft;
    draft.setTimeZone("Nowhere/Zone");
    EXPECT_EQ(draft, before);

    draft.setTimeZone("America/New_York");  // already on summer time
    EXPECT_EQ(draft.end, at("2024-03-20T14:00:00Z"));
    EXPECT_EQ(draft.rrule, "FREQ=DAILY;UNTIL=20240401T035900Z");  // 23:59 local, to the minute

    draft.rrule = " FREQ=DAILY;COUNT=4 ";
    draft.setTimeZone("Asia/Kolkata");
    EXPECT_EQ(draft.rrule, " FREQ=DAILY;COUNT=4 ");

    EXPECT_EQ(draft.lastSecondOfDay(at("2024-03-20T03:30:00Z")), at("2024-03-20T18:29:59Z"));
}

TEST(MaintenanceDraft, SkippingAnOccurrenceRecordsItsDayAtTheWindowsStartTime) {
    Draft draft = Draft::initNew(at("2024-05-01T06:00:00Z"), zone("Europe/Paris"));
    draft.recurring = true;
    draft.rrule = "FREQ=DAILY";
    draft.start = at("2024-05-01T07:30:00Z");                                     // 09:30 in Paris
    draft.skipOccurrence(at("2024-05-03T08:30:00Z").time_since_epoch().count());  // placed at 10:30
    draft.skipOccurrence(at("2024-05-02T07:30:00Z").time_since_epoch().count());
    draft.skipOccurrence(at("2024-05-02T07:30:00Z").time_since_epoch().count());
    EXPECT_EQ(draft.exdates, (std::vector<std::string>{"2024-05-02T09:30", "2024-05-03T09:30"}));

    draft.rrule = "freq=daily;byhour=10";
    EXPECT_TRUE(draft.ruleSetsTimeOfDay());
    draft.skipOccurrence(at("2024-05-04T08:00:00Z").time_since_epoch().count());
    EXPECT_EQ(draft.exdates.back(), "2024-05-04T10:00");

    // A year of five digits keeps its date whole.
    draft.rrule = "FREQ=DAILY";
    draft.skipOccurrence(at("9999-12-31T12:00:00Z").time_since_epoch().count() + 86400);
    EXPECT_EQ(draft.exdates.front(), "10000-01-01T09:30");
}

TEST(MaintenanceDraft, LocalValidationAndWhatStopsThePreview) {
    Draft draft = Draft::initNew(at("2024-05-01T06:00:00Z"), zone("Europe/Paris"));
    draft.rrule = " \t ";
    EXPECT_TRUE(draft.validationErrors().empty());  // one-off: the rule does not count
    draft.recurring = true;
    EXPECT_EQ(draft.validationErrors(), (std::vector<FieldError>{{"rrule", "Pick a pattern or enter a rule."}}));
    draft.rrule = "\n";  // line breaks are not trimmed
    EXPECT_TRUE(draft.validationErrors().empty());

    draft.statusPage = true;
    EXPECT_EQ(
        draft.validationErrors(),
        (std::vector<FieldError>{{"components", "Pick at least one component to show it on."}}));
    EXPECT_TRUE(draft.previewBlockingErrors().empty());
    EXPECT_FALSE(draft.previewInput().statusPage);
    draft.components = {"c1"};
    EXPECT_TRUE(draft.previewInput().statusPage);
}

TEST(MaintenanceDraft, BodiesCarryOneScheduleOrTheOther) {
    Draft draft = Draft::initNew(at("2024-05-01T06:00:00Z"), zone("Europe/Paris"));
    draft.name = " \n Patch\u00A0";
    draft.exdates = {"2024-05-08T09:00"};
    draft.scope = {.project = true, .checks = {"api"}};
    MaintenanceWindowInput body = draft.input();
    EXPECT_EQ(body.name, "Patch");
    EXPECT_EQ(body.endsAt, "2024-05-01T10:00");
    EXPECT_TRUE(body.exdates.empty());
    EXPECT_EQ(body.scope, MaintenanceScope::defaultScope());

    draft.recurring = true;
    draft.rrule = "\tFREQ=DAILY ";
    draft.scope.project = false;
    body = draft.input();
    EXPECT_EQ(body.endsAt, std::nullopt);
    EXPECT_EQ(body.rrule, "FREQ=DAILY");
    EXPECT_EQ(body.scope, (MaintenanceScope{.checks = {"api"}}));
}

TEST(MaintenanceDraft, AStoredStartThatDoesNotReadIsSentBackWhileUntouched) {
    const auto now = at("2024-06-01T12:34:00Z");
    MaintenanceWindow window = stored("2024-05-01T09:30:00+02:00");
    window.input.durationMinutes = 90;
    window.input.endsAt = "soon";
    Draft draft = Draft::initFromWindow(window, now);
    EXPECT_EQ(draft.end, now + std::chrono::minutes{90});  // shown from the moment of editing
    draft.name = "Renamed";                                // an unrelated edit does not move the window
    EXPECT_EQ(draft.input().startsAt, "2024-05-01T09:30:00+02:00");
    draft.start += std::chrono::hours{1};
    EXPECT_EQ(draft.input().startsAt, "2024-06-01T15:34");

    // The same in a zone no one knows: its text goes back as stored, the start worked in GMT.
    Draft unknown = Draft::initFromWindow(stored("2024-05-01T09:30:00Z", "Mars/Olympus"), now);
    EXPECT_EQ(unknown.zone(), platform::TimeZone::gmt());
    EXPECT_EQ(unknown.input().timezone, "Mars/Olympus");
    unknown.setTimeZone("Asia/Tokyo");
    EXPECT_EQ(unknown.input().startsAt, "2024-06-01T12:34");  // the GMT clock's 12:34, kept on Tokyo's

    // Asked in another zone than the draft's own, the start is written in that zone.
    EXPECT_EQ(Draft::initFromWindow(stored("garbage"), now).startsAtText(zone("Asia/Tokyo")), "2024-06-01T21:34");
}

TEST(MaintenanceDraft, AStoredWindowBecomesADraft) {
    MaintenanceWindow window = stored("2024-05-01T09:30");
    window.input.rrule = "FREQ=DAILY";
    window.input.exdates = {"2024-05-02T09:30"};
    window.input.scope = {.rules = {"cpu"}};
    window.input.components = {"c1"};
    Draft draft = Draft::initFromWindow(window);
    EXPECT_EQ(draft.end, at("2024-05-01T08:30:00Z"));
    const MaintenanceWindowInput body = draft.input();
    EXPECT_EQ(body.exdates, window.input.exdates);
    EXPECT_EQ(body.scope, window.input.scope);
    EXPECT_EQ(body.components, window.input.components);

    window.input.rrule.clear();
    window.input.durationMinutes = std::numeric_limits<std::int64_t>::max();  // stops at the end of time
    draft = Draft::initFromWindow(window);
    EXPECT_EQ(draft.end.time_since_epoch().count(), std::numeric_limits<std::int64_t>::max());

    draft.setRecurrence({{MaintenanceRecurrence::Pattern::Daily{2}}, {}});
    EXPECT_EQ(draft.rrule, "FREQ=DAILY;INTERVAL=2");
}

TEST(MaintenanceDraft, EqualDraftsHashAlike) {
    const MaintenanceWindow window = stored("2024-05-01T09:30");
    const Draft one = Draft::initFromWindow(window, at("2024-05-01T00:00:00Z"));
    const Draft same = Draft::initFromWindow(window, at("2024-05-01T00:00:00Z"));
    ASSERT_EQ(one, same);
    EXPECT_EQ(std::hash<Draft>{}(one), std::hash<Draft>{}(same));
    // A new draft of the same times differs by what it remembers of a stored window.
    Draft fresh = one;
    fresh.storedStartsAt.reset();
    Draft skipped = one;
    skipped.exdates = {"2024-05-08T09:30"};
    std::unordered_set<Draft> set{one, same, fresh, skipped};
    EXPECT_EQ(set.size(), 3u);
}

}  // namespace
}  // namespace brisalune

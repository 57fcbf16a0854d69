#include <brisalune/client/maintenance/format.hpp>
#include <brisalune/platform/time.hpp>

#include <gtest/gtest.h>

#include <string>

namespace brisalune {
namespace {

namespace Format = MaintenanceFormat;
using Section = Format::Section;
using Pattern = MaintenanceRecurrence::Pattern;
using End = MaintenanceRecurrence::End;
using Weekday = MaintenanceRecurrence::Weekday;

const platform::Locale us{"en_US"};
const platform::Locale uk{"en_GB"};

std::int64_t seconds(std::string_view text) { return platform::parseInternetDate(text)->time_since_epoch().count(); }

MaintenanceWindow window(
    std::string rrule, std::optional<std::int64_t> minutes = std::nullopt, std::string timezone = "Europe/Paris") {
    MaintenanceWindow out;
    out.input = {
        .timezone = std::move(timezone),
        .startsAt = "2024-05-01T09:00",
        .endsAt = "2024-05-01T10:00",
        .durationMinutes = minutes,
        .rrule = std::move(rrule)};
    return out;
}

TEST(MaintenanceFormat, FieldErrorsGoToTheSectionOfTheirFirstKey) {
    EXPECT_EQ(Format::section("scope.checks[0]"), Section::scope);
    EXPECT_EQ(Format::section("components[2]"), Section::statusPage);
    EXPECT_EQ(Format::section("exdates[1]"), Section::recurrence);
    EXPECT_EQ(Format::section("Name"), Section::other);
}

TEST(MaintenanceFormat, LengthsAndOrdinals) {
    const std::pair<std::int64_t, std::string_view> lengths[] = {
        {60, "1 h"},
        {90, "1 h 30 min"},
        {1500, "1 d 1 h"},
        {1441, "1 d 1 min"},
        {-90, "-30 min"},
        {-60, "0 min"},
        {std::numeric_limits<std::int64_t>::min(), "-8 min"}};
    for (const auto& [minutes, text] : lengths) EXPECT_EQ(Format::duration(minutes), text) << minutes;
    EXPECT_EQ(Format::ordinalWord(-1), "last");
    EXPECT_EQ(Format::ordinalWord(5), "5.");
    EXPECT_EQ(Format::ordinalWord(-2), "-2.");
}

TEST(MaintenanceFormat, RecurrencesInWords) {
    EXPECT_EQ(
        Format::patternSummary({Pattern::Weekly{2, {Weekday::monday, Weekday::wednesday}}}),
        "Every 2 weeks on Mon, Wed");
    EXPECT_EQ(Format::patternSummary({Pattern::Weekly{1, {}}}), "Every week");
    EXPECT_EQ(
        Format::patternSummary({Pattern::MonthlyOnWeekday{1, -1, Weekday::friday}}), "Every month on the last Friday");
    EXPECT_EQ(Format::patternSummary({Pattern::MonthlyOnDay{3, 15}}), "Every 3 months on day 15");

    const auto gmt = platform::TimeZone::gmt();
    EXPECT_EQ(Format::recurrenceSummary({{Pattern::Daily{1}}, {End::Count{1}}}, gmt), "Every day, once");
    EXPECT_EQ(Format::recurrenceSummary({{Pattern::Daily{1}}, {End::Count{2}}}, gmt), "Every day, 2 times");
    EXPECT_EQ(Format::recurrenceSummary({{Pattern::Custom{"X"}}, {End::Count{3}}}, gmt), "Custom rule: X, 3 times");
}

TEST(MaintenanceFormat, ScheduleSummariesUnderAmericanAndBritishLocales) {
    EXPECT_EQ(Format::scheduleSummary(window("", 45), us), "Once");
    EXPECT_EQ(Format::scheduleSummary(window(" FREQ=DAILY\t", 45), us), "Every day \u00b7 45 min");
    EXPECT_EQ(
        Format::scheduleSummary(window("FREQ=WEEKLY;BYDAY=MO,TH;COUNT=4", 120), us),
        "Every week on Mon, Thu, 4 times \u00b7 2 h");

    // 23:30 UTC on 31 January is 1 February in Paris, and stays 31 January where the zone is unknown.
    const std::string until = "FREQ=DAILY;UNTIL=20250131T233000Z";
    EXPECT_EQ(Format::scheduleSummary(window(until), us), "Every day, until Feb 1, 2025");
    EXPECT_EQ(Format::scheduleSummary(window(until), uk), "Every day, until 1 Feb 2025");
    EXPECT_EQ(
        Format::scheduleSummary(window(until, 30, "Nowhere/Zone"), uk), "Every day, until 31 Jan 2025 \u00b7 30 min");
}

TEST(MaintenanceFormat, DatesAndTimesInTheWindowsZoneWithA24HourClock) {
    const auto paris = *platform::TimeZone::named("Europe/Paris");
    const std::int64_t evening = seconds("2025-01-31T20:00:00Z");  // 21:00 in Paris
    EXPECT_EQ(Format::dateTime(evening, paris, us), "Fri, Jan 31, 2025, 21:00");
    EXPECT_EQ(
        Format::occurrenceRange(seconds("2025-01-31T08:00:00Z"), seconds("2025-01-31T10:00:00Z"), paris, us),
        "Fri, Jan 31, 2025, 09:00 \u2013 11:00");
    // Over midnight in Paris, though the same day in UTC.
    EXPECT_EQ(
        Format::occurrenceRange(seconds("2025-01-31T22:00:00Z"), seconds("2025-01-31T23:30:00Z"), paris, uk),
        "Fri, 31 Jan 2025, 23:00 \u2013 Sat, 1 Feb 2025, 00:30");

    EXPECT_EQ(Format::wallClockText("2025-01-31T21:00", paris, us), "Fri, Jan 31, 2025, 21:00");
    EXPECT_EQ(Format::wallClockText("2025-02-30T21:00", paris, us), "2025-02-30T21:00");
}

TEST(MaintenanceFormat, ScopesAndStatusPagesInWords) {
    EXPECT_EQ(Format::scopeSummary(MaintenanceScope::defaultScope()), "Whole project");
    EXPECT_EQ(Format::scopeSummary({.checks = {"a", "b"}, .rules = {"r"}}), "2 checks, 1 rule");
    EXPECT_EQ(Format::scopeSummary({}), "Nothing");

    MaintenanceWindowInput input;
    EXPECT_EQ(Format::statusPageSummary(input), std::nullopt);
    input.statusPage = true;
    input.components = {"c1"};
    EXPECT_EQ(Format::statusPageSummary(input), "On status pages \u00b7 1 component");
}

}  // namespace
}  // namespace brisalune

#include <brisalune/platform/calendar.hpp>
#include <brisalune/platform/text.hpp>
#include <brisalune/platform/time.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace brisalune::platform;
using std::chrono::sys_seconds;

sys_seconds at(std::string_view internetDate) { return *parseInternetDate(internetDate); }

GregorianCalendar calendarIn(std::string_view zone) { return GregorianCalendar(*TimeZone::named(zone)); }

TEST(TimeZones, KnownByIdentifierUnknownOnesDetectedGmtAsFallback) {
    EXPECT_EQ(TimeZone::named("Europe/Paris")->identifier(), "Europe/Paris");
    EXPECT_EQ(TimeZone::named("US/Eastern")->identifier(), "US/Eastern");  // an alias keeps its name
    EXPECT_EQ(TimeZone::named("GMT+5:30")->identifier(), "GMT+05:30");
    for (std::string_view unknown : {"", "Nowhere/Zone", "europe/paris", "\xFF"}) {
        EXPECT_FALSE(TimeZone::named(unknown)) << unknown;
    }
    EXPECT_FALSE(TimeZone::named(std::string(100000, 'A')));
    EXPECT_EQ(TimeZone::gmt().identifier(), "GMT");
    EXPECT_EQ(TimeZone::namedOrGmt("Nowhere/Zone"), TimeZone::gmt());
    EXPECT_FALSE(TimeZone::current().identifier().empty());
}

TEST(TimeZones, TheKnownIdentifiersAreZonesOfTheirOwnName) {
    const std::vector<std::string> known = TimeZone::knownIdentifiers();
    for (std::string_view wanted : {"Europe/Paris", "UTC", "America/New_York"}) {
        EXPECT_NE(std::find(known.begin(), known.end(), wanted), known.end()) << wanted;
    }
    for (const std::string& identifier : known) {
        const auto zone = TimeZone::named(identifier);
        ASSERT_TRUE(zone) << identifier;
        EXPECT_EQ(zone->identifier(), identifier);
    }
    EXPECT_EQ(TimeZone::knownIdentifiers(), known);
}

TEST(GregorianCalendar, ReadsAnInstantsLocalFieldsInItsZone) {
    const auto kolkata = calendarIn("Asia/Kolkata").fields(at("2024-05-30T23:45:59Z"));
    EXPECT_EQ(kolkata, (CalendarFields{2024, 5, 31, 5, 15, 59, 6}));  // Friday
    const auto fifth = calendarIn("America/Los_Angeles").fields(at("2024-05-31T02:00:00Z"));
    EXPECT_EQ(fifth->weekday, 5);  // Thursday the 30th
    EXPECT_EQ(fifth->weekdayOrdinal(), 5);
    // Proleptic: no Julian dates before 1582.
    EXPECT_EQ(GregorianCalendar(TimeZone::gmt()).fields(at("1000-03-01T00:00:00Z"))->day, 1);
    // Beyond about a million years the calendar gives nothing, rather than a wrong date.
    const auto far = sys_seconds{std::chrono::seconds{std::numeric_limits<std::int64_t>::max()}};
    EXPECT_FALSE(GregorianCalendar(TimeZone::gmt()).fields(far));
}

TEST(GregorianCalendar, TurnsLocalFieldsIntoAnInstant) {
    const auto newYork = calendarIn("America/New_York");
    EXPECT_EQ(newYork.instant(2024, 7, 1, 9, 30), at("2024-07-01T13:30:00Z"));
    EXPECT_EQ(newYork.instant(2024, 3, 10, 2, 30), at("2024-03-10T07:30:00Z"));  // skipped: 03:30 EDT
    EXPECT_EQ(newYork.instant(2024, 11, 3, 1, 30), at("2024-11-03T05:30:00Z"));  // twice: the first
    EXPECT_EQ(newYork.instant(2023, 4, 31, 0, 0), at("2023-05-01T04:00:00Z"));   // rolls over
    EXPECT_EQ(GregorianCalendar(TimeZone::gmt()).instant(999, 1, 2, 3, 4, 5), at("0999-01-02T03:04:05Z"));
    for (auto [year, month, day, hour, minute] :
         {std::array<std::int64_t, 5>{2024, 13, 1, 0, 0},
          {2024, 1, 32, 0, 0},
          {2024, 1, 1, 24, 0},
          {std::numeric_limits<std::int64_t>::max(), 1, 1, 0, 0},
          {-5'000'000, 1, 1, 0, 0}}) {
        EXPECT_FALSE(newYork.instant(year, month, day, hour, minute)) << year << "-" << month << "-" << day;
    }
}

TEST(GregorianCalendar, HoursAndDaysOfTheLocalClock) {
    const auto kolkata = calendarIn("Asia/Kolkata");  // +05:30
    EXPECT_EQ(
        kolkata.hour(at("2024-05-01T04:45:20Z")),
        (DateInterval{at("2024-05-01T04:30:00Z"), at("2024-05-01T05:30:00Z")}));

    const auto newYork = calendarIn("America/New_York");
    const auto shortDay = newYork.day(at("2024-03-10T12:00:00Z"));
    EXPECT_EQ(shortDay, (DateInterval{at("2024-03-10T05:00:00Z"), at("2024-03-11T04:00:00Z")}));  // 23 hours
    // Where the clock skipped midnight the day began at 01:00.
    const auto saoPaulo = calendarIn("America/Sao_Paulo").day(at("2018-11-04T12:00:00Z"));
    EXPECT_EQ(saoPaulo->start, at("2018-11-04T03:00:00Z"));

    EXPECT_TRUE(newYork.isSameDay(at("2024-05-01T04:00:00Z"), at("2024-05-02T03:59:59Z")));
    EXPECT_FALSE(newYork.isSameDay(at("2024-05-01T03:59:59Z"), at("2024-05-01T04:00:00Z")));
}

TEST(DateTexts, FollowTheLocaleOnTheGregorianCalendarWithA24HourClock) {
    const auto paris = *TimeZone::named("Europe/Paris");
    const auto evening = at("2025-01-31T20:00:00Z");
    EXPECT_EQ(formatDate(evening, paris, "EEEdMMMy", Locale{"en_US"}), "Fri, Jan 31, 2025");
    EXPECT_EQ(formatDate(evening, paris, "dMMMy", Locale{"en_GB"}), "31 Jan 2025");
    EXPECT_EQ(formatDate(evening, paris, "HHmm", Locale{"en_US"}), "21:00");
    EXPECT_NE(formatDate(evening, paris, "y", Locale{"th_TH"}).find("2025"), std::string::npos);
    EXPECT_FALSE(formatDate(evening, paris, "y", Locale{"no such locale"}).empty());
}

TEST(DateTexts, TheCurrentLocaleIsReadFromTheEnvironmentEachTime) {
    ::setenv("LC_ALL", "en_GB.UTF-8", 1);
    EXPECT_EQ(Locale::current().identifier, "en_GB");
    ::setenv("LC_ALL", "de_DE.UTF-8@euro", 1);
    EXPECT_EQ(Locale::current().identifier, "de_DE@euro");
    ::setenv("LC_ALL", "C.UTF-8", 1);
    EXPECT_EQ(Locale::current().identifier, "en_US_POSIX");
    ::unsetenv("LC_ALL");
    ::setenv("LC_TIME", "fr_FR", 1);
    ::setenv("LANG", "en_GB", 1);
    EXPECT_EQ(Locale::current().identifier, "fr_FR");
    ::unsetenv("LC_TIME");
    EXPECT_EQ(Locale::current().identifier, "en_GB");
}

TEST(TextHelpers, TrimsSpacesAndTabsAndUppercasesFully) {
    EXPECT_EQ(trimmed("\t \u00A0FREQ=DAILY \u3000", isSpaceOrTab), "FREQ=DAILY");
    EXPECT_EQ(trimmed("\nFREQ=DAILY\n", isSpaceOrTab), "\nFREQ=DAILY\n");  // line breaks stay
    EXPECT_EQ(trimmed(" \t ", isSpaceOrTab), "");
    EXPECT_EQ(trimmed(" \xFF ", isSpaceOrTab), "\xFF");
    EXPECT_EQ(uppercased("stra\u00DFe \u0131 \u017Fu"), "STRASSE I SU");
    EXPECT_EQ(uppercased("a\xFF"), "A\uFFFD");
    const std::string longText(3 << 20, 'x');
    EXPECT_EQ(uppercased(longText), std::string(3 << 20, 'X'));
}

}  // namespace

#include <brisalune/platform/time.hpp>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

using brisalune::platform::formatInternetDate;
using brisalune::platform::parseInternetDate;
using std::chrono::seconds;
using std::chrono::sys_seconds;

sys_seconds at(std::int64_t unixSeconds) { return sys_seconds{seconds{unixSeconds}}; }

TEST(InternetDate, ParsesUtcAndAppliesOffsets) {
    EXPECT_EQ(parseInternetDate("2026-01-02T04:04:05+01:00"), at(1767323045));
    EXPECT_EQ(parseInternetDate("2026-01-01T22:34:05-04:30"), at(1767323045));
}

TEST(InternetDate, RefusesMalformedText) {
    for (const char* text : {
             "",
             "2026-01-02T03:04:05",
             "2026-01-02T03:04:05.5Z",
             "2026-01-02t03:04:05Z",
             "2026-01-02T03:04:05Z ",
             "+2026-01-02T03:04:05Z",
             "2026-13-02T03:04:05Z",
             "1900-02-29T03:04:05Z",
             "2026-04-31T03:04:05Z",
             "2026-01-02T24:00:00Z",
             "2026-01-02T03:04:60Z",
             "2026-01-02T03:04:05+24:00",
             "2026-01-02T03:04:05+0100",
             "2026-01-02T-3:04:05Z",
         }) {
        EXPECT_EQ(parseInternetDate(text), std::nullopt) << text;
    }
}

TEST(InternetDate, KeepsTheFourDigitYearRange) {
    EXPECT_TRUE(parseInternetDate("0000-02-29T00:00:00Z"));  // year 0 is a leap year
    EXPECT_TRUE(parseInternetDate("9999-12-31T23:59:59+23:59"));
    // Valid text whose instant leaves the range cannot be written back, so it is refused.
    EXPECT_EQ(parseInternetDate("0000-01-01T00:00:00+00:01"), std::nullopt);
    EXPECT_EQ(parseInternetDate("9999-12-31T23:59:59-00:01"), std::nullopt);

    const auto first = *parseInternetDate("0000-01-01T00:00:00Z");
    const auto last = *parseInternetDate("9999-12-31T23:59:59Z");
    for (const sys_seconds outside : {first - seconds{1}, last + seconds{1}, sys_seconds::min(), sys_seconds::max()})
        EXPECT_THROW(formatInternetDate(outside), std::out_of_range);
}

TEST(InternetDate, FormatsUtcAndRoundTrips) {
    EXPECT_EQ(formatInternetDate(at(-1)), "1969-12-31T23:59:59Z");
    for (const char* text :
         {"0000-01-01T00:00:00Z", "0999-09-09T09:09:09Z", "2024-02-29T23:59:59Z", "9999-12-31T23:59:59Z"}) {
        const auto instant = parseInternetDate(text);
        ASSERT_TRUE(instant) << text;
        EXPECT_EQ(formatInternetDate(*instant), text);
    }
}

TEST(InternetDate, RefusesANonDigitAtEveryDigitPosition) {
    const std::string valid = "2026-01-02T03:04:05Z";
    for (std::size_t at = 0; at < 19; ++at) {
        if (valid[at] < '0' || valid[at] > '9') continue;
        for (const char bad : {'/', ':', 'a', ' '}) {
            std::string text = valid;
            text[at] = bad;
            EXPECT_EQ(parseInternetDate(text), std::nullopt) << text;
        }
    }
}

TEST(InternetDate, EveryDayFrom1940To2120RoundTrips) {
    // Days across the leap years of 2000 (kept) and 2100 (dropped), read back from their written form.
    for (std::int64_t day = -30 * 365 - 100; day < 150 * 365; day += 1) {
        const sys_seconds instant = at(day * 86400 + (day % 86400));
        const auto read = parseInternetDate(formatInternetDate(instant));
        ASSERT_EQ(read, instant) << formatInternetDate(instant);
    }
    for (const char* text : {"1600-02-29T00:00:00Z", "2000-02-29T12:00:00Z", "0400-02-29T00:00:00Z"}) {
        EXPECT_TRUE(parseInternetDate(text)) << text;
    }
    for (const char* text : {"1700-02-29T00:00:00Z", "2100-02-29T00:00:00Z", "2023-02-29T00:00:00Z"}) {
        EXPECT_EQ(parseInternetDate(text), std::nullopt) << text;
    }
}

TEST(InternetDate, EveryDayOfTheFirstAndLastYearsRoundTrips) {
    // January and February count with the year before: year 0 has none before it.
    const std::int64_t firstDay = parseInternetDate("0000-01-01T00:00:00Z")->time_since_epoch().count() / 86400;
    const std::int64_t lastDay = parseInternetDate("9999-12-31T00:00:00Z")->time_since_epoch().count() / 86400;
    for (std::int64_t offset = 0; offset < 2 * 366; ++offset) {
        for (const std::int64_t day : {firstDay + offset, lastDay - offset}) {
            const sys_seconds instant = at(day * 86400 + 3723);
            ASSERT_EQ(parseInternetDate(formatInternetDate(instant)), instant) << formatInternetDate(instant);
        }
    }
}

}  // namespace

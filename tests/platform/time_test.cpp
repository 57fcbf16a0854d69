#include <brisalune/platform/time.hpp>

#include <gtest/gtest.h>

#include <stdexcept>

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

}  // namespace

#include <brisalune/client/maintenance/recurrence.hpp>
#include <brisalune/platform/time.hpp>

#include <gtest/gtest.h>

#include <limits>
#include <unordered_set>
#include <string>
#include <utility>

namespace brisalune {
namespace {

using Recurrence = MaintenanceRecurrence;
using Pattern = Recurrence::Pattern;
using End = Recurrence::End;
using Weekday = Recurrence::Weekday;
using Kind = Recurrence::Kind;

std::chrono::sys_seconds at(std::string_view text) { return *platform::parseInternetDate(text); }

Recurrence make(Pattern::Daily daily, End end = {}) { return {{daily}, std::move(end)}; }

TEST(RecurrenceRules, RfcExamplesInsideTheModelRoundTripInTheWritersForm) {
    const std::pair<std::string_view, std::string_view> examples[] = {
        {"FREQ=WEEKLY;INTERVAL=2;UNTIL=19971224T000000Z;BYDAY=MO,WE,FR",
         "FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,WE,FR;UNTIL=19971224T000000Z"},
        {"FREQ=MONTHLY;COUNT=10;BYDAY=1FR", "FREQ=MONTHLY;BYDAY=1FR;COUNT=10"},
        {"FREQ=MONTHLY;BYDAY=-1FR", "FREQ=MONTHLY;BYDAY=-1FR"},
        {"FREQ=MONTHLY;INTERVAL=2;BYMONTHDAY=15", "FREQ=MONTHLY;INTERVAL=2;BYMONTHDAY=15"},
        {"freq=weekly;byday=we,mo", "FREQ=WEEKLY;BYDAY=MO,WE"},
        {"FREQ=DAILY;INTERVAL=1;;", "FREQ=DAILY"},
        {"==FREQ=WEEKLY;BYDAY=\u017Fu", "FREQ=WEEKLY;BYDAY=SU"},  // full case mapping: long s is S
    };
    for (const auto& [text, written] : examples) {
        const auto read = Recurrence::parse(text);
        ASSERT_TRUE(read) << text;
        EXPECT_EQ(read->rrule(), written) << text;
        EXPECT_EQ(Recurrence::parse(written), read) << text;
    }
    EXPECT_EQ(
        Recurrence::parse("FREQ=DAILY;UNTIL=20250131T235959Z")->end, (End{End::Until{at("2025-01-31T23:59:59Z")}}));
}

TEST(RecurrenceRules, TheReaderGivesUpOutsideTheModel) {
    // RFC 5545 examples the model cannot hold, then malformed texts and out-of-range values.
    for (std::string_view text :
         {"FREQ=WEEKLY;INTERVAL=2;WKST=SU",
          "FREQ=YEARLY;BYMONTH=3",
          "FREQ=MONTHLY;INTERVAL=2;COUNT=10;BYDAY=1SU,-1SU",
          "",
          " FREQ=DAILY",
          "FREQ=DAILY;freq=DAILY",
          "FREQ=DAILY;INTERVAL=0",
          "FREQ=DAILY;INTERVAL=99999999999999999999",
          "FREQ=DAILY;COUNT=3;UNTIL=20250131T235959Z",
          "FREQ=DAILY;UNTIL=20250230T000000Z",
          "FREQ=WEEKLY;BYDAY=MO,MO",
          "FREQ=MONTHLY",
          "FREQ=MONTHLY;BYDAY=5MO",
          "FREQ=MONTHLY;BYDAY=1MO;BYMONTHDAY=2"}) {
        EXPECT_FALSE(Recurrence::parse(text)) << text;
    }
    EXPECT_EQ(
        Recurrence::parse("FREQ=DAILY;COUNT=9223372036854775807")->end,
        (End{End::Count{std::numeric_limits<std::int64_t>::max()}}));
}

TEST(RecurrenceRules, WhatTheReaderGivesUpOnSurvivesAsTrimmedText) {
    EXPECT_EQ(Recurrence::initFromRule(" \tFREQ=DAILY\u00A0"), make({1}));
    const auto yearly = Recurrence::initFromRule("FREQ=YEARLY;BYMONTH=3 ");
    EXPECT_EQ(yearly, (Recurrence{{Pattern::Custom{"FREQ=YEARLY;BYMONTH=3"}}, End{}}));
    EXPECT_EQ(Recurrence::initFromRule("\nFREQ=DAILY").kind(), Kind::custom);  // line breaks are not trimmed
}

TEST(RecurrenceRules, TheWriterWritesWhatItIsGiven) {
    EXPECT_EQ(make({-4}).rrule(), "FREQ=DAILY");
    EXPECT_EQ(
        (Recurrence{{Pattern::Weekly{1, {Weekday::sunday, Weekday::monday, Weekday::sunday}}}, {}}).rrule(),
        "FREQ=WEEKLY;BYDAY=MO,SU");
    EXPECT_EQ(
        (Recurrence{{Pattern::MonthlyOnDay{1, 40}}, {End::Count{0}}}).rrule(), "FREQ=MONTHLY;BYMONTHDAY=40;COUNT=0");
    // An UNTIL beyond the calendar prints as zeros, which reads back as nothing rather than a wrong date.
    const auto far = std::chrono::sys_seconds{std::chrono::seconds{std::numeric_limits<std::int64_t>::min()}};
    EXPECT_EQ(
        make({std::numeric_limits<std::int64_t>::max()}, {End::Until{far}}).rrule(),
        "FREQ=DAILY;INTERVAL=9223372036854775807;UNTIL=00000000T000000Z");
}

TEST(RecurrenceRules, SetKindAnchorsOnTheStartInItsZone) {
    const auto losAngeles = *platform::TimeZone::named("America/Los_Angeles");
    const auto fifthThursday = at("2024-05-31T02:00:00Z");  // Thursday 30 May in Los Angeles
    Recurrence rule = make({2}, {End::Count{4}});
    rule.setKind(Kind::monthlyOnWeekday, fifthThursday, losAngeles);
    EXPECT_EQ(rule, (Recurrence{{Pattern::MonthlyOnWeekday{2, -1, Weekday::thursday}}, {End::Count{4}}}));
    rule.setKind(Kind::monthlyOnWeekday, at("2024-05-14T12:00:00Z"), losAngeles);  // same kind: nothing changes
    EXPECT_EQ(rule.pattern.get<Pattern::MonthlyOnWeekday>()->ordinal, -1);

    Recurrence second = make({1});
    second.setKind(Kind::monthlyOnWeekday, at("2024-05-14T12:00:00Z"), losAngeles);  // the 2nd Tuesday
    EXPECT_EQ(second.pattern, (Pattern{Pattern::MonthlyOnWeekday{1, 2, Weekday::tuesday}}));
    second.setKind(Kind::monthlyOnDay, fifthThursday, losAngeles);
    EXPECT_EQ(second.pattern, (Pattern{Pattern::MonthlyOnDay{1, 30}}));
    second.setKind(Kind::weekly, fifthThursday, platform::TimeZone::gmt());  // Friday in GMT
    EXPECT_EQ(second.pattern, (Pattern{Pattern::Weekly{1, {Weekday::friday}}}));

    Recurrence weekly{{Pattern::Weekly{2, {Weekday::monday}}}, {End::Count{4}}};
    weekly.setKind(Kind::custom, fifthThursday, losAngeles);
    EXPECT_EQ(weekly, (Recurrence{{Pattern::Custom{"FREQ=WEEKLY;INTERVAL=2;BYDAY=MO;COUNT=4"}}, End{}}));

    // A set interval stays at least one and leaves a custom rule alone.
    Recurrence monthly{{Pattern::MonthlyOnDay{3, 15}}, {}};
    monthly.setInterval(std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(monthly.pattern, (Pattern{Pattern::MonthlyOnDay{1, 15}}));
    weekly.setInterval(5);
    EXPECT_EQ(weekly.rrule(), "FREQ=WEEKLY;INTERVAL=2;BYDAY=MO;COUNT=4");
}

TEST(RecurrenceRules, EqualRecurrencesHashAlikeAndCasesStayApart) {
    const auto hash = [](const Recurrence& r) { return std::hash<Recurrence>{}(r); };
    const Recurrence weekly{{Pattern::Weekly{2, {Weekday::monday, Weekday::friday}}}, {End::Count{3}}};
    EXPECT_EQ(hash(weekly), hash(Recurrence::initFromRule("FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,FR;COUNT=3")));
    // The same payload under another case is another value.
    std::unordered_set<Recurrence> set{
        make({2}), make({2}), {{Pattern::MonthlyOnDay{2, 1}}, {}}, {{Pattern::MonthlyOnWeekday{2, 1}}, {}}};
    EXPECT_EQ(set.size(), 3u);
    set.insert(make({2}, {End::Until{at("2027-01-01T00:00:00Z")}}));
    set.insert(make({2}, {End::Until{at("2027-01-01T00:00:00Z")}}));
    EXPECT_EQ(set.size(), 4u);
}

}  // namespace
}  // namespace brisalune

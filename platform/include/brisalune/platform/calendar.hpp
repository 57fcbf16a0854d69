#pragma once

// Time zones, the Gregorian calendar and locale-aware date texts (on ICU). Every type here is a
// value whose operations are const and safe from several threads at once.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brisalune::platform {

// A time zone of the zone database, by identifier.
class TimeZone {
public:
    // The zone with that identifier: an IANA name such as "Europe/Paris", "UTC", or an offset such
    // as "GMT+05:30". None when no zone has it.
    static std::optional<TimeZone> named(std::string_view identifier);
    // The zone at 0 seconds from GMT, identifier "GMT".
    static TimeZone gmt();
    // named(identifier), or gmt() when no zone has that identifier.
    static TimeZone namedOrGmt(std::string_view identifier);
    // The system's zone (TZ, else /etc/localtime) as it is now; GMT when unknown.
    static TimeZone current();
    // Every identifier the zone database knows, in its own order; read once.
    static std::vector<std::string> knownIdentifiers();

    // As the database spells it ("GMT+5:30" is "GMT+05:30"; names and aliases as given).
    const std::string& identifier() const noexcept;

    friend bool operator==(const TimeZone& a, const TimeZone& b) noexcept { return a.identifier() == b.identifier(); }

    // What the platform keeps of the zone; defined where the calendar is.
    struct Data;
    explicit TimeZone(std::shared_ptr<const Data> data) : data_(std::move(data)) {}
    const Data& data() const noexcept { return *data_; }

private:
    std::shared_ptr<const Data> data_;
};

// A local date and time, as a calendar reads an instant in its zone.
struct CalendarFields {
    std::int64_t year = 0;  // astronomical: 0 is 1 BC
    int month = 1;          // 1-12
    int day = 1;            // 1-31
    int hour = 0;           // 0-23
    int minute = 0;
    int second = 0;
    int weekday = 1;  // 1 Sunday, 2 Monday ... 7 Saturday

    // Which of the month's days of this weekday it is: 1 for the first, up to 5.
    int weekdayOrdinal() const noexcept { return (day - 1) / 7 + 1; }

    friend bool operator==(const CalendarFields&, const CalendarFields&) = default;
};

// From `start` up to, not including, `end`.
struct DateInterval {
    std::chrono::sys_seconds start;
    std::chrono::sys_seconds end;

    friend bool operator==(const DateInterval&, const DateInterval&) = default;
};

// The Gregorian calendar (proleptic: no Julian dates before 1582) in one zone, with the week
// rules of the locale "en_US_POSIX". It covers about a million years either side of 1970;
// outside that every operation gives none.
class GregorianCalendar {
public:
    explicit GregorianCalendar(TimeZone zone);

    const TimeZone& zone() const noexcept { return zone_; }

    std::optional<CalendarFields> fields(std::chrono::sys_seconds instant) const;

    // The instant of a local date and time. Month 1-12, day 1-31, hour 0-23, minute and second
    // 0-59, else none; a day past the month's end rolls into the next month (31 April is 1 May).
    // A wall time that a clock change skips is read with the offset from before the change
    // (02:30 in a one-hour gap is 03:30); one that occurs twice is its first occurrence.
    std::optional<std::chrono::sys_seconds> instant(
        std::int64_t year,
        std::int64_t month,
        std::int64_t day,
        std::int64_t hour,
        std::int64_t minute,
        std::int64_t second = 0) const;

    // The local clock hour that holds the instant.
    std::optional<DateInterval> hour(std::chrono::sys_seconds instant) const;
    // The calendar day that holds the instant: from its first moment (midnight, or the first wall
    // time after midnight where a clock change skips it) to the next day's.
    std::optional<DateInterval> day(std::chrono::sys_seconds instant) const;
    // Both instants on the same calendar day; false when either is out of range.
    bool isSameDay(std::chrono::sys_seconds a, std::chrono::sys_seconds b) const;

    struct Data;

private:
    TimeZone zone_;
    std::shared_ptr<const Data> data_;  // the calendar every operation starts from a copy of
};

// A locale by its identifier, such as "en_GB".
struct Locale {
    std::string identifier;

    // The user's locale for dates as the environment names it now (LC_ALL, else LC_TIME, else
    // LANG, without a ".codeset"); "C", "POSIX" and none are "en_US_POSIX".
    static Locale current();

    friend bool operator==(const Locale&, const Locale&) = default;
};

// The fields a skeleton names, of an instant in a zone, in the order, separators and wording
// of the locale, on the Gregorian calendar whatever the locale's own. The skeleton uses the
// Unicode date-field symbols: "EEE" abbreviated weekday, "d" day, "MMM" abbreviated month, "y"
// year, "HH" two-digit 24-hour hour, "mm" two-digit minute. An instant outside the calendar's
// range is shown at its nearest end. Formatters are made once per locale and skeleton and shared.
std::string formatDate(
    std::chrono::sys_seconds instant,
    const TimeZone& zone,
    std::string_view skeleton,
    const Locale& locale = Locale::current());

}  // namespace brisalune::platform

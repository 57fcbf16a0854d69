#pragma once

// The short English texts of maintenance windows: a window's schedule, an occurrence's span,
// dates and times in a window's zone, a length, a recurrence in words, a scope and a status-page
// announcement; and the editor section a field error belongs to. Fixed texts are English; dates
// and times follow the given locale (the user's by default) on the Gregorian calendar of the zone.

#include <brisalune/client/maintenance/recurrence.hpp>
#include <brisalune/client/maintenance/windows.hpp>
#include <brisalune/platform/calendar.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brisalune::MaintenanceFormat {

// The sections of the editor.
enum class Section { details, schedule, recurrence, scope, statusPage, other };

// The section of the field a field-error path names ("scope.checks[0]" is scope), by the path up
// to its first "." or "[".
Section section(std::string_view path);

// "Once" for a one-off window; else the recurrence in words in the window's zone, then " · " and
// the length when the window has one ("Every week on Mon, Thu, 4 times · 2 h").
std::string scheduleSummary(
    const MaintenanceWindow& window, const platform::Locale& locale = platform::Locale::current());
// "On status pages · 2 components"; none when the window is not shown on status pages.
std::optional<std::string> statusPageSummary(const MaintenanceWindowInput& input);

// The start's date and time, " – ", then the end's time alone when both fall on the same day in
// the zone, else its date and time. Instants in seconds since 1970.
std::string occurrenceRange(
    std::int64_t start,
    std::int64_t end,
    const platform::TimeZone& zone,
    const platform::Locale& locale = platform::Locale::current());
// Abbreviated weekday, day, abbreviated month and year in the locale's order, ", ", the time.
std::string dateTime(
    std::chrono::sys_seconds instant,
    const platform::TimeZone& zone,
    const platform::Locale& locale = platform::Locale::current());
std::string dateTime(
    std::int64_t seconds, const platform::TimeZone& zone, const platform::Locale& locale = platform::Locale::current());
// The dateTime of a wall-clock text in the zone; the text itself when it does not read as one.
std::string wallClockText(
    std::string_view text,
    const platform::TimeZone& zone,
    const platform::Locale& locale = platform::Locale::current());
// Day, abbreviated month and year.
std::string untilDate(
    std::chrono::sys_seconds instant,
    const platform::TimeZone& zone,
    const platform::Locale& locale = platform::Locale::current());
// Two-digit 24-hour hour and two-digit minute, in the locale's form ("21:00").
std::string timeOfDay(
    std::chrono::sys_seconds instant,
    const platform::TimeZone& zone,
    const platform::Locale& locale = platform::Locale::current());

// "1 d 1 h 30 min"; 0 is "0 min".
std::string duration(std::int64_t minutes);
// "first" to "fourth", "last" for -1, else the number and ".".
std::string ordinalWord(std::int64_t ordinal);
// The pattern in words, then ", until " and the date, ", once" or ", N times".
std::string recurrenceSummary(
    const MaintenanceRecurrence& recurrence,
    const platform::TimeZone& zone,
    const platform::Locale& locale = platform::Locale::current());
// "Every 2 weeks on Mon, Wed", "Every month on the last Friday", "Custom rule: …".
std::string patternSummary(const MaintenanceRecurrence::Pattern& pattern);
// "Whole project", "2 checks, 1 rule" or "Nothing".
std::string scopeSummary(const MaintenanceScope& scope);

}  // namespace brisalune::MaintenanceFormat

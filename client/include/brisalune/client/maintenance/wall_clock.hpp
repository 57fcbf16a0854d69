#pragma once

// Wall-clock texts: the local date and time of an instant in a window's zone, to the minute, as
// "2024-05-01T09:30" (a year of at least four digits, no seconds, no offset). Start, end and
// skipped dates of maintenance windows travel in this form.

#include <brisalune/platform/calendar.hpp>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace brisalune::MaintenanceWallClock {

// Seconds are dropped (09:30:59 is 09:30); outside the calendar's range every field prints as 0.
std::string format(std::chrono::sys_seconds instant, const platform::TimeZone& zone);

// The instant whose wall-clock time in the zone the text names. The fields are the five decimal
// numbers between the separators "-", "T" and ":", which may stand in any order and be doubled;
// a date that does not exist (30 February) is none. A wall time that a clock change skips or
// repeats takes the calendar's reading (see GregorianCalendar::instant).
std::optional<std::chrono::sys_seconds> parse(std::string_view text, const platform::TimeZone& zone);

}  // namespace brisalune::MaintenanceWallClock

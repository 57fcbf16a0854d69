#pragma once

// How the demo service reads a maintenance window's input: the problems for which it refuses
// one, and the occurrences the window falls on. A rule is expanded for the patterns the client's
// recurrence model expresses (daily, weekly on days, monthly on a day or on an ordinal weekday,
// with INTERVAL and COUNT or UNTIL); every occurrence starts at the first start's wall-clock time
// in the window's zone, across clock changes, and lasts `durationMinutes`.

#include <brisalune/client/core/errors.hpp>
#include <brisalune/client/maintenance/windows.hpp>

#include <chrono>
#include <cstddef>
#include <vector>

namespace brisalune::demo {

// What the service refuses in the input, by field ("name", "timezone", "starts_at", "ends_at",
// "duration_minutes", "rrule", "exdates[i]", "components"), in that order; empty when it takes it.
std::vector<FieldError> inputProblems(const MaintenanceWindowInput& input);

// The occurrences of an input without problems that end after `after`, soonest first, at most
// `count`; none for an input with problems. A rule is followed for a bounded number of periods
// from the first start (or, without COUNT, from shortly before `after`), so one that falls only
// far ahead may give fewer.
std::vector<MaintenanceOccurrence> occurrencesOf(
    const MaintenanceWindowInput& input, std::chrono::sys_seconds after, std::size_t count);

}  // namespace brisalune::demo

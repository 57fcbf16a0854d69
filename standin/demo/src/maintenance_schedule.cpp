#include <brisalune/demo/maintenance_schedule.hpp>

#include <brisalune/client/maintenance/recurrence.hpp>
#include <brisalune/client/maintenance/wall_clock.hpp>
#include <brisalune/platform/calendar.hpp>
#include <brisalune/platform/text.hpp>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace brisalune::demo {

namespace {

namespace chrono = std::chrono;
using chrono::sys_days;
using chrono::sys_seconds;
using Pattern = MaintenanceRecurrence::Pattern;
using End = MaintenanceRecurrence::End;

// Longer occurrences are refused, which also keeps every end within reach of arithmetic.
constexpr std::int64_t longestMinutes = 366 * 24 * 60;
// How many dates (or empty periods) of a rule one answer looks at, so that no rule keeps the
// service busy.
constexpr std::int64_t stepsTaken = 4000;
// Dates past this year end a rule.
constexpr int lastYear = 9999;

constexpr std::string_view notWallClock = "not a wall-clock time such as 2024-05-01T09:30";

// An input as the schedule reads it.
struct Schedule {
    platform::GregorianCalendar calendar;
    sys_seconds start;
    chrono::seconds length;
    std::optional<MaintenanceRecurrence> rule;  // none: once
    std::vector<sys_seconds> skipped;
};

struct Reading {
    std::vector<FieldError> problems;
    std::optional<Schedule> schedule;  // when there are none
};

Reading read(const MaintenanceWindowInput& input) {
    Reading out;
    const auto problem = [&](std::string field, std::string_view reason) {
        out.problems.push_back({std::move(field), std::string(reason)});
    };
    if (platform::trimmed(input.name, platform::isWhitespaceOrNewline).empty()) problem("name", "must not be blank");
    const auto named = platform::TimeZone::named(input.timezone);
    if (!named) problem("timezone", "names no time zone");
    const auto zone = named.value_or(platform::TimeZone::gmt());
    const auto wallClock = [&](const std::string& text) { return MaintenanceWallClock::parse(text, zone); };

    const auto start = wallClock(input.startsAt);
    if (!start) problem("starts_at", notWallClock);
    chrono::seconds length{0};
    std::optional<MaintenanceRecurrence> rule;
    std::vector<sys_seconds> skipped;
    if (!input.isRecurring()) {
        const auto end = input.endsAt ? wallClock(*input.endsAt) : std::nullopt;
        if (!input.endsAt) {
            problem("ends_at", "required for a one-off window");
        } else if (!end) {
            problem("ends_at", notWallClock);
        } else if (start && *end <= *start) {
            problem("ends_at", "must be after starts_at");
        } else if (start) {
            length = *end - *start;
        }
    } else {
        const auto minutes = input.durationMinutes.value_or(0);
        if (minutes < 1 || minutes > longestMinutes) {
            problem("duration_minutes", "must be 1 to " + std::to_string(longestMinutes) + " minutes");
        }
        length = chrono::minutes(minutes);
        rule = MaintenanceRecurrence::initFromRule(input.rrule);
        if (rule->kind() == MaintenanceRecurrence::Kind::custom) problem("rrule", "unsupported recurrence rule");
        for (std::size_t i = 0; i < input.exdates.size(); ++i) {
            const auto date = wallClock(input.exdates[i]);
            if (!date) problem("exdates[" + std::to_string(i) + "]", notWallClock);
            if (date) skipped.push_back(*date);
        }
    }
    if (input.statusPage && input.components.empty()) problem("components", "pick the components to show it on");
    if (out.problems.empty()) {
        out.schedule = Schedule{platform::GregorianCalendar(zone), *start, length, std::move(rule), std::move(skipped)};
    }
    return out;
}

std::int64_t floorDivide(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

chrono::weekday chronoWeekday(MaintenanceRecurrence::Weekday day) {
    return chrono::weekday{static_cast<unsigned>(day) + 1};  // Monday is 1; 7 is Sunday
}

// A pattern's dates, period by period: a period is `interval` days, weeks (from Monday) or
// months, counted from the first start's, and holds the dates the pattern names in it.
class PatternDates {
public:
    PatternDates(const Pattern& pattern, sys_days first)
        : pattern_(pattern)
        , first_(first)
        , monday_(first - (chrono::weekday(first) - chrono::Monday))
        , month_(chrono::year_month_day(first).year() / chrono::year_month_day(first).month())
        , interval_(pattern.interval().value_or(1)) {}

    // The period that holds `date`; below 0 before the first.
    std::int64_t periodOf(sys_days date) const {
        std::int64_t units = 0;
        switch (pattern_.kind()) {
            case MaintenanceRecurrence::Kind::daily: units = (date - first_).count(); break;
            case MaintenanceRecurrence::Kind::weekly: units = floorDivide((date - monday_).count(), 7); break;
            default: {
                const chrono::year_month_day day(date);
                units = (int(day.year()) - int(month_.year())) * 12 +
                        (static_cast<int>(unsigned(day.month())) - static_cast<int>(unsigned(month_.month())));
            }
        }
        return floorDivide(units, interval_);
    }

    // The period's dates, ascending; none once the periods pass the calendar's last year.
    std::optional<std::vector<sys_days>> datesOf(std::int64_t period) const {
        const std::int64_t reach = pattern_.kind() == MaintenanceRecurrence::Kind::daily    ? 3'660'000
                                   : pattern_.kind() == MaintenanceRecurrence::Kind::weekly ? 523'000
                                                                                            : 120'000;
        if (period > 0 && interval_ > reach / period) return std::nullopt;
        const std::int64_t offset = period * interval_;
        std::vector<sys_days> dates;
        if (pattern_.get<Pattern::Daily>()) dates.push_back(first_ + chrono::days(offset));
        if (const auto* weekly = pattern_.get<Pattern::Weekly>()) {
            const sys_days week = monday_ + chrono::days(7 * offset);
            if (weekly->weekdays.empty()) dates.push_back(week + (chrono::weekday(first_) - chrono::Monday));
            for (const auto day : weekly->weekdays) dates.push_back(week + (chronoWeekday(day) - chrono::Monday));
        }
        if (const auto* onDay = pattern_.get<Pattern::MonthlyOnDay>()) {
            const auto date = monthAt(offset) / chrono::day(static_cast<unsigned>(onDay->day));
            if (date.ok()) dates.push_back(date);  // months without that day are passed over
        }
        if (const auto* onWeekday = pattern_.get<Pattern::MonthlyOnWeekday>()) {
            const auto weekday = chronoWeekday(onWeekday->weekday);
            if (onWeekday->ordinal < 0) {
                dates.push_back(monthAt(offset) / weekday[chrono::last]);
            } else {
                dates.push_back(monthAt(offset) / weekday[static_cast<unsigned>(onWeekday->ordinal)]);
            }
        }
        // Only a month can hold no date.
        const sys_days last = dates.empty() ? sys_days(monthAt(offset) / chrono::day(1)) : dates.back();
        if (int(chrono::year_month_day(last).year()) > lastYear) return std::nullopt;
        return dates;
    }

private:
    chrono::year_month monthAt(std::int64_t offset) const { return month_ + chrono::months(offset); }

    const Pattern& pattern_;
    sys_days first_;
    sys_days monday_;
    chrono::year_month month_;
    std::int64_t interval_;
};

MaintenanceOccurrence occurrence(sys_seconds start, chrono::seconds length) {
    return {start.time_since_epoch().count(), (start + length).time_since_epoch().count()};
}

std::vector<MaintenanceOccurrence> expand(const Schedule& schedule, sys_seconds after, std::size_t count) {
    const auto fields = schedule.calendar.fields(schedule.start);
    if (!fields || fields->year < 1 || fields->year > lastYear) return {};
    const sys_days first = chrono::year_month_day(
        chrono::year(static_cast<int>(fields->year)),
        chrono::month(static_cast<unsigned>(fields->month)),
        chrono::day(static_cast<unsigned>(fields->day)));
    const PatternDates dates(schedule.rule->pattern, first);
    const auto* limit = schedule.rule->end.get<End::Count>();
    const auto* until = schedule.rule->end.get<End::Until>();

    // Without a count the periods long over need not be walked through: two days before the
    // earliest start still running covers any zone's offset.
    std::int64_t period = 0;
    if (!limit) {
        const auto earliest = chrono::floor<chrono::days>(after - schedule.length) - chrono::days(2);
        period = std::max<std::int64_t>(0, dates.periodOf(earliest) - 1);
    }
    std::vector<MaintenanceOccurrence> out;
    std::int64_t made = 0;
    for (std::int64_t steps = 0; steps < stepsTaken; ++period) {
        const auto days = dates.datesOf(period);
        if (!days) break;
        steps += std::max<std::int64_t>(1, static_cast<std::int64_t>(days->size()));
        for (const auto date : *days) {
            if (date < first) continue;
            const chrono::year_month_day day(date);
            const auto start = schedule.calendar.instant(
                int(day.year()), unsigned(day.month()), unsigned(day.day()), fields->hour, fields->minute);
            if (!start) continue;
            if ((limit && ++made > limit->count) || (until && *start > until->instant)) return out;
            if (std::ranges::find(schedule.skipped, *start) != schedule.skipped.end()) continue;
            if (*start + schedule.length <= after) continue;
            out.push_back(occurrence(*start, schedule.length));
            if (out.size() == count) return out;
        }
    }
    return out;
}

}  // namespace

std::vector<FieldError> inputProblems(const MaintenanceWindowInput& input) { return read(input).problems; }

std::vector<MaintenanceOccurrence> occurrencesOf(
    const MaintenanceWindowInput& input, std::chrono::sys_seconds after, std::size_t count) {
    const auto reading = read(input);
    if (!reading.schedule || count == 0) return {};
    const auto& schedule = *reading.schedule;
    if (!schedule.rule) {
        if (schedule.start + schedule.length <= after) return {};
        return {occurrence(schedule.start, schedule.length)};
    }
    return expand(schedule, after, count);
}

}  // namespace brisalune::demo

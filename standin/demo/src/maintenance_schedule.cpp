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

// An input as the schedule reads it.
struct Schedule {
    platform::GregorianCalendar calendar;
    sys_seconds start;
    chrono::seconds length;
    std::optional<MaintenanceRecurrence> rule;  // none: once
    std::vector<sys_seconds> skipped;
};

// Reads an input's fields in their order, noting what it refuses. The reasons are shown to
// people as they stand, without the field.
class InputReader {
public:
    explicit InputReader(const MaintenanceWindowInput& input)
        : input_(input), zone_(platform::TimeZone::named(input.timezone).value_or(platform::TimeZone::gmt())) {}

    std::vector<FieldError> problems;

    std::optional<Schedule> read() {
        if (platform::trimmed(input_.name, platform::isWhitespaceOrNewline).empty()) {
            refuse("name", "The name must not be blank.");
        }
        if (!platform::TimeZone::named(input_.timezone)) refuse("timezone", "No time zone has that name.");
        const auto start = wallClock(input_.startsAt, "starts_at", "The start");
        Schedule schedule{platform::GregorianCalendar(zone_), start.value_or(sys_seconds{}), {}, {}, {}};
        if (input_.isRecurring()) {
            readRecurrence(schedule);
        } else {
            readEnd(schedule, start);
        }
        if (input_.statusPage && input_.components.empty()) {
            refuse("components", "Pick at least one component to show it on.");
        }
        if (!problems.empty()) return std::nullopt;
        return schedule;
    }

private:
    void refuse(std::string field, std::string reason) { problems.push_back({std::move(field), std::move(reason)}); }

    std::optional<sys_seconds> wallClock(const std::string& text, std::string field, std::string_view what) {
        auto instant = MaintenanceWallClock::parse(text, zone_);
        if (!instant)
            refuse(std::move(field), std::string(what) + " is not a wall-clock time such as 2024-05-01T09:30.");
        return instant;
    }

    void readEnd(Schedule& schedule, std::optional<sys_seconds> start) {
        if (!input_.endsAt) return refuse("ends_at", "A one-off window needs an end.");
        const auto end = wallClock(*input_.endsAt, "ends_at", "The end");
        if (!end || !start) return;
        if (*end <= *start) return refuse("ends_at", "The end must come after the start.");
        schedule.length = *end - *start;
    }

    void readRecurrence(Schedule& schedule) {
        const auto minutes = input_.durationMinutes.value_or(0);
        if (minutes < 1 || minutes > longestMinutes) {
            refuse("duration_minutes", "Each occurrence lasts 1 to " + std::to_string(longestMinutes) + " minutes.");
        } else {
            schedule.length = chrono::minutes(minutes);
        }
        schedule.rule = MaintenanceRecurrence::initFromRule(input_.rrule);
        if (schedule.rule->kind() == MaintenanceRecurrence::Kind::custom) {
            refuse("rrule", "unsupported recurrence rule");
        }
        for (std::size_t i = 0; i < input_.exdates.size(); ++i) {
            const auto field = "exdates[" + std::to_string(i) + "]";
            if (const auto date = wallClock(input_.exdates[i], field, "A skipped date")) {
                schedule.skipped.push_back(*date);
            }
        }
    }

    const MaintenanceWindowInput& input_;
    platform::TimeZone zone_;
};

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
                units = (day.year() / day.month() - month_).count();
            }
        }
        return floorDivide(units, interval_);
    }

    // The period's dates, ascending; none once the periods pass the calendar's last year.
    std::optional<std::vector<sys_days>> datesOf(std::int64_t period) const {
        if (period > 0 && interval_ > reach() / period) return std::nullopt;
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
        if (static_cast<int>(chrono::year_month_day(last).year()) > lastYear) return std::nullopt;
        return dates;
    }

private:
    // The most units from the first start that can still fall before the calendar's last year.
    std::int64_t reach() const {
        switch (pattern_.kind()) {
            case MaintenanceRecurrence::Kind::daily: return 3'660'000;
            case MaintenanceRecurrence::Kind::weekly: return 523'000;
            default: return 120'000;
        }
    }
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
                static_cast<int>(day.year()),
                static_cast<unsigned>(day.month()),
                static_cast<unsigned>(day.day()),
                fields->hour,
                fields->minute);
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

std::vector<FieldError> inputProblems(const MaintenanceWindowInput& input) {
    InputReader reader(input);
    reader.read();
    return std::move(reader.problems);
}

std::vector<MaintenanceOccurrence> occurrencesOf(
    const MaintenanceWindowInput& input, std::chrono::sys_seconds after, std::size_t count) {
    const auto schedule = InputReader(input).read();
    if (!schedule || count == 0) return {};
    if (!schedule->rule) {
        if (schedule->start + schedule->length <= after) return {};
        return {occurrence(schedule->start, schedule->length)};
    }
    return expand(*schedule, after, count);
}

}  // namespace brisalune::demo

#include <brisalune/client/maintenance/format.hpp>

#include <brisalune/client/maintenance/wall_clock.hpp>

#include <array>
#include <utility>
#include <vector>

namespace brisalune::MaintenanceFormat {

namespace {

using std::chrono::sys_seconds;
using Pattern = MaintenanceRecurrence::Pattern;
using End = MaintenanceRecurrence::End;

// The skeletons of the texts: the locale orders and words the fields.
constexpr std::string_view untilFields = "dMMMy";
constexpr std::string_view dateFields = "EEEdMMMy";
constexpr std::string_view timeFields = "HHmm";  // 24-hour, whatever the locale's own clock

sys_seconds instantOf(std::int64_t seconds) { return sys_seconds{std::chrono::seconds{seconds}}; }

// "Every day", "Every 3 weeks".
std::string every(std::int64_t interval, std::string_view unit) {
    if (interval == 1) return "Every " + std::string(unit);
    return "Every " + std::to_string(interval) + " " + std::string(unit) + "s";
}

std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string out;
    for (const std::string& part : parts) {
        if (!out.empty()) out += separator;
        out += part;
    }
    return out;
}

// "2 checks", "1 rule".
std::string counted(std::size_t count, std::string_view noun) {
    return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

struct SectionKey {
    std::string_view key;
    Section section;
};

constexpr std::array<SectionKey, 11> sectionKeys{
    {{"name", Section::details},
     {"description", Section::details},
     {"timezone", Section::schedule},
     {"starts_at", Section::schedule},
     {"ends_at", Section::schedule},
     {"duration_minutes", Section::schedule},
     {"rrule", Section::recurrence},
     {"exdates", Section::recurrence},
     {"scope", Section::scope},
     {"status_page", Section::statusPage},
     {"components", Section::statusPage}}};

}  // namespace

Section section(std::string_view path) {
    const std::string_view first = path.substr(0, path.find_first_of(".["));
    for (const auto& [key, section] : sectionKeys) {
        if (key == first) return section;
    }
    return Section::other;
}

std::string untilDate(sys_seconds instant, const platform::TimeZone& zone, const platform::Locale& locale) {
    return platform::formatDate(instant, zone, untilFields, locale);
}

std::string timeOfDay(sys_seconds instant, const platform::TimeZone& zone, const platform::Locale& locale) {
    return platform::formatDate(instant, zone, timeFields, locale);
}

std::string dateTime(sys_seconds instant, const platform::TimeZone& zone, const platform::Locale& locale) {
    return platform::formatDate(instant, zone, dateFields, locale) + ", " + timeOfDay(instant, zone, locale);
}

std::string dateTime(std::int64_t seconds, const platform::TimeZone& zone, const platform::Locale& locale) {
    return dateTime(instantOf(seconds), zone, locale);
}

std::string occurrenceRange(
    std::int64_t start, std::int64_t end, const platform::TimeZone& zone, const platform::Locale& locale) {
    const sys_seconds from = instantOf(start);
    const sys_seconds to = instantOf(end);
    const bool sameDay = platform::GregorianCalendar(zone).isSameDay(from, to);
    return dateTime(from, zone, locale) + " \u2013 " +
           (sameDay ? timeOfDay(to, zone, locale) : dateTime(to, zone, locale));
}

std::string wallClockText(std::string_view text, const platform::TimeZone& zone, const platform::Locale& locale) {
    const auto instant = MaintenanceWallClock::parse(text, zone);
    return instant ? dateTime(*instant, zone, locale) : std::string(text);
}

std::string duration(std::int64_t minutes) {
    std::vector<std::string> parts;
    if (minutes >= 1440) parts.push_back(std::to_string(minutes / 1440) + " d");
    const std::int64_t rest = minutes % 1440;
    if (rest >= 60) parts.push_back(std::to_string(rest / 60) + " h");
    const std::int64_t left = minutes % 60;
    if (left >= 1 || parts.empty()) parts.push_back(std::to_string(left) + " min");
    return joined(parts, " ");
}

std::string ordinalWord(std::int64_t ordinal) {
    switch (ordinal) {
        case -1: return "last";
        case 1: return "first";
        case 2: return "second";
        case 3: return "third";
        case 4: return "fourth";
        default: return std::to_string(ordinal) + ".";
    }
}

std::string patternSummary(const Pattern& pattern) {
    if (const auto* daily = pattern.get<Pattern::Daily>()) return every(daily->interval, "day");
    if (const auto* weekly = pattern.get<Pattern::Weekly>()) {
        std::string text = every(weekly->interval, "week");
        std::vector<std::string> days;
        for (auto day : weekly->weekdays) days.emplace_back(MaintenanceRecurrence::shortName(day));
        if (!days.empty()) text += " on " + joined(days, ", ");
        return text;
    }
    if (const auto* onDay = pattern.get<Pattern::MonthlyOnDay>()) {
        return every(onDay->interval, "month") + " on day " + std::to_string(onDay->day);
    }
    if (const auto* onWeekday = pattern.get<Pattern::MonthlyOnWeekday>()) {
        return every(onWeekday->interval, "month") + " on the " + ordinalWord(onWeekday->ordinal) + " " +
               std::string(MaintenanceRecurrence::name(onWeekday->weekday));
    }
    return "Custom rule: " + pattern.get<Pattern::Custom>()->rule;
}

std::string recurrenceSummary(
    const MaintenanceRecurrence& recurrence, const platform::TimeZone& zone, const platform::Locale& locale) {
    std::string text = patternSummary(recurrence.pattern);
    if (const auto* until = recurrence.end.get<End::Until>()) {
        text += ", until " + untilDate(until->instant, zone, locale);
    } else if (const auto* count = recurrence.end.get<End::Count>()) {
        text += count->count == 1 ? ", once" : ", " + std::to_string(count->count) + " times";
    }
    return text;
}

std::string scheduleSummary(const MaintenanceWindow& window, const platform::Locale& locale) {
    const MaintenanceWindowInput& input = window.input;
    if (input.rrule.empty()) return "Once";
    std::string text = recurrenceSummary(MaintenanceRecurrence::initFromRule(input.rrule), window.zone(), locale);
    if (input.durationMinutes) text += " \u00b7 " + duration(*input.durationMinutes);
    return text;
}

std::string scopeSummary(const MaintenanceScope& scope) {
    if (scope.project) return "Whole project";
    std::vector<std::string> parts;
    if (!scope.checks.empty()) parts.push_back(counted(scope.checks.size(), "check"));
    if (!scope.sources.empty()) parts.push_back(counted(scope.sources.size(), "source"));
    if (!scope.rules.empty()) parts.push_back(counted(scope.rules.size(), "rule"));
    return parts.empty() ? "Nothing" : joined(parts, ", ");
}

std::optional<std::string> statusPageSummary(const MaintenanceWindowInput& input) {
    if (!input.statusPage) return std::nullopt;
    return "On status pages \u00b7 " + counted(input.components.size(), "component");
}

}  // namespace brisalune::MaintenanceFormat

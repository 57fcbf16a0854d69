#include <brisalune/client/maintenance/recurrence.hpp>

#include <brisalune/client/detail/log_text.hpp>
#include <brisalune/platform/text.hpp>

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>

namespace brisalune {

namespace {

using Recurrence = MaintenanceRecurrence;
using Weekday = Recurrence::Weekday;
using Pattern = Recurrence::Pattern;
using End = Recurrence::End;

static_assert(
    std::variant_size_v<decltype(Pattern::value)> == Recurrence::allKinds.size(),
    "one pattern case per kind, in the kinds' order");

struct WeekdayNames {
    std::string_view code;
    std::string_view name;
    std::string_view shortName;
};

constexpr std::array<WeekdayNames, 7> weekdayNames{
    {{"MO", "Monday", "Mon"},
     {"TU", "Tuesday", "Tue"},
     {"WE", "Wednesday", "Wed"},
     {"TH", "Thursday", "Thu"},
     {"FR", "Friday", "Fri"},
     {"SA", "Saturday", "Sat"},
     {"SU", "Sunday", "Sun"}}};

constexpr std::array<std::string_view, 5> kindLabels{
    "Daily", "Weekly", "Monthly on a day", "Monthly on a weekday", "Custom rule"};

const WeekdayNames& names(Weekday day) { return weekdayNames[static_cast<std::size_t>(day)]; }

// UNTIL is written and read in UTC, to the second, as yyyyMMdd'T'HHmmss'Z'.
const platform::GregorianCalendar& utc() {
    static const platform::GregorianCalendar calendar(platform::TimeZone::gmt());
    return calendar;
}

std::string untilText(std::chrono::sys_seconds instant) {
    // Outside the calendar's range every field prints as 0, which reads back as nothing.
    const auto fields = utc().fields(instant).value_or(platform::CalendarFields{0, 0, 0, 0, 0, 0, 0});
    char text[48];
    std::snprintf(
        text,
        sizeof text,
        "%04lld%02d%02dT%02d%02d%02dZ",
        static_cast<long long>(fields.year),
        fields.month,
        fields.day,
        fields.hour,
        fields.minute,
        fields.second);
    return text;
}

// Digits only, as many as given.
std::optional<std::int64_t> digits(std::string_view text) {
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return signedDecimal(text);
}

std::optional<std::chrono::sys_seconds> parseUntil(std::string_view text) {
    if (text.size() != 16 || text[8] != 'T' || text[15] != 'Z') return std::nullopt;
    const auto year = digits(text.substr(0, 4));
    const auto month = digits(text.substr(4, 2));
    const auto day = digits(text.substr(6, 2));
    const auto hour = digits(text.substr(9, 2));
    const auto minute = digits(text.substr(11, 2));
    const auto second = digits(text.substr(13, 2));
    if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
    const auto instant = utc().instant(*year, *month, *day, *hour, *minute, *second);
    if (!instant) return std::nullopt;
    const auto back = utc().fields(*instant);  // the 30th of February rolls over: refuse it
    if (!back || back->month != *month || back->day != *day) return std::nullopt;
    return instant;
}

// A decimal integer of at least 1 (a sign allowed).
std::optional<std::int64_t> positive(std::string_view text) {
    const auto value = signedDecimal(text);
    if (!value || *value < 1) return std::nullopt;
    return value;
}

// "KEY=VALUE": "=" at the start skipped, the value everything after the key's "=". Both must
// hold something.
std::optional<std::pair<std::string_view, std::string_view>> keyAndValue(std::string_view part) {
    const std::size_t start = part.find_first_not_of('=');
    if (start == std::string_view::npos) return std::nullopt;
    part.remove_prefix(start);
    const std::size_t equals = part.find('=');
    if (equals == std::string_view::npos || equals + 1 == part.size()) return std::nullopt;
    return std::pair{part.substr(0, equals), part.substr(equals + 1)};
}

// The parts by upper-cased key, values upper-cased; none for a malformed part or a repeated key.
std::optional<std::map<std::string, std::string>> ruleParts(std::string_view text) {
    std::map<std::string, std::string> parts;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t semicolon = std::min(text.find(';', at), text.size());
        const std::string_view part = text.substr(at, semicolon - at);
        at = semicolon + 1;
        if (part.empty()) continue;
        const auto pair = keyAndValue(part);
        if (!pair) return std::nullopt;
        if (!parts.emplace(platform::uppercased(pair->first), platform::uppercased(pair->second)).second) {
            return std::nullopt;
        }
    }
    return parts;
}

bool onlyKnownKeys(const std::map<std::string, std::string>& parts) {
    static constexpr std::array<std::string_view, 6> known{"FREQ", "INTERVAL", "BYDAY", "BYMONTHDAY", "UNTIL", "COUNT"};
    return std::all_of(parts.begin(), parts.end(), [](const auto& part) {
        return std::find(known.begin(), known.end(), part.first) != known.end();
    });
}

const std::string* find(const std::map<std::string, std::string>& parts, const char* key) {
    const auto found = parts.find(key);
    return found == parts.end() ? nullptr : &found->second;
}

std::optional<End> readEnd(const std::string* until, const std::string* count) {
    if (until && count) return std::nullopt;
    if (until) {
        const auto instant = parseUntil(*until);
        if (!instant) return std::nullopt;
        return End{End::Until{*instant}};
    }
    if (count) {
        const auto value = positive(*count);
        if (!value) return std::nullopt;
        return End{End::Count{*value}};
    }
    return End{};
}

// Each item one code, none twice; the days come back Monday first.
std::optional<std::vector<Weekday>> readWeekdays(std::string_view list) {
    std::array<bool, 7> seen{};
    std::size_t at = 0;
    while (at <= list.size()) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        const std::string_view item = list.substr(at, comma - at);
        at = comma + 1;
        if (item.empty()) continue;
        const auto day = Recurrence::weekday(item);
        if (!day || seen[static_cast<std::size_t>(*day)]) return std::nullopt;
        seen[static_cast<std::size_t>(*day)] = true;
    }
    std::vector<Weekday> days;
    for (Weekday day : Recurrence::allWeekdays) {
        if (seen[static_cast<std::size_t>(day)]) days.push_back(day);
    }
    return days;
}

// One item such as "-1FR" or "2TU": an ordinal of -1 or 1 to 4, then a code.
std::optional<Pattern::MonthlyOnWeekday> readOrdinalWeekday(std::string_view item, std::int64_t interval) {
    if (item.size() < 3) return std::nullopt;
    const auto day = Recurrence::weekday(item.substr(item.size() - 2));
    const auto ordinal = signedDecimal(item.substr(0, item.size() - 2));
    if (!day || !ordinal || *ordinal == 0 || *ordinal < -1 || *ordinal > 4) return std::nullopt;
    return Pattern::MonthlyOnWeekday{interval, *ordinal, *day};
}

std::optional<Pattern> readPattern(const std::map<std::string, std::string>& parts, std::int64_t interval) {
    const std::string& frequency = parts.at("FREQ");
    const std::string* byDay = find(parts, "BYDAY");
    const std::string* byMonthDay = find(parts, "BYMONTHDAY");
    if (frequency == "DAILY") {
        if (byDay || byMonthDay) return std::nullopt;
        return Pattern{Pattern::Daily{interval}};
    }
    if (frequency == "WEEKLY") {
        if (byMonthDay) return std::nullopt;
        if (!byDay) return Pattern{Pattern::Weekly{interval, {}}};
        auto days = readWeekdays(*byDay);
        if (!days) return std::nullopt;
        return Pattern{Pattern::Weekly{interval, std::move(*days)}};
    }
    if (frequency == "MONTHLY") {
        if ((byDay != nullptr) == (byMonthDay != nullptr)) return std::nullopt;
        if (byMonthDay) {
            const auto day = signedDecimal(*byMonthDay);
            if (!day || *day < 1 || *day > 31) return std::nullopt;
            return Pattern{Pattern::MonthlyOnDay{interval, *day}};
        }
        auto onWeekday = readOrdinalWeekday(*byDay, interval);
        if (!onWeekday) return std::nullopt;
        return Pattern{*onWeekday};
    }
    return std::nullopt;
}

std::string frequencyPart(const Pattern& pattern) {
    switch (pattern.kind()) {
        case Recurrence::Kind::daily: return "FREQ=DAILY";
        case Recurrence::Kind::weekly: return "FREQ=WEEKLY";
        default: return "FREQ=MONTHLY";
    }
}

// BYDAY or BYMONTHDAY, when the pattern has one.
std::optional<std::string> dayPart(const Pattern& pattern) {
    if (const auto* weekly = pattern.get<Pattern::Weekly>()) {
        std::string codes;
        for (Weekday day : Recurrence::allWeekdays) {
            if (std::find(weekly->weekdays.begin(), weekly->weekdays.end(), day) == weekly->weekdays.end()) continue;
            if (!codes.empty()) codes += ',';
            codes += Recurrence::code(day);
        }
        if (codes.empty()) return std::nullopt;
        return "BYDAY=" + codes;
    }
    if (const auto* onDay = pattern.get<Pattern::MonthlyOnDay>()) return "BYMONTHDAY=" + std::to_string(onDay->day);
    if (const auto* onWeekday = pattern.get<Pattern::MonthlyOnWeekday>()) {
        return "BYDAY=" + std::to_string(onWeekday->ordinal) + std::string(Recurrence::code(onWeekday->weekday));
    }
    return std::nullopt;
}

std::optional<std::string> endPart(const End& end) {
    if (const auto* until = end.get<End::Until>()) return "UNTIL=" + untilText(until->instant);
    if (const auto* count = end.get<End::Count>()) return "COUNT=" + std::to_string(count->count);
    return std::nullopt;
}

}  // namespace

// ---- names ----

std::string_view MaintenanceRecurrence::code(Weekday day) noexcept { return names(day).code; }
std::string_view MaintenanceRecurrence::name(Weekday day) noexcept { return names(day).name; }
std::string_view MaintenanceRecurrence::shortName(Weekday day) noexcept { return names(day).shortName; }

std::optional<Weekday> MaintenanceRecurrence::weekday(std::string_view code) noexcept {
    for (Weekday day : allWeekdays) {
        if (names(day).code == code) return day;
    }
    return std::nullopt;
}

std::optional<Weekday> MaintenanceRecurrence::fromCalendarWeekday(std::int64_t number) noexcept {
    if (number < 1 || number > 7) return std::nullopt;
    return number == 1 ? Weekday::sunday : static_cast<Weekday>(number - 2);
}

std::string_view MaintenanceRecurrence::label(Kind kind) noexcept { return kindLabels[static_cast<std::size_t>(kind)]; }

std::optional<MaintenanceRecurrence::Kind> MaintenanceRecurrence::kind(std::string_view label) noexcept {
    for (Kind kind : allKinds) {
        if (kindLabels[static_cast<std::size_t>(kind)] == label) return kind;
    }
    return std::nullopt;
}

std::optional<std::int64_t> MaintenanceRecurrencePattern::interval() const noexcept {
    return std::visit(
        [](const auto& pattern) -> std::optional<std::int64_t> {
            if constexpr (std::is_same_v<std::decay_t<decltype(pattern)>, Custom>) {
                return std::nullopt;
            } else {
                return pattern.interval;
            }
        },
        value);
}

// ---- writing and reading ----

std::string MaintenanceRecurrence::rrule() const {
    if (const auto* custom = pattern.get<Pattern::Custom>()) return custom->rule;
    std::string text = frequencyPart(pattern);
    const auto append = [&](const std::optional<std::string>& part) {
        if (part) text += ";" + *part;
    };
    const std::int64_t every = *pattern.interval();
    if (every >= 2) append("INTERVAL=" + std::to_string(every));
    append(dayPart(pattern));
    append(endPart(end));
    return text;
}

std::optional<MaintenanceRecurrence> MaintenanceRecurrence::parse(std::string_view text) {
    const auto parts = ruleParts(text);
    if (!parts || parts->empty() || !parts->contains("FREQ") || !onlyKnownKeys(*parts)) return std::nullopt;
    std::int64_t every = 1;
    if (const std::string* interval = find(*parts, "INTERVAL")) {
        const auto value = positive(*interval);
        if (!value) return std::nullopt;
        every = *value;
    }
    auto end = readEnd(find(*parts, "UNTIL"), find(*parts, "COUNT"));
    if (!end) return std::nullopt;
    auto pattern = readPattern(*parts, every);
    if (!pattern) return std::nullopt;
    return MaintenanceRecurrence{std::move(*pattern), std::move(*end)};
}

MaintenanceRecurrence MaintenanceRecurrence::initFromRule(std::string_view text) {
    const std::string_view rule = platform::trimmed(text, platform::isSpaceOrTab);
    if (auto read = parse(rule)) return std::move(*read);
    return MaintenanceRecurrence{Pattern{Pattern::Custom{std::string(rule)}}, End{}};
}

// ---- editing ----

void MaintenanceRecurrence::setInterval(std::optional<std::int64_t> value) {
    if (!value) return;
    const std::int64_t every = std::max<std::int64_t>(*value, 1);
    std::visit(
        [&](auto& current) {
            if constexpr (!std::is_same_v<std::decay_t<decltype(current)>, Pattern::Custom>) current.interval = every;
        },
        pattern.value);
}

void MaintenanceRecurrence::setKind(Kind kind, std::chrono::sys_seconds anchor, const platform::TimeZone& zone) {
    if (kind == this->kind()) return;
    const auto fields = platform::GregorianCalendar(zone).fields(anchor);
    const Weekday anchorWeekday =
        fields ? fromCalendarWeekday(fields->weekday).value_or(Weekday::sunday) : Weekday::sunday;
    const std::int64_t every = interval().value_or(1);
    switch (kind) {
        case Kind::daily: pattern = Pattern{Pattern::Daily{every}}; break;
        case Kind::weekly: pattern = Pattern{Pattern::Weekly{every, {anchorWeekday}}}; break;
        case Kind::monthlyOnDay: pattern = Pattern{Pattern::MonthlyOnDay{every, fields ? fields->day : 1}}; break;
        case Kind::monthlyOnWeekday: {
            const std::int64_t ordinal = fields ? fields->weekdayOrdinal() : 1;
            pattern = Pattern{Pattern::MonthlyOnWeekday{every, ordinal >= 5 ? -1 : ordinal, anchorWeekday}};
            break;
        }
        case Kind::custom:
            pattern = Pattern{Pattern::Custom{rrule()}};
            end = End{};
            break;
    }
}

}  // namespace brisalune

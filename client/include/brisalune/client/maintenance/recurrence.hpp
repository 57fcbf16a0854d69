#pragma once

// How a recurring maintenance window repeats: a small model of the iCalendar recurrence rule
// (RFC 5545) that the editor can show. The writer turns a model into rule text; the reader turns
// rule text back into a model and gives up on anything outside the model, which then survives
// as `Custom` text and is written back unchanged. The service expands rules; the client never
// computes occurrences.

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/platform/calendar.hpp>

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace brisalune {

// The days of the week, in this order; on the wire the two-letter code.
enum class MaintenanceRecurrenceWeekday { monday, tuesday, wednesday, thursday, friday, saturday, sunday };

// The pattern kinds the editor offers, with their labels.
enum class MaintenanceRecurrenceKind { daily, weekly, monthlyOnDay, monthlyOnWeekday, custom };

// How the occurrences repeat (MaintenanceRecurrence::Pattern). The model holds any values it is
// given; the limits are the reader's, `setKind`'s and the editor's.
struct MaintenanceRecurrencePattern {
    using Weekday = MaintenanceRecurrenceWeekday;

    struct Daily {  // every `interval` days
        std::int64_t interval = 1;
        friend bool operator==(const Daily&, const Daily&) = default;
    };
    struct Weekly {  // every `interval` weeks on these days, in the order given; none: no day named
        std::int64_t interval = 1;
        std::vector<Weekday> weekdays{};
        friend bool operator==(const Weekly&, const Weekly&) = default;
    };
    struct MonthlyOnDay {  // every `interval` months on that day of the month
        std::int64_t interval = 1;
        std::int64_t day = 1;
        friend bool operator==(const MonthlyOnDay&, const MonthlyOnDay&) = default;
    };
    struct MonthlyOnWeekday {  // every `interval` months on the `ordinal`-th weekday; -1 is the last
        std::int64_t interval = 1;
        std::int64_t ordinal = 1;
        Weekday weekday = Weekday::monday;
        friend bool operator==(const MonthlyOnWeekday&, const MonthlyOnWeekday&) = default;
    };
    struct Custom {  // a rule the model cannot express, exactly as stored
        std::string rule{};
        friend bool operator==(const Custom&, const Custom&) = default;
    };

    // The cases stand in the order of the kinds.
    std::variant<Daily, Weekly, MonthlyOnDay, MonthlyOnWeekday, Custom> value{Daily{}};

    template <class Case>
    const Case* get() const noexcept {
        return std::get_if<Case>(&value);
    }

    MaintenanceRecurrenceKind kind() const noexcept { return static_cast<MaintenanceRecurrenceKind>(value.index()); }
    // None for Custom.
    std::optional<std::int64_t> interval() const noexcept;

    friend bool operator==(const MaintenanceRecurrencePattern&, const MaintenanceRecurrencePattern&) = default;
};

// When the repetition stops (MaintenanceRecurrence::End).
struct MaintenanceRecurrenceEnd {
    struct Until {  // the UNTIL bound, written in UTC
        std::chrono::sys_seconds instant{};
        friend bool operator==(const Until&, const Until&) = default;
    };
    struct Count {  // this many occurrences
        std::int64_t count = 1;
        friend bool operator==(const Count&, const Count&) = default;
    };
    struct Never {
        friend bool operator==(const Never&, const Never&) = default;
    };

    std::variant<Until, Count, Never> value{Never{}};

    template <class Case>
    const Case* get() const noexcept {
        return std::get_if<Case>(&value);
    }

    friend bool operator==(const MaintenanceRecurrenceEnd&, const MaintenanceRecurrenceEnd&) = default;
};

struct MaintenanceRecurrence {
    using Weekday = MaintenanceRecurrenceWeekday;
    using Kind = MaintenanceRecurrenceKind;
    using Pattern = MaintenanceRecurrencePattern;
    using End = MaintenanceRecurrenceEnd;

    static constexpr std::array<Weekday, 7> allWeekdays{
        Weekday::monday,
        Weekday::tuesday,
        Weekday::wednesday,
        Weekday::thursday,
        Weekday::friday,
        Weekday::saturday,
        Weekday::sunday};
    static std::string_view code(Weekday day) noexcept;       // "MO"
    static std::string_view name(Weekday day) noexcept;       // "Monday"
    static std::string_view shortName(Weekday day) noexcept;  // "Mon"
    // From a code, matched exactly ("MO", not "mo").
    static std::optional<Weekday> weekday(std::string_view code) noexcept;
    // From the calendar's weekday number: 1 Sunday, 2 Monday ... 7 Saturday; none otherwise.
    static std::optional<Weekday> fromCalendarWeekday(std::int64_t number) noexcept;

    static constexpr std::array<Kind, 5> allKinds{
        Kind::daily, Kind::weekly, Kind::monthlyOnDay, Kind::monthlyOnWeekday, Kind::custom};
    static std::string_view label(Kind kind) noexcept;  // "Monthly on a day"
    // From a label, matched exactly.
    static std::optional<Kind> kind(std::string_view label) noexcept;

    Pattern pattern{};
    End end{};

    Kind kind() const noexcept { return pattern.kind(); }
    std::optional<std::int64_t> interval() const noexcept { return pattern.interval(); }

    // The rule text. Custom is its text alone (no end); otherwise FREQ, INTERVAL when 2 or more,
    // the days (Monday first, each once) or the day of the month, then UNTIL or COUNT, joined by
    // ";". Checks nothing.
    std::string rrule() const;

    // The model of a rule text, or none when the text is outside it. Never throws.
    static std::optional<MaintenanceRecurrence> parse(std::string_view text);
    // The text trimmed of tabs and blanks (not line breaks) at both ends and read; what the reader
    // gives up on is Custom with the trimmed text and no end.
    static MaintenanceRecurrence initFromRule(std::string_view text);

    // No value changes nothing; else the interval of every kind but Custom becomes the value, at
    // least 1.
    void setInterval(std::optional<std::int64_t> value);
    // Switches to another kind, taking the day, weekday and its ordinal from the anchor in the
    // zone; the interval is kept (1 coming from Custom). Custom holds the whole current rule,
    // end included, and ends never; the other kinds keep the end.
    void setKind(Kind kind, std::chrono::sys_seconds anchor, const platform::TimeZone& zone);

    friend bool operator==(const MaintenanceRecurrence&, const MaintenanceRecurrence&) = default;
};

}  // namespace brisalune

// Hashed as they compare: by case, then by payload.
template <>
struct std::hash<brisalune::MaintenanceRecurrencePattern::Daily> {
    std::size_t operator()(const auto& c) const { return brisalune::hashValues(c.interval); }
};
template <>
struct std::hash<brisalune::MaintenanceRecurrencePattern::Weekly> {
    std::size_t operator()(const auto& c) const { return brisalune::hashValues(c.interval, c.weekdays); }
};
template <>
struct std::hash<brisalune::MaintenanceRecurrencePattern::MonthlyOnDay> {
    std::size_t operator()(const auto& c) const { return brisalune::hashValues(c.interval, c.day); }
};
template <>
struct std::hash<brisalune::MaintenanceRecurrencePattern::MonthlyOnWeekday> {
    std::size_t operator()(const auto& c) const { return brisalune::hashValues(c.interval, c.ordinal, c.weekday); }
};
template <>
struct std::hash<brisalune::MaintenanceRecurrencePattern::Custom> {
    std::size_t operator()(const auto& c) const { return brisalune::hashValues(c.rule); }
};
template <>
struct std::hash<brisalune::MaintenanceRecurrenceEnd::Until> {
    std::size_t operator()(const auto& c) const { return brisalune::hashValues(c.instant); }
};
template <>
struct std::hash<brisalune::MaintenanceRecurrenceEnd::Count> {
    std::size_t operator()(const auto& c) const { return brisalune::hashValues(c.count); }
};
template <>
struct std::hash<brisalune::MaintenanceRecurrenceEnd::Never> {
    std::size_t operator()(const auto&) const { return 0; }
};
template <>
struct std::hash<brisalune::MaintenanceRecurrencePattern> {
    std::size_t operator()(const auto& p) const { return brisalune::hashValues(p.value); }
};
template <>
struct std::hash<brisalune::MaintenanceRecurrenceEnd> {
    std::size_t operator()(const auto& e) const { return brisalune::hashValues(e.value); }
};
template <>
struct std::hash<brisalune::MaintenanceRecurrence> {
    std::size_t operator()(const auto& r) const { return brisalune::hashValues(r.pattern, r.end); }
};

#pragma once

// What makes an alert rule fire: matching events, or the silence of ingest sources for a quiet
// period or past the times of a cron expression. The client carries triggers; the service runs them.

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/client/routing/closed_text.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace brisalune {

struct RuleTrigger {
    enum class Kind { event, sourceSilent };

    // The schedule of a source-silent trigger: a view of the trigger's fields, never on the wire.
    struct Schedule {
        struct Quiet {
            std::int64_t minutes = 0;
            friend bool operator==(const Quiet&, const Quiet&) = default;
        };
        struct Cron {
            std::string expression;
            std::string timezone;
            std::int64_t graceMinutes = 0;
            friend bool operator==(const Cron&, const Cron&) = default;
        };

        std::variant<Quiet, Cron> value;

        template <class Case>
        const Case* get() const noexcept {
            return std::get_if<Case>(&value);
        }

        friend bool operator==(const Schedule&, const Schedule&) = default;
    };

    static constexpr std::int64_t minutesPerYear = 365 * 24 * 60;

    Kind type = Kind::event;
    std::vector<std::string> sources{};
    std::int64_t silentForMinutes = 0;
    std::optional<std::string> cron{};
    std::optional<std::string> timezone{};
    std::optional<std::int64_t> graceMinutes{};

    // Kind event and nothing else: written as {"type":"event"}.
    static RuleTrigger defaultEvent() { return {}; }
    // Source-silent after `minutes` without events.
    static RuleTrigger quiet(std::vector<std::string> sources, std::int64_t minutes);
    // Source-silent past the times of `expression` in `timezone`, with grace minutes.
    static RuleTrigger onCron(
        std::vector<std::string> sources, std::string expression, std::string timezone, std::int64_t graceMinutes);
    // One of the two above, by the schedule's case.
    static RuleTrigger sourceSilent(std::vector<std::string> sources, Schedule schedule);

    // None for an event trigger; a cron expression wins over quiet minutes.
    std::optional<Schedule> schedule() const;

    // Exactly five fields between Unicode white space; the fields themselves are not examined.
    static bool looksLikeCron(std::string_view text);

    friend bool operator==(const RuleTrigger&, const RuleTrigger&) = default;
};

template <>
inline constexpr auto closedTexts<RuleTrigger::Kind> = std::array{
    std::pair{RuleTrigger::Kind::event, std::string_view("event")},
    std::pair{RuleTrigger::Kind::sourceSilent, std::string_view("source_silent")},
};

template <>
inline constexpr auto json::keys<RuleTrigger> = json::object(
    json::field("type", &RuleTrigger::type, json::orDefault(RuleTrigger::Kind::event)),
    json::field("sources", &RuleTrigger::sources, json::omitEmpty),
    json::field("silent_for_minutes", &RuleTrigger::silentForMinutes, json::omitEmpty),
    json::field("cron", &RuleTrigger::cron),
    json::field("timezone", &RuleTrigger::timezone),
    json::field("grace_minutes", &RuleTrigger::graceMinutes));

}  // namespace brisalune

template <>
struct std::hash<brisalune::RuleTrigger> : brisalune::RecordHash<brisalune::RuleTrigger> {};

template <>
struct std::hash<brisalune::RuleTrigger::Schedule> {
    std::size_t operator()(const brisalune::RuleTrigger::Schedule& schedule) const;
};

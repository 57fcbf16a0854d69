#pragma once

// Maintenance windows on the wire: what a window covers, one occurrence, the body that creates,
// changes or previews a window, and a window as the service returns it. Start, end and skipped
// dates are wall-clock texts of the window's own zone (see wall_clock.hpp); the recurrence rule
// travels as opaque text (see recurrence.hpp).

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/platform/calendar.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brisalune {

namespace json {
class Node;
}

// What a window holds back: the whole project, or checks, sources and rules by name.
struct MaintenanceScope {
    bool project = false;
    std::vector<std::string> checks{};
    std::vector<std::string> sources{};
    std::vector<std::string> rules{};

    // The whole project: where new drafts start.
    static const MaintenanceScope& defaultScope();

    // Covers nothing at all.
    bool isEmpty() const noexcept { return !project && checks.empty() && sources.empty() && rules.empty(); }

    friend bool operator==(const MaintenanceScope&, const MaintenanceScope&) = default;
};

// One occurrence, in whole seconds since 1970. Nothing checks that `end` follows `start`.
struct MaintenanceOccurrence {
    std::int64_t start = 0;
    std::int64_t end = 0;

    friend bool operator==(const MaintenanceOccurrence&, const MaintenanceOccurrence&) = default;
};

// The body of creation, change and preview. Whether `rrule` is empty decides alone which of
// "ends_at" (one-off) and "duration_minutes", "rrule", "exdates" (recurring) are written,
// whatever the other fields hold; "exdates" is also left out when empty.
struct MaintenanceWindowInput {
    std::string name{};
    std::string description{};
    std::string timezone{};                         // a zone identifier, sent as typed even when no zone has it
    std::string startsAt{};                         // wall-clock text in that zone
    std::optional<std::string> endsAt{};            // one-off only
    std::optional<std::int64_t> durationMinutes{};  // recurring only
    std::string rrule{};                            // empty: a one-off window
    std::vector<std::string> exdates{};             // skipped starts, wall-clock texts
    MaintenanceScope scope{};
    bool statusPage = false;
    std::vector<std::string> components{};  // status-page component ids

    // Any character at all, blanks included, makes the window recurring.
    bool isRecurring() const noexcept { return !rrule.empty(); }

    friend bool operator==(const MaintenanceWindowInput&, const MaintenanceWindowInput&) = default;
};

// A window as the service returns it: the input's keys stand in the window's own object. Only
// "id", "name", "timezone" and "starts_at" are required.
struct MaintenanceWindow {
    std::string id{};
    MaintenanceWindowInput input{};
    std::optional<std::string> createdBy{};
    std::int64_t createdAt = 0;  // carried as received
    std::int64_t updatedAt = 0;
    bool active = false;  // an occurrence is in progress
    std::optional<MaintenanceOccurrence> current{};
    std::vector<MaintenanceOccurrence> nextOccurrences{};  // in the order received

    // The zone `input.timezone` names; GMT when none has that identifier.
    platform::TimeZone zone() const { return platform::TimeZone::namedOrGmt(input.timezone); }

    friend bool operator==(const MaintenanceWindow&, const MaintenanceWindow&) = default;
};

// clang-format off
template <>
inline constexpr auto json::keys<MaintenanceScope> = json::object(
    json::field("project", &MaintenanceScope::project, json::orEmpty),
    json::field("checks", &MaintenanceScope::checks, json::orEmpty),
    json::field("sources", &MaintenanceScope::sources, json::orEmpty),
    json::field("rules", &MaintenanceScope::rules, json::orEmpty));

template <>
inline constexpr auto json::keys<MaintenanceOccurrence> = json::object(
    json::field("start", &MaintenanceOccurrence::start),
    json::field("end", &MaintenanceOccurrence::end));

template <>
inline constexpr auto json::keys<MaintenanceWindowInput> = json::object(
    json::field("name", &MaintenanceWindowInput::name),
    json::field("description", &MaintenanceWindowInput::description, json::orEmpty),
    json::field("timezone", &MaintenanceWindowInput::timezone),
    json::field("starts_at", &MaintenanceWindowInput::startsAt),
    json::byRules(&MaintenanceWindowInput::endsAt),
    json::byRules(&MaintenanceWindowInput::durationMinutes),
    json::byRules(&MaintenanceWindowInput::rrule),
    json::byRules(&MaintenanceWindowInput::exdates),
    json::byRules(&MaintenanceWindowInput::scope),
    json::byRules(&MaintenanceWindowInput::statusPage),
    json::byRules(&MaintenanceWindowInput::components));

// The keys after "starts_at": read leniently, written by whether the window recurs.
template <>
struct json::Rules<MaintenanceWindowInput> {
    static void afterRead(const json::Node& object, MaintenanceWindowInput& out);
    static void afterWrite(json::Writer& w, const MaintenanceWindowInput& input);
};

template <>
inline constexpr auto json::keys<MaintenanceWindow> = json::object(
    json::field("id", &MaintenanceWindow::id),
    json::byRules(&MaintenanceWindow::input),
    json::field("created_by", &MaintenanceWindow::createdBy),
    json::field("created_at", &MaintenanceWindow::createdAt, json::orEmpty),
    json::field("updated_at", &MaintenanceWindow::updatedAt, json::orEmpty),
    json::field("active", &MaintenanceWindow::active, json::orEmpty),
    json::field("current", &MaintenanceWindow::current),
    json::field("next_occurrences", &MaintenanceWindow::nextOccurrences, json::orEmpty));

// The input is read from and written into the window's own object.
template <>
struct json::Rules<MaintenanceWindow> {
    static void afterRead(const json::Node& object, MaintenanceWindow& out);
    static void afterWrite(json::Writer& w, const MaintenanceWindow& window) { json::writeMembers(w, window.input); }
};
// clang-format on

// The answers listing windows and occurrences.
struct MaintenanceWindowsResponse {
    std::vector<MaintenanceWindow> windows;
};
struct OccurrencesResponse {
    std::vector<MaintenanceOccurrence> occurrences;
};

template <>
inline constexpr auto json::keys<MaintenanceWindowsResponse> =
    json::object(json::field("windows", &MaintenanceWindowsResponse::windows));
template <>
inline constexpr auto json::keys<OccurrencesResponse> =
    json::object(json::field("occurrences", &OccurrencesResponse::occurrences));

}  // namespace brisalune

template <>
struct std::hash<brisalune::MaintenanceScope> : brisalune::RecordHash<brisalune::MaintenanceScope> {};
template <>
struct std::hash<brisalune::MaintenanceOccurrence> : brisalune::RecordHash<brisalune::MaintenanceOccurrence> {};
template <>
struct std::hash<brisalune::MaintenanceWindowInput> : brisalune::RecordHash<brisalune::MaintenanceWindowInput> {};
template <>
struct std::hash<brisalune::MaintenanceWindow> : brisalune::RecordHash<brisalune::MaintenanceWindow> {};

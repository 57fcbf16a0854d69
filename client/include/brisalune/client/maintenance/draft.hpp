#pragma once

// The editable working copy of one maintenance window. It works in the window's own zone: the
// start and end are instants that travel as wall-clock texts of that zone. It validates itself
// locally, builds the bodies of save and preview, and skips previewed occurrences. No operation
// throws.

#include <brisalune/client/core/errors.hpp>
#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/client/maintenance/recurrence.hpp>
#include <brisalune/client/maintenance/windows.hpp>
#include <brisalune/platform/calendar.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

struct MaintenanceWindowDraft {
    std::string name{};  // as typed, untrimmed
    std::string description{};
    std::string timezone{};  // kept as typed or stored, even when no zone has it
    bool recurring = false;  // repeats by `rrule`, `durationMinutes` each time; else `start` to `end`
    std::chrono::sys_seconds start{};
    std::chrono::sys_seconds end{};     // one-off only
    std::int64_t durationMinutes = 60;  // recurring only
    std::string rrule{"FREQ=WEEKLY"};
    std::vector<std::string> exdates{};  // skipped starts, wall-clock texts, ascending
    MaintenanceScope scope = MaintenanceScope::defaultScope();
    bool statusPage = false;
    std::vector<std::string> components{};
    // What the stored window said, so that an untouched start goes back in the service's own
    // words: its "starts_at" and "timezone" texts, and `start` as first read. None in a new draft.
    std::optional<std::string> storedStartsAt{};
    std::optional<std::chrono::sys_seconds> storedStartInstant{};
    std::optional<std::string> storedTimezone{};

    // Starts at the zone's next full hour after `now`, for one hour, one-off, project-wide.
    static MaintenanceWindowDraft initNew(std::chrono::sys_seconds now, const platform::TimeZone& zone);
    // A stored window; a start that does not read as a wall-clock time is shown at `now`.
    static MaintenanceWindowDraft initFromWindow(
        const MaintenanceWindow& window, std::chrono::sys_seconds now = currentInstant());

    static std::chrono::sys_seconds currentInstant();

    // The zone `timezone` names; GMT when none has that identifier.
    platform::TimeZone zone() const;

    // `rrule` read as initFromRule reads it; setting it writes the writer's text into `rrule`.
    MaintenanceRecurrence recurrence() const;
    void setRecurrence(const MaintenanceRecurrence& recurrence);

    // Moves the draft to another zone keeping its wall-clock times: start, end and an UNTIL end
    // of the rule read the same on the new zone's clock. An identifier that names no zone
    // changes nothing.
    void setTimeZone(std::string_view identifier);
    // The instant with the same wall-clock time in the other zone; unchanged when there is none.
    static std::chrono::sys_seconds carryWallClock(
        std::chrono::sys_seconds instant, const platform::TimeZone& from, const platform::TimeZone& to);
    // The last second of the instant's calendar day in the draft's zone.
    std::chrono::sys_seconds lastSecondOfDay(std::chrono::sys_seconds instant) const;

    // Adds the occurrence that starts then (seconds since 1970) to `exdates`, at the window's own
    // start time unless the rule fixes the time of day itself; once, in order.
    void skipOccurrence(std::int64_t occurrenceStart);
    // The rule sets the time of day itself: FREQ=HOURLY, or a BYHOUR or BYMINUTE part.
    bool ruleSetsTimeOfDay() const;

    // The local checks, in order: a recurring draft without a rule ("rrule"), status pages
    // without components ("components").
    std::vector<FieldError> validationErrors() const;
    // Those that stop the preview: all but the status-page ones.
    std::vector<FieldError> previewBlockingErrors() const;

    // The body of create and update, in the draft's zone.
    MaintenanceWindowInput input() const;
    // As `input`, shown on status pages only when there are components to show it on.
    MaintenanceWindowInput previewInput() const;
    // The stored "starts_at" text while the start and the zone text are untouched; else the
    // wall-clock text of `start` in `zone`.
    std::string startsAtText(const platform::TimeZone& zone) const;

    friend bool operator==(const MaintenanceWindowDraft&, const MaintenanceWindowDraft&) = default;
};

namespace MaintenanceDraftText {
inline constexpr std::string_view ruleMissing = "Pick a pattern or enter a rule.";
inline constexpr std::string_view componentsMissing = "Pick at least one component to show it on.";
}  // namespace MaintenanceDraftText

}  // namespace brisalune

// Hashed as it compares: every field, in order.
template <>
struct std::hash<brisalune::MaintenanceWindowDraft> {
    std::size_t operator()(const auto& d) const {
        return brisalune::hashValues(
            d.name,
            d.description,
            d.timezone,
            d.recurring,
            d.start,
            d.end,
            d.durationMinutes,
            d.rrule,
            d.exdates,
            d.scope,
            d.statusPage,
            d.components,
            d.storedStartsAt,
            d.storedStartInstant,
            d.storedTimezone);
    }
};

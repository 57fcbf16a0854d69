#include <brisalune/client/maintenance/draft.hpp>

#include <brisalune/client/maintenance/format.hpp>
#include <brisalune/client/maintenance/wall_clock.hpp>
#include <brisalune/platform/text.hpp>

#include <algorithm>
#include <limits>
#include <utility>

namespace brisalune {

namespace {

using std::chrono::seconds;
using std::chrono::sys_seconds;
using Draft = MaintenanceWindowDraft;

constexpr std::int64_t most = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t least = std::numeric_limits<std::int64_t>::min();

// Instants and lengths come from the service unchecked: sums stop at the ends of the range.
sys_seconds plus(sys_seconds instant, std::int64_t delta) {
    std::int64_t out = 0;
    if (__builtin_add_overflow(instant.time_since_epoch().count(), delta, &out)) out = delta > 0 ? most : least;
    return sys_seconds{seconds{out}};
}

std::int64_t secondsOf(std::int64_t minutes) {
    std::int64_t out = 0;
    if (__builtin_mul_overflow(minutes, 60, &out)) out = minutes > 0 ? most : least;
    return out;
}

std::string_view withoutSpacesAndTabs(std::string_view text) { return platform::trimmed(text, platform::isSpaceOrTab); }

// The date and the time of a wall-clock text, split at its "T".
std::string_view datePart(std::string_view text) { return text.substr(0, text.find('T')); }
std::string_view timePart(std::string_view text) { return text.substr(std::min(text.find('T'), text.size())); }

}  // namespace

sys_seconds Draft::currentInstant() { return std::chrono::floor<seconds>(std::chrono::system_clock::now()); }

Draft Draft::initNew(sys_seconds now, const platform::TimeZone& zone) {
    Draft draft;
    const auto hour = platform::GregorianCalendar(zone).hour(now);
    draft.start = hour ? hour->end : now;
    draft.end = plus(draft.start, 3600);
    draft.timezone = zone.identifier();
    return draft;
}

Draft Draft::initFromWindow(const MaintenanceWindow& window, sys_seconds now) {
    const MaintenanceWindowInput& stored = window.input;
    const platform::TimeZone zone = window.zone();
    Draft draft;
    draft.name = stored.name;
    draft.description = stored.description;
    draft.timezone = stored.timezone;
    draft.start = MaintenanceWallClock::parse(stored.startsAt, zone).value_or(now);
    draft.storedStartsAt = stored.startsAt;
    draft.storedStartInstant = draft.start;
    draft.storedTimezone = stored.timezone;
    draft.recurring = stored.isRecurring();
    draft.durationMinutes = stored.durationMinutes.value_or(60);
    const auto end = stored.endsAt ? MaintenanceWallClock::parse(*stored.endsAt, zone) : std::nullopt;
    draft.end = end ? *end : plus(draft.start, secondsOf(draft.durationMinutes));
    if (stored.isRecurring()) draft.rrule = stored.rrule;
    draft.exdates = stored.exdates;
    draft.scope = stored.scope;
    draft.statusPage = stored.statusPage;
    draft.components = stored.components;
    return draft;
}

platform::TimeZone Draft::zone() const { return platform::TimeZone::namedOrGmt(timezone); }

MaintenanceRecurrence Draft::recurrence() const { return MaintenanceRecurrence::initFromRule(rrule); }

void Draft::setRecurrence(const MaintenanceRecurrence& recurrence) { rrule = recurrence.rrule(); }

sys_seconds Draft::carryWallClock(sys_seconds instant, const platform::TimeZone& from, const platform::TimeZone& to) {
    return MaintenanceWallClock::parse(MaintenanceWallClock::format(instant, from), to).value_or(instant);
}

void Draft::setTimeZone(std::string_view identifier) {
    const auto next = platform::TimeZone::named(identifier);
    if (!next) return;
    const platform::TimeZone old = zone();
    start = carryWallClock(start, old, *next);
    end = carryWallClock(end, old, *next);
    MaintenanceRecurrence rule = recurrence();
    if (const auto* until = rule.end.get<MaintenanceRecurrence::End::Until>()) {
        rule.end = {MaintenanceRecurrence::End::Until{carryWallClock(until->instant, old, *next)}};
        rrule = rule.rrule();
    }
    timezone = std::string(identifier);
}

sys_seconds Draft::lastSecondOfDay(sys_seconds instant) const {
    const auto day = platform::GregorianCalendar(zone()).day(instant);
    return plus(day ? day->end : instant, -1);
}

bool Draft::ruleSetsTimeOfDay() const {
    const std::string rule = platform::uppercased(rrule);
    std::string_view rest = rule;
    while (!rest.empty()) {
        const std::size_t semicolon = std::min(rest.find(';'), rest.size());
        const std::string_view part = rest.substr(0, semicolon);
        rest.remove_prefix(std::min(semicolon + 1, rest.size()));
        if (part == "FREQ=HOURLY" || part.starts_with("BYHOUR=") || part.starts_with("BYMINUTE=")) return true;
    }
    return false;
}

void Draft::skipOccurrence(std::int64_t occurrenceStart) {
    const platform::TimeZone zone = this->zone();
    std::string text = MaintenanceWallClock::format(sys_seconds{seconds{occurrenceStart}}, zone);
    if (!ruleSetsTimeOfDay()) {
        // The day of the occurrence at the window's own start time, wherever the service put it.
        const std::string own = MaintenanceWallClock::format(start, zone);
        text = std::string(datePart(text)) + std::string(timePart(own));
    }
    if (std::find(exdates.begin(), exdates.end(), text) != exdates.end()) return;
    exdates.push_back(std::move(text));
    std::sort(exdates.begin(), exdates.end());
}

std::vector<FieldError> Draft::validationErrors() const {
    std::vector<FieldError> errors;
    if (recurring && withoutSpacesAndTabs(rrule).empty()) {
        errors.push_back({"rrule", std::string(MaintenanceDraftText::ruleMissing)});
    }
    if (statusPage && components.empty()) {
        errors.push_back({"components", std::string(MaintenanceDraftText::componentsMissing)});
    }
    return errors;
}

std::vector<FieldError> Draft::previewBlockingErrors() const {
    std::vector<FieldError> errors = validationErrors();
    std::erase_if(errors, [](const FieldError& error) {
        return MaintenanceFormat::section(error.field) == MaintenanceFormat::Section::statusPage;
    });
    return errors;
}

std::string Draft::startsAtText(const platform::TimeZone& zone) const {
    const bool untouched = storedStartsAt && storedStartInstant == start && storedTimezone == timezone &&
                           zone.identifier() == this->zone().identifier();
    return untouched ? *storedStartsAt : MaintenanceWallClock::format(start, zone);
}

MaintenanceWindowInput Draft::input() const {
    const platform::TimeZone zone = this->zone();
    MaintenanceWindowInput body;
    body.name = std::string(platform::trimmed(name, platform::isWhitespaceOrNewline));
    body.description = description;
    body.timezone = timezone;
    body.startsAt = startsAtText(zone);
    if (recurring) {
        body.durationMinutes = durationMinutes;
        body.rrule = std::string(withoutSpacesAndTabs(rrule));
        body.exdates = exdates;
    } else {
        body.endsAt = MaintenanceWallClock::format(end, zone);
    }
    body.scope = scope.project ? MaintenanceScope::defaultScope()
                               : MaintenanceScope{false, scope.checks, scope.sources, scope.rules};
    body.statusPage = statusPage;
    body.components = components;
    return body;
}

MaintenanceWindowInput Draft::previewInput() const {
    MaintenanceWindowInput body = input();
    body.statusPage = statusPage && !components.empty();
    return body;
}

}  // namespace brisalune

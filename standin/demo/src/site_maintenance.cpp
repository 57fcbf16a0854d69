#include <brisalune/demo/site.hpp>

#include <brisalune/client/core/envelopes.hpp>
#include <brisalune/client/maintenance/wall_clock.hpp>
#include <brisalune/demo/maintenance_schedule.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace brisalune::demo {

namespace {

using std::chrono::minutes;
using std::chrono::sys_seconds;

// How many coming occurrences a window's answer lists beside the one in progress.
constexpr std::size_t comingListed = 5;

std::int64_t seconds(sys_seconds instant) { return instant.time_since_epoch().count(); }

// The window as it stands at `at`: the occurrence in progress, if any, and the next few after it.
MaintenanceWindow answered(MaintenanceWindow window, sys_seconds at) {
    auto coming = occurrencesOf(window.input, at, comingListed + 1);
    window.current = std::nullopt;
    if (!coming.empty() && coming.front().start <= seconds(at)) {
        window.current = coming.front();
        coming.erase(coming.begin());
    }
    if (coming.size() > comingListed) coming.resize(comingListed);
    window.active = window.current.has_value();
    window.nextOccurrences = std::move(coming);
    return window;
}

// The body as an input the service takes; Invalid when it refuses a field.
MaintenanceWindowInput accepted(const std::string& body) {
    auto input = json::decode<MaintenanceWindowInput>(body);
    if (auto problems = inputProblems(input); !problems.empty()) throw Invalid{std::move(problems)};
    return input;
}

std::vector<MaintenanceWindow>::iterator stored(std::vector<MaintenanceWindow>& windows, const PathValues& values) {
    auto found = std::ranges::find(windows, values.at("window"), &MaintenanceWindow::id);
    if (found == windows.end()) throw Refusal{404, "no such maintenance window"};
    return found;
}

// The seed's input, its start counted from `serviceStart`; throws when the service would refuse it.
MaintenanceWindowInput seededInput(const MaintenanceSeed& seed, sys_seconds serviceStart) {
    using QuarterHours = std::chrono::duration<std::int64_t, std::ratio<900>>;
    const auto zone = platform::TimeZone::namedOrGmt(seed.timezone);
    const auto start = std::chrono::floor<QuarterHours>(serviceStart + minutes(seed.startsInMinutes));
    // A wall-clock text at the seed's time of day, when it has one.
    const auto atSeedTime = [&](std::string text) {
        return seed.at ? text.substr(0, text.find('T') + 1) + *seed.at : text;
    };
    MaintenanceWindowInput input;
    input.name = seed.name;
    input.description = seed.description;
    input.timezone = seed.timezone;
    input.startsAt = atSeedTime(MaintenanceWallClock::format(start, zone));
    input.rrule = seed.rrule;
    input.scope = seed.scope;
    input.statusPage = seed.statusPage;
    input.components = seed.components;
    auto first = MaintenanceWallClock::parse(input.startsAt, zone).value_or(start);
    if (input.isRecurring()) {
        input.durationMinutes = seed.durationMinutes;
        // The first start is the rule's first date from that day on: a Tuesday window starts on
        // a Tuesday, whichever day the service starts on. Its time is the seed's again: a day
        // whose clock skips that hour moved the search's start, and so every occurrence, by it.
        if (const auto dates = occurrencesOf(input, first, 1); !dates.empty()) {
            input.startsAt =
                atSeedTime(MaintenanceWallClock::format(sys_seconds(std::chrono::seconds(dates.front().start)), zone));
            first = MaintenanceWallClock::parse(input.startsAt, zone).value_or(first);
        }
    } else {
        input.endsAt = MaintenanceWallClock::format(first + minutes(seed.durationMinutes), zone);
    }
    const auto unskipped = input;
    for (const auto index : seed.skipped) {
        const auto count = static_cast<std::size_t>(std::max<std::int64_t>(index, 0)) + 1;
        const auto occurrences = occurrencesOf(unskipped, first, count);
        if (index < 0 || occurrences.size() != count) {
            throw std::runtime_error(
                "the maintenance window \"" + seed.name + "\" skips an occurrence it does not have");
        }
        input.exdates.push_back(
            MaintenanceWallClock::format(sys_seconds(std::chrono::seconds(occurrences.back().start)), zone));
    }
    if (const auto problems = inputProblems(input); !problems.empty()) {
        throw std::runtime_error(
            "the maintenance window \"" + seed.name +
            "\" is not usable: " + BrisaluneError::validationSummary(problems));
    }
    return input;
}

}  // namespace

void Site::seedWindows(TeamRecord& team, const std::vector<MaintenanceSeed>& seeds) {
    for (const auto& seed : seeds) {
        if (std::ranges::find(team.projects, seed.project) == team.projects.end()) {
            throw std::runtime_error("the maintenance window \"" + seed.name + "\" names no project of " + team.id);
        }
        MaintenanceWindow window;
        window.id = "mw_" + std::to_string(++serial_);
        window.input = seededInput(seed, started_);
        window.createdBy = seed.createdBy;
        window.createdAt = seconds(started_ - std::chrono::days(1));
        window.updatedAt = window.createdAt;
        team.maintenance[seed.project].push_back(std::move(window));
    }
}

standin::Reply Site::maintenanceWindows(const Request& request, const PathValues& values) {
    std::lock_guard lock(mutex_);
    auto& team = keyTeam(request);
    MaintenanceWindowsResponse answer;
    for (const auto& window : team.maintenance[project(team, values)])
        answer.windows.push_back(answered(window, now()));
    return Reply::json(json::encode(answer));
}

standin::Reply Site::maintenanceWindow(const Request& request, const PathValues& values) {
    std::lock_guard lock(mutex_);
    auto& team = keyTeam(request);
    return Reply::json(json::encode(answered(*stored(team.maintenance[project(team, values)], values), now())));
}

standin::Reply Site::createMaintenanceWindow(const Request& request, const PathValues& values) {
    std::lock_guard lock(mutex_);
    auto& team = keyTeam(request);
    auto& windows = team.maintenance[project(team, values)];
    auto input = accepted(request.body);
    if (static_cast<std::int64_t>(windows.size()) >= maxMaintenanceWindows_) {
        throw Refusal{
            429,
            "max_maintenance_windows: a project keeps at most " + std::to_string(maxMaintenanceWindows_) + " windows"};
    }
    MaintenanceWindow window;
    window.id = "mw_" + std::to_string(++serial_);
    window.input = std::move(input);
    window.createdBy = keys_.at(*bearer(request)).id;
    window.createdAt = seconds(now());
    window.updatedAt = window.createdAt;
    windows.push_back(window);
    return Reply::json(json::encode(answered(std::move(window), now())));
}

standin::Reply Site::updateMaintenanceWindow(const Request& request, const PathValues& values) {
    std::lock_guard lock(mutex_);
    auto& team = keyTeam(request);
    auto& window = *stored(team.maintenance[project(team, values)], values);
    window.input = accepted(request.body);  // the whole input: what the body leaves out is gone
    window.updatedAt = seconds(now());
    return Reply::json(json::encode(answered(window, now())));
}

standin::Reply Site::deleteMaintenanceWindow(const Request& request, const PathValues& values) {
    std::lock_guard lock(mutex_);
    auto& team = keyTeam(request);
    auto& windows = team.maintenance[project(team, values)];
    windows.erase(stored(windows, values));
    return Reply::json(json::encode(DeletedResponse{true}));
}

standin::Reply Site::maintenanceOccurrences(const Request& request, const PathValues& values) {
    const auto count = std::clamp<std::int64_t>(integerItem(request, "count").value_or(10), 1, 100);
    std::lock_guard lock(mutex_);
    auto& team = keyTeam(request);
    const auto& window = *stored(team.maintenance[project(team, values)], values);
    const auto occurrences = occurrencesOf(window.input, now(), static_cast<std::size_t>(count));
    return Reply::json(json::encode(OccurrencesResponse{occurrences}));
}

standin::Reply Site::previewMaintenance(const Request& request, const PathValues& values) {
    const auto count = std::clamp<std::int64_t>(integerItem(request, "count").value_or(10), 1, 100);
    std::lock_guard lock(mutex_);
    auto& team = keyTeam(request);
    project(team, values);
    const auto occurrences = occurrencesOf(accepted(request.body), now(), static_cast<std::size_t>(count));
    return Reply::json(json::encode(OccurrencesResponse{occurrences}));
}

}  // namespace brisalune::demo

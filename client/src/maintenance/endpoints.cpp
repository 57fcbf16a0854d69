#include <brisalune/client/maintenance/endpoints.hpp>

#include <brisalune/client/core/envelopes.hpp>
#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/detail/calls.hpp>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

namespace brisalune {

namespace {

// "/v1/projects/{project}/maintenance-windows", then "/{window}" when one is named.
std::string maintenanceWindowPath(std::string_view project, std::optional<std::string_view> window = std::nullopt) {
    std::string path = projectPath(project) + "/maintenance-windows";
    if (window) path += segment(*window);
    return path;
}

std::vector<platform::QueryItem> countQuery(std::int64_t count) {
    return {{"count", std::to_string(std::clamp<std::int64_t>(count, 1, 100))}};
}

}  // namespace

std::vector<MaintenanceWindow> maintenanceWindows(const BrisaluneClient& client, std::string_view project) {
    return fetch<MaintenanceWindowsResponse>(client, dataCall("GET", maintenanceWindowPath(project))).windows;
}

MaintenanceWindow maintenanceWindow(const BrisaluneClient& client, std::string_view project, std::string_view window) {
    return fetch<MaintenanceWindow>(client, dataCall("GET", maintenanceWindowPath(project, window)));
}

MaintenanceWindow createMaintenanceWindow(
    const BrisaluneClient& client, std::string_view project, const MaintenanceWindowInput& input) {
    return fetch<MaintenanceWindow>(client, dataCall("POST", maintenanceWindowPath(project)), input);
}

MaintenanceWindow updateMaintenanceWindow(
    const BrisaluneClient& client,
    std::string_view project,
    std::string_view window,
    const MaintenanceWindowInput& input) {
    return fetch<MaintenanceWindow>(client, dataCall("PUT", maintenanceWindowPath(project, window)), input);
}

void deleteMaintenanceWindow(const BrisaluneClient& client, std::string_view project, std::string_view window) {
    fetch<DeletedResponse>(client, dataCall("DELETE", maintenanceWindowPath(project, window)));
}

std::vector<MaintenanceOccurrence> maintenanceOccurrences(
    const BrisaluneClient& client, std::string_view project, std::string_view window, std::int64_t count) {
    const Call call = dataCall("GET", maintenanceWindowPath(project, window) + "/occurrences", countQuery(count));
    return fetch<OccurrencesResponse>(client, call).occurrences;
}

std::vector<MaintenanceOccurrence> previewMaintenanceOccurrences(
    const BrisaluneClient& client, std::string_view project, const MaintenanceWindowInput& input, std::int64_t count) {
    const Call call = dataCall("POST", maintenanceWindowPath(project) + "/preview", countQuery(count));
    return fetch<OccurrencesResponse>(client, call, input).occurrences;
}

}  // namespace brisalune
